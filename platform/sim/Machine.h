// The simulated PC's description: the machine folder and its machine.ini (UTF-8). The platform
// reads it for every service that Windows would answer from the machine itself: drive letters,
// volumes, devices, processes. docs/device.md describes the sections.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Profile.h"
#include "platform/posix/MachineSource.h"

namespace platform {

// The parsed machine.ini (empty when there is none), reread whenever the file has changed.
ProfileDocument MachineDescription();
// A number that changes whenever machine.ini may have changed since the last call: one
// non-blocking read of an inotify watch on the machine folder. What the data path derives from
// the description (a volume's presence, a unit's faults) is kept until it changes. Take the
// number before reading the description, so a change in between is seen the next time.
uint64_t MachineGeneration();
// Reads, changes and rewrites machine.ini under a lock file of the machine folder, so that the
// program and navisim never lose each other's changes. Each rewrite is one device change, so a
// change that returns false leaves the file alone. True when the file was rewritten.
bool ModifyMachine(const std::function<bool(ProfileDocument&)>& change);
// The same for another file of the machine folder, under the same lock (not nested in
// ModifyMachine's change). Only machine.ini's rewrites are device changes.
bool ModifyMachineFile(const std::string& fileName, const std::function<bool(ProfileDocument&)>& change);

// Takes a unit off the machine: its devices, volumes and their letters; "[Unit <name>]" keeps
// Plugged=0. The eject request and a unit that vanishes mid-write both end here.
void RemoveUnit(ProfileDocument& doc, const std::string& unit);

// A machine-folder-relative or absolute native path made absolute.
std::string MachinePath(const std::string& value);

// One "[Volume <id>]" section. folder is the file view, image the raw volume (may be empty).
struct VolumeEntry {
    std::string id;
    std::string guidPath;  // "\\?\Volume{...}\"
    std::string folder;
    std::string image;
    uint32_t driveType = 0;
    std::string label;   // UTF-8
    std::string unit;    // the unit it belongs to, empty for the PC's own volumes
    std::string device;  // the "[Device <id>]" whose disk it lies on, empty when none is present
};

// Every volume in the order of machine.ini, which is the system's enumeration order.
std::vector<VolumeEntry> MachineVolumes(const ProfileDocument& doc);
std::optional<VolumeEntry> FindVolume(const ProfileDocument& doc, const std::string& id);
// The volume mounted at a letter ("[Drive X]" with Volume=).
std::optional<VolumeEntry> DriveVolume(const ProfileDocument& doc, char letter);

// The disk number of a present device ("[Device <id>]" with Disk=), nullopt when it has none.
std::optional<uint32_t> DeviceDisk(const ProfileDocument& doc, const std::string& deviceId);

// The logical sector size of a present device's disk ("[Device <id>]" with SectorSize=); 512,
// the common disk's, for a device that states none or no valid one, and for a volume on no
// device. A valid one is a power of two from 512 to 64 KiB. nullopt for SectorSize=untold: a
// disk that does not answer the question (its sectors are 512 bytes).
inline constexpr uint32_t kDefaultSectorSize = 512;
constexpr bool SectorSizeValid(uint64_t size) {
    return size >= kDefaultSectorSize && size <= 0x10000 && (size & (size - 1)) == 0;
}
std::optional<uint32_t> DeviceSectorSize(const ProfileDocument& doc, const std::string& deviceId);

// The bus of a present device's disk ("[Device <id>]" with Bus=: USB, SD, MMC, SATA, ATA, SCSI
// or NVMe, in any case) as a BusType value of platform/Volumes.h; BusTypeUnknown when it names
// none or another.
uint32_t DeviceBusType(const ProfileDocument& doc, const std::string& deviceId);

// The boot sector at the start of a raw image ends in 55 AA.
bool BootSignatureValid(const std::string& imagePath);

// The native folder behind a drive letter ("[Drive C]" with Folder=, or the folder of its
// volume), or nullopt when the machine has no such drive.
std::optional<std::string> DriveFolder(char letter);
// The free space a drive states ("[Drive X]" with FreeBytes=), so that a full disk can be tried
// out; nullopt when it states none and the file system behind it answers.
std::optional<uint64_t> DriveFreeBytes(char letter);
// False while the drive's volume has a raw image whose boot signature is cleared: the file
// system is then unrecognised, as on a volume whose boot sector was wiped.
bool DriveFormatted(char letter);
// True while a handle holds the lock of the drive's volume (FSCTL_LOCK_VOLUME, in any process):
// the volume is then reachable only through that handle, and file calls on its letter fail.
bool DriveLocked(char letter);
// The drive whose folder holds nativePath (the longest match) with that folder.
std::optional<std::pair<char, std::string>> DriveOfNativePath(const std::string& nativePath);

}  // namespace platform
