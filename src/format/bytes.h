// Byte-order accessors. Every multi-byte field read from a device or a
// medium goes through one of these, so no decoder assembles bytes by hand.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

inline uint32_t get_be16(const uint8_t* p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t get_be24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }
inline uint32_t get_be32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint32_t get_le16(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8); }
inline uint32_t get_le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t get_be64(const uint8_t* p) { return (uint64_t(get_be32(p)) << 32) | get_be32(p + 4); }
inline uint64_t get_le64(const uint8_t* p) { return uint64_t(get_le32(p)) | (uint64_t(get_le32(p + 4)) << 32); }
inline void put_be16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void put_be32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
inline void put_le16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put_le32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
inline void put_le64(uint8_t* p, uint64_t v) { put_le32(p, uint32_t(v)); put_le32(p + 4, uint32_t(v >> 32)); }

// Numbers kept as seven bits a byte, the high bit set on every byte but the
// last: lists of small differences take a byte or two an entry.
inline void put_varint(std::vector<uint8_t>* out, uint32_t value)
{
    while (value >= 0x80) {
        out->push_back(uint8_t(value | 0x80));
        value >>= 7;
    }
    out->push_back(uint8_t(value));
}
// The number at *at, which moves past it; what lies past the end reads as
// nothing.
inline uint32_t take_varint(const std::vector<uint8_t>& in, std::size_t* at)
{
    uint32_t value = 0;
    for (int shift = 0; *at < in.size() && shift < 35; shift += 7) {
        uint8_t b = in[(*at)++];
        value |= uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80))
            break;
    }
    return value;
}
