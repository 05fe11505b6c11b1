// Whether a stream is a terminal, on POSIX systems.
#include "format/output.h"

#include <unistd.h>

bool stream_is_terminal(FILE* stream) { return stream && isatty(fileno(stream)) == 1; }
