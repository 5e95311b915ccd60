// The one raw handle to the unit's volume: open and lock, sector reads and writes at tracked
// positions, the boot-signature rewrite, mount points, the volume list and the format.
#pragma once

#include <string>

#include "state/NaviUnitState.h"

constexpr unsigned kSectorSize = 512;
constexpr unsigned kWritePieceBytes = 0x8000;

// 0 opened and locked (or already open), 523 open failed, 522 lock failed.
[[nodiscard]] int DriveOpen(IMAGE_POSITION* position);
// Unlocks, closes and waits until the volume can be opened again: DriveReopenWait's result.
[[nodiscard]] int DriveClose();
[[nodiscard]] int DriveLock();
[[nodiscard]] int DriveUnlock();
// 0 the volume opens again (or no unit is known), 522 not in ten tries of 5 s.
[[nodiscard]] int DriveReopenWait();
// count sectors at the read position into buffer: 0 or 803.
[[nodiscard]] int ReadImageData(unsigned count, IMAGE_POSITION* position, unsigned char* buffer);
// count sectors from data at the write position, in pieces of 32 KiB with retries: 0 or 804.
[[nodiscard]] int WriteImageData(unsigned count, IMAGE_POSITION* position, const unsigned char* data);
// Boot-signature word of the sectors at 0 and 2,560: mode 1 restores 55 AA, others clear it.
// A non-zero skip does nothing.
[[nodiscard]] int RewriteSignature(unsigned skip, int mode);
[[nodiscard]] int MountDrive(const std::string& mountPoint, const std::string& volumeName);
[[nodiscard]] int UnmountDrive(const std::string& mountPoint);
// Every volume of the system into LetterlessVolumes; always 0.
int EnumVolumes();
// The shell's format dialog for the unit's drive; 0 with no unit, else the shell's result.
[[nodiscard]] int FormatNaviDrive();
