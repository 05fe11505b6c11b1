// Defect list report: one of the unit's defect lists, entry by entry, in
// the entry layout the unit answers with.
#include <array>

#include "format/bytes.h"
#include "format/output.h"
#include "scsi/reports.h"

constexpr int DEFECT_DATA_SIZE = 255;
constexpr int DEFECT_HEADER_SIZE = 4;
// Entry bytes the buffer can hold after the header, whatever length the unit
// claims for its whole list.
constexpr int DEFECT_ENTRY_ROOM = DEFECT_DATA_SIZE - DEFECT_HEADER_SIZE;

enum : uint8_t {
    DEFECT_FORMAT_BLOCK = 0,
    DEFECT_FORMAT_BYTES_FROM_INDEX = 4,
    DEFECT_FORMAT_PHYSICAL_SECTOR = 5,
};

static const char* name_defect_list(unsigned selector)
{
    switch (selector) {
    case 1: return "G List";
    case 2: return "P List";
    case 3: return "P & G List";
    default: return "Header only";
    }
}

static void print_defect_entry(uint8_t format, const uint8_t* e)
{
    if (format == DEFECT_FORMAT_BLOCK)
        out_printf("%02X%02X%02X%02X", e[0], e[1], e[2], e[3]);
    else
        out_printf("Cy:%02X%02X%02X Hd:%02X %s:%02X%02X%02X%02X", e[0], e[1], e[2], e[3],
                   format == DEFECT_FORMAT_BYTES_FROM_INDEX ? "Bt" : "No", e[4], e[5], e[6], e[7]);
}

void print_defect_list(device_address unit, unsigned selector)
{
    std::array<uint8_t, DEFECT_DATA_SIZE> data{};
    if (scsi_read_defect_data(unit, selector, DEFECT_DATA_SIZE, data.data()) != 0)
        return;
    uint8_t format = data[1] & 0x07;
    uint32_t list_length = get_be16(data.data() + 2);

    out_puts("  Defect List                ");
    const char* label = name_defect_list(selector);
    int entry_size;
    int per_line;
    switch (format) {
    case DEFECT_FORMAT_BLOCK:
        out_printf("%13s  (Block address)\n", label);
        entry_size = 4;
        per_line = 6;
        break;
    case DEFECT_FORMAT_BYTES_FROM_INDEX:
        out_printf("%13s  (Distance from index)\n", label);
        entry_size = 8;
        per_line = 3;
        break;
    case DEFECT_FORMAT_PHYSICAL_SECTOR:
        out_printf("%13s  (Physical sector address)\n", label);
        entry_size = 8;
        per_line = 3;
        break;
    default:
        out_puts("Vender unique\n");
        return;
    }

    // Only whole entries that arrived are shown.
    uint32_t entry_bytes = list_length < uint32_t(DEFECT_ENTRY_ROOM) ? list_length : uint32_t(DEFECT_ENTRY_ROOM);
    int count = int(entry_bytes) / entry_size;
    for (int i = 0; i < count; i++) {
        out_puts("    ");
        print_defect_entry(format, data.data() + DEFECT_HEADER_SIZE + i * entry_size);
        if (i % per_line == per_line - 1)
            out_putc('\n');
    }
    if (count == 0)
        out_printf("                             %13s\n", "nothing");
    else if (count % per_line != 0)
        out_putc('\n');
}
