// The IBM PC layouts of sector 0: a floppy that starts with a FAT boot
// sector, and a hard disk that starts with a master boot record whose
// extended partitions chain further boot records.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "format/bytes.h"
#include "partition/maps.h"
#include "partition/partition.h"

static bool has_boot_signature(const uint8_t* sector) { return sector[0x1FE] == 0x55 && sector[0x1FF] == 0xAA; }

fat_volume decode_fat_volume(const uint8_t* boot, bool fat32)
{
    fat_volume volume{};
    std::memcpy(volume.oem, boot + 0x03, sizeof volume.oem);
    volume.bpb = decode_bpb(boot + 0x0B, fat32);
    return volume;
}

int decode_ibm_floppy(const medium_reader* medium, const uint8_t* sector0, const report_options& options)
{
    if (get_le16(sector0 + 0x0B) != 512 || (sector0[0x15] != 0xF0 && sector0[0x15] != 0xF8) ||
        !has_boot_signature(sector0))
        return -1;
    layout_report report{options, LAYOUT_IBM_FLOPPY, medium};
    begin_layout(report);
    partition_entry entry{};
    entry.type_code = -1;
    entry.sectors = medium->sector_count;
    entry.has_volume = true;
    entry.volume = decode_fat_volume(sector0, false);
    report_partition(report, entry);
    end_layout(report, layout_end{true, 0, CHAIN_NOT_STOPPED, 0});
    return 0;
}

enum : int { ENTRY_FAT16 = 1, ENTRY_FAT32 = 2, ENTRY_OTHER = 3 };

struct hard_disk_walk {
    const layout_report& report;
    uint32_t number;   // partitions listed so far
    uint64_t last_end; // end of the last listed partition
    std::vector<uint8_t> boot; // the boot sector of a FAT partition, one medium sector
    bool gpt_reported; // the GPT of the first protective entry
};

// Lists one partition entry; for FAT volumes reads and decodes its boot
// sector. -1 ends the walk.
static int list_partition(hard_disk_walk* walk, const uint8_t* table_entry, uint64_t table_base, int kind)
{
    const medium_reader* medium = walk->report.medium;
    partition_entry entry{};
    entry.boot_indicator = table_entry[0];
    entry.type_code = table_entry[4];
    entry.start = table_base + get_le32(table_entry + 8);
    entry.sectors = get_le32(table_entry + 12);
    if (kind != ENTRY_OTHER) {
        // A boot sector outside the medium is not read.
        if (entry.start >= medium->sector_count)
            return -1;
        std::fill(walk->boot.begin(), walk->boot.end(), uint8_t(0));
        if (read_medium(medium, entry.start, 1, walk->boot.data()) != 0)
            return -1;
        if (walk->boot[0x15] != 0xF8)
            return -1;
        entry.has_volume = true;
        entry.volume = decode_fat_volume(walk->boot.data(), kind == ENTRY_FAT32);
    }
    entry.number = ++walk->number;
    begin_partition(walk->report, entry);
    walk->last_end = entry.start + entry.sectors;
    // What a primary entry leads to follows its lines: the GPT behind the
    // protective entry, or the disk label inside a BSD slice.
    if (table_base == 0 && entry.type_code == 0xEE && !walk->gpt_reported) {
        walk->gpt_reported = true;
        report_gpt(walk->report.options, medium);
    } else if (table_base == 0 && (entry.type_code == 0xA5 || entry.type_code == 0xA6 || entry.type_code == 0xA9)) {
        report_bsd_slice(walk->report.options, medium, entry);
    }
    end_partition(walk->report);
    return 0;
}

// Walks the master boot record's table and the extended chain behind it.
static layout_end walk_hard_disk(hard_disk_walk* walk, const uint8_t* sector0)
{
    const medium_reader* medium = walk->report.medium;
    uint64_t medium_sectors = medium->sector_count;
    link_set walked; // the extended boot records walked, by their offset from the first
    uint64_t table_base = 0;
    uint64_t extended_base = 0;
    uint32_t links = 0;
    std::array<uint8_t, 64> table{};
    std::vector<uint8_t> record(medium->sector_size); // the extended boot record last read
    memcpy(table.data(), sector0 + 0x1BE, table.size());
    layout_end stopped{false, 0, CHAIN_NOT_STOPPED, 0};
    for (;;) {
        bool linked = false;
        for (int i = 0; i < 4 && !linked; i++) {
            const uint8_t* entry = table.data() + 16 * i;
            uint32_t type = entry[4];
            if (type == 0x00)
                continue;
            if (type == 0x05 || type == 0x0F) {
                uint64_t next = extended_base + get_le32(entry + 8);
                if (extended_base == 0)
                    extended_base = next;
                // A corrupt chain could otherwise run for ever or read
                // outside the medium: it ends on a table already walked
                // (sector 0 and a link to itself included), past the end of
                // the medium, or after MAX_EXTENDED_LINKS links.
                if (++links > MAX_EXTENDED_LINKS) {
                    stopped.stop = CHAIN_TOO_MANY_LINKS;
                    return stopped;
                }
                stopped.stop_sector = next;
                if (next >= medium_sectors) {
                    stopped.stop = CHAIN_PAST_THE_END;
                    return stopped;
                }
                // Only the first link can lead to sector 0, with an offset 0.
                if (next == 0 || !add_link(&walked, uint32_t(next - extended_base))) {
                    stopped.stop = CHAIN_WALKED_BEFORE;
                    return stopped;
                }
                std::fill(record.begin(), record.end(), uint8_t(0));
                if (read_medium(medium, next, 1, record.data()) != 0)
                    return layout_end{false, 0, CHAIN_NOT_STOPPED, 0};
                memcpy(table.data(), record.data() + 0x1BE, table.size());
                table_base = next;
                linked = true;
                continue;
            }
            int kind = ENTRY_OTHER;
            if (type == 0x01 || type == 0x04 || type == 0x06)
                kind = ENTRY_FAT16;
            else if (type == 0x0B || type == 0x0C)
                kind = ENTRY_FAT32;
            if (list_partition(walk, entry, table_base, kind) != 0)
                return layout_end{false, 0, CHAIN_NOT_STOPPED, 0};
        }
        if (!linked)
            break;
    }
    uint64_t free_sectors = walk->last_end < medium_sectors ? medium_sectors - walk->last_end : 0;
    return layout_end{true, free_sectors, CHAIN_NOT_STOPPED, 0};
}

int decode_ibm_hard_disk(const medium_reader* medium, const uint8_t* sector0, const report_options& options)
{
    // Media of any sector size from 512 bytes up carry the table in their
    // sector 0; the choice of decoder keeps others away.
    if (medium->sector_size < DECODE_SECTOR_SIZE)
        return -1;
    if (!has_boot_signature(sector0)) {
        report_unknown_layout(options);
        return -1;
    }
    layout_report report{options, LAYOUT_IBM_HARD_DISK, medium};
    begin_layout(report);
    hard_disk_walk walk{report, 0, 0, std::vector<uint8_t>(medium->sector_size), false};
    layout_end end = walk_hard_disk(&walk, sector0);
    end_layout(report, end);
    return end.complete ? 0 : -1;
}
