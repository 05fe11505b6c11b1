// What every fuzz target shares: the report is captured in memory and
// checked for terminal safety after each input.
#pragma once
#include <cstddef>
#include <cstdint>

// Sends the report and error streams to memory.
void begin_report();
// Ends the capture and aborts when a byte that could steer a terminal
// (a control byte other than the line end, or DEL) reached the report.
void end_report();
// An empty folder for paths that inputs name (bus file images).
const char* empty_folder();
