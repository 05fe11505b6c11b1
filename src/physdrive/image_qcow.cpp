// QCOW and QCOW2 images, through libqcow. Encrypted images are refused:
// vexum asks for no key.
#include <libqcow.h>

#include "physdrive/image_libyal.h"

VEXUM_SAME_CALL(libqcow_file_initialize, initialize);
VEXUM_SAME_CALL(libqcow_file_free, free);
VEXUM_SAME_CALL(libqcow_file_open, open);
VEXUM_SAME_CALL(libqcow_file_close, close);
VEXUM_SAME_CALL(libqcow_file_read_buffer_at_offset, read_at);
VEXUM_SAME_CALL(libqcow_file_get_media_size, media_size);
VEXUM_SAME_CALL(libqcow_error_backtrace_sprint, error_sprint);
VEXUM_SAME_CALL(libqcow_error_free, error_free);
VEXUM_SAME_CALL(libqcow_file_get_utf8_backing_filename_size, parent_name_size);
VEXUM_SAME_CALL(libqcow_file_get_utf8_backing_filename, parent_name);
VEXUM_SAME_CALL(libqcow_file_set_parent_file, set_parent);

int open_qcow_image(const char* file, const char* path, container_header* header, library_image* image,
                    std::string* reason)
{
    libyal_api& api = image->api;
    api.read_access = LIBQCOW_OPEN_READ;
    api.drops_caches = true;
    decltype(&libqcow_file_get_format_version) get_format_version;
    decltype(&libqcow_file_get_encryption_method) get_encryption_method;
    libyal_table table;
    add_libyal_api(&table, &api,
                   {"file", "read_buffer_at_offset", true, "get_utf8_backing_filename", "set_parent_file"});
    table.add("libqcow_file_get_format_version", &get_format_version);
    table.add("libqcow_file_get_encryption_method", &get_encryption_method);
    int result = load_libyal(image, file, table, *header, reason);
    if (result == 0)
        result = open_libyal_chain(image, path, header, reason);
    if (result != 0)
        return result;
    libqcow_file_t* qcow = image->objects.front();
    libqcow_error_t* error = nullptr;
    uint32_t version = 0, encryption = 0;
    if (get_format_version(qcow, &version, &error) != 1 || get_encryption_method(qcow, &encryption, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot read the image's parameters");
        return CONTAINER_REFUSED;
    }
    header->version_major = version;
    if (encryption != LIBQCOW_ENCRYPTION_METHOD_NONE) {
        *reason = "libqcow: the image is encrypted; vexum reads no encrypted image";
        return CONTAINER_REFUSED;
    }
    return 0;
}
