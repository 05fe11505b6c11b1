// The bus file manager: answers the requests of the ASPI seam from a bus
// description (docs/bus-file.md; busfile_parse.cpp reads it). It is the
// default bus of the samples, the test double of the test suite, and the
// replay side of -trace.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "aspi/aspi.h"
#include "aspi/busfile.h"
#include "aspi/manager.h"
#include "aspi/scsi_commands.h"
#include "format/bytes.h"
#include "format/output.h"

namespace {

// ---- answering ----------------------------------------------------------

// The manager record lives with the description it answers from; the
// record's context is this whole.
struct bus_manager {
    aspi_manager record;
    bus_description bus;
};

bus_description& bus_of(void* context) { return static_cast<bus_manager*>(context)->bus; }

bool pattern_matches(const bus_answer& a, const uint8_t* cdb, int cdb_length)
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

bus_answer* choose_answer(bus_unit& unit, const uint8_t* cdb, int cdb_length)
{
    bus_answer* best_unused = nullptr;
    bus_answer* best_last = nullptr;
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

// The sense of the answers the manager makes up itself: 18 bytes of fixed
// format, as most units send.
void set_sense(request_outcome* outcome, uint8_t key, uint8_t asc) { set_check_condition(outcome, key, asc, 0, 18); }

uint32_t transfer(const srb_exec& request, const uint8_t* data, uint64_t length)
{
    if (length > request.data_length)
        length = request.data_length;
    if (length && request.data_buffer)
        std::memcpy(request.data_buffer, data, size_t(length));
    return uint32_t(length);
}

// Copies blocks [block, block + count) of the unit's described medium into
// the first length bytes of buffer: the bytes given, zeros for the rest.
void read_inline_blocks(const bus_unit& unit, uint64_t block, uint64_t count, uint8_t* buffer, uint64_t length)
{
    std::memset(buffer, 0, size_t(length));
    auto given = unit.blocks.lower_bound(block);
    for (; given != unit.blocks.end() && given->first < block + count; ++given) {
        uint64_t offset = (given->first - block) * unit.block_length;
        if (offset >= length)
            break;
        uint64_t n = given->second.size();
        if (n > length - offset)
            n = length - offset;
        std::memcpy(buffer + offset, given->second.data(), size_t(n));
    }
}

// READ CAPACITY and READ(10) of a unit whose medium is an image file or
// described in the bus file.
bool answer_from_image(bus_unit& unit, const srb_exec& request, request_outcome* outcome)
{
    if (!unit.image && !unit.inline_medium)
        return false;
    if (request.cdb[0] == OP_READ_CAPACITY) {
        if (unit.image_blocks == 0) {
            set_sense(outcome, 0x02, 0x3A); // medium not present
            return true;
        }
        uint8_t capacity[8];
        uint64_t last = unit.image_blocks - 1;
        put_be32(capacity, last > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(last));
        put_be32(capacity + 4, unit.block_length);
        outcome->transferred = transfer(request, capacity, sizeof capacity);
        return true;
    }
    if (request.cdb[0] != OP_READ10)
        return false;
    uint64_t block = get_be32(request.cdb + 2);
    uint64_t count = get_be16(request.cdb + 7);
    if (block + count > unit.image_blocks) {
        set_sense(outcome, 0x05, 0x21); // logical block address out of range
        return true;
    }
    uint64_t length = count * unit.block_length;
    if (length > request.data_length)
        length = request.data_length;
    if (length && request.data_buffer && unit.inline_medium) {
        read_inline_blocks(unit, block, count, request.data_buffer, length);
    } else if (length && request.data_buffer) {
        if (read_container(unit.image.get(), block * unit.block_length, request.data_buffer, uint32_t(length)) != 0) {
            set_sense(outcome, 0x03, 0x11); // unrecovered read error
            return true;
        }
    }
    outcome->transferred = uint32_t(length);
    return true;
}

bool adapter_rejected(const bus_description& bus, int number)
{
    auto adapter = bus.adapters.find(number);
    if (adapter != bus.adapters.end())
        return adapter->second.reject;
    // Like a real manager, one that knows N adapters rejects the numbers
    // beyond them.
    return number >= bus.adapter_count;
}

void bus_execute(void* context, const srb_exec& request, request_outcome* outcome)
{
    bus_description& bus = bus_of(context);
    if (adapter_rejected(bus, request.host_adapter)) {
        outcome->kind = OUTCOME_NO_ADAPTER;
        return;
    }
    bus_unit* unit = find_bus_unit(bus, request.host_adapter, request.target, request.lun);
    if (!unit) {
        outcome->host_status = HASTAT_SEL_TO;
        return;
    }
    if (unit->attention > 0) {
        unit->attention--;
        set_sense(outcome, 0x06, 0x29);
        return;
    }
    bus_answer* a = choose_answer(*unit, request.cdb, request.cdb_length);
    if (!a) {
        if (!answer_from_image(*unit, request, outcome))
            set_sense(outcome, 0x05, 0x20); // invalid command operation code
        return;
    }
    a->used = true;
    if (a->hang) {
        outcome->kind = OUTCOME_NEVER;
        return;
    }
    uint64_t length = a->data.size();
    if (a->transfer_limit >= 0 && uint64_t(a->transfer_limit) < length)
        length = uint64_t(a->transfer_limit);
    outcome->transferred = transfer(request, a->data.data(), length);
    outcome->sense_length = uint8_t(std::min(a->sense.size(), sizeof outcome->sense));
    if (outcome->sense_length)
        std::memcpy(outcome->sense, a->sense.data(), outcome->sense_length);
    outcome->target_status = a->target_status;
    outcome->host_status = a->host_status;
    outcome->request_status = a->request_status;
}

uint32_t bus_support_info(void* context)
{
    const bus_description& bus = bus_of(context);
    if (bus.support_given)
        return bus.support;
    return 0x0100u | uint32_t(bus.adapter_count & 0xFF);
}

int bus_describe_adapter(void* context, int number, adapter_description* description)
{
    const bus_description& bus = bus_of(context);
    if (adapter_rejected(bus, number))
        return -1;
    description->count = bus.adapter_count;
    auto adapter = bus.adapters.find(number);
    if (adapter != bus.adapters.end())
        std::memcpy(description->ids, adapter->second.ids, sizeof description->ids);
    return 0;
}

void bus_shutdown(void* context) { delete static_cast<bus_manager*>(context); }

std::string folder_of(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

std::vector<std::string> bus_file_images(const aspi_manager* manager)
{
    std::set<std::string> paths;
    if (manager && manager->execute == bus_execute) {
        for (const auto& unit : bus_of(manager->context).units) {
            if (unit->image)
                paths.insert(unit->image_path);
        }
    }
    return std::vector<std::string>(paths.begin(), paths.end());
}

const aspi_manager* load_bus_text(const std::string& text, const char* name, const char* base_dir,
                                  std::string* error)
{
    auto* m = new bus_manager;
    if (parse_bus_text(text, name, base_dir, &m->bus, error) < 0) {
        delete m;
        return nullptr;
    }
    if (m->bus.interrupted_line)
        err_printf("vexum: %s:%d: warning: the traced run was interrupted; what it did not reach answers as an "
                   "empty address\n",
                   name, m->bus.interrupted_line);
    m->record = {"bus file", m, bus_support_info, bus_describe_adapter, bus_execute, nullptr, bus_shutdown};
    return &m->record;
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
