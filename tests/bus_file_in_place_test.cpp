// A bus file is read in place: its lines are checked once when it is
// loaded, a unit's lines read again when the unit is first asked, and an
// answer's lines when it is chosen. These tests hold that to what reading
// the file whole gave: the same reports, the same first error, whatever the
// order of the lines and wherever they fall in the pieces read.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/scsi_commands.h"
#include "harness.h"

namespace {

std::string inquiry_of(const std::string& product)
{
    std::string padded = (product + std::string(16, ' ')).substr(0, 16);
    return "  on 12 00\n    data 00 00 02 02 1F 00 00 00 \"VEXUM   \" \"" + padded + "\" \"1   \"\n";
}

// A disk whose medium is described in the file: a master boot record with
// one FAT16 entry, the partition's boot sector empty.
const std::string medium_line = "  medium 8192 512\n";
const std::string boot_record = "  block 0\n"
                                "    data zeros 446\n"
                                "    data 00 00 00 00 06 00 00 00 00 01 00 00 00 10 00 00\n"
                                "    data zeros 48 55 AA\n";
const std::string capacity = "  on 25\n    data 00 00 1F FF 00 00 02 00\n";

std::string error_of(const std::string& bus)
{
    std::string path = write_temp_file(bus);
    run_result r = run_in_process({"-bus", path});
    std::remove(path.c_str());
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    // The message names the file: keep what follows its name.
    size_t colon = r.err.find(".bus:");
    return colon == std::string::npos ? r.err : r.err.substr(colon + 4);
}

} // namespace

TEST(BusFileInPlace, AUnitInStretchesAnswersAsOneWrittenWhole)
{
    // A trace starts a new stretch at each change of address; a person may
    // write a unit's medium in one place and its answers in another.
    std::string whole = "unit 0:0:0\n" + inquiry_of("WHOLE") + medium_line + boot_record + capacity +
                        "unit 0:1:0\n" + inquiry_of("OTHER");
    std::string split = "unit 0:0:0\n" + inquiry_of("WHOLE") + "unit 0:1:0\n" + inquiry_of("OTHER") +
                        "unit 0:0:0\n" + medium_line + "adapter 0\n  identity \"HBA\"\n" + "unit 0:0:0\n" +
                        boot_record + "unit 0:0:0\n" + capacity;
    run_result a = run_bus_text(whole, {"-ldpo"});
    run_result b = run_bus_text(split, {"-ldpo"});
    ASSERT_EQ(a.exit_code, 0) << a.err;
    EXPECT_EQ(b.exit_code, 0) << b.err;
    EXPECT_NE(a.out.find("WHOLE"), std::string::npos);
    EXPECT_NE(a.out.find("OTHER"), std::string::npos);
    // The boot record, read from blocks given in a later stretch.
    EXPECT_NE(b.out.find("+1F0  00 00 00 00 00 00 00 00-00 00 00 00 00 00 55 AA"), std::string::npos) << b.out;
    // The same report, but for the adapter's name, which only the split
    // file gives.
    auto without_adapter = [](std::string text) {
        size_t line = text.find("Host adapter #0");
        return line == std::string::npos ? text : text.erase(line, text.find('\n', line) - line);
    };
    EXPECT_NE(b.out.find("HBA"), std::string::npos);
    EXPECT_EQ(without_adapter(a.out), without_adapter(b.out));
    EXPECT_EQ(a.err, b.err);
}

TEST(BusFileInPlace, TheRulesOfAUnitHoldAcrossItsStretches)
{
    // Each line breaks a rule only together with a line of an earlier
    // stretch of its unit.
    EXPECT_EQ(error_of("unit 0:0:0\n  medium 16 512\nunit 0:1:0\nunit 0:0:0\n  block 16\n"),
              ":5: block 16 lies past the end of the medium\n");
    EXPECT_EQ(error_of("unit 0:0:0\n  medium 16 512\n  block 3\nunit 0:1:0\nunit 0:0:0\n  block 3\n"),
              ":6: block 3 is described twice\n");
    EXPECT_EQ(error_of("unit 0:0:0\n  medium 16 512\nunit 0:1:0\nunit 0:0:0\n  medium 16 512\n"),
              ":5: a second medium line for this unit\n");
    EXPECT_EQ(error_of("unit 0:0:0\n  medium 16 8\n  block 1\nunit 0:1:0\nunit 0:0:0\n  block 2\n"
                       "    data 00 01 02 03 04 05 06 07 08\n"),
              ":7: block data longer than the block length of 8 bytes\n");
    // A block before the medium line is refused even when the medium line
    // comes in a later stretch.
    EXPECT_EQ(error_of("unit 0:0:0\n  block 1\nunit 0:0:0\n  medium 16 512\n"),
              ":2: block before the unit's medium line\n");
}

TEST(BusFileInPlace, TheFirstErrorInTheFileIsTheOneTold)
{
    // A unit's rule broken at line 5 comes before a bad word at line 7, and
    // a bad word at line 4 before a unit's rule broken at line 7.
    EXPECT_EQ(error_of("unit 0:0:0\n  medium 16 512\nunit 0:1:0\nunit 0:0:0\n  block 99\nunit 0:2:0\n  bogus\n"),
              ":5: block 99 lies past the end of the medium\n");
    EXPECT_EQ(error_of("unit 0:0:0\n  medium 16 512\nunit 0:1:0\n  bogus\nunit 0:0:0\nunit 0:0:0\n  block 99\n"),
              ":4: unknown word 'bogus'\n");
    // Two units met again, the later unit's error first in the file.
    EXPECT_EQ(error_of("unit 0:5:0\n  medium 4 512\nunit 0:1:0\n  medium 4 512\nunit 0:1:0\n  block 9\n"
                       "unit 0:5:0\n  block 9\n"),
              ":6: block 9 lies past the end of the medium\n");
}

// A READ answer of a kind of pattern of its own: byte 0 compared, and the
// bits of kind marking which of bytes 1 to 15 match any byte.
std::string answer_of_kind(int kind)
{
    std::string on = "  on 28";
    for (int i = 1; i < 16; i++)
        on += kind & (1 << (i - 1)) ? " .." : " 00";
    return on + "\n    data 00\n";
}

TEST(BusFileInPlace, KindsOfPatternAreCountedAcrossStretches)
{
    // 256 kinds in the first stretch (an INQUIRY answer's and 255 others).
    std::string bus = "unit 0:0:0\n" + inquiry_of("KINDS");
    for (int kind = 0; kind < 255; kind++)
        bus += answer_of_kind(kind);
    bus += "unit 0:1:0\n" + inquiry_of("OTHER") + "unit 0:0:0\n";
    run_result allowed = run_bus_text(bus + answer_of_kind(0), {"-scsi", "0:0:0"});
    EXPECT_EQ(allowed.exit_code, 0) << allowed.err;
    EXPECT_NE(allowed.out.find("KINDS"), std::string::npos) << allowed.out;
    std::string path = write_temp_file(bus + answer_of_kind(255));
    run_result over = run_in_process({"-bus", path});
    std::remove(path.c_str());
    EXPECT_EQ(over.exit_code, 2);
    EXPECT_EQ(over.err, "vexum: " + path +
                            ": unit 0:0:0 has answers of more than 256 kinds of pattern (lengths and '..' places)\n");
}

TEST(BusFileInPlace, LinesAcrossThePiecesReadAnswerAsAPipedFileDoes)
{
    // 300 units, each answer's line followed by a comment that makes it long,
    // some longer than a piece read at once: lines start and end anywhere
    // in a piece. A pipe cannot be read in place; its text is held whole.
    std::string bus;
    for (int n = 0; n < 300; n++) {
        char product[17];
        snprintf(product, sizeof product, "UNIT %03d", n);
        std::string answer = inquiry_of(product);
        answer.insert(answer.size() - 1, " # " + std::string(size_t(n * 997 % 90000), 'x'));
        bus += "unit " + std::to_string(n / 56) + ":" + std::to_string(n / 8 % 7) + ":" + std::to_string(n % 8) +
               "\n" + answer;
    }
    bus = "adapters 6\n" + bus;
    std::string path = write_temp_file(bus);
    run_result in_place = run_binary({"-bus", path, "-l"});
    std::string piped = shell_output("cat '" + path + "' | '" + VEXUM_BINARY + "' -bus /dev/stdin -l");
    std::remove(path.c_str());
    ASSERT_EQ(in_place.exit_code, 0) << in_place.err;
    EXPECT_EQ(in_place.out, piped);
    size_t listed = 0, at = 0;
    for (int n = 0; n < 300; n++) {
        char product[17];
        snprintf(product, sizeof product, "UNIT %03d", n);
        at = in_place.out.find(product, at);
        if (at == std::string::npos)
            break;
        listed++;
    }
    EXPECT_EQ(listed, 300u) << in_place.out;
}

TEST(BusFileInPlace, AFileChangedAfterItWasLoadedIsSaidOnce)
{
    // The units first, then 200 KB of comments: loading ends reading the
    // file's tail, and the units' lines are read again when first asked.
    std::string comments;
    for (int n = 0; n < 4000; n++)
        comments += "# " + std::string(48, '-') + "\n";
    std::string path =
        write_temp_file("unit 0:0:0\n" + inquiry_of("FIRST") + "unit 0:1:0\n" + inquiry_of("SECOND") + comments);
    std::string error;
    const aspi_manager* manager = load_bus_file(path.c_str(), &error);
    ASSERT_NE(manager, nullptr) << error;
    select_aspi_manager(manager);
    ASSERT_EQ(aspi_open(), 0);
    // Another text of the same length: no line is what it was.
    std::string text = read_text_file(path);
    FILE* f = fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    fputs(std::string(text.size(), 'x').c_str(), f);
    fclose(f);
    // The product named by a unit's INQUIRY answer; "" when none came.
    auto product_of = [](device_address unit) {
        uint8_t data[36] = {};
        scsi_inquiry(unit, -1, sizeof data, data);
        return std::string(reinterpret_cast<char*>(data + 16), strnlen(reinterpret_cast<char*>(data + 16), 6));
    };
    std::vector<std::string> products;
    run_result told = capture_output([&] {
        products.push_back(product_of({0, 0, 0}));
        products.push_back(product_of({0, 1, 0}));
        products.push_back(product_of({0, 0, 0}));
    });
    drop_bus();
    std::remove(path.c_str());
    EXPECT_EQ(products, std::vector<std::string>({"", "", ""}));
    EXPECT_EQ(told.err, "vexum: " + path +
                            ": the bus file changed while it was read; the units not yet read answer as empty "
                            "addresses\n");
}
