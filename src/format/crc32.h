// CRC-32 as GPT headers and partition arrays carry it (the polynomial of
// IEEE 802.3, reflected, initial value and final XOR FFFFFFFFh). Sixteen
// lines of table code here cost less than a library in every build, the
// Windows ones included.
#pragma once
#include <cstddef>
#include <cstdint>

// The CRC of data, continued from crc (0 for the first block): a checksum
// over several blocks is the fold of this over them in order.
uint32_t update_crc32(uint32_t crc, const uint8_t* data, size_t length);
