// Partition decoders over images written sector by sector: the PC hard disk
// and floppy layouts, the FMR/TOWNS layout, the choice between them, and
// media built to break them (looping and overlong extended chains, links
// past the end, boot sectors outside the medium, figures beyond 32 bits).
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include <unistd.h>

#include "harness.h"
#include "format/bytes.h"
#include "format/output.h"
#include "format/report_options.h"
#include "partition/partition.h"
#include "physdrive/physdrive.h"
#include "scsi/unit_medium.h"

namespace {

using sector = std::array<uint8_t, 512>;

// Writes the given sectors into a sparse file of total_sectors sectors.
// false when the file system cannot hold a file that long.
bool write_image(const std::string& path, uint64_t total_sectors, const std::map<uint64_t, sector>& sectors)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = true;
    for (const auto& s : sectors) {
        ok = ok && fseeko(f, off_t(s.first * 512), SEEK_SET) == 0 && fwrite(s.second.data(), 1, 512, f) == 512;
    }
    ok = fclose(f) == 0 && ok;
    return ok && truncate(path.c_str(), off_t(total_sectors * 512)) == 0;
}

void put_entry(sector* s, int index, uint8_t boot, uint8_t type, uint32_t start, uint32_t count)
{
    uint8_t* e = s->data() + 0x1BE + 16 * index;
    e[0] = boot;
    e[4] = type;
    put_le32(e + 8, start);
    put_le32(e + 12, count);
}

sector boot_record()
{
    sector s{};
    s[0x1FE] = 0x55;
    s[0x1FF] = 0xAA;
    return s;
}

// A FAT12/FAT16 boot sector with the fields the decoders and the block
// report read.
sector fat_boot(uint8_t media, uint32_t serial, const char* label, uint32_t total)
{
    sector s = boot_record();
    s[0] = 0xEB;
    s[1] = 0x3C;
    s[2] = 0x90;
    memcpy(&s[0x03], "TESTOEM ", 8);
    put_le16(&s[0x0B], 512);
    s[0x0D] = 4;
    put_le16(&s[0x0E], 1);
    s[0x10] = 2;
    put_le16(&s[0x11], 512);
    if (total < 0x10000)
        put_le16(&s[0x13], total);
    else
        put_le32(&s[0x20], total);
    s[0x15] = media;
    put_le16(&s[0x16], 200);
    put_le32(&s[0x27], serial);
    memcpy(&s[0x2B], label, strnlen(label, 11));
    memset(&s[0x2B] + strnlen(label, 11), ' ', 11 - strnlen(label, 11));
    memcpy(&s[0x36], "FAT16   ", 8);
    return s;
}

class Decoder : public ::testing::Test {
protected:
    void TearDown() override { close_physical_drives(); }

    report_options options_;

    static std::string image_path()
    {
        return ::testing::TempDir() + std::to_string(getpid()) + "-" + "decoder-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
               ".img";
    }

    // The report of one image without its heading line.
    std::string decode(uint64_t total_sectors, const std::map<uint64_t, sector>& sectors)
    {
        EXPECT_TRUE(write_image(image_path(), total_sectors, sectors));
        return decode_file(image_path());
    }

    // The same for an image already written; the file is removed.
    std::string decode_file(const std::string& path)
    {
        std::string error;
        EXPECT_EQ(open_image_drive(path.c_str(), &error), 0) << error;
        FILE* f = temp_stream();
        set_output_stream(f);
        report_images(options_);
        fflush(f);
        set_output_stream(nullptr);
        close_physical_drives();
        unlink(path.c_str());
        std::string text;
        rewind(f);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        fclose(f);
        std::string heading = "\nDisk:" + path + "\n";
        EXPECT_EQ(text.compare(0, heading.size(), heading), 0) << text;
        return text.substr(std::min(text.size(), heading.size()));
    }
};

} // namespace

TEST(PartitionHelpers, TypeNamesAndExtentLines)
{
    EXPECT_STREQ(partition_type_name(0x05), "Extended");
    EXPECT_STREQ(partition_type_name(0x64), "Novell NetWare");
    EXPECT_STREQ(partition_type_name(0x65), "Novell NetWare");
    EXPECT_STREQ(partition_type_name(0xFF), "BBT");
    EXPECT_STREQ(partition_type_name(0x0F), "unkown OS (0FH)");
    EXPECT_STREQ(partition_type_name(0x0E), "unkown OS (0EH)");

    FILE* f = temp_stream();
    set_output_stream(f);
    print_partition_extent(63, 1028097);
    print_partition_extent(4563402752ull, 0xFFFFFFFFu);
    fflush(f);
    set_output_stream(nullptr);
    rewind(f);
    char buffer[1024] = {};
    size_t n = fread(buffer, 1, sizeof buffer - 1, f);
    fclose(f);
    EXPECT_EQ(std::string(buffer, n), "        Partition start                 63 (      3FH)\n"
                                      "        Partition size           1,028,097 (   FB001H)\n"
                                      "        Partition start      4,563,402,752 (110000000H)\n"
                                      "        Partition size       4,294,967,295 (FFFFFFFFH)\n");
}

TEST(PartitionHelpers, ReadersThatCannotBeRead)
{
    uint8_t buffer[512];
    EXPECT_EQ(read_medium(nullptr, 0, 1, buffer), -1);
    medium_reader no_read{nullptr, nullptr, 512, 100};
    EXPECT_EQ(read_medium(&no_read, 0, 1, buffer), -1);
    // READ(10) cannot name a block past FFFFFFFFh: refused, not wrapped to 0;
    // nor can one request move more than 65,535 bytes.
    device_address address{0, 0, 0};
    medium_reader unit = unit_medium(&address, 512, uint64_t(1) << 40);
    EXPECT_EQ(read_medium(&unit, 0x100000000ull, 1, buffer), -1);
    EXPECT_EQ(read_medium(&unit, 0, 128, buffer), -1);
    // Only 512-byte sectors are decoded.
    sector s = boot_record();
    medium_reader cd = unit_medium(&address, 2048, 100);
    EXPECT_EQ(decode_medium(&cd, s.data(), report_options{}), -1);
}

namespace {

// A medium held in memory, counting the reads of each sector.
struct memory_medium {
    std::map<uint64_t, sector> sectors;
    std::map<uint64_t, int> reads;
};

int read_memory(const medium_reader* medium, uint64_t block, uint32_t count, uint8_t* buffer)
{
    auto* m = static_cast<memory_medium*>(const_cast<void*>(medium->holder));
    for (uint32_t i = 0; i < count; i++) {
        if (block + i >= medium->sector_count)
            return -1;
        m->reads[block + i]++;
        auto found = m->sectors.find(block + i);
        sector s = found != m->sectors.end() ? found->second : sector{};
        memcpy(buffer + 512 * i, s.data(), 512);
    }
    return 0;
}

} // namespace

TEST(MediumReport, SectorZeroIsReadOnceForLayoutAndDump)
{
    // A chain of two extended boot records: the walk reads sectors 100 and
    // 200; the dump still shows sector 0, from the one read of it.
    memory_medium m;
    sector mbr = boot_record();
    mbr[0x1B8] = 0x4D;
    put_entry(&mbr, 0, 0x00, 0x05, 100, 800);
    sector ebr1 = boot_record();
    put_entry(&ebr1, 0, 0x00, 0x83, 10, 10);
    put_entry(&ebr1, 1, 0x00, 0x05, 100, 100);
    m.sectors = {{0, mbr}, {100, ebr1}, {200, boot_record()}};
    medium_reader medium{read_memory, &m, 512, 1000};
    report_options options;
    options.dump_sectors = true;
    FILE* f = tmpfile();
    set_output_stream(f);
    EXPECT_EQ(report_medium(&medium, options), 0);
    fflush(f);
    set_output_stream(nullptr);
    rewind(f);
    std::string text(size_t(8192), '\0');
    text.resize(fread(&text[0], 1, text.size(), f));
    fclose(f);
    EXPECT_EQ(m.reads, (std::map<uint64_t, int>{{0, 1}, {100, 1}, {200, 1}}));
    EXPECT_NE(text.find("+1B0  00 00 00 00 00 00 00 00-4D 00 00 00 00 00 00 00  ........M.......\n"), std::string::npos)
        << text;

    // Sector 0 that cannot be read: no layout, and the dump tries once more.
    medium.sector_count = 0;
    m.reads.clear();
    f = tmpfile();
    set_output_stream(f);
    EXPECT_EQ(report_medium(&medium, options), -1);
    fflush(f);
    set_output_stream(nullptr);
    EXPECT_EQ(ftell(f), 0);
    fclose(f);
}

TEST_F(Decoder, HardDiskEdgeCases)
{
    EXPECT_EQ(decode(8, {{0, sector{}}}), "  Unkown format!!\n");
    EXPECT_EQ(decode(1000, {{0, boot_record()}}),
              "  IBM HARD DISK FORMAT             512,000 bytes\n"
              "  (--)  Free disk space            512,000 bytes (        1,000 sectors)\n");

    // An active FAT16 partition that fills the medium: no free space line.
    sector mbr = boot_record();
    put_entry(&mbr, 0, 0x80, 0x06, 63, 1028097);
    EXPECT_EQ(decode(1028160, {{0, mbr}, {63, fat_boot(0xF8, 0x1234ABCD, "FULL", 1028097)}}),
              "  IBM HARD DISK FORMAT         526,417,920 bytes\n"
              " *( 1) FULL        1234-ABCD   526,385,664 .. DOS FAT16 (over 32M)     TESTOEM \n");

    // Type 07h is listed without reading its first sector.
    mbr = boot_record();
    put_entry(&mbr, 0, 0x00, 0x07, 100, 400);
    put_entry(&mbr, 1, 0x01, 0x0E, 500, 100);
    EXPECT_EQ(decode(1000, {{0, mbr}}),
              "  IBM HARD DISK FORMAT             512,000 bytes\n"
              "  ( 1)                             204,800 .. OS/2 HPFS, NTFS         \n"
              " *( 2)                              51,200 .. unkown OS (0EH)         \n"
              "  (--)  Free disk space            204,800 bytes (          400 sectors)\n");
}

TEST_F(Decoder, ExtendedEntryEndsItsTable)
{
    // A primary, then an extended partition, then a primary never visited;
    // the logical partitions continue the numbering from 2.
    sector mbr = boot_record();
    put_entry(&mbr, 0, 0x00, 0x83, 10, 90);
    put_entry(&mbr, 1, 0x00, 0x0F, 100, 300);
    put_entry(&mbr, 2, 0x00, 0x83, 400, 100);
    sector ebr1 = boot_record();
    put_entry(&ebr1, 0, 0x00, 0x82, 10, 90);
    put_entry(&ebr1, 1, 0x00, 0x05, 100, 100);
    sector ebr2 = boot_record();
    put_entry(&ebr2, 0, 0x00, 0x01, 10, 90);
    options_.show_partitions = true;
    std::string text = decode(600, {{0, mbr}, {100, ebr1}, {200, ebr2}, {210, fat_boot(0xF8, 0xCAFEF00D, "LOGICAL", 90)}});
    // Logicals: swap at 100 + 10, FAT12 at 200 + 10 (its own record's base).
    EXPECT_EQ(text.substr(0, text.find("        BPB:")),
              "  IBM HARD DISK FORMAT             307,200 bytes\n"
              "  ( 1)                              46,080 .. Linux native            \n"
              "        Partition start                 10 (       AH)\n"
              "        Partition size                  90 (      5AH)\n"
              "  ( 2)                              46,080 .. Linux swap              \n"
              "        Partition start                110 (      6EH)\n"
              "        Partition size                  90 (      5AH)\n"
              "  ( 3) LOGICAL     CAFE-F00D        46,080 .. DOS FAT12                TESTOEM \n"
              "        Partition start                210 (      D2H)\n"
              "        Partition size                  90 (      5AH)\n");
    // The free space counts from the end of the last listed partition (300),
    // not from the primary at 400 that was never listed.
    EXPECT_NE(text.find("\n  (--)  Free disk space            153,600 bytes (          300 sectors)\n"),
              std::string::npos)
        << text;
}

TEST_F(Decoder, BadBootSectorsEndTheWalk)
{
    // A FAT32 partition whose boot sector says F0h: nothing more, no free line.
    sector mbr = boot_record();
    put_entry(&mbr, 0, 0x00, 0x83, 10, 10);
    put_entry(&mbr, 1, 0x00, 0x0B, 100, 100);
    put_entry(&mbr, 2, 0x00, 0x83, 300, 10);
    EXPECT_EQ(decode(1000, {{0, mbr}, {100, fat_boot(0xF0, 0, "", 100)}}),
              "  IBM HARD DISK FORMAT             512,000 bytes\n"
              "  ( 1)                               5,120 .. Linux native            \n");
    // A FAT partition that starts at sector 0 reads the master boot record
    // as its boot sector, which is no FAT boot sector.
    mbr = boot_record();
    put_entry(&mbr, 0, 0x00, 0x06, 0, 1000);
    EXPECT_EQ(decode(1000, {{0, mbr}}), "  IBM HARD DISK FORMAT             512,000 bytes\n");
    // A boot sector beyond the end of the medium is not read.
    mbr = boot_record();
    put_entry(&mbr, 0, 0x00, 0x06, 5000, 1000);
    EXPECT_EQ(decode(1000, {{0, mbr}}), "  IBM HARD DISK FORMAT             512,000 bytes\n");
}

TEST_F(Decoder, CorruptChainsStopWithAReason)
{
    // The master boot record's extended entry points at sector 0 itself.
    sector mbr = boot_record();
    put_entry(&mbr, 0, 0x00, 0x05, 0, 100);
    EXPECT_EQ(decode(1000, {{0, mbr}}), "  IBM HARD DISK FORMAT             512,000 bytes\n"
                                        "  (--)  Extended chain stopped: link to sector 0 walked before\n");

    // A record that links to itself, after listing its partition.
    mbr = boot_record();
    put_entry(&mbr, 0, 0x00, 0x05, 100, 800);
    sector ebr1 = boot_record();
    put_entry(&ebr1, 0, 0x00, 0x83, 10, 10);
    put_entry(&ebr1, 1, 0x00, 0x05, 100, 100);
    sector ebr2 = boot_record();
    put_entry(&ebr2, 0, 0x00, 0x83, 10, 10);
    put_entry(&ebr2, 1, 0x00, 0x05, 100, 100); // 100 + 100 = 200: itself
    EXPECT_EQ(decode(1000, {{0, mbr}, {100, ebr1}, {200, ebr2}}),
              "  IBM HARD DISK FORMAT             512,000 bytes\n"
              "  ( 1)                               5,120 .. Linux native            \n"
              "  ( 2)                               5,120 .. Linux native            \n"
              "  (--)  Extended chain stopped: link to sector 200 walked before\n");

    // A cycle through three records back to the first.
    sector ebr3 = boot_record();
    put_entry(&ebr2, 1, 0x00, 0x05, 200, 100); // to 300
    put_entry(&ebr3, 0, 0x00, 0x05, 0, 100);   // back to 100
    EXPECT_EQ(decode(1000, {{0, mbr}, {100, ebr1}, {200, ebr2}, {300, ebr3}}),
              "  IBM HARD DISK FORMAT             512,000 bytes\n"
              "  ( 1)                               5,120 .. Linux native            \n"
              "  ( 2)                               5,120 .. Linux native            \n"
              "  (--)  Extended chain stopped: link to sector 100 walked before\n");

    // A link past the end of the medium is not followed.
    put_entry(&ebr2, 1, 0x00, 0x05, 4000000000u, 100);
    EXPECT_EQ(decode(1000, {{0, mbr}, {100, ebr1}, {200, ebr2}}),
              "  IBM HARD DISK FORMAT             512,000 bytes\n"
              "  ( 1)                               5,120 .. Linux native            \n"
              "  ( 2)                               5,120 .. Linux native            \n"
              "  (--)  Extended chain stopped: link to sector 4,000,000,100 past the end\n");
}

TEST_F(Decoder, LongChainsWalkToTheirEndUpToTheCap)
{
    // Records at sectors 1 to n, each linking the next; only the last lists
    // a partition. Written in one pass: the chains are long.
    auto build = [](const std::string& path, uint32_t links, uint64_t total_sectors) {
        FILE* f = fopen(path.c_str(), "wb");
        if (f == nullptr)
            return false;
        sector mbr = boot_record();
        put_entry(&mbr, 0, 0x00, 0x05, 1, links + 10);
        bool ok = fwrite(mbr.data(), 1, 512, f) == 512;
        for (uint32_t k = 1; k <= links && ok; k++) {
            sector ebr = boot_record();
            if (k < links)
                put_entry(&ebr, 0, 0x00, 0x05, k, 1); // relative to the extended base at 1
            else
                put_entry(&ebr, 0, 0x00, 0x83, 1, 5);
            ok = fwrite(ebr.data(), 1, 512, f) == 512;
        }
        ok = fclose(f) == 0 && ok;
        return ok && truncate(path.c_str(), off_t(total_sectors * 512)) == 0;
    };
    ASSERT_TRUE(build(image_path(), 5000, 6000));
    // The last record, at 5,000, lists sectors 5,001 to 5,005.
    EXPECT_EQ(decode_file(image_path()),
              "  IBM HARD DISK FORMAT           3,072,000 bytes\n"
              "  ( 1)                               2,560 .. Linux native            \n"
              "  (--)  Free disk space            508,928 bytes (          994 sectors)\n");

    ASSERT_TRUE(build(image_path(), MAX_EXTENDED_LINKS, 100100));
    EXPECT_EQ(decode_file(image_path()),
              "  IBM HARD DISK FORMAT          51,251,200 bytes\n"
              "  ( 1)                               2,560 .. Linux native            \n"
              "  (--)  Free disk space             48,128 bytes (           94 sectors)\n");
    ASSERT_TRUE(build(image_path(), MAX_EXTENDED_LINKS + 1, 100100));
    EXPECT_EQ(decode_file(image_path()), "  IBM HARD DISK FORMAT          51,251,200 bytes\n"
                                         "  (--)  Extended chain stopped: more than 100,000 links\n");
}

TEST_F(Decoder, FiguresBeyond32Bits)
{
    // A 5 TiB sparse medium: a primary that ends beyond 2^32 sectors and a
    // logical FAT32 partition that starts beyond it.
    sector mbr = boot_record();
    put_entry(&mbr, 0, 0x00, 0x83, 0xFFFFF000u, 0xFFFFFFFFu);
    put_entry(&mbr, 1, 0x00, 0x05, 0xF0000000u, 0x20000000u);
    sector ebr = boot_record();
    put_entry(&ebr, 0, 0x00, 0x0C, 0x20000000u, 1000); // at 4,563,402,752
    sector fat32 = fat_boot(0xF8, 0x0BADF00D, "", 0);
    memcpy(&fat32[0x47], "FAR AWAY   ", 11);
    put_le32(&fat32[0x43], 0x600DF00D);
    std::string path = ::testing::TempDir() + std::to_string(getpid()) + "-" + "probe-5t.img";
    bool sparse = write_image(path, 10737418240ull, {});
    unlink(path.c_str());
    if (!sparse)
        GTEST_SKIP() << "the file system of " << ::testing::TempDir() << " cannot hold a 5 TiB sparse file";
    options_.show_partitions = true;
    std::string text = decode(10737418240ull, {{0, mbr}, {0xF0000000u, ebr}, {4563402752ull, fat32}});
    EXPECT_EQ(text.substr(0, text.find("        BPB:")),
              "  IBM HARD DISK FORMAT       5,497,558,138,880 bytes\n"
              "  ( 1)                       2,199,023,255,040 .. Linux native            \n"
              "        Partition start      4,294,963,200 (FFFFF000H)\n"
              "        Partition size       4,294,967,295 (FFFFFFFFH)\n"
              "  ( 2) FAR AWAY    600D-F00D       512,000 .. DOS/Windows FAT32X       TESTOEM \n"
              "        Partition start      4,563,402,752 (110000000H)\n"
              "        Partition size               1,000 (     3E8H)\n");
    // The last listed partition ends at 4,563,403,752.
    EXPECT_NE(text.find("  (--)  Free disk space      3,161,095,417,856 bytes (6,174,014,488 sectors)\n"),
              std::string::npos)
        << text;
}

TEST_F(Decoder, FloppyAcceptsOnlyItsOwnBootSectors)
{
    sector boot = fat_boot(0xF0, 0x1A2B3C4D, "FLOPPY", 2880);
    memcpy(&boot[0x36], "FAT12   ", 8);
    EXPECT_EQ(decode(2880, {{0, boot}}),
              "  IBM FLOPPY DISK FORMAT         1,474,560 bytes\n"
              "       FLOPPY      1A2B-3C4D     1,474,560 .. FAT12                    TESTOEM \n");
    sector wrong = boot;
    put_le16(&wrong[0x0B], 1024);
    EXPECT_EQ(decode(2880, {{0, wrong}}), "");
    wrong = boot;
    wrong[0x15] = 0xF9;
    EXPECT_EQ(decode(2880, {{0, wrong}}), "");
    wrong = boot;
    wrong[0x1FF] = 0;
    EXPECT_EQ(decode(2880, {{0, wrong}}), "");
}

namespace {

void put_towns_entry(sector* table, int index, uint8_t mark, uint32_t start, uint32_t count, const char* system_name,
                     const char* second_name)
{
    uint8_t* e = table->data() + 0x20 + 0x30 * index;
    e[0] = mark;
    put_le32(e + 2, start);
    put_le32(e + 6, count);
    memcpy(e + 0x10, system_name, strnlen(system_name, 16));
    memcpy(e + 0x20, second_name, strnlen(second_name, 16));
}

sector ipl_sector()
{
    sector s = boot_record(); // a PC signature too: "IPL" still decides
    memcpy(s.data(), "IPL4", 4);
    put_entry(&s, 0, 0x80, 0x06, 1, 100);
    return s;
}

} // namespace

TEST_F(Decoder, TownsTableAsInItsExample)
{
    sector table{};
    put_towns_entry(&table, 0, 0x01, 64, 200000, "MS-DOS", "SYSTEM");
    put_towns_entry(&table, 1, 0x00, 200064, 100000, "DATA AREA", "WORK");
    sector boot{};
    put_le32(&boot[0x27], 0x1234ABCD);
    memcpy(&boot[0x2B], "VOL1", 4); // the rest of the label field holds zeros
    EXPECT_EQ(decode(1000000, {{0, ipl_sector()}, {1, table}, {64, boot}}),
              "  FMR/TOWNS HARD DISK FORMAT   512,000,000 bytes\n"
              " *( 1) VOL1        1234-ABCD   102,400,000 .. MS-DOS           SYSTEM          \n"
              "  ( 2)                          51,200,000 .. DATA AREA        WORK            \n"
              "  (--)  Free disk space        358,367,232 bytes (      699,936 sectors)\n");
}

TEST_F(Decoder, TownsTableEdgeCases)
{
    // An empty table: the whole medium is free.
    EXPECT_EQ(decode(100, {{0, ipl_sector()}}), "  FMR/TOWNS HARD DISK FORMAT        51,200 bytes\n"
                                                "  (--)  Free disk space             51,200 bytes (          100 sectors)\n");

    // Ten entries, the last ending beyond the medium: no free-space line.
    // "MS-DOS 6" is an MS-DOS partition, "ms-dos" is not.
    sector table{};
    std::map<uint64_t, sector> sectors{{0, ipl_sector()}};
    for (int i = 0; i < 10; i++)
        put_towns_entry(&table, i, i == 9 ? 0x80 : 0, 10 + 10 * uint32_t(i), i == 9 ? 1000 : 10,
                        i == 0 ? "MS-DOS 6" : "ms-dos", "");
    sectors[1] = table;
    sector boot{};
    memcpy(&boot[0x2B], "SIX        ", 11);
    sectors[10] = boot;
    std::string text = decode(100, sectors);
    EXPECT_EQ(text.substr(0, text.find("  ( 3)")),
              "  FMR/TOWNS HARD DISK FORMAT        51,200 bytes\n"
              "  ( 1) SIX         0000-0000         5,120 .. MS-DOS 6                         \n"
              "  ( 2)                               5,120 .. ms-dos                           \n");
    EXPECT_EQ(text.substr(text.find("  ( 9)")),
              "  ( 9)                               5,120 .. ms-dos                           \n"
              " *(10)                             512,000 .. ms-dos                           \n");

    // An MS-DOS partition outside the medium ends the table quietly.
    table = sector{};
    put_towns_entry(&table, 0, 0, 10, 10, "DATA", "");
    put_towns_entry(&table, 1, 0, 5000, 10, "MS-DOS", "");
    EXPECT_EQ(decode(100, {{0, ipl_sector()}, {1, table}}),
              "  FMR/TOWNS HARD DISK FORMAT        51,200 bytes\n"
              "  ( 1)                               5,120 .. DATA                             \n");
}
