// Raw access to a real block device: writes through the page cache and fdatasync, read-back
// past it through O_DIRECT, and the volume lock made of what Linux offers instead of
// FSCTL_LOCK_VOLUME (unmount, O_EXCL, flock on the whole disk, which udev's prober respects).
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
#include <string>

#include "platform/Debug.h"
#include "platform/Error.h"
#include "platform/RawVolume.h"
#include "platform/linux/DriveLetters.h"
#include "platform/linux/Mounts.h"
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
    void Unlock() {
        if (diskFd >= 0) ::close(diskFd);  // closing drops the flock
        if (exclusiveFd >= 0) ::close(exclusiveFd);
        diskFd = exclusiveFd = -1;
    }
    std::string node;
    std::string wholeDisk;
    dev_t device = 0;
    int fd = -1;           // writes, fdatasync
    int directFd = -1;     // reads, O_DIRECT
    int exclusiveFd = -1;  // held while locked: O_EXCL keeps mounts and other exclusive opens away
    int diskFd = -1;       // held while locked: the whole disk's exclusive flock
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

// The Windows results the program handles for what a block device reports.
uint32_t DiskError(int err, bool writing) {
    switch (err) {
    case ENODEV:
    case ENXIO:
        return ERROR_DEVICE_NOT_CONNECTED;
    case EIO:
        return writing ? ERROR_WRITE_FAULT : ERROR_READ_FAULT;
    case ENOSPC:
        return ERROR_SECTOR_NOT_FOUND;
    case EBUSY:
        return ERROR_ACCESS_DENIED;
    default:
        return ErrorFromErrno(err);
    }
}

bool WholeSectors(uint64_t value) { return value % kRawSectorSize == 0; }

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
[[nodiscard]] bool DiskUnlocked(const std::string& wholeDisk) {
    int fd = ::open(wholeDisk.c_str(), O_RDONLY | O_CLOEXEC);
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

// Unmounts every mount of the volume (as root; a desktop user's unmount goes through udisks2).
[[nodiscard]] bool UnmountVolume(const RawDisk& disk) {
    for (const std::string& point : MountPointsOf(disk.device)) {
        if (::umount2(point.c_str(), 0) != 0) {
            SetLastError(DiskError(errno, false));
            return false;
        }
    }
    return true;
}

[[nodiscard]] bool Lock(RawDisk& disk) {
    if (disk.exclusiveFd >= 0) return true;
    if (!UnmountVolume(disk)) return false;
    disk.exclusiveFd = ::open(disk.node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
    if (disk.exclusiveFd >= 0) disk.diskFd = ::open(disk.wholeDisk.c_str(), O_RDONLY | O_CLOEXEC);
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

}  // namespace

HANDLE CreateFileA(char letter, uint32_t desiredAccess) {
    std::optional<std::string> node = DriveDevice(letter);
    if (!node) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto disk = std::make_unique<RawDisk>();
    disk->node = *node;
    disk->access = desiredAccess;
    disk->fd = ::open(disk->node.c_str(), ((desiredAccess & GENERIC_WRITE) ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    struct stat st {};
    if (disk->fd < 0 || ::fstat(disk->fd, &st) != 0) {
        SetLastError(DiskError(errno, false));
        return INVALID_HANDLE_VALUE;
    }
    if (!S_ISBLK(st.st_mode)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    disk->device = st.st_rdev;
    disk->wholeDisk = WholeDiskNode(disk->node, disk->device);
    if (!DiskUnlocked(disk->wholeDisk)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!Measure(*disk)) return INVALID_HANDLE_VALUE;
    disk->directFd = ::open(disk->node.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (disk->directFd < 0) {
        SetLastError(DiskError(errno, false));
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return disk.release();
}

bool IsRawDisk(HANDLE handle) { return DiskOf(handle) != nullptr; }

bool DeviceIoControl(HANDLE device, uint32_t controlCode, uint32_t* bytesReturned) {
    RawDisk* disk = ValidDisk(device);
    if (disk == nullptr) return false;
    if (bytesReturned) *bytesReturned = 0;
    switch (controlCode) {
    case FSCTL_LOCK_VOLUME:
        return Lock(*disk);
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
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
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
