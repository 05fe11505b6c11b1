// Capacity of the loaded medium and the CD track table.
#include <array>
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/output.h"
#include "scsi/reports.h"

constexpr int CAPACITY_SIZE = 8;
constexpr int TOC_HEADER_SIZE = 4;
constexpr int TOC_DESCRIPTOR_SIZE = 8;
// The header and 100 descriptors: 99 tracks and the lead-out.
constexpr int TOC_SIZE = TOC_HEADER_SIZE + 100 * TOC_DESCRIPTOR_SIZE;
static_assert(TOC_SIZE == 804, "TOC buffer holds the header and 100 descriptors");

constexpr uint8_t TOC_LEAD_OUT = 0xAA;
constexpr uint8_t CONTROL_DATA_TRACK = 0x04;
constexpr uint8_t CONTROL_FOUR_CHANNEL = 0x08;
constexpr uint8_t CONTROL_COPY_PERMITTED = 0x02;
// Data track lengths are counted in CD-ROM blocks, whatever the unit's
// block length.
constexpr uint64_t CD_DATA_BLOCK_SIZE = 2048;

static void print_capacity_lines(device_address unit)
{
    std::array<uint8_t, CAPACITY_SIZE> capacity{};
    if (scsi_read_capacity(unit, CAPACITY_SIZE, capacity.data()) != 0)
        return;
    // The unit returns the address of its last block; both products are
    // 64-bit so that neither wraps.
    uint64_t sectors = uint64_t(get_be32(capacity.data())) + 1;
    uint32_t block_length = get_be32(capacity.data() + 4);
    uint64_t bytes = sectors * block_length;
    char byte_text[27];
    char sector_text[27];
    out_printf("    Capacity                 %13s bytes (%13s sectors)\n", format_grouped64(bytes, byte_text),
               format_grouped64(sectors, sector_text));
    char length_text[14];
    out_printf("    Block size               %13s bytes\n", format_grouped(block_length, length_text));
}

static void print_track_line(unsigned number, const uint8_t* descriptor, const uint8_t* next)
{
    uint8_t control = descriptor[1];
    uint32_t start = get_be32(descriptor + 4);
    uint32_t length = get_be32(next + 4) - start;

    char bracket[4];
    if (descriptor[2] == TOC_LEAD_OUT)
        std::snprintf(bracket, sizeof bracket, "--");
    else
        std::snprintf(bracket, sizeof bracket, "%2u", unsigned(descriptor[2]));

    const char* type;
    char size_text[40];
    if (control & CONTROL_DATA_TRACK) {
        type = "Data track";
        char figure[27];
        std::snprintf(size_text, sizeof size_text, "%13s bytes", format_grouped64(length * CD_DATA_BLOCK_SIZE, figure));
    } else {
        type = (control & CONTROL_FOUR_CHANNEL) ? "Audio (4ch)" : "Audio (2ch)";
        // A length, not an address: no 150-frame offset.
        std::snprintf(size_text, sizeof size_text, "%2u:%02u:%02u m:s:f", unsigned(length / 4500),
                      unsigned(length / 75 % 60), unsigned(length % 75));
    }
    char start_text[14];
    out_printf("    [%2s] %02u %-11s  %19s  %13s  %s\n", bracket, number, type, size_text,
               format_grouped(start, start_text), (control & CONTROL_COPY_PERMITTED) ? "Enable" : "Disable");
}

static void print_track_table(device_address unit)
{
    // Cleared first: a unit that sends less than its header promises leaves
    // zeros, never earlier contents.
    std::array<uint8_t, TOC_SIZE> toc{};
    if (scsi_read_toc(unit, TOC_SIZE, toc.data()) != 0)
        return;
    out_puts("    Track#  Type             Track data size  Start address  Digital copy\n");
    unsigned first = toc[2];
    unsigned last = toc[3];
    for (unsigned number = first; number <= last; number++) {
        size_t at = TOC_HEADER_SIZE + size_t(number - first) * TOC_DESCRIPTOR_SIZE;
        // Each line needs its own descriptor and the one after it.
        if (at + 2 * TOC_DESCRIPTOR_SIZE > toc.size())
            break;
        print_track_line(number, toc.data() + at, toc.data() + at + TOC_DESCRIPTOR_SIZE);
    }
}

void print_capacity_and_tracks(device_address unit)
{
    print_capacity_lines(unit);
    print_track_table(unit);
}
