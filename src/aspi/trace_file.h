// The file a trace is written to, from the checks of its path to the rename
// that puts it in place. A trace goes only to a regular file or a new name,
// never to a device, a FIFO or a directory, and never over a file the run
// reads. It is written to a temporary file beside its name, one whole
// exchange at a time, and renamed into place at the end, so that a run that
// fails leaves no half trace under the name and whatever the name held
// before is kept. A run ended by SIGINT, SIGPIPE, SIGTERM or SIGHUP keeps the
// exchanges recorded so far: the trace is closed with an end line and a
// comment saying that the run was interrupted, and renamed into place.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "format/output.h"

// The line every trace begins with, the keyword that marks it as a trace
// (a trace without its end line was cut short), and the end line.
constexpr char TRACE_HEADER[] = "# vexum trace: every exchange of one run, in bus file format";
constexpr char TRACE_KEYWORD[] = "trace";
constexpr char TRACE_END_KEYWORD[] = "end";
constexpr char TRACE_INTERRUPTED_WORD[] = "interrupted";

struct trace_sink {
    std::string path;      // the name the trace is given at the end
    std::string temp_path; // where it is written until then
    intptr_t file = -1;    // open handle of the temporary file
    std::string pending;   // text of the exchange being recorded
    std::atomic<int> write_error{0}; // errno of the first write that failed
    // Bytes of complete exchanges in the file: what an interrupted run keeps.
    std::atomic<int64_t> committed{0};
};

// A file the run reads, with what it is for the messages ("bus file", "image").
struct run_input {
    std::string path;
    const char* role;
};

// Checks path against what it names and against every input of the run,
// then creates the temporary file and writes the head of the trace. Returns
// -1 with error set ("PATH: reason", no line end) when the trace cannot go
// there; nothing is created then.
int open_trace_sink(trace_sink* sink, const char* path, const std::vector<run_input>& inputs, std::string* error);
// Appends to the exchange being recorded.
void trace_printf(trace_sink* sink, const char* format, ...) VEXUM_PRINTF(2, 3);
// Writes the recorded exchange to the file as a whole.
void commit_trace_exchange(trace_sink* sink);
// Writes the end line, closes the file and renames it into place. Returns
// -1 with error set when any write, the close or the rename failed; the
// temporary file is removed then and the name keeps what it held.
int close_trace_sink(trace_sink* sink, std::string* error);

// ---- the platform layer beneath (trace_file_posix.cpp, trace_file_win.cpp)

enum path_kind { PATH_ABSENT, PATH_REGULAR, PATH_DIRECTORY, PATH_DEVICE, PATH_FIFO, PATH_OTHER };

struct file_identity {
    uint64_t volume;
    uint64_t index;
};

// What path names (links followed) and, for an existing file, its identity.
path_kind inspect_trace_path(const char* path, file_identity* identity);
// The identity of standard output and standard error; false when not a file.
bool standard_stream_identity(int stream, file_identity* identity);
// Creates a new file for writing beside path; -1 with errno set.
intptr_t create_file_beside(const char* path, std::string* temp_path);
// 0 when all bytes were written; -1 with errno set. Safe in a signal handler.
int write_whole(intptr_t file, const char* data, size_t length);
// Cuts the file to length and writes there next. Safe in a signal handler.
int cut_file(intptr_t file, int64_t length);
// Flushes to the medium and closes: 0, or -1 with errno set.
int sync_and_close(intptr_t file);
// Renames from over to: 0, or -1 with errno set. Safe in a signal handler.
int replace_file(const char* from, const char* to);
void remove_file(const char* path);
// Sends the ending signals to handler while a trace is written; restore
// puts back what was there. reraise ends the process by the signal.
void catch_ending_signals(void (*handler)(int));
void restore_ending_signals();
void reraise_signal(int number);
// The signal's name for the comment of an interrupted trace.
const char* ending_signal_name(int number);
