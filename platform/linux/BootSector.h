// Whether a volume holds a file system, decided from its sector 0 as Windows decides it: blkid,
// udev, udisks2 and the kernel's FAT driver still take a FAT volume whose boot signature (55 AA)
// is cleared for one, and mounting it would show files the image step is rewriting.
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
// The same for a device node opened for the look; nullopt when this user may not open it.
std::optional<bool> NodeHoldsFatFileSystem(const std::string& node);
// Whether a volume holds a file system the program may mount: sector 0 decides for FAT and for
// what blkid named nothing (`idType` empty), blkid for any other file system. A sector 0 that
// could not be read (nullopt) leaves blkid's word.
bool FileSystemRecognised(const std::string& idType, std::optional<bool> fatSector0);

}  // namespace platform::linuxpc
