// The Apple partition map: a driver descriptor ("ER") in block 0 with the
// map's block size, then one 512-byte entry ("PM") at the start of each
// block from block 1 on, the first giving the number of entries. Starts and
// sizes count the map's blocks, which need not be the medium's sectors (a
// CD's map may use 2048-byte blocks on an image read in 512-byte sectors).
#include <cstdio>
#include <cstring>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/maps.h"

namespace {

constexpr uint32_t APPLE_ENTRY_SIZE = 512;
constexpr uint32_t APPLE_STATUS_BOOTABLE = 0x08;

// The block size of the driver descriptor: a power of two from 512 bytes.
uint32_t map_block_size(const uint8_t* descriptor)
{
    uint32_t size = get_be16(descriptor + 2);
    return size >= 512 && (size & (size - 1)) == 0 ? size : 0;
}

void print_descriptor(uint32_t block_size, uint32_t entries)
{
    char number[32];
    out_printf("  APM:Block size             %13s bytes\n", format_grouped(block_size, number));
    out_printf("  APM:Map entries            %13s\n", format_grouped(entries, number));
}

} // namespace

bool holds_apple_map(sector_cache* cache, const uint8_t*)
{
    uint8_t descriptor[8];
    uint8_t entry[8];
    if (read_medium_bytes(cache, 0, sizeof descriptor, descriptor) != 0 || std::memcmp(descriptor, "ER", 2) != 0)
        return false;
    uint32_t block_size = map_block_size(descriptor);
    return block_size != 0 && read_medium_bytes(cache, block_size, sizeof entry, entry) == 0 &&
           std::memcmp(entry, "PM", 2) == 0 && get_be32(entry + 4) != 0;
}

int decode_apple_map(const medium_reader* medium, const report_options& options)
{
    sector_cache cache = make_sector_cache(medium);
    uint8_t descriptor[8];
    uint8_t e[APPLE_ENTRY_SIZE];
    if (read_medium_bytes(&cache, 0, sizeof descriptor, descriptor) != 0)
        return -1;
    uint32_t block_size = map_block_size(descriptor);
    if (block_size == 0 || read_medium_bytes(&cache, block_size, sizeof e, e) != 0)
        return -1;
    uint32_t entries = get_be32(e + 4);
    layout_report report{options, LAYOUT_APPLE, medium};
    begin_map_layout(
        report, false, [&] { return json_value{{"block_size", block_size}, {"map_entries", entries}}; },
        [&] { print_descriptor(block_size, entries); });
    uint64_t highest_end = 0;
    layout_end end{true, 0, CHAIN_NOT_STOPPED, 0};
    // Each entry is read where the count says one lies; the run ends early
    // at a block holding none, past the end of the medium, or at the cap.
    for (uint64_t block = 1; block <= entries; block++) {
        uint64_t offset = block * block_size;
        end.stop_sector = offset / medium->sector_size;
        if (block > MAX_EXTENDED_LINKS) {
            end.stop = CHAIN_TOO_MANY_LINKS;
            break;
        }
        if (end.stop_sector >= medium->sector_count) {
            end.stop = CHAIN_PAST_THE_END;
            break;
        }
        if (read_medium_bytes(&cache, offset, sizeof e, e) != 0) {
            end = layout_end{false, 0, CHAIN_NOT_STOPPED, 0};
            break;
        }
        if (std::memcmp(e, "PM", 2) != 0) {
            end.stop = CHAIN_NO_ENTRY;
            break;
        }
        partition_entry entry{};
        entry.number = uint32_t(block);
        entry.type_code = -1;
        apple_fields& f = entry.map.apple;
        f.start_block = get_be32(e + 8);
        f.block_count = get_be32(e + 12);
        f.status = get_be32(e + 88);
        std::memcpy(f.processor, e + 120, sizeof f.processor);
        entry.start = sectors_of_units(medium, f.start_block, block_size);
        entry.sectors = sectors_of_units(medium, f.block_count, block_size);
        entry.boot_indicator = (f.status & APPLE_STATUS_BOOTABLE) != 0 ? 0x80 : 0;
        copy_trimmed_field(entry.type_text, e + 48, 32);
        copy_trimmed_field(entry.name_text, e + 16, 32);
        list_map_entry(report, &cache, &entry, &highest_end);
    }
    return end_map_layout(report, end, highest_end);
}
