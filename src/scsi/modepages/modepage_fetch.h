// Fetching one mode page with MODE SENSE(6) and finding it in the answer:
// the rules every mode page decoder shares.
#pragma once
#include <array>
#include <cstdint>

#include "aspi/scsi_commands.h"

// Every decoder asks for this much and receives it into a buffer this size.
constexpr int MODE_DATA_SIZE = 255;

struct mode_data {
    std::array<uint8_t, MODE_DATA_SIZE> bytes;
    int page_offset; // 4 + block descriptor length (buffer byte 3)
};

// Clears the buffer, asks the unit for the page (current values) and locates
// the page after the header and the block descriptors. Bytes the unit does
// not send read as 0. Returns 0, or the non-zero status of a failed request.
int fetch_mode_page(device_address unit, uint8_t page_code, uint8_t allocation_length, mode_data* data);

// The page's first byte, when page bytes 0 to last_byte all lie inside the
// buffer; nullptr when the block descriptor length pushes them beyond it.
// The page code and PS bit are not checked: whatever lies there is decoded.
const uint8_t* locate_mode_page(const mode_data* data, int last_byte);

// Constant texts of the report's 13-column value field.
constexpr const char* TEXT_ENABLE = "Enable";
constexpr const char* TEXT_DISABLE = "Disable";
constexpr const char* TEXT_DEFAULT = "Default";
constexpr const char* TEXT_LIMITLESS = "    Limitless";
constexpr const char* TEXT_TARGET_UNIQUE = "Target unique";
