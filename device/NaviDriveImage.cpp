// The raw handle to the unit's volume at work: open, lock and reopen, sector runs at tracked
// positions with retries, the boot-signature rewrite, mount points, the volume list and the format.
#include "device/NaviDriveImage.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "base/Logger.h"
#include "base/Text.h"
#include "platform/Clock.h"
#include "platform/Debug.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/RawVolume.h"
#include "platform/View.h"
#include "platform/Volumes.h"

namespace {

static constexpr char kLogSource[] = ".\\NaviDriveImage";

constexpr int kAttempts = 10;

NaviUnitState& Navi() { return theApp.Navi; }

// The handle that DriveDismount locked and dismounted, until it closes.
std::atomic<platform::HANDLE> dismountedHandle{nullptr};
// The last lock try's error on this thread (the window's hold and the transfer lock apart).
thread_local uint32_t lastLockError = 0;

// "\\.\E:" from the first two characters of NaviDrive.
platform::HANDLE OpenRawVolume() {
    std::string device = Format("\\\\.\\%s", Navi().NaviDrive.substr(0, 2).c_str());
    return platform::CreateFileA(device.c_str(), platform::GENERIC_READ | platform::GENERIC_WRITE,
                                 platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE, nullptr,
                                 platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A seek from the start with the high half 0; false when the position could not be set.
bool SeekTo(platform::HANDLE handle, uint32_t offset) {
    int32_t high = 0;
    uint32_t result = platform::SetFilePointer(handle, static_cast<int32_t>(offset), &high, platform::FILE_BEGIN);
    return !(result == platform::INVALID_SET_FILE_POINTER && platform::GetLastError() != platform::ERROR_SUCCESS);
}

// One sector of RewriteSignature: read, put the signature in, write back with retries.
int RewriteSector(platform::HANDLE handle, uint32_t offset, const char* label, const unsigned char (&signature)[2]) {
    platform::RawBuffer buffer(platform::NewRawBuffer(kSectorSize + 1));
    if (!buffer) {
        VLOG(LOG_ERROR, "イメージ読込み用領域確保エラー");
        return kOutOfMemory;
    }
    if (!SeekTo(handle, offset)) return kSectorReadFailed;
    uint32_t read = 0;
    if (!platform::ReadFile(handle, buffer.get(), kSectorSize, &read, nullptr)) {
        VLOG(LOG_ERROR, "デバイス内のセクタ再読込みエラー[%d]", static_cast<int>(platform::GetLastError()));
        return kSectorReadFailed;
    }
    if (read != kSectorSize) {
        VLOG(LOG_ERROR, "デバイス内のセクタ再読込みレングスエラー");
        return kSectorReadFailed;
    }
    buffer[platform::kBootSignatureOffset] = signature[0];
    buffer[platform::kBootSignatureOffset + 1] = signature[1];
    VLOG(LOG_ERROR, "Signature Rewrite Start...[%s]", label);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!SeekTo(handle, offset)) return kSectorWriteFailed;
        uint32_t written = 0;
        bool ok = platform::WriteFile(handle, buffer.get(), kSectorSize, &written, nullptr);
        // A sector the volume did not take for good is not rewritten: the signature would be
        // reported restored on a volume that no file system can read.
        bool flushed = platform::FlushFileBuffers(handle);
        if (ok && written == kSectorSize && flushed) {
            VLOG(LOG_ERROR, "Signature Rewrite End...[%s]", label);
            return 0;
        }
        if (ok && flushed) {
            VLOG(LOG_ERROR, "Signature Rewrite Length Error");
        } else {
            VLOG(LOG_ERROR, "Retry[%d]", static_cast<int>(platform::GetLastError()));
        }
        platform::Sleep(1);
        if (attempt == 5) platform::Sleep(10);
    }
    VLOG(LOG_ERROR, "Signature Rewrite Retry Over[%d][%0x]", kAttempts, platform::GetLastError());
    return kSectorWriteFailed;
}

// The image is made of the model's sectors: a volume whose disk has sectors of another size
// would refuse them or take them at other places, so it is refused before anything is written.
// A disk that cannot tell its sector size is taken as the model's, as it always was.
bool SectorSizeFits(platform::HANDLE handle) {
    platform::DISK_GEOMETRY geometry;
    uint32_t returned = 0;
    if (!platform::DeviceIoControl(handle, platform::IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                                   sizeof geometry, &returned, nullptr)) {
        VLOG(LOG_ERROR, "セクタサイズ取得失敗[%d]", static_cast<int>(platform::GetLastError()));
        return true;
    }
    if (geometry.BytesPerSector == kSectorSize) return true;
    std::string text =
        Format("Veltrane: %s has %u-byte logical sectors; only %u-byte sectors can hold the unit's image",
               Navi().NaviDrive.substr(0, 2).c_str(), geometry.BytesPerSector, kSectorSize);
    VLOG(LOG_ERROR, "%s", text.c_str());
    platform::OutputDebugStringA(text.c_str());
    return false;
}

}  // namespace

int DriveOpenStart(IMAGE_POSITION* position) {
    VLOG(LOG_TRACE, "ドライブオープン開始[%s]", Navi().NaviDrive.c_str());
    if (Navi().DriveHandle != nullptr) return kDriveAlreadyOpen;
    *position = IMAGE_POSITION{};
    platform::HANDLE handle = OpenRawVolume();
    if (handle == platform::INVALID_HANDLE_VALUE) {
        VLOG(LOG_ERROR, "Atapiドライバのオープン失敗");
        Navi().DriveHandle = nullptr;
        return kVolumeOpenFailed;
    }
    if (!SectorSizeFits(handle)) {
        // A handle that neither read nor wrote: closing it loses nothing.
        (void)platform::CloseHandle(handle);
        return kVolumeOpenFailed;
    }
    Navi().DriveHandle = handle;
    uint32_t returned = 0;
    // Without it a write past the old file system's recorded end is cut short; the image is
    // verified sector by sector anyway, so a refusal only shows there.
    if (!platform::DeviceIoControl(handle, platform::FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, &returned,
                                   nullptr))
        VLOG(LOG_ERROR, "拡張DASD I/O設定失敗[%d]", static_cast<int>(platform::GetLastError()));
    // A fresh handle holds no lock: the unlock only clears one a crashed run may have left.
    (void)DriveUnlock();
    return 0;
}

bool DriveLockTry(int attempt) {
    if (attempt == 0) VLOG(LOG_TRACE, "ドライブロック開始");
    uint32_t returned = 0;
    bool locked = platform::DeviceIoControl(Navi().DriveHandle, platform::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0,
                                            &returned, nullptr);
    lastLockError = locked ? platform::ERROR_SUCCESS : platform::GetLastError();
    if (DriveLockRefusedAuthorisation()) VLOG(LOG_ERROR, "認証拒否[%u]", lastLockError);
    VLOG(LOG_ERROR, "ドライブロック");
    if (locked) {
        VLOG(LOG_TRACE, "ドライブロック終了");
    } else if (attempt == kLockAttempts - 1) {
        VLOG(LOG_ERROR, "ドライブロック失敗");
    }
    return locked;
}

bool DriveLockRefusedAuthorisation() { return lastLockError == platform::ERROR_ELEVATION_REQUIRED; }

int DriveDismount() {
    // The mounted file system would keep its old state across the raw write, and the update
    // files copied after it would land on clusters the new image uses.
    uint32_t returned = 0;
    if (!platform::DeviceIoControl(Navi().DriveHandle, platform::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0,
                                   &returned, nullptr)) {
        VLOG(LOG_ERROR, "ドライブアンマウント失敗[%d]", static_cast<int>(platform::GetLastError()));
        return kVolumeDismountFailed;
    }
    dismountedHandle = Navi().DriveHandle.load();
    // Without the watch the system's "safely remove" could only say that the unit is in use.
    if (platform::View* view = platform::CurrentView();
        view != nullptr && !view->WatchVolumeRemoval(platform::IDD_MAIN_WINDOW, Navi().DriveHandle))
        VLOG(LOG_ERROR, "取り外し通知登録失敗[%d]", static_cast<int>(platform::GetLastError()));
    return 0;
}

namespace {

// Forgets and closes the held handle; its removal watch ends first unless it is to outlive it.
void CloseHeldHandle(bool keepRemovalWatch) {
    platform::HANDLE handle = Navi().DriveHandle.exchange(nullptr);
    if (handle == nullptr) return;
    platform::HANDLE held = handle;
    dismountedHandle.compare_exchange_strong(held, nullptr);
    if (!keepRemovalWatch) DriveEndRemovalWatch(handle);
    // A close that fails leaves nothing to undo: the handle is forgotten either way.
    (void)platform::CloseHandle(handle);
}

}  // namespace

void DriveRelease() {
    VLOG(LOG_TRACE, "ドライブクローズ開始");
    // Closing the handle releases its lock anyway; the unlock only makes it explicit.
    (void)DriveUnlock();
    // Nothing waits in the handle: every write was flushed, and the reopen wait tells whether
    // the volume can be had again.
    CloseDriveHandle();
}

void CloseDriveHandle() { CloseHeldHandle(false); }

void DriveReleaseForRemoval() {
    VLOG(LOG_TRACE, "ドライブクローズ開始");
    (void)DriveUnlock();  // closing releases the lock anyway
    CloseHeldHandle(true);
}

void DriveEndRemovalWatch(platform::HANDLE volume) {
    if (platform::View* view = platform::CurrentView()) view->StopWatchingVolumeRemoval(volume);
}

bool DriveHeld() {
    platform::HANDLE handle = Navi().DriveHandle;
    return handle != nullptr && handle == dismountedHandle.load();
}

bool DriveStillThere() {
    uint32_t returned = 0;
    if (Navi().DriveHandle != nullptr &&
        !platform::DeviceIoControl(Navi().DriveHandle, platform::IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, nullptr, 0,
                                   &returned, nullptr)) {
        VLOG(LOG_ERROR, "ドライブ確認失敗[%d]", static_cast<int>(platform::GetLastError()));
        return false;
    }
    // The mount manager answers for the letter without the file system: it still names the volume.
    char name[260] = {};
    return platform::GetVolumeNameForVolumeMountPointA(Navi().NaviDrive.c_str(), name, sizeof name) &&
           Navi().NaviVolumeName == name;
}

ReopenProbe DriveReopenTry() {
    if (Navi().NaviDrive.empty()) return {true, nullptr};
    platform::HANDLE handle = OpenRawVolume();
    if (handle == platform::INVALID_HANDLE_VALUE) return {};
    return {true, handle};
}

void DriveReopenAbandon(ReopenProbe* probe) {
    // A probe handle that never read or wrote: closing it cannot lose anything.
    if (probe->handle != nullptr) (void)platform::CloseHandle(probe->handle);
    *probe = {};
}

int DriveReopenEnd(int attempt, const ReopenProbe& probe) {
    ReopenProbe closed = probe;
    DriveReopenAbandon(&closed);
    if (probe.opened) return 0;
    VLOG(LOG_ERROR, "Atapiドライバのオープンリトライ");
    if (attempt < kReopenAttempts - 1) return kReopenAgain;
    VLOG(LOG_ERROR, "Atapiドライバのオープン失敗");
    return kVolumeNotBack;
}

int DriveOpen(IMAGE_POSITION* position) {
    if (int started = DriveOpenStart(position); started != 0) return started == kDriveAlreadyOpen ? 0 : started;
    if (int locked = DriveLock(); locked != 0) {
        VLOG(LOG_ERROR, "デバイスロック失敗");
        // The lock failure is what the caller hears; the reopen wait only lets the volume settle.
        (void)DriveClose();
        return locked;
    }
    if (DriveDismount() != 0) {
        // The dismount failure is what the caller hears.
        (void)DriveClose();
        return kVolumeDismountFailed;
    }
    return 0;
}

int DriveClose() {
    DriveRelease();
    return DriveReopenWait();
}

int DriveLock() {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        if (attempt > 0) platform::Sleep(kLockPauseMs);
        if (DriveLockTry(attempt)) return 0;
        if (DriveLockRefusedAuthorisation()) return kAuthorisationRefused;
    }
    return kVolumeLockFailed;
}

int DriveUnlock() {
    VLOG(LOG_TRACE, "ドライブアンロック開始");
    uint32_t returned = 0;
    if (!platform::DeviceIoControl(Navi().DriveHandle, platform::FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned,
                                   nullptr)) {
        VLOG(LOG_ERROR, "ドライブアンロック失敗");
        return kVolumeUnlockFailed;
    }
    VLOG(LOG_TRACE, "ドライブアンロック終了");
    return 0;
}

int DriveReopenWait() {
    if (Navi().NaviDrive.empty()) return 0;
    for (int attempt = 0;; ++attempt) {
        const ReopenProbe probe = DriveReopenTry();
        platform::Sleep(kReopenWaitMs);
        if (int result = DriveReopenEnd(attempt, probe); result != kReopenAgain) return result;
    }
}

int ReadImageData(unsigned count, IMAGE_POSITION* position, unsigned char* buffer) {
    platform::HANDLE handle = Navi().DriveHandle;
    if (!SeekTo(handle, position->readPosition)) return kSectorReadFailed;
    uint32_t size = count * kSectorSize;
    uint32_t read = 0;
    if (!platform::ReadFile(handle, buffer, size, &read, nullptr)) {
        VLOG(LOG_ERROR, "イメージデータ読込みエラー[%d]", static_cast<int>(platform::GetLastError()));
        return kSectorReadFailed;
    }
    if (read < size) {
        VLOG(LOG_ERROR, "イメージデータ読込みレングスエラー");
        return kSectorReadFailed;
    }
    position->readPosition += read;
    return 0;
}

int WriteImageData(unsigned count, IMAGE_POSITION* position, const unsigned char* data) {
    platform::HANDLE handle = Navi().DriveHandle;
    uint32_t total = count * kSectorSize;
    uint32_t done = 0;
    while (done < total) {
        uint32_t piece = std::min(total - done, kWritePieceBytes);
        int attempt = 0;
        for (;; ++attempt) {
            if (attempt == kAttempts) {
                VLOG(LOG_ERROR, "イメージデータ書込みエラー[リトライ=%d]", kAttempts);
                return kSectorWriteFailed;
            }
            if (!SeekTo(handle, position->writePosition)) return kSectorWriteFailed;
            uint32_t written = 0;
            bool ok = platform::WriteFile(handle, data + done, piece, &written, nullptr);
            // A failed flush is a failed attempt like a failed write: its error is the last one.
            bool flushed = platform::FlushFileBuffers(handle);
            if (ok && written == piece && flushed) break;
            if (ok && flushed) {
                VLOG(LOG_ERROR, "イメージデータ書込みレングスエラー");
            } else {
                VLOG(LOG_ERROR, "リトライ[%d]", static_cast<int>(platform::GetLastError()));
            }
            platform::Sleep(1);
            if (attempt == 5) platform::Sleep(10);
        }
        position->writePosition += piece;
        done += piece;
    }
    return 0;
}

int RewriteSignature(unsigned skip, int mode) {
    if (skip != 0) return 0;
    platform::HANDLE handle = Navi().DriveHandle;
    if (handle == platform::INVALID_HANDLE_VALUE) {
        VLOG(LOG_ERROR, "Atapiドライバのオープン失敗");
        Navi().DriveHandle = nullptr;
        return kVolumeOpenFailed;
    }
    const unsigned char signature[2] = {static_cast<unsigned char>(mode == 1 ? 0x55 : 0x00),
                                        static_cast<unsigned char>(mode == 1 ? 0xAA : 0x00)};
    const uint32_t(&bootSectors)[2] = platform::kNaviUnitModel.bootSectorOffsets;
    if (int result = RewriteSector(handle, bootSectors[0], "Sector[ 0 ]", signature)) return result;
    return RewriteSector(handle, bootSectors[1], "Sector[ 6 ]", signature);
}

int MountDrive(const std::string& mountPoint, const std::string& volumeName) {
    if (!platform::SetVolumeMountPointA(mountPoint.c_str(), volumeName.c_str())) {
        VLOG(LOG_ERROR, "マウントエラー");
        // The mount failure is what the caller hears.
        (void)DriveClose();
        return kMountFailed;
    }
    return 0;
}

int UnmountDrive(const std::string& mountPoint) {
    if (!platform::DeleteVolumeMountPointA(mountPoint.c_str())) {
        VLOG(LOG_ERROR, "アンマウントエラー");
        // The unmount failure is what the caller hears.
        (void)DriveClose();
        return kUnmountFailed;
    }
    return 0;
}

int EnumVolumes() {
    Navi().LetterlessVolumes.clear();
    char name[260] = {};
    platform::HANDLE find = platform::FindFirstVolumeA(name, sizeof name);
    if (find == platform::INVALID_HANDLE_VALUE) return 0;
    do {
        Navi().LetterlessVolumes.push_back(name);
    } while (platform::FindNextVolumeA(find, name, sizeof name));
    // The list is complete; a search handle that does not close holds nothing of the unit.
    (void)platform::FindVolumeClose(find);
    return 0;
}

int FormatNaviDrive() {
    if (Navi().NaviDrive.empty()) return 0;
    platform::View* view = platform::CurrentView();
    if (view == nullptr) return static_cast<int>(platform::SHFMT_ERROR);
    uint32_t result = view->FormatDrive(Navi().NaviDrive[0]);
    if (result == 0) Navi().ImageWritePending = 0;
    return static_cast<int>(result);
}
