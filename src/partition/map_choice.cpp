// Which map a medium carries, when sector 0 is neither a floppy's boot
// sector nor an FMR/TOWNS one. Each map is taken only on its own checked
// signature; a master boot record keeps its place before every map that
// could share a disk with one (Apple and PC hybrids carry both).
#include <cstring>

#include "format/bytes.h"
#include "partition/maps.h"

bool holds_master_boot_record(const medium_reader* medium, const uint8_t* sector0)
{
    if (medium->sector_size < 512 || sector0[0x1FE] != 0x55 || sector0[0x1FF] != 0xAA)
        return false;
    bool used = false;
    for (int i = 0; i < 4; i++) {
        const uint8_t* entry = sector0 + 0x1BE + 16 * i;
        if (entry[0] != 0x00 && entry[0] != 0x80)
            return false;
        if (entry[4] != 0 && get_le32(entry + 12) != 0) {
            // An entry in use never starts in sector 0, the record itself.
            if (get_le32(entry + 8) == 0)
                return false;
            used = true;
        }
    }
    return used;
}

bool decode_map_before_mbr(const medium_reader* medium, const uint8_t* sector0, const report_options& options,
                           int* result)
{
    sector_cache cache = make_sector_cache(medium);
    if (holds_pc98_table(&cache, sector0)) {
        *result = decode_pc98(medium, sector0, options);
        return true;
    }
    return false;
}

bool decode_map_without_mbr(const medium_reader* medium, const uint8_t* sector0, const report_options& options,
                            int* result)
{
    if (holds_sun_label(medium, sector0)) {
        *result = decode_sun_label(medium, sector0, options);
        return true;
    }
    if (holds_sgi_label(medium, sector0)) {
        *result = decode_sgi_label(medium, sector0, options);
        return true;
    }
    sector_cache cache = make_sector_cache(medium);
    if (holds_apple_map(&cache, sector0)) {
        *result = decode_apple_map(medium, options);
        return true;
    }
    int64_t rdb = find_rigid_disk_block(&cache);
    if (rdb >= 0) {
        *result = decode_amiga_rdb(medium, uint64_t(rdb), options);
        return true;
    }
    if (holds_atari_root_sector(medium, sector0)) {
        *result = decode_atari(medium, sector0, options);
        return true;
    }
    int64_t label = find_bsd_label(&cache, 0);
    if (label >= 0) {
        *result = decode_bsd_label(medium, uint64_t(label), options);
        return true;
    }
    return false;
}
