// Raw access to a volume through "\\.\X:": open, lock for exclusive use, 32-bit seeks, whole
// sector reads and writes, flush. On the simulated machine the volume is its image file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "platform/Handle.h"
#include "platform/UnitModel.h"

namespace platform {

constexpr uint32_t GENERIC_READ = 0x80000000;
constexpr uint32_t GENERIC_WRITE = 0x40000000;
constexpr uint32_t FILE_SHARE_READ = 0x1;
constexpr uint32_t FILE_SHARE_WRITE = 0x2;
constexpr uint32_t OPEN_EXISTING = 3;
constexpr uint32_t FILE_BEGIN = 0;
constexpr uint32_t FILE_CURRENT = 1;
constexpr uint32_t FILE_END = 2;
constexpr uint32_t INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr uint32_t FSCTL_LOCK_VOLUME = 0x00090018;
constexpr uint32_t FSCTL_UNLOCK_VOLUME = 0x0009001C;
constexpr uint32_t FSCTL_DISMOUNT_VOLUME = 0x00090020;
constexpr uint32_t FSCTL_ALLOW_EXTENDED_DASD_IO = 0x00090083;
constexpr uint32_t IOCTL_STORAGE_GET_DEVICE_NUMBER = 0x002D1080;
constexpr uint32_t IOCTL_STORAGE_CHECK_VERIFY2 = 0x002D0800;
constexpr uint32_t IOCTL_DISK_GET_DRIVE_GEOMETRY = 0x00070000;
constexpr uint32_t FILE_DEVICE_DISK = 0x7;
constexpr uint32_t kRawSectorSize = kNaviUnitModel.sectorSize;
// Volume handles are non-cached: their buffers must be sector-aligned. A page serves every
// sector size a unit may have.
constexpr size_t kRawBufferAlignment = 4096;

// A zeroed block for raw volume reads and writes, aligned to kRawBufferAlignment; nullptr
// without memory. FreeRawBuffer releases it.
[[nodiscard]] inline unsigned char* NewRawBuffer(size_t bytes) {
    auto* block =
        static_cast<unsigned char*>(::operator new[](bytes, std::align_val_t{kRawBufferAlignment}, std::nothrow));
    if (block != nullptr) std::memset(block, 0, bytes);
    return block;
}
inline void FreeRawBuffer(unsigned char* block) { ::operator delete[](block, std::align_val_t{kRawBufferAlignment}); }
struct RawBufferDelete {
    void operator()(unsigned char* block) const { FreeRawBuffer(block); }
};
using RawBuffer = std::unique_ptr<unsigned char[], RawBufferDelete>;

// What IOCTL_STORAGE_GET_DEVICE_NUMBER answers: the disk a volume lies on.
struct STORAGE_DEVICE_NUMBER {
    uint32_t DeviceType = 0;  // FILE_DEVICE_DISK for a volume on a disk
    uint32_t DeviceNumber = 0;
    uint32_t PartitionNumber = 0;
};

// What IOCTL_DISK_GET_DRIVE_GEOMETRY answers: the layout of the disk a volume lies on, of which
// only the sector size matters here.
constexpr uint32_t RemovableMedia = 11;  // MEDIA_TYPE
struct DISK_GEOMETRY {
    int64_t Cylinders = 0;
    uint32_t MediaType = 0;
    uint32_t TracksPerCylinder = 0;
    uint32_t SectorsPerTrack = 0;
    uint32_t BytesPerSector = 0;
};

// Only raw volume paths "\\.\X:" open here. Without both share flags the open is exclusive.
// A locked volume refuses other opens (ERROR_ACCESS_DENIED).
[[nodiscard]] HANDLE CreateFileA(const char* fileName, uint32_t desiredAccess, uint32_t shareMode,
                                 void* securityAttributes, uint32_t creationDisposition, uint32_t flagsAndAttributes,
                                 HANDLE templateFile);
// FSCTL_LOCK_VOLUME fails while another handle has the volume open (in any process); while it
// holds, file calls on the volume's letter fail with ERROR_ACCESS_DENIED.
// FSCTL_UNLOCK_VOLUME fails with ERROR_NOT_LOCKED when this handle holds no lock.
// FSCTL_DISMOUNT_VOLUME needs this handle's lock (else ERROR_ACCESS_DENIED) and drops the file
// system's in-memory state; the next access after this handle lets go mounts what is on the
// disk. A raw write through a handle that has not dismounted leaves the mounted file system
// stale (platform/sim/Mount.h); one through a handle that neither locked nor dismounted a
// volume with a file system is refused (ERROR_ACCESS_DENIED), as on Windows since Vista.
// IOCTL_STORAGE_CHECK_VERIFY2 succeeds while the volume's device is there.
// FSCTL_ALLOW_EXTENDED_DASD_IO lets this handle reach sectors past the file system's end.
// IOCTL_STORAGE_GET_DEVICE_NUMBER fills a STORAGE_DEVICE_NUMBER: the disk the volume lies on
// (ERROR_INVALID_FUNCTION for a volume on no disk); it needs no access rights on the handle.
// IOCTL_DISK_GET_DRIVE_GEOMETRY fills a DISK_GEOMETRY (ERROR_INSUFFICIENT_BUFFER when it does
// not fit): BytesPerSector is the disk's logical sector size, the unit of every raw read and
// write on the volume.
[[nodiscard]] bool DeviceIoControl(HANDLE device, uint32_t controlCode, void* inBuffer, uint32_t inSize,
                                   void* outBuffer, uint32_t outSize, uint32_t* bytesReturned, void* overlapped);
// The low 32 bits of the new position; INVALID_SET_FILE_POINTER with a last error on failure
// (the last error is ERROR_SUCCESS otherwise, as the callers test it).
[[nodiscard]] uint32_t SetFilePointer(HANDLE file, int32_t distance, int32_t* distanceHigh, uint32_t moveMethod);
// Sizes and positions are whole sectors, buffers sector-aligned (else ERROR_INVALID_PARAMETER).
// A read at the end of the volume gives fewer bytes.
[[nodiscard]] bool ReadFile(HANDLE file, void* buffer, uint32_t size, uint32_t* bytesRead, void* overlapped);
[[nodiscard]] bool WriteFile(HANDLE file, const void* buffer, uint32_t size, uint32_t* bytesWritten, void* overlapped);
[[nodiscard]] bool FlushFileBuffers(HANDLE file);

}  // namespace platform
