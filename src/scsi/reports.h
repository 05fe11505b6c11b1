// The SCSI detail reports: capacity and CD track table, defect lists and
// vital product data pages. Each fetches its data, decodes it once and shows
// it as text, or under -json as members of the unit's object.
#pragma once
#include <cstdint>

#include "aspi/scsi_commands.h"
#include "format/report_options.h"

void report_capacity_and_tracks(device_address unit, const report_options& options);
// The primary list, then the grown list.
void report_defect_lists(device_address unit, const report_options& options);
// The text report of one list. selector: 1 grown list, 2 primary list, 3 both.
void print_defect_list(device_address unit, unsigned selector);
void report_vpd_pages(device_address unit, const report_options& options);
void print_vpd_text_lines(const char* label, const uint8_t* text, int length);
void print_vpd_field(const char* label, const uint8_t* text, int length);
