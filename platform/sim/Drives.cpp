// Logical drives of the simulated machine: the letters, types and display names its machine.ini
// gives the drives or their volumes.
#include "platform/Drives.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Services.h"

namespace platform::sim {
namespace {

// The letter of "E:\" or "E:", or 0.
char RootLetter(const char* rootPath) {
    if (rootPath == nullptr || !std::isalpha(static_cast<unsigned char>(rootPath[0])) || rootPath[1] != ':') return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(rootPath[0])));
}

std::string DriveSection(char letter) { return std::string("Drive ") + letter; }

// A drive's own key, else its volume's.
std::string DriveValue(const ProfileDocument& doc, char letter, const char* key) {
    if (auto value = doc.Get(DriveSection(letter), key); value && !value->empty()) return *value;
    auto volume = DriveVolume(doc, letter);
    if (!volume) return {};
    if (std::strcmp(key, "Type") == 0) return std::to_string(volume->driveType);
    return {};
}

}  // namespace

uint32_t GetLogicalDrives() {
    ProfileDocument doc = MachineDescription();
    uint32_t mask = 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        if (!doc.Keys(DriveSection(letter)).empty()) mask |= 1u << (letter - 'A');
    return mask;
}

uint32_t GetDriveType(const char* rootPath) {
    ProfileDocument doc = MachineDescription();
    // A volume GUID path names the volume itself, with or without a letter.
    if (rootPath != nullptr && std::strncmp(rootPath, "\\\\?\\Volume{", 11) == 0) {
        for (const VolumeEntry& volume : MachineVolumes(doc))
            if (volume.guidPath == rootPath) return volume.driveType;
        return DRIVE_NO_ROOT_DIR;
    }
    char letter = RootLetter(rootPath);
    if (letter == 0) return DRIVE_NO_ROOT_DIR;
    if (doc.Keys(DriveSection(letter)).empty()) return DRIVE_NO_ROOT_DIR;
    std::string type = DriveValue(doc, letter, "Type");
    return type.empty() ? DRIVE_FIXED : static_cast<uint32_t>(std::strtoul(type.c_str(), nullptr, 0));
}

std::optional<std::string> DriveDisplayName(char letter) {
    ProfileDocument doc = MachineDescription();
    if (doc.Keys(DriveSection(letter)).empty()) return std::nullopt;
    // The shell can take seconds over a drive: a network share out of reach, an empty
    // card-reader slot ("[Drive X] ShellWaitMs=").
    if (auto wait = doc.Get(DriveSection(letter), "ShellWaitMs"); wait && !wait->empty())
        Sleep(static_cast<uint32_t>(std::strtoul(wait->c_str(), nullptr, 10)));
    // The shell shows "<label> (E:)"; a drive may name itself whole with DisplayName=.
    std::string name = doc.Get(DriveSection(letter), "DisplayName").value_or("");
    if (name.empty()) {
        auto volume = DriveVolume(doc, letter);
        name = (volume ? volume->label : std::string("ローカル ディスク")) + " (" + letter + ":)";
    }
    return name;
}

std::optional<std::string> DriveRoot(char letter) {
    auto folder = DriveFolder(letter);
    if (!folder) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    // A locked volume is reachable only through the handle that locked it.
    if (DriveLocked(letter)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    if (!DriveFormatted(letter)) {
        SetLastError(ERROR_UNRECOGNIZED_VOLUME);
        return std::nullopt;
    }
    return folder;
}

}  // namespace platform::sim
