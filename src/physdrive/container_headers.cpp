// Recognising a container by its content: the headers read here (HDI, NHD,
// THD, the VHD footer) field by field, and the signatures of the formats a
// library reads. Every size a header gives is checked against the file's
// size before anything is read through it.
#include <cstring>
#include <initializer_list>

#include "format/bytes.h"
#include "format/format.h"
#include "physdrive/container.h"

namespace {

constexpr size_t HDI_HEADER_BYTES = 32;
constexpr size_t NHD_HEADER_BYTES = 512;
constexpr size_t THD_HEADER_BYTES = 256;
constexpr size_t VHD_FOOTER_BYTES = 512;
// THD files carry no geometry but the cylinder count.
constexpr uint32_t THD_HEADS = 8;
constexpr uint32_t THD_SECTORS = 33;
constexpr uint32_t THD_SECTOR_SIZE = 256;

const char NHD_SIGNATURE[] = "T98HDDIMAGE.R0"; // followed by a zero byte
const char VHD_COOKIE[] = "conectix";

bool starts_with(const uint8_t* bytes, size_t size, const char* signature, size_t length)
{
    return size >= length && std::memcmp(bytes, signature, length) == 0;
}

std::string grouped(uint64_t value)
{
    char text[32];
    return format_grouped64(value, text);
}

bool is_valid_sector_size(uint32_t size)
{
    return size >= MIN_CONTAINER_SECTOR && size <= MAX_CONTAINER_SECTOR && (size & (size - 1)) == 0;
}

// The product of the factors in *product; false when it does not fit 64 bits.
bool multiply(std::initializer_list<uint64_t> factors, uint64_t* product)
{
    uint64_t p = 1;
    for (uint64_t f : factors) {
        if (f != 0 && p > UINT64_MAX / f)
            return false;
        p *= f;
    }
    *product = p;
    return true;
}

int refuse(std::string* reason, const std::string& text)
{
    *reason = text;
    return CONTAINER_REFUSED;
}

std::string sector_size_reason(const char* format, uint32_t size)
{
    return std::string(format) + " sector size of " + grouped(size) + " bytes is not a power of two from " +
           grouped(MIN_CONTAINER_SECTOR) + " to " + grouped(MAX_CONTAINER_SECTOR);
}

std::string geometry_reason(const char* format, const container_header& h)
{
    return std::string(format) + " geometry of " + grouped(h.cylinders) + " cylinders, " + grouped(h.heads) +
           " heads, " + grouped(h.sectors_per_track) + " sectors of " + grouped(h.sector_size) +
           " bytes does not fit 64 bits";
}

// The header and the data it places must lie inside the file.
int check_extent(const char* format, const container_header& h, uint64_t file_size, std::string* reason)
{
    if (h.header_size > file_size)
        return refuse(reason, std::string(format) + " header size of " + grouped(h.header_size) +
                                  " bytes reaches past the end of the file (" + grouped(file_size) + " bytes)");
    if (h.media_size > file_size - h.data_offset)
        return refuse(reason, std::string(format) + " data of " + grouped(h.media_size) + " bytes at offset " +
                                  grouped(h.data_offset) + " reaches past the end of the file (" +
                                  grouped(file_size) + " bytes)");
    return CONTAINER_BUILT_IN;
}

void set_geometry(container_header* h, uint32_t cylinders, uint32_t heads, uint32_t sectors, uint32_t sector_size)
{
    h->has_geometry = true;
    h->cylinders = cylinders;
    h->heads = heads;
    h->sectors_per_track = sectors;
    h->sector_size = sector_size;
}

// Anex86's HDI: a 32-byte little-endian header (0, drive type, header
// size, data size, sector size, sectors, heads, cylinders); the data follows
// after header size bytes. It has no signature, so it is taken for one only
// when the first field is 0, header and data sizes are not, and either the
// data size is what the geometry gives or header and data fill the file
// exactly: raw disks begin with boot code, not with such a record.
int parse_hdi(const uint8_t* head, size_t head_size, uint64_t file_size, container_header* h, std::string* reason)
{
    if (head_size < HDI_HEADER_BYTES || file_size < HDI_HEADER_BYTES || get_le32(head) != 0)
        return CONTAINER_RAW;
    uint32_t header_size = get_le32(head + 8);
    uint32_t data_size = get_le32(head + 12);
    if (header_size < HDI_HEADER_BYTES || data_size == 0)
        return CONTAINER_RAW;
    set_geometry(h, get_le32(head + 28), get_le32(head + 24), get_le32(head + 20), get_le32(head + 16));
    uint64_t geometry_bytes = 0;
    bool fits = multiply({h->cylinders, h->heads, h->sectors_per_track, h->sector_size}, &geometry_bytes);
    bool sized = fits && geometry_bytes == data_size;
    bool fills = uint64_t(header_size) + data_size == file_size;
    if (!sized && !fills)
        return CONTAINER_RAW;
    h->format = container_format::hdi;
    h->hdi_type = get_le32(head + 4);
    h->header_size = header_size;
    h->data_offset = header_size;
    h->media_size = data_size;
    if (!fits)
        return refuse(reason, geometry_reason("HDI", *h));
    if (!is_valid_sector_size(h->sector_size))
        return refuse(reason, sector_size_reason("HDI", h->sector_size));
    return check_extent("HDI", *h, file_size, reason);
}

// T98-Next's NHD: a 512-byte header starting "T98HDDIMAGE.R0", a comment of
// 256 bytes, then header size, cylinders (32 bits), heads, sectors, sector
// size (16 bits each), little-endian. The data is the geometry's size.
int parse_nhd(const uint8_t* head, size_t head_size, uint64_t file_size, container_header* h, std::string* reason)
{
    if (!starts_with(head, head_size, NHD_SIGNATURE, sizeof NHD_SIGNATURE))
        return CONTAINER_RAW;
    h->format = container_format::nhd;
    if (head_size < NHD_HEADER_BYTES || file_size < NHD_HEADER_BYTES)
        return refuse(reason, "NHD header cut short: the file has " + grouped(file_size) + " bytes of its 512");
    const uint8_t* comment = head + 16;
    h->comment.assign(reinterpret_cast<const char*>(comment), strnlen(reinterpret_cast<const char*>(comment), 256));
    h->header_size = get_le32(head + 0x110);
    h->data_offset = h->header_size;
    set_geometry(h, get_le32(head + 0x114), get_le16(head + 0x118), get_le16(head + 0x11A), get_le16(head + 0x11C));
    if (h->header_size < NHD_HEADER_BYTES)
        return refuse(reason, "NHD header size of " + grouped(h->header_size) + " bytes is less than the header's 512");
    if (!multiply({h->cylinders, h->heads, h->sectors_per_track, h->sector_size}, &h->media_size))
        return refuse(reason, geometry_reason("NHD", *h));
    if (!is_valid_sector_size(h->sector_size))
        return refuse(reason, sector_size_reason("NHD", h->sector_size));
    return check_extent("NHD", *h, file_size, reason);
}

// T98's THD: a 256-byte header holding only the cylinder count (16 bits,
// little-endian); 8 heads of 33 sectors of 256 bytes. Without a signature
// it is taken for one only when the rest of the header is zero and the file
// ends half-way into a 512-byte sector, as a 256-byte header with whole
// tracks of 256-byte sectors after it does and a raw disk never does.
int parse_thd(const uint8_t* head, size_t head_size, uint64_t file_size, container_header* h, std::string* reason)
{
    if (head_size < THD_HEADER_BYTES || file_size % 512 != THD_HEADER_BYTES)
        return CONTAINER_RAW;
    uint32_t cylinders = get_le16(head);
    if (cylinders == 0)
        return CONTAINER_RAW;
    for (size_t i = 2; i < THD_HEADER_BYTES; i++) {
        if (head[i] != 0)
            return CONTAINER_RAW;
    }
    h->format = container_format::thd;
    h->header_size = THD_HEADER_BYTES;
    h->data_offset = THD_HEADER_BYTES;
    set_geometry(h, cylinders, THD_HEADS, THD_SECTORS, THD_SECTOR_SIZE);
    h->media_size = uint64_t(cylinders) * THD_HEADS * THD_SECTORS * THD_SECTOR_SIZE;
    return check_extent("THD", *h, file_size, reason);
}

// The VHD footer: big-endian fields; its checksum is the ones' complement of
// the sum of its other bytes.
uint32_t vhd_footer_checksum(const uint8_t* footer)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < VHD_FOOTER_BYTES; i++) {
        if (i < 64 || i >= 68)
            sum += footer[i];
    }
    return ~sum;
}

// A VHD keeps its footer in the last 512 bytes; dynamic and differencing
// disks keep a copy in the first 512. Fixed disks are the footer's current
// size of raw data before the footer; the others go to the library.
int parse_vhd(const uint8_t* head, size_t head_size, const uint8_t* tail, size_t tail_size, uint64_t file_size,
              container_header* h, std::string* reason)
{
    const size_t cookie = sizeof VHD_COOKIE - 1;
    const uint8_t* footer = nullptr;
    bool at_end = false;
    if (tail_size >= VHD_FOOTER_BYTES && file_size >= VHD_FOOTER_BYTES &&
        std::memcmp(tail + tail_size - VHD_FOOTER_BYTES, VHD_COOKIE, cookie) == 0) {
        footer = tail + tail_size - VHD_FOOTER_BYTES;
        at_end = true;
    } else if (starts_with(head, head_size, VHD_COOKIE, cookie)) {
        footer = head;
    } else if (tail_size >= VHD_FOOTER_BYTES - 1 && file_size >= VHD_FOOTER_BYTES - 1 &&
               std::memcmp(tail + tail_size - (VHD_FOOTER_BYTES - 1), VHD_COOKIE, cookie) == 0) {
        h->format = container_format::vhd;
        return refuse(reason, "VHD footer cut short: 511 of its 512 bytes");
    } else {
        return CONTAINER_RAW;
    }
    h->format = container_format::vhd;
    if (!at_end && (head_size < VHD_FOOTER_BYTES || file_size < VHD_FOOTER_BYTES))
        return refuse(reason, "VHD footer cut short: the file has " + grouped(file_size) + " bytes");
    uint32_t stored = get_be32(footer + 64);
    uint32_t computed = vhd_footer_checksum(footer);
    if (stored != computed) {
        char text[96];
        snprintf(text, sizeof text, "VHD footer checksum %08X does not match its bytes (%08X)", unsigned(stored),
                 unsigned(computed));
        return refuse(reason, text);
    }
    h->version_major = get_be16(footer + 12);
    h->version_minor = get_be16(footer + 14);
    h->creator.assign(reinterpret_cast<const char*>(footer + 28), 4);
    h->disk_type = get_be32(footer + 60);
    std::memcpy(h->identifier, footer + 68, sizeof h->identifier);
    h->has_identifier = true;
    h->media_size = get_be64(footer + 48);
    if (h->disk_type == VHD_DISK_DYNAMIC || h->disk_type == VHD_DISK_DIFFERENCING)
        return CONTAINER_LIBRARY;
    if (h->disk_type != VHD_DISK_FIXED)
        return refuse(reason, "VHD disk type " + std::to_string(h->disk_type) + " is none of fixed (2), dynamic (3) "
                                                                                 "and differencing (4)");
    if (!at_end)
        return refuse(reason, "VHD fixed disk without its footer at the end of the file");
    set_geometry(h, get_be16(footer + 56), footer[58], footer[59], 512);
    h->data_offset = 0;
    if (h->media_size > file_size - VHD_FOOTER_BYTES)
        return refuse(reason, "VHD fixed disk of " + grouped(h->media_size) + " bytes reaches past its footer at " +
                                  grouped(file_size - VHD_FOOTER_BYTES));
    return CONTAINER_BUILT_IN;
}

// The formats a library reads, by the signature at the start of the file.
struct library_signature {
    const char* bytes;
    size_t length;
    container_format format;
};

const library_signature library_signatures[] = {
    {"vhdxfile", 8, container_format::vhdx},
    {"KDMV", 4, container_format::vmdk},                  // sparse extent
    {"COWD", 4, container_format::vmdk},                  // ESX sparse extent
    {"# Disk DescriptorFile", 21, container_format::vmdk}, // text descriptor
    {"QFI\xFB", 4, container_format::qcow},
    {"EVF\x09\x0D\x0A\xFF\x00", 8, container_format::ewf},  // EWF, E01
    {"EVF2\x0D\x0A\x81\x00", 8, container_format::ewf},     // EWF2, Ex01
};

} // namespace

int parse_container_header(const uint8_t* head, size_t head_size, const uint8_t* tail, size_t tail_size,
                           uint64_t file_size, container_header* header, std::string* reason)
{
    *header = container_header();
    if (head_size > CONTAINER_PROBE_SIZE || tail_size > CONTAINER_PROBE_SIZE || head_size > file_size ||
        tail_size > file_size)
        return refuse(reason, "container probe larger than the file");
    for (const library_signature& s : library_signatures) {
        if (starts_with(head, head_size, s.bytes, s.length)) {
            header->format = s.format;
            if (s.format == container_format::qcow && head_size >= 8)
                header->version_major = get_be32(head + 4);
            return CONTAINER_LIBRARY;
        }
    }
    if (starts_with(head, head_size, "LVF\x09\x0D\x0A\xFF\x00", 8) || starts_with(head, head_size, "LEF2", 4)) {
        header->format = container_format::ewf;
        return refuse(reason, "EWF logical evidence file: it holds files, not a disk");
    }
    int result = parse_nhd(head, head_size, file_size, header, reason);
    if (result == CONTAINER_RAW)
        result = parse_vhd(head, head_size, tail, tail_size, file_size, header, reason);
    if (result == CONTAINER_RAW)
        result = parse_hdi(head, head_size, file_size, header, reason);
    if (result == CONTAINER_RAW)
        result = parse_thd(head, head_size, file_size, header, reason);
    if (result == CONTAINER_RAW) {
        *header = container_header();
        header->media_size = file_size;
    }
    return result;
}

const char* container_format_word(container_format format)
{
    switch (format) {
    case container_format::raw: return "raw";
    case container_format::hdi: return "hdi";
    case container_format::nhd: return "nhd";
    case container_format::thd: return "thd";
    case container_format::vhd: return "vhd";
    case container_format::vhdx: return "vhdx";
    case container_format::vmdk: return "vmdk";
    case container_format::qcow: return "qcow";
    case container_format::ewf: return "ewf";
    }
    return "raw";
}

namespace {

const char* vhd_disk_type_name(uint32_t type)
{
    switch (type) {
    case VHD_DISK_FIXED: return "fixed";
    case VHD_DISK_DYNAMIC: return "dynamic";
    case VHD_DISK_DIFFERENCING: return "differencing";
    default: return "";
    }
}

// libvmdk's disk types, in its order.
const char* const vmdk_disk_type_names[] = {
    "", "2GB extent flat", "2GB extent sparse", "custom", "device", "partitioned device",
    "monolithic flat", "monolithic sparse", "stream optimized", "VMFS flat", "VMFS preallocated",
    "VMFS zeroed", "VMFS raw", "VMFS raw device map", "VMFS pass-through raw device map", "VMFS sparse",
    "VMFS thin",
};

const char* format_name(const container_header& h)
{
    switch (h.format) {
    case container_format::raw: return "raw";
    case container_format::hdi: return "HDI";
    case container_format::nhd: return "NHD";
    case container_format::thd: return "THD";
    case container_format::vhd: return "VHD";
    case container_format::vhdx: return "VHDX";
    case container_format::vmdk: return "VMDK";
    case container_format::qcow: return h.version_major == 1 ? "QCOW" : "QCOW2";
    case container_format::ewf: return "EWF";
    }
    return "raw";
}

} // namespace

const char* container_variant(const container_header& h)
{
    if (h.format == container_format::vhd || h.format == container_format::vhdx)
        return vhd_disk_type_name(h.disk_type);
    if (h.format == container_format::vmdk &&
        h.disk_type < sizeof vmdk_disk_type_names / sizeof vmdk_disk_type_names[0])
        return vmdk_disk_type_names[h.disk_type];
    return "";
}

std::string container_name(const container_header& h)
{
    std::string name = format_name(h);
    const char* variant = container_variant(h);
    return *variant ? name + " " + variant : name;
}
