// Shift-JIS byte ranges, checked here the same way on every platform before
// the platform's table converts the characters.
#include "format/cp932.h"

static bool is_lead_byte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
static bool is_trail_byte(uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

bool is_shift_jis_sequence(const uint8_t* bytes, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        uint8_t b = bytes[i];
        if (b < 0x80 || (b >= 0xA1 && b <= 0xDF))
            continue;
        if (!is_lead_byte(b) || i + 1 >= length || !is_trail_byte(bytes[i + 1]))
            return false;
        i++;
    }
    return true;
}

int append_cp932_as_utf8(const uint8_t* bytes, size_t length, std::string* out)
{
    if (!is_shift_jis_sequence(bytes, length))
        return -1;
    std::string converted;
    if (convert_cp932_to_utf8(bytes, length, &converted) != 0)
        return -1;
    out->append(converted);
    return 0;
}
