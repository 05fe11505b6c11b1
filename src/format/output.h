// The one output stream of the reports, and the error stream. Every report
// line goes through out_printf so that whole reports can be captured as text.
#pragma once
#include <cstdio>

#if defined(__GNUC__)
#define VEXUM_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define VEXUM_PRINTF(a, b)
#endif

void set_output_stream(FILE* stream); // nullptr restores standard output
void set_error_stream(FILE* stream);  // nullptr restores standard error
FILE* output_stream();
FILE* error_stream();

void out_printf(const char* format, ...) VEXUM_PRINTF(1, 2);
void out_puts(const char* text); // no line end added
void out_putc(char c);
void err_printf(const char* format, ...) VEXUM_PRINTF(1, 2);

// Called with each text err_printf writes (its line end removed), besides
// writing it; null stops it. The JSON document keeps them as its
// diagnostics.
using error_listener = void (*)(void* context, const char* text);
void set_error_listener(error_listener listener, void* context);

// A transient line on the error stream for a person at a terminal: each one
// is written over the last, and the line is erased by err_clear_status or
// before the next error line. Nothing is written when the error stream is
// not a terminal. Safe to call from another thread than the one that prints.
bool error_stream_is_terminal();
void err_status(const char* text);
void err_clear_status();

// Whether a stream is a terminal (a console on Windows); one file per
// platform.
bool stream_is_terminal(FILE* stream);
