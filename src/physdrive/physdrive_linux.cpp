// The drive platform layer on Linux.
//
// Drive numbers name the whole-disk block devices of /sys/block whose size
// is not zero, RAM disks (major 1) left out, in ascending order of their
// device numbers (major, then minor): the rows of `lsblk -d` sorted by
// MAJ:MIN. Empty drives and detached loop devices have no number. Devices
// are opened read-only and never exclusively.
#include "physdrive/drive_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <malloc.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "format/output.h"

struct block_device_entry {
    unsigned major_number;
    unsigned minor_number;
    std::string name;
};

// Reads the first line of a small sysfs file; "" when it cannot be read.
static std::string read_sysfs_line(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "r");
    if (f == nullptr)
        return "";
    char line[128] = {};
    if (fgets(line, sizeof line, f) == nullptr)
        line[0] = 0;
    fclose(f);
    line[strcspn(line, "\n")] = 0;
    return line;
}

static std::vector<block_device_entry> list_whole_disks()
{
    std::vector<block_device_entry> disks;
    DIR* dir = opendir("/sys/block");
    if (dir == nullptr)
        return disks;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::string base = std::string("/sys/block/") + entry->d_name;
        unsigned major_number = 0, minor_number = 0;
        if (sscanf(read_sysfs_line(base + "/dev").c_str(), "%u:%u", &major_number, &minor_number) != 2)
            continue;
        std::string size = read_sysfs_line(base + "/size");
        if (major_number == 1 || size.empty() || size == "0")
            continue;
        disks.push_back({major_number, minor_number, entry->d_name});
    }
    closedir(dir);
    std::sort(disks.begin(), disks.end(), [](const block_device_entry& a, const block_device_entry& b) {
        return a.major_number != b.major_number ? a.major_number < b.major_number : a.minor_number < b.minor_number;
    });
    return disks;
}

drive_handle_t platform_open_drive(int drive_number)
{
    std::vector<block_device_entry> disks = list_whole_disks();
    if (drive_number < 0 || size_t(drive_number) >= disks.size())
        return INVALID_DRIVE_HANDLE;
    // sysfs spells a '/' of a device name as '!' (cciss!c0d0 is /dev/cciss/c0d0).
    std::string name = disks[size_t(drive_number)].name;
    std::replace(name.begin(), name.end(), '!', '/');
    std::string path = "/dev/" + name;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            err_printf("vexum: %s: cannot open the drive (%s)\n", path.c_str(), strerror(errno));
        return INVALID_DRIVE_HANDLE;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
        close(fd);
        return INVALID_DRIVE_HANDLE;
    }
    return drive_handle_t(fd);
}

drive_handle_t platform_open_path(const char* path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return INVALID_DRIVE_HANDLE;
    // Reads of a medium wait for their data like any other read.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return drive_handle_t(fd);
}

bool platform_is_medium(drive_handle_t handle)
{
    struct stat st{};
    return fstat(int(handle), &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
}

int platform_size_bytes(drive_handle_t handle, uint64_t* bytes)
{
    int fd = int(handle);
    struct stat st{};
    if (fstat(fd, &st) != 0)
        return -1;
    if (S_ISREG(st.st_mode)) {
        *bytes = uint64_t(st.st_size);
        return 0;
    }
    if (S_ISBLK(st.st_mode)) {
        uint64_t size = 0;
        if (ioctl(fd, BLKGETSIZE64, &size) != 0)
            return -1;
        *bytes = size;
        return 0;
    }
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
}

int platform_drive_geometry(drive_handle_t handle, disk_geometry* geometry)
{
    int fd = int(handle);
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode))
        return -1;
    int sector_size = 0;
    uint64_t bytes = 0;
    if (ioctl(fd, BLKSSZGET, &sector_size) != 0 || sector_size <= 0 || ioctl(fd, BLKGETSIZE64, &bytes) != 0)
        return -1;
    // The driver's heads and sectors per track where it reports them, else
    // the translation every partitioning tool assumes.
    uint32_t heads = 255, sectors_per_track = 63;
    hd_geometry hd{};
    if (ioctl(fd, HDIO_GETGEO, &hd) == 0 && hd.heads != 0 && hd.sectors != 0) {
        heads = hd.heads;
        sectors_per_track = hd.sectors;
    }
    char path[64];
    snprintf(path, sizeof path, "/sys/dev/block/%u:%u/removable", major(st.st_rdev), minor(st.st_rdev));
    geometry->media_type = read_sysfs_line(path) == "1" ? MEDIA_REMOVABLE : MEDIA_FIXED;
    geometry->tracks_per_cylinder = heads;
    geometry->sectors_per_track = sectors_per_track;
    geometry->bytes_per_sector = uint32_t(sector_size);
    geometry->cylinders = bytes / (uint64_t(sector_size) * heads * sectors_per_track);
    return 0;
}

int platform_read_at(drive_handle_t handle, uint64_t offset, uint8_t* buffer, uint32_t length)
{
    if (offset > uint64_t(INT64_MAX) - length)
        return -1;
    uint32_t done = 0;
    while (done < length) {
        ssize_t n = pread(int(handle), buffer + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1; // an error, or the end of the medium before length bytes
        done += uint32_t(n);
    }
    return 0;
}

void platform_close_drive(drive_handle_t handle)
{
    if (handle != INVALID_DRIVE_HANDLE)
        close(int(handle));
}

size_t platform_heap_in_use()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    // Every arena: the chunks in use, and those mapped on their own.
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#else
    return 0;
#endif
}
