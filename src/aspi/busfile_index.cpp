// The indexes of a bus description: unit lines by address, and each asked
// unit's answers by the command block bytes their patterns compare, so that
// neither reading a bus file nor answering a request costs more with each
// unit or answer already there. A trace of a long chain walk holds 100,000
// answers in one unit; each request finds its answer with one binary search
// per kind of pattern the unit has.
#include <algorithm>
#include <cstring>

#include "aspi/busfile.h"
#include "format/bytes.h"

namespace {

// The bytes a shape compares, taken from a command block: the positions that
// are not "..", in order, and in byte 1 only the bits below the LUN.
// The bytes of its records' keys, false when the command block differs
// from every key in a byte they share.
bool take_key(const answer_shape& shape, const uint8_t* bytes, uint8_t* kept)
{
    size_t k = 0, n = 0;
    for (int i = 0; i < shape.length; i++) {
        if (shape.wildcards & (1u << i))
            continue;
        uint8_t b = uint8_t(i == 1 ? bytes[i] & 0x1F : bytes[i]);
        if (shape.differing & (1u << k))
            kept[n++] = b;
        else if (b != shape.same[k])
            return false;
        k++;
    }
    return true;
}

uint32_t record_offset(const uint8_t* record, size_t key_length) { return get_be32(record + key_length); }

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
        if (std::memcmp(base + mid * size, key, shape.kept) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    *first = lo;
    hi = shape.count();
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        if (std::memcmp(base + mid * size, key, shape.kept) <= 0)
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

void add_segment(segment_list* list, bus_segment segment)
{
    if (!list->whole && list->count && segment.address < list->last.address) {
        // Out of order: every line from now on is kept whole.
        segment_cursor cursor = seek_segments(*list, 0);
        bus_segment line;
        list->lines.reserve(list->count + 1);
        while (next_segment(&cursor, &line))
            list->lines.push_back(line);
        list->whole = true;
        std::vector<uint8_t>().swap(list->packed);
        std::vector<segment_mark>().swap(list->marks);
    }
    if (list->whole) {
        list->lines.push_back(segment);
    } else {
        put_varint(&list->packed, segment.address - list->last.address);
        put_varint(&list->packed, segment.offset - list->last.offset);
        if (list->count % SEGMENT_MARK_EVERY == 0)
            list->marks.push_back({segment, uint32_t(list->packed.size())});
    }
    list->last = segment;
    list->count++;
}

void finish_segments(segment_list* list)
{
    if (list->whole && !std::is_sorted(list->lines.begin(), list->lines.end(), segment_before))
        std::sort(list->lines.begin(), list->lines.end(), segment_before);
}

segment_cursor seek_segments(const segment_list& list, uint32_t address)
{
    segment_cursor cursor{&list, 0, 0, {0, 0}};
    if (list.whole) {
        bus_segment probe{address, 0};
        cursor.index = size_t(std::lower_bound(list.lines.begin(), list.lines.end(), probe, segment_before) -
                              list.lines.begin());
        return cursor;
    }
    // From the last mark before the address: what lies between two marks is
    // read line by line.
    auto mark = std::lower_bound(list.marks.begin(), list.marks.end(), address,
                                 [](const segment_mark& m, uint32_t a) { return m.segment.address < a; });
    if (mark != list.marks.begin()) {
        --mark;
        cursor.index = size_t(mark - list.marks.begin()) * SEGMENT_MARK_EVERY + 1;
        cursor.at = mark->next;
        cursor.now = mark->segment;
    }
    segment_cursor ahead = cursor;
    bus_segment line;
    while (next_segment(&ahead, &line) && line.address < address)
        cursor = ahead;
    return cursor;
}

bool next_segment(segment_cursor* cursor, bus_segment* segment)
{
    const segment_list& list = *cursor->list;
    if (cursor->index >= list.count)
        return false;
    if (list.whole) {
        *segment = list.lines[cursor->index++];
        return true;
    }
    cursor->now.address += take_varint(list.packed, &cursor->at);
    cursor->now.offset += take_varint(list.packed, &cursor->at);
    cursor->index++;
    *segment = cursor->now;
    return true;
}

size_t count_bus_units(const bus_description& bus)
{
    size_t units = 0;
    segment_cursor cursor = seek_segments(bus.segments, 0);
    bus_segment line, before{};
    for (size_t n = 0; next_segment(&cursor, &line); n++) {
        if (n == 0 || line.address != before.address)
            units++;
        before = line;
    }
    return units;
}

static bool has_bus_unit(const bus_description& bus, uint32_t address)
{
    segment_cursor cursor = seek_segments(bus.segments, address);
    bus_segment line;
    return next_segment(&cursor, &line) && line.address == address;
}

bus_unit* find_bus_unit(bus_description& bus, int adapter, int target, int lun)
{
    uint32_t address = bus_address(adapter, target, lun);
    auto known = bus.loaded.find(address);
    if (known != bus.loaded.end())
        return known->second.get();
    if (bus.changed || !has_bus_unit(bus, address))
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
        if (!take_key(shape, bytes, key))
            continue;
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
            int64_t offset = record_offset(shape.records.data() + unused * size, shape.kept);
            if (score > unused_score || (score == unused_score && offset < best_unused)) {
                unused_shape = &shape;
                unused_run = first;
                unused_record = unused;
                best_unused = offset;
                unused_score = score;
            }
        }
        int64_t last = record_offset(shape.records.data() + (end - 1) * size, shape.kept);
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
                        unused_shape->kept) == 0)
            unused_shape->next_unused[uint32_t(unused_run)] = uint32_t(end);
        else if (unused_record != unused_run)
            unused_shape->next_unused.erase(uint32_t(unused_run));
        return best_unused;
    }
    return best_last;
}
