// The SPTI manager: SCSI through the pass-through interface of the Windows
// storage stack, for the machines that have no ASPI manager. It makes its
// few system calls through a table (spti_system), filled with the Win32
// calls on Windows (spti_win.cpp) and with a fake in the tests, so that the
// whole manager builds and is tested everywhere.
//
// Host adapters: each SCSI port \\.\ScsiN: (N from 0 until a run of missing
// numbers) lists its buses and units (IOCTL_SCSI_GET_INQUIRY_DATA); each bus
// of a port is one host adapter, numbered in port order, then bus (path)
// order. A port device that answers IOCTL_SCSI_GET_ADDRESS itself (Wine's
// do) names the port its units sit on, and the units of one port and bus
// found through several such devices make one adapter.
//
// Requests: IOCTL_SCSI_PASS_THROUGH_DIRECT, or the buffered
// IOCTL_SCSI_PASS_THROUGH when a driver refuses the direct form. A unit that
// a class driver has claimed is reached through its class device
// (\\.\PhysicalDriveN, \\.\CdRomN, \\.\TapeN, the one whose
// IOCTL_SCSI_GET_ADDRESS names the unit), since the port refuses requests to
// claimed units; an unclaimed unit through its port, with its path, target
// and LUN in the request. Devices are opened for reading; for writing too
// only when the system refuses the pass-through on a read-only handle.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "aspi/manager.h"

// ---- the system calls ---------------------------------------------------

constexpr intptr_t SPTI_NO_HANDLE = -1;

// The access a device is opened with: none beyond queries (enough for the
// inquiry data and the address), reading, or reading and writing.
enum spti_access { SPTI_QUERY = 0, SPTI_READ = 1, SPTI_READ_WRITE = 2 };

struct spti_system {
    void* context;
    // CreateFileA on a device name, shared read and write, with the access
    // asked for: a handle, or SPTI_NO_HANDLE with *error set.
    intptr_t (*open_device)(void* context, const char* name, spti_access access, uint32_t* error);
    // DeviceIoControl: true, or false with *error set. *returned receives
    // the bytes of out that were filled.
    bool (*control)(void* context, intptr_t handle, uint32_t code, void* in, uint32_t in_size, void* out,
                    uint32_t out_size, uint32_t* returned, uint32_t* error);
    void (*close_device)(void* context, intptr_t handle);
    // The name of the miniport driver of port N, from the registry's device
    // map; empty when unknown. May be null.
    std::string (*port_driver)(void* context, int port);
};

// Control codes and Windows error codes the manager uses.
enum : uint32_t {
    IOCTL_SCSI_PASS_THROUGH = 0x0004D004,
    IOCTL_SCSI_GET_INQUIRY_DATA = 0x0004100C,
    IOCTL_SCSI_PASS_THROUGH_DIRECT = 0x0004D014,
    IOCTL_SCSI_GET_ADDRESS = 0x00041018,

    WIN_ERROR_INVALID_FUNCTION = 1,
    WIN_ERROR_FILE_NOT_FOUND = 2,
    WIN_ERROR_PATH_NOT_FOUND = 3,
    WIN_ERROR_ACCESS_DENIED = 5,
    WIN_ERROR_BAD_UNIT = 20,
    WIN_ERROR_GEN_FAILURE = 31,
    WIN_ERROR_NOT_SUPPORTED = 50,
    WIN_ERROR_DEV_NOT_EXIST = 55,
    WIN_ERROR_INVALID_PARAMETER = 87,
    WIN_ERROR_SEM_TIMEOUT = 121,
    WIN_ERROR_INSUFFICIENT_BUFFER = 122,
    WIN_ERROR_MORE_DATA = 234,
    WIN_WAIT_TIMEOUT = 258,
    WIN_ERROR_NO_SUCH_DEVICE = 433,
    WIN_ERROR_IO_DEVICE = 1117,
    WIN_ERROR_DEVICE_NOT_CONNECTED = 1167,
    WIN_ERROR_TIMEOUT = 1460,
    WIN_ERROR_DEVICE_REMOVED = 1617,
};

// ---- the records of the storage stack (ntddscsi.h) ------------------------

// SCSI_PASS_THROUGH_DIRECT and SCSI_PASS_THROUGH differ in one field: the
// data buffer's address, or its offset in the buffered form; both are
// pointer-sized.
template <typename data_field>
struct spti_header {
    uint16_t length;
    uint8_t scsi_status;
    uint8_t path_id;
    uint8_t target_id;
    uint8_t lun;
    uint8_t cdb_length;
    uint8_t sense_info_length;
    uint8_t data_in; // 1: from the device; 2: no data
    uint32_t data_transfer_length;
    uint32_t timeout_seconds;
    data_field data;
    uint32_t sense_info_offset;
    uint8_t cdb[16];
};
using spti_direct = spti_header<void*>;
using spti_buffered = spti_header<uintptr_t>;

static_assert(offsetof(spti_direct, data_transfer_length) == 12, "transfer length at 12");
static_assert(offsetof(spti_direct, data) == (sizeof(void*) == 8 ? 24 : 20), "buffer address");
static_assert(offsetof(spti_direct, sense_info_offset) == (sizeof(void*) == 8 ? 32 : 24), "sense offset");
static_assert(offsetof(spti_direct, cdb) == (sizeof(void*) == 8 ? 36 : 28), "command block");
static_assert(sizeof(spti_direct) == (sizeof(void*) == 8 ? 56 : 44), "SCSI_PASS_THROUGH_DIRECT");
static_assert(sizeof(spti_buffered) == sizeof(spti_direct), "SCSI_PASS_THROUGH");

// SCSI_ADDRESS.
struct spti_address {
    uint32_t length;
    uint8_t port;
    uint8_t path_id;
    uint8_t target_id;
    uint8_t lun;
};
static_assert(sizeof(spti_address) == 8, "SCSI_ADDRESS");

// What IOCTL_SCSI_GET_INQUIRY_DATA answers, read from its bytes: the
// SCSI_ADAPTER_BUS_INFO with its SCSI_BUS_DATA array (8 bytes each from
// offset 4) and the chains of SCSI_INQUIRY_DATA records (path, target, LUN,
// claimed at 0-3, inquiry length at 4, next offset at 8, data from 12).
struct spti_found_unit {
    uint8_t path, target, lun;
    bool claimed;
};

struct spti_found_bus {
    uint8_t initiator_id;
    std::vector<spti_found_unit> units;
};

// Reads the answer's bytes, every offset and count bounded by them.
std::vector<spti_found_bus> parse_spti_inquiry_data(const uint8_t* data, size_t length);

// ---- the topology -------------------------------------------------------

struct spti_unit {
    uint8_t target, lun;
    bool claimed;
    std::string device; // what reaches it: its class device, or its port
};

struct spti_adapter {
    int port;           // N of the \\.\ScsiN: that listed it
    int port_id;        // the port as its units' addresses name it
    uint8_t path;
    uint8_t initiator_id;
    std::string driver; // miniport driver, at most 16 characters kept
    std::vector<spti_unit> units;
};

struct spti_topology {
    std::vector<spti_adapter> adapters; // at most 255
};

// Walks the ports and matches claimed units to their class devices.
void read_spti_topology(const spti_system& system, spti_topology* topology);

// What one pass-through came back with.
struct spti_result {
    bool sent;             // DeviceIoControl succeeded
    uint32_t error;        // its error when it did not
    uint8_t scsi_status;
    const uint8_t* sense;
    size_t sense_length;
    uint32_t transferred;
};

// What the pass-through came to, in the terms of the seam: time-outs and
// transport failures as host adapter statuses, a device that went away as
// no device, every other refusal as an error of the system.
void translate_spti_result(const spti_result& result, request_outcome* outcome);

// The manager over a system table that must outlive it. It walks the ports
// when made.
const aspi_manager* open_spti_manager(const spti_system& system);
// How many host adapters an SPTI manager found (0 for any other manager).
size_t spti_adapter_count(const aspi_manager* manager);
