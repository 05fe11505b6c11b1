// The manager seam: the checks every request passes, the dispatch on the
// command code, the one classification of outcomes into status bytes, and
// the trace wrapper that records what the seam makes of each outcome.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "aspi/aspi.h"
#include "aspi/event.h"
#include "aspi/manager.h"
#include "aspi/trace_file.h"
#include "harness.h"

namespace {

srb_exec make_request(uint8_t op, uint8_t* buffer, uint32_t length)
{
    srb_exec srb;
    std::memset(&srb, 0, sizeof srb);
    srb.command = SC_EXEC_SCSI_CMD;
    srb.flags = SRB_DIR_IN;
    srb.cdb_length = 6;
    srb.cdb[0] = op;
    srb.data_length = length;
    srb.data_buffer = buffer;
    srb.sense_length = SENSE_LEN;
    return srb;
}

// A manager whose every request ends as `scripted` says, after writing
// `answer` into the buffer.
request_outcome scripted;
uint8_t answer[4] = {0x11, 0x22, 0x33, 0x44};
int executed = 0;

uint32_t scripted_support(void*) { return 0x0101; }
int scripted_describe(void*, int adapter, adapter_description* description)
{
    if (adapter > 0)
        return -1;
    description->count = 1;
    description->own_id = 5;
    std::memcpy(description->ids, "SCRIPTED", 8);
    std::memcpy(description->ids + 32, "UNIQUE", 6);
    return 0;
}
void scripted_execute(void*, const srb_exec& request, request_outcome* outcome)
{
    executed++;
    if (request.data_buffer)
        std::memcpy(request.data_buffer, answer, std::min<size_t>(sizeof answer, request.data_length));
    *outcome = scripted;
}
const aspi_manager scripted_manager = {"scripted", nullptr, scripted_support, scripted_describe, scripted_execute,
                                       nullptr, nullptr};

} // namespace

TEST(Seam, RequestsThatCouldWriteOrOverrunAreRefusedBeforeAnyManager)
{
    uint8_t buffer[8];
    executed = 0;
    scripted = request_outcome();
    srb_exec srb = make_request(0x12, buffer, sizeof buffer);
    EXPECT_EQ(check_request(srb), SS_COMP);

    srb.flags = SRB_DIR_OUT;
    EXPECT_EQ(send_to_manager(&scripted_manager, &srb), SS_INVALID_SRB);
    EXPECT_EQ(srb.status, SS_INVALID_SRB);

    for (uint8_t length : {0, 1, 5, 7, 11, 17, 255}) {
        srb = make_request(0x12, buffer, sizeof buffer);
        srb.cdb_length = length;
        EXPECT_EQ(send_to_manager(&scripted_manager, &srb), SS_INVALID_SRB) << int(length);
    }
    srb = make_request(0x12, nullptr, 8); // a length without a buffer
    EXPECT_EQ(send_to_manager(&scripted_manager, &srb), SS_INVALID_SRB);
    srb = make_request(0x28, buffer, 0x7FFFFFFF);
    EXPECT_EQ(send_to_manager(&scripted_manager, &srb), SS_BUFFER_TOO_BIG);
    srb = make_request(0x2A, buffer, sizeof buffer); // WRITE(10)
    srb.cdb_length = 10;
    EXPECT_EQ(send_to_manager(&scripted_manager, &srb), SS_INVALID_SRB);
    EXPECT_EQ(executed, 0);
}

TEST(Seam, AnAnswerCompletesThroughTheEventAndANeverEndingRequestStaysPending)
{
    aspi_event* event = event_create();
    ASSERT_NE(event, nullptr);
    uint8_t buffer[8] = {};
    scripted = request_outcome();
    srb_exec srb = make_request(0x12, buffer, sizeof buffer);
    srb.flags |= SRB_EVENT_NOTIFY;
    srb.post_event = event;
    EXPECT_EQ(send_to_manager(&scripted_manager, &srb), SS_PENDING);
    EXPECT_EQ(event_wait(event, 0), EVENT_SIGNALLED);
    EXPECT_EQ(srb.status, SS_COMP);
    EXPECT_EQ(buffer[3], 0x44);

    // Without an event to signal, the status is the answer.
    srb = make_request(0x12, buffer, sizeof buffer);
    EXPECT_EQ(send_to_manager(&scripted_manager, &srb), SS_COMP);

    scripted.kind = OUTCOME_NEVER;
    srb = make_request(0x12, buffer, sizeof buffer);
    srb.flags |= SRB_EVENT_NOTIFY;
    srb.post_event = event;
    EXPECT_EQ(send_to_manager(&scripted_manager, &srb), SS_PENDING);
    EXPECT_EQ(srb.status, SS_PENDING);
    EXPECT_EQ(event_wait(event, 0), EVENT_TIMEOUT);
    event_close(event);
}

TEST(Seam, AdapterInquiryIsAnsweredFromTheDescription)
{
    srb_ha_inquiry ha;
    std::memset(&ha, 0, sizeof ha);
    ha.command = SC_HA_INQUIRY;
    EXPECT_EQ(send_to_manager(&scripted_manager, &ha), SS_COMP);
    EXPECT_EQ(ha.adapter_count, 1);
    EXPECT_EQ(ha.adapter_scsi_id, 5);
    EXPECT_EQ(std::memcmp(ha.manager_id, "SCRIPTED", 8), 0);
    EXPECT_EQ(std::memcmp(ha.adapter_unique, "UNIQUE", 6), 0);
    std::memset(&ha, 0, sizeof ha);
    ha.host_adapter = 1;
    EXPECT_EQ(send_to_manager(&scripted_manager, &ha), SS_INVALID_HA);
    EXPECT_EQ(ha.adapter_count, 0);
}

TEST(Classification, EachKindOfOutcomeHasItsStatusBytes)
{
    struct {
        uint8_t kind;
        uint8_t host, target;
        int recorded;
        uint8_t status, host_out, target_out;
    } cases[] = {
        {OUTCOME_ANSWERED, HASTAT_OK, STATUS_GOOD, -1, SS_COMP, HASTAT_OK, STATUS_GOOD},
        {OUTCOME_ANSWERED, HASTAT_SEL_TO, STATUS_GOOD, -1, SS_ERR, HASTAT_SEL_TO, STATUS_GOOD},
        {OUTCOME_ANSWERED, HASTAT_OK, 0x08, -1, SS_ERR, HASTAT_OK, 0x08},               // busy
        {OUTCOME_ANSWERED, HASTAT_DO_DU, STATUS_GOOD, -1, SS_ERR, HASTAT_DO_DU, STATUS_GOOD}, // short
        {OUTCOME_ANSWERED, HASTAT_OK, STATUS_GOOD, 0x82, 0x82, HASTAT_OK, STATUS_GOOD}, // replayed status
        {OUTCOME_NO_ADAPTER, HASTAT_SEL_TO, 0x02, -1, SS_INVALID_HA, HASTAT_OK, STATUS_GOOD},
        {OUTCOME_NO_DEVICE, HASTAT_OK, STATUS_GOOD, -1, SS_NO_DEVICE, HASTAT_OK, STATUS_GOOD},
        {OUTCOME_OS_ERROR, HASTAT_PHASE_ERR, STATUS_GOOD, -1, SS_ABORTED, HASTAT_OK, STATUS_GOOD},
    };
    for (const auto& c : cases) {
        request_outcome o;
        o.kind = c.kind;
        o.host_status = c.host;
        o.target_status = c.target;
        o.request_status = c.recorded;
        srb_exec srb = make_request(0x12, nullptr, 0);
        srb.host_status = 0x55;
        srb.target_status = 0x55;
        EXPECT_EQ(complete_request(o, &srb), c.status) << int(c.kind) << " " << int(c.host);
        EXPECT_EQ(srb.status, c.status);
        EXPECT_EQ(srb.host_status, c.host_out);
        EXPECT_EQ(srb.target_status, c.target_out);
    }
}

TEST(Classification, SenseArrivesInFixedFormatWithinTheSenseLength)
{
    request_outcome o;
    set_check_condition(&o, 0x16, 0x29, 0x02, 18); // only the low four bits are the key
    EXPECT_EQ(o.target_status, STATUS_CHKCOND);
    EXPECT_EQ(o.sense_length, 18);
    EXPECT_EQ(o.sense[7], 10);
    srb_exec srb = make_request(0x12, nullptr, 0);
    std::memset(srb.sense, 0xEE, sizeof srb.sense);
    EXPECT_EQ(complete_request(o, &srb), SS_ERR);
    const uint8_t fixed[14] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0x02};
    EXPECT_EQ(std::memcmp(srb.sense, fixed, sizeof fixed), 0);
    EXPECT_EQ(srb.sense[14], 0xEE);
    EXPECT_EQ(srb.sense[15], 0xEE);

    // Descriptor format: key, code and qualifier move to their fixed places.
    request_outcome d;
    d.target_status = STATUS_CHKCOND;
    const uint8_t descriptor[8] = {0x72, 0x05, 0x24, 0x01, 0, 0, 0, 0};
    std::memcpy(d.sense, descriptor, sizeof descriptor);
    d.sense_length = sizeof descriptor;
    std::memset(srb.sense, 0xEE, sizeof srb.sense);
    srb.sense_length = 13; // the qualifier is cut off
    complete_request(d, &srb);
    EXPECT_EQ(srb.sense[0], 0x70);
    EXPECT_EQ(srb.sense[2], 0x05);
    EXPECT_EQ(srb.sense[SENSE_ASC], 0x24);
    EXPECT_EQ(srb.sense[13], 0xEE);

    // A sense length that claims more than the manager holds reads no further.
    request_outcome wild;
    wild.target_status = STATUS_CHKCOND;
    wild.sense_length = 255;
    wild.sense[0] = 0x70;
    wild.sense[SENSE_ASC] = 0x3A;
    srb = make_request(0x12, nullptr, 0);
    complete_request(wild, &srb);
    EXPECT_EQ(srb.sense[SENSE_ASC], 0x3A);
}

TEST(Trace, RecordsWhatTheSeamMakesOfEachOutcome)
{
    std::string path = write_temp_file("", ".trace.bus");
    std::string error;
    const aspi_manager* traced = start_trace(&scripted_manager, path.c_str(), {}, &error);
    ASSERT_NE(traced, nullptr) << error;
    EXPECT_EQ(manager_support_info(traced), 0x0101u);
    srb_ha_inquiry ha;
    std::memset(&ha, 0, sizeof ha);
    ha.command = SC_HA_INQUIRY;
    send_to_manager(traced, &ha);

    uint8_t buffer[4] = {};
    scripted = request_outcome();
    srb_exec srb = make_request(0x12, buffer, sizeof buffer);
    EXPECT_EQ(send_to_manager(traced, &srb), SS_COMP);
    scripted.host_status = HASTAT_COMMAND_TIMEOUT; // the manager's own wait ran out
    srb = make_request(0x1A, buffer, sizeof buffer);
    EXPECT_EQ(send_to_manager(traced, &srb), SS_ERR);
    scripted = request_outcome();
    set_check_condition(&scripted, 0x06, 0x29, 0, 14);
    srb = make_request(0x25, buffer, 0);
    srb.cdb_length = 10;
    send_to_manager(traced, &srb);
    scripted.kind = OUTCOME_NEVER;
    srb = make_request(0x05, buffer, sizeof buffer);
    EXPECT_EQ(send_to_manager(traced, &srb), SS_PENDING);
    srb = make_request(0x2A, buffer, sizeof buffer); // refused: never reaches the trace
    send_to_manager(traced, &srb);
    release_aspi_manager(traced);

    EXPECT_EQ(read_text_file(path), "# vexum trace: every exchange of one run, in bus file format\n"
                                    "trace\n"
                                    "support 101\n"
                                    "adapters 1\n"
                                    "adapter 0\n"
                                    "  manager 53 43 52 49 50 54 45 44 00 00 00 00 00 00 00 00\n"
                                    "  identity 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                    "  unique 55 4E 49 51 55 45 00 00 00 00 00 00 00 00 00 00\n"
                                    "unit 0:0:0\n"
                                    "  on 12 00 00 00 00 00\n"
                                    "    request-status 01\n"
                                    "    data 11 22 33 44\n"
                                    "  on 1A 00 00 00 00 00\n"
                                    "    request-status 04\n"
                                    "    host-status 0B\n"
                                    "    data 11 22 33 44\n"
                                    "  on 25 00 00 00 00 00 00 00 00 00\n"
                                    "    request-status 04\n"
                                    "    status 02\n"
                                    "    sense 70 00 06 00 00 00 00 06 00 00 00 00 29 00\n"
                                    "  on 05 00 00 00 00 00\n"
                                    "    hang\n"
                                    "end\n");
    remove(path.c_str());
}
