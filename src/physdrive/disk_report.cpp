// The disk report of one drive or image: its heading, its geometry under
// -d, the decoded start of its medium, and under -o a dump of sector 0.
// Under -json each is one object of the document's "drives".
#include <cstdio>

#include "format/format.h"
#include "format/json.h"
#include "format/output.h"
#include "partition/medium.h"
#include "physdrive/drive_list.h"
#include "physdrive/physdrive.h"

static void print_geometry(const disk_geometry* geometry)
{
    char media[16];
    if (geometry->media_type == MEDIA_REMOVABLE)
        snprintf(media, sizeof media, "Removable");
    else if (geometry->media_type == MEDIA_FIXED)
        snprintf(media, sizeof media, "Fixed");
    else
        snprintf(media, sizeof media, "%02X", unsigned(geometry->media_type));
    char number[32];
    out_printf("  W32:Media Type             %13s\n", media);
    out_printf("  W32:Cylinder               %13s\n", format_grouped64(geometry->cylinders, number));
    out_printf("  W32:Track per cylinder     %13s\n", format_grouped(geometry->tracks_per_cylinder, number));
    out_printf("  W32:Sector per track       %13s\n", format_grouped(geometry->sectors_per_track, number));
    out_printf("  W32:Byte per sector        %13s\n", format_grouped(geometry->bytes_per_sector, number));
}

static json_value geometry_json(const disk_geometry& geometry)
{
    json_value j;
    if (geometry.media_type == MEDIA_REMOVABLE)
        j["media_type"] = "removable";
    else if (geometry.media_type == MEDIA_FIXED)
        j["media_type"] = "fixed";
    else
        j["media_type"] = nullptr;
    j["media_type_code"] = geometry.media_type;
    j["cylinders"] = geometry.cylinders;
    j["tracks_per_cylinder"] = geometry.tracks_per_cylinder;
    j["sectors_per_track"] = geometry.sectors_per_track;
    j["bytes_per_sector"] = geometry.bytes_per_sector;
    return j;
}

int report_drive_medium(const drive_descriptor* drive, const disk_geometry* image_geometry,
                        const report_options& options, const medium_reader* medium)
{
    if (options.show_device) {
        disk_geometry geometry{};
        if (image_geometry != nullptr) {
            geometry = *image_geometry;
        } else {
            drive_handle_t handle = drive_handle(drive->list_key);
            if (handle == INVALID_DRIVE_HANDLE)
                return -1;
            if (platform_drive_geometry(handle, &geometry) != 0)
                return -1;
        }
        if (options.json != nullptr)
            json_put(options.json, "geometry", geometry_json(geometry));
        else
            print_geometry(&geometry);
    }
    if (medium != nullptr)
        return report_medium(medium, options);
    medium_reader own = drive_medium(drive);
    return report_medium(&own, options);
}

void begin_drive_report(const drive_descriptor* drive, const char* image_path, const report_options& options)
{
    json_writer* json = options.json;
    if (json == nullptr) {
        if (image_path != nullptr)
            out_printf("\nDisk:%s\n", image_path);
        else
            out_printf("\nDisk:%d\n", drive->drive_number);
        return;
    }
    json_open_object(json, nullptr);
    if (image_path != nullptr) {
        json_put(json, "kind", "image");
        json_put(json, "path", utf8_or_latin1(image_path));
    } else {
        json_put(json, "kind", "drive");
        json_put(json, "number", drive->drive_number);
    }
}

void end_drive_report(const report_options& options)
{
    if (options.json != nullptr)
        json_close(options.json);
}

int report_disk(const drive_descriptor* drive, const report_options& options)
{
    begin_drive_report(drive, nullptr, options);
    int result = report_drive_medium(drive, nullptr, options);
    end_drive_report(options);
    return result;
}
