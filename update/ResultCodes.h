// Result codes of the update's preparation on the PC: the control files and the map data.
#pragma once

// A CRC-16 that differs from the one the control data lists.
constexpr int kCrcMismatch = 507;
// A control file outside the bounds its format implies (counts, sizes, names).
constexpr int kControlFileMalformed = 803;
// The first image piece is shorter than its enciphered start.
constexpr int kImagePieceTooShort = 803;
// A piece of the joined map data could not be created or opened for joining.
constexpr int kJoinFileOpenFailed = 803;
// A copy, restore or extraction of a delivered map data file failed.
constexpr int kMapDataCopyFailed = 807;
// The master data step failed outright (an exception, or a read or write while joining).
constexpr int kMasterDataFailed = 804;
