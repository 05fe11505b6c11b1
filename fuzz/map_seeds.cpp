// The seeds of the partition maps: for the medium target, small images of
// 512-byte sectors in each map, sound and broken; for the maps target, the
// same maps on sectors of their own sizes behind its three-byte prefix.
#include "map_seeds.h"

#include <cstring>

#include "format/bytes.h"
#include "map_media.h"

namespace {

const char* const ESP = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
const char* const LINUX = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";

// Two partitions from first on, each of size sectors: an EFI system
// partition with its FAT32 volume, and a Linux one.
built_medium gpt_medium(uint32_t sector_size, uint64_t sectors, uint32_t entries, uint64_t first, uint64_t size)
{
    built_medium m{sector_size, sectors, {}};
    put_gpt(&m,
            {{0, ESP, first, first + size - 1, 0, u"EFI"},
             {2, LINUX, first + size, first + 2 * size - 1, 4, u"r\u00F6\u00F6t"}},
            gpt_layout{entries, 128, 92});
    put_fat_boot(&m, first * sector_size, true, uint32_t(size), uint32_t(first), 0x1234ABCD, "ESP");
    return m;
}

built_medium pc98_medium(uint32_t sector_size)
{
    built_medium m{sector_size, 256, {}};
    put_pc98(&m, {{0xA0, 0xA1, 1, 0, 0, 3, 1, 7, "MS-DOS"}, {0x20, 0xE2, 4, 0, 0, 5, 0, 0, "\x83\x66\x81\x5B"}});
    put_fat_boot(&m, 16 * uint64_t(sector_size), false, 48, 16, 0x98765432, "PC98");
    return m;
}

built_medium apple_medium(uint32_t sector_size, uint32_t count)
{
    built_medium m{sector_size, 32768 / sector_size, {}};
    put_apple(&m, 2048, count, {{1, 3, "Apple", "Apple_partition_map", 0x37}, {4, 8, "HD", "Apple_HFS", 0x3F},
                                {12, 4, "", "Apple_Free", 0}});
    return m;
}

built_medium amiga_medium(uint32_t second_next)
{
    built_medium m{512, 64, {}};
    put_rdb(&m, 1, 512, 2);
    put_part_block(&m, 2, 3, 1, "DH0", 0, 0, 0x444F5303, 0);
    put_part_block(&m, 3, second_next, 0, "DH1", 1, 1, 0x50465303, -1);
    return m;
}

built_medium atari_medium(uint32_t second_link)
{
    built_medium m{512, 64, {}};
    put_be32(m.at(0x1C2), 64);
    put_atari_entry(&m, 0, 0, 0x81, "BGM", 2, 10);
    put_atari_entry(&m, 0, 1, 0x01, "XGM", 12, 40);
    put_atari_entry(&m, 0, 2, 0x01, "SWP", 52, 8);
    put_atari_entry(&m, 12, 0, 0x01, "GEM", 1, 9);
    put_atari_entry(&m, 12, 1, 0x01, "XGM", second_link, 20);
    put_atari_entry(&m, 22, 0, 0x01, "LNX", 1, 19);
    put_fat_boot(&m, 2 * 512, false, 10, 2, 0xA7A81234, "ATARI");
    return m;
}

built_medium bsd_slice_medium()
{
    built_medium m{512, 64, {}};
    put_mbr_entry(&m, 0, 0x80, 0xA5, 8, 48);
    boot_signature(&m);
    put_bsd(&m, 9 * 512, {{20, 16, 7}, {10, 36, 1}, {48, 0, 0}});
    return m;
}

// The maps target's prefix: the sector size's number, heads, sectors per track.
seed_bytes with_prefix(uint8_t size_code, uint8_t heads, uint8_t sectors, const built_medium& m)
{
    seed_bytes data = {size_code, heads, sectors};
    seed_bytes image = flatten(m);
    image.resize(m.sector_count * m.sector_size, 0);
    data.insert(data.end(), image.begin(), image.end());
    return data;
}

seed_bytes whole(const built_medium& m)
{
    seed_bytes image = flatten(m);
    image.resize(m.sector_count * m.sector_size, 0);
    return image;
}

} // namespace

void write_map_seeds(int (*write_seed)(const std::string& target, const std::string& name, const seed_bytes& data))
{
    write_seed("medium", "gpt", whole(gpt_medium(512, 128, 128, 40, 20)));
    built_medium m = gpt_medium(512, 128, 128, 40, 20);
    m.at(512 + 16)[0] ^= 1;
    write_seed("medium", "gpt-primary-damaged", whole(m));
    // A disk of 4096-byte sectors read as an image of 512-byte ones.
    built_medium wide = gpt_medium(4096, 16, 16, 4, 4);
    built_medium image{512, 128, {}};
    for (const auto& s : wide.sectors)
        image.put(s.first * 4096, s.second.data(), s.second.size());
    write_seed("medium", "gpt-4096-in-512", whole(image));
    write_seed("medium", "pc98", whole(pc98_medium(512)));
    write_seed("medium", "apple", whole(apple_medium(512, 3)));
    write_seed("medium", "apple-count-too-large", whole(apple_medium(512, 1000)));
    write_seed("medium", "amiga", whole(amiga_medium(0xFFFFFFFF)));
    write_seed("medium", "amiga-chain-loop", whole(amiga_medium(2)));
    write_seed("medium", "atari", whole(atari_medium(10)));
    write_seed("medium", "atari-chain-loop", whole(atari_medium(0)));
    built_medium sun{512, 64, {}};
    put_sun(&sun, true, 2, 4, {{2, 0, 0, 24}, {3, 1, 3, 16}, {5, 0, 0, 64}});
    write_seed("medium", "sun", whole(sun));
    built_medium sgi{512, 64, {}};
    put_sgi(&sgi);
    write_seed("medium", "sgi", whole(sgi));
    built_medium bsd{512, 64, {}};
    put_bsd(&bsd, 512, {{20, 16, 7}, {10, 36, 1}, {64, 0, 0}});
    write_seed("medium", "bsd", whole(bsd));
    write_seed("medium", "bsd-slice", whole(bsd_slice_medium()));

    write_seed("maps", "gpt-4096", with_prefix(4, 0, 0, gpt_medium(4096, 16, 16, 4, 4)));
    write_seed("maps", "pc98-256", with_prefix(0, 0, 0, pc98_medium(256)));
    write_seed("maps", "pc98-512-geometry", with_prefix(1, 8, 32, pc98_medium(512)));
    write_seed("maps", "apple-2048", with_prefix(3, 0, 0, apple_medium(2048, 3)));
    write_seed("maps", "bsd-slice-1024", with_prefix(2, 0, 0, bsd_slice_medium()));
}
