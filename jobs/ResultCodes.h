// Result codes of the transfer and deletion jobs: what the window hears of a failed step.
#pragma once

// A file could not be copied onto the unit with its size intact (the unit's files step).
constexpr int kUnitFileCopyFailed = 503;
// The transfer thread could not be started.
constexpr int kTransferStartFailed = 504;
// The control files could not be deciphered, read or checked.
constexpr int kControlFilesFailed = 506;
// The download folder lies outside the map folder, or holds a link (told as unreadable data).
constexpr int kDownloadFolderRefused = 506;
// The volume or master data failed its checks or its preparation.
constexpr int kMapDataFailed = 507;
// The image's 16-bit byte sum differs from the control data's.
constexpr int kImageSumMismatch = 508;
// The unit's update folders could not be created, or a data file not be copied onto them.
constexpr int kUpdateFolderFailed = 516;
constexpr int kDataFileCopyFailed = 516;
// The program update file could not be copied onto the unit.
constexpr int kProgramFileCopyFailed = 517;
// A CONF file could not be copied onto the unit.
constexpr int kConfFileCopyFailed = 518;
// An image piece could not be read, written or read back, or the boot signature not be
// rewritten.
constexpr int kImageWriteFailed = 519;
// A piece read back differs from what was written.
constexpr int kImageCompareFailed = 520;
// The deletion was not confirmed.
constexpr int kDeletionCancelled = 100;
// The deletion of a download failed.
constexpr int kDeletionFailed = 601;
