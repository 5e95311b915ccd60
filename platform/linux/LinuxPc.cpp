// The real Linux PC as the platform's machine source: its lettered volumes, raw disks, USB
// disks, watch, format, sleep inhibitor and battery (platform/posix/MachineSource.h).
#include <optional>
#include <string>
#include <utility>

#include "platform/Error.h"
#include "platform/Format.h"
#include "platform/linux/Battery.h"
#include "platform/linux/DeviceWatch.h"
#include "platform/linux/FormatVolume.h"
#include "platform/linux/LogicalDrives.h"
#include "platform/linux/RawDisk.h"
#include "platform/linux/SleepInhibitor.h"
#include "platform/linux/UdevDevices.h"
#include "platform/linux/Volumes.h"
#include "platform/posix/MachineSource.h"

namespace platform {
namespace {

std::optional<std::string> DriveRoot(char letter) {
    std::optional<linuxpc::Volume> volume = linuxpc::LetteredVolume(letter);
    if (!volume) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    return linuxpc::VolumeFolder(*volume);
}

// Every volume the program may use has its letter from the start: none is set or taken away.
uint32_t NoLetterSet(char, const char*) { return ERROR_NOT_SUPPORTED; }
uint32_t NoLetterRemoved(char) { return ERROR_NOT_SUPPORTED; }

uint32_t FormatDrive(char letter) {
    uint32_t error = linuxpc::FormatVolume(letter);
    SetLastError(error);
    return error == ERROR_SUCCESS ? 0 : SHFMT_ERROR;
}

constexpr MachineSource kLinuxPc{
    .GetLogicalDrives = linuxpc::GetLogicalDrives,
    .GetDriveType = linuxpc::GetDriveTypeA,
    .DriveDisplayName = linuxpc::DisplayName,
    .DriveRoot = DriveRoot,
    .DriveOfNativePath = linuxpc::VolumeOfNativePath,
    // Windows writes through to a removable volume; Linux's page cache would keep a copy off
    // the stick until its writeback.
    .copiesWriteThrough = true,
    .StatedFreeBytes = [](char) -> std::optional<uint64_t> { return std::nullopt; },
    .FileWritten = [](const std::string&) {},
    .VolumeNameOfLetter = linuxpc::VolumeNameOfLetter,
    .VolumeNames = linuxpc::VolumeNames,
    .VolumeBusType = [](const char* volumeName, uint32_t* busType) -> uint32_t {
        std::optional<uint32_t> type = linuxpc::VolumeBusType(volumeName);
        if (!type) return ERROR_FILE_NOT_FOUND;
        *busType = *type;
        return ERROR_SUCCESS;
    },
    .SetVolumeMountPoint = NoLetterSet,
    .DeleteVolumeMountPoint = NoLetterRemoved,
    .OpenRawVolume = [](char letter, uint32_t desiredAccess,
                        uint32_t) { return linuxpc::CreateFileA(letter, desiredAccess); },
    .DeviceIoControl = linuxpc::DeviceIoControl,
    .SetFilePointer = linuxpc::SetFilePointer,
    .ReadFile = linuxpc::ReadFile,
    .WriteFile = linuxpc::WriteFile,
    .FlushFileBuffers = linuxpc::FlushFileBuffers,
    .DevicesPresent = linuxpc::SetupDiGetClassDevsA,
    .DeviceProperty = linuxpc::SetupDiGetDeviceRegistryPropertyA,
    .GetDeviceDiskNumber = linuxpc::GetDeviceDiskNumber,
    .GetDevNodeStatus = linuxpc::CM_Get_DevNode_Status,
    .GetParent = linuxpc::CM_Get_Parent,
    .GetChild = linuxpc::CM_Get_Child,
    .GetDeviceId = linuxpc::CM_Get_Device_IDA,
    .RequestEject = linuxpc::CM_Request_Device_EjectA,
    .FormatDrive = FormatDrive,
    .WatchChanges = []() -> std::unique_ptr<MachineWatch> { return std::make_unique<linuxpc::DeviceWatch>(); },
    // Windows asks the registered windows itself, and Linux has no such request.
    .AnswerRemovalRequests = [](const RemovalReceiver&) {},
    .InhibitSleep = linuxpc::InhibitSleep,
    .GetSystemPowerStatus = linuxpc::ReadPowerStatus,
};

}  // namespace

const MachineSource& LinuxPc() { return kLinuxPc; }

}  // namespace platform
