// The IBM PC layouts of sector 0: a floppy that starts with a FAT boot
// sector, and a hard disk that starts with a master boot record whose
// extended partitions chain further boot records.
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/partition.h"

static bool has_boot_signature(const uint8_t* sector) { return sector[0x1FE] == 0x55 && sector[0x1FF] == 0xAA; }

static void format_serial(uint32_t serial, char* out, size_t size)
{
    snprintf(out, size, "%04X-%04X", unsigned(serial >> 16), unsigned(serial & 0xFFFF));
}

int decode_ibm_floppy(const medium_reader* medium, const uint8_t* sector0, const report_options& options)
{
    uint32_t sector_size = medium->sector_size;
    uint64_t medium_sectors = medium->sector_count;
    if (get_le16(sector0 + 0x0B) != 512 || (sector0[0x15] != 0xF0 && sector0[0x15] != 0xF8) ||
        !has_boot_signature(sector0))
        return -1;
    char size_text[32];
    format_grouped64(uint64_t(sector_size) * medium_sectors, size_text);
    out_printf("  IBM FLOPPY DISK FORMAT     %13s bytes\n", size_text);
    std::array<uint8_t, 0x3E - 0x0B> bpb{};
    memcpy(bpb.data(), sector0 + 0x0B, bpb.size());
    char oem[9], serial[16], file_system[9], label[12];
    copy_padded_field(oem, sector0 + 0x03, 8);
    format_serial(get_le32(sector0 + 0x27), serial, sizeof serial);
    copy_padded_field(file_system, sector0 + 0x36, 8);
    copy_padded_field(label, sector0 + 0x2B, 11);
    out_printf("       %-11s %-9s %13s .. %-24s %s\n", label, serial, size_text, file_system, oem);
    if (options.show_partitions)
        report_fat_bpb(bpb.data());
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
    const medium_reader* medium;
    uint32_t sector_size;
    uint64_t medium_sectors;
    std::array<uint8_t, DECODE_SECTOR_SIZE> buffer; // boot sectors of listed partitions
    uint32_t number;   // partitions listed so far
    uint64_t last_end; // end of the last listed partition
    const report_options& options;
};

// Lists one partition entry; for FAT volumes reads and shows its boot
// sector. -1 ends the walk.
static int list_partition(hard_disk_walk* walk, const uint8_t* entry, uint64_t table_base, int kind)
{
    uint32_t type = entry[4];
    uint64_t start = table_base + get_le32(entry + 8);
    uint32_t count = get_le32(entry + 12);
    char mark = entry[0] != 0 ? '*' : ' ';
    char size_text[32];
    format_grouped64(uint64_t(count) * walk->sector_size, size_text);
    walk->number++;
    if (kind == ENTRY_OTHER) {
        out_printf(" %c(%2u)                       %13s .. %-24s\n", mark, unsigned(walk->number), size_text,
                   partition_type_name(type));
        if (walk->options.show_partitions)
            print_partition_extent(start, count);
    } else {
        // A boot sector outside the medium is not read.
        if (start >= walk->medium_sectors)
            return -1;
        walk->buffer.fill(0);
        if (read_medium(walk->medium, start, 1, walk->buffer.data()) != 0)
            return -1;
        const uint8_t* boot = walk->buffer.data();
        if (boot[0x15] != 0xF8)
            return -1;
        bool fat32 = kind == ENTRY_FAT32;
        char oem[9], serial[16], label[12];
        copy_padded_field(oem, boot + 0x03, 8);
        format_serial(get_le32(boot + (fat32 ? 0x43 : 0x27)), serial, sizeof serial);
        copy_padded_field(label, boot + (fat32 ? 0x47 : 0x2B), 11);
        out_printf(" %c(%2u) %-11s %-9s %13s .. %-24s %s\n", mark, unsigned(walk->number), label, serial, size_text,
                   partition_type_name(type), oem);
        if (walk->options.show_partitions) {
            print_partition_extent(start, count);
            if (fat32)
                report_fat32_bpb(boot + 0x0B);
            else
                report_fat_bpb(boot + 0x0B);
        }
    }
    walk->last_end = start + count;
    return 0;
}

int decode_ibm_hard_disk(const medium_reader* medium, const uint8_t* sector0, const report_options& options)
{
    uint32_t sector_size = medium->sector_size;
    uint64_t medium_sectors = medium->sector_count;
    if (sector_size != DECODE_SECTOR_SIZE)
        return -1;
    if (!has_boot_signature(sector0)) {
        out_puts("  Unkown format!!\n");
        return -1;
    }
    char number[32];
    out_printf("  IBM HARD DISK FORMAT       %13s bytes\n", format_grouped64(uint64_t(sector_size) * medium_sectors, number));

    hard_disk_walk walk{medium, sector_size, medium_sectors, {}, 0, 0, options};
    std::array<uint8_t, DECODE_SECTOR_SIZE> record{}; // the extended boot record last read
    table_set walked;
    uint64_t table_base = 0;
    uint64_t extended_base = 0;
    uint32_t links = 0;
    std::array<uint8_t, 64> table{};
    memcpy(table.data(), sector0 + 0x1BE, table.size());
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
                    out_printf("  (--)  Extended chain stopped: more than %s links\n",
                               format_grouped(MAX_EXTENDED_LINKS, number));
                    return -1;
                }
                if (next >= medium_sectors) {
                    out_printf("  (--)  Extended chain stopped: link to sector %s past the end\n",
                               format_grouped64(next, number));
                    return -1;
                }
                // Only the first link can lead to sector 0, with an offset 0.
                if (next == 0 || !add_table_offset(&walked, uint32_t(next - extended_base))) {
                    out_printf("  (--)  Extended chain stopped: link to sector %s walked before\n",
                               format_grouped64(next, number));
                    return -1;
                }
                record.fill(0);
                if (read_medium(medium, next, 1, record.data()) != 0)
                    return -1;
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
            if (list_partition(&walk, entry, table_base, kind) != 0)
                return -1;
        }
        if (!linked)
            break;
    }
    if (walk.last_end < medium_sectors) {
        uint64_t free_sectors = medium_sectors - walk.last_end;
        char bytes[32];
        out_printf("  (--)  Free disk space      %13s bytes (%13s sectors)\n",
                   format_grouped64(free_sectors * sector_size, bytes), format_grouped64(free_sectors, number));
    }
    return 0;
}
