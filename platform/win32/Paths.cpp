// On Windows the native path is the Windows path itself, in UTF-8 rather than CP932: the
// backends hand it to the W functions, and names outside CP932 survive the trip.
#include "platform/Paths.h"

#include "platform/CodePage.h"
#include "platform/Error.h"

namespace platform {

std::optional<std::string> ToNativePath(std::string_view windowsPath) {
    auto utf8 = Cp932ToUtf8(windowsPath);
    if (!utf8) SetLastError(ERROR_INVALID_NAME);
    return utf8;
}

std::optional<std::string> ToWindowsPath(std::string_view nativePath) {
    std::string path(nativePath);
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path.size() == 2 && path[1] == ':') path += '\\';
    auto cp932 = Utf8ToCp932(path);
    if (!cp932) SetLastError(ERROR_INVALID_NAME);
    return cp932;
}

}  // namespace platform
