// Hexadecimal dump of whole sectors, sixteen bytes a row.
#pragma once
#include <cstdint>

void print_sector_dump(long first_sector, int sector_count, int sector_size, const uint8_t* buffer);
