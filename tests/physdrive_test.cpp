// The open drive list, sector reads at 64-bit offsets, and on a machine
// where the tests may attach a loop device, a numbered drive found by the
// documented order and reported like the same image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "harness.h"
#include "physdrive/physdrive.h"

namespace {

class DriveList : public ::testing::Test {
protected:
    void TearDown() override { close_physical_drives(); }
};

// The report after its heading line.
std::string after_heading(const std::string& report)
{
    size_t line = report.find('\n', 1);
    return line == std::string::npos ? "" : report.substr(line + 1);
}

} // namespace

TEST_F(DriveList, DrivesThatDoNotExistLeaveNoTrace)
{
    drive_descriptor drive{};
    EXPECT_EQ(drive_handle(3), INVALID_DRIVE_HANDLE);
    EXPECT_EQ(find_open_drive(3), nullptr);
    EXPECT_EQ(measure_physical_drive(255, &drive), -1);
    EXPECT_EQ(measure_physical_drive(-1, &drive), -1);
    EXPECT_EQ(measure_physical_drive(256, &drive), -1);
    EXPECT_EQ(find_open_drive(255), nullptr);
    EXPECT_EQ(find_open_drive(256), nullptr);
    // A descriptor of a drive that is not open reads nothing.
    drive.list_key = 7;
    drive.bytes_per_sector = 512;
    uint8_t buffer[512];
    EXPECT_EQ(read_drive_sectors(&drive, 1, 0, buffer), -1);
}

TEST_F(DriveList, ReadsAtSixtyFourBitOffsetsAndRefusesShortReads)
{
    // A sparse image of 8,388,610 sectors with a mark in sector 8,388,608,
    // which starts at byte 4,294,967,296.
    std::string path = ::testing::TempDir() + std::to_string(getpid()) + "-" + "four-gib.img";
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseeko(f, off_t(4294967296ull), SEEK_SET), 0);
    fputs("beyond four gibibytes", f);
    fclose(f);
    ASSERT_EQ(truncate(path.c_str(), off_t(8388610ull * 512 - 100)), 0);

    std::string error;
    ASSERT_EQ(open_image_drive(path.c_str(), &error), 0) << error;
    const open_drive* node = find_open_drive(IMAGE_KEY_BASE);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(drive_handle(IMAGE_KEY_BASE), node->handle);
    drive_descriptor drive{};
    drive.list_key = IMAGE_KEY_BASE;
    drive.bytes_per_sector = 512;
    uint8_t buffer[1024] = {};
    ASSERT_EQ(read_drive_sectors(&drive, 1, 8388608, buffer), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "beyond four gibibytes");
    // The last sector is 412 bytes short: a failure, not a success with a
    // stale buffer.
    EXPECT_EQ(read_drive_sectors(&drive, 1, 8388609, buffer), -1);
    EXPECT_EQ(read_drive_sectors(&drive, 2, 8388608, buffer), -1);
    EXPECT_EQ(read_drive_sectors(&drive, 1, 8388610, buffer), -1);
    // No read length beyond 32 bits, no offset beyond 64.
    EXPECT_EQ(read_drive_sectors(&drive, 0x800000, 0, buffer), -1);
    EXPECT_EQ(read_drive_sectors(&drive, 1, UINT64_MAX / 256, buffer), -1);

    close_physical_drives();
    EXPECT_EQ(find_open_drive(IMAGE_KEY_BASE), nullptr);
    EXPECT_EQ(drive_handle(IMAGE_KEY_BASE), INVALID_DRIVE_HANDLE);
    EXPECT_EQ(read_drive_sectors(&drive, 1, 8388608, buffer), -1);
    unlink(path.c_str());
}

TEST_F(DriveList, LoopDeviceIsFoundUnderItsDocumentedNumber)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "attaching a loop device needs root";
    std::string image = std::string(VEXUM_SAMPLES) + "/sample-disk.img";
    std::string device = shell_output("losetup --find --show --read-only '" + image + "'");
    device.erase(std::remove(device.begin(), device.end(), '\n'), device.end());
    if (device.compare(0, 9, "/dev/loop") != 0)
        GTEST_SKIP() << "losetup could not attach a loop device here";
    struct detach {
        std::string device;
        ~detach() { shell_output("losetup -d '" + device + "'"); }
    } detach_at_end{device};
    if (access(device.c_str(), R_OK) != 0)
        GTEST_SKIP() << device << " cannot be opened here";

    // The documented order: the rows of lsblk -d with a size, RAM disks
    // (major 1) left out, sorted by major and minor number.
    const char* listing = "lsblk -d -b -n -o MAJ:MIN,SIZE,NAME | awk '$2 != 0 && $1 !~ /^1:/' | sort -t: -k1,1n -k2,2n";
    std::string before = shell_output(listing);
    std::istringstream rows(before);
    std::string row, name = device.substr(5);
    int number = -1;
    for (int index = 0; std::getline(rows, row); index++) {
        std::istringstream fields(row);
        std::string devno, size, row_name;
        fields >> devno >> size >> row_name;
        if (row_name == name)
            number = index;
    }
    ASSERT_GE(number, 0) << "lsblk does not list " << name;
    if (number > 31)
        GTEST_SKIP() << name << " is drive " << number << ", beyond the 32 numbered drives";

    // Measuring twice opens the device once.
    drive_descriptor drive{};
    ASSERT_EQ(measure_physical_drive(number, &drive), 0);
    ASSERT_EQ(measure_physical_drive(number, &drive), 0);
    const open_drive* node = find_open_drive(number);
    ASSERT_NE(node, nullptr);
    for (const open_drive* other = node->next; other != nullptr; other = other->next)
        EXPECT_NE(other->drive_number, number);
    EXPECT_EQ(drive.drive_number, number);
    EXPECT_EQ(drive.bios_drive_code, 0x80 | number);
    EXPECT_EQ(drive.bytes_per_sector, 512);
    EXPECT_EQ(drive.total_sectors, 20480u);
    close_physical_drives();

    run_result by_number = run_in_process({"-disk", std::to_string(number)});
    run_result by_path = run_in_process({"-image", image});
    EXPECT_EQ(by_number.out.compare(0, 7 + std::to_string(number).size(), "\nDisk:" + std::to_string(number) + "\n"), 0)
        << by_number.out;
    EXPECT_NE(after_heading(by_path.out).find(" *( 1) SAMPLE DISK"), std::string::npos) << by_path.out;
    // Tests running beside this one may attach or detach devices meanwhile.
    if (shell_output(listing) != before)
        GTEST_SKIP() << "the block devices changed while the test ran";
    EXPECT_EQ(after_heading(by_number.out), after_heading(by_path.out));
}
