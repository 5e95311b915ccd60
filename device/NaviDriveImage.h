// The one raw handle to the unit's volume: open and lock, sector reads and writes at tracked
// positions, the boot-signature rewrite, mount points, the volume list and the format.
#pragma once

#include <cstdint>
#include <string>

#include "platform/UnitModel.h"
#include "state/NaviUnitState.h"

constexpr unsigned kSectorSize = platform::kNaviUnitModel.sectorSize;
constexpr unsigned kWritePieceBytes = 0x8000;

// The tries and waits of opening, locking and reopening the volume. DriveOpen and DriveClose
// wait in place (the job threads); the window runs the same steps with timers between them.
constexpr int kLockAttempts = 10;
constexpr uint32_t kLockPauseMs = 150;
constexpr int kReopenAttempts = 10;
constexpr uint32_t kReopenWaitMs = 5000;

// 0 opened and locked (or already open), 523 open failed, 522 lock failed,
// kAuthorisationRefused when the system would not let this user open the volume.
[[nodiscard]] int DriveOpen(IMAGE_POSITION* position);
// Unlocks, closes and waits until the volume can be opened again: DriveReopenWait's result.
[[nodiscard]] int DriveClose();
// Ten lock tries, kLockPauseMs apart: 0 or 522; kAuthorisationRefused at once when the system
// refused the authorisation (another try would only ask the user again).
[[nodiscard]] int DriveLock();
[[nodiscard]] int DriveUnlock();
// 0 the volume opens again (or no unit is known), 522 not in ten tries of 5 s.
[[nodiscard]] int DriveReopenWait();

// DriveOpen's steps. DriveOpenStart opens the volume and leaves it unlocked: 0, 523, or
// kDriveAlreadyOpen when a handle is held already.
constexpr int kDriveAlreadyOpen = -1;
[[nodiscard]] int DriveOpenStart(IMAGE_POSITION* position);
// One FSCTL_LOCK_VOLUME on the held handle, the `attempt`th of kLockAttempts.
[[nodiscard]] bool DriveLockTry(int attempt);
// Whether this thread's last DriveLockTry failed because the system refused the authorisation to
// open the volume (Linux: polkit said no, or no polkit agent runs to ask the user), not because
// another program holds the unit.
[[nodiscard]] bool DriveLockRefusedAuthorisation();
// Dismounts the locked volume: 0 or 522 (the handle stays held). Once dismounted the volume is
// held, and the main window watches the handle for the user's removal of the unit.
[[nodiscard]] int DriveDismount();
// DriveClose without the wait: unlock and close the held handle.
void DriveRelease();
// Closes the held handle, its removal watch ended first.
void CloseDriveHandle();
// DriveRelease for the system's removal of the unit: the handle is closed, and its watch stays
// until the removal has failed or gone through (DriveEndRemovalWatch), so that the window hears
// which.
void DriveReleaseForRemoval();
void DriveEndRemovalWatch(platform::HANDLE volume);
// True while DriveHandle is locked and dismounted: the unit is held, and only then may a
// transfer write to it.
[[nodiscard]] bool DriveHeld();
// Asks the held volume's device whether it is still there (IOCTL_STORAGE_CHECK_VERIFY2, when a
// handle is held), and the mount manager whether NaviDrive still names the unit's volume: a
// locked volume's files are out of reach, even for the process holding it, and a formatted
// one has no identity files.
[[nodiscard]] bool DriveStillThere();
// DriveReopenWait's steps: one open of a probe handle of its own (DriveHandle is left alone),
// kept until DriveReopenEnd. `opened` is true when it opened or no unit is known. DriveReopenEnd
// closes it and answers 0 when it had opened, 522 when it was the last of kReopenAttempts,
// else kReopenAgain.
constexpr int kReopenAgain = -1;
struct ReopenProbe {
    bool opened = false;
    platform::HANDLE handle = nullptr;
};
[[nodiscard]] ReopenProbe DriveReopenTry();
[[nodiscard]] int DriveReopenEnd(int attempt, const ReopenProbe& probe);
// Closes the probe of a reopen that will not be ended (its sequence was dropped) and empties it.
void DriveReopenAbandon(ReopenProbe* probe);
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
// The shell's format dialog for the unit's drive; 0 with no unit, else the shell's result. Any
// thread: the window runs it beside itself, since the format may wait on the user.
[[nodiscard]] int FormatNaviDrive();
