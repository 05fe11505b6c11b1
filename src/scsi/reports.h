// The SCSI detail reports: capacity and CD track table, defect lists and
// vital product data pages.
#pragma once
#include <cstdint>

#include "aspi/scsi_commands.h"

void print_capacity_and_tracks(device_address unit);
// selector: 1 grown list, 2 primary list, 3 both.
void print_defect_list(device_address unit, unsigned selector);
void print_vpd_pages(device_address unit);
void print_vpd_text_lines(const char* label, const uint8_t* text, int length);
void print_vpd_field(const char* label, const uint8_t* text, int length);
