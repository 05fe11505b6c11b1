// The report and error streams.
#include "format/output.h"

#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>

static FILE* out_stream = nullptr;
static FILE* err_stream = nullptr;
static error_listener err_listener = nullptr;
static void* err_listener_context = nullptr;

void set_error_listener(error_listener listener, void* context)
{
    err_listener = listener;
    err_listener_context = context;
}

// The error stream's transient line: its width while it is shown.
static std::mutex status_mutex;
static size_t status_width = 0;

void set_output_stream(FILE* stream) { out_stream = stream; }
void set_error_stream(FILE* stream) { err_stream = stream; }
FILE* output_stream() { return out_stream ? out_stream : stdout; }
FILE* error_stream() { return err_stream ? err_stream : stderr; }

void out_printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(output_stream(), format, args);
    va_end(args);
}

void out_puts(const char* text) { fputs(text, output_stream()); }
void out_putc(char c) { fputc(c, output_stream()); }

// Blanks over the transient line and back to its start; status_mutex held.
static void erase_status()
{
    if (status_width == 0)
        return;
    std::string blank(status_width, ' ');
    fprintf(error_stream(), "\r%s\r", blank.c_str());
    fflush(error_stream());
    status_width = 0;
}

bool error_stream_is_terminal() { return stream_is_terminal(error_stream()); }

void err_status(const char* text)
{
    std::lock_guard<std::mutex> lock(status_mutex);
    if (!error_stream_is_terminal())
        return;
    size_t width = std::strlen(text);
    // Blanks over what is left of a longer line before.
    std::string rest(status_width > width ? status_width - width : 0, ' ');
    fprintf(error_stream(), "\r%s%s", text, rest.c_str());
    if (!rest.empty())
        fprintf(error_stream(), "\r%s", text);
    fflush(error_stream());
    status_width = width;
}

void err_clear_status()
{
    std::lock_guard<std::mutex> lock(status_mutex);
    erase_status();
}

void err_printf(const char* format, ...)
{
    std::lock_guard<std::mutex> lock(status_mutex);
    erase_status();
    // Keep the order of report and error lines when both reach one terminal.
    fflush(output_stream());
    va_list args;
    va_start(args, format);
    if (err_listener != nullptr) {
        va_list copy;
        va_copy(copy, args);
        int length = vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        std::string text(size_t(length > 0 ? length : 0), '\0');
        va_copy(copy, args);
        vsnprintf(&text[0], text.size() + 1, format, copy);
        va_end(copy);
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        err_listener(err_listener_context, text.c_str());
    }
    vfprintf(error_stream(), format, args);
    va_end(args);
    fflush(error_stream());
}
