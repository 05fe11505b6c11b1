// The Linux SCSI generic manager: host adapters are the kernel's SCSI hosts,
// units its SCSI devices, and each request goes out with SG_IO on the unit's
// /dev/sgN node, opened read-only, with the request wait limit. SG_IO is
// synchronous: every request has its outcome when the call returns.
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

void translate_sg_outcome(const sg_outcome& result, request_outcome* outcome)
{
    if (result.error != 0) {
        // The request never reached the device. A device set offline or
        // removed answers ENXIO or ENODEV (its node may be gone: ENOENT).
        bool gone = result.error == ENXIO || result.error == ENODEV || result.error == ENOENT;
        outcome->kind = gone ? OUTCOME_NO_DEVICE : OUTCOME_OS_ERROR;
        outcome->os_error = result.error;
        return;
    }
    outcome->host_status = translate_host_status(result.host_status);
    outcome->target_status = result.scsi_status;
    uint16_t driver = result.driver_status & 0x0F;
    if (outcome->host_status == HASTAT_OK && outcome->target_status == STATUS_GOOD && driver != 0 &&
        driver != DRIVER_SENSE) {
        // The driver gave up on a request that reports no other fault: it
        // must not read as a success.
        outcome->host_status = driver == DRIVER_TIMEOUT ? uint8_t(HASTAT_COMMAND_TIMEOUT) : uint8_t(HASTAT_PHASE_ERR);
    }
    if (result.sense && result.sense_length > 0) {
        outcome->sense_length = uint8_t(std::min(result.sense_length, sizeof outcome->sense));
        std::memcpy(outcome->sense, result.sense, outcome->sense_length);
    }
}

namespace {

// Where the platform manager finds sysfs and the device nodes; tests point
// it at a fake tree.
struct sg_roots {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
};

sg_roots& default_roots()
{
    static sg_roots roots;
    return roots;
}

struct sg_manager {
    aspi_manager record;
    sg_roots roots;
    bool loaded = false;
    sg_topology topology;
    bool told_permission = false;
    bool told_missing_node = false;
};

sg_manager& manager_of(void* context) { return *static_cast<sg_manager*>(context); }

const sg_topology& loaded_topology(sg_manager& m)
{
    if (!m.loaded) {
        read_sg_topology(m.roots.sysfs.c_str(), &m.topology);
        m.loaded = true;
    }
    return m.topology;
}

struct fd_handle {
    int fd;
    ~fd_handle()
    {
        if (fd >= 0)
            close(fd);
    }
};

// The unit's node: -1 with the outcome filled when there is none to open.
int open_unit_node(sg_manager& m, const sg_adapter& adapter, const sg_unit& unit, request_outcome* outcome)
{
    if (unit.sg_number < 0) {
        if (!m.told_missing_node) {
            err_printf("vexum: SCSI device %d:%d:%d:%d has no /dev/sg node (is the sg module loaded?)\n",
                       adapter.host_number, adapter.channel, unit.target, unit.lun);
            m.told_missing_node = true;
        }
        outcome->kind = OUTCOME_NO_DEVICE;
        return -1;
    }
    std::string path = m.roots.dev + "/sg" + std::to_string(unit.sg_number);
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    sg_outcome failed{};
    failed.error = errno;
    if ((failed.error == EACCES || failed.error == EPERM) && !m.told_permission) {
        err_printf("vexum: no permission to open %s: SCSI devices can be read by root or by a user "
                   "with read access to /dev/sg*\n",
                   path.c_str());
        m.told_permission = true;
    }
    translate_sg_outcome(failed, outcome);
    return -1;
}

void sg_execute(void* context, const srb_exec& request, request_outcome* outcome)
{
    sg_manager& m = manager_of(context);
    const sg_topology& topology = loaded_topology(m);
    if (request.host_adapter >= topology.adapters.size()) {
        outcome->kind = OUTCOME_NO_ADAPTER;
        return;
    }
    const sg_unit* unit = find_sg_unit(topology, request.host_adapter, request.target, request.lun);
    if (!unit) {
        // Nothing at this address: answer as the bus would, without sending.
        outcome->host_status = HASTAT_SEL_TO;
        return;
    }
    fd_handle node{open_unit_node(m, topology.adapters[request.host_adapter], *unit, outcome)};
    if (node.fd < 0)
        return;

    uint8_t sense[64] = {};
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    // Every command the seam lets through reads from the device.
    io.dxfer_direction = request.data_length > 0 ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.cmd_len = request.cdb_length;
    io.cmdp = const_cast<uint8_t*>(request.cdb);
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.dxfer_len = request.data_length;
    io.dxferp = request.data_buffer;
    io.timeout = std::max(1u, aspi_wait_limit_ms());

    sg_outcome result{};
    int rc;
    int interrupted = 0;
    do {
        rc = ioctl(node.fd, SG_IO, &io);
    } while (rc < 0 && errno == EINTR && ++interrupted < 3);
    if (rc < 0) {
        result.error = errno;
        translate_sg_outcome(result, outcome);
        return;
    }
    // A short transfer (io.resid > 0) is not an error: the callers clear
    // their buffers and read the lengths inside each answer.
    result.scsi_status = io.status;
    result.host_status = io.host_status;
    result.driver_status = io.driver_status;
    result.sense = sense;
    result.sense_length = std::min<size_t>(io.sb_len_wr, sizeof sense);
    translate_sg_outcome(result, outcome);
    if (io.resid >= 0 && uint32_t(io.resid) <= request.data_length)
        outcome->transferred = request.data_length - uint32_t(io.resid);
}

uint32_t sg_support_info(void* context) { return get_sg_support_info(loaded_topology(manager_of(context))); }

int sg_describe_adapter(void* context, int adapter, adapter_description* description)
{
    return describe_sg_adapter(loaded_topology(manager_of(context)), adapter, description);
}

int sg_describe_targets(void* context, int adapter, adapter_targets* targets)
{
    return describe_sg_targets(loaded_topology(manager_of(context)), adapter, targets);
}

void sg_shutdown(void* context) { delete static_cast<sg_manager*>(context); }

} // namespace

void set_sg_roots(const char* sysfs_root, const char* dev_root)
{
    default_roots().sysfs = sysfs_root ? sysfs_root : "/sys";
    default_roots().dev = dev_root ? dev_root : "/dev";
}

const aspi_manager* platform_aspi_manager()
{
    auto* m = new sg_manager;
    m->roots = default_roots();
    m->record = {"scsi-generic", m, sg_support_info, sg_describe_adapter, sg_execute, sg_describe_targets,
                 sg_shutdown};
    return &m->record;
}
