// Sector hex dump.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "format/dump.h"
#include "format/output.h"

static std::string capture_dump(long first, int count, int size, const uint8_t* buffer)
{
    FILE* f = temp_stream();
    set_output_stream(f);
    print_sector_dump(first, count, size, buffer);
    fflush(f);
    set_output_stream(nullptr);
    std::string text;
    rewind(f);
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        text.append(chunk, n);
    fclose(f);
    return text;
}

static const char header[] =
    " ofs  +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F  ASCII\n"
    "----  -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --  ----------------\n";

static const char zero_row_tail[] = "  00 00 00 00 00 00 00 00-00 00 00 00 00 00 00 00  ................\n";

static int count_lines(const std::string& s)
{
    int n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

TEST(Dump, ABootSectorWithItsSignature)
{
    std::vector<uint8_t> s(512, 0);
    const uint8_t start[] = {0xEB, 0x3C, 0x90, 'A', 'B', 'C', 'D', '1', '.', '0', '0', 0x00, 0x02, 0x08, 0x01, 0x00};
    std::memcpy(s.data(), start, sizeof start);
    s[510] = 0x55;
    s[511] = 0xAA;
    std::string expected = std::string("sector 0\n") + header +
                           "+000  EB 3C 90 41 42 43 44 31-2E 30 30 00 02 08 01 00  .<.ABCD1.00.....\n";
    for (int o = 0x10; o < 0x1F0; o += 0x10) {
        char offset[8];
        std::snprintf(offset, sizeof offset, "+%03X", o);
        expected += std::string(offset) + zero_row_tail;
    }
    expected += "+1F0  00 00 00 00 00 00 00 00-00 00 00 00 00 00 55 AA  ..............U.\n";
    EXPECT_EQ(capture_dump(0, 1, 512, s.data()), expected);
}

TEST(Dump, CountZeroPrintsNothing)
{
    uint8_t s[512] = {};
    EXPECT_EQ(capture_dump(0, 0, 512, s), "");
    EXPECT_EQ(capture_dump(0, -1, 512, s), "");
}

TEST(Dump, CharacterColumnShowsOnly20hTo7Eh)
{
    uint8_t s[16] = {0x20, 0x7E, 0x7F, 0x80, 0xFF, 0x00, 0x1F, 0x41, 0x09, 0x0A, 0x0D, 0x1B, 0x81, 0x9F, 0x21, 0x30};
    std::string expected = std::string("sector 5\n") + header +
                           "+000  20 7E 7F 80 FF 00 1F 41-09 0A 0D 1B 81 9F 21 30   ~.....A......!0\n";
    EXPECT_EQ(capture_dump(5, 1, 16, s), expected);
}

TEST(Dump, LargeSectorsUseWiderOffsets)
{
    std::vector<uint8_t> s(8192, 0);
    std::string text = capture_dump(0, 1, 2048, s.data());
    EXPECT_EQ(count_lines(text), 3 + 128);
    EXPECT_NE(text.find("\n+7F0" + std::string(zero_row_tail)), std::string::npos);
    EXPECT_EQ(text.find("+800"), std::string::npos);

    text = capture_dump(0, 1, 8192, s.data());
    EXPECT_EQ(count_lines(text), 3 + 512);
    EXPECT_NE(text.find("\n+FF0" + std::string(zero_row_tail) + "+1000" + zero_row_tail), std::string::npos);
    std::string last = "\n+1FF0" + std::string(zero_row_tail);
    EXPECT_EQ(text.compare(text.size() - last.size(), last.size(), last), 0); // the last row
}

TEST(Dump, TwoSectorsPrintTwoBlocksWithOffsetsPerSector)
{
    uint8_t s[64];
    for (int i = 0; i < 64; i++)
        s[i] = uint8_t(i + 0x30);
    std::string expected = std::string("sector 0\n") + header +
                           "+000  30 31 32 33 34 35 36 37-38 39 3A 3B 3C 3D 3E 3F  0123456789:;<=>?\n"
                           "+010  40 41 42 43 44 45 46 47-48 49 4A 4B 4C 4D 4E 4F  @ABCDEFGHIJKLMNO\n" +
                           "sector 1\n" + header +
                           "+000  50 51 52 53 54 55 56 57-58 59 5A 5B 5C 5D 5E 5F  PQRSTUVWXYZ[\\]^_\n"
                           "+010  60 61 62 63 64 65 66 67-68 69 6A 6B 6C 6D 6E 6F  `abcdefghijklmno\n";
    EXPECT_EQ(capture_dump(0, 2, 32, s), expected);
}

TEST(Dump, SectorNumbersStartAtFirst)
{
    uint8_t s[32] = {};
    std::string text = capture_dump(1000, 2, 16, s);
    EXPECT_EQ(text.find("sector 1000\n"), 0u);
    EXPECT_NE(text.find("sector 1001\n"), std::string::npos);
    EXPECT_EQ(capture_dump(-1, 1, 16, s).find("sector -1\n"), 0u);
}

TEST(Dump, ShortLastRowIsBlankPaddedAndNothingBeyondIsRead)
{
    // 2 sectors of 20 bytes in a heap block of exactly 40: AddressSanitizer
    // reports any read past it.
    uint8_t* s = new uint8_t[40];
    for (int i = 0; i < 40; i++)
        s[i] = uint8_t('a' + i % 26);
    std::string expected = std::string("sector 0\n") + header +
                           "+000  61 62 63 64 65 66 67 68-69 6A 6B 6C 6D 6E 6F 70  abcdefghijklmnop\n"
                           "+010  71 72 73 74                                      qrst            \n" +
                           "sector 1\n" + header +
                           "+000  75 76 77 78 79 7A 61 62-63 64 65 66 67 68 69 6A  uvwxyzabcdefghij\n"
                           "+010  6B 6C 6D 6E                                      klmn            \n";
    EXPECT_EQ(capture_dump(0, 2, 20, s), expected);
    delete[] s;
}

TEST(Dump, ShortRowKeepsTheHalfSeparatorWhenPresent)
{
    uint8_t* s = new uint8_t[9];
    std::memset(s, 0x41, 9);
    std::string expected = std::string("sector 0\n") + header +
                           "+000  41 41 41 41 41 41 41 41-41                       AAAAAAAAA       \n";
    EXPECT_EQ(capture_dump(0, 1, 9, s), expected);
    delete[] s;
}

TEST(Dump, ZeroSizeSectorPrintsHeadersOnly)
{
    uint8_t s[1] = {0};
    EXPECT_EQ(capture_dump(0, 1, 0, s), std::string("sector 0\n") + header);
}
