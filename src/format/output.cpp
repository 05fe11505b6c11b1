// The report and error streams.
#include "format/output.h"

#include <cstdarg>
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

void err_printf(const char* format, ...)
{
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
