// Device report (not yet built).
#include "scsi/device.h"

void report_device(int, int, int, const uint8_t*) {}
