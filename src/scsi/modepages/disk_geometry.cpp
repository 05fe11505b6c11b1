// Format device page (03h) and rigid disk geometry page (04h).
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"

namespace {

struct format_field {
    const char* label;
    const char* key;
};

const format_field format_fields[9] = {
    {"FMT:Track per zone", "tracks_per_zone"},
    {"FMT:Alternate sec per zone", "alternate_sectors_per_zone"},
    {"FMT:Alternate trk per zone", "alternate_tracks_per_zone"},
    {"FMT:Alternate trk per unit", "alternate_tracks_per_unit"},
    {"FMT:Sector per track", "sectors_per_track"},
    {"FMT:Physical sector size", "physical_sector_size_bytes"},
    {"FMT:Interleave factor", "interleave"},
    {"FMT:Track skew factor", "track_skew_factor"},
    {"FMT:Cylinder skew factor", "cylinder_skew_factor"},
};

} // namespace

int decode_format_device_page(const mode_data&, const uint8_t* page, format_device_page* record)
{
    if (page == nullptr)
        return -1;
    for (int i = 0; i < 9; i++)
        record->fields[i] = get_be16(page + 2 + 2 * i);
    return 0;
}

void print_format_device_page(const format_device_page& r)
{
    for (int i = 0; i < 9; i++)
        print_page_number(format_fields[i].label, r.fields[i]);
}

json_value format_device_page_json(const format_device_page& r)
{
    json_value j;
    for (int i = 0; i < 9; i++)
        j[format_fields[i].key] = r.fields[i];
    return j;
}

int decode_rigid_disk_geometry_page(const mode_data&, const uint8_t* page, rigid_disk_geometry_page* record)
{
    if (page == nullptr)
        return -1;
    record->cylinders = get_be24(page + 2);
    record->heads = page[5];
    record->step_rate = get_be16(page + 12);
    record->landing_zone = get_be24(page + 14);
    record->rotation_rate = get_be16(page + 20);
    return 0;
}

// The landing zone is a two's-complement cylinder number: a negative one
// parks the heads below cylinder 0.
static int64_t landing_zone_cylinder(uint32_t raw)
{
    return (raw & 0x800000u) ? -int64_t(0x1000000u - raw) : int64_t(raw);
}

static const char* form_landing_zone(uint32_t raw, char* out, size_t size)
{
    int64_t cylinder = landing_zone_cylinder(raw);
    char figure[14];
    std::snprintf(out, size, "%s%s", cylinder < 0 ? "-" : "", format_grouped(uint32_t(cylinder < 0 ? -cylinder : cylinder), figure));
    return out;
}

void print_rigid_disk_geometry_page(const rigid_disk_geometry_page& r)
{
    // A field the unit leaves at zero gets no line.
    char figure[16];
    if (r.cylinders != 0)
        print_page_number("DRV:Cylinder number", r.cylinders);
    if (r.heads != 0)
        print_page_number("DRV:Head number", r.heads);
    if (r.step_rate != 0)
        print_page_number("DRV:Drive step rate", r.step_rate);
    if (r.landing_zone != 0)
        print_page_text("DRV:Landing zone cylinder", form_landing_zone(r.landing_zone, figure, sizeof figure));
    if (r.rotation_rate != 0)
        print_page_number("DRV:Revolutions per minute", r.rotation_rate);
}

json_value rigid_disk_geometry_page_json(const rigid_disk_geometry_page& r)
{
    return {
        {"cylinders", r.cylinders},
        {"heads", r.heads},
        {"drive_step_rate_100ns", r.step_rate},
        {"landing_zone_cylinder", landing_zone_cylinder(r.landing_zone)},
        {"rotation_rate_rpm", r.rotation_rate},
    };
}
