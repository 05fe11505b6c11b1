// The bus scan: adapter line, then an INQUIRY probe of every address.
#pragma once
#include <cstdint>

void scan_bus(int host_adapter, int target, int lun);
void print_host_adapter_line(int host_adapter);
void probe_unit(int host_adapter, int target, int lun);
