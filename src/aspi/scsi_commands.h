// One operation per SCSI command the tool sends; all of them only read.
// Each fills a fresh request, executes it, resends it while the device
// reports unit attention (a bounded number of times) and returns 0 or -1.
// The caller's buffer is not cleared here: callers that need a cleared
// buffer clear it first.
#pragma once
#include <cstdint>

struct device_address {
    int adapter;
    int target;
    int lun;
};

// How many times one command is resent after unit attention before the
// builder gives up with -1.
constexpr int UNIT_ATTENTION_RESENDS = 4;

enum : uint8_t {
    OP_READ_BLOCK_LIMITS = 0x05,
    OP_INQUIRY = 0x12,
    OP_MODE_SENSE6 = 0x1A,
    OP_READ_CAPACITY = 0x25,
    OP_READ10 = 0x28,
    OP_READ_DEFECT_DATA10 = 0x37,
    OP_READ_TOC = 0x43,
};

// page -1: standard data; 0-255: vital product data page (EVPD set).
// An empty address gives 0 with buffer[0] = FFh.
int scsi_inquiry(device_address unit, int page, uint8_t allocation_length, uint8_t* buffer);
int scsi_mode_sense(device_address unit, uint8_t page, uint8_t allocation_length, uint8_t* buffer);
int scsi_read_capacity(device_address unit, uint8_t length, uint8_t* buffer);
int scsi_read_toc(device_address unit, uint32_t allocation_length, uint8_t* buffer);
// selector: 1 grown list, 2 primary list.
int scsi_read_defect_data(device_address unit, unsigned selector, uint8_t allocation_length, uint8_t* buffer);
int scsi_read_block_limits(device_address unit, uint8_t* buffer); // 6 bytes
int scsi_read(device_address unit, uint32_t block, uint16_t block_count, uint16_t buffer_length, uint8_t* buffer);
