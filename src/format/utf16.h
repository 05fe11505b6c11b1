// Names stored as UTF-16 (GPT partition names), turned into UTF-8 text for
// the report.
#pragma once
#include <cstddef>
#include <cstdint>

// Copies at most units little-endian UTF-16 code units from source (ending
// at a zero unit) into dest as UTF-8 and terminates it; dest holds at least
// 3 x units + 1 bytes. Control characters become '.', as in the other
// device texts, and a surrogate without its partner becomes U+FFFD.
char* copy_utf16le_field(char* dest, const uint8_t* source, size_t units);
