// The simulated PC and navigation unit, as a library: tests build their machines with it, the
// navisim command line drives it. Everything acts on the machine folder the platform uses
// (platform::MachineFolder()); InitMachine sets it. Text arguments are UTF-8. Failures throw
// std::runtime_error (std::invalid_argument for bad arguments). The header holds no non-ASCII
// literal: it is also compiled as CP932 by the program's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/UnitModel.h"

namespace navisim {

struct UnitOptions {
    std::string name = "navi";              // the unit's key in machine.ini
    std::string deviceId = "VT0000000001";  // text of DEVICE.DAT
    std::string version = "2010.0601";      // 9 characters, enciphered into CURRVER.DAT
    std::string versionName;                // MAP.VER, at most 12 bytes in CP932; empty: 2010年春版
    uint64_t imageSize = 1 << 20;           // the raw volume, whole sectors
    char letter = 'E';                      // taken when free, else the first free from D
    // A USB stick is two device nodes, as on Windows: the USB device (its service, instance ID
    // and status; the node that is ejected) and its child disk (the friendly name, its own
    // instance ID, service "disk" and the disk number).
    std::string friendlyName = platform::kNaviUnitModel.friendlyName;  // another one for tests
    std::string instanceId;      // the USB device's; empty: the unit's own, with its vendor/product IDs
    std::string diskInstanceId;  // the disk's; empty: the unit's own
    std::string service = "USBSTOR";
    std::string bus = "USB";  // the disk's bus (docs/device.md, Bus=): SD for a card in the PC's slot
    uint32_t sectorSize = platform::kNaviUnitModel.sectorSize;  // its disk's logical sectors (SectorSize=)
    uint32_t status = 0x6000;                                   // DN_DISABLEABLE | DN_REMOVABLE
    std::string label;                                          // empty: リムーバブル ディスク
    bool plugged = true;
};

// Writes a fresh machine.ini into folder (created) and makes it the platform's machine:
// C: a fixed disk with a volume, Z: the native root, and with withCdDrive a CD drive on D:.
void InitMachine(const std::filesystem::path& folder, bool withCdDrive);

// Creates the unit's folder (units/<name>): the raw volume image with valid boot signatures at
// 0 and 2,560, the identity files, and plugs it unless told not to.
void CreateUnit(const UnitOptions& options);

// Plugging in runs the unit's firmware first: when the last transfer completed (VERINFO.DAT in
// UPDATE\RENEWAL and no CANCEL.FLG in UPDATE\NAVIINFO) the unit takes that update's version,
// and on a formatted volume it re-creates DEVICE.DAT, CURRVER.DAT, MAP.VER and CANCEL.FLG.
// Then its device, volume and drive letter appear. Plugging a plugged unit does nothing.
void Plug(const std::string& unit);
// Its device, volume and letter go.
void Unplug(const std::string& unit);
// The volume stays, its letter goes.
void DropLetter(const std::string& unit);
// The PC's power: on its battery at `percent` (0-100), or on mains power (nullopt).
void SetBattery(std::optional<int> percent);
// The user's "safely remove" of a plugged unit: it goes at once when nothing holds its volume;
// otherwise the program holding it is asked (its front end answers at the device change) and
// the answer is "removed", "refused" or "in use" (platform/sim/Removal.h). Waits up to
// `patienceMs` (real time) for that answer; a holder that does not answer in time keeps the
// unit ("in use").
std::string RequestRemoval(const std::string& unit, uint32_t patienceMs);

// A process with that image name; its ID.
uint32_t AddProcess(const std::string& image);
// Ends the first process with that image name; false when there is none.
bool RemoveProcess(const std::string& image);

// Other parts of a PC that tests arrange: a drive of its own ("FD" drives, second units), a
// device without a unit, a volume without a letter. AddVolume gives its GUID path.
void AddDrive(char letter, uint32_t driveType, const std::string& displayName, const std::string& folder);
void AddDevice(const std::string& key, const std::string& friendlyName, const std::string& service,
               const std::string& instanceId, uint32_t status);
// With a bus (USB, SD, SATA, ...) the volume lies on a disk device "<key>.disk" on that bus.
std::string AddVolume(const std::string& key, uint32_t driveType, const std::string& label, const std::string& folder,
                      const std::string& image = {}, const std::string& bus = {});

// Faults the unit's raw volume shows (see docs/device.md); attempts -1 means for good.
struct Faults {
    std::optional<uint64_t> writeFailSector{};
    int writeFailAttempts = -1;
    std::optional<uint64_t> shortWriteSector{};
    int shortWriteAttempts = -1;
    bool lockRefused = false;
    // The system refuses this user the authorisation to lock the volume (a desktop user whose
    // polkit says no, or who has no polkit agent).
    bool lockAuthorisationRefused = false;
    // The call ("Lock", "Mount", "Eject", "Format") that waits on an authorisation prompt until
    // the faults are set again without it; empty for none.
    std::string promptWaiting{};
    std::optional<uint64_t> vanishAfterBytes{};
    // The unit loses its power once this many bytes have been written: the writes since its
    // last flush are lost, and it is gone until plugged in again.
    std::optional<uint64_t> powerCutAfterBytes{};
};
void SetFaults(const std::string& unit, const Faults& faults);
void ClearFaults(const std::string& unit);

// The unit's native places.
std::filesystem::path UnitFiles(const std::string& unit);  // what its drive shows
std::filesystem::path UnitImage(const std::string& unit);  // its raw volume
std::string UnitVolumeName(const std::string& unit);       // "\\?\Volume{...}\"

struct CheckReport {
    bool imageCompared = false;
    bool imageMatches = false;             // the volume starts with the image's bytes
    uint64_t firstDifference = 0;          // byte offset, when it does not
    bool bootSignature0 = false;           // 55 AA at 510-511
    bool bootSignature2560 = false;        // 55 AA at 2,560 + 510
    std::vector<std::string> updateFiles;  // "UPDATE/RENEWAL/VOLUME.DAT 1234", sorted
};
// Compares the unit's volume with imageFile (when given) and reports its state.
CheckReport Check(const std::string& unit, const std::optional<std::filesystem::path>& imageFile);
std::string Describe(const CheckReport& report);

}  // namespace navisim
