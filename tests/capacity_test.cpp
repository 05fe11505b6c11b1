// Capacity lines and CD track table, run with -p over the CD-ROM units of
// fixtures/detail/cd.bus.
#include <cstdio>

#include <gtest/gtest.h>

#include "detail_fixture.h"

namespace {

const char* const track_header = "    Track#  Type             Track data size  Start address  Digital copy\n";

std::string cd_report(const std::string& tag, const std::string& lines)
{
    return detail_device_line(tag, "CD TRACKS       ", "Removable", "CD-ROM device") + lines;
}

void expect_cd_report(const char* address, const std::string& tag, const std::string& lines)
{
    SCOPED_TRACE(address);
    run_result r = run_detail("cd.bus", "-p", address);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, detail_adapter_line() + cd_report(tag, lines));
    EXPECT_EQ(r.err, "");
}

} // namespace

TEST(capacity_and_tracks, data_and_audio_tracks)
{
    expect_cd_report("0:0", "0)ID:0-0",
                     "    Capacity                   655,360,000 bytes (      320,000 sectors)\n"
                     "    Block size                       2,048 bytes\n"
                     "    Track#  Type             Track data size  Start address  Digital copy\n"
                     "    [ 1] 01 Data track     614,400,000 bytes              0  Disable\n"
                     "    [ 2] 02 Audio (2ch)        4:26:50 m:s:f        300,000  Enable\n");
}

TEST(capacity_and_tracks, edges_of_capacity_and_track_list)
{
    // Last block 0: one sector. First track above the last: the header alone.
    expect_cd_report("0:1", "0)ID:1-0",
                     "    Capacity                         2,048 bytes (            1 sectors)\n"
                     "    Block size                       2,048 bytes\n" +
                         std::string(track_header));
    // No capacity lines; tracks 2 to 5, lengths from the following descriptor,
    // a 4 GiB data track not cut to 32 bits, control bits 08h, 0Ch, 01h, 06h.
    expect_cd_report("0:2", "0)ID:2-0",
                     std::string(track_header) +
                         "    [ 2] 02 Audio (4ch)        1:00:00 m:s:f              0  Disable\n"
                         "    [ 3] 03 Data track   4,294,967,296 bytes          4,500  Disable\n"
                         "    [ 4] 04 Audio (2ch)        0:00:74 m:s:f      2,101,652  Disable\n"
                         "    [ 5] 05 Data track       2,048,000 bytes      2,101,726  Enable\n");
    // The largest last block address: neither count wraps. No track table.
    // The lead-out walked as track 2: its bracket shows "--".
    expect_cd_report("0:6", "0)ID:6-0",
                     std::string(track_header) +
                         "    [ 1] 01 Audio (2ch)        0:02:00 m:s:f              0  Disable\n"
                         "    [--] 02 Audio (2ch)        0:02:00 m:s:f            150  Disable\n");
    expect_cd_report("0:3", "0)ID:3-0",
                     "    Capacity                 8,796,093,022,208 bytes (4,294,967,296 sectors)\n"
                     "    Block size                       2,048 bytes\n");
}

TEST(capacity_and_tracks, bytes_not_sent_read_as_zero)
{
    run_result r = run_detail("cd.bus", "-lp", "0:4");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, detail_adapter_line() +
                         cd_report("0)ID:4-0", std::string(track_header) +
                                                   "    [ 1] 01 Data track   2,443,358,208 bytes              0  Disable\n") +
                         cd_report("0)ID:4-1", std::string(track_header) +
                                                   "    [ 1] 01 Data track     134,217,728 bytes              0  Disable\n"));
}

TEST(capacity_and_tracks, walk_ends_at_the_last_descriptor_of_the_buffer)
{
    // Tracks 1 to 255 claimed, nothing sent: 99 lines, each with the next
    // descriptor inside the 804-byte buffer.
    std::string lines = track_header;
    for (unsigned n = 1; n <= 99; n++) {
        char line[100];
        std::snprintf(line, sizeof line, "    [ 0] %02u Audio (2ch)        0:00:00 m:s:f              0  Disable\n", n);
        lines += line;
    }
    expect_cd_report("0:5", "0)ID:5-0", lines);
}
