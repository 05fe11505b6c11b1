// The medium reader of a SCSI unit: its loaded medium read with READ(10).
#pragma once
#include <cstdint>

#include "aspi/scsi_commands.h"
#include "partition/medium.h"

// unit must outlive the reader. block_length and blocks as READ CAPACITY
// told them.
medium_reader unit_medium(const device_address* unit, uint32_t block_length, uint64_t blocks);
