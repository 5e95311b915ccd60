// Volume names and mount points through the system's W calls, the names handed back in CP932.
#include "platform/Volumes.h"

#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"

namespace platform {
namespace {

// A volume name from the system into the caller's CP932 buffer.
bool Hand(const wchar_t* name, char* buffer, uint32_t size) {
    auto cp932 = win32::Narrow(name);
    return cp932 && win32::CopyOut(*cp932, buffer, size) > 0;
}

constexpr DWORD kWideName = MAX_PATH + 1;

}  // namespace

bool GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName, uint32_t size) {
    auto wide = win32::Wide(mountPoint);
    wchar_t name[kWideName];
    return wide && ::GetVolumeNameForVolumeMountPointW(wide->c_str(), name, kWideName) && Hand(name, volumeName, size);
}

HANDLE FindFirstVolumeA(char* volumeName, uint32_t size) {
    wchar_t name[kWideName];
    HANDLE find = ::FindFirstVolumeW(name, kWideName);
    if (find == INVALID_HANDLE_VALUE) return find;
    if (!Hand(name, volumeName, size)) {
        const DWORD error = ::GetLastError();
        ::FindVolumeClose(find);
        ::SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return find;
}

bool FindNextVolumeA(HANDLE find, char* volumeName, uint32_t size) {
    wchar_t name[kWideName];
    return ::FindNextVolumeW(find, name, kWideName) && Hand(name, volumeName, size);
}

bool FindVolumeClose(HANDLE find) { return ::FindVolumeClose(find); }

bool SetVolumeMountPointA(const char* mountPoint, const char* volumeName) {
    auto point = win32::Wide(mountPoint);
    auto volume = point ? win32::Wide(volumeName) : std::nullopt;
    return volume && ::SetVolumeMountPointW(point->c_str(), volume->c_str());
}

bool DeleteVolumeMountPointA(const char* mountPoint) {
    auto point = win32::Wide(mountPoint);
    return point && ::DeleteVolumeMountPointW(point->c_str());
}

}  // namespace platform
