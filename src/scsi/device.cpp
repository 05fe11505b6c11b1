// The device line of one unit, and the detail reports that its peripheral
// device type and the report options call for, in their fixed order.
#include "scsi/device.h"

#include <cstdlib>
#include <cstring>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/medium.h"
#include "scsi/modepages/modepages.h"
#include "scsi/reports.h"
#include "scsi/unit_medium.h"

namespace {

enum device_class { CLASS_DISK, CLASS_SEQUENTIAL, CLASS_WRITE_ONCE, CLASS_CDROM, CLASS_OTHER };

const char* const type_texts[10] = {
    "Direct access device", "Sequential device", "Printer device",        "Processor device",
    "Write-once device",    "CD-ROM device",     "Scaner device",         "Optical memory device",
    "Medium changer device", "Communication device",
};

device_class class_of(unsigned type)
{
    switch (type) {
    case 0x00:
    case 0x07:
        return CLASS_DISK;
    case 0x01:
        return CLASS_SEQUENTIAL;
    case 0x04:
        return CLASS_WRITE_ONCE;
    case 0x05:
        return CLASS_CDROM;
    default:
        return CLASS_OTHER;
    }
}

void print_block_limits(device_address unit)
{
    uint8_t limits[6];
    std::memset(limits, 0, sizeof limits);
    if (scsi_read_block_limits(unit, limits) != 0)
        return;
    char number[14];
    out_printf("  RBL:Maximum block size     %13s\n", format_grouped(get_be24(limits + 1), number));
    out_printf("  RBL:Minimum block size     %13s\n", format_grouped(get_be16(limits + 4), number));
}

// A PD unit shows its capacity and track table between its layout and its
// dump, as a CD-ROM unit does.
void report_pd_tracks(const void* unit) { print_capacity_and_tracks(*static_cast<const device_address*>(unit)); }

// The disk path after the device pages: capacity, then the medium's start.
void report_unit_medium(device_address unit, bool removable, bool pd_unit, const report_options& options)
{
    uint8_t capacity[8];
    std::memset(capacity, 0, sizeof capacity);
    if (scsi_read_capacity(unit, 8, capacity) != 0) {
        out_puts(removable ? "    Cartrige error\n" : "    Error occured at read capacity.\n");
        return;
    }
    uint32_t block_length = get_be16(capacity + 6);
    // The last block address plus one: 64 bits, so that FFFFFFFFh does not wrap to 0.
    uint64_t medium_blocks = uint64_t(get_be32(capacity)) + 1;
    if (block_length == 0)
        return;
    medium_reader medium = unit_medium(&unit, block_length, medium_blocks);
    report_medium(&medium, options, pd_unit && options.show_partitions ? report_pd_tracks : nullptr, &unit);
}

} // namespace

void report_device(int host_adapter, int target, int lun, const uint8_t* inquiry, const report_options& options)
{
    unsigned type = inquiry[0] & 0x1F;
    if (type == 0x1F)
        return;
    device_address unit{host_adapter, target, lun};

    char vendor[9] = "", product[17] = "", revision[5] = "";
    copy_padded_field(vendor, "", 8);
    copy_padded_field(product, "", 16);
    copy_padded_field(revision, "", 4);
    if ((inquiry[3] & 0x0F) != 0) {
        copy_padded_field(vendor, inquiry + 8, 8);
        copy_padded_field(product, inquiry + 16, 16);
        copy_padded_field(revision, inquiry + 32, 4);
    }
    unsigned version = inquiry[2] & 0x07;
    const char* version_text = version == 1 ? "SCSI-1" : version == 2 ? "SCSI-2" : "";
    bool removable = (inquiry[1] & 0x80) != 0;
    char unknown_text[24];
    const char* type_text = type_texts[0];
    if (type < 10) {
        type_text = type_texts[type];
    } else {
        std::snprintf(unknown_text, sizeof unknown_text, "Unkown device (%02XH)", type);
        type_text = unknown_text;
    }
    device_class cls = class_of(type);
    bool pd_unit = cls == CLASS_CDROM && std::memcmp(product, "PD-", 3) == 0;
    bool disk_path = cls == CLASS_DISK || pd_unit;

    out_printf("\n%X)ID:%X-%X %5s %-8s %-16s %-4s %-9s - %s\n", unsigned(host_adapter), unsigned(target),
               unsigned(lun), version_text, vendor, product, revision, removable ? "Removable" : "Rigid", type_text);

    if (options.show_device) {
        print_peripheral_device_page(unit);
        print_vpd_pages(unit);
        if (disk_path) {
            print_defect_list(unit, 2);
            print_defect_list(unit, 1);
        }
        print_disconnect_reconnect_page(unit);
    }

    if (!disk_path) {
        switch (cls) {
        case CLASS_SEQUENTIAL:
            if (options.show_device) {
                print_block_limits(unit);
                print_device_configuration_page(unit);
            }
            break;
        case CLASS_WRITE_ONCE:
            if (options.show_device)
                print_caching_page(unit);
            break;
        case CLASS_CDROM:
            if (options.show_device)
                print_caching_page(unit);
            if (options.show_partitions)
                print_capacity_and_tracks(unit);
            break;
        default:
            break;
        }
        return;
    }

    if (options.show_device) {
        print_format_device_page(unit);
        print_rigid_disk_geometry_page(unit);
        print_caching_page(unit);
        print_notch_page(unit);
    }
    report_unit_medium(unit, removable, pd_unit, options);
}
