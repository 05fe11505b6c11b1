// Internal to src/scsi/modepages: one MODE SENSE(6) answer, and the record,
// decoder, text renderer and JSON renderer of each page. A decoder returns
// -1 when its page has nothing to show.
#pragma once
#include <array>
#include <cstdint>

#include "format/json.h"

// Every page is asked for with this allocation length and received into a
// buffer this size.
constexpr int MODE_DATA_SIZE = 255;

struct mode_data {
    std::array<uint8_t, MODE_DATA_SIZE> bytes;
    int page_offset; // 4 + block descriptor length (buffer byte 3)
};

// The page's first byte, when page bytes 0 to last_byte all lie inside the
// buffer; nullptr when the block descriptor length pushes them beyond it.
// The page code and PS bit are not checked: whatever lies there is decoded.
const uint8_t* locate_mode_page(const mode_data& data, int last_byte);

// One line of a page's report: the label in the 27 columns after the
// indent, the value right-aligned in the 13 after them (a longer value runs
// on past them).
void print_page_text(const char* label, const char* value);
// The same with a number in groups of three digits.
void print_page_number(const char* label, uint32_t value);

// Constant texts of the report's 13-column value field.
constexpr const char* TEXT_ENABLE = "Enable";
constexpr const char* TEXT_DISABLE = "Disable";
constexpr const char* TEXT_DEFAULT = "Default";
constexpr const char* TEXT_LIMITLESS = "    Limitless";
constexpr const char* TEXT_TARGET_UNIQUE = "Target unique";

// Disconnect-reconnect page (02h).
struct disconnect_reconnect_page {
    uint32_t buffer_full_ratio;
    uint32_t buffer_empty_ratio;
    uint32_t bus_inactivity_limit; // 100-microsecond steps, as the three limits
    uint32_t disconnect_time_limit;
    uint32_t connect_time_limit;
    uint32_t maximum_burst_size;   // 512-byte blocks
    uint32_t data_transfer_disconnect;
};
int decode_disconnect_reconnect_page(const mode_data& data, const uint8_t* page, disconnect_reconnect_page* record);
void print_disconnect_reconnect_page(const disconnect_reconnect_page& record);
json_value disconnect_reconnect_page_json(const disconnect_reconnect_page& record);

// Format device page (03h): nine 16-bit fields from page byte 2 on.
struct format_device_page {
    uint32_t fields[9];
};
int decode_format_device_page(const mode_data& data, const uint8_t* page, format_device_page* record);
void print_format_device_page(const format_device_page& record);
json_value format_device_page_json(const format_device_page& record);

// Rigid disk geometry page (04h).
struct rigid_disk_geometry_page {
    uint32_t cylinders;
    uint32_t heads;
    uint32_t step_rate;    // 100-nanosecond steps
    uint32_t landing_zone; // 24-bit two's complement cylinder
    uint32_t rotation_rate;
};
int decode_rigid_disk_geometry_page(const mode_data& data, const uint8_t* page, rigid_disk_geometry_page* record);
void print_rigid_disk_geometry_page(const rigid_disk_geometry_page& record);
json_value rigid_disk_geometry_page_json(const rigid_disk_geometry_page& record);

// Notch page (0Ch).
struct notch_page {
    bool notched;
    bool logical;          // boundaries are block addresses, else cylinder and head
    uint32_t maximum_notch;
    uint32_t active_notch;
    // Each boundary: a block address, or a cylinder and a head.
    uint32_t start;
    uint32_t start_head;
    uint32_t end;
    uint32_t end_head;
};
int decode_notch_page(const mode_data& data, const uint8_t* page, notch_page* record);
void print_notch_page(const notch_page& record);
json_value notch_page_json(const notch_page& record);

// Caching page (08h).
struct caching_page {
    bool write_cache;      // WCE
    bool read_cache;       // not RCD
    uint32_t read_priority;
    uint32_t write_priority;
    uint32_t disable_prefetch_length;
    uint32_t minimum_prefetch;
    uint32_t maximum_prefetch;
    uint32_t maximum_prefetch_ceiling;
};
int decode_caching_page(const mode_data& data, const uint8_t* page, caching_page* record);
void print_caching_page(const caching_page& record);
json_value caching_page_json(const caching_page& record);

// Peripheral device page (09h).
struct peripheral_device_page {
    uint32_t interface_identifier;
};
int decode_peripheral_device_page(const mode_data& data, const uint8_t* page, peripheral_device_page* record);
void print_peripheral_device_page(const peripheral_device_page& record);
json_value peripheral_device_page_json(const peripheral_device_page& record);

// Device configuration page (10h) with the unit's first block descriptor,
// which is shown even when the page itself is not.
struct device_configuration_page {
    bool has_descriptor;
    uint32_t block_count;
    uint32_t block_length;
    bool has_page;
    uint32_t active_format;
    uint32_t active_partition;
    uint32_t write_buffer_full_ratio; // n/256; 0: the unit's default
    uint32_t read_buffer_empty_ratio;
    uint32_t write_delay_time;        // 100-millisecond steps; 0: no limit
    bool data_buffer_recovery;
    bool block_identifiers_supported;
    bool report_setmarks;
    bool automatic_velocity_control;
    uint32_t stop_on_consecutive_filemarks;
    bool recover_buffer_order_lifo;
    bool report_early_warning_on_read;
    uint32_t gap_size;
    uint32_t eod_defined;
    bool enable_eod_generation;
    bool synchronize_at_early_warning;
    uint32_t buffer_size_at_early_warning;
    uint32_t data_compression_algorithm;
};
int decode_device_configuration_page(const mode_data& data, const uint8_t* page, device_configuration_page* record);
void print_device_configuration_page(const device_configuration_page& record);
json_value device_configuration_page_json(const device_configuration_page& record);
