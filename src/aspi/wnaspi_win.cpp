// The WNASPI32.DLL manager: the system's ASPI for Win32 manager, loaded at
// run time. It is looked for with the usual DLL search (the program's folder,
// then the system folders); 32-bit managers need the 32-bit build.
//
// A request does not go to the DLL in the caller's record. The manager gets
// a copy of the record and of the data buffer on the heap, with an event of
// our own, and the copies are written back when the request completes. A
// request that does not complete within the wait limit is left to the
// manager: its record, buffer and event stay allocated until the process
// ends, so that a late completion writes into memory that is still ours
// while the caller's record has long gone.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include <windows.h>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/wnaspi.h"
#include "format/output.h"

namespace {

using support_info_call = DWORD(__cdecl*)();
using send_command_call = DWORD(__cdecl*)(void*);

constexpr const char* MANAGER_DLL = "WNASPI32.DLL";

// Statuses of the support-info call that this layer answers itself.
constexpr uint32_t SUPPORT_NO_MANAGER = 0xE300;   // the DLL cannot be loaded
constexpr uint32_t SUPPORT_FAILED_INIT = 0xE400;  // it lacks the two calls

struct wnaspi_manager {
    aspi_manager record;
    bool tried = false;
    HMODULE module = nullptr;
    support_info_call support_info = nullptr;
    send_command_call send_command = nullptr;
    // The event of the last request that completed, reused by the next one.
    aspi_event* spare_event = nullptr;
    // How many requests were left to the manager after their wait ran out.
    unsigned abandoned_requests = 0;
    // Why the DLL cannot serve, said once when the connection asks.
    std::string failure;
    bool told_failure = false;
};

wnaspi_manager& manager_of(void* context) { return *static_cast<wnaspi_manager*>(context); }

// A request as the DLL sees it.
struct manager_request {
    srb_exec record;
    uint8_t* buffer;
    aspi_event* done;
};

template <typename call>
call find_call(HMODULE module, const char* name)
{
    FARPROC address = GetProcAddress(module, name);
    call result = nullptr;
    static_assert(sizeof result == sizeof address, "entry points are plain addresses");
    if (address)
        std::memcpy(&result, &address, sizeof result);
    return result;
}

// 0 when the DLL is loaded and has both calls; the reason otherwise (its
// text kept for the connection).
uint32_t load_manager(wnaspi_manager& m)
{
    if (m.tried)
        return m.send_command ? 0 : (m.module ? SUPPORT_FAILED_INIT : SUPPORT_NO_MANAGER);
    m.tried = true;
    m.module = LoadLibraryA(MANAGER_DLL);
    if (!m.module) {
        m.failure = std::string("vexum: ") + MANAGER_DLL + ": cannot load the ASPI manager (Windows error " +
                    std::to_string(static_cast<unsigned long>(GetLastError())) + ")\n";
        return SUPPORT_NO_MANAGER;
    }
    m.support_info = find_call<support_info_call>(m.module, "GetASPI32SupportInfo");
    m.send_command = find_call<send_command_call>(m.module, "SendASPI32Command");
    if (!m.support_info || !m.send_command) {
        m.failure = std::string("vexum: ") + MANAGER_DLL +
                    ": not an ASPI manager (no GetASPI32SupportInfo or SendASPI32Command)\n";
        m.support_info = nullptr;
        m.send_command = nullptr;
        return SUPPORT_FAILED_INIT;
    }
    return 0;
}

uint32_t wnaspi_support_info(void* context)
{
    wnaspi_manager& m = manager_of(context);
    uint32_t failure = load_manager(m);
    if (failure) {
        if (!m.told_failure)
            err_printf("%s", m.failure.c_str());
        m.told_failure = true;
        return failure;
    }
    return m.support_info();
}

// The DLL's answer to a host adapter inquiry; false when it rejects the
// adapter (or there is no DLL).
bool inquire_adapter(wnaspi_manager& m, int adapter, srb_ha_inquiry* srb)
{
    std::memset(srb, 0, sizeof *srb);
    srb->command = SC_HA_INQUIRY;
    srb->host_adapter = uint8_t(adapter);
    // The inquiry is answered when the call returns.
    return load_manager(m) == 0 && m.send_command(srb) != SS_INVALID_HA;
}

int wnaspi_describe_adapter(void* context, int adapter, adapter_description* description)
{
    srb_ha_inquiry srb;
    if (!inquire_adapter(manager_of(context), adapter, &srb))
        return -1;
    description->count = srb.adapter_count;
    description->own_id = srb.adapter_scsi_id;
    std::memcpy(description->ids, srb.manager_id, sizeof description->ids);
    return 0;
}

// An ASPI manager gives the number of target IDs in byte 3 of the
// adapter-unique parameters (0 in managers that do not say).
int wnaspi_describe_targets(void* context, int adapter, adapter_targets* targets)
{
    srb_ha_inquiry srb;
    if (!inquire_adapter(manager_of(context), adapter, &srb) || srb.adapter_unique[3] == 0)
        return -1;
    targets->count = srb.adapter_unique[3];
    targets->own_id = srb.adapter_scsi_id < targets->count ? srb.adapter_scsi_id : -1;
    return 0;
}

// Hand the copy to the DLL and wait for it. Returns false when the request
// is still with the manager after the wait limit.
bool run_request(wnaspi_manager& m, manager_request* copy)
{
    DWORD status = m.send_command(&copy->record);
    if (status != SS_PENDING)
        return true;
    if (event_wait(copy->done, aspi_wait_limit_ms()) == EVENT_SIGNALLED)
        return true;
    // The manager's threads write the status byte; one that is still
    // pending after a failed or timed-out wait belongs to the manager.
    return *static_cast<volatile uint8_t*>(&copy->record.status) != SS_PENDING;
}

void wnaspi_execute(void* context, const srb_exec& request, request_outcome* outcome)
{
    wnaspi_manager& m = manager_of(context);
    if (load_manager(m) != 0) {
        outcome->request_status = SS_INVALID_CMD;
        return;
    }
    auto* copy = new (std::nothrow) manager_request;
    uint8_t* buffer = request.data_length ? new (std::nothrow) uint8_t[request.data_length] : nullptr;
    aspi_event* done = m.spare_event ? m.spare_event : event_create();
    m.spare_event = nullptr;
    if (!copy || (request.data_length && !buffer) || !done) {
        delete copy;
        delete[] buffer;
        m.spare_event = done;
        outcome->request_status = SS_INSUFFICIENT_RESOURCES;
        return;
    }
    event_reset(done);
    copy->record = request;
    copy->buffer = buffer;
    copy->done = done;
    if (buffer)
        std::memcpy(buffer, request.data_buffer, request.data_length);
    copy->record.data_buffer = buffer;
    copy->record.flags = uint8_t(copy->record.flags | SRB_EVENT_NOTIFY);
    copy->record.post_event = done;

    if (!run_request(m, copy)) {
        // Still the manager's: keep record, buffer and event for good. The
        // wait has run its course here; the caller sees a request that timed
        // out, at once.
        m.abandoned_requests++;
        outcome->host_status = HASTAT_COMMAND_TIMEOUT;
        return;
    }
    const srb_exec& answer = copy->record;
    if (buffer)
        std::memcpy(request.data_buffer, buffer, request.data_length);
    // The DLL is an ASPI manager: its statuses stand as they are.
    outcome->request_status = answer.status;
    outcome->host_status = answer.host_status;
    outcome->target_status = answer.target_status;
    outcome->sense_length = uint8_t(std::min<size_t>(answer.sense_length, sizeof answer.sense));
    std::memcpy(outcome->sense, answer.sense, outcome->sense_length);
    outcome->transferred = request.data_length;
    m.spare_event = done;
    delete[] buffer;
    delete copy;
}

void wnaspi_shutdown(void* context)
{
    wnaspi_manager* m = static_cast<wnaspi_manager*>(context);
    event_close(m->spare_event);
    // A manager that may still complete a request keeps its code loaded.
    if (m->module && m->abandoned_requests == 0)
        FreeLibrary(m->module);
    delete m;
}

} // namespace

bool is_wnaspi_ready(const aspi_manager* manager)
{
    if (!manager || manager->execute != wnaspi_execute)
        return false;
    wnaspi_manager& m = manager_of(manager->context);
    return load_manager(m) == 0 && ((m.support_info() >> 8) & 0xFF) == 1;
}

const aspi_manager* open_wnaspi_manager()
{
    auto* m = new wnaspi_manager;
    m->record = {"WNASPI32.DLL", m, wnaspi_support_info, wnaspi_describe_adapter, wnaspi_execute,
                 wnaspi_describe_targets, wnaspi_shutdown};
    return &m->record;
}
