// The parts of the layout report that belong to the maps of maps.h: the
// lines under p that some maps add to an entry, and each entry's JSON
// members from the same record.
#include <cstring>

#include "partition/maps.h"

namespace {

json_value chs_json(uint32_t cylinder, uint32_t head, uint32_t sector)
{
    return json_value{{"cylinder", cylinder}, {"head", head}, {"sector", sector}};
}

std::string guid_text(const uint8_t* g)
{
    char text[40];
    return format_guid(g, text);
}

json_value fields_json(layout_kind kind, const map_fields& m)
{
    switch (kind) {
    case LAYOUT_GPT:
        return {{"type_guid", guid_text(m.gpt.type_guid)},
                {"partition_guid", guid_text(m.gpt.unique_guid)},
                {"attributes", m.gpt.attributes},
                {"first_lba", m.gpt.first_lba},
                {"last_lba", m.gpt.last_lba}};
    case LAYOUT_PC98:
        return {{"mid", m.pc98.mid},
                {"sid", m.pc98.sid},
                {"bootable", (m.pc98.mid & 0x80) != 0},
                {"active", (m.pc98.sid & 0x80) != 0},
                {"start_chs", chs_json(m.pc98.start_cylinder, m.pc98.start_head, m.pc98.start_sector)},
                {"end_chs", chs_json(m.pc98.end_cylinder, m.pc98.end_head, m.pc98.end_sector)}};
    case LAYOUT_APPLE: {
        json_value j{{"status", m.apple.status},
                     {"start_block", m.apple.start_block},
                     {"block_count", m.apple.block_count}};
        put_device_text(&j, "processor", m.apple.processor, sizeof m.apple.processor);
        return j;
    }
    case LAYOUT_AMIGA:
        return {{"block", m.amiga.block},
                {"flags", m.amiga.flags},
                {"bootable", (m.amiga.flags & 1) != 0},
                {"dos_type", m.amiga.dos_type},
                {"surfaces", m.amiga.surfaces},
                {"blocks_per_track", m.amiga.blocks_per_track},
                {"reserved_blocks", m.amiga.reserved_blocks},
                {"low_cylinder", m.amiga.low_cylinder},
                {"high_cylinder", m.amiga.high_cylinder},
                {"boot_priority", m.amiga.boot_priority}};
    case LAYOUT_ATARI: {
        json_value j{{"flag", m.atari.flag}, {"bootable", (m.atari.flag & 0x80) != 0}};
        put_device_text(&j, "id", m.atari.id, sizeof m.atari.id);
        j["table_sector"] = m.atari.table_sector;
        return j;
    }
    case LAYOUT_SUN:
        if (!m.sun.tagged)
            return {{"start_cylinder", m.sun.start_cylinder}};
        return {{"tag", m.sun.tag}, {"flags", m.sun.flags}, {"start_cylinder", m.sun.start_cylinder}};
    case LAYOUT_SGI:
        return {{"type", m.sgi.type}};
    case LAYOUT_BSD:
        return {{"fs_type", m.bsd.fs_type},
                {"fragment_size", m.bsd.fragment_size},
                {"fragments_per_block", m.bsd.fragments_per_block},
                {"cylinders_per_group", m.bsd.cylinders_per_group},
                {"offset", m.bsd.offset}};
    default:
        return json_value::object();
    }
}

} // namespace

void print_map_entry_details(const layout_report& report, const partition_entry& entry)
{
    if (report.kind == LAYOUT_GPT)
        print_gpt_entry_details(entry);
    else if (report.kind == LAYOUT_AMIGA)
        print_amiga_entry_details(entry);
}

void put_map_entry_json(const layout_report& report, const partition_entry& entry, json_value* object)
{
    json_value& j = *object;
    j["type"] = utf8_or_latin1(entry.type_text);
    // GPT names are UTF-16 made UTF-8; the other maps keep their own bytes,
    // which may be Shift-JIS (PC-98).
    if (report.kind == LAYOUT_GPT)
        j["name"] = entry.name_text;
    else
        put_device_text(&j, "name", reinterpret_cast<const uint8_t*>(entry.name_text), strlen(entry.name_text));
    j["map"] = fields_json(report.kind, entry.map);
}
