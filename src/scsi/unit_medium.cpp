// The medium reader of a SCSI unit.
#include "scsi/unit_medium.h"

// READ(10) addresses 32-bit blocks and moves at most 65,535 blocks and, in
// the requests this tool builds, 65,535 bytes: a read beyond them is
// refused, never wrapped round to the start of the unit or cut short.
static int read_unit_medium(const medium_reader* medium, uint64_t block, uint32_t count, uint8_t* buffer)
{
    uint64_t transfer = uint64_t(count) * medium->sector_size;
    if (block > UINT32_MAX || count > UINT16_MAX || transfer > UINT16_MAX)
        return -1;
    const auto* unit = static_cast<const device_address*>(medium->holder);
    return scsi_read(*unit, uint32_t(block), uint16_t(count), uint16_t(transfer), buffer);
}

medium_reader unit_medium(const device_address* unit, uint32_t block_length, uint64_t blocks)
{
    return medium_reader{read_unit_medium, unit, block_length, blocks};
}
