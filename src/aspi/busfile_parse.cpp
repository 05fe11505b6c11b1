// The bus file parser: turns the text of a bus file (docs/bus-file.md) into
// a bus description. Each keyword has one row in the table at the bottom:
// the block it belongs to and the function that reads its arguments.
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "aspi/busfile.h"
#include "aspi/trace_file.h"
#include "format/format.h"

namespace {

struct token {
    std::string text;
    bool quoted;
};

struct parser {
    std::string name;
    std::string base_dir;
    int line = 0;
    std::string error;
    bus_description bus;
    bus_adapter* adapter = nullptr;
    bus_unit* unit = nullptr;
    bus_answer* current = nullptr;
    std::vector<uint8_t>* block_data = nullptr; // the block that data lines fill
    std::map<std::string, std::shared_ptr<container_image>> images; // by path
    bool is_trace = false; // a trace line: the file must end with its end line
    int end_line = 0;      // where the end line stands, 0 before it
    std::filesystem::path real_base; // base_dir with links followed, once known
    uint64_t held = 0;               // what the description holds, in bytes

    // Reasons carry words of the file: their bytes are made visible.
    bool fail(const std::string& reason)
    {
        if (error.empty())
            error = name + ":" + std::to_string(line) + ": " + visible_text(reason);
        return false;
    }

    // Counts what the description will hold; false (error set) past the bound.
    bool charge(uint64_t bytes)
    {
        held += bytes;
        return held <= BUS_MEMORY_LIMIT ||
               fail("the units and answers of this bus file take more than " +
                    std::to_string(BUS_MEMORY_LIMIT >> 20) + " MiB");
    }
};

using tokens_t = std::vector<token>;

bool split_line(parser& p, const std::string& text, tokens_t* tokens)
{
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
            tokens->push_back({value, true});
        } else {
            size_t start = i;
            while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '"' &&
                   text[i] != '#')
                i++;
            tokens->push_back({text.substr(start, i - start), false});
        }
    }
    return true;
}

// A whole text of digits in base 16 or 10, at most limit.
bool parse_number(const std::string& text, int base, uint32_t limit, uint32_t* value)
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

bool parse_hex(const std::string& text, uint32_t limit, uint32_t* value) { return parse_number(text, 16, limit, value); }

bool parse_decimal(const std::string& text, uint32_t limit, uint32_t* value)
{
    return parse_number(text, 10, limit, value);
}

// A byte list from tokens[first..]: hex bytes, quoted texts, "zeros N".
bool parse_bytes(parser& p, const tokens_t& tokens, size_t first, std::vector<uint8_t>* out)
{
    size_t before = out->size();
    for (size_t i = first; i < tokens.size(); i++) {
        const token& t = tokens[i];
        if (t.quoted) {
            out->insert(out->end(), t.text.begin(), t.text.end());
        } else if (t.text == "zeros") {
            uint32_t n;
            if (i + 1 >= tokens.size() || !parse_decimal(tokens[i + 1].text, 1u << 20, &n))
                return p.fail("zeros needs a decimal count up to 1048576");
            out->insert(out->end(), n, 0);
            i++;
        } else {
            uint32_t v;
            if (t.text.size() != 2 || !parse_hex(t.text, 0xFF, &v))
                return p.fail("bad byte '" + t.text + "' (two hexadecimal digits expected)");
            out->push_back(uint8_t(v));
        }
        if (out->size() > (1u << 20))
            return p.fail("byte list longer than 1 MiB");
    }
    return p.charge(out->size() - before);
}

bool parse_address(const std::string& text, int* adapter, int* target, int* lun)
{
    uint32_t v[3];
    size_t start = 0;
    for (int i = 0; i < 3; i++) {
        size_t end = text.find(':', start);
        if ((i < 2) != (end != std::string::npos))
            return false;
        if (!parse_decimal(text.substr(start, end == std::string::npos ? end : end - start), 255, &v[i]))
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
    p.unit = nullptr;
    p.current = nullptr;
    p.block_data = nullptr;
    if (tokens.size() == 3) {
        if (tokens[2].text != "reject")
            return p.fail("unknown word '" + tokens[2].text + "' after adapter");
        p.adapter->reject = true;
    }
    return true;
}

// One of the three 16-byte identification fields of the adapter.
bool read_identification(parser& p, const tokens_t& tokens, int field)
{
    std::vector<uint8_t> bytes;
    if (!parse_bytes(p, tokens, 1, &bytes))
        return false;
    if (bytes.size() > 16)
        return p.fail(tokens[0].text + " longer than 16 bytes");
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

bool read_unit(parser& p, const tokens_t& tokens)
{
    int a, t, l;
    if (tokens.size() != 2 || !parse_address(tokens[1].text, &a, &t, &l))
        return p.fail("unit needs an address adapter:target:lun (decimal, each 0 to 255)");
    p.adapter = nullptr;
    p.current = nullptr;
    p.block_data = nullptr;
    p.unit = find_bus_unit(p.bus, a, t, l);
    if (!p.unit) {
        if (!p.charge(BUS_ITEM_COST))
            return false;
        p.unit = add_bus_unit(p.bus, a, t, l);
    }
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
        p.real_base = fs::canonical(p.base_dir.empty() ? "." : p.base_dir, failed);
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
    if (p.unit->inline_medium)
        return p.fail("a unit reads either an image or the blocks of its medium line, not both");
    std::string path = tokens[1].text;
    if (!path.empty() && path[0] != '/' && !p.base_dir.empty())
        path = p.base_dir + "/" + path;
    if (!check_image_path(p, tokens[1].text, path))
        return false;
    // One open file per image, whatever the number of units that read it:
    // a bus of hundreds of units does not run out of file handles. The file
    // is read through its container (a raw file as it is).
    std::shared_ptr<container_image>& file = p.images[path];
    if (!file) {
        drive_handle_t handle = platform_open_path(path.c_str());
        if (handle == INVALID_DRIVE_HANDLE) {
            p.images.erase(path);
            return p.fail("cannot open image " + path);
        }
        uint64_t size = 0;
        if (platform_size_bytes(handle, &size) != 0) {
            platform_close_drive(handle);
            p.images.erase(path);
            return p.fail("cannot measure image " + path);
        }
        std::unique_ptr<container_image> opened;
        std::string error;
        if (open_container_handle(path.c_str(), handle, size, &opened, &error) != 0) {
            p.images.erase(path);
            return p.fail("image " + error);
        }
        file = std::move(opened);
    }
    p.unit->image_path = path;
    p.unit->image = file;
    p.unit->block_length = length;
    p.unit->image_blocks = file->header.media_size / length;
    return true;
}

bool read_attention(parser& p, const tokens_t& tokens)
{
    uint32_t v;
    if (tokens.size() != 2 || !parse_decimal(tokens[1].text, 1000000, &v))
        return p.fail("attention needs a decimal count");
    p.unit->attention = long(v);
    return true;
}

bool read_on(parser& p, const tokens_t& tokens)
{
    bus_answer a;
    uint32_t v;
    if (tokens.size() < 2 || tokens.size() > 17)
        return p.fail("on needs 1 to 16 command block bytes");
    if (!p.charge(BUS_ITEM_COST))
        return false;
    for (size_t i = 1; i < tokens.size(); i++) {
        if (tokens[i].text == "..") {
            a.pattern.push_back(-1);
        } else if (tokens[i].text.size() == 2 && parse_hex(tokens[i].text, 0xFF, &v)) {
            a.pattern.push_back(int(v));
            a.compared++;
        } else {
            return p.fail("bad command block byte '" + tokens[i].text + "'");
        }
    }
    p.unit->answers.push_back(std::move(a));
    p.current = &p.unit->answers.back();
    p.block_data = nullptr;
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
    if (!p.unit->inline_medium)
        return p.fail("block before the unit's medium line");
    if (tokens.size() != 2 || !parse_decimal(tokens[1].text, 0xFFFFFFFF, &number))
        return p.fail("block needs a decimal block number");
    if (number >= p.unit->image_blocks)
        return p.fail("block " + std::to_string(number) + " lies past the end of the medium");
    if (!p.charge(BUS_ITEM_COST))
        return false;
    auto entry = p.unit->blocks.emplace(number, std::vector<uint8_t>());
    if (!entry.second)
        return p.fail("block " + std::to_string(number) + " is described twice");
    p.current = nullptr;
    p.block_data = &entry.first->second;
    return true;
}

// ---- answers ------------------------------------------------------------

// Into the answer, or into the block of the medium that a block line began.
bool read_data(parser& p, const tokens_t& tokens)
{
    if (!p.block_data)
        return parse_bytes(p, tokens, 1, &p.current->data);
    if (!parse_bytes(p, tokens, 1, p.block_data))
        return false;
    if (p.block_data->size() > p.unit->block_length)
        return p.fail("block data longer than the block length of " + std::to_string(p.unit->block_length) +
                      " bytes");
    return true;
}

bool read_sense(parser& p, const tokens_t& tokens)
{
    if (!parse_bytes(p, tokens, 1, &p.current->sense))
        return false;
    if (p.current->sense.size() > SENSE_LEN)
        return p.fail("sense longer than 14 bytes");
    return true;
}

bool read_hang(parser& p, const tokens_t& tokens)
{
    p.current->hang = true;
    return tokens.size() == 1 || p.fail("hang takes no argument");
}

// A status or transfer line: one number, hexadecimal or decimal, into one
// field of the answer.
template <typename T, T bus_answer::*field, bool hex, uint32_t limit>
bool read_number(parser& p, const tokens_t& tokens)
{
    uint32_t v;
    if (tokens.size() != 2)
        return p.fail(tokens[0].text + " needs one argument");
    if (!(hex ? parse_hex(tokens[1].text, limit, &v) : parse_decimal(tokens[1].text, limit, &v)))
        return p.fail("bad argument '" + tokens[1].text + "' for " + tokens[0].text);
    p.current->*field = T(v);
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

struct keyword {
    const char* word;
    block within;
    bool (*read)(parser&, const tokens_t&);
};

const keyword keywords[] = {
    {"support", block::any, read_support},
    {"adapters", block::any, read_adapters},
    {"adapter", block::any, read_adapter},
    {"manager", block::adapter, read_manager},
    {"identity", block::adapter, read_identity},
    {"unique", block::adapter, read_unique},
    {"targets", block::adapter, read_targets},
    {"unit", block::any, read_unit},
    {"image", block::unit, read_image},
    {"attention", block::unit, read_attention},
    {"on", block::unit, read_on},
    {"medium", block::unit, read_medium},
    {"block", block::unit, read_block},
    {"data", block::contents, read_data},
    {"sense", block::answer, read_sense},
    {"status", block::answer, read_number<uint8_t, &bus_answer::target_status, true, 0xFF>},
    {"host-status", block::answer, read_number<uint8_t, &bus_answer::host_status, true, 0xFF>},
    {"request-status", block::answer, read_number<int, &bus_answer::request_status, true, 0xFF>},
    {"short", block::answer, read_number<long, &bus_answer::transfer_limit, false, 0x7FFFFFFF>},
    {"hang", block::answer, read_hang},
    {TRACE_KEYWORD, block::any, read_trace},
    {TRACE_END_KEYWORD, block::any, read_end},
};

bool parse_line(parser& p, const tokens_t& tokens)
{
    const std::string& word = tokens[0].text;
    if (tokens[0].quoted)
        return p.fail("a line must start with a keyword");
    if (p.end_line)
        return p.fail("a line after the end line");
    for (const keyword& k : keywords) {
        if (word != k.word)
            continue;
        if (k.within == block::adapter && !p.adapter)
            return p.fail(word + " outside an adapter block");
        if (k.within == block::unit && !p.unit)
            return p.fail(word + " outside a unit block");
        if ((k.within == block::answer || (k.within == block::contents && !p.block_data)) && !p.current)
            return p.fail(word + " outside an answer (an 'on' line comes first)");
        return k.read(p, tokens);
    }
    return p.fail("unknown word '" + word + "'");
}

} // namespace

int parse_bus_text(const std::string& text, const char* name, const char* base_dir, bus_description* bus,
                   std::string* error)
{
    parser p;
    p.name = name;
    p.base_dir = base_dir ? base_dir : "";
    std::string line_text;
    tokens_t tokens;
    // A byte order mark at the start, as editors write, is blank space.
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    // Line by line out of the text itself, without a copy of it.
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        p.line++;
        if (end - start > BUS_LINE_LIMIT) {
            p.fail("line longer than " + std::to_string(BUS_LINE_LIMIT >> 20) + " MiB");
            *error = p.error;
            return -1;
        }
        line_text.assign(text, start, end - start);
        start = end + 1;
        tokens.clear();
        if (!split_line(p, line_text, &tokens) || (!tokens.empty() && !parse_line(p, tokens))) {
            *error = p.error;
            return -1;
        }
    }
    // Traces written before they had the trace and end lines replay as
    // they always did: nothing tells a cut one from a whole one.
    if (p.is_trace && !p.end_line) {
        *error = p.name + ":" + std::to_string(p.line) + ": the trace is cut short: it has no end line";
        return -1;
    }
    for (auto& unit : p.bus.units) {
        if (index_bus_answers(unit.get()) != 0) {
            *error = p.name + ": unit " + std::to_string(unit->adapter) + ":" + std::to_string(unit->target) + ":" +
                     std::to_string(unit->lun) + " has answers of more than " + std::to_string(BUS_SHAPE_LIMIT) +
                     " kinds of pattern (lengths and '..' places)";
            return -1;
        }
    }
    *bus = std::move(p.bus);
    return 0;
}
