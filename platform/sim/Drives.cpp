// Logical drives of the simulated machine: the letters, types and display names its machine.ini
// gives the drives or their volumes. A real PC answers from platform/linux.
#include "platform/Drives.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/linux/LogicalDrives.h"
#include "platform/sim/Machine.h"

namespace platform {
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

// The display name into the shell's record, in CP932.
void SetDisplayName(SHFILEINFOA* info, const std::string& utf8, char letter) {
    std::string cp932 = Utf8ToCp932(utf8).value_or(std::string(1, letter) + ":");
    std::memset(info->szDisplayName, 0, sizeof info->szDisplayName);
    std::memcpy(info->szDisplayName, cp932.data(), std::min(cp932.size(), sizeof info->szDisplayName - 1));
}

uintptr_t RealDriveInfo(char letter, SHFILEINFOA* info, uint32_t flags) {
    std::optional<std::string> name = letter != 0 && info != nullptr ? linuxpc::DisplayName(letter) : std::nullopt;
    if (!name) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    if (flags & SHGFI_DISPLAYNAME) SetDisplayName(info, *name, letter);
    return 1;
}

}  // namespace

uint32_t GetLogicalDrives() {
    if (!MachineSimulated()) return linuxpc::GetLogicalDrives();
    ProfileDocument doc = MachineDescription();
    uint32_t mask = 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        if (!doc.Keys(DriveSection(letter)).empty()) mask |= 1u << (letter - 'A');
    return mask;
}

uint32_t GetDriveTypeA(const char* rootPath) {
    if (!MachineSimulated()) return linuxpc::GetDriveTypeA(rootPath);
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

uintptr_t SHGetFileInfoA(const char* path, uint32_t, SHFILEINFOA* info, uint32_t, uint32_t flags) {
    char letter = RootLetter(path);
    if (!MachineSimulated()) return RealDriveInfo(letter, info, flags);
    ProfileDocument doc = MachineDescription();
    if (letter == 0 || info == nullptr || doc.Keys(DriveSection(letter)).empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    // The shell can take seconds over a drive: a network share out of reach, an empty
    // card-reader slot ("[Drive X] ShellWaitMs=").
    if (auto wait = doc.Get(DriveSection(letter), "ShellWaitMs"); wait && !wait->empty())
        Sleep(static_cast<uint32_t>(std::strtoul(wait->c_str(), nullptr, 10)));
    if (flags & SHGFI_DISPLAYNAME) {
        // The shell shows "<label> (E:)"; a drive may name itself whole with DisplayName=.
        std::string name = doc.Get(DriveSection(letter), "DisplayName").value_or("");
        if (name.empty()) {
            auto volume = DriveVolume(doc, letter);
            name = (volume ? volume->label : std::string("ローカル ディスク")) + " (" + letter + ":)";
        }
        SetDisplayName(info, name, letter);
    }
    return 1;
}

}  // namespace platform
