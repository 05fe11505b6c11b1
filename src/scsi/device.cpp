// The device line of one unit, and the detail reports that its peripheral
// device type and the report options call for, in their fixed order. Under
// -json the unit is one object of its adapter's "units", written member by
// member as the reports run.
#include "scsi/device.h"

#include <cstring>

#include "format/bytes.h"
#include "format/format.h"
#include "format/json.h"
#include "format/output.h"
#include "partition/medium.h"
#include "scsi/modepages/modepages.h"
#include "scsi/reports.h"
#include "scsi/unit_medium.h"

namespace {

const char* const type_texts[10] = {
    "Direct access device", "Sequential device", "Printer device",        "Processor device",
    "Write-once device",    "CD-ROM device",     "Scaner device",         "Optical memory device",
    "Medium changer device", "Communication device",
};

// The standard INQUIRY data the device line shows.
struct inquiry_record {
    unsigned qualifier;
    unsigned type;
    bool removable;
    unsigned version;      // the ANSI version bits
    unsigned data_format;  // response data format
    bool identified;       // the format says vendor, product and revision are there
    const uint8_t* vendor; // 8, 16 and 4 bytes of the INQUIRY data
    const uint8_t* product;
    const uint8_t* revision;
};

inquiry_record decode_inquiry(const uint8_t* inquiry)
{
    inquiry_record r{};
    r.qualifier = inquiry[0] >> 5;
    r.type = inquiry[0] & 0x1F;
    r.removable = (inquiry[1] & 0x80) != 0;
    r.version = inquiry[2] & 0x07;
    r.data_format = inquiry[3] & 0x0F;
    r.identified = r.data_format != 0;
    r.vendor = inquiry + 8;
    r.product = inquiry + 16;
    r.revision = inquiry + 32;
    return r;
}

const char* version_text(unsigned version) { return version == 1 ? "SCSI-1" : version == 2 ? "SCSI-2" : ""; }

unsigned class_of(unsigned type)
{
    switch (type) {
    case 0x00:
    case 0x07:
        return DEVICE_DISK;
    case 0x01:
        return DEVICE_SEQUENTIAL;
    case 0x04:
        return DEVICE_WRITE_ONCE;
    case 0x05:
        return DEVICE_CDROM;
    default:
        return DEVICE_OTHER;
    }
}

void print_device_line(device_address unit, const inquiry_record& r)
{
    char vendor[9] = "", product[17] = "", revision[5] = "";
    copy_padded_field(vendor, "", 8);
    copy_padded_field(product, "", 16);
    copy_padded_field(revision, "", 4);
    if (r.identified) {
        copy_padded_field(vendor, r.vendor, 8);
        copy_padded_field(product, r.product, 16);
        copy_padded_field(revision, r.revision, 4);
    }
    char unknown_text[24];
    const char* type_text = unknown_text;
    if (r.type < 10)
        type_text = type_texts[r.type];
    else
        std::snprintf(unknown_text, sizeof unknown_text, "Unkown device (%02XH)", r.type);
    out_printf("\n%X)ID:%X-%X %5s %-8s %-16s %-4s %-9s - %s\n", unsigned(unit.adapter), unsigned(unit.target),
               unsigned(unit.lun), version_text(r.version), vendor, product, revision,
               r.removable ? "Removable" : "Rigid", type_text);
}

json_value inquiry_json(device_address unit, const inquiry_record& r)
{
    json_value j;
    j["adapter"] = unit.adapter;
    j["target"] = unit.target;
    j["lun"] = unit.lun;
    j["peripheral_qualifier"] = r.qualifier;
    j["peripheral_type"] = r.type;
    j["type_name"] = r.type < 10 ? json_value(type_texts[r.type]) : json_value(nullptr);
    j["removable"] = r.removable;
    j["ansi_version"] = r.version;
    j["version_name"] = r.version == 1 || r.version == 2 ? json_value(version_text(r.version)) : json_value(nullptr);
    j["response_data_format"] = r.data_format;
    static const uint8_t nothing[1] = {0};
    put_device_text(&j, "vendor", r.identified ? r.vendor : nothing, r.identified ? 8 : 0);
    put_device_text(&j, "product", r.identified ? r.product : nothing, r.identified ? 16 : 0);
    put_device_text(&j, "revision", r.identified ? r.revision : nothing, r.identified ? 4 : 0);
    return j;
}

void report_block_limits(device_address unit, const report_options& options)
{
    uint8_t limits[6];
    std::memset(limits, 0, sizeof limits);
    if (scsi_read_block_limits(unit, limits) != 0)
        return;
    uint32_t maximum = get_be24(limits + 1);
    uint32_t minimum = get_be16(limits + 4);
    if (options.json != nullptr) {
        json_put(options.json, "block_limits", {{"maximum_block_size", maximum}, {"minimum_block_size", minimum}});
        return;
    }
    char number[14];
    out_printf("  RBL:Maximum block size     %13s\n", format_grouped(maximum, number));
    out_printf("  RBL:Minimum block size     %13s\n", format_grouped(minimum, number));
}

// What a PD unit shows between its layout and its dump.
struct pd_tracks {
    device_address unit;
    const report_options& options;
};

void report_pd_tracks(const void* context)
{
    const auto* pd = static_cast<const pd_tracks*>(context);
    report_capacity_and_tracks(pd->unit, pd->options);
}

// The disk path after the device pages: capacity, then the medium's start.
void report_unit_medium(device_address unit, bool removable, bool pd_unit, const report_options& options)
{
    uint8_t capacity[8];
    std::memset(capacity, 0, sizeof capacity);
    if (scsi_read_capacity(unit, 8, capacity) != 0) {
        const char* message = removable ? "Cartrige error" : "Error occured at read capacity.";
        if (options.json != nullptr)
            json_put(options.json, "medium_error", message);
        else
            out_printf("    %s\n", message);
        return;
    }
    uint32_t block_length = get_be16(capacity + 6);
    // The last block address plus one: 64 bits, so that FFFFFFFFh does not wrap to 0.
    uint64_t medium_blocks = uint64_t(get_be32(capacity)) + 1;
    if (block_length == 0)
        return;
    medium_reader medium = unit_medium(&unit, block_length, medium_blocks);
    pd_tracks pd{unit, options};
    report_medium(&medium, options, pd_unit && options.show_partitions ? report_pd_tracks : nullptr, &pd);
}

// The detail reports of -d, in their order.
void report_details(device_address unit, unsigned device_class, const report_options& options)
{
    json_value pages = json_value::object();
    report_mode_pages(unit, device_class, MODE_STEP_FIRST, options, &pages);
    report_vpd_pages(unit, options);
    if (device_class == DEVICE_DISK)
        report_defect_lists(unit, options);
    report_mode_pages(unit, device_class, MODE_STEP_AFTER_DEFECTS, options, &pages);
    if (device_class == DEVICE_SEQUENTIAL)
        report_block_limits(unit, options);
    report_mode_pages(unit, device_class, MODE_STEP_AFTER_BLOCK_LIMITS, options, &pages);
    if (options.json != nullptr && !pages.empty())
        json_put(options.json, "mode_pages", pages);
}

} // namespace

void report_device(int host_adapter, int target, int lun, const uint8_t* inquiry, const report_options& options)
{
    inquiry_record r = decode_inquiry(inquiry);
    if (r.type == 0x1F)
        return;
    device_address unit{host_adapter, target, lun};
    if (options.json != nullptr) {
        json_open_object(options.json, nullptr);
        json_put_members(options.json, inquiry_json(unit, r));
    } else {
        print_device_line(unit, r);
    }

    unsigned device_class = class_of(r.type);
    // A PD unit answers as a CD-ROM unit but holds a disk medium.
    bool pd_unit =
        device_class == DEVICE_CDROM && r.identified && std::memcmp(r.product, "PD-", 3) == 0;
    if (pd_unit)
        device_class = DEVICE_DISK;
    if (options.show_device)
        report_details(unit, device_class, options);
    if (device_class == DEVICE_CDROM && options.show_partitions)
        report_capacity_and_tracks(unit, options);
    if (device_class == DEVICE_DISK)
        report_unit_medium(unit, r.removable, pd_unit, options);
    if (options.json != nullptr)
        json_close(options.json);
}
