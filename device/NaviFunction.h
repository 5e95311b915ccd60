// Finding the navigation unit among the PC's devices, its drive letter, its identity and
// version, the competing media player, and the eject request. User-interface thread only.
#pragma once

#include <string>

#include "platform/Devices.h"

// 0 unit found (or busy with a job), 1 no usable unit, 800 exception. Posts code 15 when found.
[[nodiscard]] int NaviConnectCheck();
// 0 root of the unit's drive written, 1 none, 800 exception.
[[nodiscard]] int GetDrive(std::string* root);
// GetDrive with the unit's device instance ID, and whether it is the unit the transfer record
// names (found then even without a file system on its volume).
[[nodiscard]] int GetUnitDrive(std::string* root, std::string* instanceId, bool* recorded);
// 1 the root's letter is a present drive (type and display name written), 0 not, 800.
[[nodiscard]] int GetDriveInfo(const std::string& root, unsigned* driveType, std::string* displayName);
// GetDriveInfo of the letter's root; 0 (free letter) writes that root.
[[nodiscard]] int CheckDriveNo(char letter, std::string* root);
[[nodiscard]] int GetNaviVersion(std::string* version);
[[nodiscard]] int GetNaviVersionName(std::string* versionName);
// 0 the download is newer than the unit's version, 505 it is not.
[[nodiscard]] int NaviVersionCheck(const std::string& downloadVersion);
[[nodiscard]] int GetDeviceId(std::string* deviceId);
[[nodiscard]] int CheckCompetingProcess();
// Ejects the USB device above the disk that holds the unit's volume: 0, or 515 when the device
// list is unavailable, no device matched, or the eject was refused. It waits in place; the
// window takes the same steps with timers between them.
[[nodiscard]] int RemoveNaviUsb();
// RemoveNaviUsb's steps: the unit's USB device (0, or 515 as above), then after kEjectWaitMs
// one eject request at a time (true ejected; a veto is logged), up to kEjectRequests of them
// kEjectRetryMs apart: Explorer, AutoPlay or a virus scanner may hold the volume a moment longer.
constexpr uint32_t kEjectWaitMs = 5000;
constexpr int kEjectRequests = 4;
constexpr uint32_t kEjectRetryMs = 500;
[[nodiscard]] int FindUnitUsbDevice(platform::DEVINST* device);
[[nodiscard]] bool RequestUnitEject(platform::DEVINST device);
[[nodiscard]] int GetNaviVolumeName();
[[nodiscard]] int RecordMountVolume();
