// The seven command builders. Each fills a cleared request, executes it and
// resends it while the unit reports unit attention, at most
// UNIT_ATTENTION_RESENDS times: a unit that reports it on every attempt must
// not hold the scan forever.
#include "aspi/scsi_commands.h"

#include <cstring>

#include "aspi/aspi.h"
#include "format/bytes.h"

namespace {

struct command_fields {
    uint8_t cdb[10];
    uint8_t cdb_length;
    uint8_t flags;
    uint32_t data_length;
};

void fill_request(srb_exec* srb, device_address unit, const command_fields& c, uint8_t* buffer)
{
    std::memset(srb, 0, sizeof *srb);
    srb->command = SC_EXEC_SCSI_CMD;
    srb->host_adapter = uint8_t(unit.adapter);
    srb->target = uint8_t(unit.target);
    srb->lun = uint8_t(unit.lun);
    srb->flags = c.flags;
    srb->data_length = c.data_length;
    srb->data_buffer = buffer;
    srb->sense_length = SENSE_LEN;
    srb->cdb_length = c.cdb_length;
    srb->post_event = aspi_completion_event();
    std::memcpy(srb->cdb, c.cdb, c.cdb_length);
}

// Build, execute, and resend after unit attention.
int run_command(device_address unit, const command_fields& c, uint8_t* buffer, bool probe)
{
    srb_exec srb;
    for (int attempt = 0; attempt <= UNIT_ATTENTION_RESENDS; attempt++) {
        fill_request(&srb, unit, c, buffer);
        int result = probe ? aspi_execute_probe(&srb, buffer) : aspi_execute(&srb);
        if (result != 1)
            return result;
    }
    return -1;
}

command_fields six_byte(uint8_t op, device_address unit, uint8_t flags, uint32_t length)
{
    command_fields c{};
    c.cdb[0] = op;
    c.cdb[1] = uint8_t(unit.lun << 5);
    c.cdb_length = 6;
    c.flags = flags;
    c.data_length = length;
    return c;
}

command_fields ten_byte(uint8_t op, device_address unit, uint8_t flags, uint32_t length)
{
    command_fields c = six_byte(op, unit, flags, length);
    c.cdb_length = 10;
    return c;
}

constexpr uint8_t FLAGS_IN = SRB_EVENT_NOTIFY | SRB_DIR_IN; // 48h
constexpr uint8_t FLAGS_ANY = SRB_EVENT_NOTIFY;             // 40h

} // namespace

int scsi_inquiry(device_address unit, int page, uint8_t allocation_length, uint8_t* buffer)
{
    command_fields c = six_byte(OP_INQUIRY, unit, FLAGS_IN, allocation_length);
    if (page >= 0) {
        c.cdb[1] |= 0x01;
        c.cdb[2] = uint8_t(page);
    }
    c.cdb[4] = allocation_length;
    return run_command(unit, c, buffer, true);
}

int scsi_mode_sense(device_address unit, uint8_t page, uint8_t allocation_length, uint8_t* buffer)
{
    command_fields c = six_byte(OP_MODE_SENSE6, unit, FLAGS_ANY, allocation_length);
    c.cdb[2] = page;
    c.cdb[4] = allocation_length;
    return run_command(unit, c, buffer, false);
}

int scsi_read_capacity(device_address unit, uint8_t length, uint8_t* buffer)
{
    return run_command(unit, ten_byte(OP_READ_CAPACITY, unit, FLAGS_IN, length), buffer, false);
}

int scsi_read_toc(device_address unit, uint32_t allocation_length, uint8_t* buffer)
{
    command_fields c = ten_byte(OP_READ_TOC, unit, FLAGS_ANY, allocation_length);
    put_be16(c.cdb + 7, allocation_length & 0xFFFF);
    return run_command(unit, c, buffer, false);
}

int scsi_read_defect_data(device_address unit, unsigned selector, uint8_t allocation_length, uint8_t* buffer)
{
    command_fields c = ten_byte(OP_READ_DEFECT_DATA10, unit, FLAGS_ANY, allocation_length);
    c.cdb[2] = uint8_t((selector & 3) << 3);
    c.cdb[8] = allocation_length;
    return run_command(unit, c, buffer, false);
}

int scsi_read_block_limits(device_address unit, uint8_t* buffer)
{
    return run_command(unit, six_byte(OP_READ_BLOCK_LIMITS, unit, FLAGS_ANY, 6), buffer, false);
}

int scsi_read(device_address unit, uint32_t block, uint16_t block_count, uint16_t buffer_length, uint8_t* buffer)
{
    command_fields c = ten_byte(OP_READ10, unit, FLAGS_IN, buffer_length);
    put_be32(c.cdb + 2, block);
    put_be16(c.cdb + 7, block_count);
    return run_command(unit, c, buffer, false);
}
