// The BSD disk label: 82564557h at its start and again at 84h, the disk's
// geometry, and up to 16 partitions lettered a to p, each with its size,
// offset and file system type; the label's 16-bit words XOR to 0. It lies
// in the second sector of a BSD slice of a PC disk (types A5h, A6h, A9h),
// or on a disk of its own at one of the places BSD systems put it: sector
// 1, or sector 0 at offset 64 (Alpha, and parted) or 128, or sector 2;
// both magic numbers mark it.
// Offsets count from the start of the disk; FreeBSD's count from the slice
// when its partition c starts at 0, as the Linux kernel reads them.
#include <cstdio>
#include <cstring>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/maps.h"

namespace {

constexpr uint32_t BSD_MAGIC = 0x82564557;
constexpr uint32_t BSD_HEADER = 148; // the label up to its first partition
constexpr uint32_t BSD_PARTITION = 16;
constexpr uint32_t BSD_MAX_PARTITIONS = 16;
constexpr uint32_t BSD_LABEL_BYTES = BSD_HEADER + BSD_PARTITION * BSD_MAX_PARTITIONS;

const char* fs_type_name(uint32_t type)
{
    static const char* const names[] = {"unused",    "swap",    "Version 6", "Version 7", "System V", "4.1BSD",
                                        "Eighth Edition", "4.2BSD", "MSDOS", "4.4LFS",    "unknown",  "HPFS",
                                        "ISO9660",   "boot",    "ADOS",      "HFS",       "FILECORE", "ext2fs",
                                        "NTFS",      "RAID",    "ccd",       "jfs",       "Apple UFS", "vinum",
                                        "UDF",       "SysVBFS", "EFS",       "ZFS"};
    return type < sizeof names / sizeof names[0] ? names[type] : nullptr;
}

// The number of partitions a label at offset within its sector may hold.
uint32_t partition_room(uint32_t sector_size, uint64_t offset)
{
    uint32_t within = uint32_t(offset % sector_size);
    uint32_t room = sector_size - within < BSD_LABEL_BYTES ? sector_size - within : BSD_LABEL_BYTES;
    return room < BSD_HEADER ? 0 : (room - BSD_HEADER) / BSD_PARTITION;
}

// Reads the label at offset; true when both its magic numbers are there
// and its partitions fit its sector. The checksum is not required: parted
// writes labels whose checksum covers less than the label, and the kernel
// reads labels without it.
bool read_label(sector_cache* cache, uint64_t offset, uint8_t* label)
{
    if (read_medium_bytes(cache, offset, BSD_HEADER, label) != 0 || get_le32(label) != BSD_MAGIC ||
        get_le32(label + 132) != BSD_MAGIC)
        return false;
    uint32_t count = get_le16(label + 138);
    return count <= partition_room(cache->medium->sector_size, offset) &&
           read_medium_bytes(cache, offset, BSD_HEADER + BSD_PARTITION * count, label) == 0;
}

// The 16-bit words of the label, its partitions included, XOR to 0.
bool has_good_checksum(const uint8_t* label)
{
    uint32_t length = BSD_HEADER + BSD_PARTITION * get_le16(label + 138);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < length; i += 2)
        sum ^= get_le16(label + i);
    return sum == 0;
}

void print_label(const uint8_t* label)
{
    char text[20], number[32];
    if (label[8] != 0)
        out_printf("  BSD:Disk type              %s\n", copy_trimmed_field(text, label + 8, 16));
    if (label[24] != 0)
        out_printf("  BSD:Pack name              %s\n", copy_trimmed_field(text, label + 24, 16));
    out_printf("  BSD:Sector size            %13s bytes\n", format_grouped(get_le32(label + 40), number));
    out_printf("  BSD:Sector per track       %13s\n", format_grouped(get_le32(label + 44), number));
    out_printf("  BSD:Track per cylinder     %13s\n", format_grouped(get_le32(label + 48), number));
    out_printf("  BSD:Cylinders              %13s\n", format_grouped(get_le32(label + 52), number));
    out_printf("  BSD:Checksum               %13s\n", has_good_checksum(label) ? "good" : "wrong");
}

json_value label_json(uint64_t offset, const uint8_t* label)
{
    json_value j{{"label_offset", offset}};
    put_device_text(&j, "disk_type", label + 8, 16);
    put_device_text(&j, "pack_name", label + 24, 16);
    j["sector_size"] = get_le32(label + 40);
    j["sectors_per_track"] = get_le32(label + 44);
    j["tracks_per_cylinder"] = get_le32(label + 48);
    j["cylinders"] = get_le32(label + 52);
    j["checksum_good"] = has_good_checksum(label);
    j["partition_count"] = get_le16(label + 138);
    return j;
}

// Begins the layout of the label at offset: its heading, and its lines
// under p or its JSON members.
void begin_label(const layout_report& report, uint64_t offset, const uint8_t* label)
{
    begin_map_layout(
        report, false, [&] { return label_json(offset, label); }, [&] { print_label(label); });
}

// Lists the label's partitions; base is added to their offsets.
uint64_t list_partitions(const layout_report& report, sector_cache* cache, const uint8_t* label, uint64_t base)
{
    uint32_t count = get_le16(label + 138);
    uint64_t highest_end = 0;
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t* p = label + BSD_HEADER + BSD_PARTITION * i;
        partition_entry entry{};
        bsd_fields& f = entry.map.bsd;
        f.fs_type = p[12];
        if (f.fs_type == 0)
            continue;
        f.offset = get_le32(p + 4);
        f.fragment_size = get_le32(p + 8);
        f.fragments_per_block = p[13];
        f.cylinders_per_group = get_le16(p + 14);
        entry.number = i + 1;
        entry.type_code = -1;
        entry.start = base + f.offset;
        entry.sectors = get_le32(p);
        const char* name = fs_type_name(f.fs_type);
        if (name != nullptr)
            snprintf(entry.type_text, sizeof entry.type_text, "%s", name);
        else
            snprintf(entry.type_text, sizeof entry.type_text, "fs type %u", unsigned(f.fs_type));
        snprintf(entry.name_text, sizeof entry.name_text, "%c", char('a' + i));
        list_map_entry(report, cache, &entry, &highest_end);
    }
    return highest_end;
}

} // namespace

int64_t find_bsd_label(sector_cache* cache, uint64_t base_sector)
{
    uint32_t size = cache->medium->sector_size;
    const uint64_t places[] = {uint64_t(size), 64, 128, 0, 2 * uint64_t(size)};
    uint8_t label[BSD_LABEL_BYTES];
    for (uint64_t place : places) {
        uint64_t offset = base_sector * size + place;
        if (read_label(cache, offset, label))
            return int64_t(offset);
        // Inside a slice the label has one place only: its second sector.
        if (base_sector != 0)
            break;
    }
    return -1;
}

int decode_bsd_label(const medium_reader* medium, uint64_t label_offset, const report_options& options)
{
    sector_cache cache = make_sector_cache(medium);
    uint8_t label[BSD_LABEL_BYTES];
    if (!read_label(&cache, label_offset, label))
        return -1;
    layout_report report{options, LAYOUT_BSD, medium};
    begin_label(report, label_offset, label);
    uint64_t highest_end = list_partitions(report, &cache, label, 0);
    return end_map_layout(report, layout_end{true, 0, CHAIN_NOT_STOPPED, 0}, highest_end);
}

void report_bsd_slice(const report_options& options, const medium_reader* medium, const partition_entry& slice)
{
    if (slice.start >= medium->sector_count)
        return;
    sector_cache cache = make_sector_cache(medium);
    int64_t offset = find_bsd_label(&cache, slice.start);
    uint8_t label[BSD_LABEL_BYTES];
    if (offset < 0 || !read_label(&cache, uint64_t(offset), label))
        return;
    bool relative = slice.type_code == 0xA5 && get_le16(label + 138) > 2 &&
                    get_le32(label + BSD_HEADER + 2 * BSD_PARTITION + 4) == 0;
    layout_report report{options, LAYOUT_BSD, medium, slice.sectors};
    begin_label(report, uint64_t(offset), label);
    // The free space of a slice lies after its last partition up to its end.
    uint64_t highest_end = list_partitions(report, &cache, label, relative ? slice.start : 0);
    uint64_t slice_end = slice.start + slice.sectors;
    highest_end = highest_end > slice.start ? highest_end : slice.start;
    end_layout(report, layout_end{true, highest_end < slice_end ? slice_end - highest_end : 0, CHAIN_NOT_STOPPED, 0});
}
