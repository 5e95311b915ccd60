// Windows paths to native paths and back: drive letters through the PC in use
// (platform/posix/MachineSource.h), "Z:" as the native root, names matched without case as Windows
// matches them.
#include "platform/Paths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/posix/MachineSource.h"

namespace platform {
namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Windows names ignore case: when a component is not there as spelled, take the entry of the
// folder that matches it without case.
std::string ResolveCase(const std::string& path) {
    if (path.empty() || Exists(path)) return path;
    std::string resolved = path[0] == '/' ? "/" : "";
    size_t pos = path[0] == '/' ? 1 : 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty()) continue;
        std::string candidate = resolved + part;
        if (!Exists(candidate)) {
            std::string folder = resolved.empty() ? "." : resolved;
            if (DIR* dir = ::opendir(folder.c_str())) {
                while (dirent* entry = ::readdir(dir)) {
                    if (strcasecmp(entry->d_name, part.c_str()) == 0) {
                        candidate = resolved + entry->d_name;
                        break;
                    }
                }
                ::closedir(dir);
            }
        }
        resolved = candidate;
        if (slash < path.size()) resolved += '/';
    }
    return resolved;
}

}  // namespace

std::optional<std::string> ToNativePath(std::string_view windowsPath) {
    auto utf8 = Cp932ToUtf8(windowsPath);
    if (!utf8) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    std::string path = *utf8;
    for (char& c : path)
        if (c == '\\') c = '/';
    if (path.size() >= 2 && path[1] == ':') {
        char letter = static_cast<char>(toupper(static_cast<unsigned char>(path[0])));
        std::string rest = path.substr(2);
        std::string root;
        if (letter == 'Z') {
            root = "/";
        } else {
            auto folder = CurrentMachine().DriveRoot(letter);
            if (!folder) return std::nullopt;
            root = *folder + "/";
        }
        while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
        path = root + rest;
    }
    return ResolveCase(path);
}

std::optional<std::string> ToWindowsPath(std::string_view nativePath) {
    std::string path(nativePath);
    std::string windows;
    auto drive = CurrentMachine().DriveOfNativePath(path);
    if (drive) {
        windows = std::string(1, drive->first) + ":" + path.substr(drive->second.size());
    } else {
        windows = "Z:" + path;
    }
    for (char& c : windows)
        if (c == '/') c = '\\';
    if (windows.size() == 2) windows += '\\';
    auto cp932 = Utf8ToCp932(windows);
    if (!cp932) SetLastError(ERROR_INVALID_NAME);
    return cp932;
}

}  // namespace platform
