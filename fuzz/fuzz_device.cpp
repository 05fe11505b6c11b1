// Fuzz target: one unit on a bus whose every answer comes from the input
// (see fuzz_bus.h), scanned with device, partition and dump reports on.
// Every peripheral device type is reached through byte 0 of the INQUIRY
// record.
#include <cstddef>
#include <cstdint>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "fuzz_bus.h"
#include "fuzz_common.h"
#include "format/report_options.h"
#include "scsi/scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz_bus_load(data, size);
    select_aspi_manager(fuzz_bus_manager());
    // A request that never completes times out at once here, not after ten
    // seconds.
    aspi_set_wait_limit_ms(0);
    begin_report();
    if (aspi_open() == 0) {
        scan_bus(0, 0, 0, report_options{false, true, true, true});
        aspi_close();
    }
    end_report();
    select_aspi_manager(nullptr);
    return 0;
}
