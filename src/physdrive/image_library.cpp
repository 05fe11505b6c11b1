// The libyal core: which library reads which format in this build, and the
// calls every library shares: binding them, opening an image with its
// parents, reading at an offset, the library's error as one line, closing.
#include "physdrive/image_library.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "format/format.h"
#include "physdrive/drive_platform.h"
#include "physdrive/image_libyal.h"

namespace {

using open_call = int (*)(const char*, const char*, container_header*, library_image*, std::string*);

// The build defines VEXUM_LIBVHDI (and the others) as the library's file
// name when it has the library.
struct image_library {
    container_format format;
    const char* name;
    const char* file; // null: this build has none
    open_call open;
};

const image_library image_libraries[] = {
#ifdef VEXUM_LIBVHDI
    {container_format::vhd, "libvhdi", VEXUM_LIBVHDI, open_vhdi_image},
    {container_format::vhdx, "libvhdi", VEXUM_LIBVHDI, open_vhdi_image},
#else
    {container_format::vhd, "libvhdi", nullptr, nullptr},
    {container_format::vhdx, "libvhdi", nullptr, nullptr},
#endif
#ifdef VEXUM_LIBVMDK
    {container_format::vmdk, "libvmdk", VEXUM_LIBVMDK, open_vmdk_image},
#else
    {container_format::vmdk, "libvmdk", nullptr, nullptr},
#endif
#ifdef VEXUM_LIBQCOW
    {container_format::qcow, "libqcow", VEXUM_LIBQCOW, open_qcow_image},
#else
    {container_format::qcow, "libqcow", nullptr, nullptr},
#endif
#ifdef VEXUM_LIBEWF
    {container_format::ewf, "libewf", VEXUM_LIBEWF, open_ewf_image},
#else
    {container_format::ewf, "libewf", nullptr, nullptr},
#endif
};

// The last part of a path: the parent names that images store are often
// paths of the machine that wrote them ("C:\\VMs\\base.vhd").
std::string last_component(const std::string& name)
{
    size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The name of the object's parent, or "" when it has none.
int parent_name(const libyal_api& api, yal_object* object, std::string* name, std::string* reason)
{
    name->clear();
    if (!api.parent_name_size || !api.parent_name || !api.set_parent)
        return 0;
    yal_error* error = nullptr;
    size_t size = 0;
    int found = api.parent_name_size(object, &size, &error);
    if (found < 0) {
        *reason = take_libyal_error(api, &error, "cannot read the parent's name");
        return -1;
    }
    // An image's parent name is a path: far below this bound.
    if (found == 0 || size <= 1 || size > 65536)
        return 0;
    std::string text(size, '\0');
    if (api.parent_name(object, reinterpret_cast<uint8_t*>(&text[0]), size, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot read the parent's name");
        return -1;
    }
    text.resize(strnlen(text.c_str(), size));
    *name = text;
    return 0;
}

// Opens one file of the chain as a new object, kept in image->objects.
int open_object(library_image* image, const std::string& path, yal_object** object, std::string* reason)
{
    const libyal_api& api = image->api;
    yal_error* error = nullptr;
    *object = nullptr;
    if (api.initialize(object, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot start");
        return CONTAINER_REFUSED;
    }
    image->objects.push_back(*object);
    if (api.open(*object, path.c_str(), api.read_access, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot open the image");
        // Not opened: nothing to close, only to free.
        image->objects.pop_back();
        api.free(object, &error);
        if (error)
            api.error_free(&error);
        return CONTAINER_REFUSED;
    }
    if (api.after_open)
        return api.after_open(*object, path, reason);
    return 0;
}

// Closes and frees every object of the image's chain.
void close_objects(library_image* image)
{
    const libyal_api& api = image->api;
    for (yal_object* object : image->objects) {
        yal_error* error = nullptr;
        api.close(object, &error);
        if (error)
            api.error_free(&error);
        api.free(&object, &error);
        if (error)
            api.error_free(&error);
    }
    image->objects.clear();
}

// What the reads of an image may add to the heap before it is opened
// again: twice the most a single read has added, so that the library's
// caches still serve the next read or two (a cluster and its table, a
// block), and a cluster larger than the floor is not read again at every
// read; 256 KiB at least.
size_t read_heap_budget(const library_image& image)
{
    constexpr size_t FLOOR = 256 * 1024;
    return std::max(FLOOR, 2 * image.largest_read_heap);
}

} // namespace

void add_libyal_api(libyal_table* table, libyal_api* api, const libyal_names& names)
{
    std::string prefix = std::string(api->library) + "_";
    std::string calls = prefix + names.object + "_";
    table->add(calls + "initialize", &api->initialize);
    table->add(calls + "free", &api->free);
    table->add(calls + "close", &api->close);
    table->add(calls + names.read, &api->read_at);
    table->add(calls + "get_media_size", &api->media_size);
    table->add(prefix + "error_backtrace_sprint", &api->error_sprint);
    table->add(prefix + "error_free", &api->error_free);
    if (names.opens_one_file)
        table->add(calls + "open", &api->open);
    if (names.parent_name && names.set_parent) {
        std::string name = calls + names.parent_name;
        table->add(name + "_size", &api->parent_name_size);
        table->add(name, &api->parent_name);
        table->add(calls + names.set_parent, &api->set_parent);
    }
}

int load_libyal(library_image* image, const char* file, const libyal_table& table, const container_header& header,
                std::string* reason)
{
    std::string error;
    if (load_library(&file, 1, table.symbols.data(), table.symbols.size(), &image->library, &error) == 0)
        return 0;
    *reason = container_name(header) + " images need " + image->api.library + ", which cannot be loaded (" + error +
              ")";
    return CONTAINER_UNUSABLE;
}

std::string file_beside(const std::string& path, const std::string& name)
{
    size_t slash = path.find_last_of("/\\");
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return folder + last_component(name);
}

int check_companion_file(const std::string& path, const char* what, std::string* reason)
{
    errno = 0;
    drive_handle_t handle = platform_open_path(path.c_str());
    if (handle == INVALID_DRIVE_HANDLE) {
        *reason = std::string(what) + " " + visible_text(path) + ": " +
                  (errno != 0 ? strerror(errno) : "cannot be opened");
        return CONTAINER_REFUSED;
    }
    bool medium = platform_is_medium(handle);
    platform_close_drive(handle);
    if (medium)
        return 0;
    *reason = std::string(what) + " " + visible_text(path) + ": not a regular file or a block device";
    return CONTAINER_REFUSED;
}

std::string take_libyal_error(const libyal_api& api, yal_error** error, const char* fallback)
{
    std::string text;
    if (error != nullptr && *error != nullptr) {
        // A backtrace longer than the buffer still leaves its first lines.
        char buffer[2048] = {};
        api.error_sprint(*error, buffer, sizeof buffer - 1);
        text.assign(buffer, strnlen(buffer, sizeof buffer));
        api.error_free(error);
    }
    // The backtrace holds one line per call, the innermost (the cause)
    // first, each "function: message.". The cause, without its function.
    text = text.substr(0, text.find_first_of("\r\n"));
    size_t colon = text.find(": ");
    if (colon != std::string::npos && text.find(' ') > colon)
        text.erase(0, colon + 2);
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    // The library quotes what the file holds (names, signatures).
    return std::string(api.library) + ": " + (text.empty() ? fallback : visible_text(text));
}

int open_libyal_chain(library_image* image, const char* path, container_header* header, std::string* reason)
{
    const libyal_api& api = image->api;
    yal_object* child = nullptr;
    int result = open_object(image, path, &child, reason);
    if (result != 0)
        return result;
    std::string child_path = path;
    for (int depth = 0;; depth++) {
        std::string name;
        if (parent_name(api, child, &name, reason) != 0)
            return CONTAINER_REFUSED;
        if (name.empty())
            return 0;
        if (depth == MAX_PARENT_DEPTH) {
            *reason = std::string(api.library) + ": more than " + std::to_string(MAX_PARENT_DEPTH) +
                      " parent images";
            return CONTAINER_REFUSED;
        }
        // Parents are looked for beside their child, never elsewhere.
        std::string parent_path = file_beside(child_path, name);
        if (depth == 0)
            header->parent = parent_path;
        yal_object* parent = nullptr;
        if (check_companion_file(parent_path, "parent", reason) != 0)
            return CONTAINER_REFUSED;
        if (open_object(image, parent_path, &parent, reason) != 0) {
            *reason = "parent " + visible_text(parent_path) + ": " + *reason;
            return CONTAINER_REFUSED;
        }
        yal_error* error = nullptr;
        if (api.set_parent(child, parent, &error) != 1) {
            *reason = "parent " + visible_text(parent_path) + ": " +
                      take_libyal_error(api, &error, "does not fit its child");
            return CONTAINER_REFUSED;
        }
        child = parent;
        child_path = parent_path;
    }
}

int reopen_library_image(library_image* image, std::string* reason)
{
    const libyal_api& api = image->api;
    close_objects(image);
    image->read_heap = 0;
    container_header header;
    if (open_libyal_chain(image, image->path.c_str(), &header, reason) != 0) {
        close_objects(image);
        return -1;
    }
    yal_error* error = nullptr;
    uint64_t size = 0;
    if (api.media_size(image->objects.front(), &size, &error) != 1) {
        *reason = take_libyal_error(api, &error, "cannot tell the disk's size");
        close_objects(image);
        return -1;
    }
    if (size != image->media_size) {
        *reason = std::string(api.library) + ": the image changed while it was read";
        close_objects(image);
        return -1;
    }
    return 0;
}

int open_library_image(const char* path, container_header* header, library_image** opened, std::string* reason)
{
    *opened = nullptr;
    for (const image_library& l : image_libraries) {
        if (l.format != header->format)
            continue;
        std::string kind = container_name(*header);
        if (l.file == nullptr || l.open == nullptr) {
            *reason = kind + " images need " + l.name + ", which this build of vexum does not have";
            return CONTAINER_UNUSABLE;
        }
        library_image* image = new (std::nothrow) library_image;
        if (image == nullptr) {
            *reason = "out of memory";
            return CONTAINER_UNUSABLE;
        }
        image->api.library = l.name;
        int result = l.open(l.file, path, header, image, reason);
        if (result != 0) {
            close_library_image(image);
            return result;
        }
        yal_error* error = nullptr;
        uint64_t size = 0;
        if (image->api.media_size(image->objects.front(), &size, &error) != 1) {
            *reason = take_libyal_error(image->api, &error, "cannot tell the disk's size");
            close_library_image(image);
            return CONTAINER_REFUSED;
        }
        header->media_size = size;
        image->path = path;
        image->media_size = size;
        *opened = image;
        return 0;
    }
    *reason = "no library reads this format";
    return CONTAINER_UNUSABLE;
}

const char* container_library(container_format format, bool* in_build)
{
    for (const image_library& l : image_libraries) {
        if (l.format == format) {
            *in_build = l.file != nullptr;
            return l.name;
        }
    }
    *in_build = false;
    return nullptr;
}

int read_library_image(library_image* image, uint64_t offset, uint8_t* buffer, uint32_t length, std::string* reason)
{
    if (image == nullptr || offset > uint64_t(INT64_MAX))
        return -1;
    const libyal_api& api = image->api;
    if (image->objects.empty()) {
        *reason = std::string(api.library) + ": the image is not open";
        return -1;
    }
    if (api.drops_caches && image->read_heap > int64_t(read_heap_budget(*image)) &&
        reopen_library_image(image, reason) != 0)
        return -1;
    size_t before = api.drops_caches ? platform_heap_in_use() : 0;
    yal_error* error = nullptr;
    ssize_t got = api.read_at(image->objects.front(), buffer, length, int64_t(offset), &error);
    if (api.drops_caches) {
        // What the library added (or, replacing cache entries, freed).
        size_t after = platform_heap_in_use();
        image->read_heap += int64_t(after) - int64_t(before);
        if (after > before)
            image->largest_read_heap = std::max(image->largest_read_heap, after - before);
    }
    if (got == ssize_t(length))
        return 0;
    if (got < 0) {
        *reason = take_libyal_error(api, &error, "read error");
    } else {
        if (error)
            api.error_free(&error);
        *reason = std::string(api.library) + ": " + std::to_string(got) + " of " + std::to_string(length) +
                  " bytes read at offset " + std::to_string(offset);
    }
    return -1;
}

void close_library_image(library_image* image)
{
    if (image == nullptr)
        return;
    close_objects(image);
    unload_library(&image->library);
    delete image;
}
