// The ASPI connection: open and close, the host adapter inquiry, and the
// execution of one request with its wait for the completion event.
#include "aspi/aspi.h"

#include <cstring>
#include <map>

#include "aspi/manager.h"
#include "aspi/wait_watch.h"
#include "format/output.h"

// The time-outs of one unit in this connection.
struct unit_timeouts {
    int in_a_row = 0;
    int in_all = 0;
    bool given_up = false;
};

static int connection_open = 0;
static aspi_event* completion_event = nullptr;
static unsigned wait_limit_ms = 10000;
static std::map<uint32_t, unit_timeouts> timeouts_by_unit;
static wait_watch* watch = nullptr; // while the connection is open, on a terminal

void aspi_set_wait_limit_ms(unsigned milliseconds) { wait_limit_ms = milliseconds; }
unsigned aspi_wait_limit_ms() { return wait_limit_ms; }
aspi_event* aspi_completion_event() { return completion_event; }
int aspi_is_open() { return connection_open; }

int aspi_open()
{
    if (connection_open)
        return 0;
    uint32_t support = aspi_support_info();
    if (((support >> 8) & 0xFF) != 1) {
        err_printf("Error:Can't initialize ASPI Manager.%X\n", support);
        return -1;
    }
    completion_event = event_create();
    if (!completion_event)
        return -1;
    timeouts_by_unit.clear();
    watch = start_wait_watch();
    connection_open = 1;
    return 0;
}

void aspi_close()
{
    if (!connection_open)
        return;
    stop_wait_watch(watch);
    watch = nullptr;
    event_close(completion_event);
    completion_event = nullptr;
    timeouts_by_unit.clear();
    connection_open = 0;
}

int aspi_host_adapter_inquiry(int host_adapter, uint8_t out[48])
{
    srb_ha_inquiry srb;
    std::memset(&srb, 0, sizeof srb);
    std::memset(out, 0, 48);
    srb.command = SC_HA_INQUIRY;
    srb.host_adapter = uint8_t(host_adapter);
    srb.flags = 0;
    if (aspi_send_command(&srb) == SS_INVALID_HA)
        return -1;
    std::memcpy(out, srb.manager_id, 48);
    return srb.adapter_count;
}

static uint32_t unit_key(const srb_exec* srb)
{
    return uint32_t(srb->host_adapter) << 16 | uint32_t(srb->target) << 8 | srb->lun;
}

// Counts the outcome of a request to the unit; gives the unit up when it
// has timed out too often.
static void count_wait(const srb_exec* srb, bool timed_out)
{
    unit_timeouts& unit = timeouts_by_unit[unit_key(srb)];
    if (!timed_out) {
        unit.in_a_row = 0;
        return;
    }
    unit.in_a_row++;
    unit.in_all++;
    if (unit.in_a_row < UNIT_TIMEOUTS_IN_A_ROW && unit.in_all < UNIT_TIMEOUTS_IN_ALL)
        return;
    unit.given_up = true;
    if (unit.in_a_row >= UNIT_TIMEOUTS_IN_A_ROW)
        err_printf("vexum: unit %u:%u:%u timed out on %d requests in a row; its other requests are skipped\n",
                   srb->host_adapter, srb->target, srb->lun, unit.in_a_row);
    else
        err_printf("vexum: unit %u:%u:%u timed out on %d requests; its other requests are skipped\n",
                   srb->host_adapter, srb->target, srb->lun, unit.in_all);
}

static bool unit_given_up(const srb_exec* srb)
{
    auto unit = timeouts_by_unit.find(unit_key(srb));
    return unit != timeouts_by_unit.end() && unit->second.given_up;
}

// Send the request and, when the manager leaves it pending, wait for its
// completion. Returns 0 when the status bytes may be read, -1 on time-out
// (or at once, for a unit given up).
static int send_and_wait(srb_exec* srb)
{
    if (unit_given_up(srb))
        return -1;
    watch_request(watch, *srb);
    bool timed_out = aspi_send_command(srb) == SS_PENDING && event_wait(srb->post_event, wait_limit_ms) == EVENT_TIMEOUT;
    end_watch(watch);
    count_wait(srb, timed_out);
    return timed_out ? -1 : 0;
}

static bool is_unit_attention(const srb_exec* srb)
{
    return srb->target_status == STATUS_CHKCOND && (srb->sense[SENSE_ASC] == 0x28 || srb->sense[SENSE_ASC] == 0x29);
}

// The steps both policies share once the host adapter status has passed:
// the request status, then the target status. A check condition other than
// unit attention gives CHECK_CONDITION, which each policy reads its own way.
constexpr int CHECK_CONDITION = 2;

static int read_completion(const srb_exec* srb)
{
    if (srb->status != SS_COMP && srb->status != SS_ERR)
        return -1;
    if (srb->target_status == STATUS_GOOD)
        return 0;
    if (is_unit_attention(srb))
        return 1;
    return srb->target_status == STATUS_CHKCOND ? CHECK_CONDITION : -1;
}

int aspi_execute(srb_exec* srb)
{
    if (send_and_wait(srb) < 0)
        return -1;
    if (srb->host_status != HASTAT_OK)
        return -1;
    int result = read_completion(srb);
    return result == CHECK_CONDITION ? -1 : result;
}

int aspi_execute_probe(srb_exec* srb, uint8_t* data)
{
    if (send_and_wait(srb) < 0)
        return -1;
    if (srb->host_status == HASTAT_SEL_TO) {
        data[0] = 0xFF;
        return 0;
    }
    if (srb->host_status != HASTAT_OK && srb->host_status != HASTAT_DO_DU)
        return -1;
    if (srb->status == SS_NO_DEVICE) {
        data[0] = 0xFF;
        return 0;
    }
    int result = read_completion(srb);
    if (result == CHECK_CONDITION) {
        // Any other check condition: nothing to report at this address.
        data[0] = 0xFF;
        return 0;
    }
    return result;
}
