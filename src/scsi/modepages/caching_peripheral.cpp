// Caching page (08h) and peripheral device page (09h).
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"
#include "scsi/modepages/modepages.h"

int print_caching_page(device_address unit)
{
    mode_data data;
    int status = fetch_mode_page(unit, 0x08, MODE_DATA_SIZE, &data);
    if (status != 0)
        return status;
    const uint8_t* page = locate_mode_page(&data, 11);
    if (page == nullptr)
        return 0;

    // The write cache bit enables, the read cache bit disables.
    char figure[14];
    out_printf("  CSH:Write cache            %13s\n", (page[2] & 0x04) ? TEXT_ENABLE : TEXT_DISABLE);
    out_printf("  CSH:Read  cache            %13s\n", (page[2] & 0x01) ? TEXT_DISABLE : TEXT_ENABLE);
    std::snprintf(figure, sizeof figure, "%2u", unsigned(page[3] >> 4));
    out_printf("  CSH:Read  data priority    %13s\n", figure);
    std::snprintf(figure, sizeof figure, "%2u", unsigned(page[3] & 0x0F));
    out_printf("  CSH:Write data priority    %13s\n", figure);
    out_printf("  CSH:Disable prefetch trans %13s\n", format_grouped(get_be16(page + 4), figure));
    out_printf("  CSH:Minimum prefetch       %13s\n", format_grouped(get_be16(page + 6), figure));
    out_printf("  CSH:Maximum prefetch       %13s\n", format_grouped(get_be16(page + 8), figure));
    out_printf("  CHS:Max. prefetch ceiling  %13s\n", format_grouped(get_be16(page + 10), figure));
    return 0;
}

static const char* name_interface(uint32_t identifier, char* out, size_t size)
{
    static const char* const names[] = {
        " SCSI X3.131-1986",
        "  SMD X3.91M-1990",
        "E-SMD X3.170A-1991",
        "IPI-2 X3.130-1986; X3T9.3/87-002",
        "IPI-3 X3.132-1987; X3.147-1988",
    };
    if (identifier < sizeof names / sizeof names[0])
        return names[identifier];
    std::snprintf(out, size, " %04X", unsigned(identifier));
    return out;
}

int print_peripheral_device_page(device_address unit)
{
    mode_data data;
    int status = fetch_mode_page(unit, 0x09, MODE_DATA_SIZE, &data);
    if (status != 0)
        return status;
    const uint8_t* page = locate_mode_page(&data, 3);
    if (page == nullptr)
        return 0;

    char text[8];
    out_printf("  Interface ID                       %s\n", name_interface(get_be16(page + 2), text, sizeof text));
    return 0;
}
