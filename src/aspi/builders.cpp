// SCSI command builders (not yet built).
#include "aspi/scsi_commands.h"

int scsi_inquiry(device_address, int, uint8_t, uint8_t*) { return -1; }
int scsi_mode_sense(device_address, uint8_t, uint8_t, uint8_t*) { return -1; }
int scsi_read_capacity(device_address, uint8_t, uint8_t*) { return -1; }
int scsi_read_toc(device_address, uint32_t, uint8_t*) { return -1; }
int scsi_read_defect_data(device_address, unsigned, uint8_t, uint8_t*) { return -1; }
int scsi_read_block_limits(device_address, uint8_t*) { return -1; }
int scsi_read(device_address, uint32_t, uint16_t, uint16_t, uint8_t*) { return -1; }
