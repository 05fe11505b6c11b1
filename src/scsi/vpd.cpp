// Vital product data: the unit's textual pages (ASCII information, serial
// number, ASCII operating definition), each shown as its answer arrives;
// under -json they make the unit's "vpd" object.
#include <array>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <map>

#include "format/format.h"
#include "format/json.h"
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

// The lines of an ASCII information page: runs of bytes between control
// bytes (zero bytes included), each decoded as device text.
static json_value text_lines_json(const uint8_t* text, int length)
{
    json_value lines = json_value::array();
    int start = 0;
    for (int i = 0; i <= length; i++) {
        bool control = i == length || text[i] < 0x20 || text[i] == 0x7F;
        if (!control)
            continue;
        if (i > start)
            lines.push_back(decode_device_text(text + start, size_t(i - start)));
        start = i + 1;
    }
    return lines;
}

// One page's answer, shown or added to the unit's "vpd" object.
static void render_vpd_page(uint8_t code, const std::array<uint8_t, VPD_SIZE>& page, json_value* vpd)
{
    if (code <= VPD_LAST_ASCII_INFORMATION) {
        const uint8_t* text = page.data() + 5;
        int length = clamp_vpd_length(page, 4);
        if (vpd == nullptr) {
            char label[32];
            std::snprintf(label, sizeof label, "  VPD:FRU information (%02XH)  ", unsigned(code));
            print_vpd_text_lines(label, text, length);
            return;
        }
        (*vpd)["ascii_information"].push_back(
            {{"page", code}, {"lines", text_lines_json(text, length)}, {"hex", hex_text(text, size_t(length))}});
        return;
    }
    bool serial = code == VPD_UNIT_SERIAL_NUMBER;
    const uint8_t* text = page.data() + (serial ? 4 : 5);
    int length = clamp_vpd_length(page, serial ? 3 : 4);
    if (vpd == nullptr) {
        print_vpd_field(serial ? "  VPD:Unit serial number     " : "  VPD:Ascii action mode      ", text, length);
        return;
    }
    put_device_text(vpd, serial ? "unit_serial_number" : "ascii_operating_definition", text, size_t(length));
}

void report_vpd_pages(device_address unit, const report_options& options)
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
    json_value vpd;
    json_value* record = options.json != nullptr ? &vpd : nullptr;
    if (record != nullptr)
        vpd["supported_pages"] = std::vector<uint8_t>(supported.begin(), supported.begin() + count);

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
        render_vpd_page(code, page, record);
    }
    if (record != nullptr)
        json_put(options.json, "vpd", vpd);
}
