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

// Gives the volume the letter of mountPoint; fails while the letter is in use.
[[nodiscard]] bool SetVolumeMountPointA(const char* mountPoint, const char* volumeName);
// Takes the letter away; the volume stays.
[[nodiscard]] bool DeleteVolumeMountPointA(const char* mountPoint);

}  // namespace platform
