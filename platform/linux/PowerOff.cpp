// The eject through udisks2: sync, Filesystem.Unmount for each mounted file system of the disk,
// Drive.PowerOff.
#include "platform/linux/PowerOff.h"

#include <unistd.h>

#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/linux/UDisks.h"

namespace platform::linuxpc {

uint32_t PowerOffDisk(dev_t wholeDisk) {
    std::optional<UDisksObjects> objects = UDisksList();
    if (!objects) return ERROR_NOT_SUPPORTED;
    const UDisksBlock* disk = objects->BlockOf(wholeDisk);
    if (disk == nullptr) return ERROR_DEVICE_NOT_CONNECTED;
    ::sync();
    for (const UDisksBlock& block : objects->blocks) {
        bool onDisk = block.number == wholeDisk || block.partitionTable == disk->object;
        if (!onDisk || !block.filesystem || block.mountPoints.empty()) continue;
        if (uint32_t error = UDisksUnmount(block.object); error != ERROR_SUCCESS) return error;
    }
    const UDisksDrive* drive = objects->DriveOf(*disk);
    if (drive == nullptr || !drive->canPowerOff) return ERROR_NOT_SUPPORTED;
    return UDisksPowerOff(drive->object);
}

}  // namespace platform::linuxpc
