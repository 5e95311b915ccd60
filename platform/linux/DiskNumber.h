// The number of a real PC's disk: what IOCTL_STORAGE_GET_DEVICE_NUMBER answers for a volume
// and GetDeviceDiskNumber for a USB device, so the program can tell which volume lies on the
// unit's own disk. Linux numbers disks by their device number; both sides use this packing.
#pragma once

#include <sys/sysmacros.h>
#include <sys/types.h>

#include <cstdint>

namespace platform::linuxpc {

// The whole disk's device number, major in the high 12 bits and minor in the low 20 (the
// kernel's own limits for each).
inline uint32_t DiskNumberOf(dev_t wholeDisk) {
    return (static_cast<uint32_t>(major(wholeDisk)) << 20) | (static_cast<uint32_t>(minor(wholeDisk)) & 0xFFFFFu);
}

}  // namespace platform::linuxpc
