// The bus scan of one host adapter: its identification line, then an
// INQUIRY probe of each target (and LUN) in turn.
#include "scsi/scan.h"

#include <cstring>

#include "aspi/aspi.h"
#include "aspi/scsi_commands.h"
#include "format/format.h"
#include "format/json.h"
#include "format/output.h"
#include "format/report_options.h"
#include "scsi/device.h"

constexpr int TARGET_COUNT = 7; // targets 0 to 6; 7 is the adapter itself
constexpr int LUN_COUNT = 8;
// Requests carry the adapter, target and LUN as single bytes: a number
// beyond that cannot name a unit, and must not wrap onto one that exists.
constexpr int LARGEST_ADDRESS = 255;

// The adapter's identification line; under -json the adapter's object is
// opened with its identification, and its "units" after it.
static void report_host_adapter(int host_adapter, const report_options& options)
{
    uint8_t ids[48];
    bool identified = aspi_host_adapter_inquiry(host_adapter, ids) > 0;
    if (options.json != nullptr) {
        json_open_object(options.json, nullptr);
        json_value adapter;
        adapter["number"] = host_adapter;
        if (identified) {
            put_device_text(&adapter, "manager_identification", ids, 16);
            put_device_text(&adapter, "adapter_identification", ids + 16, 16);
            put_device_text(&adapter, "adapter_unique", ids + 32, 16);
        }
        json_put_members(options.json, adapter);
        json_open_array(options.json, "units");
        return;
    }
    if (!identified)
        return;
    char fields[3][17];
    for (int i = 0; i < 3; i++)
        copy_padded_field(fields[i], ids + 16 * i, 16);
    out_printf("\nHost adapter #%d - %s %s %s\n", host_adapter, fields[0], fields[1], fields[2]);
}

static void probe_one(int host_adapter, int target, int lun, const report_options& options)
{
    if (target > LARGEST_ADDRESS || lun > LARGEST_ADDRESS)
        return;
    // Cleared before every probe: a unit that returns fewer bytes must not
    // show the previous unit's vendor and product.
    uint8_t inquiry[48];
    std::memset(inquiry, 0, sizeof inquiry);
    if (scsi_inquiry({host_adapter, target, lun}, -1, 40, inquiry) == 0)
        report_device(host_adapter, target, lun, inquiry, options);
}

void probe_unit(int host_adapter, int target, int lun, const report_options& options)
{
    if (lun >= 0) {
        probe_one(host_adapter, target, lun, options);
        return;
    }
    int last_lun = options.scan_luns ? LUN_COUNT - 1 : 0;
    for (int l = 0; l <= last_lun; l++)
        probe_one(host_adapter, target, l, options);
}

void scan_bus(int host_adapter, int target, int lun, const report_options& options)
{
    if (host_adapter < 0 || host_adapter > LARGEST_ADDRESS)
        return;
    report_host_adapter(host_adapter, options);
    if (target >= 0) {
        probe_unit(host_adapter, target, lun, options);
    } else {
        // Targets 0 to 6 on a narrow bus and where the adapter does not say;
        // every target ID but the adapter's own on a wider one.
        adapter_targets bus;
        int count = TARGET_COUNT;
        if (aspi_describe_targets(host_adapter, &bus) == 0 && bus.count > NARROW_BUS_IDS)
            count = bus.count < LARGEST_ADDRESS + 1 ? bus.count : LARGEST_ADDRESS + 1;
        else
            bus.own_id = -1;
        for (int t = 0; t < count; t++)
            if (t != bus.own_id)
                probe_unit(host_adapter, t, lun, options);
    }
    if (options.json != nullptr) {
        json_close(options.json); // the units
        json_close(options.json); // the adapter
    }
}
