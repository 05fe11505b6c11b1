// Disk image containers: files that hold a disk behind a header or a footer
// of their own, as emulators, virtual machines and forensic tools keep them.
// A container is recognised by its content, never by its name; a file that
// is none of them is a raw image and reads exactly as its bytes.
//
// HDI, NHD, THD and fixed VHD files are read here, at the data offset their
// header gives, bounded by the data size it gives. VHD dynamic and
// differencing, VHDX, VMDK, QCOW and EWF images are read through their libyal
// library (image_library.h), loaded when the first such image is opened.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "partition/medium.h"
#include "physdrive/drive_platform.h"

enum class container_format : uint8_t { raw, hdi, nhd, thd, vhd, vhdx, vmdk, qcow, ewf };

// The disk types of a VHD footer (and of VHDX, as its library reports them).
enum : uint32_t { VHD_DISK_FIXED = 2, VHD_DISK_DYNAMIC = 3, VHD_DISK_DIFFERENCING = 4 };

// Sector sizes a container may give its disk: powers of two in this range.
constexpr uint32_t MIN_CONTAINER_SECTOR = 128;
constexpr uint32_t MAX_CONTAINER_SECTOR = 32768;

// What a container's header says, decoded once: the Image: line and the
// image's JSON record are rendered from it.
struct container_header {
    container_format format = container_format::raw;
    uint64_t media_size = 0;    // bytes of the disk inside
    uint32_t sector_size = 512; // bytes per sector of the disk inside
    uint64_t data_offset = 0;   // formats read here: file offset of the disk's first byte
    // The geometry the header gives (HDI, NHD, THD; VHD's footer).
    bool has_geometry = false;
    uint32_t cylinders = 0;
    uint32_t heads = 0;
    uint32_t sectors_per_track = 0;
    uint32_t header_size = 0;   // HDI, NHD, THD: bytes before the data
    uint32_t hdi_type = 0;      // HDI: the drive type field
    uint32_t disk_type = 0;     // VHD, VHDX: VHD_DISK_*; VMDK: the library's disk type
    uint32_t version_major = 0; // VHD, VHDX, QCOW: format version
    uint32_t version_minor = 0;
    std::string creator;        // VHD: creator application, 4 bytes as stored
    std::string comment;        // NHD: comment bytes up to the first zero
    uint8_t identifier[16] = {}; // VHD, VHDX: the disk's unique identifier
    bool has_identifier = false;
    std::string parent;         // VHD differencing, VMDK, QCOW: the parent (backing) file opened
    uint32_t segments = 0;      // EWF: segment files
    uint32_t ewf_media_type = 0; // EWF: the media type byte
};

// Results of parse_container_header.
enum : int {
    CONTAINER_REFUSED = -1, // a container whose header cannot be trusted; reason set
    CONTAINER_RAW = 0,      // none of the containers
    CONTAINER_BUILT_IN = 1, // read here; header filled
    CONTAINER_LIBRARY = 2,  // read through a library; header's format set
};

// The bytes of a file's start and end that recognition looks at.
constexpr size_t CONTAINER_PROBE_SIZE = 512;

// Recognises the container of a file of file_size bytes from head (its first
// head_size bytes) and tail (its last tail_size bytes), each at most
// CONTAINER_PROBE_SIZE. Checks every field it keeps against the file's size.
int parse_container_header(const uint8_t* head, size_t head_size, const uint8_t* tail, size_t tail_size,
                           uint64_t file_size, container_header* header, std::string* reason);

// "HDI", "VHD dynamic", "QCOW2", "VMDK monolithic sparse", "EWF", ...
std::string container_name(const container_header& header);
// The disk type part of the name ("dynamic", "monolithic sparse"), or "".
const char* container_variant(const container_header& header);
// The word of the format in the JSON record: "hdi", "vhd", "qcow", ...
const char* container_format_word(container_format format);

// An image opened through its container. Reads go to the disk inside.
struct library_image;
struct library_image_deleter {
    void operator()(library_image* image) const;
};

struct container_image {
    container_header header;
    std::string path;
    drive_handle_t handle = INVALID_DRIVE_HANDLE; // raw and formats read here
    std::unique_ptr<library_image, library_image_deleter> library;
    mutable bool read_error_said = false; // a failed library read is said on standard error once

    container_image() = default;
    container_image(const container_image&) = delete;
    container_image& operator=(const container_image&) = delete;
    ~container_image();
};

// Results of open_container_handle: 0 opened; CONTAINER_REFUSED (-1) when the file is
// a container that cannot be read (a header not to be trusted, a library that
// refuses it): error holds the reason, the image is skipped and the run goes
// on; CONTAINER_UNUSABLE (-2) when the file cannot be read, or its format
// needs a library that this build or this machine lacks.
enum : int { CONTAINER_UNUSABLE = -2 };

// Recognises the container of a file already open read-only (handle, of
// file_size bytes) and prepares reading the disk inside; a raw file opens
// as format raw. Takes the handle in every case. error is one line without
// its line end, starting with the path.
int open_container_handle(const char* path, drive_handle_t handle, uint64_t file_size,
                          std::unique_ptr<container_image>* image, std::string* error);

// Reads length bytes of the disk inside from byte offset on; 0 only when
// every byte was read. A range past the disk's size is refused.
int read_container(const container_image* image, uint64_t offset, uint8_t* buffer, uint32_t length);
// The medium reader of the disk inside: its sector size and whole sectors.
medium_reader container_medium(const container_image* image);

// The added line under an image's heading: "  Image: NAME, SIZE bytes";
// under -json the drive's "container" object.
void report_container(const container_header& header, const report_options& options);
