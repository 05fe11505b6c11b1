// Partition decoding: the layouts of sector 0 (IBM PC floppy and hard disk,
// FMR/TOWNS), the FAT volumes in them and their boot parameter blocks.
// Every decoder reads its medium through a medium_reader (partition/medium.h)
// and knows nothing of what holds it.
//
// A decoder turns what it reads into plain records, one partition entry at
// a time, and hands each to the layout report (layout_report.cpp), which
// renders it at once as text or into the JSON document: a long chain is
// never held in memory.
#pragma once
#include <cstdint>

#include "format/json.h"
#include "format/report_options.h"
#include "partition/map_fields.h"
#include "partition/medium.h"

// The sector size of the floppy and FMR/TOWNS layouts, which are read on
// such media only.
constexpr uint32_t DECODE_SECTOR_SIZE = 512;
// Extended boot records followed on one medium at most. Real disks hold a
// few hundred logical partitions at most; the bound only keeps a corrupt
// chain from running on for ever.
constexpr uint32_t MAX_EXTENDED_LINKS = 100000;

// The boot parameter block of a FAT volume, field by field, with the sizes
// derived from it. A block can be inconsistent: a value that cannot be
// derived (a quotient by zero, an area larger than the volume) is marked
// unknown instead.
struct bpb_record {
    bool fat32;
    uint32_t bytes_per_sector;
    uint32_t sectors_per_cluster;
    uint32_t reserved_sectors;
    uint32_t fat_count;
    uint32_t root_entries;     // FAT12/FAT16 only
    uint32_t total_sectors;    // the 16-bit form when non-zero, else the 32-bit form
    uint32_t media_descriptor;
    uint32_t fat_sectors;      // the 16-bit field, or FAT32's 32-bit one
    uint32_t sectors_per_track;
    uint32_t heads;
    uint32_t hidden_sectors;
    uint32_t extend_flags;        // FAT32 only, as the next three
    uint32_t file_system_version;
    uint32_t root_start_cluster;
    uint32_t backup_boot_sector;
    uint32_t serial;
    uint8_t label[11];
    uint8_t file_system_name[8];
    bool root_sectors_known; // FAT12/FAT16: false with 0 bytes per sector
    uint32_t root_sectors;
    bool capacity_known;     // false when the data area cannot be derived
    uint64_t clusters;
    uint64_t cluster_bytes;  // the bytes of whole clusters
    uint64_t gap_sectors;    // data sectors after the last whole cluster
};

// bpb: the block, from offset 0Bh of a boot sector; 51 bytes are read of a
// FAT12/FAT16 block, 79 of a FAT32 block.
bpb_record decode_bpb(const uint8_t* bpb, bool fat32);
void print_bpb(const bpb_record& record);
// The text reports of one block, as decode_bpb then print_bpb.
void report_fat_bpb(const uint8_t* bpb);
void report_fat32_bpb(const uint8_t* bpb);

// The FAT volume of a boot sector: its OEM name and its block, which holds
// the serial number, label and file system name a partition line shows.
struct fat_volume {
    uint8_t oem[8];
    bpb_record bpb;
};
// boot: a whole 512-byte boot sector.
fat_volume decode_fat_volume(const uint8_t* boot, bool fat32);

enum layout_kind {
    LAYOUT_IBM_FLOPPY,
    LAYOUT_IBM_HARD_DISK,
    LAYOUT_FMR_TOWNS,
    // The maps of partition/maps.h.
    LAYOUT_GPT,
    LAYOUT_PC98,
    LAYOUT_APPLE,
    LAYOUT_AMIGA,
    LAYOUT_ATARI,
    LAYOUT_SUN,
    LAYOUT_SGI,
    LAYOUT_BSD,
};

// One entry of a layout.
struct partition_entry {
    uint32_t number;         // 1 up; 0 for the volume that fills a floppy
    uint8_t boot_indicator;  // non-zero: marked active ('*')
    int type_code;           // the IBM table's type byte; -1 in other layouts
    uint8_t system_name[16]; // FMR/TOWNS: the entry's two names
    uint8_t second_name[16];
    uint64_t start;          // first sector
    uint64_t sectors;        // length in sectors
    bool has_volume;         // a FAT boot sector was read for it
    fat_volume volume;
    // The maps of partition/maps.h: the type and the name the map gives the
    // entry, as printable text, and the map's own fields.
    char type_text[40];
    char name_text[112];
    map_fields map;
};

// Why an extended chain, or a chain or run of entries of a map, was left
// before its end.
enum chain_stop {
    CHAIN_NOT_STOPPED,
    CHAIN_TOO_MANY_LINKS,
    CHAIN_PAST_THE_END,
    CHAIN_WALKED_BEFORE,
    CHAIN_NO_ENTRY,     // the sector linked to holds no entry of the map
    CHAIN_BAD_CHECKSUM, // it holds one whose checksum is wrong
};

// How a layout ends.
struct layout_end {
    bool complete;         // the whole table was listed: the free space is known
    uint64_t free_sectors; // after the end of the last listed partition
    chain_stop stop;
    uint64_t stop_sector;  // the link's target (all stops but CHAIN_TOO_MANY_LINKS)
};

// The report of one layout while it is decoded.
struct layout_report {
    const report_options& options;
    layout_kind kind;
    const medium_reader* medium;
    // The sectors the heading counts when the layout does not fill the
    // medium (a disk label inside a partition); 0 for the whole medium.
    uint64_t size_sectors = 0;
};
// The layout's heading (its name and the medium's size).
// header: members the layout's JSON object carries before its partitions
// (a map's header); its text lines the map prints itself.
void begin_layout(const layout_report& report, const json_value* header = nullptr);
void report_partition(const layout_report& report, const partition_entry& entry);
// The same in two steps, for an entry that leads to a layout of its own
// (a GPT behind a protective entry, a disk label in a BSD slice): that
// layout is reported between them, and in JSON it becomes the entry's
// "layout" member.
void begin_partition(const layout_report& report, const partition_entry& entry);
void end_partition(const layout_report& report);
// The chain's stop or the free space, and the end of the layout. Every
// begin_layout is followed by one end_layout.
void end_layout(const layout_report& report, const layout_end& end);
// The report of a medium whose sector 0 holds no layout known here.
void report_unknown_layout(const report_options& options);

void print_partition_extent(uint64_t start, uint64_t sector_count);
// The text of a type byte, "unkown OS (XXH)" for one not listed.
const char* partition_type_name(uint32_t type);
// The listed name of a type byte, or null.
const char* find_partition_type_name(uint32_t type);
// "XXXX-XXXX" of a volume serial number; out holds at least 10 bytes.
char* format_volume_serial(uint32_t serial, char* out);

// Decoders of sector 0: sector0 holds the medium's first sector (sector_size
// bytes) and is only read; what else they need they read into buffers of
// their own. The medium's size is medium->sector_count sectors. Each returns
// 0 when it decoded the layout, -1 when it did not or stopped early.
int decode_ibm_floppy(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
int decode_ibm_hard_disk(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
int decode_fmr_towns(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
// Choose the decoder by the first bytes of sector 0 and run it: on media
// of 512-byte sectors the floppy and FMR/TOWNS layouts first, then the maps
// of partition/maps.h and the master boot record; other sector sizes print
// nothing unless sector 0 holds a layout known here.
int decode_medium(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
