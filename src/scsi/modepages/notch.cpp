// Notch page (0Ch): whether the unit is divided into notches, and the
// bounds of the active one.
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"

int decode_notch_page(const mode_data&, const uint8_t* page, notch_page* record)
{
    if (page == nullptr)
        return -1;
    record->notched = (page[2] & 0x80) != 0;
    record->logical = (page[2] & 0x40) != 0;
    record->maximum_notch = get_be16(page + 4);
    record->active_notch = get_be16(page + 6);
    // A boundary is a logical block address, or a cylinder (3 bytes) and head.
    record->start = record->logical ? get_be32(page + 8) : get_be24(page + 8);
    record->start_head = page[11];
    record->end = record->logical ? get_be32(page + 12) : get_be24(page + 12);
    record->end_head = page[15];
    return 0;
}

static const char* form_position(uint32_t value, uint32_t head, bool logical, char* out, size_t size)
{
    char figure[14];
    if (logical)
        std::snprintf(out, size, "%13s", format_grouped(value, figure));
    else
        std::snprintf(out, size, "%13s:%-3u cylinder:head", format_grouped(value, figure), unsigned(head));
    return out;
}

void print_notch_page(const notch_page& r)
{
    print_page_text("NPT:Notch type bit", r.notched ? "ON" : "OFF");
    if (!r.notched)
        return;
    char position[48];
    print_page_number("NPT:Maximum notch number", r.maximum_notch);
    print_page_number("NPT:Active notch number", r.active_notch);
    print_page_text("NPT:Notch start position", form_position(r.start, r.start_head, r.logical, position, sizeof position));
    print_page_text("NPT:Notch end   position", form_position(r.end, r.end_head, r.logical, position, sizeof position));
}

static json_value position_json(uint32_t value, uint32_t head, bool logical)
{
    if (logical)
        return {{"block", value}};
    return {{"cylinder", value}, {"head", head}};
}

json_value notch_page_json(const notch_page& r)
{
    json_value j;
    j["notched"] = r.notched;
    if (!r.notched)
        return j;
    j["logical_boundaries"] = r.logical;
    j["maximum_notch"] = r.maximum_notch;
    j["active_notch"] = r.active_notch;
    j["start"] = position_json(r.start, r.start_head, r.logical);
    j["end"] = position_json(r.end, r.end_head, r.logical);
    return j;
}
