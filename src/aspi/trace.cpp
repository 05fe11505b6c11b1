// The trace wrapper: a manager in front of any other that writes every
// exchange passing through it into a trace file (trace_file.h) in bus file
// format, so that a run recorded on real hardware replays to the same report
// with -bus. It sees each request after the seam's checks and each outcome
// before the seam turns it into status bytes, and records the bytes the seam
// makes of it.
#include <cstdio>
#include <cstring>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/trace_file.h"

namespace {

struct trace_manager {
    aspi_manager record;
    const aspi_manager* inner;
    trace_sink sink;
    bool adapters_written = false;
    int last_unit[3] = {-1, -1, -1};
};

trace_manager& trace_of(void* context) { return *static_cast<trace_manager*>(context); }

// The trace at the start of an exchange. An exchange that never ends is
// written to the file only when the run moves past it (the caller's wait has
// run out): a run interrupted during that wait keeps what came before.
trace_manager& begin_exchange(void* context)
{
    trace_manager& t = trace_of(context);
    commit_trace_exchange(&t.sink);
    return t;
}

void write_bytes(trace_sink* sink, const char* keyword, const uint8_t* bytes, size_t length)
{
    // Long runs of trailing zero bytes are written as "zeros N".
    size_t end = length;
    while (end > 0 && bytes[end - 1] == 0)
        end--;
    if (length - end < 16)
        end = length;
    for (size_t row = 0; row < end; row += 16) {
        trace_printf(sink, "    %s", keyword);
        for (size_t i = row; i < end && i < row + 16; i++)
            trace_printf(sink, " %02X", bytes[i]);
        trace_printf(sink, "\n");
    }
    if (end < length)
        trace_printf(sink, "    %s zeros %lu\n", keyword, static_cast<unsigned long>(length - end));
}

uint32_t trace_support_info(void* context)
{
    trace_manager& t = begin_exchange(context);
    uint32_t value = manager_support_info(t.inner);
    trace_printf(&t.sink, "support %X\n", value);
    commit_trace_exchange(&t.sink);
    return value;
}

int trace_describe_adapter(void* context, int adapter, adapter_description* description)
{
    trace_manager& t = begin_exchange(context);
    int result = manager_describe_adapter(t.inner, adapter, description);
    t.last_unit[0] = -1;
    if (result != 0) {
        trace_printf(&t.sink, "adapter %d reject\n", adapter);
    } else {
        if (!t.adapters_written) {
            trace_printf(&t.sink, "adapters %u\n", unsigned(description->count & 0xFF));
            t.adapters_written = true;
        }
        trace_printf(&t.sink, "adapter %d\n", adapter);
        const char* names[3] = {"manager", "identity", "unique"};
        for (int field = 0; field < 3; field++) {
            trace_printf(&t.sink, "  %s", names[field]);
            for (int i = 0; i < 16; i++)
                trace_printf(&t.sink, " %02X", description->ids[16 * field + i]);
            trace_printf(&t.sink, "\n");
        }
    }
    commit_trace_exchange(&t.sink);
    return result;
}

// What the manager says of an adapter's width is recorded where it widens
// the scan, beyond eight IDs; a narrow bus reads the same without it.
int trace_describe_targets(void* context, int adapter, adapter_targets* targets)
{
    trace_manager& t = begin_exchange(context);
    int result = manager_describe_targets(t.inner, adapter, targets);
    if (result != 0 || targets->count <= NARROW_BUS_IDS)
        return result;
    t.last_unit[0] = -1;
    trace_printf(&t.sink, "adapter %d\n  targets %d", adapter, targets->count);
    if (targets->own_id >= 0)
        trace_printf(&t.sink, " %d", targets->own_id);
    trace_printf(&t.sink, "\n");
    commit_trace_exchange(&t.sink);
    return result;
}

void trace_execute(void* context, const srb_exec& request, request_outcome* outcome)
{
    trace_manager& t = begin_exchange(context);
    trace_sink* sink = &t.sink;
    t.inner->execute(t.inner->context, request, outcome);

    if (request.host_adapter != t.last_unit[0] || request.target != t.last_unit[1] || request.lun != t.last_unit[2]) {
        trace_printf(sink, "unit %u:%u:%u\n", request.host_adapter, request.target, request.lun);
        t.last_unit[0] = request.host_adapter;
        t.last_unit[1] = request.target;
        t.last_unit[2] = request.lun;
    }
    trace_printf(sink, "  on");
    for (int i = 0; i < request.cdb_length && i < 16; i++)
        trace_printf(sink, " %02X", request.cdb[i]);
    trace_printf(sink, "\n");
    if (outcome->kind == OUTCOME_NEVER) {
        trace_printf(sink, "    hang\n"); // committed by the next exchange or the end
        return;
    }
    // The status bytes the seam makes of the outcome, worked out on a copy.
    srb_exec done = request;
    complete_request(*outcome, &done);
    trace_printf(sink, "    request-status %02X\n", done.status);
    if (done.host_status)
        trace_printf(sink, "    host-status %02X\n", done.host_status);
    if (done.target_status)
        trace_printf(sink, "    status %02X\n", done.target_status);
    if (done.target_status == STATUS_CHKCOND)
        write_bytes(sink, "sense", done.sense, SENSE_LEN);
    bool completed = done.status == SS_COMP || done.status == SS_ERR;
    if (completed && done.host_status != HASTAT_SEL_TO && request.data_buffer)
        write_bytes(sink, "data", request.data_buffer, request.data_length);
    commit_trace_exchange(sink);
}

void trace_shutdown(void* context)
{
    trace_manager* t = static_cast<trace_manager*>(context);
    // A trace that was not finished is put in place as far as it went.
    std::string ignored;
    close_trace_sink(&t->sink, &ignored);
    release_aspi_manager(t->inner);
    delete t;
}

} // namespace

const aspi_manager* start_trace(const aspi_manager* inner, const char* path, const std::vector<run_input>& inputs,
                               std::string* error)
{
    auto* t = new trace_manager;
    if (open_trace_sink(&t->sink, path, inputs, error) != 0) {
        delete t;
        return nullptr;
    }
    t->inner = inner;
    t->record = {"trace", t, trace_support_info, trace_describe_adapter, trace_execute, trace_describe_targets,
                 trace_shutdown};
    return &t->record;
}

int finish_trace(const aspi_manager* manager, std::string* error)
{
    if (!manager || manager->execute != trace_execute)
        return 0;
    return close_trace_sink(&trace_of(manager->context).sink, error);
}
