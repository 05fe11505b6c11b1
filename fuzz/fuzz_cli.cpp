// Fuzz target: the input is a command line, its arguments separated by
// zero bytes. Only the parser runs; nothing is scanned.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "main/cli.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= text.size() && words.size() < 256) {
        size_t end = text.find('\0', start);
        if (end == std::string::npos)
            end = text.size();
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char*> argv{"vexum"};
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    run_plan plan;
    report_options options{};
    std::string error;
    parse_result result = parse_command_line(int(argv.size()), argv.data(), &plan, &options, &error);
    // What the run driver relies on: an error names what is wrong, and the
    // numbers it ranges over are -1 (all) or a value of their own.
    if (result == PARSE_ERROR && error.empty())
        abort();
    if (plan.adapter < -1 || plan.target < -1 || plan.lun < -1 || plan.drive < -1)
        abort();
    return 0;
}
