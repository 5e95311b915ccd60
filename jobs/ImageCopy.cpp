// The disk image written onto the unit's raw volume piece by piece, each piece read back and
// compared, the whole checked against its 16-bit byte sum. The boot signature stays cleared
// from the first piece on, so the unit never takes a half-written image for a volume.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "common/ResultCodes.h"
#include "device/ResultCodes.h"
#include "jobs/ResultCodes.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "device/NaviDriveImage.h"
#include "jobs/TransferJob.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/RawVolume.h"
#include "update/Crc16.h"
#include "update/FileBuffer.h"
#include "update/MapData.h"
#include "update/ResultCodes.h"

namespace {

static constexpr char kLogSource[] = ".\\NaviFunction";

constexpr uint32_t kPiecePauseMilliseconds = 50;
// The CRC pre-pass's read block: well inside a core's second-level cache.
constexpr size_t kCrcBlockBytes = 128 * 1024;
// The read-back goes a block at a time, each compared and summed while it is in that cache.
constexpr uint32_t kReadBackBytes = 128 * 1024;
static_assert(kReadBackBytes % kSectorSize == 0);
// The raw positions are 32-bit: nothing may be written at or beyond 4 GiB.
constexpr uint64_t kReachableBytes = uint64_t{1} << 32;

enum SignatureMode { kRestore = 1, kClear = 2 };

std::string LocalTimeText() {
    platform::SYSTEMTIME now;
    platform::GetLocalTime(&now);
    return Format("%02d:%02d:%02d", now.wHour, now.wMinute, now.wSecond);
}

std::string PieceName(int index) { return Format("%s.%03d", ImageBaseName.c_str(), index); }

// Every piece is checked against its file and the volume before the first byte is written: a
// piece the control data describes wrongly must not leave the unit half overwritten.
bool PiecesFit(const CONFIG_RECORD_SLOT& record, const std::string& folder) {
    uint64_t end = theApp.Navi.ImagePosition.writePosition;
    for (int i = 0; i < ItemCount(record); ++i) {
        if (static_cast<size_t>(i) >= record.items.size()) {
            VLOG(LOG_ERROR, "イメージ分割データエラー[%d]", i);
            return false;
        }
        const uint32_t length = record.items[static_cast<size_t>(i)].dataSize;
        std::optional<uint64_t> fileSize = FoundFileSize(folder + PieceName(i));
        end += length;
        if (length == 0 || length % kSectorSize != 0 || !fileSize || length > *fileSize || end > kReachableBytes) {
            VLOG(LOG_ERROR, "イメージ分割データエラー[%d]", i);
            return false;
        }
    }
    return true;
}

// The piece and a block of its read-back, kept across pieces: a fresh block for every piece
// would only add page faults. The piece's block grows when a piece does not fit.
struct PieceBuffers {
    PieceBlock piece;
    size_t pieceCapacity = 0;
    platform::RawBuffer readBack;
};

// A stored file's CRC-16, read a block at a time into `block` (kCrcBlockBytes): a block that
// stays in the processor's cache costs only the read itself, where a block of a whole piece
// is written out to memory and fetched again for the CRC. 0, or kFileReadFailed when the file cannot be
// read.
int StoredFileCrc(const std::string& path, unsigned char* block, uint16_t* crc) {
    FILE* file = platform::fopen(path.c_str(), "rb");
    if (file == nullptr) return kFileReadFailed;
    // Unbuffered: every read goes straight into the block (refused, it only costs a copy).
    (void)setvbuf(file, nullptr, _IONBF, 0);
    *crc = 0;
    for (size_t read; (read = fread(block, 1, kCrcBlockBytes, file)) > 0;) *crc = Crc16(block, read, *crc);
    const bool failed = ferror(file) != 0;
    // Opened for reading only: closing it cannot lose anything.
    fclose(file);
    return failed ? kFileReadFailed : 0;
}

// Every piece as delivered is tested against its CRC before the first write: a piece damaged
// after the download never reaches the unit, not even in part. The CRC covers the whole piece
// file as stored, as the control data's item defines it, even where the file holds bytes past
// the dataSize that go onto the unit: a damaged stored piece is not trusted in any part.
// 0, 519 or 507.
int PiecesIntact(const CONFIG_RECORD_SLOT& record, const std::string& folder) {
    std::unique_ptr<unsigned char[]> block(new unsigned char[kCrcBlockBytes]);
    for (int i = 0; i < ItemCount(record); ++i) {
        uint16_t crc = 0;
        if (int result = StoredFileCrc(folder + PieceName(i), block.get(), &crc); result != 0) {
            VLOG(LOG_ERROR, "ファイル読込みエラー[%d]", result);
            return kImageWriteFailed;
        }
        if (crc != record.items[static_cast<size_t>(i)].crc) {
            VLOG(LOG_ERROR, "イメージファイルCRCチェックエラー[%d]", i);
            return kCrcMismatch;
        }
    }
    return 0;
}

// Writes, reads back and compares one piece, adding it to the sum: 0, 519, 520 or 802.
int CopyPiece(TransferJob& job, int index, const std::string& folder, PieceBuffers& buffers, uint16_t* sum) {
    IMAGE_POSITION* position = &theApp.Navi.ImagePosition;
    std::string name = PieceName(index);
    if (index == 0) {
        // The first piece's start is enciphered; its deciphered twin is what goes onto the unit.
        if (int result = ImageFileDecode(job.config, folder, name); result != 0) {
            VLOG(LOG_ERROR, "ファイル読込みエラー[%d]", result);
            return kImageWriteFailed;
        }
        name = "NEW" + name;
    }
    unsigned long fileLength = 0;
    if (int result = FileReadReusing(folder, name, buffers.piece, &buffers.pieceCapacity, &fileLength); result != 0) {
        VLOG(LOG_ERROR, "ファイル読込みエラー[%d]", result);
        return kImageWriteFailed;
    }
    const uint32_t length = job.config.conf6000.slots[0].items.at(static_cast<size_t>(index)).dataSize;
    if (length > fileLength) {
        VLOG(LOG_ERROR, "ファイル読込みエラー[%d]", kFileReadFailed);
        return kImageWriteFailed;
    }

    VLOG(LOG_TRACE, "書込み開始時間[%s]", LocalTimeText().c_str());
    theApp.Navi.ImageWritePending.store(1, std::memory_order_relaxed);
    const unsigned char* piece = buffers.piece.get();
    int written = WriteImageData(length / kSectorSize, position, piece);
    VLOG(LOG_TRACE, "書込み終了時間[%s]", LocalTimeText().c_str());
    if (written != 0) {
        VLOG(LOG_ERROR, "イメージコピーエラー[%d]", written);
        return kImageWriteFailed;
    }

    if (!buffers.readBack) {
        buffers.readBack.reset(platform::NewRawBuffer(kReadBackBytes));
        if (!buffers.readBack) {
            VLOG(LOG_ERROR, "イメージ読込み用領域確保エラー[%d]", written);
            // The step fails either way, and ImageWritePending has the window format the unit.
            (void)RewriteSignature(0, kClear);
            return kOutOfMemory;
        }
    }
    unsigned char* readBack = buffers.readBack.get();
    uint32_t pieceSum = 0;
    for (uint32_t at = 0; at < length; at += kReadBackBytes) {
        const uint32_t bytes = std::min(length - at, kReadBackBytes);
        if (int result = ReadImageData(bytes / kSectorSize, position, readBack); result != 0) {
            VLOG(LOG_ERROR, "イメージ読込みエラー[%d]", result);
            // The step fails either way, and ImageWritePending has the window format the unit.
            (void)RewriteSignature(0, kClear);
            return kImageWriteFailed;
        }
        if (memcmp(piece + at, readBack, bytes) != 0) {
            VLOG(LOG_ERROR, "イメージ比較エラー[%d]", written);
            // The step fails either way, and ImageWritePending has the window format the unit.
            (void)RewriteSignature(0, kClear);
            return kImageCompareFailed;
        }
        for (uint32_t i = 0; i < bytes; ++i) pieceSum += readBack[i];
    }
    *sum = static_cast<uint16_t>(*sum + pieceSum);
    return 0;
}

// The progress figures after a verified piece of `length` bytes that took `milliseconds`.
void PublishProgress(TransferJob& job, uint32_t length, uint32_t milliseconds) {
    theApp.TransferredBytes.fetch_add(static_cast<double>(length), std::memory_order_relaxed);
    const uint32_t written = job.imageWrittenBytes.fetch_add(length) + length;
    const uint32_t total = job.imageTotalBytes.load();
    job.lastPieceMilliseconds.store(milliseconds);
    theApp.TransferPercent.fetch_add(1, std::memory_order_relaxed);
    // Every remaining piece is taken to cost as long per byte as this one.
    const uint32_t remainingPieces = total > written ? (total - written) / length : 0;
    theApp.TransferRemainMinutes.store(static_cast<int32_t>(remainingPieces * milliseconds / 60000),
                                       std::memory_order_relaxed);
}

int CopyImage(TransferJob& job) {
    job.imageTotalBytes = 0;
    job.imageWrittenBytes = 0;
    job.lastPieceMilliseconds = 0;
    platform::HANDLE handle = theApp.Navi.DriveHandle.load();
    if (handle == nullptr || handle == platform::INVALID_HANDLE_VALUE) return kVolumeLockFailed;

    const CONFIG_RECORD_SLOT& record = job.config.conf6000.slots[0];
    const std::string folder = DownloadFolderPath(job.id, "FLASH2");
    job.imageTotalBytes = TotalSize(job.config.conf6000);
    if (!PiecesFit(record, folder)) return kImageWriteFailed;
    if (int result = PiecesIntact(record, folder); result != 0) return result;
    PieceBuffers buffers;

    uint16_t sum = 0;
    for (int i = 0; i < ItemCount(record); ++i) {
        const uint32_t start = platform::GetTickCount();
        VLOG(LOG_TRACE, "開始時間[%s]", LocalTimeText().c_str());
        if (int result = CopyPiece(job, i, folder, buffers, &sum); result != 0) return result;
        // A signature left in place would let the unit boot a half-written image.
        if (int result = RewriteSignature(static_cast<unsigned>(i), kClear); result != 0) {
            VLOG(LOG_ERROR, "イメージコピーエラー[%d]", result);
            return kImageWriteFailed;
        }
        PublishProgress(job, record.items[static_cast<size_t>(i)].dataSize, platform::GetTickCount() - start);
        VLOG(LOG_TRACE, "終了時間[%s]", LocalTimeText().c_str());
        platform::Sleep(kPiecePauseMilliseconds);
    }
    // Without its signature the volume is no file system: the update files could not follow.
    if (int result = RewriteSignature(0, kRestore); result != 0) {
        VLOG(LOG_ERROR, "イメージコピーエラー[%d]", result);
        return kImageWriteFailed;
    }
    if (sum != ImageChecksum(record)) {
        VLOG(LOG_ERROR, "イメージ比較エラー[%d]", 0);
        return kImageSumMismatch;
    }
    // The next step waits for the volume again, so the wait's own result does not count here.
    (void)DriveClose();
    return 0;
}

}  // namespace

int ImageCopy(TransferJob* job) {
    return OPERATION("ImageCopy", "", kImageWriteFailed, OnException::LogOnly, [&] { return CopyImage(*job); });
}
