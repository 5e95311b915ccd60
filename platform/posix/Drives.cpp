// The logical drives of the PC in use (platform/posix/MachineSource.h), and a drive's display
// name copied out as the shell copies it.
#include "platform/Drives.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/posix/MachineSource.h"

namespace platform {
namespace {

// The letter of "E:\" or "E:", or 0.
char RootLetter(const char* rootPath) {
    if (rootPath == nullptr || !std::isalpha(static_cast<unsigned char>(rootPath[0])) || rootPath[1] != ':') return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(rootPath[0])));
}

// The display name into the shell's record, in CP932.
void SetDisplayName(SHFILEINFOA* info, const std::string& utf8, char letter) {
    std::string cp932 = Utf8ToCp932(utf8).value_or(std::string(1, letter) + ":");
    std::memset(info->szDisplayName, 0, sizeof info->szDisplayName);
    std::memcpy(info->szDisplayName, cp932.data(), std::min(cp932.size(), sizeof info->szDisplayName - 1));
}

}  // namespace

uint32_t GetLogicalDrives() { return CurrentMachine().GetLogicalDrives(); }

uint32_t GetDriveTypeA(const char* rootPath) { return CurrentMachine().GetDriveType(rootPath); }

uintptr_t SHGetFileInfoA(const char* path, uint32_t, SHFILEINFOA* info, uint32_t, uint32_t flags) {
    char letter = RootLetter(path);
    std::optional<std::string> name =
        letter != 0 && info != nullptr ? CurrentMachine().DriveDisplayName(letter) : std::nullopt;
    if (!name) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    if (flags & SHGFI_DISPLAYNAME) SetDisplayName(info, *name, letter);
    return 1;
}

}  // namespace platform
