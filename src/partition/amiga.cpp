// The Amiga rigid disk block: "RDSK" in one of the first 16 sectors with
// its checksum, the size of its blocks, and the head of a chain of "PART"
// blocks, each describing one partition by its cylinders, surfaces and
// blocks per track. The chain is bounded and loop-checked as the extended
// chain of a PC disk is, and every block must carry its own checksum.
#include <cstdio>
#include <cstring>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/maps.h"

namespace {

constexpr uint32_t RDB_SEARCH_SECTORS = 16;
constexpr uint32_t RDB_BLOCK_READ = 512; // every field read lies in the first 256 bytes

// The block's longs summed over its own count of summed longs are 0.
bool has_good_checksum(const uint8_t* block)
{
    uint32_t longs = get_be32(block + 4);
    if (longs == 0 || longs > RDB_BLOCK_READ / 4)
        return false;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < longs; i++)
        sum += get_be32(block + 4 * i);
    return sum == 0;
}

uint32_t block_bytes_of(const uint8_t* rdb)
{
    uint32_t bytes = get_be32(rdb + 16);
    return bytes >= 256 && bytes <= 65536 && (bytes & (bytes - 1)) == 0 ? bytes : 0;
}

// An environment long of a partition block.
uint32_t environment(const uint8_t* part, int index) { return get_be32(part + 128 + 4 * index); }

// "DOS\1", "PFS\3", "LNX\0": the printable bytes as they are, a last byte
// below a blank as its number.
void format_dos_type(uint32_t dos_type, char* out, size_t size)
{
    char text[4] = {char(dos_type >> 24), char(dos_type >> 16), char(dos_type >> 8), char(dos_type)};
    size_t at = 0;
    for (int i = 0; i < 4 && at + 5 < size; i++) {
        uint8_t c = uint8_t(text[i]);
        if (is_printable_byte(c))
            out[at++] = char(c);
        else
            at += size_t(snprintf(out + at, size - at, "\\%u", unsigned(c)));
    }
    out[at] = 0;
}

// One partition block as an entry; false when its geometry overflows.
bool amiga_entry(const medium_reader* medium, const uint8_t* part, uint32_t block, uint32_t block_bytes,
                 partition_entry* entry)
{
    amiga_fields& f = entry->map.amiga;
    f.block = block;
    f.flags = get_be32(part + 20);
    f.surfaces = environment(part, 3);
    f.blocks_per_track = environment(part, 5);
    f.reserved_blocks = environment(part, 6);
    f.low_cylinder = environment(part, 9);
    f.high_cylinder = environment(part, 10);
    f.boot_priority = int32_t(environment(part, 15));
    f.dos_type = environment(part, 16);
    entry->type_code = -1;
    entry->boot_indicator = (f.flags & 1) != 0 ? 0x80 : 0;
    uint64_t cylinder_blocks = uint64_t(f.surfaces) * f.blocks_per_track;
    uint64_t cylinders = f.high_cylinder >= f.low_cylinder ? uint64_t(f.high_cylinder) - f.low_cylinder + 1 : 0;
    uint64_t first_block, block_count;
    if (!multiply_u64(f.low_cylinder, cylinder_blocks, &first_block) ||
        !multiply_u64(cylinders, cylinder_blocks, &block_count))
        return false;
    entry->start = sectors_of_units(medium, first_block, block_bytes);
    entry->sectors = sectors_of_units(medium, block_count, block_bytes);
    if (entry->start == UINT64_MAX || entry->sectors == UINT64_MAX)
        return false;
    format_dos_type(f.dos_type, entry->type_text, sizeof entry->type_text);
    // The drive name is a BCPL string: a length byte, then the text.
    uint32_t length = part[36] < 31 ? part[36] : 31;
    copy_trimmed_field(entry->name_text, part + 37, int(length));
    return true;
}

json_value rdb_json(uint64_t sector, const uint8_t* rdb)
{
    json_value j{{"rdb_sector", sector},
                 {"block_size", get_be32(rdb + 16)},
                 {"cylinders", get_be32(rdb + 64)},
                 {"heads", get_be32(rdb + 72)},
                 {"sectors_per_track", get_be32(rdb + 68)}};
    put_device_text(&j, "disk_vendor", rdb + 160, 8);
    put_device_text(&j, "disk_product", rdb + 168, 16);
    put_device_text(&j, "disk_revision", rdb + 184, 4);
    return j;
}

void print_rdb(uint64_t sector, const uint8_t* rdb)
{
    char number[32];
    out_printf("  RDB:Block                  %13s\n", format_grouped64(sector, number));
    out_printf("  RDB:Block size             %13s bytes\n", format_grouped(get_be32(rdb + 16), number));
    out_printf("  RDB:Cylinders              %13s\n", format_grouped(get_be32(rdb + 64), number));
    out_printf("  RDB:Heads                  %13s\n", format_grouped(get_be32(rdb + 72), number));
    out_printf("  RDB:Sector per track       %13s\n", format_grouped(get_be32(rdb + 68), number));
}

} // namespace

int64_t find_rigid_disk_block(sector_cache* cache)
{
    const medium_reader* medium = cache->medium;
    uint8_t block[RDB_BLOCK_READ];
    for (uint64_t sector = 0; sector < RDB_SEARCH_SECTORS && sector < medium->sector_count; sector++) {
        if (read_medium_bytes(cache, sector * medium->sector_size, sizeof block, block) != 0)
            return -1;
        if (std::memcmp(block, "RDSK", 4) == 0 && has_good_checksum(block) && block_bytes_of(block) != 0)
            return int64_t(sector);
    }
    return -1;
}

int decode_amiga_rdb(const medium_reader* medium, uint64_t rdb_sector, const report_options& options)
{
    sector_cache cache = make_sector_cache(medium);
    uint8_t rdb[RDB_BLOCK_READ];
    if (read_medium_bytes(&cache, rdb_sector * medium->sector_size, sizeof rdb, rdb) != 0)
        return -1;
    uint32_t block_bytes = block_bytes_of(rdb);
    if (block_bytes == 0)
        return -1;
    layout_report report{options, LAYOUT_AMIGA, medium};
    begin_map_layout(
        report, false, [&] { return rdb_json(rdb_sector, rdb); }, [&] { print_rdb(rdb_sector, rdb); });
    uint8_t part[RDB_BLOCK_READ];
    chain_walk chain;
    uint64_t highest_end = 0;
    uint32_t listed = 0;
    layout_end end{true, 0, CHAIN_NOT_STOPPED, 0};
    // The chain ends at a link of FFFFFFFFh, or at any that is not a
    // positive 32-bit number; it is cut at a link past the medium, a block
    // linked to before, a block that is no partition block or has a bad
    // checksum, and after MAX_EXTENDED_LINKS links.
    for (uint32_t block = get_be32(rdb + 28); int32_t(block) > 0; block = get_be32(part + 16)) {
        uint64_t offset = uint64_t(block) * block_bytes;
        if (!take_link(&chain, medium, offset / medium->sector_size, block, &end))
            break;
        if (read_medium_bytes(&cache, offset, sizeof part, part) != 0) {
            end = layout_end{false, 0, CHAIN_NOT_STOPPED, 0};
            break;
        }
        if (std::memcmp(part, "PART", 4) != 0) {
            end.stop = CHAIN_NO_ENTRY;
            break;
        }
        if (!has_good_checksum(part)) {
            end.stop = CHAIN_BAD_CHECKSUM;
            break;
        }
        partition_entry entry{};
        entry.number = ++listed;
        if (!amiga_entry(medium, part, block, block_bytes, &entry))
            continue;
        list_map_entry(report, &cache, &entry, &highest_end);
    }
    return end_map_layout(report, end, highest_end);
}

void print_amiga_entry_details(const partition_entry& entry)
{
    const amiga_fields& f = entry.map.amiga;
    char number[32];
    out_printf("        RDB:Surfaces         %13s\n", format_grouped(f.surfaces, number));
    out_printf("        RDB:Blocks per track %13s\n", format_grouped(f.blocks_per_track, number));
    out_printf("        RDB:Reserved blocks  %13s\n", format_grouped(f.reserved_blocks, number));
    out_printf("        RDB:Low cylinder     %13s\n", format_grouped(f.low_cylinder, number));
    out_printf("        RDB:High cylinder    %13s\n", format_grouped(f.high_cylinder, number));
    out_printf("        RDB:Boot priority    %13d\n", int(f.boot_priority));
}
