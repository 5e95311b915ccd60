// Taking a real USB disk away safely, as the eject request does: every file system on it
// unmounted, then its power cut through udisks2, so it can be pulled out.
#pragma once

#include <sys/types.h>

#include <cstdint>

namespace platform::linuxpc {

// `wholeDisk` is the disk's device number (st_rdev of "/dev/sdb"). Writes every cache to the
// disks (sync), unmounts every file system of the disk and its partitions through udisks2, then
// Drive.PowerOff. ERROR_SUCCESS when the drive is off; ERROR_ACCESS_DENIED when a file system is
// busy (the eject is vetoed: nothing is powered off, what was unmounted before the busy one
// stays unmounted); ERROR_ELEVATION_REQUIRED when polkit refuses (no veto: nobody holds the unit); ERROR_NOT_SUPPORTED
// when udisks2 is not there or the disk lies on no drive it can power off (root then removes the device through sysfs);
// ERROR_DEVICE_NOT_CONNECTED when udisks2 does not know the disk (any more).
[[nodiscard]] uint32_t PowerOffDisk(dev_t wholeDisk);

}  // namespace platform::linuxpc
