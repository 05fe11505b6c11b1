// VMDK images, through libvmdk: a sparse file, or a text descriptor with
// the extent files it names, which are read from the descriptor's folder.
#include <cstring>

#include <libvmdk.h>

#include "format/format.h"
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

// What opening the extent files of each file of the chain needs.
struct extent_calls {
    decltype(&libvmdk_handle_set_extent_data_files_path) set_path;
    decltype(&libvmdk_handle_open_extent_data_files) open_extent_data_files;
    decltype(&libvmdk_handle_get_number_of_extents) get_number_of_extents;
    decltype(&libvmdk_handle_get_extent_descriptor) get_extent_descriptor;
    decltype(&libvmdk_extent_descriptor_get_utf8_filename_size) get_filename_size;
    decltype(&libvmdk_extent_descriptor_get_utf8_filename) get_filename;
    decltype(&libvmdk_extent_descriptor_free) free_extent;
};

std::string folder_of(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

// Extent files are read from the descriptor's folder only: a name with a
// folder in it (an absolute path, a ".." part) is refused before any extent
// is opened.
bool is_plain_name(const std::string& name)
{
    return !name.empty() && name.find_first_of("/\\") == std::string::npos && name != "." && name != ".." &&
           !(name.size() > 1 && name[1] == ':');
}

// The name of extent i, or "" when the library tells none.
std::string extent_name(const extent_calls& calls, const libyal_api& api, libvmdk_handle_t* handle, int i,
                        std::string* reason)
{
    libvmdk_error_t* error = nullptr;
    libvmdk_extent_descriptor_t* extent = nullptr;
    if (calls.get_extent_descriptor(handle, i, &extent, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot read an extent");
        return "";
    }
    size_t size = 0;
    std::string name;
    if (calls.get_filename_size(extent, &size, &error) == 1 && size > 1 && size <= 65536) {
        name.assign(size, '\0');
        if (calls.get_filename(extent, reinterpret_cast<uint8_t*>(&name[0]), size, &error) != 1)
            name.clear();
        name.resize(strnlen(name.c_str(), size));
    }
    if (error)
        api.error_free(&error);
    calls.free_extent(&extent, &error);
    if (error)
        api.error_free(&error);
    return name;
}

int open_extents(const extent_calls& calls, const libyal_api& api, libvmdk_handle_t* handle, const std::string& path,
                 std::string* reason)
{
    libvmdk_error_t* error = nullptr;
    int count = 0;
    if (calls.get_number_of_extents(handle, &count, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot count the extents");
        return CONTAINER_REFUSED;
    }
    for (int i = 0; i < count; i++) {
        reason->clear();
        std::string name = extent_name(calls, api, handle, i, reason);
        if (!reason->empty())
            return CONTAINER_REFUSED;
        if (!name.empty() && !is_plain_name(name)) {
            *reason = "libvmdk: extent file " + visible_text(name) + " is not in the descriptor's folder";
            return CONTAINER_REFUSED;
        }
        if (!name.empty() && check_companion_file(file_beside(path, name), "extent", reason) != 0)
            return CONTAINER_REFUSED;
    }
    std::string folder = folder_of(path);
    if (calls.set_path(handle, folder.c_str(), folder.size(), &error) != 1 ||
        calls.open_extent_data_files(handle, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot open the extent files");
        return CONTAINER_REFUSED;
    }
    return 0;
}

} // namespace

int open_vmdk_image(const char* file, const char* path, container_header* header, library_image* image,
                    std::string* reason)
{
    libyal_api& api = image->api;
    api.read_access = LIBVMDK_OPEN_READ;
    extent_calls calls{};
    decltype(&libvmdk_handle_get_disk_type) get_disk_type;
    libyal_table table;
    add_libyal_api(&table, &api, {"handle", "read_buffer_at_offset", true, "get_utf8_parent_filename",
                                  "set_parent_handle"});
    table.add("libvmdk_handle_get_disk_type", &get_disk_type);
    table.add("libvmdk_handle_set_extent_data_files_path", &calls.set_path);
    table.add("libvmdk_handle_open_extent_data_files", &calls.open_extent_data_files);
    table.add("libvmdk_handle_get_number_of_extents", &calls.get_number_of_extents);
    table.add("libvmdk_handle_get_extent_descriptor", &calls.get_extent_descriptor);
    table.add("libvmdk_extent_descriptor_get_utf8_filename_size", &calls.get_filename_size);
    table.add("libvmdk_extent_descriptor_get_utf8_filename", &calls.get_filename);
    table.add("libvmdk_extent_descriptor_free", &calls.free_extent);
    int result = load_libyal(image, file, table, *header, reason);
    if (result != 0)
        return result;
    api.after_open = [calls, &api](yal_object* object, const std::string& opened, std::string* why) {
        return open_extents(calls, api, object, opened, why);
    };
    result = open_libyal_chain(image, path, header, reason);
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
