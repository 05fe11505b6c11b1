// Caching page (08h) and peripheral device page (09h).
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/modepages/modepage_fetch.h"

int decode_caching_page(const mode_data&, const uint8_t* page, caching_page* record)
{
    if (page == nullptr)
        return -1;
    // The write cache bit enables, the read cache bit disables.
    record->write_cache = (page[2] & 0x04) != 0;
    record->read_cache = (page[2] & 0x01) == 0;
    record->read_priority = page[3] >> 4;
    record->write_priority = page[3] & 0x0F;
    record->disable_prefetch_length = get_be16(page + 4);
    record->minimum_prefetch = get_be16(page + 6);
    record->maximum_prefetch = get_be16(page + 8);
    record->maximum_prefetch_ceiling = get_be16(page + 10);
    return 0;
}

void print_caching_page(const caching_page& r)
{
    char figure[14];
    print_page_text("CSH:Write cache", r.write_cache ? TEXT_ENABLE : TEXT_DISABLE);
    print_page_text("CSH:Read  cache", r.read_cache ? TEXT_ENABLE : TEXT_DISABLE);
    std::snprintf(figure, sizeof figure, "%2u", unsigned(r.read_priority));
    print_page_text("CSH:Read  data priority", figure);
    std::snprintf(figure, sizeof figure, "%2u", unsigned(r.write_priority));
    print_page_text("CSH:Write data priority", figure);
    print_page_number("CSH:Disable prefetch trans", r.disable_prefetch_length);
    print_page_number("CSH:Minimum prefetch", r.minimum_prefetch);
    print_page_number("CSH:Maximum prefetch", r.maximum_prefetch);
    print_page_number("CHS:Max. prefetch ceiling", r.maximum_prefetch_ceiling);
}

json_value caching_page_json(const caching_page& r)
{
    return {
        {"write_cache_enabled", r.write_cache},
        {"read_cache_enabled", r.read_cache},
        {"read_retention_priority", r.read_priority},
        {"write_retention_priority", r.write_priority},
        {"disable_prefetch_transfer_length", r.disable_prefetch_length},
        {"minimum_prefetch", r.minimum_prefetch},
        {"maximum_prefetch", r.maximum_prefetch},
        {"maximum_prefetch_ceiling", r.maximum_prefetch_ceiling},
    };
}

int decode_peripheral_device_page(const mode_data&, const uint8_t* page, peripheral_device_page* record)
{
    if (page == nullptr)
        return -1;
    record->interface_identifier = get_be16(page + 2);
    return 0;
}

// The names of the interface identifiers, as the report's column shows them.
static const char* const interface_names[] = {
    " SCSI X3.131-1986",
    "  SMD X3.91M-1990",
    "E-SMD X3.170A-1991",
    "IPI-2 X3.130-1986; X3T9.3/87-002",
    "IPI-3 X3.132-1987; X3.147-1988",
};
constexpr uint32_t INTERFACE_NAME_COUNT = sizeof interface_names / sizeof interface_names[0];

void print_peripheral_device_page(const peripheral_device_page& r)
{
    char text[16];
    const char* name = text;
    if (r.interface_identifier < INTERFACE_NAME_COUNT)
        name = interface_names[r.interface_identifier];
    else
        std::snprintf(text, sizeof text, " %04X", unsigned(r.interface_identifier));
    out_printf("  Interface ID                       %s\n", name);
}

json_value peripheral_device_page_json(const peripheral_device_page& r)
{
    json_value j;
    j["interface_identifier"] = r.interface_identifier;
    if (r.interface_identifier < INTERFACE_NAME_COUNT) {
        const char* name = interface_names[r.interface_identifier];
        while (*name == ' ')
            name++;
        j["interface_name"] = name;
    } else {
        j["interface_name"] = nullptr;
    }
    return j;
}
