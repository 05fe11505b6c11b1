// Disk images named on the command line: opening, measuring by exact
// length, the derived geometry, and whole reports of the sample media that
// the build writes.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "format/output.h"
#include "harness.h"
#include "format/report_options.h"
#include "physdrive/physdrive.h"

namespace {

class ImageReport : public ::testing::Test {
protected:
    void TearDown() override { close_physical_drives(); }

    report_options options_;

    // The report of every image opened so far.
    std::string report() const
    {
        FILE* f = temp_stream();
        set_output_stream(f);
        report_images(options_);
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

    static std::string sample(const char* name) { return std::string(VEXUM_SAMPLES) + "/" + name; }

    // A file of the given bytes in the test's temporary folder.
    static std::string write_file(const char* name, size_t bytes, uint8_t first_byte)
    {
        std::string path = ::testing::TempDir() + std::to_string(getpid()) + "-" + name;
        FILE* f = fopen(path.c_str(), "wb");
        for (size_t i = 0; i < bytes; i++)
            fputc(i == 0 ? first_byte : 0, f);
        fclose(f);
        return path;
    }
};

} // namespace

TEST_F(ImageReport, SampleDiskListsPrimaryLogicalsAndFreeSpace)
{
    std::string path = sample("sample-disk.img");
    std::string error;
    ASSERT_EQ(open_image_drive(path.c_str(), &error), 0) << error;
    // 20,480 sectors; an active FAT16 primary of 8,192 sectors at 2,048; an
    // extended partition at 10,240 whose records list a FAT12 partition of
    // 2,048 sectors at 12,288 and a Linux one of 2,048 at 16,384, which
    // ends at 18,432: 2,048 sectors are left.
    std::string expected = "\nDisk:" + path + "\n" +
        "  IBM HARD DISK FORMAT          10,485,760 bytes\n"
        " *( 1) SAMPLE DISK 1A2B-3C4D     4,194,304 .. DOS FAT16 (over 32M)     MSDOS5.0\n"
        "  ( 2) LOGICAL ONE 0BAD-1DEA     1,048,576 .. DOS FAT12                MSDOS5.0\n"
        "  ( 3)                           1,048,576 .. Linux native            \n"
        "  (--)  Free disk space          1,048,576 bytes (        2,048 sectors)\n";
    EXPECT_EQ(report(), expected);
}

TEST_F(ImageReport, SampleFloppyWithGeometryAndParameterBlock)
{
    options_.show_device = true;
    options_.show_partitions = true;
    std::string path = sample("sample-floppy.img");
    std::string error;
    ASSERT_EQ(open_image_drive(path.c_str(), &error), 0) << error;
    std::string expected = "\nDisk:" + path + "\n" +
        "  W32:Media Type                 Removable\n"
        "  W32:Cylinder                          80\n"
        "  W32:Track per cylinder                 2\n"
        "  W32:Sector per track                  18\n"
        "  W32:Byte per sector                  512\n"
        "  IBM FLOPPY DISK FORMAT         1,474,560 bytes\n"
        "       SAMPLE FLOP 2026-1207     1,474,560 .. FAT12                    MSDOS5.0\n"
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
        "        BPB:Serial number        2026-1207\n"
        "        BPB:Volume label       SAMPLE FLOP\n"
        "        BPB:File system name         FAT12\n"
        "        BPB:FileSys capacity     1,457,664 bytes (        2,847 clusters)\n";
    EXPECT_EQ(report(), expected);
}

TEST_F(ImageReport, SampleTownsMediumWithExtents)
{
    options_.show_partitions = true;
    std::string path = sample("sample-towns.img");
    std::string error;
    ASSERT_EQ(open_image_drive(path.c_str(), &error), 0) << error;
    std::string text = report();
    // 16,384 sectors; MS-DOS at 64 for 8,192 sectors, a data area at 8,256
    // for 4,096, which ends at 12,352: 4,032 sectors free.
    EXPECT_EQ(text.find("\nDisk:" + path + "\n  FMR/TOWNS HARD DISK FORMAT     8,388,608 bytes\n"
                        " *( 1) TOWNS SYS   1234-ABCD     4,194,304 .. MS-DOS           SYSTEM          \n"
                        "        Partition start                 64 (      40H)\n"
                        "        Partition size               8,192 (    2000H)\n"
                        "        BPB:Sector size                512 bytes\n"),
              0u)
        << text;
    std::string tail = "  ( 2)                           2,097,152 .. DATA AREA        WORK            \n"
                       "        Partition start              8,256 (    2040H)\n"
                       "        Partition size               4,096 (    1000H)\n"
                       "  (--)  Free disk space          2,064,384 bytes (        4,032 sectors)\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
}

TEST_F(ImageReport, ImagesReportInTheOrderOpened)
{
    std::string error;
    std::string floppy = sample("sample-floppy.img");
    std::string disk = sample("sample-disk.img");
    ASSERT_EQ(open_image_drive(floppy.c_str(), &error), 0);
    ASSERT_EQ(open_image_drive(disk.c_str(), &error), 0);
    ASSERT_EQ(open_image_drive(floppy.c_str(), &error), 0);
    EXPECT_EQ(image_drive_count(), 3);
    std::string text = report();
    size_t first = text.find("\nDisk:" + floppy + "\n");
    size_t second = text.find("\nDisk:" + disk + "\n");
    size_t third = text.find("\nDisk:" + floppy + "\n", first + 1);
    EXPECT_TRUE(first < second && second < third && third != std::string::npos) << text;
    close_physical_drives();
    EXPECT_EQ(image_drive_count(), 0);
    EXPECT_EQ(report(), "");
}

TEST_F(ImageReport, UnopenableFilesAreNamedInTheError)
{
    std::string error;
    std::string missing = ::testing::TempDir() + "no-such-image.img";
    EXPECT_EQ(open_image_drive(missing.c_str(), &error), -1);
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(open_image_drive(::testing::TempDir().c_str(), &error), -1);
    EXPECT_NE(error.find(::testing::TempDir()), std::string::npos) << error;
    EXPECT_EQ(image_drive_count(), 0);
}

TEST_F(ImageReport, ShortImagesAreMeasuredByWholeSectors)
{
    options_.show_device = true;
    // 100 bytes: no whole sector; sector 0 cannot be read, only the heading
    // and the geometry of an empty disk remain.
    std::string tiny = write_file("tiny.img", 100, 0);
    // 1,000 bytes: one sector of zeros, not a known format.
    std::string one = write_file("one-sector.img", 1000, 0);
    std::string error;
    ASSERT_EQ(open_image_drive(tiny.c_str(), &error), 0);
    ASSERT_EQ(open_image_drive(one.c_str(), &error), 0);
    const char* empty_geometry = "  W32:Media Type                     Fixed\n"
                                 "  W32:Cylinder                           0\n"
                                 "  W32:Track per cylinder                16\n"
                                 "  W32:Sector per track                  63\n"
                                 "  W32:Byte per sector                  512\n";
    EXPECT_EQ(report(), "\nDisk:" + tiny + "\n" + empty_geometry + "\nDisk:" + one + "\n" + empty_geometry +
                            "  Unkown format!!\n");
    unlink(tiny.c_str());
    unlink(one.c_str());
}

TEST_F(ImageReport, DumpShowsSectorZeroAfterTheChainWasWalked)
{
    options_.dump_sectors = true;
    std::string path = sample("sample-disk.img");
    std::string error;
    ASSERT_EQ(open_image_drive(path.c_str(), &error), 0);
    std::string text = report();
    // The decoders last read the second extended boot record; the dump is
    // still the master boot record: disk signature 5645584Dh at 1B8h, the
    // FAT16 entry at 1BEh and the signature.
    size_t dump = text.find("sector 0\n");
    ASSERT_NE(dump, std::string::npos) << text;
    EXPECT_NE(text.find("+1B0  00 00 00 00 00 00 00 00-4D 58 45 56 00 00 80 00  ........MXEV....\n", dump),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("+1C0  00 00 06 00 00 00 00 08-00 00 00 20 00 00 00 00  ........... ....\n", dump),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("+1F0  00 00 00 00 00 00 00 00-00 00 00 00 00 00 55 AA  ..............U.\n", dump),
              std::string::npos)
        << text;
}

TEST(ImageGeometry, DerivedFromTheSizeAlone)
{
    disk_geometry g{};
    derive_image_geometry(2880, &g);
    EXPECT_EQ(g.media_type, uint32_t(MEDIA_REMOVABLE));
    EXPECT_EQ(g.cylinders, 80u);
    EXPECT_EQ(g.tracks_per_cylinder, 2u);
    EXPECT_EQ(g.sectors_per_track, 18u);
    derive_image_geometry(720, &g);
    EXPECT_EQ(g.cylinders, 40u);
    EXPECT_EQ(g.sectors_per_track, 9u);
    // Up to 1,024 cylinders of 16 heads, then 255 heads.
    derive_image_geometry(1024ull * 16 * 63, &g);
    EXPECT_EQ(g.media_type, uint32_t(MEDIA_FIXED));
    EXPECT_EQ(g.tracks_per_cylinder, 16u);
    EXPECT_EQ(g.cylinders, 1024u);
    derive_image_geometry(1024ull * 16 * 63 + 1, &g);
    EXPECT_EQ(g.tracks_per_cylinder, 255u);
    EXPECT_EQ(g.cylinders, 64u); // 1,032,193 / 16,065, whole cylinders only
    derive_image_geometry(16450560, &g);
    EXPECT_EQ(g.cylinders, 1024u);
    EXPECT_EQ(g.bytes_per_sector, 512u);
}

TEST_F(ImageReport, CommandReportsImagesFirstAndStopsOnAnUnopenableOne)
{
    std::string floppy = std::string(VEXUM_SAMPLES) + "/sample-floppy.img";
    std::string missing = ::testing::TempDir() + std::to_string(getpid()) + "-" + "missing.img";
    run_result bad = run_in_process({"-image", floppy, "-image", missing, "-p"});
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "vexum: " + missing + ": cannot open the image (No such file or directory)\n");

    run_result good = run_in_process({"-image", floppy});
    EXPECT_EQ(good.exit_code, 0);
    EXPECT_EQ(good.err, "");
    EXPECT_EQ(good.out, "\nDisk:" + floppy + "\n" +
                            "  IBM FLOPPY DISK FORMAT         1,474,560 bytes\n"
                            "       SAMPLE FLOP 2026-1207     1,474,560 .. FAT12                    MSDOS5.0\n");
}

TEST_F(ImageReport, BothDeviceSidesPrintTheSameMediumAlike)
{
    // A bus file whose units are backed by the three sample media: the SCSI
    // side must print the same decoder lines as -image does.
    std::string samples = std::string(VEXUM_SAMPLES) + "/";
    std::string bus = ::testing::TempDir() + std::to_string(getpid()) + "-" + "three-media.bus";
    FILE* f = fopen(bus.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "adapters 1\nadapter 0\n");
    const char* media[] = {"sample-disk.img", "sample-floppy.img", "sample-towns.img"};
    for (int target = 0; target < 3; target++) {
        fprintf(f, "unit 0:%d:0\n  image %s%s 512\n  on 12 00\n    data 00 00 02 02 1F 00 00 10\n"
                   "    data \"VEXUM   \" \"MEDIUM %d        \" \"1.00\"\n",
                target, samples.c_str(), media[target], target);
    }
    fclose(f);
    run_result scsi = run_in_process({"-bus", bus, "-p"});
    ASSERT_EQ(scsi.exit_code, 0) << scsi.err;
    for (int target = 0; target < 3; target++) {
        SCOPED_TRACE(media[target]);
        run_result image = run_in_process({"-image", samples + media[target], "-p"});
        ASSERT_EQ(image.exit_code, 0) << image.err;
        // The decoder's lines: everything after the heading line.
        std::string lines = image.out.substr(image.out.find('\n', 1) + 1);
        ASSERT_GT(lines.size(), 200u);
        size_t unit = scsi.out.find(")ID:" + std::to_string(target) + "-0 ");
        ASSERT_NE(unit, std::string::npos) << scsi.out;
        EXPECT_EQ(scsi.out.compare(scsi.out.find('\n', unit) + 1, lines.size(), lines), 0) << scsi.out;
    }
    remove(bus.c_str());
}

TEST_F(ImageReport, GeometryLinesOfALargeSparseImage)
{
    options_.show_device = true;
    // 4,865 cylinders of 255 heads and 63 sectors: 78,156,225 sectors, all
    // holes. Sector 0 is empty: the hard disk decoder finds no signature.
    std::string path = write_file("large.img", 512, 0);
    ASSERT_EQ(truncate(path.c_str(), off_t(78156225ull * 512)), 0);
    std::string error;
    ASSERT_EQ(open_image_drive(path.c_str(), &error), 0) << error;
    EXPECT_EQ(report(), "\nDisk:" + path + "\n" +
                            "  W32:Media Type                     Fixed\n"
                            "  W32:Cylinder                       4,865\n"
                            "  W32:Track per cylinder               255\n"
                            "  W32:Sector per track                  63\n"
                            "  W32:Byte per sector                  512\n"
                            "  Unkown format!!\n");
    unlink(path.c_str());
}
