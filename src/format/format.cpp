// Number and field formatting (not yet built).
#include "format/format.h"

#include <cstdio>

char* format_decimal(uint32_t value, char* out) { std::snprintf(out, 11, "%u", value); return out; }
char* format_decimal64(uint64_t value, char* out) { std::snprintf(out, 21, "%llu", (unsigned long long)value); return out; }
char* format_grouped(uint32_t value, char* out) { return format_decimal(value, out); }
char* format_grouped64(uint64_t value, char* out) { return format_decimal64(value, out); }
char* copy_padded_field(char* dest, const void* source, int width)
{
    const char* s = static_cast<const char*>(source);
    int i = 0;
    for (; i < width && s[i]; i++) dest[i] = s[i];
    for (; i < width; i++) dest[i] = ' ';
    dest[width] = 0;
    return dest;
}
char* copy_trimmed_field(char* dest, const void* source, int width) { return copy_padded_field(dest, source, width); }
