// Device configuration page (10h) of a sequential-access unit, with the
// block count and length of its first block descriptor.
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"

// Shortest page length that holds every field decoded below.
constexpr uint8_t DEVICE_CONFIGURATION_MIN_LENGTH = 14;

int decode_device_configuration_page(const mode_data& data, const uint8_t* page, device_configuration_page* record)
{
    // Only the first block descriptor is shown; it lies in buffer bytes 4-11.
    const uint8_t* mode = data.bytes.data();
    record->has_descriptor = mode[3] != 0;
    record->block_count = get_be24(mode + 5);
    record->block_length = get_be24(mode + 9);
    record->has_page = page != nullptr && page[1] >= DEVICE_CONFIGURATION_MIN_LENGTH;
    if (record->has_page) {
        uint8_t flags = page[8];
        record->active_format = page[2] & 0x1F;
        record->active_partition = page[3];
        record->write_buffer_full_ratio = page[4];
        record->read_buffer_empty_ratio = page[5];
        record->write_delay_time = get_be16(page + 6);
        record->data_buffer_recovery = (flags & 0x80) != 0;
        record->block_identifiers_supported = (flags & 0x40) != 0;
        record->report_setmarks = (flags & 0x20) != 0;
        record->automatic_velocity_control = (flags & 0x10) != 0;
        record->stop_on_consecutive_filemarks = (flags >> 2) & 0x03;
        record->recover_buffer_order_lifo = (flags & 0x02) != 0;
        record->report_early_warning_on_read = (flags & 0x01) != 0;
        record->gap_size = page[9];
        record->eod_defined = page[10] >> 5;
        record->enable_eod_generation = (page[10] & 0x10) != 0;
        record->synchronize_at_early_warning = (page[10] & 0x08) != 0;
        record->buffer_size_at_early_warning = get_be24(page + 11);
        record->data_compression_algorithm = page[14];
    }
    return record->has_descriptor || record->has_page ? 0 : -1;
}

static const char* form_buffer_ratio(uint32_t ratio, char* out, size_t size)
{
    if (ratio == 0)
        return TEXT_DEFAULT;
    std::snprintf(out, size, "%u/256", unsigned(ratio));
    return out;
}

// The unit counts in 100-millisecond steps.
static const char* form_write_delay(uint32_t count, char* out, size_t size)
{
    if (count == 0)
        return TEXT_LIMITLESS;
    char figure[14];
    std::snprintf(out, size, "%13s ms", format_grouped(count * 100, figure));
    return out;
}

static const char* form_gap_size(uint32_t gap, char* out, size_t size)
{
    if (gap == 0x00)
        return "Device defined";
    if (gap == 0x01)
        return "data block update";
    if (gap <= 0x0F)
        std::snprintf(out, size, "multiple %u", unsigned(gap));
    else
        std::snprintf(out, size, "%02X", unsigned(gap));
    return out;
}

static const char* enable_text(bool set) { return set ? TEXT_ENABLE : TEXT_DISABLE; }

void print_device_configuration_page(const device_configuration_page& r)
{
    if (r.has_descriptor) {
        print_page_number("DCP:Block number", r.block_count);
        print_page_number("DCP:Block length", r.block_length);
    }
    if (!r.has_page)
        return;
    char text[32];
    out_printf("  DCP:Active format                     %02X\n", unsigned(r.active_format));
    out_printf("  DCP:Active partition                  %02X\n", unsigned(r.active_partition));
    out_printf("  DCP:Write buffer full ratio %12s\n", form_buffer_ratio(r.write_buffer_full_ratio, text, sizeof text));
    out_printf("  DCP:Read buffer empty ratio %12s\n", form_buffer_ratio(r.read_buffer_empty_ratio, text, sizeof text));
    print_page_text("DCP:Write delay time", form_write_delay(r.write_delay_time, text, sizeof text));
    print_page_text("DCP:Data buffer recovery", enable_text(r.data_buffer_recovery));
    out_printf("  DCP:Block identifiers supported  %7s\n", enable_text(r.block_identifiers_supported));
    out_printf("  DCP:Report setmarks              %7s\n", enable_text(r.report_setmarks));
    out_printf("  DCP:Automatic velocity control   %7s\n", r.automatic_velocity_control ? "Auto" : TEXT_DEFAULT);
    out_printf("  DCP:Stop on consecutive filemakrs %6u\n", unsigned(r.stop_on_consecutive_filemarks));
    out_printf("  DCP:Recover buffer order          %6s\n", r.recover_buffer_order_lifo ? "LIFO" : "FIFO");
    print_page_text("DCP:Report early warning", r.report_early_warning_on_read ? "Read/Write" : "Write");
    out_printf("  DCP:Gap size        %20s\n", form_gap_size(r.gap_size, text, sizeof text));
    print_page_number("DCP:EOD defined", r.eod_defined);
    out_printf("  DCP:Enable EOD genaration        %7s\n", enable_text(r.enable_eod_generation));
    out_printf("  DCP:Synchronize at early warning %7s\n", enable_text(r.synchronize_at_early_warning));
    print_page_number("DCP:Buffer size at EW", r.buffer_size_at_early_warning);
    out_printf("  DCP:Data compress method              %02X\n", unsigned(r.data_compression_algorithm));
}

json_value device_configuration_page_json(const device_configuration_page& r)
{
    json_value j;
    if (r.has_descriptor)
        j["block_descriptor"] = {{"blocks", r.block_count}, {"block_length", r.block_length}};
    if (!r.has_page)
        return j;
    j["active_format"] = r.active_format;
    j["active_partition"] = r.active_partition;
    j["write_buffer_full_ratio"] = r.write_buffer_full_ratio;
    j["read_buffer_empty_ratio"] = r.read_buffer_empty_ratio;
    j["write_delay_time_100ms"] = r.write_delay_time;
    j["data_buffer_recovery"] = r.data_buffer_recovery;
    j["block_identifiers_supported"] = r.block_identifiers_supported;
    j["report_setmarks"] = r.report_setmarks;
    j["automatic_velocity_control"] = r.automatic_velocity_control;
    j["stop_on_consecutive_filemarks"] = r.stop_on_consecutive_filemarks;
    j["recover_buffer_order_lifo"] = r.recover_buffer_order_lifo;
    j["report_early_warning_on_read"] = r.report_early_warning_on_read;
    j["gap_size"] = r.gap_size;
    j["eod_defined"] = r.eod_defined;
    j["enable_eod_generation"] = r.enable_eod_generation;
    j["synchronize_at_early_warning"] = r.synchronize_at_early_warning;
    j["buffer_size_at_early_warning"] = r.buffer_size_at_early_warning;
    j["data_compression_algorithm"] = r.data_compression_algorithm;
    return j;
}
