// The eject request on a real USB disk. Windows unmounts the disk's volumes and unplugs the
// device unless a program holds a volume; here a mount that stays busy is that veto.
#include "platform/linux/DiskEject.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
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

// The flush of the disk; a test makes it fail (SetDiskFlushForTest).
int (*flushCall)(int) = ::fsync;

bool StillMounted(dev_t device, const std::string& point) {
    std::vector<std::string> points = MountPointsOf(device);
    return std::find(points.begin(), points.end(), point) != points.end();
}

// Unmounts every mount of the disk's block devices, the most recent mount of each first: CR_SUCCESS,
// CR_REMOVE_VETOED with the mount point of the first that is busy in `busy`, CR_FAILURE for one
// that would not go for another reason (nobody holds it: no veto). The mounts after it stay.
[[nodiscard]] CONFIGRET UnmountAll(udev_device* disk, std::string* busy) {
    for (dev_t device : BlockDevicesOf(disk)) {
        if (device == 0) continue;
        std::vector<std::string> points = MountPointsOf(device);
        for (auto point = points.rbegin(); point != points.rend(); ++point) {
            if (::umount2(point->c_str(), 0) == 0) continue;
            const int err = errno;
            // A mount gone meanwhile fails too (EINVAL, ENOENT); one the table still lists is not.
            if (err != EBUSY && !StillMounted(device, *point)) continue;
            Tell("cannot unmount " + *point + ": " + std::strerror(err));
            if (err != EBUSY) return CR_FAILURE;
            *busy = *point;
            return CR_REMOVE_VETOED;
        }
    }
    return CR_SUCCESS;
}

// fsync on a block device sends the device a cache flush, so what the file systems wrote is on
// the medium before the device goes.
[[nodiscard]] bool FlushDisk(udev_device* disk) {
    const char* node = udev_device_get_devnode(disk);
    int fd = node ? ::open(node, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0 && (node == nullptr || errno == ENOENT)) return true;  // udev has removed the node: the disk is going
    if (fd < 0) {
        Tell(std::string("cannot open ") + node + " to flush it: " + std::strerror(errno));
        return false;
    }
    bool flushed = flushCall(fd) == 0;
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
    if (CONFIGRET unmounted = UnmountAll(disk, holder); unmounted != CR_SUCCESS) return unmounted;
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

void SetDiskFlushForTest(int (*flush)(int fd)) { flushCall = flush ? flush : ::fsync; }

}  // namespace platform::linuxpc
