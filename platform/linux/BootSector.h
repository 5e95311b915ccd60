// A FAT boot sector's signature and parameters, as Windows reads sector 0 to decide whether a
// volume holds a file system (VolumeFormat.h).
#pragma once

#include <optional>
#include <string>

namespace platform::linuxpc {

// Sector 0 (512 bytes) ends in 55 AA and starts with a FAT boot sector's jump and parameters.
bool HoldsFatFileSystem(const unsigned char (&sector)[512]);
// The volume label a FAT boot sector holds (FAT12/16 or FAT32 layout), blanks trimmed; empty
// for "NO NAME" or no FAT boot sector.
std::string FatLabel(const unsigned char (&sector)[512]);
// The same for sector 0 of the descriptor's device; nullopt when it cannot be read.
std::optional<bool> DeviceHoldsFatFileSystem(int fd);

}  // namespace platform::linuxpc
