// Shift-JIS (CP932) to UTF-8 through iconv, whose CP932 table is the one
// the C library ships.
#include <iconv.h>

#include "format/cp932.h"

int convert_cp932_to_utf8(const uint8_t* bytes, size_t length, std::string* out)
{
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return -1;
    // A character of one or two bytes becomes at most three bytes of UTF-8.
    std::string converted(length * 3 + 1, '\0');
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
    size_t in_left = length;
    char* to = &converted[0];
    size_t to_left = converted.size();
    size_t result = iconv(converter, &in, &in_left, &to, &to_left);
    iconv_close(converter);
    if (result == size_t(-1) || in_left != 0)
        return -1;
    converted.resize(converted.size() - to_left);
    *out = converted;
    return 0;
}
