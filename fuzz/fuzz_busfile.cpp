// Fuzz target: the input is a bus file. When it parses, the bus it
// describes is scanned (adapter 0, every target and LUN) with every report
// option on; when it does not, the message must be one line that cannot
// steer a terminal. Image paths resolve in the media folder, which holds
// the sample media.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "fuzz_common.h"
#include "format/report_options.h"
#include "scsi/scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    begin_report();
    const aspi_manager* manager = load_bus_text(text, "fuzz.bus", media_folder().c_str(), &error);
    if (!manager) {
        end_report();
        if (error.empty() || error.find('\n') != std::string::npos)
            abort();
        check_terminal_text(error.data(), error.size(), "the bus file's message");
        return 0;
    }
    select_aspi_manager(manager);
    aspi_set_wait_limit_ms(0);
    const report_options options{true, true, true, true};
    if (aspi_open() == 0) {
        uint8_t ids[48];
        if (aspi_host_adapter_inquiry(0, ids) > 0)
            scan_bus(0, -1, -1, options);
        aspi_close();
    }
    end_report();
    select_aspi_manager(nullptr);
    release_aspi_manager(manager);
    return 0;
}
