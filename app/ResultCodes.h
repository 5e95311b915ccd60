// The message kinds the window shows for its own checks before it starts a job or a command.
#pragma once

// The download folder's drive lacks the space the offer needs.
constexpr int kNotEnoughSpace = 400;
// The set the description announces is larger than the free space of the map folder's drive.
constexpr int kSetLargerThanFreeSpace = 405;
// The transfer button with no record checked.
constexpr int kNoDataSelected = 500;
// The unit is not connected, or not held by the window.
constexpr int kUnitNotConnected = 501;
// The checked record is not the offer's version.
constexpr int kDataNameMismatch = 524;
// The checked record's download has not completed.
constexpr int kDownloadIncomplete = 525;
// The checked record's download folder is gone.
constexpr int kDownloadFolderMissing = 534;
// The set of a cut-off transfer is no longer on the PC: it must be downloaded again.
constexpr int kRecordedSetMissing = 536;
// The deletion button with no record checked.
constexpr int kNothingChecked = 600;
// Start-up could not go on (the libraries, the device-change watcher).
constexpr int kStartupFailed = 801;
// A competing process holds the unit.
constexpr int kCompetingProcess = 1200;
// The unit could not be removed.
constexpr int kRemovalFailed = 2100;
