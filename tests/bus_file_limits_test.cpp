// Bus files from elsewhere: what one may ask of the tool is bounded (its
// size, its memory, its cost to read and to replay), its messages cannot
// steer the terminal, and its images stay inside its folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "aspi/aspi.h"
#include "aspi/busfile.h"
#include "aspi/manager.h"
#include "aspi/scsi_commands.h"
#include "harness.h"

namespace {

// A folder of its own, removed with what is in it.
struct bus_folder {
    std::string path;
    std::vector<std::string> made;
    bus_folder()
    {
        std::string name = ::testing::TempDir() + "vexum-bus-XXXXXX";
        std::vector<char> buffer(name.begin(), name.end());
        buffer.push_back(0);
        if (mkdtemp(buffer.data()))
            path = buffer.data();
    }
    ~bus_folder()
    {
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            if (remove(it->c_str()) != 0)
                rmdir(it->c_str());
        rmdir(path.c_str());
    }
    std::string file(const std::string& name) { return path + "/" + name; }
    std::string write(const std::string& name, const std::string& text)
    {
        std::string p = file(name);
        FILE* f = fopen(p.c_str(), "wb");
        if (f) {
            fwrite(text.data(), 1, text.size(), f);
            fclose(f);
        }
        made.push_back(p);
        return p;
    }
    std::string folder(const std::string& name)
    {
        std::string p = file(name);
        mkdir(p.c_str(), 0755);
        made.push_back(p);
        return p;
    }
    std::string link(const std::string& name, const std::string& target)
    {
        std::string p = file(name);
        if (symlink(target.c_str(), p.c_str()) == 0)
            made.push_back(p);
        return p;
    }
};

run_result run_bus(const std::string& path, std::vector<std::string> args = {})
{
    args.insert(args.begin(), {"-bus", path});
    return run_in_process(args);
}

const std::string disk_inquiry = "  on 12 00\n    data 00 00 02 02 1F 00 00 00 \"VEXUM   \" \"DISK            \" \"1   \"\n";

} // namespace

// ---- size and memory --------------------------------------------------------

TEST(BusFileLimits, ADirectoryIsOneLineNotAnAbort)
{
    bus_folder folder;
    run_result r = run_bus(folder.path);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vexum: " + folder.path + ": cannot read the bus file (a directory)\n");
}

TEST(BusFileLimits, AnEndlessOrHugeFileStopsAtTheSizeBound)
{
    bus_folder folder;
    // A sparse file of 1 GiB reads as zero bytes, like /dev/zero without end.
    std::string sparse = folder.file("sparse.bus");
    FILE* f = fopen(sparse.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    folder.made.push_back(sparse);
    ASSERT_EQ(truncate(sparse.c_str(), off_t(1) << 30), 0);
    for (const std::string& path : {std::string("/dev/zero"), sparse}) {
        run_result r = run_binary({"-bus", path});
        EXPECT_EQ(r.exit_code, 2) << path;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "vexum: " + path + ": the bus file is larger than 256 MiB\n");
    }
}

TEST(BusFileLimits, AnswersThatAskForGigabytesAreRefused)
{
    bus_folder folder;
    // 93 KB of text asking for 3 GB: 3,000 answers of 1 MiB of zeros each.
    std::string text = "unit 0:0:0\n";
    for (int i = 0; i < 3000; i++) {
        char line[64];
        snprintf(line, sizeof line, " on 28 00 00 00 %02X %02X\n  data zeros 1048576\n", i >> 8, i & 0xFF);
        text += line;
    }
    std::string bus = folder.write("big.bus", text);
    run_result r = run_binary({"-bus", bus});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    // The data of the 256th answer passes the bound: 256 MiB of data and
    // what the unit and the answers themselves take.
    EXPECT_EQ(r.err, "vexum: " + bus + ":513: the units and answers of this bus file take more than 256 MiB\n");
}

TEST(BusFileLimits, AnOverlongLineIsRefused)
{
    bus_folder folder;
    std::string bus = folder.write("long.bus", "adapters 1\n# " + std::string(5 << 20, 'x') + "\n");
    run_result r = run_bus(bus);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "vexum: " + bus + ":2: line longer than 4 MiB\n");
}

// ---- cost to read and to replay ---------------------------------------------

TEST(BusFileCost, TwoHundredThousandUnitsAndAHundredThousandAnswersStayCheap)
{
    // Each unit line once searched every unit before it, each request every
    // answer of its unit: 94 s for these units and 134 s for a replay of
    // this many answers. Linear, both take well under a second; the bound
    // leaves room for a loaded machine and the sanitizers.
    std::string units;
    units.reserve(200000 * 16);
    for (int n = 0; n < 200000; n++)
        units += "unit " + std::to_string(n >> 16) + ":" + std::to_string((n >> 8) & 0xFF) + ":" +
                 std::to_string(n & 0xFF) + "\n";
    std::string answers = "unit 0:0:0\n";
    const int reads = 100000;
    answers.reserve(size_t(reads) * 60);
    for (int block = 0; block < reads; block++) {
        char line[96];
        snprintf(line, sizeof line, "  on 28 00 %02X %02X %02X %02X 00 00 01 00\n    data %02X %02X\n",
                 block >> 24, (block >> 16) & 0xFF, (block >> 8) & 0xFF, block & 0xFF, (block >> 8) & 0xFF,
                 block & 0xFF);
        answers += line;
    }
    auto start = std::chrono::steady_clock::now();
    bus_description bus;
    std::string error;
    ASSERT_EQ(parse_bus_text(units, "units.bus", ".", &bus, &error), 0) << error;
    EXPECT_EQ(count_bus_units(bus), 200000u);
    ASSERT_TRUE(use_bus_text(answers));
    uint8_t data[512];
    int right = 0;
    for (int block = 0; block < reads; block++) {
        std::memset(data, 0, sizeof data);
        if (scsi_read({0, 0, 0}, uint32_t(block), 1, sizeof data, data) == 0 && data[0] == ((block >> 8) & 0xFF) &&
            data[1] == (block & 0xFF))
            right++;
    }
    drop_bus();
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(right, reads);
    EXPECT_LT(elapsed, std::chrono::seconds(30));
}

namespace {

// The rule of docs/bus-file.md, written out plainly: among the answers whose
// pattern matches, the unused one of the most compared bytes that comes
// first, if it is as specific as the best; otherwise the last of the most
// specific.
int reference_choice(const std::vector<std::vector<int>>& patterns, std::vector<bool>& used,
                     const uint8_t* cdb, int cdb_length)
{
    int unused = -1, last = -1, unused_score = -1, last_score = -1;
    for (size_t n = 0; n < patterns.size(); n++) {
        bool matches = true;
        int compared = 0;
        for (size_t i = 0; i < patterns[n].size() && matches; i++) {
            if (patterns[n][i] < 0)
                continue;
            compared++;
            uint8_t mask = i == 1 ? 0x1F : 0xFF;
            matches = int(i) < cdb_length && (cdb[i] & mask) == (patterns[n][i] & mask);
        }
        if (!matches)
            continue;
        if (!used[n] && compared > unused_score) {
            unused = int(n);
            unused_score = compared;
        }
        if (compared >= last_score) {
            last = int(n);
            last_score = compared;
        }
    }
    int chosen = unused >= 0 && unused_score >= last_score ? unused : last;
    if (chosen >= 0)
        used[size_t(chosen)] = true;
    return chosen;
}

} // namespace

TEST(BusFileCost, TheIndexChoosesAsTheRuleSays)
{
    // Patterns and requests from a few byte values, so that patterns of
    // every length and ".." place meet the same requests many times.
    std::mt19937 random(16);
    const int values[] = {0x00, 0x12, 0x28, 0x3F, 0xE1};
    for (int round = 0; round < 40; round++) {
        std::vector<std::vector<int>> patterns;
        std::string text = "unit 0:0:0\n";
        int count = 1 + int(random() % 60);
        std::vector<int64_t> offsets; // of each answer's on line
        for (int n = 0; n < count; n++) {
            std::vector<int> pattern(1 + random() % 8);
            offsets.push_back(int64_t(text.size()));
            text += "  on";
            for (int& p : pattern) {
                p = random() % 4 == 0 ? -1 : values[random() % 5];
                char word[8];
                snprintf(word, sizeof word, p < 0 ? " .." : " %02X", unsigned(p));
                text += word;
            }
            text += "\n";
            patterns.push_back(pattern);
        }
        bus_description bus;
        std::string error;
        ASSERT_EQ(parse_bus_text(text, "random.bus", ".", &bus, &error), 0) << error;
        bus_unit* unit = find_bus_unit(bus, 0, 0, 0);
        ASSERT_NE(unit, nullptr);
        std::vector<bool> used(patterns.size(), false);
        for (int request = 0; request < 200; request++) {
            uint8_t cdb[16] = {};
            int cdb_length = 1 + int(random() % 10);
            for (int i = 0; i < cdb_length; i++)
                cdb[i] = uint8_t(values[random() % 5] | (i == 1 ? (random() % 8) << 5 : 0));
            int expected = reference_choice(patterns, used, cdb, cdb_length);
            int64_t chosen = choose_bus_answer(*unit, cdb, cdb_length);
            auto place = std::find(offsets.begin(), offsets.end(), chosen);
            int got = place == offsets.end() ? -1 : int(place - offsets.begin());
            ASSERT_EQ(got, expected) << "round " << round << ", request " << request << "\n" << text;
        }
    }
}

TEST(BusFileCost, ABlockGivenWithoutDataReadsAsZeros)
{
    // Found by fuzz_busfile: the copy of an empty block passed a null
    // pointer to memcpy.
    ASSERT_TRUE(use_bus_text("unit 0:0:0\n  medium 4 512\n  block 1\n  block 2\n    data 5A\n"));
    uint8_t data[3 * 512];
    std::memset(data, 0xEE, sizeof data);
    ASSERT_EQ(scsi_read({0, 0, 0}, 0, 3, sizeof data, data), 0);
    drop_bus();
    std::vector<uint8_t> expected(sizeof data, 0);
    expected[2 * 512] = 0x5A;
    EXPECT_EQ(std::vector<uint8_t>(data, data + sizeof data), expected);
}

// ---- messages ---------------------------------------------------------------

TEST(BusFileMessages, FileTextInMessagesCannotSteerTheTerminal)
{
    bus_folder folder;
    struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"\x1B]0;owned\x07\x1B[2J\x1B[31m RED\n", "1: unknown word '\\x1B]0;owned\\x07\\x1B[2J\\x1B[31m'"},
        {"unit 0:0:0\n on 12\n  data 00 \x1B[2J\n", "3: bad byte '\\x1B[2J' (two hexadecimal digits expected)"},
        {"unit 0:0:0\n on 12\n  short 1\x9B" "2J\n", "3: bad argument '1\\x9B2J' for short"},
        {"unit 0:0:0\n image \x1B]2;x\x07.img 512\n", "2: cannot open image " + folder.path + "/\\x1B]2;x\\x07.img"},
        {"adapter 0 \xC2\x9B" "2J\n", "1: unknown word '\\xC2\\x9B2J' after adapter"},
        // A zero byte no longer ends the message early.
        {std::string("adap\0ters 1\n", 12), "1: unknown word 'adap\\x00ters'"},
        // A byte order mark is blank space only where it opens the file.
        {"adapters 1\n\xEF\xBB\xBF" "adapter 0\n", "2: unknown word '\\xEF\\xBB\\xBFadapter'"},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string bus = folder.write("m" + std::to_string(n++) + ".bus", c.text);
        run_result r = run_bus(bus);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.err, "vexum: " + bus + ":" + c.message + "\n");
    }
}

TEST(BusFileMessages, AByteOrderMarkOpeningTheFileIsBlankSpace)
{
    bus_folder folder;
    std::string plain = folder.write("plain.bus", "adapter 0\n  manager \"BOM\"\nunit 0:0:0\n" + disk_inquiry);
    std::string marked = folder.write("marked.bus", "\xEF\xBB\xBF" + read_text_file(plain));
    run_result expected = run_bus(plain);
    ASSERT_EQ(expected.exit_code, 0) << expected.err;
    run_result r = run_bus(marked);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, expected.out);
    EXPECT_EQ(r.err, "");
}

// ---- images -----------------------------------------------------------------

TEST(BusFileImages, RelativePathsStayInsideTheFolderOfTheBusFile)
{
    bus_folder outside;
    std::string secret = outside.write("secret.img", std::string(1024, 'S'));
    bus_folder folder;
    folder.folder("sub");
    folder.write("sub/disk.img", std::string(1024, '\0'));
    folder.link("inside.img", "sub/disk.img");
    folder.link("away.img", secret);
    folder.link("up", outside.path);
    std::string climb = "../" + outside.path.substr(outside.path.rfind('/') + 1) + "/secret.img";
    struct {
        std::string image;
        std::string message; // empty: accepted
    } cases[] = {
        {"sub/disk.img", ""},
        {"inside.img", ""},
        {"./sub/../sub/disk.img", ""},
        {climb, "image " + folder.path + "/" + climb + " lies outside the folder of the bus file"},
        {"away.img", "image " + folder.path + "/away.img lies outside the folder of the bus file"},
        {"up/secret.img", "image " + folder.path + "/up/secret.img lies outside the folder of the bus file"},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string bus = folder.write("i" + std::to_string(n++) + ".bus", "unit 0:0:0\n" + disk_inquiry +
                                                                              "  image " + c.image + " 512\n");
        run_result r = run_bus(bus, {"-o"});
        if (c.message.empty()) {
            EXPECT_EQ(r.exit_code, 0) << c.image << ": " << r.err;
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(r.exit_code, 2) << c.image;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "vexum: " + bus + ":4: " + c.message + "\n");
        }
        EXPECT_EQ(r.out.find("SSSS"), std::string::npos) << c.image;
    }
}

TEST(BusFileImages, AnImageMustBeARegularFile)
{
    bus_folder folder;
    std::string fifo = folder.file("pipe.img");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    folder.made.push_back(fifo);
    folder.folder("dir.img");
    for (const char* image : {"pipe.img", "dir.img"}) {
        std::string bus =
            folder.write(std::string(image) + ".bus", std::string("unit 0:0:0\n  image ") + image + " 512\n");
        // Nobody writes to the FIFO: an open that waits for a writer never
        // ends, so the tool runs under a time limit here.
        std::string err = folder.file("err.txt");
        std::string rc = shell_output("timeout 20 " + std::string(VEXUM_BINARY) + " -bus " + bus + " 2>" + err +
                                      "; echo $?");
        EXPECT_EQ(rc, "2\n") << image;
        EXPECT_EQ(read_text_file(err),
                  "vexum: " + bus + ":2: image " + folder.path + "/" + image + " is not a regular file\n");
        remove(err.c_str());
    }
}
