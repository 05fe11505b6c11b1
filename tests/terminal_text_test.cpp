// Device text and message text on a terminal: a C1 control in its UTF-8
// form (C2h followed by 80h-9Fh) never reaches the report, while Shift-JIS
// and UTF-8 names keep their bytes; message text shows its bytes as \xHH.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "format/format.h"
#include "harness.h"

namespace {

// Offsets of every C2h byte followed by 80h-9Fh: what a UTF-8 terminal
// reads as a C1 control (CSI is C2h 9Bh).
std::string utf8_c1_controls(const std::string& text)
{
    std::string found;
    for (size_t i = 0; i + 1 < text.size(); i++) {
        auto a = static_cast<unsigned char>(text[i]);
        auto b = static_cast<unsigned char>(text[i + 1]);
        if (a == 0xC2 && b >= 0x80 && b <= 0x9F)
            found += std::to_string(i) + " ";
    }
    return found;
}

} // namespace

TEST(TerminalText, AUtf8C1ControlInAFieldBecomesADot)
{
    char d[17];
    // C2 9B "2J" clears an xterm screen; the C2 stays (a Shift-JIS
    // half-width katakana on its own), the 9B does not.
    copy_padded_field(d, "AB\xC2\x9B" "2JCD", 8);
    EXPECT_STREQ(d, "AB\xC2." "2JCD");
    // Every byte 80h-9Fh after C2h; C2h before other bytes is kept.
    copy_padded_field(d, "\xC2\x80\xC2\x9F\xC2\xA0\xC2\xC2\x85", 9);
    EXPECT_STREQ(d, "\xC2.\xC2.\xC2\xA0\xC2\xC2.");
    // UTF-8 and Shift-JIS names keep their bytes.
    copy_trimmed_field(d, "\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xB9\xE3\x82\xAF", 12);
    EXPECT_STREQ(d, "\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xB9\xE3\x82\xAF");
    copy_trimmed_field(d, "\x83\x66\x83\x42\x83\x58\x83\x4E", 8);
    EXPECT_STREQ(d, "\x83\x66\x83\x42\x83\x58\x83\x4E");
}

TEST(TerminalText, AScanOfUnitsNamedWithC1ControlsKeepsThemOffTheTerminal)
{
    std::string bus = write_temp_file(
        "adapter 0\n  manager \"M\\xC2\\x9B" "2J\"\n  identity \"\\xC2\\x9D" "0;x\\xC2\\x9C\"\n"
        "unit 0:0:0\n  on 12 00\n    data 03 00 02 02 1F 00 00 00 \"\\xC2\\x9B" "31m   \" \"\\xC2\\x90" "DISK          \" "
        "\"R\\xC2\\x9B \"\n");
    run_result r = run_in_process({"-bus", bus});
    remove(bus.c_str());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(utf8_c1_controls(r.out), "") << r.out;
    EXPECT_EQ(r.out, "\nHost adapter #0 - M\xC2." "2J" + std::string(11, ' ') + " \xC2." "0;x\xC2." + std::string(9, ' ') +
                         " " + std::string(16, ' ') + "\n\n0)ID:0-0 SCSI-2 \xC2." "31m    \xC2." "DISK" +
                         std::string(10, ' ') + " R\xC2.  Rigid     - Processor device\n");
}

TEST(TerminalText, MessageTextShowsEveryOtherByteInHex)
{
    EXPECT_EQ(visible_text("plain text ~"), "plain text ~");
    EXPECT_EQ(visible_text(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(visible_text("\x1B[2J\x7F\xC2\x9B\xFF"), "\\x1B[2J\\x7F\\xC2\\x9B\\xFF");
}
