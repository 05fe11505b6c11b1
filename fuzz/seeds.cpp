// Writes the seed inputs of the fuzz targets into
// OUT/{medium,device,busfile,cli,container,run}: small media in each layout the
// decoders know, the answers of a unit of every peripheral device type, the
// sample and fixture bus files, the command lines of the command line's edge
// cases, a small disk in each container read without a library, and whole
// runs: command lines with bus files and images. The
// sample media are read from the folder the build wrote them into.
//   fuzz_seeds OUT SAMPLE_MEDIA_DIR
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

#include "format/bytes.h"
#include "fuzz_bus.h"
#include "map_seeds.h"

namespace {

using bytes = std::vector<uint8_t>;

std::string out_dir;

int write_seed(const std::string& target, const std::string& name, const bytes& data)
{
    std::string path = out_dir + "/" + target + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return -1;
    size_t n = fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    return n == data.size() ? 0 : -1;
}

bytes read_file(const std::string& path, size_t limit)
{
    bytes data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return data;
    data.resize(limit);
    data.resize(fread(data.data(), 1, limit, f));
    fclose(f);
    return data;
}

void put_text(uint8_t* p, const char* text) { std::memcpy(p, text, std::strlen(text)); }

// ---- media ------------------------------------------------------------

struct medium {
    bytes data;
    uint8_t* sector(size_t lba)
    {
        if (data.size() < (lba + 1) * 512)
            data.resize((lba + 1) * 512, 0);
        return data.data() + lba * 512;
    }
};

void boot_signature(uint8_t* s)
{
    s[0x1FE] = 0x55;
    s[0x1FF] = 0xAA;
}

// A FAT12/FAT16 boot sector; fat32 lays out the FAT32 fields instead.
void fat_boot(uint8_t* s, bool fat32, uint8_t media, uint32_t total, uint8_t cluster, uint16_t bytes_per_sector = 512)
{
    s[0] = 0xEB;
    s[1] = fat32 ? 0x58 : 0x3C;
    s[2] = 0x90;
    put_text(s + 0x03, "VEXUMOEM");
    put_le16(s + 0x0B, bytes_per_sector);
    s[0x0D] = cluster;
    put_le16(s + 0x0E, fat32 ? 32 : 1);
    s[0x10] = 2;
    put_le16(s + 0x11, fat32 ? 0 : 224);
    if (total < 0x10000 && !fat32)
        put_le16(s + 0x13, total);
    else
        put_le32(s + 0x20, total);
    s[0x15] = media;
    put_le16(s + 0x18, 18);
    put_le16(s + 0x1A, 2);
    if (fat32) {
        put_le32(s + 0x24, 100);
        put_le32(s + 0x2C, 2);
        put_le16(s + 0x32, 6);
        s[0x42] = 0x29;
        put_le32(s + 0x43, 0x1A2B3C4D);
        put_text(s + 0x47, "FUZZ FAT32 ");
        put_text(s + 0x52, "FAT32   ");
    } else {
        put_le16(s + 0x16, 9);
        s[0x26] = 0x29;
        put_le32(s + 0x27, 0x12345678);
        put_text(s + 0x2B, "FUZZ FAT   ");
        put_text(s + 0x36, "FAT12   ");
    }
    boot_signature(s);
}

void partition_entry(uint8_t* table, int index, uint8_t mark, uint8_t type, uint32_t start, uint32_t count)
{
    uint8_t* e = table + 0x1BE + 16 * index;
    e[0] = mark;
    e[4] = type;
    put_le32(e + 8, start);
    put_le32(e + 12, count);
}

void write_media(const std::string& samples_dir)
{
    medium m;
    // A master boot record: a FAT16 primary, an extended partition whose
    // chain holds a FAT32 and a Linux logical partition.
    uint8_t* mbr = m.sector(0);
    partition_entry(mbr, 0, 0x80, 0x06, 1, 63);
    partition_entry(mbr, 1, 0x00, 0x05, 64, 64);
    boot_signature(mbr);
    fat_boot(m.sector(1), false, 0xF8, 63, 1);
    uint8_t* ebr = m.sector(64);
    partition_entry(ebr, 0, 0, 0x0B, 1, 30);
    partition_entry(ebr, 1, 0, 0x05, 32, 32);
    boot_signature(ebr);
    fat_boot(m.sector(65), true, 0xF8, 30, 1);
    ebr = m.sector(96);
    partition_entry(ebr, 0, 0, 0x83, 1, 31);
    boot_signature(ebr);
    m.sector(127);
    write_seed("medium", "ibm-hard-disk", m.data);

    // The same disk with a chain that links back to itself.
    partition_entry(m.sector(96), 1, 0, 0x05, 32, 32);
    write_seed("medium", "ibm-chain-loop", m.data);

    // A boot sector that divides by zero if anything does.
    m = medium();
    mbr = m.sector(0);
    partition_entry(mbr, 0, 0x80, 0x04, 1, 10);
    partition_entry(mbr, 1, 0x80, 0x0C, 2, 10);
    boot_signature(mbr);
    fat_boot(m.sector(1), false, 0xF8, 10, 0, 0);
    fat_boot(m.sector(2), true, 0xF8, 0, 0, 0);
    write_seed("medium", "ibm-zero-fields", m.data);

    m = medium();
    fat_boot(m.sector(0), false, 0xF0, 2880, 1);
    m.sector(3);
    write_seed("medium", "ibm-floppy", m.data);

    // The FMR/TOWNS layout: IPL, the table in sector 1, an MS-DOS volume.
    m = medium();
    put_text(m.sector(0), "IPL4");
    uint8_t* table = m.sector(1);
    uint8_t* e = table + 0x20;
    e[0] = 0x80;
    put_le32(e + 2, 2);
    put_le32(e + 6, 60);
    put_text(e + 0x10, "MS-DOS          ");
    put_text(e + 0x20, "SYSTEM          ");
    e += 0x30;
    put_le32(e + 2, 62);
    put_le32(e + 6, 10);
    put_text(e + 0x10, "DATA AREA");
    put_text(e + 0x20, "WORK");
    fat_boot(m.sector(2), false, 0xF8, 60, 4);
    m.sector(79);
    write_seed("medium", "fmr-towns", m.data);

    // The head of each sample medium.
    for (const char* name : {"sample-disk.img", "sample-floppy.img", "sample-towns.img"}) {
        bytes head = read_file(samples_dir + "/" + name, 65536);
        if (!head.empty())
            write_seed("medium", std::string("head-") + name, head);
    }
    write_seed("medium", "empty", bytes());
}

// ---- device answers ---------------------------------------------------

struct answers {
    bytes data;
    void add(answer_kind kind, const bytes& record, uint8_t outcome = OUTCOME_GOOD)
    {
        if (!data.empty())
            data.insert(data.end(), RECORD_SEPARATOR, RECORD_SEPARATOR + RECORD_SEPARATOR_LENGTH);
        data.push_back(kind);
        data.push_back(outcome);
        data.insert(data.end(), record.begin(), record.end());
    }
};

bytes text_bytes(const char* text) { return bytes(text, text + std::strlen(text)); }

bytes inquiry_data(uint8_t type, bool removable, const char* product)
{
    bytes d(36, ' ');
    d[0] = type;
    d[1] = removable ? 0x80 : 0;
    d[2] = 2;
    d[3] = 2;
    d[4] = 0x1F;
    d[5] = d[6] = 0;
    d[7] = 0x10;
    std::memcpy(&d[8], "VEXUM   ", 8);
    std::memcpy(&d[16], product, std::strlen(product) < 16 ? std::strlen(product) : 16);
    std::memcpy(&d[32], "1.00", 4);
    return d;
}

// MODE SENSE(6) data: header, one block descriptor, the page.
bytes mode_page(uint8_t code, uint8_t length)
{
    bytes d = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 2, 0, code, length};
    for (uint8_t i = 0; i < length; i++)
        d.push_back(uint8_t(0x11 * (i + 1)));
    d[0] = uint8_t(d.size() - 1);
    return d;
}

void add_common(answers* a, const bytes& inquiry)
{
    a->add(ANSWER_ADAPTER_IDS, text_bytes("VEXUM FUZZ BUS  FUZZ HBA        "));
    a->add(ANSWER_INQUIRY, inquiry);
    a->add(ANSWER_VPD, {0x00, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83});
    a->add(ANSWER_VPD, {0x00, 0x80, 0x00, 0x08, 'S', 'E', 'R', '0', '1', '2', '3', '4'});
    a->add(ANSWER_VPD, {0x00, 0x83, 0x00, 0x0C, 0x02, 0x01, 0x00, 0x08, 'V', 'E', 'X', 'U', 'M', 'I', 'D', '1'});
}

void write_devices(const bytes& disk)
{
    struct unit_type {
        const char* name;
        uint8_t type;
        const char* product;
    };
    static const unit_type types[] = {
        {"disk", 0x00, "FUZZ DISK"},      {"tape", 0x01, "FUZZ TAPE"},   {"printer", 0x02, "FUZZ PRINTER"},
        {"processor", 0x03, "FUZZ CPU"},  {"worm", 0x04, "FUZZ WORM"},   {"cdrom", 0x05, "FUZZ CD-ROM"},
        {"pd", 0x05, "PD-2 FUZZ"},        {"scanner", 0x06, "FUZZ SCAN"}, {"optical", 0x07, "FUZZ MO"},
        {"changer", 0x08, "FUZZ CHANGER"}, {"comm", 0x09, "FUZZ COMM"},  {"unknown", 0x0C, "FUZZ 0C"},
        {"none", 0x1F, "FUZZ NONE"},
    };
    for (const unit_type& t : types) {
        answers a;
        bool disk_path = t.type == 0x00 || t.type == 0x07 || std::strncmp(t.product, "PD-", 3) == 0;
        add_common(&a, inquiry_data(t.type, t.type != 0x00, t.product));
        for (uint8_t page : {0x09, 0x02})
            a.add(ANSWER_MODE_SENSE, mode_page(page, page == 0x09 ? 6 : 14));
        if (disk_path) {
            for (uint8_t page : {0x03, 0x04, 0x08, 0x0C})
                a.add(ANSWER_MODE_SENSE, mode_page(page, page == 0x08 ? 10 : 22));
            a.add(ANSWER_READ_DEFECT_DATA, {0x00, 0x10, 0x00, 0x08, 0, 0, 0x10, 0, 0, 0, 0x20, 0});
            a.add(ANSWER_READ_DEFECT_DATA, {0x00, 0x08, 0x00, 0x04, 0, 0, 0x30, 0});
            a.add(ANSWER_READ_CAPACITY, {0, 0, 0, 127, 0, 0, 2, 0});
            a.add(ANSWER_READ10, disk);
        }
        if (t.type == 0x01) {
            a.add(ANSWER_READ_BLOCK_LIMITS, {0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x01});
            a.add(ANSWER_MODE_SENSE, mode_page(0x10, 14));
        }
        if (t.type == 0x04 || t.type == 0x05)
            a.add(ANSWER_MODE_SENSE, mode_page(0x08, 10));
        if (t.type == 0x05) {
            if (!disk_path)
                a.add(ANSWER_READ_CAPACITY, {0x00, 0x04, 0xE1, 0xFF, 0x00, 0x00, 0x08, 0x00});
            a.add(ANSWER_READ_TOC, {0x00, 0x1A, 0x01, 0x02, 0x00, 0x14, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0x00, 0x12, 0x02, 0x00, 0x00, 0x04, 0x93, 0xE0, 0x00, 0x14, 0xAA, 0x00,
                                    0x00, 0x04, 0xE2, 0x00});
        }
        write_seed("device", t.name, a.data);
    }

    // Lengths larger than the data, unit attention for ever, a request that
    // never completes, a medium past 2 TiB.
    answers a;
    add_common(&a, inquiry_data(0x00, false, "FUZZ HOSTILE"));
    a.add(ANSWER_VPD, {0x00, 0x00, 0x00, 0xFF, 0x00, 0x80, 0x83, 0xB0});
    a.add(ANSWER_VPD, {0x00, 0x80, 0x00, 0xFF, 'S'});
    a.add(ANSWER_MODE_SENSE, {0xFF, 0x00, 0x00, 0xFF, 0x00});
    a.add(ANSWER_MODE_SENSE, {0x03, 0x00, 0x00, 0x00, 0x02, 0xFF, 0x01});
    a.add(ANSWER_READ_DEFECT_DATA, {0x00, 0x18, 0xFF, 0xFF, 0x00});
    a.add(ANSWER_READ_DEFECT_DATA, {}, OUTCOME_POWER_ON);
    a.add(ANSWER_READ_CAPACITY, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00});
    a.add(ANSWER_READ10, disk);
    write_seed("device", "hostile-disk", a.data);

    a = answers();
    add_common(&a, inquiry_data(0x05, true, "FUZZ HOSTILE CD"));
    a.add(ANSWER_READ_CAPACITY, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    a.add(ANSWER_READ_TOC, {0xFF, 0xFF, 0x01, 0xFF, 0x00, 0x14, 0x01});
    a.add(ANSWER_MODE_SENSE, {}, OUTCOME_HANG);
    write_seed("device", "hostile-cdrom", a.data);
}

// ---- bus files and command lines ------------------------------------------

void copy_bus_files(const std::string& dir)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return;
    while (const dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bus") == 0)
            write_seed("busfile", name, read_file(dir + "/" + name, 1 << 20));
    }
    closedir(d);
}

void write_command_lines()
{
    static const std::vector<std::vector<const char*>> lines = {
        {},
        {"-disk"},
        {"-disk", "-scsi"},
        {"-scsi", "-disk", "2"},
        {"-disk", "x"},
        {"-scsi", "1:3:2"},
        {"-scsi", "1:12:2"},
        {"-scsi", "1:x:2"},
        {"-scsi", ":3"},
        {"-scsi", "99999999999999999999:9"},
        {"-dz", "-", "-LDPO"},
        {"-d", "-?"},
        {"-image", "a.img", "-image", "b.img", "-bus", "x.bus", "-trace", "t.bus", "-iscsi", "host:3260"},
        {"-trace"},
    };
    int n = 0;
    for (const auto& line : lines) {
        bytes data;
        for (size_t i = 0; i < line.size(); i++) {
            if (i)
                data.push_back(0);
            data.insert(data.end(), line[i], line[i] + std::strlen(line[i]));
        }
        write_seed("cli", "line" + std::to_string(n++), data);
    }
}

// ---- containers -------------------------------------------------------

// The disk wrapped in each container read here, as a medium (the whole
// image path) and as a container file (the header parsers).
void write_containers(const bytes& disk)
{
    uint32_t sectors = uint32_t(disk.size() / 512);
    bytes hdi(4096, 0);
    put_le32(&hdi[8], 4096);
    put_le32(&hdi[12], sectors * 512);
    put_le32(&hdi[16], 512);
    put_le32(&hdi[20], sectors);
    put_le32(&hdi[24], 1);
    put_le32(&hdi[28], 1);
    bytes nhd(512, 0);
    put_text(&nhd[0], "T98HDDIMAGE.R0");
    put_le32(&nhd[0x110], 512);
    put_le32(&nhd[0x114], 1);
    put_le16(&nhd[0x118], 1);
    put_le16(&nhd[0x11A], uint16_t(sectors));
    put_le16(&nhd[0x11C], 512);
    bytes thd(256, 0);
    put_le16(&thd[0], 1);
    bytes vhd(512, 0);
    put_text(&vhd[0], "conectix");
    put_be32(&vhd[12], 0x00010000);
    put_be32(&vhd[48 + 4], sectors * 512);
    put_be32(&vhd[60], 2);
    uint32_t sum = 0;
    for (uint8_t b : vhd)
        sum += b;
    put_be32(&vhd[64], ~sum);
    struct wrapped {
        const char* name;
        bytes file;
    } files[] = {
        {"hdi", hdi}, {"nhd", nhd}, {"thd", thd}, {"vhd-fixed", disk},
    };
    for (wrapped& w : files) {
        if (std::string(w.name) == "vhd-fixed") {
            w.file.insert(w.file.end(), vhd.begin(), vhd.end());
        } else {
            w.file.insert(w.file.end(), disk.begin(), disk.end());
        }
        write_seed("medium", std::string("container-") + w.name, w.file);
        write_seed("container", w.name, w.file);
    }
    // Heads of the formats a library reads: the header parsers must let
    // each pass to it untouched.
    const char* heads[][2] = {{"vhdx", "vhdxfile"}, {"vmdk", "KDMV"}, {"qcow", "QFI\xFB"}, {"ewf", "EVF\x09\x0D\x0A\xFF"}};
    for (const auto& head : heads) {
        bytes file(1024, 0);
        put_text(&file[0], head[1]);
        write_seed("container", std::string("library-") + head[0], file);
    }
}

// ---- whole runs ------------------------------------------------------

// A run's input (fuzz_run.cpp): the command line, then the bus file and
// the image files, separated.
bytes run_input(const std::vector<const char*>& line, const bytes& bus, const std::vector<bytes>& images = {})
{
    static const char separator[] = "\xF7\x5E\xF7\x5E";
    bytes data;
    for (size_t i = 0; i < line.size(); i++) {
        if (i)
            data.push_back(0);
        data.insert(data.end(), line[i], line[i] + std::strlen(line[i]));
    }
    std::vector<bytes> files{bus};
    files.insert(files.end(), images.begin(), images.end());
    for (const bytes& file : files) {
        data.insert(data.end(), separator, separator + 4);
        data.insert(data.end(), file.begin(), file.end());
    }
    return data;
}

void write_runs(const bytes& disk)
{
    bytes sample = read_file(std::string(VEXUM_SOURCE_DIR) + "/samples/sample.bus", 1 << 16);
    bytes disk_bus = text_bytes("adapter 0\n  manager \"FUZZ\"\nunit 0:0:0\n  image img0 512\n  on 12 00\n"
                                "    data 00 00 02 02 1F 00 00 00 \"VEXUM   \" \"DISK\"\n"
                                "unit 0:1:0\n  image sample-towns.img 512\n  on 12 00\n"
                                "    data 00 80 02 02 1F 00 00 00 \"VEXUM   \" \"TOWNS\"\n");
    write_seed("run", "sample-ldpo", run_input({"-ldpo"}, sample));
    write_seed("run", "sample-trace", run_input({"-ldp", "-trace", "t.bus"}, sample));
    write_seed("run", "trace-over-bus", run_input({"-bus", "f.bus", "-trace", "f.bus"}, sample));
    write_seed("run", "image-and-bus", run_input({"-image", "img1", "-scsi", "-dpo"}, disk_bus, {disk, disk}));
    write_seed("run", "images-only", run_input({"-image", "img0", "-image", "sample-floppy.img", "-dpo"}, {}, {disk}));
    write_seed("run", "address", run_input({"-l", "-d", "-scsi", "0:1"}, disk_bus, {disk}));
    write_seed("run", "hang", run_input({"-d"}, text_bytes("unit 0:0:0\n  on 12 00\n    data 00 00 02 02\n"
                                                              "  on 12 01 00\n    data 00 00 00 03 80 80 80\n"
                                                              "  on 12 01\n    hang\n  on 1A\n    hang\n")));
    write_seed("run", "help", run_input({"--help"}, {}));
    write_seed("run", "empty-bus-name", run_input({"-bus", "", "-ldp"}, {}));
    write_seed("run", "escape", run_input({"-dp"}, text_bytes("\x1b]0;x\x07 1\nunit 0:0:0\n image ../x 512\n")));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: fuzz_seeds OUT SAMPLE_MEDIA_DIR\n");
        return 2;
    }
    out_dir = argv[1];
    for (const char* target : {"", "/medium", "/maps", "/device", "/busfile", "/cli", "/container", "/run"})
        mkdir((out_dir + target).c_str(), 0755);
    write_map_seeds(write_seed);
    write_media(argv[2]);
    // The head of the hard disk: its master boot record and first volume.
    write_devices(read_file(out_dir + "/medium/ibm-hard-disk", 4096));
    copy_bus_files(std::string(VEXUM_SOURCE_DIR) + "/samples");
    copy_bus_files(std::string(VEXUM_SOURCE_DIR) + "/tests/fixtures/hostile");
    copy_bus_files(std::string(VEXUM_SOURCE_DIR) + "/tests/fixtures");
    write_command_lines();
    write_containers(read_file(out_dir + "/medium/ibm-hard-disk", 1 << 20));
    write_runs(read_file(out_dir + "/medium/ibm-hard-disk", 1 << 14));
    return 0;
}
