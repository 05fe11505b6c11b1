// Partition decoding: the layouts of sector 0 (IBM PC floppy and hard disk,
// FMR/TOWNS), the partition line helpers and the FAT boot parameter block
// reports. Every decoder reads its medium through a medium_reader
// (partition/medium.h) and knows nothing of what holds it.
#pragma once
#include <cstdint>

#include "format/report_options.h"
#include "partition/medium.h"

// The only sector size the layouts of sector 0 are decoded for.
constexpr uint32_t DECODE_SECTOR_SIZE = 512;
// Extended boot records followed on one medium at most. Real disks hold a
// few hundred logical partitions at most; the bound only keeps a corrupt
// chain from running on for ever.
constexpr uint32_t MAX_EXTENDED_LINKS = 100000;

void print_partition_extent(uint64_t start, uint64_t sector_count);
const char* partition_type_name(uint32_t type);

// Decoders of sector 0: sector0 holds the medium's first sector (sector_size
// bytes) and is only read; what else they need they read into buffers of
// their own. The medium's size is medium->sector_count sectors. Each returns
// 0 when it decoded the layout, -1 when it did not or stopped early.
int decode_ibm_floppy(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
int decode_ibm_hard_disk(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
int decode_fmr_towns(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
// Choose the decoder by the first bytes of sector 0 and run it. Only media
// of 512-byte sectors are decoded; any other size yields -1 and no output.
int decode_medium(const medium_reader* medium, const uint8_t* sector0, const report_options& options);

// bpb: the boot parameter block, from offset 0Bh of a boot sector.
// report_fat_bpb reads 51 bytes of it, report_fat32_bpb 79.
void report_fat_bpb(const uint8_t* bpb);
void report_fat32_bpb(const uint8_t* bpb);
