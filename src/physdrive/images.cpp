// Disk images and block devices named on the command line: each is opened
// before anything is scanned, measured by its exact length in 512-byte
// sectors, and reported like a physical drive under its path. An image in a
// container (container.h) is read through it: the disk inside, in its own
// sector size, with one added line naming the container.
#include <memory>
#include <string>
#include <vector>

#include <cerrno>
#include <cstring>

#include "format/output.h"
#include "physdrive/container.h"
#include "physdrive/drive_list.h"
#include "physdrive/physdrive.h"

struct image_drive {
    std::string path;
    drive_descriptor drive;
    std::shared_ptr<container_image> container; // null for a raw image
};

static std::vector<image_drive> images;

void forget_image_drives() { images.clear(); }

int image_drive_count() { return int(images.size()); }

int open_image_drive(const char* path, std::string* error)
{
    errno = 0;
    drive_handle_t handle = platform_open_path(path);
    if (handle == INVALID_DRIVE_HANDLE) {
        *error = std::string(path) + ": cannot open the image (" + (errno != 0 ? strerror(errno) : "open failed") + ")";
        return -1;
    }
    uint64_t bytes = 0;
    errno = 0;
    if (platform_size_bytes(handle, &bytes) != 0) {
        // A FIFO, a terminal or a socket is no medium; a directory keeps
        // the system's words.
        if (errno != EISDIR && !platform_is_medium(handle))
            *error = std::string(path) + ": cannot open the image (not a regular file or a block device)";
        else
            *error = std::string(path) + ": cannot measure the image (" + (errno != 0 ? strerror(errno) : "no size") +
                     ")";
        platform_close_drive(handle);
        return -1;
    }
    std::unique_ptr<container_image> container;
    int opened = open_container_handle(path, handle, bytes, &container, error);
    if (opened != 0)
        return opened == CONTAINER_REFUSED ? 1 : -1;
    if (container->header.format != container_format::raw) {
        image_drive image;
        image.path = path;
        image.drive = drive_descriptor{};
        image.container = std::move(container);
        images.push_back(std::move(image));
        return 0;
    }
    // A raw image: the handle is read as it is, through the open drive list.
    handle = container->handle;
    container->handle = INVALID_DRIVE_HANDLE;
    int32_t key = IMAGE_KEY_BASE + int32_t(images.size());
    if (add_open_drive(key, handle) != 0) {
        *error = std::string(path) + ": cannot open the image (out of memory)";
        return -1;
    }
    image_drive image;
    image.path = path;
    image.drive.drive_number = 0;
    image.drive.bios_drive_code = 0x80;
    image.drive.bytes_per_sector = DRIVE_SECTOR_SIZE;
    image.drive.total_sectors = bytes / DRIVE_SECTOR_SIZE;
    image.drive.list_key = key;
    images.push_back(image);
    return 0;
}

// A geometry a partitioning tool would give a disk of this size: the usual
// floppy formats by their size, otherwise 63 sectors per track with 16 heads
// up to 1,024 cylinders and 255 heads beyond. Cylinders are whole ones.
void derive_image_geometry(uint64_t sectors, disk_geometry* geometry)
{
    struct floppy_format {
        uint64_t sectors;
        uint32_t heads;
        uint32_t sectors_per_track;
    };
    static const floppy_format floppies[] = {
        {320, 1, 8}, {360, 1, 9}, {640, 2, 8}, {720, 2, 9}, {1440, 2, 9}, {2400, 2, 15}, {2880, 2, 18}, {5760, 2, 36},
    };
    geometry->media_type = MEDIA_FIXED;
    geometry->bytes_per_sector = DRIVE_SECTOR_SIZE;
    geometry->tracks_per_cylinder = sectors <= 1024u * 16 * 63 ? 16 : 255;
    geometry->sectors_per_track = 63;
    for (const floppy_format& f : floppies) {
        if (f.sectors == sectors) {
            geometry->media_type = MEDIA_REMOVABLE;
            geometry->tracks_per_cylinder = f.heads;
            geometry->sectors_per_track = f.sectors_per_track;
        }
    }
    geometry->cylinders = sectors / (uint64_t(geometry->tracks_per_cylinder) * geometry->sectors_per_track);
}

// The geometry shown for an image in a container: the one its header
// gives, else one derived from the disk's size as for a raw image.
static void container_geometry(const container_header& header, uint64_t sectors, disk_geometry* geometry)
{
    derive_image_geometry(sectors, geometry);
    if (header.has_geometry && header.format != container_format::vhd) {
        geometry->media_type = MEDIA_FIXED;
        geometry->cylinders = header.cylinders;
        geometry->tracks_per_cylinder = header.heads;
        geometry->sectors_per_track = header.sectors_per_track;
    }
    geometry->bytes_per_sector = header.sector_size;
}

void report_images(const report_options& options)
{
    for (const image_drive& image : images) {
        disk_geometry geometry{};
        begin_drive_report(&image.drive, image.path.c_str(), options);
        if (!image.container) {
            derive_image_geometry(image.drive.total_sectors, &geometry);
            report_drive_medium(&image.drive, &geometry, options);
        } else {
            report_container(image.container->header, options);
            medium_reader medium = container_medium(image.container.get());
            container_geometry(image.container->header, medium.sector_count, &geometry);
            report_drive_medium(&image.drive, &geometry, options, &medium);
        }
        end_drive_report(options);
    }
}
