// The Linux SCSI generic manager: host adapters are the kernel's SCSI hosts,
// units its SCSI devices, and each request goes out with SG_IO on the unit's
// /dev/sgN node, opened read-only. SG_IO is synchronous, so every request is
// complete when the send call returns and the completion event is never used.
#include "aspi/sg_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "aspi/manager.h"
#include "format/output.h"

namespace {

// Request and host adapter statuses beyond those the executor names.
enum : uint8_t {
    SS_ABORTED = 0x02,
    SS_INVALID_CMD = 0x80,
    HASTAT_COMMAND_TIMEOUT = 0x0B,
    HASTAT_BUS_RESET = 0x0E,
    HASTAT_PARITY_ERROR = 0x0F,
    HASTAT_BUS_FREE = 0x13,
    HASTAT_PHASE_ERR = 0x14,
    SRB_DIR_OUT = 0x10,
};

// Kernel host statuses (DID_*) and driver statuses (DRIVER_*).
enum : uint16_t {
    DID_OK = 0x00,
    DID_NO_CONNECT = 0x01,
    DID_BUS_BUSY = 0x02,
    DID_TIME_OUT = 0x03,
    DID_BAD_TARGET = 0x04,
    DID_PARITY = 0x06,
    DID_RESET = 0x08,
    DRIVER_TIMEOUT = 0x06,
    DRIVER_SENSE = 0x08,
};

constexpr unsigned REQUEST_TIMEOUT_MS = 10000;

uint8_t translate_host_status(uint16_t host_status)
{
    switch (host_status) {
    case DID_OK:
        return HASTAT_OK;
    case DID_NO_CONNECT:
    case DID_BAD_TARGET:
        return HASTAT_SEL_TO;
    case DID_TIME_OUT:
        return HASTAT_COMMAND_TIMEOUT;
    case DID_BUS_BUSY:
        return HASTAT_BUS_FREE;
    case DID_PARITY:
        return HASTAT_PARITY_ERROR;
    case DID_RESET:
        return HASTAT_BUS_RESET;
    default:
        // Aborts, transport failures and the like have no code of their
        // own; any non-zero host status fails the request.
        return HASTAT_PHASE_ERR;
    }
}

} // namespace

size_t convert_sense_to_fixed(const uint8_t* sense, size_t length, uint8_t* out, size_t out_size)
{
    std::memset(out, 0, out_size);
    if (length == 0 || out_size == 0)
        return 0;
    uint8_t code = sense[0] & 0x7F;
    if (code == 0x72 || code == 0x73) {
        // Descriptor format: key, code and qualifier in bytes 1-3.
        uint8_t fixed[18] = {};
        fixed[0] = code == 0x72 ? 0x70 : 0x71;
        fixed[2] = length > 1 ? sense[1] & 0x0F : 0;
        fixed[7] = 10;
        fixed[12] = length > 2 ? sense[2] : 0;
        fixed[13] = length > 3 ? sense[3] : 0;
        size_t n = std::min(out_size, sizeof fixed);
        std::memcpy(out, fixed, n);
        return n;
    }
    size_t n = std::min(out_size, length);
    std::memcpy(out, sense, n);
    return n;
}

uint8_t translate_sg_outcome(const sg_outcome& outcome, srb_exec* srb)
{
    std::memset(srb->sense, 0, sizeof srb->sense);
    srb->host_status = HASTAT_OK;
    srb->target_status = STATUS_GOOD;
    if (outcome.error != 0) {
        // The request never reached the device. A device set offline or
        // removed answers ENXIO or ENODEV (its node may be gone: ENOENT).
        bool gone = outcome.error == ENXIO || outcome.error == ENODEV || outcome.error == ENOENT;
        srb->status = gone ? uint8_t(SS_NO_DEVICE) : uint8_t(SS_ABORTED);
        return srb->status;
    }
    srb->host_status = translate_host_status(outcome.host_status);
    srb->target_status = outcome.scsi_status;
    uint16_t driver = outcome.driver_status & 0x0F;
    if (srb->host_status == HASTAT_OK && srb->target_status == STATUS_GOOD && driver != 0 && driver != DRIVER_SENSE) {
        // The driver gave up on a request that reports no other fault: it
        // must not read as a success.
        srb->host_status = driver == DRIVER_TIMEOUT ? uint8_t(HASTAT_COMMAND_TIMEOUT) : uint8_t(HASTAT_PHASE_ERR);
    }
    if (outcome.sense && outcome.sense_length > 0) {
        size_t room = std::min<size_t>(srb->sense_length, sizeof srb->sense);
        convert_sense_to_fixed(outcome.sense, outcome.sense_length, srb->sense, room);
    }
    srb->status = srb->host_status == HASTAT_OK && srb->target_status == STATUS_GOOD ? SS_COMP : SS_ERR;
    return srb->status;
}

namespace {

struct sg_state {
    std::string sysfs_root = "/sys";
    std::string dev_root = "/dev";
    bool loaded = false;
    sg_topology topology;
    bool told_permission = false;
    bool told_missing_node = false;
};

sg_state& state()
{
    static sg_state s;
    return s;
}

const sg_topology& loaded_topology()
{
    sg_state& s = state();
    if (!s.loaded) {
        read_sg_topology(s.sysfs_root.c_str(), &s.topology);
        s.loaded = true;
    }
    return s.topology;
}

struct fd_handle {
    int fd;
    ~fd_handle()
    {
        if (fd >= 0)
            close(fd);
    }
};

bool is_valid_cdb_length(uint8_t length) { return length == 6 || length == 10 || length == 12 || length == 16; }

uint8_t execute_on_sg(srb_exec* srb)
{
    sg_state& s = state();
    const sg_topology& topology = loaded_topology();
    srb->host_status = HASTAT_OK;
    srb->target_status = STATUS_GOOD;
    if (srb->host_adapter >= topology.adapters.size()) {
        srb->status = SS_INVALID_HA;
        return srb->status;
    }
    if (!is_valid_cdb_length(srb->cdb_length) || (srb->data_length > 0 && !srb->data_buffer) ||
        (srb->flags & SRB_DIR_OUT)) {
        srb->status = SS_INVALID_SRB;
        return srb->status;
    }
    const sg_unit* unit = find_sg_unit(topology, srb->host_adapter, srb->target, srb->lun);
    if (!unit) {
        // Nothing at this address: answer as the bus would, without sending.
        srb->host_status = HASTAT_SEL_TO;
        srb->status = SS_ERR;
        return srb->status;
    }
    const sg_adapter& adapter = topology.adapters[srb->host_adapter];
    if (unit->sg_number < 0) {
        if (!s.told_missing_node) {
            err_printf("vexum: SCSI device %d:%d:%d:%d has no /dev/sg node (is the sg module loaded?)\n",
                       adapter.host_number, adapter.channel, unit->target, unit->lun);
            s.told_missing_node = true;
        }
        srb->status = SS_NO_DEVICE;
        return srb->status;
    }

    std::string path = s.dev_root + "/sg" + std::to_string(unit->sg_number);
    fd_handle node{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    sg_outcome outcome{};
    if (node.fd < 0) {
        outcome.error = errno;
        if ((outcome.error == EACCES || outcome.error == EPERM) && !s.told_permission) {
            err_printf("vexum: no permission to open %s: SCSI devices can be read by root or by a user "
                       "with read access to /dev/sg*\n",
                       path.c_str());
            s.told_permission = true;
        }
        return translate_sg_outcome(outcome, srb);
    }

    uint8_t sense[64] = {};
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    // Every command the seam lets through reads from the device.
    io.dxfer_direction = srb->data_length > 0 ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.cmd_len = srb->cdb_length;
    io.cmdp = srb->cdb;
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.dxfer_len = srb->data_length;
    io.dxferp = srb->data_buffer;
    io.timeout = REQUEST_TIMEOUT_MS;

    int rc;
    int interrupted = 0;
    do {
        rc = ioctl(node.fd, SG_IO, &io);
    } while (rc < 0 && errno == EINTR && ++interrupted < 3);
    if (rc < 0) {
        outcome.error = errno;
        return translate_sg_outcome(outcome, srb);
    }
    // A short transfer (io.resid > 0) is not an error: the callers clear
    // their buffers and read the lengths inside each answer.
    outcome.scsi_status = io.status;
    outcome.host_status = io.host_status;
    outcome.driver_status = io.driver_status;
    outcome.sense = sense;
    outcome.sense_length = std::min<size_t>(io.sb_len_wr, sizeof sense);
    return translate_sg_outcome(outcome, srb);
}

uint32_t sg_support_info() { return get_sg_support_info(loaded_topology()); }

uint32_t sg_send_command(void* srb)
{
    if (!srb)
        return SS_INVALID_SRB;
    uint8_t command = *static_cast<uint8_t*>(srb);
    if (command == SC_HA_INQUIRY)
        return answer_sg_ha_inquiry(loaded_topology(), static_cast<srb_ha_inquiry*>(srb));
    if (command == SC_EXEC_SCSI_CMD)
        return execute_on_sg(static_cast<srb_exec*>(srb));
    static_cast<uint8_t*>(srb)[1] = SS_INVALID_CMD;
    return SS_INVALID_CMD;
}

void sg_shutdown()
{
    sg_state& s = state();
    s.topology.adapters.clear();
    s.loaded = false;
    s.told_permission = false;
    s.told_missing_node = false;
}

const aspi_manager sg_manager = {"scsi-generic", sg_support_info, sg_send_command, sg_shutdown};

} // namespace

void set_sg_roots(const char* sysfs_root, const char* dev_root)
{
    sg_shutdown();
    state().sysfs_root = sysfs_root ? sysfs_root : "/sys";
    state().dev_root = dev_root ? dev_root : "/dev";
}

const aspi_manager* platform_aspi_manager() { return &sg_manager; }
