// The table of mode pages and the one fetch-and-locate step they share: each
// page is asked for once, located after the header and block descriptors,
// decoded into its record and shown as text or as JSON.
#include "format/format.h"
#include "format/json.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"
#include "scsi/modepages/modepages.h"

namespace {

struct mode_page_decoder;
using render_function = void (*)(const mode_page_decoder& decoder, const mode_data& data, const uint8_t* page,
                                  const report_options& options, json_value* pages);

struct mode_page_decoder {
    uint8_t code;
    const char* key;   // the page's name in the JSON document
    int last_byte;     // the last page byte its fields need
    unsigned classes;  // DEVICE_* bits of the units that ask for it
    mode_page_step step;
    render_function render;
};

template <typename Record, int (*decode)(const mode_data&, const uint8_t*, Record*), void (*print)(const Record&),
          json_value (*to_json)(const Record&)>
void render_page(const mode_page_decoder& decoder, const mode_data& data, const uint8_t* page,
                 const report_options& options, json_value* pages)
{
    Record record{};
    if (decode(data, page, &record) != 0)
        return;
    if (options.json == nullptr)
        print(record);
    else if (pages != nullptr)
        (*pages)[decoder.key] = to_json(record);
}

constexpr unsigned ALL_DEVICES = DEVICE_DISK | DEVICE_SEQUENTIAL | DEVICE_WRITE_ONCE | DEVICE_CDROM | DEVICE_OTHER;

// In the order of the report.
const mode_page_decoder mode_page_table[] = {
    {0x09, "peripheral_device", 3, ALL_DEVICES, MODE_STEP_FIRST,
     render_page<peripheral_device_page, decode_peripheral_device_page, print_peripheral_device_page,
                 peripheral_device_page_json>},
    {0x02, "disconnect_reconnect", 12, ALL_DEVICES, MODE_STEP_AFTER_DEFECTS,
     render_page<disconnect_reconnect_page, decode_disconnect_reconnect_page, print_disconnect_reconnect_page,
                 disconnect_reconnect_page_json>},
    {0x10, "device_configuration", 14, DEVICE_SEQUENTIAL, MODE_STEP_AFTER_BLOCK_LIMITS,
     render_page<device_configuration_page, decode_device_configuration_page, print_device_configuration_page,
                 device_configuration_page_json>},
    {0x03, "format_device", 19, DEVICE_DISK, MODE_STEP_AFTER_BLOCK_LIMITS,
     render_page<format_device_page, decode_format_device_page, print_format_device_page, format_device_page_json>},
    {0x04, "rigid_disk_geometry", 21, DEVICE_DISK, MODE_STEP_AFTER_BLOCK_LIMITS,
     render_page<rigid_disk_geometry_page, decode_rigid_disk_geometry_page, print_rigid_disk_geometry_page,
                 rigid_disk_geometry_page_json>},
    {0x08, "caching", 11, DEVICE_DISK | DEVICE_WRITE_ONCE | DEVICE_CDROM, MODE_STEP_AFTER_BLOCK_LIMITS,
     render_page<caching_page, decode_caching_page, print_caching_page, caching_page_json>},
    // The page's fields end at page byte 15; the whole buffer is asked for,
    // which brings them in after any number of block descriptors.
    {0x0C, "notch", 15, DEVICE_DISK, MODE_STEP_AFTER_BLOCK_LIMITS,
     render_page<notch_page, decode_notch_page, print_notch_page, notch_page_json>},
};

// Clears the buffer and asks the unit for the page (current values). Bytes
// the unit does not send read as 0. -1 when the request fails.
int fetch_mode_page(device_address unit, uint8_t page_code, mode_data* data)
{
    data->bytes.fill(0);
    data->page_offset = MODE_DATA_SIZE;
    if (scsi_mode_sense(unit, page_code, MODE_DATA_SIZE, data->bytes.data()) != 0)
        return -1;
    data->page_offset = 4 + data->bytes[3];
    return 0;
}

} // namespace

const uint8_t* locate_mode_page(const mode_data& data, int last_byte)
{
    // A block descriptor length of up to 255 can place the page, or its
    // later fields, past the end of the buffer: such a page is not decoded.
    if (last_byte < 0 || data.page_offset + last_byte >= MODE_DATA_SIZE)
        return nullptr;
    return data.bytes.data() + data.page_offset;
}

void print_page_text(const char* label, const char* value) { out_printf("  %-27s%13s\n", label, value); }

void print_page_number(const char* label, uint32_t value)
{
    char figure[14];
    print_page_text(label, format_grouped(value, figure));
}

void report_mode_pages(device_address unit, unsigned device_class, mode_page_step step,
                       const report_options& options, json_value* pages)
{
    for (const mode_page_decoder& decoder : mode_page_table) {
        if (decoder.step != step || (decoder.classes & device_class) == 0)
            continue;
        mode_data data;
        if (fetch_mode_page(unit, decoder.code, &data) != 0)
            continue;
        decoder.render(decoder, data, locate_mode_page(data, decoder.last_byte), options, pages);
    }
}
