// Capacity lines and CD track table (not yet built).
#include "scsi/reports.h"

void print_capacity_and_tracks(device_address) {}
