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

int open_qcow_image(const char*, const char* path, container_header* header, library_image* image,
                    std::string* reason)
{
    libyal_api& api = image->api;
    api.read_access = LIBQCOW_OPEN_READ;
    decltype(&libqcow_file_get_format_version) get_format_version;
    decltype(&libqcow_file_get_encryption_method) get_encryption_method;
    const libyal_names names{"file", "read_buffer_at_offset", true, "get_utf8_backing_filename", "set_parent_file"};
    bool bound = bind_libyal_api(image, names, reason);
    bound = bind_libyal_call(image, "libqcow_file_get_format_version", &get_format_version, reason) && bound;
    bound = bind_libyal_call(image, "libqcow_file_get_encryption_method", &get_encryption_method, reason) && bound;
    if (!bound)
        return CONTAINER_UNUSABLE;
    int result = open_libyal_chain(image, path, header, reason);
    if (result != 0)
        return result;
    libqcow_file_t* file = image->objects.front();
    libqcow_error_t* error = nullptr;
    uint32_t version = 0, encryption = 0;
    if (get_format_version(file, &version, &error) != 1 || get_encryption_method(file, &encryption, &error) != 1) {
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
