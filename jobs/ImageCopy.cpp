// The disk image written onto the unit's raw volume piece by piece, each piece read back and
// compared, the whole checked against its 16-bit byte sum. The boot signature stays cleared
// from the first write on, so the unit never takes a half-written image for a volume. A
// transfer record in the map folder follows every verified piece, so that a cut-off image is
// finished where it stopped.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "device/NaviDriveImage.h"
#include "device/TransferRecord.h"
#include "jobs/TransferJob.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/RawVolume.h"
#include "platform/UnitModel.h"
#include "update/Crc16.h"
#include "update/FileBuffer.h"
#include "update/MapData.h"

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

enum SignatureMode { kRestore = 1 };
// The boot-signature words: the boot sector's and its copy's.
constexpr uint64_t kSignatureOffsets[] = {platform::kNaviUnitModel.SignatureOffset(0),
                                          platform::kNaviUnitModel.SignatureOffset(1)};
// The sectors of piece 0 a resume needs unchanged: up to and with the copy.
constexpr uint32_t kBootSectorBytes = platform::kNaviUnitModel.bootSectorOffsets[1] + kSectorSize;

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
    uint64_t imageStart = 0;  // where the image begins on the volume (the write position at the start)
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

// Byte offset of piece `index` in the image: the pieces lie one after the other.
uint64_t PieceStart(const CONFIG_RECORD_SLOT& record, int index) {
    uint64_t start = 0;
    for (int i = 0; i < index; ++i) start += record.items[static_cast<size_t>(i)].dataSize;
    return start;
}

// Clears the boot-signature words that fall inside the piece starting at `start`: the unit
// never holds a valid signature over a half-written image, not even while piece 0 is written
// and read back. The sum of the bytes they held, which the whole image's sum counts.
uint32_t ClearSignatures(unsigned char* piece, uint64_t start, uint32_t length) {
    uint32_t cleared = 0;
    for (uint64_t offset : kSignatureOffsets)
        if (offset >= start && offset + 2 <= start + length) {
            unsigned char* word = piece + (offset - start);
            cleared += word[0] + word[1];
            word[0] = word[1] = 0;
        }
    return cleared;
}

// Reads piece `index` as it goes onto the unit (piece 0 deciphered, the signature words
// cleared) into the piece block: 0 or 519, with its length and the cleared bytes' sum.
int LoadPiece(TransferJob& job, int index, const std::string& folder, PieceBuffers& buffers, uint32_t* length,
              uint32_t* cleared) {
    const CONFIG_RECORD_SLOT& record = job.config.conf6000.slots[0];
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
    *length = record.items.at(static_cast<size_t>(index)).dataSize;
    if (*length > fileLength) {
        VLOG(LOG_ERROR, "ファイル読込みエラー[%d]", kFileReadFailed);
        return kImageWriteFailed;
    }
    *cleared = ClearSignatures(buffers.piece.get(), buffers.imageStart + PieceStart(record, index), *length);
    return 0;
}

// Reads `length` bytes back from the read position and compares them with the piece block,
// a block at a time: 0 with their sum, 519 (read failed, logged), 520 (they differ) or 802.
int VerifyPiece(PieceBuffers& buffers, uint32_t length, uint32_t* readSum) {
    if (!buffers.readBack) {
        buffers.readBack.reset(platform::NewRawBuffer(kReadBackBytes));
        if (!buffers.readBack) {
            VLOG(LOG_ERROR, "イメージ読込み用領域確保エラー[%d]", 0);
            return kOutOfMemory;
        }
    }
    const unsigned char* piece = buffers.piece.get();
    unsigned char* readBack = buffers.readBack.get();
    // Summed in a local: a store through readSum may alias the bytes and would be redone each byte.
    uint32_t sum = 0;
    for (uint32_t at = 0; at < length; at += kReadBackBytes) {
        const uint32_t bytes = std::min(length - at, kReadBackBytes);
        if (int result = ReadImageData(bytes / kSectorSize, &theApp.Navi.ImagePosition, readBack); result != 0) {
            VLOG(LOG_ERROR, "イメージ読込みエラー[%d]", result);
            return kImageWriteFailed;
        }
        if (memcmp(piece + at, readBack, bytes) != 0) return kImageCompareFailed;
        for (uint32_t i = 0; i < bytes; ++i) sum += readBack[i];
    }
    *readSum = sum;
    return 0;
}

// Both positions at `offset` bytes into the image.
void SetPositions(const PieceBuffers& buffers, uint64_t offset) {
    // PiecesFit keeps every piece within the 32-bit positions.
    const auto position = static_cast<uint32_t>(buffers.imageStart + offset);
    theApp.Navi.ImagePosition.writePosition = position;
    theApp.Navi.ImagePosition.readPosition = position;
}

// Writes, reads back and compares one piece, adding it to the sum: 0, 519, 520 or 802.
int CopyPiece(TransferJob& job, int index, const std::string& folder, PieceBuffers& buffers, uint16_t* sum) {
    uint32_t length = 0, cleared = 0;
    if (int result = LoadPiece(job, index, folder, buffers, &length, &cleared); result != 0) return result;

    VLOG(LOG_TRACE, "書込み開始時間[%s]", LocalTimeText().c_str());
    theApp.Navi.ImageWritePending.store(1, std::memory_order_relaxed);
    int written = WriteImageData(length / kSectorSize, &theApp.Navi.ImagePosition, buffers.piece.get());
    VLOG(LOG_TRACE, "書込み終了時間[%s]", LocalTimeText().c_str());
    if (written != 0) {
        VLOG(LOG_ERROR, "イメージコピーエラー[%d]", written);
        return kImageWriteFailed;
    }
    uint32_t readSum = 0;
    int verified = VerifyPiece(buffers, length, &readSum);
    if (verified == kImageCompareFailed) VLOG(LOG_ERROR, "イメージ比較エラー[%d]", written);
    if (verified != 0) return verified;
    *sum = static_cast<uint16_t>(*sum + readSum + cleared);
    return 0;
}

// Whether the first `bytes` of piece 0 (loaded) are on the unit, the signature words as a
// cut-off image (cleared) or a whole one (restored) leaves them: 0, 519 or 802.
int BootSectorsIntact(PieceBuffers& buffers, uint32_t bytes, bool* intact) {
    if (!buffers.readBack) buffers.readBack.reset(platform::NewRawBuffer(kReadBackBytes));
    if (!buffers.readBack) return kOutOfMemory;
    if (int result = ReadImageData(bytes / kSectorSize, &theApp.Navi.ImagePosition, buffers.readBack.get());
        result != 0) {
        VLOG(LOG_ERROR, "イメージ読込みエラー[%d]", result);
        return kImageWriteFailed;
    }
    (void)ClearSignatures(buffers.readBack.get(), buffers.imageStart, bytes);  // only the words count, not their bytes
    *intact = memcmp(buffers.piece.get(), buffers.readBack.get(), bytes) == 0;
    return 0;
}

// Where a cut-off image goes on. The record's verified pieces count once piece 0's boot
// sectors and the last verified piece still read back as they were written; a last piece
// that does not is written again, boot sectors that do not start the image over. 0, 519 or
// 802, with the first piece to write and the sum of those before it.
int ResumePoint(TransferJob& job, const std::string& folder, PieceBuffers& buffers, int* first, uint16_t* sum) {
    const TRANSFER_RECORD& record = job.record;
    const CONFIG_RECORD_SLOT& slot = job.config.conf6000.slots[0];
    *first = 0;
    *sum = 0;
    if (record.verifiedPieces == 0) return 0;
    uint32_t length = 0, cleared = 0, readSum = 0;
    if (int result = LoadPiece(job, 0, folder, buffers, &length, &cleared); result != 0) return result;
    SetPositions(buffers, 0);
    bool intact = false;
    if (int result = BootSectorsIntact(buffers, std::min(length, kBootSectorBytes), &intact); result != 0)
        return result;
    if (!intact) {
        VLOG(LOG_INFO, "転送再開位置[%d]", 0);
        return 0;
    }
    int result = 0;
    const int last = record.verifiedPieces - 1;
    if (result = LoadPiece(job, last, folder, buffers, &length, &cleared); result != 0) return result;
    SetPositions(buffers, PieceStart(slot, last));
    result = VerifyPiece(buffers, length, &readSum);
    if (result != 0 && result != kImageCompareFailed) return result;
    if (result == 0) {
        *first = record.verifiedPieces;
        *sum = record.sum;
    } else {
        // The piece as issued is what the recorded sum holds of it.
        uint32_t pieceSum = cleared;
        for (uint32_t i = 0; i < length; ++i) pieceSum += buffers.piece.get()[i];
        *first = last;
        *sum = static_cast<uint16_t>(record.sum - pieceSum);
    }
    VLOG(LOG_INFO, "転送再開位置[%d]", *first);
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

// Counts the pieces before `first`, already on the unit, into the progress figures.
void PublishResumed(TransferJob& job, int first) {
    const uint64_t before = PieceStart(job.config.conf6000.slots[0], first);
    theApp.TransferredBytes.fetch_add(static_cast<double>(before), std::memory_order_relaxed);
    job.imageWrittenBytes.store(static_cast<uint32_t>(before));
    theApp.TransferPercent.fetch_add(first, std::memory_order_relaxed);
}

int CopyImage(TransferJob& job) {
    job.imageTotalBytes = 0;
    job.imageWrittenBytes = 0;
    job.lastPieceMilliseconds = 0;
    platform::HANDLE handle = theApp.Navi.DriveHandle.load();
    if (handle == nullptr || handle == platform::INVALID_HANDLE_VALUE) return kVolumeLockFailed;

    const CONFIG_RECORD_SLOT& slot = job.config.conf6000.slots[0];
    const std::string folder = DownloadFolderPath(job.id, "FLASH2");
    job.imageTotalBytes = TotalSize(job.config.conf6000);
    if (!PiecesFit(slot, folder)) return kImageWriteFailed;
    if (int result = PiecesIntact(slot, folder); result != 0) return result;
    PieceBuffers buffers;
    buffers.imageStart = theApp.Navi.ImagePosition.writePosition;

    TRANSFER_RECORD& record = job.record;
    uint16_t sum = 0;
    int first = 0;
    if (job.resume) {
        // The set on the PC must be the one the unit holds the start of.
        if (record.pieces != ItemCount(slot) || record.totalSize != job.imageTotalBytes) {
            VLOG(LOG_ERROR, "転送記録不一致[%d:%d]", record.pieces, ItemCount(slot));
            return kMapDataFailed;
        }
        theApp.Navi.ImageWritePending.store(1, std::memory_order_relaxed);
        if (int result = ResumePoint(job, folder, buffers, &first, &sum); result != 0) return result;
        PublishResumed(job, first);
    } else {
        // What the unit is about to become is on the PC's disk before its first byte changes.
        record.version = job.id;
        record.folder = TransferMapFolder();
        record.totalSize = job.imageTotalBytes;
        record.pieces = ItemCount(slot);
        record.verifiedPieces = 0;
        record.sum = 0;
        record.stage = TransferStage::Image;
        if (int result = TransferRecordSave(record); result != 0) return kImageWriteFailed;
    }
    SetPositions(buffers, PieceStart(slot, first));

    for (int i = first; i < ItemCount(slot); ++i) {
        const uint32_t start = platform::GetTickCount();
        VLOG(LOG_TRACE, "開始時間[%s]", LocalTimeText().c_str());
        if (int result = CopyPiece(job, i, folder, buffers, &sum); result != 0) return result;
        record.verifiedPieces = i + 1;
        record.sum = sum;
        // A record left behind by one piece only costs that piece being written again.
        (void)TransferRecordSave(record);
        PublishProgress(job, slot.items[static_cast<size_t>(i)].dataSize, platform::GetTickCount() - start);
        VLOG(LOG_TRACE, "終了時間[%s]", LocalTimeText().c_str());
        platform::Sleep(kPiecePauseMilliseconds);
    }
    // Without its signature the volume is no file system: the update files could not follow.
    if (int result = RewriteSignature(0, kRestore); result != 0) {
        VLOG(LOG_ERROR, "イメージコピーエラー[%d]", result);
        return kImageWriteFailed;
    }
    if (sum != ImageChecksum(slot)) {
        VLOG(LOG_ERROR, "イメージ比較エラー[%d]", 0);
        return kImageSumMismatch;
    }
    record.stage = TransferStage::Files;
    // Left at the image stage, a resume reads the last piece back and restores again.
    (void)TransferRecordSave(record);
    // The next step waits for the volume again, so the wait's own result does not count here.
    (void)DriveClose();
    return 0;
}

}  // namespace

int ImageCopy(TransferJob* job) {
    return OPERATION("ImageCopy", "", kImageWriteFailed, OnException::LogOnly, [&] { return CopyImage(*job); });
}
