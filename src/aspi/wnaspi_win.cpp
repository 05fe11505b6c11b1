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
#include <cstring>
#include <new>

#include <windows.h>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "format/output.h"

namespace {

using support_info_call = DWORD(__cdecl*)();
using send_command_call = DWORD(__cdecl*)(void*);

constexpr const char* MANAGER_DLL = "WNASPI32.DLL";

// Statuses of the support-info call that this layer answers itself.
constexpr uint32_t SUPPORT_NO_MANAGER = 0xE300;   // the DLL cannot be loaded
constexpr uint32_t SUPPORT_FAILED_INIT = 0xE400;  // it lacks the two calls

constexpr uint8_t SS_INVALID_CMD = 0x80;
constexpr uint8_t SS_BUFFER_TOO_BIG = 0xE6;
constexpr uint8_t SS_INSUFFICIENT_RESOURCES = 0xE9;

// Far beyond any transfer the tool asks for; a larger length is refused
// rather than allocated.
constexpr uint32_t LARGEST_TRANSFER = 16u * 1024 * 1024;

struct loaded_manager {
    bool tried = false;
    HMODULE module = nullptr;
    support_info_call support_info = nullptr;
    send_command_call send_command = nullptr;
};

loaded_manager dll;

// A request as the DLL sees it.
struct manager_request {
    srb_exec record;
    uint8_t* buffer;
    HANDLE done;
};

// The event of the last request that completed, reused by the next one.
HANDLE spare_event = nullptr;
// How many requests were left to the manager after their wait ran out.
unsigned abandoned_requests = 0;

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

// 0 when the DLL is loaded and has both calls; the reason otherwise, said
// once on standard error.
uint32_t load_manager()
{
    if (dll.tried)
        return dll.send_command ? 0 : (dll.module ? SUPPORT_FAILED_INIT : SUPPORT_NO_MANAGER);
    dll.tried = true;
    dll.module = LoadLibraryA(MANAGER_DLL);
    if (!dll.module) {
        err_printf("vexum: %s: cannot load the ASPI manager (Windows error %lu)\n", MANAGER_DLL,
                   static_cast<unsigned long>(GetLastError()));
        return SUPPORT_NO_MANAGER;
    }
    dll.support_info = find_call<support_info_call>(dll.module, "GetASPI32SupportInfo");
    dll.send_command = find_call<send_command_call>(dll.module, "SendASPI32Command");
    if (!dll.support_info || !dll.send_command) {
        err_printf("vexum: %s: not an ASPI manager (no GetASPI32SupportInfo or SendASPI32Command)\n",
                   MANAGER_DLL);
        dll.support_info = nullptr;
        dll.send_command = nullptr;
        return SUPPORT_FAILED_INIT;
    }
    return 0;
}

uint32_t wnaspi_support_info()
{
    uint32_t failure = load_manager();
    if (failure)
        return failure;
    return dll.support_info();
}

// Hand the copy to the DLL and wait for it. Returns false when the request
// is still with the manager after the wait limit.
bool run_request(manager_request* copy)
{
    DWORD status = dll.send_command(&copy->record);
    if (status != SS_PENDING)
        return true;
    if (WaitForSingleObject(copy->done, DWORD(aspi_wait_limit_ms())) == WAIT_OBJECT_0)
        return true;
    // The manager's threads write the status byte; one that is still
    // pending after a failed or timed-out wait belongs to the manager.
    return *static_cast<volatile uint8_t*>(&copy->record.status) != SS_PENDING;
}

uint32_t send_execute(srb_exec* request)
{
    if (request->data_length > LARGEST_TRANSFER || (request->data_length && !request->data_buffer)) {
        request->status = SS_BUFFER_TOO_BIG;
        return SS_BUFFER_TOO_BIG;
    }
    auto* copy = new (std::nothrow) manager_request;
    uint8_t* buffer = request->data_length ? new (std::nothrow) uint8_t[request->data_length] : nullptr;
    HANDLE done = spare_event ? spare_event : CreateEventA(nullptr, FALSE, FALSE, nullptr);
    spare_event = nullptr;
    if (!copy || (request->data_length && !buffer) || !done) {
        delete copy;
        delete[] buffer;
        if (done)
            spare_event = done;
        request->status = SS_INSUFFICIENT_RESOURCES;
        return SS_INSUFFICIENT_RESOURCES;
    }
    ResetEvent(done);
    copy->record = *request;
    copy->buffer = buffer;
    copy->done = done;
    if (buffer)
        std::memcpy(buffer, request->data_buffer, request->data_length);
    copy->record.data_buffer = buffer;
    copy->record.flags = uint8_t(copy->record.flags | SRB_EVENT_NOTIFY);
    copy->record.post_event = reinterpret_cast<aspi_event*>(done);

    if (!run_request(copy)) {
        // Still the manager's: keep record, buffer and event for good. The
        // caller sees a request that never completed.
        abandoned_requests++;
        request->status = SS_PENDING;
    } else {
        uint8_t* caller_buffer = request->data_buffer;
        aspi_event* caller_event = request->post_event;
        *request = copy->record;
        request->data_buffer = caller_buffer;
        request->post_event = caller_event;
        if (buffer)
            std::memcpy(caller_buffer, buffer, request->data_length);
        spare_event = done;
        delete[] buffer;
        delete copy;
    }
    // Complete towards the connection as a manager does: the request is
    // reported pending and the connection's event is signalled, so that its
    // wait ends at once.
    if (request->post_event && (request->flags & SRB_EVENT_NOTIFY)) {
        event_signal(request->post_event);
        return SS_PENDING;
    }
    return request->status;
}

uint32_t wnaspi_send_command(void* srb)
{
    auto* header = static_cast<uint8_t*>(srb);
    if (load_manager() != 0) {
        header[1] = SS_INVALID_CMD;
        return SS_INVALID_CMD;
    }
    if (header[0] == SC_EXEC_SCSI_CMD)
        return send_execute(static_cast<srb_exec*>(srb));
    // The host adapter inquiry is answered when the call returns.
    return dll.send_command(srb);
}

void wnaspi_shutdown()
{
    if (spare_event) {
        CloseHandle(spare_event);
        spare_event = nullptr;
    }
    // A manager that may still complete a request keeps its code loaded.
    if (dll.module && abandoned_requests == 0) {
        FreeLibrary(dll.module);
        dll = loaded_manager();
    }
}

const aspi_manager wnaspi_manager = {"WNASPI32.DLL", wnaspi_support_info, wnaspi_send_command, wnaspi_shutdown};

} // namespace

const aspi_manager* platform_aspi_manager() { return &wnaspi_manager; }
