// The bus scan: adapter line, then an INQUIRY probe of every address.
#pragma once
#include <cstdint>

#include "format/report_options.h"

void scan_bus(int host_adapter, int target, int lun, const report_options& options);
void print_host_adapter_line(int host_adapter);
void probe_unit(int host_adapter, int target, int lun, const report_options& options);
