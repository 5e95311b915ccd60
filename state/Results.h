// Every result code of the program, by number. A result is 0 for success or a number that is
// also the message kind the user sees; its row in state/ResultTable.cpp gives its box, its short
// code and a failed transfer's code. Logs, messages and the service's reports carry the number,
// so it stays. Several causes may share a number, and so a box: each cause has its own name. Beside
// these, a service call's result may be an HTTP status of 400 and above (net/Http.h).
#pragma once

// The deletion was not confirmed.
constexpr int kDeletionCancelled = 100;

// The download folder's drive lacks the space the offer needs.
constexpr int kNotEnoughSpace = 400;

// The description or the line test could not be fetched or kept, or a map file not be written.
constexpr int kDownloadFailed = 401;

// A digest that could not be computed, or a file whose digest differs from the expected one.
constexpr int kDigestFailed = 402;

// A map file's local file could not be created.
constexpr int kLocalFileOpenFailed = 404;

// The set the description announces is larger than the free space of the map folder's drive.
constexpr int kSetLargerThanFreeSpace = 405;

// A map file could not be opened or read on the line; also a description past the bounds of its
// fields or entries, or a map file larger than the whole set the description announces.
constexpr int kTransferFailed = 406;

// The download stopped on request (pause or exit).
constexpr int kDownloadStopped = 450;

// The transfer button with no record checked.
constexpr int kNoDataSelected = 500;

// The unit is not connected, or not held by the window.
constexpr int kUnitNotConnected = 501;

// A file could not be copied onto the unit with its size intact (the unit's files step).
constexpr int kUnitFileCopyFailed = 503;

// The transfer thread could not be started.
constexpr int kTransferStartFailed = 504;

// NaviVersionCheck: the unit already holds this version or a newer one.
constexpr int kUnitNotOlder = 505;

// The control files could not be deciphered, read or checked.
constexpr int kControlFilesFailed = 506;

// The download folder lies outside the map folder, or holds a link (told as unreadable data).
constexpr int kDownloadFolderRefused = 506;

// A CRC-16 that differs from the one the control data lists.
constexpr int kCrcMismatch = 507;

// The volume or master data failed its checks or its preparation.
constexpr int kMapDataFailed = 507;

// The image's 16-bit byte sum differs from the control data's.
constexpr int kImageSumMismatch = 508;

// A mount point could not be set.
constexpr int kMountFailed = 511;

// A mount point could not be removed.
constexpr int kUnmountFailed = 512;

// The device list could not be taken, or an eject request failed.
constexpr int kEjectFailed = 515;

// The unit's update folders could not be created, or a data file not be copied onto them.
constexpr int kUpdateFolderFailed = 516;
constexpr int kDataFileCopyFailed = 516;

// The program update file could not be copied onto the unit.
constexpr int kProgramFileCopyFailed = 517;

// A CONF file could not be copied onto the unit.
constexpr int kConfFileCopyFailed = 518;

// The transfer record could not be written or removed, or names no unit.
constexpr int kTransferRecordFailed = 519;

// An image piece could not be read, written or read back, or the boot signature not be
// rewritten.
constexpr int kImageWriteFailed = 519;

// A piece read back differs from what was written.
constexpr int kImageCompareFailed = 520;

// The raw volume could not be locked, unlocked or dismounted, or did not open again in time.
constexpr int kVolumeLockFailed = 522;
constexpr int kVolumeUnlockFailed = 522;
constexpr int kVolumeDismountFailed = 522;
constexpr int kVolumeNotBack = 522;

// The raw volume could not be opened, or its volume name not be read.
constexpr int kVolumeOpenFailed = 523;
constexpr int kVolumeNameFailed = 523;

// The checked record is not the offer's version.
constexpr int kDataNameMismatch = 524;

// The checked record's download has not completed.
constexpr int kDownloadIncomplete = 525;

// The system refused this user the authorisation to open the unit's volume: an administrator's
// authorisation is needed, and on Linux a polkit agent must run to ask for it.
constexpr int kAuthorisationRefused = 526;

// The checked record's download folder is gone.
constexpr int kDownloadFolderMissing = 534;

// The set of a cut-off transfer is no longer on the PC: it must be downloaded again.
constexpr int kRecordedSetMissing = 536;

// The deletion button with no record checked.
constexpr int kNothingChecked = 600;

// The deletion of a download failed.
constexpr int kDeletionFailed = 601;

// A caught exception, or a system service that failed outright: the system error message.
constexpr int kSystemError = 800;

// Start-up could not go on (the libraries, the device-change watcher).
constexpr int kStartupFailed = 801;

// No memory for a buffer.
constexpr int kOutOfMemory = 802;

// The program's internet session could not be created.
constexpr int kHttpNoSession = 802;

// FileRead: the file could not be opened or read.
constexpr int kFileReadFailed = 803;

// A control file outside the bounds its format implies (counts, sizes, names).
constexpr int kControlFileMalformed = 803;

// The first image piece is shorter than its enciphered start.
constexpr int kImagePieceTooShort = 803;

// A piece of the joined map data could not be created or opened for joining.
constexpr int kJoinFileOpenFailed = 803;

// The unit's CURRVER.DAT is too short to hold its IV.
constexpr int kVersionFileTooShort = 803;

// A run of sectors could not be read (after the retries).
constexpr int kSectorReadFailed = 803;

// FileWrite: the file could not be created or written.
constexpr int kFileWriteFailed = 804;

// The master data step failed outright (an exception, or a read or write while joining).
constexpr int kMasterDataFailed = 804;

// A run of sectors could not be written (after the retries).
constexpr int kSectorWriteFailed = 804;

// GetDeviceId failed outright.
constexpr int kDeviceIdFailed = 805;

// A copy, restore or extraction of a delivered map data file failed.
constexpr int kMapDataCopyFailed = 807;

// DownloadFolderCreate: the download folder or one of its sub-folders could not be created.
constexpr int kFolderCreateFailed = 811;

// The request could not be sent or its reply not be read.
constexpr int kHttpTransportError = 900;

// The version name names a folder the service chose; anything else is the service's fault.
constexpr int kServiceRefused = 901;

// The line test found the line slow: the user is asked whether to go on.
constexpr int kSlowLine = 902;

// MountNaviVolume: a free letter was there but the volume would not take it.
constexpr int kRecoveryMountFailed = 1100;

// MountNaviVolume: the remembered volume found no free letter.
constexpr int kRecoveryNoFreeLetter = 1101;

// MountNaviVolume: no letterless removable volume, or none of them was the unit.
constexpr int kRecoveryNoUnitVolume = 1102;

// MountNaviVolume: every volume has a letter.
constexpr int kRecoveryNoLetterlessVolume = 1103;

// A competing process holds the unit.
constexpr int kCompetingProcess = 1200;

// The unit could not be removed.
constexpr int kRemovalFailed = 2100;

// The user declined the proxy-credential prompt.
constexpr int kHttpProxyDeclined = 9000;
