// FAT boot parameter block reports: whole reports for a floppy, a FAT16 and
// a FAT32 block, and blocks whose derived values cannot be computed.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "harness.h"
#include "format/bytes.h"
#include "format/output.h"
#include "partition/partition.h"

namespace {

// A boot sector image; the block starts at its offset 0Bh.
using boot_sector = std::array<uint8_t, 512>;

std::string capture_report(void (*report)(const uint8_t*), const boot_sector& sector)
{
    FILE* f = temp_stream();
    set_output_stream(f);
    report(sector.data() + 0x0B);
    fflush(f);
    set_output_stream(nullptr);
    std::string text;
    rewind(f);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    fclose(f);
    return text;
}

struct block_fields {
    uint16_t bytes_per_sector;
    uint8_t sectors_per_cluster;
    uint16_t reserved;
    uint8_t fats;
    uint16_t root_entries;
    uint16_t total16;
    uint8_t media;
    uint16_t fat16_sectors;
    uint16_t sectors_per_track;
    uint16_t heads;
    uint32_t hidden;
    uint32_t total32;
};

boot_sector make_block(const block_fields& f)
{
    boot_sector s{};
    put_le16(&s[0x0B], f.bytes_per_sector);
    s[0x0D] = f.sectors_per_cluster;
    put_le16(&s[0x0E], f.reserved);
    s[0x10] = f.fats;
    put_le16(&s[0x11], f.root_entries);
    put_le16(&s[0x13], f.total16);
    s[0x15] = f.media;
    put_le16(&s[0x16], f.fat16_sectors);
    put_le16(&s[0x18], f.sectors_per_track);
    put_le16(&s[0x1A], f.heads);
    put_le32(&s[0x1C], f.hidden);
    put_le32(&s[0x20], f.total32);
    return s;
}

void set_fat16_names(boot_sector* s, uint32_t serial, const char* label, const char* name)
{
    put_le32(&(*s)[0x27], serial);
    memcpy(&(*s)[0x2B], label, 11);
    memcpy(&(*s)[0x36], name, 8);
}

} // namespace

TEST(BootParameterBlock, FloppyOf1440KilobytesPrintsEveryLine)
{
    boot_sector s = make_block({512, 1, 1, 2, 224, 2880, 0xF0, 9, 18, 2, 0, 0});
    set_fat16_names(&s, 0x1A2B3C4D, "NO NAME    ", "FAT12   ");
    // Root directory 224 x 32 / 512 = 14 sectors; data 2,880 - 1 - 14 - 18 =
    // 2,847 sectors, one cluster each, no gap.
    const char* expected =
        "        BPB:Sector size                512 bytes\n"
        "        BPB:Cluster size               512 bytes (  1 unit)\n"
        "        BPB:Reserve sector               1\n"
        "        BPB:FAT number                   2\n"
        "        BPB:Root entry                 224 directories     ( 14 sectors)\n"
        "        BPB:Sector volume        1,474,560 bytes (        2,880 sectors)\n"
        "        BPB:Media descriptor            F0H\n"
        "        BPB:FAT sector                   9\n"
        "        BPB:Sector per track            18\n"
        "        BPB:Head number                  2\n"
        "        BPB:Hidden sector                0\n"
        "        BPB:Serial number        1A2B-3C4D\n"
        "        BPB:Volume label           NO NAME\n"
        "        BPB:File system name         FAT12\n"
        "        BPB:FileSys capacity     1,457,664 bytes (        2,847 clusters)\n";
    EXPECT_EQ(capture_report(report_fat_bpb, s), expected);
}

TEST(BootParameterBlock, Fat16TakesThe32BitTotalAndShowsTheGap)
{
    // Data sectors 100,005 = 100,242 total - 5 reserved - 32 root - 200 FAT.
    boot_sector s = make_block({512, 4, 5, 2, 512, 0, 0xF8, 100, 63, 255, 63, 100242});
    set_fat16_names(&s, 0, "           ", "FAT16   ");
    std::string text = capture_report(report_fat_bpb, s);
    EXPECT_NE(text.find("        BPB:Sector volume       51,323,904 bytes (      100,242 sectors)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("        BPB:Volume label                  \n"), std::string::npos) << text;
    // 25,001 clusters cover 100,004 sectors; one sector is left over.
    EXPECT_NE(text.find("        BPB:FileSys capacity    51,202,048 bytes (       25,001 clusters)\n"
                        "        BPB:FileSys gap size           512 bytes (            1 sectors )\n"),
              std::string::npos)
        << text;
}

TEST(BootParameterBlock, Fat32PrintsItsOwnLayout)
{
    boot_sector s = make_block({512, 8, 32, 2, 0, 0, 0xF8, 0, 63, 255, 2048, 100032});
    put_le32(&s[0x24], 1000);     // sectors per FAT
    put_le16(&s[0x28], 0x0081);   // extended flags
    put_le16(&s[0x2A], 0x0000);   // version
    put_le32(&s[0x2C], 2);        // root cluster
    put_le16(&s[0x32], 6);        // backup boot sector
    put_le32(&s[0x43], 0xDEADBEEF);
    memcpy(&s[0x47], "BIG VOLUME ", 11);
    memcpy(&s[0x52], "FAT32   ", 8);
    // Data 100,032 - 32 - 2,000 = 98,000 sectors: 12,250 clusters of 8, no gap.
    const char* expected =
        "        BPB:Sector size                512 bytes\n"
        "        BPB:Cluster size             4,096 bytes (  8 unit)\n"
        "        BPB:Reserve sector              32\n"
        "        BPB:FAT number                   2\n"
        "        BPB:Sector volume       51,216,384 bytes (      100,032 sectors)\n"
        "        BPB:Media descriptor            F8H\n"
        "        BPB:Sector per track            63\n"
        "        BPB:Head number                255\n"
        "        BPB:Hidden sector            2,048\n"
        "        BPB:FAT sector               1,000\n"
        "        BPB:Extend flags              0081\n"
        "        BPB:File system version       0000\n"
        "        BPB:Root start cluster           2\n"
        "        BPB:Backup boot sector           6\n"
        "        BPB:Serial number        DEAD-BEEF\n"
        "        BPB:Volume label        BIG VOLUME\n"
        "        BPB:File system name         FAT32\n"
        "        BPB:FileSys capacity    50,176,000 bytes (       12,250 clusters)\n";
    EXPECT_EQ(capture_report(report_fat32_bpb, s), expected);
}

TEST(BootParameterBlock, UnderivableValuesPrintAQuestionMark)
{
    // Zero sectors per cluster: the clusters cannot be counted.
    boot_sector s = make_block({512, 0, 1, 2, 224, 2880, 0xF0, 9, 18, 2, 0, 0});
    std::string text = capture_report(report_fat_bpb, s);
    EXPECT_NE(text.find("        BPB:Cluster size                 0 bytes (  0 unit)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("        BPB:FileSys capacity             ? bytes (            ? clusters)\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("gap size"), std::string::npos) << text;
    EXPECT_NE(capture_report(report_fat32_bpb, s).find("(            ? clusters)\n"), std::string::npos);

    // Zero bytes per sector: no root directory size either.
    s = make_block({0, 1, 1, 2, 224, 2880, 0xF0, 9, 18, 2, 0, 0});
    text = capture_report(report_fat_bpb, s);
    EXPECT_NE(text.find("        BPB:Root entry                 224 directories     (  ? sectors)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("        BPB:Sector volume                0 bytes (        2,880 sectors)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("(            ? clusters)\n"), std::string::npos) << text;

    // Reserved and FAT areas larger than the volume: no wrapped difference.
    s = make_block({512, 1, 60000, 2, 0, 100, 0xF8, 0, 0, 0, 0, 0});
    put_le32(&s[0x24], 0xFFFFFFFFu);
    EXPECT_NE(capture_report(report_fat32_bpb, s).find("(            ? clusters)\n"), std::string::npos);
    s = make_block({512, 1, 1, 255, 512, 100, 0xF8, 65535, 0, 0, 0, 0});
    EXPECT_NE(capture_report(report_fat_bpb, s).find("(            ? clusters)\n"), std::string::npos);
}

TEST(BootParameterBlock, LargestFieldsKeepTheirFullProducts)
{
    boot_sector s = make_block({65535, 255, 0, 0, 0, 0, 0xF8, 0, 0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu});
    std::string text = capture_report(report_fat_bpb, s);
    EXPECT_NE(text.find("        BPB:Cluster size        16,711,425 bytes (255 unit)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("        BPB:Sector volume    281,470,681,677,825 bytes (4,294,967,295 sectors)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("        BPB:Hidden sector    4,294,967,295\n"), std::string::npos) << text;
    // 4,294,967,295 data sectors / 255 = 16,843,009 clusters exactly.
    EXPECT_NE(text.find("BPB:FileSys capacity 281,470,681,677,825 bytes (   16,843,009 clusters)\n"),
              std::string::npos)
        << text;
}
