// What the partition maps beyond the IBM and FMR/TOWNS tables keep of each
// entry besides its extent: the fields of the map's own entry, for the
// details under p and for the JSON document. The layout kind of the report
// says which member of map_fields holds them.
#pragma once
#include <cstdint>

struct gpt_fields {
    uint8_t type_guid[16];   // as stored (the first three groups little-endian)
    uint8_t unique_guid[16];
    uint64_t attributes;
    uint64_t first_lba;      // as stored: the last one is inclusive
    uint64_t last_lba;
};

struct pc98_fields {
    uint8_t mid;             // bit 7: bootable; the rest: the system
    uint8_t sid;             // bit 7: active (not hidden); the rest: the file system
    uint32_t start_cylinder, start_head, start_sector;
    uint32_t end_cylinder, end_head, end_sector;
};

struct apple_fields {
    uint32_t status;
    uint32_t start_block;    // in the map's blocks
    uint32_t block_count;
    uint8_t processor[16];
};

struct amiga_fields {
    uint32_t block;          // where the partition block lies, in RDB blocks
    uint32_t flags;          // bit 0: bootable; bit 1: not mounted
    uint32_t dos_type;
    uint32_t surfaces;
    uint32_t blocks_per_track;
    uint32_t reserved_blocks;
    uint32_t low_cylinder;
    uint32_t high_cylinder;
    int32_t boot_priority;
};

struct atari_fields {
    uint8_t flag;            // bit 0: in use; bit 7: bootable
    uint8_t id[3];
    uint32_t table_sector;   // the root or extended sector holding the entry
};

struct sun_fields {
    bool tagged;             // the table of contents gives tags and flags
    uint32_t tag;
    uint32_t flags;
    uint32_t start_cylinder;
};

struct sgi_fields {
    uint32_t type;
};

struct bsd_fields {
    uint32_t fs_type;
    uint32_t fragment_size;
    uint32_t fragments_per_block;
    uint32_t cylinders_per_group;
    uint32_t offset;         // as stored
};

union map_fields {
    gpt_fields gpt;
    pc98_fields pc98;
    apple_fields apple;
    amiga_fields amiga;
    atari_fields atari;
    sun_fields sun;
    sgi_fields sgi;
    bsd_fields bsd;
};
