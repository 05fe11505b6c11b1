// Fuzz target: -json over a random bus and a random medium. The input is a
// bus file; when it parses, adapter 0 is scanned (every target and LUN,
// every report option), and the same bytes are reported as a disk image.
// Each JSON document must parse, hold the members the schema requires at
// its top, and carry no byte that could steer a terminal.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "format/json.h"
#include "format/output.h"
#include "format/report_options.h"
#include "fuzz_common.h"
#include "physdrive/physdrive.h"
#include "scsi/scan.h"

namespace {

// The document of one run, its body written by body().
template <typename Body> std::string write_document(Body body)
{
    char* text = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&text, &size);
    if (!stream)
        abort();
    set_output_stream(stream);
    json_writer writer;
    report_options options{true, true, true, true, &writer};
    json_open_object(&writer, nullptr);
    body(options);
    json_put(&writer, "diagnostics", writer.diagnostics);
    json_close(&writer);
    set_output_stream(nullptr);
    fclose(stream);
    std::string document(text, size);
    free(text);
    return document;
}

void check_document(const std::string& document, const char* list)
{
    nlohmann::json parsed = nlohmann::json::parse(document, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object() || !parsed[list].is_array()) {
        fprintf(stderr, "not a JSON document with \"%s\":\n%s\n", list, document.c_str());
        abort();
    }
    check_terminal_text(document.data(), document.size(), "the JSON document");
}

void scan_bus_file(const std::string& text)
{
    std::string error;
    const aspi_manager* manager = load_bus_text(text, "fuzz.bus", media_folder().c_str(), &error);
    if (!manager)
        return;
    select_aspi_manager(manager);
    std::string document = write_document([](const report_options& options) {
        json_open_array(options.json, "host_adapters");
        if (aspi_open() == 0) {
            scan_bus(0, -1, -1, options);
            aspi_close();
        }
        json_close(options.json);
    });
    select_aspi_manager(nullptr);
    release_aspi_manager(manager);
    check_document(document, "host_adapters");
}

void report_image(const uint8_t* data, size_t size)
{
    int fd = memfd_create("medium", 0);
    if (fd < 0)
        abort();
    for (size_t done = 0; done < size;) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            abort();
        done += size_t(n);
    }
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    std::string error;
    if (open_image_drive(path.c_str(), &error) == 0) {
        std::string document = write_document([](const report_options& options) {
            json_open_array(options.json, "drives");
            report_images(options);
            json_close(options.json);
        });
        check_document(document, "drives");
    }
    close_physical_drives();
    close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    aspi_set_wait_limit_ms(0);
    begin_report();
    scan_bus_file(std::string(reinterpret_cast<const char*>(data), size));
    report_image(data, size);
    end_report();
    return 0;
}
