// The trace file: where a trace may not go (devices, FIFOs, directories, the
// files the run reads), and that a trace is whole or absent: written beside
// its name and renamed at the end, failed writes reported, a run ended by a
// signal keeping its exchanges so far, a cut trace refused on replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"

namespace {

// A folder of its own for each test, removed with what is left in it.
struct scratch_folder {
    std::string path;
    scratch_folder()
    {
        std::string name = ::testing::TempDir() + "vexum-trace-XXXXXX";
        std::vector<char> buffer(name.begin(), name.end());
        buffer.push_back(0);
        if (mkdtemp(buffer.data()))
            path = buffer.data();
    }
    ~scratch_folder()
    {
        for (const std::string& name : entries())
            remove((path + "/" + name).c_str());
        rmdir(path.c_str());
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string write(const std::string& name, const std::string& text) const
    {
        FILE* f = fopen(file(name).c_str(), "wb");
        if (f) {
            fwrite(text.data(), 1, text.size(), f);
            fclose(f);
        }
        return file(name);
    }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        DIR* dir = opendir(path.c_str());
        while (dir) {
            const dirent* e = readdir(dir);
            if (!e)
                break;
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        }
        if (dir)
            closedir(dir);
        return names;
    }
};

// A bus of one disk whose medium is image (relative to the bus file).
std::string disk_bus(const std::string& image)
{
    return "adapter 0\n  manager \"M\"\nunit 0:0:0\n  image " + image +
           " 512\n  on 12 00\n    data 00 00 02 02 1F 00 00 00 \"VEXUM   \" \"DISK\"\n";
}

std::string sector_image(int sectors)
{
    std::string bytes(size_t(sectors) * 512, '\0');
    bytes[510] = '\x55';
    bytes[511] = '\xAA';
    return bytes;
}

// The last line of text without its line end.
std::string last_line(const std::string& text)
{
    size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n')
        end--;
    size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    return text.substr(start, end - start);
}

struct child_run {
    pid_t pid = -1;
    int out = -1; // read end of its standard output, -1 when closed at once
};

// Starts the built tool. With close_output its standard output is a pipe
// nobody reads (its first write raises SIGPIPE); file_limit caps the size
// of the files it writes (a failed write instead of SIGXFSZ).
child_run start_vexum(const std::vector<std::string>& args, bool close_output = false, long file_limit = -1)
{
    int pipe_ends[2];
    child_run run;
    if (pipe(pipe_ends) != 0)
        return run;
    // Closed before the child starts, so that its very first write fails.
    if (close_output)
        close(pipe_ends[0]);
    run.pid = fork();
    if (run.pid == 0) {
        dup2(pipe_ends[1], 1);
        if (!close_output)
            close(pipe_ends[0]);
        close(pipe_ends[1]);
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 2);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        if (file_limit >= 0) {
            rlimit limit{rlim_t(file_limit), rlim_t(file_limit)};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, SIG_IGN);
        }
        std::vector<char*> argv{const_cast<char*>(VEXUM_BINARY)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VEXUM_BINARY, argv.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    if (!close_output)
        run.out = pipe_ends[0];
    return run;
}

// Waits for the child (reading its output away); its wait status.
int finish_vexum(child_run run)
{
    if (run.out >= 0) {
        char buffer[4096];
        while (read(run.out, buffer, sizeof buffer) > 0) {
        }
        close(run.out);
    }
    int status = 0;
    waitpid(run.pid, &status, 0);
    return status;
}

} // namespace

// ---- where a trace may not go ---------------------------------------------

TEST(TracePath, DevicesFifosAndDirectoriesAreRefusedBeforeAnythingIsScanned)
{
    scratch_folder folder;
    std::string bus = folder.write("s.bus", "adapter 0\n  manager \"M\"\n");
    std::string fifo = folder.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct {
        std::string path;
        const char* kind;
    } refused[] = {{"/dev/null", "a device"}, {fifo, "a FIFO"}, {folder.path, "a directory"}};
    for (const auto& r : refused) {
        run_result run = run_in_process({"-bus", bus, "-trace", r.path});
        EXPECT_EQ(run.exit_code, 2) << r.path;
        EXPECT_EQ(run.out, "") << r.path;
        EXPECT_EQ(run.err, "vexum: " + r.path + ": cannot write the trace there: " + r.kind +
                               " (a trace goes only to a regular file or a new name)\n");
    }
    // Nothing was created beside them.
    EXPECT_EQ(folder.entries().size(), 2u);
}

TEST(TracePath, TheFilesTheRunReadsAreRefusedAndKeptWhole)
{
    scratch_folder folder;
    std::string image_bytes = sector_image(16);
    std::string image = folder.write("disk.img", image_bytes);
    std::string other = folder.write("other.img", image_bytes);
    std::string bus_text = "# comments are kept\n" + disk_bus("disk.img");
    std::string bus = folder.write("v.bus", bus_text);
    ASSERT_EQ(symlink("disk.img", folder.file("link.img").c_str()), 0);
    ASSERT_EQ(link(other.c_str(), folder.file("hard.img").c_str()), 0);

    struct {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"-bus", bus, "-ldp", "-trace", bus}, bus + ": cannot write the trace there: it is the bus file " + bus},
        {{"-bus", bus, "-ldp", "-trace", image},
         image + ": cannot write the trace there: it is the image " + folder.file("disk.img")},
        {{"-bus", bus, "-trace", folder.file("link.img")},
         folder.file("link.img") + ": cannot write the trace there: it is the image " + folder.file("disk.img")},
        {{"-image", other, "-scsi", "-bus", bus, "-trace", other},
         other + ": cannot write the trace there: it is the image " + other},
        {{"-image", folder.file("hard.img"), "-scsi", "-bus", bus, "-trace", other},
         other + ": cannot write the trace there: it is the image " + folder.file("hard.img")},
    };
    for (const auto& c : cases) {
        run_result run = run_in_process(c.args);
        EXPECT_EQ(run.exit_code, 2) << c.expected;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "vexum: " + c.expected + " of this run\n");
    }
    EXPECT_EQ(read_text_file(bus), bus_text);
    EXPECT_EQ(read_text_file(image), image_bytes);
    EXPECT_EQ(read_text_file(other), image_bytes);
    EXPECT_EQ(folder.entries().size(), 5u);
}

TEST(TracePath, TheStandardOutputOfTheRunIsRefused)
{
    scratch_folder folder;
    std::string bus = folder.write("s.bus", "adapter 0\n  manager \"M\"\n");
    std::string out = folder.file("out.txt");
    std::string command = std::string(VEXUM_BINARY) + " -bus " + bus + " -trace " + out + " >" + out + " 2>" +
                          folder.file("err.txt");
    int status = system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(read_text_file(folder.file("err.txt")),
              "vexum: " + out + ": cannot write the trace there: it is the standard output of this run\n");
}

TEST(TracePath, EmptyBusAndTraceNamesAreErrors)
{
    // An empty bus name would have scanned the machine's own bus.
    run_result bus = run_in_process({"-bus", "", "-ldp"});
    EXPECT_EQ(bus.exit_code, 2);
    EXPECT_EQ(bus.out, "");
    EXPECT_EQ(bus.err, "vexum: -bus needs a file name\n");
    std::string sample = std::string(VEXUM_SOURCE_DIR) + "/samples/sample.bus";
    run_result trace = run_in_process({"-bus", sample, "-trace", ""});
    EXPECT_EQ(trace.exit_code, 2);
    EXPECT_EQ(trace.out, "");
    EXPECT_EQ(trace.err, "vexum: -trace needs a file name\n");
}

// ---- whole or absent --------------------------------------------------------

TEST(TraceWhole, ATraceIsWrittenBesideItsNameAndEndsWithItsEndLine)
{
    scratch_folder folder;
    std::string sample = std::string(VEXUM_SOURCE_DIR) + "/samples/sample.bus";
    std::string trace = folder.write("t.bus", "what the name held before\n");
    run_result run = run_in_process({"-bus", sample, "-ldpo", "-trace", trace});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::string text = read_text_file(trace);
    EXPECT_EQ(text.compare(0, 67, "# vexum trace: every exchange of one run, in bus file format\ntrace\n"), 0) << text;
    EXPECT_EQ(last_line(text), "end");
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"t.bus"});
    run_result replay = run_in_process({"-bus", trace, "-ldpo"});
    EXPECT_EQ(replay.exit_code, 0) << replay.err;
    EXPECT_EQ(replay.out, run.out);
    EXPECT_EQ(replay.err, "");
}

TEST(TraceWhole, AFailedWriteIsAnErrorAndTheNameKeepsWhatItHeld)
{
    scratch_folder folder;
    std::string sample = std::string(VEXUM_SOURCE_DIR) + "/samples/sample.bus";
    std::string trace = folder.write("t.bus", "kept\n");
    // The trace of this run is about 20 KiB; the file size limit stops it at 4.
    std::string err = folder.file("err.txt");
    std::string command = "ulimit -f 4 && trap '' XFSZ && " + std::string(VEXUM_BINARY) + " -bus " + sample +
                          " -ldpo -trace " + trace + " >/dev/null 2>" + err;
    int status = system(("bash -c \"" + command + "\"").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_EQ(read_text_file(err), "vexum: " + trace + ": cannot write the trace file (" + strerror(EFBIG) + ")\n");
    EXPECT_EQ(read_text_file(trace), "kept\n");
    std::vector<std::string> left = folder.entries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"err.txt", "t.bus"}));
}

TEST(TraceWhole, ACutTraceIsRefusedOnReplayAndNothingMayFollowTheEnd)
{
    scratch_folder folder;
    std::string sample = std::string(VEXUM_SOURCE_DIR) + "/samples/sample.bus";
    std::string trace = folder.file("t.bus");
    ASSERT_EQ(run_in_process({"-bus", sample, "-ldp", "-trace", trace}).exit_code, 0);
    std::string text = read_text_file(trace);
    size_t lines = size_t(std::count(text.begin(), text.end(), '\n'));
    ASSERT_GT(lines, 100u);
    // Cut at a line end (the end line lost) and in the middle of a line.
    std::string at_line = text.substr(0, text.rfind('\n', text.size() - 2) + 1);
    std::string cut = folder.write("cut.bus", at_line);
    run_result r = run_in_process({"-bus", cut, "-ldp"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vexum: " + cut + ":" + std::to_string(lines - 1) + ": the trace is cut short: it has no end line\n");
    std::string mid = folder.write("mid.bus", text.substr(0, text.find('\n', text.size() / 2)));
    r = run_in_process({"-bus", mid, "-ldp"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find(": the trace is cut short: it has no end line\n"), std::string::npos) << r.err;
    // Two traces glued together are not one.
    std::string glued = folder.write("glued.bus", text + text);
    r = run_in_process({"-bus", glued, "-ldp"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "vexum: " + glued + ":" + std::to_string(lines + 2) + ": a line after the end line\n");
}

// ---- a run ended by a signal -------------------------------------------------

TEST(TraceSignal, SigintDuringAWaitKeepsEveryExchangeSoFar)
{
    scratch_folder folder;
    // Target 0 answers; target 1 never does, and the tool waits ten seconds.
    std::string bus = folder.write("hang.bus", "adapter 0\n  manager \"M\"\nunit 0:0:0\n  on 12 00\n"
                                               "    data 03 00 02 02 1F 00 00 00 \"VEXUM   \" \"PROCESSOR\"\n"
                                               "unit 0:1:0\n  on 12\n    hang\n");
    std::string trace = folder.file("t.bus");
    auto started = std::chrono::steady_clock::now();
    child_run child = start_vexum({"-bus", bus, "-trace", trace});
    ASSERT_GT(child.pid, 0);
    // Wait until the exchange with target 0 is in the file being written.
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() - started < std::chrono::seconds(8)) {
        for (const std::string& name : folder.entries())
            if (name.rfind("t.bus.partial-", 0) == 0 &&
                read_text_file(folder.file(name)).find("unit 0:0:0") != std::string::npos)
                seen = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(child.pid, SIGINT);
    int status = finish_vexum(child);
    ASSERT_TRUE(seen);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(9));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    std::string text = read_text_file(trace);
    EXPECT_NE(text.find("unit 0:0:0\n  on 12 00 00 00 28 00\n    request-status 01\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("unit 0:1:0"), std::string::npos) << text;
    std::string tail = "end interrupted\n# the run was interrupted by SIGINT: every exchange above is complete\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(folder.entries().size(), 2u);
    // It replays, saying what it is.
    run_result replay = run_in_process({"-bus", trace});
    EXPECT_EQ(replay.exit_code, 0);
    EXPECT_NE(replay.out.find("PROCESSOR"), std::string::npos) << replay.out;
    size_t end_line = size_t(std::count(text.begin(), text.end(), '\n')) - 1;
    EXPECT_EQ(replay.err, "vexum: " + trace + ":" + std::to_string(end_line) +
                              ": warning: the traced run was interrupted; what it did not reach answers as an "
                              "empty address\n");
}

TEST(TraceSignal, AClosedPipeOnTheReportLeavesAWholeTrace)
{
    scratch_folder folder;
    // Enough units for the report to reach the pipe in the middle of the scan.
    std::string text = "adapters 4\n";
    for (int a = 0; a < 4; a++)
        for (int t = 0; t < 7; t++)
            for (int l = 0; l < 8; l++)
                text += "unit " + std::to_string(a) + ":" + std::to_string(t) + ":" + std::to_string(l) +
                        "\n  on 12 00\n    data 03 00 02 02 1F 00 00 00 \"VEXUM   \" \"PROCESSOR " +
                        std::to_string(t) + std::to_string(l) + "\"\n";
    std::string bus = folder.write("many.bus", text);
    std::string trace = folder.file("p.bus");
    child_run child = start_vexum({"-bus", bus, "-l", "-trace", trace}, true);
    int status = finish_vexum(child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
    std::string written = read_text_file(trace);
    std::string tail = "end interrupted\n# the run was interrupted by SIGPIPE: every exchange above is complete\n";
    ASSERT_GE(written.size(), tail.size()) << written;
    EXPECT_EQ(written.substr(written.size() - tail.size()), tail);
    run_result replay = run_in_process({"-bus", trace, "-l"});
    EXPECT_EQ(replay.exit_code, 0) << replay.err;
    EXPECT_NE(replay.out.find("PROCESSOR 00"), std::string::npos);
}
