// The eject request on a real USB disk. Windows unmounts the disk's volumes and unplugs the
// device unless a program holds a volume; here a mount that stays busy is that veto.
#include "platform/linux/DiskEject.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Debug.h"
#include "platform/Error.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/PowerOff.h"
#include "platform/linux/Udev.h"

namespace platform::linuxpc {
namespace {

void Tell(const std::string& what) { OutputDebugStringA(("Veltrane: " + what).c_str()); }

// The device numbers of the disk and of each of its partitions (a unit's volume may fill the
// whole disk without a partition table).
std::vector<dev_t> BlockDevicesOf(udev_device* disk) {
    std::vector<dev_t> devices{udev_device_get_devnum(disk)};
    UdevEnumerate list(udev_enumerate_new(udev_device_get_udev(disk)));
    if (!list || udev_enumerate_add_match_parent(list.get(), disk) < 0 ||
        udev_enumerate_add_match_subsystem(list.get(), "block") < 0 || udev_enumerate_scan_devices(list.get()) < 0)
        return devices;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list.get())) {
        UdevDevice device(udev_device_new_from_syspath(udev_device_get_udev(disk), udev_list_entry_get_name(entry)));
        if (!device) continue;
        const char* type = udev_device_get_devtype(device.get());
        if (type && std::strcmp(type, "partition") == 0) devices.push_back(udev_device_get_devnum(device.get()));
    }
    return devices;
}

// Unmounts every mount of the disk's block devices, the most recent mount of each first. The
// mount point of the first that is busy comes back; the mounts after it stay.
[[nodiscard]] bool UnmountAll(udev_device* disk, std::string* busy) {
    for (dev_t device : BlockDevicesOf(disk)) {
        if (device == 0) continue;
        std::vector<std::string> points = MountPointsOf(device);
        for (auto point = points.rbegin(); point != points.rend(); ++point) {
            if (::umount2(point->c_str(), 0) == 0 || errno == EINVAL) continue;  // EINVAL: gone meanwhile
            *busy = *point;
            Tell("cannot unmount " + *point + ": " + std::strerror(errno));
            return false;
        }
    }
    return true;
}

// fsync on a block device sends the device a cache flush, so what the file systems wrote is on
// the medium before the device goes.
[[nodiscard]] bool FlushDisk(udev_device* disk) {
    const char* node = udev_device_get_devnode(disk);
    int fd = node ? ::open(node, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return true;  // no node to flush through: udev has removed it, the disk is going
    bool flushed = ::fsync(fd) == 0 || errno == EINVAL;  // EINVAL: a node that keeps no cache
    if (!flushed) Tell(std::string("cannot flush ") + node + ": " + std::strerror(errno));
    ::close(fd);
    return flushed;
}

// The first mount still standing on the disk: after udisks2's veto, the busy one.
std::string FirstMountOf(udev_device* disk) {
    for (dev_t device : BlockDevicesOf(disk))
        if (std::vector<std::string> points = MountPointsOf(device); device != 0 && !points.empty())
            return points.front();
    return {};
}

}  // namespace

CONFIGRET EjectDisk(udev_device* disk, std::string* holder) {
    // udisks2 first, for root and desktop user alike: its unmounts, then Drive.PowerOff.
    switch (PowerOffDisk(udev_device_get_devnum(disk))) {
    case ERROR_SUCCESS: return CR_SUCCESS;
    case ERROR_ACCESS_DENIED: *holder = FirstMountOf(disk); return CR_REMOVE_VETOED;
    case ERROR_NOT_SUPPORTED:         // no udisks2, or nothing of it that can power the disk off
    case ERROR_DEVICE_NOT_CONNECTED:  // udisks2 does not know the disk
        break;
    case ERROR_ELEVATION_REQUIRED:
        // Not a veto: no program holds the unit, the system would not let this user power it off.
        Tell(
            "udisks2 refused to power off the disk: an administrator's authorisation is needed, and a "
            "polkit agent must run to ask for it");
        return CR_FAILURE;
    default: return CR_FAILURE;
    }
    if (::geteuid() != 0) {
        Tell("ejecting a USB disk needs udisks2 or root");
        return CR_FAILURE;
    }
    ::sync();
    if (!UnmountAll(disk, holder)) return CR_REMOVE_VETOED;
    if (!FlushDisk(disk)) return CR_FAILURE;
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(disk, "usb", "usb_device");
    // Writing "remove" disconnects the device from its port as an unplug would.
    int written = usb ? udev_device_set_sysattr_value(usb, "remove", "1") : -ENODEV;
    if (written < 0) {
        Tell(std::string("cannot unplug ") + udev_device_get_syspath(disk) + ": " + std::strerror(-written));
        return CR_FAILURE;
    }
    return CR_SUCCESS;
}

}  // namespace platform::linuxpc
