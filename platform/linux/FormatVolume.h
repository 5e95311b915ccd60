// Formatting a real PC's volume: a fresh FAT file system through udisks2 (as root without
// udisks2, mkfs.vfat), keeping the volume's label and drive letter.
#pragma once

#include <cstdint>

namespace platform::linuxpc {

// ERROR_SUCCESS, or ERROR_FILE_NOT_FOUND (no such drive), ERROR_ACCESS_DENIED (a file system
// busy), ERROR_ELEVATION_REQUIRED (polkit's refusal), ERROR_NOT_SUPPORTED (neither udisks2 nor root), or the failure.
[[nodiscard]] uint32_t FormatVolume(char letter);

}  // namespace platform::linuxpc
