// The connection to the ASPI manager: the request records of the ASPI for
// Win32 interface, opening and closing, the host adapter inquiry and the
// execution of one SCSI request with its wait for completion.
#pragma once
#include <cstddef>
#include <cstdint>

#include "aspi/event.h"

enum : uint8_t {
    SC_HA_INQUIRY = 0x00,
    SC_EXEC_SCSI_CMD = 0x02,

    // Request statuses.
    SS_PENDING = 0x00,
    SS_COMP = 0x01,
    SS_ABORTED = 0x02, // the system failed the request before it reached the unit
    SS_ERR = 0x04,
    SS_INVALID_CMD = 0x80,
    SS_INVALID_HA = 0x81,
    SS_NO_DEVICE = 0x82,
    SS_INVALID_SRB = 0xE0, // the seam refused the request (not a read-only command)
    SS_BUFFER_TOO_BIG = 0xE6,
    SS_INSUFFICIENT_RESOURCES = 0xE9,

    SRB_DIR_IN = 0x08,
    SRB_DIR_OUT = 0x10,
    SRB_EVENT_NOTIFY = 0x40,

    // Host adapter statuses: how the transport ended.
    HASTAT_OK = 0x00,
    HASTAT_COMMAND_TIMEOUT = 0x0B,
    HASTAT_BUS_RESET = 0x0E,
    HASTAT_PARITY_ERROR = 0x0F,
    HASTAT_SEL_TO = 0x11,
    HASTAT_DO_DU = 0x12,
    HASTAT_BUS_FREE = 0x13, // the connection went away under the command
    HASTAT_PHASE_ERR = 0x14, // any other failure on the way

    STATUS_GOOD = 0x00,
    STATUS_CHKCOND = 0x02,

    SENSE_LEN = 14,
};

#pragma pack(push, 1)
// Host adapter inquiry record, 60 bytes.
struct srb_ha_inquiry {
    uint8_t command;        // 0: host adapter inquiry
    uint8_t status;         // request status, set by the manager
    uint8_t host_adapter;
    uint8_t flags;
    uint32_t reserved;
    uint8_t adapter_count;  // answer
    uint8_t adapter_scsi_id;
    uint8_t manager_id[16];
    uint8_t adapter_id[16];
    uint8_t adapter_unique[16];
    uint16_t reserved2;
};

// Execute-SCSI-command record. On a 32-bit build it is the 80-byte record of
// the interface. On a 64-bit build the buffer address (offset 16) and the
// event handle (offset 28) are 8 bytes wide; every later field moves down by
// 4 and 8 bytes respectively (sense length 24, block length 25, statuses 26
// and 27, event 28, command block 56, sense area 72; 88 bytes in all).
struct srb_exec {
    uint8_t command;        // 2: execute SCSI command
    uint8_t status;         // request status, set by the manager
    uint8_t host_adapter;
    uint8_t flags;
    uint32_t reserved;
    uint8_t target;
    uint8_t lun;
    uint16_t reserved2;
    uint32_t data_length;
    uint8_t* data_buffer;
    uint8_t sense_length;
    uint8_t cdb_length;
    uint8_t host_status;
    uint8_t target_status;
    aspi_event* post_event;
    uint8_t reserved3[20];
    uint8_t cdb[16];
    uint8_t sense[16];
};
#pragma pack(pop)

static_assert(sizeof(srb_ha_inquiry) == 60, "host adapter inquiry record is 60 bytes");
static_assert(offsetof(srb_ha_inquiry, adapter_count) == 8, "adapter count at 8");
static_assert(offsetof(srb_ha_inquiry, manager_id) == 10, "identification at 10");
static_assert(offsetof(srb_ha_inquiry, adapter_unique) == 42, "adapter-unique at 42");
static_assert(offsetof(srb_exec, target) == 8 && offsetof(srb_exec, lun) == 9, "address at 8");
static_assert(offsetof(srb_exec, data_length) == 12, "data length at 12");
static_assert(offsetof(srb_exec, data_buffer) == 16, "buffer address at 16");
static_assert(offsetof(srb_exec, sense_length) == 16 + sizeof(void*), "sense length after the address");
static_assert(offsetof(srb_exec, target_status) == 19 + sizeof(void*), "target status");
static_assert(offsetof(srb_exec, post_event) == 20 + sizeof(void*), "event handle");
static_assert(offsetof(srb_exec, cdb) == 40 + 2 * sizeof(void*), "command block");
static_assert(sizeof(srb_exec) == 72 + 2 * sizeof(void*), "80 bytes on a 32-bit build");

// Where the additional sense code sits in the sense area.
constexpr int SENSE_ASC = 12;

int aspi_open();
void aspi_close();
int aspi_is_open();
// Adapter count (0-255), or -1 when the manager rejects the adapter. out
// receives manager identification, adapter identification and the
// adapter-unique parameters, 16 bytes each.
int aspi_host_adapter_inquiry(int host_adapter, uint8_t out[48]);
// 0 success, 1 unit attention (rebuild and resend), -1 failure.
int aspi_execute(srb_exec* srb);
// As aspi_execute, but "no unit at this address" gives 0 with data byte 0
// set to FFh.
int aspi_execute_probe(srb_exec* srb, uint8_t* data);
// The target IDs of an adapter's bus, beyond the two calls of the ASPI for
// Win32 interface: what the manager knows of the adapter's width.
struct adapter_targets {
    int count = 0;   // target IDs 0 to count - 1; 0 when the manager does not say
    int own_id = -1; // the adapter's own ID among them, -1 when it has none there
};
// 0 with targets filled, -1 when the adapter's manager does not say.
int aspi_describe_targets(int adapter, adapter_targets* targets);
// The IDs of a narrow parallel bus; only a wider bus changes the scan.
constexpr int NARROW_BUS_IDS = 8;

// The completion event of the open connection (for the command builders).
aspi_event* aspi_completion_event();

// How long a request may stay pending; 10,000 ms unless a test shortens it.
void aspi_set_wait_limit_ms(unsigned milliseconds);
unsigned aspi_wait_limit_ms();

// A unit whose requests keep running into the wait limit is given up for
// the rest of the connection, after this many time-outs in a row or in all:
// its remaining requests fail at once, unsent, and one line on standard
// error names it. A hostile unit thus costs at most TIMEOUTS_IN_ALL waits.
constexpr int UNIT_TIMEOUTS_IN_A_ROW = 3;
constexpr int UNIT_TIMEOUTS_IN_ALL = 8;
