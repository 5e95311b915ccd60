// The simulated machine as the platform's machine source (platform/posix/MachineSource.h): its
// services in this folder, and its power source, machine.ini's [Power].
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/sim/Machine.h"
#include "platform/sim/Mount.h"
#include "platform/sim/Services.h"

namespace platform::sim {
namespace {

// [Power] Battery=PERCENT: the machine runs on its battery; without it, on mains power without
// a battery (a desktop PC).
bool GetSystemPowerStatus(SYSTEM_POWER_STATUS* status) {
    std::optional<std::string> battery = MachineDescription().Get("Power", "Battery");
    if (!battery) {
        *status = {kAcLineOnline, kBatteryFlagNoBattery, kBatteryPercentageUnknown};
        return true;
    }
    int percent = std::atoi(battery->c_str());
    if (percent < 0 || percent > 100) return false;
    *status = {kAcLineOffline, 0, static_cast<uint8_t>(percent)};
    return true;
}

constexpr MachineSource kSimulatedMachine{
    .GetLogicalDrives = GetLogicalDrives,
    .GetDriveType = GetDriveType,
    .DriveDisplayName = DriveDisplayName,
    .DriveRoot = DriveRoot,
    .DriveOfNativePath = platform::DriveOfNativePath,
    .copiesWriteThrough = false,
    .StatedFreeBytes = DriveFreeBytes,
    .FileWritten = WriteThroughStaleMount,
    .VolumeNameOfLetter = VolumeNameOfLetter,
    .VolumeNames = VolumeNames,
    .VolumeBusType = VolumeBusType,
    .SetVolumeMountPoint = SetVolumeMountPoint,
    .DeleteVolumeMountPoint = DeleteVolumeMountPoint,
    .OpenRawVolume = OpenRawVolume,
    .DeviceIoControl = DeviceIoControl,
    .SetFilePointer = SetFilePointer,
    .ReadFile = ReadFile,
    .WriteFile = WriteFile,
    .FlushFileBuffers = FlushFileBuffers,
    .DevicesPresent = DevicesPresent,
    .DeviceProperty = DeviceProperty,
    .GetDeviceDiskNumber = GetDeviceDiskNumber,
    .GetDevNodeStatus = GetDevNodeStatus,
    .GetParent = GetParent,
    .GetChild = GetChild,
    .GetDeviceId = GetDeviceId,
    .RequestEject = RequestEject,
    .FormatDrive = FormatDrive,
    .WatchChanges = WatchChanges,
    .AnswerRemovalRequests = AnswerRemovalRequests,
    // The simulated machine is no PC to keep awake: the requests are only counted.
    .InhibitSleep = []() { return -1; },
    .GetSystemPowerStatus = GetSystemPowerStatus,
};

}  // namespace
}  // namespace platform::sim

namespace platform {

const MachineSource& SimulatedMachine() { return sim::kSimulatedMachine; }

}  // namespace platform
