// CRC-32 over a table of the 256 byte remainders, built at compile time.
#include "format/crc32.h"

#include <array>

namespace {

constexpr std::array<uint32_t, 256> make_crc32_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; bit++)
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> crc32_table = make_crc32_table();

} // namespace

uint32_t update_crc32(uint32_t crc, const uint8_t* data, size_t length)
{
    crc = ~crc;
    for (size_t i = 0; i < length; i++)
        crc = crc32_table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
