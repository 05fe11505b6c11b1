// The partition type names, and the choice of decoder by the first bytes of
// sector 0.
#include <cstdio>
#include <cstring>

#include "format/format.h"
#include "format/output.h"
#include "partition/maps.h"
#include "partition/partition.h"

struct partition_type {
    uint32_t type;
    const char* name;
};

static const partition_type partition_types[] = {
    {0x00, "empty"},
    {0x01, "DOS FAT12"},
    {0x02, "XENIX root"},
    {0x03, "XENIX usr"},
    {0x04, "DOS FAT16 (under 32M)"},
    {0x05, "Extended"},
    {0x06, "DOS FAT16 (over 32M)"},
    {0x07, "OS/2 HPFS, NTFS"},
    {0x08, "AIX"},
    {0x09, "AIX bootable"},
    {0x0A, "OS/2 boot image"},
    {0x0B, "DOS/Windows FAT32"},
    {0x0C, "DOS/Windows FAT32X"},
    {0x40, "Venix 80286"},
    {0x51, "Novell"},
    {0x52, "Microsoft"},
    {0x63, "GNU HURD"},
    {0x64, "Novell NetWare"},
    {0x65, "Novell NetWare"},
    {0x66, "PC/IX"},
    {0x80, "Old MINIX"},
    {0x81, "Linux/MINIX"},
    {0x82, "Linux swap"},
    {0x83, "Linux native"},
    {0x93, "Amoeba"},
    {0x94, "Amoeba BBT"},
    {0xA5, "BSD/386"},
    {0xB7, "BSDI fs"},
    {0xB8, "BSDI swap"},
    {0xC7, "Syrinx"},
    {0xDB, "CP/M"},
    {0xE1, "DOS access"},
    {0xE3, "DOS R/O"},
    {0xF2, "DOS secondary"},
    {0xFF, "BBT"},
};
static_assert(sizeof partition_types / sizeof partition_types[0] == 35, "35 partition type names");

const char* find_partition_type_name(uint32_t type)
{
    for (const partition_type& entry : partition_types) {
        if (entry.type == type)
            return entry.name;
    }
    return nullptr;
}

const char* partition_type_name(uint32_t type)
{
    if (const char* name = find_partition_type_name(type))
        return name;
    // Shared by every call: the caller uses the text before the next lookup.
    static char unlisted[32];
    snprintf(unlisted, sizeof unlisted, "unkown OS (%02XH)", unsigned(type));
    return unlisted;
}

int decode_medium(const medium_reader* medium, const uint8_t* sector0, const report_options& options)
{
    if (medium == nullptr || sector0 == nullptr || medium->sector_size == 0 ||
        medium->sector_size > MAX_MEDIUM_SECTOR_SIZE)
        return -1;
    // On media of 512-byte sectors, the floppy and FMR/TOWNS layouts come
    // first, as they always have.
    bool classic = medium->sector_size == DECODE_SECTOR_SIZE;
    bool jump = sector0[0] == 0xE9 || sector0[0] == 0xEB;
    if (classic && jump && decode_ibm_floppy(medium, sector0, options) == 0)
        return 0;
    if (classic && memcmp(sector0, "IPL", 3) == 0)
        return decode_fmr_towns(medium, sector0, options);
    int result = -1;
    if (decode_map_before_mbr(medium, sector0, options, &result))
        return result;
    if (holds_master_boot_record(medium, sector0)) {
        if (decode_ibm_in_gpt_sectors(medium, sector0, options, &result))
            return result;
        return decode_ibm_hard_disk(medium, sector0, options);
    }
    if (decode_map_without_mbr(medium, sector0, options, &result))
        return result;
    // Anything else reads as it always has: after a jump the floppy decoder
    // refused nothing more, and otherwise the IBM decoder, which says when
    // sector 0 holds no format it knows. Other sector sizes print nothing.
    if (!classic || jump)
        return -1;
    return decode_ibm_hard_disk(medium, sector0, options);
}
