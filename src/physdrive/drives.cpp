// The open drive list: every drive and image opened in this run, each once,
// found again by its number (or image key), closed together at the end.
#include "physdrive/physdrive.h"

#include "physdrive/drive_list.h"

#include <new>

static open_drive* open_drives = nullptr;

int add_open_drive(int32_t drive_number, drive_handle_t handle)
{
    open_drive* node = new (std::nothrow) open_drive;
    if (node == nullptr) {
        platform_close_drive(handle);
        return -1;
    }
    node->next = open_drives;
    node->drive_number = drive_number;
    node->handle = handle;
    open_drives = node;
    return 0;
}

const open_drive* find_open_drive(int drive_number)
{
    for (const open_drive* node = open_drives; node != nullptr; node = node->next) {
        if (node->drive_number == drive_number)
            return node;
    }
    return nullptr;
}

drive_handle_t drive_handle(int drive_number)
{
    const open_drive* node = find_open_drive(drive_number);
    return node != nullptr ? node->handle : INVALID_DRIVE_HANDLE;
}

int open_physical_drive(int drive_number)
{
    if (find_open_drive(drive_number) != nullptr)
        return 0;
    if (drive_number < 0 || drive_number > LAST_DRIVE_NUMBER)
        return -1;
    drive_handle_t handle = platform_open_drive(drive_number);
    if (handle == INVALID_DRIVE_HANDLE)
        return -1;
    return add_open_drive(drive_number, handle);
}

int measure_physical_drive(int drive_number, drive_descriptor* drive)
{
    if (open_physical_drive(drive_number) != 0)
        return -1;
    drive_handle_t handle = drive_handle(drive_number);
    if (handle == INVALID_DRIVE_HANDLE)
        return -1;
    drive->drive_number = uint8_t(drive_number);
    drive->bios_drive_code = uint8_t(drive->drive_number | 0x80);
    drive->list_key = drive_number;
    disk_geometry geometry{};
    if (platform_drive_geometry(handle, &geometry) != 0)
        return -1;
    if (geometry.media_type != MEDIA_REMOVABLE && geometry.media_type != MEDIA_FIXED)
        return -1;
    drive->bytes_per_sector = uint16_t(geometry.bytes_per_sector);
    if (geometry.bytes_per_sector != DRIVE_SECTOR_SIZE)
        return -1;
    uint64_t per_cylinder = uint64_t(geometry.tracks_per_cylinder) * geometry.sectors_per_track;
    // A geometry whose byte size does not fit 64 bits is not a real drive.
    if (per_cylinder != 0 && geometry.cylinders > UINT64_MAX / DRIVE_SECTOR_SIZE / per_cylinder)
        return -1;
    uint64_t total = geometry.cylinders * per_cylinder;
    // The geometry counts whole cylinders only; where the system also tells
    // the exact size, the sectors of the last partial cylinder belong to the
    // medium too (a partition or an extended boot record may lie there).
    uint64_t bytes = 0;
    if (platform_size_bytes(handle, &bytes) == 0 && bytes / DRIVE_SECTOR_SIZE > total)
        total = bytes / DRIVE_SECTOR_SIZE;
    drive->total_sectors = total;
    return 0;
}

int read_drive_sectors(const drive_descriptor* drive, uint32_t sector_count, uint64_t block, uint8_t* buffer)
{
    drive_handle_t handle = drive_handle(drive->list_key);
    if (handle == INVALID_DRIVE_HANDLE || drive->bytes_per_sector == 0)
        return -1;
    uint64_t length = uint64_t(sector_count) * drive->bytes_per_sector;
    if (length > UINT32_MAX || block > UINT64_MAX / drive->bytes_per_sector)
        return -1;
    return platform_read_at(handle, block * drive->bytes_per_sector, buffer, uint32_t(length));
}

static int read_drive_medium(const medium_reader* medium, uint64_t block, uint32_t count, uint8_t* buffer)
{
    return read_drive_sectors(static_cast<const drive_descriptor*>(medium->holder), count, block, buffer);
}

medium_reader drive_medium(const drive_descriptor* drive)
{
    return medium_reader{read_drive_medium, drive, drive->bytes_per_sector, drive->total_sectors};
}

void close_physical_drives()
{
    while (open_drives != nullptr) {
        open_drive* node = open_drives;
        open_drives = node->next;
        platform_close_drive(node->handle);
        delete node;
    }
    forget_image_drives();
}
