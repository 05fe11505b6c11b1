// Notch page (0Ch): whether the unit is divided into notches, and the
// bounds of the active one.
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"
#include "scsi/modepages/modepages.h"

// A boundary is a logical block address, or a cylinder (3 bytes) and head.
static const char* form_position(const uint8_t* field, bool logical, char* out, size_t size)
{
    char figure[14];
    if (logical)
        std::snprintf(out, size, "%13s", format_grouped(get_be32(field), figure));
    else
        std::snprintf(out, size, "%13s:%-3u cylinder:head", format_grouped(get_be24(field), figure),
                      unsigned(field[3]));
    return out;
}

int print_notch_page(device_address unit)
{
    // The page's fields end at page byte 15; asking for the whole buffer
    // brings them in after any number of block descriptors.
    mode_data data;
    int status = fetch_mode_page(unit, 0x0C, MODE_DATA_SIZE, &data);
    if (status != 0)
        return status;
    const uint8_t* page = locate_mode_page(&data, 15);
    if (page == nullptr)
        return 0;

    bool notched = (page[2] & 0x80) != 0;
    bool logical = (page[2] & 0x40) != 0;
    out_printf("  NPT:Notch type bit         %13s\n", notched ? "ON" : "OFF");
    if (!notched)
        return 0;

    char figure[14];
    char position[48];
    out_printf("  NPT:Maximum notch number   %13s\n", format_grouped(get_be16(page + 4), figure));
    out_printf("  NPT:Active notch number    %13s\n", format_grouped(get_be16(page + 6), figure));
    out_printf("  NPT:Notch start position   %s\n", form_position(page + 8, logical, position, sizeof position));
    out_printf("  NPT:Notch end   position   %s\n", form_position(page + 12, logical, position, sizeof position));
    return 0;
}
