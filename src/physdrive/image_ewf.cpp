// EWF (E01) forensic images, through libewf. The image is the file named
// and the segment files that libewf finds beside it (.E02, .E03, ...). A file
// whose name libewf does not take for a segment's (disk.img, evidence.ewf)
// is read alone: an image of one segment reads whole, one that lacks its
// other segments is refused.
#include <cstring>
#include <initializer_list>

#include <libewf.h>

#include "physdrive/image_libyal.h"

VEXUM_SAME_CALL(libewf_handle_initialize, initialize);
VEXUM_SAME_CALL(libewf_handle_free, free);
VEXUM_SAME_CALL(libewf_handle_close, close);
VEXUM_SAME_CALL(libewf_handle_read_random, read_at);
VEXUM_SAME_CALL(libewf_handle_get_media_size, media_size);
VEXUM_SAME_CALL(libewf_error_backtrace_sprint, error_sprint);
VEXUM_SAME_CALL(libewf_error_free, error_free);

int open_ewf_image(const char* file, const char* path, container_header* header, library_image* image,
                   std::string* reason)
{
    libyal_api& api = image->api;
    decltype(&libewf_glob) glob;
    decltype(&libewf_glob_free) glob_free;
    decltype(&libewf_handle_open) open;
    decltype(&libewf_handle_get_bytes_per_sector) get_bytes_per_sector;
    decltype(&libewf_handle_get_media_type) get_media_type;
    decltype(&libewf_handle_segment_files_corrupted) segment_files_corrupted;
    // Newer libewf names the read at an offset as the other libraries do;
    // the one of Debian 12 has only the older name.
    int result = CONTAINER_UNUSABLE;
    for (const char* read : {"read_buffer_at_offset", "read_random"}) {
        libyal_table table;
        add_libyal_api(&table, &api, {"handle", read, false, nullptr, nullptr});
        table.add("libewf_glob", &glob);
        table.add("libewf_glob_free", &glob_free);
        table.add("libewf_handle_open", &open);
        table.add("libewf_handle_get_bytes_per_sector", &get_bytes_per_sector);
        table.add("libewf_handle_get_media_type", &get_media_type);
        table.add("libewf_handle_segment_files_corrupted", &segment_files_corrupted);
        result = load_libyal(image, file, table, *header, reason);
        if (result == 0)
            break;
    }
    if (result != 0)
        return result;
    reason->clear(); // what the first name's attempt said

    libewf_error_t* error = nullptr;
    char** segments = nullptr;
    int segment_count = 0;
    char* alone[] = {const_cast<char*>(path)};
    bool globbed = glob(path, strlen(path), LIBEWF_FORMAT_UNKNOWN, &segments, &segment_count, &error) == 1;
    if (!globbed) {
        // The image was recognised by its content: its name is no reason
        // to refuse it.
        if (error)
            api.error_free(&error);
        segments = alone;
        segment_count = 1;
    }
    libewf_handle_t* handle = nullptr;
    int opened = 1;
    for (int i = 0; i < segment_count && opened == 1; i++) {
        if (check_companion_file(segments[i], "segment", reason) != 0)
            opened = 0;
    }
    if (opened == 1)
        opened = api.initialize(&handle, &error);
    if (opened == 1) {
        image->objects.push_back(handle);
        opened = open(handle, segments, segment_count, LIBEWF_OPEN_READ, &error);
        if (opened != 1)
            image->objects.pop_back();
    }
    libewf_error_t* free_error = nullptr;
    if (globbed)
        glob_free(segments, segment_count, &free_error);
    if (free_error)
        api.error_free(&free_error);
    if (opened != 1) {
        if (error || reason->empty())
            *reason = take_libyal_error(api, &error, "cannot open the image");
        if (handle)
            api.free(&handle, &free_error);
        if (free_error)
            api.error_free(&free_error);
        return CONTAINER_REFUSED;
    }
    // libewf reads what a damaged segment lacks as zeros: a disk that is
    // not there would read as an empty one.
    if (segment_files_corrupted(handle, &error) != 0) {
        if (error)
            *reason = take_libyal_error(api, &error, "");
        else if (!globbed)
            *reason = "libewf: the image lacks segment files, which are looked for only beside a first segment "
                      "named .E01";
        else
            *reason = "libewf: the segment files are damaged or cut short (ewfverify tells more)";
        return CONTAINER_REFUSED;
    }
    uint32_t sector_size = 0;
    uint8_t media_type = 0;
    if (get_bytes_per_sector(handle, &sector_size, &error) != 1 || get_media_type(handle, &media_type, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot read the image's parameters");
        return CONTAINER_REFUSED;
    }
    header->sector_size = sector_size;
    header->ewf_media_type = media_type;
    header->segments = uint32_t(segment_count);
    return 0;
}
