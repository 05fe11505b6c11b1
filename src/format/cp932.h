// Shift-JIS (Windows code page 932) to UTF-8, from the platform's own
// tables: iconv everywhere but Windows, MultiByteToWideChar on Windows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// True when bytes are a sequence of whole Shift-JIS characters by their
// byte ranges alone: ASCII, single-byte katakana A1h-DFh, or a lead byte
// 81h-9Fh or E0h-FCh followed by a trail byte 40h-7Eh or 80h-FCh.
bool is_shift_jis_sequence(const uint8_t* bytes, size_t length);
// Appends the UTF-8 form of bytes to out. -1 (out unchanged) when the
// sequence is not whole Shift-JIS or a character has no mapping.
int append_cp932_as_utf8(const uint8_t* bytes, size_t length, std::string* out);

// The platform's conversion behind append_cp932_as_utf8, which checks the
// byte ranges first: one file per platform implements it. -1 when a
// character has no mapping.
int convert_cp932_to_utf8(const uint8_t* bytes, size_t length, std::string* out);
