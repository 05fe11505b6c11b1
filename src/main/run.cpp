// The run driver: read the whole command line, then run the disk command,
// then the SCSI command, and return the exit code.
#include "main/run.h"

#include <cstdlib>
#include <string>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/trace_file.h"
#include "format/json.h"
#include "format/output.h"
#include "main/cli.h"
#include "physdrive/physdrive.h"
#include "scsi/scan.h"

namespace {

constexpr int DRIVE_COUNT = 32;

// The JSON document's format: the major number changes only with a change
// that a reader of the former format could misread (docs/json.md).
constexpr int JSON_FORMAT_MAJOR = 1;
constexpr int JSON_FORMAT_MINOR = 0;

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
            report_disk(&drive, options);
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

// The JSON document of a -json run: opened before anything runs, closed
// with the run's diagnostics whatever way the run ends.
struct json_document {
    json_writer writer;
    bool lists_written = false; // "drives" and "host_adapters"
};

void record_diagnostic(void* context, const char* text)
{
    static_cast<json_writer*>(context)->diagnostics.push_back(utf8_or_latin1(text));
}

void begin_document(json_document* document, int argc, const char* const* argv)
{
    json_writer* writer = &document->writer;
    json_open_object(writer, nullptr);
    json_put(writer, "format_version", {JSON_FORMAT_MAJOR, JSON_FORMAT_MINOR});
    json_value words = json_value::array();
    for (int i = 0; i < argc; i++)
        words.push_back(utf8_or_latin1(argv[i] ? argv[i] : ""));
    json_put(writer, "program", {{"name", "vexum"}, {"version", VEXUM_VERSION}, {"argv", words}});
    set_error_listener(record_diagnostic, writer);
}

void end_document(json_document* document, int exit_code)
{
    json_writer* writer = &document->writer;
    set_error_listener(nullptr, nullptr);
    if (!document->lists_written) {
        json_put(writer, "drives", json_value::array());
        json_put(writer, "host_adapters", json_value::array());
    }
    json_put(writer, "exit_code", exit_code);
    json_put(writer, "diagnostics", writer->diagnostics);
    json_close(writer);
}

// Everything after the command line: images and the bus opened, then the
// disk command, then the SCSI command. Returns the exit code.
int run_commands(const run_plan& plan, const report_options& options, json_document* document)
{
    std::string error;
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

    if (document != nullptr) {
        document->lists_written = true;
        json_open_array(options.json, "drives");
    }
    if (plan.disk_named || !plan.images.empty())
        run_disk_command(plan, options);
    if (document != nullptr) {
        json_close(options.json);
        json_open_array(options.json, "host_adapters");
    }
    int exit_code = 0;
    if (scsi_runs)
        exit_code = run_scsi_command(plan, options);
    if (document != nullptr)
        json_close(options.json);
    if (release_manager(manager, &error) != 0) {
        err_printf("vexum: %s\n", error.c_str());
        exit_code = 2;
    }
    return exit_code;
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
    case PARSE_RUN:
        break;
    }

    json_document document;
    if (plan.json) {
        options.json = &document.writer;
        begin_document(&document, argc, argv);
    }
    int exit_code;
    if (result == PARSE_ERROR) {
        err_printf("%s\n", error.c_str());
        exit_code = 2;
    } else {
        exit_code = run_commands(plan, options, plan.json ? &document : nullptr);
    }
    if (plan.json)
        end_document(&document, exit_code);
    fflush(output_stream());
    return exit_code;
}
