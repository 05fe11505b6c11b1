// The description of a SCSI bus read from a bus file (docs/bus-file.md):
// what the parser fills and what the bus file manager answers from.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "aspi/aspi.h"
#include "physdrive/container.h"

struct bus_answer {
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

// What one bus file may ask of the tool (docs/bus-file.md, "Limits").
constexpr uint64_t BUS_FILE_LIMIT = uint64_t(256) << 20;   // bytes of the file
constexpr size_t BUS_LINE_LIMIT = size_t(4) << 20;         // bytes of one line
constexpr uint64_t BUS_MEMORY_LIMIT = uint64_t(256) << 20; // what its description holds
constexpr uint64_t BUS_ITEM_COST = 256;                    // a unit, answer or block beside its bytes
constexpr size_t BUS_SHAPE_LIMIT = 256;                    // kinds of pattern in one unit

// The answers of one unit whose patterns compare the same positions (the
// same length, the same ".." places), found by the bytes they compare. A
// group holds the answers of one pattern in file order; those before
// next_unused have been used, the others not.
struct answer_group {
    std::vector<uint32_t> members;
    size_t next_unused = 0;
};

struct answer_shape {
    int length = 0;
    uint32_t wildcards = 0; // bit i: position i matches any byte
    int compared = 0;
    std::unordered_map<std::string, answer_group> groups;
};

struct bus_unit {
    int adapter = 0, target = 0, lun = 0;
    std::string image_path;
    std::shared_ptr<container_image> image; // shared by the units of one file; read through its container
    uint32_t block_length = 0;
    uint64_t image_blocks = 0; // blocks of the medium, from the image or the medium line
    // A medium described in the bus file itself (medium and block lines):
    // the blocks given, by number, each at most one block long; every other
    // byte of the medium reads as zero.
    bool inline_medium = false;
    std::map<uint64_t, std::vector<uint8_t>> blocks;
    long attention = 0;
    std::vector<bus_answer> answers;
    std::vector<answer_shape> shapes; // the answers indexed (index_bus_answers)
};

struct bus_adapter {
    bool reject = false;
    uint8_t ids[48] = {};
    int targets = 0;  // target IDs on its bus (targets line); 0: not said
    int own_id = -1;  // the adapter's own ID among them; -1: none
};

struct bus_description {
    uint32_t support = 0;
    bool support_given = false;
    int adapter_count = 1;
    std::map<int, bus_adapter> adapters;
    std::vector<std::unique_ptr<bus_unit>> units;
    std::unordered_map<uint32_t, bus_unit*> unit_index; // by address
    // The line "end interrupted" of the trace of an interrupted run, or 0.
    int interrupted_line = 0;
};

// Parses bus file text into bus; name is the file's name in messages and
// base_dir the folder that relative image paths start from (and may not
// leave). Returns 0, or -1 with error set to "NAME:LINE: reason", the file's
// text in it made visible.
int parse_bus_text(const std::string& text, const char* name, const char* base_dir, bus_description* bus,
                   std::string* error);

// The unit described at an address, or null.
bus_unit* find_bus_unit(bus_description& bus, int adapter, int target, int lun);
// Adds a unit at an address that has none.
bus_unit* add_bus_unit(bus_description& bus, int adapter, int target, int lun);

// Sorts the unit's answers into shapes and groups; -1 when they come in more
// than BUS_SHAPE_LIMIT shapes.
int index_bus_answers(bus_unit* unit);
// The answer to a command block (docs/bus-file.md, "Answers"), marked used;
// null when no pattern matches. Costs one look-up per shape of the unit.
bus_answer* choose_bus_answer(bus_unit& unit, const uint8_t* cdb, int cdb_length);
