// Sector hex dump (not yet built).
#include "format/dump.h"

void print_sector_dump(long, int, int, const uint8_t*) {}
