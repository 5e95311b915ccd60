// The volumes of the simulated machine by their GUID paths, and drive letters set and removed by
// rewriting machine.ini. A real PC answers from platform/linux, where every volume the program
// may use has its letter from the start: no letter is set or removed there.
#include "platform/Volumes.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/linux/LogicalDrives.h"
#include "platform/posix/KernelObject.h"
#include "platform/sim/Machine.h"

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

std::string DriveSection(char letter) { return std::string("Drive ") + letter; }

}  // namespace

bool GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName, uint32_t size) {
    char letter = MountPointLetter(mountPoint);
    if (letter == 0) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::optional<std::string> name;
    if (MachineSimulated()) {
        if (auto volume = DriveVolume(MachineDescription(), letter)) name = volume->guidPath;
    } else {
        name = linuxpc::VolumeNameOfLetter(letter);
    }
    if (!name) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    return CopyName(*name, volumeName, size);
}

HANDLE FindFirstVolumeA(char* volumeName, uint32_t size) {
    auto find = new VolumeFind;
    if (MachineSimulated()) {
        for (const VolumeEntry& volume : MachineVolumes(MachineDescription())) find->names.push_back(volume.guidPath);
    } else {
        find->names = linuxpc::VolumeNames();
    }
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

bool SetVolumeMountPointA(const char* mountPoint, const char* volumeName) {
    char letter = MountPointLetter(mountPoint);
    if (letter == 0 || volumeName == nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (!MachineSimulated()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    uint32_t error = ERROR_SUCCESS;
    bool saved = ModifyMachine([&](ProfileDocument& doc) {
        if (!doc.Keys(DriveSection(letter)).empty()) {
            error = ERROR_DIR_NOT_EMPTY;
            return false;
        }
        for (const VolumeEntry& volume : MachineVolumes(doc)) {
            if (volume.guidPath != volumeName) continue;
            doc.Set(DriveSection(letter), "Volume", volume.id);
            return true;
        }
        error = ERROR_FILE_NOT_FOUND;
        return false;
    });
    if (!saved && error == ERROR_SUCCESS) error = ERROR_ACCESS_DENIED;
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

bool DeleteVolumeMountPointA(const char* mountPoint) {
    char letter = MountPointLetter(mountPoint);
    if (letter == 0) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (!MachineSimulated()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    uint32_t error = ERROR_SUCCESS;
    bool saved = ModifyMachine([&](ProfileDocument& doc) {
        // Only a letter that is a volume's mount point can be taken away.
        if (!DriveVolume(doc, letter)) {
            error = ERROR_FILE_NOT_FOUND;
            return false;
        }
        doc.RemoveSection(DriveSection(letter));
        return true;
    });
    if (!saved && error == ERROR_SUCCESS) error = ERROR_ACCESS_DENIED;
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

}  // namespace platform
