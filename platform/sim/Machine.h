// The simulated PC's description: the machine folder and its machine.ini. The platform reads
// it for every service that Windows would answer from the machine itself (drive letters here).
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/Profile.h"

namespace platform {

// $VELTRANE_MACHINE, else ~/.local/share/veltrane/machine; tests set their own.
std::string MachineFolder();
void SetMachineFolder(const std::string& nativeFolder);
std::string MachineIniPath();
// The parsed machine.ini (empty when there is none), reread whenever the file has changed.
ProfileDocument MachineDescription();

// The native folder behind a drive letter ("[Drive C]" with Folder=, absolute or relative to
// the machine folder), or nullopt when the machine has no such drive.
std::optional<std::string> DriveFolder(char letter);
// The drive whose folder holds nativePath (the longest match) with that folder.
std::optional<std::pair<char, std::string>> DriveOfNativePath(const std::string& nativePath);

}  // namespace platform
