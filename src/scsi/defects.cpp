// Defect list report (not yet built).
#include "scsi/reports.h"

void print_defect_list(device_address, unsigned) {}
