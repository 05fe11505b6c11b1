// The SPTI manager against a fake of the few Win32 calls it makes: the walk
// of the ports, claimed and unclaimed units, the pass-through and what its
// results come to.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/scsi_commands.h"
#include "aspi/spti.h"
#include "harness.h"
#include "scsi/scan.h"

namespace {

using bytes = std::vector<uint8_t>;

void put32(bytes* b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        (*b)[at + size_t(i)] = uint8_t(v >> (8 * i));
}

struct fake_unit {
    uint8_t path, target, lun;
    bool claimed;
};

// What a device answers to a pass-through.
struct fake_answer {
    uint32_t error = 0;   // non-zero: DeviceIoControl fails with it
    uint8_t status = 0;
    bytes sense;
    bytes data;
    bool refuses_direct = false;
    bool needs_write = false; // refuses a handle that may only read
};

struct fake_device {
    bool is_port = false;
    std::vector<std::vector<fake_unit>> buses; // a port's buses
    uint8_t initiator = 7;
    uint32_t needed_room = 0;                  // the inquiry data's size
    bool has_address = false;
    spti_address address{};
    fake_answer answer;
    bool vanished = false;                     // opens no more
};

// A machine's devices by name; every call is counted.
struct fake_windows {
    std::map<std::string, fake_device> devices;
    std::map<int, std::string> drivers;
    std::vector<std::string> opened;     // names, as opened
    std::vector<int> accesses;           // their access
    std::map<intptr_t, std::string> handles;
    std::map<intptr_t, int> handle_access;
    intptr_t next = 100;
    int inquiry_asks = 0;
    // The last pass-through.
    uint32_t last_code = 0;
    std::string last_device;
    spti_direct last{};

    fake_device& port(int n)
    {
        fake_device& d = devices["\\\\.\\Scsi" + std::to_string(n) + ":"];
        d.is_port = true;
        return d;
    }
    fake_device& device(const std::string& name, uint8_t port, uint8_t path, uint8_t target, uint8_t lun)
    {
        fake_device& d = devices[name];
        d.has_address = true;
        d.address = {8, port, path, target, lun};
        return d;
    }
};

// The answer to IOCTL_SCSI_GET_INQUIRY_DATA, written out from its layout:
// bus count at 0, 8 bytes per bus from 4 (units, initiator, first offset at
// 4), then 48 bytes per unit (path, target, LUN, claimed, length 36 at 4,
// next offset at 8, 36 inquiry bytes from 12).
bytes inquiry_data(const fake_device& port)
{
    size_t at = 4 + 8 * port.buses.size();
    bytes b(at, 0);
    b[0] = uint8_t(port.buses.size());
    for (size_t i = 0; i < port.buses.size(); i++) {
        b[4 + 8 * i] = uint8_t(port.buses[i].size());
        b[5 + 8 * i] = port.initiator;
        put32(&b, 8 + 8 * i, port.buses[i].empty() ? 0 : uint32_t(b.size()));
        for (size_t u = 0; u < port.buses[i].size(); u++) {
            size_t start = b.size();
            b.resize(start + 48, 0);
            const fake_unit& unit = port.buses[i][u];
            b[start] = unit.path;
            b[start + 1] = unit.target;
            b[start + 2] = unit.lun;
            b[start + 3] = unit.claimed;
            put32(&b, start + 4, 36);
            put32(&b, start + 8, u + 1 < port.buses[i].size() ? uint32_t(start + 48) : 0);
        }
    }
    return b;
}

fake_windows* fake_of(void* context) { return static_cast<fake_windows*>(context); }

intptr_t fake_open(void* context, const char* name, spti_access access, uint32_t* error)
{
    fake_windows& w = *fake_of(context);
    auto d = w.devices.find(name);
    if (d == w.devices.end() || d->second.vanished) {
        *error = WIN_ERROR_FILE_NOT_FOUND;
        return SPTI_NO_HANDLE;
    }
    w.opened.push_back(name);
    w.accesses.push_back(access);
    intptr_t h = w.next++;
    w.handles[h] = name;
    w.handle_access[h] = access;
    return h;
}

bool fail(uint32_t* error, uint32_t code)
{
    *error = code;
    return false;
}

bool fake_pass_through(fake_windows& w, intptr_t h, const fake_device& d, uint32_t code, void* in, uint32_t in_size,
                       uint32_t* error)
{
    const fake_answer& a = d.answer;
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT && a.refuses_direct)
        return fail(error, WIN_ERROR_INVALID_FUNCTION);
    if (a.needs_write && w.handle_access[h] != SPTI_READ_WRITE)
        return fail(error, WIN_ERROR_ACCESS_DENIED);
    w.last_code = code;
    w.last_device = w.handles[h];
    std::memcpy(&w.last, in, sizeof w.last);
    if (a.error)
        return fail(error, a.error);
    auto* header = static_cast<spti_direct*>(in);
    auto* base = static_cast<uint8_t*>(in);
    uint32_t n = std::min<uint32_t>(header->data_transfer_length, uint32_t(a.data.size()));
    uint8_t* data = code == IOCTL_SCSI_PASS_THROUGH_DIRECT
                        ? static_cast<uint8_t*>(header->data)
                        : base + reinterpret_cast<spti_buffered*>(in)->data;
    if (code == IOCTL_SCSI_PASS_THROUGH && reinterpret_cast<spti_buffered*>(in)->data + n > in_size)
        return fail(error, WIN_ERROR_INVALID_PARAMETER);
    if (n)
        std::memcpy(data, a.data.data(), n);
    header->data_transfer_length = n;
    header->scsi_status = a.status;
    uint8_t s = uint8_t(std::min<size_t>(a.sense.size(), header->sense_info_length));
    if (s)
        std::memcpy(base + header->sense_info_offset, a.sense.data(), s);
    header->sense_info_length = s;
    return true;
}

bool fake_control(void* context, intptr_t h, uint32_t code, void* in, uint32_t in_size, void* out, uint32_t out_size,
                  uint32_t* returned, uint32_t* error)
{
    fake_windows& w = *fake_of(context);
    const fake_device& d = w.devices[w.handles[h]];
    *returned = 0;
    switch (code) {
    case IOCTL_SCSI_GET_INQUIRY_DATA: {
        w.inquiry_asks++;
        if (!d.is_port)
            return fail(error, WIN_ERROR_INVALID_FUNCTION);
        if (out_size < d.needed_room)
            return fail(error, WIN_ERROR_INSUFFICIENT_BUFFER);
        bytes b = inquiry_data(d);
        if (b.size() > out_size)
            return fail(error, WIN_ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(out, b.data(), b.size());
        *returned = uint32_t(b.size());
        return true;
    }
    case IOCTL_SCSI_GET_ADDRESS:
        if (!d.has_address || out_size < sizeof d.address)
            return fail(error, WIN_ERROR_INVALID_FUNCTION);
        std::memcpy(out, &d.address, sizeof d.address);
        *returned = sizeof d.address;
        return true;
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
    case IOCTL_SCSI_PASS_THROUGH:
        if (d.vanished)
            return fail(error, WIN_ERROR_DEVICE_NOT_CONNECTED);
        return fake_pass_through(w, h, d, code, in, in_size, error);
    default:
        return fail(error, WIN_ERROR_INVALID_FUNCTION);
    }
}

void fake_close(void* context, intptr_t h) { fake_of(context)->handles.erase(h); }

std::string fake_driver(void* context, int port)
{
    auto d = fake_of(context)->drivers.find(port);
    return d == fake_of(context)->drivers.end() ? "" : d->second;
}

spti_system system_of(fake_windows* w) { return {w, fake_open, fake_control, fake_close, fake_driver}; }

// A machine: port 0 with a claimed disk at target 1 (its class device is
// PhysicalDrive1) and an unclaimed scanner at target 4; port 1 with an
// empty bus 0 and an unclaimed changer at target 2 of bus 1; no port 2;
// port 3 without buses; port 4 with an unclaimed tape; ports 5 to 8
// missing; a port 9 that the walk never reaches.
void make_machine(fake_windows* w)
{
    w->port(0).buses = {{{0, 1, 0, true}, {0, 4, 0, false}}};
    w->port(1).buses = {{}, {{1, 2, 0, false}}};
    w->port(3);
    w->port(4).buses = {{{0, 5, 0, false}}};
    w->port(9).buses = {{{0, 0, 0, false}}};
    w->device("\\\\.\\PhysicalDrive0", 5, 0, 0, 0);
    w->device("\\\\.\\PhysicalDrive1", 0, 0, 1, 0);
    w->drivers[0] = "storahci";
    w->drivers[1] = "aic78xx";
}

const aspi_manager* open_fake(fake_windows* w, spti_system* system)
{
    *system = system_of(w);
    return open_spti_manager(*system);
}

srb_exec request_to(int adapter, int target, int lun, uint8_t* data, uint32_t length)
{
    srb_exec srb;
    std::memset(&srb, 0, sizeof srb);
    srb.command = SC_EXEC_SCSI_CMD;
    srb.host_adapter = uint8_t(adapter);
    srb.target = uint8_t(target);
    srb.lun = uint8_t(lun);
    srb.flags = SRB_DIR_IN;
    srb.data_length = length;
    srb.data_buffer = data;
    srb.sense_length = SENSE_LEN;
    srb.cdb_length = 6;
    srb.cdb[0] = OP_INQUIRY;
    srb.cdb[4] = uint8_t(length);
    return srb;
}

std::string ids_text(const uint8_t* field) { return std::string(reinterpret_cast<const char*>(field), strnlen(reinterpret_cast<const char*>(field), 16)); }

} // namespace

TEST(SptiDiscovery, PortsThenBusesBecomeAdaptersInOrder)
{
    fake_windows w;
    make_machine(&w);
    spti_topology t;
    read_spti_topology(system_of(&w), &t);
    ASSERT_EQ(t.adapters.size(), 4u);
    // Port 0 bus 0, port 1 buses 0 (empty) and 1, port 4 bus 0; port 3 has
    // no bus, and the walk stopped at the run of missing ports 5 to 8.
    const int ports[] = {0, 1, 1, 4}, paths[] = {0, 0, 1, 0};
    const size_t units[] = {2, 0, 1, 1};
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(t.adapters[i].port, ports[i]) << i;
        EXPECT_EQ(t.adapters[i].path, paths[i]) << i;
        EXPECT_EQ(t.adapters[i].units.size(), units[i]) << i;
    }
    for (const std::string& name : w.opened)
        EXPECT_NE(name, "\\\\.\\Scsi9:");
    // Claimed: its class device; unclaimed: the port.
    EXPECT_EQ(t.adapters[0].units[0].device, "\\\\.\\PhysicalDrive1");
    EXPECT_TRUE(t.adapters[0].units[0].claimed);
    EXPECT_EQ(t.adapters[0].units[1].device, "\\\\.\\Scsi0:");
    EXPECT_EQ(t.adapters[2].units[0].device, "\\\\.\\Scsi1:");
    EXPECT_EQ(t.adapters[2].units[0].target, 2);
    EXPECT_EQ(t.adapters[0].driver, "storahci");
    EXPECT_TRUE(w.handles.empty()); // the walk closes what it opened
}

TEST(SptiDiscovery, AnswerTooLargeForTheFirstBufferIsAskedAgain)
{
    fake_windows w;
    w.port(0).buses = {{{0, 3, 0, false}}};
    w.port(0).needed_room = 9000;
    spti_topology t;
    read_spti_topology(system_of(&w), &t);
    ASSERT_EQ(t.adapters.size(), 1u);
    EXPECT_EQ(t.adapters[0].units.size(), 1u);
    EXPECT_EQ(w.inquiry_asks, 3); // 4096, 8192, 16384 bytes

    // A port that never has room enough lists nothing, and the walk ends.
    fake_windows greedy;
    greedy.port(0).buses = {{{0, 3, 0, false}}};
    greedy.port(0).needed_room = 0xFFFFFFFF;
    read_spti_topology(system_of(&greedy), &t);
    EXPECT_TRUE(t.adapters.empty());
}

TEST(SptiDiscovery, HostileInquiryDataStaysInsideItsBytes)
{
    // Two units whose records link to each other forever: the chain ends at
    // the bus's count.
    bytes loop(4 + 8 + 2 * 12, 0);
    loop[0] = 1;
    loop[4] = 255;
    put32(&loop, 8, 12);
    loop[12 + 1] = 1;
    put32(&loop, 12 + 8, 24);
    loop[24 + 1] = 2;
    put32(&loop, 24 + 8, 12);
    std::vector<spti_found_bus> buses = parse_spti_inquiry_data(loop.data(), loop.size());
    ASSERT_EQ(buses.size(), 1u);
    EXPECT_EQ(buses[0].units.size(), 255u);

    // A unit record that would end past the answer, a bus count beyond the
    // bytes, offsets near the top of the range: nothing is read past them.
    bytes cut(4 + 8 + 8, 0);
    cut[0] = 200;
    cut[4] = 1;
    put32(&cut, 8, 12);
    EXPECT_TRUE(parse_spti_inquiry_data(cut.data(), cut.size())[0].units.empty());
    put32(&cut, 8, 0xFFFFFFF8u);
    EXPECT_TRUE(parse_spti_inquiry_data(cut.data(), cut.size())[0].units.empty());
    EXPECT_TRUE(parse_spti_inquiry_data(cut.data(), 0).empty());
    EXPECT_EQ(parse_spti_inquiry_data(cut.data(), 3).size(), 0u);
}

TEST(SptiDiscovery, DevicesThatAnswerForTheirOwnAddressMakeOneAdapterPerPortAndBus)
{
    // As Wine's are: each "port" is a unit's own device and names the port
    // and bus that the unit sits on.
    fake_windows w;
    w.port(0).buses = {{{0, 0, 0, true}}};
    w.device("\\\\.\\Scsi0:", 2, 0, 0, 0);
    w.port(1).buses = {{{1, 0, 0, true}}};
    w.device("\\\\.\\Scsi1:", 2, 1, 0, 0);
    w.port(2).buses = {{{0, 1, 0, true}}};
    w.device("\\\\.\\Scsi2:", 2, 0, 1, 0);
    spti_topology t;
    read_spti_topology(system_of(&w), &t);
    ASSERT_EQ(t.adapters.size(), 2u);
    EXPECT_EQ(t.adapters[0].path, 0);
    ASSERT_EQ(t.adapters[0].units.size(), 2u);
    EXPECT_EQ(t.adapters[0].units[0].device, "\\\\.\\Scsi0:");
    EXPECT_EQ(t.adapters[0].units[1].device, "\\\\.\\Scsi2:");
    EXPECT_EQ(t.adapters[1].path, 1);
    EXPECT_EQ(t.adapters[1].units[0].device, "\\\\.\\Scsi1:");
}

TEST(SptiManager, AdaptersUnitsAndRequestsThroughTheSeam)
{
    fake_windows w;
    make_machine(&w);
    w.devices["\\\\.\\PhysicalDrive1"].answer.data = {0x00, 0x00, 0x05, 0x02, 0x1F, 0, 0, 0, 'D', 'I', 'S', 'K'};
    w.devices["\\\\.\\Scsi0:"].answer.data = {0x06, 0x00, 0x02, 0x02, 0x1F};
    spti_system system;
    const aspi_manager* m = open_fake(&w, &system);
    EXPECT_EQ(manager_support_info(m), 0x0104u);

    srb_ha_inquiry ha;
    std::memset(&ha, 0, sizeof ha);
    ha.host_adapter = 2;
    ASSERT_EQ(send_to_manager(m, &ha), SS_COMP);
    EXPECT_EQ(ha.adapter_count, 4);
    EXPECT_EQ(ha.adapter_scsi_id, 7);
    EXPECT_EQ(ids_text(ha.manager_id), "Windows SPTI");
    EXPECT_EQ(ids_text(ha.adapter_id), "aic78xx");
    EXPECT_EQ(ids_text(ha.adapter_unique), "Scsi1: bus 1");

    uint8_t data[36] = {};
    srb_exec srb = request_to(0, 1, 0, data, sizeof data);
    EXPECT_EQ(send_to_manager(m, &srb), SS_COMP);
    EXPECT_EQ(data[8], 'D');
    EXPECT_EQ(w.last_device, "\\\\.\\PhysicalDrive1");
    EXPECT_EQ(w.last_code, uint32_t(IOCTL_SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(w.last.target_id, 1);
    EXPECT_EQ(w.last.data_in, 1);
    EXPECT_EQ(w.last.timeout_seconds, 10u);
    EXPECT_EQ(w.last.cdb_length, 6);
    EXPECT_EQ(w.last.cdb[0], OP_INQUIRY);
    EXPECT_EQ(w.accesses.back(), SPTI_READ); // read-only where the device allows it

    srb = request_to(0, 4, 0, data, sizeof data);
    EXPECT_EQ(send_to_manager(m, &srb), SS_COMP);
    EXPECT_EQ(w.last_device, "\\\\.\\Scsi0:");
    EXPECT_EQ(w.last.path_id, 0);
    EXPECT_EQ(w.last.target_id, 4);
    EXPECT_EQ(data[0], 0x06);

    // No unit listed there: selection time-out, nothing sent.
    std::string before = w.last_device;
    srb = request_to(0, 2, 0, data, sizeof data);
    EXPECT_EQ(send_to_manager(m, &srb), SS_ERR);
    EXPECT_EQ(srb.host_status, HASTAT_SEL_TO);
    srb = request_to(4, 0, 0, data, sizeof data);
    EXPECT_EQ(send_to_manager(m, &srb), SS_INVALID_HA);

    // A port that vanishes after the walk: the device is gone.
    w.devices["\\\\.\\Scsi1:"].vanished = true;
    srb = request_to(2, 2, 0, data, sizeof data);
    EXPECT_EQ(send_to_manager(m, &srb), SS_NO_DEVICE);
    release_aspi_manager(m);
    EXPECT_TRUE(w.handles.empty()); // every device opened for requests is closed
}

TEST(SptiManager, RefusedDirectFormAndReadOnlyHandlesAreTriedAgain)
{
    fake_windows w;
    w.port(0).buses = {{{0, 2, 0, false}}};
    fake_answer& a = w.port(0).answer;
    a.refuses_direct = true;
    a.needs_write = true;
    a.data = {0x05, 0x80, 0x05, 0x02, 0x1F, 0, 0, 0, 'C', 'D'};
    spti_system system;
    const aspi_manager* m = open_fake(&w, &system);
    uint8_t data[36] = {};
    srb_exec srb = request_to(0, 2, 0, data, sizeof data);
    EXPECT_EQ(send_to_manager(m, &srb), SS_COMP);
    EXPECT_EQ(w.last_code, uint32_t(IOCTL_SCSI_PASS_THROUGH));
    EXPECT_EQ(data[9], 'D');
    EXPECT_EQ(w.accesses.back(), SPTI_READ_WRITE);
    // The handle that may write is kept for the next request.
    size_t opens = w.opened.size();
    srb = request_to(0, 2, 0, data, sizeof data);
    EXPECT_EQ(send_to_manager(m, &srb), SS_COMP);
    EXPECT_EQ(w.opened.size(), opens);
    release_aspi_manager(m);
}

TEST(SptiManager, PassThroughRefusedEvenToAWritableHandleIsSaidOnce)
{
    fake_windows w;
    w.port(0).buses = {{{0, 2, 0, false}, {0, 3, 0, false}}};
    w.port(0).answer.error = WIN_ERROR_ACCESS_DENIED;
    spti_system system;
    const aspi_manager* m = open_fake(&w, &system);
    run_result r = capture_output([&] {
        uint8_t data[36];
        for (int target : {2, 3}) {
            srb_exec srb = request_to(0, target, 0, data, sizeof data);
            EXPECT_EQ(send_to_manager(m, &srb), SS_ABORTED);
        }
    });
    EXPECT_EQ(r.err, "vexum: \\\\.\\Scsi0:: SCSI pass-through refused (Windows error 5): it needs an administrator\n");
    release_aspi_manager(m);
}

TEST(SptiResults, EachOutcomeOfAPassThrough)
{
    srb_exec srb = request_to(0, 0, 0, nullptr, 0);
    auto complete = [&](const spti_result& r) {
        request_outcome o;
        translate_spti_result(r, &o);
        srb = request_to(0, 0, 0, nullptr, 0);
        complete_request(o, &srb);
        return o;
    };
    // Good.
    request_outcome o = complete({true, 0, 0, nullptr, 0, 36});
    EXPECT_EQ(srb.status, SS_COMP);
    EXPECT_EQ(o.transferred, 36u);
    // A short transfer is no error.
    o = complete({true, 0, 0, nullptr, 0, 5});
    EXPECT_EQ(srb.status, SS_COMP);
    EXPECT_EQ(o.transferred, 5u);
    // Check condition with its sense (descriptor format arrives fixed).
    const uint8_t sense[8] = {0x72, 0x06, 0x29, 0x00, 0, 0, 0, 0};
    complete({true, 0, STATUS_CHKCOND, sense, sizeof sense, 0});
    EXPECT_EQ(srb.status, SS_ERR);
    EXPECT_EQ(srb.target_status, STATUS_CHKCOND);
    EXPECT_EQ(srb.sense[2], 0x06);
    EXPECT_EQ(srb.sense[SENSE_ASC], 0x29);
    // The driver failed it on the bus; it timed out; the device went away;
    // the system refused it.
    complete({false, WIN_ERROR_IO_DEVICE, 0, nullptr, 0, 0});
    EXPECT_EQ(srb.status, SS_ERR);
    EXPECT_EQ(srb.host_status, HASTAT_PHASE_ERR);
    complete({false, WIN_ERROR_SEM_TIMEOUT, 0, nullptr, 0, 0});
    EXPECT_EQ(srb.host_status, HASTAT_COMMAND_TIMEOUT);
    complete({false, WIN_ERROR_DEVICE_NOT_CONNECTED, 0, nullptr, 0, 0});
    EXPECT_EQ(srb.status, SS_NO_DEVICE);
    o = complete({false, WIN_ERROR_INVALID_PARAMETER, 0, nullptr, 0, 0});
    EXPECT_EQ(srb.status, SS_ABORTED);
    EXPECT_EQ(o.os_error, int(WIN_ERROR_INVALID_PARAMETER));
}

TEST(SptiManager, TheScanReportsTheUnitsOfEveryPort)
{
    fake_windows w;
    w.port(0).buses = {{{0, 0, 0, true}}};
    w.device("\\\\.\\CdRom0", 0, 0, 0, 0).answer.data = {0x05, 0x80, 0x02, 0x02, 0x1F, 0, 0, 0, 'V', 'E', 'N', 'D',
                                                        'O', 'R', ' ', ' ', 'C', 'D', '-', 'R', 'O', 'M', ' ', ' ',
                                                        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '1', '.', '0', ' '};
    w.drivers[0] = "atapi";
    spti_system system;
    const aspi_manager* m = open_fake(&w, &system);
    select_aspi_manager(m);
    ASSERT_EQ(aspi_open(), 0);
    run_result r = capture_output([] { scan_bus(0, -1, -1, report_options{}); });
    aspi_close();
    select_aspi_manager(nullptr);
    release_aspi_manager(m);
    EXPECT_EQ(r.out, "\nHost adapter #0 - Windows SPTI     atapi            Scsi0:          \n"
                     "\n0)ID:0-0 SCSI-2 VENDOR   CD-ROM           1.0  Removable - CD-ROM device\n");
}
