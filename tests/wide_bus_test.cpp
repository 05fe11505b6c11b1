// Buses wider than eight IDs: the default scan covers every target ID that a
// manager says its adapter has, but the adapter's own; a narrow bus, and one
// whose manager says nothing, keeps targets 0 to 6.
#include <gtest/gtest.h>

#include <string>

#include "aspi/sg_linux.h"
#include "harness.h"

namespace {

std::string unit(int target, const char* product16)
{
    return "unit 0:" + std::to_string(target) + ":0\n on 12 00\n  data 03 00 02 02 1F 00 00 00 \"V       \" \"" +
           product16 + "\" \"1   \"\n";
}

// Target numbers print in hexadecimal.
std::string line(const char* target, const char* product16)
{
    return std::string("\n0)ID:") + target + "-0 SCSI-2 V        " + product16 + " 1    Rigid     - Processor device\n";
}

const char* const adapter_line = "\nHost adapter #0 - WIDE                                              \n";

run_result scan(const std::string& bus, std::vector<std::string> args = {}) { return run_bus_text(bus, args); }

// Units at 0, 6, 7, 8 and 15.
std::string units()
{
    return unit(0, "ZERO            ") + unit(6, "SIX             ") + unit(7, "SEVEN           ") +
           unit(8, "EIGHT           ") + unit(15, "FIFTEEN         ");
}

} // namespace

TEST(WideBus, EveryTargetIdButTheAdaptersOwn)
{
    // A wide parallel bus whose adapter is ID 7.
    run_result r = scan("adapter 0\n manager \"WIDE\"\n targets 16 7\n" + units());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, adapter_line + line("0", "ZERO            ") + line("6", "SIX             ") +
                         line("8", "EIGHT           ") + line("F", "FIFTEEN         "));
    // A port without an ID of its own on the bus (SAS, iSCSI): 7 is a target too.
    r = scan("adapter 0\n manager \"WIDE\"\n targets 16\n" + units());
    EXPECT_EQ(r.out, adapter_line + line("0", "ZERO            ") + line("6", "SIX             ") +
                         line("7", "SEVEN           ") + line("8", "EIGHT           ") + line("F", "FIFTEEN         "));
    // An adapter whose own ID is 0.
    r = scan("adapter 0\n manager \"WIDE\"\n targets 16 0\n" + units());
    EXPECT_EQ(r.out, adapter_line + line("6", "SIX             ") + line("7", "SEVEN           ") +
                         line("8", "EIGHT           ") + line("F", "FIFTEEN         "));
}

TEST(WideBus, NarrowAndSilentAdaptersScanZeroToSix)
{
    const std::string narrow = adapter_line + line("0", "ZERO            ") + line("6", "SIX             ");
    for (const char* width : {"", " targets 8 7\n", " targets 8\n", " targets 3\n"}) {
        run_result r = scan(std::string("adapter 0\n manager \"WIDE\"\n") + width + units());
        EXPECT_EQ(r.out, narrow) << width;
    }
    // Units beyond the scan are still reached by naming them.
    run_result r = scan("adapter 0\n manager \"WIDE\"\n" + units(), {"-scsi", "0:15"});
    EXPECT_EQ(r.out, adapter_line + line("F", "FIFTEEN         "));
}

TEST(WideBus, ABadTargetsLineIsAnError)
{
    struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"adapter 0\n targets 0\n", ":2: targets needs a decimal count from 1 to 256"},
        {"adapter 0\n targets 257\n", ":2: targets needs a decimal count from 1 to 256"},
        {"adapter 0\n targets 16 16\n", ":2: the adapter's own ID must be one of its 16 target IDs"},
        {"targets 16\n", ":1: targets outside an adapter block"},
    };
    for (const auto& c : cases) {
        run_result r = scan(c.text);
        EXPECT_EQ(r.exit_code, 2) << c.text;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

TEST(WideBus, ATraceKeepsTheWidthAndReplaysToTheSameReport)
{
    std::string bus = write_temp_file("adapters 2\nadapter 0\n manager \"WIDE\"\n targets 16 7\n" + units() +
                                      "adapter 1\n manager \"NARROW\"\n targets 8 7\n");
    std::string trace = write_temp_file("", ".trace.bus");
    run_result original = run_in_process({"-bus", bus, "-trace", trace});
    run_result replay = run_in_process({"-bus", trace});
    EXPECT_EQ(replay.exit_code, 0);
    EXPECT_EQ(replay.out, original.out);
    std::string text = read_text_file(trace);
    EXPECT_NE(text.find("adapter 0\n  targets 16 7\n"), std::string::npos) << text;
    // A narrow bus adds nothing to the trace.
    EXPECT_EQ(text.find("targets 8"), std::string::npos) << text;
    remove(bus.c_str());
    remove(trace.c_str());
}

TEST(WideBus, ScsiGenericAdaptersAreAsWideAsTheirUnits)
{
    sg_topology t;
    t.adapters.push_back({0, 0, "virtio_scsi", {{0, 0, 0}, {2, 3, 1}}});
    t.adapters.push_back({1, 0, "mpt3sas", {{0, 0, 2}, {23, 0, 3}, {9, 1, 4}}});
    t.adapters.push_back({2, 0, "ahci", {}});
    adapter_targets width;
    ASSERT_EQ(describe_sg_targets(t, 0, &width), 0);
    EXPECT_EQ(width.count, 3);
    EXPECT_EQ(width.own_id, -1);
    ASSERT_EQ(describe_sg_targets(t, 1, &width), 0);
    EXPECT_EQ(width.count, 24);
    EXPECT_EQ(width.own_id, -1);
    EXPECT_EQ(describe_sg_targets(t, 2, &width), -1); // no unit: it does not say
    EXPECT_EQ(describe_sg_targets(t, 3, &width), -1);
}
