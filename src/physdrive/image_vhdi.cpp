// VHD dynamic and differencing disks and VHDX disks, through libvhdi.
#include <libvhdi.h>

#include "physdrive/image_libyal.h"

VEXUM_SAME_CALL(libvhdi_file_initialize, initialize);
VEXUM_SAME_CALL(libvhdi_file_free, free);
VEXUM_SAME_CALL(libvhdi_file_open, open);
VEXUM_SAME_CALL(libvhdi_file_close, close);
VEXUM_SAME_CALL(libvhdi_file_read_buffer_at_offset, read_at);
VEXUM_SAME_CALL(libvhdi_file_get_media_size, media_size);
VEXUM_SAME_CALL(libvhdi_error_backtrace_sprint, error_sprint);
VEXUM_SAME_CALL(libvhdi_error_free, error_free);
VEXUM_SAME_CALL(libvhdi_file_get_utf8_parent_filename_size, parent_name_size);
VEXUM_SAME_CALL(libvhdi_file_get_utf8_parent_filename, parent_name);
VEXUM_SAME_CALL(libvhdi_file_set_parent_file, set_parent);

int open_vhdi_image(const char* file, const char* path, container_header* header, library_image* image,
                    std::string* reason)
{
    libyal_api& api = image->api;
    api.read_access = LIBVHDI_OPEN_READ;
    // VHD only: the cost of opening a VHDX again (its log and metadata
    // regions) has not been weighed.
    api.drops_caches = header->format == container_format::vhd;
    decltype(&libvhdi_file_get_disk_type) get_disk_type;
    decltype(&libvhdi_file_get_format_version) get_format_version;
    decltype(&libvhdi_file_get_bytes_per_sector) get_bytes_per_sector;
    decltype(&libvhdi_file_get_identifier) get_identifier;
    libyal_table table;
    add_libyal_api(&table, &api,
                   {"file", "read_buffer_at_offset", true, "get_utf8_parent_filename", "set_parent_file"});
    table.add("libvhdi_file_get_disk_type", &get_disk_type);
    table.add("libvhdi_file_get_format_version", &get_format_version);
    table.add("libvhdi_file_get_bytes_per_sector", &get_bytes_per_sector);
    table.add("libvhdi_file_get_identifier", &get_identifier);
    int result = load_libyal(image, file, table, *header, reason);
    if (result == 0)
        result = open_libyal_chain(image, path, header, reason);
    if (result != 0)
        return result;
    libvhdi_file_t* vhdi = image->objects.front();
    libvhdi_error_t* error = nullptr;
    uint32_t disk_type = 0, sector_size = 0;
    uint16_t major = 0, minor = 0;
    if (get_disk_type(vhdi, &disk_type, &error) != 1 || get_format_version(vhdi, &major, &minor, &error) != 1 ||
        get_bytes_per_sector(vhdi, &sector_size, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot read the disk's parameters");
        return CONTAINER_REFUSED;
    }
    header->disk_type = disk_type;
    header->version_major = major;
    header->version_minor = minor;
    header->sector_size = sector_size;
    header->has_identifier = get_identifier(vhdi, header->identifier, sizeof header->identifier, &error) == 1;
    if (error)
        api.error_free(&error);
    return 0;
}
