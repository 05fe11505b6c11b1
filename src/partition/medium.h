// The medium reader: the one way the partition decoders read a medium,
// whatever holds it. Each holder (a physical drive or an image file in
// src/physdrive, a SCSI unit in src/scsi, a container format) fills one
// record with its own read function and measures; the decoders see nothing
// but this record. The holder's record must outlive the reader.
//
// Contract of read:
// - count whole sectors from sector `block` on go into buffer, which holds
//   count x sector_size bytes; nothing is written beyond that;
// - 0 only when every byte was read; -1 for a range the holder cannot
//   address or a failed read (the buffer's contents are then unspecified);
// - it may be asked for any block: a holder refuses what it cannot reach,
//   and decoders check a block against sector_count before they follow a
//   pointer read from the medium.
//
// Report a medium's start once: report_medium below reads sector 0 into a
// buffer of its own, hands it to the layout decoders read-only, and dumps
// it on request.
#pragma once
#include <cstdint>

#include "format/report_options.h"

// The largest sector the reports read into one buffer (a SCSI unit's block
// length is a 16-bit figure).
constexpr uint32_t MAX_MEDIUM_SECTOR_SIZE = 65536;

struct medium_reader {
    int (*read)(const medium_reader* medium, uint64_t block, uint32_t count, uint8_t* buffer);
    const void* holder;    // what read reads: the holder's own record
    uint32_t sector_size;  // bytes per sector: 512, 2048, 4096, ...
    uint64_t sector_count; // sectors on the medium, as the holder measures it
    // The medium's own cylinder geometry where its holder knows it (a disk
    // image container records the one its machine used); 0 when unknown.
    // Layouts that address partitions by cylinder, head and sector need it.
    uint32_t heads = 0;
    uint32_t sectors_per_track = 0;
};

// Reads through medium->read after the checks every caller needs: a reader
// and a buffer, at least one sector, a sector size of 1 to
// MAX_MEDIUM_SECTOR_SIZE and a transfer of at most 2^32 - 1 bytes. 0 or -1.
int read_medium(const medium_reader* medium, uint64_t block, uint32_t count, uint8_t* buffer);

// The start of one medium, in the report's order: sector 0 read and its
// layout decoded; then after_layout(context), when given, for what a device
// side shows between the two; then with o the dump of sector 0 (read again
// only when the first read failed). Returns 0 when sector 0 was read.
int report_medium(const medium_reader* medium, const report_options& options,
                  void (*after_layout)(const void* context) = nullptr, const void* context = nullptr);
