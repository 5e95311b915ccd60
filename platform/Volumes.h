// Volumes by their GUID paths ("\\?\Volume{...}\"): the name behind a mount point, the
// system's volume list in enumeration order, and drive letters set and removed as mount points.
#pragma once

#include <cstdint>

#include "platform/Handle.h"

namespace platform {

// mountPoint is a drive root such as "E:\". False with the last error when no volume is there.
[[nodiscard]] bool GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName, uint32_t size);

// INVALID_HANDLE_VALUE when the system has no volume; then ERROR_NO_MORE_FILES at the end.
[[nodiscard]] HANDLE FindFirstVolumeA(char* volumeName, uint32_t size);
[[nodiscard]] bool FindNextVolumeA(HANDLE find, char* volumeName, uint32_t size);
[[nodiscard]] bool FindVolumeClose(HANDLE find);

// The bus a volume's disk is attached through: STORAGE_DEVICE_DESCRIPTOR's BusType, as
// IOCTL_STORAGE_QUERY_PROPERTY (StorageDeviceProperty, PropertyStandardQuery) answers it on a
// handle of the volume opened without access.
constexpr uint32_t BusTypeUnknown = 0x0;
constexpr uint32_t BusTypeScsi = 0x1;
constexpr uint32_t BusTypeAta = 0x3;
constexpr uint32_t BusTypeUsb = 0x7;
constexpr uint32_t BusTypeSata = 0xB;
constexpr uint32_t BusTypeSd = 0xC;
constexpr uint32_t BusTypeMmc = 0xD;
constexpr uint32_t BusTypeNvme = 0x11;
// volumeName is a GUID path "\\?\Volume{...}\". False with the last error when there is no such
// volume, or its device gives no descriptor (ERROR_INVALID_FUNCTION: a volume on no disk).
[[nodiscard]] bool GetVolumeBusType(const char* volumeName, uint32_t* busType);

// Gives the volume the letter of mountPoint; fails while the letter is in use.
[[nodiscard]] bool SetVolumeMountPointA(const char* mountPoint, const char* volumeName);
// Takes the letter away; the volume stays.
[[nodiscard]] bool DeleteVolumeMountPointA(const char* mountPoint);

}  // namespace platform
