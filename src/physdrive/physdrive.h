// Physical drives and disk images: opened once each, measured, read at any
// sector, closed together at the end of the disk command. Images named on
// the command line sit in the same open drive list under keys that no drive
// number reaches, so one medium reader (drive_medium) reads both the same way.
#pragma once
#include <cstdint>
#include <string>

#include "format/report_options.h"
#include "partition/medium.h"
#include "physdrive/drive_platform.h"

struct drive_descriptor {
    uint8_t drive_number;
    uint8_t bios_drive_code;   // drive number | 80h
    uint16_t bytes_per_sector;
    uint64_t total_sectors;
    int32_t list_key;          // key in the open drive list: the drive number, or an image's key
};

// One node of the open drive list, newest first.
struct open_drive {
    open_drive* next;
    int32_t drive_number;      // drive number, or an image's key
    drive_handle_t handle;
};

// Keys of images in the open drive list: IMAGE_KEY_BASE + position on the
// command line. Drive numbers are 0 to LAST_DRIVE_NUMBER.
constexpr int32_t IMAGE_KEY_BASE = 0x10000;
constexpr int LAST_DRIVE_NUMBER = 255;
constexpr uint32_t DRIVE_SECTOR_SIZE = 512;

int open_physical_drive(int drive_number);
const open_drive* find_open_drive(int drive_number);
drive_handle_t drive_handle(int drive_number);
int measure_physical_drive(int drive_number, drive_descriptor* drive);
// 0 only when all sector_count sectors were read; the buffer must hold
// sector_count x bytes per sector bytes.
int read_drive_sectors(const drive_descriptor* drive, uint32_t sector_count, uint64_t block, uint8_t* buffer);
// The medium reader of a measured drive or image; the descriptor must
// outlive it.
medium_reader drive_medium(const drive_descriptor* drive);
// Closes every drive and image and forgets the images.
void close_physical_drives();

// The disk report of one measured drive.
int report_disk(const drive_descriptor* drive, const report_options& options);

// Images (-image FILE): opened in command-line order before anything is
// scanned. 0 when opened; -1 when the file cannot be opened or measured, or
// its container needs a library this build or machine lacks; 1 when it is a
// container that cannot be read (a header not to be trusted): the image is
// skipped. error then holds one line (no line end) naming the file and the
// reason.
int open_image_drive(const char* path, std::string* error);
int image_drive_count();
// The disk report of every open image, in the order they were opened, each
// under the heading "Disk:" and its path as given.
void report_images(const report_options& options);
// The geometry shown for an image: derived from its size alone.
void derive_image_geometry(uint64_t sectors, disk_geometry* geometry);
