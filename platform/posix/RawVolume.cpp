// The raw volume calls: "\\.\X:" opened on the PC in use (platform/posix/MachineSource.h), and
// every call on the handle answered by the source that opened it.
#include "platform/RawVolume.h"

#include <cctype>
#include <string>

#include "platform/Error.h"
#include "platform/posix/MachineSource.h"

namespace platform {
namespace {

// "\\.\E:" gives 'E', anything else 0.
char RawVolumeLetter(const char* name) {
    std::string path = name ? name : "";
    if (path.size() != 6 || path.compare(0, 4, "\\\\.\\") != 0 || path[5] != ':' ||
        !std::isalpha(static_cast<unsigned char>(path[4])))
        return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
}

// The raw volume behind a handle, or null with ERROR_INVALID_HANDLE.
RawVolumeObject* VolumeOf(HANDLE handle) {
    auto* volume = handle == nullptr || handle == INVALID_HANDLE_VALUE
                       ? nullptr
                       : dynamic_cast<RawVolumeObject*>(static_cast<KernelObject*>(handle));
    if (volume == nullptr) SetLastError(ERROR_INVALID_HANDLE);
    return volume;
}

}  // namespace

HANDLE CreateFileA(const char* fileName, uint32_t desiredAccess, uint32_t shareMode, void*,
                   uint32_t creationDisposition, uint32_t, HANDLE) {
    char letter = RawVolumeLetter(fileName);
    if (letter == 0 || creationDisposition != OPEN_EXISTING) {
        SetLastError(letter == 0 ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const MachineSource& machine = CurrentMachine();
    HANDLE handle = machine.OpenRawVolume(letter, desiredAccess, shareMode);
    if (handle != INVALID_HANDLE_VALUE)
        static_cast<RawVolumeObject*>(static_cast<KernelObject*>(handle))->source = &machine;
    return handle;
}

bool DeviceIoControl(HANDLE device, uint32_t controlCode, void*, uint32_t, void* outBuffer, uint32_t outSize,
                     uint32_t* bytesReturned, void*) {
    RawVolumeObject* volume = VolumeOf(device);
    return volume != nullptr && volume->source->DeviceIoControl(device, controlCode, outBuffer, outSize, bytesReturned);
}

uint32_t SetFilePointer(HANDLE file, int32_t distance, int32_t* distanceHigh, uint32_t moveMethod) {
    RawVolumeObject* volume = VolumeOf(file);
    return volume != nullptr ? volume->source->SetFilePointer(file, distance, distanceHigh, moveMethod)
                             : INVALID_SET_FILE_POINTER;
}

bool ReadFile(HANDLE file, void* buffer, uint32_t size, uint32_t* bytesRead, void*) {
    if (bytesRead) *bytesRead = 0;
    RawVolumeObject* volume = VolumeOf(file);
    return volume != nullptr && volume->source->ReadFile(file, buffer, size, bytesRead);
}

bool WriteFile(HANDLE file, const void* buffer, uint32_t size, uint32_t* bytesWritten, void*) {
    if (bytesWritten) *bytesWritten = 0;
    RawVolumeObject* volume = VolumeOf(file);
    return volume != nullptr && volume->source->WriteFile(file, buffer, size, bytesWritten);
}

bool FlushFileBuffers(HANDLE file) {
    RawVolumeObject* volume = VolumeOf(file);
    return volume != nullptr && volume->source->FlushFileBuffers(file);
}

}  // namespace platform
