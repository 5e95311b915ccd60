// Raw volumes of the simulated machine: the volume's image file, held with a shared flock while
// open and an exclusive one while locked, with the unit's injected faults and its removal.
#include "platform/RawVolume.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/posix/DiskGeometry.h"
#include "platform/posix/SeekPosition.h"
#include "platform/sim/Faults.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Mount.h"
#include "platform/sim/Removal.h"
#include "platform/sim/Services.h"

namespace platform {
namespace {

// An open raw volume: the image file with a shared flock while open, an exclusive one while
// locked, so the lock is exclusive against every other handle, in this process or another.
class RawVolume : public RawVolumeObject {
public:
    ~RawVolume() override { ::close(fd); }
    int fd = -1;
    std::string volumeId;
    std::string guidPath;
    std::string image;
    std::string unit;
    uint32_t access = 0;
    uint32_t sectorSize = kDefaultSectorSize;  // its disk's, fixed while the handle is open
    bool sectorSizeTold = true;                // whether the disk answers IOCTL_DISK_GET_DRIVE_GEOMETRY
    uint64_t position = 0;
    bool locked = false;
    bool dismounted = false;  // FSCTL_DISMOUNT_VOLUME given: raw writes leave no stale mount
    bool staleMarked = false;
    // Whether the volume was on the machine at description generation `checked`, and its
    // length then: a volume does not change size while the description stays.
    uint64_t checked = 0;
    bool present = false;
    uint64_t size = 0;
    // While a power cut is armed: what each write since the last flush replaced, oldest first.
    std::vector<std::pair<uint64_t, std::string>> unflushed;
};

// The power is cut: the writes since the last flush are undone, newest first, and the unit is
// gone with its device, volume and letter.
void CutPower(RawVolume* volume) {
    for (auto it = volume->unflushed.rbegin(); it != volume->unflushed.rend(); ++it)
        if (::pwrite(volume->fd, it->second.data(), it->second.size(), static_cast<off_t>(it->first)) < 0) break;
    volume->unflushed.clear();
    ::fdatasync(volume->fd);
    std::string unit = volume->unit;
    ModifyMachine([&](ProfileDocument& doc) {
        RemoveUnit(doc, unit);
        return true;
    });
}

RawVolume* VolumeOf(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    return dynamic_cast<RawVolume*>(static_cast<KernelObject*>(handle));
}

// The handle's volume is still on the machine (a unit pulled out takes it away). Looked up
// again, with the volume's length, only when the machine description has changed: this runs
// for every sector call, and each kernel call beside a synchronous sector write slows it.
RawVolume* PresentVolume(HANDLE handle) {
    RawVolume* volume = VolumeOf(handle);
    if (volume == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (uint64_t generation = MachineGeneration(); generation != volume->checked) {
        auto entry = FindVolume(MachineDescription(), volume->volumeId);
        volume->present = entry && entry->guidPath == volume->guidPath;
        struct stat st {};
        volume->size = ::fstat(volume->fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
        volume->checked = generation;
    }
    if (!volume->present) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return nullptr;
    }
    return volume;
}

// A transfer in whole sectors of the volume's disk, from or into a buffer aligned to them.
bool WholeSectors(const RawVolume& volume, uint32_t size, const void* buffer) {
    return size % volume.sectorSize == 0 && volume.position % volume.sectorSize == 0 &&
           reinterpret_cast<uintptr_t>(buffer) % volume.sectorSize == 0;
}

}  // namespace

std::string RawVolumeUnit(HANDLE handle) {
    RawVolume* volume = VolumeOf(handle);
    return volume != nullptr ? volume->unit : std::string();
}

namespace sim {

HANDLE OpenRawVolume(char letter, uint32_t desiredAccess, uint32_t shareMode) {
    const ProfileDocument doc = MachineDescription();
    auto entry = DriveVolume(doc, letter);
    if (!entry || entry->image.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    bool writable = desiredAccess & GENERIC_WRITE;
    int fd = ::open(entry->image.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    bool shared = (shareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE)) == (FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        ::close(fd);
        SetLastError(shared ? ERROR_ACCESS_DENIED : ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    auto volume = new RawVolume;
    volume->fd = fd;
    volume->volumeId = entry->id;
    volume->guidPath = entry->guidPath;
    volume->image = entry->image;
    volume->unit = entry->unit;
    volume->access = desiredAccess;
    const std::optional<uint32_t> sectorSize = DeviceSectorSize(doc, entry->device);
    volume->sectorSize = sectorSize.value_or(kDefaultSectorSize);
    volume->sectorSizeTold = sectorSize.has_value();
    SetLastError(ERROR_SUCCESS);
    return volume;
}

bool DeviceIoControl(HANDLE device, uint32_t controlCode, void* outBuffer, uint32_t outSize, uint32_t* bytesReturned) {
    RawVolume* volume = PresentVolume(device);
    if (volume == nullptr) return false;
    if (bytesReturned) *bytesReturned = 0;
    switch (controlCode) {
    case FSCTL_LOCK_VOLUME:
        if (volume->locked) return true;
        AwaitPrompt(volume->unit, "Lock");
        if (uint32_t refused = LockRefused(volume->unit); refused != ERROR_SUCCESS) {
            SetLastError(refused);
            return false;
        }
        if (::flock(volume->fd, LOCK_EX | LOCK_NB) != 0) {
            // Converting the lock may have dropped the shared one: take it back.
            ::flock(volume->fd, LOCK_SH | LOCK_NB);
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        volume->locked = true;
        return true;
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
        if (outBuffer == nullptr || outSize < sizeof(STORAGE_DEVICE_NUMBER)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        ProfileDocument doc = MachineDescription();
        auto entry = FindVolume(doc, volume->volumeId);
        auto disk = entry ? DeviceDisk(doc, entry->device) : std::nullopt;
        if (!disk) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return false;
        }
        STORAGE_DEVICE_NUMBER number;
        number.DeviceType = FILE_DEVICE_DISK;
        number.DeviceNumber = *disk;
        std::memcpy(outBuffer, &number, sizeof number);
        if (bytesReturned) *bytesReturned = sizeof number;
        return true;
    }
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
        if (volume->sectorSizeTold)
            return AnswerDiskGeometry(volume->size, volume->sectorSize, outBuffer, outSize, bytesReturned);
        // As Wine answers for a drive whose device is an image file.
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    case FSCTL_DISMOUNT_VOLUME:
        // Stricter than Windows, which dismounts an unlocked volume by force: the program always
        // locks first, and a forced dismount would pull the file system from under its users.
        if (!volume->locked) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        ClearStaleMount(volume->volumeId);
        volume->dismounted = true;
        return true;
    case FSCTL_ALLOW_EXTENDED_DASD_IO:
    case IOCTL_STORAGE_CHECK_VERIFY2: return true;
    case FSCTL_UNLOCK_VOLUME:
        if (!volume->locked) {
            SetLastError(ERROR_NOT_LOCKED);
            return false;
        }
        // A dismounted volume is mounted again, which may ask the user as the lock did.
        if (volume->dismounted) AwaitPrompt(volume->unit, "Mount");
        ::flock(volume->fd, LOCK_SH);
        volume->locked = false;
        return true;
    default: SetLastError(ERROR_INVALID_PARAMETER); return false;
    }
}

uint32_t SetFilePointer(HANDLE file, int32_t distance, int32_t* distanceHigh, uint32_t moveMethod) {
    RawVolume* volume = PresentVolume(file);
    if (volume == nullptr) return INVALID_SET_FILE_POINTER;
    return SeekPosition(volume->position, volume->size, distance, distanceHigh, moveMethod);
}

bool ReadFile(HANDLE file, void* buffer, uint32_t size, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    RawVolume* volume = PresentVolume(file);
    if (volume == nullptr) return false;
    if (!(volume->access & GENERIC_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!WholeSectors(*volume, size, buffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    ssize_t n = ::pread(volume->fd, buffer, size, static_cast<off_t>(volume->position));
    if (n < 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    volume->position += static_cast<uint64_t>(n);
    if (bytesRead) *bytesRead = static_cast<uint32_t>(n);
    return true;
}

bool WriteFile(HANDLE file, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
    if (bytesWritten) *bytesWritten = 0;
    RawVolume* volume = PresentVolume(file);
    if (volume == nullptr) return false;
    if (!(volume->access & GENERIC_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!WholeSectors(*volume, size, buffer)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // The file system of a mounted volume guards it: only a handle that locked or dismounted it
    // writes beneath it.
    if (!volume->locked && !volume->dismounted && BootSignatureValid(volume->image)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // A volume does not grow: writing past its last sector fails.
    if (volume->position + size > volume->size) {
        SetLastError(ERROR_SECTOR_NOT_FOUND);
        return false;
    }
    WriteOutcome outcome = PlanWrite(volume->unit, volume->checked, volume->position, size);
    if (outcome.powerCut) {
        CutPower(volume);
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    if (outcome.keepUnflushed) {
        std::string replaced(outcome.bytes, '\0');
        ssize_t n = ::pread(volume->fd, replaced.data(), replaced.size(), static_cast<off_t>(volume->position));
        replaced.resize(n > 0 ? static_cast<size_t>(n) : 0);
        volume->unflushed.emplace_back(volume->position, std::move(replaced));
    }
    uint32_t done = 0;
    while (done < outcome.bytes) {
        ssize_t n = ::pwrite(volume->fd, static_cast<const char*>(buffer) + done, outcome.bytes - done,
                             static_cast<off_t>(volume->position + done));
        if (n <= 0) {
            SetLastError(ErrorFromErrno(errno));
            volume->position += done;
            if (bytesWritten) *bytesWritten = done;
            return false;
        }
        done += static_cast<uint32_t>(n);
    }
    volume->position += done;
    if (bytesWritten) *bytesWritten = done;
    if (done > 0 && !volume->dismounted && !volume->staleMarked) volume->staleMarked = MarkMountStale(volume->volumeId);
    if (outcome.vanish) {
        ::fdatasync(volume->fd);
        std::string unit = volume->unit;
        ModifyMachine([&](ProfileDocument& doc) {
            RemoveUnit(doc, unit);
            return true;
        });
    }
    if (outcome.failed) {
        SetLastError(outcome.vanish ? ERROR_DEVICE_NOT_CONNECTED : ERROR_WRITE_FAULT);
        return false;
    }
    return true;
}

bool FlushFileBuffers(HANDLE file) {
    RawVolume* volume = PresentVolume(file);
    if (volume == nullptr) return false;
    if (::fdatasync(volume->fd) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    volume->unflushed.clear();
    return true;
}

}  // namespace sim
}  // namespace platform
