// Containers made by the tools of the field (qemu-img, ewfacquire) from the
// sample disk: each must give exactly the raw disk's report, with its own
// heading and one added Image: line; a unit of a bus file whose image is the
// container must report as one whose image is the raw disk; and the
// libraries' own tools (vhdiinfo, vmdkinfo, qcowinfo, ewfinfo) must agree on
// the disk's size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "format/bytes.h"
#include "harness.h"
#include "physdrive/container.h"
#include "physdrive/drive_platform.h"
#include "physdrive/image_library.h"
#include "physdrive/image_libyal.h"

namespace {

using bytes = std::vector<uint8_t>;

constexpr const char* SAMPLE_DISK_SIZE = "10,485,760";

std::string sample_disk() { return std::string(VEXUM_SAMPLES) + "/sample-disk.img"; }

std::string in_quotes(const std::string& s) { return "'" + s + "'"; }

bool have_tool(const std::string& tool) { return run_quietly("command -v " + tool); }

// A folder of the test, removed with what it holds.
class TempFolder {
public:
    TempFolder() : path_(make_temp_directory("vexum-peers-")) {}
    ~TempFolder()
    {
        if (!path_.empty())
            run_quietly("rm -rf " + in_quotes(path_));
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

bool write_file(const std::string& path, const bytes& data)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool written = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && written;
}

// The raw disk's report as the container's must read: its heading naming
// the container, the Image: line under it, every other line the same.
std::string expected_report(const std::string& raw_report, const std::string& path, const std::string& image_line)
{
    size_t heading = raw_report.find("\nDisk:");
    size_t end = raw_report.find('\n', heading + 1);
    if (heading == std::string::npos || end == std::string::npos)
        return "(no heading in the raw report)";
    return raw_report.substr(0, heading) + "\nDisk:" + path + "\n" + image_line + "\n" + raw_report.substr(end + 1);
}

// "Media size ... (N bytes)" of the libyal info tools.
uint64_t media_size_of(const std::string& info)
{
    size_t at = info.find("Media size");
    if (at == std::string::npos)
        return 0;
    size_t open = info.find('(', at);
    if (open == std::string::npos)
        return 0;
    return std::strtoull(info.c_str() + open + 1, nullptr, 10);
}

bool build_reads(container_format format, std::string* library)
{
    bool in_build = false;
    const char* name = container_library(format, &in_build);
    *library = name ? name : "";
    return name == nullptr || in_build;
}

// Why a test of qemu-img's images of format cannot run here, or "".
std::string qemu_lacks(container_format format)
{
    std::string library;
    if (!have_tool("qemu-img"))
        return "qemu-img is not installed";
    if (!build_reads(format, &library))
        return "this build has no " + library;
    return "";
}

// The sample disk converted by qemu-img with options ("-O qcow2") into out.
bool qemu_convert(const std::string& options, const std::string& out)
{
    return run_quietly("qemu-img convert -f raw " + options + " " + in_quotes(sample_disk()) + " " + in_quotes(out));
}

struct peer_container {
    const char* name;       // test name
    const char* file;       // the container's file name
    const char* maker;      // the tool that makes it
    const char* make;       // its arguments: RAW and OUT stand for the paths
    container_format format;
    const char* image_name; // the container's name on the Image: line
    const char* info;       // the library's tool that tells its size
};

const peer_container peer_containers[] = {
    {"VhdDynamic", "disk.vhd", "qemu-img", "convert -f raw -O vpc -o force_size=on RAW OUT", container_format::vhd,
     "VHD dynamic", "vhdiinfo"},
    {"VhdFixed", "disk.vhd", "qemu-img", "convert -f raw -O vpc -o subformat=fixed,force_size=on RAW OUT",
     container_format::vhd, "VHD fixed", "vhdiinfo"},
    {"Vhdx", "disk.vhdx", "qemu-img", "convert -f raw -O vhdx RAW OUT", container_format::vhdx, "VHDX dynamic",
     "vhdiinfo"},
    {"VmdkSparse", "disk.vmdk", "qemu-img", "convert -f raw -O vmdk RAW OUT", container_format::vmdk,
     "VMDK monolithic sparse", "vmdkinfo"},
    {"VmdkFlat", "disk.vmdk", "qemu-img", "convert -f raw -O vmdk -o subformat=monolithicFlat RAW OUT",
     container_format::vmdk, "VMDK monolithic flat", "vmdkinfo"},
    {"VmdkStreamOptimized", "disk.vmdk", "qemu-img", "convert -f raw -O vmdk -o subformat=streamOptimized RAW OUT",
     container_format::vmdk, "VMDK stream optimized", "vmdkinfo"},
    {"Qcow2", "disk.qcow2", "qemu-img", "convert -f raw -O qcow2 RAW OUT", container_format::qcow, "QCOW2",
     "qcowinfo"},
    {"Qcow", "disk.qcow", "qemu-img", "convert -f raw -O qcow RAW OUT", container_format::qcow, "QCOW", "qcowinfo"},
    // Segments of 1 MiB, the least ewfacquire takes: the 10 MiB disk is
    // split over 11 files, disk.E01 to disk.E11.
    {"EwfSplit", "disk.E01", "ewfacquire", "-u -q -c none -S 1MiB -t OUTBASE RAW", container_format::ewf, "EWF",
     "ewfinfo"},
};

void PrintTo(const peer_container& c, std::ostream* os) { *os << c.name; }

class PeerContainer : public ::testing::TestWithParam<peer_container> {};

} // namespace

TEST_P(PeerContainer, ReportsExactlyAsItsRawDiskAndPeersAgreeOnTheSize)
{
    const peer_container& c = GetParam();
    if (!have_tool(c.maker))
        GTEST_SKIP() << c.maker << " is not installed";
    std::string library;
    if (!build_reads(c.format, &library))
        GTEST_SKIP() << "this build has no " << library;
    TempFolder folder;
    std::string out = folder.file(c.file);
    std::string command = std::string(c.maker) + " " + c.make;
    std::string base = out.substr(0, out.rfind('.'));
    // OUTBASE: the output's path without its extension (ewfacquire adds it).
    for (auto [word, value] : {std::pair<std::string, std::string>{"OUTBASE", base}, {"RAW", sample_disk()},
                               {"OUT", out}}) {
        size_t at = command.find(word);
        if (at != std::string::npos)
            command.replace(at, word.size(), in_quotes(value));
    }
    ASSERT_TRUE(run_quietly(command)) << command;

    run_result raw = run_binary({"-image", sample_disk(), "-dpo"});
    ASSERT_NE(raw.out.find("SAMPLE DISK"), std::string::npos) << raw.out;
    run_result container = run_binary({"-image", out, "-dpo"});
    EXPECT_EQ(container.exit_code, 0);
    EXPECT_EQ(container.err, "");
    std::string image_line = std::string("  Image: ") + c.image_name + ", " + SAMPLE_DISK_SIZE + " bytes";
    EXPECT_EQ(container.out, expected_report(raw.out, out, image_line));

    // A bus file's image line reads the same disk: the unit's report is
    // that of the unit whose image is the raw disk.
    auto unit_report = [&](const std::string& image) {
        std::string text = "unit 0:0:0\n"
                           "  on 12 00\n"
                           "    data 00 00 02 02 1F 00 00 00 \"VEXUM   \" \"CONTAINER DISK  \" \"1.0 \"\n"
                           "  image " + image + " 512\n";
        std::string bus = folder.file("unit.bus");
        if (!write_file(bus, bytes(text.begin(), text.end())))
            return run_result{-1, "", "cannot write " + bus};
        return run_binary({"-bus", bus, "-scsi", "0:0", "-dpo"});
    };
    run_result raw_unit = unit_report(sample_disk());
    ASSERT_NE(raw_unit.out.find("SAMPLE DISK"), std::string::npos) << raw_unit.out << raw_unit.err;
    run_result container_unit = unit_report(c.file);
    EXPECT_EQ(container_unit.exit_code, 0);
    EXPECT_EQ(container_unit.err, "");
    EXPECT_EQ(container_unit.out, raw_unit.out);

    if (c.format == container_format::ewf) {
        EXPECT_TRUE(run_quietly("test -f " + in_quotes(base + ".E11"))) << "the image was not split";
    }
    if (!have_tool(c.info))
        GTEST_SKIP() << c.info << " is not installed; the report was checked";
    EXPECT_EQ(media_size_of(shell_output(std::string(c.info) + " " + in_quotes(out))), 10485760u);
}

INSTANTIATE_TEST_SUITE_P(Tools, PeerContainer, ::testing::ValuesIn(peer_containers),
                         [](const ::testing::TestParamInfo<peer_container>& info) { return info.param.name; });

TEST(PeerContainerChain, QcowChildReadsThroughItsBackingFile)
{
    std::string lacking = qemu_lacks(container_format::qcow);
    if (!lacking.empty())
        GTEST_SKIP() << lacking;
    TempFolder folder;
    std::string base = folder.file("base.qcow2");
    std::string child = folder.file("child.qcow2");
    ASSERT_TRUE(qemu_convert("-O qcow2", base));
    // The backing file named without a folder: looked for beside the child.
    ASSERT_TRUE(run_quietly("cd " + in_quotes(folder.file("")) +
                            " && qemu-img create -q -f qcow2 -b base.qcow2 -F qcow2 child.qcow2"));
    run_result raw = run_binary({"-image", sample_disk(), "-p"});
    run_result r = run_binary({"-image", child, "-p"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expected_report(raw.out, child, std::string("  Image: QCOW2, ") + SAMPLE_DISK_SIZE + " bytes"));

    // Without its backing file the child is refused, and the run goes on.
    ASSERT_EQ(remove(base.c_str()), 0);
    run_result missing = run_binary({"-image", child, "-image", sample_disk(), "-p"});
    EXPECT_EQ(missing.exit_code, 0);
    EXPECT_EQ(missing.err, "vexum: " + child + ": parent " + base + ": No such file or directory\n");
    EXPECT_EQ(missing.out, raw.out);
}

TEST(PeerContainerChain, ReadErrorOfTheLibraryIsOneLineAndEndsTheReport)
{
    std::string lacking = qemu_lacks(container_format::qcow);
    if (!lacking.empty())
        GTEST_SKIP() << lacking;
    TempFolder folder;
    std::string whole = folder.file("whole.qcow2");
    std::string cut = folder.file("cut.qcow2");
    ASSERT_TRUE(qemu_convert("-O qcow2", whole));
    // qemu-img writes the header and its tables first, the data clusters
    // after them: cut after the tables, the image opens and its first data
    // read fails.
    std::string map = shell_output("qemu-img map --output=json " + in_quotes(whole));
    size_t at = map.find("\"offset\": ", map.find("\"data\": true"));
    ASSERT_NE(at, std::string::npos) << map;
    unsigned long first_data = std::strtoul(map.c_str() + at + 10, nullptr, 10);
    ASSERT_GT(first_data, 0u);
    ASSERT_TRUE(run_quietly("head -c " + std::to_string(first_data) + " " + in_quotes(whole) + " > " + in_quotes(cut)));
    run_result r = run_binary({"-image", cut, "-dpo"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err.rfind("vexum: " + cut + ": libqcow: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "\nDisk:" + cut + "\n  Image: QCOW2, " + SAMPLE_DISK_SIZE +
                         " bytes\n"
                         "  W32:Media Type                     Fixed\n"
                         "  W32:Cylinder                          20\n"
                         "  W32:Track per cylinder                16\n"
                         "  W32:Sector per track                  63\n"
                         "  W32:Byte per sector                  512\n");
}

namespace {

bytes file_bytes(const std::string& path)
{
    std::string text = read_text_file(path);
    return bytes(text.begin(), text.end());
}

// Sets a VHD checksum field: the ones' complement of the sum of the
// record's bytes without it.
void set_vhd_checksum(uint8_t* record, size_t size, size_t field)
{
    put_be32(record + field, 0);
    uint32_t sum = 0;
    for (size_t i = 0; i < size; i++)
        sum += record[i];
    put_be32(record + field, ~sum);
}

} // namespace

// qemu-img writes no differencing VHD; one is made from a dynamic VHD of an
// empty disk (no block allocated, so every read goes to the parent) by
// turning it into a child of the sample disk's VHD, as the published layout
// has it: disk type 4 in the footer and its copy, and in the dynamic header
// the parent's identifier and its name in UTF-16 (big-endian).
TEST(PeerContainerChain, VhdDifferencingChildReadsItsParent)
{
    std::string lacking = qemu_lacks(container_format::vhd);
    if (!lacking.empty())
        GTEST_SKIP() << lacking;
    TempFolder folder;
    std::string parent = folder.file("parent.vhd");
    std::string zeros = folder.file("zeros.raw");
    std::string child = folder.file("child.vhd");
    ASSERT_TRUE(qemu_convert("-O vpc -o force_size=on", parent));
    ASSERT_TRUE(run_quietly("truncate -s 10485760 " + in_quotes(zeros)));
    ASSERT_TRUE(run_quietly("qemu-img convert -f raw -O vpc -o force_size=on " + in_quotes(zeros) + " " +
                            in_quotes(child)));
    bytes p = file_bytes(parent);
    bytes c = file_bytes(child);
    ASSERT_GE(c.size(), 512u + 1024u);
    uint8_t* footer = &c[c.size() - 512];
    put_be32(footer + 60, 4);
    set_vhd_checksum(footer, 512, 64);
    std::copy(footer, footer + 512, c.begin());
    uint64_t dynamic_header = (uint64_t(get_be32(footer + 16)) << 32) | get_be32(footer + 20);
    ASSERT_LE(dynamic_header + 1024, c.size());
    uint8_t* h = &c[dynamic_header];
    ASSERT_EQ(std::memcmp(h, "cxsparse", 8), 0);
    std::copy(p.end() - 512 + 68, p.end() - 512 + 84, h + 40);
    std::fill(h + 64, h + 64 + 512, 0);
    const char name[] = "parent.vhd";
    for (size_t i = 0; i + 1 < sizeof name; i++)
        h[64 + 2 * i + 1] = uint8_t(name[i]);
    set_vhd_checksum(h, 1024, 36);
    ASSERT_TRUE(write_file(child, c));

    run_result raw = run_binary({"-image", sample_disk(), "-dp"});
    run_result r = run_binary({"-image", child, "-dp"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              expected_report(raw.out, child,
                              std::string("  Image: VHD differencing, ") + SAMPLE_DISK_SIZE + " bytes"));
    if (have_tool("vhdiinfo")) {
        EXPECT_NE(shell_output("vhdiinfo " + in_quotes(child)).find("Parent filename\t\t: parent.vhd"),
                  std::string::npos);
    }
}

// A machine without the library the build uses: hidden here by mounting an
// empty file over it in a mount namespace of the test's own (root only).
TEST(PeerContainerChain, MachineWithoutTheLibraryNamesItAndStops)
{
    std::string lacking = qemu_lacks(container_format::qcow);
    if (!lacking.empty())
        GTEST_SKIP() << lacking;
    if (!run_quietly("unshare -m true"))
        GTEST_SKIP() << "no mount namespace for this user (unshare -m needs root)";
    std::string library =
        shell_output("readlink -f \"$(/sbin/ldconfig -p | awk '$1 == \"libqcow.so.1\" { print $NF; exit }')\"");
    while (!library.empty() && library.back() == '\n')
        library.pop_back();
    if (library.empty() || library[0] != '/')
        GTEST_SKIP() << "the loader's libqcow.so.1 is not found by ldconfig";
    TempFolder folder;
    std::string image = folder.file("disk.qcow2");
    ASSERT_TRUE(qemu_convert("-O qcow2", image));
    std::string err = folder.file("err");
    std::string status = shell_output("unshare -m sh -c " +
                                      in_quotes("mount --bind /dev/null " + library + " && " + VEXUM_BINARY +
                                                " -image " + image + " -p 2>" + err + "; echo $?"));
    EXPECT_EQ(status, "2\n");
    std::string message = read_text_file(err);
    EXPECT_EQ(message.rfind("vexum: " + image + ": QCOW2 images need libqcow, which cannot be loaded (", 0), 0u)
        << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
}

// Files that belong to an image are read only beside it, and only when
// they are files: a FIFO put in the place of a segment, a parent or an
// extent is refused at once (it would hold the library's open for ever),
// and an extent named in another folder is refused before any is opened.
TEST(PeerContainerChain, CompanionFilesMustBeFilesBesideTheImage)
{
    std::string lacking = qemu_lacks(container_format::vmdk);
    if (lacking.empty())
        lacking = qemu_lacks(container_format::qcow);
    if (!lacking.empty())
        GTEST_SKIP() << lacking;
    TempFolder folder;
    auto run_bounded = [](const std::string& image) {
        // A hang shows as status 124 of timeout instead of a test that never ends.
        return shell_output("timeout 30 " + in_quotes(VEXUM_BINARY) + " -image " + in_quotes(image) +
                            " -p 2>&1; echo status $?");
    };

    std::string child = folder.file("child.qcow2");
    ASSERT_TRUE(qemu_convert("-O qcow2", folder.file("base.qcow2")));
    ASSERT_TRUE(run_quietly("cd " + in_quotes(folder.file("")) +
                            " && qemu-img create -q -f qcow2 -b base.qcow2 -F qcow2 child.qcow2 && rm base.qcow2 && "
                            "mkfifo base.qcow2"));
    EXPECT_EQ(run_bounded(child), "vexum: " + child + ": parent " + folder.file("base.qcow2") +
                                      ": not a regular file or a block device\nstatus 0\n");

    std::string flat = folder.file("flat.vmdk");
    ASSERT_TRUE(qemu_convert("-O vmdk -o subformat=monolithicFlat", flat));
    ASSERT_TRUE(run_quietly("mv " + in_quotes(folder.file("flat-flat.vmdk")) + " " + in_quotes(folder.file("data")) +
                            " && mkfifo " + in_quotes(folder.file("flat-flat.vmdk"))));
    EXPECT_EQ(run_bounded(flat), "vexum: " + flat + ": extent " + folder.file("flat-flat.vmdk") +
                                     ": not a regular file or a block device\nstatus 0\n");
    std::string outside = folder.file("outside.vmdk");
    ASSERT_TRUE(run_quietly("sed 's|\"flat-flat.vmdk\"|\"../flat-flat.vmdk\"|' " + in_quotes(flat) + " > " +
                            in_quotes(outside)));
    EXPECT_EQ(run_bounded(outside), "vexum: " + outside +
                                        ": libvmdk: extent file ../flat-flat.vmdk is not in the descriptor's "
                                        "folder\nstatus 0\n");

    if (!have_tool("ewfacquire") || !build_reads(container_format::ewf, &lacking))
        GTEST_SKIP() << "ewfacquire or libewf is missing; the QCOW and VMDK cases were checked";
    std::string e01 = folder.file("disk.E01");
    ASSERT_TRUE(run_quietly("ewfacquire -u -q -c none -S 1MiB -t " + in_quotes(folder.file("disk")) + " " +
                            in_quotes(sample_disk())));
    ASSERT_TRUE(run_quietly("rm " + in_quotes(folder.file("disk.E11")) + " && mkfifo " +
                            in_quotes(folder.file("disk.E11"))));
    EXPECT_EQ(run_bounded(e01), "vexum: " + e01 + ": segment " + folder.file("disk.E11") +
                                    ": not a regular file or a block device\nstatus 0\n");
}

// A name an image stores reaches standard error only with its bytes outside
// 20h-7Eh shown in hexadecimal: a backing file name holding an escape
// sequence cannot steer the terminal.
TEST(PeerContainerChain, NamesFromTheImageAreShownSafely)
{
    std::string lacking = qemu_lacks(container_format::qcow);
    if (!lacking.empty())
        GTEST_SKIP() << lacking;
    TempFolder folder;
    std::string child = folder.file("child.qcow2");
    // -u: qemu-img does not look for the backing file.
    ASSERT_TRUE(run_quietly("cd " + in_quotes(folder.file("")) +
                            " && qemu-img create -q -f qcow2 -u -F qcow2 -b \"$(printf 'x\\033[2Jy')\" child.qcow2 "
                            "10M"));
    run_result r = run_binary({"-image", child, "-p"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "vexum: " + child + ": parent " + folder.file("") + "x\\x1B[2Jy: No such file or directory\n");
}

// An EWF image is recognised by its content, whatever its name: one of a
// single segment named evidence.img reads whole; the first segment of a
// split image named so is refused with one line (its other segments are
// found only beside a name ending in .E01), and the run goes on.
TEST(PeerContainerChain, EwfImageOfAnotherNameReadsAsItsOneSegment)
{
    std::string library;
    if (!have_tool("ewfacquire"))
        GTEST_SKIP() << "ewfacquire is not installed";
    if (!build_reads(container_format::ewf, &library))
        GTEST_SKIP() << "this build has no " << library;
    TempFolder folder;
    std::string whole = folder.file("evidence.img");
    std::string part = folder.file("part.img");
    ASSERT_TRUE(run_quietly("ewfacquire -u -q -c none -t " + in_quotes(folder.file("one")) + " " +
                            in_quotes(sample_disk()) + " && mv " + in_quotes(folder.file("one.E01")) + " " +
                            in_quotes(whole)));
    ASSERT_TRUE(run_quietly("ewfacquire -u -q -c none -S 1MiB -t " + in_quotes(folder.file("split")) + " " +
                            in_quotes(sample_disk()) + " && mv " + in_quotes(folder.file("split.E01")) + " " +
                            in_quotes(part)));
    run_result raw = run_binary({"-image", sample_disk(), "-p"});
    run_result r = run_binary({"-image", whole, "-p"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, expected_report(raw.out, whole, std::string("  Image: EWF, ") + SAMPLE_DISK_SIZE + " bytes"));

    run_result split = run_binary({"-image", part, "-image", sample_disk(), "-p"});
    EXPECT_EQ(split.exit_code, 0);
    EXPECT_EQ(split.err, "vexum: " + part +
                             ": libewf: the image lacks segment files, which are looked for only beside a first "
                             "segment named .E01\n");
    EXPECT_EQ(split.out, raw.out);
}

namespace {

// A raw disk of sectors sectors, each holding its own number in every
// 32-bit word.
bool write_numbered_disk(const std::string& path, uint32_t sectors)
{
    bytes data(size_t(sectors) * 512);
    for (uint32_t s = 0; s < sectors; s++)
        for (size_t at = 0; at < 512; at += 4)
            put_be32(&data[size_t(s) * 512 + at], s);
    return write_file(path, data);
}

// Reads the sector (and the one after it, but for the last) and checks that
// each holds its number. 0, or -1 with what went wrong in why.
int check_numbered_read(library_image* image, uint32_t sector, uint32_t sectors, std::string* why)
{
    uint8_t buffer[1024] = {};
    uint32_t length = sector + 1 < sectors ? 1024 : 512;
    std::string reason;
    if (read_library_image(image, uint64_t(sector) * 512, buffer, length, &reason) != 0) {
        *why = "sector " + std::to_string(sector) + ": " + reason;
        return -1;
    }
    for (uint32_t at = 0; at < length; at += 4) {
        if (get_be32(buffer + at) != sector + at / 512) {
            *why = "sector " + std::to_string(sector) + " holds " + std::to_string(get_be32(buffer + at)) +
                   " at byte " + std::to_string(at);
            return -1;
        }
    }
    return 0;
}

struct reopened_container {
    const char* name;
    const char* options; // qemu-img convert's
    container_format format;
    const char* library;
};

void PrintTo(const reopened_container& c, std::ostream* os) { *os << c.name; }

class ReopenedContainer : public ::testing::TestWithParam<reopened_container> {
protected:
    // 64 MiB: sectors in many clusters (64 KiB) and blocks (2 MiB).
    static constexpr uint32_t SECTORS = 131072;

    // The numbered disk in the container, opened; "" or why not.
    std::string open_numbered(const TempFolder& folder, library_image** image)
    {
        const reopened_container& c = GetParam();
        std::string raw = folder.file("disk.img");
        if (!write_numbered_disk(raw, SECTORS) ||
            !run_quietly("qemu-img convert -f raw " + std::string(c.options) + " " + in_quotes(raw) + " " +
                         in_quotes(folder.file("disk.image"))))
            return "the image was not made";
        container_header header;
        header.format = c.format;
        std::string reason;
        if (open_library_image(folder.file("disk.image").c_str(), &header, image, &reason) != 0)
            return reason;
        if (header.media_size != uint64_t(SECTORS) * 512)
            return "media size " + std::to_string(header.media_size);
        return "";
    }
};

} // namespace

// The image opened again between reads reads the same disk; one that holds
// another disk by then is not read on, and says so.
TEST_P(ReopenedContainer, OpenedAgainReadsTheSameDiskOrStops)
{
    const reopened_container& c = GetParam();
    std::string lacking = qemu_lacks(c.format);
    if (!lacking.empty())
        GTEST_SKIP() << lacking;
    TempFolder folder;
    library_image* image = nullptr;
    ASSERT_EQ(open_numbered(folder, &image), "");
    std::string why, reason;
    const uint32_t order[] = {0, 130000, 1, 4096, 65535, 131071, 2};
    for (uint32_t sector : order) {
        EXPECT_EQ(check_numbered_read(image, sector, SECTORS, &why), 0) << why;
        ASSERT_EQ(reopen_library_image(image, &reason), 0) << reason;
    }

    // Another disk put in the image's place.
    ASSERT_TRUE(qemu_convert(c.options, folder.file("other.image")));
    ASSERT_EQ(rename(folder.file("other.image").c_str(), folder.file("disk.image").c_str()), 0);
    EXPECT_EQ(reopen_library_image(image, &reason), -1);
    EXPECT_EQ(reason, std::string(c.library) + ": the image changed while it was read");
    uint8_t buffer[512] = {};
    EXPECT_EQ(read_library_image(image, 0, buffer, sizeof buffer, &reason), -1);
    EXPECT_EQ(reason, std::string(c.library) + ": the image is not open");
    close_library_image(image);
}

// Reads far apart, each in a cluster or block of its own, hold the heap the
// library uses to a few of them, where its caches would hold a hundred.
TEST_P(ReopenedContainer, ReadsFarApartHoldTheHeapToAFewClusters)
{
    const reopened_container& c = GetParam();
    std::string lacking = qemu_lacks(c.format);
    if (!lacking.empty())
        GTEST_SKIP() << lacking;
    {
        size_t before = platform_heap_in_use();
        std::vector<uint8_t> block(1 << 20, 1);
        size_t during = platform_heap_in_use();
        if (during < before + block.size() / 2 || block[block.size() - 1] != 1)
            GTEST_SKIP() << "the heap in use is not measured here (another allocator, a sanitizer's)";
    }
    TempFolder folder;
    library_image* image = nullptr;
    ASSERT_EQ(open_numbered(folder, &image), "");
    size_t opened = platform_heap_in_use();
    size_t most = opened;
    std::string why;
    // 200 reads 320 KiB apart, then back to the start: every read in a
    // cluster not read before, a block every seventh read.
    for (uint32_t i = 0; i < 400; i++) {
        uint32_t sector = (i % 200) * 640 + i / 200;
        ASSERT_EQ(check_numbered_read(image, sector, SECTORS, &why), 0) << why;
        most = std::max(most, platform_heap_in_use());
    }
    close_library_image(image);
    // libqcow alone would hold 128 clusters and a level-2 table (8 MiB).
    EXPECT_LT(most - opened, size_t(1) << 20);
}

INSTANTIATE_TEST_SUITE_P(Libraries, ReopenedContainer,
                         ::testing::Values(reopened_container{"Qcow2", "-O qcow2", container_format::qcow, "libqcow"},
                                           reopened_container{"VhdDynamic", "-O vpc -o force_size=on",
                                                              container_format::vhd, "libvhdi"}),
                         [](const ::testing::TestParamInfo<reopened_container>& info) { return info.param.name; });
