// The builders of map_media.h.
#include "map_media.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "format/bytes.h"
#include "format/crc32.h"

const char* const DISK_GUID = "01234567-89AB-CDEF-0123-456789ABCDEF";


int read_built_medium(const medium_reader* medium, uint64_t block, uint32_t count, uint8_t* buffer)
{
    auto* m = static_cast<built_medium*>(const_cast<void*>(medium->holder));
    for (uint32_t i = 0; i < count; i++) {
        if (block + i >= m->sector_count)
            return -1;
        m->reads++;
        auto found = m->sectors.find(block + i);
        uint8_t* out = buffer + uint64_t(i) * m->sector_size;
        if (found == m->sectors.end())
            memset(out, 0, m->sector_size);
        else
            memcpy(out, found->second.data(), m->sector_size);
    }
    return 0;
}

void boot_signature(built_medium* m) { m->put(0x1FE, "\x55\xAA", 2); }

void put_mbr_entry(built_medium* m, int index, uint8_t boot, uint8_t type, uint32_t start, uint32_t count)
{
    uint8_t* e = m->at(0x1BE + 16 * index);
    e[0] = boot;
    e[4] = type;
    put_le32(e + 8, start);
    put_le32(e + 12, count);
}

// A FAT boot sector at byte offset: FAT16 or FAT32 layout, 512-byte sectors.
void put_fat_boot(built_medium* m, uint64_t offset, bool fat32, uint32_t total, uint32_t hidden, uint32_t serial,
                  const char* label)
{
    uint8_t s[512] = {0xEB, 0x3C, 0x90};
    memcpy(s + 3, "TESTOEM ", 8);
    put_le16(s + 0x0B, 512);
    s[0x0D] = fat32 ? 1 : 4;
    put_le16(s + 0x0E, fat32 ? 32 : 1);
    s[0x10] = 2;
    put_le16(s + 0x11, fat32 ? 0 : 512);
    s[0x15] = 0xF8;
    put_le16(s + 0x18, 32);
    put_le16(s + 0x1A, 64);
    put_le32(s + 0x1C, hidden);
    put_le32(s + 0x20, total);
    uint8_t* names = s + (fat32 ? 0x43 : 0x27);
    if (fat32) {
        put_le32(s + 0x24, 63);
        put_le32(s + 0x2C, 2);
        put_le16(s + 0x32, 6);
    } else {
        put_le16(s + 0x16, 20);
    }
    put_le32(names, serial);
    memset(names + 4, ' ', 11);
    memcpy(names + 4, label, strlen(label));
    memcpy(names + 15, fat32 ? "FAT32   " : "FAT16   ", 8);
    s[0x1FE] = 0x55;
    s[0x1FF] = 0xAA;
    m->put(offset, s, sizeof s);
}

// The bytes of a GUID from its text: the first three groups little-endian.
void put_guid(uint8_t* p, const char* text)
{
    unsigned v[11] = {};
    if (sscanf(text, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7],
               &v[8], &v[9], &v[10]) != 11)
        abort();
    put_le32(p, v[0]);
    put_le16(p + 4, v[1]);
    put_le16(p + 6, v[2]);
    for (int i = 0; i < 8; i++)
        p[8 + i] = uint8_t(v[3 + i]);
}



// The entry array and the header that describes it, at the given sectors.
void put_gpt_copy(built_medium* m, uint64_t header_lba, uint64_t alternate_lba, uint64_t array_lba,
                  const std::vector<gpt_part>& parts, const gpt_layout& layout)
{
    uint32_t size = m->sector_size;
    uint64_t array_bytes = uint64_t(layout.entry_count) * 128;
    uint64_t array_sectors = (array_bytes + size - 1) / size;
    // Room for every entry put, whatever count the header claims.
    std::vector<uint8_t> array(array_bytes + 128 * parts.size() + 128 * 16, 0);
    for (const gpt_part& p : parts) {
        uint8_t* e = array.data() + 128 * p.index;
        put_guid(e, p.type);
        put_guid(e + 16, "11111111-2222-3333-4444-000000000000");
        e[16 + 15] = uint8_t(p.index);
        put_le64(e + 32, p.first);
        put_le64(e + 40, p.last);
        put_le64(e + 48, p.attributes);
        for (size_t i = 0; i < p.name.size(); i++)
            put_le16(e + 56 + 2 * i, p.name[i]);
    }
    m->put(array_lba * size, array.data(), array_bytes);
    uint8_t h[1024] = {};
    memcpy(h, "EFI PART", 8);
    put_le32(h + 8, 0x00010000);
    put_le32(h + 12, layout.header_size);
    put_le64(h + 24, header_lba);
    put_le64(h + 32, alternate_lba);
    put_le64(h + 40, 2 + array_sectors);
    put_le64(h + 48, m->sector_count - 2 - array_sectors);
    put_guid(h + 56, DISK_GUID);
    put_le64(h + 72, array_lba);
    put_le32(h + 80, layout.entry_count);
    put_le32(h + 84, layout.entry_size);
    put_le32(h + 88, update_crc32(0, array.data(), array_bytes));
    put_le32(h + 16, update_crc32(0, h, layout.header_size));
    m->put(header_lba * size, h, 512);
}

// A protective MBR, the primary header and array from sector 1, and the
// backup header in the last sector with its array before it.
void put_gpt(built_medium* m, const std::vector<gpt_part>& parts, const gpt_layout& layout)
{
    uint64_t last = m->sector_count - 1;
    put_mbr_entry(m, 0, 0x00, 0xEE, 1, uint32_t(last > 0xFFFFFFFF ? 0xFFFFFFFF : last));
    boot_signature(m);
    uint64_t array_sectors = (uint64_t(layout.entry_count) * 128 + m->sector_size - 1) / m->sector_size;
    put_gpt_copy(m, 1, last, 2, parts, layout);
    put_gpt_copy(m, last, 1, last - array_sectors, parts, layout);
}


// The IPL's first bytes as NEC's carry them, the table in sector 1.
void put_pc98(built_medium* m, const std::vector<pc98_part>& parts)
{
    m->put(0, "\xEB\x0A\x90\x90IPL1", 8);
    if (m->sector_size >= 512)
        boot_signature(m);
    for (size_t i = 0; i < parts.size(); i++) {
        const pc98_part& p = parts[i];
        uint8_t e[32] = {p.mid, p.sid};
        e[4] = uint8_t(p.sector);
        e[5] = uint8_t(p.head);
        put_le16(e + 6, p.cylinder);
        e[8] = uint8_t(p.sector);
        e[9] = uint8_t(p.head);
        put_le16(e + 10, p.cylinder);
        e[12] = uint8_t(p.end_sector);
        e[13] = uint8_t(p.end_head);
        put_le16(e + 14, p.end_cylinder);
        memset(e + 16, ' ', 16);
        memcpy(e + 16, p.name, strlen(p.name));
        m->put(m->sector_size + 32 * i, e, sizeof e);
    }
}


void put_apple(built_medium* m, uint32_t block_size, uint32_t map_count, const std::vector<apple_part>& parts)
{
    uint8_t ddm[8] = {'E', 'R'};
    put_be16(ddm + 2, block_size);
    put_be32(ddm + 4, uint32_t(m->sector_count * m->sector_size / block_size));
    m->put(0, ddm, sizeof ddm);
    for (size_t i = 0; i < parts.size(); i++) {
        uint8_t e[512] = {'P', 'M'};
        put_be32(e + 4, map_count);
        put_be32(e + 8, parts[i].start);
        put_be32(e + 12, parts[i].count);
        memcpy(e + 16, parts[i].name, strlen(parts[i].name));
        memcpy(e + 48, parts[i].type, strlen(parts[i].type));
        put_be32(e + 88, parts[i].status);
        m->put(uint64_t(i + 1) * block_size, e, sizeof e);
    }
}

void set_checksum(uint8_t* block)
{
    put_be32(block + 8, 0);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < get_be32(block + 4); i++)
        sum += get_be32(block + 4 * i);
    put_be32(block + 8, 0u - sum);
}

void put_rdb(built_medium* m, uint64_t block, uint32_t block_bytes, uint32_t first_part)
{
    uint8_t r[512] = {'R', 'D', 'S', 'K'};
    put_be32(r + 4, 64);
    put_be32(r + 12, 7);
    put_be32(r + 16, block_bytes);
    put_be32(r + 24, 0xFFFFFFFF);
    put_be32(r + 28, first_part);
    put_be32(r + 32, 0xFFFFFFFF);
    put_be32(r + 64, 1000);
    put_be32(r + 68, 32);
    put_be32(r + 72, 4);
    set_checksum(r);
    m->put(block * 512, r, sizeof r);
}

void put_part_block(built_medium* m, uint64_t block, uint32_t next, uint32_t flags, const char* name, uint32_t low,
                    uint32_t high, uint32_t dos_type, int32_t boot_priority)
{
    uint8_t p[512] = {'P', 'A', 'R', 'T'};
    put_be32(p + 4, 64);
    put_be32(p + 12, 7);
    put_be32(p + 16, next);
    put_be32(p + 20, flags);
    p[36] = uint8_t(strlen(name));
    memcpy(p + 37, name, strlen(name));
    const uint32_t environment[17] = {16, 128, 0, 4, 1, 32, 2, 0, 0, low, high, 30, 0, 0x1FE00, 0x7FFFFFFE,
                                      uint32_t(boot_priority), dos_type};
    for (int i = 0; i < 17; i++)
        put_be32(p + 128 + 4 * i, environment[i]);
    set_checksum(p);
    m->put(block * 512, p, sizeof p);
}

void put_atari_entry(built_medium* m, uint64_t sector, int index, uint8_t flag, const char* id, uint32_t start,
                     uint32_t size)
{
    uint8_t e[12] = {flag};
    memcpy(e + 1, id, 3);
    put_be32(e + 4, start);
    put_be32(e + 8, size);
    m->put(sector * 512 + 0x1C6 + 12 * index, e, sizeof e);
}


void put_sun(built_medium* m, bool vtoc, uint32_t heads, uint32_t sectors, const std::vector<sun_slice>& slices)
{
    uint8_t l[512] = {};
    snprintf(reinterpret_cast<char*>(l), 128, "vexum test cyl 1000 alt 2 hd %u sec %u", heads, sectors);
    if (vtoc) {
        put_be32(l + 0x80, 1);
        memcpy(l + 0x84, "VOLNAME", 7);
        put_be16(l + 0x8C, 8);
        put_be32(l + 0xBC, 0x600DDEEE);
    }
    put_be16(l + 0x1B0, 1000);
    put_be16(l + 0x1B2, 2);
    put_be16(l + 0x1B4, heads);
    put_be16(l + 0x1B6, sectors);
    for (size_t i = 0; i < slices.size(); i++) {
        put_be16(l + 0x8E + 4 * i, slices[i].tag);
        put_be16(l + 0x90 + 4 * i, slices[i].flags);
        put_be32(l + 0x1BC + 8 * i, slices[i].cylinder);
        put_be32(l + 0x1C0 + 8 * i, slices[i].sectors);
    }
    put_be16(l + 0x1FC, 0xDABE);
    uint32_t sum = 0;
    for (int i = 0; i < 510; i += 2)
        sum ^= get_be16(l + i);
    put_be16(l + 0x1FE, sum);
    m->put(0, l, sizeof l);
}

void put_sgi(built_medium* m)
{
    uint8_t h[512] = {};
    put_be32(h, 0x0BE5A941);
    put_be16(h + 4, 0);
    put_be16(h + 6, 1);
    memcpy(h + 8, "/unix", 5);
    memcpy(h + 0x48, "sgilabel", 8);
    put_be32(h + 0x48 + 8, 2);
    put_be32(h + 0x48 + 12, 512);
    memcpy(h + 0x58, "sash", 4);
    put_be32(h + 0x58 + 8, 3);
    put_be32(h + 0x58 + 12, 10240);
    const struct {
        int index;
        uint32_t blocks, first, type;
    } parts[] = {{0, 100000, 4096, 10}, {1, 20000, 104096, 3}, {8, 4096, 0, 0}, {10, 200000, 0, 6}};
    for (const auto& p : parts) {
        put_be32(h + 0x138 + 12 * p.index, p.blocks);
        put_be32(h + 0x138 + 12 * p.index + 4, p.first);
        put_be32(h + 0x138 + 12 * p.index + 8, p.type);
    }
    uint32_t sum = 0;
    for (int i = 0; i < 512; i += 4)
        sum += get_be32(h + i);
    put_be32(h + 0x1F8, 0u - sum);
    m->put(0, h, sizeof h);
}


void put_bsd(built_medium* m, uint64_t offset, const std::vector<bsd_part>& parts, uint16_t count)
{
    uint8_t l[404] = {};
    put_le32(l, 0x82564557);
    memcpy(l + 8, "SCSI disk", 9);
    memcpy(l + 24, "root disk", 9);
    put_le32(l + 40, 512);
    put_le32(l + 44, 32);
    put_le32(l + 48, 8);
    put_le32(l + 52, 1000);
    put_le32(l + 132, 0x82564557);
    put_le16(l + 138, count != 0 ? count : uint16_t(parts.size()));
    for (size_t i = 0; i < parts.size(); i++) {
        put_le32(l + 148 + 16 * i, parts[i].size);
        put_le32(l + 148 + 16 * i + 4, parts[i].offset);
        l[148 + 16 * i + 12] = parts[i].fs_type;
    }
    uint32_t sum = 0;
    for (size_t i = 0; i < 148 + 16 * parts.size(); i += 2)
        sum ^= get_le16(l + i);
    put_le16(l + 136, sum);
    m->put(offset, l, 148 + 16 * parts.size());
}

std::vector<uint8_t> flatten(const built_medium& m)
{
    std::vector<uint8_t> bytes;
    if (m.sectors.empty())
        return bytes;
    bytes.resize((m.sectors.rbegin()->first + 1) * m.sector_size, 0);
    for (const auto& s : m.sectors)
        std::copy(s.second.begin(), s.second.end(), bytes.begin() + s.first * m.sector_size);
    return bytes;
}
