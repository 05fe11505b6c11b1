// The bus file manager: answers the requests of the ASPI seam from a bus
// description (docs/bus-file.md; busfile_parse.cpp reads it). It is the
// default bus of the samples, the test double of the test suite, and the
// replay side of -trace.
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

bus_description the_bus;

// ---- answering ----------------------------------------------------------

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
bool answer_from_image(bus_unit& unit, srb_exec* srb)
{
    if (!unit.image && !unit.inline_medium)
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
    if (length && srb->data_buffer && unit.inline_medium) {
        read_inline_blocks(unit, block, count, srb->data_buffer, length);
    } else if (length && srb->data_buffer) {
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
    bus_unit* unit = find_bus_unit(the_bus, srb->host_adapter, srb->target, srb->lun);
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
    bus_answer* a = choose_answer(*unit, srb->cdb, cdb_length);
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

} // namespace

std::vector<std::string> bus_file_images()
{
    std::set<std::string> paths;
    for (const auto& unit : the_bus.units) {
        if (unit->image)
            paths.insert(unit->image_path);
    }
    return std::vector<std::string>(paths.begin(), paths.end());
}

namespace {

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
    bus_description bus;
    if (parse_bus_text(text, name, base_dir, &bus, error) < 0)
        return nullptr;
    if (bus.interrupted_line)
        err_printf("vexum: %s:%d: warning: the traced run was interrupted; what it did not reach answers as an "
                   "empty address\n",
                   name, bus.interrupted_line);
    the_bus = std::move(bus);
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
