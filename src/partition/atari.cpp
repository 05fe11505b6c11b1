// The Atari hard disk layout (AHDI): a root sector with four 12-byte entries
// at 1C6h (a flag byte, a three-letter id, big-endian start and size), an
// "XGM" entry leading to a chain of extended root sectors, each holding one
// partition and the link to the next relative to the first; and the ICD
// variant with eight more entries at 156h. There is no signature: the root
// sector is taken when one of its entries is plainly a partition, as the
// Linux kernel takes it.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "format/bytes.h"
#include "format/format.h"
#include "partition/maps.h"

namespace {

constexpr uint32_t ATARI_ENTRY_SIZE = 12;
constexpr uint32_t ATARI_ENTRIES = 0x1C6;
constexpr uint32_t ATARI_ICD_ENTRIES = 0x156;

struct atari_part {
    uint8_t flag; // bit 0: in use; bit 7: bootable
    uint8_t id[3];
    uint32_t start;
    uint32_t size;
};

atari_part part_at(const uint8_t* sector, uint32_t offset, uint32_t index)
{
    const uint8_t* e = sector + offset + ATARI_ENTRY_SIZE * index;
    return atari_part{e[0], {e[1], e[2], e[3]}, get_be32(e + 4), get_be32(e + 8)};
}

bool in_use(const atari_part& p) { return (p.flag & 1) != 0; }
bool has_id(const atari_part& p, const char* id) { return std::memcmp(p.id, id, 3) == 0; }

bool is_plain_partition(const atari_part& p, uint64_t medium_sectors)
{
    return in_use(p) && std::isalnum(p.id[0]) && std::isalnum(p.id[1]) && std::isalnum(p.id[2]) &&
           p.start <= medium_sectors && uint64_t(p.start) + p.size <= medium_sectors;
}

// The ids the ICD variant's entries carry.
bool is_icd_id(const atari_part& p)
{
    return has_id(p, "GEM") || has_id(p, "BGM") || has_id(p, "LNX") || has_id(p, "SWP") || has_id(p, "RAW");
}

const char* id_meaning(const atari_part& p)
{
    static const struct {
        const char* id;
        const char* meaning;
    } ids[] = {
        {"GEM", "GEMDOS"}, {"BGM", "GEMDOS big"}, {"F32", "FAT32"}, {"LNX", "Linux"}, {"SWP", "swap"},
        {"MIX", "Minix"},  {"MNX", "Minix"},      {"UNX", "Unix"},  {"RAW", "raw"},
    };
    for (const auto& i : ids) {
        if (has_id(p, i.id))
            return i.meaning;
    }
    return nullptr;
}

struct atari_walk {
    const layout_report& report;
    sector_cache* cache;
    uint32_t number;
    uint64_t highest_end;
};

void list_part(atari_walk* walk, const atari_part& p, uint64_t base, uint64_t table_sector)
{
    partition_entry entry{};
    entry.number = ++walk->number;
    entry.type_code = -1;
    entry.boot_indicator = p.flag & 0x80;
    entry.start = base + p.start;
    entry.sectors = p.size;
    atari_fields& f = entry.map.atari;
    f.flag = p.flag;
    std::memcpy(f.id, p.id, 3);
    f.table_sector = uint32_t(table_sector);
    char id[4];
    copy_trimmed_field(id, p.id, 3);
    const char* meaning = id_meaning(p);
    if (meaning != nullptr)
        snprintf(entry.type_text, sizeof entry.type_text, "%s (%s)", id, meaning);
    else
        snprintf(entry.type_text, sizeof entry.type_text, "%s", id);
    list_map_entry(walk->report, walk->cache, &entry, &walk->highest_end);
}

// Follows the extended root sectors of an XGM entry; the stop of a chain
// cut short, or CHAIN_NOT_STOPPED.
layout_end walk_extended(atari_walk* walk, uint32_t first)
{
    const medium_reader* medium = walk->cache->medium;
    uint8_t sector[512];
    chain_walk chain;
    uint64_t next = first;
    layout_end end{true, 0, CHAIN_NOT_STOPPED, 0};
    for (;;) {
        if (!take_link(&chain, medium, next, uint32_t(next - first), &end))
            return end;
        if (read_medium_bytes(walk->cache, next * medium->sector_size, sizeof sector, sector) != 0)
            return layout_end{false, 0, CHAIN_NOT_STOPPED, 0};
        atari_part p = part_at(sector, ATARI_ENTRIES, 0);
        if (!in_use(p)) {
            end.stop = CHAIN_NO_ENTRY;
            return end;
        }
        list_part(walk, p, next, next);
        // The second entry links on, relative to the first extended sector;
        // anything but an XGM entry there ends the chain.
        atari_part link = part_at(sector, ATARI_ENTRIES, 1);
        if (!in_use(link) || !has_id(link, "XGM"))
            return end;
        next = uint64_t(first) + link.start;
    }
}

} // namespace

bool holds_atari_root_sector(const medium_reader* medium, const uint8_t* sector0)
{
    if (medium->sector_size != 512)
        return false;
    for (uint32_t i = 0; i < 4; i++) {
        if (is_plain_partition(part_at(sector0, ATARI_ENTRIES, i), medium->sector_count))
            return true;
    }
    return false;
}

int decode_atari(const medium_reader* medium, const uint8_t* sector0, const report_options& options)
{
    sector_cache cache = make_sector_cache(medium);
    layout_report report{options, LAYOUT_ATARI, medium};
    begin_layout(report);
    atari_walk walk{report, &cache, 0, 0};
    bool extended = false;
    layout_end end{true, 0, CHAIN_NOT_STOPPED, 0};
    for (uint32_t i = 0; i < 4 && end.complete && end.stop == CHAIN_NOT_STOPPED; i++) {
        atari_part p = part_at(sector0, ATARI_ENTRIES, i);
        if (!in_use(p))
            continue;
        if (has_id(p, "XGM")) {
            extended = true;
            end = walk_extended(&walk, p.start);
        } else {
            list_part(&walk, p, 0, 0);
        }
    }
    // Without extended partitions the root sector may hold the ICD entries.
    if (!extended && is_icd_id(part_at(sector0, ATARI_ICD_ENTRIES, 0))) {
        for (uint32_t i = 0; i < 8; i++) {
            atari_part p = part_at(sector0, ATARI_ICD_ENTRIES, i);
            if (in_use(p) && is_icd_id(p))
                list_part(&walk, p, 0, 0);
        }
    }
    return end_map_layout(report, end, walk.highest_end);
}
