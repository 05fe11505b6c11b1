// The drive platform layer on Windows: physical drives by their device names
// \\.\PhysicalDrive0, \\.\PhysicalDrive1, ..., image files by path. Both are
// opened for reading only, shared with readers and writers.
#include "physdrive/drive_platform.h"

#include <cerrno>
#include <cstdio>

#include <windows.h>
#include <winioctl.h>

#include "format/output.h"

static_assert(sizeof(DISK_GEOMETRY) == 24, "the geometry answer is 24 bytes");

static HANDLE handle_of(drive_handle_t handle) { return reinterpret_cast<HANDLE>(handle); }

static HANDLE open_read_only(const char* path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

static_assert(INVALID_DRIVE_HANDLE == -1, "INVALID_HANDLE_VALUE is the invalid drive handle");

drive_handle_t platform_open_drive(int drive_number)
{
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", drive_number);
    HANDLE handle = open_read_only(path);
    if (handle == INVALID_HANDLE_VALUE) {
        // A drive that exists but may not be read is worth one line: the
        // drives open only for an administrator.
        if (GetLastError() == ERROR_ACCESS_DENIED)
            err_printf("vexum: %s: cannot open the drive (access denied)\n", path);
        return INVALID_DRIVE_HANDLE;
    }
    return reinterpret_cast<drive_handle_t>(handle);
}

drive_handle_t platform_open_path(const char* path)
{
    HANDLE handle = open_read_only(path);
    if (handle == INVALID_HANDLE_VALUE) {
        // The caller names the reason through errno.
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            errno = ENOENT;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            errno = EACCES;
            break;
        default:
            errno = EIO;
            break;
        }
        return INVALID_DRIVE_HANDLE;
    }
    return reinterpret_cast<drive_handle_t>(handle);
}

bool platform_is_medium(drive_handle_t handle) { return GetFileType(handle_of(handle)) == FILE_TYPE_DISK; }

int platform_size_bytes(drive_handle_t handle, uint64_t* bytes)
{
    LARGE_INTEGER size{};
    if (GetFileSizeEx(handle_of(handle), &size) && size.QuadPart > 0) {
        *bytes = uint64_t(size.QuadPart);
        return 0;
    }
    // A disk device has no file size; the disk driver tells its length.
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    if (DeviceIoControl(handle_of(handle), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned,
                        nullptr) &&
        returned >= sizeof length && length.Length.QuadPart >= 0) {
        *bytes = uint64_t(length.Length.QuadPart);
        return 0;
    }
    if (GetFileSizeEx(handle_of(handle), &size) && size.QuadPart == 0) {
        *bytes = 0;
        return 0;
    }
    errno = EINVAL;
    return -1;
}

int platform_drive_geometry(drive_handle_t handle, disk_geometry* geometry)
{
    DISK_GEOMETRY answer{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle_of(handle), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &answer, sizeof answer,
                         &returned, nullptr))
        return -1;
    if (returned < sizeof answer || answer.Cylinders.QuadPart < 0)
        return -1;
    geometry->cylinders = uint64_t(answer.Cylinders.QuadPart);
    geometry->media_type = uint32_t(answer.MediaType);
    geometry->tracks_per_cylinder = answer.TracksPerCylinder;
    geometry->sectors_per_track = answer.SectorsPerTrack;
    geometry->bytes_per_sector = answer.BytesPerSector;
    return 0;
}

int platform_read_at(drive_handle_t handle, uint64_t offset, uint8_t* buffer, uint32_t length)
{
    if (offset > uint64_t(INT64_MAX) - length)
        return -1;
    LONG high = LONG(offset >> 32);
    // The low part alone may read FFFFFFFFh at a valid position: only the
    // error code tells a failure.
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(handle_of(handle), LONG(uint32_t(offset)), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return -1;
    uint32_t done = 0;
    while (done < length) {
        DWORD got = 0;
        if (!ReadFile(handle_of(handle), buffer + done, length - done, &got, nullptr))
            return -1;
        if (got == 0)
            return -1; // the end of the medium before length bytes
        done += got;
    }
    return 0;
}

void platform_close_drive(drive_handle_t handle)
{
    if (handle != INVALID_DRIVE_HANDLE)
        CloseHandle(handle_of(handle));
}

// Not measured here: images read through a library are not opened again
// to free its caches (see libyal_api::drops_caches).
size_t platform_heap_in_use() { return 0; }
