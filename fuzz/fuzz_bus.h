// An in-memory ASPI manager for the fuzz targets: every answer a unit gives
// comes from the fuzz input. One host adapter, one unit at 0:0:0.
//
// The input is a sequence of records separated by RECORD_SEPARATOR. A
// record's first byte says which command it answers (its value modulo
// ANSWER_KINDS), its second byte how the request ends, and the rest is the
// data the unit transfers. Each request takes the next record of its kind
// and repeats the last one when they run out; a command without any record
// is answered as an unsupported command. The data of all READ(10) records,
// joined, is the medium.
#pragma once
#include <cstddef>
#include <cstdint>

#include "aspi/manager.h"

enum answer_kind : uint8_t {
    ANSWER_INQUIRY = 0,
    ANSWER_VPD = 1,
    ANSWER_MODE_SENSE = 2,
    ANSWER_READ_CAPACITY = 3,
    ANSWER_READ_TOC = 4,
    ANSWER_READ_DEFECT_DATA = 5,
    ANSWER_READ_BLOCK_LIMITS = 6,
    ANSWER_READ10 = 7,
    ANSWER_ADAPTER_IDS = 8,
    ANSWER_KINDS = 9,
};

// How a request ends (the second byte of a record, its low three bits).
enum answer_outcome : uint8_t {
    OUTCOME_GOOD = 0,            // 0 to 3
    OUTCOME_CHECK_CONDITION = 4, // illegal request
    OUTCOME_POWER_ON = 5,        // unit attention, sense code 29h
    OUTCOME_MEDIUM_CHANGED = 6,  // unit attention, sense code 28h
    OUTCOME_HANG = 7,            // never completes
};

constexpr char RECORD_SEPARATOR[] = "\xF7\x5E\xF7\x5E";
constexpr size_t RECORD_SEPARATOR_LENGTH = 4;

// Loads the records of input (which must outlive the requests).
void fuzz_bus_load(const uint8_t* input, size_t size);
// A medium given directly rather than in READ(10) records. With
// zero_beyond set, blocks past the data read as zeros (a medium larger
// than the input); otherwise they fail as out of range.
void fuzz_bus_set_medium(const uint8_t* medium, size_t size, bool zero_beyond);
const aspi_manager* fuzz_bus_manager();
// How many requests reached the manager since the last load.
unsigned long fuzz_bus_requests();
