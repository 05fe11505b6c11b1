// The partition maps beyond the IBM PC and FMR/TOWNS tables: the GUID
// partition table behind a protective MBR entry, the PC-98 table, the Apple
// partition map, the Amiga rigid disk block, Atari AHDI root sectors, Sun
// and SGI disk labels and BSD disk labels. Each is recognised by its own
// signatures, read through the medium reader whatever its sector size, and
// reported entry by entry through the layout report of partition.h.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "format/json.h"
#include "partition/partition.h"

inline bool is_map_layout(layout_kind kind) { return kind >= LAYOUT_GPT; }

// ---- Reading a map wherever it lies --------------------------------------

// One medium sector at a time, kept for the next read from the same sector:
// a map's entries often share one.
struct sector_cache {
    const medium_reader* medium;
    std::unique_ptr<uint8_t[]> sector; // medium->sector_size bytes; null when memory failed
    uint64_t held;                     // the sector in it; UINT64_MAX for none
};
sector_cache make_sector_cache(const medium_reader* medium);
// Reads length bytes from the byte offset of the medium into out, across
// sector boundaries. -1 for a range outside the medium or a failed read
// (out is then cleared).
int read_medium_bytes(sector_cache* cache, uint64_t offset, uint32_t length, uint8_t* out);

// a x b, false when the product does not fit 64 bits.
bool multiply_u64(uint64_t a, uint64_t b, uint64_t* product);
// Sectors of the medium from a count of the map's own units of unit_bytes:
// the bytes they make, divided by the sector size (what is left of a sector
// dropped). UINT64_MAX when they do not fit 64 bits.
uint64_t sectors_of_units(const medium_reader* medium, uint64_t units, uint64_t unit_bytes);

// Reads the partition's first sector and, when it holds a FAT boot sector,
// gives the entry that volume. A partition whose start lies outside the
// medium, or that cannot be read, keeps none.
void find_fat_volume(sector_cache* cache, partition_entry* entry);
// True for a FAT boot sector by its parameter block (512 bytes at boot):
// a power-of-two sector and cluster size, reserved sectors, one to four
// FATs of non-zero size, a media descriptor and a total.
bool is_fat_boot_sector(const uint8_t* boot);

// The later of end and the entry's end (its start plus its sectors, held
// at UINT64_MAX), and the free sectors after the highest end of a map.
uint64_t later_end(uint64_t end, const partition_entry& entry);
uint64_t free_after(const medium_reader* medium, uint64_t highest_end);
// Reports one entry of a map with the FAT volume at its start, and keeps
// the highest end among the entries.
void list_map_entry(const layout_report& report, sector_cache* cache, partition_entry* entry, uint64_t* highest_end);
// Ends a map's layout: with the reason of a stopped walk, or, when every
// entry was listed, the free space after the highest end. 0 when complete.
int end_map_layout(const layout_report& report, layout_end end, uint64_t highest_end);

// The links of one chain already followed, so that a link back to any of
// them ends the walk: 32-bit offsets from the chain's base. A chain mostly
// runs forward: the offsets that come each above the one before are kept as
// their differences, a byte or two each, with a mark every LINK_MARK_EVERY
// of them to search by; the others in an open-addressing set, 4 bytes an
// entry. Each costs a constant time a link on average.
constexpr size_t LINK_MARK_EVERY = 64;
struct link_mark {
    uint32_t offset;
    uint32_t next; // where the difference after it starts in rising
};
struct link_set {
    std::vector<uint8_t> rising; // differences of the offsets that rose
    std::vector<link_mark> marks;
    size_t risen = 0;  // offsets in rising
    uint32_t high = 0; // the last and highest of them
    std::unique_ptr<uint32_t[]> slots; // the others: offset + 1; 0 marks a free slot
    size_t capacity = 0;
    size_t count = 0;
    bool holds_last = false; // offset FFFFFFFFh, which has no slot value
};
// Adds the offset; false when it was there already (or memory failed).
bool add_link(link_set* set, uint32_t offset);

// A chain of a map being walked: the links taken, and which.
struct chain_walk {
    uint32_t links = 0;
    link_set walked;
};
// Whether the walk may follow its next link, to sector, known among the
// chain's links by its offset: not after MAX_EXTENDED_LINKS links, not past
// the end of the medium, not back to a link followed before. false with
// the reason and the sector in *end.
bool take_link(chain_walk* walk, const medium_reader* medium, uint64_t sector, uint32_t offset, layout_end* end);

// Begins a map's layout: the heading, then its header as the layout's JSON
// members, or as its text lines (always, or under p only).
template <typename HeaderJson, typename PrintHeader>
void begin_map_layout(const layout_report& report, bool lines_always, HeaderJson header_json, PrintHeader print_header)
{
    if (report.options.json != nullptr) {
        json_value header = header_json();
        begin_layout(report, &header);
        return;
    }
    begin_layout(report);
    if (lines_always || report.options.show_partitions)
        print_header();
}

// ---- Choosing and decoding -----------------------------------------------

// The maps that sector 0 alone identifies by a checked signature, tried
// before the master boot record: a PC-98 table ("IPL1" at offset 4 and a
// table in sector 1). True when one was decoded; *result is its decoder's.
bool decode_map_before_mbr(const medium_reader* medium, const uint8_t* sector0, const report_options& options,
                           int* result);
// The maps tried when sector 0 holds no master boot record: Sun and SGI
// labels, the Apple partition map, an Amiga rigid disk block in the first
// 16 sectors, an Atari root sector and a BSD disk label of its own.
bool decode_map_without_mbr(const medium_reader* medium, const uint8_t* sector0, const report_options& options,
                            int* result);
// True when sector 0 holds a master boot record: the 55h AAh signature,
// boot indicators of 0 or 80h and at least one entry in use.
bool holds_master_boot_record(const medium_reader* medium, const uint8_t* sector0);
// The IBM hard disk layout of a medium whose sector 0 holds a protective
// entry for a GPT that lies in 4096-byte sectors while the medium is read
// in 512-byte ones (an image of a 4Kn disk): decoded in 4096-byte sectors.
// True when that was so.
bool decode_ibm_in_gpt_sectors(const medium_reader* medium, const uint8_t* sector0, const report_options& options,
                               int* result);

// The sections a master boot record's entries lead to, reported right after
// the entry's own lines: the GPT of a protective entry (type EEh), and the
// BSD disk label of a BSD slice (A5h, A6h, A9h).
void report_gpt(const report_options& options, const medium_reader* medium);
void report_bsd_slice(const report_options& options, const medium_reader* medium, const partition_entry& slice);

// The lines under p of one entry of a map (GPT GUIDs, Amiga geometry), and
// its JSON members.
void print_map_entry_details(const layout_report& report, const partition_entry& entry);
void put_map_entry_json(const layout_report& report, const partition_entry& entry, json_value* object);

// The text of a GUID as stored (its first three groups little-endian);
// out holds at least 37 bytes.
char* format_guid(const uint8_t* guid, char* out);

// The details of the maps that have any.
void print_gpt_entry_details(const partition_entry& entry);
void print_amiga_entry_details(const partition_entry& entry);

int decode_pc98(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
bool holds_pc98_table(sector_cache* cache, const uint8_t* sector0);
int decode_apple_map(const medium_reader* medium, const report_options& options);
bool holds_apple_map(sector_cache* cache, const uint8_t* sector0);
// rdb_sector: where the rigid disk block lies (find_rigid_disk_block).
int decode_amiga_rdb(const medium_reader* medium, uint64_t rdb_sector, const report_options& options);
// The first of sectors 0 to 15 holding a rigid disk block with a good
// checksum, or -1.
int64_t find_rigid_disk_block(sector_cache* cache);
int decode_atari(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
bool holds_atari_root_sector(const medium_reader* medium, const uint8_t* sector0);
int decode_sun_label(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
bool holds_sun_label(const medium_reader* medium, const uint8_t* sector0);
int decode_sgi_label(const medium_reader* medium, const uint8_t* sector0, const report_options& options);
bool holds_sgi_label(const medium_reader* medium, const uint8_t* sector0);
// A BSD disk label of its own (no MBR): label_offset is where
// find_bsd_label found it.
int decode_bsd_label(const medium_reader* medium, uint64_t label_offset, const report_options& options);
// The byte offset of a BSD disk label among its known
// places from base_sector on, or -1.
int64_t find_bsd_label(sector_cache* cache, uint64_t base_sector);
