// Media laid out byte by byte from the published layouts of the partition
// maps, in memory: the tests decode them, the fuzz seeds start from them.
// Each builder writes what its map's own tools would write, and nothing
// else; a test breaks what it needs to by hand afterwards.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "partition/medium.h"

// A medium in memory: sectors of any size, zeros where nothing was put.
struct built_medium {
    uint32_t sector_size;
    uint64_t sector_count;
    std::map<uint64_t, std::vector<uint8_t>> sectors;
    uint64_t reads = 0;

    uint8_t* at(uint64_t offset)
    {
        std::vector<uint8_t>& s = sectors[offset / sector_size];
        if (s.empty())
            s.assign(sector_size, 0);
        return s.data() + offset % sector_size;
    }
    void put(uint64_t offset, const void* bytes, size_t length)
    {
        const uint8_t* from = static_cast<const uint8_t*>(bytes);
        while (length > 0) {
            size_t part = std::min<size_t>(length, sector_size - offset % sector_size);
            memcpy(at(offset), from, part);
            offset += part;
            from += part;
            length -= part;
        }
    }
    void put_text(uint64_t offset, const char* text) { put(offset, text, strlen(text)); }
};

struct gpt_part {
    uint32_t index;
    const char* type;
    uint64_t first, last;
    uint64_t attributes;
    std::u16string name;
};

struct gpt_layout {
    uint32_t entry_count = 128;
    uint32_t entry_size = 128;
    uint32_t header_size = 92;
};

struct pc98_part {
    uint8_t mid, sid;
    uint32_t cylinder, head, sector;
    uint32_t end_cylinder, end_head, end_sector;
    const char* name; // Shift-JIS bytes
};

struct apple_part {
    uint32_t start, count;
    const char* name;
    const char* type;
    uint32_t status;
};

struct sun_slice {
    uint32_t tag, flags, cylinder, sectors;
};

struct bsd_part {
    uint32_t size, offset;
    uint8_t fs_type;
};

// Reads a built_medium: the medium_reader's holder is the built_medium.
int read_built_medium(const medium_reader* medium, uint64_t block, uint32_t count, uint8_t* buffer);
// The medium's bytes from its start to the end of its last sector.
std::vector<uint8_t> flatten(const built_medium& m);

void boot_signature(built_medium* m);
void put_mbr_entry(built_medium* m, int index, uint8_t boot, uint8_t type, uint32_t start, uint32_t count);
// A FAT boot sector at byte offset: FAT16 or FAT32 layout, 512-byte sectors.
void put_fat_boot(built_medium* m, uint64_t offset, bool fat32, uint32_t total, uint32_t hidden, uint32_t serial,
                  const char* label);

// The disk GUID of every table built here.
extern const char* const DISK_GUID;
// The bytes of a GUID from its text: the first three groups little-endian.
void put_guid(uint8_t* p, const char* text);
// The entry array and the header that describes it, at the given sectors.
void put_gpt_copy(built_medium* m, uint64_t header_lba, uint64_t alternate_lba, uint64_t array_lba,
                  const std::vector<gpt_part>& parts, const gpt_layout& layout);
// A protective MBR, the primary header and array from sector 1, and the
// backup header in the last sector with its array before it.
void put_gpt(built_medium* m, const std::vector<gpt_part>& parts, const gpt_layout& layout = gpt_layout{});

// The IPL's first bytes as NEC's carry them, the table in sector 1.
void put_pc98(built_medium* m, const std::vector<pc98_part>& parts);
// The driver descriptor in block 0, the entries from block 1.
void put_apple(built_medium* m, uint32_t block_size, uint32_t map_count, const std::vector<apple_part>& parts);
// The checksum of an Amiga block over its own count of summed longs.
void set_checksum(uint8_t* block);
// A rigid disk block of 1,000 cylinders, 4 heads, 32 sectors.
void put_rdb(built_medium* m, uint64_t block, uint32_t block_bytes, uint32_t first_part);
void put_part_block(built_medium* m, uint64_t block, uint32_t next, uint32_t flags, const char* name, uint32_t low,
                    uint32_t high, uint32_t dos_type, int32_t boot_priority);
void put_atari_entry(built_medium* m, uint64_t sector, int index, uint8_t flag, const char* id, uint32_t start,
                     uint32_t size);
void put_sun(built_medium* m, bool vtoc, uint32_t heads, uint32_t sectors, const std::vector<sun_slice>& slices);
// A volume header with its boot file, two files in its directory and four
// partitions (XFS, raw, the header's own, the whole volume).
void put_sgi(built_medium* m);
// count: the label's partition count when not the number of parts.
void put_bsd(built_medium* m, uint64_t offset, const std::vector<bsd_part>& parts, uint16_t count = 0);
