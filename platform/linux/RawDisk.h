// The real PC's raw volumes: "\\.\X:" opens the block device behind the drive letter. The
// platform's raw-volume calls come here when no simulated machine is configured; the calls on
// a handle come here when the handle is one of these.
#pragma once

#include <cstdint>

#include "platform/Handle.h"

namespace platform::linuxpc {

// A plain open of the device (root, or a member of the "disk" group); a desktop user whose open
// is refused gets the device from udisks2 (OpenDevice, polkit asking for the password). A
// device whose logical sectors are not 512 bytes is refused (ERROR_NOT_SUPPORTED). A volume
// locked by another handle refuses the open. Linux has no share modes for plain opens: the
// volume is held exclusively by the lock alone.
[[nodiscard]] HANDLE CreateFileA(char letter, uint32_t desiredAccess);
// FSCTL_LOCK_VOLUME: unmount the volume, open it O_EXCL, flock the whole disk exclusively;
// FSCTL_UNLOCK_VOLUME (or the close) mounts it again where sector 0 holds a file system.
// IOCTL_STORAGE_GET_DEVICE_NUMBER: the whole disk's number (DiskNumber.h).
[[nodiscard]] bool DeviceIoControl(HANDLE device, uint32_t controlCode, void* outBuffer, uint32_t outSize,
                                   uint32_t* bytesReturned);
[[nodiscard]] uint32_t SetFilePointer(HANDLE file, int32_t distance, int32_t* distanceHigh, uint32_t moveMethod);
// Read through O_DIRECT: what the read returns is on the device, not in the page cache.
[[nodiscard]] bool ReadFile(HANDLE file, void* buffer, uint32_t size, uint32_t* bytesRead);
// Bounded by the device's length: a write running past the last sector writes nothing.
[[nodiscard]] bool WriteFile(HANDLE file, const void* buffer, uint32_t size, uint32_t* bytesWritten);
// fdatasync.
[[nodiscard]] bool FlushFileBuffers(HANDLE file);

}  // namespace platform::linuxpc
