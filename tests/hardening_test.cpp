// Hostile devices and media: nothing but the read-only commands ever reaches
// a manager, media are opened read-only, every wait is bounded, device and
// medium texts cannot steer the terminal, and the inputs that once broke the
// tool (tests/fixtures/hostile/) run through it cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <set>
#include <fstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/scsi_commands.h"
#include "format/bytes.h"
#include "format/output.h"
#include "harness.h"
#include "format/report_options.h"
#include "partition/partition.h"
#include "scsi/unit_medium.h"
#include "physdrive/physdrive.h"
#include "scsi/scan.h"

namespace {

// The seven operation codes the tool may send, written out here rather than
// taken from the code under test.
const std::set<int> read_only_codes = {0x05, 0x12, 0x1A, 0x25, 0x28, 0x37, 0x43};

// ---- a manager below the seam that records what reaches it ----------------

const aspi_manager* recorded_inner = nullptr;
std::vector<int> reached;         // operation code of every execute request

uint32_t recording_support(void*) { return recorded_inner ? manager_support_info(recorded_inner) : 0x0101; }
int recording_describe(void*, int adapter, adapter_description* description)
{
    if (recorded_inner)
        return recorded_inner->describe_adapter(recorded_inner->context, adapter, description);
    description->count = 1;
    return 0;
}
void recording_execute(void*, const srb_exec& request, request_outcome* outcome)
{
    reached.push_back(request.cdb[0]);
    if (recorded_inner)
        recorded_inner->execute(recorded_inner->context, request, outcome);
}
const aspi_manager recording_manager = {"recording", nullptr, recording_support, recording_describe,
                                        recording_execute, nullptr, nullptr};

// Puts the recorder in front of the current manager (or alone when inner is
// null) and opens the connection.
void record_requests(const aspi_manager* inner)
{
    recorded_inner = inner;
    reached.clear();
    select_aspi_manager(&recording_manager);
    ASSERT_EQ(aspi_open(), 0);
}

void stop_recording()
{
    aspi_close();
    release_aspi_manager(recorded_inner);
    recorded_inner = nullptr;
    select_aspi_manager(nullptr);
}

const aspi_manager* load_bus(const std::string& text)
{
    std::string error;
    const aspi_manager* manager = load_bus_text(text, "hostile.bus", "/", &error);
    EXPECT_NE(manager, nullptr) << error;
    return manager;
}

// A scan of adapter 0 with every report option on.
std::string scan_everything()
{
    run_result r = capture_output([] { scan_bus(0, -1, -1, report_options{true, true, true, true}); });
    return r.out;
}

// The bytes of a report that could steer a terminal: control bytes other
// than the line end, and DEL.
std::string control_bytes_in(const std::string& text)
{
    std::string found;
    for (unsigned char c : text) {
        if ((c < 0x20 && c != '\n') || c == 0x7F) {
            char hex[4];
            snprintf(hex, sizeof hex, "%02X ", c);
            found += hex;
        }
    }
    return found;
}

std::string write_binary_file(const std::string& name, const std::vector<uint8_t>& bytes, mode_t mode = 0644)
{
    // The process id keeps test runs of several work trees apart.
    std::string path = ::testing::TempDir() + "vexum-" + std::to_string(getpid()) + "-" + name;
    remove(path.c_str());
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return "";
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    chmod(path.c_str(), mode);
    return path;
}

// ---- small media ----------------------------------------------------------

struct medium {
    std::vector<uint8_t> bytes;
    uint8_t* sector(size_t lba)
    {
        if (bytes.size() < (lba + 1) * 512)
            bytes.resize((lba + 1) * 512, 0);
        return bytes.data() + lba * 512;
    }
};

void signature(uint8_t* s)
{
    s[0x1FE] = 0x55;
    s[0x1FF] = 0xAA;
}

void entry(uint8_t* table, int index, uint8_t type, uint32_t start, uint32_t count)
{
    uint8_t* e = table + 0x1BE + 16 * index;
    e[4] = type;
    put_le32(e + 8, start);
    put_le32(e + 12, count);
}

// A FAT boot sector whose OEM name, label and file system name carry escape
// sequences.
void hostile_boot(uint8_t* s, bool fat32)
{
    s[0] = 0xEB;
    std::memcpy(s + 0x03, "OEM\x1b]0;", 8);
    put_le16(s + 0x0B, 512);
    s[0x0D] = 1;
    put_le16(s + 0x0E, 1);
    s[0x10] = 2;
    put_le16(s + 0x13, 100);
    s[0x15] = fat32 ? 0xF8 : 0xF0;
    std::memcpy(s + (fat32 ? 0x47 : 0x2B), "LBL\x1b[2J\x07\x08\x7f", 11);
    std::memcpy(s + (fat32 ? 0x52 : 0x36), "FS\x1b[31m\r", 8);
    signature(s);
}

} // namespace

// ---- no write, ever -------------------------------------------------------

TEST(NoWrite, TheSeamPassesOnlyTheSevenReadCommandsOfAllOperationCodes)
{
    record_requests(nullptr);
    for (int op = 0; op < 256; op++) {
        srb_exec srb;
        std::memset(&srb, 0, sizeof srb);
        srb.command = SC_EXEC_SCSI_CMD;
        srb.cdb_length = op < 0x20 ? 6 : 10;
        srb.cdb[0] = uint8_t(op);
        uint32_t status = aspi_send_command(&srb);
        if (read_only_codes.count(op) == 0) {
            EXPECT_EQ(status, SS_INVALID_SRB) << "operation code " << op;
        }
    }
    EXPECT_EQ(std::set<int>(reached.begin(), reached.end()), read_only_codes);
    EXPECT_EQ(reached.size(), read_only_codes.size());
    // Request kinds other than the adapter inquiry and the execute request
    // (abort, reset, device type...) are refused by the seam: a manager has
    // no call that could receive them.
    for (int command = 0; command < 256; command++) {
        if (command == SC_EXEC_SCSI_CMD || command == SC_HA_INQUIRY)
            continue;
        uint8_t request[sizeof(srb_exec)] = {};
        request[0] = uint8_t(command);
        EXPECT_EQ(aspi_send_command(request), SS_INVALID_SRB) << "request kind " << command;
    }
    stop_recording();
}

TEST(NoWrite, AHostileBusMakesTheScanSendNothingButReadCommands)
{
    // Units that answer every command, write and format ones included, and
    // claim media of every kind: whatever they answer, the scan and all its
    // reports ask them only to read.
    std::string image = write_binary_file("nowrite.img", std::vector<uint8_t>(64 * 512, 0));
    std::string bus = "adapters 1\nadapter 0\n manager \"M\"\n";
    const char* types[] = {"00", "01", "04", "05", "07", "08", "0C"};
    for (int t = 0; t < 7; t++) {
        bus += "unit 0:" + std::to_string(t) + ":0\n image " + image + " 512\n";
        bus += " on 12 00\n  data " + std::string(types[t]) + " 80 02 02 1F 00 00 00 \"VENDOR  PD-2 PRODUCT    REV1\"\n";
        for (const char* op : {"0A", "2A", "04", "15", "55", "1B", "35", "3B", "A1", "1E", "2E", "41"})
            bus += std::string(" on ") + op + "\n  data zeros 8\n";
        bus += " on 25\n  data 00 00 00 3F 00 00 02 00\n";
        bus += " on 05\n  data 00 00 10 00 02 00\n";
    }
    bus += "unit 0:1:3\n on 12 00\n  data 00 00 02 02\n";
    const aspi_manager* inner = load_bus(bus);
    ASSERT_NE(inner, nullptr);
    record_requests(inner);
    std::string report = scan_everything();
    stop_recording();
    ASSERT_FALSE(reached.empty());
    for (int op : reached)
        EXPECT_EQ(read_only_codes.count(op), 1u) << "operation code " << op << " reached the manager";
    // The scan did reach the units and their media.
    std::set<int> sent(reached.begin(), reached.end());
    EXPECT_EQ(sent.count(0x12), 1u);
    EXPECT_EQ(sent.count(0x25), 1u);
    EXPECT_EQ(sent.count(0x28), 1u);
    EXPECT_EQ(sent.count(0x05), 1u);
    EXPECT_NE(report.find("0)ID:1-3"), std::string::npos) << report;
    remove(image.c_str());
}

namespace {

// The access mode of this process's open descriptor of path, from
// /proc/self/fdinfo; -1 when no descriptor of it is open.
int open_access_mode(const std::string& path)
{
    char wanted[PATH_MAX];
    if (!realpath(path.c_str(), wanted))
        return -1;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int mode = -1;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        char target[PATH_MAX] = {};
        std::string link = std::string("/proc/self/fd/") + e->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0 || std::string(target, size_t(n)) != wanted)
            continue;
        std::string info = read_text_file(std::string("/proc/self/fdinfo/") + e->d_name);
        size_t at = info.find("flags:");
        if (at != std::string::npos)
            mode = int(strtol(info.c_str() + at + 6, nullptr, 8) & O_ACCMODE);
    }
    closedir(dir);
    return mode;
}

} // namespace

TEST(NoWrite, ImagesAndBusFileMediaAreOpenedReadOnly)
{
    if (access("/proc/self/fdinfo", R_OK) != 0)
        GTEST_SKIP() << "no /proc/self/fdinfo on this system";
    std::string image = write_binary_file("readonly-flags.img", std::vector<uint8_t>(8 * 512, 0));
    std::string error;
    ASSERT_EQ(open_image_drive(image.c_str(), &error), 0) << error;
    EXPECT_EQ(open_access_mode(image), O_RDONLY);
    close_physical_drives();
    EXPECT_EQ(open_access_mode(image), -1);

    const aspi_manager* bus = load_bus("unit 0:0:0\n image " + image + " 512\n");
    ASSERT_NE(bus, nullptr);
    EXPECT_EQ(open_access_mode(image), O_RDONLY);
    release_aspi_manager(bus);
    remove(image.c_str());
}

TEST(NoWrite, AnImageNobodyMayWriteIsReported)
{
    // Permissions do not stop root: as root the tool runs as nobody here, so
    // an open that asked for write access would fail.
    medium m;
    entry(m.sector(0), 0, 0x83, 1, 7);
    signature(m.sector(0));
    m.sector(7);
    std::string image = write_binary_file("readonly-mode.img", m.bytes, 0444);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(90);
        execl(VEXUM_BINARY, VEXUM_BINARY, "-image", image.c_str(), (char*)nullptr);
        _exit(91);
    }
    close(out[1]);
    std::string report;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 90)
        GTEST_SKIP() << "cannot drop root privileges here";
    if (WEXITSTATUS(status) == 91)
        GTEST_SKIP() << "the built tool cannot be run as nobody from where it lies";
    EXPECT_EQ(WEXITSTATUS(status), 0) << report;
    EXPECT_EQ(report, "\nDisk:" + image + "\n  IBM HARD DISK FORMAT               4,096 bytes\n"
                      "  ( 1)                               3,584 .. Linux native            \n");
    remove(image.c_str());
}

TEST(NoWrite, TheToolOpensNothingForWriting)
{
    if (system("strace -V >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace is not installed";
    std::string log = ::testing::TempDir() + "vexum-" + std::to_string(getpid()) + "-nowrite.strace";
    std::string samples = std::string(VEXUM_SAMPLES) + "/";
    // A bus whose units read an image file beside it, besides the sample
    // bus's own disk.
    std::string dir = make_temp_directory("vexum-nowrite-");
    ASSERT_NE(dir, "");
    ASSERT_TRUE(run_quietly("cp " + samples + "sample-towns.img " + dir + "/towns.img"));
    std::ofstream(dir + "/bus.bus") << read_text_file(std::string(VEXUM_SOURCE_DIR) + "/samples/sample.bus")
                                    << "unit 0:1:0\n  image towns.img 512\n  on 12 00\n    data 00 00 02 02\n";
    // Every command at once: the machine's own drives, an image, a bus with
    // an image, every report option.
    std::string command = "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=open,openat,openat2,creat -o " + log +
                          " " + VEXUM_BINARY + " -disk -scsi -ldpo -image " + samples + "sample-floppy.img -bus " +
                          dir + "/bus.bus >/dev/null 2>&1";
    int status = system(command.c_str());
    std::string trace = read_text_file(log);
    run_quietly("rm -rf " + dir);
    if (trace.find("PTRACE") != std::string::npos || trace.empty())
        GTEST_SKIP() << "strace cannot trace here: " << trace.substr(0, 200);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << trace;
    EXPECT_NE(trace.find("sample-floppy.img"), std::string::npos);
    EXPECT_NE(trace.find("towns.img"), std::string::npos);
    size_t start = 0;
    while (start < trace.size()) {
        size_t end = trace.find('\n', start);
        if (end == std::string::npos)
            end = trace.size();
        std::string line = trace.substr(start, end - start);
        for (const char* flag : {"O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "creat("})
            EXPECT_EQ(line.find(flag), std::string::npos) << line;
        start = end + 1;
    }
    remove(log.c_str());
}

// ---- no hang --------------------------------------------------------------

namespace {

// Time of a scan of adapter 0 under a shortened request wait.
std::chrono::milliseconds timed_scan(const std::string& bus, unsigned wait_ms, bool all_luns, std::string* report)
{
    const aspi_manager* manager = load_bus(bus);
    if (!manager)
        return std::chrono::milliseconds(0);
    record_requests(manager);
    aspi_set_wait_limit_ms(wait_ms);
    report_options options{all_luns, true, true, true};
    auto start = std::chrono::steady_clock::now();
    run_result r = capture_output([&] { scan_bus(0, -1, -1, options); });
    auto elapsed = std::chrono::steady_clock::now() - start;
    aspi_set_wait_limit_ms(10000);
    stop_recording();
    if (report)
        *report = r.out;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed);
}

} // namespace

TEST(NoHang, SevenTargetsThatNeverAnswerCostSevenWaits)
{
    std::string bus = "adapter 0\n manager \"M\"\n";
    for (int t = 0; t < 7; t++)
        bus += "unit 0:" + std::to_string(t) + ":0\n on 12\n  hang\n";
    std::string report;
    auto elapsed = timed_scan(bus, 100, false, &report);
    EXPECT_EQ(reached.size(), 7u);
    EXPECT_GE(elapsed.count(), 7 * 100);
    EXPECT_LT(elapsed.count(), 7 * 100 + 2000);
    EXPECT_EQ(report, "\nHost adapter #0 - M" + std::string(15, ' ') + " " + std::string(16, ' ') + " " +
                          std::string(16, ' ') + "\n");
}

TEST(NoHang, WithAllLunsEightWaitsPerTarget)
{
    std::string bus;
    for (int t = 0; t < 7; t++)
        for (int l = 0; l < 8; l++)
            bus += "unit 0:" + std::to_string(t) + ":" + std::to_string(l) + "\n on 12\n  hang\n";
    auto elapsed = timed_scan(bus, 20, true, nullptr);
    EXPECT_EQ(reached.size(), 56u);
    EXPECT_GE(elapsed.count(), 56 * 20);
    EXPECT_LT(elapsed.count(), 56 * 20 + 2000);
}

TEST(NoHang, AUnitThatAnswersOnlyInquiryCostsOneWaitPerReport)
{
    // Every command after INQUIRY never completes: each report gives up
    // after its first request, so the unit costs one wait per request sent.
    std::string bus = "unit 0:0:0\n on 12 00\n  data 00 00 02 02 1F 00 00 00 \"V\"\n";
    for (const char* op : {"12 01", "1A", "25", "28", "37", "43", "05"})
        bus += std::string(" on ") + op + "\n  hang\n";
    std::string report;
    auto elapsed = timed_scan(bus, 50, false, &report);
    // Seven probes answer at once (six of them find nobody); the rest wait.
    ASSERT_GE(reached.size(), 8u);
    long waits = long(reached.size()) - 7;
    EXPECT_GE(elapsed.count(), waits * 50);
    EXPECT_LT(elapsed.count(), waits * 50 + 2000);
    EXPECT_LE(waits, 15);
    EXPECT_NE(report.find("Error occured at read capacity."), std::string::npos) << report;
}

TEST(NoHang, UnitAttentionOnEveryCommandIsResentABoundedNumberOfTimes)
{
    std::string bus = "unit 0:0:0\n attention 1000000\n on 12 00\n  data 00 00 02 02\n";
    std::string report;
    timed_scan(bus, 10000, false, &report);
    // The probe of target 0 gives up and the unit is not listed; targets 1
    // to 6 are probed once each.
    EXPECT_EQ(reached.size(), size_t(1 + UNIT_ATTENTION_RESENDS) + 6);
    EXPECT_LE(reached.size(), 16u);
    EXPECT_EQ(report, "\nHost adapter #0 - " + std::string(50, ' ') + "\n");
}

namespace {

// A unit whose medium is an endless extended chain: block N holds a boot
// record with one Linux partition and a link to block N + 1. Nothing but
// READ(10) is answered.
uint32_t chain_support(void*) { return 0x0101; }
void chain_execute(void*, const srb_exec& request, request_outcome*)
{
    uint32_t block = get_be32(request.cdb + 2);
    uint8_t* s = request.data_buffer;
    std::memset(s, 0, request.data_length);
    if (block == 0) {
        entry(s, 0, 0x05, 1, 0xFFFFFFF0u);
    } else {
        entry(s, 0, 0x83, 1, 1);
        entry(s, 1, 0x05, block, 1); // relative to the chain's first record
    }
    signature(s);
    reached.push_back(request.cdb[0]);
}
const aspi_manager chain_manager = {"chain", nullptr, chain_support, nullptr, chain_execute, nullptr, nullptr};

} // namespace

TEST(NoHang, AnEndlessExtendedChainStopsAtTheLinkCap)
{
    select_aspi_manager(&chain_manager);
    ASSERT_EQ(aspi_open(), 0);
    reached.clear();
    uint8_t sector0[512] = {};
    device_address unit{0, 0, 0};
    medium_reader medium = unit_medium(&unit, 512, uint64_t(1) << 32);
    auto start = std::chrono::steady_clock::now();
    run_result r = capture_output([&] {
        ASSERT_EQ(scsi_read({0, 0, 0}, 0, 1, 512, sector0), 0);
        decode_medium(&medium, sector0, report_options{});
    });
    auto elapsed = std::chrono::steady_clock::now() - start;
    aspi_close();
    select_aspi_manager(nullptr);
    EXPECT_EQ(reached.size(), size_t(MAX_EXTENDED_LINKS) + 1);
    EXPECT_LT(elapsed, std::chrono::seconds(60));
    const std::string last = "  (--)  Extended chain stopped: more than 100,000 links\n";
    ASSERT_GE(r.out.size(), last.size());
    EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last);
}

// ---- terminal safety ------------------------------------------------------

TEST(TerminalSafety, EscapeSequencesFromDevicesAndMediaReachTheReportAsDots)
{
    medium disk; // FAT16 and FAT32 partitions
    entry(disk.sector(0), 0, 0x06, 1, 100);
    entry(disk.sector(0), 1, 0x0B, 2, 100);
    signature(disk.sector(0));
    hostile_boot(disk.sector(1), false);
    disk.sector(1)[0x15] = 0xF8;
    hostile_boot(disk.sector(2), true);
    disk.sector(200);
    std::string disk_path = write_binary_file("escape-disk.img", disk.bytes);

    medium floppy;
    hostile_boot(floppy.sector(0), false);
    floppy.sector(3);
    std::string floppy_path = write_binary_file("escape-floppy.img", floppy.bytes);

    medium towns;
    std::memcpy(towns.sector(0), "IPL4", 4);
    uint8_t* e = towns.sector(1) + 0x20;
    put_le32(e + 2, 2);
    put_le32(e + 6, 8);
    std::memcpy(e + 0x10, "MS-DOS\x1b[5m\x1b[1;1H", 16);
    std::memcpy(e + 0x20, "SECOND\x1b[?25l\x0c\x0e", 14);
    e += 0x30;
    put_le32(e + 2, 10);
    put_le32(e + 6, 8);
    std::memcpy(e + 0x10, "OTHER\x1b]2;pwn\x07", 14);
    std::memcpy(e + 0x20, "\x1b" "c", 2);
    hostile_boot(towns.sector(2), false);
    towns.sector(2)[0x15] = 0xF8;
    towns.sector(20);
    std::string towns_path = write_binary_file("escape-towns.img", towns.bytes);

    std::string bus = R"(
adapter 0
  manager  "MGR\x1b[2J\x1b[H" 07
  identity "HBA\x1b]0;title\x07"
  unique   1B 5B 34 34 6D 00
unit 0:0:0
  image )" + disk_path + R"( 512
  on 12 00
    data 00 00 02 02 1F 00 00 00 "VEN\x1b[31m" "PROD\x1b[1;1H\x1b[2K\x08\x7f" "R\x1b[m"
  on 12 01 00
    data 00 00 00 02 80 83
  on 12 01 80
    data 00 80 00 08 "S\x1b[2J\x07\x0d\x0a"
  on 12 01 83
    data 00 83 00 0C 02 01 00 08 "ID\x1b[31mX"
)";
    std::string bus_path = write_temp_file(bus);
    run_result r = run_in_process({"-bus", bus_path, "-dp", "-scsi", "-image", floppy_path, "-image", towns_path});
    for (const std::string& path : {bus_path, disk_path, floppy_path, towns_path})
        remove(path.c_str());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(control_bytes_in(r.out), "");
    // Each text did reach the report, with its control bytes as dots.
    for (const char* shown : {"MGR.[2J.[H.", "HBA.]0;title.", ".[44m", "VEN.[31m", "PROD.[1;1H.[2K", "R.[m",
                              "OEM.]0;", "LBL.[2J", "FS.[31m.", "MS-DOS.[5m.[1;1H", "SECOND.[?25l..",
                              "OTHER.]2;pwn.", ".c"})
        EXPECT_NE(r.out.find(shown), std::string::npos) << shown << "\n" << r.out;
}

// ---- inputs that once broke the tool ---------------------------------------

namespace {

std::vector<std::string> hostile_fixtures(const char* suffix)
{
    std::vector<std::string> names;
    DIR* dir = opendir(fixture_path("hostile").c_str());
    if (!dir)
        return names;
    while (const dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        size_t n = strlen(suffix);
        if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0)
            names.push_back(name);
    }
    closedir(dir);
    return names;
}

} // namespace

// Every bus file and image under tests/fixtures/hostile runs through the
// whole tool with every option; the sanitizer build catches what it once
// did wrong, and none of them may put a control byte into the report.
TEST(FuzzRegression, EveryHostileFixtureRunsCleanly)
{
    aspi_set_wait_limit_ms(20);
    for (const std::string& name : hostile_fixtures(".bus")) {
        run_result r = run_in_process({"-bus", fixture_path("hostile/" + name), "-ldpo"});
        EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1 || r.exit_code == 2) << name;
        EXPECT_EQ(control_bytes_in(r.out), "") << name;
    }
    for (const std::string& name : hostile_fixtures(".img")) {
        run_result r = run_in_process({"-image", fixture_path("hostile/" + name), "-dpo"});
        EXPECT_EQ(r.exit_code, 0) << name;
        EXPECT_EQ(control_bytes_in(r.out), "") << name;
    }
    aspi_set_wait_limit_ms(10000);
}

TEST(FuzzRegression, IdentificationLinesWithoutBytesLeaveTheFieldsZero)
{
    run_result r = run_in_process({"-bus", fixture_path("hostile/empty-identification.bus")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "\nHost adapter #0 - " + std::string(50, ' ') + "\n");
}
