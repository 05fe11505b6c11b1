// Disconnect-reconnect page (02h): bus ratios, time limits, burst size.
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"

int decode_disconnect_reconnect_page(const mode_data&, const uint8_t* page, disconnect_reconnect_page* record)
{
    if (page == nullptr)
        return -1;
    record->buffer_full_ratio = page[2];
    record->buffer_empty_ratio = page[3];
    record->bus_inactivity_limit = get_be16(page + 4);
    record->disconnect_time_limit = get_be16(page + 6);
    record->connect_time_limit = get_be16(page + 8);
    record->maximum_burst_size = get_be16(page + 10);
    record->data_transfer_disconnect = page[12] & 0x03;
    return 0;
}

// "Target unique" for 0, else the numerator over 256; 13 characters.
static const char* form_ratio(uint32_t ratio, char* out, size_t size)
{
    if (ratio == 0)
        return TEXT_TARGET_UNIQUE;
    char figure[14];
    std::snprintf(out, size, "%9s/256", format_grouped(ratio, figure));
    return out;
}

// The unit counts in 100-microsecond steps. The figure shows milliseconds
// with one decimal place, so every count is shown exactly: 1 is 0.1 msec,
// 65535 is 6,553.5 msec. Only a count of 0 means no limit.
static const char* form_limit(uint32_t count, char* out, size_t size)
{
    if (count == 0)
        return TEXT_LIMITLESS;
    char whole[14];
    char figure[20];
    std::snprintf(figure, sizeof figure, "%s.%u", format_grouped(count / 10, whole), unsigned(count % 10));
    std::snprintf(out, size, "%13s msec", figure);
    return out;
}

// The unit counts in 512-byte blocks.
static const char* form_burst(uint32_t count, char* out, size_t size)
{
    if (count == 0)
        return TEXT_LIMITLESS;
    char figure[14];
    std::snprintf(out, size, "%13s bytes", format_grouped(count << 9, figure));
    return out;
}

void print_disconnect_reconnect_page(const disconnect_reconnect_page& r)
{
    char text[32];
    print_page_text("DRP:Buffer full  ratio", form_ratio(r.buffer_full_ratio, text, sizeof text));
    print_page_text("DRP:Buffer empty ratio", form_ratio(r.buffer_empty_ratio, text, sizeof text));
    print_page_text("DRP:Bus inactive limit", form_limit(r.bus_inactivity_limit, text, sizeof text));
    print_page_text("DRP:Disconnect limit time", form_limit(r.disconnect_time_limit, text, sizeof text));
    print_page_text("DRP:Connect time limit", form_limit(r.connect_time_limit, text, sizeof text));
    print_page_text("DRP:Maximum burst size", form_burst(r.maximum_burst_size, text, sizeof text));
    print_page_number("DRP:Data trans. disconnect", r.data_transfer_disconnect);
}

json_value disconnect_reconnect_page_json(const disconnect_reconnect_page& r)
{
    return {
        {"buffer_full_ratio", r.buffer_full_ratio},
        {"buffer_empty_ratio", r.buffer_empty_ratio},
        {"bus_inactivity_limit_100us", r.bus_inactivity_limit},
        {"disconnect_time_limit_100us", r.disconnect_time_limit},
        {"connect_time_limit_100us", r.connect_time_limit},
        {"maximum_burst_size_bytes", uint64_t(r.maximum_burst_size) * 512},
        {"data_transfer_disconnect_control", r.data_transfer_disconnect},
    };
}
