// Shift-JIS (CP932) to UTF-8 through the system's code page 932.
#include <windows.h>

#include "format/cp932.h"

int convert_cp932_to_utf8(const uint8_t* bytes, size_t length, std::string* out)
{
    if (length == 0) {
        out->clear();
        return 0;
    }
    if (length > 0x10000)
        return -1;
    const char* in = reinterpret_cast<const char*>(bytes);
    int wide_length = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, in, int(length), nullptr, 0);
    if (wide_length <= 0)
        return -1;
    std::wstring wide(size_t(wide_length), L'\0');
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, in, int(length), &wide[0], wide_length) != wide_length)
        return -1;
    int utf8_length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    if (utf8_length <= 0)
        return -1;
    std::string converted(size_t(utf8_length), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, &converted[0], utf8_length, nullptr, nullptr) !=
        utf8_length)
        return -1;
    *out = converted;
    return 0;
}
