// The bus scan, the host adapter line and the device line, as whole reports
// of the tool over bus files.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "harness.h"

namespace {

run_result scan(const std::string& bus, std::vector<std::string> args = {}) { return run_bus_text(bus, args); }

std::string blanks(int n) { return std::string(size_t(n), ' '); }

const char* const adapter0 = "adapters 1\nadapter 0\n manager \"MGR\"\n identity \"ADAPTER\"\n";
const char* const adapter_line0 = "\nHost adapter #0 - MGR              ADAPTER                          \n";

} // namespace

TEST(Scan, EmptyBusPrintsTheAdapterLineAlone)
{
    run_result r = scan(adapter0);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, adapter_line0);
    EXPECT_EQ(r.err, "");
}

TEST(Scan, HostAdapterLineFieldsArePaddedToSixteen)
{
    run_result r = scan("adapters 2\nadapter 1\n manager \"MGR\"\n identity \"ADAPTER\"\n unique 00 41\n", {"-scsi", "1"});
    EXPECT_EQ(r.out, "\nHost adapter #1 - MGR" + blanks(13) + " ADAPTER" + blanks(9) + " " + blanks(16) + "\n");
    r = scan("adapter 0\n manager \"0123456789ABCDEF\" \n identity \"0123456789\" 00 \"X\"\n");
    EXPECT_EQ(r.out, "\nHost adapter #0 - 0123456789ABCDEF 0123456789       " + blanks(16) + "\n");
}

TEST(Scan, BusFileRejectsAnOverlongIdentification)
{
    run_result r = scan("adapter 0\n manager \"0123456789ABCDEFX\"\n");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find(":2: manager longer than 16 bytes"), std::string::npos) << r.err;
}

TEST(Scan, RejectedAdapterHasNoLineButItsTargetsAreStillProbed)
{
    run_result r = scan("adapters 2\nadapter 1 reject\nunit 1:0:0\n on 12\n  data 00 00 02 02\n", {"-scsi", "1"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
}

TEST(Scan, ManagerNotReadyAndNoAdapterAreFatal)
{
    run_result r = scan("support E800\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error:Can't initialize ASPI Manager.E800\nASPI manager initilize error!\n");
    r = scan("adapters 0\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Host inquiry error!\n");
}

TEST(DeviceLine, ExamplesOfTheReport)
{
    std::string bus = std::string(adapter0) + R"(
unit 0:2:0
  on 12 00
    data 00 00 02 02 1F 00 00 00 "ABC" 00 zeros 4 "XYZ" 00 zeros 12 "1.0" 00
unit 10:3:1
  on 12 00
    data 05 80 00 00 1F 00 00 00 "ABC     XYZ             1.0 "
)";
    run_result r = scan(bus);
    EXPECT_EQ(r.out, std::string(adapter_line0) +
                         "\n0)ID:2-0 SCSI-2 ABC      XYZ              1.0  Rigid     - Direct access device\n"
                         "    Error occured at read capacity.\n");
    r = scan(bus + "adapters 11\n", {"-scsi", "10:3:1"});
    EXPECT_EQ(r.out, "\nHost adapter #10 - " + blanks(50) + "\n\nA)ID:3-1" + blanks(38) + "Removable - CD-ROM device\n");
}

TEST(DeviceLine, TypesVersionsAndQualifiers)
{
    std::string bus = std::string(adapter0) + R"(
unit 0:0:0
  on 12 00
    data 7F 00 02 02 1F 00 00 00 "HIDDEN  "
unit 0:1:0
  on 12 00
    data 20 00 01 02 1F 00 00 00 "QUAL1   " "DISK            " "0001"
  on 25
    data 00 00 00 00 00 00 00 00
unit 0:2:0
  on 12 00
    data 0C 00 03 01 1F 00 00 00 "V       " "P               " "R   "
unit 0:3:0
  on 12 00
    data 06 00 00 02 1F 00 00 00 "SCAN    " "FLATBED         " "2   "
unit 0:4:0
  on 12 00
    data 08 80 02 02 1F 00 00 00 "ROBOT   " "CHANGER         " "9.99"
)";
    run_result r = scan(bus);
    EXPECT_EQ(r.out, std::string(adapter_line0) +
                         // qualifier bits are not looked at; block length 0 ends the disk path quietly
                         "\n0)ID:1-0 SCSI-1 QUAL1    DISK             0001 Rigid     - Direct access device\n"
                         "\n0)ID:2-0       V        P                R    Rigid     - Unkown device (0CH)\n"
                         "\n0)ID:3-0       SCAN     FLATBED          2    Rigid     - Scaner device\n"
                         "\n0)ID:4-0 SCSI-2 ROBOT    CHANGER          9.99 Removable - Medium changer device\n");
}

TEST(DeviceLine, CapacityPathMessages)
{
    std::string bus = std::string(adapter0) + R"(
unit 0:0:0
  on 12 00
    data 00 80 02 02 1F 00 00 00 "VENDOR  " "REMOVABLE DISK  " "1   "
  on 25
    status 02
    sense 70 00 02 00 00 00 00 0A 00 00 00 00 3A 00
unit 0:1:0
  on 12 00
    data 07 00 02 02 1F 00 00 00 "VENDOR  " "MO DISK         " "1   "
)";
    run_result r = scan(bus);
    EXPECT_EQ(r.out, std::string(adapter_line0) +
                         "\n0)ID:0-0 SCSI-2 VENDOR   REMOVABLE DISK   1    Removable - Direct access device\n"
                         "    Cartrige error\n"
                         "\n0)ID:1-0 SCSI-2 VENDOR   MO DISK          1    Rigid     - Optical memory device\n"
                         "    Error occured at read capacity.\n");
}

TEST(DeviceLine, ControlBytesInDeviceTextArePrintedAsDots)
{
    std::string bus = "adapter 0\n manager \"EVIL\\x1B]0;x\\x07\"\n identity \"A\\x1B[2J\"\n" R"(
unit 0:0:0
  on 12 00
    data 03 00 02 02 1F 00 00 00 "\x1B[31mRED" "\x1B]2;pwned\x07\x9B\x7F    " "\x0D\x0A\x08X"
)";
    run_result r = scan(bus);
    EXPECT_EQ(r.out, "\nHost adapter #0 - EVIL.]0;x.       A.[2J            " + blanks(16) +
                         "\n\n0)ID:0-0 SCSI-2 .[31mRED .]2;pwned.\x9B.     ...X Rigid     - Processor device\n");
    EXPECT_EQ(r.out.find('\x1B'), std::string::npos);
}

TEST(Probe, LunsTargetSevenAndExplicitAddresses)
{
    std::string bus = std::string(adapter0) + R"(
unit 0:0:0
  on 12 00
    data 03 00 02 02 1F 00 00 00 "V       " "LUN ZERO        " "1   "
unit 0:0:5
  on 12 00
    data 03 00 02 02 1F 00 00 00 "V       " "LUN FIVE        " "1   "
unit 0:7:0
  on 12 00
    data 03 00 02 02 1F 00 00 00 "V       " "TARGET SEVEN    " "1   "
)";
    const std::string lun0 = "\n0)ID:0-0 SCSI-2 V        LUN ZERO         1    Rigid     - Processor device\n";
    const std::string lun5 = "\n0)ID:0-5 SCSI-2 V        LUN FIVE         1    Rigid     - Processor device\n";
    const std::string seven = "\n0)ID:7-0 SCSI-2 V        TARGET SEVEN     1    Rigid     - Processor device\n";
    EXPECT_EQ(scan(bus).out, adapter_line0 + lun0);
    EXPECT_EQ(scan(bus, {"-l"}).out, adapter_line0 + lun0 + lun5);
    EXPECT_EQ(scan(bus, {"-scsi", "0:0:5"}).out, adapter_line0 + lun5);
    EXPECT_EQ(scan(bus, {"-scsi", "0:7"}).out, adapter_line0 + seven);
    EXPECT_EQ(scan(bus, {"-scsi", "0:7", "-l"}).out, adapter_line0 + seven);
}

TEST(Probe, InquiryBufferIsClearedBetweenUnits)
{
    std::string bus = std::string(adapter0) + R"(
unit 0:0:0
  on 12 00
    data 03 00 02 02 1F 00 00 00 "LONGVEND" "LONG PRODUCT ID " "REV1"
unit 0:1:0
  on 12 00
    data 03 00 02 02 1F 00 00 00 "SHORT"
)";
    EXPECT_EQ(scan(bus).out, std::string(adapter_line0) +
                                 "\n0)ID:0-0 SCSI-2 LONGVEND LONG PRODUCT ID  REV1 Rigid     - Processor device\n"
                                 "\n0)ID:1-0 SCSI-2 SHORT                          Rigid     - Processor device\n");
}

TEST(Probe, AddressesBeyondOneByteDoNotWrapOntoRealUnits)
{
    std::string bus = std::string(adapter0) + R"(
unit 0:0:0
  on 12 00
    data 03 00 02 02 1F 00 00 00 "V       " "LUN ZERO        " "1   "
)";
    for (const char* address : {"256", "4294967296"})
        EXPECT_EQ(scan(bus, {"-scsi", address}).out, "") << address;
    EXPECT_EQ(scan(bus, {"-scsi", "0:0:256"}).out, adapter_line0);
    EXPECT_EQ(scan(bus, {"-scsi", "256:0"}).exit_code, 0);
    // The target field is one digit wide: 0:256 names target 2 and no LUN.
    EXPECT_EQ(scan(bus, {"-scsi", "0:256"}).out, adapter_line0);
}

TEST(RunDriver, QuestionMarkPrintsTheUsageAndScansNothing)
{
    run_result r = run_binary({"-?"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out.rfind("***** scan SCSI device -- vexum version 0.99a edition #02 *****\n", 0), 0u);
    EXPECT_EQ(r.err, "");
    run_result scanned = scan(std::string(adapter0) + "unit 0:0:0\n on 12\n  data 03 00 02 02\n", {"-d", "-?"});
    EXPECT_EQ(scanned.exit_code, 1);
    EXPECT_EQ(scanned.out, r.out);
}

TEST(RunDriver, HelpAndVersionExitZeroAndScanNothing)
{
    run_result usage = run_binary({"-?"});
    run_result help = run_binary({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out, usage.out);
    EXPECT_EQ(help.err, "");

    run_result version = run_binary({"-ldp", "--version", "-scsi"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, std::string("vexum ") + VEXUM_VERSION + "\n");
    EXPECT_EQ(version.err, "");
    // The package's version: digits and dots, as the .deb and the manual
    // pages carry it.
    EXPECT_TRUE(std::regex_match(std::string(VEXUM_VERSION), std::regex("[0-9]+(\\.[0-9]+)+"))) << VEXUM_VERSION;

    // A bus with a unit: --help scans nothing of it.
    run_result scanned = scan(std::string(adapter0) + "unit 0:0:0\n on 12\n  data 03 00 02 02\n", {"--help"});
    EXPECT_EQ(scanned.exit_code, 0);
    EXPECT_EQ(scanned.out, usage.out);
}

TEST(RunDriver, DiskWordAloneRunsNoScsiScan)
{
    std::string bus = std::string(adapter0) + "unit 0:0:0\n on 12\n  data 03 00 02 02\n";
    run_result r = scan(bus, {"-disk", "31"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.find("Host adapter"), std::string::npos);
    r = scan(bus, {"-disk", "31", "-scsi"});
    EXPECT_EQ(r.out.rfind(adapter_line0, 0), 0u);
    r = scan(bus, {"-scsi", "-disk", "31"});
    EXPECT_EQ(r.out.rfind(adapter_line0, 0), 0u);
}

TEST(DeviceLine, LastBlockAddressOfAllOnesDoesNotWrapTheMediumSize)
{
    std::string bus = std::string(adapter0) + R"(
unit 0:0:0
  on 12 00
    data 00 00 02 02 1F 00 00 00 "VENDOR  " "BIG DISK        " "1   "
  on 25
    data FF FF FF FF 00 00 02 00
  on 28 .. 00 00 00 00
    data zeros 510 55 AA
)";
    EXPECT_EQ(scan(bus).out, std::string(adapter_line0) +
                                 "\n0)ID:0-0 SCSI-2 VENDOR   BIG DISK         1    Rigid     - Direct access device\n"
                                 "  IBM HARD DISK FORMAT       2,199,023,255,552 bytes\n"
                                 "  (--)  Free disk space      2,199,023,255,552 bytes (4,294,967,296 sectors)\n");
}
