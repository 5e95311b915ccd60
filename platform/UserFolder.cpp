// The user's data folder, which tests and tools may place elsewhere; otherwise the system's.
#include "platform/UserFolder.h"

#include <mutex>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace platform {
namespace {

std::mutex folderLock;
std::string folderOverride;

}  // namespace

void SetUserDataFolderForProcess(const std::string& nativePath) {
    std::lock_guard guard(folderLock);
    folderOverride = nativePath;
}

std::string GetUserDataFolder() {
    std::string native;
    {
        std::lock_guard guard(folderLock);
        native = folderOverride;
    }
    if (native.empty()) native = SystemUserDataFolder();
    if (native.empty()) return "";
    auto windows = ToWindowsPath(native);
    if (!windows) return "";
    std::string folder = *windows;
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    // A folder that exists already is what is wanted; any other failure shows as "".
    if (!CreateDirectoryA(folder.c_str()) && GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return "";
    return folder;
}

}  // namespace platform
