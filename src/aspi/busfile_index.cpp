// The indexes of a bus description: unit lines by address, and each asked
// unit's answers by the command block bytes their patterns compare, so that
// neither reading a bus file nor answering a request costs more with each
// unit or answer already there. A trace of a long chain walk holds 100,000
// answers in one unit; each request finds its answer with one binary search
// per kind of pattern the unit has.
#include <algorithm>
#include <cstring>

#include "aspi/busfile.h"

namespace {

// The bytes a shape compares, taken from a command block: the positions that
// are not "..", in order, and in byte 1 only the bits below the LUN.
void take_key(const answer_shape& shape, const uint8_t* bytes, uint8_t* key)
{
    size_t k = 0;
    for (int i = 0; i < shape.length; i++) {
        if (shape.wildcards & (1u << i))
            continue;
        key[k++] = uint8_t(i == 1 ? bytes[i] & 0x1F : bytes[i]);
    }
}

uint32_t record_offset(const uint8_t* record, size_t key_length)
{
    const uint8_t* p = record + key_length;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void swap_records(uint8_t* a, uint8_t* b, size_t size)
{
    uint8_t held[20];
    std::memcpy(held, a, size);
    std::memcpy(a, b, size);
    std::memcpy(b, held, size);
}

// Heap sort in place: records of a size known only at run time, and no
// second copy of a shape that may hold 100,000 of them.
void sift_down(uint8_t* base, size_t size, size_t root, size_t count)
{
    for (;;) {
        size_t child = 2 * root + 1;
        if (child >= count)
            return;
        if (child + 1 < count && std::memcmp(base + child * size, base + (child + 1) * size, size) < 0)
            child++;
        if (std::memcmp(base + root * size, base + child * size, size) >= 0)
            return;
        swap_records(base + root * size, base + child * size, size);
        root = child;
    }
}

bool records_sorted(const uint8_t* base, size_t size, size_t count)
{
    for (size_t i = 1; i < count; i++)
        if (std::memcmp(base + (i - 1) * size, base + i * size, size) > 0)
            return false;
    return true;
}

// The records of shape whose key is key: [*first, *end).
void find_run(const answer_shape& shape, const uint8_t* key, size_t* first, size_t* end)
{
    size_t size = shape.record_size();
    const uint8_t* base = shape.records.data();
    size_t lo = 0, hi = shape.count();
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (std::memcmp(base + mid * size, key, shape.compared) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    *first = lo;
    hi = shape.count();
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (std::memcmp(base + mid * size, key, shape.compared) <= 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    *end = lo;
}

bool segment_before(const bus_segment& a, const bus_segment& b)
{
    return a.address != b.address ? a.address < b.address : a.offset < b.offset;
}

} // namespace

uint32_t bus_address(int adapter, int target, int lun)
{
    return uint32_t(adapter) << 16 | uint32_t(target) << 8 | uint32_t(lun);
}

void sort_answer_records(answer_shape* shape)
{
    size_t size = shape->record_size();
    size_t count = shape->count();
    uint8_t* base = shape->records.data();
    // A trace writes its answers in the order they were asked: often sorted.
    if (records_sorted(base, size, count))
        return;
    for (size_t root = count / 2; root-- > 0;)
        sift_down(base, size, root, count);
    for (size_t end = count; end-- > 1;) {
        swap_records(base, base + end * size, size);
        sift_down(base, size, 0, end);
    }
}

size_t count_bus_units(const bus_description& bus)
{
    size_t units = 0;
    for (size_t i = 0; i < bus.segments.size(); i++)
        if (i == 0 || bus.segments[i].address != bus.segments[i - 1].address)
            units++;
    return units;
}

bus_unit* find_bus_unit(bus_description& bus, int adapter, int target, int lun)
{
    uint32_t address = bus_address(adapter, target, lun);
    auto known = bus.loaded.find(address);
    if (known != bus.loaded.end())
        return known->second.get();
    if (bus.changed)
        return nullptr;
    bus_segment probe{address, 0};
    auto first = std::lower_bound(bus.segments.begin(), bus.segments.end(), probe, segment_before);
    if (first == bus.segments.end() || first->address != address)
        return nullptr;
    auto unit = std::make_unique<bus_unit>();
    uint64_t error_offset = 0;
    std::string reason;
    if (load_bus_unit(bus, address, UINT64_MAX, unit.get(), &error_offset, &reason) != 0) {
        bus.changed = true;
        return nullptr;
    }
    return (bus.loaded[address] = std::move(unit)).get();
}

int64_t choose_bus_answer(bus_unit& unit, const uint8_t* cdb, int cdb_length)
{
    // Among the matching answers: the first unused one of the most specific
    // patterns, and the last one of them whether used or not. An unused
    // answer wins only if it is as specific as the best one.
    answer_shape* unused_shape = nullptr;
    size_t unused_run = 0, unused_record = 0;
    int64_t best_unused = -1, best_last = -1;
    int unused_score = -1, last_score = -1;
    for (answer_shape& shape : unit.shapes) {
        // A position the command block lacks must match any byte.
        if (shape.length > cdb_length &&
            (uint32_t(shape.wildcards) >> cdb_length) != (1u << (shape.length - cdb_length)) - 1)
            continue;
        uint8_t bytes[16] = {};
        std::memcpy(bytes, cdb, size_t(cdb_length < 16 ? cdb_length : 16));
        uint8_t key[16];
        take_key(shape, bytes, key);
        size_t first, end;
        find_run(shape, key, &first, &end);
        if (first == end)
            continue;
        size_t size = shape.record_size();
        int score = shape.compared;
        size_t unused = first;
        if (shape.consumed[first]) {
            auto next = shape.next_unused.find(uint32_t(first));
            unused = next == shape.next_unused.end() ? end : next->second;
        }
        if (unused < end) {
            int64_t offset = record_offset(shape.records.data() + unused * size, shape.compared);
            if (score > unused_score || (score == unused_score && offset < best_unused)) {
                unused_shape = &shape;
                unused_run = first;
                unused_record = unused;
                best_unused = offset;
                unused_score = score;
            }
        }
        int64_t last = record_offset(shape.records.data() + (end - 1) * size, shape.compared);
        if (score > last_score || (score == last_score && last > best_last)) {
            best_last = last;
            last_score = score;
        }
    }
    if (best_last < 0)
        return -1;
    if (unused_shape && unused_score >= last_score) {
        unused_shape->consumed[unused_record] = true;
        size_t size = unused_shape->record_size();
        size_t end = unused_record + 1;
        if (end < unused_shape->count() &&
            std::memcmp(unused_shape->records.data() + end * size, unused_shape->records.data() + unused_run * size,
                        unused_shape->compared) == 0)
            unused_shape->next_unused[uint32_t(unused_run)] = uint32_t(end);
        else if (unused_record != unused_run)
            unused_shape->next_unused.erase(uint32_t(unused_run));
        return best_unused;
    }
    return best_last;
}
