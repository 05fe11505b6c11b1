// The indexes of a bus description: units by address, and each unit's
// answers by the command block bytes their patterns compare, so that
// neither reading a bus file nor answering a request costs more with each
// unit or answer already there. A trace of a long chain walk holds 100,000
// answers in one unit; each request finds its answer in one look-up per
// kind of pattern the unit has.
#include <cstring>
#include <map>

#include "aspi/busfile.h"

namespace {

uint32_t address_key(int adapter, int target, int lun)
{
    return uint32_t(adapter) << 16 | uint32_t(target) << 8 | uint32_t(lun);
}

// The bytes a shape compares, taken from a pattern or a command block: the
// positions in order, zero where the shape matches any byte, and in byte 1
// only the bits below the LUN.
std::string shape_key(const answer_shape& shape, const uint8_t* bytes)
{
    std::string key(size_t(shape.length), '\0');
    for (int i = 0; i < shape.length; i++) {
        if (shape.wildcards & (1u << i))
            continue;
        key[size_t(i)] = char(i == 1 ? bytes[i] & 0x1F : bytes[i]);
    }
    return key;
}

} // namespace

bus_unit* find_bus_unit(bus_description& bus, int adapter, int target, int lun)
{
    auto found = bus.unit_index.find(address_key(adapter, target, lun));
    return found == bus.unit_index.end() ? nullptr : found->second;
}

bus_unit* add_bus_unit(bus_description& bus, int adapter, int target, int lun)
{
    bus.units.push_back(std::make_unique<bus_unit>());
    bus_unit* unit = bus.units.back().get();
    unit->adapter = adapter;
    unit->target = target;
    unit->lun = lun;
    bus.unit_index[address_key(adapter, target, lun)] = unit;
    return unit;
}

int index_bus_answers(bus_unit* unit)
{
    unit->shapes.clear();
    std::map<uint64_t, size_t> shape_of; // length and wildcards -> place in shapes
    for (size_t n = 0; n < unit->answers.size(); n++) {
        const bus_answer& a = unit->answers[n];
        answer_shape probe;
        probe.length = int(a.pattern.size());
        uint8_t bytes[16] = {};
        for (size_t i = 0; i < a.pattern.size() && i < 16; i++) {
            if (a.pattern[i] < 0)
                probe.wildcards |= 1u << i;
            else
                bytes[i] = uint8_t(a.pattern[i]);
        }
        probe.compared = a.compared;
        uint64_t id = uint64_t(probe.length) << 32 | probe.wildcards;
        auto place = shape_of.find(id);
        if (place == shape_of.end()) {
            if (unit->shapes.size() >= BUS_SHAPE_LIMIT)
                return -1;
            place = shape_of.emplace(id, unit->shapes.size()).first;
            unit->shapes.push_back(std::move(probe));
        }
        answer_shape& shape = unit->shapes[place->second];
        shape.groups[shape_key(shape, bytes)].members.push_back(uint32_t(n));
    }
    return 0;
}

bus_answer* choose_bus_answer(bus_unit& unit, const uint8_t* cdb, int cdb_length)
{
    // Among the matching answers: the first unused one of the most specific
    // patterns, and the last one of them whether used or not. An unused
    // answer wins only if it is as specific as the best one.
    answer_group* unused_group = nullptr;
    long best_unused = -1, best_last = -1;
    int unused_score = -1, last_score = -1;
    for (answer_shape& shape : unit.shapes) {
        // A position the command block lacks must match any byte.
        if (shape.length > cdb_length && (shape.wildcards >> cdb_length) != (1u << (shape.length - cdb_length)) - 1)
            continue;
        uint8_t bytes[16] = {};
        std::memcpy(bytes, cdb, size_t(cdb_length < 16 ? cdb_length : 16));
        auto found = shape.groups.find(shape_key(shape, bytes));
        if (found == shape.groups.end())
            continue;
        answer_group& group = found->second;
        int score = shape.compared;
        if (group.next_unused < group.members.size()) {
            long first = group.members[group.next_unused];
            if (score > unused_score || (score == unused_score && first < best_unused)) {
                unused_group = &group;
                best_unused = first;
                unused_score = score;
            }
        }
        long last = group.members.back();
        if (score > last_score || (score == last_score && last > best_last)) {
            best_last = last;
            last_score = score;
        }
    }
    if (best_last < 0)
        return nullptr;
    bus_answer* chosen;
    if (unused_group && unused_score >= last_score) {
        chosen = &unit.answers[size_t(best_unused)];
        unused_group->next_unused++;
    } else {
        chosen = &unit.answers[size_t(best_last)];
    }
    chosen->used = true;
    return chosen;
}
