// The bus file manager: answers the requests of the ASPI seam from a bus
// description (docs/bus-file.md; busfile_parse.cpp reads it). It is the
// default bus of the samples, the test double of the test suite, and the
// replay side of -trace.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <vector>

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
int read_inline_blocks(bus_description& bus, const bus_unit& unit, uint64_t block, uint64_t count, uint8_t* buffer,
                       uint64_t length)
{
    std::memset(buffer, 0, size_t(length));
    auto given = std::lower_bound(unit.blocks.begin(), unit.blocks.end(), block,
                                  [](const bus_block& b, uint64_t number) { return b.number < number; });
    for (; given != unit.blocks.end() && given->number < block + count; ++given) {
        uint64_t offset = (given->number - block) * unit.block_length;
        if (offset >= length)
            break;
        bus_answer contents;
        if (read_bus_answer(bus, given->offset, &contents) != 0)
            return -1;
        uint64_t n = std::min<uint64_t>(contents.data.size(), unit.block_length);
        if (n > length - offset)
            n = length - offset;
        // A block line without data lines holds nothing (and no bytes to
        // copy from).
        if (n > 0)
            std::memcpy(buffer + offset, contents.data.data(), size_t(n));
    }
    return 0;
}

// READ CAPACITY and READ(10) of a unit whose medium is an image file or
// described in the bus file.
bool answer_from_image(bus_description& bus, bus_unit& unit, const srb_exec& request, request_outcome* outcome)
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
    if (length && request.data_buffer) {
        int read = unit.inline_medium
                       ? read_inline_blocks(bus, unit, block, count, request.data_buffer, length)
                       : read_container(unit.image.get(), block * unit.block_length, request.data_buffer,
                                        uint32_t(length));
        if (read != 0) {
            set_sense(outcome, 0x03, 0x11); // unrecovered read error
            return true;
        }
    }
    outcome->transferred = uint32_t(length);
    return true;
}

// A bus file edited while it is replayed no longer reads as it was checked:
// what is asked of it from then on answers as an empty address, and the run
// says so once.
void report_change(bus_description& bus)
{
    if (!bus.changed || bus.change_told)
        return;
    bus.change_told = true;
    err_printf("vexum: %s: the bus file changed while it was read; the units not yet read answer as empty "
               "addresses\n",
               bus.name.c_str());
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
    report_change(bus);
    if (!unit) {
        outcome->host_status = HASTAT_SEL_TO;
        return;
    }
    if (unit->attention > 0) {
        unit->attention--;
        set_sense(outcome, 0x06, 0x29);
        return;
    }
    int64_t chosen = choose_bus_answer(*unit, request.cdb, request.cdb_length);
    if (chosen < 0) {
        if (!answer_from_image(bus, *unit, request, outcome))
            set_sense(outcome, 0x05, 0x20); // invalid command operation code
        return;
    }
    bus_answer answer;
    if (read_bus_answer(bus, uint64_t(chosen), &answer) != 0) {
        bus.changed = true;
        report_change(bus);
        outcome->host_status = HASTAT_SEL_TO;
        return;
    }
    const bus_answer* a = &answer;
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
    if (adapter != bus.adapters.end()) {
        std::memcpy(description->ids, adapter->second.ids, sizeof description->ids);
        if (adapter->second.own_id >= 0)
            description->own_id = adapter->second.own_id;
    }
    return 0;
}

int bus_describe_targets(void* context, int number, adapter_targets* targets)
{
    const bus_description& bus = bus_of(context);
    auto adapter = bus.adapters.find(number);
    if (adapter_rejected(bus, number) || adapter == bus.adapters.end() || adapter->second.targets == 0)
        return -1;
    targets->count = adapter->second.targets;
    targets->own_id = adapter->second.own_id;
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

// The whole file, up to BUS_FILE_LIMIT bytes: 0, or -1 with error set. The
// size the stream claims is not trusted (a directory claims any, a device
// or a pipe none); the file is read in pieces until it ends.
int read_bus_file(const char* path, std::string* text, std::string* error)
{
    std::error_code failed;
    if (std::filesystem::is_directory(path, failed)) {
        *error = std::string(path) + ": cannot read the bus file (a directory)";
        return -1;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = std::string(path) + ": cannot open the bus file";
        return -1;
    }
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    in.clear();
    // A size beyond the bound is refused before a byte is read; a smaller
    // claim may still be wrong, so the reading below keeps counting.
    const std::string too_large = bus_file_too_large(path);
    if (size > 0 && uint64_t(size) > BUS_FILE_LIMIT) {
        *error = too_large;
        return -1;
    }
    if (size > 0)
        text->reserve(size_t(size));
    std::vector<char> piece(1 << 16);
    while (in) {
        in.read(piece.data(), std::streamsize(piece.size()));
        size_t got = size_t(in.gcount());
        if (text->size() + got > BUS_FILE_LIMIT) {
            *error = too_large;
            return -1;
        }
        text->append(piece.data(), got);
    }
    if (in.bad()) {
        *error = std::string(path) + ": cannot read the bus file";
        return -1;
    }
    return 0;
}

} // namespace

std::vector<std::string> bus_file_images(const aspi_manager* manager)
{
    std::vector<std::string> paths;
    if (manager && manager->execute == bus_execute) {
        for (const auto& image : bus_of(manager->context).images)
            paths.push_back(image.first);
    }
    return paths;
}

namespace {

const aspi_manager* start_bus_manager(bus_manager* m)
{
    if (m->bus.interrupted_line)
        err_printf("vexum: %s:%d: warning: the traced run was interrupted; what it did not reach answers as an "
                   "empty address\n",
                   m->bus.name.c_str(), m->bus.interrupted_line);
    m->record = {"bus file", m, bus_support_info, bus_describe_adapter, bus_execute, bus_describe_targets,
                 bus_shutdown};
    return &m->record;
}

// A bus file that can be read at an offset (a file, not a pipe) is read in
// place: opened, measured and left open. 1 when it is, 0 when it must be
// read whole, -1 with error set.
int open_in_place(const char* path, bus_source* source, std::string* error)
{
    drive_handle_t file = platform_open_path(path);
    if (file == INVALID_DRIVE_HANDLE)
        return 0;
    uint64_t size = 0;
    if (!platform_is_medium(file) || platform_size_bytes(file, &size) != 0) {
        platform_close_drive(file);
        return 0;
    }
    if (size > BUS_FILE_LIMIT) {
        platform_close_drive(file);
        *error = bus_file_too_large(path);
        return -1;
    }
    source->file = file;
    source->size = size;
    return 1;
}

} // namespace

const aspi_manager* load_bus_text(const std::string& text, const char* name, const char* base_dir,
                                  std::string* error)
{
    auto* m = new bus_manager;
    if (parse_bus_text(text, name, base_dir, &m->bus, error) < 0) {
        delete m;
        return nullptr;
    }
    return start_bus_manager(m);
}

const aspi_manager* load_bus_file(const char* path, std::string* error)
{
    // Every size a bus file asks for is bounded, but memory may still run
    // out below the bounds (a low ulimit): that is one line, not an abort.
    try {
        auto m = std::make_unique<bus_manager>();
        m->bus.name = path;
        m->bus.base_dir = folder_of(path);
        int in_place = open_in_place(path, &m->bus.source, error);
        if (in_place < 0)
            return nullptr;
        if (in_place == 0 && read_bus_file(path, &m->bus.source.text, error) != 0)
            return nullptr;
        if (parse_bus_source(&m->bus, error) < 0)
            return nullptr;
        return start_bus_manager(m.release());
    } catch (const std::bad_alloc&) {
        *error = std::string(path) + ": not enough memory for the bus file";
        return nullptr;
    }
}
