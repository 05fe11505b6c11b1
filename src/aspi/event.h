// The completion event: auto-reset, unnamed, created clear, waited on with a
// time limit. Win32 events on Windows, a mutex and condition variable here.
#pragma once

struct aspi_event;

enum event_wait_result { EVENT_SIGNALLED = 0, EVENT_TIMEOUT = 1, EVENT_FAILED = 2 };

aspi_event* event_create();
void event_close(aspi_event* event);
void event_signal(aspi_event* event);
void event_reset(aspi_event* event);
event_wait_result event_wait(aspi_event* event, unsigned milliseconds);
