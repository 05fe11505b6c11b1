// The GUID partition table behind a protective MBR entry. Its header lies
// in sector 1 with a backup in the last sector; each is checked as libblkid
// checks it (signature, header size, header CRC, its own address, a usable
// range inside the medium, 128-byte entries, the entry array's CRC) and the
// backup stands in for a damaged primary. The entry array is read a sector
// at a time, twice: once for its CRC, once to list it, so that no table of
// any size is ever held whole.
#include <cstdio>
#include <cstring>
#include <vector>

#include "format/bytes.h"
#include "format/crc32.h"
#include "format/format.h"
#include "format/output.h"
#include "format/utf16.h"
#include "partition/maps.h"

namespace {

constexpr uint32_t GPT_HEADER_SIZE = 92;  // the fields of revision 1.0
constexpr uint32_t GPT_ENTRY_SIZE = 128;
constexpr uint32_t GPT_NAME_UNITS = 36;   // UTF-16 code units of an entry's name
// Real tables hold 128 entries; a count beyond this one is damage, and
// would only make a hostile header cost minutes of reading.
constexpr uint32_t MAX_GPT_ENTRIES = 65536;

struct gpt_header {
    uint64_t my_lba;
    uint64_t alternate_lba;
    uint64_t first_usable;
    uint64_t last_usable;
    uint8_t disk_guid[16];
    uint64_t entries_lba;
    uint32_t entry_count;
    uint32_t entry_size;
    uint32_t entries_crc;
};

struct gpt_type {
    const char* guid;
    const char* name;
};

// The type GUIDs most disks carry, named as the partitioning tools name them.
const gpt_type gpt_types[] = {
    {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI System"},
    {"024DEE41-33E7-11D3-9D69-0008C781F39F", "MBR partition scheme"},
    {"21686148-6449-6E6F-744E-656564454649", "BIOS boot"},
    {"D3BFE2DE-3DAF-11DF-BA40-E3A556D89593", "Intel Fast Flash"},
    {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
    {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
    {"5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", "Microsoft LDM metadata"},
    {"AF9B60A0-1431-4F62-BC68-3311714A69AD", "Microsoft LDM data"},
    {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery"},
    {"E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D", "Microsoft Storage Spaces"},
    {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
    {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
    {"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},
    {"A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID"},
    {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux home"},
    {"3B8F8425-20E0-4F3B-907F-1A25A76F98E8", "Linux server data"},
    {"44479540-F297-41B2-9AF7-D131D5F0458A", "Linux root (x86)"},
    {"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "Linux root (x86-64)"},
    {"69DAD710-2CE4-4E3C-B16C-21A1D49ABED3", "Linux root (ARM)"},
    {"B921B045-1DF0-41C3-AF44-4C6F280D3FAE", "Linux root (ARM-64)"},
    {"4D21B016-B534-45C2-A9FB-5C16E091FD2D", "Linux variable data"},
    {"7EC6F557-3BC5-4ACA-B293-16EF5DF639D1", "Linux temporary data"},
    {"BC13C2FF-59E6-4262-A352-B275FD6F7172", "Linux extended boot"},
    {"CA7D7CCB-63ED-4C53-861C-1742536059CC", "Linux LUKS"},
    {"8DA63339-0007-60C0-C436-083AC8230908", "Linux reserved"},
    {"FE3A2A5D-4F32-41A7-B725-ACCC3285A309", "ChromeOS kernel"},
    {"3CB8E202-3B7E-47DD-8A3C-7FF2A13CFCEC", "ChromeOS root fs"},
    {"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS/HFS+"},
    {"7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS"},
    {"55465300-0000-11AA-AA11-00306543ECAC", "Apple UFS"},
    {"52414944-0000-11AA-AA11-00306543ECAC", "Apple RAID"},
    {"426F6F74-0000-11AA-AA11-00306543ECAC", "Apple boot"},
    {"4C616265-6C00-11AA-AA11-00306543ECAC", "Apple label"},
    {"5265636F-7665-11AA-AA11-00306543ECAC", "Apple TV recovery"},
    {"6A898CC3-1DD2-11B2-99A6-080020736631", "Solaris /usr & Apple ZFS"},
    {"6A82CB45-1DD2-11B2-99A6-080020736631", "Solaris boot"},
    {"6A85CF4D-1DD2-11B2-99A6-080020736631", "Solaris root"},
    {"6A87C46F-1DD2-11B2-99A6-080020736631", "Solaris swap"},
    {"83BD6B9D-7F41-11DC-BE0B-001560B84F0F", "FreeBSD boot"},
    {"516E7CB4-6ECF-11D6-8FF8-00022D09712B", "FreeBSD data"},
    {"516E7CB5-6ECF-11D6-8FF8-00022D09712B", "FreeBSD swap"},
    {"516E7CB6-6ECF-11D6-8FF8-00022D09712B", "FreeBSD UFS"},
    {"516E7CB8-6ECF-11D6-8FF8-00022D09712B", "FreeBSD Vinum"},
    {"516E7CBA-6ECF-11D6-8FF8-00022D09712B", "FreeBSD ZFS"},
    {"49F48D32-B10E-11DC-B99B-0019D1879648", "NetBSD swap"},
    {"49F48D5A-B10E-11DC-B99B-0019D1879648", "NetBSD FFS"},
    {"49F48D82-B10E-11DC-B99B-0019D1879648", "NetBSD LFS"},
    {"2DB519C4-B10F-11DC-B99B-0019D1879648", "NetBSD concatenated"},
    {"2DB519EC-B10F-11DC-B99B-0019D1879648", "NetBSD encrypted"},
    {"49F48DAA-B10E-11DC-B99B-0019D1879648", "NetBSD RAID"},
    {"824CC7A0-36A8-11E3-890A-952519AD3F61", "OpenBSD data"},
    {"9D275380-40AD-11DB-BF97-000C2911D1B8", "VMware VMFS"},
    {"AA31E02A-400F-11DB-9590-000C2911D1B8", "VMware reserved"},
    {"C91818F9-8025-47AF-89D2-F030D7000C2C", "Plan 9"},
    {"37AFFC90-EF7D-4E96-91C3-2D7AE055B174", "IBM GPFS"},
    {"42465331-3BA3-10F1-802A-4861696B7521", "Haiku BFS"},
};

bool is_zero(const uint8_t* bytes, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

// The CRC of count x 128 bytes from sector lba on, read a sector at a time.
int crc_of_entries(sector_cache* cache, const gpt_header& h, uint32_t* crc)
{
    uint32_t size = cache->medium->sector_size;
    std::vector<uint8_t> chunk(size);
    uint64_t offset = h.entries_lba * size;
    uint64_t left = uint64_t(h.entry_count) * GPT_ENTRY_SIZE;
    uint32_t sum = 0;
    while (left > 0) {
        uint32_t part = left < size ? uint32_t(left) : size;
        if (read_medium_bytes(cache, offset, part, chunk.data()) != 0)
            return -1;
        sum = update_crc32(sum, chunk.data(), part);
        offset += part;
        left -= part;
    }
    *crc = sum;
    return 0;
}

// Reads and checks the header at lba. Null when it is sound, else what is
// wrong with it.
const char* check_gpt_header(sector_cache* cache, uint64_t lba, gpt_header* h)
{
    const medium_reader* medium = cache->medium;
    uint32_t size = medium->sector_size;
    if (lba == 0 || lba >= medium->sector_count)
        return "outside the medium";
    std::vector<uint8_t> sector(size);
    if (read_medium_bytes(cache, lba * size, size, sector.data()) != 0)
        return "unreadable";
    const uint8_t* s = sector.data();
    if (std::memcmp(s, "EFI PART", 8) != 0)
        return "no signature";
    uint32_t header_size = get_le32(s + 12);
    if (header_size < GPT_HEADER_SIZE || header_size > size)
        return "header size";
    uint32_t stored_crc = get_le32(s + 16);
    std::memset(sector.data() + 16, 0, 4);
    if (update_crc32(0, s, header_size) != stored_crc)
        return "header CRC";
    h->my_lba = get_le64(s + 24);
    h->alternate_lba = get_le64(s + 32);
    h->first_usable = get_le64(s + 40);
    h->last_usable = get_le64(s + 48);
    std::memcpy(h->disk_guid, s + 56, 16);
    h->entries_lba = get_le64(s + 72);
    h->entry_count = get_le32(s + 80);
    h->entry_size = get_le32(s + 84);
    h->entries_crc = get_le32(s + 88);
    if (h->my_lba != lba)
        return "not at its own address";
    if (h->first_usable > h->last_usable || h->last_usable >= medium->sector_count)
        return "usable range";
    if (h->entry_size != GPT_ENTRY_SIZE)
        return "entry size";
    if (h->entry_count == 0 || h->entry_count > MAX_GPT_ENTRIES)
        return "entry count";
    uint64_t array_sectors = (uint64_t(h->entry_count) * GPT_ENTRY_SIZE + size - 1) / size;
    if (h->entries_lba == 0 || h->entries_lba >= medium->sector_count ||
        array_sectors > medium->sector_count - h->entries_lba)
        return "entry array outside the medium";
    uint32_t crc = 0;
    if (crc_of_entries(cache, *h, &crc) != 0)
        return "entry array unreadable";
    if (crc != h->entries_crc)
        return "entry array CRC";
    return nullptr;
}

bool same_table(const gpt_header& a, const gpt_header& b)
{
    return std::memcmp(a.disk_guid, b.disk_guid, 16) == 0 && a.first_usable == b.first_usable &&
           a.last_usable == b.last_usable && a.entry_count == b.entry_count && a.entries_crc == b.entries_crc;
}

// What was found of the two headers, and which one the table is read from.
struct gpt_headers {
    gpt_header primary;
    gpt_header backup;
    const char* primary_problem; // null for a sound header
    const char* backup_problem;
    uint64_t backup_lba;
    const gpt_header* table;     // null when neither is sound
    bool backup_differs;
};

void find_headers(sector_cache* cache, gpt_headers* found)
{
    gpt_headers& h = *found;
    h.primary_problem = check_gpt_header(cache, 1, &h.primary);
    // A sound primary names its backup; else the backup is sought where it
    // belongs, in the last sector.
    h.backup_lba = h.primary_problem == nullptr ? h.primary.alternate_lba : cache->medium->sector_count - 1;
    h.backup_problem = check_gpt_header(cache, h.backup_lba, &h.backup);
    if (h.primary_problem == nullptr)
        h.table = &h.primary;
    else if (h.backup_problem == nullptr)
        h.table = &h.backup;
    h.backup_differs = h.primary_problem == nullptr && h.backup_problem == nullptr && !same_table(h.primary, h.backup);
}

void print_headers(const gpt_headers& h)
{
    char number[32], text[40];
    if (h.primary_problem == nullptr && h.backup_problem != nullptr)
        out_printf("  GPT:Backup header missing at sector %s (%s)\n", format_grouped64(h.backup_lba, number),
                   h.backup_problem);
    else if (h.backup_differs)
        out_printf("  GPT:Backup header at sector %s differs from the primary\n",
                   format_grouped64(h.backup_lba, number));
    else if (h.primary_problem != nullptr && h.backup_problem == nullptr)
        out_printf("  GPT:Primary header damaged (%s), backup at sector %s used\n", h.primary_problem,
                   format_grouped64(h.backup_lba, number));
    else if (h.primary_problem != nullptr)
        out_printf("  GPT:No valid header: primary (%s), backup at sector %s (%s)\n", h.primary_problem,
                   format_grouped64(h.backup_lba, number), h.backup_problem);
    if (h.table == nullptr)
        return;
    out_printf("  GPT:Disk GUID              %s\n", format_guid(h.table->disk_guid, text));
    out_printf("  GPT:First usable sector    %13s\n", format_grouped64(h.table->first_usable, text));
    out_printf("  GPT:Last usable sector     %13s\n", format_grouped64(h.table->last_usable, text));
    out_printf("  GPT:Partition entries      %13s\n", format_grouped(h.table->entry_count, text));
}

json_value headers_json(const gpt_headers& h)
{
    auto problem = [](const char* p) { return p != nullptr ? json_value(p) : json_value(nullptr); };
    json_value j;
    j["primary"] = {{"sector", 1}, {"problem", problem(h.primary_problem)}};
    j["backup"] = {{"sector", h.backup_lba}, {"problem", problem(h.backup_problem)}, {"differs", h.backup_differs}};
    j["header_used"] = h.table == &h.primary ? json_value("primary")
                       : h.table != nullptr  ? json_value("backup")
                                             : json_value(nullptr);
    if (h.table != nullptr) {
        char guid[40];
        j["disk_guid"] = format_guid(h.table->disk_guid, guid);
        j["first_usable"] = h.table->first_usable;
        j["last_usable"] = h.table->last_usable;
        j["entries_lba"] = h.table->entries_lba;
        j["entry_count"] = h.table->entry_count;
    }
    return j;
}

// One used entry as a partition record.
partition_entry gpt_entry(uint32_t index, const uint8_t* e)
{
    partition_entry entry{};
    entry.number = index + 1;
    entry.type_code = -1;
    gpt_fields& f = entry.map.gpt;
    std::memcpy(f.type_guid, e, 16);
    std::memcpy(f.unique_guid, e + 16, 16);
    f.first_lba = get_le64(e + 32);
    f.last_lba = get_le64(e + 40);
    f.attributes = get_le64(e + 48);
    entry.start = f.first_lba;
    // A last sector before the first is damage: the entry covers nothing.
    entry.sectors = f.last_lba >= f.first_lba && f.last_lba - f.first_lba < UINT64_MAX
                        ? f.last_lba - f.first_lba + 1
                        : 0;
    // Attribute bit 2: bootable by a legacy BIOS.
    entry.boot_indicator = (f.attributes & 4) != 0 ? 0x80 : 0;
    char guid[40];
    format_guid(f.type_guid, guid);
    const char* type = guid;
    for (const gpt_type& t : gpt_types) {
        if (std::strcmp(t.guid, guid) == 0)
            type = t.name;
    }
    snprintf(entry.type_text, sizeof entry.type_text, "%s", type);
    static_assert(sizeof entry.name_text >= 3 * GPT_NAME_UNITS + 1, "room for the UTF-8 form of a name");
    copy_utf16le_field(entry.name_text, e + 56, GPT_NAME_UNITS);
    return entry;
}

// Lists the used entries; the highest end among them, from the first usable
// sector on.
uint64_t list_entries(const layout_report& report, sector_cache* cache, const gpt_header& h)
{
    uint32_t size = cache->medium->sector_size;
    uint8_t e[GPT_ENTRY_SIZE];
    uint64_t highest_end = h.first_usable;
    for (uint32_t i = 0; i < h.entry_count; i++) {
        if (read_medium_bytes(cache, h.entries_lba * size + uint64_t(i) * GPT_ENTRY_SIZE, GPT_ENTRY_SIZE, e) != 0)
            break;
        if (is_zero(e, 16))
            continue;
        partition_entry entry = gpt_entry(i, e);
        list_map_entry(report, cache, &entry, &highest_end);
    }
    return highest_end;
}

} // namespace

char* format_guid(const uint8_t* g, char* out)
{
    snprintf(out, 37, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", unsigned(get_le32(g)),
             unsigned(get_le16(g + 4)), unsigned(get_le16(g + 6)), g[8], g[9], g[10], g[11], g[12], g[13], g[14],
             g[15]);
    return out;
}

void report_gpt(const report_options& options, const medium_reader* medium)
{
    sector_cache cache = make_sector_cache(medium);
    gpt_headers headers{};
    find_headers(&cache, &headers);
    layout_report report{options, LAYOUT_GPT, medium};
    begin_map_layout(
        report, true, [&] { return headers_json(headers); }, [&] { print_headers(headers); });
    layout_end end{headers.table != nullptr, 0, CHAIN_NOT_STOPPED, 0};
    if (headers.table != nullptr) {
        // The free space lies after the last entry up to the last usable sector.
        uint64_t highest_end = list_entries(report, &cache, *headers.table);
        uint64_t usable_end = headers.table->last_usable + 1;
        end.free_sectors = highest_end < usable_end ? usable_end - highest_end : 0;
    }
    end_layout(report, end);
}

void print_gpt_entry_details(const partition_entry& entry)
{
    char guid[40];
    out_printf("        GPT:Partition GUID   %s\n", format_guid(entry.map.gpt.unique_guid, guid));
    char attributes[24];
    snprintf(attributes, sizeof attributes, "%llXH", static_cast<unsigned long long>(entry.map.gpt.attributes));
    out_printf("        GPT:Attributes       %13s\n", attributes);
}

bool decode_ibm_in_gpt_sectors(const medium_reader* medium, const uint8_t* sector0, const report_options& options,
                               int* result)
{
    constexpr uint32_t GPT_SECTOR_SIZE = 4096;
    if (medium->sector_size != DECODE_SECTOR_SIZE)
        return false;
    bool protective = false;
    for (int i = 0; i < 4; i++)
        protective = protective || sector0[0x1BE + 16 * i + 4] == 0xEE;
    if (!protective)
        return false;
    sector_cache cache = make_sector_cache(medium);
    uint8_t signature[8];
    if (read_medium_bytes(&cache, DECODE_SECTOR_SIZE, sizeof signature, signature) == 0 &&
        std::memcmp(signature, "EFI PART", 8) == 0)
        return false;
    // The medium again in sectors of 4096 bytes, each read as eight of its own.
    struct regrouped {
        const medium_reader* base;
        uint32_t factor;
    } holder{medium, GPT_SECTOR_SIZE / DECODE_SECTOR_SIZE};
    medium_reader wide{
        [](const medium_reader* m, uint64_t block, uint32_t count, uint8_t* buffer) {
            const auto* r = static_cast<const regrouped*>(m->holder);
            if (block > UINT64_MAX / r->factor || uint64_t(count) * r->factor > UINT32_MAX)
                return -1;
            return read_medium(r->base, block * r->factor, count * r->factor, buffer);
        },
        &holder, GPT_SECTOR_SIZE, medium->sector_count / (GPT_SECTOR_SIZE / DECODE_SECTOR_SIZE)};
    sector_cache wide_cache = make_sector_cache(&wide);
    gpt_header header{};
    if (check_gpt_header(&wide_cache, 1, &header) != nullptr)
        return false;
    std::vector<uint8_t> wide_sector0(GPT_SECTOR_SIZE);
    if (read_medium(&wide, 0, 1, wide_sector0.data()) != 0)
        return false;
    *result = decode_ibm_hard_disk(&wide, wide_sector0.data(), options);
    return true;
}
