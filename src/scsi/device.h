// The device line of one unit and the detail reports it runs.
#pragma once
#include <cstdint>

#include "aspi/scsi_commands.h"
#include "format/report_options.h"

// inquiry: the unit's standard INQUIRY data (at least 36 bytes readable).
void report_device(int host_adapter, int target, int lun, const uint8_t* inquiry, const report_options& options);
