// Partition decoding: the sector source through which the decoders read a
// medium from either device side, the partition line helpers, the three
// layouts of sector 0 and the FAT boot parameter block reports.
#pragma once
#include <cstdint>

#include "format/report_options.h"

struct drive_descriptor;

enum : uint32_t { SOURCE_PHYSICAL_DRIVE = 0, SOURCE_SCSI_UNIT = 1 };

struct sector_source {
    uint32_t kind;
    const drive_descriptor* drive; // kind 0
    int adapter;                   // kind 1
    int target;
    int lun;
};

// The sector buffer every decoder is lent: one sector of the only size they
// decode.
constexpr uint32_t DECODE_SECTOR_SIZE = 512;
// Extended boot records followed on one medium at most. Real disks hold a
// few hundred logical partitions at most; the bound only keeps a corrupt
// chain from running on for ever.
constexpr uint32_t MAX_EXTENDED_LINKS = 100000;

// 0 when all sectors were read. A SCSI unit cannot be read beyond block
// FFFFFFFFh; such a block yields -1.
int read_sectors(const sector_source* source, uint64_t block, uint32_t sector_count,
                 uint32_t transfer_length, uint8_t* buffer);
void print_partition_extent(uint64_t start, uint64_t sector_count);
const char* partition_type_name(uint32_t type);

// Decoders of sector 0; sector0 is a 512-byte buffer they may overwrite.
// medium_sectors is the medium's size in sectors as the caller knows it.
int decode_ibm_floppy(const sector_source* source, uint32_t sector_size, uint64_t medium_sectors, uint8_t* sector0,
                      const report_options& options);
int decode_ibm_hard_disk(const sector_source* source, uint32_t sector_size, uint64_t medium_sectors,
                         uint8_t* sector0, const report_options& options);
int decode_fmr_towns(const sector_source* source, uint32_t sector_size, uint64_t medium_sectors, uint8_t* sector0,
                     const report_options& options);
// Choose the decoder by the first bytes of sector 0 and run it. Only media
// of 512-byte sectors are decoded; any other size yields -1 and no output.
int decode_medium(const sector_source* source, uint32_t sector_size, uint64_t medium_sectors, uint8_t* sector0,
                  const report_options& options);

// bpb: the boot parameter block, from offset 0Bh of a boot sector.
// report_fat_bpb reads 51 bytes of it, report_fat32_bpb 79.
void report_fat_bpb(const uint8_t* bpb);
void report_fat32_bpb(const uint8_t* bpb);
