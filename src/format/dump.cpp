// Sector hex dump.
//
// A sector size that is not a multiple of 16 leaves the last row short: its
// missing bytes are shown as blanks in both columns (three blanks in the hex
// column, the separator included, one blank in the character column), so the
// dump never reads beyond count x size bytes of the buffer and every row keeps
// its width.
#include "format/dump.h"

#include "format/format.h"
#include "format/output.h"

static void print_row(long offset, const uint8_t* bytes, int available)
{
    out_printf("+%03lX ", offset);
    for (int i = 0; i < 16; i++) {
        if (i < available)
            out_printf("%c%02X", i == 8 ? '-' : ' ', bytes[i]);
        else
            out_puts("   ");
    }
    out_puts("  ");
    for (int i = 0; i < 16; i++) {
        if (i < available)
            out_putc(is_printable_byte(bytes[i]) ? char(bytes[i]) : '.');
        else
            out_putc(' ');
    }
    out_putc('\n');
}

void print_sector_dump(long first_sector, int sector_count, int sector_size, const uint8_t* buffer)
{
    if (buffer == nullptr || sector_count <= 0)
        return;
    long size = sector_size > 0 ? sector_size : 0;
    for (int k = 0; k < sector_count; k++) {
        const uint8_t* sector = buffer + static_cast<long long>(k) * size;
        out_printf("sector %ld\n", first_sector + k);
        out_puts(" ofs  +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F  ASCII\n");
        out_puts("----  -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --  ----------------\n");
        for (long o = 0; o < size; o += 16) {
            long left = size - o;
            print_row(o, sector + o, left < 16 ? int(left) : 16);
        }
    }
}
