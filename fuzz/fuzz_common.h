// What every fuzz target shares: the report and the error stream are
// captured in memory and checked for terminal safety after each input, and
// a folder of media is there for the paths that inputs name.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Sends the report and error streams to memory.
void begin_report();
// Ends the capture and aborts when a byte that could steer a terminal
// reached the report or the error stream (check_terminal_text).
void end_report();
// Aborts when text holds a control byte other than the line end, DEL, or
// a C1 control in its UTF-8 form (C2h followed by 80h-9Fh); what names the
// text in the message.
void check_terminal_text(const char* text, size_t size, const char* what);
// A folder that holds the sample media of the build (sample-disk.img,
// sample-floppy.img, sample-towns.img) for bus files to name; made once,
// removed at exit. Inputs may write files of their own into it
// (clear_media_folder removes them again).
const std::string& media_folder();
// Removes every file of the folder but the sample media.
void clear_media_folder();
