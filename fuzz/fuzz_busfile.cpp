// Fuzz target: the input is a bus file. When it parses, the bus it
// describes is scanned (adapter 0, every target and LUN) with every report
// option on. Image paths resolve in an empty folder.
#include <cstddef>
#include <cstdint>
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
    const aspi_manager* manager = load_bus_text(text, "fuzz.bus", empty_folder(), &error);
    if (!manager)
        return 0;
    select_aspi_manager(manager);
    aspi_set_wait_limit_ms(0);
    begin_report();
    if (aspi_open() == 0) {
        uint8_t ids[48];
        if (aspi_host_adapter_inquiry(0, ids) > 0)
            scan_bus(0, -1, -1, report_options{true, true, true, true});
        aspi_close();
    }
    end_report();
    select_aspi_manager(nullptr);
    release_aspi_manager(manager);
    return 0;
}
