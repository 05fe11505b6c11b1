// The bus scan: adapter line, then an INQUIRY probe of every address. Under
// -json each adapter scanned is one object of the document's "host_adapters".
#pragma once
#include <cstdint>

#include "format/report_options.h"

void scan_bus(int host_adapter, int target, int lun, const report_options& options);
void probe_unit(int host_adapter, int target, int lun, const report_options& options);
