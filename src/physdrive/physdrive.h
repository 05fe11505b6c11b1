// Physical drives: opened once each by number, measured, read at any
// sector, closed together at the end of the disk command.
#pragma once
#include <cstdint>

struct drive_descriptor {
    uint8_t drive_number;
    uint8_t bios_drive_code;   // drive number | 80h
    uint16_t bytes_per_sector;
    uint64_t total_sectors;
};

int open_physical_drive(int drive_number);
int measure_physical_drive(int drive_number, drive_descriptor* drive);
int read_drive_sectors(const drive_descriptor* drive, uint32_t sector_count, uint32_t block, uint8_t* buffer);
void close_physical_drives();

// The disk report of one measured drive.
int report_disk(int drive_number, const drive_descriptor* drive);
