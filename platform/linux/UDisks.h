// The udisks2 daemon over the system D-Bus: the block devices it knows with their drives and
// file systems, and the requests a desktop user may make without being root (mount, unmount,
// open the raw device, format, power off), polkit asking the user where its policy says so.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::linuxpc {

// One org.freedesktop.UDisks2.Drive: the hardware a block device lies on.
struct UDisksDrive {
    std::string object;         // "/org/freedesktop/UDisks2/drives/..."
    std::string connectionBus;  // "usb", "sdio", "ieee1394" or empty
    bool removable = false;
    bool canPowerOff = false;
};

// One org.freedesktop.UDisks2.Block, with what its Filesystem and Partition interfaces add.
struct UDisksBlock {
    std::string object;  // "/org/freedesktop/UDisks2/block_devices/sdb1"
    std::string device;  // "/dev/sdb1"
    dev_t number = 0;
    std::string drive;   // the drive's object, "/" when it has none (a loop device)
    std::string idType;  // "vfat", "ext4"; empty when blkid found nothing
    std::string idUuid;  // "1A2B-3C4D" for FAT
    std::string idLabel;
    bool filesystem = false;  // udisks2 can mount it
    std::vector<std::string> mountPoints;
    std::string partitionTable;  // the whole disk's block object for a partition, else empty
};

struct UDisksObjects {
    std::vector<UDisksBlock> blocks;
    std::vector<UDisksDrive> drives;

    const UDisksDrive* DriveOf(const UDisksBlock& block) const;
    const UDisksBlock* BlockOf(dev_t number) const;
};

// Every block device and drive udisks2 knows; nullopt when the daemon cannot be reached.
std::optional<UDisksObjects> UDisksList();

// The requests answer ERROR_SUCCESS or the Windows error the program handles: a busy file
// system ERROR_ACCESS_DENIED, a refusal by polkit (or no polkit agent to ask the user)
// ERROR_ELEVATION_REQUIRED, a device gone ERROR_DEVICE_NOT_CONNECTED,
// no udisks2 at all ERROR_NOT_SUPPORTED, anything else ERROR_GEN_FAILURE.

// Every request waits up to ten minutes: polkit may be asking the user for a password.

// Filesystem.Mount where udisks2 chooses (/media/<user>/<label or uuid>).
[[nodiscard]] uint32_t UDisksMount(const std::string& block, std::string* mountPoint);
[[nodiscard]] uint32_t UDisksUnmount(const std::string& block);
// Block.OpenDevice: a descriptor of the device opened by the daemon for us, or -1 with *error.
// flags are the open flags udisks2 passes on (O_EXCL, O_DIRECT).
[[nodiscard]] int UDisksOpenDevice(const std::string& block, bool writable, int flags, uint32_t* error);
// Block.Format: a fresh file system of `type` labelled `label`.
[[nodiscard]] uint32_t UDisksFormat(const std::string& block, const std::string& type, const std::string& label);
// Drive.PowerOff: the drive's power cut after its caches are written; it leaves the bus.
[[nodiscard]] uint32_t UDisksPowerOff(const std::string& drive);

}  // namespace platform::linuxpc
