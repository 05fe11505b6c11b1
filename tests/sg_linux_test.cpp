// The Linux SCSI generic manager against a fake sysfs tree, and its
// translation of SG_IO outcomes to ASPI status bytes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "aspi/manager.h"
#include "aspi/sg_linux.h"
#include "format/output.h"
#include "harness.h"

namespace {

// A temporary folder that holds a fake /sys and /dev; removed afterwards.
struct fake_system {
    std::string root;

    fake_system()
    {
        root = make_temp_directory("vexum-sg-");
        make_dir("/sys");
        make_dir("/dev");
    }
    ~fake_system()
    {
        set_sg_roots(nullptr, nullptr);
        if (!root.empty())
            std::system(("rm -rf '" + root + "'").c_str());
    }
    std::string sys() const { return root + "/sys"; }
    std::string dev() const { return root + "/dev"; }

    void make_dir(const std::string& path) const
    {
        std::string full = root;
        size_t start = 1;
        while (start <= path.size()) {
            size_t slash = path.find('/', start);
            if (slash == std::string::npos)
                slash = path.size();
            full = root + path.substr(0, slash);
            mkdir(full.c_str(), 0755);
            start = slash + 1;
        }
    }
    void write_file(const std::string& path, const std::string& text) const
    {
        make_dir(path.substr(0, path.rfind('/')));
        std::ofstream(root + path) << text;
    }
    void add_host(int number, const std::string& driver) const
    {
        write_file("/sys/class/scsi_host/host" + std::to_string(number) + "/proc_name", driver + "\n");
    }
    // sg < 0: no SCSI generic node.
    void add_device(const std::string& hctl, int sg) const
    {
        std::string dir = "/sys/bus/scsi/devices/" + hctl;
        write_file(dir + "/type", "0\n");
        if (sg >= 0)
            make_dir(dir + "/scsi_generic/sg" + std::to_string(sg));
    }
};

srb_exec make_inquiry(int adapter, int target, int lun, uint8_t* data)
{
    srb_exec srb;
    std::memset(&srb, 0, sizeof srb);
    srb.command = SC_EXEC_SCSI_CMD;
    srb.host_adapter = uint8_t(adapter);
    srb.flags = 0x48;
    srb.target = uint8_t(target);
    srb.lun = uint8_t(lun);
    srb.data_length = 40;
    srb.data_buffer = data;
    srb.sense_length = SENSE_LEN;
    srb.cdb_length = 6;
    srb.cdb[0] = 0x12;
    srb.cdb[4] = 40;
    return srb;
}

std::string capture_errors(FILE* f)
{
    fflush(f);
    rewind(f);
    std::string text;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    return text;
}

} // namespace

TEST(SgTopology, HostsInNumberOrderWithOneAdapterPerChannel)
{
    fake_system fs;
    fs.add_host(10, "megaraid_sas");
    fs.add_host(2, "scsi_debug");
    fs.add_host(0, "virtio_scsi");
    fs.add_host(1, "a_driver_name_longer_than_16");
    fs.write_file("/sys/class/scsi_host/not_a_host/proc_name", "x\n");
    fs.add_device("0:0:2:3", 2);
    fs.add_device("0:0:0:0", 0);
    fs.add_device("2:0:1:1", -1);
    fs.write_file("/sys/bus/scsi/devices/2:0:1:1/scsi_generic:sg7/dev", "21:7\n"); // older kernels
    fs.add_device("2:0:0:0", -1);
    fs.add_device("10:2:5:0", 12);
    fs.add_device("10:0:0:0", 11);
    fs.add_device("7:0:0:0", 9); // a device of no listed host is ignored
    fs.make_dir("/sys/bus/scsi/devices/host0");
    fs.make_dir("/sys/bus/scsi/devices/target0:0:0");
    fs.make_dir("/sys/bus/scsi/devices/0:0:x:0");
    fs.make_dir("/sys/bus/scsi/devices/0:0:1");

    sg_topology t;
    ASSERT_EQ(read_sg_topology(fs.sys().c_str(), &t), 0);
    ASSERT_EQ(t.adapters.size(), 5u);
    const int hosts[] = {0, 1, 2, 10, 10};
    const int channels[] = {0, 0, 0, 0, 2};
    const char* drivers[] = {"virtio_scsi", "a_driver_name_lo", "scsi_debug", "megaraid_sas", "megaraid_sas"};
    const size_t unit_counts[] = {2, 0, 2, 1, 1};
    for (size_t i = 0; i < 5; i++) {
        EXPECT_EQ(t.adapters[i].host_number, hosts[i]) << i;
        EXPECT_EQ(t.adapters[i].channel, channels[i]) << i;
        EXPECT_EQ(t.adapters[i].driver, drivers[i]) << i;
        EXPECT_EQ(t.adapters[i].units.size(), unit_counts[i]) << i;
    }
    EXPECT_EQ(get_sg_support_info(t), 0x0105u);

    const sg_unit* u = find_sg_unit(t, 0, 2, 3);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->sg_number, 2);
    EXPECT_EQ(find_sg_unit(t, 0, 2, 0), nullptr); // a LUN 3 alone does not make a LUN 0
    ASSERT_NE(find_sg_unit(t, 2, 1, 1), nullptr);
    EXPECT_EQ(find_sg_unit(t, 2, 1, 1)->sg_number, 7);
    ASSERT_NE(find_sg_unit(t, 2, 0, 0), nullptr);
    EXPECT_EQ(find_sg_unit(t, 2, 0, 0)->sg_number, -1);
    ASSERT_NE(find_sg_unit(t, 4, 5, 0), nullptr);
    EXPECT_EQ(find_sg_unit(t, 4, 5, 0)->sg_number, 12);
    EXPECT_EQ(find_sg_unit(t, 3, 5, 0), nullptr);
    EXPECT_EQ(find_sg_unit(t, 5, 0, 0), nullptr);
    EXPECT_EQ(find_sg_unit(t, -1, 0, 0), nullptr);
}

TEST(SgTopology, NoScsiSupportOrNoHostIsNotReady)
{
    fake_system fs;
    sg_topology t;
    EXPECT_EQ(read_sg_topology(fs.sys().c_str(), &t), -1);
    EXPECT_TRUE(t.adapters.empty());
    EXPECT_EQ(get_sg_support_info(t), 0xE800u);

    fs.make_dir("/sys/class/scsi_host");
    fs.add_device("0:0:0:0", 0); // a stray device folder without its host
    EXPECT_EQ(read_sg_topology(fs.sys().c_str(), &t), 0);
    EXPECT_TRUE(t.adapters.empty());
    EXPECT_EQ(get_sg_support_info(t), 0xE800u);
}

TEST(SgTopology, HostAdapterInquiryAnswers)
{
    sg_topology t;
    t.adapters.push_back({0, 0, "virtio_scsi", {}});
    t.adapters.push_back({12, 1, "megaraid_sas", {}});
    adapter_description d;
    ASSERT_EQ(describe_sg_adapter(t, 1, &d), 0);
    EXPECT_EQ(d.count, 2);
    EXPECT_EQ(std::memcmp(d.ids, "Linux sg\0\0\0\0\0\0\0\0", 16), 0);
    EXPECT_EQ(std::memcmp(d.ids + 16, "megaraid_sas\0\0\0\0", 16), 0);
    EXPECT_EQ(std::memcmp(d.ids + 32, "host12 channel 1", 16), 0);

    ASSERT_EQ(describe_sg_adapter(t, 0, &d), 0);
    EXPECT_EQ(std::memcmp(d.ids + 32, "host0\0\0\0\0\0\0\0\0\0\0\0", 16), 0);

    EXPECT_EQ(describe_sg_adapter(t, 2, &d), -1);
    EXPECT_EQ(describe_sg_adapter(t, -1, &d), -1);
}

namespace {

// What the seam makes of an SG_IO outcome.
uint8_t complete_sg(const sg_outcome& result, srb_exec* srb)
{
    request_outcome outcome;
    translate_sg_outcome(result, &outcome);
    return complete_request(outcome, srb);
}

} // namespace

TEST(SgStatus, CompletedRequests)
{
    uint8_t data[40];
    srb_exec srb = make_inquiry(0, 0, 0, data);
    sg_outcome ok{};
    EXPECT_EQ(complete_sg(ok, &srb), SS_COMP);
    EXPECT_EQ(srb.status, SS_COMP);
    EXPECT_EQ(srb.host_status, HASTAT_OK);
    EXPECT_EQ(srb.target_status, STATUS_GOOD);

    // Check condition, power-on reset: the sense reaches the record, the
    // additional sense code at byte 12, cut at the sense length; nothing is
    // written beyond it.
    uint8_t sense[18] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0x00, 0, 0xAA, 0xBB, 0xCC};
    sg_outcome check{0, STATUS_CHKCOND, 0, 0x08, sense, sizeof sense};
    srb.sense[13] = 0x77; // left over from an earlier request
    srb.sense[14] = 0x66; // beyond the sense length of 14
    srb.sense[15] = 0x55;
    EXPECT_EQ(complete_sg(check, &srb), SS_ERR);
    EXPECT_EQ(srb.host_status, HASTAT_OK);
    EXPECT_EQ(srb.target_status, STATUS_CHKCOND);
    EXPECT_EQ(srb.sense[2], 0x06);
    EXPECT_EQ(srb.sense[SENSE_ASC], 0x29);
    EXPECT_EQ(srb.sense[13], 0);
    EXPECT_EQ(srb.sense[14], 0x66);
    EXPECT_EQ(srb.sense[15], 0x55);

    // Descriptor-format sense arrives with its code moved to byte 12.
    uint8_t descriptor[8] = {0x72, 0x05, 0x24, 0x01, 0, 0, 0, 0};
    sg_outcome check2{0, STATUS_CHKCOND, 0, 0x08, descriptor, sizeof descriptor};
    EXPECT_EQ(complete_sg(check2, &srb), SS_ERR);
    EXPECT_EQ(srb.sense[0], 0x70);
    EXPECT_EQ(srb.sense[2], 0x05);
    EXPECT_EQ(srb.sense[SENSE_ASC], 0x24);
    EXPECT_EQ(srb.sense[13], 0x01);

    // Busy and reservation conflict stay target statuses (not successes).
    sg_outcome busy{0, 0x08, 0, 0, nullptr, 0};
    EXPECT_EQ(complete_sg(busy, &srb), SS_ERR);
    EXPECT_EQ(srb.target_status, 0x08);
    EXPECT_EQ(srb.sense[SENSE_ASC], 0);
}

TEST(SgStatus, HostAndDriverFailures)
{
    uint8_t data[40];
    srb_exec srb = make_inquiry(0, 0, 0, data);
    // An absent target: virtio-scsi answers DID_BAD_TARGET, others DID_NO_CONNECT.
    for (uint16_t did : {0x01, 0x04}) {
        sg_outcome absent{0, 0, did, 0, nullptr, 0};
        EXPECT_EQ(complete_sg(absent, &srb), SS_ERR) << did;
        EXPECT_EQ(srb.host_status, HASTAT_SEL_TO) << did;
    }
    // Time-out, abort, transport and driver failures: a host status that is
    // neither OK nor selection time-out nor over/underrun.
    const sg_outcome failures[] = {
        {0, 0, 0x03, 0, nullptr, 0}, // DID_TIME_OUT
        {0, 0, 0x05, 0, nullptr, 0}, // DID_ABORT
        {0, 0, 0x07, 0, nullptr, 0}, // DID_ERROR
        {0, 0, 0x0E, 0, nullptr, 0}, // DID_TRANSPORT_DISRUPTED
        {0, 0, 0, 0x06, nullptr, 0}, // DRIVER_TIMEOUT with good status
        {0, 0, 0, 0x04, nullptr, 0}, // DRIVER_ERROR with good status
    };
    for (const auto& f : failures) {
        EXPECT_EQ(complete_sg(f, &srb), SS_ERR);
        EXPECT_NE(srb.host_status, HASTAT_OK);
        EXPECT_NE(srb.host_status, HASTAT_SEL_TO);
        EXPECT_NE(srb.host_status, HASTAT_DO_DU);
    }
    // Offline (ENXIO) or removed (ENODEV) devices fail without a status of
    // their own; other errors of the call abort the request.
    for (int error : {ENXIO, ENODEV}) {
        sg_outcome gone{error, 0, 0, 0, nullptr, 0};
        EXPECT_EQ(complete_sg(gone, &srb), SS_NO_DEVICE) << error;
        EXPECT_EQ(srb.host_status, HASTAT_OK);
    }
    for (int error : {EIO, EPERM, ENOMEM, ENOTTY}) {
        sg_outcome failed{error, 0, 0, 0, nullptr, 0};
        uint8_t status = complete_sg(failed, &srb);
        EXPECT_NE(status, SS_COMP) << error;
        EXPECT_NE(status, SS_ERR) << error;
        EXPECT_NE(status, SS_PENDING) << error;
    }
}

TEST(SgManager, RequestsOnAFakeSystem)
{
    fake_system fs;
    fs.add_host(3, "sym53c8xx");
    fs.add_device("3:0:3:0", 4);
    fs.add_device("3:0:4:0", 5);
    fs.add_device("3:0:5:0", -1);
    fs.write_file("/dev/sg4", "not a device\n"); // SG_IO on it fails with ENOTTY
    set_sg_roots(fs.sys().c_str(), fs.dev().c_str());
    const aspi_manager* m = platform_aspi_manager();
    ASSERT_EQ(manager_support_info(m), 0x0101u);

    FILE* err = temp_stream();
    ASSERT_NE(err, nullptr);
    set_error_stream(err);
    uint8_t data[40] = {};

    srb_exec srb = make_inquiry(0, 0, 0, data);
    EXPECT_EQ(send_to_manager(m, &srb), SS_ERR); // no device at 3:0:0:0
    EXPECT_EQ(srb.status, SS_ERR);
    EXPECT_EQ(srb.host_status, HASTAT_SEL_TO);

    srb = make_inquiry(0, 3, 0, data);
    uint32_t status = send_to_manager(m, &srb);
    EXPECT_EQ(status, srb.status);
    EXPECT_NE(status, SS_COMP);
    EXPECT_NE(status, SS_PENDING);

    srb = make_inquiry(0, 4, 0, data); // /dev/sg5 is missing
    EXPECT_EQ(send_to_manager(m, &srb), SS_NO_DEVICE);

    srb = make_inquiry(0, 5, 0, data); // no sg node: said once
    EXPECT_EQ(send_to_manager(m, &srb), SS_NO_DEVICE);
    srb = make_inquiry(0, 5, 0, data);
    EXPECT_EQ(send_to_manager(m, &srb), SS_NO_DEVICE);

    srb = make_inquiry(1, 3, 0, data);
    EXPECT_EQ(send_to_manager(m, &srb), SS_INVALID_HA);

    srb = make_inquiry(0, 3, 0, data);
    srb.cdb_length = 7;
    EXPECT_EQ(send_to_manager(m, &srb), SS_INVALID_SRB);
    srb = make_inquiry(0, 3, 0, data);
    srb.flags = 0x50; // data towards the device
    EXPECT_EQ(send_to_manager(m, &srb), SS_INVALID_SRB);
    srb = make_inquiry(0, 3, 0, nullptr);
    EXPECT_EQ(send_to_manager(m, &srb), SS_INVALID_SRB);

    set_error_stream(nullptr);
    EXPECT_EQ(capture_errors(err),
              "vexum: SCSI device 3:0:5:0 has no /dev/sg node (is the sg module loaded?)\n");
    fclose(err);
    release_aspi_manager(m);
}

TEST(SgManager, NoPermissionOnTheNodeIsSaidOnce)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root opens any node: the permission check cannot be seen";
    fake_system fs;
    fs.add_host(0, "virtio_scsi");
    fs.add_device("0:0:0:0", 0);
    fs.add_device("0:0:1:0", 1);
    fs.write_file("/dev/sg0", "");
    fs.write_file("/dev/sg1", "");
    chmod((fs.dev() + "/sg0").c_str(), 0);
    chmod((fs.dev() + "/sg1").c_str(), 0);
    set_sg_roots(fs.sys().c_str(), fs.dev().c_str());
    const aspi_manager* m = platform_aspi_manager();

    FILE* err = temp_stream();
    ASSERT_NE(err, nullptr);
    set_error_stream(err);
    uint8_t data[40] = {};
    for (int target : {0, 1}) {
        srb_exec srb = make_inquiry(0, target, 0, data);
        uint32_t status = send_to_manager(m, &srb);
        EXPECT_NE(status, SS_COMP);
        EXPECT_NE(status, SS_NO_DEVICE); // a unit that is there but cannot be read is not "absent"
    }
    set_error_stream(nullptr);
    EXPECT_EQ(capture_errors(err), "vexum: no permission to open " + fs.dev() +
                                       "/sg0: SCSI devices can be read by root or by a user with read "
                                       "access to /dev/sg*\n");
    fclose(err);
}

TEST(SgManager, NoScsiHostEndsTheRunWithTheManagerMessages)
{
    fake_system fs;
    fs.make_dir("/sys/class/scsi_host"); // SCSI support, but not one host
    set_sg_roots(fs.sys().c_str(), fs.dev().c_str());
    run_result r = run_in_process({});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error:Can't initialize ASPI Manager.E800\nASPI manager initilize error!\n");
}

// The machine tests boot a guest with emulated SCSI devices (the rig of
// ../shared/vm) and check vexum's scan there against the kernel's view and
// sg3_utils, then replay the guest's trace here.
namespace {

std::string shell_output(const std::string& command, int* exit_code)
{
    std::string text;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        *exit_code = -1;
        return text;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        text.append(buffer, n);
    int status = pclose(p);
    *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return text;
}

// Why the machine cannot be booted here, or "" when it can.
std::string find_machine_obstacle(const std::string& rig)
{
    int rc;
    const char* ci = std::getenv("CI");
    const char* wanted = std::getenv("VEXUM_VM_TESTS");
    if (!(ci && std::strcmp(ci, "true") == 0) && !(wanted && *wanted && std::strcmp(wanted, "0") != 0))
        return "the test machine boots only under CI=true or VEXUM_VM_TESTS=1 (minutes under TCG)";
    if (access(rig.c_str(), X_OK) != 0)
        return "no test machine rig at " + rig;
    shell_output("command -v qemu-system-x86_64 >/dev/null", &rc);
    if (rc != 0)
        return "qemu-system-x86_64 is not installed";
    shell_output("ls /boot/vmlinuz-* >/dev/null 2>&1", &rc);
    if (rc != 0)
        return "no kernel image in /boot (linux-image-amd64)";
    shell_output("command -v sg_inq lsscsi cpio flock >/dev/null", &rc);
    if (rc != 0)
        return "sg3-utils, lsscsi, cpio or flock is not installed";
    return "";
}

struct machine_run {
    int exit_code;
    std::string output;
    std::string out_dir;
};

// Boots the machine with rig_options, runs the checks there and leaves their
// files in out_dir. The guest has the C and C++ runtimes; every other library
// of the binary (libiscsi, the sanitizer runtimes) goes along with it.
machine_run run_machine_checks(const std::string& rig, const std::string& rig_options, const std::string& env,
                               const std::string& dir)
{
    std::string job = dir + "/job";
    std::string out = dir + "/out";
    int rc;
    shell_output("mkdir -p '" + job + "' '" + out + "' && cp '" VEXUM_BINARY "' '" VEXUM_SOURCE_DIR
                 "/tests/vm/scan-checks.sh' '" + job + "/' && ldd '" VEXUM_BINARY
                 "' | sed -n 's/.*=> \\(\\/[^ ]*\\) .*/\\1/p' | grep -Ev '/(libc|libm|libstdc\\+\\+|libgcc_s)\\.so' | xargs -r cp -L -t '" + job + "/'",
                 &rc);
    machine_run r;
    r.out_dir = out;
    // One machine at a time: the rig builds its kernel files and images on
    // first use, and parallel machines would only slow each other down.
    r.output = shell_output("flock '" + temp_directory() + "/vexum-vm.lock' '" + rig + "' -t 400 " + rig_options + " -o '" + out + "' '" + job +
                                "' \"" + env + " LD_LIBRARY_PATH=/job ASAN_OPTIONS=detect_leaks=0 OUT=/out sh ./scan-checks.sh\" 2>&1",
                            &r.exit_code);
    return r;
}

int count_passed_checks(const std::string& output)
{
    size_t at = output.find("checks: ");
    if (at == std::string::npos)
        return -1;
    int passed = -1, failed = -1;
    if (std::sscanf(output.c_str() + at, "checks: %d passed, %d failed", &passed, &failed) != 2 || failed != 0)
        return -1;
    return passed;
}

// A machine test: skipped where the machine cannot be booted; its files
// sit in a folder of its own, removed afterwards.
class SgMachine : public ::testing::Test {
protected:
    std::string rig = VEXUM_SOURCE_DIR "/../shared/vm/run-in-vm.sh";
    std::string dir;

    void SetUp() override
    {
        std::string obstacle = find_machine_obstacle(rig);
        if (!obstacle.empty())
            GTEST_SKIP() << obstacle;
        dir = make_temp_directory("vexum-vm-test-");
        ASSERT_NE(dir, "");
    }
    void TearDown() override
    {
        if (!dir.empty())
            std::system(("rm -rf '" + dir + "'").c_str());
    }
};

} // namespace

// One boot: virtio-scsi disk, CD and LUN-3-only disk; the LSI parallel SCSI
// adapter; the LIO disk; scsi_debug with 2 targets x 2 LUNs, then reloaded
// as 3 x 3 CD-ROM units with 2048-byte blocks and as 2 disks with 4096-byte
// blocks.
TEST_F(SgMachine, ScansAgreeWithTheKernelAndTheirTracesReplay)
{
    machine_run r = run_machine_checks(
        rig, "-L -T",
        "SDEBUG_VARIANTS='ptype=5 sector_size=2048 num_tgts=3 max_luns=3 dev_size_mb=8;"
        "ptype=0 sector_size=4096 num_tgts=2 max_luns=1 dev_size_mb=16'",
        dir);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    // Per configuration: 2 scans x 4 checks, the adapter lines, the traced
    // scan, 3 text checks per unit of each scan, the serial number of each
    // unit and 2 capacity figures per CD-ROM unit (qemu, LSI and LIO give 4
    // units at LUN 0, 5 in all, one of them a CD-ROM unit), and for each
    // disk its two caching lines and its cylinders and heads. Then 3
    // permission checks, one per reload of scsi_debug, and for -disk its
    // exit code, its drive count and the 7 drives with 512-byte sectors.
    struct configuration {
        int lun0_units, all_units, cd_units; // of scsi_debug
    };
    const configuration configurations[3] = {{2, 4, 0}, {3, 9, 9}, {2, 2, 0}};
    int expected = 3 + 2 + 2 + 7;
    for (const auto& c : configurations)
        expected += 10 + 3 * (4 + c.lun0_units + 5 + c.all_units) + (5 + c.all_units) + 2 * (1 + c.cd_units) +
                    4 * (4 + c.all_units - c.cd_units);
    EXPECT_EQ(count_passed_checks(r.output), expected) << r.output;

    // The trace recorded in the machine replays here to the same report.
    for (const char* tag : {"boot", "variant1", "variant2"}) {
        std::string base = r.out_dir + "/scan-" + tag;
        std::string report = read_text_file(base + ".txt");
        EXPECT_NE(report.find(")ID:"), std::string::npos) << tag << ": no device in the traced scan";
        EXPECT_EQ(read_text_file(base + ".err"), "") << tag;
        run_result replay = run_binary({"-bus", base + ".bus", "-l", "-dp"});
        EXPECT_EQ(replay.exit_code, 0) << tag << replay.err;
        EXPECT_EQ(replay.err, "") << tag;
        EXPECT_EQ(replay.out, report) << tag;
    }
}

// A wide bus: scsi_debug with ten targets is one adapter whose whole width
// is scanned. Its host keeps ID 7 for itself, so the targets are 0 to 6 and
// 8 to 10 (A); every line agrees with the kernel's view (scan-checks.sh
// reads the widths from lsscsi).
TEST_F(SgMachine, AWideHostIsScannedToItsHighestTarget)
{
    machine_run r = run_machine_checks(rig, "-Q -s 'ptype=0 num_tgts=10 max_luns=1 dev_size_mb=4'", "", dir);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    // Ten disks, each at LUN 0 and nothing else on the machine (-Q): 2 scans
    // x (4 + 3 per unit), the adapter line, the traced scan, per unit its
    // serial number, two caching lines, cylinders and heads; then -disk's
    // exit code, drive count and 10 drives, and the 3 permission checks.
    EXPECT_EQ(count_passed_checks(r.output), 2 * (4 + 3 * 10) + 2 + 5 * 10 + 2 + 10 + 3) << r.output;
    std::string report = read_text_file(r.out_dir + "/scan-boot.txt");
    for (const char* target : {"8", "9", "A"})
        EXPECT_NE(report.find(std::string("\n0)ID:") + target + "-0 "), std::string::npos) << target << report;
    run_result replay = run_binary({"-bus", r.out_dir + "/scan-boot.bus", "-l", "-dp"});
    EXPECT_EQ(replay.out, report);
    EXPECT_EQ(replay.err, "");
}

// Traces recorded in the test machine replay here. The expected reports were
// worked out from the guest's own answers: lsscsi and sg_inq for the device
// lines, sfdisk -d for the partition (a boot sector of zeros in the FAT32
// partition 2 ends the walk after partition 1), sg_readcap and READ TOC by
// sg_raw for the CD (238 blocks of 2,048 bytes, one data track at 0), and
// blocks of zeros on the scsi_debug disks.
TEST(SgMachineTraces, ReplayToTheReportsOfTheMachine)
{
    const struct {
        const char* trace;
        const char* adapter;
        const char* report;
    } traces[] = {{"vm-qemu.bus", "0", "vm-qemu.txt"}, {"vm-scsi-debug.bus", "1", "vm-scsi-debug.txt"}};
    for (const auto& t : traces) {
        std::string expected = read_text_file(fixture_path(t.report));
        ASSERT_NE(expected, "") << t.report;
        run_result r = run_binary({"-bus", fixture_path(t.trace), "-l", "-p", "-scsi", t.adapter});
        EXPECT_EQ(r.exit_code, 0) << t.trace;
        EXPECT_EQ(r.err, "") << t.trace;
        EXPECT_EQ(r.out, expected) << t.trace;
    }
}
