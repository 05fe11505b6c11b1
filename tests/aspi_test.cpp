// The ASPI connection and its two execution policies, over bus files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/scsi_commands.h"
#include "harness.h"

namespace {

// Counts the execute requests that reach the manager below the seam.
const aspi_manager* counted_inner = nullptr;
int executes_sent = 0;
uint32_t counting_support(void*) { return manager_support_info(counted_inner); }
int counting_describe(void*, int adapter, adapter_description* description)
{
    return counted_inner->describe_adapter(counted_inner->context, adapter, description);
}
void counting_execute(void*, const srb_exec& request, request_outcome* outcome)
{
    executes_sent++;
    counted_inner->execute(counted_inner->context, request, outcome);
}
const aspi_manager counting_manager = {"counting", nullptr, counting_support, counting_describe, counting_execute,
                                       nullptr, nullptr};

void count_sends()
{
    counted_inner = current_aspi_manager();
    executes_sent = 0;
    select_aspi_manager(&counting_manager);
}

void stop_counting()
{
    select_aspi_manager(counted_inner);
    drop_bus();
}

const char* const disk_unit = R"(
unit 0:0:0
  on 12 00
    data 00 00 02 02 1F 00 00 00 "VENDOR  " "PRODUCT         " "REV1"
  on 1A .. 08
    data 13 00 00 00 88 12 14 00
)";

} // namespace

TEST(AspiOpen, ManagerNotReadyPrintsItsValue)
{
    std::string error;
    select_aspi_manager(load_bus_text("support E800\n", "t.bus", ".", &error));
    run_result r = capture_output([] { EXPECT_EQ(aspi_open(), -1); });
    EXPECT_EQ(r.err, "Error:Can't initialize ASPI Manager.E800\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(aspi_is_open(), 0);
    drop_bus();
}

TEST(AspiOpen, SecondOpenKeepsTheOneEventAndCloseIsIdempotent)
{
    ASSERT_TRUE(use_bus_text("adapters 1\n"));
    aspi_event* first = aspi_completion_event();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(aspi_open(), 0);
    EXPECT_EQ(aspi_completion_event(), first);
    aspi_close();
    EXPECT_EQ(aspi_is_open(), 0);
    aspi_close();
    EXPECT_EQ(aspi_completion_event(), nullptr);
    drop_bus();
}

TEST(AspiHostAdapterInquiry, RejectedAdapterLeavesTheAreaZero)
{
    ASSERT_TRUE(use_bus_text("adapters 2\nadapter 0\n manager \"MGR\"\nadapter 1 reject\n"));
    uint8_t ids[48];
    EXPECT_EQ(aspi_host_adapter_inquiry(0, ids), 2);
    EXPECT_EQ(std::memcmp(ids, "MGR\0", 4), 0);
    std::memset(ids, 0x55, sizeof ids);
    EXPECT_EQ(aspi_host_adapter_inquiry(1, ids), -1);
    for (uint8_t b : ids)
        EXPECT_EQ(b, 0);
    drop_bus();
}

TEST(AspiExecute, EmptyAddressIsNoUnitForTheProbeAndAFailureOtherwise)
{
    ASSERT_TRUE(use_bus_text("adapters 1\nunit 0:1:0\n on 12\n  request-status 82\n"));
    uint8_t data[48] = {};
    EXPECT_EQ(scsi_inquiry({0, 0, 0}, -1, 40, data), 0); // selection time-out
    EXPECT_EQ(data[0], 0xFF);
    data[0] = 0;
    EXPECT_EQ(scsi_inquiry({0, 1, 0}, -1, 40, data), 0); // request status 82h
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(scsi_mode_sense({0, 0, 0}, 8, 255, data), -1);
    EXPECT_EQ(scsi_mode_sense({0, 1, 0}, 8, 255, data), -1);
    drop_bus();
}

TEST(AspiExecute, ProbeTreatsOverrunAsNoErrorAndCheckConditionAsNoUnit)
{
    ASSERT_TRUE(use_bus_text(R"(
unit 0:0:0
  on 12
    host-status 12
    data 05 00
unit 0:1:0
  on 12
    status 02
    sense 70 00 05 00 00 00 00 0A 00 00 00 00 25 00
unit 0:2:0
  on 12
    host-status 0F
unit 0:3:0
  on 12
    status 08
)"));
    uint8_t data[48] = {};
    EXPECT_EQ(scsi_inquiry({0, 0, 0}, -1, 40, data), 0);
    EXPECT_EQ(data[0], 0x05);
    EXPECT_EQ(scsi_inquiry({0, 1, 0}, -1, 40, data), 0);
    EXPECT_EQ(data[0], 0xFF);
    EXPECT_EQ(scsi_inquiry({0, 2, 0}, -1, 40, data), -1);
    EXPECT_EQ(scsi_inquiry({0, 3, 0}, -1, 40, data), -1);
    drop_bus();
}

TEST(AspiExecute, UnitAttentionIsResentOnceThenSucceeds)
{
    ASSERT_TRUE(use_bus_text(std::string(disk_unit) + "unit 0:0:0\n attention 1\n"));
    count_sends();
    uint8_t data[255] = {};
    EXPECT_EQ(scsi_mode_sense({0, 0, 0}, 8, 255, data), 0);
    EXPECT_EQ(executes_sent, 2);
    EXPECT_EQ(data[4], 0x88);
    stop_counting();
}

TEST(AspiExecute, UnitAttentionWithMediumChangeIsResentToo)
{
    ASSERT_TRUE(use_bus_text(std::string(disk_unit) + R"(
  on 1A .. 08
    status 02
    sense 70 00 06 00 00 00 00 0A 00 00 00 00 28 00
  on 1A .. 08
    data 13 00 00 00 88
)"));
    count_sends();
    uint8_t data[255] = {};
    // The first answer of the file is the good one; it is used first.
    EXPECT_EQ(scsi_mode_sense({0, 0, 0}, 8, 255, data), 0);
    EXPECT_EQ(executes_sent, 1);
    // Then the medium-change answer, resent to the next good one.
    EXPECT_EQ(scsi_mode_sense({0, 0, 0}, 8, 255, data), 0);
    EXPECT_EQ(executes_sent, 3);
    stop_counting();
}

TEST(AspiExecute, EndlessUnitAttentionGivesUpAfterABoundedNumberOfResends)
{
    ASSERT_TRUE(use_bus_text(std::string(disk_unit) + "unit 0:0:0\n attention 1000\n"));
    count_sends();
    uint8_t data[255] = {};
    EXPECT_EQ(scsi_mode_sense({0, 0, 0}, 8, 255, data), -1);
    EXPECT_EQ(executes_sent, 1 + UNIT_ATTENTION_RESENDS);
    EXPECT_EQ(scsi_inquiry({0, 0, 0}, -1, 40, data), -1);
    EXPECT_EQ(executes_sent, 2 + 2 * UNIT_ATTENTION_RESENDS);
    stop_counting();
}

TEST(AspiExecute, RequestThatNeverCompletesTimesOut)
{
    ASSERT_TRUE(use_bus_text("unit 0:0:0\n on 12\n  hang\n on 25\n  hang\n"));
    aspi_set_wait_limit_ms(50);
    uint8_t data[48] = {};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(scsi_inquiry({0, 0, 0}, -1, 40, data), -1);
    EXPECT_EQ(scsi_read_capacity({0, 0, 0}, 8, data), -1);
    auto elapsed = std::chrono::steady_clock::now() - start;
    aspi_set_wait_limit_ms(10000);
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
    drop_bus();
}

TEST(AspiExecute, OtherFailuresAreFailures)
{
    ASSERT_TRUE(use_bus_text(R"(
adapter 1 reject
unit 0:0:0
  on 25
    status 02
    sense 70 00 02 00 00 00 00 0A 00 00 00 00 3A 00
  on 05
    status 18
)"));
    uint8_t data[48] = {};
    EXPECT_EQ(scsi_read_capacity({0, 0, 0}, 8, data), -1);     // not ready
    EXPECT_EQ(scsi_read_block_limits({0, 0, 0}, data), -1);    // reservation conflict
    EXPECT_EQ(scsi_read({0, 0, 0}, 0, 1, 512, nullptr), -1);   // no answer: illegal request
    EXPECT_EQ(scsi_inquiry({1, 0, 0}, -1, 40, data), -1);      // invalid host adapter
    drop_bus();
}

TEST(AspiSeam, OnlyReadOnlyCommandsReachTheManager)
{
    ASSERT_TRUE(use_bus_text(disk_unit));
    count_sends();
    const uint8_t refused[] = {0x0A, 0x2A, 0x04, 0x15, 0x55, 0x1B, 0x35, 0x3B, 0xA1, 0x00, 0x03};
    for (uint8_t op : refused) {
        srb_exec srb;
        std::memset(&srb, 0, sizeof srb);
        srb.command = SC_EXEC_SCSI_CMD;
        srb.cdb_length = 10;
        srb.cdb[0] = op;
        srb.post_event = aspi_completion_event();
        EXPECT_EQ(aspi_send_command(&srb), SS_INVALID_SRB) << int(op);
        EXPECT_EQ(aspi_execute(&srb), -1);
    }
    EXPECT_EQ(executes_sent, 0);
    for (uint8_t op : {0x05, 0x12, 0x1A, 0x25, 0x28, 0x37, 0x43})
        EXPECT_TRUE(is_read_only_command(uint8_t(op)));
    stop_counting();
}
