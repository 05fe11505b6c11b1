// Whole reports of the tool scanning an iSCSI portal (tgtd on this machine,
// see iscsi/tgt_rig.h). The expected texts follow from what the rig is set
// up to answer and from the report formats.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "aspi/manager.h"
#include "harness.h"
#include "iscsi/tgt_rig.h"

namespace {

std::string padded16(const std::string& text) { return text + std::string(16 - text.size(), ' '); }

std::string adapter_line(const std::string& portal)
{
    return "\nHost adapter #0 - " + padded16("iSCSI") + " " + padded16(portal) + " " + std::string(16, ' ') + "\n";
}

// The device line: address, version column (tgt answers version 5: blank),
// vendor 8, product 16, revision 4, removable 9, type text.
std::string device_line(const char* address, const char* product16, const char* revision4, const char* removable9,
                        const char* type)
{
    return std::string("\n") + address + " " + "     " + " " + "VEXUM   " + " " + product16 + " " + revision4 + " " +
           removable9 + " - " + type + "\n";
}

const std::string controller_0 =
    device_line("0)ID:0-0", "RIG-CONTROLLER  ", "1.0 ", "Rigid    ", "Unkown device (0CH)");
const std::string disk = device_line("0)ID:0-1", "RIG-DISK        ", "1.0 ", "Rigid    ", "Direct access device");
const std::string cd = device_line("0)ID:0-2", "RIG-CD          ", "2.10", "Removable", "CD-ROM device");
const std::string tape = device_line("0)ID:0-3", "RIG-TAPE        ", "3   ", "Removable", "Sequential device");
const std::string controller_1 =
    device_line("0)ID:1-0", "SECOND-CONTROL  ", "1.0 ", "Rigid    ", "Unkown device (0CH)");
const std::string second_cd = device_line("0)ID:1-1", "SECOND-CD       ", "1.0 ", "Removable", "CD-ROM device");

// The disk LUN's medium (see the layout in tgt_rig.h).
const std::string disk_format = "  IBM HARD DISK FORMAT          33,554,432 bytes\n";
const std::string partition_1 =
    " *( 1) VEXUMRIG    1234-ABCD    16,744,960 .. DOS FAT16 (over 32M)     mkfs.fat\n";
const std::string partition_2 = "  ( 2)                           7,340,032 .. Linux native            \n";
const std::string partition_3 = "  ( 3)                           6,291,456 .. OS/2 HPFS, NTFS         \n";
const std::string free_space = "  (--)  Free disk space          1,048,576 bytes (        2,048 sectors)\n";

const std::string partition_1_details = "        Partition start                 63 (      3FH)\n"
                                        "        Partition size              32,705 (    7FC1H)\n"
                                        "        BPB:Sector size                512 bytes\n"
                                        "        BPB:Cluster size             2,048 bytes (  4 unit)\n"
                                        "        BPB:Reserve sector               4\n"
                                        "        BPB:FAT number                   2\n"
                                        "        BPB:Root entry                 512 directories     ( 32 sectors)\n"
                                        "        BPB:Sector volume       16,744,448 bytes (       32,704 sectors)\n"
                                        "        BPB:Media descriptor            F8H\n"
                                        "        BPB:FAT sector                  32\n"
                                        "        BPB:Sector per track            32\n"
                                        "        BPB:Head number                 64\n"
                                        "        BPB:Hidden sector               63\n"
                                        "        BPB:Serial number        1234-ABCD\n"
                                        "        BPB:Volume label          VEXUMRIG\n"
                                        "        BPB:File system name         FAT16\n"
                                        "        BPB:FileSys capacity    16,693,248 bytes (        8,151 clusters)\n";
const std::string partition_2_details = "        Partition start             34,816 (    8800H)\n"
                                        "        Partition size              14,336 (    3800H)\n";
const std::string partition_3_details = "        Partition start             51,200 (    C800H)\n"
                                        "        Partition size              12,288 (    3000H)\n";

// tgt pads a serial number to 36 characters with leading blanks, so the value
// runs past the column.
std::string serial_line(const char* serial)
{
    return "  VPD:Unit serial number     " + std::string(36 - std::strlen(serial), ' ') + serial + "\n";
}

// Page 02h as the rig sets it up for the disk and the tape.
const std::string disconnect_page = "  DRP:Buffer full  ratio           128/256\n"
                                    "  DRP:Buffer empty ratio            64/256\n"
                                    "  DRP:Bus inactive limit         Limitless\n"
                                    "  DRP:Disconnect limit time      Limitless\n"
                                    "  DRP:Connect time limit         Limitless\n"
                                    "  DRP:Maximum burst size             8,192 bytes\n"
                                    "  DRP:Data trans. disconnect             0\n";

// The disk's mode pages as the rig sets them up. The target answers no
// peripheral device page (09h), no notch page (0Ch) and no READ DEFECT DATA:
// those print nothing.
const std::string disk_details = serial_line("VXD0001") + disconnect_page +
                                 "  FMT:Track per zone                     8\n"
                                 "  FMT:Alternate sec per zone             1\n"
                                 "  FMT:Alternate trk per zone             0\n"
                                 "  FMT:Alternate trk per unit             2\n"
                                 "  FMT:Sector per track                  32\n"
                                 "  FMT:Physical sector size             512\n"
                                 "  FMT:Interleave factor                  1\n"
                                 "  FMT:Track skew factor                  3\n"
                                 "  FMT:Cylinder skew factor               5\n"
                                 "  DRV:Cylinder number                1,024\n"
                                 "  DRV:Head number                       64\n"
                                 "  DRV:Drive step rate                   10\n"
                                 "  DRV:Landing zone cylinder          1,023\n"
                                 "  DRV:Revolutions per minute         5,400\n"
                                 "  CSH:Write cache                   Enable\n"
                                 "  CSH:Read  cache                   Enable\n"
                                 "  CSH:Read  data priority                2\n"
                                 "  CSH:Write data priority                1\n"
                                 "  CSH:Disable prefetch trans         1,000\n"
                                 "  CSH:Minimum prefetch                   0\n"
                                 "  CSH:Maximum prefetch                 256\n"
                                 "  CHS:Max. prefetch ceiling            512\n";

// The tape: tgt answers variable block limits (at most 1 MiB, at least 4
// bytes) and one block descriptor with 0 blocks of length 0.
const std::string tape_details = serial_line("VXT0001") + disconnect_page +
                                 "  RBL:Maximum block size         1,048,576\n"
                                 "  RBL:Minimum block size                 4\n"
                                 "  DCP:Block number                       0\n"
                                 "  DCP:Block length                       0\n"
                                 "  DCP:Active format                     01\n"
                                 "  DCP:Active partition                  00\n"
                                 "  DCP:Write buffer full ratio      Default\n"
                                 "  DCP:Read buffer empty ratio      128/256\n"
                                 "  DCP:Write delay time               1,000 ms\n"
                                 "  DCP:Data buffer recovery         Disable\n"
                                 "  DCP:Block identifiers supported   Enable\n"
                                 "  DCP:Report setmarks              Disable\n"
                                 "  DCP:Automatic velocity control   Default\n"
                                 "  DCP:Stop on consecutive filemakrs      2\n"
                                 "  DCP:Recover buffer order            LIFO\n"
                                 "  DCP:Report early warning           Write\n"
                                 "  DCP:Gap size           data block update\n"
                                 "  DCP:EOD defined                        1\n"
                                 "  DCP:Enable EOD genaration         Enable\n"
                                 "  DCP:Synchronize at early warning  Enable\n"
                                 "  DCP:Buffer size at EW              1,024\n"
                                 "  DCP:Data compress method              01\n";

const std::string disk_report = disk_format + partition_1 + partition_2 + partition_3 + free_space;

// A CD of `blocks` blocks of 2,048 with one data track from address 0.
// tgt's READ TOC header promises 18 bytes after itself but sends 16: the
// lead-out address arrives as 00 00 and its last two bytes are missing. They
// read as 0 from the cleared buffer, so the lead-out is at 0 and the track's
// length is 0.
std::string grouped(unsigned long long n)
{
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); i++) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string right13(const std::string& s) { return std::string(s.size() < 13 ? 13 - s.size() : 0, ' ') + s; }

std::string cd_tracks(unsigned long long blocks)
{
    return "    Capacity                 " + right13(grouped(blocks * 2048)) + " bytes (" + right13(grouped(blocks)) +
           " sectors)\n"
           "    Block size                       2,048 bytes\n"
           "    Track#  Type             Track data size  Start address  Digital copy\n"
           "    [ 1] 01 Data track               0 bytes              0  Disable\n";
}

const std::string partition_details_report = disk_format + partition_1 + partition_1_details + partition_2 +
                                             partition_2_details + partition_3 + partition_3_details + free_space;

} // namespace

namespace {

// Why the rig's tests cannot run here ("" when they can): a build without
// iSCSI, or a rig that did not come up.
std::string why_no_rig(const tgt_rig& rig)
{
    std::string error;
    const aspi_manager* m = open_iscsi_manager({"127.0.0.1"}, &error);
    if (!m)
        return error;
    release_aspi_manager(m);
    return rig.skip_reason;
}

} // namespace

class IscsiReport : public ::testing::Test {
protected:
    static tgt_rig rig;
    static void SetUpTestSuite() { start_tgt_rig(&rig, "iscsi-report-rig"); }
    static void TearDownTestSuite() { stop_tgt_rig(&rig); }
    void SetUp() override
    {
        std::string reason = why_no_rig(rig);
        if (!reason.empty())
            GTEST_SKIP() << reason;
    }
    static std::string portal() { return "127.0.0.1:" + std::to_string(rig.port); }
};
tgt_rig IscsiReport::rig;

TEST_F(IscsiReport, LunZeroOfEachListedTarget)
{
    run_result r = run_binary({"-iscsi", portal()});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, adapter_line(portal()) + controller_0 + controller_1);
    EXPECT_EQ(r.err, "");
}

TEST_F(IscsiReport, EveryLunWithTheDiskLayout)
{
    run_result r = run_binary({"-iscsi", portal(), "-l"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, adapter_line(portal()) + controller_0 + disk + disk_report + cd + tape + controller_1 + second_cd);
    EXPECT_EQ(r.err, "");
}

TEST_F(IscsiReport, PartitionDetailsOfTheDisk)
{
    run_result r = run_binary({"-iscsi", portal(), "-scsi", "0:0:1", "-p"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, adapter_line(portal()) + disk + partition_details_report);
    EXPECT_EQ(r.err, "");
}

TEST_F(IscsiReport, DeviceDetailsOfTheDisk)
{
    run_result r = run_binary({"-iscsi", portal(), "-scsi", "0:0:1", "-d"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, adapter_line(portal()) + disk + disk_details + disk_report);
    EXPECT_EQ(r.err, "");
}

TEST_F(IscsiReport, DeviceDetailsOfTheTape)
{
    run_result r = run_binary({"-iscsi", portal(), "-scsi", "0:0:3", "-d"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, adapter_line(portal()) + tape + tape_details);
    EXPECT_EQ(r.err, "");
}

// Everything at once: every LUN of both targets with details and media.
static std::string full_report(const std::string& portal, unsigned long long cd_blocks)
{
    return adapter_line(portal) + controller_0 + serial_line("VXC0001") + disk + disk_details +
           partition_details_report + cd + serial_line("VXCD001") + cd_tracks(cd_blocks) + tape + tape_details +
           controller_1 + serial_line("VXC0002") + second_cd + serial_line("VXCD002") + cd_tracks(cd_blocks);
}

TEST_F(IscsiReport, EveryLunWithDetailsAndMedia)
{
    struct stat st {};
    ASSERT_EQ(stat((rig.dir + "/cd.iso").c_str(), &st), 0);
    run_result r = run_binary({"-iscsi", portal(), "-l", "-dp"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, full_report(portal(), st.st_size / 2048));
    EXPECT_EQ(r.err, "");
}

TEST_F(IscsiReport, CdTrackTableReadsTheMissingLeadOutBytesAsZero)
{
    struct stat st {};
    ASSERT_EQ(stat((rig.dir + "/cd.iso").c_str(), &st), 0);
    ASSERT_EQ(st.st_size % 2048, 0);
    run_result r = run_binary({"-iscsi", portal(), "-scsi", "0:0:2", "-p"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, adapter_line(portal()) + cd + cd_tracks(st.st_size / 2048));
    EXPECT_EQ(r.err, "");
}

TEST_F(IscsiReport, UrlNamingOneTargetMakesItTargetZero)
{
    std::string url = "iscsi://" + portal() + "/" TGT_RIG_SECOND;
    run_result r = run_binary({"-iscsi", url, "-l"});
    EXPECT_EQ(r.exit_code, 0);
    std::string second_as_0 = device_line("0)ID:0-1", "SECOND-CD       ", "1.0 ", "Removable", "CD-ROM device");
    EXPECT_EQ(r.out, adapter_line(portal()) +
                         device_line("0)ID:0-0", "SECOND-CONTROL  ", "1.0 ", "Rigid    ", "Unkown device (0CH)") +
                         second_as_0);
}

TEST_F(IscsiReport, TraceOfTheTargetReplaysToTheSameReport)
{
    std::string trace = rig.dir + "/scan.bus";
    run_result live = run_binary({"-iscsi", portal(), "-l", "-trace", trace});
    EXPECT_EQ(live.exit_code, 0);
    std::string expected =
        adapter_line(portal()) + controller_0 + disk + disk_report + cd + tape + controller_1 + second_cd;
    EXPECT_EQ(live.out, expected);
    run_result replay = run_binary({"-bus", trace, "-l"});
    EXPECT_EQ(replay.exit_code, 0);
    EXPECT_EQ(replay.out, expected);
    EXPECT_EQ(replay.err, "");
}

TEST_F(IscsiReport, WrongTargetNameFinishesPromptlyWithOneLine)
{
    std::string url = "iscsi://" + portal() + "/iqn.2026-12.org.vexum.test:absent";
    auto start = std::chrono::steady_clock::now();
    run_result r = run_binary({"-iscsi", url, "-l"});
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, adapter_line(portal()));
    EXPECT_EQ(r.err.rfind("vexum: iSCSI target iqn.2026-12.org.vexum.test:absent at " + portal() + ": login refused: ", 0),
              0u)
        << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

TEST_F(IscsiReport, ChapCredentialsFromTheUrl)
{
    ASSERT_EQ(rig_tgtadm(rig, "--mode account --op new --user scanner --password vexum-secret-1"), 0);
    ASSERT_EQ(rig_tgtadm(rig, "--mode account --op bind --tid 2 --user scanner"), 0);
    const std::string target = "127.0.0.1:" + std::to_string(rig.port) + "/" TGT_RIG_SECOND;
    const std::string refused =
        "vexum: iSCSI target " TGT_RIG_SECOND " at " + portal() + ": login refused: ";

    run_result none = run_binary({"-iscsi", "iscsi://" + target});
    EXPECT_EQ(none.out, adapter_line(portal()));
    EXPECT_EQ(none.err.rfind(refused, 0), 0u) << none.err;

    run_result wrong = run_binary({"-iscsi", "iscsi://scanner%wrong-secret@" + target});
    EXPECT_EQ(wrong.out, adapter_line(portal()));
    EXPECT_EQ(wrong.err.rfind(refused, 0), 0u) << wrong.err;
    EXPECT_EQ(wrong.err.find("wrong-secret"), std::string::npos) << wrong.err;

    run_result right = run_binary({"-iscsi", "iscsi://scanner%vexum-secret-1@" + target, "-scsi", "0:0:1"});
    EXPECT_EQ(right.exit_code, 0);
    EXPECT_EQ(right.out, adapter_line(portal()) + device_line("0)ID:0-1", "SECOND-CD       ", "1.0 ", "Removable",
                                                              "CD-ROM device"));
    EXPECT_EQ(right.err, "");

    // A secret never appears in a diagnostic, even of a text that is refused.
    run_result bad = run_binary({"-iscsi", "iscsi://scanner%vexum-secret-1@" + portal() + "/t/x"});
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_EQ(bad.err.find("vexum-secret-1"), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("scanner%***@"), std::string::npos) << bad.err;

    EXPECT_EQ(rig_tgtadm(rig, "--mode account --op unbind --tid 2 --user scanner"), 0);
    EXPECT_EQ(rig_tgtadm(rig, "--mode account --op delete --user scanner"), 0);
}

// The secret may come from VEXUM_ISCSI_SECRET instead of the command line,
// for a URL that names the user alone; a secret in the URL comes first.
TEST_F(IscsiReport, ChapSecretFromTheEnvironment)
{
    ASSERT_EQ(rig_tgtadm(rig, "--mode account --op new --user scanner --password vexum-secret-2"), 0);
    ASSERT_EQ(rig_tgtadm(rig, "--mode account --op bind --tid 2 --user scanner"), 0);
    const std::string url = "iscsi://scanner@127.0.0.1:" + std::to_string(rig.port) + "/" TGT_RIG_SECOND;
    const std::string refused = "vexum: iSCSI target " TGT_RIG_SECOND " at " + portal() + ": login refused: ";
    const std::string found =
        adapter_line(portal()) + device_line("0)ID:0-1", "SECOND-CD       ", "1.0 ", "Removable", "CD-ROM device");
    struct scoped_secret {
        explicit scoped_secret(const char* value) { setenv("VEXUM_ISCSI_SECRET", value, 1); }
        ~scoped_secret() { unsetenv("VEXUM_ISCSI_SECRET"); }
    };

    run_result none = run_binary({"-iscsi", url, "-scsi", "0:0:1"});
    EXPECT_EQ(none.out, adapter_line(portal()));
    EXPECT_EQ(none.err.rfind(refused, 0), 0u) << none.err;
    {
        scoped_secret secret("vexum-secret-2");
        run_result right = run_binary({"-iscsi", url, "-scsi", "0:0:1"});
        EXPECT_EQ(right.exit_code, 0);
        EXPECT_EQ(right.out, found);
        EXPECT_EQ(right.err, "");
        // The URL's own secret is used before the environment's.
        std::string url_secret = url;
        url_secret.replace(url.find('@'), 1, "%wrong-secret@");
        run_result wrong = run_binary({"-iscsi", url_secret, "-scsi", "0:0:1"});
        EXPECT_EQ(wrong.out, adapter_line(portal()));
        EXPECT_EQ(wrong.err.rfind(refused, 0), 0u) << wrong.err;
    }
    {
        scoped_secret secret("wrong-secret");
        run_result wrong = run_binary({"-iscsi", url, "-scsi", "0:0:1"});
        EXPECT_EQ(wrong.out, adapter_line(portal()));
        EXPECT_EQ(wrong.err.rfind(refused, 0), 0u) << wrong.err;
        EXPECT_EQ(wrong.err.find("wrong-secret"), std::string::npos) << wrong.err;
    }
    EXPECT_EQ(rig_tgtadm(rig, "--mode account --op unbind --tid 2 --user scanner"), 0);
    EXPECT_EQ(rig_tgtadm(rig, "--mode account --op delete --user scanner"), 0);
}

// A trace recorded from tgtd replays anywhere, without a target.
TEST(IscsiReportFixture, TraceRecordedFromTgtReplaysToItsReport)
{
    run_result r = run_binary({"-bus", fixture_path("iscsi-tgt.bus"), "-l", "-dp"});
    EXPECT_EQ(r.exit_code, 0);
    // The image behind both CDs was 376,832 bytes (184 blocks).
    EXPECT_EQ(r.out, full_report("127.0.0.1:3260", 184));
    EXPECT_EQ(r.err, "");
}

// No target needed: nothing listens on the port.
TEST(IscsiReportUnreachable, StoppedPortalFinishesPromptlyWithOneLine)
{
    std::string error;
    const aspi_manager* m = open_iscsi_manager({"127.0.0.1"}, &error);
    if (!m)
        GTEST_SKIP() << error;
    release_aspi_manager(m);
    int port = rig_free_port();
    ASSERT_GT(port, 0);
    std::string portal = "127.0.0.1:" + std::to_string(port);
    auto start = std::chrono::steady_clock::now();
    run_result r = run_binary({"-iscsi", portal, "-l", "-dp"});
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, adapter_line(portal));
    EXPECT_EQ(r.err, "vexum: iSCSI portal " + portal + ": cannot connect: Connection refused\n");
}

TEST(IscsiReportUnreachable, UnusablePortalStopsBeforeScanning)
{
    run_result r = run_binary({"-iscsi", "host:70000"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    // Either the portal is named with its reason, or this build has no iSCSI.
    EXPECT_TRUE(r.err.find("\"host:70000\": port number out of range") != std::string::npos ||
                r.err.find("no iSCSI support") != std::string::npos)
        << r.err;
}

// A portal that lists eleven targets: the rig's two and nine more, each with
// only its controller at LUN 0, "WIDE-03" to "WIDE-11" (tids 3 to 11).
class IscsiWidePortal : public ::testing::Test {
protected:
    static tgt_rig rig;
    static constexpr int first_extra = 3, last_extra = 11;
    static void SetUpTestSuite()
    {
        if (start_tgt_rig(&rig, "iscsi-wide-rig") != 0)
            return;
        for (int tid = first_extra; tid <= last_extra; tid++) {
            std::string t = std::to_string(tid);
            std::string name = (tid < 10 ? "0" : "") + t;
            if (rig_tgtadm(rig, "--mode target --op new --tid " + t + " --targetname iqn.2026-12.org.vexum.test:wide" +
                                    name) != 0 ||
                rig_tgtadm(rig, "--mode target --op bind --tid " + t + " --initiator-address 127.0.0.1") != 0 ||
                rig_tgtadm(rig, "--mode logicalunit --op update --tid " + t + " --lun 0 --params vendor_id=VEXUM,"
                                "product_id=WIDE-" + name + ",product_rev=1.0,removable=0") != 0) {
                rig.skip_reason = "tgtadm did not add target " + t + " (see " + rig.dir + "/rig.log)";
                return;
            }
        }
    }
    static void TearDownTestSuite()
    {
        for (int tid = first_extra; tid <= last_extra; tid++)
            rig_tgtadm(rig, "--mode target --op delete --force --tid " + std::to_string(tid));
        stop_tgt_rig(&rig);
    }
    void SetUp() override
    {
        std::string reason = why_no_rig(rig);
        if (!reason.empty())
            GTEST_SKIP() << reason;
    }
    static std::string portal() { return "127.0.0.1:" + std::to_string(rig.port); }
    // The controllers of targets 2 to 10, as the portal lists them.
    static std::string wide_controllers()
    {
        std::string lines;
        for (int tid = first_extra; tid <= last_extra; tid++) {
            char address[16], product[17];
            std::snprintf(address, sizeof address, "0)ID:%X-0", tid - 1);
            std::snprintf(product, sizeof product, "WIDE-%02d         ", tid);
            lines += device_line(address, product, "1.0 ", "Rigid    ", "Unkown device (0CH)");
        }
        return lines;
    }
};
tgt_rig IscsiWidePortal::rig;

TEST_F(IscsiWidePortal, EveryListedTargetIsScanned)
{
    run_result r = run_binary({"-iscsi", portal()});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, adapter_line(portal()) + controller_0 + controller_1 + wide_controllers());
    EXPECT_EQ(r.err, "");
}

TEST_F(IscsiWidePortal, ATraceOfTheWidePortalReplaysWhole)
{
    std::string trace = rig.dir + "/wide.bus";
    run_result live = run_binary({"-iscsi", portal(), "-trace", trace});
    EXPECT_EQ(live.exit_code, 0);
    run_result replay = run_binary({"-bus", trace});
    EXPECT_EQ(replay.exit_code, 0);
    EXPECT_EQ(replay.out, live.out);
    EXPECT_EQ(replay.err, "");
    EXPECT_NE(read_text_file(trace).find("adapter 0\n  targets 11\n"), std::string::npos);
}
