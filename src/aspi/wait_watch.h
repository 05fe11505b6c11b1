// The line that tells a person at a terminal what the tool waits for: when
// a request has waited more than a second, the error stream shows which unit
// and which command, and for how long, rewritten each second and erased when
// the wait ends. A watch is made only when the error stream is a terminal;
// the report is never touched.
#pragma once
#include "aspi/aspi.h"

struct wait_watch;

// A watch with its own thread, or null when the error stream is not a
// terminal (nothing to show, nothing started).
wait_watch* start_wait_watch();
// A request went out to its unit / its wait ended (the line, if shown, goes).
void watch_request(wait_watch* watch, const srb_exec& request);
void end_watch(wait_watch* watch);
void stop_wait_watch(wait_watch* watch);
