// The Linux SCSI generic manager: how it sees the kernel's SCSI hosts and
// devices, and how it turns the outcome of an SG_IO request into the status
// bytes of an execute record. The manager itself is platform_aspi_manager()
// of the Linux build.
//
// Host adapters: each kernel SCSI host (/sys/class/scsi_host/hostN) in the
// order of its host number N. A host whose devices sit on channels other
// than 0 (RAID controllers that expose physical disks beside their logical
// drives) gives one adapter per channel, in channel order, right after each
// other; a host without devices is one adapter (channel 0).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "aspi/manager.h"

struct sg_unit {
    int target;
    int lun;
    int sg_number; // N of /dev/sgN; -1 when the device has no SCSI generic node
};

struct sg_adapter {
    int host_number;
    int channel;
    std::string driver; // proc_name of the host, at most 16 characters kept
    std::vector<sg_unit> units;
};

struct sg_topology {
    std::vector<sg_adapter> adapters; // at most 255 (the count is one byte)
};

// Reads the hosts and devices below sysfs_root ("/sys" on a live system).
// Returns 0, or -1 when there is no SCSI host folder at all (a kernel without
// SCSI support); topology is filled either way (empty on -1).
int read_sg_topology(const char* sysfs_root, sg_topology* topology);

// The unit at an ASPI address, or null when nothing answers there.
const sg_unit* find_sg_unit(const sg_topology& topology, int adapter, int target, int lun);

// Support-info value: 01h in bits 8-15 and the adapter count, or E800h when
// there is no adapter.
uint32_t get_sg_support_info(const sg_topology& topology);

// The target IDs of an adapter as its units populate them (0 to the highest
// target that holds a unit); the kernel's initiator has no ID among them.
// 0, or -1 when there is no such adapter or it holds no unit.
int describe_sg_targets(const sg_topology& topology, int adapter, adapter_targets* targets);

// Answers a host adapter inquiry: 0, or -1 when there is no such adapter.
int describe_sg_adapter(const sg_topology& topology, int adapter, adapter_description* description);

// What one SG_IO request came back with.
struct sg_outcome {
    int error;              // errno of open or ioctl; 0 when the request ran
    uint8_t scsi_status;    // sg_io_hdr status
    uint16_t host_status;   // sg_io_hdr host_status (DID_*)
    uint16_t driver_status; // sg_io_hdr driver_status (DRIVER_*)
    const uint8_t* sense;   // sense bytes written by the kernel
    size_t sense_length;
};

// What the request came to, in the terms of the seam: the kernel's host and
// driver statuses become host adapter statuses, a failed call an error of
// the system or a unit that is gone.
void translate_sg_outcome(const sg_outcome& result, request_outcome* outcome);

// Where the platform manager made from now on looks for sysfs and the device
// nodes (null: /sys and /dev); tests point it at a fake tree.
void set_sg_roots(const char* sysfs_root, const char* dev_root);
