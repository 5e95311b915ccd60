// The user's local application data folder (not roaming: logs belong to this PC) with a
// folder of the program's own.
#include "platform/UserFolder.h"

#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"
#include <shlobj.h>

namespace platform {

std::string SystemUserDataFolder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path)))
        return "";
    std::wstring folder = std::wstring(path) + L"\\Veltrane";
    if (!CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return "";
    return win32::NarrowNative(folder);
}

}  // namespace platform
