// The seam between the Linux program and the PC it runs on. The PC's drives, volumes, raw
// volumes, devices, format, device changes and power come from one of two sources: the
// simulated machine (platform/sim, machine.ini in the machine folder) or the real Linux PC
// (platform/linux). Each is one table of these calls; the platform's calls (posix/) take the
// checks both share and hand the rest to CurrentMachine(), the source ChooseMachine() chose.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/DeviceChange.h"
#include "platform/Devices.h"
#include "platform/Handle.h"
#include "platform/Power.h"
#include "platform/posix/KernelObject.h"

namespace platform {

// $VELTRANE_MACHINE, else ~/.local/share/veltrane/machine; tests set their own.
std::string MachineFolder();
void SetMachineFolder(const std::string& nativeFolder);
std::string MachineIniPath();
// Chooses the source once, as the process starts: the simulated machine when the machine folder
// holds a machine.ini (the demo, the tests), else the real PC. Asked again, it chooses again (a
// test that sets another machine folder or writes machine.ini, as a restart would).
void ChooseMachine();
// Whether the source chosen is the simulated machine.
bool MachineSimulated();

// What wakes a device-change watcher: a descriptor readable while a change is pending.
class MachineWatch {
public:
    virtual ~MachineWatch() = default;
    // -1 when watching failed.
    virtual int Fd() const = 0;
    // Takes the pending events without waiting; true when the machine changed.
    [[nodiscard]] virtual bool Consume() = 0;
};

// One source's calls. Letters are upper case and checked; each call sets the last error as the
// platform call it serves does.
struct MachineSource {
    // Drives.h: the letter mask, a root's or volume GUID path's type, and a drive's display
    // name (UTF-8), nullopt when there is no such drive.
    uint32_t (*GetLogicalDrives)();
    uint32_t (*GetDriveType)(const char* rootPath);
    std::optional<std::string> (*DriveDisplayName)(char letter);
    // Paths.h: the native folder of a drive other than Z:, nullopt with the last error set;
    // the drive whose folder holds a native path, with that folder.
    std::optional<std::string> (*DriveRoot)(char letter);
    std::optional<std::pair<char, std::string>> (*DriveOfNativePath)(const std::string& nativePath);
    // Files.h: whether a copy onto a drive other than Z: is written through to the device; the
    // free space a drive states instead of its file system's; a file just written on a drive.
    bool copiesWriteThrough;
    std::optional<uint64_t> (*StatedFreeBytes)(char letter);
    void (*FileWritten)(const std::string& nativePath);
    // Volumes.h: a letter's volume GUID path, every volume's in order; a letter set or taken
    // away (the error, ERROR_SUCCESS when done).
    std::optional<std::string> (*VolumeNameOfLetter)(char letter);
    std::vector<std::string> (*VolumeNames)();
    // The bus of a volume's disk (BusType values of Volumes.h): ERROR_SUCCESS with it, or the error.
    uint32_t (*VolumeBusType)(const char* volumeName, uint32_t* busType);
    uint32_t (*SetVolumeMountPoint)(char letter, const char* volumeName);
    uint32_t (*DeleteVolumeMountPoint)(char letter);
    // RawVolume.h: "\\.\X:" opened; the calls on a handle go to the source that opened it.
    HANDLE (*OpenRawVolume)(char letter, uint32_t desiredAccess, uint32_t shareMode);
    bool (*DeviceIoControl)(HANDLE device, uint32_t controlCode, void* outBuffer, uint32_t outSize,
                            uint32_t* bytesReturned);
    uint32_t (*SetFilePointer)(HANDLE file, int32_t distance, int32_t* distanceHigh, uint32_t moveMethod);
    bool (*ReadFile)(HANDLE file, void* buffer, uint32_t size, uint32_t* bytesRead);
    bool (*WriteFile)(HANDLE file, const void* buffer, uint32_t size, uint32_t* bytesWritten);
    bool (*FlushFileBuffers)(HANDLE file);
    // Devices.h: the devices present (a device set's properties go to the source that made it),
    // and a device instance's facts and eject.
    HDEVINFO (*DevicesPresent)();
    bool (*DeviceProperty)(DEVINST device, uint32_t property, uint32_t* propertyRegDataType, uint8_t* buffer,
                           uint32_t size, uint32_t* requiredSize);
    bool (*GetDeviceDiskNumber)(DEVINST device, uint32_t* diskNumber);
    CONFIGRET (*GetDevNodeStatus)(uint32_t* status, uint32_t* problemNumber, DEVINST device);
    CONFIGRET (*GetParent)(DEVINST* parent, DEVINST device);
    CONFIGRET (*GetChild)(DEVINST* child, DEVINST device);
    CONFIGRET (*GetDeviceId)(DEVINST device, char* buffer, uint32_t size);
    CONFIGRET (*RequestEject)(DEVINST device, int* vetoType, char* vetoName, uint32_t nameLength);
    // Format.h: FormatDrive's answer.
    uint32_t (*FormatDrive)(char letter);
    // DeviceChange.h: the watch a watcher is made with, and the removals the user asked for.
    std::unique_ptr<MachineWatch> (*WatchChanges)();
    void (*AnswerRemovalRequests)(const RemovalReceiver& receiver);
    // Power.h: a sleep inhibitor's descriptor (-1: none), and the power source.
    int (*InhibitSleep)();
    bool (*GetSystemPowerStatus)(SYSTEM_POWER_STATUS* status);
};

const MachineSource& SimulatedMachine();  // platform/sim
const MachineSource& LinuxPc();           // platform/linux
// The source chosen, without looking at the file system; a call before any choice chooses.
// Asked where a call starts something; a handle and a device set keep the source they came from.
const MachineSource& CurrentMachine();

// A raw volume handle of either source, and the source that opened it.
class RawVolumeObject : public KernelObject {
public:
    const MachineSource* source = nullptr;
};

}  // namespace platform
