// The Sun disk label (SPARC): sector 0 holds a label text, the disk's
// cylinders, heads and sectors per track, eight slices given by their
// start cylinder and size, and when its table of contents is sound a tag
// and flags for each; 0DABEh at 1FCh and a checksum that XORs the sector's
// 16-bit words to 0.
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/maps.h"

namespace {

constexpr uint32_t SUN_MAGIC = 0xDABE;
constexpr uint32_t SUN_VTOC_SANITY = 0x600DDEEE;
constexpr uint32_t SUN_SLICES = 8;

const char* tag_name(uint32_t tag)
{
    switch (tag) {
    case 0x00: return "unassigned";
    case 0x01: return "boot";
    case 0x02: return "root";
    case 0x03: return "swap";
    case 0x04: return "usr";
    case 0x05: return "backup";
    case 0x06: return "stand";
    case 0x07: return "var";
    case 0x08: return "home";
    case 0x09: return "alternates";
    case 0x0A: return "reserved";
    case 0x0B: return "system";
    case 0x0C: return "BIOS boot";
    case 0x82: return "Linux swap";
    case 0x83: return "Linux native";
    case 0x8E: return "Linux LVM";
    case 0xFD: return "Linux raid autodetect";
    }
    return nullptr;
}

uint32_t sectors_per_cylinder(const uint8_t* label) { return get_be16(label + 0x1B4) * get_be16(label + 0x1B6); }

// A sound table of contents gives the slices' tags and flags and their
// number; without one there are eight slices and no tags.
bool has_sound_vtoc(const uint8_t* label)
{
    return get_be32(label + 0xBC) == SUN_VTOC_SANITY && get_be32(label + 0x80) == 1 &&
           get_be16(label + 0x8C) <= SUN_SLICES;
}

void print_label(const uint8_t* label)
{
    char text[129], number[32];
    out_printf("  SUN:Label                  %s\n", copy_trimmed_field(text, label, 128));
    out_printf("  SUN:Cylinders              %13s\n", format_grouped(get_be16(label + 0x1B0), number));
    out_printf("  SUN:Alternate cylinders    %13s\n", format_grouped(get_be16(label + 0x1B2), number));
    out_printf("  SUN:Track per cylinder     %13s\n", format_grouped(get_be16(label + 0x1B4), number));
    out_printf("  SUN:Sector per track       %13s\n", format_grouped(get_be16(label + 0x1B6), number));
}

json_value label_json(const uint8_t* label)
{
    json_value j;
    put_device_text(&j, "label", label, 128);
    j["cylinders"] = get_be16(label + 0x1B0);
    j["alternate_cylinders"] = get_be16(label + 0x1B2);
    j["heads"] = get_be16(label + 0x1B4);
    j["sectors_per_track"] = get_be16(label + 0x1B6);
    j["vtoc"] = has_sound_vtoc(label);
    if (has_sound_vtoc(label))
        put_device_text(&j, "volume_name", label + 0x84, 8);
    return j;
}

} // namespace

bool holds_sun_label(const medium_reader* medium, const uint8_t* sector0)
{
    if (medium->sector_size != 512 || get_be16(sector0 + 0x1FC) != SUN_MAGIC)
        return false;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < 512; i += 2)
        sum ^= get_be16(sector0 + i);
    if (sum != 0)
        return false;
    // Without heads or sectors per track a slice past cylinder 0 has no
    // place: such a label is no label.
    if (sectors_per_cylinder(sector0) == 0) {
        for (uint32_t i = 0; i < SUN_SLICES; i++) {
            if (get_be32(sector0 + 0x1BC + 8 * i) != 0)
                return false;
        }
    }
    return true;
}

int decode_sun_label(const medium_reader* medium, const uint8_t* label, const report_options& options)
{
    sector_cache cache = make_sector_cache(medium);
    layout_report report{options, LAYOUT_SUN, medium};
    begin_map_layout(
        report, false, [&] { return label_json(label); }, [&] { print_label(label); });
    bool tagged = has_sound_vtoc(label);
    uint32_t slices = tagged ? get_be16(label + 0x8C) : SUN_SLICES;
    uint64_t per_cylinder = sectors_per_cylinder(label);
    uint64_t highest_end = 0;
    for (uint32_t i = 0; i < slices; i++) {
        const uint8_t* slice = label + 0x1BC + 8 * i;
        partition_entry entry{};
        entry.sectors = get_be32(slice + 4);
        if (entry.sectors == 0)
            continue;
        entry.number = i + 1;
        entry.type_code = -1;
        sun_fields& f = entry.map.sun;
        f.start_cylinder = get_be32(slice);
        entry.start = f.start_cylinder * per_cylinder;
        if (tagged) {
            f.tagged = true;
            f.tag = get_be16(label + 0x8E + 4 * i);
            f.flags = get_be16(label + 0x90 + 4 * i);
            const char* name = tag_name(f.tag);
            if (name != nullptr)
                snprintf(entry.type_text, sizeof entry.type_text, "%s", name);
            else
                snprintf(entry.type_text, sizeof entry.type_text, "tag %04XH", unsigned(f.tag));
        }
        list_map_entry(report, &cache, &entry, &highest_end);
    }
    return end_map_layout(report, layout_end{true, 0, CHAIN_NOT_STOPPED, 0}, highest_end);
}
