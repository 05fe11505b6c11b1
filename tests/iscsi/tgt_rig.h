// A user-space iSCSI target for the tests: tgtd on 127.0.0.1 on a free
// port, its control socket and its media in a folder of the build tree.
//
// Target 0 as the portal lists it, TGT_RIG_TARGET, holds
//   LUN 0  the target's controller (tgt adds it by itself), "RIG-CONTROLLER"
//   LUN 1  a disk, "RIG-DISK": an MBR with a FAT16 primary and an extended chain
//   LUN 2  a CD, "RIG-CD": an ISO 9660 image
//   LUN 3  a tape, "RIG-TAPE"
// Target 1, TGT_RIG_SECOND, holds its controller, "SECOND-CONTROL", and a
// CD, "SECOND-CD", with the same image. Every vendor text is "VEXUM"; the
// serial numbers are VXC0001, VXD0001, VXCD001, VXT0001, VXC0002, VXCD002.
//
// The FAT16 volume: 512-byte sectors, 4 per cluster, 4 reserved, 2 FATs,
// 512 root entries, 32,704 sectors (16,352 KiB), 32 sectors per track, 64
// heads, 63 hidden, serial 1234-ABCD, label VEXUMRIG; mkfs.fat sizes each FAT
// at 32 sectors (8,151 clusters of 2 bytes plus 2 entries fit in 32 sectors).
//
// The rig is stopped by deleting the targets and then the system (tgtd
// ignores SIGTERM); SIGKILL is the last resort. tgtd dies with the test
// process as well, so a crashed test leaves no daemon behind.
#pragma once
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#define TGT_RIG_TARGET "iqn.2026-12.org.vexum.test:rig"
#define TGT_RIG_SECOND "iqn.2026-12.org.vexum.test:second"

// The disk LUN's medium: 65,536 sectors of 512 bytes.
constexpr uint32_t RIG_DISK_SECTORS = 65536;
// Primary 1: active FAT16 (06h) at 63, 32,705 sectors.
constexpr uint32_t RIG_FAT_START = 63;
constexpr uint32_t RIG_FAT_SECTORS = 32705;
// Primary 2: extended (05h) at 32,768, 32,768 sectors. Its first record
// holds a Linux (83h) logical drive at +2,048 (34,816), 14,336 sectors, and a
// link to a second record at extended base + 16,384 (49,152), which holds an
// NTFS (07h) logical drive at +2,048 (51,200), 12,288 sectors. The medium
// ends 2,048 sectors after it.
constexpr uint32_t RIG_EXT_START = 32768;
constexpr uint32_t RIG_EXT_SECTORS = 32768;
constexpr uint32_t RIG_LOGICAL1_START = 34816;
constexpr uint32_t RIG_LOGICAL1_SECTORS = 14336;
constexpr uint32_t RIG_EBR2 = 49152;
constexpr uint32_t RIG_LOGICAL2_START = 51200;
constexpr uint32_t RIG_LOGICAL2_SECTORS = 12288;

struct tgt_rig {
    std::string dir;         // images, control socket, log
    std::string socket;      // TGT_IPC_SOCKET
    int port = 0;
    pid_t pid = -1;
    std::string skip_reason; // set when the rig cannot be brought up here
};

inline std::string rig_quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// Runs a shell command with the rig's socket and the system folders on the
// path; its output goes to the rig's log. Returns the exit status.
inline int rig_shell(const tgt_rig& rig, const std::string& command)
{
    std::string line = "PATH=\"$PATH:/usr/sbin:/sbin\" TGT_IPC_SOCKET=" + rig_quote(rig.socket) + " " + command +
                       " >>" + rig_quote(rig.dir + "/rig.log") + " 2>&1";
    int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int rig_tgtadm(const tgt_rig& rig, const std::string& args)
{
    return rig_shell(rig, "tgtadm --lld iscsi " + args);
}

inline bool rig_have_tool(const char* name)
{
    std::string command = std::string("PATH=\"$PATH:/usr/sbin:/sbin\" command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

inline int rig_free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

inline bool rig_port_answers(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

inline void rig_put_le32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (8 * i));
}

// One partition table entry; the CHS fields stay zero.
inline void rig_entry(uint8_t* sector, int index, uint8_t boot, uint8_t type, uint32_t start, uint32_t count)
{
    uint8_t* e = sector + 0x1BE + 16 * index;
    e[0] = boot;
    e[4] = type;
    rig_put_le32(e + 8, start);
    rig_put_le32(e + 12, count);
    sector[0x1FE] = 0x55;
    sector[0x1FF] = 0xAA;
}

inline int rig_write_sector(int fd, uint32_t lba, const uint8_t* sector)
{
    return pwrite(fd, sector, 512, off_t(lba) * 512) == 512 ? 0 : -1;
}

inline int rig_make_disk(const tgt_rig& rig)
{
    std::string path = rig.dir + "/disk.img";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, off_t(RIG_DISK_SECTORS) * 512) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    close(fd);
    // The FAT16 volume first (mkfs.fat writes only inside the partition).
    std::string mkfs = "mkfs.fat -F 16 -s 4 -S 512 -R 4 -f 2 -r 512 -h " + std::to_string(RIG_FAT_START) + " -g 64/32 -i 1234ABCD -n VEXUMRIG --offset " +
                       std::to_string(RIG_FAT_START) + " " + rig_quote(path) + " " + std::to_string(RIG_FAT_SECTORS / 2);
    if (rig_shell(rig, mkfs) != 0)
        return -1;
    fd = open(path.c_str(), O_RDWR);
    if (fd < 0)
        return -1;
    uint8_t mbr[512] = {}, ebr1[512] = {}, ebr2[512] = {};
    rig_put_le32(mbr + 440, 0x5645584D);
    rig_entry(mbr, 0, 0x80, 0x06, RIG_FAT_START, RIG_FAT_SECTORS);
    rig_entry(mbr, 1, 0x00, 0x05, RIG_EXT_START, RIG_EXT_SECTORS);
    rig_entry(ebr1, 0, 0x00, 0x83, RIG_LOGICAL1_START - RIG_EXT_START, RIG_LOGICAL1_SECTORS);
    rig_entry(ebr1, 1, 0x00, 0x05, RIG_EBR2 - RIG_EXT_START, RIG_EXT_START + RIG_EXT_SECTORS - RIG_EBR2);
    rig_entry(ebr2, 0, 0x00, 0x07, RIG_LOGICAL2_START - RIG_EBR2, RIG_LOGICAL2_SECTORS);
    int r = rig_write_sector(fd, 0, mbr) | rig_write_sector(fd, RIG_EXT_START, ebr1) | rig_write_sector(fd, RIG_EBR2, ebr2);
    close(fd);
    return r;
}

inline int rig_make_media(const tgt_rig& rig)
{
    if (rig_make_disk(rig) != 0)
        return -1;
    std::string tree = rig.dir + "/cd-tree";
    mkdir(tree.c_str(), 0755);
    if (rig_shell(rig, "printf 'vexum test medium\\n' > " + rig_quote(tree + "/README.TXT")) != 0)
        return -1;
    if (rig_shell(rig, "xorriso -as mkisofs -quiet -V VEXUM_CD -o " + rig_quote(rig.dir + "/cd.iso") + " " +
                           rig_quote(tree)) != 0)
        return -1;
    unlink((rig.dir + "/tape.img").c_str());
    return rig_shell(rig, "tgtimg --op new --device-type tape --barcode VEXUM001 --size 8 --type data --file " +
                              rig_quote(rig.dir + "/tape.img"));
}

#define RIG_ID(product, revision, removable) \
    "vendor_id=VEXUM,product_id=" product ",product_rev=" revision ",removable=" #removable

inline int rig_configure(const tgt_rig& rig)
{
    const std::string d = rig.dir;
    const char* steps[][2] = {
        {"--mode target --op new --tid 1 --targetname " TGT_RIG_TARGET, ""},
        {"--mode logicalunit --op new --tid 1 --lun 1 --backing-store ", "/disk.img"},
        {"--mode logicalunit --op new --tid 1 --lun 2 --device-type cd --backing-store ", "/cd.iso"},
        {"--mode logicalunit --op new --tid 1 --lun 3 --device-type tape --bstype ssc --backing-store ", "/tape.img"},
        {"--mode target --op bind --tid 1 --initiator-address 127.0.0.1", ""},
        {"--mode target --op new --tid 2 --targetname " TGT_RIG_SECOND, ""},
        {"--mode logicalunit --op new --tid 2 --lun 1 --device-type cd --backing-store ", "/cd.iso"},
        {"--mode target --op bind --tid 2 --initiator-address 127.0.0.1", ""},
        // What each unit answers to INQUIRY (tgt answers version 5, SPC-3).
        {"--mode logicalunit --op update --tid 1 --lun 0 --params " RIG_ID("RIG-CONTROLLER", "1.0", 0), ""},
        {"--mode logicalunit --op update --tid 1 --lun 1 --params " RIG_ID("RIG-DISK", "1.0", 0), ""},
        {"--mode logicalunit --op update --tid 1 --lun 2 --params " RIG_ID("RIG-CD", "2.10", 1), ""},
        {"--mode logicalunit --op update --tid 1 --lun 3 --params " RIG_ID("RIG-TAPE", "3", 1), ""},
        {"--mode logicalunit --op update --tid 2 --lun 0 --params " RIG_ID("SECOND-CONTROL", "1.0", 0), ""},
        {"--mode logicalunit --op update --tid 2 --lun 1 --params " RIG_ID("SECOND-CD", "1.0", 1), ""},
        // The disk's serial number and mode pages (page code, subpage, length, then the page bytes from 2):
        // 02h: full ratio 128, empty ratio 64, no time limits, bursts of 16 x 512 bytes;
        // 03h: 8 tracks per zone, 1 alternate sector per zone, 0 alternate tracks per zone, 2 per unit,
        //      32 sectors per track, 512-byte sectors, interleave 1, track skew 3, cylinder skew 5;
        // 04h: 1,024 cylinders, 64 heads, step rate 10, landing zone 1,023, 5,400 rpm;
        // 08h: write cache on, read cache on, priorities 2 and 1, prefetch 1,000 / 0 / 256 / 512.
        {"--mode logicalunit --op update --tid 1 --lun 0 --params scsi_sn=VXC0001", ""},
        {"--mode logicalunit --op update --tid 1 --lun 2 --params scsi_sn=VXCD001", ""},
        {"--mode logicalunit --op update --tid 2 --lun 0 --params scsi_sn=VXC0002", ""},
        {"--mode logicalunit --op update --tid 2 --lun 1 --params scsi_sn=VXCD002", ""},
        {"--mode logicalunit --op update --tid 1 --lun 1 --params scsi_sn=VXD0001", ""},
        {"--mode logicalunit --op update --tid 1 --lun 1 --params mode_page=2:0:14:128:64:0:0:0:0:0:0:0:16:0:0:0:0", ""},
        {"--mode logicalunit --op update --tid 1 --lun 1 --params "
         "mode_page=3:0:22:0:8:0:1:0:0:0:2:0:32:2:0:0:1:0:3:0:5:64:0:0:0",
         ""},
        {"--mode logicalunit --op update --tid 1 --lun 1 --params "
         "mode_page=4:0:22:0:4:0:64:0:0:0:0:0:0:0:10:0:3:255:0:0:0:21:24:0:0",
         ""},
        {"--mode logicalunit --op update --tid 1 --lun 1 --params mode_page=8:0:18:4:33:3:232:0:0:1:0:2:0:0:0:0:0:0:0:0:0", ""},
        // The tape's serial number, the same page 02h as the disk, and page 10h: active format 1,
        // partition 0, write buffer full ratio 0 (default), read buffer empty ratio 128, write delay
        // 10 x 100 ms, byte 8 = 4Ah (block identifiers, 2 consecutive filemarks, LIFO), gap size 1,
        // byte 10 = 38h (end of data 1, EOD generation, synchronize at early warning), 1,024 bytes
        // at early warning, compression algorithm 1.
        {"--mode logicalunit --op update --tid 1 --lun 3 --params scsi_sn=VXT0001", ""},
        {"--mode logicalunit --op update --tid 1 --lun 3 --params mode_page=2:0:14:128:64:0:0:0:0:0:0:0:16:0:0:0:0", ""},
        {"--mode logicalunit --op update --tid 1 --lun 3 --params mode_page=16:0:14:1:0:0:128:0:10:74:1:56:0:4:0:1:0", ""},
    };
    for (auto& step : steps) {
        std::string args = step[0];
        if (*step[1])
            args += rig_quote(d + step[1]);
        if (rig_tgtadm(rig, args) != 0)
            return -1;
    }
    return 0;
}

inline void stop_tgt_rig(tgt_rig* rig)
{
    if (rig->pid <= 0)
        return;
    rig_tgtadm(*rig, "--mode target --op delete --force --tid 2");
    rig_tgtadm(*rig, "--mode target --op delete --force --tid 1");
    rig_tgtadm(*rig, "--mode system --op delete");
    bool gone = false;
    for (int i = 0; i < 100 && !gone; i++) {
        if (waitpid(rig->pid, nullptr, WNOHANG) == rig->pid)
            gone = true;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!gone) {
        kill(rig->pid, SIGKILL);
        waitpid(rig->pid, nullptr, 0);
    }
    rig->pid = -1;
    std::string rm = "rm -rf " + rig_quote(rig->dir);
    if (std::system(rm.c_str()) != 0)
        rig->dir.clear();
}

// 0 with the daemon up and configured, or -1 with skip_reason set.
inline int start_tgt_rig(tgt_rig* rig, const std::string& name)
{
    for (const char* tool : {"tgtd", "tgtadm", "tgtimg", "xorriso", "mkfs.fat"}) {
        if (!rig_have_tool(tool)) {
            rig->skip_reason = std::string(tool) + " is not installed (Debian packages tgt, xorriso, dosfstools)";
            return -1;
        }
    }
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) {
        rig->skip_reason = "no working folder";
        return -1;
    }
    rig->dir = std::string(cwd) + "/" + name + "-" + std::to_string(getpid());
    mkdir(rig->dir.c_str(), 0755);
    rig->socket = rig->dir + "/tgtd.sock";
    if (rig_make_media(*rig) != 0) {
        rig->skip_reason = "cannot make the rig's media (see " + rig->dir + "/rig.log)";
        return -1;
    }
    rig->port = rig_free_port();
    if (rig->port <= 0) {
        rig->skip_reason = "no free port on 127.0.0.1";
        return -1;
    }
    std::string portal = "portal=127.0.0.1:" + std::to_string(rig->port);
    std::string log = rig->dir + "/tgtd.log";
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        setenv("TGT_IPC_SOCKET", rig->socket.c_str(), 1);
        for (const char* p : {"/usr/sbin/tgtd", "/sbin/tgtd"})
            execl(p, "tgtd", "-f", "--iscsi", portal.c_str(), static_cast<char*>(nullptr));
        execlp("tgtd", "tgtd", "-f", "--iscsi", portal.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) {
        rig->skip_reason = "cannot start tgtd";
        return -1;
    }
    rig->pid = pid;
    bool ready = false;
    for (int i = 0; i < 100 && !ready; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            rig->pid = -1;
            rig->skip_reason = "tgtd exited at start (see " + log + ")";
            return -1;
        }
        ready = rig_tgtadm(*rig, "--mode system --op show") == 0 && rig_port_answers(rig->port);
    }
    if (!ready || rig_configure(*rig) != 0) {
        stop_tgt_rig(rig);
        rig->skip_reason = "tgtd did not come up (see " + log + " and " + rig->dir + "/rig.log)";
        return -1;
    }
    return 0;
}
