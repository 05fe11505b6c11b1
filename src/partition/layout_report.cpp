// The report of a layout as its decoder walks it: the heading, one line per
// partition entry (with its extent and boot parameter block under p), and
// the free space or the reason an extended chain was left. The same records
// become the "layout" object of the JSON document, written entry by entry.
#include <cstdio>
#include <cstring>

#include "format/format.h"
#include "format/json.h"
#include "format/output.h"
#include "partition/maps.h"
#include "partition/partition.h"
#include "partition/partition_json.h"

namespace {

const char* layout_heading(layout_kind kind)
{
    switch (kind) {
    case LAYOUT_IBM_FLOPPY: return "IBM FLOPPY DISK FORMAT    ";
    case LAYOUT_IBM_HARD_DISK: return "IBM HARD DISK FORMAT      ";
    case LAYOUT_FMR_TOWNS: return "FMR/TOWNS HARD DISK FORMAT";
    case LAYOUT_GPT: return "GUID PARTITION TABLE      ";
    case LAYOUT_PC98: return "PC-98 HARD DISK FORMAT    ";
    case LAYOUT_APPLE: return "APPLE PARTITION MAP       ";
    case LAYOUT_AMIGA: return "AMIGA RIGID DISK BLOCK    ";
    case LAYOUT_ATARI: return "ATARI HARD DISK FORMAT    ";
    case LAYOUT_SUN: return "SUN DISK LABEL            ";
    case LAYOUT_SGI: return "SGI VOLUME HEADER         ";
    case LAYOUT_BSD: return "BSD DISK LABEL            ";
    }
    return "";
}

const char* layout_key(layout_kind kind)
{
    switch (kind) {
    case LAYOUT_IBM_FLOPPY: return "ibm_floppy";
    case LAYOUT_IBM_HARD_DISK: return "ibm_hard_disk";
    case LAYOUT_FMR_TOWNS: return "fmr_towns";
    case LAYOUT_GPT: return "gpt";
    case LAYOUT_PC98: return "pc98";
    case LAYOUT_APPLE: return "apple_partition_map";
    case LAYOUT_AMIGA: return "amiga_rdb";
    case LAYOUT_ATARI: return "atari_ahdi";
    case LAYOUT_SUN: return "sun_vtoc";
    case LAYOUT_SGI: return "sgi_volume_header";
    case LAYOUT_BSD: return "bsd_disklabel";
    }
    return "";
}

uint64_t medium_bytes(const layout_report& report)
{
    uint64_t sectors = report.size_sectors != 0 ? report.size_sectors : report.medium->sector_count;
    return uint64_t(report.medium->sector_size) * sectors;
}

// The line of one entry: its mark and number (blanks for a floppy's volume),
// the label and serial number of its FAT volume (blanks without one), its
// size, then what the layout names it by.
void print_partition_line(const layout_report& report, const partition_entry& entry)
{
    if (entry.number == 0)
        out_puts("      ");
    else
        out_printf(" %c(%2u)", entry.boot_indicator != 0 ? '*' : ' ', unsigned(entry.number));
    if (entry.has_volume) {
        char label[12], serial[16];
        copy_padded_field(label, entry.volume.bpb.label, 11);
        out_printf(" %-11s %-9s ", label, format_volume_serial(entry.volume.bpb.serial, serial));
    } else {
        out_printf("%23s", "");
    }
    char size[32];
    out_printf("%13s .. ", format_grouped64(entry.sectors * report.medium->sector_size, size));
    char oem[9];
    copy_padded_field(oem, entry.volume.oem, 8);
    switch (report.kind) {
    case LAYOUT_IBM_FLOPPY: {
        char file_system[9];
        out_printf("%-24s %s\n", copy_padded_field(file_system, entry.volume.bpb.file_system_name, 8), oem);
        break;
    }
    case LAYOUT_IBM_HARD_DISK:
        out_printf("%-24s", partition_type_name(uint32_t(entry.type_code)));
        if (entry.has_volume)
            out_printf(" %s", oem);
        out_putc('\n');
        break;
    case LAYOUT_FMR_TOWNS: {
        char system_name[17], second_name[17];
        out_printf("%s %s\n", copy_padded_field(system_name, entry.system_name, 16),
                   copy_padded_field(second_name, entry.second_name, 16));
        break;
    }
    default:
        out_printf("%-24s", entry.type_text);
        if (entry.name_text[0] != 0)
            out_printf(" %s", entry.name_text);
        out_putc('\n');
        break;
    }
}

void print_free_space(uint64_t sectors, uint32_t sector_size)
{
    char bytes[32], count[32];
    out_printf("  (--)  Free disk space      %13s bytes (%13s sectors)\n", format_grouped64(sectors * sector_size, bytes),
               format_grouped64(sectors, count));
}

// The line of a stopped walk: an extended chain (IBM, Atari), the chain of
// an Amiga's partition blocks, or the run of an Apple map's entries.
void print_chain_stop(layout_kind kind, const layout_end& end)
{
    const char* walk = "Extended chain";
    const char* link = "link to sector";
    const char* entry = "partition";
    if (kind == LAYOUT_AMIGA) {
        walk = "Partition chain";
        entry = "partition block";
    } else if (kind == LAYOUT_APPLE) {
        walk = "Partition map";
        link = "entry at sector";
        entry = "entry";
    }
    char number[32];
    switch (end.stop) {
    case CHAIN_TOO_MANY_LINKS:
        out_printf("  (--)  %s stopped: more than %s %s\n", walk, format_grouped(MAX_EXTENDED_LINKS, number),
                   kind == LAYOUT_APPLE ? "entries" : "links");
        break;
    case CHAIN_PAST_THE_END:
        out_printf("  (--)  %s stopped: %s %s past the end\n", walk, link, format_grouped64(end.stop_sector, number));
        break;
    case CHAIN_WALKED_BEFORE:
        out_printf("  (--)  %s stopped: %s %s walked before\n", walk, link, format_grouped64(end.stop_sector, number));
        break;
    case CHAIN_NO_ENTRY:
        out_printf("  (--)  %s stopped: no %s at sector %s\n", walk, entry, format_grouped64(end.stop_sector, number));
        break;
    case CHAIN_BAD_CHECKSUM:
        out_printf("  (--)  %s stopped: bad checksum at sector %s\n", walk, format_grouped64(end.stop_sector, number));
        break;
    case CHAIN_NOT_STOPPED:
        break;
    }
}

json_value volume_json(const fat_volume& volume, const report_options& options)
{
    json_value j;
    j["fat32"] = volume.bpb.fat32;
    put_device_text(&j, "label", volume.bpb.label, sizeof volume.bpb.label);
    char serial[16];
    j["serial"] = format_volume_serial(volume.bpb.serial, serial);
    j["serial_number"] = volume.bpb.serial;
    put_device_text(&j, "file_system", volume.bpb.file_system_name, sizeof volume.bpb.file_system_name);
    put_device_text(&j, "oem", volume.oem, sizeof volume.oem);
    if (options.show_partitions)
        j["bpb"] = bpb_json(volume.bpb);
    return j;
}

json_value partition_json(const layout_report& report, const partition_entry& entry)
{
    json_value j;
    j["number"] = entry.number;
    j["active"] = entry.boot_indicator != 0;
    j["boot_indicator"] = entry.boot_indicator;
    if (entry.type_code >= 0) {
        j["type_code"] = entry.type_code;
        const char* name = find_partition_type_name(uint32_t(entry.type_code));
        j["type_name"] = name ? json_value(name) : json_value(nullptr);
    }
    if (report.kind == LAYOUT_FMR_TOWNS) {
        put_device_text(&j, "system_name", entry.system_name, sizeof entry.system_name);
        put_device_text(&j, "second_name", entry.second_name, sizeof entry.second_name);
    }
    if (is_map_layout(report.kind))
        put_map_entry_json(report, entry, &j);
    j["start"] = entry.start;
    j["sectors"] = entry.sectors;
    j["size_bytes"] = entry.sectors * report.medium->sector_size;
    if (entry.has_volume)
        j["volume"] = volume_json(entry.volume, report.options);
    return j;
}

} // namespace

char* format_volume_serial(uint32_t serial, char* out)
{
    snprintf(out, 10, "%04X-%04X", unsigned(serial >> 16), unsigned(serial & 0xFFFF));
    return out;
}

void print_partition_extent(uint64_t start, uint64_t sector_count)
{
    char number[32];
    out_printf("        Partition start      %13s (%8llXH)\n", format_grouped64(start, number),
               static_cast<unsigned long long>(start));
    out_printf("        Partition size       %13s (%8llXH)\n", format_grouped64(sector_count, number),
               static_cast<unsigned long long>(sector_count));
}

void begin_layout(const layout_report& report, const json_value* header)
{
    json_writer* json = report.options.json;
    if (json == nullptr) {
        char size[32];
        out_printf("  %s %13s bytes\n", layout_heading(report.kind), format_grouped64(medium_bytes(report), size));
        return;
    }
    json_open_object(json, "layout");
    json_put(json, "kind", layout_key(report.kind));
    json_put(json, "size_bytes", medium_bytes(report));
    if (header != nullptr)
        json_put_members(json, *header);
    // A floppy's volume fills the medium: it is the layout's "volume", and
    // the layout has no partitions.
    if (report.kind != LAYOUT_IBM_FLOPPY)
        json_open_array(json, "partitions");
}

void begin_partition(const layout_report& report, const partition_entry& entry)
{
    json_writer* json = report.options.json;
    if (json != nullptr) {
        if (report.kind == LAYOUT_IBM_FLOPPY) {
            json_put(json, "volume", volume_json(entry.volume, report.options));
        } else {
            json_open_object(json, nullptr);
            json_put_members(json, partition_json(report, entry));
        }
        return;
    }
    print_partition_line(report, entry);
    if (!report.options.show_partitions)
        return;
    if (entry.number != 0)
        print_partition_extent(entry.start, entry.sectors);
    if (is_map_layout(report.kind))
        print_map_entry_details(report, entry);
    if (entry.has_volume)
        print_bpb(entry.volume.bpb);
}

void end_partition(const layout_report& report)
{
    json_writer* json = report.options.json;
    if (json != nullptr && report.kind != LAYOUT_IBM_FLOPPY)
        json_close(json);
}

void report_partition(const layout_report& report, const partition_entry& entry)
{
    begin_partition(report, entry);
    end_partition(report);
}

void end_layout(const layout_report& report, const layout_end& end)
{
    json_writer* json = report.options.json;
    if (json == nullptr) {
        if (end.stop != CHAIN_NOT_STOPPED)
            print_chain_stop(report.kind, end);
        else if (end.complete && end.free_sectors != 0)
            print_free_space(end.free_sectors, report.medium->sector_size);
        return;
    }
    if (report.kind != LAYOUT_IBM_FLOPPY)
        json_close(json); // the partitions
    json_put(json, "complete", end.complete);
    if (end.complete && report.kind != LAYOUT_IBM_FLOPPY)
        json_put(json, "free", {{"sectors", end.free_sectors}, {"bytes", end.free_sectors * report.medium->sector_size}});
    if (end.stop != CHAIN_NOT_STOPPED) {
        json_value stop;
        if (end.stop == CHAIN_TOO_MANY_LINKS) {
            stop["reason"] = "too_many_links";
            stop["links"] = MAX_EXTENDED_LINKS;
        } else {
            stop["reason"] = end.stop == CHAIN_PAST_THE_END    ? "past_the_end"
                             : end.stop == CHAIN_WALKED_BEFORE ? "walked_before"
                             : end.stop == CHAIN_NO_ENTRY      ? "no_entry"
                                                               : "bad_checksum";
            stop["sector"] = end.stop_sector;
        }
        json_put(json, "chain_stopped", stop);
    }
    json_close(json); // the layout
}

void report_unknown_layout(const report_options& options)
{
    if (options.json != nullptr)
        json_put(options.json, "layout", {{"kind", "unknown"}});
    else
        out_puts("  Unkown format!!\n");
}
