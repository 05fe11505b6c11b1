// The JSON document writer, device text in it (Shift-JIS, ISO-8859-1,
// control bytes, raw bytes beside), and a -json run against its text twin:
// the same requests, the same standard error, the same exit code.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "format/cp932.h"
#include "format/json.h"
#include "format/output.h"
#include "harness.h"

namespace {

std::string text_of(const uint8_t* bytes, size_t length) { return decode_device_text(bytes, length); }

std::string write_document(const std::function<void(json_writer*)>& body)
{
    run_result r = capture_output([&] {
        json_writer writer;
        body(&writer);
    });
    return r.out;
}

} // namespace

TEST(JsonWriter, NestsContainersAndIndentsValuesWrittenWhole)
{
    std::string text = write_document([](json_writer* w) {
        json_open_object(w, nullptr);
        json_put(w, "n", 1);
        json_open_array(w, "list");
        json_put(w, nullptr, {{"a", 1}, {"b", {true, nullptr}}});
        json_open_object(w, nullptr);
        json_close(w);
        json_close(w);
        json_open_array(w, "empty");
        json_close(w);
        json_put_members(w, {{"x", "y"}, {"z", 2}});
        json_close(w);
    });
    EXPECT_EQ(text, "{\n"
                    "  \"n\": 1,\n"
                    "  \"list\": [\n"
                    "    {\n"
                    "      \"a\": 1,\n"
                    "      \"b\": [\n"
                    "        true,\n"
                    "        null\n"
                    "      ]\n"
                    "    },\n"
                    "    {}\n"
                    "  ],\n"
                    "  \"empty\": [],\n"
                    "  \"x\": \"y\",\n"
                    "  \"z\": 2\n"
                    "}\n");
    EXPECT_EQ(nlohmann::json::parse(text)["list"][0]["b"][0], true);
}

// Numbers, booleans, null and plain strings are written without the
// library's serializer, and keys without escaping when they need none: the
// text must still be the library's own, at every depth, for the extremes of
// each type and for strings that need escapes.
TEST(JsonWriter, ScalarsAndKeysAsTheLibraryWritesThem)
{
    const json_value members = {
        {"zero", 0},
        {"u64_max", UINT64_MAX},
        {"i64_min", INT64_MIN},
        {"minus_one", -1},
        {"yes", true},
        {"no", false},
        {"nothing", nullptr},
        {"Key \"quoted\"\t", 5},
        {"", "empty key"},
        {"plain", "A plain text ~ 0-9"},
        {"empty", ""},
        {"quoted", "a \"quote\" and a back\\slash"},
        {"controls", std::string("tab\t, line\n, zero ") + '\0' + " end"},
        {"utf8", "\xC3\xA9t\xC3\xA9"},
    };
    std::string text = write_document([&](json_writer* w) {
        json_open_object(w, nullptr);
        json_put_members(w, members);
        json_open_array(w, "deeper");
        json_open_object(w, nullptr);
        json_put_members(w, members);
        json_close(w);
        json_close(w);
        json_close(w);
    });
    json_value whole = members;
    whole["deeper"] = json_value::array({members});
    EXPECT_EQ(text, whole.dump(2) + "\n");
}

TEST(JsonText, AsciiControlBytesZeroAndBlanks)
{
    const uint8_t vendor[8] = {' ', 'V', 'X', 0x1B, '[', ' ', ' ', ' '};
    EXPECT_EQ(text_of(vendor, 8), "VX\x1B[");
    const uint8_t cut[6] = {'A', 'B', 0, 'C', 'D', ' '};
    EXPECT_EQ(text_of(cut, 6), "AB");
    EXPECT_EQ(text_of(cut, 0), "");
    const uint8_t blanks[4] = {' ', ' ', ' ', ' '};
    EXPECT_EQ(text_of(blanks, 4), "");
    // The writer escapes what the text holds; the raw bytes stand beside it.
    json_value object;
    put_device_text(&object, "vendor", vendor, 8);
    EXPECT_EQ(object.dump(), "{\"vendor\":\"VX\\u001b[\",\"vendor_hex\":\"205658" "1B5B202020\"}");
}

TEST(JsonText, NoByteOfTheDocumentCanSteerATerminal)
{
    // DEL, and CSI as ISO-8859-1 decodes it (U+009B): escaped, not raw.
    const uint8_t steering[] = {'A', 0x7F, 0x9B, '2', 'J', 0x1B};
    std::string text = write_document([&](json_writer* w) { json_put(w, nullptr, decode_device_text(steering, 6)); });
    EXPECT_EQ(text, "\"A\\u007f\\u009b2J\\u001b\"\n");
    EXPECT_EQ(nlohmann::json::parse(text), "A\x7F\xC2\x9B" "2J\x1B");
}

TEST(JsonText, ShiftJisWhereValidElseLatin1)
{
    // 日本 (93FAh 967Bh), half-width katakana ｱ (B1h), ① (8740h).
    const uint8_t japanese[] = {0x93, 0xFA, 0x96, 0x7B, 0xB1, 0x87, 0x40};
    EXPECT_EQ(text_of(japanese, sizeof japanese), "\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBD\xB1\xE2\x91\xA0");
    // A lead byte at the end, a pair without a mapping (FC6Ch), bytes that
    // are no Shift-JIS at all (80h, A0h, FDh): the whole field is Latin-1.
    const uint8_t cut_pair[] = {'X', 0x93};
    EXPECT_EQ(text_of(cut_pair, sizeof cut_pair), "X\xC2\x93");
    const uint8_t unmapped[] = {0xFC, 0x6C};
    EXPECT_EQ(text_of(unmapped, sizeof unmapped), "\xC3\xBC" "l");
    const uint8_t latin[] = {'M', 0xFC, 'l', 'l', 'e', 'r', 0x80, 0xA0, 0xFD};
    EXPECT_EQ(text_of(latin, sizeof latin), "M\xC3\xBCller\xC2\x80\xC2\xA0\xC3\xBD");
    EXPECT_FALSE(is_shift_jis_sequence(latin, sizeof latin));
    EXPECT_TRUE(is_shift_jis_sequence(japanese, sizeof japanese));
    // Every text is valid UTF-8: the library parses the document back.
    for (unsigned b = 0x80; b <= 0xFF; b++) {
        const uint8_t one[] = {uint8_t(b)};
        json_value value = text_of(one, 1);
        EXPECT_TRUE(nlohmann::json::accept(value.dump(-1, ' ', false, json_value::error_handler_t::strict))) << b;
    }
}

TEST(JsonText, HexAndArguments)
{
    const uint8_t bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
    EXPECT_EQ(hex_text(bytes, 4), "000FA5FF");
    EXPECT_EQ(hex_text(bytes, 0), "");
    EXPECT_EQ(utf8_or_latin1("plain/path.img"), "plain/path.img");
    EXPECT_EQ(utf8_or_latin1("\xE6\x97\xA5.img"), "\xE6\x97\xA5.img");
    EXPECT_EQ(utf8_or_latin1("bad\xFF.img"), "bad\xC3\xBF.img");
}

TEST(JsonRun, SameRequestsErrorsAndExitCodeAsTheTextReport)
{
    std::string sample = std::string(VEXUM_SOURCE_DIR) + "/samples/sample.bus";
    std::string text_trace = write_temp_file("", ".bus");
    std::string json_trace = write_temp_file("", ".bus");
    run_result text = run_in_process({"-bus", sample, "-trace", text_trace, "-l", "-dpo"});
    run_result json = run_in_process({"-bus", sample, "-trace", json_trace, "-l", "-dpo", "-JSON"});
    EXPECT_EQ(json.exit_code, text.exit_code);
    EXPECT_EQ(json.err, text.err);
    EXPECT_EQ(read_text_file(json_trace), read_text_file(text_trace));
    EXPECT_NE(read_text_file(text_trace).find("on 28"), std::string::npos) << "the trace holds the reads";
    nlohmann::json document = nlohmann::json::parse(json.out);
    EXPECT_EQ(document["format_version"], nlohmann::json::array({1, 0}));
    EXPECT_EQ(document["host_adapters"].size(), 1u);
    EXPECT_EQ(document["diagnostics"], nlohmann::json::array());
    remove(text_trace.c_str());
    remove(json_trace.c_str());
}

TEST(JsonRun, ErrorsBeforeTheScanStillMakeOneDocument)
{
    run_result text = run_in_process({"-bus", "/nonexistent/missing.bus", "-dp"});
    run_result json = run_in_process({"--json", "-bus", "/nonexistent/missing.bus", "-dp"});
    EXPECT_EQ(json.exit_code, 2);
    EXPECT_EQ(json.err, text.err);
    nlohmann::json document = nlohmann::json::parse(json.out);
    EXPECT_EQ(document["drives"], nlohmann::json::array());
    EXPECT_EQ(document["host_adapters"], nlohmann::json::array());
    EXPECT_EQ(document["exit_code"], 2);
    EXPECT_EQ(document["diagnostics"], nlohmann::json::array({"vexum: /nonexistent/missing.bus: cannot open the bus file"}));

    run_result missing = run_in_process({"-json", "-image"});
    EXPECT_EQ(missing.exit_code, 2);
    EXPECT_EQ(missing.err, "vexum: -image needs a file name\n");
    EXPECT_EQ(nlohmann::json::parse(missing.out)["diagnostics"][0], "vexum: -image needs a file name");

    // The question mark still prints the usage text, not a document.
    run_result usage = run_in_process({"-json", "-?"});
    EXPECT_EQ(usage.exit_code, 1);
    EXPECT_EQ(usage.out.compare(0, 5, "*****"), 0);
}
