// Vital product data: the unit's textual pages (ASCII information, serial
// number, ASCII operating definition).
#include <array>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <map>

#include "format/format.h"
#include "format/output.h"
#include "scsi/reports.h"

constexpr int VPD_SIZE = 255;
// The INQUIRY operation's mark for a unit that gave no data.
constexpr uint8_t VPD_NO_DATA = 0xFF;

enum : uint8_t {
    VPD_SUPPORTED_PAGES = 0x00,
    VPD_LAST_ASCII_INFORMATION = 0x7F,
    VPD_UNIT_SERIAL_NUMBER = 0x80,
    VPD_ASCII_OPERATING_DEFINITION = 0x82,
};

// Length field at byte `at`, bounded by the bytes that follow it in the buffer.
static int clamp_vpd_length(const std::array<uint8_t, VPD_SIZE>& page, int at)
{
    int room = VPD_SIZE - (at + 1);
    return page[at] < room ? page[at] : room;
}

void print_vpd_text_lines(const char* label, const uint8_t* text, int length)
{
    bool line_open = false;
    bool label_due = true;
    int label_width = int(std::strlen(label));
    for (int i = 0; i < length; i++) {
        if (!is_printable_byte(text[i])) {
            // A run of unprintable bytes ends the line once.
            if (line_open)
                out_putc('\n');
            line_open = false;
            continue;
        }
        if (!line_open) {
            if (label_due)
                out_puts(label);
            else
                out_printf("%*s", label_width, "");
            label_due = false;
            line_open = true;
        }
        out_putc(char(text[i]));
    }
    if (line_open)
        out_putc('\n');
}

void print_vpd_field(const char* label, const uint8_t* text, int length)
{
    char value[VPD_SIZE + 1];
    if (length < 0)
        length = 0;
    if (length > VPD_SIZE)
        length = VPD_SIZE;
    out_puts(label);
    if (length == 0)
        value[0] = 0;
    else
        copy_trimmed_field(value, text, length);
    out_printf("%13s\n", value);
}

void print_vpd_pages(device_address unit)
{
    std::array<uint8_t, VPD_SIZE> page{};
    if (scsi_inquiry(unit, VPD_SUPPORTED_PAGES, VPD_SIZE, page.data()) != 0 || page[0] == VPD_NO_DATA)
        return;
    int count = clamp_vpd_length(page, 3);
    if (count == 0)
        return;
    // Each page answer overwrites the buffer, so the list is copied first.
    std::array<uint8_t, 256> supported{};
    std::memcpy(supported.data(), page.data() + 4, size_t(count));
    // A page listed more than once is asked once: its answer (or that it
    // gave none) is kept for the other places in the list, which print as
    // they always did.
    std::map<uint8_t, std::array<uint8_t, VPD_SIZE>> answered;
    std::bitset<256> asked;

    for (int i = 0; i < count; i++) {
        uint8_t code = supported[i];
        // Only the text pages print; the others (81h, 83h and up) are not
        // asked for, since nothing of their answer would be shown.
        bool prints = code <= VPD_LAST_ASCII_INFORMATION || code == VPD_UNIT_SERIAL_NUMBER ||
                      code == VPD_ASCII_OPERATING_DEFINITION;
        if (code == VPD_SUPPORTED_PAGES || !prints)
            continue;
        if (asked[code]) {
            auto kept = answered.find(code);
            if (kept == answered.end())
                continue;
            page = kept->second;
        } else {
            asked[code] = true;
            page.fill(0);
            if (scsi_inquiry(unit, code, VPD_SIZE, page.data()) != 0 || page[0] == VPD_NO_DATA)
                continue;
            answered[code] = page;
        }
        if (code <= VPD_LAST_ASCII_INFORMATION) {
            char label[32];
            std::snprintf(label, sizeof label, "  VPD:FRU information (%02XH)  ", unsigned(code));
            print_vpd_text_lines(label, page.data() + 5, clamp_vpd_length(page, 4));
        } else if (code == VPD_UNIT_SERIAL_NUMBER) {
            print_vpd_field("  VPD:Unit serial number     ", page.data() + 4, clamp_vpd_length(page, 3));
        } else if (code == VPD_ASCII_OPERATING_DEFINITION) {
            print_vpd_field("  VPD:Ascii action mode      ", page.data() + 5, clamp_vpd_length(page, 4));
        }
    }
}
