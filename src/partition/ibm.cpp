// The IBM PC layouts of sector 0: a floppy that starts with a FAT boot
// sector, and a hard disk that starts with a master boot record whose
// extended partitions chain further boot records.
#include <array>
#include <cstring>
#include <vector>

#include "format/bytes.h"
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

// The extended boot records of one chain already walked, so that a link
// back to any of them ends the walk. Every record lies at the first one's
// address plus the 32-bit offset of its link, so the set keeps the offsets
// (sector 0, the master boot record, is not among them). Open addressing in
// a power-of-two array grown at half load: each link costs a constant time
// on average and the set holds 4 bytes a record (1 MiB at the link cap).
struct table_set {
    std::vector<uint32_t> slots; // offset + 1; 0 marks a free slot
    size_t count = 0;
    bool holds_last = false; // offset FFFFFFFFh, which has no slot value
};

static size_t slot_of(uint32_t value, size_t mask)
{
    uint64_t h = value * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
    return size_t(h) & mask;
}

static void place_value(std::vector<uint32_t>* slots, uint32_t value)
{
    size_t mask = slots->size() - 1;
    size_t i = slot_of(value, mask);
    while ((*slots)[i] != 0)
        i = (i + 1) & mask;
    (*slots)[i] = value;
}

// Adds the offset; false when it was there already.
static bool add_table_offset(table_set* set, uint32_t offset)
{
    if (offset == UINT32_MAX) {
        bool added = !set->holds_last;
        set->holds_last = true;
        return added;
    }
    uint32_t value = offset + 1;
    if (set->slots.empty())
        set->slots.assign(64, 0);
    size_t mask = set->slots.size() - 1;
    for (size_t i = slot_of(value, mask); set->slots[i] != 0; i = (i + 1) & mask) {
        if (set->slots[i] == value)
            return false;
    }
    if (2 * (set->count + 1) > set->slots.size()) {
        std::vector<uint32_t> grown(set->slots.size() * 2, 0);
        for (uint32_t v : set->slots) {
            if (v != 0)
                place_value(&grown, v);
        }
        set->slots.swap(grown);
    }
    place_value(&set->slots, value);
    set->count++;
    return true;
}

enum : int { ENTRY_FAT16 = 1, ENTRY_FAT32 = 2, ENTRY_OTHER = 3 };

struct hard_disk_walk {
    const layout_report& report;
    uint32_t number;   // partitions listed so far
    uint64_t last_end; // end of the last listed partition
    std::array<uint8_t, DECODE_SECTOR_SIZE> boot; // the boot sector of a FAT partition
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
        walk->boot.fill(0);
        if (read_medium(medium, entry.start, 1, walk->boot.data()) != 0)
            return -1;
        if (walk->boot[0x15] != 0xF8)
            return -1;
        entry.has_volume = true;
        entry.volume = decode_fat_volume(walk->boot.data(), kind == ENTRY_FAT32);
    }
    entry.number = ++walk->number;
    report_partition(walk->report, entry);
    walk->last_end = entry.start + entry.sectors;
    return 0;
}

// Walks the master boot record's table and the extended chain behind it.
static layout_end walk_hard_disk(hard_disk_walk* walk, const uint8_t* sector0)
{
    const medium_reader* medium = walk->report.medium;
    uint64_t medium_sectors = medium->sector_count;
    table_set walked;
    uint64_t table_base = 0;
    uint64_t extended_base = 0;
    uint32_t links = 0;
    std::array<uint8_t, 64> table{};
    std::array<uint8_t, DECODE_SECTOR_SIZE> record{}; // the extended boot record last read
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
                if (next == 0 || !add_table_offset(&walked, uint32_t(next - extended_base))) {
                    stopped.stop = CHAIN_WALKED_BEFORE;
                    return stopped;
                }
                record.fill(0);
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
    if (medium->sector_size != DECODE_SECTOR_SIZE)
        return -1;
    if (!has_boot_signature(sector0)) {
        report_unknown_layout(options);
        return -1;
    }
    layout_report report{options, LAYOUT_IBM_HARD_DISK, medium};
    begin_layout(report);
    hard_disk_walk walk{report, 0, 0, {}};
    layout_end end = walk_hard_disk(&walk, sector0);
    end_layout(report, end);
    return end.complete ? 0 : -1;
}
