// The iSCSI manager: portal texts, status translation, and the manager
// itself against a user-space target (tgtd) on this machine.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "aspi/aspi.h"
#include "aspi/iscsi_portal.h"
#include "aspi/manager.h"
#include "format/output.h"
#include "harness.h"
#include "iscsi/tgt_rig.h"

// ---------------------------------------------------------------- portals

static iscsi_portal_address parsed(const std::string& text)
{
    iscsi_portal_address portal;
    std::string error;
    EXPECT_EQ(parse_iscsi_portal(text, &portal, &error), 0) << text << ": " << error;
    return portal;
}

TEST(IscsiPortal, HostAndPortForms)
{
    iscsi_portal_address s = parsed("san.example");
    EXPECT_EQ(s.host, "san.example");
    EXPECT_EQ(s.port, 3260);
    EXPECT_EQ(s.address, "san.example:3260");
    EXPECT_EQ(s.target, "");

    s = parsed("10.0.0.5:3261");
    EXPECT_EQ(s.host, "10.0.0.5");
    EXPECT_EQ(s.address, "10.0.0.5:3261");

    s = parsed("[fe80::1]:65535");
    EXPECT_EQ(s.host, "fe80::1");
    EXPECT_EQ(s.port, 65535);
    EXPECT_EQ(s.address, "[fe80::1]:65535");

    s = parsed("[::1]");
    EXPECT_EQ(s.address, "[::1]:3260");
}

TEST(IscsiPortal, UrlForms)
{
    iscsi_portal_address s = parsed("iscsi://127.0.0.1");
    EXPECT_EQ(s.address, "127.0.0.1:3260");
    EXPECT_EQ(s.target, "");
    EXPECT_EQ(s.user, "");

    s = parsed("iscsi://127.0.0.1:3261/");
    EXPECT_EQ(s.address, "127.0.0.1:3261");
    EXPECT_EQ(s.target, "");

    // Target names may carry a colon as is or escaped; the LUN is optional.
    s = parsed("iscsi://h:5/iqn.2026-12.org.example:disk/0");
    EXPECT_EQ(s.target, "iqn.2026-12.org.example:disk");
    s = parsed("iscsi://h/iqn.2026-12.org.example%3adisk");
    EXPECT_EQ(s.target, "iqn.2026-12.org.example:disk");
    EXPECT_EQ(s.address, "h:3260");

    // CHAP: user, user%secret; the secret may hold "@" and "%".
    s = parsed("iscsi://scan@h/t");
    EXPECT_EQ(s.user, "scan");
    EXPECT_EQ(s.password, "");
    s = parsed("iscsi://scan%p@ss%1@[::1]:3262/t/7");
    EXPECT_EQ(s.user, "scan");
    EXPECT_EQ(s.password, "p@ss%1");
    EXPECT_EQ(s.address, "[::1]:3262");
    EXPECT_EQ(s.target, "t");
}

TEST(IscsiPortal, UnusableTextsAreRefusedWithAReason)
{
    const char* bad[] = {
        "",            ":3260",          "h:",           "h:0",          "h:65536", "h:123456", "h:32a",
        "fe80::1:3260", "[::1",          "[::1]x",       "[]:3260",      "ho st",   "h/t",      "u@h",
        "iscsi://",    "iscsi://%pw@h/t", "iscsi://h/t/1/2", "iscsi://h/t/x", "iscsi://h/bad%zz", "iscsi://h/bad%4",
        "iscsi://h//0", "iscsi://h/t\x01",
    };
    for (const char* text : bad) {
        iscsi_portal_address portal;
        std::string error;
        EXPECT_EQ(parse_iscsi_portal(text, &portal, &error), -1) << "accepted: " << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(IscsiPortal, ManagerRefusesAnUnusablePortalBeforeScanning)
{
    std::string error;
    const aspi_manager* m = open_iscsi_manager({"127.0.0.1", "h:99999"}, &error);
    EXPECT_EQ(m, nullptr);
    // Either the portal is named with its reason, or this build has no iSCSI.
    EXPECT_TRUE(error.find("\"h:99999\": port number out of range") != std::string::npos ||
                error.find("no iSCSI") != std::string::npos)
        << error;
}

TEST(IscsiPortal, BuildWithoutLibraryNamesTheLack)
{
    std::string error;
    const aspi_manager* m = open_iscsi_manager({"127.0.0.1"}, &error);
    if (m) {
        release_aspi_manager(m);
        GTEST_SKIP() << "this build has iSCSI";
    }
    EXPECT_NE(error.find("no iSCSI support"), std::string::npos) << error;
}

// libiscsi is loaded by a run that names a portal, and by no other: the
// dynamic loader's own account of the files it maps says so.
TEST(IscsiLibrary, LoadedOnlyByARunThatNamesAPortal)
{
    std::string error;
    const aspi_manager* m = open_iscsi_manager({"127.0.0.1"}, &error);
    if (!m)
        GTEST_SKIP() << "this build cannot scan iSCSI portals: " << error;
    release_aspi_manager(m);
    std::string sample = std::string(VEXUM_SOURCE_DIR) + "/samples/sample.bus";
    // What the loader says (its standard error) of one run.
    auto loaded = [](const std::string& args) {
        return shell_output("(LD_DEBUG=files '" + std::string(VEXUM_BINARY) + "' " + args + " 2>&1 >/dev/null)");
    };
    std::string scan = loaded("-bus '" + sample + "' -ldpo");
    if (scan.find("file=libc.so") == std::string::npos)
        GTEST_SKIP() << "the dynamic loader gives no account of its files here";
    EXPECT_EQ(scan.find("libiscsi"), std::string::npos) << scan;
    std::string usage = loaded("-?");
    EXPECT_EQ(usage.find("libiscsi"), std::string::npos) << usage;
    // A portal on a closed port of this machine: the library is loaded, the
    // portal reads as no unit.
    std::string portal = loaded("-iscsi 127.0.0.1:1");
    EXPECT_NE(portal.find("file=libiscsi.so"), std::string::npos) << portal;
    EXPECT_NE(portal.find("vexum: iSCSI portal 127.0.0.1:1: cannot connect"), std::string::npos) << portal;
}

TEST(IscsiPortal, PrintableKeepsOneLine)
{
    EXPECT_EQ(make_printable(std::string("a\nb\x7f\x80\tc", 7)), "a.b...c");
}

// ------------------------------------------------------- status translation

static srb_exec fresh_srb()
{
    srb_exec srb;
    std::memset(&srb, 0, sizeof srb);
    srb.command = SC_EXEC_SCSI_CMD;
    srb.sense_length = SENSE_LEN;
    std::memset(srb.sense, 0xEE, sizeof srb.sense);
    return srb;
}

namespace {

// What the seam makes of an iSCSI outcome.
uint8_t apply_iscsi_outcome(const iscsi_outcome& result, srb_exec* srb)
{
    request_outcome outcome;
    translate_iscsi_outcome(result, &outcome);
    return complete_request(outcome, srb);
}

} // namespace

TEST(IscsiOutcome, GoodStatusCompletes)
{
    srb_exec srb = fresh_srb();
    iscsi_outcome o;
    o.scsi_status = 0;
    EXPECT_EQ(apply_iscsi_outcome(o, &srb), SS_COMP);
    EXPECT_EQ(srb.status, SS_COMP);
    EXPECT_EQ(srb.host_status, HASTAT_OK);
    EXPECT_EQ(srb.target_status, STATUS_GOOD);
    EXPECT_EQ(srb.sense[0], 0); // no sense for good status
}

TEST(IscsiOutcome, CheckConditionCarriesFixedFormatSense)
{
    srb_exec srb = fresh_srb();
    iscsi_outcome o;
    o.scsi_status = STATUS_CHKCOND;
    o.sense_key = 6;
    o.asc = 0x29;
    o.ascq = 0x00;
    EXPECT_EQ(apply_iscsi_outcome(o, &srb), SS_ERR);
    EXPECT_EQ(srb.target_status, STATUS_CHKCOND);
    EXPECT_EQ(srb.host_status, HASTAT_OK);
    EXPECT_EQ(srb.sense[0], 0x70);
    EXPECT_EQ(srb.sense[2], 0x06);
    EXPECT_EQ(srb.sense[7], SENSE_LEN - 8);
    EXPECT_EQ(srb.sense[SENSE_ASC], 0x29);
    EXPECT_EQ(srb.sense[SENSE_ASC + 1], 0x00);
    // Never beyond the 14 bytes of the request's sense length.
    EXPECT_EQ(srb.sense[14], 0xEE);
    EXPECT_EQ(srb.sense[15], 0xEE);

    // A shorter sense length is honoured.
    srb = fresh_srb();
    srb.sense_length = 8;
    o.sense_key = 0x15; // only the low four bits are the key
    apply_iscsi_outcome(o, &srb);
    EXPECT_EQ(srb.sense[2], 0x05);
    EXPECT_EQ(srb.sense[8], 0xEE);
    EXPECT_EQ(srb.sense[SENSE_ASC], 0xEE);
}

TEST(IscsiOutcome, OtherStatusesAndTransportFailures)
{
    srb_exec srb = fresh_srb();
    iscsi_outcome o;
    o.scsi_status = 0x08; // busy
    EXPECT_EQ(apply_iscsi_outcome(o, &srb), SS_ERR);
    EXPECT_EQ(srb.target_status, 0x08);
    EXPECT_EQ(srb.sense[0], 0);

    struct {
        int kind;
        uint8_t host_status;
    } cases[] = {{ISCSI_NO_UNIT, HASTAT_SEL_TO}, {ISCSI_TIMED_OUT, HASTAT_COMMAND_TIMEOUT}, {ISCSI_BROKEN, HASTAT_BUS_FREE}};
    for (auto c : cases) {
        srb = fresh_srb();
        srb.target_status = 0x55;
        iscsi_outcome f;
        f.kind = c.kind;
        EXPECT_EQ(apply_iscsi_outcome(f, &srb), SS_ERR) << c.kind;
        EXPECT_EQ(srb.host_status, c.host_status) << c.kind;
        EXPECT_EQ(srb.target_status, STATUS_GOOD) << c.kind;
    }
}

// ------------------------------------------------------- against a target

namespace {

// Captures the error stream for the lifetime of the object.
struct error_capture {
    FILE* file = temp_stream();
    error_capture() { set_error_stream(file); }
    ~error_capture()
    {
        set_error_stream(nullptr);
        if (file)
            fclose(file);
    }
    std::string text()
    {
        fflush(file);
        std::string s;
        rewind(file);
        char b[1024];
        size_t n;
        while ((n = fread(b, 1, sizeof b, file)) > 0)
            s.append(b, n);
        return s;
    }
};

size_t count_lines(const std::string& s)
{
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

long long elapsed_ms(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

// Sends one command block through the manager, as the executor would.
srb_exec send(const aspi_manager* m, int adapter, int target, int lun, std::vector<uint8_t> cdb, uint8_t* data,
              uint32_t length)
{
    srb_exec srb = fresh_srb();
    srb.host_adapter = uint8_t(adapter);
    srb.target = uint8_t(target);
    srb.lun = uint8_t(lun);
    srb.flags = SRB_DIR_IN;
    srb.data_length = length;
    srb.data_buffer = data;
    srb.cdb_length = uint8_t(cdb.size());
    std::memcpy(srb.cdb, cdb.data(), cdb.size());
    uint32_t r = send_to_manager(m, &srb);
    EXPECT_EQ(r, srb.status);
    EXPECT_NE(r, SS_PENDING); // every answer is final
    return srb;
}

// Standard INQUIRY, with the old LUN bits in byte 1 as the builders set them.
srb_exec inquire(const aspi_manager* m, int adapter, int target, int lun, uint8_t* data)
{
    std::memset(data, 0, 40);
    return send(m, adapter, target, lun, {0x12, uint8_t(lun << 5), 0, 0, 40, 0}, data, 40);
}

const aspi_manager* open_or_skip(const std::vector<std::string>& portals, std::string* why)
{
    std::string error;
    const aspi_manager* m = open_iscsi_manager(portals, &error);
    if (!m)
        *why = error;
    return m;
}

int listening_silent_socket(int* port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

} // namespace

TEST(IscsiUnreachable, StoppedPortalReadsAsNoUnitAtOnce)
{
    int port = rig_free_port();
    ASSERT_GT(port, 0);
    std::string portal = "127.0.0.1:" + std::to_string(port), why;
    const aspi_manager* m = open_or_skip({portal}, &why);
    if (!m)
        GTEST_SKIP() << why;
    error_capture err;
    auto start = std::chrono::steady_clock::now();
    uint8_t data[40];
    for (int target = 0; target < 7; target++) {
        srb_exec srb = inquire(m, 0, target, 0, data);
        EXPECT_EQ(srb.status, SS_ERR);
        EXPECT_EQ(srb.host_status, HASTAT_SEL_TO) << target;
    }
    EXPECT_LT(elapsed_ms(start), 3000);
    std::string text = err.text();
    EXPECT_EQ(text, "vexum: iSCSI portal " + portal + ": cannot connect: Connection refused\n");
    release_aspi_manager(m);
}

TEST(IscsiUnreachable, SilentPortalCostsOneWaitThenNoUnit)
{
    int port = 0;
    int fd = listening_silent_socket(&port); // accepts connections, never answers
    ASSERT_GE(fd, 0);
    std::string portal = "127.0.0.1:" + std::to_string(port), why;
    const aspi_manager* m = open_or_skip({portal}, &why);
    if (!m) {
        close(fd);
        GTEST_SKIP() << why;
    }
    unsigned saved = aspi_wait_limit_ms();
    aspi_set_wait_limit_ms(1500);
    const long long limit = aspi_wait_limit_ms(); // a build may keep 10 s
    error_capture err;
    auto start = std::chrono::steady_clock::now();
    uint8_t data[40];
    for (int target = 0; target < 7; target++) {
        srb_exec srb = inquire(m, 0, target, 0, data);
        EXPECT_EQ(srb.host_status, HASTAT_SEL_TO) << target;
    }
    long long took = elapsed_ms(start);
    // The library counts its time-out in whole seconds and may end the
    // wait up to a second early.
    EXPECT_GE(took, limit - 1100);
    EXPECT_LT(took, limit + 2000);
    std::string text = err.text();
    EXPECT_EQ(count_lines(text), 1u) << text;
    EXPECT_EQ(text.rfind("vexum: iSCSI portal " + portal + ": no answer to the login within ", 0), 0u) << text;
    release_aspi_manager(m);
    aspi_set_wait_limit_ms(saved);
    close(fd);
}

class IscsiTarget : public ::testing::Test {
protected:
    static tgt_rig rig;
    static void SetUpTestSuite() { start_tgt_rig(&rig, "iscsi-rig"); }
    static void TearDownTestSuite() { stop_tgt_rig(&rig); }
    void SetUp() override
    {
        if (!rig.skip_reason.empty())
            GTEST_SKIP() << rig.skip_reason;
        std::string why;
        m = open_or_skip({portal(), "iscsi://127.0.0.1:" + std::to_string(rig.port) + "/" TGT_RIG_SECOND}, &why);
        if (!m)
            GTEST_SKIP() << why;
    }
    void TearDown() override
    {
        if (m)
            release_aspi_manager(m);
    }
    static std::string portal() { return "127.0.0.1:" + std::to_string(rig.port); }
    const aspi_manager* m = nullptr;
};
tgt_rig IscsiTarget::rig;

TEST_F(IscsiTarget, AdaptersArePortalsInCommandLineOrder)
{
    EXPECT_EQ(manager_support_info(m), 0x0102u);
    srb_ha_inquiry ha;
    std::memset(&ha, 0, sizeof ha);
    ha.host_adapter = 0;
    EXPECT_EQ(send_to_manager(m, &ha), SS_COMP);
    EXPECT_EQ(ha.adapter_count, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ha.manager_id), 5), "iSCSI");
    EXPECT_EQ(ha.manager_id[5], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ha.adapter_id), portal().size()), portal());

    std::memset(&ha, 0, sizeof ha);
    ha.host_adapter = 2;
    EXPECT_EQ(send_to_manager(m, &ha), SS_INVALID_HA);
    uint8_t data[40];
    EXPECT_EQ(inquire(m, 2, 0, 0, data).status, SS_INVALID_HA);
}

TEST_F(IscsiTarget, TargetsInTheOrderThePortalListsThemAndLunsAreLuns)
{
    uint8_t data[40];
    // Target 0 is the rig target: controller, disk, CD, tape, then nothing.
    const uint8_t types[] = {0x0C, 0x00, 0x05, 0x01, 0x7F};
    for (int lun = 0; lun < 5; lun++) {
        srb_exec srb = inquire(m, 0, 0, lun, data);
        EXPECT_EQ(srb.status, SS_COMP) << lun;
        EXPECT_EQ(data[0], types[lun]) << lun;
    }
    EXPECT_EQ(inquire(m, 0, 1, 1, data).status, SS_COMP);
    EXPECT_EQ(data[0], 0x05);
    srb_exec none = inquire(m, 0, 2, 0, data);
    EXPECT_EQ(none.host_status, HASTAT_SEL_TO);

    // The URL names the second target: it is target 0 of adapter 1.
    EXPECT_EQ(inquire(m, 1, 0, 1, data).status, SS_COMP);
    EXPECT_EQ(data[0], 0x05);
    EXPECT_EQ(inquire(m, 1, 1, 1, data).host_status, HASTAT_SEL_TO);
}

TEST_F(IscsiTarget, UnitAttentionAfterLoginThenTheAnswer)
{
    uint8_t data[40];
    ASSERT_EQ(inquire(m, 0, 0, 1, data).status, SS_COMP);
    uint8_t cap[8];
    std::vector<uint8_t> read_capacity = {0x25, 1 << 5, 0, 0, 0, 0, 0, 0, 0, 0};
    srb_exec first = send(m, 0, 0, 1, read_capacity, cap, 8);
    EXPECT_EQ(first.status, SS_ERR);
    EXPECT_EQ(first.target_status, STATUS_CHKCOND);
    EXPECT_EQ(first.sense[2] & 0x0F, 6);
    EXPECT_EQ(first.sense[SENSE_ASC], 0x29);

    std::memset(cap, 0, sizeof cap);
    srb_exec again = send(m, 0, 0, 1, read_capacity, cap, 8);
    EXPECT_EQ(again.status, SS_COMP);
    EXPECT_EQ(again.target_status, STATUS_GOOD);
    const uint8_t expected[8] = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00}; // last block 65,535; 512 bytes
    EXPECT_EQ(std::memcmp(cap, expected, 8), 0);
}

TEST_F(IscsiTarget, ReadsBlockZeroDespiteTheOldLunBits)
{
    std::vector<uint8_t> read_capacity = {0x25, 1 << 5, 0, 0, 0, 0, 0, 0, 0, 0};
    uint8_t cap[8];
    send(m, 0, 0, 1, read_capacity, cap, 8); // takes the unit attention
    uint8_t block[512];
    std::memset(block, 0xA5, sizeof block);
    srb_exec srb = send(m, 0, 0, 1, {0x28, 1 << 5, 0, 0, 0, 0, 0, 0, 1, 0}, block, sizeof block);
    ASSERT_EQ(srb.status, SS_COMP) << "target status " << int(srb.target_status) << " sense key "
                                   << int(srb.sense[2] & 0x0F) << " asc " << int(srb.sense[SENSE_ASC]);
    EXPECT_EQ(block[0x1FE], 0x55);
    EXPECT_EQ(block[0x1FF], 0xAA);
    EXPECT_EQ(block[0x1BE], 0x80); // the active FAT16 entry of the rig's disk
    EXPECT_EQ(block[0x1C2], 0x06);
}

TEST_F(IscsiTarget, ShortAnswerLeavesTheRestOfTheBufferAlone)
{
    uint8_t toc[804];
    std::vector<uint8_t> read_toc = {0x43, 2 << 5, 0, 0, 0, 0, 0, 0x03, 0x24, 0};
    send(m, 0, 0, 2, read_toc, toc, sizeof toc); // unit attention
    std::memset(toc, 0xA5, sizeof toc);
    srb_exec srb = send(m, 0, 0, 2, read_toc, toc, sizeof toc);
    ASSERT_EQ(srb.status, SS_COMP);
    EXPECT_EQ(srb.host_status, HASTAT_OK); // an underrun is not an error
    // One data track and the lead-out: a 4-byte header and two descriptors.
    unsigned promised = (toc[0] << 8 | toc[1]) + 2u;
    EXPECT_EQ(promised, 20u);
    EXPECT_EQ(toc[2], 1); // first track
    EXPECT_EQ(toc[3], 1); // last track
    EXPECT_EQ(toc[12 + 2], 0xAA); // lead-out track number
    // tgt sends two bytes fewer than its header promises (the end of the
    // lead-out address): they, and everything after, stay as the caller
    // left them, so a cleared buffer reads 0 there.
    for (size_t i = promised - 2; i < sizeof toc; i++)
        ASSERT_EQ(toc[i], 0xA5) << i;
}

TEST_F(IscsiTarget, WritingCommandsAreRefusedUnsent)
{
    uint8_t block[512] = {};
    srb_exec srb = send(m, 0, 0, 1, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, block, sizeof block);
    EXPECT_EQ(srb.status, SS_INVALID_SRB);
    srb = send(m, 0, 0, 1, {0x00, 0, 0, 0, 0, 0}, nullptr, 0); // TEST UNIT READY
    EXPECT_EQ(srb.status, SS_INVALID_SRB);
}

// Stops the target daemon for the lifetime of the object (SIGSTOP), so that
// it keeps its connections open and answers nothing.
struct frozen_target {
    pid_t pid;
    explicit frozen_target(pid_t p) : pid(p) { kill(pid, SIGSTOP); }
    ~frozen_target() { kill(pid, SIGCONT); }
};

TEST_F(IscsiTarget, TargetThatStopsAnsweringCostsOneWait)
{
    uint8_t data[40];
    ASSERT_EQ(inquire(m, 0, 0, 1, data).status, SS_COMP); // logged in
    unsigned saved = aspi_wait_limit_ms();
    aspi_set_wait_limit_ms(1500);
    const long long limit = aspi_wait_limit_ms();
    error_capture err;
    {
        frozen_target frozen(rig.pid);
        auto start = std::chrono::steady_clock::now();
        uint8_t cap[8];
        srb_exec srb = send(m, 0, 0, 1, {0x25, 1 << 5, 0, 0, 0, 0, 0, 0, 0, 0}, cap, 8);
        EXPECT_EQ(srb.status, SS_ERR);
        EXPECT_EQ(srb.host_status, HASTAT_COMMAND_TIMEOUT);
        // The portal is given up: its other addresses answer at once.
        EXPECT_EQ(inquire(m, 0, 0, 2, data).host_status, HASTAT_SEL_TO);
        EXPECT_EQ(inquire(m, 0, 1, 1, data).host_status, HASTAT_SEL_TO);
        long long took = elapsed_ms(start);
        EXPECT_GE(took, limit - 1100);
        EXPECT_LT(took, limit + 2000);
    }
    EXPECT_EQ(err.text(), "vexum: iSCSI target " TGT_RIG_TARGET " at " + portal() +
                              ": no answer within 2 seconds, session closed\n");
    aspi_set_wait_limit_ms(saved);
}

TEST_F(IscsiTarget, WrongTargetNameIsRefusedWithOneLine)
{
    release_aspi_manager(m);
    std::string url = "iscsi://127.0.0.1:" + std::to_string(rig.port) + "/iqn.2026-12.org.vexum.test:absent";
    std::string why;
    m = open_or_skip({url}, &why);
    ASSERT_NE(m, nullptr) << why;
    error_capture err;
    auto start = std::chrono::steady_clock::now();
    uint8_t data[40];
    for (int lun = 0; lun < 8; lun++)
        EXPECT_EQ(inquire(m, 0, 0, lun, data).host_status, HASTAT_SEL_TO);
    EXPECT_LT(elapsed_ms(start), 3000);
    std::string text = err.text();
    EXPECT_EQ(count_lines(text), 1u) << text;
    EXPECT_EQ(text.rfind("vexum: iSCSI target iqn.2026-12.org.vexum.test:absent at " + portal() + ": login refused: ", 0),
              0u)
        << text;
}

// The answers agree with libiscsi's own tools, where they are installed.
TEST_F(IscsiTarget, InquiryAndCapacityAgreeWithLibiscsiTools)
{
    if (!rig_have_tool("iscsi-inq") || !rig_have_tool("iscsi-readcapacity16"))
        GTEST_SKIP() << "iscsi-inq and iscsi-readcapacity16 are not installed (Debian package libiscsi-bin)";
    std::string url = "iscsi://" + portal() + "/" TGT_RIG_TARGET "/1";
    std::string out_file = rig.dir + "/tools.txt";
    unlink(out_file.c_str());
    std::string command = "iscsi-inq " + rig_quote(url) + " > " + rig_quote(out_file) + " 2>&1; iscsi-readcapacity16 " +
                          rig_quote(url) + " >> " + rig_quote(out_file) + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string tools = read_text_file(out_file);

    uint8_t data[40];
    ASSERT_EQ(inquire(m, 0, 0, 1, data).status, SS_COMP);
    std::string vendor(reinterpret_cast<char*>(data + 8), 8), product(reinterpret_cast<char*>(data + 16), 16),
        revision(reinterpret_cast<char*>(data + 32), 4);
    EXPECT_NE(tools.find("Vendor:" + vendor + "\n"), std::string::npos) << tools;
    EXPECT_NE(tools.find("Product:" + product + "\n"), std::string::npos) << tools;
    EXPECT_NE(tools.find("Revision:" + revision + "\n"), std::string::npos) << tools;

    uint8_t cap[8];
    std::vector<uint8_t> read_capacity = {0x25, 1 << 5, 0, 0, 0, 0, 0, 0, 0, 0};
    send(m, 0, 0, 1, read_capacity, cap, 8);
    ASSERT_EQ(send(m, 0, 0, 1, read_capacity, cap, 8).status, SS_COMP);
    unsigned long last = (unsigned long)cap[0] << 24 | cap[1] << 16 | cap[2] << 8 | cap[3];
    unsigned long length = (unsigned long)cap[4] << 24 | cap[5] << 16 | cap[6] << 8 | cap[7];
    EXPECT_NE(tools.find("RETURNED LOGICAL BLOCK ADDRESS:" + std::to_string(last) + "\n"), std::string::npos) << tools;
    EXPECT_NE(tools.find("LOGICAL BLOCK LENGTH IN BYTES:" + std::to_string(length) + "\n"), std::string::npos)
        << tools;
}
