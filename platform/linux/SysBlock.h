// What sysfs and the kernel's lock table tell about a block device, readable by any user: its
// whole disk, its length, its logical sector size, the medium's sequence number and whether
// someone holds it locked. Discovery, the disk tie and the lock test need no open of the device.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace platform::linuxpc {

struct WholeDisk {
    std::string node;  // "/dev/sdb" for "/dev/sdb1"; the node itself for a whole disk
    dev_t number = 0;
};
// The disk a partition belongs to (through /sys/dev/block/M:m/partition and its parent); the
// device itself when it is no partition or sysfs does not say.
WholeDisk WholeDiskOf(const std::string& node, dev_t device);
// The device's length in bytes (sysfs "size" counts 512-byte units); nullopt when sysfs lacks it.
std::optional<uint64_t> DeviceBytes(dev_t device);
// The logical sector size of the device's disk ("queue/logical_block_size"); nullopt when sysfs
// lacks it.
std::optional<unsigned> LogicalSectorSize(dev_t device);
// The disk's "diskseq": a new number for every medium or attachment, so a unit plugged in again
// under the same device number is told apart; 0 when the kernel does not give one.
uint64_t DiskSequence(dev_t device);
// True when some process holds an exclusive flock on the node (a locked volume), read from
// /proc/locks without opening the node.
bool ExclusivelyFlocked(const std::string& node);

}  // namespace platform::linuxpc
