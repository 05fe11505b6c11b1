// The completion event on Windows: an unnamed auto-reset Win32 event. The
// event pointer of the connection is the event handle itself, so that the
// ASPI manager, which receives it in the execute record, signals it directly.
#include "aspi/event.h"

#include <windows.h>

static HANDLE handle_of(aspi_event* event) { return reinterpret_cast<HANDLE>(event); }

aspi_event* event_create()
{
    // No security attributes, auto-reset, created clear, no name.
    HANDLE handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return handle ? reinterpret_cast<aspi_event*>(handle) : nullptr;
}

void event_close(aspi_event* event)
{
    if (event)
        CloseHandle(handle_of(event));
}

void event_signal(aspi_event* event)
{
    if (event)
        SetEvent(handle_of(event));
}

void event_reset(aspi_event* event)
{
    if (event)
        ResetEvent(handle_of(event));
}

event_wait_result event_wait(aspi_event* event, unsigned milliseconds)
{
    if (!event)
        return EVENT_FAILED;
    switch (WaitForSingleObject(handle_of(event), DWORD(milliseconds))) {
    case WAIT_OBJECT_0:
        // The wait has cleared the auto-reset event already; a manager that
        // signals twice for one request must not end the next wait early.
        ResetEvent(handle_of(event));
        return EVENT_SIGNALLED;
    case WAIT_TIMEOUT:
    case WAIT_ABANDONED:
        return EVENT_TIMEOUT;
    default:
        return EVENT_FAILED;
    }
}
