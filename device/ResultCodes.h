// Result codes of the navigation unit: its version, its raw volume, its drive letter and its
// removal.
#pragma once

// NaviVersionCheck: the unit already holds this version or a newer one.
constexpr int kUnitNotOlder = 505;
// The unit's CURRVER.DAT is too short to hold its IV.
constexpr int kVersionFileTooShort = 803;
// GetDeviceId failed outright.
constexpr int kDeviceIdFailed = 805;
// The raw volume could not be opened, or its volume name not be read.
constexpr int kVolumeOpenFailed = 523;
constexpr int kVolumeNameFailed = 523;
// The raw volume could not be locked, unlocked or dismounted, or did not open again in time.
constexpr int kVolumeLockFailed = 522;
constexpr int kVolumeUnlockFailed = 522;
constexpr int kVolumeDismountFailed = 522;
constexpr int kVolumeNotBack = 522;
// The system refused this user the authorisation to open the unit's volume: an administrator's
// authorisation is needed, and on Linux a polkit agent must run to ask for it.
constexpr int kAuthorisationRefused = 526;
// A run of sectors could not be read or written (after the retries).
constexpr int kSectorReadFailed = 803;
constexpr int kSectorWriteFailed = 804;
// A mount point could not be set or removed.
constexpr int kMountFailed = 511;
constexpr int kUnmountFailed = 512;
// The device list could not be taken, or an eject request failed.
constexpr int kEjectFailed = 515;
// MountNaviVolume: a free letter was there but the volume would not take it.
constexpr int kRecoveryMountFailed = 1100;
// MountNaviVolume: the remembered volume found no free letter.
constexpr int kRecoveryNoFreeLetter = 1101;
// MountNaviVolume: no letterless removable volume, or none of them was the unit.
constexpr int kRecoveryNoUnitVolume = 1102;
// MountNaviVolume: every volume has a letter.
constexpr int kRecoveryNoLetterlessVolume = 1103;
// The transfer record could not be written or removed, or names no unit.
constexpr int kTransferRecordFailed = 519;
