// Raw volumes are the system's: "\\.\X:" opened with CreateFileW, locked and unlocked with
// DeviceIoControl, read and written in whole sectors.
#include "platform/RawVolume.h"

#include <cstddef>

#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"
#include <winioctl.h>

namespace platform {

// The answers of the volume's IOCTLs are filled in by the system.
static_assert(sizeof(platform::DISK_GEOMETRY) == sizeof(::DISK_GEOMETRY));
static_assert(offsetof(platform::DISK_GEOMETRY, BytesPerSector) == offsetof(::DISK_GEOMETRY, BytesPerSector));
static_assert(platform::RemovableMedia == static_cast<uint32_t>(::RemovableMedia));

HANDLE CreateFileA(const char* fileName, uint32_t desiredAccess, uint32_t shareMode, void* securityAttributes,
                   uint32_t creationDisposition, uint32_t flagsAndAttributes, HANDLE templateFile) {
    auto wide = win32::Wide(fileName);
    if (!wide) return INVALID_HANDLE_VALUE;
    return ::CreateFileW(wide->c_str(), desiredAccess, shareMode, static_cast<SECURITY_ATTRIBUTES*>(securityAttributes),
                         creationDisposition, flagsAndAttributes, templateFile);
}

bool DeviceIoControl(HANDLE device, uint32_t controlCode, void* inBuffer, uint32_t inSize, void* outBuffer,
                     uint32_t outSize, uint32_t* bytesReturned, void* overlapped) {
    DWORD returned = 0;
    const bool ok = ::DeviceIoControl(device, controlCode, inBuffer, inSize, outBuffer, outSize, &returned,
                                      static_cast<OVERLAPPED*>(overlapped));
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return ok;
}

uint32_t SetFilePointer(HANDLE file, int32_t distance, int32_t* distanceHigh, uint32_t moveMethod) {
    // The callers tell a position of 0xFFFFFFFF from a failure by the last error.
    ::SetLastError(ERROR_SUCCESS);
    LONG high = distanceHigh ? *distanceHigh : 0;
    const DWORD low = ::SetFilePointer(file, distance, distanceHigh ? &high : nullptr, moveMethod);
    if (distanceHigh) *distanceHigh = high;
    return low;
}

bool ReadFile(HANDLE file, void* buffer, uint32_t size, uint32_t* bytesRead, void* overlapped) {
    DWORD done = 0;
    const bool ok = ::ReadFile(file, buffer, size, &done, static_cast<OVERLAPPED*>(overlapped));
    if (bytesRead != nullptr) *bytesRead = done;
    return ok;
}

bool WriteFile(HANDLE file, const void* buffer, uint32_t size, uint32_t* bytesWritten, void* overlapped) {
    DWORD done = 0;
    const bool ok = ::WriteFile(file, buffer, size, &done, static_cast<OVERLAPPED*>(overlapped));
    if (bytesWritten != nullptr) *bytesWritten = done;
    return ok;
}

bool FlushFileBuffers(HANDLE file) { return ::FlushFileBuffers(file); }

}  // namespace platform
