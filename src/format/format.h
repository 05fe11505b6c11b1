// Number and field texts shared by every report: plain and digit-grouped
// decimals, and fixed-width copies of device text fields. Pure functions over
// caller buffers; each returns its output buffer so it can stand as a %s.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

char* format_decimal(uint32_t value, char* out);   // out: at least 11 bytes
char* format_decimal64(uint64_t value, char* out); // out: at least 21 bytes
char* format_grouped(uint32_t value, char* out);   // out: at least 14 bytes
char* format_grouped64(uint64_t value, char* out); // out: at least 27 bytes

// Copy at most width bytes of a device text (stopping at a zero byte), fill
// with blanks to exactly width and terminate. Control bytes (01h-1Fh, 7Fh)
// become '.' so that device text cannot steer the terminal, as does a byte
// 80h-9Fh right after C2h: the pair is a C1 control (U+0080-U+009F, CSI
// among them) to a UTF-8 terminal.
char* copy_padded_field(char* dest, const void* source, int width);
// As copy_padded_field, then trailing blanks removed.
char* copy_trimmed_field(char* dest, const void* source, int width);

// True for the bytes shown as themselves: 20h to 7Eh.
inline bool is_printable_byte(uint8_t c) { return c >= 0x20 && c <= 0x7E; }

// Text from a file or a device for a message: every byte outside 20h-7Eh
// written as \xHH, so that the message stays one line and steers nothing.
std::string visible_text(std::string_view text);
