// The completion event on POSIX systems: a flag under a mutex, with a
// condition variable to wait on. Auto-reset: a successful wait clears it.
#include "aspi/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

struct aspi_event {
    std::mutex lock;
    std::condition_variable changed;
    bool signalled = false;
};

aspi_event* event_create() { return new (std::nothrow) aspi_event; }

void event_close(aspi_event* event) { delete event; }

void event_signal(aspi_event* event)
{
    {
        std::lock_guard<std::mutex> hold(event->lock);
        event->signalled = true;
    }
    event->changed.notify_one();
}

void event_reset(aspi_event* event)
{
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = false;
}

event_wait_result event_wait(aspi_event* event, unsigned milliseconds)
{
    if (!event)
        return EVENT_FAILED;
    std::unique_lock<std::mutex> hold(event->lock);
    if (!event->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), [event] { return event->signalled; }))
        return EVENT_TIMEOUT;
    event->signalled = false;
    return EVENT_SIGNALLED;
}
