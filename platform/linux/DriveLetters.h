// The real PC's drive letters: a letter stands for one block device (a FAT volume of a USB
// disk) for the life of the process, as Windows keeps a volume's letter while it is plugged.
#pragma once

#include <optional>
#include <string>

namespace platform::linuxpc {

// Gives `letter` to the block device node ("/dev/sdb1"); an empty node takes the letter away.
void SetDriveDevice(char letter, const std::string& deviceNode);
// The block device behind a letter (case-insensitive), or nullopt.
std::optional<std::string> DriveDevice(char letter);

}  // namespace platform::linuxpc
