// Containers read without a library: recognition by content, the header
// fields kept, hostile headers refused with their reason, whole reports of
// HDI, NHD and THD files wrapped around the sample disk (cut back to raw
// with dd for the cross-check), and the bus file's image line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "format/bytes.h"
#include "harness.h"
#include "physdrive/container.h"
#include "physdrive/image_library.h"
#include "physdrive/physdrive.h"

namespace {

using bytes = std::vector<uint8_t>;

std::string sample_disk() { return std::string(VEXUM_SAMPLES) + "/sample-disk.img"; }

bytes file_bytes(const std::string& path)
{
    std::string text = read_text_file(path);
    return bytes(text.begin(), text.end());
}

void write_bytes(const std::string& path, const bytes& data)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(fwrite(data.data(), 1, data.size(), f), data.size());
    fclose(f);
}

// The published header layouts, written field by field.
bytes hdi_header(uint32_t header_size, uint32_t data_size, uint32_t sector_size, uint32_t sectors, uint32_t heads,
                 uint32_t cylinders)
{
    // The header's bytes up to its data, where that is a size worth
    // writing; hostile sizes get the 32 bytes of fields alone.
    bytes h(header_size < 32 || header_size > 65536 ? 32 : header_size, 0);
    put_le32(&h[4], 0x13); // drive type
    put_le32(&h[8], header_size);
    put_le32(&h[12], data_size);
    put_le32(&h[16], sector_size);
    put_le32(&h[20], sectors);
    put_le32(&h[24], heads);
    put_le32(&h[28], cylinders);
    return h;
}

bytes nhd_header(uint32_t header_size, uint32_t cylinders, uint16_t heads, uint16_t sectors, uint16_t sector_size,
                 const char* comment = "")
{
    bytes h(512, 0);
    std::memcpy(&h[0], "T98HDDIMAGE.R0", 14);
    std::memcpy(&h[16], comment, std::strlen(comment));
    put_le32(&h[0x110], header_size);
    put_le32(&h[0x114], cylinders);
    put_le16(&h[0x118], heads);
    put_le16(&h[0x11A], sectors);
    put_le16(&h[0x11C], sector_size);
    return h;
}

bytes thd_header(uint16_t cylinders)
{
    bytes h(256, 0);
    put_le16(&h[0], cylinders);
    return h;
}

void put_be64(uint8_t* p, uint64_t v)
{
    put_be32(p, uint32_t(v >> 32));
    put_be32(p + 4, uint32_t(v));
}

// A VHD footer with a correct checksum.
bytes vhd_footer(uint32_t disk_type, uint64_t size, uint16_t cylinders = 20, uint8_t heads = 16, uint8_t sectors = 63)
{
    bytes f(512, 0);
    std::memcpy(&f[0], "conectix", 8);
    put_be32(&f[8], 2);
    put_be32(&f[12], 0x00010000);
    put_be64(&f[16], disk_type == 2 ? UINT64_MAX : 512);
    std::memcpy(&f[28], "vxtt", 4);
    put_be64(&f[40], size);
    put_be64(&f[48], size);
    put_be16(&f[56], cylinders);
    f[58] = heads;
    f[59] = sectors;
    put_be32(&f[60], disk_type);
    for (int i = 0; i < 16; i++)
        f[68 + i] = uint8_t(0xA0 + i);
    uint32_t sum = 0;
    for (uint8_t b : f)
        sum += b;
    put_be32(&f[64], ~sum);
    return f;
}

bytes first_bytes(bytes a, size_t n)
{
    a.resize(n);
    return a;
}

bytes joined(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What parse_container_header makes of a whole file held in memory.
struct parsed {
    int result;
    container_header header;
    std::string reason;
};

parsed parse_file(const bytes& file)
{
    size_t n = file.size() < CONTAINER_PROBE_SIZE ? file.size() : CONTAINER_PROBE_SIZE;
    parsed p{};
    p.result = parse_container_header(file.data(), n, file.data() + file.size() - n, n, file.size(), &p.header,
                                      &p.reason);
    return p;
}

// A temporary folder of the test, removed with what it holds.
class TempFolder {
public:
    TempFolder() : path_(make_temp_directory("vexum-containers-")) {}
    ~TempFolder()
    {
        if (!path_.empty())
            run_quietly("rm -rf '" + path_ + "'");
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A report with its first heading line ("Disk:PATH") and Image: line taken
// out: what must be equal between a container and its raw disk.
std::string without_heading(std::string report)
{
    size_t heading = report.find("\nDisk:");
    if (heading != std::string::npos)
        report.erase(heading + 1, report.find('\n', heading + 1) - heading);
    size_t image = report.find("  Image: ");
    if (image != std::string::npos)
        report.erase(image, report.find('\n', image) - image + 1);
    return report;
}

} // namespace

TEST(ContainerHeader, BuiltInHeadersKeepTheirFields)
{
    parsed hdi = parse_file(joined(hdi_header(4096, 80 * 8 * 32 * 512, 512, 32, 8, 80), bytes(80 * 8 * 32 * 512)));
    ASSERT_EQ(hdi.result, CONTAINER_BUILT_IN) << hdi.reason;
    EXPECT_EQ(container_name(hdi.header), "HDI");
    EXPECT_EQ(hdi.header.data_offset, 4096u);
    EXPECT_EQ(hdi.header.media_size, 80u * 8 * 32 * 512);
    EXPECT_EQ(hdi.header.hdi_type, 0x13u);
    EXPECT_EQ(hdi.header.cylinders, 80u);
    EXPECT_EQ(hdi.header.heads, 8u);
    EXPECT_EQ(hdi.header.sectors_per_track, 32u);
    EXPECT_EQ(hdi.header.sector_size, 512u);

    parsed nhd = parse_file(joined(nhd_header(512, 10, 4, 17, 256, "PC-98 \x82\xa0"), bytes(10 * 4 * 17 * 256)));
    ASSERT_EQ(nhd.result, CONTAINER_BUILT_IN) << nhd.reason;
    EXPECT_EQ(container_name(nhd.header), "NHD");
    EXPECT_EQ(nhd.header.comment, "PC-98 \x82\xa0");
    EXPECT_EQ(nhd.header.media_size, 10u * 4 * 17 * 256);
    EXPECT_EQ(nhd.header.sector_size, 256u);

    parsed thd = parse_file(joined(thd_header(3), bytes(3 * 8 * 33 * 256)));
    ASSERT_EQ(thd.result, CONTAINER_BUILT_IN) << thd.reason;
    EXPECT_EQ(container_name(thd.header), "THD");
    EXPECT_EQ(thd.header.data_offset, 256u);
    EXPECT_EQ(thd.header.media_size, 3u * 8 * 33 * 256);
    EXPECT_EQ(thd.header.heads, 8u);
    EXPECT_EQ(thd.header.sectors_per_track, 33u);

    parsed vhd = parse_file(joined(bytes(20480, 0x5A), vhd_footer(2, 20480, 20, 2, 1)));
    ASSERT_EQ(vhd.result, CONTAINER_BUILT_IN) << vhd.reason;
    EXPECT_EQ(container_name(vhd.header), "VHD fixed");
    EXPECT_EQ(vhd.header.media_size, 20480u);
    EXPECT_EQ(vhd.header.data_offset, 0u);
    EXPECT_EQ(vhd.header.creator, "vxtt");
    EXPECT_EQ(vhd.header.version_major, 1u);
    EXPECT_EQ(vhd.header.cylinders, 20u);
    EXPECT_EQ(vhd.header.identifier[15], 0xAF);
}

TEST(ContainerHeader, SignaturesGoToTheirLibrary)
{
    struct signature_case {
        const char* bytes;
        size_t length;
        container_format format;
        const char* name;
    } cases[] = {
        {"vhdxfile", 8, container_format::vhdx, "VHDX"},
        {"KDMV\x01\x00\x00\x00", 8, container_format::vmdk, "VMDK"},
        {"COWD", 4, container_format::vmdk, "VMDK"},
        {"# Disk DescriptorFile\n", 22, container_format::vmdk, "VMDK"},
        {"QFI\xFB\x00\x00\x00\x03", 8, container_format::qcow, "QCOW2"},
        {"QFI\xFB\x00\x00\x00\x01", 8, container_format::qcow, "QCOW"},
        {"EVF\x09\x0D\x0A\xFF\x00", 8, container_format::ewf, "EWF"},
        {"EVF2\x0D\x0A\x81\x00", 8, container_format::ewf, "EWF"},
    };
    for (const signature_case& c : cases) {
        bytes file(4096, 0);
        std::memcpy(file.data(), c.bytes, c.length);
        parsed p = parse_file(file);
        EXPECT_EQ(p.result, CONTAINER_LIBRARY) << c.name;
        EXPECT_EQ(p.header.format, c.format) << c.name;
        EXPECT_EQ(container_name(p.header), c.name);
    }
    // Dynamic and differencing VHDs: the footer at the end and its copy at
    // the start.
    for (uint32_t type : {3u, 4u}) {
        bytes footer = vhd_footer(type, 1u << 20);
        parsed p = parse_file(joined(joined(footer, bytes(4096)), footer));
        EXPECT_EQ(p.result, CONTAINER_LIBRARY);
        EXPECT_EQ(container_name(p.header), type == 3 ? "VHD dynamic" : "VHD differencing");
    }
}

TEST(ContainerHeader, RawMediaStayRaw)
{
    bytes boot_record(1u << 20, 0);
    boot_record[0] = 0xFA;
    boot_record[510] = 0x55;
    boot_record[511] = 0xAA;
    bytes zeros(1u << 20, 0);
    // Zero first field and sizes that neither match the geometry nor fill
    // the file: not an HDI.
    bytes almost_hdi = joined(hdi_header(4096, 1000, 512, 32, 8, 80), bytes(100000));
    // An odd size whose first 256 bytes are not a THD header.
    bytes odd(512 * 7 + 256, 0);
    odd[0] = 3;
    odd[100] = 1;
    bytes tiny = {0xEB, 0x3C};
    for (const bytes* file : {&boot_record, &zeros, &almost_hdi, &odd, &tiny}) {
        parsed p = parse_file(*file);
        EXPECT_EQ(p.result, CONTAINER_RAW) << p.reason;
        EXPECT_EQ(p.header.format, container_format::raw);
        EXPECT_EQ(p.header.media_size, file->size());
    }
    container_header header;
    std::string reason;
    EXPECT_EQ(parse_container_header(nullptr, 0, nullptr, 0, 0, &header, &reason), CONTAINER_RAW);
}

TEST(ContainerHeader, HostileHeadersAreRefusedWithTheirReason)
{
    // One bit more in a reserved byte: the sum over the bytes grows by one.
    bytes bad_checksum = vhd_footer(2, 4096);
    bad_checksum[100] ^= 1;
    char checksum_reason[80];
    snprintf(checksum_reason, sizeof checksum_reason, "VHD footer checksum %08X does not match its bytes (%08X)",
             unsigned(get_be32(&bad_checksum[64])), unsigned(get_be32(&bad_checksum[64]) - 1));
    bytes unknown_type = vhd_footer(7, 4096);
    bytes footer_511 = vhd_footer(2, 4096);
    footer_511.pop_back();
    struct hostile {
        bytes file;
        const char* reason;
    } cases[] = {
        {joined(hdi_header(0x7FFFFFF0, 512, 512, 1, 1, 1), bytes(4096)),
         "HDI header size of 2,147,483,632 bytes reaches past the end of the file (4,128 bytes)"},
        {joined(hdi_header(4096, 8 * 512, 512, 8, 1, 1), bytes(512)),
         "HDI data of 4,096 bytes at offset 4,096 reaches past the end of the file (4,608 bytes)"},
        {joined(hdi_header(4096, 8192, 0, 17, 4, 10), bytes(8192)),
         "HDI sector size of 0 bytes is not a power of two from 128 to 32,768"},
        {joined(hdi_header(4096, 8000, 1000, 8, 1, 1), bytes(8000)),
         "HDI sector size of 1,000 bytes is not a power of two from 128 to 32,768"},
        {joined(hdi_header(4096, 512, 0x80000000, 0x80000000, 0x80000000, 2), bytes(512)),
         "HDI geometry of 2 cylinders, 2,147,483,648 heads, 2,147,483,648 sectors of 2,147,483,648 bytes does not "
         "fit 64 bits"},
        {first_bytes(nhd_header(512, 1, 1, 1, 512), 300),
         "NHD header cut short: the file has 300 bytes of its 512"},
        {joined(nhd_header(16, 1, 1, 1, 512), bytes(512)), "NHD header size of 16 bytes is less than the header's 512"},
        {joined(nhd_header(512, 1, 1, 1, 0), bytes(512)),
         "NHD sector size of 0 bytes is not a power of two from 128 to 32,768"},
        {joined(nhd_header(512, 1, 1, 1, 520), bytes(520)),
         "NHD sector size of 520 bytes is not a power of two from 128 to 32,768"},
        {joined(nhd_header(512, 0xFFFFFFFF, 0xFFFF, 0xFFFF, 0x8000), bytes(512)),
         "NHD geometry of 4,294,967,295 cylinders, 65,535 heads, 65,535 sectors of 32,768 bytes does not fit 64 "
         "bits"},
        {joined(nhd_header(512, 100, 8, 17, 512), bytes(512)),
         "NHD data of 6,963,200 bytes at offset 512 reaches past the end of the file (1,024 bytes)"},
        {joined(thd_header(615), bytes(67584)),
         "THD data of 41,564,160 bytes at offset 256 reaches past the end of the file (67,840 bytes)"},
        {joined(bytes(4096), bad_checksum), checksum_reason},
        {joined(bytes(4096), unknown_type),
         "VHD disk type 7 is none of fixed (2), dynamic (3) and differencing (4)"},
        {joined(bytes(4096), footer_511), "VHD footer cut short: 511 of its 512 bytes"},
        {joined(bytes(1024), vhd_footer(2, 4096)), "VHD fixed disk of 4,096 bytes reaches past its footer at 1,024"},
        {joined(vhd_footer(2, 4096), bytes(4096)), "VHD fixed disk without its footer at the end of the file"},
        {first_bytes(vhd_footer(3, 4096), 200),
         "VHD footer cut short: the file has 200 bytes"},
        {joined(bytes{'L', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00}, bytes(4096)),
         "EWF logical evidence file: it holds files, not a disk"},
    };
    for (const hostile& c : cases) {
        parsed p = parse_file(c.file);
        EXPECT_EQ(p.result, CONTAINER_REFUSED) << c.reason;
        EXPECT_EQ(p.reason, c.reason);
    }
}

TEST(ContainerImage, HdiAroundTheSampleDiskReportsItsHeaderGeometry)
{
    TempFolder folder;
    std::string path = folder.file("disk.hdi");
    // 20,480 sectors as 80 cylinders of 8 heads of 32 sectors, behind
    // Anex86's usual 4,096-byte header.
    write_bytes(path, joined(hdi_header(4096, 10485760, 512, 32, 8, 80), file_bytes(sample_disk())));
    run_result r = run_binary({"-image", path, "-d"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "\nDisk:" + path + "\n" +
                         "  Image: HDI, 10,485,760 bytes\n"
                         "  W32:Media Type                     Fixed\n"
                         "  W32:Cylinder                          80\n"
                         "  W32:Track per cylinder                 8\n"
                         "  W32:Sector per track                  32\n"
                         "  W32:Byte per sector                  512\n"
                         "  IBM HARD DISK FORMAT          10,485,760 bytes\n"
                         " *( 1) SAMPLE DISK 1A2B-3C4D     4,194,304 .. DOS FAT16 (over 32M)     MSDOS5.0\n"
                         "  ( 2) LOGICAL ONE 0BAD-1DEA     1,048,576 .. DOS FAT12                MSDOS5.0\n"
                         "  ( 3)                           1,048,576 .. Linux native            \n"
                         "  (--)  Free disk space          1,048,576 bytes (        2,048 sectors)\n");
}

TEST(ContainerImage, BuiltInContainersReadLikeTheDataDdCutsOut)
{
    if (!run_quietly("command -v dd"))
        GTEST_SKIP() << "dd is not installed";
    TempFolder folder;
    bytes disk = file_bytes(sample_disk());
    ASSERT_EQ(disk.size(), 10485760u) << sample_disk();
    // The FMR/TOWNS sample: 8 MiB, 16,384 sectors.
    bytes towns = file_bytes(std::string(VEXUM_SAMPLES) + "/sample-towns.img");
    ASSERT_EQ(towns.size(), 8388608u);
    struct wrapped {
        const char* name;
        bytes file;
        unsigned skip;     // bytes dd skips to get the raw disk back
        size_t size;       // and takes
        const char* line;  // a line the raw disk's report holds
    } cases[] = {
        // A few bytes of something else after the data: the data size, not
        // the file's end, bounds the disk.
        {"disk.hdi", joined(joined(hdi_header(4096, 10485760, 512, 32, 8, 80), disk), bytes(100, 0xEE)), 4096,
         disk.size(), "SAMPLE DISK"},
        {"disk.nhd", joined(joined(nhd_header(512, 80, 8, 32, 512, "vexum test"), disk), bytes(100, 0xEE)), 512,
         disk.size(), "SAMPLE DISK"},
        {"disk.vhd", joined(disk, vhd_footer(2, disk.size())), 0, disk.size(), "SAMPLE DISK"},
        {"towns.hdi", joined(hdi_header(4096, 8388608, 512, 32, 8, 64), towns), 4096, towns.size(),
         "FMR/TOWNS HARD DISK FORMAT"},
    };
    for (const wrapped& c : cases) {
        std::string path = folder.file(c.name);
        write_bytes(path, c.file);
        std::string raw = path + ".raw";
        ASSERT_TRUE(run_quietly("dd if='" + path + "' of='" + raw + "' iflag=skip_bytes,count_bytes bs=65536 skip=" +
                                std::to_string(c.skip) + " count=" + std::to_string(c.size) + " status=none"));
        run_result container = run_binary({"-image", path, "-po"});
        run_result cut = run_binary({"-image", raw, "-po"});
        EXPECT_EQ(container.exit_code, 0) << c.name;
        EXPECT_NE(container.out.find("  Image: "), std::string::npos) << c.name;
        EXPECT_NE(cut.out.find(c.line), std::string::npos) << c.name << cut.out;
        EXPECT_EQ(without_heading(container.out), without_heading(cut.out)) << c.name;
    }
}

TEST(ContainerImage, ThdReadsSectorsOf256BytesAtTheHeaderOffset)
{
    TempFolder folder;
    std::string path = folder.file("disk.thd");
    bytes data(2 * 8 * 33 * 256);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = uint8_t(i * 7 + i / 256);
    write_bytes(path, joined(thd_header(2), data));
    std::string raw = folder.file("cut.raw");
    ASSERT_TRUE(run_quietly("dd if='" + path + "' of='" + raw + "' bs=256 skip=1 status=none"));
    bytes cut = file_bytes(raw);
    ASSERT_EQ(cut.size(), data.size());

    drive_handle_t handle = platform_open_path(path.c_str());
    ASSERT_NE(handle, INVALID_DRIVE_HANDLE);
    std::unique_ptr<container_image> image;
    std::string error;
    ASSERT_EQ(open_container_handle(path.c_str(), handle, 256 + data.size(), &image, &error), 0) << error;
    medium_reader medium = container_medium(image.get());
    EXPECT_EQ(medium.sector_size, 256u);
    EXPECT_EQ(medium.sector_count, 2u * 8 * 33);
    bytes sectors(3 * 256);
    ASSERT_EQ(read_medium(&medium, 100, 3, sectors.data()), 0);
    EXPECT_TRUE(std::equal(sectors.begin(), sectors.end(), cut.begin() + 100 * 256));
    // The last sector reads; one past it does not.
    EXPECT_EQ(read_medium(&medium, medium.sector_count - 1, 1, sectors.data()), 0);
    EXPECT_EQ(read_medium(&medium, medium.sector_count - 1, 2, sectors.data()), -1);
    EXPECT_EQ(read_medium(&medium, UINT64_MAX / 256 + 1, 1, sectors.data()), -1);

    run_result r = run_binary({"-image", path, "-d"});
    EXPECT_EQ(r.out, "\nDisk:" + path + "\n" +
                         "  Image: THD, 135,168 bytes\n"
                         "  W32:Media Type                     Fixed\n"
                         "  W32:Cylinder                           2\n"
                         "  W32:Track per cylinder                 8\n"
                         "  W32:Sector per track                  33\n"
                         "  W32:Byte per sector                  256\n");
}

TEST(ContainerImage, HostileContainerIsSkippedAndTheRunGoesOn)
{
    TempFolder folder;
    std::string bad = folder.file("bad.hdi");
    write_bytes(bad, joined(hdi_header(4096, 8 * 512, 512, 8, 1, 1), bytes(512)));
    std::string floppy = std::string(VEXUM_SAMPLES) + "/sample-floppy.img";
    run_result r = run_binary({"-image", bad, "-image", floppy, "-p"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "vexum: " + bad +
                         ": HDI data of 4,096 bytes at offset 4,096 reaches past the end of the file (4,608 bytes)\n");
    EXPECT_EQ(r.out.find("Disk:" + bad), std::string::npos);
    EXPECT_NE(r.out.find("\nDisk:" + floppy + "\n  IBM FLOPPY DISK FORMAT"), std::string::npos) << r.out;
}

TEST(ContainerImage, BusFileImageLineReadsTheDiskInside)
{
    TempFolder folder;
    write_bytes(folder.file("disk.hdi"), joined(hdi_header(4096, 10485760, 512, 32, 8, 80), file_bytes(sample_disk())));
    write_bytes(folder.file("disk.img"), file_bytes(sample_disk()));
    const char* unit = "unit 0:0:0\n"
                       " on 12 00\n"
                       "  data 00 00 02 02 1F 00 00 00 \"VEXUM   \" \"CONTAINER DISK  \" \"1.0 \"\n";
    std::string container_bus = folder.file("container.bus");
    std::string raw_bus = folder.file("raw.bus");
    std::string container_text = std::string(unit) + " image disk.hdi 512\n";
    std::string raw_text = std::string(unit) + " image disk.img 512\n";
    write_bytes(container_bus, bytes(container_text.begin(), container_text.end()));
    write_bytes(raw_bus, bytes(raw_text.begin(), raw_text.end()));
    run_result container = run_binary({"-bus", container_bus, "-scsi", "0:0", "-p"});
    run_result raw = run_binary({"-bus", raw_bus, "-scsi", "0:0", "-p"});
    EXPECT_EQ(container.exit_code, 0) << container.err;
    EXPECT_NE(raw.out.find("SAMPLE DISK"), std::string::npos) << raw.out;
    EXPECT_EQ(container.out, raw.out);

    // A container that cannot be trusted stops the bus file like any error.
    write_bytes(folder.file("bad.nhd"), joined(nhd_header(512, 100, 8, 17, 512), bytes(512)));
    std::string bad_text = std::string(unit) + " image bad.nhd 512\n";
    std::string bad_bus = folder.file("bad.bus");
    write_bytes(bad_bus, bytes(bad_text.begin(), bad_text.end()));
    run_result bad = run_binary({"-bus", bad_bus, "-p"});
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "vexum: " + bad_bus + ":4: image " + folder.path() +
                           "/bad.nhd: NHD data of 6,963,200 bytes at offset 512 reaches past the end of the file "
                           "(1,024 bytes)\n");
}

TEST(ContainerImage, BuildWithoutTheLibraryNamesItAndStops)
{
    bool in_build = false;
    const char* library = container_library(container_format::vhd, &in_build);
    ASSERT_STREQ(library, "libvhdi");
    if (in_build)
        GTEST_SKIP() << "this build reads VHD dynamic images through libvhdi";
    TempFolder folder;
    std::string path = folder.file("dynamic.vhd");
    bytes footer = vhd_footer(3, 1u << 20);
    write_bytes(path, joined(joined(footer, bytes(4096)), footer));
    run_result r = run_binary({"-image", path, "-image", sample_disk(), "-p"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vexum: " + path + ": VHD dynamic images need libvhdi, which this build of vexum does not have\n");
}

// With -json the image's record holds the container's header fields,
// worked out here from the headers the test writes.
TEST(ContainerImage, JsonRecordHoldsTheHeaderFields)
{
    TempFolder folder;
    std::string hdi = folder.file("disk.hdi");
    std::string nhd = folder.file("disk.nhd");
    std::string vhd = folder.file("disk.vhd");
    std::string thd = folder.file("disk.thd");
    write_bytes(hdi, joined(hdi_header(4096, 20480, 512, 4, 5, 2), bytes(20480)));
    write_bytes(nhd, joined(nhd_header(512, 2, 4, 17, 256, "PC-98 \x82\xa0 "), bytes(2 * 4 * 17 * 256)));
    write_bytes(vhd, joined(bytes(20480), vhd_footer(2, 20480)));
    write_bytes(thd, joined(thd_header(1), bytes(8 * 33 * 256)));
    run_result r = run_in_process({"-image", hdi, "-image", nhd, "-image", vhd, "-image", thd, "-json"});
    EXPECT_EQ(r.exit_code, 0);
    nlohmann::json document = nlohmann::json::parse(r.out);
    ASSERT_EQ(document["drives"].size(), 4u) << r.out;
    nlohmann::json geometry_2_5_4 = {{"cylinders", 2}, {"heads", 5}, {"sectors_per_track", 4}};
    EXPECT_EQ(document["drives"][0]["container"],
              nlohmann::json({{"format", "hdi"}, {"name", "HDI"}, {"media_size_bytes", 20480}, {"sector_size", 512},
                              {"geometry", geometry_2_5_4}, {"data_offset", 4096}, {"header_size", 4096},
                              {"hdi_drive_type", 0x13}}));
    EXPECT_EQ(document["drives"][1]["container"],
              nlohmann::json({{"format", "nhd"},
                              {"name", "NHD"},
                              {"media_size_bytes", 2 * 4 * 17 * 256},
                              {"sector_size", 256},
                              {"geometry", {{"cylinders", 2}, {"heads", 4}, {"sectors_per_track", 17}}},
                              {"data_offset", 512},
                              {"header_size", 512},
                              {"comment", "PC-98 \xe3\x81\x82"}, // Shift-JIS 82A0 is U+3042
                              {"comment_hex", "50432D393820" "82A020"}}));
    EXPECT_EQ(document["drives"][2]["container"],
              nlohmann::json({{"format", "vhd"},
                              {"name", "VHD fixed"},
                              {"media_size_bytes", 20480},
                              {"sector_size", 512},
                              {"geometry", {{"cylinders", 20}, {"heads", 16}, {"sectors_per_track", 63}}},
                              {"data_offset", 0},
                              {"disk_type", "fixed"},
                              {"disk_type_code", 2},
                              {"format_version", {1, 0}},
                              {"creator_application", "vxtt"},
                              {"creator_application_hex", "76787474"},
                              {"identifier", "a0a1a2a3-a4a5-a6a7-a8a9-aaabacadaeaf"}}));
    EXPECT_EQ(document["drives"][3]["container"],
              nlohmann::json({{"format", "thd"}, {"name", "THD"}, {"media_size_bytes", 8 * 33 * 256},
                              {"sector_size", 256},
                              {"geometry", {{"cylinders", 1}, {"heads", 8}, {"sectors_per_track", 33}}},
                              {"data_offset", 256}, {"header_size", 256}}));
}
