// The trace file's life (see trace_file.h): the checks of its path, the
// temporary file, one write per exchange, the end line and the rename, and
// what a signal that ends the run leaves behind.
#include "aspi/trace_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// The trace being written, for the signal handler: the one piece of state
// that a handler cannot be given any other way.
std::atomic<trace_sink*> interrupted_sink{nullptr};

// Appends text to a fixed buffer without the library (safe in a handler).
size_t append_text(char* buffer, size_t used, size_t size, const char* text)
{
    while (*text && used + 1 < size)
        buffer[used++] = *text++;
    buffer[used] = 0;
    return used;
}

// Ends the trace at its last complete exchange with the end line and a
// comment naming the signal, puts it in place, and ends the process by the
// signal. Only calls that are safe in a handler.
void end_interrupted_trace(int number)
{
    trace_sink* sink = interrupted_sink.exchange(nullptr);
    if (sink && sink->file != -1) {
        if (sink->write_error == 0 && cut_file(sink->file, sink->committed.load()) == 0) {
            char text[256];
            size_t n = 0;
            n = append_text(text, n, sizeof text, TRACE_END_KEYWORD);
            n = append_text(text, n, sizeof text, " ");
            n = append_text(text, n, sizeof text, TRACE_INTERRUPTED_WORD);
            n = append_text(text, n, sizeof text, "\n# the run was interrupted by ");
            n = append_text(text, n, sizeof text, ending_signal_name(number));
            n = append_text(text, n, sizeof text, ": every exchange above is complete\n");
            if (write_whole(sink->file, text, n) == 0 && sync_and_close(sink->file) == 0 &&
                replace_file(sink->temp_path.c_str(), sink->path.c_str()) == 0) {
                reraise_signal(number);
                return;
            }
        } else {
            sync_and_close(sink->file);
        }
        remove_file(sink->temp_path.c_str());
    }
    reraise_signal(number);
}

const char* kind_text(path_kind kind)
{
    switch (kind) {
    case PATH_DIRECTORY: return "a directory";
    case PATH_DEVICE: return "a device";
    case PATH_FIFO: return "a FIFO";
    default: return "not a regular file";
    }
}

bool same_file(const file_identity& a, const file_identity& b) { return a.volume == b.volume && a.index == b.index; }

// Fails with the reason when the trace would land on something the run
// reads or prints to.
bool check_against_inputs(const char* path, const file_identity& target, const std::vector<run_input>& inputs,
                          std::string* error)
{
    for (const run_input& input : inputs) {
        file_identity identity{};
        path_kind kind = inspect_trace_path(input.path.c_str(), &identity);
        if (kind != PATH_ABSENT && same_file(identity, target)) {
            *error = std::string(path) + ": cannot write the trace there: it is the " + input.role + " " +
                     input.path + " of this run";
            return false;
        }
    }
    const char* streams[] = {"standard output", "standard error"};
    for (int stream = 1; stream <= 2; stream++) {
        file_identity identity{};
        if (standard_stream_identity(stream, &identity) && same_file(identity, target)) {
            *error = std::string(path) + ": cannot write the trace there: it is the " + streams[stream - 1] +
                     " of this run";
            return false;
        }
    }
    return true;
}

std::string reason_text(int number) { return number != 0 ? strerror(number) : "unknown error"; }

} // namespace

int open_trace_sink(trace_sink* sink, const char* path, const std::vector<run_input>& inputs, std::string* error)
{
    if (path == nullptr || path[0] == 0) {
        *error = "an empty name: cannot write the trace file";
        return -1;
    }
    file_identity target{};
    path_kind kind = inspect_trace_path(path, &target);
    if (kind != PATH_ABSENT && kind != PATH_REGULAR) {
        *error = std::string(path) + ": cannot write the trace there: " + kind_text(kind) +
                 " (a trace goes only to a regular file or a new name)";
        return -1;
    }
    if (kind == PATH_REGULAR && !check_against_inputs(path, target, inputs, error))
        return -1;
    sink->path = path;
    sink->pending.clear();
    sink->write_error = 0;
    sink->committed = 0;
    sink->file = create_file_beside(path, &sink->temp_path);
    if (sink->file == -1) {
        *error = std::string(path) + ": cannot write the trace file";
        return -1;
    }
    interrupted_sink = sink;
    catch_ending_signals(end_interrupted_trace);
    trace_printf(sink, "%s\n%s\n", TRACE_HEADER, TRACE_KEYWORD);
    commit_trace_exchange(sink);
    return 0;
}

void trace_printf(trace_sink* sink, const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (size_t(n) < sizeof line) {
        sink->pending.append(line, size_t(n));
        return;
    }
    // Longer than the line buffer: format again at its length.
    size_t at = sink->pending.size();
    sink->pending.resize(at + size_t(n) + 1);
    va_start(args, format);
    vsnprintf(&sink->pending[at], size_t(n) + 1, format, args);
    va_end(args);
    sink->pending.resize(at + size_t(n));
}

void commit_trace_exchange(trace_sink* sink)
{
    if (sink->file == -1 || sink->pending.empty())
        return;
    // After a failed write nothing more is written: the trace is lost
    // anyway, and a later exchange must not follow a missing one.
    if (sink->write_error == 0) {
        if (write_whole(sink->file, sink->pending.data(), sink->pending.size()) != 0)
            sink->write_error = errno != 0 ? errno : EIO;
        else
            sink->committed += int64_t(sink->pending.size());
    }
    sink->pending.clear();
}

int close_trace_sink(trace_sink* sink, std::string* error)
{
    if (sink->file == -1)
        return 0;
    interrupted_sink = nullptr;
    restore_ending_signals();
    trace_printf(sink, "%s\n", TRACE_END_KEYWORD);
    commit_trace_exchange(sink);
    int failure = sink->write_error;
    if (sync_and_close(sink->file) != 0 && failure == 0)
        failure = errno != 0 ? errno : EIO;
    sink->file = -1;
    if (failure == 0 && replace_file(sink->temp_path.c_str(), sink->path.c_str()) != 0)
        failure = errno != 0 ? errno : EIO;
    if (failure == 0)
        return 0;
    remove_file(sink->temp_path.c_str());
    *error = sink->path + ": cannot write the trace file (" + reason_text(failure) + ")";
    return -1;
}
