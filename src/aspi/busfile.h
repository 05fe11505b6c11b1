// The description of a SCSI bus read from a bus file (docs/bus-file.md):
// what the parser keeps and what the bus file manager answers from.
//
// A bus file is read in place. Loading it checks every line once and keeps
// only where each unit's lines stand; a unit's answers are indexed when the
// unit is first asked, and an answer's bytes are read from the file when it
// is chosen. What stays in memory is a few bytes per unit line and per
// answer of the units asked, whatever the size of the file (a trace of a
// long partition chain is 188 MB of text).
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "aspi/aspi.h"
#include "physdrive/container.h"
#include "physdrive/drive_platform.h"

// What an answer makes of the request it is chosen for: its lines, read
// when it is chosen.
struct bus_answer {
    std::vector<uint8_t> data;
    std::vector<uint8_t> sense;
    uint8_t target_status = STATUS_GOOD;
    uint8_t host_status = HASTAT_OK;
    int request_status = -1; // -1: derived from the other statuses
    long transfer_limit = -1;
    bool hang = false;
};

// What one bus file may ask of the tool (docs/bus-file.md, "Limits").
constexpr uint64_t BUS_FILE_LIMIT = uint64_t(256) << 20;   // bytes of the file
constexpr size_t BUS_LINE_LIMIT = size_t(4) << 20;         // bytes of one line
constexpr uint64_t BUS_MEMORY_LIMIT = uint64_t(256) << 20; // what its description describes
constexpr uint64_t BUS_ITEM_COST = 256;                    // a unit, answer or block beside its bytes
constexpr size_t BUS_SHAPE_LIMIT = 256;                    // kinds of pattern in one unit
static_assert(BUS_FILE_LIMIT <= UINT32_MAX, "offsets in a bus file are kept in 32 bits");

// The text of a bus file: held whole (a text given in memory, or a file that
// cannot be read at an offset, such as a pipe), or read from the file in
// pieces.
struct bus_source {
    std::string text;                            // the text, when held whole
    drive_handle_t file = INVALID_DRIVE_HANDLE; // the file, when read in place
    uint64_t size = 0;                           // of the file
    std::vector<char> window;                    // the piece of the file read last
    uint64_t window_start = 0;

    bus_source() = default;
    bus_source(const bus_source&) = delete;
    bus_source& operator=(const bus_source&) = delete;
    ~bus_source()
    {
        if (file != INVALID_DRIVE_HANDLE)
            platform_close_drive(file);
    }
};

// Reads the line that starts at offset: 1 with the line (without its line
// end) and where the next one starts, 0 at the end of the text, -1 when the
// file cannot be read or the line is longer than BUS_LINE_LIMIT.
int read_bus_line(bus_source& source, uint64_t offset, std::string* line, uint64_t* next);

// One stretch of a unit's lines: its unit line's address and where the line
// after it starts. A unit may be described in several stretches (a trace
// starts one at each change of address).
struct bus_segment {
    uint32_t address;
    uint32_t offset;
};
static_assert(sizeof(bus_segment) == 8, "a unit line costs 8 bytes");

// Every unit line, by address and then by place in the file. They are added
// in file order. While the addresses come in order (a file written unit by
// unit) each is kept as its differences from the one before, a few bytes,
// with a mark every SEGMENT_MARK_EVERY lines to search by; once one comes
// out of order (a trace returns to units it asked before) all are kept
// whole and sorted when the file has been read.
constexpr size_t SEGMENT_MARK_EVERY = 64;
struct segment_mark {
    bus_segment segment; // the line the mark stands at
    uint32_t next;       // where the line after it starts in packed
};
struct segment_list {
    size_t count = 0;
    bus_segment last{};
    std::vector<uint8_t> packed;
    std::vector<segment_mark> marks;
    bool whole = false;
    std::vector<bus_segment> lines; // when whole
};
void add_segment(segment_list* list, bus_segment segment);
// Sorts the lines kept whole; after it no line may be added.
void finish_segments(segment_list* list);

// Walks the unit lines from the first whose address is at least address.
struct segment_cursor {
    const segment_list* list;
    size_t index;    // of the line next returned
    size_t at;       // where it starts in packed
    bus_segment now; // the line before it
};
segment_cursor seek_segments(const segment_list& list, uint32_t address);
// The next line, or false after the last.
bool next_segment(segment_cursor* cursor, bus_segment* segment);

// The answers of one unit whose patterns compare the same positions (the
// same length, the same ".." places). The bytes a pattern compares (in
// byte 1 only the bits below the LUN) are its key. Where every key of the
// shape has the same byte (a trace's READ answers differ only in the block
// address), the byte is kept once; each answer is one record: the other
// bytes of its key, then the offset of its on line, big-endian. Records are
// sorted, so the answers of one pattern lie together in file order. An
// answer is consumed when it has been chosen as the first unused one of its
// pattern.
struct answer_shape {
    uint8_t length = 0;     // pattern positions
    uint8_t compared = 0;   // positions that are not "..": the key's length
    uint16_t wildcards = 0; // bit i: position i matches any byte
    std::array<uint8_t, 16> same{}; // the key's bytes that every answer shares
    uint16_t differing = 0;         // bit k: the answers' keys differ in byte k
    uint8_t kept = 0;               // bytes of a key in each record
    std::vector<uint8_t> records;
    std::vector<bool> consumed;
    // For a pattern of more than one answer, once one is consumed: its
    // first record -> its first record not consumed.
    std::unordered_map<uint32_t, uint32_t> next_unused;
    size_t record_size() const { return size_t(kept) + 4; }
    size_t count() const { return records.size() / record_size(); }
};

// A block of a medium described in the bus file: where its block line is.
struct bus_block {
    uint32_t number;
    uint32_t offset;
};

struct bus_unit {
    int adapter = 0, target = 0, lun = 0;
    std::shared_ptr<container_image> image; // shared by the units of one file; read through its container
    uint32_t block_length = 0;
    uint64_t image_blocks = 0; // blocks of the medium, from the image or the medium line
    // A medium described in the bus file itself (medium and block lines):
    // the blocks given, by number; every other byte reads as zero.
    bool inline_medium = false;
    std::vector<bus_block> blocks;
    long attention = 0;
    std::vector<answer_shape> shapes;
};

struct bus_adapter {
    bool reject = false;
    uint8_t ids[48] = {};
    int targets = 0; // target IDs on its bus (targets line); 0: not said
    int own_id = -1; // the adapter's own ID among them; -1: none
};

struct bus_description {
    std::string name;     // the file's name in messages
    std::string base_dir; // where relative image paths start
    bus_source source;
    uint32_t support = 0;
    bool support_given = false;
    int adapter_count = 1;
    std::map<int, bus_adapter> adapters;
    // Every unit line, sorted by address and then by place in the file.
    segment_list segments;
    std::map<std::string, std::shared_ptr<container_image>> images; // by path, each opened once
    std::unordered_map<uint32_t, std::unique_ptr<bus_unit>> loaded; // the units asked so far, by address
    // The line "end interrupted" of the trace of an interrupted run, or 0.
    int interrupted_line = 0;
    bool changed = false;     // the file no longer reads as it did when loaded
    bool change_told = false; // and the run has said so
};

uint32_t bus_address(int adapter, int target, int lun);

// Checks every line of the bus file in bus->source and notes where each
// unit is described; bus->name and bus->base_dir are set (relative image
// paths start there and may not leave it). Returns 0, or -1 with error set
// to "NAME:LINE: reason", the file's text in it made visible.
int parse_bus_source(bus_description* bus, std::string* error);
// The same for a text in memory.
int parse_bus_text(const std::string& text, const char* name, const char* base_dir, bus_description* bus,
                   std::string* error);
// The message of a bus file past BUS_FILE_LIMIT bytes.
std::string bus_file_too_large(const std::string& name);

// How many units the description has (addresses with at least one unit line).
size_t count_bus_units(const bus_description& bus);
// The unit described at an address, its answers indexed on first use; null
// when none is described (or, once it has been reported, when the file has
// changed since it was loaded).
bus_unit* find_bus_unit(bus_description& bus, int adapter, int target, int lun);
// Reads the lines of the unit at address from the stretches that start
// before limit into unit, answers indexed. Returns 0, or -1 with *error_offset
// and *reason set for the first line that breaks a rule of the whole unit.
int load_bus_unit(bus_description& bus, uint32_t address, uint64_t limit, bus_unit* unit, uint64_t* error_offset,
                  std::string* reason);

// Sorts each shape's records (answer_shape).
void sort_answer_records(answer_shape* shape);
// The answer to a command block (docs/bus-file.md, "Answers"): the offset of
// its on line, or -1 when no pattern matches. Costs one search per shape of
// the unit.
int64_t choose_bus_answer(bus_unit& unit, const uint8_t* cdb, int cdb_length);
// Reads the answer whose on line starts at offset, or the data of the block
// whose block line does. 0, or -1 when the file no longer reads so.
int read_bus_answer(bus_description& bus, uint64_t offset, bus_answer* answer);
