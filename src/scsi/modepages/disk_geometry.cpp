// Format device page (03h) and rigid disk geometry page (04h).
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"
#include "scsi/modepages/modepages.h"

int print_format_device_page(device_address unit)
{
    mode_data data;
    int status = fetch_mode_page(unit, 0x03, MODE_DATA_SIZE, &data);
    if (status != 0)
        return status;
    const uint8_t* page = locate_mode_page(&data, 19);
    if (page == nullptr)
        return 0;

    static const char* const labels[] = {
        "  FMT:Track per zone         %13s\n", "  FMT:Alternate sec per zone %13s\n",
        "  FMT:Alternate trk per zone %13s\n", "  FMT:Alternate trk per unit %13s\n",
        "  FMT:Sector per track       %13s\n", "  FMT:Physical sector size   %13s\n",
        "  FMT:Interleave factor      %13s\n", "  FMT:Track skew factor      %13s\n",
        "  FMT:Cylinder skew factor   %13s\n",
    };
    char figure[14];
    int offset = 2;
    for (const char* format : labels) {
        out_printf(format, format_grouped(get_be16(page + offset), figure));
        offset += 2;
    }
    return 0;
}

// The landing zone is a two's-complement cylinder number: a negative one
// parks the heads below cylinder 0 and is shown with a minus sign.
static const char* form_landing_zone(uint32_t raw, char* out, size_t size)
{
    char figure[14];
    if (raw & 0x800000u)
        std::snprintf(out, size, "-%s", format_grouped(0x1000000u - raw, figure));
    else
        std::snprintf(out, size, "%s", format_grouped(raw, figure));
    return out;
}

int print_rigid_disk_geometry_page(device_address unit)
{
    mode_data data;
    int status = fetch_mode_page(unit, 0x04, MODE_DATA_SIZE, &data);
    if (status != 0)
        return status;
    const uint8_t* page = locate_mode_page(&data, 21);
    if (page == nullptr)
        return 0;

    uint32_t cylinders = get_be24(page + 2);
    uint32_t heads = page[5];
    uint32_t step_rate = get_be16(page + 12);
    uint32_t landing_zone = get_be24(page + 14);
    uint32_t rotation_rate = get_be16(page + 20);

    // A field the unit leaves at zero gets no line.
    char figure[16];
    if (cylinders != 0)
        out_printf("  DRV:Cylinder number        %13s\n", format_grouped(cylinders, figure));
    if (heads != 0)
        out_printf("  DRV:Head number            %13s\n", format_grouped(heads, figure));
    if (step_rate != 0)
        out_printf("  DRV:Drive step rate        %13s\n", format_grouped(step_rate, figure));
    if (landing_zone != 0)
        out_printf("  DRV:Landing zone cylinder  %13s\n", form_landing_zone(landing_zone, figure, sizeof figure));
    if (rotation_rate != 0)
        out_printf("  DRV:Revolutions per minute %13s\n", format_grouped(rotation_rate, figure));
    return 0;
}
