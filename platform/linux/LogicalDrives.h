// The drive and volume calls (GetLogicalDrives, GetDriveTypeA, SHGetFileInfoA, the volume list
// and names) answered from the real PC's lettered volumes. The platform's calls come here when
// no simulated machine is configured.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Drives.h"

namespace platform::linuxpc {

// The lettered volumes present, and Z:, the native root.
uint32_t GetLogicalDrives();
uint32_t GetDriveTypeA(const char* rootPath);
// "<label> (E:)", or the shell's "リムーバブル ディスク (E:)" for a volume without a label; UTF-8.
std::optional<std::string> DisplayName(char letter);
// The GUID path of the volume at a letter, or nullopt.
std::optional<std::string> VolumeNameOfLetter(char letter);
// The bus of the lettered volume with that GUID path (UdevDevices.h, BlockBusType), or nullopt.
std::optional<uint32_t> VolumeBusType(const std::string& guidPath);
// The GUID paths of every lettered volume present, in letter order.
std::vector<std::string> VolumeNames();

}  // namespace platform::linuxpc
