// The boot parameter block of a FAT volume: decoded once into a record, then
// shown as the block report's lines or as a JSON object. A block can be
// inconsistent: with zero sectors per cluster or zero bytes per sector, or
// with reserved, root and FAT areas larger than the volume, the values that
// depend on them cannot be derived and print as "?" instead of a quotient by
// zero or a wrapped difference.
#include <cstdio>
#include <cstring>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/partition.h"
#include "partition/partition_json.h"

bpb_record decode_bpb(const uint8_t* bpb, bool fat32)
{
    bpb_record r{};
    r.fat32 = fat32;
    r.bytes_per_sector = get_le16(bpb + 0x00);
    r.sectors_per_cluster = bpb[0x02];
    r.reserved_sectors = get_le16(bpb + 0x03);
    r.fat_count = bpb[0x05];
    r.media_descriptor = bpb[0x0A];
    r.sectors_per_track = get_le16(bpb + 0x0D);
    r.heads = get_le16(bpb + 0x0F);
    r.hidden_sectors = get_le32(bpb + 0x11);
    uint32_t total16 = get_le16(bpb + 0x08);
    r.total_sectors = total16 != 0 ? total16 : get_le32(bpb + 0x15);
    // The serial number, label and file system name follow the fields each
    // form has of its own.
    const uint8_t* names;
    int64_t area_sectors;
    if (fat32) {
        r.fat_sectors = get_le32(bpb + 0x19);
        r.extend_flags = get_le16(bpb + 0x1D);
        r.file_system_version = get_le16(bpb + 0x1F);
        r.root_start_cluster = get_le32(bpb + 0x21);
        r.backup_boot_sector = get_le16(bpb + 0x27);
        names = bpb + 0x38;
        area_sectors = int64_t(r.reserved_sectors) + int64_t(r.fat_count) * r.fat_sectors;
    } else {
        r.root_entries = get_le16(bpb + 0x06);
        r.fat_sectors = get_le16(bpb + 0x0B);
        names = bpb + 0x1C;
        r.root_sectors_known = r.bytes_per_sector != 0;
        if (r.root_sectors_known)
            r.root_sectors = r.root_entries * 32 / r.bytes_per_sector;
        area_sectors = r.root_sectors_known
                           ? int64_t(r.reserved_sectors) + r.root_sectors + int64_t(r.fat_count) * r.fat_sectors
                           : -1;
    }
    r.serial = get_le32(names);
    std::memcpy(r.label, names + 4, sizeof r.label);
    std::memcpy(r.file_system_name, names + 15, sizeof r.file_system_name);

    r.capacity_known =
        area_sectors >= 0 && r.sectors_per_cluster != 0 && uint64_t(area_sectors) <= r.total_sectors;
    if (r.capacity_known) {
        uint64_t data_sectors = r.total_sectors - uint64_t(area_sectors);
        r.clusters = data_sectors / r.sectors_per_cluster;
        uint64_t cluster_sectors = r.clusters * r.sectors_per_cluster;
        r.cluster_bytes = cluster_sectors * r.bytes_per_sector;
        r.gap_sectors = data_sectors - cluster_sectors;
    }
    return r;
}

static void print_head(const bpb_record& r)
{
    char a[32];
    out_printf("        BPB:Sector size      %13s bytes\n", format_grouped(r.bytes_per_sector, a));
    out_printf("        BPB:Cluster size     %13s bytes (%3u unit)\n",
               format_grouped(r.sectors_per_cluster * r.bytes_per_sector, a), unsigned(r.sectors_per_cluster));
    out_printf("        BPB:Reserve sector   %13s\n", format_grouped(r.reserved_sectors, a));
    out_printf("        BPB:FAT number       %13s\n", format_grouped(r.fat_count, a));
}

static void print_volume(const bpb_record& r)
{
    char a[32], b[32];
    out_printf("        BPB:Sector volume    %13s bytes (%13s sectors)\n",
               format_grouped64(uint64_t(r.total_sectors) * r.bytes_per_sector, a), format_grouped(r.total_sectors, b));
    out_printf("        BPB:Media descriptor            %02XH\n", unsigned(r.media_descriptor));
}

static void print_track_lines(const bpb_record& r)
{
    char a[32];
    out_printf("        BPB:Sector per track %13s\n", format_grouped(r.sectors_per_track, a));
    out_printf("        BPB:Head number      %13s\n", format_grouped(r.heads, a));
    out_printf("        BPB:Hidden sector    %13s\n", format_grouped(r.hidden_sectors, a));
}

static void print_names(const bpb_record& r)
{
    char serial[16], label[12], name[9];
    out_printf("        BPB:Serial number        %s\n", format_volume_serial(r.serial, serial));
    out_printf("        BPB:Volume label     %13s\n", copy_trimmed_field(label, r.label, 11));
    out_printf("        BPB:File system name %13s\n", copy_trimmed_field(name, r.file_system_name, 8));
}

static void print_capacity(const bpb_record& r)
{
    char a[32], b[32];
    if (!r.capacity_known) {
        out_printf("        BPB:FileSys capacity %13s bytes (%13s clusters)\n", "?", "?");
        return;
    }
    out_printf("        BPB:FileSys capacity %13s bytes (%13s clusters)\n", format_grouped64(r.cluster_bytes, a),
               format_grouped64(r.clusters, b));
    if (r.gap_sectors != 0)
        out_printf("        BPB:FileSys gap size %13s bytes (%13s sectors )\n",
                   format_grouped64(r.gap_sectors * r.bytes_per_sector, a), format_grouped64(r.gap_sectors, b));
}

void print_bpb(const bpb_record& r)
{
    char a[32];
    print_head(r);
    if (!r.fat32) {
        char root_text[16];
        if (r.root_sectors_known)
            snprintf(root_text, sizeof root_text, "%3u", unsigned(r.root_sectors));
        else
            snprintf(root_text, sizeof root_text, "%3s", "?");
        out_printf("        BPB:Root entry       %13s directories     (%s sectors)\n",
                   format_grouped(r.root_entries, a), root_text);
        print_volume(r);
        out_printf("        BPB:FAT sector       %13s\n", format_grouped(r.fat_sectors, a));
        print_track_lines(r);
    } else {
        print_volume(r);
        print_track_lines(r);
        out_printf("        BPB:FAT sector       %13s\n", format_grouped(r.fat_sectors, a));
        out_printf("        BPB:Extend flags              %04X\n", unsigned(r.extend_flags));
        out_printf("        BPB:File system version       %04X\n", unsigned(r.file_system_version));
        out_printf("        BPB:Root start cluster %11s\n", format_grouped(r.root_start_cluster, a));
        out_printf("        BPB:Backup boot sector %11s\n", format_grouped(r.backup_boot_sector, a));
    }
    print_names(r);
    print_capacity(r);
}

void report_fat_bpb(const uint8_t* bpb) { print_bpb(decode_bpb(bpb, false)); }

void report_fat32_bpb(const uint8_t* bpb) { print_bpb(decode_bpb(bpb, true)); }

// The serial number, label and file system name are the volume's (see
// volume_json): the block's numbers only.
json_value bpb_json(const bpb_record& r)
{
    json_value j;
    j["bytes_per_sector"] = r.bytes_per_sector;
    j["sectors_per_cluster"] = r.sectors_per_cluster;
    j["cluster_size_bytes"] = uint64_t(r.sectors_per_cluster) * r.bytes_per_sector;
    j["reserved_sectors"] = r.reserved_sectors;
    j["fat_count"] = r.fat_count;
    if (!r.fat32) {
        j["root_entries"] = r.root_entries;
        j["root_directory_sectors"] = r.root_sectors_known ? json_value(r.root_sectors) : json_value(nullptr);
    }
    j["total_sectors"] = r.total_sectors;
    j["volume_size_bytes"] = uint64_t(r.total_sectors) * r.bytes_per_sector;
    j["media_descriptor"] = r.media_descriptor;
    j["fat_sectors"] = r.fat_sectors;
    j["sectors_per_track"] = r.sectors_per_track;
    j["heads"] = r.heads;
    j["hidden_sectors"] = r.hidden_sectors;
    if (r.fat32) {
        j["extend_flags"] = r.extend_flags;
        j["file_system_version"] = r.file_system_version;
        j["root_start_cluster"] = r.root_start_cluster;
        j["backup_boot_sector"] = r.backup_boot_sector;
    }
    if (r.capacity_known) {
        j["data_clusters"] = r.clusters;
        j["data_bytes"] = r.cluster_bytes;
        j["gap_sectors"] = r.gap_sectors;
        j["gap_bytes"] = r.gap_sectors * r.bytes_per_sector;
    } else {
        j["data_clusters"] = nullptr;
        j["data_bytes"] = nullptr;
    }
    return j;
}
