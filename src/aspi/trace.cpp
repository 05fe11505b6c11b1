// The trace wrapper: sits in front of any manager and writes every exchange
// into a file in bus file format, so that a run recorded on real hardware
// replays to the same report with -bus.
#include <cstdio>
#include <cstring>

#include "aspi/aspi.h"
#include "aspi/manager.h"

namespace {

const aspi_manager* inner_manager = nullptr;
FILE* trace_file = nullptr;
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
        fprintf(trace_file, "    %s", keyword);
        for (size_t i = row; i < end && i < row + 16; i++)
            fprintf(trace_file, " %02X", bytes[i]);
        fputc('\n', trace_file);
    }
    if (end < length)
        fprintf(trace_file, "    %s zeros %zu\n", keyword, length - end);
}

uint32_t trace_support_info()
{
    uint32_t value = inner_manager->support_info();
    fprintf(trace_file, "support %X\n", value);
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
        fprintf(trace_file, "adapter %u reject\n", inquiry->host_adapter);
        return result;
    }
    if (!adapters_written) {
        fprintf(trace_file, "adapters %u\n", inquiry->adapter_count);
        adapters_written = true;
    }
    fprintf(trace_file, "adapter %u\n", inquiry->host_adapter);
    const char* names[3] = {"manager", "identity", "unique"};
    const uint8_t* fields[3] = {inquiry->manager_id, inquiry->adapter_id, inquiry->adapter_unique};
    for (int field = 0; field < 3; field++) {
        fprintf(trace_file, "  %s", names[field]);
        for (int i = 0; i < 16; i++)
            fprintf(trace_file, " %02X", fields[field][i]);
        fputc('\n', trace_file);
    }
    return result;
}

void trace_shutdown()
{
    if (inner_manager && inner_manager->shutdown)
        inner_manager->shutdown();
}

const aspi_manager trace_manager = {"trace", trace_support_info, trace_send_command, trace_shutdown};

} // namespace

const aspi_manager* start_trace(const aspi_manager* inner, const char* path, std::string* error)
{
    trace_file = fopen(path, "w");
    if (!trace_file) {
        *error = std::string(path) + ": cannot write the trace file";
        return nullptr;
    }
    inner_manager = inner;
    adapters_written = false;
    last_unit[0] = -1;
    fprintf(trace_file, "# vexum trace: every exchange of one run, in bus file format\n");
    return &trace_manager;
}

void finish_trace()
{
    if (trace_file)
        fclose(trace_file);
    trace_file = nullptr;
    inner_manager = nullptr;
}

void trace_exchange(const void* request, bool timed_out)
{
    if (!trace_file)
        return;
    auto* srb = static_cast<const srb_exec*>(request);
    if (srb->host_adapter != last_unit[0] || srb->target != last_unit[1] || srb->lun != last_unit[2]) {
        fprintf(trace_file, "unit %u:%u:%u\n", srb->host_adapter, srb->target, srb->lun);
        last_unit[0] = srb->host_adapter;
        last_unit[1] = srb->target;
        last_unit[2] = srb->lun;
    }
    fprintf(trace_file, "  on");
    for (int i = 0; i < srb->cdb_length && i < 16; i++)
        fprintf(trace_file, " %02X", srb->cdb[i]);
    fputc('\n', trace_file);
    if (timed_out) {
        fprintf(trace_file, "    hang\n");
        return;
    }
    fprintf(trace_file, "    request-status %02X\n", srb->status);
    if (srb->host_status)
        fprintf(trace_file, "    host-status %02X\n", srb->host_status);
    if (srb->target_status)
        fprintf(trace_file, "    status %02X\n", srb->target_status);
    if (srb->target_status == STATUS_CHKCOND)
        write_bytes("sense", srb->sense, SENSE_LEN);
    bool completed = srb->status == SS_COMP || srb->status == SS_ERR;
    if (completed && srb->host_status != HASTAT_SEL_TO && srb->data_buffer)
        write_bytes("data", srb->data_buffer, srb->data_length);
}
