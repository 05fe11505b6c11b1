// The SPTI manager (see spti.h): the walk of the SCSI ports, the matching of
// claimed units to their class devices, and the pass-through of one request.
#include "aspi/spti.h"

#include <algorithm>
#include <cstring>

#include "format/bytes.h"
#include "format/output.h"

namespace {

// The port walk ends after this many missing port numbers in a row; port
// numbers are reused and may leave gaps when adapters come and go.
constexpr int MISSING_RUN = 4;
constexpr int LARGEST_PORT = 255;
// IOCTL_SCSI_GET_INQUIRY_DATA is asked with this much room first and with
// twice as much while the port says it needs more, up to the largest.
constexpr uint32_t FIRST_INQUIRY_ROOM = 4096;
constexpr uint32_t LARGEST_INQUIRY_ROOM = 1u << 20;
constexpr size_t MAX_ADAPTERS = 255;
constexpr uint8_t SENSE_ROOM = 32;

// ---- reading the inquiry data ---------------------------------------------

constexpr size_t BUS_DATA_AT = 4, BUS_DATA_SIZE = 8, UNIT_HEADER = 12;

// ---- the walk -------------------------------------------------------------

std::string port_name(int port) { return "\\\\.\\Scsi" + std::to_string(port) + ":"; }

// The answer to IOCTL_SCSI_GET_INQUIRY_DATA; empty when the port gives none.
std::vector<uint8_t> query_inquiry_data(const spti_system& system, intptr_t handle)
{
    std::vector<uint8_t> answer;
    for (uint32_t room = FIRST_INQUIRY_ROOM; room <= LARGEST_INQUIRY_ROOM; room *= 2) {
        answer.assign(room, 0);
        uint32_t returned = 0, error = 0;
        if (system.control(system.context, handle, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, answer.data(), room,
                           &returned, &error)) {
            answer.resize(std::min(returned, room));
            return answer;
        }
        if (error != WIN_ERROR_INSUFFICIENT_BUFFER && error != WIN_ERROR_MORE_DATA)
            break;
    }
    answer.clear();
    return answer;
}

// The address a device answers for, or false when it answers none.
bool query_address(const spti_system& system, intptr_t handle, spti_address* address)
{
    std::memset(address, 0, sizeof *address);
    address->length = sizeof *address;
    uint32_t returned = 0, error = 0;
    return system.control(system.context, handle, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, sizeof *address,
                          &returned, &error) &&
           returned >= sizeof *address;
}

// The key of a unit: port, path, target and LUN in one number.
uint32_t unit_key(int port, uint8_t path, uint8_t target, uint8_t lun)
{
    return uint32_t(port & 0xFF) << 24 | uint32_t(path) << 16 | uint32_t(target) << 8 | lun;
}

intptr_t open_for_reading(const spti_system& system, const std::string& name, uint32_t* error)
{
    intptr_t handle = system.open_device(system.context, name.c_str(), SPTI_READ, error);
    if (handle == SPTI_NO_HANDLE && *error == WIN_ERROR_ACCESS_DENIED)
        handle = system.open_device(system.context, name.c_str(), SPTI_QUERY, error);
    return handle;
}

bool is_missing(uint32_t error) { return error == WIN_ERROR_FILE_NOT_FOUND || error == WIN_ERROR_PATH_NOT_FOUND; }

spti_adapter* find_adapter(spti_topology* topology, int port, int port_id, uint8_t path, uint8_t initiator_id,
                           const std::string& driver)
{
    for (spti_adapter& a : topology->adapters)
        if (a.port_id == port_id && a.path == path)
            return &a;
    if (topology->adapters.size() >= MAX_ADAPTERS)
        return nullptr;
    topology->adapters.push_back({port, port_id, path, initiator_id, driver.substr(0, 16), {}});
    return &topology->adapters.back();
}

// The buses of one port device as adapters: each unit on the adapter of its
// path, a bus without units as one of its own.
void add_buses(spti_topology* topology, int port, int port_id, const std::string& driver,
               const std::vector<spti_found_bus>& buses, const std::map<uint32_t, std::string>& devices)
{
    for (size_t b = 0; b < buses.size(); b++) {
        const spti_found_bus& bus = buses[b];
        if (bus.units.empty())
            find_adapter(topology, port, port_id, uint8_t(b), bus.initiator_id, driver);
        for (const spti_found_unit& found : bus.units) {
            spti_adapter* adapter = find_adapter(topology, port, port_id, found.path, bus.initiator_id, driver);
            if (!adapter || std::any_of(adapter->units.begin(), adapter->units.end(), [&](const spti_unit& u) {
                    return u.target == found.target && u.lun == found.lun;
                }))
                continue;
            spti_unit unit{found.target, found.lun, found.claimed, ""};
            auto device = devices.find(unit_key(port_id, found.path, found.target, found.lun));
            if (!found.claimed)
                unit.device = port_name(port);
            else if (device != devices.end())
                unit.device = device->second;
            adapter->units.push_back(unit);
        }
    }
}

// The class devices of one kind, by the addresses they answer for.
void find_class_devices(const spti_system& system, const char* kind, std::map<uint32_t, std::string>* devices)
{
    int missing = 0;
    for (int n = 0; n <= LARGEST_PORT && missing < MISSING_RUN; n++) {
        std::string name = std::string("\\\\.\\") + kind + std::to_string(n);
        uint32_t error = 0;
        intptr_t handle = system.open_device(system.context, name.c_str(), SPTI_QUERY, &error);
        if (handle == SPTI_NO_HANDLE) {
            missing = is_missing(error) ? missing + 1 : 0;
            continue;
        }
        missing = 0;
        spti_address a;
        if (query_address(system, handle, &a))
            devices->emplace(unit_key(a.port, a.path_id, a.target_id, a.lun), name);
        system.close_device(system.context, handle);
    }
}

bool lacks_device(const spti_topology& topology)
{
    for (const spti_adapter& adapter : topology.adapters)
        for (const spti_unit& unit : adapter.units)
            if (unit.device.empty())
                return true;
    return false;
}

void match_class_devices(const spti_system& system, spti_topology* topology, std::map<uint32_t, std::string>* devices)
{
    if (!lacks_device(*topology))
        return;
    for (const char* kind : {"PhysicalDrive", "CdRom", "Tape"})
        find_class_devices(system, kind, devices);
    for (spti_adapter& adapter : topology->adapters)
        for (spti_unit& unit : adapter.units)
            if (unit.device.empty()) {
                auto device = devices->find(unit_key(adapter.port_id, adapter.path, unit.target, unit.lun));
                if (device != devices->end())
                    unit.device = device->second;
            }
}

// ---- the manager ----------------------------------------------------------

struct open_device {
    intptr_t handle;
    spti_access access;
};

struct spti_manager {
    aspi_manager record;
    spti_system system;
    spti_topology topology;
    std::map<std::string, open_device> devices; // opened for requests, by name
    bool told_permission = false;
};

spti_manager& manager_of(void* context) { return *static_cast<spti_manager*>(context); }

void tell_permission(spti_manager& m, const std::string& name, uint32_t error)
{
    if (m.told_permission)
        return;
    m.told_permission = true;
    err_printf("vexum: %s: SCSI pass-through refused (Windows error %lu): it needs an administrator\n", name.c_str(),
               static_cast<unsigned long>(error));
}

// The device that reaches a unit, opened with at least the access asked
// for; SPTI_NO_HANDLE with *error set when it cannot be.
intptr_t reach_device(spti_manager& m, const std::string& name, spti_access access, uint32_t* error)
{
    auto known = m.devices.find(name);
    if (known != m.devices.end()) {
        if (known->second.access >= access)
            return known->second.handle;
        m.system.close_device(m.system.context, known->second.handle);
        m.devices.erase(known);
    }
    intptr_t handle = m.system.open_device(m.system.context, name.c_str(), access, error);
    if (handle != SPTI_NO_HANDLE)
        m.devices[name] = {handle, access};
    return handle;
}

struct direct_request {
    spti_direct header;
    uint8_t sense[SENSE_ROOM];
};

uint32_t timeout_seconds()
{
    unsigned limit = aspi_wait_limit_ms();
    return limit < 1000 ? 1 : (limit + 999) / 1000;
}

template <typename record>
void fill_header(record* r, const spti_adapter& adapter, const spti_unit& unit, const srb_exec& request)
{
    r->length = sizeof *r;
    r->path_id = adapter.path;
    r->target_id = unit.target;
    r->lun = unit.lun;
    r->cdb_length = request.cdb_length;
    r->sense_info_length = SENSE_ROOM;
    // Every command the seam lets through reads from the device.
    r->data_in = request.data_length > 0 ? 1 : 2;
    r->data_transfer_length = request.data_length;
    r->timeout_seconds = timeout_seconds();
    std::memcpy(r->cdb, request.cdb, std::min<size_t>(request.cdb_length, sizeof r->cdb));
}

// The buffered form, for drivers that refuse the direct one: the data
// travels in the request's own buffer and is copied out.
spti_result pass_through_buffered(spti_manager& m, intptr_t handle, const spti_adapter& adapter, const spti_unit& unit,
                                  const srb_exec& request, std::vector<uint8_t>* space)
{
    const size_t sense_at = sizeof(spti_buffered), data_at = sense_at + SENSE_ROOM;
    space->assign(data_at + request.data_length, 0);
    spti_buffered header{};
    fill_header(&header, adapter, unit, request);
    header.data = data_at;
    header.sense_info_offset = uint32_t(sense_at);
    std::memcpy(space->data(), &header, sizeof header);
    spti_result r{};
    uint32_t returned = 0;
    r.sent = m.system.control(m.system.context, handle, IOCTL_SCSI_PASS_THROUGH, space->data(), uint32_t(space->size()),
                              space->data(), uint32_t(space->size()), &returned, &r.error);
    std::memcpy(&header, space->data(), sizeof header);
    r.scsi_status = header.scsi_status;
    r.sense = space->data() + sense_at;
    r.sense_length = std::min<size_t>(header.sense_info_length, SENSE_ROOM);
    r.transferred = std::min(header.data_transfer_length, request.data_length);
    if (r.sent && r.transferred && request.data_buffer)
        std::memcpy(request.data_buffer, space->data() + data_at, r.transferred);
    return r;
}

spti_result pass_through(spti_manager& m, intptr_t handle, const spti_adapter& adapter, const spti_unit& unit,
                         const srb_exec& request, direct_request* direct, std::vector<uint8_t>* space)
{
    std::memset(direct, 0, sizeof *direct);
    fill_header(&direct->header, adapter, unit, request);
    direct->header.data = request.data_buffer;
    direct->header.sense_info_offset = offsetof(direct_request, sense);
    spti_result r{};
    uint32_t returned = 0;
    r.sent = m.system.control(m.system.context, handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, direct, sizeof *direct, direct,
                              sizeof *direct, &returned, &r.error);
    if (!r.sent && (r.error == WIN_ERROR_INVALID_FUNCTION || r.error == WIN_ERROR_NOT_SUPPORTED ||
                    r.error == WIN_ERROR_INVALID_PARAMETER))
        return pass_through_buffered(m, handle, adapter, unit, request, space);
    r.scsi_status = direct->header.scsi_status;
    r.sense = direct->sense;
    r.sense_length = std::min<size_t>(direct->header.sense_info_length, SENSE_ROOM);
    r.transferred = std::min(direct->header.data_transfer_length, request.data_length);
    return r;
}

const spti_unit* find_unit(const spti_adapter& adapter, uint8_t target, uint8_t lun)
{
    for (const spti_unit& unit : adapter.units)
        if (unit.target == target && unit.lun == lun)
            return &unit;
    return nullptr;
}

void spti_execute(void* context, const srb_exec& request, request_outcome* outcome)
{
    spti_manager& m = manager_of(context);
    if (request.host_adapter >= m.topology.adapters.size()) {
        outcome->kind = OUTCOME_NO_ADAPTER;
        return;
    }
    const spti_adapter& adapter = m.topology.adapters[request.host_adapter];
    const spti_unit* unit = find_unit(adapter, request.target, request.lun);
    if (!unit) {
        // Nothing at this address: answer as the bus would, without sending.
        outcome->host_status = HASTAT_SEL_TO;
        return;
    }
    if (unit->device.empty()) {
        // Claimed by a class driver whose device could not be found.
        outcome->kind = OUTCOME_NO_DEVICE;
        return;
    }
    direct_request direct;
    std::vector<uint8_t> space;
    spti_result r{};
    for (spti_access access : {SPTI_READ, SPTI_READ_WRITE}) {
        intptr_t handle = reach_device(m, unit->device, access, &r.error);
        if (handle == SPTI_NO_HANDLE) {
            r.sent = false;
            break;
        }
        r = pass_through(m, handle, adapter, *unit, request, &direct, &space);
        // The pass-through asks for a handle that may write: a read-only one
        // is tried first.
        if (r.sent || r.error != WIN_ERROR_ACCESS_DENIED)
            break;
    }
    if (!r.sent && r.error == WIN_ERROR_ACCESS_DENIED)
        tell_permission(m, unit->device, r.error);
    translate_spti_result(r, outcome);
}

uint32_t spti_support_info(void* context)
{
    const spti_topology& t = manager_of(context).topology;
    if (t.adapters.empty())
        return 0xE800;
    return 0x0100 | uint32_t(t.adapters.size());
}

int spti_describe_adapter(void* context, int index, adapter_description* description)
{
    const spti_topology& t = manager_of(context).topology;
    if (index < 0 || size_t(index) >= t.adapters.size())
        return -1;
    const spti_adapter& adapter = t.adapters[size_t(index)];
    description->count = int(t.adapters.size());
    description->own_id = adapter.initiator_id;
    // The port device the adapter was found through, and its bus.
    std::string where = "Scsi" + std::to_string(adapter.port) + ":";
    if (adapter.path != 0)
        where += " bus " + std::to_string(adapter.path);
    set_adapter_ids(description, "Windows SPTI", adapter.driver, where);
    return 0;
}

// As wide as its units reach; the initiator's ID is the adapter's own where
// it lies on the bus and no unit sits there.
int spti_describe_targets(void* context, int index, adapter_targets* targets)
{
    const spti_topology& t = manager_of(context).topology;
    if (index < 0 || size_t(index) >= t.adapters.size() || t.adapters[size_t(index)].units.empty())
        return -1;
    const spti_adapter& adapter = t.adapters[size_t(index)];
    int highest = 0;
    for (const spti_unit& unit : adapter.units)
        highest = std::max(highest, int(unit.target));
    targets->count = highest + 1;
    bool taken = std::any_of(adapter.units.begin(), adapter.units.end(),
                             [&](const spti_unit& u) { return u.target == adapter.initiator_id; });
    targets->own_id = adapter.initiator_id < targets->count && !taken ? adapter.initiator_id : -1;
    return 0;
}

void spti_shutdown(void* context)
{
    spti_manager* m = static_cast<spti_manager*>(context);
    for (auto& device : m->devices)
        m->system.close_device(m->system.context, device.second.handle);
    delete m;
}

} // namespace

std::vector<spti_found_bus> parse_spti_inquiry_data(const uint8_t* data, size_t length)
{
    std::vector<spti_found_bus> buses;
    if (length < 1)
        return buses;
    size_t count = data[0];
    for (size_t b = 0; b < count && BUS_DATA_AT + (b + 1) * BUS_DATA_SIZE <= length; b++) {
        const uint8_t* bus_data = data + BUS_DATA_AT + b * BUS_DATA_SIZE;
        spti_found_bus bus;
        bus.initiator_id = bus_data[1];
        size_t listed = bus_data[0];
        uint32_t offset = get_le32(bus_data + 4);
        // The chain ends at offset 0, at the count the bus gives (one byte:
        // a chain that loops ends there too), or where it would leave the
        // answer.
        while (offset != 0 && bus.units.size() < listed && offset <= length - std::min(length, UNIT_HEADER)) {
            const uint8_t* u = data + offset;
            bus.units.push_back({u[0], u[1], u[2], u[3] != 0});
            offset = get_le32(u + 8);
        }
        buses.push_back(std::move(bus));
    }
    return buses;
}

void read_spti_topology(const spti_system& system, spti_topology* topology)
{
    topology->adapters.clear();
    std::map<uint32_t, std::string> devices; // the devices that answer for a unit's address
    int missing = 0;
    for (int port = 0; port <= LARGEST_PORT && missing < MISSING_RUN; port++) {
        uint32_t error = 0;
        std::string name = port_name(port);
        intptr_t handle = open_for_reading(system, name, &error);
        if (handle == SPTI_NO_HANDLE) {
            missing = is_missing(error) ? missing + 1 : 0;
            continue;
        }
        missing = 0;
        std::vector<uint8_t> answer = query_inquiry_data(system, handle);
        // A port device that answers for an address is a unit's own device
        // (as Wine's are): it names the port the unit sits on and reaches it.
        int port_id = port;
        spti_address a;
        if (query_address(system, handle, &a)) {
            port_id = a.port;
            devices.emplace(unit_key(a.port, a.path_id, a.target_id, a.lun), name);
        }
        system.close_device(system.context, handle);
        std::string driver = system.port_driver ? system.port_driver(system.context, port) : std::string();
        add_buses(topology, port, port_id, driver, parse_spti_inquiry_data(answer.data(), answer.size()), devices);
    }
    std::stable_sort(topology->adapters.begin(), topology->adapters.end(), [](const spti_adapter& x, const spti_adapter& y) {
        return x.port_id != y.port_id ? x.port_id < y.port_id : x.path < y.path;
    });
    match_class_devices(system, topology, &devices);
}

void translate_spti_result(const spti_result& result, request_outcome* outcome)
{
    if (!result.sent) {
        switch (result.error) {
        case WIN_ERROR_SEM_TIMEOUT:
        case WIN_ERROR_TIMEOUT:
        case WIN_WAIT_TIMEOUT:
            outcome->host_status = HASTAT_COMMAND_TIMEOUT;
            return;
        case WIN_ERROR_FILE_NOT_FOUND:
        case WIN_ERROR_PATH_NOT_FOUND:
        case WIN_ERROR_BAD_UNIT:
        case WIN_ERROR_DEV_NOT_EXIST:
        case WIN_ERROR_NO_SUCH_DEVICE:
        case WIN_ERROR_DEVICE_NOT_CONNECTED:
        case WIN_ERROR_DEVICE_REMOVED:
            outcome->kind = OUTCOME_NO_DEVICE;
            return;
        case WIN_ERROR_IO_DEVICE:
        case WIN_ERROR_GEN_FAILURE:
            // The adapter or the bus failed the request.
            outcome->host_status = HASTAT_PHASE_ERR;
            return;
        default:
            outcome->kind = OUTCOME_OS_ERROR;
            outcome->os_error = int(result.error);
            return;
        }
    }
    outcome->target_status = result.scsi_status;
    outcome->transferred = result.transferred;
    if (result.sense && result.sense_length > 0) {
        outcome->sense_length = uint8_t(std::min(result.sense_length, sizeof outcome->sense));
        std::memcpy(outcome->sense, result.sense, outcome->sense_length);
    }
}

const aspi_manager* open_spti_manager(const spti_system& system)
{
    auto* m = new spti_manager;
    m->system = system;
    read_spti_topology(system, &m->topology);
    m->record = {"SPTI", m, spti_support_info, spti_describe_adapter, spti_execute, spti_describe_targets, spti_shutdown};
    return &m->record;
}

size_t spti_adapter_count(const aspi_manager* manager)
{
    if (!manager || manager->execute != spti_execute)
        return 0;
    return manager_of(manager->context).topology.adapters.size();
}
