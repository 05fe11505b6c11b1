// Number and field formatting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "format/format.h"

TEST(Format, DecimalPlain)
{
    char b[21];
    EXPECT_STREQ(format_decimal(0, b), "0");
    EXPECT_STREQ(format_decimal(7, b), "7");
    EXPECT_STREQ(format_decimal(10, b), "10");
    EXPECT_STREQ(format_decimal(512, b), "512");
    EXPECT_STREQ(format_decimal(4294967295u, b), "4294967295");
    EXPECT_STREQ(format_decimal64(0, b), "0");
    EXPECT_STREQ(format_decimal64(1000000, b), "1000000");
    EXPECT_STREQ(format_decimal64(9223372036854775807ull, b), "9223372036854775807");
    EXPECT_STREQ(format_decimal64(18446744073709551615ull, b), "18446744073709551615");
}

TEST(Format, DecimalReturnsItsBuffer)
{
    char b[21];
    EXPECT_EQ(format_decimal(1, b), b);
    EXPECT_EQ(format_decimal64(1, b), b);
    EXPECT_EQ(format_grouped(1, b), b);
    char g[27];
    EXPECT_EQ(format_grouped64(1, g), g);
}

TEST(Format, DecimalFitsTheDocumentedBuffers)
{
    // 11 bytes for the largest 32-bit value, 21 for the largest 64-bit one.
    char b[12];
    std::memset(b, 'x', sizeof b);
    format_decimal(4294967295u, b);
    EXPECT_EQ(b[10], 0);
    EXPECT_EQ(b[11], 'x');
    char c[22];
    std::memset(c, 'x', sizeof c);
    format_decimal64(18446744073709551615ull, c);
    EXPECT_EQ(c[20], 0);
    EXPECT_EQ(c[21], 'x');
}

TEST(Format, Grouped)
{
    char b[14];
    EXPECT_STREQ(format_grouped(0, b), "0");
    EXPECT_STREQ(format_grouped(1, b), "1");
    EXPECT_STREQ(format_grouped(12, b), "12");
    EXPECT_STREQ(format_grouped(100, b), "100");
    EXPECT_STREQ(format_grouped(512, b), "512");
    EXPECT_STREQ(format_grouped(999, b), "999");
    EXPECT_STREQ(format_grouped(1000, b), "1,000");
    EXPECT_STREQ(format_grouped(1001, b), "1,001");
    EXPECT_STREQ(format_grouped(10000, b), "10,000");
    EXPECT_STREQ(format_grouped(100000, b), "100,000");
    EXPECT_STREQ(format_grouped(999999, b), "999,999");
    EXPECT_STREQ(format_grouped(1000000, b), "1,000,000");
    EXPECT_STREQ(format_grouped(1474560, b), "1,474,560");
    EXPECT_STREQ(format_grouped(4294967295u, b), "4,294,967,295");
    EXPECT_EQ(std::strlen(b), 13u); // exactly the report column
}

TEST(Format, GroupedFitsFourteenBytes)
{
    char b[15];
    std::memset(b, 'x', sizeof b);
    format_grouped(4294967295u, b);
    EXPECT_EQ(b[13], 0);
    EXPECT_EQ(b[14], 'x');
}

TEST(Format, Grouped64)
{
    char b[27];
    EXPECT_STREQ(format_grouped64(0, b), "0");
    EXPECT_STREQ(format_grouped64(999, b), "999");
    EXPECT_STREQ(format_grouped64(1000, b), "1,000");
    EXPECT_STREQ(format_grouped64(4294967296ull, b), "4,294,967,296");
    EXPECT_STREQ(format_grouped64(2199023255040ull, b), "2,199,023,255,040"); // 0xFFFFFFFF * 512
    EXPECT_STREQ(format_grouped64(9223372036854775807ull, b), "9,223,372,036,854,775,807");
}

TEST(Format, Grouped64AtAndAboveTwoToThe63PrintsTheUnsignedValue)
{
    char b[28];
    std::memset(b, 'x', sizeof b);
    EXPECT_STREQ(format_grouped64(9223372036854775808ull, b), "9,223,372,036,854,775,808");
    EXPECT_STREQ(format_grouped64(18446744073709551615ull, b), "18,446,744,073,709,551,615");
    EXPECT_EQ(b[26], 0); // 26 characters and the terminator: the 27 bytes of format.h
    EXPECT_EQ(b[27], 'x');
}

TEST(Format, PaddedFieldExactWidth)
{
    char d[9];
    EXPECT_STREQ(copy_padded_field(d, "SEAGATE ", 8), "SEAGATE ");
    EXPECT_STREQ(copy_padded_field(d, "ABCDEFGH", 8), "ABCDEFGH");
}

TEST(Format, PaddedFieldShortSourceIsBlankFilled)
{
    char d[9];
    EXPECT_STREQ(copy_padded_field(d, "ABC", 8), "ABC     ");
    EXPECT_STREQ(copy_padded_field(d, "", 8), "        ");
}

TEST(Format, PaddedFieldLongSourceIsCut)
{
    char d[17];
    EXPECT_STREQ(copy_padded_field(d, "ABCDEFGHIJKLMNOPQRST", 16), "ABCDEFGHIJKLMNOP");
}

TEST(Format, PaddedFieldStopsAtZeroByte)
{
    const char source[4] = {'X', 0, 'Y', 'Z'};
    char d[5];
    EXPECT_STREQ(copy_padded_field(d, source, 4), "X   ");
}

TEST(Format, PaddedFieldNeverReadsBeyondWidth)
{
    // An unterminated field at the very end of a heap block: AddressSanitizer
    // reports any read past it.
    char* source = new char[8];
    std::memcpy(source, "QUANTUM!", 8);
    char d[9];
    EXPECT_STREQ(copy_padded_field(d, source, 8), "QUANTUM!");
    delete[] source;
}

TEST(Format, PaddedFieldDoesNotWriteBeyondWidthPlusOne)
{
    char d[8];
    std::memset(d, 'x', sizeof d);
    copy_padded_field(d, "AB", 4);
    EXPECT_EQ(std::string(d, 5), std::string("AB  \0", 5));
    EXPECT_EQ(d[5], 'x');
}

TEST(Format, PaddedFieldWidthOne)
{
    char d[2];
    EXPECT_STREQ(copy_padded_field(d, "Z", 1), "Z");
    EXPECT_STREQ(copy_padded_field(d, "", 1), " ");
}

TEST(Format, PaddedFieldControlBytesBecomeDots)
{
    const unsigned char source[8] = {'A', 0x01, 0x1B, '[', '2', 'J', 0x1F, 0x7F};
    char d[9];
    EXPECT_STREQ(copy_padded_field(d, source, 8), "A..[2J..");
    const unsigned char cr[4] = {'X', '\r', '\n', '\t'};
    EXPECT_STREQ(copy_padded_field(d, cr, 4), "X...");
}

TEST(Format, PaddedFieldKeepsBlankTildeAndHighBytes)
{
    // Shift-JIS "TOWNS" in full-width letters keeps its bytes; 20h and 7Eh are
    // printable.
    const unsigned char source[6] = {0x82, 0x73, 0x82, 0x6E, ' ', '~'};
    char d[7];
    copy_padded_field(d, source, 6);
    EXPECT_EQ(std::memcmp(d, source, 6), 0);
    EXPECT_EQ(d[6], 0);
    const unsigned char high[3] = {0x80, 0xFF, 0xA0};
    char h[4];
    copy_padded_field(h, high, 3);
    EXPECT_EQ(std::memcmp(h, high, 3), 0);
}

TEST(Format, TrimmedField)
{
    char d[12];
    EXPECT_STREQ(copy_trimmed_field(d, "DATA DISK  ", 11), "DATA DISK");
    EXPECT_STREQ(copy_trimmed_field(d, "           ", 11), "");
    EXPECT_STREQ(copy_trimmed_field(d, "", 11), "");
    EXPECT_STREQ(copy_trimmed_field(d, " LEAD", 11), " LEAD");
    EXPECT_STREQ(copy_trimmed_field(d, "NO NAME    ", 11), "NO NAME");
    EXPECT_STREQ(copy_trimmed_field(d, "ABCDEFGHIJKLM", 11), "ABCDEFGHIJK");
    EXPECT_EQ(copy_trimmed_field(d, "X", 11), d);
}

TEST(Format, TrimmedFieldStopsAtZeroAndKeepsDots)
{
    const char source[6] = {'F', 'A', 'T', 0, 'Q', 'Q'};
    char d[7];
    EXPECT_STREQ(copy_trimmed_field(d, source, 6), "FAT");
    // A control byte at the end is a dot, not a blank: it is not trimmed.
    const char tab[4] = {'A', ' ', '\t', ' '};
    EXPECT_STREQ(copy_trimmed_field(d, tab, 4), "A .");
}
