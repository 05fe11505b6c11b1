// Capacity of the loaded medium and the CD track table.
#include <array>
#include <cstdio>

#include "format/bytes.h"
#include "format/format.h"
#include "format/json.h"
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

struct capacity_record {
    uint64_t sectors; // the last block's address plus one
    uint32_t block_length;
};

// One line of the track table: a descriptor and the start of the next.
struct track_record {
    unsigned number;       // counted from the table's first track
    uint8_t track_number;  // the descriptor's own, AAh for the lead-out
    uint8_t control;
    uint32_t start;
    uint32_t length;       // blocks up to the next descriptor's start
};

static int read_capacity_record(device_address unit, capacity_record* record)
{
    std::array<uint8_t, CAPACITY_SIZE> capacity{};
    if (scsi_read_capacity(unit, CAPACITY_SIZE, capacity.data()) != 0)
        return -1;
    // 64 bits, so that neither the count nor the product with the length wraps.
    record->sectors = uint64_t(get_be32(capacity.data())) + 1;
    record->block_length = get_be32(capacity.data() + 4);
    return 0;
}

static void print_capacity_lines(const capacity_record& r)
{
    char byte_text[27];
    char sector_text[27];
    out_printf("    Capacity                 %13s bytes (%13s sectors)\n",
               format_grouped64(r.sectors * r.block_length, byte_text), format_grouped64(r.sectors, sector_text));
    char length_text[14];
    out_printf("    Block size               %13s bytes\n", format_grouped(r.block_length, length_text));
}

static void print_track_line(const track_record& t)
{
    char bracket[4];
    if (t.track_number == TOC_LEAD_OUT)
        std::snprintf(bracket, sizeof bracket, "--");
    else
        std::snprintf(bracket, sizeof bracket, "%2u", unsigned(t.track_number));

    const char* type;
    char size_text[40];
    if (t.control & CONTROL_DATA_TRACK) {
        type = "Data track";
        char figure[27];
        std::snprintf(size_text, sizeof size_text, "%13s bytes", format_grouped64(t.length * CD_DATA_BLOCK_SIZE, figure));
    } else {
        type = (t.control & CONTROL_FOUR_CHANNEL) ? "Audio (4ch)" : "Audio (2ch)";
        // A length, not an address: no 150-frame offset.
        std::snprintf(size_text, sizeof size_text, "%2u:%02u:%02u m:s:f", unsigned(t.length / 4500),
                      unsigned(t.length / 75 % 60), unsigned(t.length % 75));
    }
    char start_text[14];
    out_printf("    [%2s] %02u %-11s  %19s  %13s  %s\n", bracket, t.number, type, size_text,
               format_grouped(t.start, start_text), (t.control & CONTROL_COPY_PERMITTED) ? "Enable" : "Disable");
}

static json_value track_json(const track_record& t)
{
    json_value j;
    j["number"] = t.number;
    j["track_number"] = t.track_number;
    j["lead_out"] = t.track_number == TOC_LEAD_OUT;
    j["control"] = t.control;
    bool data = (t.control & CONTROL_DATA_TRACK) != 0;
    j["type"] = data ? "data" : (t.control & CONTROL_FOUR_CHANNEL) ? "audio_4ch" : "audio_2ch";
    j["digital_copy_permitted"] = (t.control & CONTROL_COPY_PERMITTED) != 0;
    j["start"] = t.start;
    j["length_blocks"] = t.length;
    if (data)
        j["size_bytes"] = t.length * CD_DATA_BLOCK_SIZE;
    else
        j["duration"] = {{"minutes", t.length / 4500}, {"seconds", t.length / 75 % 60}, {"frames", t.length % 75}};
    return j;
}

static void report_track_table(device_address unit, const report_options& options)
{
    // Cleared first: a unit that sends less than its header promises leaves
    // zeros, never earlier contents.
    std::array<uint8_t, TOC_SIZE> toc{};
    if (scsi_read_toc(unit, TOC_SIZE, toc.data()) != 0)
        return;
    if (options.json == nullptr)
        out_puts("    Track#  Type             Track data size  Start address  Digital copy\n");
    json_value tracks = json_value::array();
    unsigned first = toc[2];
    unsigned last = toc[3];
    for (unsigned number = first; number <= last; number++) {
        size_t at = TOC_HEADER_SIZE + size_t(number - first) * TOC_DESCRIPTOR_SIZE;
        // Each line needs its own descriptor and the one after it.
        if (at + 2 * TOC_DESCRIPTOR_SIZE > toc.size())
            break;
        const uint8_t* descriptor = toc.data() + at;
        uint32_t start = get_be32(descriptor + 4);
        track_record track{number, descriptor[2], descriptor[1], start, get_be32(descriptor + TOC_DESCRIPTOR_SIZE + 4) - start};
        if (options.json != nullptr)
            tracks.push_back(track_json(track));
        else
            print_track_line(track);
    }
    if (options.json != nullptr)
        json_put(options.json, "tracks", tracks);
}

void report_capacity_and_tracks(device_address unit, const report_options& options)
{
    capacity_record capacity{};
    if (read_capacity_record(unit, &capacity) == 0) {
        if (options.json != nullptr)
            json_put(options.json, "capacity",
                     {{"sectors", capacity.sectors},
                      {"block_length", capacity.block_length},
                      {"bytes", capacity.sectors * capacity.block_length}});
        else
            print_capacity_lines(capacity);
    }
    report_track_table(unit, options);
}
