// The in-memory manager of the fuzz targets (see fuzz_bus.h).
#include "fuzz_bus.h"

#include <cstring>
#include <vector>

#include "aspi/aspi.h"
#include "aspi/event.h"
#include "aspi/scsi_commands.h"
#include "format/bytes.h"

namespace {

struct record {
    uint8_t outcome;
    const uint8_t* data;
    size_t length;
};

struct fuzz_bus {
    std::vector<record> records[ANSWER_KINDS];
    size_t next[ANSWER_KINDS] = {};
    std::vector<uint8_t> medium;
    bool zero_beyond = false;
    bool medium_hangs = false;
    unsigned long requests = 0;
};

fuzz_bus bus;

int kind_of(const uint8_t* cdb)
{
    switch (cdb[0]) {
    case OP_INQUIRY: return (cdb[1] & 1) ? ANSWER_VPD : ANSWER_INQUIRY;
    case OP_MODE_SENSE6: return ANSWER_MODE_SENSE;
    case OP_READ_CAPACITY: return ANSWER_READ_CAPACITY;
    case OP_READ_TOC: return ANSWER_READ_TOC;
    case OP_READ_DEFECT_DATA10: return ANSWER_READ_DEFECT_DATA;
    case OP_READ_BLOCK_LIMITS: return ANSWER_READ_BLOCK_LIMITS;
    case OP_READ10: return ANSWER_READ10;
    default: return -1;
    }
}

void set_sense(request_outcome* outcome, uint8_t key, uint8_t asc) { set_check_condition(outcome, key, asc, 0, 18); }

void transfer(const srb_exec& request, const uint8_t* data, size_t length)
{
    if (length > request.data_length)
        length = request.data_length;
    if (length && request.data_buffer)
        std::memcpy(request.data_buffer, data, length);
}

// The block length the unit claims, as READ(10) uses it.
uint32_t claimed_block_length()
{
    const auto& capacity = bus.records[ANSWER_READ_CAPACITY];
    if (!capacity.empty() && capacity[0].length >= 8) {
        uint32_t length = get_be32(capacity[0].data + 4);
        if (length != 0)
            return length;
    }
    return 512;
}

void answer_read(const srb_exec& request, request_outcome* outcome)
{
    if (bus.medium_hangs) {
        outcome->kind = OUTCOME_NEVER;
        return;
    }
    uint64_t block_length = claimed_block_length();
    uint64_t offset = uint64_t(get_be32(request.cdb + 2)) * block_length;
    uint64_t length = uint64_t(get_be16(request.cdb + 7)) * block_length;
    if (length > request.data_length)
        length = request.data_length;
    if (offset + length > bus.medium.size() && !bus.zero_beyond) {
        set_sense(outcome, 0x05, 0x21);
        return;
    }
    if (request.data_buffer && length) {
        uint64_t present = offset < bus.medium.size() ? bus.medium.size() - offset : 0;
        if (present > length)
            present = length;
        if (present)
            std::memcpy(request.data_buffer, bus.medium.data() + offset, size_t(present));
        std::memset(request.data_buffer + present, 0, size_t(length - present));
    }
}

void fuzz_execute(void*, const srb_exec& request, request_outcome* outcome)
{
    bus.requests++;
    if (request.host_adapter != 0 || request.target != 0 || request.lun != 0) {
        outcome->host_status = HASTAT_SEL_TO;
        return;
    }
    int kind = kind_of(request.cdb);
    if (kind == ANSWER_READ10)
        return answer_read(request, outcome);
    if (kind < 0 || bus.records[kind].empty())
        return set_sense(outcome, 0x05, 0x20);
    auto& list = bus.records[kind];
    size_t& next = bus.next[kind];
    const record& r = list[next < list.size() ? next : list.size() - 1];
    if (next < list.size())
        next++;
    switch (r.outcome & 7) {
    case OUTCOME_CHECK_CONDITION:
        return set_sense(outcome, 0x05, 0x24);
    case OUTCOME_POWER_ON:
        return set_sense(outcome, 0x06, 0x29);
    case OUTCOME_MEDIUM_CHANGED:
        return set_sense(outcome, 0x06, 0x28);
    case OUTCOME_HANG:
        outcome->kind = OUTCOME_NEVER;
        return;
    default:
        break;
    }
    transfer(request, r.data, r.length);
}

uint32_t fuzz_support_info(void*) { return 0x0101; }

int fuzz_describe_adapter(void*, int adapter, adapter_description* description)
{
    bus.requests++;
    if (adapter != 0)
        return -1;
    description->count = 1;
    const auto& ids = bus.records[ANSWER_ADAPTER_IDS];
    if (!ids.empty())
        std::memcpy(description->ids, ids[0].data, ids[0].length < 48 ? ids[0].length : 48);
    return 0;
}

const aspi_manager manager = {"fuzz", nullptr, fuzz_support_info, fuzz_describe_adapter, fuzz_execute, nullptr, nullptr};

} // namespace

void fuzz_bus_load(const uint8_t* input, size_t size)
{
    bus = fuzz_bus();
    size_t start = 0;
    while (start <= size) {
        size_t end = start;
        while (end + RECORD_SEPARATOR_LENGTH <= size &&
               std::memcmp(input + end, RECORD_SEPARATOR, RECORD_SEPARATOR_LENGTH) != 0)
            end++;
        if (end + RECORD_SEPARATOR_LENGTH > size)
            end = size;
        if (end - start >= 2) {
            record r{input[start + 1], input + start + 2, end - start - 2};
            bus.records[input[start] % ANSWER_KINDS].push_back(r);
        }
        start = end + RECORD_SEPARATOR_LENGTH;
    }
    for (const record& r : bus.records[ANSWER_READ10]) {
        bus.medium.insert(bus.medium.end(), r.data, r.data + r.length);
        if ((r.outcome & 7) == OUTCOME_HANG)
            bus.medium_hangs = true;
    }
}

void fuzz_bus_set_medium(const uint8_t* medium, size_t size, bool zero_beyond)
{
    bus = fuzz_bus();
    bus.medium.assign(medium, medium + size);
    bus.zero_beyond = zero_beyond;
}

const aspi_manager* fuzz_bus_manager() { return &manager; }

unsigned long fuzz_bus_requests() { return bus.requests; }
