// Defect list report: one of the unit's defect lists, entry by entry, in
// the entry layout the unit answers with.
#include <array>

#include "format/bytes.h"
#include "format/json.h"
#include "format/output.h"
#include "scsi/reports.h"

constexpr int DEFECT_DATA_SIZE = 255;
constexpr int DEFECT_HEADER_SIZE = 4;
// Entry bytes the buffer can hold after the header, whatever length the unit
// claims for its whole list.
constexpr int DEFECT_ENTRY_ROOM = DEFECT_DATA_SIZE - DEFECT_HEADER_SIZE;
constexpr int MAX_DEFECT_ENTRIES = DEFECT_ENTRY_ROOM / 4;

enum : uint8_t {
    DEFECT_FORMAT_BLOCK = 0,
    DEFECT_FORMAT_BYTES_FROM_INDEX = 4,
    DEFECT_FORMAT_PHYSICAL_SECTOR = 5,
};

// A block address, or a cylinder, head and position (bytes from index or
// sector number).
struct defect_entry {
    uint32_t block_or_cylinder;
    uint32_t head;
    uint32_t position;
};

struct defect_list {
    unsigned selector;
    uint8_t format;
    uint32_t list_length; // bytes of entries, as the unit claims them
    int count;            // whole entries that arrived
    std::array<defect_entry, MAX_DEFECT_ENTRIES> entries;
};

static bool is_known_format(uint8_t format)
{
    return format == DEFECT_FORMAT_BLOCK || format == DEFECT_FORMAT_BYTES_FROM_INDEX ||
           format == DEFECT_FORMAT_PHYSICAL_SECTOR;
}

// -1 when the request fails.
static int read_defect_list(device_address unit, unsigned selector, defect_list* list)
{
    std::array<uint8_t, DEFECT_DATA_SIZE> data{};
    if (scsi_read_defect_data(unit, selector, DEFECT_DATA_SIZE, data.data()) != 0)
        return -1;
    list->selector = selector;
    list->format = data[1] & 0x07;
    list->list_length = get_be16(data.data() + 2);
    list->count = 0;
    if (!is_known_format(list->format))
        return 0;
    // Only whole entries that arrived are shown.
    int entry_size = list->format == DEFECT_FORMAT_BLOCK ? 4 : 8;
    uint32_t entry_bytes =
        list->list_length < uint32_t(DEFECT_ENTRY_ROOM) ? list->list_length : uint32_t(DEFECT_ENTRY_ROOM);
    list->count = int(entry_bytes) / entry_size;
    for (int i = 0; i < list->count; i++) {
        const uint8_t* e = data.data() + DEFECT_HEADER_SIZE + i * entry_size;
        defect_entry& entry = list->entries[size_t(i)];
        if (list->format == DEFECT_FORMAT_BLOCK) {
            entry = defect_entry{get_be32(e), 0, 0};
        } else {
            entry = defect_entry{get_be24(e), e[3], get_be32(e + 4)};
        }
    }
    return 0;
}

static const char* name_defect_list(unsigned selector)
{
    switch (selector) {
    case 1: return "G List";
    case 2: return "P List";
    case 3: return "P & G List";
    default: return "Header only";
    }
}

static void print_defect_entry(uint8_t format, const defect_entry& e)
{
    if (format == DEFECT_FORMAT_BLOCK)
        out_printf("%08X", unsigned(e.block_or_cylinder));
    else
        out_printf("Cy:%06X Hd:%02X %s:%08X", unsigned(e.block_or_cylinder), unsigned(e.head),
                   format == DEFECT_FORMAT_BYTES_FROM_INDEX ? "Bt" : "No", unsigned(e.position));
}

static void print_list(const defect_list& list)
{
    out_puts("  Defect List                ");
    const char* label = name_defect_list(list.selector);
    int per_line = 3;
    switch (list.format) {
    case DEFECT_FORMAT_BLOCK:
        out_printf("%13s  (Block address)\n", label);
        per_line = 6;
        break;
    case DEFECT_FORMAT_BYTES_FROM_INDEX:
        out_printf("%13s  (Distance from index)\n", label);
        break;
    case DEFECT_FORMAT_PHYSICAL_SECTOR:
        out_printf("%13s  (Physical sector address)\n", label);
        break;
    default:
        out_puts("Vender unique\n");
        return;
    }
    for (int i = 0; i < list.count; i++) {
        out_puts("    ");
        print_defect_entry(list.format, list.entries[size_t(i)]);
        if (i % per_line == per_line - 1)
            out_putc('\n');
    }
    if (list.count == 0)
        out_printf("                             %13s\n", "nothing");
    else if (list.count % per_line != 0)
        out_putc('\n');
}

static json_value list_json(const defect_list& list)
{
    static const char* const list_names[] = {"none", "grown", "primary", "primary_and_grown"};
    static const char* const format_names[] = {"block", "", "", "", "bytes_from_index", "physical_sector"};
    json_value j;
    j["list"] = list_names[list.selector & 3];
    j["format_code"] = list.format;
    j["format"] = is_known_format(list.format) ? format_names[list.format] : "vendor_unique";
    j["list_length_bytes"] = list.list_length;
    json_value entries = json_value::array();
    for (int i = 0; i < list.count; i++) {
        const defect_entry& e = list.entries[size_t(i)];
        if (list.format == DEFECT_FORMAT_BLOCK)
            entries.push_back({{"block", e.block_or_cylinder}});
        else
            entries.push_back({{"cylinder", e.block_or_cylinder},
                               {"head", e.head},
                               {list.format == DEFECT_FORMAT_BYTES_FROM_INDEX ? "bytes_from_index" : "sector",
                                e.position}});
    }
    if (is_known_format(list.format))
        j["entries"] = entries;
    return j;
}

void print_defect_list(device_address unit, unsigned selector)
{
    defect_list list{};
    if (read_defect_list(unit, selector, &list) == 0)
        print_list(list);
}

void report_defect_lists(device_address unit, const report_options& options)
{
    json_value lists = json_value::array();
    for (unsigned selector : {2u, 1u}) {
        defect_list list;
        if (read_defect_list(unit, selector, &list) != 0)
            continue;
        if (options.json != nullptr)
            lists.push_back(list_json(list));
        else
            print_list(list);
    }
    if (options.json != nullptr && !lists.empty())
        json_put(options.json, "defect_lists", lists);
}
