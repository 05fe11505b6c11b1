// Report capture, the terminal-safety check and the media folder of the
// fuzz targets.
#include "fuzz_common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "format/output.h"

namespace {

struct captured {
    char* text = nullptr;
    size_t size = 0;
    FILE* stream = nullptr;
};

captured report;
captured errors;

void open_capture(captured* c)
{
    c->stream = open_memstream(&c->text, &c->size);
    if (!c->stream)
        abort();
}

void close_capture(captured* c, const char* what)
{
    fclose(c->stream);
    check_terminal_text(c->text, c->size, what);
    free(c->text);
    *c = captured();
}

const char* const sample_media[] = {"sample-disk.img", "sample-floppy.img", "sample-towns.img"};

bool is_sample(const char* name)
{
    for (const char* sample : sample_media)
        if (std::strcmp(name, sample) == 0)
            return true;
    return false;
}

void copy_file(const std::string& from, const std::string& to)
{
    FILE* in = fopen(from.c_str(), "rb");
    if (!in)
        return; // a build without its sample media: the folder lacks them
    FILE* out = fopen(to.c_str(), "wb");
    if (!out)
        abort();
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0)
        fwrite(buffer, 1, n, out);
    fclose(in);
    fclose(out);
    chmod(to.c_str(), 0444);
}

// Removes the folder's files, the sample media too when all is set.
void clear_folder(const std::string& folder, bool all)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (const dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 && (all || !is_sample(e->d_name)))
            names.push_back(e->d_name);
    }
    closedir(dir);
    for (const std::string& name : names) {
        std::string path = folder + "/" + name;
        if (unlink(path.c_str()) != 0)
            rmdir(path.c_str());
    }
}

} // namespace

void begin_report()
{
    open_capture(&report);
    open_capture(&errors);
    set_output_stream(report.stream);
    set_error_stream(errors.stream);
}

void end_report()
{
    set_output_stream(nullptr);
    set_error_stream(nullptr);
    close_capture(&report, "the report");
    close_capture(&errors, "the error stream");
}

void check_terminal_text(const char* text, size_t size, const char* what)
{
    for (size_t i = 0; i < size; i++) {
        auto c = static_cast<unsigned char>(text[i]);
        bool c1 = c == 0xC2 && i + 1 < size && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if ((c < 0x20 && c != '\n') || c == 0x7F || c1) {
            fprintf(stderr, "byte %02X%s at offset %zu of %s could steer a terminal\n", c, c1 ? " (a C1 pair)" : "", i,
                    what);
            abort();
        }
    }
}

const std::string& media_folder()
{
    static std::string folder;
    if (folder.empty()) {
        // Memory-backed where there is such a folder: every input writes
        // its files here.
        const char* tmp = getenv("TMPDIR");
        struct stat st{};
        std::string base = tmp && *tmp ? tmp : (stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp");
        std::string pattern = base + "/vexum-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0]))
            abort();
        folder = pattern;
        const char* samples = getenv("VEXUM_FUZZ_SAMPLES");
        std::string from = samples && *samples ? samples : VEXUM_SAMPLE_MEDIA;
        for (const char* name : sample_media)
            copy_file(from + "/" + name, folder + "/" + name);
        atexit([] {
            clear_folder(folder, true);
            rmdir(folder.c_str());
        });
    }
    return folder;
}

void clear_media_folder() { clear_folder(media_folder(), false); }
