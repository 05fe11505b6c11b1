// The partition maps beyond the PC and FMR/TOWNS tables, over media laid
// out byte by byte in memory from the published layouts: GPT with its
// backup header, on 512- and 4096-byte sectors; PC-98; the Apple partition
// map; the Amiga rigid disk block; Atari AHDI; Sun and SGI labels; BSD
// disk labels alone and inside a slice. Each map also meets media built to
// break it: loops, entries past the end, counts larger than the map, bad
// checksums, zero block sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"
#include "partition/maps.h"
#include "map_media.h"
#include "format/bytes.h"
#include "format/crc32.h"
#include "format/report_options.h"
#include "partition/medium.h"
#include "partition/partition.h"

namespace {

// The report of the medium's start, as the disk and device reports print it.
std::string report(built_medium* m, bool partitions = false, uint32_t heads = 0, uint32_t sectors_per_track = 0)
{
    medium_reader reader{read_built_medium, m, m->sector_size, m->sector_count, heads, sectors_per_track};
    report_options options;
    options.show_partitions = partitions;
    return capture_output([&] { report_medium(&reader, options); }).out;
}

// ---- GPT -----------------------------------------------------------------

const char* const ESP_TYPE = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
const char* const LINUX_TYPE = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";

// An EFI system partition with a FAT32 volume, an unused entry, then a
// Linux partition bootable by a legacy BIOS with a name beyond ASCII.
std::vector<gpt_part> sample_gpt_parts()
{
    return {{0, ESP_TYPE, 2048, 10239, 0, u"EFI system partition"},
            {2, LINUX_TYPE, 10240, 30719, 4, u"\u00DCn\u00EFc\u00F6d\u00E9"}};
}

const std::string GPT_MBR_LINES = "  IBM HARD DISK FORMAT          33,554,432 bytes\n"
                                  "  ( 1)                          33,553,920 .. unkown OS (EEH)         \n"
                                  "  GUID PARTITION TABLE          33,554,432 bytes\n";
const std::string GPT_HEADER_LINES = "  GPT:Disk GUID              01234567-89AB-CDEF-0123-456789ABCDEF\n"
                                     "  GPT:First usable sector               34\n"
                                     "  GPT:Last usable sector            65,502\n"
                                     "  GPT:Partition entries                128\n";
const std::string GPT_ENTRY_LINES =
    "  ( 1) ESP         1234-ABCD     4,194,304 .. EFI System               EFI system partition\n"
    " *( 3)                          10,485,760 .. Linux filesystem         \u00DCn\u00EFc\u00F6d\u00E9\n"
    "  (--)  Free disk space         17,808,896 bytes (       34,783 sectors)\n";

built_medium sample_gpt_medium()
{
    built_medium m{512, 65536, {}};
    put_gpt(&m, sample_gpt_parts());
    put_fat_boot(&m, 2048 * 512, true, 8192, 2048, 0x1234ABCD, "ESP");
    return m;
}

} // namespace

TEST(Crc32, KnownValues)
{
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(update_crc32(0, check, sizeof check), 0xCBF43926u);
    EXPECT_EQ(update_crc32(update_crc32(0, check, 4), check + 4, 5), 0xCBF43926u);
    EXPECT_EQ(update_crc32(0, check, 0), 0u);
}

TEST(GptMap, SectionFollowsTheProtectiveEntry)
{
    built_medium m = sample_gpt_medium();
    EXPECT_EQ(report(&m), GPT_MBR_LINES + GPT_HEADER_LINES + GPT_ENTRY_LINES);

    // Under p: the protective entry's extent, each entry's extent, GUID and
    // attributes, and the FAT32 volume's parameter block.
    std::string text = report(&m, true);
    EXPECT_EQ(text.substr(0, text.find("        BPB:")),
              "  IBM HARD DISK FORMAT          33,554,432 bytes\n"
              "  ( 1)                          33,553,920 .. unkown OS (EEH)         \n"
              "        Partition start                  1 (       1H)\n"
              "        Partition size              65,535 (    FFFFH)\n"
              "  GUID PARTITION TABLE          33,554,432 bytes\n" +
                  GPT_HEADER_LINES +
                  "  ( 1) ESP         1234-ABCD     4,194,304 .. EFI System               EFI system partition\n"
                  "        Partition start              2,048 (     800H)\n"
                  "        Partition size               8,192 (    2000H)\n"
                  "        GPT:Partition GUID   11111111-2222-3333-4444-000000000000\n"
                  "        GPT:Attributes                  0H\n");
    EXPECT_NE(text.find("        BPB:FAT sector                  63\n"
                        "        BPB:Extend flags              0000\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" *( 3)                          10,485,760 .. Linux filesystem         \u00DCn\u00EFc\u00F6d\u00E9\n"
                        "        Partition start             10,240 (    2800H)\n"
                        "        Partition size              20,480 (    5000H)\n"
                        "        GPT:Partition GUID   11111111-2222-3333-4444-000000000002\n"
                        "        GPT:Attributes                  4H\n"
                        "  (--)  Free disk space         17,808,896 bytes (       34,783 sectors)\n"),
              std::string::npos)
        << text;
}

TEST(GptMap, BackupHeaderStandsInOrIsReported)
{
    // The primary header's CRC broken: the backup's table is listed.
    built_medium m = sample_gpt_medium();
    m.at(512 + 16)[0] ^= 1;
    EXPECT_EQ(report(&m), GPT_MBR_LINES +
                              "  GPT:Primary header damaged (header CRC), backup at sector 65,535 used\n" +
                              GPT_HEADER_LINES + GPT_ENTRY_LINES);

    // The primary's entry array damaged: its CRC no longer matches.
    m = sample_gpt_medium();
    m.at(2 * 512 + 100)[0] ^= 0x40;
    EXPECT_EQ(report(&m), GPT_MBR_LINES +
                              "  GPT:Primary header damaged (entry array CRC), backup at sector 65,535 used\n" +
                              GPT_HEADER_LINES + GPT_ENTRY_LINES);

    // No backup at all.
    m = sample_gpt_medium();
    m.sectors.erase(65535);
    EXPECT_EQ(report(&m), GPT_MBR_LINES + "  GPT:Backup header missing at sector 65,535 (no signature)\n" +
                              GPT_HEADER_LINES + GPT_ENTRY_LINES);

    // A backup that is sound but describes another table.
    m = sample_gpt_medium();
    std::vector<gpt_part> other = sample_gpt_parts();
    other[1].last = 30000;
    put_gpt_copy(&m, 65535, 1, 65503, other, gpt_layout{});
    EXPECT_EQ(report(&m), GPT_MBR_LINES + "  GPT:Backup header at sector 65,535 differs from the primary\n" +
                              GPT_HEADER_LINES + GPT_ENTRY_LINES);

    // Neither: the section has its heading and the reason, and no entry.
    m = sample_gpt_medium();
    m.sectors.erase(1);
    m.sectors.erase(65535);
    EXPECT_EQ(report(&m), GPT_MBR_LINES + "  GPT:No valid header: primary (no signature), backup at sector 65,535 "
                                          "(no signature)\n");
}

TEST(GptMap, HeadersThatBreakTheRules)
{
    struct broken {
        gpt_layout layout;
        const char* reason;
    } cases[] = {
        {{128, 64, 92}, "entry size"},
        {{0, 128, 92}, "entry count"},
        {{65537, 128, 92}, "entry count"},
        {{128, 128, 91}, "header size"},
        {{128, 128, 513}, "header size"},
    };
    for (const broken& c : cases) {
        SCOPED_TRACE(c.reason);
        built_medium m{512, 65536, {}};
        put_gpt(&m, sample_gpt_parts(), c.layout);
        std::string text = report(&m);
        EXPECT_NE(text.find(std::string("  GPT:No valid header: primary (") + c.reason + "), backup at sector 65,535 (" +
                            c.reason + ")\n"),
                  std::string::npos)
            << text;
    }

    // A medium cut short by its last sector, where the backup was.
    built_medium m = sample_gpt_medium();
    m.sector_count = 65535;
    std::string text = report(&m);
    EXPECT_NE(text.find("  GPT:Backup header missing at sector 65,535 (outside the medium)\n"), std::string::npos)
        << text;

    // A header whose usable range runs past the medium, one that names
    // another sector as its own, and an array that would lie past the end.
    m = sample_gpt_medium();
    uint8_t* h = m.at(512);
    put_le64(h + 48, 65536);
    put_le32(h + 16, 0);
    put_le32(h + 16, update_crc32(0, h, 92));
    text = report(&m);
    EXPECT_NE(text.find("  GPT:Primary header damaged (usable range), backup at sector 65,535 used\n"),
              std::string::npos)
        << text;

    m = sample_gpt_medium();
    h = m.at(512);
    put_le64(h + 24, 2);
    put_le32(h + 16, 0);
    put_le32(h + 16, update_crc32(0, h, 92));
    text = report(&m);
    EXPECT_NE(text.find("  GPT:Primary header damaged (not at its own address), backup at sector 65,535 used\n"),
              std::string::npos)
        << text;

    m = sample_gpt_medium();
    h = m.at(512);
    put_le64(h + 72, 65530);
    put_le32(h + 16, 0);
    put_le32(h + 16, update_crc32(0, h, 92));
    text = report(&m);
    EXPECT_NE(text.find("  GPT:Primary header damaged (entry array outside the medium), backup at sector 65,535 used\n"),
              std::string::npos)
        << text;

    // An entry whose last sector lies before its first covers nothing.
    m = built_medium{512, 65536, {}};
    put_gpt(&m, {{0, LINUX_TYPE, 5000, 4000, 0, u"backwards"}});
    text = report(&m);
    EXPECT_NE(text.find("  ( 1)                                   0 .. Linux filesystem         backwards\n"),
              std::string::npos)
        << text;
}

TEST(GptMap, FourKibibyteSectors)
{
    // The same table on a medium of 4096-byte sectors: 16 entries fill the
    // array's sector, so the usable range runs from 3 to 8,189.
    built_medium m{4096, 8192, {}};
    put_gpt(&m, {{0, ESP_TYPE, 256, 2303, 0, u"EFI"}, {1, LINUX_TYPE, 2304, 3327, 0, u"root"}},
            gpt_layout{16, 128, 92});
    const std::string expected = "  IBM HARD DISK FORMAT          33,554,432 bytes\n"
                                 "  ( 1)                          33,550,336 .. unkown OS (EEH)         \n"
                                 "  GUID PARTITION TABLE          33,554,432 bytes\n"
                                 "  GPT:Disk GUID              01234567-89AB-CDEF-0123-456789ABCDEF\n"
                                 "  GPT:First usable sector                3\n"
                                 "  GPT:Last usable sector             8,189\n"
                                 "  GPT:Partition entries                 16\n"
                                 "  ( 1)                           8,388,608 .. EFI System               EFI\n"
                                 "  ( 2)                           4,194,304 .. Linux filesystem         root\n"
                                 "  (--)  Free disk space         19,914,752 bytes (        4,862 sectors)\n";
    EXPECT_EQ(report(&m), expected);

    // An image of that medium read in 512-byte sectors: the header lies at
    // byte 4096, so the medium is read in sectors of 4096 bytes again.
    built_medium image{512, 65536, {}};
    for (const auto& s : m.sectors)
        image.put(s.first * 4096, s.second.data(), s.second.size());
    EXPECT_EQ(report(&image), expected);
}

// ---- PC-98 ---------------------------------------------------------------

namespace {

// "データ" in Shift-JIS.
const char* const DATA_NAME = "\x83\x66\x81\x5B\x83\x5E";

} // namespace

TEST(Pc98Map, TableLaidOutByHand)
{
    // 8 heads of 32 sectors, 1,000 cylinders. A bootable FAT16 partition on
    // cylinders 1 to 400 and a Linux one on 401 to 600, their ends written
    // as last head and sector as NEC's FDISK writes them: the geometry
    // comes from the table.
    built_medium m{512, 256000, {}};
    put_pc98(&m, {{0xA0, 0xA1, 1, 0, 0, 400, 7, 31, "MS-DOS 6.20"}, {0x20, 0xE2, 401, 0, 0, 600, 7, 31, DATA_NAME}});
    put_fat_boot(&m, 256 * 512, false, 102400, 256, 0x56789ABC, "PC98VOL");
    const std::string entries = " *( 1) PC98VOL     5678-9ABC    52,428,800 .. DOS FAT16 (over 32M)     MS-DOS 6.20\n"
                                "  ( 2)                          26,214,400 .. Linux                    "
                                "\x83\x66\x81\x5B\x83\x5E\n"
                                "  (--)  Free disk space         52,297,728 bytes (      102,144 sectors)\n";
    EXPECT_EQ(report(&m), "  PC-98 HARD DISK FORMAT       131,072,000 bytes\n"
                          "  P98:Track per cylinder                 8\n"
                          "  P98:Sector per track                  32\n"
                          "  P98:Geometry from                  table\n" +
                              entries);
    std::string text = report(&m, true);
    EXPECT_NE(text.find(" *( 1) PC98VOL     5678-9ABC    52,428,800 .. DOS FAT16 (over 32M)     MS-DOS 6.20\n"
                        "        Partition start                256 (     100H)\n"
                        "        Partition size             102,400 (   19000H)\n"
                        "        BPB:Sector size                512 bytes\n"),
              std::string::npos)
        << text;

    // The holder's geometry comes first.
    EXPECT_EQ(report(&m, false, 8, 32), "  PC-98 HARD DISK FORMAT       131,072,000 bytes\n"
                                        "  P98:Track per cylinder                 8\n"
                                        "  P98:Sector per track                  32\n"
                                        "  P98:Geometry from                 medium\n" +
                                            entries);
}

TEST(Pc98Map, GeometryFromTheBootSectorsOrAssumed)
{
    // Ends of head 0 and sector 0 name whole cylinders and no geometry: 4
    // heads of 32 sectors put the FAT volume's boot sector at cylinder 16.
    built_medium m{512, 131072, {}};
    put_pc98(&m, {{0x20, 0xA1, 16, 0, 0, 143, 0, 0, "DOS"}, {0x20, 0xE2, 144, 0, 0, 319, 0, 0, "linux"}});
    put_fat_boot(&m, 2048 * 512, false, 16384, 2048, 0x11112222, "FOUND");
    EXPECT_EQ(report(&m), "  PC-98 HARD DISK FORMAT        67,108,864 bytes\n"
                          "  P98:Track per cylinder                 4\n"
                          "  P98:Sector per track                  32\n"
                          "  P98:Geometry from            boot sector\n"
                          "  ( 1) FOUND       1111-2222     8,388,608 .. DOS FAT16 (over 32M)     DOS\n"
                          "  ( 2)                          11,534,336 .. Linux                    linux\n"
                          "  (--)  Free disk space         46,137,344 bytes (       90,112 sectors)\n");
    // Without the boot sector nothing tells: 8 heads of 32 sectors.
    m.sectors.erase(2048);
    EXPECT_EQ(report(&m), "  PC-98 HARD DISK FORMAT        67,108,864 bytes\n"
                          "  P98:Track per cylinder                 8\n"
                          "  P98:Sector per track                  32\n"
                          "  P98:Geometry from                assumed\n"
                          "  ( 1)                          16,777,216 .. DOS FAT16 (over 32M)     DOS\n"
                          "  ( 2)                          23,068,672 .. Linux                    linux\n"
                          "  (--)  Free disk space         25,165,824 bytes (       49,152 sectors)\n");
}

TEST(Pc98Map, SectorsOf256Bytes)
{
    // Sector 1 of 256 bytes holds 8 entries; 8 heads of 33 sectors.
    built_medium m{256, 40000, {}};
    put_pc98(&m, {{0x20, 0x81, 1, 0, 0, 100, 7, 32, "SASI"}});
    EXPECT_EQ(report(&m), "  PC-98 HARD DISK FORMAT        10,240,000 bytes\n"
                          "  P98:Track per cylinder                 8\n"
                          "  P98:Sector per track                  33\n"
                          "  P98:Geometry from                  table\n"
                          "  ( 1)                           6,758,400 .. DOS FAT12                SASI\n"
                          "  (--)  Free disk space          3,414,016 bytes (       13,336 sectors)\n");
}

TEST(Pc98Map, WhatIsNoPc98Table)
{
    // An end before the start: no table; sector 0 begins with a jump the
    // floppy decoder refuses, and nothing is printed, as before.
    built_medium m{512, 256000, {}};
    put_pc98(&m, {{0x20, 0xA1, 10, 0, 0, 5, 7, 31, "BACKWARDS"}});
    EXPECT_EQ(report(&m), "");
    // The signature alone with an empty table.
    m = built_medium{512, 256000, {}};
    put_pc98(&m, {});
    EXPECT_EQ(report(&m), "");
    // The parted form of the IPL (retf, "IPL1") with an empty table: no
    // PC-98 table, and its 55h AAh makes the IBM decoder list no entry.
    m = built_medium{512, 1000, {}};
    m.put(0, "\xCB\x00\x00\x00IPL1", 8);
    boot_signature(&m);
    EXPECT_EQ(report(&m), "  IBM HARD DISK FORMAT             512,000 bytes\n"
                          "  (--)  Free disk space            512,000 bytes (        1,000 sectors)\n");
}

// ---- Apple ---------------------------------------------------------------

namespace {

// A CD-style map of 2048-byte blocks: the map itself, a bootable HFS
// volume and the free rest.
const std::vector<apple_part> APPLE_PARTS = {{1, 3, "Apple", "Apple_partition_map", 0x37},
                                             {64, 100, "Macintosh HD", "Apple_HFS", 0x3F},
                                             {164, 36, "", "Apple_Free", 0}};

} // namespace

TEST(AppleMap, BlocksOfTheMapNotOfTheMedium)
{
    // An image in 512-byte sectors of a map in 2048-byte blocks: every
    // start and size counts four sectors a block.
    built_medium m{512, 800, {}};
    put_apple(&m, 2048, 3, APPLE_PARTS);
    const std::string lines = "  ( 1)                               6,144 .. Apple_partition_map      Apple\n"
                              " *( 2)                             204,800 .. Apple_HFS                Macintosh HD\n"
                              "  ( 3)                              73,728 .. Apple_Free              \n";
    EXPECT_EQ(report(&m), "  APPLE PARTITION MAP              409,600 bytes\n" + lines);
    std::string text = report(&m, true);
    EXPECT_EQ(text.substr(0, text.find("  ( 2)")),
              "  APPLE PARTITION MAP              409,600 bytes\n"
              "  APM:Block size                     2,048 bytes\n"
              "  APM:Map entries                        3\n"
              "  ( 1)                               6,144 .. Apple_partition_map      Apple\n"
              "        Partition start                  4 (       4H)\n"
              "        Partition size                  12 (       CH)\n"
              " *( 2)                             204,800 .. Apple_HFS                Macintosh HD\n"
              "        Partition start                256 (     100H)\n"
              "        Partition size                 400 (     190H)\n"
              "  ( 3)                              73,728 .. Apple_Free              \n"
              "        Partition start                656 (     290H)\n"
              "        Partition size                 144 (      90H)\n");

    // The same map on a medium of 2048-byte sectors.
    built_medium cd{2048, 200, {}};
    put_apple(&cd, 2048, 3, APPLE_PARTS);
    EXPECT_EQ(report(&cd), "  APPLE PARTITION MAP              409,600 bytes\n" + lines);
}

TEST(AppleMap, CountsLargerThanTheMap)
{
    // Ten entries announced, three there: the run stops at block 4.
    built_medium m{512, 800, {}};
    put_apple(&m, 2048, 10, APPLE_PARTS);
    std::string text = report(&m);
    EXPECT_NE(text.find("  ( 3)                              73,728 .. Apple_Free              \n"
                        "  (--)  Partition map stopped: no entry at sector 16\n"),
              std::string::npos)
        << text;
    // Entries up to the last block, then one past the end of the medium.
    m = built_medium{512, 16, {}};
    std::vector<apple_part> many(8, apple_part{1, 1, "x", "Apple_Free", 0});
    put_apple(&m, 2048, 0xFFFFFFFF, many);
    text = report(&m);
    EXPECT_NE(text.find("  ( 3)                               2,048 .. Apple_Free               x\n"
                        "  (--)  Partition map stopped: entry at sector 16 past the end\n"),
              std::string::npos)
        << text;
    // A block size of zero, or not a power of two, is no map.
    for (uint32_t size : {0u, 1000u}) {
        m = built_medium{512, 800, {}};
        put_apple(&m, 2048, 3, APPLE_PARTS);
        put_be16(m.at(2), size);
        EXPECT_EQ(report(&m), "  Unkown format!!\n") << size;
    }
}

// ---- Amiga ---------------------------------------------------------------

namespace {

// 1,000 cylinders of 4 heads and 32 blocks; a bootable FFS partition on
// cylinders 2 to 401, a PFS one on 402 to 999.
built_medium amiga_medium()
{
    built_medium m{512, 128000, {}};
    put_rdb(&m, 1, 512, 2);
    put_part_block(&m, 2, 3, 1, "DH0", 2, 401, 0x444F5303, 0);
    put_part_block(&m, 3, 0xFFFFFFFF, 0, "DH1", 402, 999, 0x50465303, -1);
    return m;
}

} // namespace

TEST(AmigaMap, RigidDiskBlockAndItsChain)
{
    built_medium m = amiga_medium();
    EXPECT_EQ(report(&m), "  AMIGA RIGID DISK BLOCK        65,536,000 bytes\n"
                          " *( 1)                          26,214,400 .. DOS\\3                    DH0\n"
                          "  ( 2)                          39,190,528 .. PFS\\3                    DH1\n");
    EXPECT_EQ(report(&m, true), "  AMIGA RIGID DISK BLOCK        65,536,000 bytes\n"
                                "  RDB:Block                              1\n"
                                "  RDB:Block size                       512 bytes\n"
                                "  RDB:Cylinders                      1,000\n"
                                "  RDB:Heads                              4\n"
                                "  RDB:Sector per track                  32\n"
                                " *( 1)                          26,214,400 .. DOS\\3                    DH0\n"
                                "        Partition start                256 (     100H)\n"
                                "        Partition size              51,200 (    C800H)\n"
                                "        RDB:Surfaces                     4\n"
                                "        RDB:Blocks per track            32\n"
                                "        RDB:Reserved blocks              2\n"
                                "        RDB:Low cylinder                 2\n"
                                "        RDB:High cylinder              401\n"
                                "        RDB:Boot priority                0\n"
                                "  ( 2)                          39,190,528 .. PFS\\3                    DH1\n"
                                "        Partition start             51,456 (    C900H)\n"
                                "        Partition size              76,544 (   12B00H)\n"
                                "        RDB:Surfaces                     4\n"
                                "        RDB:Blocks per track            32\n"
                                "        RDB:Reserved blocks              2\n"
                                "        RDB:Low cylinder               402\n"
                                "        RDB:High cylinder              999\n"
                                "        RDB:Boot priority               -1\n");
}

TEST(AmigaMap, ChainsThatBreak)
{
    const std::string first = "  AMIGA RIGID DISK BLOCK        65,536,000 bytes\n"
                              " *( 1)                          26,214,400 .. DOS\\3                    DH0\n";
    // The second block links back to the first.
    built_medium m = amiga_medium();
    put_part_block(&m, 3, 2, 0, "DH1", 402, 999, 0x50465303, -1);
    EXPECT_EQ(report(&m), first + "  ( 2)                          39,190,528 .. PFS\\3                    DH1\n"
                                  "  (--)  Partition chain stopped: link to sector 2 walked before\n");
    // A block links to itself.
    m = amiga_medium();
    put_part_block(&m, 2, 2, 1, "DH0", 2, 401, 0x444F5303, 0);
    EXPECT_EQ(report(&m), first + "  (--)  Partition chain stopped: link to sector 2 walked before\n");
    // A link past the end of the medium.
    m = amiga_medium();
    put_part_block(&m, 2, 200000, 1, "DH0", 2, 401, 0x444F5303, 0);
    EXPECT_EQ(report(&m), first + "  (--)  Partition chain stopped: link to sector 200,000 past the end\n");
    // A link to a block that is no partition block.
    m = amiga_medium();
    put_part_block(&m, 2, 50, 1, "DH0", 2, 401, 0x444F5303, 0);
    EXPECT_EQ(report(&m), first + "  (--)  Partition chain stopped: no partition block at sector 50\n");
    // A partition block whose checksum is wrong.
    m = amiga_medium();
    m.at(3 * 512 + 200)[0] ^= 1;
    EXPECT_EQ(report(&m), first + "  (--)  Partition chain stopped: bad checksum at sector 3\n");
    // Geometry whose product overflows: the block is passed over, the chain goes on.
    m = amiga_medium();
    uint8_t* p = m.at(2 * 512);
    put_be32(p + 128 + 4 * 9, 0xFFFFFFF0);
    put_be32(p + 128 + 4 * 10, 0xFFFFFFFF);
    put_be32(p + 128 + 4 * 3, 0xFFFFFFFF);
    put_be32(p + 128 + 4 * 5, 0xFFFFFFFF);
    set_checksum(p);
    EXPECT_EQ(report(&m), "  AMIGA RIGID DISK BLOCK        65,536,000 bytes\n"
                          "  ( 2)                          39,190,528 .. PFS\\3                    DH1\n");
    // A rigid disk block of zero-byte blocks, or a bad checksum, is none.
    m = amiga_medium();
    put_rdb(&m, 1, 0, 2);
    EXPECT_EQ(report(&m), "  Unkown format!!\n");
    m = amiga_medium();
    m.at(512 + 100)[0] ^= 1;
    EXPECT_EQ(report(&m), "  Unkown format!!\n");
}

// ---- Atari ---------------------------------------------------------------

namespace {

// A bootable big GEMDOS partition, an XGM chain of two extended sectors
// (a GEMDOS and a Linux partition), and a swap partition.
built_medium atari_medium()
{
    built_medium m{512, 80000, {}};
    put_be32(m.at(0x1C2), 80000);
    put_atari_entry(&m, 0, 0, 0x81, "BGM", 2, 40000);
    put_atari_entry(&m, 0, 1, 0x01, "XGM", 40002, 30000);
    put_atari_entry(&m, 0, 2, 0x01, "SWP", 70002, 8000);
    put_atari_entry(&m, 40002, 0, 0x01, "GEM", 1, 9999);
    put_atari_entry(&m, 40002, 1, 0x01, "XGM", 10000, 20000);
    put_atari_entry(&m, 50002, 0, 0x01, "LNX", 1, 19999);
    return m;
}

} // namespace

TEST(AtariMap, RootSectorAndExtendedChain)
{
    built_medium m = atari_medium();
    EXPECT_EQ(report(&m), "  ATARI HARD DISK FORMAT        40,960,000 bytes\n"
                          " *( 1)                          20,480,000 .. BGM (GEMDOS big)        \n"
                          "  ( 2)                           5,119,488 .. GEM (GEMDOS)            \n"
                          "  ( 3)                          10,239,488 .. LNX (Linux)             \n"
                          "  ( 4)                           4,096,000 .. SWP (swap)              \n"
                          "  (--)  Free disk space          1,022,976 bytes (        1,998 sectors)\n");
    std::string text = report(&m, true);
    EXPECT_NE(text.find("  ( 3)                          10,239,488 .. LNX (Linux)             \n"
                        "        Partition start             50,003 (    C353H)\n"
                        "        Partition size              19,999 (    4E1FH)\n"),
              std::string::npos)
        << text;
}

TEST(AtariMap, ChainsThatBreak)
{
    const std::string first = "  ATARI HARD DISK FORMAT        40,960,000 bytes\n"
                              " *( 1)                          20,480,000 .. BGM (GEMDOS big)        \n"
                              "  ( 2)                           5,119,488 .. GEM (GEMDOS)            \n";
    // The second extended sector links back to the first.
    built_medium m = atari_medium();
    put_atari_entry(&m, 50002, 1, 0x01, "XGM", 0, 100);
    EXPECT_EQ(report(&m), first + "  ( 3)                          10,239,488 .. LNX (Linux)             \n"
                                  "  (--)  Extended chain stopped: link to sector 40,002 walked before\n");
    // A link past the end.
    m = atari_medium();
    put_atari_entry(&m, 40002, 1, 0x01, "XGM", 90000, 100);
    EXPECT_EQ(report(&m), first + "  (--)  Extended chain stopped: link to sector 130,002 past the end\n");
    // An extended sector without its partition.
    m = atari_medium();
    put_atari_entry(&m, 40002, 1, 0x01, "XGM", 5000, 100);
    EXPECT_EQ(report(&m), first + "  (--)  Extended chain stopped: no partition at sector 45,002\n");
    // A root sector whose entries are all past the end is none.
    m = built_medium{512, 1000, {}};
    put_atari_entry(&m, 0, 0, 0x01, "GEM", 2000, 100);
    EXPECT_EQ(report(&m), "  Unkown format!!\n");
}

// ---- Sun and SGI -----------------------------------------------------------

namespace {

const std::vector<sun_slice> SUN_SLICES = {{2, 0, 0, 102400}, {3, 1, 400, 51200}, {5, 0, 0, 256000}};

} // namespace

TEST(SunLabel, SlicesByCylinder)
{
    built_medium m{512, 256512, {}};
    put_sun(&m, true, 8, 32, SUN_SLICES);
    const std::string slices = "  ( 1)                          52,428,800 .. root                    \n"
                               "  ( 2)                          26,214,400 .. swap                    \n"
                               "  ( 3)                         131,072,000 .. backup                  \n"
                               "  (--)  Free disk space            262,144 bytes (          512 sectors)\n";
    EXPECT_EQ(report(&m), "  SUN DISK LABEL               131,334,144 bytes\n" + slices);
    std::string text = report(&m, true);
    EXPECT_EQ(text.substr(0, text.find("  ( 2)")),
              "  SUN DISK LABEL               131,334,144 bytes\n"
              "  SUN:Label                  vexum test cyl 1000 alt 2 hd 8 sec 32\n"
              "  SUN:Cylinders                      1,000\n"
              "  SUN:Alternate cylinders                2\n"
              "  SUN:Track per cylinder                 8\n"
              "  SUN:Sector per track                  32\n"
              "  ( 1)                          52,428,800 .. root                    \n"
              "        Partition start                  0 (       0H)\n"
              "        Partition size             102,400 (   19000H)\n");
    EXPECT_NE(text.find("  ( 2)                          26,214,400 .. swap                    \n"
                        "        Partition start            102,400 (   19000H)\n"),
              std::string::npos)
        << text;

    // Without a table of contents: no tags.
    m = built_medium{512, 256512, {}};
    put_sun(&m, false, 8, 32, SUN_SLICES);
    EXPECT_EQ(report(&m), "  SUN DISK LABEL               131,334,144 bytes\n"
                          "  ( 1)                          52,428,800 ..                         \n"
                          "  ( 2)                          26,214,400 ..                         \n"
                          "  ( 3)                         131,072,000 ..                         \n"
                          "  (--)  Free disk space            262,144 bytes (          512 sectors)\n");

    // A bad checksum, or no heads while a slice lies past cylinder 0: no label.
    m = built_medium{512, 256512, {}};
    put_sun(&m, true, 8, 32, SUN_SLICES);
    m.at(300)[0] ^= 1;
    EXPECT_EQ(report(&m), "  Unkown format!!\n");
    m = built_medium{512, 256512, {}};
    put_sun(&m, true, 0, 32, SUN_SLICES);
    EXPECT_EQ(report(&m), "  Unkown format!!\n");
}

TEST(SgiLabel, VolumeHeaderAndItsPartitions)
{
    built_medium m{512, 200000, {}};
    put_sgi(&m);
    const std::string parts = "  ( 1)                          51,200,000 .. XFS                     \n"
                              "  ( 2)                          10,240,000 .. raw                     \n"
                              "  ( 9)                           2,097,152 .. volume header           \n"
                              "  (11)                         102,400,000 .. whole volume            \n";
    EXPECT_EQ(report(&m), "  SGI VOLUME HEADER            102,400,000 bytes\n" + parts);
    std::string text = report(&m, true);
    EXPECT_EQ(text.substr(0, text.find("  ( 1)")), "  SGI VOLUME HEADER            102,400,000 bytes\n"
                                                   "  SGI:Boot file              /unix\n"
                                                   "  SGI:Root partition                     1\n"
                                                   "  SGI:Swap partition                     2\n"
                                                   "  SGI:File sgilabel                    512 bytes at block 2\n"
                                                   "  SGI:File sash                     10,240 bytes at block 3\n");
    m.at(400)[0] ^= 1;
    EXPECT_EQ(report(&m), "  Unkown format!!\n");
}

// ---- BSD -------------------------------------------------------------------

TEST(BsdLabel, OnADiskOfItsOwn)
{
    // In sector 1: a, b, and the unused c that spans the disk.
    built_medium m{512, 20000, {}};
    put_bsd(&m, 512, {{10000, 64, 7}, {2000, 10064, 1}, {20000, 0, 0}, {0, 0, 0}});
    const std::string parts = "  ( 1)                           5,120,000 .. 4.2BSD                   a\n"
                              "  ( 2)                           1,024,000 .. swap                     b\n"
                              "  (--)  Free disk space          4,063,232 bytes (        7,936 sectors)\n";
    EXPECT_EQ(report(&m), "  BSD DISK LABEL                10,240,000 bytes\n" + parts);
    std::string text = report(&m, true);
    EXPECT_EQ(text.substr(0, text.find("  ( 1)")), "  BSD DISK LABEL                10,240,000 bytes\n"
                                                   "  BSD:Disk type              SCSI disk\n"
                                                   "  BSD:Pack name              root disk\n"
                                                   "  BSD:Sector size                      512 bytes\n"
                                                   "  BSD:Sector per track                  32\n"
                                                   "  BSD:Track per cylinder                 8\n"
                                                   "  BSD:Cylinders                      1,000\n"
                                                   "  BSD:Checksum                        good\n");

    // At offset 64 of sector 0, as Alpha disks and parted have it.
    m = built_medium{512, 20000, {}};
    put_bsd(&m, 64, {{10000, 64, 7}, {2000, 10064, 1}, {20000, 0, 0}, {0, 0, 0}});
    EXPECT_EQ(report(&m), "  BSD DISK LABEL                10,240,000 bytes\n" + parts);
    // A wrong checksum is said, not refused (parted writes such labels).
    m.at(64 + 148)[0] ^= 1;
    text = report(&m, true);
    EXPECT_NE(text.find("  BSD:Checksum                       wrong\n"), std::string::npos) << text;

    // More partitions than the sector holds: no label.
    m = built_medium{512, 20000, {}};
    put_bsd(&m, 512, {{10000, 64, 7}}, 30);
    EXPECT_EQ(report(&m), "  Unkown format!!\n");
}

TEST(BsdLabel, InsideASlice)
{
    // A FreeBSD slice at sector 1,000 whose partition c starts at 0: the
    // offsets count from the slice.
    built_medium m{512, 10000, {}};
    put_mbr_entry(&m, 0, 0x80, 0xA5, 1000, 8000);
    boot_signature(&m);
    put_bsd(&m, 1001 * 512, {{4000, 16, 7}, {1000, 4016, 1}, {8000, 0, 0}});
    const std::string label = "  BSD DISK LABEL                 4,096,000 bytes\n"
                              "  ( 1)                           2,048,000 .. 4.2BSD                   a\n"
                              "  ( 2)                             512,000 .. swap                     b\n"
                              "  (--)  Free disk space          1,527,808 bytes (        2,984 sectors)\n";
    EXPECT_EQ(report(&m), "  IBM HARD DISK FORMAT           5,120,000 bytes\n"
                          " *( 1)                           4,096,000 .. BSD/386                 \n" +
                              label + "  (--)  Free disk space            512,000 bytes (        1,000 sectors)\n");
    std::string text = report(&m, true);
    EXPECT_NE(text.find("  ( 1)                           2,048,000 .. 4.2BSD                   a\n"
                        "        Partition start              1,016 (     3F8H)\n"),
              std::string::npos)
        << text;

    // OpenBSD's offsets count from the start of the disk.
    m = built_medium{512, 10000, {}};
    put_mbr_entry(&m, 0, 0x00, 0xA6, 1000, 8000);
    boot_signature(&m);
    put_bsd(&m, 1001 * 512, {{4000, 1016, 7}, {1000, 5016, 1}, {8000, 1000, 0}});
    text = report(&m, true);
    EXPECT_NE(text.find("  ( 2)                             512,000 .. swap                     b\n"
                        "        Partition start              5,016 (    1398H)\n"),
              std::string::npos)
        << text;
}

// ---- The choice of layout ---------------------------------------------------

TEST(LayoutChoice, WhatSectorZeroIsReadAs)
{
    // A master boot record whose boot code starts with a jump (GRUB's
    // does): the floppy decoder refuses it, the table is read.
    built_medium m{512, 1000, {}};
    m.put(0, "\xEB\x63\x90", 3);
    put_mbr_entry(&m, 0, 0x80, 0x83, 100, 800);
    boot_signature(&m);
    EXPECT_EQ(report(&m), "  IBM HARD DISK FORMAT             512,000 bytes\n"
                          " *( 1)                             409,600 .. Linux native            \n"
                          "  (--)  Free disk space             51,200 bytes (          100 sectors)\n");
    // A jump and a signature with no entry: nothing, as before.
    m = built_medium{512, 1000, {}};
    m.put(0, "\xEB\x3C\x90", 3);
    boot_signature(&m);
    EXPECT_EQ(report(&m), "");

    // An Apple map that shares sector 0 with a master boot record (hybrid
    // CD images): the master boot record is read, as before.
    m = built_medium{512, 800, {}};
    put_apple(&m, 2048, 3, APPLE_PARTS);
    put_mbr_entry(&m, 0, 0x00, 0x0C, 64, 736);
    boot_signature(&m);
    EXPECT_EQ(report(&m), "  IBM HARD DISK FORMAT             409,600 bytes\n");

    // Media of 4096-byte sectors: nothing for one without a layout; a
    // master boot record counted in its own sectors, its FAT volume read.
    built_medium wide{4096, 1000, {}};
    EXPECT_EQ(report(&wide), "");
    put_mbr_entry(&wide, 0, 0x00, 0x06, 100, 800);
    boot_signature(&wide);
    put_fat_boot(&wide, 100 * 4096, false, 800, 100, 0xFEEDF00D, "WIDE");
    EXPECT_EQ(report(&wide), "  IBM HARD DISK FORMAT           4,096,000 bytes\n"
                             "  ( 1) WIDE        FEED-F00D     3,276,800 .. DOS FAT16 (over 32M)     TESTOEM \n"
                             "  (--)  Free disk space            409,600 bytes (          100 sectors)\n");
}

TEST(Pc98Map, GeometryOfAnHdiContainer)
{
    // A PC-98 disk of 256-byte sectors, 8 heads of 33, in an HDI image: its
    // table's ends name whole cylinders, so only the header's geometry
    // places the partition (cylinders 1 to 50 of 264 sectors each).
    built_medium m{256, 100 * 8 * 33, {}};
    put_pc98(&m, {{0xA0, 0xA1, 1, 0, 0, 50, 0, 0, "MS-DOS"}});
    std::vector<uint8_t> data = flatten(m);
    data.resize(m.sector_count * m.sector_size, 0);
    std::vector<uint8_t> file(4096, 0);
    put_le32(&file[4], 0x13);
    put_le32(&file[8], 4096);
    put_le32(&file[12], uint32_t(data.size()));
    put_le32(&file[16], 256);
    put_le32(&file[20], 33);
    put_le32(&file[24], 8);
    put_le32(&file[28], 100);
    file.insert(file.end(), data.begin(), data.end());
    std::string path = temp_directory() + "/" + std::to_string(getpid()) + "-pc98.hdi";
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(file.data(), 1, file.size(), f), file.size());
    fclose(f);
    run_result r = run_in_process({"-image", path});
    unlink(path.c_str());
    EXPECT_NE(r.out.find("  PC-98 HARD DISK FORMAT         6,758,400 bytes\n"
                         "  P98:Track per cylinder                 8\n"
                         "  P98:Sector per track                  33\n"
                         "  P98:Geometry from                 medium\n"
                         " *( 1)                           3,379,200 .. DOS FAT16 (over 32M)     MS-DOS\n"
                         "  (--)  Free disk space          3,311,616 bytes (       12,936 sectors)\n"),
              std::string::npos)
        << r.out << r.err;
}

// ---- The JSON document -------------------------------------------------------

namespace {

void write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
}

std::vector<uint8_t> image_of(const built_medium& m)
{
    std::vector<uint8_t> bytes = flatten(m);
    bytes.resize(m.sector_count * m.sector_size, 0);
    return bytes;
}

} // namespace

// The document of a medium in every map, with every option, sound and cut
// short, against the schema; the checker runs the bus fixtures as well.
TEST(MapsJson, DocumentsOfEveryMapFollowTheSchema)
{
    std::string dir = make_temp_directory("vexum-maps-json-");
    ASSERT_NE(dir, "");
    built_medium gpt = sample_gpt_medium();
    write_file(dir + "/gpt.img", image_of(gpt));
    gpt.at(512 + 16)[0] ^= 1;
    write_file(dir + "/gpt-backup.img", image_of(gpt));
    built_medium pc98{512, 256000, {}};
    put_pc98(&pc98, {{0xA0, 0xA1, 1, 0, 0, 400, 7, 31, "MS-DOS 6.20"}, {0x20, 0xE2, 401, 0, 0, 600, 7, 31, DATA_NAME}});
    put_fat_boot(&pc98, 256 * 512, false, 102400, 256, 0x56789ABC, "PC98VOL");
    write_file(dir + "/pc98.img", image_of(pc98));
    built_medium apple{512, 800, {}};
    put_apple(&apple, 2048, 10, APPLE_PARTS);
    write_file(dir + "/apple.img", image_of(apple));
    built_medium amiga = amiga_medium();
    write_file(dir + "/amiga.img", image_of(amiga));
    amiga.at(3 * 512 + 200)[0] ^= 1;
    write_file(dir + "/amiga-checksum.img", image_of(amiga));
    built_medium atari = atari_medium();
    put_atari_entry(&atari, 50002, 1, 0x01, "XGM", 0, 100);
    write_file(dir + "/atari.img", image_of(atari));
    built_medium sun{512, 256512, {}};
    put_sun(&sun, true, 8, 32, SUN_SLICES);
    write_file(dir + "/sun.img", image_of(sun));
    built_medium sgi{512, 200000, {}};
    put_sgi(&sgi);
    write_file(dir + "/sgi.img", image_of(sgi));
    built_medium slice{512, 10000, {}};
    put_mbr_entry(&slice, 0, 0x80, 0xA5, 1000, 8000);
    boot_signature(&slice);
    put_bsd(&slice, 1001 * 512, {{4000, 16, 7}, {1000, 4016, 1}, {8000, 0, 0}});
    write_file(dir + "/bsd-slice.img", image_of(slice));
    int code = std::system(("python3 '" VEXUM_SOURCE_DIR "/tests/json_schema_check.py' '" VEXUM_BINARY "' '" VEXUM_SOURCE_DIR
                            "' '" + dir + "' > '" + dir + "/check.log' 2>&1")
                               .c_str());
    std::string log = read_text_file(dir + "/check.log");
    std::system(("rm -rf '" + dir + "'").c_str());
    if (WIFEXITED(code) && WEXITSTATUS(code) == 77)
        GTEST_SKIP() << log;
    EXPECT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) == 0) << log;
}

TEST(LinkSet, FindsEveryLinkFollowedBeforeWhateverTheirOrder)
{
    // Chains that run forward, with steps small and large, then turn back,
    // jump about, and return to links they took; the set must say exactly
    // which offsets it has seen.
    std::mt19937 random(18);
    for (int round = 0; round < 30; round++) {
        link_set set;
        std::unordered_set<uint32_t> seen;
        uint32_t at = round % 3 == 0 ? 0 : uint32_t(random());
        for (int step = 0; step < 5000; step++) {
            uint32_t offset;
            switch (random() % 8) {
            case 0:
                offset = uint32_t(random()); // anywhere
                break;
            case 1:
                offset = step % 2 ? UINT32_MAX : 0;
                break;
            case 2:
                // a link taken before, if any
                offset = seen.empty() ? at : at - uint32_t(random() % 4096);
                break;
            default:
                // forward, by a step of a byte's worth or of several
                offset = at + (random() % 4 == 0 ? uint32_t(random() % (1u << 28)) : uint32_t(1 + random() % 100));
                break;
            }
            at = offset;
            bool expected = seen.insert(offset).second;
            ASSERT_EQ(add_link(&set, offset), expected) << "round " << round << ", step " << step << ", offset "
                                                        << offset;
        }
    }
}
