// The PC-98 hard disk layout (NEC): an IPL in sector 0 marked "IPL1" at
// offset 4, and in sector 1 a table of up to 16 entries of 32 bytes, each
// with a system byte pair (mid, sid), start and end given as cylinder, head
// and sector (sectors counted from 0, an end of head 0 and sector 0 meaning
// the whole end cylinder) and a 16-byte name kept in its own Shift-JIS.
//
// The table holds no geometry of its own. It comes from the medium when its
// holder knows it (a disk image container), else from the table when its
// ends name a last head and sector, else from the geometry under which a
// partition's start holds a FAT boot sector; failing all, the 8 heads of 32
// sectors of PC-98 SCSI disks are assumed, and the report says which.
#include <cstdio>
#include <cstring>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/maps.h"

namespace {

constexpr uint32_t PC98_ENTRY_SIZE = 32;
constexpr uint32_t PC98_MAX_ENTRIES = 16;

struct pc98_table {
    uint8_t bytes[PC98_ENTRY_SIZE * PC98_MAX_ENTRIES];
    uint32_t entries; // 16 in a sector of 512 bytes or more, 8 in one of 256
};

struct pc98_geometry {
    uint32_t heads;
    uint32_t sectors;
    const char* source;
};

bool has_ipl_signature(const medium_reader* medium, const uint8_t* sector0)
{
    uint32_t size = medium->sector_size;
    if (size < 256)
        return false;
    // Tables in 512-byte sectors and up end their sector 0 with 55h AAh.
    if (size >= 512 && (sector0[510] != 0x55 || sector0[511] != 0xAA))
        return false;
    return std::memcmp(sector0 + 4, "IPL1", 4) == 0 || std::memcmp(sector0 + 4, "Linux 98", 8) == 0 ||
           std::memcmp(sector0 + 4, "GRUB/98 ", 8) == 0;
}

int read_pc98_table(sector_cache* cache, pc98_table* table)
{
    uint32_t size = cache->medium->sector_size;
    uint32_t length = size < sizeof table->bytes ? size : uint32_t(sizeof table->bytes);
    std::memset(table->bytes, 0, sizeof table->bytes);
    table->entries = length / PC98_ENTRY_SIZE;
    return read_medium_bytes(cache, size, length, table->bytes);
}

pc98_fields fields_of(const uint8_t* e)
{
    pc98_fields f{};
    f.mid = e[0];
    f.sid = e[1];
    f.start_sector = e[8];
    f.start_head = e[9];
    f.start_cylinder = get_le16(e + 10);
    f.end_sector = e[12];
    f.end_head = e[13];
    f.end_cylinder = get_le16(e + 14);
    return f;
}

// An entry is in use when any of its system bytes or addresses is set.
bool is_used(const uint8_t* e)
{
    for (int i = 0; i < 16; i++) {
        if (i != 2 && i != 3 && e[i] != 0)
            return true;
    }
    return false;
}

bool ends_with_whole_cylinder(const pc98_fields& f) { return f.end_head == 0 && f.end_sector == 0; }

// True when every head and sector of the used entries fits the geometry.
bool fits(const pc98_table& table, uint32_t heads, uint32_t sectors)
{
    for (uint32_t i = 0; i < table.entries; i++) {
        const uint8_t* e = table.bytes + PC98_ENTRY_SIZE * i;
        if (!is_used(e))
            continue;
        pc98_fields f = fields_of(e);
        if (f.start_head >= heads || f.start_sector >= sectors || f.end_head >= heads || f.end_sector >= sectors)
            return false;
    }
    return true;
}

uint64_t first_sector(const pc98_fields& f, const pc98_geometry& g)
{
    return (uint64_t(f.start_cylinder) * g.heads + f.start_head) * g.sectors + f.start_sector;
}

uint64_t last_sector(const pc98_fields& f, const pc98_geometry& g)
{
    if (ends_with_whole_cylinder(f))
        return (uint64_t(f.end_cylinder) + 1) * g.heads * g.sectors - 1;
    return (uint64_t(f.end_cylinder) * g.heads + f.end_head) * g.sectors + f.end_sector;
}

// True when, under the geometry, some used entry starts on a FAT boot sector.
bool finds_boot_sector(sector_cache* cache, const pc98_table& table, const pc98_geometry& g)
{
    for (uint32_t i = 0; i < table.entries; i++) {
        const uint8_t* e = table.bytes + PC98_ENTRY_SIZE * i;
        if (!is_used(e))
            continue;
        uint64_t start = first_sector(fields_of(e), g);
        uint8_t boot[512];
        if (start != 0 && start < cache->medium->sector_count &&
            read_medium_bytes(cache, start * cache->medium->sector_size, sizeof boot, boot) == 0 &&
            is_fat_boot_sector(boot))
            return true;
    }
    return false;
}

pc98_geometry choose_geometry(sector_cache* cache, const pc98_table& table)
{
    const medium_reader* medium = cache->medium;
    // Heads and sectors are bytes in the table: larger figures are no
    // PC-98 geometry.
    if (medium->heads != 0 && medium->sectors_per_track != 0 && medium->heads <= 256 &&
        medium->sectors_per_track <= 256 && fits(table, medium->heads, medium->sectors_per_track))
        return pc98_geometry{medium->heads, medium->sectors_per_track, "medium"};
    uint32_t last_head = 0, last_sector_number = 0;
    bool named = false;
    for (uint32_t i = 0; i < table.entries; i++) {
        const uint8_t* e = table.bytes + PC98_ENTRY_SIZE * i;
        if (!is_used(e))
            continue;
        pc98_fields f = fields_of(e);
        if (!ends_with_whole_cylinder(f))
            named = true;
        for (uint32_t h : {f.start_head, f.end_head})
            last_head = h > last_head ? h : last_head;
        for (uint32_t s : {f.start_sector, f.end_sector})
            last_sector_number = s > last_sector_number ? s : last_sector_number;
    }
    if (named)
        return pc98_geometry{last_head + 1, last_sector_number + 1, "table"};
    // SCSI, IDE, a partitioning tool's image files, then the PC/AT ones.
    static const pc98_geometry tried[] = {
        {8, 32, "boot sector"}, {8, 17, "boot sector"}, {4, 32, "boot sector"}, {16, 63, "boot sector"},
        {255, 63, "boot sector"},
    };
    for (const pc98_geometry& g : tried) {
        if (fits(table, g.heads, g.sectors) && finds_boot_sector(cache, table, g))
            return g;
    }
    return pc98_geometry{8, 32, "assumed"};
}

const char* system_name(uint8_t sid)
{
    switch (sid & 0x7F) {
    case 0x01: return "DOS FAT12";
    case 0x11: return "DOS FAT16 (under 32M)";
    case 0x21: return "DOS FAT16 (over 32M)";
    case 0x31: return "NTFS";
    case 0x28:
    case 0x41:
    case 0x48: return "Windows NT";
    case 0x61: return "DOS/Windows FAT32";
    case 0x04: return "PC-UX";
    case 0x06: return "N88-BASIC";
    case 0x44: return "BSD";
    case 0x62: return "Linux";
    }
    return nullptr;
}

void print_geometry(const pc98_geometry& g)
{
    char number[32];
    out_printf("  P98:Track per cylinder     %13s\n", format_grouped(g.heads, number));
    out_printf("  P98:Sector per track       %13s\n", format_grouped(g.sectors, number));
    out_printf("  P98:Geometry from          %13s\n", g.source);
}

} // namespace

bool holds_pc98_table(sector_cache* cache, const uint8_t* sector0)
{
    if (!has_ipl_signature(cache->medium, sector0))
        return false;
    pc98_table table;
    if (read_pc98_table(cache, &table) != 0)
        return false;
    bool used = false;
    for (uint32_t i = 0; i < table.entries; i++) {
        const uint8_t* e = table.bytes + PC98_ENTRY_SIZE * i;
        if (!is_used(e))
            continue;
        pc98_fields f = fields_of(e);
        if (f.end_cylinder < f.start_cylinder)
            return false;
        used = true;
    }
    return used;
}

int decode_pc98(const medium_reader* medium, const uint8_t*, const report_options& options)
{
    sector_cache cache = make_sector_cache(medium);
    pc98_table table;
    if (read_pc98_table(&cache, &table) != 0)
        return -1;
    pc98_geometry geometry = choose_geometry(&cache, table);
    layout_report report{options, LAYOUT_PC98, medium};
    begin_map_layout(
        report, true,
        [&] {
            return json_value{{"geometry",
                               {{"heads", geometry.heads},
                                {"sectors_per_track", geometry.sectors},
                                {"source", geometry.source}}}};
        },
        [&] { print_geometry(geometry); });
    uint64_t highest_end = 0;
    for (uint32_t i = 0; i < table.entries; i++) {
        const uint8_t* e = table.bytes + PC98_ENTRY_SIZE * i;
        if (!is_used(e))
            continue;
        partition_entry entry{};
        entry.number = i + 1;
        entry.type_code = -1;
        entry.map.pc98 = fields_of(e);
        const pc98_fields& f = entry.map.pc98;
        entry.boot_indicator = f.mid & 0x80;
        entry.start = first_sector(f, geometry);
        uint64_t last = last_sector(f, geometry);
        entry.sectors = last >= entry.start ? last - entry.start + 1 : 0;
        const char* name = system_name(f.sid);
        if (name != nullptr)
            snprintf(entry.type_text, sizeof entry.type_text, "%s", name);
        else
            snprintf(entry.type_text, sizeof entry.type_text, "system %02XH/%02XH", unsigned(f.mid), unsigned(f.sid));
        copy_trimmed_field(entry.name_text, e + 16, 16);
        list_map_entry(report, &cache, &entry, &highest_end);
    }
    return end_map_layout(report, layout_end{true, 0, CHAIN_NOT_STOPPED, 0}, highest_end);
}
