#!/usr/bin/env python3
"""Writes the media and the bus file that bench/run measures.

    mkdata.py DIR

Everything is written into DIR as sparse files: only the boot records and
boot sectors hold data, every other sector stays a hole.

  chain10k.img   an extended chain of 10,000 Linux logical partitions
  chain100k.img  the same with 100,000 (every link the walk follows)
  fat10k.img     10,000 logical partitions, every second one a FAT16 volume
                 with its boot sector and the first sector of both FATs
  big.img        2 TiB + 2 GiB: a FAT32 primary at the start and, through
                 an extended partition that starts just below the 2 TiB
                 mark, a FAT32 logical partition above it
  disk60.img     a 64 GiB disk as a partitioning tool lays it out, with 60
                 partitions: a FAT32 system partition, swap and root as
                 primaries, and 56 logical partitions
  bus/bus.bus    8 adapters x 7 targets x 8 LUNs, every unit a disk that
                 answers every mode page, vital product data page, both
                 defect lists and its capacity; the medium is bus/unit.img
  units200k.bus  200,000 units in 1,000,000 lines, each answering INQUIRY
                 and READ CAPACITY
  chain.bus      one disk whose medium is chain100k.img (bench/run records
                 its trace, 100,000 READ answers, and replays it)
  gpt65k.img     a GPT of 65,536 entries (the most a header may count), each
                 a one-sector Linux partition with a name, and its backup
  amiga100k.img  an Amiga rigid disk block with a chain of 100,000
                 partition blocks, each a one-cylinder partition
  atari100k.img  an Atari root sector with an XGM chain of 100,000
                 extended root sectors, each holding a one-sector partition
  chain10k.nhd   chain10k.img behind a T98-Next NHD header, which vexum
                 reads itself (40,001 cylinders of 16 heads of 128 sectors)
"""
import os
import struct
import sys
import zlib

SECTOR = 512
MIB = 2048  # sectors


def entry(boot, ptype, start, count):
    # CHS fields are filled with the 1023/254/63 "beyond CHS" marker, as
    # partitioning tools do for large disks.
    chs = bytes([0xFE, 0xFF, 0xFF])
    return struct.pack("<B3sB3sII", boot, chs, ptype, chs, start, count)


def boot_record(entries):
    sector = bytearray(SECTOR)
    for i, e in enumerate(entries):
        sector[0x1BE + 16 * i:0x1BE + 16 * (i + 1)] = e
    sector[0x1FE] = 0x55
    sector[0x1FF] = 0xAA
    return bytes(sector)


def fat16_boot_sector(total, hidden, serial, label):
    spc = 1 if total < 32768 else 4
    reserved, fats, root_entries = 4, 2, 512
    root_sectors = root_entries * 32 // SECTOR
    fat = 1
    while True:
        clusters = (total - reserved - root_sectors - fats * fat) // spc
        if fat * SECTOR >= (clusters + 2) * 2:
            break
        fat += 1
    s = bytearray(SECTOR)
    s[0:3] = b"\xEB\x3C\x90"
    s[3:11] = b"mkfs.fat"
    struct.pack_into("<HBHBHHBHHHII", s, 0x0B, SECTOR, spc, reserved, fats, root_entries,
                     total if total < 65536 else 0, 0xF8, fat, 63, 255, hidden,
                     0 if total < 65536 else total)
    struct.pack_into("<BBBI11s8s", s, 0x24, 0x80, 0, 0x29, serial, label.ljust(11).encode(), b"FAT16   ")
    s[0x1FE] = 0x55
    s[0x1FF] = 0xAA
    return bytes(s), reserved, fat


def fat32_boot_sector(total, hidden, serial, label):
    spc, reserved, fats = 8, 32, 2
    fat = 1
    while True:
        clusters = (total - reserved - fats * fat) // spc
        if fat * SECTOR >= (clusters + 2) * 4:
            break
        fat = max(fat + 1, (clusters + 2) * 4 // SECTOR)
    s = bytearray(SECTOR)
    s[0:3] = b"\xEB\x58\x90"
    s[3:11] = b"mkfs.fat"
    struct.pack_into("<HBHBHHBHHHII", s, 0x0B, SECTOR, spc, reserved, fats, 0, 0, 0xF8, 0, 63, 255, hidden, total)
    struct.pack_into("<IHHIHH", s, 0x24, fat, 0, 0, 2, 1, 6)
    struct.pack_into("<BBBI11s8s", s, 0x40, 0x80, 0, 0x29, serial, label.ljust(11).encode(), b"FAT32   ")
    s[0x1FE] = 0x55
    s[0x1FF] = 0xAA
    return bytes(s), reserved, fat


class image:
    """A sparse disk image; `header` (bytes) is written in front of the disk
    and every sector lies that much further into the file."""
    def __init__(self, path, sectors, header=b""):
        self.fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        self.base = len(header)
        os.ftruncate(self.fd, self.base + sectors * SECTOR)
        os.pwrite(self.fd, header, 0)

    def write(self, lba, data):
        os.pwrite(self.fd, data, self.base + lba * SECTOR)

    def close(self):
        os.close(self.fd)


def write_fat(img, start, boot, reserved, fat_sectors, media_entries):
    img.write(start, boot)
    for copy in range(2):
        img.write(start + reserved + copy * fat_sectors, media_entries)


def nhd_header(sectors):
    """T98-Next's 512-byte NHD header for a disk of `sectors` 512-byte
    sectors, a whole number of cylinders of 16 heads of 128 sectors."""
    heads, per_track = 16, 128
    assert sectors % (heads * per_track) == 0
    h = bytearray(512)
    h[0:15] = b"T98HDDIMAGE.R0\0"
    h[16:27] = b"vexum bench"
    struct.pack_into("<IIHHH", h, 0x110, 512, sectors // (heads * per_track), heads, per_track, SECTOR)
    return bytes(h)


def write_chain(path, count, stride, fat_every=0, container=None):
    """An MBR with one extended partition from 1 MiB to the end, holding
    `count` logical partitions of `stride` sectors each; every logical
    partition starts 1 MiB after its extended boot record. `container`
    makes the header put in front of the disk from its sector count."""
    ext_base = MIB
    total = ext_base + count * stride
    img = image(path, total, container(total) if container else b"")
    img.write(0, boot_record([entry(0, 0x05, ext_base, count * stride)]))
    fat16_media = b"\xF8\xFF\xFF\xFF" + bytes(SECTOR - 4)
    for i in range(count):
        ebr = ext_base + i * stride
        fat = fat_every and i % fat_every == 0
        size = stride - MIB
        entries = [entry(0, 0x06 if fat else 0x83, MIB, size)]
        if i + 1 < count:
            entries.append(entry(0, 0x05, (i + 1) * stride, stride))
        img.write(ebr, boot_record(entries))
        if fat:
            boot, reserved, fat_sectors = fat16_boot_sector(size, ebr + MIB, 0x10000000 + i, "VOL%05d" % i)
            write_fat(img, ebr + MIB, boot, reserved, fat_sectors, fat16_media)
    img.close()


def write_big(path):
    mark = 1 << 32                 # sector 2^32 is the 2 TiB byte offset
    total = mark + 2048 * MIB      # 2 TiB + 2 GiB
    img = image(path, total)
    fat32_media = b"\xF8\xFF\xFF\x0F\xFF\xFF\xFF\x0F\xF8\xFF\xFF\x0F" + bytes(SECTOR - 12)
    low_size = 1024 * MIB
    ext_start = mark - MIB         # below the mark, so it fits the 32-bit field
    ext_size = total - ext_start
    img.write(0, boot_record([entry(0x80, 0x0C, MIB, low_size), entry(0, 0x05, ext_start, ext_size)]))
    boot, reserved, fat = fat32_boot_sector(low_size, MIB, 0x0C0FFEE0, "LOW")
    write_fat(img, MIB, boot, reserved, fat, fat32_media)
    high_start = ext_start + 2 * MIB   # 1 MiB past the mark
    high_size = total - high_start
    img.write(ext_start, boot_record([entry(0, 0x0C, 2 * MIB, high_size)]))
    boot, reserved, fat = fat32_boot_sector(high_size, 2 * MIB, 0x0C0FFEE1, "HIGH")
    write_fat(img, high_start, boot, reserved, fat, fat32_media)
    img.close()


def write_disk60(path):
    """Sixty partitions, the most that sfdisk and fdisk number: a FAT32
    system partition, swap and a root partition as primaries 1 to 3, and
    an extended partition (entry 4) with 56 logical partitions, 5 to 60."""
    total = 64 * 1024 * MIB
    img = image(path, total)
    fat32_media = b"\xF8\xFF\xFF\x0F\xFF\xFF\xFF\x0F\xF8\xFF\xFF\x0F" + bytes(SECTOR - 12)
    esp_size = 512 * MIB
    swap_start, swap_size = MIB + esp_size, 2048 * MIB
    root_start, root_size = swap_start + swap_size, 8192 * MIB
    ext_start = root_start + root_size
    ext_size = total - ext_start
    img.write(0, boot_record([entry(0x80, 0x0C, MIB, esp_size), entry(0, 0x82, swap_start, swap_size),
                              entry(0, 0x83, root_start, root_size), entry(0, 0x05, ext_start, ext_size)]))
    boot, reserved, fat = fat32_boot_sector(esp_size, MIB, 0x5EED0001, "SYSTEM")
    write_fat(img, MIB, boot, reserved, fat, fat32_media)
    logical = 56
    stride = ext_size // logical // MIB * MIB
    for i in range(logical):
        ebr = ext_start + i * stride
        entries = [entry(0, 0x83, MIB, stride - MIB)]
        if i + 1 < logical:
            entries.append(entry(0, 0x05, (i + 1) * stride, stride))
        img.write(ebr, boot_record(entries))
    img.close()


def unit_medium(path):
    """The medium of every bus unit: 64 MiB with a FAT16 primary and an
    extended partition of two Linux logical partitions."""
    total = 64 * MIB
    img = image(path, total)
    fat_size = 32 * MIB - MIB
    img.write(0, boot_record([entry(0x80, 0x06, MIB, fat_size), entry(0, 0x05, 32 * MIB, 32 * MIB)]))
    boot, reserved, fat = fat16_boot_sector(fat_size, MIB, 0x1234ABCD, "UNIT")
    write_fat(img, MIB, boot, reserved, fat, b"\xF8\xFF\xFF\xFF" + bytes(SECTOR - 4))
    img.write(32 * MIB, boot_record([entry(0, 0x83, MIB, 15 * MIB), entry(0, 0x05, 16 * MIB, 16 * MIB)]))
    img.write(48 * MIB, boot_record([entry(0, 0x82, MIB, 15 * MIB)]))
    img.close()


def hexbytes(data):
    return " ".join("%02X" % b for b in data)


def mode_page(code, body):
    # Header (mode data length, medium type, device-specific, block
    # descriptor length 8), one block descriptor, then the page.
    page = bytes([code, len(body)]) + bytes(body)
    descriptor = bytes([0, 0x01, 0xFF, 0xFF, 0, 0, 0x02, 0x00])
    header = bytes([3 + len(descriptor) + len(page), 0, 0, len(descriptor)])
    return header + descriptor + page


MODE_PAGES = {
    0x01: [0xC0, 8, 0, 0, 0, 0, 0, 0, 0, 0],
    0x02: [0x80, 0x80, 0, 10, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0],
    0x03: [0, 0x10, 0, 0, 0, 0, 0, 0x10, 0, 0x3F, 0x02, 0, 0, 1, 0, 0x12, 0, 0x18, 0x40, 0, 0, 0],
    0x04: [0, 0x40, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x1C, 0x20, 0, 0, 0],
    0x08: [0x04, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x20, 0, 0, 0, 0, 0, 0],
    0x09: [0, 0, 0, 0, 0, 0, 0, 0x06, 0x01, 0x02, 0x03, 0x04],
    0x0A: [0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0],
    0x0C: [0xC0, 0, 0, 16, 0, 3, 0, 0x10, 0, 0, 0, 0x1F, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0],
    0x10: [0, 0, 0x80, 0x80, 0, 0x10, 0, 0, 0, 0, 0x18, 0, 0, 0],
}

VPD_PAGES = [0x00, 0x01, 0x80, 0x82, 0x83]


def write_bus(folder):
    os.makedirs(folder, exist_ok=True)
    unit_medium(os.path.join(folder, "unit.img"))
    lines = ["# 8 adapters x 7 targets x 8 LUNs, every unit a disk answering every page",
             "adapters 8", ""]
    for a in range(8):
        lines += ["adapter %d" % a, '  manager  "BENCH BUS"', '  identity "BENCH HBA %d"' % a,
                  "  unique   zeros 16", ""]
    defects = bytes([0, 0x10 | 0, 0, 24]) + bytes(range(0x10, 0x10 + 24))
    grown = bytes([0, 0x08 | 0, 0, 8]) + bytes([0, 0x0A, 0xB0, 0x01, 0, 0x0A, 0xB0, 0x02])
    for a in range(8):
        for t in range(7):
            for lun in range(8):
                serial = "SN%02d%02d%02d" % (a, t, lun)
                u = ["unit %d:%d:%d" % (a, t, lun), "  image unit.img 512",
                     "  on 12 00", "    data 00 00 02 02 1F 00 00 10",
                     '    data "BENCH   " "BENCH DISK      " "1.00"',
                     "  on 12 01 00", "    data 00 00 00 %02X %s" % (len(VPD_PAGES), hexbytes(VPD_PAGES)),
                     "  on 12 01 01", '    data 00 01 00 11 10 "CONTROLLER BOARD"',
                     "  on 12 01 80", '    data 00 80 00 %02X "%s"' % (len(serial), serial),
                     "  on 12 01 82", '    data 00 82 00 05 04 "SCSI"',
                     "  on 12 01 83", "    data 00 83 00 0C 01 02 00 08 50 00 00 00 00 00 00 01"]
                for code, body in sorted(MODE_PAGES.items()):
                    u += ["  on 1A .. %02X" % code, "    data " + hexbytes(mode_page(code, body))]
                u += ["  on 37 .. 10", "    data " + hexbytes(defects),
                      "  on 37 .. 08", "    data " + hexbytes(grown),
                      "  on 05", "    data 00 FF FF FF 00 01",
                      "  on 43", "    data 00 12 01 01 00 14 01 00 00 00 00 00 00 14 AA 00 00 01 00 00",
                      ""]
                lines += u
    with open(os.path.join(folder, "bus.bus"), "w") as f:
        f.write("\n".join(lines) + "\n")


def write_units(path, count):
    with open(path, "w") as f:
        for n in range(count):
            f.write("unit %d:%d:%d\n  on 12 00\n    data 00 00 02 02 1F 00 00 00 \"BENCH\"\n"
                    "  on 25\n    data 00 00 FF FF 00 00 02 00\n" % (n >> 16, (n >> 8) & 0xFF, n & 0xFF))


def guid_bytes(text):
    """A GUID's bytes from its text: the first three groups little-endian."""
    h = text.replace("-", "")
    raw = bytes.fromhex(h)
    return raw[3::-1] + raw[5:3:-1] + raw[7:5:-1] + raw[8:]


def write_gpt(path, count):
    array_sectors = count * 128 // SECTOR
    first = 2 + array_sectors
    total = first + count + array_sectors + 1 + MIB
    array = bytearray(count * 128)
    linux = guid_bytes("0FC63DAF-8483-4772-8E79-3D69D8477DE4")
    for i in range(count):
        e = 128 * i
        array[e:e + 16] = linux
        array[e + 16:e + 32] = struct.pack("<IHH8s", 0x5EC70000 + i, 0x1111, 0x2222, b"BENCHGPT")
        struct.pack_into("<QQ", array, e + 32, first + i, first + i)
        name = ("part %d" % i).encode("utf-16-le")
        array[e + 56:e + 56 + len(name)] = name
    crc = zlib.crc32(bytes(array))

    def header(me, alternate, array_lba):
        h = bytearray(SECTOR)
        struct.pack_into("<8sIIIIQQQQ16sQIII", h, 0, b"EFI PART", 0x10000, 92, 0, 0, me, alternate, first,
                         total - array_sectors - 2, guid_bytes("5E2AC4F1-7B3D-4C8A-9F10-2B6D8E4A1C37"), array_lba,
                         count, 128, crc)
        struct.pack_into("<I", h, 16, zlib.crc32(bytes(h[:92])))
        return bytes(h)

    img = image(path, total)
    img.write(0, boot_record([entry(0, 0xEE, 1, min(total - 1, 0xFFFFFFFF))]))
    img.write(1, header(1, total - 1, 2))
    img.write(2, bytes(array))
    img.write(total - 1 - array_sectors, bytes(array))
    img.write(total - 1, header(total - 1, 1, total - 1 - array_sectors))
    img.close()


def amiga_block(ident, fields):
    """A 512-byte Amiga block of 64 summed longs with its checksum."""
    block = bytearray(SECTOR)
    block[0:4] = ident
    struct.pack_into(">I", block, 4, 64)
    for offset, value in fields:
        struct.pack_into(">I", block, offset, value)
    struct.pack_into(">I", block, 8, -sum(struct.unpack_from(">64I", block)) & 0xFFFFFFFF)
    return bytes(block)


def write_amiga_chain(path, count):
    total = count + 1 + MIB
    img = image(path, total)
    # 1 head of 1 block a cylinder: partition n is cylinder (and block) n.
    img.write(0, amiga_block(b"RDSK", [(16, SECTOR), (28, 1), (64, total), (68, 1), (72, 1)]))
    for i in range(count):
        block = i + 1
        nxt = block + 1 if i + 1 < count else 0xFFFFFFFF
        env = [(128 + 4 * k, v) for k, v in enumerate([16, 128, 0, 1, 1, 1, 0, 0, 0, count + 1 + i, count + 1 + i])]
        img.write(block, amiga_block(b"PART", [(16, nxt), (36, 0x03444830)] + env + [(128 + 64, 0x444F5301)]))
    img.close()


def write_atari_chain(path, count):
    total = 2 + 2 * count + MIB

    def root(entries, size=0):
        s = bytearray(SECTOR)
        struct.pack_into(">I", s, 0x1C2, size)
        for i, (flag, ident, start, length) in enumerate(entries):
            struct.pack_into(">B3sII", s, 0x1C6 + 12 * i, flag, ident, start, length)
        return bytes(s)

    img = image(path, total)
    img.write(0, root([(1, b"XGM", 2, 2 * count)], total))
    for i in range(count):
        link = [(1, b"XGM", 2 * (i + 1), 2)] if i + 1 < count else []
        img.write(2 + 2 * i, root([(1, b"GEM", 1, 1)] + link))
    img.close()


def write_chain_bus(path, image):
    with open(path, "w") as f:
        f.write("unit 0:0:0\n  image %s 512\n  on 12 00\n"
                "    data 00 00 02 02 1F 00 00 00 \"BENCH   \" \"CHAIN DISK      \" \"1.00\"\n" % image)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: mkdata.py DIR\n")
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_chain(os.path.join(out, "chain10k.img"), 10000, 4 * MIB)
    write_chain(os.path.join(out, "chain10k.nhd"), 10000, 4 * MIB, container=nhd_header)
    write_chain(os.path.join(out, "chain100k.img"), 100000, 4 * MIB)
    write_chain(os.path.join(out, "fat10k.img"), 10000, 32 * MIB, fat_every=2)
    write_big(os.path.join(out, "big.img"))
    write_disk60(os.path.join(out, "disk60.img"))
    write_bus(os.path.join(out, "bus"))
    write_units(os.path.join(out, "units200k.bus"), 200000)
    write_chain_bus(os.path.join(out, "chain.bus"), "chain100k.img")
    write_gpt(os.path.join(out, "gpt65k.img"), 65536)
    write_amiga_chain(os.path.join(out, "amiga100k.img"), 100000)
    write_atari_chain(os.path.join(out, "atari100k.img"), 100000)
    return 0


if __name__ == "__main__":
    sys.exit(main())
