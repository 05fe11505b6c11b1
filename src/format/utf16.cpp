// UTF-16LE to UTF-8.
#include "format/utf16.h"

#include "format/bytes.h"

namespace {

char* put_utf8(char* out, uint32_t c)
{
    if (c < 0x80) {
        *out++ = char(c);
    } else if (c < 0x800) {
        *out++ = char(0xC0 | (c >> 6));
        *out++ = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = char(0xE0 | (c >> 12));
        *out++ = char(0x80 | ((c >> 6) & 0x3F));
        *out++ = char(0x80 | (c & 0x3F));
    } else {
        *out++ = char(0xF0 | (c >> 18));
        *out++ = char(0x80 | ((c >> 12) & 0x3F));
        *out++ = char(0x80 | ((c >> 6) & 0x3F));
        *out++ = char(0x80 | (c & 0x3F));
    }
    return out;
}

bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

} // namespace

char* copy_utf16le_field(char* dest, const uint8_t* source, size_t units)
{
    char* out = dest;
    for (size_t i = 0; i < units; i++) {
        uint32_t u = get_le16(source + 2 * i);
        if (u == 0)
            break;
        uint32_t c = u;
        if (is_high_surrogate(u) && i + 1 < units && is_low_surrogate(get_le16(source + 2 * i + 2))) {
            // A pair takes two units and gives 4 bytes: within 3 a unit.
            c = 0x10000 + ((u - 0xD800) << 10) + (get_le16(source + 2 * i + 2) - 0xDC00);
            i++;
        } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
            c = 0xFFFD;
        } else if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            c = '.';
        }
        out = put_utf8(out, c);
    }
    *out = 0;
    return dest;
}
