// Report capture and the terminal-safety check of the fuzz targets.
#include "fuzz_common.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "format/output.h"

namespace {

char* report_text = nullptr;
size_t report_size = 0;
FILE* report_stream = nullptr;
FILE* error_sink = nullptr;

} // namespace

void begin_report()
{
    report_stream = open_memstream(&report_text, &report_size);
    if (!error_sink)
        error_sink = fopen("/dev/null", "w");
    if (!report_stream || !error_sink)
        abort();
    set_output_stream(report_stream);
    set_error_stream(error_sink);
}

void end_report()
{
    set_output_stream(nullptr);
    set_error_stream(nullptr);
    fclose(report_stream);
    for (size_t i = 0; i < report_size; i++) {
        auto c = static_cast<unsigned char>(report_text[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F) {
            fprintf(stderr, "control byte %02X at offset %zu of the report\n", c, i);
            abort();
        }
    }
    free(report_text);
    report_text = nullptr;
    report_size = 0;
}

const char* empty_folder()
{
    static std::string folder;
    if (folder.empty()) {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vexum-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0]))
            abort();
        folder = pattern;
        atexit([] { rmdir(folder.c_str()); });
    }
    return folder.c_str();
}
