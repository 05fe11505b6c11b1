// The platform layer beneath the physical drives: open a drive by number or
// a file by path for shared read-only access, ask its geometry, read bytes
// at a 64-bit offset, close. One file per platform implements it.
#pragma once
#include <cstddef>
#include <cstdint>

using drive_handle_t = intptr_t;
constexpr drive_handle_t INVALID_DRIVE_HANDLE = -1;

enum : uint32_t { MEDIA_REMOVABLE = 11, MEDIA_FIXED = 12 };

struct disk_geometry {
    uint64_t cylinders;
    uint32_t media_type;          // MEDIA_REMOVABLE, MEDIA_FIXED or another value
    uint32_t tracks_per_cylinder;
    uint32_t sectors_per_track;
    uint32_t bytes_per_sector;
};

drive_handle_t platform_open_drive(int drive_number);
// Opens path without waiting for a writer (a FIFO opens at once).
drive_handle_t platform_open_path(const char* path);
// True when the handle reads a regular file or a block device (a disk):
// only those are media; a FIFO, a terminal or a directory is not.
bool platform_is_medium(drive_handle_t handle);
int platform_drive_geometry(drive_handle_t handle, disk_geometry* geometry);
// 0 only when all length bytes were read.
int platform_read_at(drive_handle_t handle, uint64_t offset, uint8_t* buffer, uint32_t length);
int platform_size_bytes(drive_handle_t handle, uint64_t* bytes);
void platform_close_drive(drive_handle_t handle);
// The bytes the C library's allocator has handed out and not taken back,
// or 0 where the platform does not tell.
size_t platform_heap_in_use();
