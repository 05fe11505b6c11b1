// Disconnect-reconnect page (02h): bus ratios, time limits, burst size.
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"
#include "scsi/modepages/modepages.h"

// "Target unique" for 0, else the numerator over 256; 13 characters.
static const char* form_ratio(uint8_t ratio, char* out, size_t size)
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

int print_disconnect_reconnect_page(device_address unit)
{
    mode_data data;
    int status = fetch_mode_page(unit, 0x02, MODE_DATA_SIZE, &data);
    if (status != 0)
        return status;
    const uint8_t* page = locate_mode_page(&data, 12);
    if (page == nullptr)
        return 0;

    char text[32];
    out_printf("  DRP:Buffer full  ratio     %13s\n", form_ratio(page[2], text, sizeof text));
    out_printf("  DRP:Buffer empty ratio     %s\n", form_ratio(page[3], text, sizeof text));
    out_printf("  DRP:Bus inactive limit     %s\n", form_limit(get_be16(page + 4), text, sizeof text));
    out_printf("  DRP:Disconnect limit time  %s\n", form_limit(get_be16(page + 6), text, sizeof text));
    out_printf("  DRP:Connect time limit     %s\n", form_limit(get_be16(page + 8), text, sizeof text));
    out_printf("  DRP:Maximum burst size     %s\n", form_burst(get_be16(page + 10), text, sizeof text));
    out_printf("  DRP:Data trans. disconnect %13u\n", unsigned(page[12] & 0x03));
    return 0;
}
