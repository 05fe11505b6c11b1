// Number and field formatting.
//
// Two choices worth knowing:
// - The 64-bit forms treat their value as unsigned, so values of 2^63 and
//   above print their true value ("18,446,744,073,709,551,615" at most: 26
//   characters and the terminator, hence the 27-byte buffer of format.h).
// - Device text reaches a terminal: a control byte (01h-1Fh, 7Fh) inside a
//   field is copied as '.'; a zero byte still ends the field and bytes 80h-FFh
//   are copied as they are (Shift-JIS names keep their bytes), except a byte
//   80h-9Fh right after C2h, which with it would be a C1 control to a UTF-8
//   terminal.
#include "format/format.h"

// Writes the decimal digits of value into out, least significant first, then
// reverses them in place. Returns the number of digits.
static int write_decimal(uint64_t value, char* out)
{
    int n = 0;
    do {
        out[n++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    out[n] = 0;
    for (int i = 0, j = n - 1; i < j; i++, j--) {
        char c = out[i];
        out[i] = out[j];
        out[j] = c;
    }
    return n;
}

// Writes the digits of value with a comma after every third digit from the
// right. out must hold n + (n - 1) / 3 + 1 bytes for n digits.
static char* write_grouped(uint64_t value, char* out)
{
    char digits[21]; // 20 digits of 2^64 - 1 and the terminator
    int n = write_decimal(value, digits);
    int length = n + (n - 1) / 3;
    out[length] = 0;
    int position = length;
    int copied = 0;
    for (int i = n - 1; i >= 0; i--) {
        out[--position] = digits[i];
        copied++;
        if (copied % 3 == 0 && i > 0)
            out[--position] = ',';
    }
    return out;
}

char* format_decimal(uint32_t value, char* out)
{
    write_decimal(value, out);
    return out;
}

char* format_decimal64(uint64_t value, char* out)
{
    write_decimal(value, out);
    return out;
}

char* format_grouped(uint32_t value, char* out) { return write_grouped(value, out); }

char* format_grouped64(uint64_t value, char* out) { return write_grouped(value, out); }

char* copy_padded_field(char* dest, const void* source, int width)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    if (width < 0)
        width = 0;
    int i = 0;
    for (; i < width && s[i] != 0; i++) {
        uint8_t c = s[i];
        bool c1_pair = i > 0 && uint8_t(dest[i - 1]) == 0xC2 && c >= 0x80 && c <= 0x9F;
        dest[i] = (c < 0x20 || c == 0x7F || c1_pair) ? '.' : char(c);
    }
    for (; i < width; i++)
        dest[i] = ' ';
    dest[width] = 0;
    return dest;
}

char* copy_trimmed_field(char* dest, const void* source, int width)
{
    copy_padded_field(dest, source, width);
    for (int i = width - 1; i >= 0 && dest[i] == ' '; i--)
        dest[i] = 0;
    return dest;
}

std::string visible_text(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<uint8_t>(ch);
        if (is_printable_byte(c)) {
            shown += ch;
        } else {
            shown += "\\x";
            shown += hex[c >> 4];
            shown += hex[c & 15];
        }
    }
    return shown;
}
