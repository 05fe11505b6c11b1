// VMDK images, through libvmdk: a sparse file, or a text descriptor with
// the extent files it names, which are read from the descriptor's folder.
#include <cstring>

#include <libvmdk.h>

#include "physdrive/image_libyal.h"

VEXUM_SAME_CALL(libvmdk_handle_initialize, initialize);
VEXUM_SAME_CALL(libvmdk_handle_free, free);
VEXUM_SAME_CALL(libvmdk_handle_open, open);
VEXUM_SAME_CALL(libvmdk_handle_close, close);
VEXUM_SAME_CALL(libvmdk_handle_read_buffer_at_offset, read_at);
VEXUM_SAME_CALL(libvmdk_handle_get_media_size, media_size);
VEXUM_SAME_CALL(libvmdk_error_backtrace_sprint, error_sprint);
VEXUM_SAME_CALL(libvmdk_error_free, error_free);
VEXUM_SAME_CALL(libvmdk_handle_get_utf8_parent_filename_size, parent_name_size);
VEXUM_SAME_CALL(libvmdk_handle_get_utf8_parent_filename, parent_name);
VEXUM_SAME_CALL(libvmdk_handle_set_parent_handle, set_parent);

namespace {

std::string folder_of(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

// Extent files are read from the descriptor's folder; a name that climbs
// out of it (an absolute path, a ".." part) is refused before any is opened.
bool stays_in_folder(const std::string& name)
{
    if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':'))
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = name.size();
        if (name.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

int check_extent_names(library_image* image, libvmdk_handle_t* handle, std::string* reason)
{
    decltype(&libvmdk_handle_get_number_of_extents) get_number_of_extents;
    decltype(&libvmdk_handle_get_extent_descriptor) get_extent_descriptor;
    decltype(&libvmdk_extent_descriptor_get_utf8_filename_size) get_filename_size;
    decltype(&libvmdk_extent_descriptor_get_utf8_filename) get_filename;
    decltype(&libvmdk_extent_descriptor_free) free_extent;
    bool bound = bind_libyal_call(image, "libvmdk_handle_get_number_of_extents", &get_number_of_extents, reason);
    bound = bind_libyal_call(image, "libvmdk_handle_get_extent_descriptor", &get_extent_descriptor, reason) && bound;
    bound = bind_libyal_call(image, "libvmdk_extent_descriptor_get_utf8_filename_size", &get_filename_size, reason) &&
            bound;
    bound = bind_libyal_call(image, "libvmdk_extent_descriptor_get_utf8_filename", &get_filename, reason) && bound;
    bound = bind_libyal_call(image, "libvmdk_extent_descriptor_free", &free_extent, reason) && bound;
    if (!bound)
        return CONTAINER_REFUSED;
    libvmdk_error_t* error = nullptr;
    int count = 0;
    if (get_number_of_extents(handle, &count, &error) != 1) {
        *reason = take_libyal_error(image->api, &error, "cannot count the extents");
        return CONTAINER_REFUSED;
    }
    for (int i = 0; i < count; i++) {
        libvmdk_extent_descriptor_t* extent = nullptr;
        if (get_extent_descriptor(handle, i, &extent, &error) != 1) {
            *reason = take_libyal_error(image->api, &error, "cannot read an extent");
            return CONTAINER_REFUSED;
        }
        size_t size = 0;
        std::string name;
        if (get_filename_size(extent, &size, &error) == 1 && size > 1 && size <= 65536) {
            name.assign(size, '\0');
            if (get_filename(extent, reinterpret_cast<uint8_t*>(&name[0]), size, &error) != 1)
                name.clear();
            name.resize(strnlen(name.c_str(), size));
        }
        if (error)
            image->api.error_free(&error);
        free_extent(&extent, &error);
        if (error)
            image->api.error_free(&error);
        if (!name.empty() && !stays_in_folder(name)) {
            *reason = "libvmdk: extent file " + name + " lies outside the descriptor's folder";
            return CONTAINER_REFUSED;
        }
    }
    return 0;
}

int open_extents(library_image* image, yal_object* object, const std::string& path, std::string* reason)
{
    decltype(&libvmdk_handle_set_extent_data_files_path) set_path;
    decltype(&libvmdk_handle_open_extent_data_files) open_extent_data_files;
    bool bound = bind_libyal_call(image, "libvmdk_handle_set_extent_data_files_path", &set_path, reason);
    bound = bind_libyal_call(image, "libvmdk_handle_open_extent_data_files", &open_extent_data_files, reason) && bound;
    if (!bound)
        return CONTAINER_REFUSED;
    if (check_extent_names(image, object, reason) != 0)
        return CONTAINER_REFUSED;
    std::string folder = folder_of(path);
    libvmdk_error_t* error = nullptr;
    if (set_path(object, folder.c_str(), folder.size(), &error) != 1 || open_extent_data_files(object, &error) != 1) {
        *reason = take_libyal_error(image->api, &error, "cannot open the extent files");
        return CONTAINER_REFUSED;
    }
    return 0;
}

} // namespace

int open_vmdk_image(const char*, const char* path, container_header* header, library_image* image,
                    std::string* reason)
{
    libyal_api& api = image->api;
    api.read_access = LIBVMDK_OPEN_READ;
    api.after_open = open_extents;
    decltype(&libvmdk_handle_get_disk_type) get_disk_type;
    const libyal_names names{"handle", "read_buffer_at_offset", true, "get_utf8_parent_filename",
                             "set_parent_handle"};
    bool bound = bind_libyal_api(image, names, reason);
    bound = bind_libyal_call(image, "libvmdk_handle_get_disk_type", &get_disk_type, reason) && bound;
    if (!bound)
        return CONTAINER_UNUSABLE;
    int result = open_libyal_chain(image, path, header, reason);
    if (result != 0)
        return result;
    libvmdk_error_t* error = nullptr;
    int disk_type = 0;
    if (get_disk_type(image->objects.front(), &disk_type, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot read the disk type");
        return CONTAINER_REFUSED;
    }
    header->disk_type = disk_type > 0 ? uint32_t(disk_type) : 0;
    return 0;
}
