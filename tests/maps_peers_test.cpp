// Partition maps made by the tools of the field (sgdisk, sfdisk, parted,
// fdisk, mkfs.fat), reported by vexum -image -p, and every start and size
// compared with what independent readers make of the same image: sfdisk
// --json, parted -m, mmls, and in the test machine the Linux kernel's own
// partition parsers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "harness.h"

namespace {

std::string trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \n");
    size_t b = s.find_last_not_of(" \n");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// One partition of one layout of a vexum report.
struct listed {
    std::string layout; // the heading's name: "GUID PARTITION TABLE", ...
    unsigned number = 0;
    bool marked = false;
    std::string label, serial, type, name;
    uint64_t start = 0, size = 0;
};

// The partitions of a report under p, with the layout each belongs to.
std::vector<listed> parse_vexum(const std::string& text)
{
    std::vector<listed> parts;
    std::string layout;
    for (const std::string& line : lines_of(text)) {
        if (line.size() > 42 && line.compare(0, 2, "  ") == 0 && line[2] != ' ' && line[2] != '(' &&
            line.compare(line.size() - 6, 6, " bytes") == 0 && line.find(':') == std::string::npos) {
            layout = trim(line.substr(2, 26));
        } else if (line.size() > 6 && line[2] == '(' && line[5] == ')' && line[3] != '-') {
            listed p;
            p.layout = layout;
            p.marked = line[1] == '*';
            p.number = unsigned(std::stoul(trim(line.substr(3, 2))));
            p.label = trim(line.substr(7, 11));
            p.serial = trim(line.substr(19, 9));
            size_t dots = line.find(" .. ");
            std::string rest = line.substr(dots + 4);
            p.type = trim(rest.substr(0, 24));
            p.name = rest.size() > 25 ? trim(rest.substr(25)) : "";
            parts.push_back(p);
        } else if (!parts.empty() && line.compare(0, 24, "        Partition start ") == 0) {
            parts.back().start = number_of(line.substr(29, 13));
        } else if (!parts.empty() && line.compare(0, 24, "        Partition size  ") == 0) {
            parts.back().size = number_of(line.substr(29, 13));
        }
    }
    return parts;
}

std::vector<listed> in_layout(const std::vector<listed>& parts, const std::string& layout)
{
    std::vector<listed> found;
    for (const listed& p : parts) {
        if (p.layout == layout)
            found.push_back(p);
    }
    return found;
}

// A peer's view of one partition.
struct peer_part {
    unsigned number = 0;
    uint64_t start = 0, size = 0;
    std::string type, name;
};

std::vector<peer_part> parse_sfdisk(const std::string& json_text)
{
    std::vector<peer_part> parts;
    nlohmann::json j = nlohmann::json::parse(json_text, nullptr, false);
    if (j.is_discarded() || !j.contains("partitiontable") || !j["partitiontable"].contains("partitions"))
        return parts;
    for (const auto& p : j["partitiontable"]["partitions"]) {
        peer_part q;
        std::string node = p["node"];
        size_t digits = node.find_last_not_of("0123456789") + 1;
        q.number = unsigned(std::stoul(node.substr(digits)));
        q.start = p["start"];
        q.size = p["size"];
        q.type = p.value("type", "");
        q.name = p.value("name", "");
        parts.push_back(q);
    }
    return parts;
}

// parted -m: "number:startS:endS:sizeS:file system:name:flags;"
std::vector<peer_part> parse_parted(const std::string& text)
{
    std::vector<peer_part> parts;
    for (const std::string& line : lines_of(text)) {
        if (line.empty() || line[0] < '0' || line[0] > '9')
            continue;
        std::vector<std::string> fields;
        std::stringstream in(line);
        for (std::string f; std::getline(in, f, ':');)
            fields.push_back(f);
        if (fields.size() < 6)
            continue;
        peer_part q;
        q.number = unsigned(std::stoul(fields[0]));
        q.start = number_of(fields[1]);
        q.size = number_of(fields[3]);
        q.name = fields[5];
        parts.push_back(q);
    }
    return parts;
}

// mmls: "NNN:  SLOT   START   END   LENGTH   DESCRIPTION", in the order
// of their starts; metadata and unallocated rows are left out.
std::vector<peer_part> parse_mmls(const std::string& text)
{
    std::vector<peer_part> parts;
    for (const std::string& line : lines_of(text)) {
        std::istringstream in(line);
        std::string row, slot;
        uint64_t start, end, length;
        if (!(in >> row >> slot >> start >> end >> length) || row.back() != ':' || slot == "Meta" ||
            slot[0] == '-')
            continue;
        peer_part q;
        q.start = start;
        q.size = length;
        std::getline(in, q.type);
        q.type = trim(q.type);
        parts.push_back(q);
    }
    return parts;
}

// fdisk -l: "DEVICE START END SECTORS SIZE TYPE" for each partition.
std::vector<peer_part> parse_fdisk(const std::string& text, const std::string& image)
{
    std::vector<peer_part> parts;
    for (const std::string& line : lines_of(text)) {
        if (line.compare(0, image.size(), image) != 0)
            continue;
        std::istringstream in(line.substr(image.size()));
        peer_part q;
        uint64_t end;
        if (in >> q.number >> q.start >> end >> q.size)
            parts.push_back(q);
    }
    return parts;
}

// The entries in the order of their starts, as mmls lists them.
std::vector<listed> by_start(std::vector<listed> parts)
{
    std::stable_sort(parts.begin(), parts.end(), [](const listed& a, const listed& b) { return a.start < b.start; });
    return parts;
}

// The first tool of the list that is not installed, or "".
std::string missing_tool(const std::vector<std::string>& tools)
{
    for (const std::string& tool : tools) {
        if (!run_quietly("command -v " + tool + " || test -x /usr/sbin/" + tool + " || test -x /sbin/" + tool))
            return tool;
    }
    return "";
}

std::string shell_word(const std::string& path) { return "'" + path + "'"; }

// Starts and sizes, in order, equal on both sides.
void expect_same_extents(const std::vector<listed>& vexum, const std::vector<peer_part>& peer, const char* peer_name)
{
    SCOPED_TRACE(peer_name);
    ASSERT_EQ(vexum.size(), peer.size());
    for (size_t i = 0; i < vexum.size(); i++) {
        SCOPED_TRACE("partition " + std::to_string(i + 1));
        EXPECT_EQ(vexum[i].start, peer[i].start);
        EXPECT_EQ(vexum[i].size, peer[i].size);
    }
}

// Numbers too, where the peer numbers entries as the map does.
void expect_same_numbers(const std::vector<listed>& vexum, const std::vector<peer_part>& peer)
{
    ASSERT_EQ(vexum.size(), peer.size());
    for (size_t i = 0; i < vexum.size(); i++)
        EXPECT_EQ(vexum[i].number, peer[i].number) << "partition " << i + 1;
}

// ---- The images ------------------------------------------------------------
// Each writes one image with the tools and returns "" or why it could not.

std::string make_gpt_image(const std::string& path)
{
    std::string p = shell_word(path);
    if (!run_quietly("truncate -s 64M " + p) ||
        !run_quietly("sgdisk -n 1:2048:+16M -t 1:ef00 -c 1:'EFI system' -n 2:0:+8M -t 2:0700 -c 2:'Basic data' "
                     "-n 3:0:+16M -t 3:8300 -c 3:root -A 3:set:2 -n 4:0:+4M -t 4:8200 " + p) ||
        !run_quietly("mkfs.fat -F 32 -s 1 -n ESPVOLUME -i 1234ABCD -h 2048 --offset=2048 " + p + " 16384") ||
        !run_quietly("mkfs.fat -F 16 -s 2 -n BASICDATA -i 5678CDEF -h 34816 --offset=34816 " + p + " 8192"))
        return "sgdisk or mkfs.fat failed";
    return "";
}

// fdisk lays it out in sectors of 4096 bytes: the image of a 4Kn disk.
std::string make_gpt4k_image(const std::string& path)
{
    std::string p = shell_word(path);
    if (!run_quietly("truncate -s 64M " + p) ||
        !run_quietly("printf 'g\\nn\\n1\\n256\\n+16M\\nt\\n1\\nn\\n2\\n\\n+8M\\nw\\n' | fdisk -b 4096 " + p))
        return "fdisk -b 4096 failed";
    return "";
}

std::string make_parted_image(const std::string& path, const std::string& label, const std::string& parts)
{
    std::string p = shell_word(path);
    if (!run_quietly("truncate -s 64M " + p) || !run_quietly("parted -s " + p + " mklabel " + label + " " + parts))
        return "parted failed";
    return "";
}

std::string make_pc98_image(const std::string& path)
{
    std::string why = make_parted_image(path, "pc98",
                                        "mkpart primary fat16 1MiB 17MiB mkpart primary ext2 17MiB 33MiB "
                                        "mkpart primary fat16 33MiB 41MiB");
    // parted lays out a file in cylinders of 4 heads of 32 sectors; the
    // first volume is formatted for that geometry.
    if (why.empty() && !run_quietly("mkfs.fat -F 16 -n PC98VOLUME -i 0098ABCD -g 4/32 -h 2048 --offset=2048 " +
                                    shell_word(path) + " 16384"))
        why = "mkfs.fat failed";
    return why;
}

std::string make_bsd_slice_image(const std::string& path)
{
    std::string p = shell_word(path);
    if (!run_quietly("truncate -s 64M " + p) ||
        !run_quietly("printf 'label: dos\\nstart=2048, size=16384, type=83\\nstart=18432, size=65536, type=a5\\n' "
                     "| sfdisk -q " + p) ||
        !run_quietly("printf 'b\\ny\\nn\\na\\n\\n+8M\\nt\\na\\n7\\nn\\nb\\n35000\\n+4M\\nt\\nb\\n1\\nw\\nq\\n' | "
                     "fdisk " + p))
        return "sfdisk or fdisk failed";
    return "";
}

class MapPeers : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = temp_directory() + "/" + std::to_string(getpid()) + "-maps-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".img";
        unlink(path_.c_str());
    }
    void TearDown() override { unlink(path_.c_str()); }

    // Skips the test when a tool it needs is missing.
    bool have(const std::vector<std::string>& tools)
    {
        std::string missing = missing_tool(tools);
        if (missing.empty())
            return true;
        skip_reason_ = missing + " is not installed";
        return false;
    }

    std::vector<listed> vexum(const std::string& layout)
    {
        run_result r = run_in_process({"-image", path_, "-p"});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        report_ = r.out;
        return in_layout(parse_vexum(r.out), layout);
    }

    std::string path_;
    std::string report_;
    std::string skip_reason_;
};

} // namespace

TEST_F(MapPeers, GptMadeBySgdisk)
{
    if (!have({"sgdisk", "sfdisk", "parted", "mmls", "mkfs.fat"}))
        GTEST_SKIP() << skip_reason_;
    ASSERT_EQ(make_gpt_image(path_), "");
    std::vector<listed> v = vexum("GUID PARTITION TABLE");
    std::vector<peer_part> sfdisk = parse_sfdisk(shell_output("sfdisk --json " + shell_word(path_)));
    expect_same_extents(v, sfdisk, "sfdisk");
    expect_same_numbers(v, sfdisk);
    expect_same_extents(v, parse_parted(shell_output("parted -m -s " + shell_word(path_) + " unit s print")), "parted");
    expect_same_extents(by_start(v), parse_mmls(shell_output("mmls -t gpt " + shell_word(path_))), "mmls");
    ASSERT_EQ(v.size(), 4u) << report_;
    const char* types[] = {"EFI System", "Microsoft basic data", "Linux filesystem", "Linux swap"};
    for (size_t i = 0; i < v.size(); i++) {
        EXPECT_EQ(v[i].type, types[i]);
        EXPECT_EQ(v[i].name, sfdisk[i].name);
    }
    // The legacy BIOS bootable attribute marks partition 3; the volumes
    // mkfs.fat wrote show their labels and serial numbers.
    EXPECT_TRUE(v[2].marked);
    EXPECT_EQ(v[0].label + " " + v[0].serial, "ESPVOLUME 1234-ABCD");
    EXPECT_EQ(v[1].label + " " + v[1].serial, "BASICDATA 5678-CDEF");
    EXPECT_NE(report_.find("        BPB:File system name         FAT32\n"), std::string::npos) << report_;

    // Without its primary header the table is read from the backup, as
    // sfdisk reads it.
    ASSERT_TRUE(run_quietly("dd if=/dev/zero of=" + shell_word(path_) + " bs=512 seek=1 count=1 conv=notrunc"));
    v = vexum("GUID PARTITION TABLE");
    EXPECT_NE(report_.find("  GPT:Primary header damaged (no signature), backup at sector 131,071 used\n"),
              std::string::npos)
        << report_;
    expect_same_extents(v, parse_sfdisk(shell_output("sfdisk --json " + shell_word(path_) + " 2>/dev/null")),
                        "sfdisk from the backup");
}

TEST_F(MapPeers, GptOf4096ByteSectorsInAnImage)
{
    if (!have({"fdisk", "mmls"}))
        GTEST_SKIP() << skip_reason_;
    ASSERT_EQ(make_gpt4k_image(path_), "");
    std::vector<listed> v = vexum("GUID PARTITION TABLE");
    EXPECT_NE(report_.find("  IBM HARD DISK FORMAT          67,108,864 bytes\n"
                           "  ( 1)                          67,104,768 .. unkown OS (EEH)         \n"),
              std::string::npos)
        << report_;
    std::vector<peer_part> fdisk = parse_fdisk(shell_output("fdisk -b 4096 -l " + shell_word(path_)), path_);
    expect_same_extents(v, fdisk, "fdisk");
    expect_same_numbers(v, fdisk);
    expect_same_extents(by_start(v), parse_mmls(shell_output("mmls -t gpt -b 4096 " + shell_word(path_))), "mmls");
}

TEST_F(MapPeers, GptWrittenThroughALoopDeviceOf4096ByteSectors)
{
    if (!have({"losetup", "sgdisk", "sfdisk"}))
        GTEST_SKIP() << skip_reason_;
    ASSERT_TRUE(run_quietly("truncate -s 32M " + shell_word(path_)));
    std::string loop = trim(shell_output("losetup -f --show -b 4096 " + shell_word(path_) + " 2>/dev/null"));
    if (loop.empty())
        GTEST_SKIP() << "no loop device can be set up here (losetup needs the rights of root)";
    bool made = run_quietly("sgdisk -n 1:256:+8M -t 1:ef00 -c 1:EFI -n 2:0:+4M -t 2:8300 -c 2:root " + loop);
    std::string peer = shell_output("sfdisk --json " + loop);
    run_quietly("losetup -d " + loop);
    ASSERT_TRUE(made);
    std::vector<listed> v = vexum("GUID PARTITION TABLE");
    expect_same_extents(v, parse_sfdisk(peer), "sfdisk on the loop device");
}

TEST_F(MapPeers, Pc98MadeByParted)
{
    if (!have({"parted", "mkfs.fat"}))
        GTEST_SKIP() << skip_reason_;
    ASSERT_EQ(make_pc98_image(path_), "");
    std::vector<listed> v = vexum("PC-98 HARD DISK FORMAT");
    std::vector<peer_part> parted = parse_parted(shell_output("parted -m -s " + shell_word(path_) + " unit s print"));
    expect_same_extents(v, parted, "parted");
    expect_same_numbers(v, parted);
    EXPECT_NE(report_.find("  P98:Geometry from            boot sector\n"), std::string::npos) << report_;
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].label + " " + v[0].serial, "PC98VOLUME 0098-ABCD");
    EXPECT_EQ(v[0].type, "DOS FAT16 (under 32M)");
    EXPECT_EQ(v[1].type, "Linux");
    EXPECT_EQ(v[1].name, "primary");
}

TEST_F(MapPeers, AppleMapMadeByParted)
{
    if (!have({"parted", "mmls"}))
        GTEST_SKIP() << skip_reason_;
    ASSERT_EQ(make_parted_image(path_, "mac", "mkpart primary 1MiB 9MiB mkpart primary 9MiB 20MiB"), "");
    std::vector<listed> v = vexum("APPLE PARTITION MAP");
    // mmls lists every entry; parted leaves the free ones to its free space.
    expect_same_extents(by_start(v), parse_mmls(shell_output("mmls -t mac " + shell_word(path_))), "mmls");
    std::vector<listed> allocated;
    for (const listed& p : v) {
        if (p.type != "Apple_Free")
            allocated.push_back(p);
    }
    std::vector<peer_part> parted = parse_parted(shell_output("parted -m -s " + shell_word(path_) + " unit s print"));
    expect_same_extents(allocated, parted, "parted");
    expect_same_numbers(allocated, parted);
}

TEST_F(MapPeers, AmigaAtariSunSgiAndBsdMadeByParted)
{
    if (!have({"parted", "sfdisk", "mmls"}))
        GTEST_SKIP() << skip_reason_;
    const struct {
        const char* label;
        const char* parts;
        const char* layout;
        const char* sfdisk;
        const char* mmls;
    } maps[] = {
        {"amiga", "mkpart primary 1MiB 9MiB mkpart primary 9MiB 20MiB", "AMIGA RIGID DISK BLOCK", nullptr, nullptr},
        {"atari",
         "mkpart primary fat16 1MiB 9MiB mkpart primary fat16 9MiB 40MiB "
         "mkpart primary linux-swap 40MiB 44MiB",
         "ATARI HARD DISK FORMAT", nullptr, nullptr},
        {"sun", "mkpart ext2 1MiB 9MiB mkpart ext2 9MiB 20MiB", "SUN DISK LABEL", "sun", "sun"},
        {"dvh", "mkpart primary 2MiB 9MiB mkpart primary 9MiB 20MiB", "SGI VOLUME HEADER", "sgi", nullptr},
        {"bsd", "mkpart ext2 1MiB 9MiB mkpart ext2 9MiB 20MiB", "BSD DISK LABEL", nullptr, nullptr},
    };
    for (const auto& m : maps) {
        SCOPED_TRACE(m.label);
        unlink(path_.c_str());
        ASSERT_EQ(make_parted_image(path_, m.label, m.parts), "");
        std::vector<listed> v = vexum(m.layout);
        ASSERT_FALSE(v.empty()) << report_;
        // parted numbers as the maps do; Sun and SGI whole-disk entries
        // (backup, volume) and the SGI volume header it lists as well.
        std::vector<peer_part> parted =
            parse_parted(shell_output("parted -m -s " + shell_word(path_) + " unit s print"));
        std::vector<listed> numbered;
        std::vector<peer_part> matched;
        for (const peer_part& q : parted) {
            for (const listed& p : v) {
                if (p.number == q.number) {
                    numbered.push_back(p);
                    matched.push_back(q);
                }
            }
        }
        EXPECT_EQ(numbered.size(), parted.size()) << report_;
        expect_same_extents(numbered, matched, "parted");
        if (m.sfdisk != nullptr) {
            std::vector<peer_part> sfdisk = parse_sfdisk(shell_output("sfdisk --json " + shell_word(path_)));
            expect_same_extents(v, sfdisk, "sfdisk");
            expect_same_numbers(v, sfdisk);
        }
        // mmls shows a Sun backup slice, the whole disk, as metadata.
        if (m.mmls != nullptr) {
            std::vector<listed> slices;
            for (const listed& p : by_start(v)) {
                if (p.type != "backup")
                    slices.push_back(p);
            }
            std::string mmls = shell_output("mmls -t " + std::string(m.mmls) + " " + shell_word(path_));
            expect_same_extents(slices, parse_mmls(mmls), "mmls");
        }
    }
}

TEST_F(MapPeers, BsdLabelInASliceMadeByFdisk)
{
    if (!have({"sfdisk", "fdisk", "mmls"}))
        GTEST_SKIP() << skip_reason_;
    ASSERT_EQ(make_bsd_slice_image(path_), "");
    std::vector<listed> v = vexum("BSD DISK LABEL");
    // mmls lists the unused partitions c and d as well.
    std::vector<peer_part> used;
    for (const peer_part& q : parse_mmls(shell_output("mmls -t bsd -o 18432 " + shell_word(path_)))) {
        if (q.type.compare(0, 6, "Unused") != 0)
            used.push_back(q);
    }
    std::sort(used.begin(), used.end(), [](const peer_part& a, const peer_part& b) { return a.start < b.start; });
    expect_same_extents(v, used, "mmls");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].type + " " + v[0].name, "4.2BSD a");
    EXPECT_EQ(v[1].type + " " + v[1].name, "swap b");
}

namespace {

// Why the test machine cannot boot here, or "".
std::string machine_obstacle(const std::string& rig)
{
    const char* ci = std::getenv("CI");
    const char* wanted = std::getenv("VEXUM_VM_TESTS");
    if (!(ci && std::strcmp(ci, "true") == 0) && !(wanted && *wanted && std::strcmp(wanted, "0") != 0))
        return "the test machine boots only under CI=true or VEXUM_VM_TESTS=1";
    if (access(rig.c_str(), X_OK) != 0)
        return "no test machine rig at " + rig;
    return missing_tool({"qemu-system-x86_64", "flock"});
}

// The partitions the kernel found on each disk of the machine, by the
// serial number the disk was given: (start, size) in 512-byte units.
std::map<std::string, std::set<std::pair<uint64_t, uint64_t>>> parse_kernel(const std::string& text)
{
    std::map<std::string, std::set<std::pair<uint64_t, uint64_t>>> disks;
    std::string disk;
    for (const std::string& line : lines_of(text)) {
        std::istringstream in(line);
        std::string word;
        in >> word;
        uint64_t start, size;
        if (word == "DISK")
            in >> disk;
        else if (word == "PART" && in >> start >> size && !disk.empty())
            disks[disk].insert({start, size});
    }
    return disks;
}

} // namespace

// The images above on disks of the test machine, one boot for all: the
// kernel's partition parsers (efi, mac, amiga, atari, sun, sgi, osf, and
// msdos with its BSD slices) against vexum on the same files.
TEST(MapMachine, KernelParsersAgree)
{
    std::string rig = VEXUM_SOURCE_DIR "/../shared/vm/run-in-vm.sh";
    std::string obstacle = machine_obstacle(rig);
    if (!obstacle.empty())
        GTEST_SKIP() << obstacle;
    std::string dir = make_temp_directory("vexum-maps-vm-");
    ASSERT_NE(dir, "");
    const struct {
        const char* serial;
        uint32_t block; // the disk's logical block size in the machine
        const char* layouts[2];
    } disks[] = {
        {"gpt", 512, {"GUID PARTITION TABLE"}},
        {"gptfourk", 4096, {"GUID PARTITION TABLE"}},
        {"mac", 512, {"APPLE PARTITION MAP"}},
        {"amiga", 512, {"AMIGA RIGID DISK BLOCK"}},
        {"atari", 512, {"ATARI HARD DISK FORMAT"}},
        {"sun", 512, {"SUN DISK LABEL"}},
        {"dvh", 512, {"SGI VOLUME HEADER"}},
        {"bsd", 512, {"BSD DISK LABEL"}},
        {"bsdslice", 512, {"IBM HARD DISK FORMAT", "BSD DISK LABEL"}},
    };
    std::map<std::string, std::string> made = {
        {"gpt", make_gpt_image(dir + "/gpt.img")},
        {"gptfourk", make_gpt4k_image(dir + "/gptfourk.img")},
        {"mac", make_parted_image(dir + "/mac.img", "mac", "mkpart primary 1MiB 9MiB mkpart primary 9MiB 20MiB")},
        {"amiga", make_parted_image(dir + "/amiga.img", "amiga", "mkpart primary 1MiB 9MiB mkpart primary 9MiB 20MiB")},
        {"atari", make_parted_image(dir + "/atari.img", "atari",
                                    "mkpart primary fat16 1MiB 9MiB mkpart primary linux-swap 9MiB 20MiB")},
        {"sun", make_parted_image(dir + "/sun.img", "sun", "mkpart ext2 1MiB 9MiB mkpart ext2 9MiB 20MiB")},
        {"dvh", make_parted_image(dir + "/dvh.img", "dvh", "mkpart primary 2MiB 9MiB mkpart primary 9MiB 20MiB")},
        {"bsd", make_parted_image(dir + "/bsd.img", "bsd", "mkpart ext2 1MiB 9MiB mkpart ext2 9MiB 20MiB")},
        {"bsdslice", make_bsd_slice_image(dir + "/bsdslice.img")},
    };
    std::string qemu = "-device virtio-scsi-pci,id=maps";
    int id = 0;
    for (const auto& d : disks) {
        ASSERT_EQ(made[d.serial], "") << d.serial;
        std::string drive = "maps" + std::to_string(id);
        qemu += " -drive file=" + dir + "/" + d.serial + ".img,if=none,id=" + drive + ",format=raw,readonly=on" +
                " -device scsi-hd,drive=" + drive + ",bus=maps.0,scsi-id=" + std::to_string(id++) +
                ",serial=" + d.serial + ",logical_block_size=" + std::to_string(d.block) +
                ",physical_block_size=" + std::to_string(d.block);
    }
    std::string listing = shell_output(
        "flock '" + temp_directory() + "/vexum-vm.lock' '" + rig + "' -t 300 -Q -s none -q '" + qemu + "' - '"
        "for d in /sys/block/sd*; do echo DISK $(tr -dc a-z < $d/device/vpd_pg80); "
        "for p in $d/sd*; do [ -e $p/start ] && echo PART $(cat $p/start) $(cat $p/size); done; done' 2>&1");
    auto kernel = parse_kernel(listing);
    for (const auto& d : disks) {
        SCOPED_TRACE(d.serial);
        run_result r = run_in_process({"-image", dir + "/" + d.serial + ".img", "-p"});
        std::set<std::pair<uint64_t, uint64_t>> ours;
        uint64_t factor = d.block / 512;
        for (const char* layout : d.layouts) {
            if (layout == nullptr)
                continue;
            for (const listed& p : in_layout(parse_vexum(r.out), layout))
                ours.insert({p.start * factor, p.size * factor});
        }
        EXPECT_FALSE(ours.empty()) << r.out;
        EXPECT_EQ(ours, kernel[d.serial]) << r.out << listing;
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}
