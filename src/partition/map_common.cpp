// What every partition map shares: reading a structure at any byte offset
// of a medium of any sector size, figures in the map's units turned into
// the medium's sectors without overflow, the FAT volume at a partition's
// start, and the set of links a chain has followed.
#include <algorithm>
#include <cstring>
#include <new>

#include "format/bytes.h"
#include "partition/maps.h"

sector_cache make_sector_cache(const medium_reader* medium)
{
    sector_cache cache{medium, nullptr, UINT64_MAX};
    if (medium->sector_size != 0 && medium->sector_size <= MAX_MEDIUM_SECTOR_SIZE)
        cache.sector.reset(new (std::nothrow) uint8_t[medium->sector_size]);
    return cache;
}

int read_medium_bytes(sector_cache* cache, uint64_t offset, uint32_t length, uint8_t* out)
{
    std::memset(out, 0, length);
    const medium_reader* medium = cache->medium;
    uint32_t size = medium->sector_size;
    if (!cache->sector || size == 0)
        return -1;
    uint64_t end = offset + length;
    uint64_t medium_bytes = medium->sector_count > UINT64_MAX / size ? UINT64_MAX : medium->sector_count * size;
    if (end < offset || end > medium_bytes)
        return -1;
    uint32_t done = 0;
    while (done < length) {
        uint64_t at = offset + done;
        uint64_t sector = at / size;
        if (sector != cache->held) {
            cache->held = UINT64_MAX;
            if (read_medium(medium, sector, 1, cache->sector.get()) != 0) {
                std::memset(out, 0, length);
                return -1;
            }
            cache->held = sector;
        }
        uint32_t within = uint32_t(at % size);
        uint32_t part = size - within < length - done ? size - within : length - done;
        std::memcpy(out + done, cache->sector.get() + within, part);
        done += part;
    }
    return 0;
}

bool multiply_u64(uint64_t a, uint64_t b, uint64_t* product)
{
    if (a != 0 && b > UINT64_MAX / a)
        return false;
    *product = a * b;
    return true;
}

uint64_t sectors_of_units(const medium_reader* medium, uint64_t units, uint64_t unit_bytes)
{
    if (unit_bytes == medium->sector_size)
        return units;
    uint64_t bytes;
    if (!multiply_u64(units, unit_bytes, &bytes))
        return UINT64_MAX;
    return bytes / medium->sector_size;
}

static bool is_power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool is_fat_boot_sector(const uint8_t* boot)
{
    uint32_t bytes_per_sector = get_le16(boot + 0x0B);
    uint32_t sectors_per_cluster = boot[0x0D];
    uint32_t reserved = get_le16(boot + 0x0E);
    uint32_t fats = boot[0x10];
    uint32_t media = boot[0x15];
    uint32_t total = get_le16(boot + 0x13) != 0 ? get_le16(boot + 0x13) : get_le32(boot + 0x20);
    uint32_t fat_sectors = get_le16(boot + 0x16) != 0 ? get_le16(boot + 0x16) : get_le32(boot + 0x24);
    return is_power_of_two(bytes_per_sector) && bytes_per_sector >= 128 && bytes_per_sector <= 32768 &&
           is_power_of_two(sectors_per_cluster) && reserved != 0 && fats >= 1 && fats <= 4 &&
           (media == 0xF0 || media >= 0xF8) && total != 0 && fat_sectors != 0;
}

void find_fat_volume(sector_cache* cache, partition_entry* entry)
{
    const medium_reader* medium = cache->medium;
    if (entry->start >= medium->sector_count || entry->sectors == 0)
        return;
    uint8_t boot[512];
    if (read_medium_bytes(cache, entry->start * medium->sector_size, sizeof boot, boot) != 0 ||
        !is_fat_boot_sector(boot))
        return;
    // FAT32 keeps its FAT size in the 32-bit field and 0 in the 16-bit one.
    entry->has_volume = true;
    entry->volume = decode_fat_volume(boot, get_le16(boot + 0x16) == 0);
}

bool take_link(chain_walk* walk, const medium_reader* medium, uint64_t sector, uint32_t offset, layout_end* end)
{
    end->stop_sector = sector;
    if (++walk->links > MAX_EXTENDED_LINKS)
        end->stop = CHAIN_TOO_MANY_LINKS;
    else if (sector >= medium->sector_count)
        end->stop = CHAIN_PAST_THE_END;
    else if (!add_link(&walk->walked, offset))
        end->stop = CHAIN_WALKED_BEFORE;
    return end->stop == CHAIN_NOT_STOPPED;
}

uint64_t later_end(uint64_t end, const partition_entry& entry)
{
    uint64_t entry_end = entry.sectors > UINT64_MAX - entry.start ? UINT64_MAX : entry.start + entry.sectors;
    return entry_end > end ? entry_end : end;
}

void list_map_entry(const layout_report& report, sector_cache* cache, partition_entry* entry, uint64_t* highest_end)
{
    find_fat_volume(cache, entry);
    report_partition(report, *entry);
    *highest_end = later_end(*highest_end, *entry);
}

int end_map_layout(const layout_report& report, layout_end end, uint64_t highest_end)
{
    if (end.stop != CHAIN_NOT_STOPPED)
        end.complete = false;
    else if (end.complete)
        end.free_sectors = free_after(report.medium, highest_end);
    end_layout(report, end);
    return end.complete ? 0 : -1;
}

uint64_t free_after(const medium_reader* medium, uint64_t highest_end)
{
    return highest_end < medium->sector_count ? medium->sector_count - highest_end : 0;
}

static size_t slot_of(uint32_t value, size_t mask)
{
    uint64_t h = value * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
    return size_t(h) & mask;
}

static void place_link(uint32_t* slots, size_t capacity, uint32_t value)
{
    size_t mask = capacity - 1;
    size_t i = slot_of(value, mask);
    while (slots[i] != 0)
        i = (i + 1) & mask;
    slots[i] = value;
}

// True when offset is among the offsets that rose.
static bool has_risen(const link_set& set, uint32_t offset)
{
    if (set.risen == 0 || offset > set.high)
        return false;
    // From the last mark at or below offset, difference by difference.
    auto mark = std::upper_bound(set.marks.begin(), set.marks.end(), offset,
                                 [](uint32_t o, const link_mark& m) { return o < m.offset; });
    if (mark == set.marks.begin())
        return false;
    --mark;
    uint32_t value = mark->offset;
    size_t at = mark->next;
    size_t index = size_t(mark - set.marks.begin()) * LINK_MARK_EVERY + 1;
    for (; value < offset && index < set.risen; index++)
        value += take_varint(set.rising, &at);
    return value == offset;
}

bool add_link(link_set* set, uint32_t offset)
{
    // Above every offset that rose, and so above every other one: new.
    if (set->risen == 0 || offset > set->high) {
        put_varint(&set->rising, offset - (set->risen ? set->high : 0));
        if (set->risen % LINK_MARK_EVERY == 0)
            set->marks.push_back({offset, uint32_t(set->rising.size())});
        set->high = offset;
        set->risen++;
        return true;
    }
    if (has_risen(*set, offset))
        return false;
    if (offset == UINT32_MAX) {
        bool added = !set->holds_last;
        set->holds_last = true;
        return added;
    }
    uint32_t value = offset + 1;
    if (set->capacity == 0) {
        set->slots.reset(new (std::nothrow) uint32_t[64]());
        if (!set->slots)
            return false;
        set->capacity = 64;
    }
    size_t mask = set->capacity - 1;
    for (size_t i = slot_of(value, mask); set->slots[i] != 0; i = (i + 1) & mask) {
        if (set->slots[i] == value)
            return false;
    }
    // Grown at half load, so that a free slot ends every probe.
    if (2 * (set->count + 1) > set->capacity) {
        size_t capacity = set->capacity * 2;
        std::unique_ptr<uint32_t[]> grown(new (std::nothrow) uint32_t[capacity]());
        if (!grown)
            return false;
        for (size_t i = 0; i < set->capacity; i++) {
            if (set->slots[i] != 0)
                place_link(grown.get(), capacity, set->slots[i]);
        }
        set->slots.swap(grown);
        set->capacity = capacity;
    }
    place_link(set->slots.get(), set->capacity, value);
    set->count++;
    return true;
}
