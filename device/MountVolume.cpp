// The letter recovery: the remembered volume takes the first free letter; otherwise each
// letterless volume on the USB bus is tried at a free letter, and a trial letter of anything else
// comes off again.
#include "device/MountVolume.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "device/NaviDriveImage.h"
#include "device/NaviFunction.h"
#include "platform/Clock.h"
#include "platform/Drives.h"
#include "platform/Volumes.h"

namespace {

static constexpr char kLogSource[] = ".\\NaviFunction";

constexpr int kMountAttempts = 10;
constexpr char kFloppyMark[] = "FD";

NaviUnitState& Navi() { return theApp.Navi; }

std::vector<std::string> LetteredVolumes() {
    std::vector<std::string> volumes;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        char name[260] = {};
        if (platform::GetVolumeNameForVolumeMountPointA(Format("%c:\\", letter).c_str(), name, sizeof name) &&
            name[0] != '\0')
            volumes.push_back(name);
    }
    return volumes;
}

bool MountWithRetries(const std::string& mountPoint, const std::string& volume) {
    for (int attempt = 0; attempt < kMountAttempts; ++attempt)
        if (MountDrive(mountPoint, volume) == 0) return true;
    return false;
}

// The remembered volume goes to the first free letter from D: without a further check.
int MountRemembered(const std::string& volume) {
    bool freeLetter = false;
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        std::string root;
        if (CheckDriveNo(letter, &root) != 0) continue;
        freeLetter = true;
        if (MountWithRetries(root, volume)) return 0;
    }
    return freeLetter ? kRecoveryMountFailed : kRecoveryNoFreeLetter;
}

// A volume whose bus cannot be asked is not taken for the unit.
bool OnUsbBus(const std::string& volume) {
    uint32_t bus = platform::BusTypeUnknown;
    return platform::GetVolumeBusType(volume.c_str(), &bus) && bus == platform::BusTypeUsb;
}

enum class Trial { Recognised, NextVolume, Waits, Failed };

// Mounts one letterless volume at the first free letter that takes it and looks whether it is
// the unit; a trial letter of anything else waits for the unit's settle time (trialRoot).
Trial TryVolume(const std::string& volume, std::string* trialRoot) {
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        std::string root;
        if (CheckDriveNo(letter, &root) != 0) continue;
        if (!MountWithRetries(root, volume)) continue;
        unsigned driveType = 0;
        std::string displayName;
        if (GetDriveInfo(root, &driveType, &displayName) == 0) return Trial::Failed;
        // A floppy keeps the letter it was given; the search moves on.
        if (driveType == platform::DRIVE_REMOVABLE && displayName.find(kFloppyMark) != std::string::npos)
            return Trial::NextVolume;
        if (driveType == platform::DRIVE_REMOVABLE && NaviConnectCheck() == 0) return Trial::Recognised;
        *trialRoot = root;
        return Trial::Waits;
    }
    return Trial::NextVolume;
}

// Tries the volumes left in turn until one is the unit, a trial letter waits, or none is left.
int TryVolumes(LetterRecovery* recovery) {
    while (!recovery->volumes.empty()) {
        const std::string volume = recovery->volumes.front();
        recovery->volumes.erase(recovery->volumes.begin());
        switch (TryVolume(volume, &recovery->trialRoot)) {
        case Trial::Recognised: return 0;
        case Trial::Waits: return kRecoveryTrialWaits;
        case Trial::Failed: return kRecoveryMountFailed;
        case Trial::NextVolume: break;
        }
    }
    return kRecoveryNoUnitVolume;
}

}  // namespace

int LetterRecoveryStart(LetterRecovery* recovery) {
    *recovery = {};
    return OPERATION("MountNaviVolume", "", kSystemError, [&] {
        if (!Navi().NaviDrive.empty()) return 0;
        std::vector<std::string> lettered = LetteredVolumes();
        EnumVolumes();
        std::vector<std::string>& letterless = Navi().LetterlessVolumes;
        for (const std::string& volume : lettered)
            if (auto it = std::find(letterless.begin(), letterless.end(), volume); it != letterless.end())
                letterless.erase(it);
        if (letterless.empty()) return kRecoveryNoLetterlessVolume;
        // Only removable volumes on the USB bus are the unit's kind: a fixed disk's EFI, recovery
        // or OEM partition, a card in the PC's own SD slot or an eSATA disk must never get a
        // letter, not even for a look.
        for (const std::string& volume : letterless)
            if (platform::GetDriveTypeA(volume.c_str()) == platform::DRIVE_REMOVABLE && OnUsbBus(volume))
                recovery->volumes.push_back(volume);
        if (recovery->volumes.empty()) return kRecoveryNoUnitVolume;

        unsigned char* buffer = nullptr;
        unsigned long size = 0;
        int error = FileRead(Format("%s", theApp.ProgramFolder.c_str()), "MountVolume.dat", &buffer, &size);
        bool remembered = error == 0 && size > 0 &&
                          std::string(reinterpret_cast<const char*>(buffer), size).find(recovery->volumes.front()) !=
                              std::string::npos;
        std::free(buffer);
        if (remembered) return MountRemembered(recovery->volumes.front());
        return TryVolumes(recovery);
    });
}

int LetterRecoveryNext(LetterRecovery* recovery) {
    return OPERATION("LetterRecoveryNext", "", kSystemError, [&] {
        if (UnmountDrive(std::exchange(recovery->trialRoot, {})) != 0) return kRecoveryMountFailed;
        return TryVolumes(recovery);
    });
}

void LetterRecoveryAbandon(LetterRecovery* recovery) {
    recovery->volumes.clear();
    if (recovery->trialRoot.empty()) return;
    // A letter that will not come off is logged by UnmountDrive; nothing else can be done.
    (void)UnmountDrive(std::exchange(recovery->trialRoot, {}));
}

int MountNaviVolume() {
    LetterRecovery recovery;
    int result = LetterRecoveryStart(&recovery);
    while (result == kRecoveryTrialWaits) {
        platform::Sleep(kLetterTrialWaitMs);
        result = LetterRecoveryNext(&recovery);
    }
    return result;
}
