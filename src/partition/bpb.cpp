// The boot parameter block of a FAT volume, field by field, with the sizes
// derived from it. A block can be inconsistent: with zero sectors per
// cluster or zero bytes per sector, or with reserved, root and FAT areas
// larger than the volume, the values that depend on them cannot be derived
// and print as "?" instead of a quotient by zero or a wrapped difference.
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/partition.h"

struct bpb_common {
    uint32_t bytes_per_sector;
    uint32_t sectors_per_cluster;
    uint32_t reserved_sectors;
    uint32_t fat_count;
    uint32_t media;
    uint32_t sectors_per_track;
    uint32_t heads;
    uint32_t hidden_sectors;
    uint32_t total_sectors; // the 16-bit form when non-zero, else the 32-bit form
};

static bpb_common read_common(const uint8_t* bpb)
{
    bpb_common c{};
    c.bytes_per_sector = get_le16(bpb + 0x00);
    c.sectors_per_cluster = bpb[0x02];
    c.reserved_sectors = get_le16(bpb + 0x03);
    c.fat_count = bpb[0x05];
    c.media = bpb[0x0A];
    c.sectors_per_track = get_le16(bpb + 0x0D);
    c.heads = get_le16(bpb + 0x0F);
    c.hidden_sectors = get_le32(bpb + 0x11);
    uint32_t total16 = get_le16(bpb + 0x08);
    c.total_sectors = total16 != 0 ? total16 : get_le32(bpb + 0x15);
    return c;
}

static void print_head(const bpb_common* c)
{
    char a[32];
    out_printf("        BPB:Sector size      %13s bytes\n", format_grouped(c->bytes_per_sector, a));
    out_printf("        BPB:Cluster size     %13s bytes (%3u unit)\n",
               format_grouped(c->sectors_per_cluster * c->bytes_per_sector, a), unsigned(c->sectors_per_cluster));
    out_printf("        BPB:Reserve sector   %13s\n", format_grouped(c->reserved_sectors, a));
    out_printf("        BPB:FAT number       %13s\n", format_grouped(c->fat_count, a));
}

static void print_volume(const bpb_common* c)
{
    char a[32], b[32];
    out_printf("        BPB:Sector volume    %13s bytes (%13s sectors)\n",
               format_grouped64(uint64_t(c->total_sectors) * c->bytes_per_sector, a), format_grouped(c->total_sectors, b));
    out_printf("        BPB:Media descriptor            %02XH\n", unsigned(c->media));
}

static void print_track_lines(const bpb_common* c)
{
    char a[32];
    out_printf("        BPB:Sector per track %13s\n", format_grouped(c->sectors_per_track, a));
    out_printf("        BPB:Head number      %13s\n", format_grouped(c->heads, a));
    out_printf("        BPB:Hidden sector    %13s\n", format_grouped(c->hidden_sectors, a));
}

static void print_names(const uint8_t* serial_field, const uint8_t* label_field, const uint8_t* name_field)
{
    uint32_t serial = get_le32(serial_field);
    char label[12], name[9];
    out_printf("        BPB:Serial number        %04X-%04X\n", unsigned(serial >> 16), unsigned(serial & 0xFFFF));
    out_printf("        BPB:Volume label     %13s\n", copy_trimmed_field(label, label_field, 11));
    out_printf("        BPB:File system name %13s\n", copy_trimmed_field(name, name_field, 8));
}

// area_sectors: reserved, root directory and FAT sectors together; negative
// when the root directory size cannot be derived.
static void print_capacity(const bpb_common* c, int64_t area_sectors)
{
    char a[32], b[32];
    if (area_sectors < 0 || c->sectors_per_cluster == 0 || uint64_t(area_sectors) > c->total_sectors) {
        out_printf("        BPB:FileSys capacity %13s bytes (%13s clusters)\n", "?", "?");
        return;
    }
    uint64_t data_sectors = c->total_sectors - uint64_t(area_sectors);
    uint64_t clusters = data_sectors / c->sectors_per_cluster;
    uint64_t cluster_sectors = clusters * c->sectors_per_cluster;
    uint64_t gap_sectors = data_sectors - cluster_sectors;
    out_printf("        BPB:FileSys capacity %13s bytes (%13s clusters)\n",
               format_grouped64(cluster_sectors * c->bytes_per_sector, a), format_grouped64(clusters, b));
    if (gap_sectors != 0)
        out_printf("        BPB:FileSys gap size %13s bytes (%13s sectors )\n",
                   format_grouped64(gap_sectors * c->bytes_per_sector, a), format_grouped64(gap_sectors, b));
}

void report_fat_bpb(const uint8_t* bpb)
{
    bpb_common c = read_common(bpb);
    uint32_t root_entries = get_le16(bpb + 0x06);
    uint32_t fat_sectors = get_le16(bpb + 0x0B);
    char a[32], root_text[16];
    int64_t root_sectors = -1;
    if (c.bytes_per_sector != 0) {
        root_sectors = root_entries * 32 / c.bytes_per_sector;
        snprintf(root_text, sizeof root_text, "%3u", unsigned(root_sectors));
    } else {
        snprintf(root_text, sizeof root_text, "%3s", "?");
    }
    print_head(&c);
    out_printf("        BPB:Root entry       %13s directories     (%s sectors)\n", format_grouped(root_entries, a),
               root_text);
    print_volume(&c);
    out_printf("        BPB:FAT sector       %13s\n", format_grouped(fat_sectors, a));
    print_track_lines(&c);
    print_names(bpb + 0x1C, bpb + 0x20, bpb + 0x2B);
    int64_t area = root_sectors < 0 ? -1 : int64_t(c.reserved_sectors) + root_sectors + int64_t(c.fat_count) * fat_sectors;
    print_capacity(&c, area);
}

void report_fat32_bpb(const uint8_t* bpb)
{
    bpb_common c = read_common(bpb);
    uint32_t fat_sectors = get_le32(bpb + 0x19);
    char a[32];
    print_head(&c);
    print_volume(&c);
    print_track_lines(&c);
    out_printf("        BPB:FAT sector       %13s\n", format_grouped(fat_sectors, a));
    out_printf("        BPB:Extend flags              %04X\n", unsigned(get_le16(bpb + 0x1D)));
    out_printf("        BPB:File system version       %04X\n", unsigned(get_le16(bpb + 0x1F)));
    out_printf("        BPB:Root start cluster %11s\n", format_grouped(get_le32(bpb + 0x21), a));
    out_printf("        BPB:Backup boot sector %11s\n", format_grouped(get_le16(bpb + 0x27), a));
    print_names(bpb + 0x38, bpb + 0x3C, bpb + 0x47);
    print_capacity(&c, int64_t(c.reserved_sectors) + int64_t(c.fat_count) * fat_sectors);
}
