// The line that shows a person at a terminal what the tool waits for: run
// with the error stream on a pseudo-terminal, and without one.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

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
