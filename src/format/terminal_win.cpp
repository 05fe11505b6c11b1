// Whether a stream is a console, on Windows.
#include "format/output.h"

#include <io.h>

bool stream_is_terminal(FILE* stream) { return stream && _isatty(_fileno(stream)) != 0; }
