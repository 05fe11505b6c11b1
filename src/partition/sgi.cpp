// The SGI volume header: 0BE5A941h at the start of sector 0, the root and
// swap partition numbers, the boot file's name, a directory of up to 15
// files kept in the header's own partition, and 16 partitions given by
// their first block, block count and type; the sector's 32-bit words sum
// to 0.
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/maps.h"

namespace {

constexpr uint32_t SGI_MAGIC = 0x0BE5A941;
constexpr uint32_t SGI_PARTITIONS = 16;
constexpr uint32_t SGI_FILES = 15;

const char* type_name(uint32_t type)
{
    static const char* const names[] = {"volume header", "track replacement", "sector replacement", "raw",
                                        "BSD",           "System V",          "whole volume",       "EFS",
                                        "logical volume", "raw logical volume", "XFS",              "XFS log",
                                        "XLV volume",    "XVM volume"};
    if (type < sizeof names / sizeof names[0])
        return names[type];
    switch (type) {
    case 0x82: return "Linux swap";
    case 0x83: return "Linux native";
    case 0x8E: return "Linux LVM";
    case 0xFD: return "Linux RAID autodetect";
    }
    return nullptr;
}

void print_header(const uint8_t* header)
{
    char text[24], number[32];
    if (header[8] != 0)
        out_printf("  SGI:Boot file              %s\n", copy_trimmed_field(text, header + 8, 16));
    // The root and swap partitions are numbered from 0, where the lines
    // above number them from 1; any other figure names none.
    uint32_t root = get_be16(header + 4), swap = get_be16(header + 6);
    if (root < SGI_PARTITIONS)
        out_printf("  SGI:Root partition         %13s\n", format_grouped(root + 1, number));
    if (swap < SGI_PARTITIONS)
        out_printf("  SGI:Swap partition         %13s\n", format_grouped(swap + 1, number));
    for (uint32_t i = 0; i < SGI_FILES; i++) {
        const uint8_t* file = header + 0x48 + 16 * i;
        if (file[0] == 0)
            continue;
        char block[32];
        out_printf("  SGI:File %-8s          %13s bytes at block %s\n", copy_trimmed_field(text, file, 8),
                   format_grouped(get_be32(file + 12), number), format_grouped(get_be32(file + 8), block));
    }
}

json_value header_json(const uint8_t* header)
{
    json_value j;
    put_device_text(&j, "boot_file", header + 8, 16);
    uint32_t root = get_be16(header + 4), swap = get_be16(header + 6);
    j["root_partition"] = root < SGI_PARTITIONS ? json_value(root + 1) : json_value(nullptr);
    j["swap_partition"] = swap < SGI_PARTITIONS ? json_value(swap + 1) : json_value(nullptr);
    json_value files = json_value::array();
    for (uint32_t i = 0; i < SGI_FILES; i++) {
        const uint8_t* file = header + 0x48 + 16 * i;
        if (file[0] == 0)
            continue;
        json_value f;
        put_device_text(&f, "name", file, 8);
        f["block"] = get_be32(file + 8);
        f["bytes"] = get_be32(file + 12);
        files.push_back(f);
    }
    j["files"] = files;
    return j;
}

} // namespace

bool holds_sgi_label(const medium_reader* medium, const uint8_t* sector0)
{
    if (medium->sector_size != 512 || get_be32(sector0) != SGI_MAGIC)
        return false;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < 512; i += 4)
        sum += get_be32(sector0 + i);
    return sum == 0;
}

int decode_sgi_label(const medium_reader* medium, const uint8_t* header, const report_options& options)
{
    sector_cache cache = make_sector_cache(medium);
    layout_report report{options, LAYOUT_SGI, medium};
    begin_map_layout(
        report, false, [&] { return header_json(header); }, [&] { print_header(header); });
    uint64_t highest_end = 0;
    for (uint32_t i = 0; i < SGI_PARTITIONS; i++) {
        const uint8_t* p = header + 0x138 + 12 * i;
        partition_entry entry{};
        entry.sectors = get_be32(p);
        if (entry.sectors == 0)
            continue;
        entry.number = i + 1;
        entry.type_code = -1;
        entry.start = get_be32(p + 4);
        entry.map.sgi.type = get_be32(p + 8);
        const char* name = type_name(entry.map.sgi.type);
        if (name != nullptr)
            snprintf(entry.type_text, sizeof entry.type_text, "%s", name);
        else
            snprintf(entry.type_text, sizeof entry.type_text, "type %XH", unsigned(entry.map.sgi.type));
        list_map_entry(report, &cache, &entry, &highest_end);
    }
    return end_map_layout(report, layout_end{true, 0, CHAIN_NOT_STOPPED, 0}, highest_end);
}
