// The FMR/TOWNS hard disk layout: "IPL" at the start of sector 0 and a table
// of ten 48-byte entries from offset 20h of sector 1, each with an absolute
// start, a size and two 16-character names.
#include <array>
#include <cstdio>
#include <cstring>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "partition/partition.h"

int decode_fmr_towns(const medium_reader* medium, const uint8_t*, const report_options& options)
{
    uint32_t sector_size = medium->sector_size;
    uint64_t medium_sectors = medium->sector_count;
    if (sector_size != DECODE_SECTOR_SIZE)
        return -1;
    std::array<uint8_t, DECODE_SECTOR_SIZE> table{};
    if (read_medium(medium, 1, 1, table.data()) != 0)
        return -1;
    std::array<uint8_t, DECODE_SECTOR_SIZE> boot{};
    char number[32];
    out_printf("  FMR/TOWNS HARD DISK FORMAT %13s bytes\n", format_grouped64(uint64_t(sector_size) * medium_sectors, number));
    uint64_t last_end = 0;
    for (int i = 0; i < 10; i++) {
        const uint8_t* entry = table.data() + 0x20 + 0x30 * i;
        uint32_t start = get_le32(entry + 0x02);
        if (start == 0)
            break;
        uint32_t count = get_le32(entry + 0x06);
        char size_text[32], system_name[17], second_name[17];
        format_grouped64(uint64_t(count) * sector_size, size_text);
        char mark = entry[0] != 0 ? '*' : ' ';
        copy_padded_field(system_name, entry + 0x10, 16);
        copy_padded_field(second_name, entry + 0x20, 16);
        if (memcmp(system_name, "MS-DOS", 6) == 0) {
            // A boot sector outside the medium is not read.
            if (start >= medium_sectors)
                return -1;
            boot.fill(0);
            if (read_medium(medium, start, 1, boot.data()) != 0)
                return -1;
            char serial[16], label[12];
            uint32_t serial_number = get_le32(boot.data() + 0x27);
            snprintf(serial, sizeof serial, "%04X-%04X", unsigned(serial_number >> 16), unsigned(serial_number & 0xFFFF));
            copy_padded_field(label, boot.data() + 0x2B, 11);
            out_printf(" %c(%2d) %-11s %-9s %13s .. %s %s\n", mark, i + 1, label, serial, size_text, system_name,
                       second_name);
            if (options.show_partitions) {
                print_partition_extent(start, count);
                report_fat_bpb(boot.data() + 0x0B);
            }
        } else {
            out_printf(" %c(%2d)                       %13s .. %s %s\n", mark, i + 1, size_text, system_name,
                       second_name);
            if (options.show_partitions)
                print_partition_extent(start, count);
        }
        last_end = uint64_t(start) + count;
    }
    if (last_end < medium_sectors) {
        uint64_t free_sectors = medium_sectors - last_end;
        char bytes[32];
        out_printf("  (--)  Free disk space      %13s bytes (%13s sectors)\n",
                   format_grouped64(free_sectors * sector_size, bytes), format_grouped64(free_sectors, number));
    }
    return 0;
}
