// Physical drive access (not yet built).
#include "physdrive/physdrive.h"

int open_physical_drive(int) { return -1; }
int measure_physical_drive(int, drive_descriptor*) { return -1; }
int read_drive_sectors(const drive_descriptor*, uint32_t, uint32_t, uint8_t*) { return -1; }
void close_physical_drives() {}
int report_disk(int, const drive_descriptor*) { return 0; }
