// The trace wrapper: sits in front of any manager and writes every exchange
// into a file in bus file format, so that a run recorded on real hardware
// replays to the same report with -bus.
#include <cstdio>
#include <cstring>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/trace_file.h"

namespace {

const aspi_manager* inner_manager = nullptr;
trace_sink sink;
bool adapters_written = false;
int last_unit[3] = {-1, -1, -1};

void write_bytes(const char* keyword, const uint8_t* bytes, size_t length)
{
    // Long runs of trailing zero bytes are written as "zeros N".
    size_t end = length;
    while (end > 0 && bytes[end - 1] == 0)
        end--;
    if (length - end < 16)
        end = length;
    for (size_t row = 0; row < end; row += 16) {
        trace_printf(&sink, "    %s", keyword);
        for (size_t i = row; i < end && i < row + 16; i++)
            trace_printf(&sink, " %02X", bytes[i]);
        trace_printf(&sink, "\n");
    }
    if (end < length)
        trace_printf(&sink, "    %s zeros %lu\n", keyword, static_cast<unsigned long>(length - end));
}

uint32_t trace_support_info()
{
    uint32_t value = inner_manager->support_info();
    trace_printf(&sink, "support %X\n", value);
    commit_trace_exchange(&sink);
    return value;
}

uint32_t trace_send_command(void* srb)
{
    uint32_t result = inner_manager->send_command(srb);
    auto* header = static_cast<uint8_t*>(srb);
    if (header[0] != SC_HA_INQUIRY)
        return result;
    auto* inquiry = static_cast<srb_ha_inquiry*>(srb);
    last_unit[0] = -1;
    if (result == SS_INVALID_HA) {
        trace_printf(&sink, "adapter %u reject\n", inquiry->host_adapter);
        commit_trace_exchange(&sink);
        return result;
    }
    if (!adapters_written) {
        trace_printf(&sink, "adapters %u\n", inquiry->adapter_count);
        adapters_written = true;
    }
    trace_printf(&sink, "adapter %u\n", inquiry->host_adapter);
    const char* names[3] = {"manager", "identity", "unique"};
    const uint8_t* fields[3] = {inquiry->manager_id, inquiry->adapter_id, inquiry->adapter_unique};
    for (int field = 0; field < 3; field++) {
        trace_printf(&sink, "  %s", names[field]);
        for (int i = 0; i < 16; i++)
            trace_printf(&sink, " %02X", fields[field][i]);
        trace_printf(&sink, "\n");
    }
    commit_trace_exchange(&sink);
    return result;
}

void trace_shutdown()
{
    if (inner_manager && inner_manager->shutdown)
        inner_manager->shutdown();
}

const aspi_manager trace_manager = {"trace", trace_support_info, trace_send_command, trace_shutdown};

} // namespace

const aspi_manager* start_trace(const aspi_manager* inner, const char* path, const std::vector<run_input>& inputs,
                               std::string* error)
{
    if (open_trace_sink(&sink, path, inputs, error) != 0)
        return nullptr;
    inner_manager = inner;
    adapters_written = false;
    last_unit[0] = -1;
    return &trace_manager;
}

int finish_trace(std::string* error)
{
    inner_manager = nullptr;
    return close_trace_sink(&sink, error);
}

void trace_exchange(const void* request, bool timed_out)
{
    if (!inner_manager)
        return;
    auto* srb = static_cast<const srb_exec*>(request);
    if (srb->host_adapter != last_unit[0] || srb->target != last_unit[1] || srb->lun != last_unit[2]) {
        trace_printf(&sink, "unit %u:%u:%u\n", srb->host_adapter, srb->target, srb->lun);
        last_unit[0] = srb->host_adapter;
        last_unit[1] = srb->target;
        last_unit[2] = srb->lun;
    }
    trace_printf(&sink, "  on");
    for (int i = 0; i < srb->cdb_length && i < 16; i++)
        trace_printf(&sink, " %02X", srb->cdb[i]);
    trace_printf(&sink, "\n");
    if (timed_out) {
        trace_printf(&sink, "    hang\n");
        commit_trace_exchange(&sink);
        return;
    }
    trace_printf(&sink, "    request-status %02X\n", srb->status);
    if (srb->host_status)
        trace_printf(&sink, "    host-status %02X\n", srb->host_status);
    if (srb->target_status)
        trace_printf(&sink, "    status %02X\n", srb->target_status);
    if (srb->target_status == STATUS_CHKCOND)
        write_bytes("sense", srb->sense, SENSE_LEN);
    bool completed = srb->status == SS_COMP || srb->status == SS_ERR;
    if (completed && srb->host_status != HASTAT_SEL_TO && srb->data_buffer)
        write_bytes("data", srb->data_buffer, srb->data_length);
    commit_trace_exchange(&sink);
}
