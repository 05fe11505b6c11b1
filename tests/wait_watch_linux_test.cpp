// The line that shows a person at a terminal what the tool waits for: run
// with the error stream on a pseudo-terminal, and without one.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "aspi/aspi.h"
#include "format/output.h"
#include "format/report_options.h"
#include "harness.h"
#include "scsi/scan.h"

namespace {

// A pseudo-terminal whose other side reads back exactly the bytes written.
struct pseudo_terminal {
    int master = -1;
    FILE* slave = nullptr;

    pseudo_terminal()
    {
        int slave_fd = -1;
        if (openpty(&master, &slave_fd, nullptr, nullptr, nullptr) != 0)
            return;
        termios raw{};
        tcgetattr(slave_fd, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave_fd, TCSANOW, &raw);
        slave = fdopen(slave_fd, "w");
        fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~pseudo_terminal()
    {
        if (slave)
            fclose(slave);
        if (master >= 0)
            close(master);
    }
    std::string read_all() const
    {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = read(master, buffer, sizeof buffer)) > 0)
            text.append(buffer, size_t(n));
        return text;
    }
};

// A unit that never answers INQUIRY at target 0, an answering one at 1.
const char* bus = R"(
unit 0:0:0
  on 12
    hang
unit 0:1:0
  on 12 00
    data 03 00 02 02 1F 00 00 00 "VEXUM   " "PROCESSOR       " "1.0 "
)";

// The report of adapter 0 with the error stream on err, and what reached err.
std::string scan_with_errors_on(FILE* err, unsigned wait_ms)
{
    FILE* out = temp_stream();
    set_output_stream(out);
    set_error_stream(err);
    std::string report;
    if (use_bus_text(bus)) {
        aspi_set_wait_limit_ms(wait_ms);
        scan_bus(0, -1, -1, report_options{});
        aspi_set_wait_limit_ms(10000);
        drop_bus();
    }
    fflush(out);
    report = read_stream(out);
    fclose(out);
    set_output_stream(nullptr);
    set_error_stream(nullptr);
    return report;
}

const std::string waiting = "vexum: waiting for unit 0:0:0 to answer INQUIRY, ";

} // namespace

TEST(WaitWatch, ALongWaitIsShownOnATerminalAndErased)
{
    pseudo_terminal terminal;
    if (!terminal.slave)
        GTEST_SKIP() << "no pseudo-terminal here";
    std::string report = scan_with_errors_on(terminal.slave, 2800);
    std::string shown = terminal.read_all();
    // Each second the line is written over the last; at the end, blanks over
    // it and the cursor back at its start.
    std::string erase = "\r" + std::string(waiting.size() + 3, ' ') + "\r";
    EXPECT_EQ(shown, "\r" + waiting + "1 s" + "\r" + waiting + "2 s" + erase);

    // The report is the same with the error stream on a file, which gets
    // nothing.
    FILE* file = temp_stream();
    std::string plain = scan_with_errors_on(file, 2800);
    EXPECT_EQ(report, plain);
    EXPECT_NE(report.find("PROCESSOR"), std::string::npos) << report;
    fflush(file);
    EXPECT_EQ(ftell(file), 0L);
    fclose(file);
}

TEST(WaitWatch, AShortWaitShowsNothing)
{
    pseudo_terminal terminal;
    if (!terminal.slave)
        GTEST_SKIP() << "no pseudo-terminal here";
    scan_with_errors_on(terminal.slave, 600);
    EXPECT_EQ(terminal.read_all(), "");
}

TEST(WaitWatch, AnErrorLineErasesTheStatusLineFirst)
{
    pseudo_terminal terminal;
    if (!terminal.slave)
        GTEST_SKIP() << "no pseudo-terminal here";
    const std::string longer = "vexum: waiting for something, 3 s";
    const std::string shorter = "vexum: shorter, 4 s";
    set_error_stream(terminal.slave);
    err_status(longer.c_str());
    err_status(shorter.c_str());
    err_printf("vexum: a portal cannot be reached\n");
    err_clear_status(); // nothing left to erase
    set_error_stream(nullptr);
    // The shorter line blanks out the rest of the longer one.
    EXPECT_EQ(terminal.read_all(), "\r" + longer + "\r" + shorter + std::string(longer.size() - shorter.size(), ' ') +
                                       "\r" + shorter + "\r" + std::string(shorter.size(), ' ') + "\r" +
                                       "vexum: a portal cannot be reached\n");
}

// The same through the program itself: its standard error on a terminal,
// the tool's own wait limit of 10 seconds. Its report is the report of a run
// whose standard error is a file, made at the same time, and that file stays
// empty.
TEST(WaitWatch, TheProgramShowsTheLineOnItsTerminalOnly)
{
    pseudo_terminal terminal;
    if (!terminal.slave)
        GTEST_SKIP() << "no pseudo-terminal here";
    std::string bus_path = write_temp_file(bus);
    FILE* report = temp_stream();
    std::vector<std::string> args = {VEXUM_BINARY, "-bus", bus_path, "-scsi", "0"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        dup2(fileno(report), 1);
        dup2(fileno(terminal.slave), 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ASSERT_GT(child, 0);
    run_result plain = run_binary({"-bus", bus_path, "-scsi", "0"});
    int status = 0;
    waitpid(child, &status, 0);
    remove(bus_path.c_str());
    std::string shown = terminal.read_all();
    std::string out = read_stream(report);
    fclose(report);

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), plain.exit_code);
    EXPECT_EQ(out, plain.out);
    EXPECT_NE(out.find("PROCESSOR"), std::string::npos) << out;
    EXPECT_EQ(plain.err, "");
    // A line each second up to the limit; whether the tenth second is shown
    // before the wait gives up is a race the line may win or lose.
    std::string counted;
    for (int second = 1; second <= 9; second++)
        counted += "\r" + waiting + std::to_string(second) + " s";
    std::string tenth = "\r" + waiting + "10 s";
    std::string to_nine = counted + "\r" + std::string(waiting.size() + 3, ' ') + "\r";
    std::string to_ten = counted + tenth + "\r" + std::string(waiting.size() + 4, ' ') + "\r";
    EXPECT_TRUE(shown == to_nine || shown == to_ten) << shown;
}
