// The real PC's drive letters: a letter stands for one file system (a FAT volume of a USB
// disk, known by its UUID) for the life of the process, as Windows keeps a volume's letter
// while it is plugged, and finds it again when the disk comes back under another node.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::linuxpc {

// Gives `letter` to the block device node ("/dev/sdb1") whatever file system it holds; an
// empty node takes the letter away.
void SetDriveDevice(char letter, const std::string& deviceNode);
// The letter of the file system `uuid`, now at `deviceNode`: the one it had, else the first
// free one from D: (Z: is the native root); 0 when every letter is taken. An empty `uuid` is a
// volume without a file system: it takes the letter its node has.
[[nodiscard]] char LetterForVolume(const std::string& uuid, const std::string& deviceNode);
// The letter's file system is being replaced (a format gives it a new UUID): the file system
// found on the letter's node next takes the letter over.
void ReleaseVolumeIdentity(char letter);
// Test hook, for machines whose kernel mounts no FAT: the letter's files are those of the file
// system on `folderNode` (mounted where the letter's folder is), while its volume, raw access
// and disk stay the letter's own device's. An empty node ends it, and so does SetDriveDevice.
// Nothing in the program calls it; a test that starts the program as a process gives both
// through $VELTRANE_TEST_LETTERS ("E=/dev/loop3:/dev/loop4"), read at the program's start.
void SetDriveFolderDevice(char letter, const std::string& folderNode);
// The block device behind a letter (case-insensitive), or nullopt.
std::optional<std::string> DriveDevice(char letter);
// The block device whose file system is the letter's folder: the letter's own device unless
// the test hook gave it another; nullopt for a letter without a device.
std::optional<std::string> DriveFolderDevice(char letter);
// Every letter given, in letter order, with its device node.
std::vector<std::pair<char, std::string>> LetteredDevices();

}  // namespace platform::linuxpc
