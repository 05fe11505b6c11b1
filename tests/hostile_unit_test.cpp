// A unit that answers its INQUIRY and then makes the tool wait: what it may
// cost is bounded beneath every report, and a vital product data page it
// lists many times is asked for once.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "aspi/aspi.h"
#include "harness.h"

namespace {

// How often line occurs in text, as a whole line.
int count_lines(const std::string& text, const std::string& line)
{
    int n = 0;
    for (size_t at = text.find(line + "\n"); at != std::string::npos; at = text.find(line + "\n", at + 1))
        if (at == 0 || text[at - 1] == '\n')
            n++;
    return n;
}

struct traced_run {
    run_result run;
    std::string trace;
};

// Scans the bus with the options under a short wait limit, recording the
// exchanges.
traced_run scan_traced(const std::string& bus_text, std::vector<std::string> options)
{
    std::string bus = write_temp_file(bus_text);
    std::string trace = bus + ".trace.bus";
    options.insert(options.begin(), {"-bus", bus, "-trace", trace});
    aspi_set_wait_limit_ms(20);
    traced_run r{run_in_process(options), read_text_file(trace)};
    aspi_set_wait_limit_ms(10000);
    remove(bus.c_str());
    remove(trace.c_str());
    return r;
}

const std::string processor =
    "unit 0:0:0\n  on 12 00\n    data 03 00 02 02 1F 00 00 00 \"VEXUM   \" \"PROCESSOR       \" \"1.00\"\n";

} // namespace

TEST(HostileUnit, AUnitThatTimesOutThreeTimesInARowIsGivenUp)
{
    // Page 80h listed 251 times, and nothing but INQUIRY and the page list
    // ever answers: 260 waits with -d before.
    std::string list = "    data 00 00 00 FC 00";
    for (int i = 0; i < 251; i++)
        list += " 80";
    std::string bus = "unit 0:0:0\n  on 12 00\n    data 00 00 02 02 1F 00 00 00 \"VEXUM   \" \"DISK\"\n"
                      "  on 12 01 00\n" + list + "\n";
    for (const char* op : {"12 01 80", "1A", "25", "28", "37", "43", "05"})
        bus += std::string("  on ") + op + "\n    hang\n";
    traced_run r = scan_traced(bus, {"-dp"});
    EXPECT_EQ(r.run.exit_code, 0) << r.run.err;
    // The peripheral page waits, the page list answers, then page 80h and
    // the two defect lists wait: three in a row.
    EXPECT_EQ(count_lines(r.trace, "    hang"), 1 + UNIT_TIMEOUTS_IN_A_ROW) << r.trace;
    EXPECT_LE(count_lines(r.trace, "  on 12 01 80 00 FF 00"), 1);
    EXPECT_EQ(r.run.err, "vexum: unit 0:0:0 timed out on 3 requests in a row; its other requests are skipped\n");
    EXPECT_NE(r.run.out.find("0)ID:0-0 SCSI-2 VEXUM    DISK"), std::string::npos) << r.run.out;
}

TEST(HostileUnit, AUnitThatTimesOutEveryOtherTimeIsGivenUpToo)
{
    // Pages 01h to 7Fh listed, the odd ones answering, the even ones not:
    // never three time-outs in a row, 63 in all before.
    std::string bus = processor + "  on 12 01 00\n    data 00 00 00 7F";
    for (int page = 1; page <= 0x7F; page++) {
        char byte[4];
        snprintf(byte, sizeof byte, " %02X", page);
        bus += byte;
    }
    bus += "\n";
    for (int page = 1; page <= 0x7F; page++) {
        char answer[96];
        if (page % 2)
            snprintf(answer, sizeof answer, "  on 12 01 %02X\n    data 00 %02X 00 03 02 \"OK\"\n", page, page);
        else
            snprintf(answer, sizeof answer, "  on 12 01 %02X\n    hang\n", page);
        bus += answer;
    }
    traced_run r = scan_traced(bus, {"-d"});
    EXPECT_EQ(r.run.exit_code, 0) << r.run.err;
    EXPECT_EQ(count_lines(r.trace, "    hang"), UNIT_TIMEOUTS_IN_ALL);
    EXPECT_EQ(r.run.err, "vexum: unit 0:0:0 timed out on 8 requests; its other requests are skipped\n");
    // Pages 01h to 0Fh were asked (the eighth time-out was 10h): the odd
    // ones print.
    EXPECT_EQ(count_lines(r.run.out, "  VPD:FRU information (0FH)  OK"), 1) << r.run.out;
    EXPECT_EQ(r.run.out.find("(11H)"), std::string::npos);
}

TEST(HostileUnit, APageListedThriceIsAskedOnceAndPrintsThrice)
{
    traced_run r = scan_traced(processor + "  on 12 01 00\n    data 00 00 00 04 00 80 80 80\n"
                                           "  on 12 01 80\n    data 00 80 00 04 \"SER1\"\n",
                               {"-d"});
    EXPECT_EQ(r.run.exit_code, 0) << r.run.err;
    const std::string serial = "  VPD:Unit serial number              SER1\n";
    EXPECT_EQ(r.run.out, "\nHost adapter #0 - " + std::string(50, ' ') +
                             "\n\n0)ID:0-0 SCSI-2 VEXUM    PROCESSOR        1.00 Rigid     - Processor device\n" +
                             serial + serial + serial);
    EXPECT_EQ(count_lines(r.trace, "  on 12 01 80 00 FF 00"), 1) << r.trace;
}
