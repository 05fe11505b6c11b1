// The bus file manager: its errors, how answers are chosen, image-backed
// units, and the trace that replays to the same report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/scsi_commands.h"
#include "harness.h"

namespace {

run_result run_bus(const std::string& path, std::vector<std::string> args = {})
{
    args.insert(args.begin(), {"-bus", path});
    return run_in_process(args);
}

struct error_case {
    const char* text;
    int line;
    const char* reason;
};

// The bus file of c stops the run before anything is scanned, with one line
// that names the file, the line and the reason.
void expect_stops_with(const error_case& c)
{
    std::string path = write_temp_file(c.text);
    run_result r = run_bus(path, {"-dp"});
    EXPECT_EQ(r.exit_code, 2) << c.text;
    EXPECT_EQ(r.out, "") << c.text;
    std::string expected = "vexum: " + path + ":" + std::to_string(c.line) + ": " + c.reason;
    EXPECT_EQ(r.err.compare(0, expected.size(), expected), 0) << r.err << " expected " << expected;
    EXPECT_EQ(r.err.back(), '\n');
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
    remove(path.c_str());
}

} // namespace

TEST(BusFile, ErrorsNameFileAndLineAndStopBeforeAnyScan)
{
    const error_case cases[] = {
        {"adapters 1\nunit 0:0:0\n on 12\n  data 00 0G\n", 4, "bad byte '0G'"},
        {"# comment\nadapters 1\nfrobnicate 3\n", 3, "unknown word 'frobnicate'"},
        {"unit 0:0:0\n image /nonexistent/disk.img 512\n", 2, "cannot open image /nonexistent/disk.img"},
        {"unit 0:0:0\n on 12\n  data \"open\n", 3, "quoted text is not closed"},
        {"data 00\n", 1, "data outside an answer"},
        {"unit 0:0\n", 1, "unit needs an address"},
        {"unit 0:0:0\n on 12 XY\n", 2, "bad command block byte 'XY'"},
        {"adapters 300\n", 1, "adapters needs a decimal count"},
        {"unit 0:0:0\n on 12\n  sense 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n", 3, "sense longer than 14 bytes"},
        {"support\n", 1, "support needs one hexadecimal value"},
    };
    for (const auto& c : cases)
        expect_stops_with(c);
    run_result r = run_bus("/nonexistent/missing.bus");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "vexum: /nonexistent/missing.bus: cannot open the bus file\n");
}

TEST(BusFile, TheBinaryReportsABadBusFileToo)
{
    std::string path = write_temp_file("adapters 1\nbogus\n");
    run_result r = run_binary({"-bus", path});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vexum: " + path + ":2: unknown word 'bogus'\n");
    remove(path.c_str());
}

TEST(BusFile, MostSpecificAnswerWinsAndSequencesReplayInOrder)
{
    ASSERT_TRUE(use_bus_text(R"(
unit 0:0:0
  on 12
    data 01
  on 12 01 80
    data 02
  on 12 01 80
    data 03
  on 25
    data AA BB
    short 1
)"));
    uint8_t data[64] = {};
    device_address unit{0, 0, 0};
    ASSERT_EQ(scsi_inquiry(unit, -1, 40, data), 0);
    EXPECT_EQ(data[0], 0x01);
    ASSERT_EQ(scsi_inquiry(unit, 0x80, 255, data), 0);
    EXPECT_EQ(data[0], 0x02);
    ASSERT_EQ(scsi_inquiry(unit, 0x80, 255, data), 0);
    EXPECT_EQ(data[0], 0x03);
    ASSERT_EQ(scsi_inquiry(unit, 0x80, 255, data), 0); // all used: the last again
    EXPECT_EQ(data[0], 0x03);
    ASSERT_EQ(scsi_inquiry(unit, 0x81, 255, data), 0); // falls back to the plain INQUIRY answer
    EXPECT_EQ(data[0], 0x01);
    drop_bus();
}

TEST(BusFile, LunBitsAreNotComparedAndShortTransfersLeaveTheRest)
{
    ASSERT_TRUE(use_bus_text(R"(
unit 0:0:3
  on 12 01 80
    data 00 80 00 04 "ABCD"
    short 5
)"));
    uint8_t data[16];
    std::fill(std::begin(data), std::end(data), 0xEE);
    ASSERT_EQ(scsi_inquiry({0, 0, 3}, 0x80, 255, data), 0);
    EXPECT_EQ(data[4], 'A');
    EXPECT_EQ(data[5], 0xEE);
    // A command without an answer is an illegal request.
    EXPECT_EQ(scsi_mode_sense({0, 0, 3}, 0x08, 255, data), -1);
    drop_bus();
}

TEST(BusFile, ImageBackedUnitAnswersCapacityAndReads)
{
    std::string image(3 * 512 + 100, '\0');
    image[512] = 'B';
    image[1023] = 'E';
    std::string image_path = write_temp_file(image, ".img");
    ASSERT_TRUE(use_bus_text("unit 0:1:0\n image " + image_path + " 512\n"));
    device_address unit{0, 1, 0};
    uint8_t capacity[8] = {};
    ASSERT_EQ(scsi_read_capacity(unit, 8, capacity), 0);
    const uint8_t expected[8] = {0, 0, 0, 2, 0, 0, 2, 0}; // last block 2, 512 bytes
    EXPECT_EQ(std::memcmp(capacity, expected, 8), 0);
    uint8_t block[512] = {};
    ASSERT_EQ(scsi_read(unit, 1, 1, 512, block), 0);
    EXPECT_EQ(block[0], 'B');
    EXPECT_EQ(block[511], 'E');
    EXPECT_EQ(scsi_read(unit, 3, 1, 512, block), -1); // the partial fourth block is not there
    EXPECT_EQ(scsi_read(unit, 0xFFFFFFFF, 2, 512, block), -1);
    drop_bus();
    remove(image_path.c_str());
}

TEST(BusFile, MediumLinesAreCheckedBeforeAnyScan)
{
    const error_case cases[] = {
        {"unit 0:0:0\n block 0\n", 2, "block before the unit's medium line"},
        {"unit 0:0:0\n medium 8 512\n block 8\n", 3, "block 8 lies past the end of the medium"},
        {"unit 0:0:0\n medium 8 512\n block 1\n  data 01\n block 1\n", 5, "block 1 is described twice"},
        {"unit 0:0:0\n medium 8 4\n block 0\n  data 01 02 03\n  data 04 05\n", 5,
         "block data longer than the block length of 4 bytes"},
        {"unit 0:0:0\n medium 8 0\n", 2, "medium needs a block count"},
        {"unit 0:0:0\n medium 8\n", 2, "medium needs a block count"},
        {"unit 0:0:0\n medium 4294967296 512\n", 2, "medium needs a block count"},
        {"unit 0:0:0\n medium 8 512\n medium 8 512\n", 3, "a second medium line for this unit"},
        {"unit 0:0:0\n medium 8 512\n block x\n", 3, "block needs a decimal block number"},
        {"medium 8 512\n", 1, "medium outside a unit block"},
        // After a block, the answer lines belong to no answer.
        {"unit 0:0:0\n on 25\n medium 8 512\n block 0\n  status 02\n", 5, "status outside an answer"},
    };
    for (const auto& c : cases)
        expect_stops_with(c);
    // An image and a medium line exclude each other, in either order.
    std::string image_path = write_temp_file(std::string(1024, '\0'), ".img");
    for (const std::string& text : {"unit 0:0:0\n image " + image_path + " 512\n medium 2 512\n",
                                    "unit 0:0:0\n medium 2 512\n image " + image_path + " 512\n"}) {
        std::string path = write_temp_file(text);
        run_result r = run_bus(path);
        EXPECT_EQ(r.exit_code, 2) << text;
        EXPECT_EQ(r.err, "vexum: " + path +
                             ":3: a unit reads either an image or the blocks of its medium line, not both\n");
        remove(path.c_str());
    }
    remove(image_path.c_str());
}

TEST(BusFile, MediumOfBlockLinesAnswersCapacityAndReads)
{
    ASSERT_TRUE(use_bus_text(R"(
unit 0:1:0
  medium 6 512
  block 1
    data "B" zeros 510
    data 45                     # the last byte of block 1
  block 3
    data 33 33                  # the rest of block 3 is zeros
  on 28 .. 00 00 00 05          # an explicit answer takes precedence
    data 55
unit 0:2:0
  medium 0 2048
)"));
    device_address unit{0, 1, 0};
    uint8_t capacity[8] = {};
    ASSERT_EQ(scsi_read_capacity(unit, 8, capacity), 0);
    const uint8_t expected_capacity[8] = {0, 0, 0, 5, 0, 0, 2, 0}; // last block 5, 512 bytes
    EXPECT_EQ(std::memcmp(capacity, expected_capacity, 8), 0);

    // Blocks 0 to 4 in one read: only blocks 1 and 3 hold anything.
    std::vector<uint8_t> blocks(5 * 512, 0xEE);
    ASSERT_EQ(scsi_read(unit, 0, 5, uint16_t(blocks.size()), blocks.data()), 0);
    std::vector<uint8_t> expected(5 * 512, 0);
    expected[512] = 'B';
    expected[1023] = 0x45;
    expected[3 * 512] = expected[3 * 512 + 1] = 0x33;
    EXPECT_EQ(blocks, expected);

    // A buffer shorter than the blocks asked for gets what fits.
    uint8_t part[600];
    std::fill(std::begin(part), std::end(part), 0xEE);
    ASSERT_EQ(scsi_read(unit, 1, 2, sizeof part, part), 0);
    EXPECT_EQ(part[0], 'B');
    EXPECT_EQ(part[511], 0x45);
    EXPECT_EQ(part[599], 0x00);

    uint8_t block[512] = {};
    ASSERT_EQ(scsi_read(unit, 5, 1, 512, block), 0);
    EXPECT_EQ(block[0], 0x55);
    EXPECT_EQ(scsi_read(unit, 6, 1, 512, block), -1); // past the last block
    EXPECT_EQ(scsi_read(unit, 4, 3, 512, block), -1);
    EXPECT_EQ(scsi_read(unit, 0xFFFFFFFF, 2, 512, block), -1);
    // A medium of no blocks reads as no medium.
    EXPECT_EQ(scsi_read_capacity({0, 2, 0}, 8, capacity), -1);
    drop_bus();
}

TEST(Trace, ReplayingATracePrintsTheSameReport)
{
    std::string image(64 * 512, '\0');
    image[510] = '\x55';
    image[511] = '\xAA';
    std::string image_path = write_temp_file(image, ".img");
    std::string bus = R"(
adapters 2
adapter 0
  manager "TRACE TEST"
  identity "HBA ONE"
adapter 1 reject
unit 0:0:0
  attention 1
  image )" + image_path + R"( 512
  on 12 00
    data 00 00 02 02 1F 00 00 00 "VEXUM   " "TRACED DISK     " "1.00"
unit 0:2:0
  on 12 00
    data 05 80 02 02 1F 00 00 00 "VEXUM   " "TRACED CD       " "1.00"
  on 25
    data 00 04 E1 FF 00 00 08 00
  on 43
    data 00 12 01 01 00 14 01 00 00 00 00 00 00 14 AA 00 00 04 E2 00
unit 0:4:0
  on 12 00
    data 01 80 02 02 1F 00 00 00 "VEXUM   " "TRACED TAPE     " "1.00"
  on 05
    data 00 00 FF FF 00 01
unit 0:4:1
  on 12 00
    status 02
    sense 70 00 05 00 00 00 00 0A 00 00 00 00 25 00
)";
    std::string bus_path = write_temp_file(bus);
    std::string trace_path = bus_path + ".trace.bus";
    const std::vector<std::string> options = {"-l", "-dpo", "-scsi", "0"};
    std::vector<std::string> recording = {"-trace", trace_path};
    recording.insert(recording.end(), options.begin(), options.end());
    run_result original = run_bus(bus_path, recording);
    ASSERT_EQ(original.exit_code, 0) << original.err;
    ASSERT_NE(original.out.find("TRACED TAPE"), std::string::npos);
    run_result replay = run_bus(trace_path, options);
    EXPECT_EQ(replay.exit_code, 0) << replay.err;
    EXPECT_EQ(replay.out, original.out);
    EXPECT_EQ(replay.err, original.err);
    // The trace of the replay is the same trace.
    std::string second_trace = trace_path + ".again.bus";
    recording[1] = second_trace;
    run_bus(trace_path, recording);
    EXPECT_EQ(read_text_file(second_trace), read_text_file(trace_path));
    for (const auto& p : {bus_path, trace_path, second_trace, image_path})
        remove(p.c_str());
}

TEST(Trace, TraceOfAnUnreadyManagerReplaysItsFailure)
{
    std::string bus_path = write_temp_file("support E800\n");
    std::string trace_path = bus_path + ".trace.bus";
    run_result original = run_bus(bus_path, {"-trace", trace_path});
    EXPECT_EQ(original.exit_code, 1);
    run_result replay = run_bus(trace_path);
    EXPECT_EQ(replay.exit_code, 1);
    EXPECT_EQ(replay.err, "Error:Can't initialize ASPI Manager.E800\nASPI manager initilize error!\n");
    remove(bus_path.c_str());
    remove(trace_path.c_str());
}

TEST(Trace, UnwritableTraceFileIsAnError)
{
    std::string bus_path = write_temp_file("adapters 1\n");
    run_result r = run_bus(bus_path, {"-trace", "/nonexistent/dir/t.bus"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vexum: /nonexistent/dir/t.bus: cannot write the trace file\n");
    remove(bus_path.c_str());
}
