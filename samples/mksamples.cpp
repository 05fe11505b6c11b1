// Writes the sample media that the sample bus files and the README use:
//   sample-disk.img    10 MiB: a master boot record with an active FAT16
//                      primary and an extended partition holding a FAT12
//                      and a Linux logical partition, 1 MiB left free
//   sample-floppy.img  a 1.44 MB FAT12 floppy
//   sample-towns.img   8 MiB in the FMR/TOWNS layout: an MS-DOS partition
//                      and a data area
// The FAT volumes are formatted here: boot sector, the first FAT entries
// and a volume label in the root directory. Unwritten sectors stay holes.
//
//   mksamples <samples dir>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "format/bytes.h"

using sector_bytes = std::array<uint8_t, 512>;

static int write_sector(FILE* file, uint64_t lba, const sector_bytes& sector)
{
    if (fseek(file, long(lba * 512), SEEK_SET) != 0)
        return -1;
    return fwrite(sector.data(), 1, sector.size(), file) == sector.size() ? 0 : -1;
}

// Gives the file its full length; the sectors never written stay holes.
static int set_length(FILE* file, uint64_t sectors)
{
    if (fseek(file, long(sectors * 512 - 1), SEEK_SET) != 0)
        return -1;
    return fputc(0, file) == EOF ? -1 : 0;
}

struct fat_volume {
    uint32_t total_sectors;
    uint8_t sectors_per_cluster;
    uint16_t reserved_sectors;
    uint8_t fat_count;
    uint16_t root_entries;
    uint8_t media;
    uint16_t sectors_per_track;
    uint16_t heads;
    uint32_t hidden_sectors;
    uint8_t drive_number;
    uint32_t serial;
    const char* label;     // 11 characters
    int fat_bits;          // 12 or 16
};

// Sectors of one FAT large enough for every cluster of the volume.
static uint16_t fat_sectors_for(const fat_volume& v)
{
    uint32_t root_sectors = (uint32_t(v.root_entries) * 32 + 511) / 512;
    for (uint32_t fat = 1; fat < 256; fat++) {
        uint32_t areas = v.reserved_sectors + root_sectors + v.fat_count * fat;
        uint32_t clusters = (v.total_sectors - areas) / v.sectors_per_cluster;
        uint32_t fat_bytes = v.fat_bits == 12 ? (clusters + 2) * 3 / 2 + 1 : (clusters + 2) * 2;
        if (fat * 512 >= fat_bytes)
            return uint16_t(fat);
    }
    return 255;
}

static void copy_text(uint8_t* dest, const char* text, size_t width)
{
    memset(dest, ' ', width);
    memcpy(dest, text, strnlen(text, width));
}

static int write_fat_volume(FILE* file, uint64_t first_sector, const fat_volume& v)
{
    uint16_t fat_sectors = fat_sectors_for(v);
    sector_bytes boot{};
    boot[0] = 0xEB;
    boot[1] = 0x3C;
    boot[2] = 0x90;
    copy_text(boot.data() + 0x03, "MSDOS5.0", 8);
    put_le16(boot.data() + 0x0B, 512);
    boot[0x0D] = v.sectors_per_cluster;
    put_le16(boot.data() + 0x0E, v.reserved_sectors);
    boot[0x10] = v.fat_count;
    put_le16(boot.data() + 0x11, v.root_entries);
    if (v.total_sectors < 0x10000)
        put_le16(boot.data() + 0x13, v.total_sectors);
    else
        put_le32(boot.data() + 0x20, v.total_sectors);
    boot[0x15] = v.media;
    put_le16(boot.data() + 0x16, fat_sectors);
    put_le16(boot.data() + 0x18, v.sectors_per_track);
    put_le16(boot.data() + 0x1A, v.heads);
    put_le32(boot.data() + 0x1C, v.hidden_sectors);
    boot[0x24] = v.drive_number;
    boot[0x26] = 0x29;
    put_le32(boot.data() + 0x27, v.serial);
    copy_text(boot.data() + 0x2B, v.label, 11);
    copy_text(boot.data() + 0x36, v.fat_bits == 12 ? "FAT12" : "FAT16", 8);
    boot[0x1FE] = 0x55;
    boot[0x1FF] = 0xAA;
    if (write_sector(file, first_sector, boot) != 0)
        return -1;
    // Clusters 0 and 1 of every FAT: the media descriptor and end marks.
    sector_bytes fat{};
    fat[0] = v.media;
    fat[1] = 0xFF;
    fat[2] = 0xFF;
    if (v.fat_bits == 16)
        fat[3] = 0xFF;
    for (uint32_t i = 0; i < v.fat_count; i++) {
        if (write_sector(file, first_sector + v.reserved_sectors + uint64_t(i) * fat_sectors, fat) != 0)
            return -1;
    }
    sector_bytes root{};
    copy_text(root.data(), v.label, 11);
    root[11] = 0x08; // volume label
    return write_sector(file, first_sector + v.reserved_sectors + uint64_t(v.fat_count) * fat_sectors, root);
}

static void put_mbr_entry(uint8_t* table, int index, uint8_t boot, uint8_t type, uint32_t start, uint32_t count)
{
    uint8_t* entry = table + 0x1BE + 16 * index;
    entry[0] = boot;
    entry[4] = type;
    put_le32(entry + 8, start);
    put_le32(entry + 12, count);
}

static int write_sample_disk(FILE* file)
{
    sector_bytes mbr{};
    put_le32(mbr.data() + 0x1B8, 0x5645584Du); // disk signature
    put_mbr_entry(mbr.data(), 0, 0x80, 0x06, 2048, 8192);
    put_mbr_entry(mbr.data(), 1, 0x00, 0x05, 10240, 8192);
    mbr[0x1FE] = 0x55;
    mbr[0x1FF] = 0xAA;
    // Logical partitions: each extended boot record lists one partition
    // relative to itself and links the next relative to the extended start.
    sector_bytes ebr1{};
    put_mbr_entry(ebr1.data(), 0, 0x00, 0x01, 2048, 2048);
    put_mbr_entry(ebr1.data(), 1, 0x00, 0x05, 4096, 4096);
    ebr1[0x1FE] = 0x55;
    ebr1[0x1FF] = 0xAA;
    sector_bytes ebr2{};
    put_mbr_entry(ebr2.data(), 0, 0x00, 0x83, 2048, 2048);
    ebr2[0x1FE] = 0x55;
    ebr2[0x1FF] = 0xAA;
    fat_volume primary{8192, 1, 1, 2, 512, 0xF8, 63, 16, 2048, 0x80, 0x1A2B3C4D, "SAMPLE DISK", 16};
    fat_volume logical{2048, 4, 1, 2, 512, 0xF8, 63, 16, 2048, 0x80, 0x0BAD1DEA, "LOGICAL ONE", 12};
    if (write_sector(file, 0, mbr) != 0 || write_fat_volume(file, 2048, primary) != 0 ||
        write_sector(file, 10240, ebr1) != 0 || write_fat_volume(file, 12288, logical) != 0 ||
        write_sector(file, 14336, ebr2) != 0)
        return -1;
    return set_length(file, 20480);
}

static int write_sample_floppy(FILE* file)
{
    fat_volume floppy{2880, 1, 1, 2, 224, 0xF0, 18, 2, 0, 0x00, 0x20261207, "SAMPLE FLOP", 12};
    if (write_fat_volume(file, 0, floppy) != 0)
        return -1;
    return set_length(file, 2880);
}

static void put_towns_entry(uint8_t* table, int index, uint8_t mark, uint32_t start, uint32_t count,
                            const char* system_name, const char* second_name)
{
    uint8_t* entry = table + 0x20 + 0x30 * index;
    entry[0] = mark;
    put_le32(entry + 0x02, start);
    put_le32(entry + 0x06, count);
    strncpy(reinterpret_cast<char*>(entry + 0x10), system_name, 16);
    strncpy(reinterpret_cast<char*>(entry + 0x20), second_name, 16);
}

static int write_sample_towns(FILE* file)
{
    sector_bytes ipl{};
    memcpy(ipl.data(), "IPL4", 4);
    sector_bytes table{};
    put_towns_entry(table.data(), 0, 0xFF, 64, 8192, "MS-DOS", "SYSTEM");
    put_towns_entry(table.data(), 1, 0x00, 8256, 4096, "DATA AREA", "WORK");
    fat_volume system{8192, 4, 1, 2, 512, 0xF8, 32, 8, 64, 0x80, 0x1234ABCD, "TOWNS SYS", 12};
    if (write_sector(file, 0, ipl) != 0 || write_sector(file, 1, table) != 0 || write_fat_volume(file, 64, system) != 0)
        return -1;
    return set_length(file, 16384);
}

static int write_sample(const std::string& dir, const char* name, int (*writer)(FILE*))
{
    std::string path = dir + "/" + name;
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        fprintf(stderr, "mksamples: can't create %s\n", path.c_str());
        return -1;
    }
    int result = writer(file);
    if (fclose(file) != 0)
        result = -1;
    if (result != 0)
        fprintf(stderr, "mksamples: can't write %s\n", path.c_str());
    return result;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: mksamples <samples dir>\n");
        return 2;
    }
    std::string dir = argv[1];
    if (write_sample(dir, "sample-disk.img", write_sample_disk) != 0 ||
        write_sample(dir, "sample-floppy.img", write_sample_floppy) != 0 ||
        write_sample(dir, "sample-towns.img", write_sample_towns) != 0)
        return 1;
    return 0;
}
