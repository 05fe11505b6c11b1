// Device configuration page (10h) of a sequential-access unit, with the
// block count and length of its first block descriptor.
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"
#include "scsi/modepages/modepages.h"

// Shortest page length that holds every field decoded below.
constexpr uint8_t DEVICE_CONFIGURATION_MIN_LENGTH = 14;

static const char* form_buffer_ratio(uint8_t ratio, char* out, size_t size)
{
    if (ratio == 0)
        return TEXT_DEFAULT;
    std::snprintf(out, size, "%u/256", unsigned(ratio));
    return out;
}

// The unit counts in 100-millisecond steps.
static const char* form_write_delay(uint32_t count, char* out, size_t size)
{
    if (count == 0)
        return TEXT_LIMITLESS;
    char figure[14];
    std::snprintf(out, size, "%13s ms", format_grouped(count * 100, figure));
    return out;
}

static const char* form_gap_size(uint8_t gap, char* out, size_t size)
{
    if (gap == 0x00)
        return "Device defined";
    if (gap == 0x01)
        return "data block update";
    if (gap <= 0x0F)
        std::snprintf(out, size, "multiple %u", unsigned(gap));
    else
        std::snprintf(out, size, "%02X", unsigned(gap));
    return out;
}

static const char* enable_text(bool set) { return set ? TEXT_ENABLE : TEXT_DISABLE; }

int print_device_configuration_page(device_address unit)
{
    mode_data data;
    int status = fetch_mode_page(unit, 0x10, MODE_DATA_SIZE, &data);
    if (status != 0)
        return status;

    // Only the first block descriptor is shown; it lies in buffer bytes 4-11.
    char figure[14];
    const uint8_t* mode = data.bytes.data();
    if (mode[3] != 0) {
        out_printf("  DCP:Block number           %13s\n", format_grouped(get_be24(mode + 5), figure));
        out_printf("  DCP:Block length           %13s\n", format_grouped(get_be24(mode + 9), figure));
    }

    const uint8_t* page = locate_mode_page(&data, 14);
    if (page == nullptr || page[1] < DEVICE_CONFIGURATION_MIN_LENGTH)
        return 0;

    char text[32];
    uint8_t flags = page[8];
    out_printf("  DCP:Active format                     %02X\n", unsigned(page[2] & 0x1F));
    out_printf("  DCP:Active partition                  %02X\n", unsigned(page[3]));
    out_printf("  DCP:Write buffer full ratio %12s\n", form_buffer_ratio(page[4], text, sizeof text));
    out_printf("  DCP:Read buffer empty ratio %12s\n", form_buffer_ratio(page[5], text, sizeof text));
    out_printf("  DCP:Write delay time       %s\n", form_write_delay(get_be16(page + 6), text, sizeof text));
    out_printf("  DCP:Data buffer recovery   %13s\n", enable_text(flags & 0x80));
    out_printf("  DCP:Block identifiers supported  %7s\n", enable_text(flags & 0x40));
    out_printf("  DCP:Report setmarks              %7s\n", enable_text(flags & 0x20));
    out_printf("  DCP:Automatic velocity control   %7s\n", (flags & 0x10) ? "Auto" : TEXT_DEFAULT);
    out_printf("  DCP:Stop on consecutive filemakrs %6u\n", unsigned((flags >> 2) & 0x03));
    out_printf("  DCP:Recover buffer order          %6s\n", (flags & 0x02) ? "LIFO" : "FIFO");
    out_printf("  DCP:Report early warning   %13s\n", (flags & 0x01) ? "Read/Write" : "Write");
    out_printf("  DCP:Gap size        %20s\n", form_gap_size(page[9], text, sizeof text));
    out_printf("  DCP:EOD defined            %13u\n", unsigned(page[10] >> 5));
    out_printf("  DCP:Enable EOD genaration        %7s\n", enable_text(page[10] & 0x10));
    out_printf("  DCP:Synchronize at early warning %7s\n", enable_text(page[10] & 0x08));
    out_printf("  DCP:Buffer size at EW      %13s\n", format_grouped(get_be24(page + 11), figure));
    out_printf("  DCP:Data compress method              %02X\n", unsigned(page[14]));
    return 0;
}
