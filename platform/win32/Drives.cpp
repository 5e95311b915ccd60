// Logical drives through the system's W calls, the shell's names handed back in CP932.
#include "platform/Drives.h"

#include <algorithm>
#include <cstring>

#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"
#include <shellapi.h>

namespace platform {

uint32_t GetLogicalDrives() { return ::GetLogicalDrives(); }

uint32_t GetDriveTypeA(const char* rootPath) {
    auto wide = win32::Wide(rootPath);
    return wide ? ::GetDriveTypeW(wide->c_str()) : DRIVE_NO_ROOT_DIR;
}

uintptr_t SHGetFileInfoA(const char* path, uint32_t fileAttributes, SHFILEINFOA* info, uint32_t, uint32_t flags) {
    auto wide = win32::Wide(path);
    if (!wide || info == nullptr) return 0;
    SHFILEINFOW shell{};
    const DWORD_PTR result = ::SHGetFileInfoW(wide->c_str(), fileAttributes, &shell, sizeof shell, flags);
    if (result == 0) return 0;
    info->hIcon = shell.hIcon;
    info->iIcon = shell.iIcon;
    info->dwAttributes = shell.dwAttributes;
    // The names in CP932, cut short rather than left out when they do not fit.
    auto copy = [](const wchar_t* from, char* to, size_t size) {
        std::string text = win32::Narrow(from).value_or(std::string());
        std::memset(to, 0, size);
        std::memcpy(to, text.data(), std::min(text.size(), size - 1));
    };
    copy(shell.szDisplayName, info->szDisplayName, sizeof info->szDisplayName);
    copy(shell.szTypeName, info->szTypeName, sizeof info->szTypeName);
    return result;
}

}  // namespace platform
