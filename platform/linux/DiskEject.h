// Ejecting a real USB disk: what CM_Request_Device_EjectA does on Windows, made of what Linux
// offers (udisks2's power-off, or as root: sync, unmount every file system of the disk, then
// unplug it logically).
#pragma once

#include <libudev.h>

#include <string>

#include "platform/Devices.h"

namespace platform::linuxpc {

// Through udisks2 where it can (PowerOffDisk); else, as root, syncs, unmounts every mount of
// the disk and of its partitions, flushes the disk and writes its USB device's sysfs "remove".
// A busy mount vetoes: CR_REMOVE_VETOED with the mount point in `holder`, the disk left as it
// was from that mount on. CR_FAILURE when a mount would not go for another reason, the disk
// could not be flushed or unplugged, or for a desktop user without udisks2.
[[nodiscard]] CONFIGRET EjectDisk(udev_device* disk, std::string* holder);

// Test hook: `flush` stands in for the fsync that flushes the disk (nullptr: fsync again), so a
// test can make the flush fail.
void SetDiskFlushForTest(int (*flush)(int fd));

}  // namespace platform::linuxpc
