// Raw access to a real block device: writes through the page cache and fdatasync, read-back
// past it through O_DIRECT, and the volume lock made of what Linux offers instead of
// FSCTL_LOCK_VOLUME (unmount, O_EXCL, an exclusive flock, which udev's prober respects).
// A handle opens the device only when it is first locked, read or written: a query handle, or
// a probe that only tells whether the volume can be had again, is answered from stat, sysfs
// and the kernel's lock table, which any user may read. The one descriptor a handle opens comes
// from a plain open, or from udisks2 for a desktop user the kernel refuses.
#include "platform/linux/RawDisk.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
#include "platform/linux/SysBlock.h"
#include "platform/linux/UDisks.h"
#include "platform/linux/VolumeFormat.h"
#include "platform/posix/DiskGeometry.h"
#include "platform/posix/MachineSource.h"
#include "platform/posix/SeekPosition.h"

namespace platform::linuxpc {
namespace {

// O_DIRECT wants offset and length on the logical sector size (512, checked at the open, and
// whole sectors are all a caller may ask) and the buffer aligned: a page suits every device.
constexpr size_t kDirectAlignment = 4096;

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

class RawDisk : public RawVolumeObject {
public:
    ~RawDisk() override {
        Unlock();
        if (fd >= 0) ::close(fd);
    }
    void Unlock();
    std::string node;
    WholeDisk whole;
    dev_t device = 0;
    bool unmounted = false;  // the lock took a mount away: the unlock puts it back
    // The handle's one descriptor, opened when first needed: writes, fdatasync, and reads with
    // O_DIRECT set for them. Opened O_EXCL by the lock (which keeps mounts and other exclusive
    // opens away) and closed by the unlock.
    int fd = -1;
    bool locked = false;
    int diskFd = -1;  // held while locked: the whole disk, for its exclusive flock, where it opens plainly
    uint32_t access = 0;
    uint64_t position = 0;
    std::optional<uint64_t> size;
    std::optional<unsigned> sectorSize;  // the logical one, from sysfs or the descriptor
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

void RefuseSectorSize(const RawDisk& disk, unsigned sectorSize) {
    std::string text = "Veltrane: " + disk.node + " has " + std::to_string(sectorSize) +
                       "-byte logical sectors; only 512-byte sectors can hold the unit's image";
    OutputDebugStringA(text.c_str());
    SetLastError(ERROR_NOT_SUPPORTED);
}

// The device's length as its descriptor tells: the block ioctl, or a seek to the end where the
// device answers no block ioctl (umockdev's testbed answers them for the devices it shows).
// nullopt with errno set.
std::optional<uint64_t> DescriptorBytes(int fd) {
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) return bytes;
    if (off_t end = ::lseek(fd, 0, SEEK_END); end >= 0) return static_cast<uint64_t>(end);
    return std::nullopt;
}

// The handle's descriptor, opened now when it has none: plainly where the kernel lets this
// user, else by udisks2 (OpenDevice, the one request of the handle that polkit may ask the user
// about). False with the last error set.
[[nodiscard]] bool OpenDescriptor(RawDisk& disk, bool exclusive) {
    if (disk.fd >= 0) return true;
    const bool writable = disk.access & GENERIC_WRITE;
    const int flags = (writable ? O_RDWR : O_RDONLY) | (exclusive ? O_EXCL : 0);
    disk.fd = ::open(disk.node.c_str(), flags | O_CLOEXEC);
    if (disk.fd < 0) {
        const int err = errno;
        std::string object = err == EACCES || err == EPERM ? UDisksBlockOf(disk.device).object : std::string();
        if (Root() || object.empty()) {
            SetLastError(DiskError(err, false));
            return false;
        }
        uint32_t error = ERROR_SUCCESS;
        disk.fd = UDisksOpenDevice(object, writable, exclusive ? O_EXCL : 0, &error);
        if (disk.fd < 0) {
            SetLastError(error);
            return false;
        }
    }
    if (disk.size) return true;
    // sysfs did not give the length (umockdev's testbed): the device answers itself.
    disk.size = DescriptorBytes(disk.fd);
    if (!disk.size) {
        SetLastError(DiskError(errno, false));
        return false;
    }
    int sectorSize = 0;
    if (::ioctl(disk.fd, BLKSSZGET, &sectorSize) != 0) return true;
    disk.sectorSize = static_cast<unsigned>(sectorSize);
    if (*disk.sectorSize != kRawSectorSize) {
        RefuseSectorSize(disk, *disk.sectorSize);
        return false;
    }
    return true;
}

// The length, from sysfs at the open or from the descriptor.
[[nodiscard]] bool KnownSize(RawDisk& disk) { return disk.size || OpenDescriptor(disk, false); }

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

// The exclusive flock that marks the volume locked: on the whole disk where it opens plainly
// (root, the "disk" group), which keeps udev's prober away as well; else on the volume's own
// descriptor (the whole disk's for a unit without a partition table).
[[nodiscard]] bool FlockForLock(RawDisk& disk) {
    int target = disk.fd;
    if (disk.whole.number != disk.device) {
        disk.diskFd = ::open(disk.whole.node.c_str(), O_RDONLY | O_CLOEXEC);
        if (disk.diskFd >= 0) target = disk.diskFd;
    }
    return ::flock(target, LOCK_EX | LOCK_NB) == 0;
}

[[nodiscard]] bool Lock(RawDisk& disk) {
    if (disk.locked) return true;
    if (!(disk.access & (GENERIC_READ | GENERIC_WRITE))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (ExclusivelyFlocked(disk.whole.node) || ExclusivelyFlocked(disk.node)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!UnmountVolume(disk)) return false;
    // A descriptor opened before without O_EXCL cannot take it on: the lock opens its own.
    if (disk.fd >= 0) {
        ::close(disk.fd);
        disk.fd = -1;
    }
    disk.locked = true;  // from here a failure unlocks: the unmounted volume is mounted again
    if (!OpenDescriptor(disk, true)) {
        const uint32_t error = GetLastError();
        disk.Unlock();
        // EBUSY from O_EXCL is a mount or another exclusive holder: ERROR_ACCESS_DENIED already.
        SetLastError(error);
        return false;
    }
    if (!FlockForLock(disk)) {
        disk.Unlock();
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

// Whether the handle's device is still there, as IOCTL_STORAGE_CHECK_VERIFY2 asks of any handle
// on Windows, a query handle's too. A disk pulled out loses its capacity: the kernel sets it to
// 0 as the device goes. Until the lock the handle has no descriptor (and opening one may ask
// the user for authorisation): then the node and sysfs answer.
[[nodiscard]] bool StillPresent(const RawDisk& disk) {
    if (disk.fd >= 0) {
        std::optional<uint64_t> bytes = DescriptorBytes(disk.fd);
        return bytes && *bytes > 0;
    }
    struct stat st {};
    if (::stat(disk.node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode) || st.st_rdev != disk.device) return false;
    // sysfs without a length (umockdev's testbed) cannot tell: the node's presence answers.
    std::optional<uint64_t> length = DeviceBytes(disk.device);
    return !length || *length > 0;
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
    number.DeviceNumber = DiskNumberOf(disk.whole.number);
    std::memcpy(outBuffer, &number, sizeof number);
    if (bytesReturned) *bytesReturned = sizeof number;
    return true;
}

// Reads through O_DIRECT, set on the handle's descriptor for the read only: a buffered read
// would return the page cache, which still holds what was written even when it never reached
// the medium.
[[nodiscard]] ssize_t DirectRead(int fd, unsigned char* buffer, size_t size, off_t offset) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_DIRECT) != 0) return -1;
    ssize_t n = ::pread(fd, buffer, size, offset);
    const int err = errno;
    static_cast<void>(::fcntl(fd, F_SETFL, flags));  // the writes go through the cache again
    errno = err;
    return n;
}

}  // namespace

void RawDisk::Unlock() {
    if (!locked) return;
    locked = false;
    // What sector 0 holds now is read through the descriptor before it goes: the unformatted
    // check of a user who may not open the device relies on it (VolumeFormat.h).
    std::optional<bool> holdsFat = fd >= 0 ? DeviceHoldsFatFileSystem(fd) : std::nullopt;
    if (holdsFat) RememberSector0(device, *holdsFat);
    if (diskFd >= 0) ::close(diskFd);  // closing drops the flock
    if (fd >= 0) ::close(fd);          // and the O_EXCL claim, and a flock on the volume itself
    diskFd = fd = -1;
    if (!unmounted) return;
    unmounted = false;
    // Windows mounts a volume again by itself once it is unlocked; a volume left without a file
    // system (its boot signature cleared) stays unmounted.
    UDisksBlock block = UDisksBlockOf(device);
    if (FormatOf(node, device, block.idType) != VolumeFormat::Formatted) return;
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
    disk->whole = WholeDiskOf(disk->node, disk->device);
    // A locked volume refuses every open but a query's, as on Windows.
    if (desiredAccess != 0 && (ExclusivelyFlocked(disk->whole.node) || ExclusivelyFlocked(disk->node))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    disk->size = DeviceBytes(disk->device);
    disk->sectorSize = LogicalSectorSize(disk->device);
    if (disk->sectorSize && *disk->sectorSize != kRawSectorSize) {
        RefuseSectorSize(*disk, *disk->sectorSize);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return disk.release();
}

bool DeviceIoControl(HANDLE device, uint32_t controlCode, void* outBuffer, uint32_t outSize, uint32_t* bytesReturned) {
    RawDisk* disk = ValidDisk(device);
    if (disk == nullptr) return false;
    if (bytesReturned) *bytesReturned = 0;
    switch (controlCode) {
    case FSCTL_LOCK_VOLUME: return Lock(*disk);
    case FSCTL_UNLOCK_VOLUME:
        if (!disk->locked) {
            SetLastError(ERROR_NOT_LOCKED);
            return false;
        }
        disk->Unlock();
        return true;
    case FSCTL_DISMOUNT_VOLUME:
        // The lock has unmounted every mount of the volume: no file system keeps a view of it.
        if (!disk->locked) {
            SetLastError(ERROR_NOT_LOCKED);
            return false;
        }
        return true;
    case FSCTL_ALLOW_EXTENDED_DASD_IO:
        // A block device has no file-system bound on its sectors; the device's length holds.
        return true;
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: return AnswerDeviceNumber(*disk, outBuffer, outSize, bytesReturned);
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
        // Asked of sysfs at the open, or of the descriptor where sysfs had no answer (umockdev's
        // testbed, where the descriptor may have none either).
        if (disk->sectorSize)
            return AnswerDiskGeometry(disk->size.value_or(0), *disk->sectorSize, outBuffer, outSize, bytesReturned);
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    case IOCTL_STORAGE_CHECK_VERIFY2:
        if (StillPresent(*disk)) return true;
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    default: SetLastError(ERROR_INVALID_PARAMETER); return false;
    }
}

uint32_t SetFilePointer(HANDLE file, int32_t distance, int32_t* distanceHigh, uint32_t moveMethod) {
    RawDisk* disk = ValidDisk(file);
    if (disk == nullptr || !KnownSize(*disk)) return INVALID_SET_FILE_POINTER;
    return SeekPosition(disk->position, *disk->size, distance, distanceHigh, moveMethod);
}

bool ReadFile(HANDLE file, void* buffer, uint32_t size, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    RawDisk* disk = ValidDisk(file);
    if (disk == nullptr || !TransferAllowed(*disk, GENERIC_READ, size) || !OpenDescriptor(*disk, false)) return false;
    unsigned char* bounce = BounceBuffer(*disk, size);
    if (bounce == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    uint32_t got = 0;
    while (got < size) {
        ssize_t n = DirectRead(disk->fd, bounce + got, size - got, static_cast<off_t>(disk->position + got));
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
    if (disk == nullptr || !TransferAllowed(*disk, GENERIC_WRITE, size) || !OpenDescriptor(*disk, false)) return false;
    if (disk->position + size > *disk->size) {
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
    if (disk->fd < 0) return true;  // nothing was written through the handle
    if (::fdatasync(disk->fd) != 0) {
        SetLastError(DiskError(errno, true));
        return false;
    }
    return true;
}

}  // namespace platform::linuxpc
