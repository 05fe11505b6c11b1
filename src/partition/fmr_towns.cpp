// The FMR/TOWNS hard disk layout: "IPL" at the start of sector 0 and a table
// of ten 48-byte entries from offset 20h of sector 1, each with an absolute
// start, a size and two 16-character names.
#include <array>
#include <cstring>

#include "format/bytes.h"
#include "partition/partition.h"

// An MS-DOS partition's boot sector is read for its volume; -1 when it lies
// outside the medium or cannot be read, which ends the table.
static int read_towns_volume(const medium_reader* medium, partition_entry* entry)
{
    if (entry->start >= medium->sector_count)
        return -1;
    std::array<uint8_t, DECODE_SECTOR_SIZE> boot{};
    if (read_medium(medium, entry->start, 1, boot.data()) != 0)
        return -1;
    entry->has_volume = true;
    entry->volume = decode_fat_volume(boot.data(), false);
    return 0;
}

static layout_end walk_towns_table(const layout_report& report, const uint8_t* table)
{
    uint64_t last_end = 0;
    for (int i = 0; i < 10; i++) {
        const uint8_t* e = table + 0x20 + 0x30 * i;
        partition_entry entry{};
        entry.start = get_le32(e + 0x02);
        if (entry.start == 0)
            break;
        entry.number = uint32_t(i + 1);
        entry.boot_indicator = e[0];
        entry.type_code = -1;
        entry.sectors = get_le32(e + 0x06);
        std::memcpy(entry.system_name, e + 0x10, sizeof entry.system_name);
        std::memcpy(entry.second_name, e + 0x20, sizeof entry.second_name);
        if (std::memcmp(entry.system_name, "MS-DOS", 6) == 0 && read_towns_volume(report.medium, &entry) != 0)
            return layout_end{false, 0, CHAIN_NOT_STOPPED, 0};
        report_partition(report, entry);
        last_end = entry.start + entry.sectors;
    }
    uint64_t medium_sectors = report.medium->sector_count;
    return layout_end{true, last_end < medium_sectors ? medium_sectors - last_end : 0, CHAIN_NOT_STOPPED, 0};
}

int decode_fmr_towns(const medium_reader* medium, const uint8_t*, const report_options& options)
{
    if (medium->sector_size != DECODE_SECTOR_SIZE)
        return -1;
    std::array<uint8_t, DECODE_SECTOR_SIZE> table{};
    if (read_medium(medium, 1, 1, table.data()) != 0)
        return -1;
    layout_report report{options, LAYOUT_FMR_TOWNS, medium};
    begin_layout(report);
    layout_end end = walk_towns_table(report, table.data());
    end_layout(report, end);
    return end.complete ? 0 : -1;
}
