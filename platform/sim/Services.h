// The simulated machine's side of the platform's calls, answered from machine.ini; the table in
// SimulatedMachine.cpp hands them to the platform (platform/posix/MachineSource.h says what
// each one answers).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/MachineSource.h"

namespace platform::sim {

// Drives.cpp
uint32_t GetLogicalDrives();
uint32_t GetDriveType(const char* rootPath);
std::optional<std::string> DriveDisplayName(char letter);
std::optional<std::string> DriveRoot(char letter);
// Volumes.cpp
std::optional<std::string> VolumeNameOfLetter(char letter);
std::vector<std::string> VolumeNames();
uint32_t VolumeBusType(const char* volumeName, uint32_t* busType);
uint32_t SetVolumeMountPoint(char letter, const char* volumeName);
uint32_t DeleteVolumeMountPoint(char letter);
// RawVolume.cpp
HANDLE OpenRawVolume(char letter, uint32_t desiredAccess, uint32_t shareMode);
bool DeviceIoControl(HANDLE device, uint32_t controlCode, void* outBuffer, uint32_t outSize, uint32_t* bytesReturned);
uint32_t SetFilePointer(HANDLE file, int32_t distance, int32_t* distanceHigh, uint32_t moveMethod);
bool ReadFile(HANDLE file, void* buffer, uint32_t size, uint32_t* bytesRead);
bool WriteFile(HANDLE file, const void* buffer, uint32_t size, uint32_t* bytesWritten);
bool FlushFileBuffers(HANDLE file);
// Devices.cpp
HDEVINFO DevicesPresent();
bool DeviceProperty(DEVINST device, uint32_t property, uint32_t* propertyRegDataType, uint8_t* buffer, uint32_t size,
                    uint32_t* requiredSize);
bool GetDeviceDiskNumber(DEVINST device, uint32_t* diskNumber);
CONFIGRET GetDevNodeStatus(uint32_t* status, uint32_t* problemNumber, DEVINST device);
CONFIGRET GetParent(DEVINST* parent, DEVINST device);
CONFIGRET GetChild(DEVINST* child, DEVINST device);
CONFIGRET GetDeviceId(DEVINST device, char* buffer, uint32_t size);
CONFIGRET RequestEject(DEVINST device, int* vetoType, char* vetoName, uint32_t nameLength);
// Format.cpp
uint32_t FormatDrive(char letter);
// DeviceChange.cpp
std::unique_ptr<MachineWatch> WatchChanges();
// Removal.cpp
void AnswerRemovalRequests(const RemovalReceiver& receiver);

}  // namespace platform::sim
