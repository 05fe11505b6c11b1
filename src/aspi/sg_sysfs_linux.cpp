// The kernel's SCSI hosts and devices as host adapters and units, read from
// sysfs: /sys/class/scsi_host/hostN/proc_name names each host's driver, and
// each device folder /sys/bus/scsi/devices/H:C:T:L holds scsi_generic/sgN.
#include "aspi/sg_linux.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t MAX_ADAPTERS = 255;
constexpr int MAX_NUMBER = 1 << 24; // larger host, channel, target, LUN numbers are not addressable

struct dir_handle {
    DIR* dir;
    explicit dir_handle(const std::string& path) : dir(opendir(path.c_str())) {}
    ~dir_handle()
    {
        if (dir)
            closedir(dir);
    }
    dir_handle(const dir_handle&) = delete;
    dir_handle& operator=(const dir_handle&) = delete;
};

// A whole text of decimal digits, no sign, at most MAX_NUMBER.
int parse_number(std::string_view text, int* value)
{
    if (text.empty() || text.size() > 8)
        return -1;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    if (n > MAX_NUMBER)
        return -1;
    *value = n;
    return 0;
}

// "prefix" followed by a number, e.g. "host3" or "sg12".
int parse_prefixed(std::string_view name, std::string_view prefix, int* value)
{
    if (name.substr(0, prefix.size()) != prefix)
        return -1;
    return parse_number(name.substr(prefix.size()), value);
}

struct device_name {
    int host, channel, target, lun;
};

// "H:C:T:L" with four numbers.
int parse_device_name(std::string_view name, device_name* d)
{
    int* parts[4] = {&d->host, &d->channel, &d->target, &d->lun};
    for (int i = 0; i < 4; i++) {
        size_t colon = i < 3 ? name.find(':') : name.size();
        if (colon == std::string_view::npos)
            return -1;
        if (parse_number(name.substr(0, colon), parts[i]) != 0)
            return -1;
        name.remove_prefix(i < 3 ? colon + 1 : colon);
    }
    return 0;
}

// First line of a small sysfs file, without its line end; "" when unreadable.
std::string read_sysfs_line(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    char buffer[64];
    ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    if (n <= 0)
        return "";
    std::string text(buffer, size_t(n));
    size_t end = text.find('\n');
    if (end != std::string::npos)
        text.resize(end);
    return text;
}

// N of the device's /dev/sgN, or -1. Current kernels keep a scsi_generic
// folder with one entry; old ones a link named "scsi_generic:sgN".
int find_sg_number(const std::string& device_path)
{
    int number = -1;
    {
        dir_handle d(device_path + "/scsi_generic");
        if (d.dir) {
            while (dirent* e = readdir(d.dir)) {
                if (parse_prefixed(e->d_name, "sg", &number) == 0)
                    return number;
            }
        }
    }
    dir_handle d(device_path);
    if (!d.dir)
        return -1;
    while (dirent* e = readdir(d.dir)) {
        if (parse_prefixed(e->d_name, "scsi_generic:sg", &number) == 0)
            return number;
    }
    return -1;
}

struct found_device {
    device_name name;
    int sg_number;
};

bool comes_before(const found_device& a, const found_device& b)
{
    if (a.name.host != b.name.host)
        return a.name.host < b.name.host;
    if (a.name.channel != b.name.channel)
        return a.name.channel < b.name.channel;
    if (a.name.target != b.name.target)
        return a.name.target < b.name.target;
    return a.name.lun < b.name.lun;
}

} // namespace

int read_sg_topology(const char* sysfs_root, sg_topology* topology)
{
    topology->adapters.clear();
    std::string root = sysfs_root;

    std::vector<std::pair<int, std::string>> hosts;
    {
        dir_handle d(root + "/class/scsi_host");
        if (!d.dir)
            return -1;
        while (dirent* e = readdir(d.dir)) {
            int number;
            if (parse_prefixed(e->d_name, "host", &number) != 0)
                continue;
            std::string driver = read_sysfs_line(root + "/class/scsi_host/" + e->d_name + "/proc_name");
            if (driver.size() > 16)
                driver.resize(16);
            hosts.emplace_back(number, driver);
        }
    }
    std::sort(hosts.begin(), hosts.end());

    std::vector<found_device> devices;
    {
        std::string bus = root + "/bus/scsi/devices";
        dir_handle d(bus);
        while (d.dir && devices.size() < 65536) {
            dirent* e = readdir(d.dir);
            if (!e)
                break;
            found_device f;
            if (parse_device_name(e->d_name, &f.name) != 0)
                continue;
            f.sg_number = find_sg_number(bus + "/" + e->d_name);
            devices.push_back(f);
        }
    }
    std::sort(devices.begin(), devices.end(), comes_before);

    for (const auto& host : hosts) {
        size_t first = topology->adapters.size();
        for (const auto& f : devices) {
            if (f.name.host != host.first)
                continue;
            if (topology->adapters.size() == first || topology->adapters.back().channel != f.name.channel) {
                if (topology->adapters.size() >= MAX_ADAPTERS)
                    break;
                topology->adapters.push_back({host.first, f.name.channel, host.second, {}});
            }
            topology->adapters.back().units.push_back({f.name.target, f.name.lun, f.sg_number});
        }
        if (topology->adapters.size() == first && topology->adapters.size() < MAX_ADAPTERS)
            topology->adapters.push_back({host.first, 0, host.second, {}});
    }
    return 0;
}

const sg_unit* find_sg_unit(const sg_topology& topology, int adapter, int target, int lun)
{
    if (adapter < 0 || size_t(adapter) >= topology.adapters.size())
        return nullptr;
    for (const auto& unit : topology.adapters[size_t(adapter)].units) {
        if (unit.target == target && unit.lun == lun)
            return &unit;
    }
    return nullptr;
}

uint32_t get_sg_support_info(const sg_topology& topology)
{
    if (topology.adapters.empty())
        return 0xE800;
    return 0x0100 | uint32_t(topology.adapters.size());
}

int describe_sg_adapter(const sg_topology& topology, int index, adapter_description* description)
{
    if (index < 0 || size_t(index) >= topology.adapters.size())
        return -1;
    const sg_adapter& adapter = topology.adapters[size_t(index)];
    description->count = int(topology.adapters.size());
    description->own_id = 7; // the kernel does not tell the initiator's ID; 7 is the usual one
    // Where the adapter sits in the kernel's numbering: "host2", or
    // "host2 channel 1" for a further channel of the same host.
    std::string where = "host" + std::to_string(adapter.host_number);
    if (adapter.channel != 0)
        where += " channel " + std::to_string(adapter.channel);
    set_adapter_ids(description, "Linux sg", adapter.driver, where);
    return 0;
}

int describe_sg_targets(const sg_topology& topology, int index, adapter_targets* targets)
{
    if (index < 0 || size_t(index) >= topology.adapters.size())
        return -1;
    int highest = -1;
    for (const sg_unit& unit : topology.adapters[size_t(index)].units)
        highest = std::max(highest, unit.target);
    if (highest < 0)
        return -1;
    targets->count = highest + 1;
    targets->own_id = -1;
    return 0;
}
