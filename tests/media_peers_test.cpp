// Cross-checks against the tools of the field: images partitioned by sfdisk
// and formatted by mkfs.fat and mformat, reported by vexum -image -p, and
// every figure compared with what sfdisk --json, minfo and fsck.fat say of
// the same image.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "harness.h"

namespace {

// The first tool of the list that is not installed, or "".
std::string missing_tool(const std::vector<std::string>& tools)
{
    for (const std::string& tool : tools) {
        if (!run_quietly("command -v " + tool + " || test -x /usr/sbin/" + tool + " || test -x /sbin/" + tool))
            return tool;
    }
    return "";
}

std::string trim(const std::string& s)
{
    size_t a = s.find_first_not_of(' ');
    size_t b = s.find_last_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// One volume of a vexum report: its partition line, extent and BPB lines.
struct reported_volume {
    char mark = ' ';
    std::string label, serial, type;
    uint64_t start = 0, size = 0;
    std::map<std::string, std::string> bpb; // "Sector size" -> "512 bytes"
};

std::vector<reported_volume> parse_report(const std::string& text)
{
    std::vector<reported_volume> volumes;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        bool numbered = line.size() > 6 && line[0] == ' ' && line[2] == '(' && line[5] == ')' && line[3] != '-';
        bool floppy = line.size() > 30 && line.compare(0, 7, "       ") == 0 && line[7] != ' ' &&
                      line.find(" .. ") != std::string::npos;
        if (numbered || floppy) {
            reported_volume v;
            v.mark = numbered ? line[1] : ' ';
            v.label = trim(line.substr(7, 11));
            v.serial = trim(line.substr(19, 9));
            size_t dots = line.find(" .. ");
            v.type = trim(line.substr(dots + 4, 24));
            volumes.push_back(v);
        } else if (!volumes.empty() && line.compare(0, 24, "        Partition start ") == 0) {
            volumes.back().start = number_of(line.substr(29, 13));
        } else if (!volumes.empty() && line.compare(0, 24, "        Partition size  ") == 0) {
            volumes.back().size = number_of(line.substr(29, 13));
        } else if (!volumes.empty() && line.compare(0, 12, "        BPB:") == 0) {
            std::string rest = line.substr(12);
            // Labels are padded to 17 characters, the two 11-wide ones to 19.
            size_t width = rest.compare(0, 10, "Root start") == 0 || rest.compare(0, 6, "Backup") == 0 ? 19 : 17;
            volumes.back().bpb[trim(rest.substr(0, width))] = trim(rest.substr(width));
        }
    }
    return volumes;
}

// "key: value" and "key=value" lines of minfo.
std::map<std::string, std::string> parse_minfo(const std::string& text)
{
    std::map<std::string, std::string> fields;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        size_t colon = line.find(": ");
        size_t equals = line.find('=');
        if (colon != std::string::npos && (equals == std::string::npos || colon < equals))
            fields[line.substr(0, colon)] = line.substr(colon + 2);
        else if (equals != std::string::npos)
            fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return fields;
}

std::string unquote(std::string s)
{
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"')
        s = s.substr(1, s.size() - 2);
    return trim(s);
}

// The figures of a FAT volume as minfo and fsck.fat give them, against the
// volume's lines in the vexum report.
void expect_volume_matches_peers(const std::string& image, uint64_t start, reported_volume v)
{
    SCOPED_TRACE("volume at sector " + std::to_string(start));
    std::map<std::string, std::string> m =
        parse_minfo(shell_output("minfo -i '" + image + "@@" + std::to_string(start * 512) + "' ::"));
    ASSERT_FALSE(m.empty());
    bool fat32 = m.count("Big fatlen") != 0;
    ASSERT_GE(v.bpb.size(), fat32 ? 17u : 15u) << "the volume's BPB lines are missing";
    EXPECT_EQ(number_of(v.bpb["Sector size"]), number_of(m["sector size"]));
    std::string cluster = v.bpb["Cluster size"];
    EXPECT_EQ(number_of(cluster.substr(cluster.find('(') + 1)), number_of(m["cluster size"]));
    EXPECT_EQ(number_of(v.bpb["Reserve sector"]), number_of(m["reserved (boot) sectors"]));
    EXPECT_EQ(number_of(v.bpb["FAT number"]), number_of(m["fats"]));
    uint64_t total = number_of(m["small size"]) != 0 ? number_of(m["small size"]) : number_of(m["big size"]);
    std::string volume = v.bpb["Sector volume"];
    EXPECT_EQ(number_of(volume.substr(volume.find('(') + 1)), total);
    EXPECT_EQ(number_of(volume), total * number_of(m["sector size"]));
    EXPECT_EQ(v.bpb["Media descriptor"], m["media descriptor byte"].substr(2) == "f8" ? "F8H" : "F0H");
    EXPECT_EQ(number_of(v.bpb["FAT sector"]), number_of(fat32 ? m["Big fatlen"] : m["sectors per fat"]));
    EXPECT_EQ(number_of(v.bpb["Sector per track"]), number_of(m["sectors per track"]));
    EXPECT_EQ(number_of(v.bpb["Head number"]), number_of(m["heads"]));
    std::string serial = m["serial number"];
    ASSERT_EQ(serial.size(), 8u);
    EXPECT_EQ(v.serial, serial.substr(0, 4) + "-" + serial.substr(4));
    EXPECT_EQ(v.bpb["Serial number"], v.serial);
    EXPECT_EQ(v.label, unquote(m["disk label"]));
    EXPECT_EQ(v.bpb["Volume label"], unquote(m["disk label"]));
    EXPECT_EQ(v.bpb["File system name"], unquote(m["disk type"]));
    if (fat32) {
        EXPECT_EQ(number_of(v.bpb["Root start cluster"]), number_of(m["rootCluster"]));
        EXPECT_EQ(number_of(v.bpb["Backup boot sector"]), number_of(m["backup boot sector"]));
        EXPECT_EQ(v.bpb.count("Root entry"), 0u);
    } else {
        EXPECT_EQ(number_of(v.bpb["Root entry"]), number_of(m["max available root directory slots"]));
    }

    // fsck.fat reads a volume from the start of a file: copy it out.
    std::string copy = image + ".volume";
    ASSERT_TRUE(run_quietly("dd if='" + image + "' of='" + copy + "' bs=512 skip=" + std::to_string(start) +
                            " count=" + std::to_string(total) + " conv=sparse"));
    std::string fsck = shell_output("fsck.fat -n -v '" + copy + "'");
    unlink(copy.c_str());
    size_t at = fsck.find(" data clusters (");
    ASSERT_NE(at, std::string::npos) << fsck;
    size_t line = fsck.rfind('\n', at) + 1;
    uint64_t clusters = number_of(trim(fsck.substr(line, at - line)));
    uint64_t bytes = number_of(fsck.substr(at + 16));
    std::string capacity = v.bpb["FileSys capacity"];
    // minfo shows only the low 16 bits of the hidden sectors; fsck.fat all.
    size_t hidden = fsck.find(" hidden sectors");
    ASSERT_NE(hidden, std::string::npos) << fsck;
    size_t hidden_line = fsck.rfind('\n', hidden) + 1;
    EXPECT_EQ(number_of(v.bpb["Hidden sector"]), number_of(fsck.substr(hidden_line, hidden - hidden_line)));
    EXPECT_EQ(number_of(capacity), bytes) << capacity;
    EXPECT_EQ(number_of(capacity.substr(capacity.find('(') + 1)), clusters) << capacity;
}

// "start", "size", "type" and "bootable" of each sfdisk --json partition.
struct table_entry {
    uint64_t start = 0, size = 0;
    std::string type;
    bool bootable = false;
};

std::vector<table_entry> parse_sfdisk(const std::string& json)
{
    std::vector<table_entry> entries;
    size_t at = json.find("\"partitions\"");
    while (at != std::string::npos && (at = json.find('{', at)) != std::string::npos) {
        size_t end = json.find('}', at);
        std::string object = json.substr(at, end - at);
        table_entry e;
        auto field = [&](const char* key) {
            size_t k = object.find(std::string("\"") + key + "\":");
            return k == std::string::npos ? std::string() : trim(object.substr(k + strlen(key) + 3));
        };
        e.start = number_of(field("start"));
        e.size = number_of(field("size"));
        std::string type = field("type");
        e.type = type.substr(1, type.find('"', 1) - 1);
        e.bootable = field("bootable").compare(0, 4, "true") == 0;
        entries.push_back(e);
        at = end;
    }
    return entries;
}

class Peers : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string missing = missing_tool({"sfdisk", "mkfs.fat", "mformat", "minfo", "fsck.fat", "dd", "truncate"});
        if (!missing.empty())
            GTEST_SKIP() << missing << " is not installed (dosfstools, mtools, fdisk, coreutils)";
        path_ = ::testing::TempDir() + std::to_string(getpid()) + "-" + "peers-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                ".img";
        unlink(path_.c_str());
    }
    void TearDown() override
    {
        unlink(path_.c_str());
    }
    std::string path_;
};

const char* name_of_type(const std::string& sfdisk_type)
{
    static const std::map<std::string, const char*> names = {
        {"1", "DOS FAT12"}, {"6", "DOS FAT16 (over 32M)"}, {"b", "DOS/Windows FAT32"},
        {"c", "DOS/Windows FAT32X"}, {"83", "Linux native"}};
    auto it = names.find(sfdisk_type);
    return it == names.end() ? "?" : it->second;
}

} // namespace

TEST_F(Peers, FloppyFormattedByMformat)
{
    ASSERT_TRUE(run_quietly("mformat -C -i '" + path_ + "' -f 1440 -v 'PEER FLOPPY' -N 2B3C4D5E ::"));
    run_result r = run_in_process({"-image", path_, "-p"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_NE(r.out.find("\n  IBM FLOPPY DISK FORMAT         1,474,560 bytes\n"), std::string::npos) << r.out;
    std::vector<reported_volume> volumes = parse_report(r.out);
    ASSERT_EQ(volumes.size(), 1u) << r.out;
    EXPECT_EQ(volumes[0].serial, "2B3C-4D5E");
    expect_volume_matches_peers(path_, 0, volumes[0]);
}

TEST_F(Peers, PrimariesAndLogicalsPartitionedBySfdisk)
{
    // FAT16 and FAT32 primaries, an extended partition with a FAT12, a
    // Linux and a FAT16 logical partition, 8 MiB left free at the end.
    ASSERT_TRUE(run_quietly("truncate -s 92M '" + path_ + "'"));
    ASSERT_TRUE(run_quietly("printf 'label: dos\\n"
                            "start=2048, size=32768, type=6, bootable\\n"
                            "start=34816, size=81920, type=c\\n"
                            "start=116736, size=55296, type=5\\n"
                            "start=118784, size=8192, type=1\\n"
                            "start=129024, size=8192, type=83\\n"
                            "start=139264, size=32768, type=6\\n' | sfdisk -q '" +
                            path_ + "'"));
    std::vector<table_entry> table = parse_sfdisk(shell_output("sfdisk --json '" + path_ + "'"));
    ASSERT_EQ(table.size(), 6u);
    struct format_step {
        uint64_t start, size;
        std::string options;
    };
    const format_step formats[] = {
        {2048, 32768, "-F 16 -n PRIMARY16 -i 1600AAAA"},
        {34816, 81920, "-F 32 -s 1 -n PRIMARY32 -i 3200BBBB"},
        {118784, 8192, "-F 12 -n LOGICAL12 -i 1200CCCC"},
        {139264, 32768, "-F 16 -s 4 -n LOGICAL16 -i 1600DDDD"},
    };
    for (const format_step& f : formats) {
        ASSERT_TRUE(run_quietly("mkfs.fat " + f.options + " -h " + std::to_string(f.start) +
                                " --offset=" + std::to_string(f.start) + " '" + path_ + "' " +
                                std::to_string(f.size / 2)));
    }

    run_result r = run_in_process({"-image", path_, "-p"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<reported_volume> volumes = parse_report(r.out);
    std::vector<table_entry> listed;
    for (const table_entry& e : table) {
        if (e.type != "5" && e.type != "f")
            listed.push_back(e);
    }
    ASSERT_EQ(volumes.size(), listed.size()) << r.out;
    for (size_t i = 0; i < listed.size(); i++) {
        SCOPED_TRACE("partition " + std::to_string(i + 1));
        EXPECT_EQ(volumes[i].start, listed[i].start);
        EXPECT_EQ(volumes[i].size, listed[i].size);
        EXPECT_EQ(volumes[i].type, name_of_type(listed[i].type));
        EXPECT_EQ(volumes[i].mark, listed[i].bootable ? '*' : ' ');
        if (listed[i].type != "83")
            expect_volume_matches_peers(path_, listed[i].start, volumes[i]);
    }
    // 92 MiB = 188,416 sectors; the last partition ends at 172,032.
    EXPECT_NE(r.out.find("  (--)  Free disk space          8,388,608 bytes (       16,384 sectors)\n"),
              std::string::npos)
        << r.out;
}

TEST_F(Peers, PartitionBeyondFourGibibytesInASparseImage)
{
    ASSERT_TRUE(run_quietly("truncate -s 6G '" + path_ + "'"));
    ASSERT_TRUE(run_quietly("printf 'label: dos\\nstart=2048, size=16384, type=83\\n"
                            "start=9437184, size=81920, type=b\\n' | sfdisk -q '" + path_ + "'"));
    ASSERT_TRUE(run_quietly("mkfs.fat -F 32 -s 1 -n FARVOLUME -i 4000EEEE -h 9437184 --offset=9437184 '" + path_ +
                            "' 40960"));
    std::vector<table_entry> table = parse_sfdisk(shell_output("sfdisk --json '" + path_ + "'"));
    ASSERT_EQ(table.size(), 2u);
    run_result r = run_in_process({"-image", path_, "-p"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("  IBM HARD DISK FORMAT       6,442,450,944 bytes\n"), std::string::npos) << r.out;
    std::vector<reported_volume> volumes = parse_report(r.out);
    ASSERT_EQ(volumes.size(), 2u) << r.out;
    EXPECT_EQ(volumes[1].start, table[1].start);
    EXPECT_EQ(volumes[1].size, table[1].size);
    EXPECT_EQ(volumes[1].type, "DOS/Windows FAT32");
    expect_volume_matches_peers(path_, table[1].start, volumes[1]);
}
