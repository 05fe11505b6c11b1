// The bus file manager: replays a text description of a SCSI bus (the
// format is described in docs/bus-file.md). It is the default bus of the
// samples, the test double of the test suite, and the replay side of -trace.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/scsi_commands.h"
#include "format/bytes.h"

namespace {

struct answer {
    std::vector<int> pattern; // command block bytes; -1 matches any byte
    int compared = 0;         // how many bytes the pattern compares
    std::vector<uint8_t> data;
    std::vector<uint8_t> sense;
    uint8_t target_status = STATUS_GOOD;
    uint8_t host_status = HASTAT_OK;
    int request_status = -1; // -1: derived from the other statuses
    long transfer_limit = -1;
    bool hang = false;
    bool used = false;
};

struct unit_description {
    int adapter = 0, target = 0, lun = 0;
    std::string image_path;
    std::shared_ptr<std::ifstream> image; // shared by the units of one file
    uint32_t block_length = 0;
    uint64_t image_blocks = 0;
    long attention = 0;
    std::vector<answer> answers;
};

struct adapter_description {
    bool reject = false;
    uint8_t ids[48] = {};
};

struct bus_description {
    uint32_t support = 0;
    bool support_given = false;
    int adapter_count = 1;
    std::map<int, adapter_description> adapters;
    std::vector<std::unique_ptr<unit_description>> units;
};

bus_description the_bus;

// ---- parsing ------------------------------------------------------------

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
    adapter_description* adapter = nullptr;
    unit_description* unit = nullptr;
    answer* current = nullptr;
    std::map<std::string, std::shared_ptr<std::ifstream>> images; // by path

    bool fail(const std::string& reason)
    {
        if (error.empty())
            error = name + ":" + std::to_string(line) + ": " + reason;
        return false;
    }
};

bool split_line(parser& p, const std::string& text, std::vector<token>* tokens)
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

bool parse_hex(const std::string& text, uint32_t limit, uint32_t* value)
{
    if (text.empty() || text.size() > 8)
        return false;
    uint32_t v = 0;
    for (char c : text) {
        if (!isxdigit(uint8_t(c)))
            return false;
        v = v * 16 + uint32_t(isdigit(uint8_t(c)) ? c - '0' : (tolower(c) - 'a' + 10));
    }
    if (v > limit)
        return false;
    *value = v;
    return true;
}

bool parse_decimal(const std::string& text, uint32_t limit, uint32_t* value)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (!isdigit(uint8_t(c)))
            return false;
        v = v * 10 + uint32_t(c - '0');
    }
    if (v > limit)
        return false;
    *value = uint32_t(v);
    return true;
}

// A byte list from tokens[first..]: hex bytes, quoted texts, "zeros N".
bool parse_bytes(parser& p, const std::vector<token>& tokens, size_t first, std::vector<uint8_t>* out)
{
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
    return true;
}

bool parse_identification(parser& p, const std::vector<token>& tokens, int field)
{
    if (!p.adapter)
        return p.fail(tokens[0].text + " outside an adapter block");
    std::vector<uint8_t> bytes;
    if (!parse_bytes(p, tokens, 1, &bytes))
        return false;
    if (bytes.size() > 16)
        return p.fail(tokens[0].text + " longer than 16 bytes");
    if (!bytes.empty()) // an empty list leaves the field zero
        std::memcpy(p.adapter->ids + 16 * field, bytes.data(), bytes.size());
    return true;
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

unit_description* find_unit(bus_description& bus, int adapter, int target, int lun)
{
    for (auto& u : bus.units)
        if (u->adapter == adapter && u->target == target && u->lun == lun)
            return u.get();
    return nullptr;
}

bool open_image(parser& p, const std::vector<token>& tokens)
{
    uint32_t length;
    if (tokens.size() != 3 || !parse_decimal(tokens[2].text, 65535, &length) || length == 0)
        return p.fail("image needs a path and a block length (decimal, 1 to 65535)");
    std::string path = tokens[1].text;
    if (!path.empty() && path[0] != '/' && !p.base_dir.empty())
        path = p.base_dir + "/" + path;
    // One unbuffered stream per image file, whatever the number of units
    // that read it: every read positions the stream first, and a bus of
    // hundreds of units neither runs out of file handles nor holds a
    // stream buffer per unit.
    std::shared_ptr<std::ifstream>& file = p.images[path];
    if (!file) {
        file = std::make_shared<std::ifstream>();
        file->rdbuf()->pubsetbuf(nullptr, 0);
        file->open(path, std::ios::binary);
    }
    if (!*file) {
        p.images.erase(path);
        return p.fail("cannot open image " + path);
    }
    file->seekg(0, std::ios::end);
    std::streamoff size = file->tellg();
    if (size < 0)
        return p.fail("cannot measure image " + path);
    p.unit->image_path = path;
    p.unit->image = file;
    p.unit->block_length = length;
    p.unit->image_blocks = uint64_t(size) / length;
    return true;
}

bool parse_answer_line(parser& p, const std::vector<token>& tokens)
{
    const std::string& word = tokens[0].text;
    answer& a = *p.current;
    uint32_t v;
    if (word == "data")
        return parse_bytes(p, tokens, 1, &a.data);
    if (word == "sense") {
        if (!parse_bytes(p, tokens, 1, &a.sense))
            return false;
        if (a.sense.size() > SENSE_LEN)
            return p.fail("sense longer than 14 bytes");
        return true;
    }
    if (word == "hang") {
        a.hang = true;
        return tokens.size() == 1 || p.fail("hang takes no argument");
    }
    if (tokens.size() != 2)
        return p.fail(word + " needs one argument");
    if (word == "status" && parse_hex(tokens[1].text, 0xFF, &v))
        a.target_status = uint8_t(v);
    else if (word == "host-status" && parse_hex(tokens[1].text, 0xFF, &v))
        a.host_status = uint8_t(v);
    else if (word == "request-status" && parse_hex(tokens[1].text, 0xFF, &v))
        a.request_status = int(v);
    else if (word == "short" && parse_decimal(tokens[1].text, 0x7FFFFFFF, &v))
        a.transfer_limit = long(v);
    else
        return p.fail("bad argument '" + tokens[1].text + "' for " + word);
    return true;
}

bool parse_line(parser& p, const std::vector<token>& tokens)
{
    const std::string& word = tokens[0].text;
    if (tokens[0].quoted)
        return p.fail("a line must start with a keyword");
    uint32_t v;
    if (word == "support") {
        if (tokens.size() != 2 || !parse_hex(tokens[1].text, 0xFFFFFFFF, &v))
            return p.fail("support needs one hexadecimal value");
        p.bus.support = v;
        p.bus.support_given = true;
        return true;
    }
    if (word == "adapters") {
        if (tokens.size() != 2 || !parse_decimal(tokens[1].text, 255, &v))
            return p.fail("adapters needs a decimal count from 0 to 255");
        p.bus.adapter_count = int(v);
        return true;
    }
    if (word == "adapter") {
        if (tokens.size() < 2 || tokens.size() > 3 || !parse_decimal(tokens[1].text, 255, &v))
            return p.fail("adapter needs a decimal number from 0 to 255");
        p.adapter = &p.bus.adapters[int(v)];
        p.unit = nullptr;
        p.current = nullptr;
        if (tokens.size() == 3) {
            if (tokens[2].text != "reject")
                return p.fail("unknown word '" + tokens[2].text + "' after adapter");
            p.adapter->reject = true;
        }
        return true;
    }
    if (word == "manager")
        return parse_identification(p, tokens, 0);
    if (word == "identity")
        return parse_identification(p, tokens, 1);
    if (word == "unique")
        return parse_identification(p, tokens, 2);
    if (word == "unit") {
        int a, t, l;
        if (tokens.size() != 2 || !parse_address(tokens[1].text, &a, &t, &l))
            return p.fail("unit needs an address adapter:target:lun (decimal, each 0 to 255)");
        p.adapter = nullptr;
        p.current = nullptr;
        p.unit = find_unit(p.bus, a, t, l);
        if (!p.unit) {
            p.bus.units.push_back(std::make_unique<unit_description>());
            p.unit = p.bus.units.back().get();
            p.unit->adapter = a;
            p.unit->target = t;
            p.unit->lun = l;
        }
        return true;
    }
    if (word == "image" || word == "attention" || word == "on") {
        if (!p.unit)
            return p.fail(word + " outside a unit block");
        if (word == "image")
            return open_image(p, tokens);
        if (word == "attention") {
            if (tokens.size() != 2 || !parse_decimal(tokens[1].text, 1000000, &v))
                return p.fail("attention needs a decimal count");
            p.unit->attention = long(v);
            return true;
        }
        answer a;
        if (tokens.size() < 2 || tokens.size() > 17)
            return p.fail("on needs 1 to 16 command block bytes");
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
        return true;
    }
    if (word == "data" || word == "sense" || word == "status" || word == "host-status" || word == "request-status" ||
        word == "short" || word == "hang") {
        if (!p.current)
            return p.fail(word + " outside an answer (an 'on' line comes first)");
        return parse_answer_line(p, tokens);
    }
    return p.fail("unknown word '" + word + "'");
}

// ---- answering ----------------------------------------------------------

bool pattern_matches(const answer& a, const uint8_t* cdb, int cdb_length)
{
    for (size_t i = 0; i < a.pattern.size(); i++) {
        if (a.pattern[i] < 0)
            continue;
        if (int(i) >= cdb_length)
            return false;
        uint8_t mask = i == 1 ? 0x1F : 0xFF; // the LUN bits are never compared
        if ((cdb[i] & mask) != (uint8_t(a.pattern[i]) & mask))
            return false;
    }
    return true;
}

answer* choose_answer(unit_description& unit, const uint8_t* cdb, int cdb_length)
{
    answer* best_unused = nullptr;
    answer* best_last = nullptr;
    int best_unused_score = -1, best_last_score = -1;
    for (auto& a : unit.answers) {
        if (!pattern_matches(a, cdb, cdb_length))
            continue;
        if (!a.used && a.compared > best_unused_score) {
            best_unused = &a;
            best_unused_score = a.compared;
        }
        if (a.compared >= best_last_score) {
            best_last = &a;
            best_last_score = a.compared;
        }
    }
    // An unused answer wins only if it is as specific as the best one.
    if (best_unused && best_unused_score >= best_last_score)
        return best_unused;
    return best_last;
}

void set_sense(srb_exec* srb, uint8_t key, uint8_t asc)
{
    std::memset(srb->sense, 0, sizeof srb->sense);
    srb->sense[0] = 0x70;
    srb->sense[2] = key;
    srb->sense[7] = 0x0A;
    srb->sense[SENSE_ASC] = asc;
    srb->target_status = STATUS_CHKCOND;
    srb->status = SS_ERR;
}

void transfer(srb_exec* srb, const uint8_t* data, uint64_t length)
{
    if (length > srb->data_length)
        length = srb->data_length;
    if (length && srb->data_buffer)
        std::memcpy(srb->data_buffer, data, size_t(length));
}

// READ CAPACITY and READ(10) of an image-backed unit.
bool answer_from_image(unit_description& unit, srb_exec* srb)
{
    if (!unit.image)
        return false;
    if (srb->cdb[0] == OP_READ_CAPACITY) {
        if (unit.image_blocks == 0) {
            set_sense(srb, 0x02, 0x3A); // medium not present
            return true;
        }
        uint8_t capacity[8];
        uint64_t last = unit.image_blocks - 1;
        put_be32(capacity, last > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(last));
        put_be32(capacity + 4, unit.block_length);
        transfer(srb, capacity, sizeof capacity);
        srb->status = SS_COMP;
        return true;
    }
    if (srb->cdb[0] != OP_READ10)
        return false;
    uint64_t block = get_be32(srb->cdb + 2);
    uint64_t count = get_be16(srb->cdb + 7);
    if (block + count > unit.image_blocks) {
        set_sense(srb, 0x05, 0x21); // logical block address out of range
        return true;
    }
    uint64_t length = count * unit.block_length;
    if (length > srb->data_length)
        length = srb->data_length;
    if (length && srb->data_buffer) {
        unit.image->clear();
        unit.image->seekg(std::streamoff(block * unit.block_length));
        unit.image->read(reinterpret_cast<char*>(srb->data_buffer), std::streamsize(length));
        if (uint64_t(unit.image->gcount()) != length) {
            set_sense(srb, 0x03, 0x11); // unrecovered read error
            return true;
        }
    }
    srb->status = SS_COMP;
    return true;
}

// Fill the status bytes, sense and data of an execute request. Returns
// false when the request is never to complete.
bool adapter_rejected(int number)
{
    auto adapter = the_bus.adapters.find(number);
    if (adapter != the_bus.adapters.end())
        return adapter->second.reject;
    // Like a real manager, one that knows N adapters rejects the numbers
    // beyond them.
    return number >= the_bus.adapter_count;
}

bool answer_request(srb_exec* srb)
{
    srb->host_status = HASTAT_OK;
    srb->target_status = STATUS_GOOD;
    if (adapter_rejected(srb->host_adapter)) {
        srb->status = SS_INVALID_HA;
        return true;
    }
    unit_description* unit = find_unit(the_bus, srb->host_adapter, srb->target, srb->lun);
    if (!unit) {
        srb->host_status = HASTAT_SEL_TO;
        srb->status = SS_ERR;
        return true;
    }
    if (unit->attention > 0) {
        unit->attention--;
        set_sense(srb, 0x06, 0x29);
        return true;
    }
    int cdb_length = srb->cdb_length > 16 ? 16 : srb->cdb_length;
    answer* a = choose_answer(*unit, srb->cdb, cdb_length);
    if (!a) {
        if (!answer_from_image(*unit, srb))
            set_sense(srb, 0x05, 0x20); // invalid command operation code
        return true;
    }
    a->used = true;
    if (a->hang)
        return false;
    uint64_t length = a->data.size();
    if (a->transfer_limit >= 0 && uint64_t(a->transfer_limit) < length)
        length = uint64_t(a->transfer_limit);
    transfer(srb, a->data.data(), length);
    std::memset(srb->sense, 0, sizeof srb->sense);
    if (!a->sense.empty())
        std::memcpy(srb->sense, a->sense.data(), a->sense.size());
    srb->target_status = a->target_status;
    srb->host_status = a->host_status;
    if (a->request_status >= 0)
        srb->status = uint8_t(a->request_status);
    else
        srb->status = (a->target_status == STATUS_GOOD && a->host_status == HASTAT_OK) ? SS_COMP : SS_ERR;
    return true;
}

uint32_t bus_support_info()
{
    if (the_bus.support_given)
        return the_bus.support;
    return 0x0100u | uint32_t(the_bus.adapter_count & 0xFF);
}

uint32_t bus_send_command(void* request)
{
    auto* header = static_cast<uint8_t*>(request);
    if (header[0] == SC_HA_INQUIRY) {
        auto* srb = static_cast<srb_ha_inquiry*>(request);
        auto adapter = the_bus.adapters.find(srb->host_adapter);
        if (adapter_rejected(srb->host_adapter)) {
            srb->status = SS_INVALID_HA;
            return SS_INVALID_HA;
        }
        srb->adapter_count = uint8_t(the_bus.adapter_count);
        srb->adapter_scsi_id = 7;
        if (adapter != the_bus.adapters.end())
            std::memcpy(srb->manager_id, adapter->second.ids, 48);
        srb->status = SS_COMP;
        return SS_COMP;
    }
    auto* srb = static_cast<srb_exec*>(request);
    srb->status = SS_PENDING;
    if (!answer_request(srb))
        return SS_PENDING; // never completes: the caller's wait runs out
    // Complete the way a real manager does: later, through the event.
    if (srb->post_event) {
        event_signal(srb->post_event);
        return SS_PENDING;
    }
    return srb->status;
}

void bus_shutdown() { the_bus = bus_description(); }

const aspi_manager bus_manager = {"bus file", bus_support_info, bus_send_command, bus_shutdown};

std::string folder_of(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

const aspi_manager* load_bus_text(const std::string& text, const char* name, const char* base_dir,
                                  std::string* error)
{
    parser p;
    p.name = name;
    p.base_dir = base_dir ? base_dir : "";
    std::string line_text;
    std::vector<token> tokens;
    // Line by line out of the text itself, without a copy of it.
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        line_text.assign(text, start, end - start);
        start = end + 1;
        p.line++;
        tokens.clear();
        if (!split_line(p, line_text, &tokens) || (!tokens.empty() && !parse_line(p, tokens))) {
            *error = p.error;
            return nullptr;
        }
    }
    the_bus = std::move(p.bus);
    return &bus_manager;
}

const aspi_manager* load_bus_file(const char* path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = std::string(path) + ": cannot open the bus file";
        return nullptr;
    }
    // Read into one string of the file's size; a stream without a size
    // (a pipe) is read through a string stream.
    std::string text;
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size > 0 && in) {
        text.resize(size_t(size));
        in.read(&text[0], size);
        text.resize(size_t(in.gcount()));
    } else {
        in.clear();
        std::stringstream whole;
        whole << in.rdbuf();
        text = whole.str();
    }
    return load_bus_text(text, path, folder_of(path).c_str(), error);
}
