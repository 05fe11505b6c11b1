// The run driver: read the whole command line, then run the disk command,
// then the SCSI command, and return the exit code.
#include "main/run.h"

#include <cstdlib>
#include <string>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/trace_file.h"
#include "format/output.h"
#include "main/cli.h"
#include "physdrive/physdrive.h"
#include "scsi/scan.h"

namespace {

constexpr int DRIVE_COUNT = 32;

// Images first, in command-line order, then the numbered drives.
void run_disk_command(const run_plan& plan, const report_options& options)
{
    report_images(options);
    if (!plan.disk_named) {
        close_physical_drives();
        return;
    }
    drive_descriptor drive{};
    int first = plan.drive >= 0 ? plan.drive : 0;
    int last = plan.drive >= 0 ? plan.drive : DRIVE_COUNT - 1;
    // Numbers beyond the platform's range name no drive; stopping at its
    // last number also keeps the count from running past INT_MAX.
    if (last > LAST_DRIVE_NUMBER)
        last = LAST_DRIVE_NUMBER;
    for (int number = first; number <= last; number++) {
        if (measure_physical_drive(number, &drive) == 0)
            report_disk(number, &drive, options);
    }
    close_physical_drives();
}

// The CHAP secret of the environment, for a portal URL that names a user
// and no secret: the command line is readable by every user of the machine,
// the environment of a process only by its owner.
const char* iscsi_secret()
{
    const char* secret = std::getenv("VEXUM_ISCSI_SECRET");
    return secret && *secret ? secret : nullptr;
}

// The manager the SCSI command talks to, chosen before anything is scanned.
// Returns null (error set) when a bus file or a portal cannot be used.
const aspi_manager* choose_manager(const run_plan& plan, std::string* error)
{
    const aspi_manager* manager = nullptr;
    if (!plan.bus_file.empty())
        manager = load_bus_file(plan.bus_file.c_str(), error);
    else if (!plan.iscsi_portals.empty())
        manager = open_iscsi_manager(plan.iscsi_portals, error, iscsi_secret());
    else
        manager = platform_aspi_manager();
    if (manager && !plan.trace_file.empty()) {
        // Every file the run reads, so that the trace lands on none of them.
        std::vector<run_input> inputs;
        if (!plan.bus_file.empty()) {
            inputs.push_back({plan.bus_file, "bus file"});
            for (const std::string& image : bus_file_images(manager))
                inputs.push_back({image, "image"});
        }
        for (const std::string& image : plan.images)
            inputs.push_back({image, "image"});
        const aspi_manager* traced = start_trace(manager, plan.trace_file.c_str(), inputs, error);
        if (!traced)
            release_aspi_manager(manager);
        manager = traced;
    }
    return manager;
}

int run_scsi_command(const run_plan& plan, const report_options& options)
{
    if (aspi_open() != 0) {
        err_printf("ASPI manager initilize error!\n");
        return 1;
    }
    uint8_t ids[48];
    int count = aspi_host_adapter_inquiry(0, ids);
    if (count < 1) {
        err_printf("Host inquiry error!\n");
        aspi_close();
        return 1;
    }
    if (plan.adapter >= 0) {
        scan_bus(plan.adapter, plan.target, plan.lun, options);
    } else {
        for (int adapter = 0; adapter < count; adapter++)
            scan_bus(adapter, plan.target, plan.lun, options);
    }
    aspi_close();
    return 0;
}

// 0, or -1 when the trace could not be written whole (error set).
int release_manager(const aspi_manager* manager, std::string* error)
{
    int result = finish_trace(manager, error);
    select_aspi_manager(nullptr);
    release_aspi_manager(manager);
    return result;
}

} // namespace

int run_vexum(int argc, const char* const* argv)
{
    run_plan plan;
    std::string error;
    report_options options;
    parse_result result = parse_command_line(argc, argv, &plan, &options, &error);
    switch (result) {
    case PARSE_USAGE:
    case PARSE_HELP:
        print_usage();
        fflush(output_stream());
        return result == PARSE_USAGE ? 1 : 0;
    case PARSE_VERSION:
        print_version();
        fflush(output_stream());
        return 0;
    case PARSE_ERROR:
        err_printf("%s\n", error.c_str());
        return 2;
    case PARSE_RUN:
        break;
    }

    for (const std::string& image : plan.images) {
        int opened = open_image_drive(image.c_str(), &error);
        if (opened > 0) {
            // A container that cannot be read: said, skipped, the run goes on.
            err_printf("vexum: %s\n", error.c_str());
        } else if (opened < 0) {
            close_physical_drives();
            err_printf("vexum: %s\n", error.c_str());
            return 2;
        }
    }

    const aspi_manager* manager = nullptr;
    bool scsi_runs = plan.scsi_state != 0;
    if (scsi_runs || !plan.bus_file.empty()) {
        manager = choose_manager(plan, &error);
        if (!manager) {
            close_physical_drives();
            err_printf("vexum: %s\n", error.c_str());
            return 2;
        }
        select_aspi_manager(manager);
    }

    if (plan.disk_named || !plan.images.empty())
        run_disk_command(plan, options);

    int exit_code = 0;
    if (scsi_runs)
        exit_code = run_scsi_command(plan, options);
    if (release_manager(manager, &error) != 0) {
        err_printf("vexum: %s\n", error.c_str());
        exit_code = 2;
    }
    fflush(output_stream());
    return exit_code;
}
