// Drive letters, types and names of the real PC: every lettered volume is a removable USB
// volume, Z: is the native root as Wine shows it.
#include "platform/linux/LogicalDrives.h"

#include <cctype>
#include <cstring>

#include "platform/linux/UdevDevices.h"
#include "platform/linux/Volumes.h"

namespace platform::linuxpc {
namespace {

constexpr char kRootLetter = 'Z';

char RootLetter(const char* rootPath) {
    if (rootPath == nullptr || !std::isalpha(static_cast<unsigned char>(rootPath[0])) || rootPath[1] != ':') return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(rootPath[0])));
}

}  // namespace

uint32_t GetLogicalDrives() {
    uint32_t mask = 1u << (kRootLetter - 'A');
    for (const Volume& volume : LetteredVolumes()) mask |= 1u << (volume.letter - 'A');
    return mask;
}

uint32_t GetDriveTypeA(const char* rootPath) {
    if (rootPath != nullptr && std::strncmp(rootPath, "\\\\?\\Volume{", 11) == 0) {
        for (const Volume& volume : LetteredVolumes())
            if (VolumeGuidPath(volume) == rootPath) return DRIVE_REMOVABLE;
        return DRIVE_NO_ROOT_DIR;
    }
    char letter = RootLetter(rootPath);
    if (letter == kRootLetter) return DRIVE_FIXED;
    if (letter == 0 || !LetteredVolume(letter)) return DRIVE_NO_ROOT_DIR;
    return DRIVE_REMOVABLE;
}

std::optional<std::string> DisplayName(char letter) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    std::string drive = std::string(" (") + letter + ":)";
    if (letter == kRootLetter) return "/" + drive;
    std::optional<Volume> volume = LetteredVolume(letter);
    if (!volume) return std::nullopt;
    return (volume->label.empty() ? std::string("リムーバブル ディスク") : volume->label) + drive;
}

std::optional<std::string> VolumeNameOfLetter(char letter) {
    std::optional<Volume> volume = LetteredVolume(letter);
    if (!volume) return std::nullopt;
    return VolumeGuidPath(*volume);
}

std::optional<uint32_t> VolumeBusType(const std::string& guidPath) {
    for (const Volume& volume : LetteredVolumes())
        if (VolumeGuidPath(volume) == guidPath) return BlockBusType(volume.number);
    return std::nullopt;
}

std::vector<std::string> VolumeNames() {
    std::vector<std::string> names;
    for (const Volume& volume : LetteredVolumes()) names.push_back(VolumeGuidPath(volume));
    return names;
}

}  // namespace platform::linuxpc
