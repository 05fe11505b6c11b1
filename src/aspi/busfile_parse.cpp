// The bus file parser: reads the text of a bus file (docs/bus-file.md) in
// three ways. Loading checks every line once and notes where each unit is
// described; a unit's lines are read again when it is first asked, to index
// its answers; an answer's lines are read when it is chosen. Each keyword
// has one row in the table at the bottom: the block it belongs to, what it
// is, and the function that reads its arguments.
#include <algorithm>
#include <array>
#include <deque>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "aspi/busfile.h"
#include "aspi/trace_file.h"
#include "format/bytes.h"
#include "format/format.h"

namespace {

// A word of a line: a view into the line, or into the parser's store of
// quoted texts, whose escapes are undone.
struct token {
    std::string_view text;
    bool quoted;
};

using tokens_t = std::vector<token>;

// check: loading, every line; load: the lines of one unit; read: the lines of
// one answer or one block of a medium.
enum class mode { check, load, read };

// The addresses met so far while loading: a bit each, a page of 8 KiB for
// each adapter number used.
struct address_set {
    std::array<std::unique_ptr<uint64_t[]>, 256> pages;
    // True when address was there; adds it.
    bool add(uint32_t address)
    {
        auto& page = pages[address >> 16];
        if (!page)
            page = std::make_unique<uint64_t[]>(1024);
        uint64_t bit = uint64_t(1) << (address & 63);
        uint64_t& word = page[(address & 0xFFFF) >> 6];
        bool there = (word & bit) != 0;
        word |= bit;
        return there;
    }
};

struct parser {
    bus_description& bus;
    mode how;
    int line = 0;             // loading: the number of the line
    uint64_t line_offset = 0; // where the line starts
    std::string reason;       // why the line is refused, its words made visible
    bool failed = false;
    bus_adapter* adapter = nullptr;
    bool in_unit = false;
    // The unit whose rules are checked: loading, one met for the first time
    // (a further stretch of a unit is checked when the whole file is read);
    // load, the unit loaded.
    bus_unit* unit = nullptr;
    bool in_answer = false;
    bool in_block = false;
    uint64_t content_bytes = 0; // data bytes of the answer or block, so far
    uint64_t sense_bytes = 0;
    std::deque<std::string> quoted; // the quoted texts of the line split last
    bus_answer scratch;
    bus_answer* answer = &scratch; // read: what the lines fill
    std::set<uint32_t> block_numbers;
    // load: the shapes are counted first and filled in a second walk, so
    // that each shape's records are allocated once at their size.
    bool filling = false;
    std::vector<size_t> shape_counts;
    bool shapes_exceeded = false; // the unit has more kinds of pattern than allowed
    // Loading only.
    uint64_t next_offset = 0;        // where the line after this one starts
    bus_unit scratch_unit;           // the unit checked, met for the first time
    std::filesystem::path real_base; // base_dir with links followed, once known
    uint64_t held = 0;               // what the description describes, in bytes
    bool is_trace = false;           // a trace line: the file must end with its end line
    int end_line = 0;                // where the end line stands, 0 before it
    address_set seen;                // unit addresses met
    std::vector<uint32_t> continued; // addresses of units met again
    std::set<uint32_t> shape_ids;    // of the unit checked
    bool shapes_over = false;        // the first unit with too many shapes, if any:
    uint32_t shapes_over_address = 0;
    uint64_t shapes_over_offset = 0;

    parser(bus_description& b, mode m) : bus(b), how(m) {}

    bool fail(const std::string& why)
    {
        if (!failed) {
            failed = true;
            reason = visible_text(why);
        }
        return false;
    }

    // Counts what the description describes; false (reason set) past the bound.
    bool charge(uint64_t bytes)
    {
        if (how != mode::check)
            return true;
        held += bytes;
        return held <= BUS_MEMORY_LIMIT ||
               fail("the units and answers of this bus file take more than " +
                    std::to_string(BUS_MEMORY_LIMIT >> 20) + " MiB");
    }
};

bool split_line(parser& p, const std::string& text, tokens_t* tokens)
{
    tokens->clear();
    p.quoted.clear();
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            i++;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            std::string value;
            i++;
            bool closed = false;
            while (i < text.size()) {
                char q = text[i++];
                if (q == '"') {
                    closed = true;
                    break;
                }
                if (q != '\\') {
                    value += q;
                    continue;
                }
                if (i >= text.size())
                    break;
                char e = text[i++];
                if (e == 'x') {
                    if (i + 2 > text.size() || !isxdigit(uint8_t(text[i])) || !isxdigit(uint8_t(text[i + 1])))
                        return p.fail("bad \\x escape in quoted text");
                    value += char(std::stoi(text.substr(i, 2), nullptr, 16));
                    i += 2;
                } else if (e == '"' || e == '\\') {
                    value += e;
                } else {
                    return p.fail(std::string("unknown escape \\") + e + " in quoted text");
                }
            }
            if (!closed)
                return p.fail("quoted text is not closed");
            p.quoted.push_back(std::move(value));
            tokens->push_back({p.quoted.back(), true});
        } else {
            size_t start = i;
            while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '"' &&
                   text[i] != '#')
                i++;
            tokens->push_back({std::string_view(text).substr(start, i - start), false});
        }
    }
    return true;
}

// The first word of a line as split_line finds it; empty for a blank line,
// a comment, or a line that starts with quoted text.
std::string_view first_word(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r'))
        i++;
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '"' &&
           text[i] != '#')
        i++;
    return std::string_view(text).substr(start, i - start);
}

// A whole text of digits in base 16 or 10, at most limit.
bool parse_number(std::string_view text, int base, uint32_t limit, uint32_t* value)
{
    if (text.empty() || text.size() > (base == 16 ? 8u : 10u))
        return false;
    uint64_t v = 0;
    for (char c : text) {
        int digit = isdigit(uint8_t(c)) ? c - '0' : (base == 16 && isxdigit(uint8_t(c)) ? tolower(c) - 'a' + 10 : -1);
        if (digit < 0)
            return false;
        v = v * uint64_t(base) + uint64_t(digit);
    }
    if (v > limit)
        return false;
    *value = uint32_t(v);
    return true;
}

bool parse_hex(std::string_view text, uint32_t limit, uint32_t* value) { return parse_number(text, 16, limit, value); }

bool parse_decimal(std::string_view text, uint32_t limit, uint32_t* value)
{
    return parse_number(text, 10, limit, value);
}

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hex_digit(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

// A byte list from tokens[first..]: hex bytes, quoted texts, "zeros N". The
// bytes go to out when it is given; total counts the bytes of the answer or
// block so far, across its lines.
bool parse_bytes(parser& p, const tokens_t& tokens, size_t first, std::vector<uint8_t>* out, uint64_t* total)
{
    uint64_t before = *total;
    for (size_t i = first; i < tokens.size(); i++) {
        const token& t = tokens[i];
        if (t.quoted) {
            if (out)
                out->insert(out->end(), t.text.begin(), t.text.end());
            *total += t.text.size();
        } else if (t.text.size() == 2 && is_hex(t.text[0]) && is_hex(t.text[1])) {
            // The common case, without a number parser: a trace is mostly bytes.
            if (out)
                out->push_back(uint8_t(hex_digit(t.text[0]) << 4 | hex_digit(t.text[1])));
            *total += 1;
        } else if (t.text == std::string_view("zeros")) {
            uint32_t n;
            if (i + 1 >= tokens.size() || !parse_decimal(tokens[i + 1].text, 1u << 20, &n))
                return p.fail("zeros needs a decimal count up to 1048576");
            if (out)
                out->insert(out->end(), n, 0);
            *total += n;
            i++;
        } else {
            uint32_t v;
            if (t.text.size() != 2 || !parse_hex(t.text, 0xFF, &v))
                return p.fail("bad byte '" + std::string(t.text) + "' (two hexadecimal digits expected)");
            if (out)
                out->push_back(uint8_t(v));
            *total += 1;
        }
        if (*total > (1u << 20))
            return p.fail("byte list longer than 1 MiB");
    }
    return p.charge(*total - before);
}

bool parse_address(std::string_view text, int* adapter, int* target, int* lun)
{
    uint32_t v[3];
    size_t start = 0;
    for (int i = 0; i < 3; i++) {
        size_t end = text.find(':', start);
        if ((i < 2) != (end != std::string_view::npos))
            return false;
        if (!parse_decimal(text.substr(start, end == std::string_view::npos ? end : end - start), 255, &v[i]))
            return false;
        start = end + 1;
    }
    *adapter = int(v[0]);
    *target = int(v[1]);
    *lun = int(v[2]);
    return true;
}

// ---- the manager and its adapters ------------------------------------

bool read_support(parser& p, const tokens_t& tokens)
{
    uint32_t v;
    if (tokens.size() != 2 || !parse_hex(tokens[1].text, 0xFFFFFFFF, &v))
        return p.fail("support needs one hexadecimal value");
    p.bus.support = v;
    p.bus.support_given = true;
    return true;
}

bool read_adapters(parser& p, const tokens_t& tokens)
{
    uint32_t v;
    if (tokens.size() != 2 || !parse_decimal(tokens[1].text, 255, &v))
        return p.fail("adapters needs a decimal count from 0 to 255");
    p.bus.adapter_count = int(v);
    return true;
}

bool read_adapter(parser& p, const tokens_t& tokens)
{
    uint32_t v;
    if (tokens.size() < 2 || tokens.size() > 3 || !parse_decimal(tokens[1].text, 255, &v))
        return p.fail("adapter needs a decimal number from 0 to 255");
    p.adapter = &p.bus.adapters[int(v)];
    p.in_unit = false;
    p.unit = nullptr;
    p.in_answer = false;
    p.in_block = false;
    if (tokens.size() == 3) {
        if (tokens[2].text != "reject")
            return p.fail("unknown word '" + std::string(tokens[2].text) + "' after adapter");
        p.adapter->reject = true;
    }
    return true;
}

// One of the three 16-byte identification fields of the adapter.
bool read_identification(parser& p, const tokens_t& tokens, int field)
{
    std::vector<uint8_t> bytes;
    uint64_t total = 0;
    if (!parse_bytes(p, tokens, 1, &bytes, &total))
        return false;
    if (bytes.size() > 16)
        return p.fail(std::string(tokens[0].text) + " longer than 16 bytes");
    if (!bytes.empty()) // an empty list leaves the field zero
        std::memcpy(p.adapter->ids + 16 * field, bytes.data(), bytes.size());
    return true;
}

bool read_manager(parser& p, const tokens_t& tokens) { return read_identification(p, tokens, 0); }
bool read_identity(parser& p, const tokens_t& tokens) { return read_identification(p, tokens, 1); }
bool read_unique(parser& p, const tokens_t& tokens) { return read_identification(p, tokens, 2); }

// targets COUNT [ID]: the adapter's bus has target IDs 0 to COUNT - 1, and ID
// is the adapter's own.
bool read_targets(parser& p, const tokens_t& tokens)
{
    uint32_t count, id = 0;
    if (tokens.size() < 2 || tokens.size() > 3 || !parse_decimal(tokens[1].text, 256, &count) || count == 0)
        return p.fail("targets needs a decimal count from 1 to 256 and may name the adapter's own ID");
    if (tokens.size() == 3 && (!parse_decimal(tokens[2].text, 255, &id) || id >= count))
        return p.fail("the adapter's own ID must be one of its " + std::to_string(count) + " target IDs");
    p.adapter->targets = int(count);
    p.adapter->own_id = tokens.size() == 3 ? int(id) : -1;
    return true;
}

// ---- units --------------------------------------------------------------

// Loading: a unit line starts a stretch of the unit's lines. A unit met for
// the first time is checked line by line as it goes; one met again is
// checked whole once the file has been read.
bool read_unit(parser& p, const tokens_t& tokens)
{
    int a, t, l;
    if (tokens.size() != 2 || !parse_address(tokens[1].text, &a, &t, &l))
        return p.fail("unit needs an address adapter:target:lun (decimal, each 0 to 255)");
    p.adapter = nullptr;
    p.in_unit = true;
    p.in_answer = false;
    p.in_block = false;
    uint32_t address = bus_address(a, t, l);
    add_segment(&p.bus.segments, {address, uint32_t(p.next_offset)});
    if (p.seen.add(address)) {
        p.continued.push_back(address);
        p.unit = nullptr;
        return true;
    }
    if (!p.charge(BUS_ITEM_COST))
        return false;
    p.scratch_unit = bus_unit();
    p.unit = &p.scratch_unit;
    p.block_numbers.clear();
    p.shape_ids.clear();
    return true;
}

// True when base, a folder with links followed, holds path.
bool lies_within(const std::filesystem::path& base, const std::filesystem::path& path)
{
    auto b = base.begin();
    auto q = path.begin();
    for (; b != base.end(); ++b, ++q) {
        // "/" canonical ends in an empty element on some systems.
        if (b->empty())
            continue;
        if (q == path.end() || *q != *b)
            return false;
    }
    return q != path.end();
}

// An image is a regular file (a FIFO would hold the run in open(), a
// device is no image of a unit), and a relative path (as written) stays
// inside the bus file's folder, whatever links lead there: a bus file sent
// from elsewhere cannot climb out with "..". An absolute path is taken as
// it stands.
bool check_image_path(parser& p, const std::string& written, const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code failed;
    fs::file_status status = fs::status(path, failed);
    if (failed || !fs::exists(status))
        return p.fail("cannot open image " + path);
    if (!fs::is_regular_file(status))
        return p.fail("image " + path + " is not a regular file");
    if (fs::path(written).has_root_path())
        return true;
    if (p.real_base.empty()) {
        p.real_base = fs::canonical(p.bus.base_dir.empty() ? "." : p.bus.base_dir, failed);
        if (failed)
            return p.fail("cannot find the folder of the bus file");
    }
    fs::path real = fs::canonical(path, failed);
    if (failed || !lies_within(p.real_base, real))
        return p.fail("image " + path + " lies outside the folder of the bus file");
    return true;
}

bool read_image(parser& p, const tokens_t& tokens)
{
    uint32_t length;
    if (tokens.size() != 3 || !parse_decimal(tokens[2].text, 65535, &length) || length == 0)
        return p.fail("image needs a path and a block length (decimal, 1 to 65535)");
    if (p.unit && p.unit->inline_medium)
        return p.fail("a unit reads either an image or the blocks of its medium line, not both");
    std::string written(tokens[1].text);
    std::string path = written;
    if (!path.empty() && path[0] != '/' && !p.bus.base_dir.empty())
        path = p.bus.base_dir + "/" + path;
    // One open file per image, whatever the number of units that read it:
    // a bus of hundreds of units does not run out of file handles. The file
    // is read through its container (a raw file as it is). It is opened
    // while loading; a unit's lines read later find it open.
    auto known = p.bus.images.find(path);
    if (known == p.bus.images.end()) {
        if (p.how != mode::check)
            return p.fail("cannot open image " + path);
        if (!check_image_path(p, written, path))
            return false;
        drive_handle_t handle = platform_open_path(path.c_str());
        if (handle == INVALID_DRIVE_HANDLE)
            return p.fail("cannot open image " + path);
        uint64_t size = 0;
        if (platform_size_bytes(handle, &size) != 0) {
            platform_close_drive(handle);
            return p.fail("cannot measure image " + path);
        }
        std::unique_ptr<container_image> opened;
        std::string error;
        if (open_container_handle(path.c_str(), handle, size, &opened, &error) != 0)
            return p.fail("image " + error);
        known = p.bus.images.emplace(path, std::move(opened)).first;
    } else if (p.how == mode::check && !check_image_path(p, written, path)) {
        return false;
    }
    if (p.unit) {
        p.unit->image = known->second;
        p.unit->block_length = length;
        p.unit->image_blocks = known->second->header.media_size / length;
    }
    return true;
}

bool read_attention(parser& p, const tokens_t& tokens)
{
    uint32_t v;
    if (tokens.size() != 2 || !parse_decimal(tokens[1].text, 1000000, &v))
        return p.fail("attention needs a decimal count");
    if (p.unit)
        p.unit->attention = long(v);
    return true;
}

// The shape of a pattern: its length and its ".." places.
uint32_t shape_id(int length, uint32_t wildcards) { return uint32_t(length) << 16 | wildcards; }

// load: counts the answer in its shape, or (filling) adds its record.
bool index_answer(parser& p, const std::array<int, 16>& pattern, int length, uint32_t wildcards, int compared)
{
    std::vector<answer_shape>& shapes = p.unit->shapes;
    size_t n = 0;
    while (n < shapes.size() && shape_id(shapes[n].length, shapes[n].wildcards) != shape_id(length, wildcards))
        n++;
    if (n == shapes.size()) {
        if (p.filling)
            return p.fail("a kind of pattern not met before");
        // Too many kinds is said once the unit's every line is checked.
        if (shapes.size() >= BUS_SHAPE_LIMIT) {
            p.shapes_exceeded = true;
            return true;
        }
        answer_shape shape;
        shape.length = uint8_t(length);
        shape.wildcards = uint16_t(wildcards);
        shape.compared = uint8_t(compared);
        shapes.push_back(std::move(shape));
        p.shape_counts.push_back(0);
    }
    answer_shape& shape = shapes[n];
    uint8_t key[16];
    size_t k = 0;
    for (int i = 0; i < length; i++)
        if (pattern[size_t(i)] >= 0)
            key[k++] = uint8_t(i == 1 ? pattern[1] & 0x1F : pattern[size_t(i)]);
    if (!p.filling) {
        // The bytes in which the shape's keys differ from its first.
        if (p.shape_counts[n]++ == 0)
            std::copy(key, key + k, shape.same.begin());
        for (size_t i = 0; i < k; i++)
            if (key[i] != shape.same[i])
                shape.differing = uint16_t(shape.differing | 1u << i);
        return true;
    }
    for (size_t i = 0; i < k; i++)
        if (shape.differing & (1u << i))
            shape.records.push_back(key[i]);
    uint8_t offset[4];
    put_be32(offset, uint32_t(p.line_offset));
    shape.records.insert(shape.records.end(), offset, offset + 4);
    return true;
}

bool read_on(parser& p, const tokens_t& tokens)
{
    std::array<int, 16> pattern{};
    uint32_t v, wildcards = 0;
    int compared = 0;
    if (tokens.size() < 2 || tokens.size() > 17)
        return p.fail("on needs 1 to 16 command block bytes");
    if (!p.charge(BUS_ITEM_COST))
        return false;
    for (size_t i = 1; i < tokens.size(); i++) {
        if (tokens[i].text == "..") {
            pattern[i - 1] = -1;
            wildcards |= 1u << (i - 1);
        } else if (tokens[i].text.size() == 2 && parse_hex(tokens[i].text, 0xFF, &v)) {
            pattern[i - 1] = int(v);
            compared++;
        } else {
            return p.fail("bad command block byte '" + std::string(tokens[i].text) + "'");
        }
    }
    p.in_answer = true;
    p.in_block = false;
    p.content_bytes = 0;
    p.sense_bytes = 0;
    int length = int(tokens.size() - 1);
    if (p.how == mode::load)
        return index_answer(p, pattern, length, wildcards, compared);
    // Loading: the kinds of pattern of a unit are bounded; the first unit
    // over the bound is named once every line has been checked.
    if (p.unit && p.shape_ids.insert(shape_id(length, wildcards)).second && p.shape_ids.size() > BUS_SHAPE_LIMIT &&
        !p.shapes_over) {
        p.shapes_over = true;
        p.shapes_over_address = p.bus.segments.last.address;
        p.shapes_over_offset = p.bus.segments.last.offset;
    }
    return true;
}

// medium COUNT LEN: READ CAPACITY and READ(10) are answered from the block
// lines that follow.
bool read_medium(parser& p, const tokens_t& tokens)
{
    uint32_t count, length;
    if (tokens.size() != 3 || !parse_decimal(tokens[1].text, 0xFFFFFFFF, &count) ||
        !parse_decimal(tokens[2].text, 65535, &length) || length == 0)
        return p.fail("medium needs a block count (decimal, up to 4294967295) and a block length (decimal, 1 to "
                      "65535)");
    if (!p.unit)
        return true;
    if (p.unit->image)
        return p.fail("a unit reads either an image or the blocks of its medium line, not both");
    if (p.unit->inline_medium)
        return p.fail("a second medium line for this unit");
    p.unit->inline_medium = true;
    p.unit->block_length = length;
    p.unit->image_blocks = count;
    return true;
}

// block N: the data lines that follow are the content of block N.
bool read_block(parser& p, const tokens_t& tokens)
{
    uint32_t number;
    if (p.unit && !p.unit->inline_medium)
        return p.fail("block before the unit's medium line");
    if (tokens.size() != 2 || !parse_decimal(tokens[1].text, 0xFFFFFFFF, &number))
        return p.fail("block needs a decimal block number");
    if (p.unit && number >= p.unit->image_blocks)
        return p.fail("block " + std::to_string(number) + " lies past the end of the medium");
    if (!p.charge(BUS_ITEM_COST))
        return false;
    if (p.unit && !p.block_numbers.insert(number).second)
        return p.fail("block " + std::to_string(number) + " is described twice");
    if (p.how == mode::load && p.filling)
        p.unit->blocks.push_back({number, uint32_t(p.line_offset)});
    p.in_answer = false;
    p.in_block = true;
    p.content_bytes = 0;
    return true;
}

// ---- answers ------------------------------------------------------------

// Into the answer, or into the block of the medium that a block line began.
bool read_data(parser& p, const tokens_t& tokens)
{
    std::vector<uint8_t>* out = p.how == mode::read ? &p.answer->data : nullptr;
    if (!parse_bytes(p, tokens, 1, out, &p.content_bytes))
        return false;
    if (p.in_block && p.unit && p.content_bytes > p.unit->block_length)
        return p.fail("block data longer than the block length of " + std::to_string(p.unit->block_length) +
                      " bytes");
    return true;
}

bool read_sense(parser& p, const tokens_t& tokens)
{
    std::vector<uint8_t>* out = p.how == mode::read ? &p.answer->sense : nullptr;
    if (!parse_bytes(p, tokens, 1, out, &p.sense_bytes))
        return false;
    if (p.sense_bytes > SENSE_LEN)
        return p.fail("sense longer than 14 bytes");
    return true;
}

bool read_hang(parser& p, const tokens_t& tokens)
{
    p.answer->hang = true;
    return tokens.size() == 1 || p.fail("hang takes no argument");
}

// A status or transfer line: one number, hexadecimal or decimal, into one
// field of the answer.
template <typename T, T bus_answer::*field, bool hex, uint32_t limit>
bool read_number(parser& p, const tokens_t& tokens)
{
    uint32_t v;
    if (tokens.size() != 2)
        return p.fail(std::string(tokens[0].text) + " needs one argument");
    if (!(hex ? parse_hex(tokens[1].text, limit, &v) : parse_decimal(tokens[1].text, limit, &v)))
        return p.fail("bad argument '" + std::string(tokens[1].text) + "' for " + std::string(tokens[0].text));
    p.answer->*field = T(v);
    return true;
}

// ---- a trace's first and last lines -----------------------------------

bool read_trace(parser& p, const tokens_t& tokens)
{
    p.is_trace = true;
    return tokens.size() == 1 || p.fail("trace takes no argument");
}

bool read_end(parser& p, const tokens_t& tokens)
{
    p.end_line = p.line;
    if (tokens.size() == 2 && tokens[1].text == TRACE_INTERRUPTED_WORD)
        p.bus.interrupted_line = p.line;
    return tokens.size() == 1 || p.bus.interrupted_line || p.fail("end takes no argument but 'interrupted'");
}

// ---- the keyword table ----------------------------------------------

// The block a keyword's line must stand in; contents: an answer or a block
// of the medium.
enum class block { any, adapter, unit, answer, contents };

// What a line is to a unit's lines read again: one that ends the unit's
// stretch (unit, adapter), one of the unit's own, one of an answer's or a
// block's contents, or one that belongs to neither (the manager's lines, an
// adapter's fields, a trace's first and last lines).
enum class role { other, ends_unit, unit_line, content };

struct keyword {
    std::string_view word;
    block within;
    role is;
    bool (*read)(parser&, const tokens_t&);
};

const keyword keywords[] = {
    {"support", block::any, role::other, read_support},
    {"adapters", block::any, role::other, read_adapters},
    {"adapter", block::any, role::ends_unit, read_adapter},
    {"manager", block::adapter, role::other, read_manager},
    {"identity", block::adapter, role::other, read_identity},
    {"unique", block::adapter, role::other, read_unique},
    {"targets", block::adapter, role::other, read_targets},
    {"unit", block::any, role::ends_unit, read_unit},
    {"image", block::unit, role::unit_line, read_image},
    {"attention", block::unit, role::unit_line, read_attention},
    {"on", block::unit, role::unit_line, read_on},
    {"medium", block::unit, role::unit_line, read_medium},
    {"block", block::unit, role::unit_line, read_block},
    {"data", block::contents, role::content, read_data},
    {"sense", block::answer, role::content, read_sense},
    {"status", block::answer, role::content, read_number<uint8_t, &bus_answer::target_status, true, 0xFF>},
    {"host-status", block::answer, role::content, read_number<uint8_t, &bus_answer::host_status, true, 0xFF>},
    {"request-status", block::answer, role::content, read_number<int, &bus_answer::request_status, true, 0xFF>},
    {"short", block::answer, role::content, read_number<long, &bus_answer::transfer_limit, false, 0x7FFFFFFF>},
    {"hang", block::answer, role::content, read_hang},
    {TRACE_KEYWORD, block::any, role::other, read_trace},
    {TRACE_END_KEYWORD, block::any, role::other, read_end},
};

const keyword* find_keyword(std::string_view word)
{
    for (const keyword& k : keywords)
        if (word == k.word)
            return &k;
    return nullptr;
}

// Loading: a line checked as it stands in the file.
bool parse_line(parser& p, const tokens_t& tokens)
{
    std::string word(tokens[0].text);
    if (tokens[0].quoted)
        return p.fail("a line must start with a keyword");
    if (p.end_line)
        return p.fail("a line after the end line");
    const keyword* k = find_keyword(word);
    if (!k)
        return p.fail("unknown word '" + word + "'");
    if (k->within == block::adapter && !p.adapter)
        return p.fail(word + " outside an adapter block");
    if (k->within == block::unit && !p.in_unit)
        return p.fail(word + " outside a unit block");
    if ((k->within == block::answer || (k->within == block::contents && !p.in_block)) && !p.in_answer)
        return p.fail(word + " outside an answer (an 'on' line comes first)");
    return k->read(p, tokens);
}

// Reads the lines of a unit's stretch from offset to the next unit or
// adapter line (or limit): its own lines, and the data of its blocks, whose
// size its medium bounds. An answer's lines were checked while loading and
// are passed over by their first word.
bool walk_unit_lines(parser& p, uint64_t offset, uint64_t limit)
{
    p.in_unit = true;
    p.in_answer = false;
    p.in_block = false;
    std::string text;
    tokens_t tokens;
    uint64_t next = 0;
    while (offset < limit) {
        int got = read_bus_line(p.bus.source, offset, &text, &next);
        if (got == 0)
            return true;
        p.line_offset = offset;
        if (got < 0)
            return p.fail("cannot read the bus file");
        offset = next;
        std::string_view word = first_word(text);
        if (word.empty())
            continue;
        const keyword* k = find_keyword(word);
        if (!k)
            return p.fail("unknown word '" + std::string(word) + "'");
        if (k->is == role::ends_unit)
            return true;
        if (k->is != role::unit_line && !(k->read == read_data && p.in_block))
            continue;
        tokens.clear();
        if (!split_line(p, text, &tokens) || !k->read(p, tokens))
            return false;
    }
    return true;
}

// The number of the line that starts at offset.
int line_at(bus_source& source, uint64_t offset)
{
    int line = 1;
    if (source.file == INVALID_DRIVE_HANDLE) {
        size_t end = size_t(std::min<uint64_t>(offset, source.text.size()));
        return line + int(std::count(source.text.begin(), source.text.begin() + long(end), '\n'));
    }
    std::vector<uint8_t> piece(1 << 16);
    for (uint64_t at = 0; at < offset && at < source.size;) {
        uint32_t n = uint32_t(std::min<uint64_t>({piece.size(), offset - at, source.size - at}));
        if (platform_read_at(source.file, at, piece.data(), n) != 0)
            break;
        line += int(std::count(piece.begin(), piece.begin() + n, uint8_t('\n')));
        at += n;
    }
    return line;
}

} // namespace

int read_bus_line(bus_source& source, uint64_t offset, std::string* line, uint64_t* next)
{
    if (source.file == INVALID_DRIVE_HANDLE) {
        if (offset >= source.text.size())
            return 0;
        size_t end = source.text.find('\n', size_t(offset));
        if (end == std::string::npos)
            end = source.text.size();
        if (end - offset > BUS_LINE_LIMIT)
            return -2;
        line->assign(source.text, size_t(offset), end - size_t(offset));
        *next = end + 1;
        return 1;
    }
    if (offset >= source.size)
        return 0;
    size_t want = size_t(1) << 16;
    for (;;) {
        uint64_t window_end = source.window_start + source.window.size();
        if (offset >= source.window_start && offset < window_end) {
            const char* begin = source.window.data() + (offset - source.window_start);
            size_t held = size_t(window_end - offset);
            const void* found = std::memchr(begin, '\n', held);
            size_t length = found ? size_t(static_cast<const char*>(found) - begin) : held;
            if (length > BUS_LINE_LIMIT)
                return -2;
            if (found || window_end >= source.size) {
                line->assign(begin, length);
                *next = offset + length + 1;
                return 1;
            }
            // The line goes on past the piece: read it again from its start,
            // twice as much.
            want = std::max(want, 2 * held);
        }
        uint64_t left = source.size - offset;
        size_t n = size_t(std::min<uint64_t>(want, left));
        source.window.resize(n);
        source.window_start = offset;
        if (platform_read_at(source.file, offset, reinterpret_cast<uint8_t*>(source.window.data()), uint32_t(n)) != 0) {
            source.window.clear();
            return -1;
        }
    }
}

int load_bus_unit(bus_description& bus, uint32_t address, uint64_t limit, bus_unit* unit, uint64_t* error_offset,
                  std::string* reason)
{
    parser p(bus, mode::load);
    p.unit = unit;
    // First the unit's rules and how many answers each shape holds, then
    // the records, each shape's allocated once at its size.
    for (int walk = 0; walk < 2; walk++) {
        if (walk == 1) {
            if (p.shapes_exceeded)
                return -2;
            std::vector<answer_shape> shapes = std::move(unit->shapes);
            *unit = bus_unit();
            unit->shapes = std::move(shapes);
            for (size_t n = 0; n < unit->shapes.size(); n++) {
                answer_shape& shape = unit->shapes[n];
                for (int i = 0; i < shape.compared; i++)
                    if (shape.differing & (1u << i))
                        shape.kept++;
                shape.records.reserve(p.shape_counts[n] * shape.record_size());
            }
            unit->blocks.reserve(p.block_numbers.size());
            p.block_numbers.clear();
            p.filling = true;
        }
        unit->adapter = int(address >> 16);
        unit->target = int((address >> 8) & 0xFF);
        unit->lun = int(address & 0xFF);
        segment_cursor cursor = seek_segments(bus.segments, address);
        bus_segment s;
        while (next_segment(&cursor, &s) && s.address == address && s.offset < limit) {
            if (!walk_unit_lines(p, s.offset, limit)) {
                *error_offset = p.line_offset;
                *reason = p.reason;
                return -1;
            }
        }
    }
    std::sort(unit->blocks.begin(), unit->blocks.end(),
              [](const bus_block& a, const bus_block& b) { return a.number < b.number; });
    for (answer_shape& shape : unit->shapes) {
        sort_answer_records(&shape);
        shape.consumed.assign(shape.count(), false);
    }
    return 0;
}

int read_bus_answer(bus_description& bus, uint64_t offset, bus_answer* answer)
{
    parser p(bus, mode::read);
    p.answer = answer;
    std::string text;
    tokens_t tokens;
    uint64_t next = 0;
    // Its on line (or block line), then its contents up to the next line
    // that starts something else.
    if (read_bus_line(bus.source, offset, &text, &next) != 1 || !split_line(p, text, &tokens) || tokens.empty())
        return -1;
    const keyword* k = find_keyword(tokens[0].text);
    if (!k || (k->read != read_on && k->read != read_block) || !k->read(p, tokens))
        return -1;
    for (offset = next;; offset = next) {
        int got = read_bus_line(bus.source, offset, &text, &next);
        if (got == 0)
            return 0;
        if (got < 0)
            return -1;
        std::string_view word = first_word(text);
        if (word.empty())
            continue;
        k = find_keyword(word);
        if (!k)
            return -1;
        if (k->is == role::ends_unit || k->read == read_on || k->read == read_block)
            return 0;
        if (k->is != role::content)
            continue;
        tokens.clear();
        if (!split_line(p, text, &tokens) || (p.in_block && k->read != read_data) || !k->read(p, tokens))
            return -1;
    }
}

int parse_bus_source(bus_description* bus, std::string* error)
{
    parser p(*bus, mode::check);
    std::string text;
    tokens_t tokens;
    uint64_t offset = 0, next = 0;
    bool line_failed = false;
    for (;; offset = next) {
        int got = read_bus_line(bus->source, offset, &text, &next);
        if (got == 0)
            break;
        p.line++;
        p.line_offset = offset;
        p.next_offset = next;
        if (got < 0) {
            p.fail(got == -2 ? "line longer than " + std::to_string(BUS_LINE_LIMIT >> 20) + " MiB"
                             : std::string("cannot read the bus file"));
            line_failed = true;
            break;
        }
        // A byte order mark at the start, as editors write, is blank space.
        if (offset == 0 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
            text.erase(0, 3);
        tokens.clear();
        if (!split_line(p, text, &tokens) || (!tokens.empty() && !parse_line(p, tokens))) {
            line_failed = true;
            break;
        }
    }
    int error_line = line_failed ? p.line : 0;
    std::string error_reason = p.reason;
    finish_segments(&bus->segments);
    // A unit described in several stretches is checked whole here, up to
    // the line that failed if one did: the error told is the first in the
    // file.
    std::sort(p.continued.begin(), p.continued.end());
    p.continued.erase(std::unique(p.continued.begin(), p.continued.end()), p.continued.end());
    uint64_t limit = line_failed ? p.line_offset : UINT64_MAX;
    for (uint32_t address : p.continued) {
        auto unit = std::make_unique<bus_unit>();
        uint64_t at = 0;
        std::string why;
        int loaded = load_bus_unit(*bus, address, limit, unit.get(), &at, &why);
        if (loaded == -1) {
            int line = line_at(bus->source, at);
            if (!error_line || line < error_line) {
                error_line = line;
                error_reason = why;
            }
        } else if (loaded == -2) {
            segment_cursor cursor = seek_segments(bus->segments, address);
            bus_segment first{};
            next_segment(&cursor, &first);
            uint64_t start = first.offset;
            if (!p.shapes_over || start < p.shapes_over_offset) {
                p.shapes_over = true;
                p.shapes_over_address = address;
                p.shapes_over_offset = start;
            }
        } else if (!error_line) {
            bus->loaded[address] = std::move(unit);
        }
    }
    if (error_line) {
        *error = bus->name + ":" + std::to_string(error_line) + ": " + error_reason;
        return -1;
    }
    // Traces written before they had the trace and end lines replay as
    // they always did: nothing tells a cut one from a whole one.
    if (p.is_trace && !p.end_line) {
        *error = bus->name + ":" + std::to_string(p.line) + ": the trace is cut short: it has no end line";
        return -1;
    }
    if (p.shapes_over) {
        uint32_t a = p.shapes_over_address;
        *error = bus->name + ": unit " + std::to_string(a >> 16) + ":" + std::to_string((a >> 8) & 0xFF) + ":" +
                 std::to_string(a & 0xFF) + " has answers of more than " + std::to_string(BUS_SHAPE_LIMIT) +
                 " kinds of pattern (lengths and '..' places)";
        return -1;
    }
    return 0;
}

std::string bus_file_too_large(const std::string& name)
{
    return name + ": the bus file is larger than " + std::to_string(BUS_FILE_LIMIT >> 20) + " MiB";
}

int parse_bus_text(const std::string& text, const char* name, const char* base_dir, bus_description* bus,
                   std::string* error)
{
    bus->name = name;
    bus->base_dir = base_dir ? base_dir : "";
    if (text.size() > BUS_FILE_LIMIT) {
        *error = bus_file_too_large(bus->name);
        return -1;
    }
    bus->source.text = text;
    return parse_bus_source(bus, error);
}
