// Volume names and mount points through the system's W calls, the names handed back in CP932.
#include "platform/Volumes.h"

#include <cstddef>
#include <string>

#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"
#include <winioctl.h>

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

bool GetVolumeBusType(const char* volumeName, uint32_t* busType) {
    // The GUID path opens the volume without its trailing backslash (with it, its root folder).
    std::string path = volumeName != nullptr ? volumeName : "";
    if (!path.empty() && path.back() == '\\') path.pop_back();
    auto wide = win32::Wide(path.c_str());
    if (!wide || busType == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // No access is needed to ask for the descriptor, so a volume another program holds answers too.
    HANDLE volume =
        ::CreateFileW(wide->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) return false;
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    // The descriptor with room for the vendor and product texts that follow it.
    alignas(STORAGE_DEVICE_DESCRIPTOR) unsigned char buffer[1024] = {};
    DWORD returned = 0;
    const bool asked = ::DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer,
                                         sizeof buffer, &returned, nullptr);
    const DWORD error = ::GetLastError();
    ::CloseHandle(volume);
    const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer);
    if (!asked || returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof descriptor->BusType) {
        ::SetLastError(asked ? ERROR_INVALID_DATA : error);
        return false;
    }
    *busType = static_cast<uint32_t>(descriptor->BusType);
    return true;
}

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
