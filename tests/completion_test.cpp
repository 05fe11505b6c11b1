// The bash completion: what it offers at each place of a command line.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "harness.h"

namespace {

const std::string script = std::string(VEXUM_SOURCE_DIR) + "/packaging/bash-completion/vexum";

std::string quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The words offered for the last word of line (the words before it typed in
// full), in folder dir.
std::set<std::string> complete(const std::vector<std::string>& line, const std::string& dir = ".")
{
    std::string words;
    for (const auto& w : line)
        words += " " + quote(w);
    std::string command = "cd " + quote(dir) + " && bash --norc --noprofile -c " +
                          quote("source " + quote(script) + " && COMP_WORDS=(" + words +
                                ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _vexum && "
                                "printf '%s\\n' \"${COMPREPLY[@]}\"");
    std::set<std::string> offered;
    std::string out = shell_output(command);
    size_t start = 0;
    for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        if (end > start)
            offered.insert(out.substr(start, end - start));
    }
    return offered;
}

using words = std::set<std::string>;

} // namespace

TEST(Completion, WordsAndLetters)
{
    words all{"-scsi", "-disk", "-l",   "-d",     "-p",        "-o", "-image",
              "-bus",  "-trace", "-iscsi", "-json", "--help", "--version"};
    EXPECT_EQ(complete({"vexum", ""}), all);
    EXPECT_EQ(complete({"vexum", "-"}), all);
    EXPECT_EQ(complete({"vexum", "-i"}), (words{"-image", "-iscsi"}));
    EXPECT_EQ(complete({"vexum", "-d"}), (words{"-d", "-disk"}));
    EXPECT_EQ(complete({"vexum", "--v"}), (words{"--version"}));
    EXPECT_EQ(complete({"vexum", "-ldp", "-scsi", "0:1", "-t"}), (words{"-trace"}));
    // A word without a dash is skipped by vexum: nothing to offer.
    EXPECT_EQ(complete({"vexum", "x"}), words{});
    // After an address or a drive number, words again.
    EXPECT_EQ(complete({"vexum", "-disk", "0", "-sc"}), (words{"-scsi"}));
}

TEST(Completion, FileNamesAfterTheWordsThatTakeThem)
{
    std::string dir = make_temp_directory("vexum-completion-");
    ASSERT_NE(dir, "");
    ASSERT_TRUE(run_quietly("cd " + quote(dir) + " && mkdir sub && touch a.bus b.img c.bus.txt"));

    EXPECT_EQ(complete({"vexum", "-image", ""}, dir), (words{"a.bus", "b.img", "c.bus.txt", "sub"}));
    EXPECT_EQ(complete({"vexum", "-dp", "-IMAGE", "b"}, dir), (words{"b.img"}));
    EXPECT_EQ(complete({"vexum", "-trace", "c"}, dir), (words{"c.bus.txt"}));
    // -bus offers bus files and folders only.
    EXPECT_EQ(complete({"vexum", "-bus", ""}, dir), (words{"a.bus", "sub"}));
    // A portal is not a file.
    EXPECT_EQ(complete({"vexum", "-iscsi", ""}, dir), words{});
    // An extension word's argument may begin with a dash: "-bus" here is the
    // image's name, and the next word is free again.
    EXPECT_EQ(complete({"vexum", "-image", "-bus", "-b"}, dir), (words{"-bus"}));
    EXPECT_EQ(complete({"vexum", "-image", "-"}, dir), words{});

    run_quietly("rm -rf " + quote(dir));
}

// Every word the manual page gives an entry is offered (-? aside, whose
// question mark the shell would read as a pattern).
TEST(Completion, OffersEveryWordOfTheManualPage)
{
    std::string page = read_text_file(std::string(VEXUM_SOURCE_DIR) + "/man/vexum.1");
    ASSERT_FALSE(page.empty());
    words offered = complete({"vexum", "-"});
    size_t entries = 0;
    // Entries are ".TP" followed by a line that starts with the word in bold.
    for (size_t at = 0; (at = page.find(".TP\n", at)) != std::string::npos; at += 4) {
        size_t line = at + 4;
        size_t end = page.find('\n', line);
        std::string text = page.substr(line, end - line);
        size_t dash = text.find("\\-");
        if (text.rfind(".B", 0) != 0 || dash == std::string::npos || dash > 4)
            continue;
        size_t stop = text.find_first_of(" \"", dash);
        std::string escaped = text.substr(dash, stop == std::string::npos ? std::string::npos : stop - dash);
        std::string word;
        for (size_t i = 0; i < escaped.size(); i++)
            if (escaped.compare(i, 2, "\\-") != 0)
                word += escaped[i]; // "\-" is a dash
        if (word == "-?")
            continue;
        entries++;
        EXPECT_EQ(offered.count(word), 1u) << word;
    }
    EXPECT_GE(entries, 12u); // -scsi, -disk, four letters, --help, --version, four extension words
}
