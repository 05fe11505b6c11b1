// The sample bus and the sample media: the bus describes its disk itself,
// block for block the sample disk image, and works from any folder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "aspi/scsi_commands.h"
#include "format/bytes.h"
#include "harness.h"

namespace {

const std::string sample_bus = std::string(VEXUM_SOURCE_DIR) + "/samples/sample.bus";

} // namespace

TEST(Samples, TheSampleBusDiskIsTheSampleDiskImage)
{
    std::string image = read_text_file(std::string(VEXUM_SAMPLES) + "/sample-disk.img");
    ASSERT_EQ(image.size(), 10u << 20);
    ASSERT_TRUE(use_bus_text(read_text_file(sample_bus)));
    device_address disk{0, 0, 0};
    uint8_t capacity[8] = {};
    ASSERT_EQ(scsi_read_capacity(disk, 8, capacity), 0);
    EXPECT_EQ(get_be32(capacity), image.size() / 512 - 1);
    EXPECT_EQ(get_be32(capacity + 4), 512u);
    // Every block, 64 at a time.
    std::vector<uint8_t> chunk(64 * 512);
    size_t differing = 0;
    for (uint32_t block = 0; block < image.size() / 512; block += 64) {
        std::fill(chunk.begin(), chunk.end(), 0xEE);
        ASSERT_EQ(scsi_read(disk, block, 64, uint16_t(chunk.size()), chunk.data()), 0) << block;
        if (std::memcmp(chunk.data(), image.data() + size_t(block) * 512, chunk.size()) != 0) {
            ADD_FAILURE() << "blocks " << block << " to " << block + 63 << " differ from the image";
            if (++differing > 5)
                break;
        }
    }
    drop_bus();
}

TEST(Samples, TheSampleBusNeedsNothingBesideIt)
{
    // Alone in an empty folder, and run from the root folder.
    std::string dir = make_temp_directory("vexum-sample-");
    ASSERT_NE(dir, "");
    ASSERT_TRUE(run_quietly("cp '" + sample_bus + "' '" + dir + "/sample.bus'"));
    std::string here = shell_output("'" + std::string(VEXUM_BINARY) + "' -bus '" + sample_bus + "' -l -dpo");
    std::string elsewhere =
        shell_output("cd / && '" + std::string(VEXUM_BINARY) + "' -bus '" + dir + "/sample.bus' -l -dpo; echo exit $?");
    run_quietly("rm -rf '" + dir + "'");
    EXPECT_EQ(elsewhere, here + "exit 0\n");
    EXPECT_NE(here.find("  IBM HARD DISK FORMAT          10,485,760 bytes\n"), std::string::npos) << here;
    EXPECT_NE(here.find("SAMPLE AUTOLOAD"), std::string::npos) << here;
}
