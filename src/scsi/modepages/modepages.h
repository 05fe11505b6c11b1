// Mode pages: the seven pages of the device report, each fetched with
// MODE SENSE(6), decoded into a record and shown as text or as a member of
// the unit's "mode_pages" object. One table (modepage_table.cpp) says which
// device classes ask for a page and where in the report it comes.
#pragma once
#include <cstdint>

#include "aspi/scsi_commands.h"
#include "format/json.h"
#include "format/report_options.h"

// Device classes, as bits, for the pages each class asks for.
enum : unsigned {
    DEVICE_DISK = 1u << 0,       // direct access, optical memory, and PD units
    DEVICE_SEQUENTIAL = 1u << 1,
    DEVICE_WRITE_ONCE = 1u << 2,
    DEVICE_CDROM = 1u << 3,
    DEVICE_OTHER = 1u << 4,
};

// Where a page comes in the device report.
enum mode_page_step {
    MODE_STEP_FIRST,              // before the vital product data
    MODE_STEP_AFTER_DEFECTS,      // after the defect lists
    MODE_STEP_AFTER_BLOCK_LIMITS, // after the block limits
};

// Fetches and shows, in the table's order, every page of this step that the
// unit's device class asks for. With -json each page's record goes into
// pages (an object keyed by page name), which the caller writes out.
void report_mode_pages(device_address unit, unsigned device_class, mode_page_step step,
                       const report_options& options, json_value* pages);
