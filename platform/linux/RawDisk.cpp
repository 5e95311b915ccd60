// Raw access to a real block device: writes through the page cache and fdatasync, read-back
// past it through O_DIRECT, and the volume lock made of what Linux offers instead of
// FSCTL_LOCK_VOLUME (unmount, O_EXCL, flock on the whole disk, which udev's prober respects).
// Descriptors come from a plain open, or from udisks2 for a desktop user the kernel refuses.
#include "platform/linux/RawDisk.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Debug.h"
#include "platform/Error.h"
#include "platform/RawVolume.h"
#include "platform/linux/BootSector.h"
#include "platform/linux/DiskNumber.h"
#include "platform/linux/DriveLetters.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/UDisks.h"
#include "platform/posix/SeekPosition.h"
#include "platform/sim/KernelObject.h"

namespace platform::linuxpc {
namespace {

// O_DIRECT wants offset and length on the logical sector size (512, checked at the open, and
// whole sectors are all a caller may ask) and the buffer aligned: a page suits every device.
constexpr size_t kDirectAlignment = 4096;

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

class RawDisk : public KernelObject {
public:
    ~RawDisk() override {
        Unlock();
        if (directFd >= 0) ::close(directFd);
        if (fd >= 0) ::close(fd);
    }
    void Unlock();
    std::string node;
    std::string wholeDisk;
    dev_t device = 0;
    dev_t wholeDevice = 0;
    bool unmounted = false;  // the lock took a mount away: the unlock puts it back
    int fd = -1;             // writes, fdatasync
    int directFd = -1;       // reads, O_DIRECT
    int exclusiveFd = -1;    // held while locked: O_EXCL keeps mounts and other exclusive opens away
    int diskFd = -1;         // held while locked: the whole disk's exclusive flock
    uint32_t access = 0;
    uint64_t position = 0;
    uint64_t size = 0;
    std::unique_ptr<unsigned char, FreeDeleter> bounce;
    size_t bounceSize = 0;
};

RawDisk* DiskOf(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    return dynamic_cast<RawDisk*>(static_cast<KernelObject*>(handle));
}

RawDisk* ValidDisk(HANDLE handle) {
    RawDisk* disk = DiskOf(handle);
    if (disk == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return disk;
}

bool Root() { return ::geteuid() == 0; }

// What udisks2 tells of a device; an empty block (no object) when udisks2 does not know it or
// is not there.
UDisksBlock UDisksBlockOf(dev_t device) {
    std::optional<UDisksObjects> objects = UDisksList();
    const UDisksBlock* block = objects ? objects->BlockOf(device) : nullptr;
    return block ? *block : UDisksBlock{};
}

// The Windows results the program handles for what a block device reports.
uint32_t DiskError(int err, bool writing) {
    switch (err) {
    case ENODEV:
    case ENXIO: return ERROR_DEVICE_NOT_CONNECTED;
    case EIO: return writing ? ERROR_WRITE_FAULT : ERROR_READ_FAULT;
    case ENOSPC: return ERROR_SECTOR_NOT_FOUND;
    case EBUSY: return ERROR_ACCESS_DENIED;
    default: return ErrorFromErrno(err);
    }
}

bool WholeSectors(uint64_t value) { return value % kRawSectorSize == 0; }

// The device opened with `flags` (O_RDWR or O_RDONLY, with O_EXCL or O_DIRECT): plainly where
// the kernel lets this user, else by udisks2. -1 with the last error set.
[[nodiscard]] int OpenDevice(const std::string& node, dev_t device, int flags) {
    int fd = ::open(node.c_str(), flags | O_CLOEXEC);
    if (fd >= 0) return fd;
    int err = errno;
    std::string object = err == EACCES || err == EPERM ? UDisksBlockOf(device).object : std::string();
    if (Root() || object.empty()) {
        SetLastError(DiskError(err, false));
        return -1;
    }
    uint32_t error = ERROR_SUCCESS;
    fd = UDisksOpenDevice(object, (flags & O_ACCMODE) == O_RDWR, flags & (O_EXCL | O_DIRECT), &error);
    if (fd < 0) SetLastError(error);
    return fd;
}

// The node of the disk a partition belongs to ("/dev/sdb" for "/dev/sdb1"), or the node itself
// when it is a whole disk, found through sysfs.
std::string WholeDiskNode(const std::string& node, dev_t device) {
    std::string sys = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    struct stat st {};
    if (::stat((sys + "/partition").c_str(), &st) != 0) return node;
    char resolved[PATH_MAX];
    if (::realpath((sys + "/..").c_str(), resolved) == nullptr) return node;
    std::string parent = resolved;
    return "/dev/" + parent.substr(parent.rfind('/') + 1);
}

// True when nobody holds the whole disk's exclusive flock (a locked volume), tried without
// keeping a shared one: a shared flock held open would stand in our own lock's way.
[[nodiscard]] bool DiskUnlocked(const std::string& wholeDisk, dev_t wholeDevice) {
    int fd = OpenDevice(wholeDisk, wholeDevice, O_RDONLY);
    if (fd < 0) return true;
    bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// The device's length and logical sector size; umockdev's nodes answer no block ioctl, so the
// length falls back to a seek to the end and the sector size to 512.
[[nodiscard]] bool Measure(RawDisk& disk) {
    uint64_t bytes = 0;
    if (::ioctl(disk.fd, BLKGETSIZE64, &bytes) == 0) {
        disk.size = bytes;
    } else {
        off_t end = ::lseek(disk.fd, 0, SEEK_END);
        if (end < 0) return false;
        disk.size = static_cast<uint64_t>(end);
    }
    int sectorSize = 0;
    if (::ioctl(disk.fd, BLKSSZGET, &sectorSize) == 0 && sectorSize != static_cast<int>(kRawSectorSize)) {
        std::string text = "Veltrane: " + disk.node + " has " + std::to_string(sectorSize) +
                           "-byte logical sectors; only 512-byte sectors can hold the unit's image";
        OutputDebugStringA(text.c_str());
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    return true;
}

// Unmounts every mount of the volume: as root itself, for a desktop user through udisks2.
[[nodiscard]] bool UnmountVolume(RawDisk& disk) {
    std::vector<std::string> points = MountPointsOf(disk.device);
    if (points.empty()) return true;
    if (!Root()) {
        std::string object = UDisksBlockOf(disk.device).object;
        uint32_t error = object.empty() ? ERROR_ACCESS_DENIED : UDisksUnmount(object);
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return false;
        }
        disk.unmounted = true;
        return true;
    }
    for (const std::string& point : points) {
        if (::umount2(point.c_str(), 0) != 0) {
            SetLastError(DiskError(errno, false));
            return false;
        }
        disk.unmounted = true;
    }
    return true;
}

[[nodiscard]] bool Lock(RawDisk& disk) {
    if (disk.exclusiveFd >= 0) return true;
    if (!UnmountVolume(disk)) return false;
    disk.exclusiveFd = OpenDevice(disk.node, disk.device, O_RDONLY | O_EXCL);
    if (disk.exclusiveFd >= 0) disk.diskFd = OpenDevice(disk.wholeDisk, disk.wholeDevice, O_RDONLY);
    if (disk.diskFd < 0 || ::flock(disk.diskFd, LOCK_EX | LOCK_NB) != 0) {
        disk.Unlock();
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

// A page-aligned block of at least `size` bytes for O_DIRECT, kept with the handle.
unsigned char* BounceBuffer(RawDisk& disk, size_t size) {
    if (disk.bounceSize < size) {
        void* block = nullptr;
        if (::posix_memalign(&block, kDirectAlignment, size) != 0) return nullptr;
        disk.bounce.reset(static_cast<unsigned char*>(block));
        disk.bounceSize = size;
    }
    return disk.bounce.get();
}

// A read or write of `size` bytes at the handle's position: opened for it, whole sectors at a
// whole-sector position.
[[nodiscard]] bool TransferAllowed(const RawDisk& disk, uint32_t access, uint32_t size) {
    if (!(disk.access & access)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!WholeSectors(size) || !WholeSectors(disk.position)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

// The answer to IOCTL_STORAGE_GET_DEVICE_NUMBER: the whole disk's number.
[[nodiscard]] bool AnswerDeviceNumber(const RawDisk& disk, void* outBuffer, uint32_t outSize, uint32_t* bytesReturned) {
    if (outBuffer == nullptr || outSize < sizeof(STORAGE_DEVICE_NUMBER)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    STORAGE_DEVICE_NUMBER number;
    number.DeviceType = FILE_DEVICE_DISK;
    number.DeviceNumber = DiskNumberOf(disk.wholeDevice);
    std::memcpy(outBuffer, &number, sizeof number);
    if (bytesReturned) *bytesReturned = sizeof number;
    return true;
}

}  // namespace

void RawDisk::Unlock() {
    if (diskFd >= 0) ::close(diskFd);  // closing drops the flock
    if (exclusiveFd >= 0) ::close(exclusiveFd);
    diskFd = exclusiveFd = -1;
    if (!unmounted) return;
    unmounted = false;
    // Windows mounts a volume again by itself once it is unlocked; a volume left without a file
    // system (its boot signature cleared) stays unmounted.
    UDisksBlock block = UDisksBlockOf(device);
    if (!FileSystemRecognised(block.idType, DeviceHoldsFatFileSystem(fd))) return;
    // Without udisks2 (or when the mount fails) the drive's folder is mounted when the program
    // next asks for it.
    if (!block.object.empty()) static_cast<void>(UDisksMount(block.object, nullptr));
}

HANDLE CreateFileA(char letter, uint32_t desiredAccess) {
    std::optional<std::string> node = DriveDevice(letter);
    if (!node) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto disk = std::make_unique<RawDisk>();
    disk->node = *node;
    disk->access = desiredAccess;
    struct stat st {};
    if (::stat(disk->node.c_str(), &st) != 0) {
        SetLastError(DiskError(errno, false));
        return INVALID_HANDLE_VALUE;
    }
    if (!S_ISBLK(st.st_mode)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    disk->device = st.st_rdev;
    disk->fd = OpenDevice(disk->node, disk->device, (desiredAccess & GENERIC_WRITE) ? O_RDWR : O_RDONLY);
    if (disk->fd < 0) return INVALID_HANDLE_VALUE;
    disk->wholeDisk = WholeDiskNode(disk->node, disk->device);
    struct stat whole {};
    disk->wholeDevice = ::stat(disk->wholeDisk.c_str(), &whole) == 0 ? whole.st_rdev : disk->device;
    if (!DiskUnlocked(disk->wholeDisk, disk->wholeDevice)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!Measure(*disk)) return INVALID_HANDLE_VALUE;
    disk->directFd = OpenDevice(disk->node, disk->device, O_RDONLY | O_DIRECT);
    if (disk->directFd < 0) return INVALID_HANDLE_VALUE;
    SetLastError(ERROR_SUCCESS);
    return disk.release();
}

bool IsRawDisk(HANDLE handle) { return DiskOf(handle) != nullptr; }

bool DeviceIoControl(HANDLE device, uint32_t controlCode, void* outBuffer, uint32_t outSize, uint32_t* bytesReturned) {
    RawDisk* disk = ValidDisk(device);
    if (disk == nullptr) return false;
    if (bytesReturned) *bytesReturned = 0;
    switch (controlCode) {
    case FSCTL_LOCK_VOLUME: return Lock(*disk);
    case FSCTL_UNLOCK_VOLUME:
        if (disk->exclusiveFd < 0) {
            SetLastError(ERROR_NOT_LOCKED);
            return false;
        }
        disk->Unlock();
        return true;
    case FSCTL_DISMOUNT_VOLUME:
        // The lock has unmounted every mount of the volume: no file system keeps a view of it.
        if (disk->exclusiveFd < 0) {
            SetLastError(ERROR_NOT_LOCKED);
            return false;
        }
        return true;
    case FSCTL_ALLOW_EXTENDED_DASD_IO:
        // A block device has no file-system bound on its sectors; the device's length holds.
        return true;
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: return AnswerDeviceNumber(*disk, outBuffer, outSize, bytesReturned);
    case IOCTL_STORAGE_CHECK_VERIFY2: {
        // A disk pulled out loses its capacity: the kernel sets it to 0 as the device goes.
        uint64_t bytes = 0;
        if (::ioctl(disk->fd, BLKGETSIZE64, &bytes) == 0 && bytes > 0) return true;
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    default: SetLastError(ERROR_INVALID_PARAMETER); return false;
    }
}

uint32_t SetFilePointer(HANDLE file, int32_t distance, int32_t* distanceHigh, uint32_t moveMethod) {
    RawDisk* disk = ValidDisk(file);
    if (disk == nullptr) return INVALID_SET_FILE_POINTER;
    return SeekPosition(disk->position, disk->size, distance, distanceHigh, moveMethod);
}

bool ReadFile(HANDLE file, void* buffer, uint32_t size, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    RawDisk* disk = ValidDisk(file);
    if (disk == nullptr || !TransferAllowed(*disk, GENERIC_READ, size)) return false;
    unsigned char* bounce = BounceBuffer(*disk, size);
    if (bounce == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    uint32_t got = 0;
    while (got < size) {
        ssize_t n = ::pread(disk->directFd, bounce + got, size - got, static_cast<off_t>(disk->position + got));
        if (n < 0) {
            SetLastError(DiskError(errno, false));
            return false;
        }
        if (n == 0) break;
        got += static_cast<uint32_t>(n);
    }
    std::memcpy(buffer, bounce, got);
    disk->position += got;
    if (bytesRead) *bytesRead = got;
    return true;
}

bool WriteFile(HANDLE file, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
    if (bytesWritten) *bytesWritten = 0;
    RawDisk* disk = ValidDisk(file);
    if (disk == nullptr || !TransferAllowed(*disk, GENERIC_WRITE, size)) return false;
    if (disk->position + size > disk->size) {
        SetLastError(ERROR_SECTOR_NOT_FOUND);
        return false;
    }
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(disk->fd, static_cast<const char*>(buffer) + done, size - done,
                             static_cast<off_t>(disk->position + done));
        if (n <= 0) {
            SetLastError(DiskError(n < 0 ? errno : ENOSPC, true));
            disk->position += done;
            if (bytesWritten) *bytesWritten = done;
            return false;
        }
        done += static_cast<uint32_t>(n);
    }
    disk->position += done;
    if (bytesWritten) *bytesWritten = done;
    return true;
}

bool FlushFileBuffers(HANDLE file) {
    RawDisk* disk = ValidDisk(file);
    if (disk == nullptr) return false;
    if (::fdatasync(disk->fd) != 0) {
        SetLastError(DiskError(errno, true));
        return false;
    }
    return true;
}

}  // namespace platform::linuxpc
