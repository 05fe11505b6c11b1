// Vital product data pages (not yet built).
#include "scsi/reports.h"

void print_vpd_pages(device_address) {}
void print_vpd_text_lines(const char*, const uint8_t*, int) {}
void print_vpd_field(const char*, const uint8_t*, int) {}
