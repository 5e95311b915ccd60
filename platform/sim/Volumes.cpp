// The volumes of the simulated machine by their GUID paths, and drive letters set and removed by
// rewriting machine.ini.
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Services.h"

namespace platform::sim {
namespace {

std::string DriveSection(char letter) { return std::string("Drive ") + letter; }

// The rewrite's own error, else ERROR_ACCESS_DENIED when machine.ini could not be written.
uint32_t Modified(bool saved, uint32_t error) { return !saved && error == ERROR_SUCCESS ? ERROR_ACCESS_DENIED : error; }

}  // namespace

std::optional<std::string> VolumeNameOfLetter(char letter) {
    if (auto volume = DriveVolume(MachineDescription(), letter)) return volume->guidPath;
    return std::nullopt;
}

std::vector<std::string> VolumeNames() {
    std::vector<std::string> names;
    for (const VolumeEntry& volume : MachineVolumes(MachineDescription())) names.push_back(volume.guidPath);
    return names;
}

uint32_t VolumeBusType(const char* volumeName, uint32_t* busType) {
    const ProfileDocument doc = MachineDescription();
    for (const VolumeEntry& volume : MachineVolumes(doc)) {
        if (volume.guidPath != volumeName) continue;
        // A volume on no disk has no storage device to describe.
        if (volume.device.empty()) return ERROR_INVALID_FUNCTION;
        *busType = DeviceBusType(doc, volume.device);
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

uint32_t SetVolumeMountPoint(char letter, const char* volumeName) {
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
    return Modified(saved, error);
}

uint32_t DeleteVolumeMountPoint(char letter) {
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
    return Modified(saved, error);
}

}  // namespace platform::sim
