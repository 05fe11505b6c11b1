// Opening an image through its container, and reading the disk inside: at
// the header's data offset for the formats read here, through the library
// for the others, never past the disk's size.
#include "physdrive/container.h"

#include <new>

#include "format/format.h"
#include "format/json.h"
#include "format/output.h"
#include "physdrive/image_library.h"

void library_image_deleter::operator()(library_image* image) const { close_library_image(image); }

container_image::~container_image() { platform_close_drive(handle); }

namespace {

// The first and last bytes of the file, as much of them as it has. A part
// that cannot be read (the last sectors of a failing disk) is left out:
// such a medium is read as it is, as far as it reads.
void read_probe(drive_handle_t handle, uint64_t file_size, uint8_t* head, size_t* head_size, uint8_t* tail,
                size_t* tail_size)
{
    size_t n = file_size < CONTAINER_PROBE_SIZE ? size_t(file_size) : CONTAINER_PROBE_SIZE;
    *head_size = n != 0 && platform_read_at(handle, 0, head, uint32_t(n)) == 0 ? n : 0;
    *tail_size = n != 0 && platform_read_at(handle, file_size - n, tail, uint32_t(n)) == 0 ? n : 0;
}

} // namespace

int open_container_handle(const char* path, drive_handle_t handle, uint64_t file_size,
                          std::unique_ptr<container_image>* image, std::string* error)
{
    std::unique_ptr<container_image> opened(new (std::nothrow) container_image);
    if (!opened) {
        platform_close_drive(handle);
        *error = std::string(path) + ": cannot open the image (out of memory)";
        return CONTAINER_UNUSABLE;
    }
    opened->path = path;
    opened->handle = handle;
    uint8_t head[CONTAINER_PROBE_SIZE] = {};
    uint8_t tail[CONTAINER_PROBE_SIZE] = {};
    size_t head_size = 0, tail_size = 0;
    read_probe(handle, file_size, head, &head_size, tail, &tail_size);
    std::string reason;
    int kind = parse_container_header(head, head_size, tail, tail_size, file_size, &opened->header, &reason);
    if (kind == CONTAINER_REFUSED) {
        *error = std::string(path) + ": " + reason;
        return CONTAINER_REFUSED;
    }
    if (kind == CONTAINER_LIBRARY) {
        // The library opens the file (and its segments or parents) itself.
        platform_close_drive(opened->handle);
        opened->handle = INVALID_DRIVE_HANDLE;
        library_image* library = nullptr;
        int result = open_library_image(path, &opened->header, &library, &reason);
        if (result != 0) {
            *error = std::string(path) + ": " + reason;
            return result;
        }
        opened->library.reset(library);
        uint32_t size = opened->header.sector_size;
        if (size < MIN_CONTAINER_SECTOR || size > MAX_CONTAINER_SECTOR || (size & (size - 1)) != 0) {
            char text[32];
            *error = std::string(path) + ": " + container_name(opened->header) + " sector size of " +
                     format_grouped(size, text) + " bytes is not one vexum reads";
            return CONTAINER_REFUSED;
        }
    }
    *image = std::move(opened);
    return 0;
}

int read_container(const container_image* image, uint64_t offset, uint8_t* buffer, uint32_t length)
{
    const container_header& h = image->header;
    if (offset > h.media_size || length > h.media_size - offset)
        return -1;
    if (length == 0)
        return 0;
    if (!image->library)
        return platform_read_at(image->handle, h.data_offset + offset, buffer, length);
    std::string reason;
    if (read_library_image(image->library.get(), offset, buffer, length, &reason) == 0)
        return 0;
    if (!image->read_error_said) {
        image->read_error_said = true;
        err_printf("vexum: %s: %s\n", image->path.c_str(), reason.c_str());
    }
    return -1;
}

namespace {

int read_container_medium(const medium_reader* medium, uint64_t block, uint32_t count, uint8_t* buffer)
{
    const auto* image = static_cast<const container_image*>(medium->holder);
    uint64_t length = uint64_t(count) * medium->sector_size;
    if (length > UINT32_MAX || block > UINT64_MAX / medium->sector_size)
        return -1;
    return read_container(image, block * medium->sector_size, buffer, uint32_t(length));
}

} // namespace

medium_reader container_medium(const container_image* image)
{
    const container_header& h = image->header;
    uint32_t size = h.sector_size;
    medium_reader medium{read_container_medium, image, size, size != 0 ? h.media_size / size : 0};
    // The geometry of the machine that wrote the disk (HDI, NHD, THD), which
    // layouts addressed by cylinder, head and sector need; a VHD footer's
    // is made up from the size.
    if (h.has_geometry && h.format != container_format::vhd) {
        medium.heads = h.heads;
        medium.sectors_per_track = h.sectors_per_track;
    }
    return medium;
}

namespace {

// EWF's media type byte.
const char* ewf_media_word(uint32_t type)
{
    switch (type) {
    case 0x00: return "removable";
    case 0x01: return "fixed";
    case 0x03: return "optical";
    case 0x0E: return "single_files";
    case 0x10: return "memory";
    default: return nullptr;
    }
}

// 8-4-4-4-12 hexadecimal digits of the 16 bytes in their order, as
// vhdiinfo shows a disk's identifier.
std::string identifier_text(const uint8_t* id)
{
    std::string hex = hex_text(id, 16);
    for (char& c : hex)
        c = char(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20);
}

// The image's "container" object: what the header (or the library) says.
json_value container_json(const container_header& h)
{
    json_value j;
    j["format"] = container_format_word(h.format);
    j["name"] = utf8_or_latin1(container_name(h));
    j["media_size_bytes"] = h.media_size;
    j["sector_size"] = h.sector_size;
    if (h.has_geometry)
        j["geometry"] = {{"cylinders", h.cylinders}, {"heads", h.heads}, {"sectors_per_track", h.sectors_per_track}};
    bool read_here = h.format == container_format::hdi || h.format == container_format::nhd ||
                     h.format == container_format::thd ||
                     (h.format == container_format::vhd && h.disk_type == VHD_DISK_FIXED);
    if (read_here)
        j["data_offset"] = h.data_offset;
    if (h.format == container_format::hdi || h.format == container_format::nhd || h.format == container_format::thd)
        j["header_size"] = h.header_size;
    if (h.format == container_format::hdi)
        j["hdi_drive_type"] = h.hdi_type;
    if (h.format == container_format::nhd)
        put_device_text(&j, "comment", reinterpret_cast<const uint8_t*>(h.comment.data()), h.comment.size());
    if (h.format == container_format::vhd || h.format == container_format::vhdx ||
        h.format == container_format::vmdk) {
        const char* variant = container_variant(h);
        j["disk_type"] = *variant ? json_value(variant) : json_value(nullptr);
        j["disk_type_code"] = h.disk_type;
    }
    if (h.format == container_format::vhd || h.format == container_format::vhdx)
        j["format_version"] = {h.version_major, h.version_minor};
    if (h.format == container_format::qcow)
        j["format_version"] = {h.version_major};
    if (h.format == container_format::vhd && h.creator.size() == 4)
        put_device_text(&j, "creator_application", reinterpret_cast<const uint8_t*>(h.creator.data()), 4);
    if (h.has_identifier)
        j["identifier"] = identifier_text(h.identifier);
    if (!h.parent.empty())
        j["parent"] = utf8_or_latin1(h.parent);
    if (h.format == container_format::ewf) {
        j["segment_files"] = h.segments;
        const char* word = ewf_media_word(h.ewf_media_type);
        j["ewf_media_type"] = word ? json_value(word) : json_value(nullptr);
        j["ewf_media_type_code"] = h.ewf_media_type;
    }
    return j;
}

} // namespace

void report_container(const container_header& header, const report_options& options)
{
    if (options.json == nullptr) {
        char number[32];
        out_printf("  Image: %s, %s bytes\n", container_name(header).c_str(), format_grouped64(header.media_size, number));
        return;
    }
    json_put(options.json, "container", container_json(header));
}
