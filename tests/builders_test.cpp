// The command descriptor blocks and transfer fields of the seven builders.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/scsi_commands.h"

namespace {

srb_exec last_request;
std::vector<uint8_t> last_cdb;

uint32_t ready(void*) { return 0x0101; }
void record(void*, const srb_exec& request, request_outcome*)
{
    last_request = request;
    last_cdb.assign(request.cdb, request.cdb + request.cdb_length);
}
const aspi_manager recorder = {"recorder", nullptr, ready, nullptr, record, nullptr, nullptr};

class Builders : public ::testing::Test {
protected:
    void SetUp() override
    {
        select_aspi_manager(&recorder);
        ASSERT_EQ(aspi_open(), 0);
    }
    void TearDown() override
    {
        aspi_close();
        select_aspi_manager(nullptr);
    }
    uint8_t buffer[1024] = {};
};

using bytes = std::vector<uint8_t>;

} // namespace

TEST_F(Builders, Inquiry)
{
    EXPECT_EQ(scsi_inquiry({1, 2, 0}, -1, 40, buffer), 0);
    EXPECT_EQ(last_cdb, (bytes{0x12, 0x00, 0x00, 0x00, 40, 0x00}));
    EXPECT_EQ(last_request.flags, 0x48);
    EXPECT_EQ(uint32_t(last_request.data_length), 40u);
    EXPECT_EQ(last_request.host_adapter, 1);
    EXPECT_EQ(last_request.target, 2);
    EXPECT_EQ(last_request.sense_length, 14);
    EXPECT_EQ(last_request.command, SC_EXEC_SCSI_CMD);
    // Fields of the packed record are copied out before comparing.
    uint8_t* data_buffer = last_request.data_buffer;
    aspi_event* post_event = last_request.post_event;
    EXPECT_EQ(data_buffer, buffer);
    EXPECT_EQ(post_event, aspi_completion_event());
    EXPECT_EQ(scsi_inquiry({0, 0, 0}, 0x80, 255, buffer), 0);
    EXPECT_EQ(last_cdb, (bytes{0x12, 0x01, 0x80, 0x00, 0xFF, 0x00}));
}

TEST_F(Builders, LunBitsInEveryCommand)
{
    device_address unit{0, 1, 3};
    scsi_inquiry(unit, -1, 40, buffer);
    EXPECT_EQ(last_cdb[1], 0x60);
    EXPECT_EQ(last_request.lun, 3);
    scsi_mode_sense(unit, 0x08, 255, buffer);
    EXPECT_EQ(last_cdb, (bytes{0x1A, 0x60, 0x08, 0x00, 0xFF, 0x00}));
    EXPECT_EQ(last_request.flags, 0x40);
    scsi_read_capacity(unit, 8, buffer);
    EXPECT_EQ(last_cdb, (bytes{0x25, 0x60, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(last_request.flags, 0x48);
    EXPECT_EQ(uint32_t(last_request.data_length), 8u);
    scsi_read_block_limits(unit, buffer);
    EXPECT_EQ(last_cdb, (bytes{0x05, 0x60, 0, 0, 0, 0}));
    EXPECT_EQ(uint32_t(last_request.data_length), 6u);
    EXPECT_EQ(last_request.flags, 0x40);
    scsi_read_defect_data(unit, 2, 255, buffer);
    EXPECT_EQ(last_cdb[1], 0x60);
    scsi_read_toc(unit, 804, buffer);
    EXPECT_EQ(last_cdb[1], 0x60);
    scsi_read(unit, 0, 1, 512, buffer);
    EXPECT_EQ(last_cdb[1], 0x60);
}

TEST_F(Builders, ReadTenCarriesAddressAndCount)
{
    scsi_read({0, 0, 0}, 0x1000, 1, 512, buffer);
    EXPECT_EQ(last_cdb, (bytes{0x28, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(uint32_t(last_request.data_length), 512u);
    EXPECT_EQ(last_request.cdb_length, 10);
    EXPECT_EQ(last_request.flags, 0x48);
    scsi_read({0, 0, 0}, 1234567, 1, 2048, buffer);
    EXPECT_EQ(last_cdb, (bytes{0x28, 0x00, 0x00, 0x12, 0xD6, 0x87, 0x00, 0x00, 0x01, 0x00}));
}

TEST_F(Builders, DefectListSelectorBits)
{
    scsi_read_defect_data({0, 0, 0}, 2, 255, buffer);
    EXPECT_EQ(last_cdb, (bytes{0x37, 0x00, 0x10, 0, 0, 0, 0, 0x00, 0xFF, 0}));
    EXPECT_EQ(last_request.flags, 0x40);
    EXPECT_EQ(uint32_t(last_request.data_length), 255u);
    scsi_read_defect_data({0, 0, 0}, 1, 255, buffer);
    EXPECT_EQ(last_cdb[2], 0x08);
    scsi_read_defect_data({0, 0, 0}, 3, 255, buffer);
    EXPECT_EQ(last_cdb[2], 0x18);
    scsi_read_defect_data({0, 0, 0}, 7, 255, buffer);
    EXPECT_EQ(last_cdb[2], 0x18);
}

TEST_F(Builders, ReadTocAllocationLength)
{
    scsi_read_toc({0, 0, 0}, 804, buffer);
    EXPECT_EQ(last_cdb, (bytes{0x43, 0x00, 0x00, 0, 0, 0, 0x00, 0x03, 0x24, 0}));
    EXPECT_EQ(uint32_t(last_request.data_length), 804u);
    EXPECT_EQ(last_request.flags, 0x40);
}
