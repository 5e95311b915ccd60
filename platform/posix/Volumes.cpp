// The volumes of the PC in use by their GUID paths (platform/posix/MachineSource.h), listed
// through a find handle, and drive letters set and removed where the source allows it.
#include "platform/Volumes.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/posix/KernelObject.h"
#include "platform/posix/MachineSource.h"

namespace platform {
namespace {

class VolumeFind : public KernelObject {
public:
    std::vector<std::string> names;
    size_t next = 0;
};

// The letter of a root "E:\" (the backslash is required, as for the Windows calls), or 0.
char MountPointLetter(const char* mountPoint) {
    if (mountPoint == nullptr || !std::isalpha(static_cast<unsigned char>(mountPoint[0])) || mountPoint[1] != ':' ||
        mountPoint[2] != '\\' || mountPoint[3] != '\0')
        return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(mountPoint[0])));
}

bool CopyName(const std::string& name, char* buffer, uint32_t size) {
    if (buffer == nullptr || name.size() + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return true;
}

}  // namespace

bool GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName, uint32_t size) {
    char letter = MountPointLetter(mountPoint);
    if (letter == 0) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::optional<std::string> name = CurrentMachine().VolumeNameOfLetter(letter);
    if (!name) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    return CopyName(*name, volumeName, size);
}

HANDLE FindFirstVolumeA(char* volumeName, uint32_t size) {
    auto find = new VolumeFind;
    find->names = CurrentMachine().VolumeNames();
    if (find->names.empty()) {
        delete find;
        SetLastError(ERROR_NO_MORE_FILES);
        return INVALID_HANDLE_VALUE;
    }
    if (!CopyName(find->names[0], volumeName, size)) {
        delete find;
        return INVALID_HANDLE_VALUE;
    }
    find->next = 1;
    return find;
}

bool FindNextVolumeA(HANDLE handle, char* volumeName, uint32_t size) {
    auto* find = dynamic_cast<VolumeFind*>(static_cast<KernelObject*>(handle));
    if (handle == INVALID_HANDLE_VALUE || find == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (find->next >= find->names.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return false;
    }
    if (!CopyName(find->names[find->next], volumeName, size)) return false;
    ++find->next;
    return true;
}

bool FindVolumeClose(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return CloseHandle(handle);
}

bool GetVolumeBusType(const char* volumeName, uint32_t* busType) {
    if (volumeName == nullptr || busType == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const uint32_t error = CurrentMachine().VolumeBusType(volumeName, busType);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

bool SetVolumeMountPointA(const char* mountPoint, const char* volumeName) {
    char letter = MountPointLetter(mountPoint);
    if (letter == 0 || volumeName == nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    uint32_t error = CurrentMachine().SetVolumeMountPoint(letter, volumeName);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

bool DeleteVolumeMountPointA(const char* mountPoint) {
    char letter = MountPointLetter(mountPoint);
    if (letter == 0) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    uint32_t error = CurrentMachine().DeleteVolumeMountPoint(letter);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

}  // namespace platform
