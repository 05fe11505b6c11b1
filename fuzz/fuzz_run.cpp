// Fuzz target: the whole program, from its command line through the run
// driver, a bus file and image files to the report and the error stream.
//
// The input is sections separated by RUN_SEPARATOR:
//   1. the command line, its arguments separated by zero bytes;
//   2. a bus file, written as f.bus;
//   3. to 5. image files, written as img0, img1 and img2.
// Every file goes into the media folder, beside the build's sample media,
// and a bus file names them by these names. The argument of -bus, -image
// and -trace is taken as a name in that folder (its characters outside
// A-Z a-z 0-9 . _ - made '_'); a trace never replaces a sample medium. The
// run always has a bus file (-bus f.bus unless the line names one) and
// never reads the machine's own drives (-disk is dropped), so it stays in
// the folder. Requests that never complete time out at once.
//
// After the run, the report and every message are checked for bytes that
// could steer a terminal, and the exit code for one of 0, 1 and 2.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "aspi/aspi.h"
#include "fuzz_common.h"
#include "main/run.h"

namespace {

constexpr char RUN_SEPARATOR[] = "\xF7\x5E\xF7\x5E";
constexpr size_t RUN_SEPARATOR_LENGTH = 4;
constexpr size_t MAX_WORDS = 64;

std::vector<std::string> split_sections(const std::string& input)
{
    std::vector<std::string> sections;
    size_t start = 0;
    while (sections.size() < 4) {
        size_t end = input.find(RUN_SEPARATOR, start, RUN_SEPARATOR_LENGTH);
        if (end == std::string::npos)
            break;
        sections.push_back(input.substr(start, end - start));
        start = end + RUN_SEPARATOR_LENGTH;
    }
    sections.push_back(input.substr(start));
    return sections;
}

bool word_is(const std::string& word, const char* name)
{
    if (word.size() != std::strlen(name) + 1 || word[0] != '-')
        return false;
    for (size_t i = 0; name[i]; i++) {
        char c = word[i + 1];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != name[i])
            return false;
    }
    return true;
}

// A file name in the media folder from what the input gave.
std::string folder_path(const std::string& given, bool trace)
{
    std::string name;
    for (char c : given.substr(0, 32)) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                     c == '_' || c == '-';
        name += plain ? c : '_';
    }
    if (name.empty() || name == "." || name == "..")
        name = "x";
    if (trace && name.compare(0, 6, "sample") == 0)
        name = "t-" + name;
    return media_folder() + "/" + name;
}

void write_file(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        abort();
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        abort();
    fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> sections = split_sections(std::string(reinterpret_cast<const char*>(data), size));
    clear_media_folder();
    const std::string& folder = media_folder();
    write_file(folder + "/f.bus", sections.size() > 1 ? sections[1] : std::string());
    for (size_t i = 2; i < sections.size(); i++)
        write_file(folder + "/img" + std::to_string(i - 2), sections[i]);

    std::vector<std::string> args;
    const std::string& line = sections[0];
    for (size_t start = 0; start <= line.size() && args.size() < MAX_WORDS;) {
        size_t end = line.find('\0', start);
        if (end == std::string::npos)
            end = line.size();
        args.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    bool bus_named = false;
    for (size_t i = 0; i < args.size(); i++) {
        if (word_is(args[i], "disk")) {
            args[i] = "-p";
            continue;
        }
        bool bus = word_is(args[i], "bus");
        bool trace = word_is(args[i], "trace");
        if ((bus || trace || word_is(args[i], "image")) && i + 1 < args.size()) {
            bus_named = bus_named || bus;
            // An empty name stays empty: the command line refuses it.
            if (!args[i + 1].empty())
                args[i + 1] = folder_path(args[i + 1], trace);
            i++;
        }
    }
    // First, so that no word of the line takes it as its argument.
    if (!bus_named)
        args.insert(args.begin(), {"-bus", folder + "/f.bus"});
    std::vector<const char*> argv{"vexum"};
    for (const std::string& a : args)
        argv.push_back(a.c_str());

    aspi_set_wait_limit_ms(0);
    begin_report();
    int code = run_vexum(int(argv.size()), argv.data());
    end_report();
    if (code < 0 || code > 2) {
        fprintf(stderr, "exit code %d\n", code);
        abort();
    }
    return 0;
}
