// The bulk data made ready for the unit: single files CRC-tested and unpacked, split sets
// joined piece by piece, and the delivered files kept or put back whatever happens.
#include "update/MapData.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "common/FileUtil.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "update/Crc16.h"
#include "update/FileBuffer.h"
#include "update/GzipExtract.h"
#include "state/Results.h"

namespace {

static constexpr char kLogSource[] = ".\\NaviFunction";

constexpr size_t kJoinBufferSize = 5120;
constexpr unsigned long kImageCipherSize = 5120;
constexpr size_t kIvOffsetInConfList = 20;

struct CloseFile {
    void operator()(FILE* file) const { fclose(file); }
};
using FileHandle = std::unique_ptr<FILE, CloseFile>;

bool CompressedDelivery(const CONFIG_RECORD_SLOT& slot) { return slot.items.at(0).flags & kCompressedFlag; }

// The most a product may unpack to. The control files give no unpacked sizes, but every product
// is copied onto the unit's volume, which the disk image lays down whole: nothing larger than
// the image can ever go onto it.
uint64_t UnpackBound(const ConfigData& data) { return TotalSize(data.conf6000); }

void LogCopyFailure(const std::string& from, const std::string& to) {
    VLOG(LOG_ERROR, "ファイルコピー失敗[%d][%s][%s]", static_cast<int>(platform::GetLastError()), from.c_str(),
         to.c_str());
}

bool CopyOver(const std::string& from, const std::string& to) {
    if (platform::CopyFileA(from.c_str(), to.c_str(), false)) return true;
    LogCopyFailure(from, to);
    return false;
}

// The backup of a delivered file put back under the delivered name: renamed, or copied when the
// rename fails. False (logged) while the backup is still the only copy.
bool RestoreFromBackup(const std::string& backup, const std::string& input) {
    if (platform::MoveFileA(backup.c_str(), input.c_str())) return true;
    if (!CopyOver(backup, input)) return false;
    // A copy left behind is an intermediate: the next transfer removes it first.
    (void)platform::DeleteFileA(backup.c_str());
    return true;
}

bool IsFile(const std::string& path) {
    const uint32_t attributes = platform::GetFileAttributesA(path.c_str());
    return attributes != platform::INVALID_FILE_ATTRIBUTES && !(attributes & platform::FILE_ATTRIBUTE_DIRECTORY);
}

// The single delivered files of FLASH, whose backups carry the NEW prefix of the products.
const char* const kSingleFiles[] = {"VOLUME.DAT", "RELEASE.TXT"};

// Reads a delivered file whole and tests it against its item's CRC.
int ReadAndCheck(const std::string& dir, const std::string& name, uint16_t crc, const char* readError,
                 const char* crcError) {
    FileBuffer buffer;
    unsigned long size = 0;
    int result = FileRead(dir, name, buffer, &size);
    if (result != 0) {
        VLOG(LOG_ERROR, "%s", readError);
        return result;
    }
    if (CrcCheck(size, buffer.get(), crc) != 0) {
        VLOG(LOG_ERROR, "%s", crcError);
        return kCrcMismatch;
    }
    return 0;
}

// A single delivered file "<name>.000": CRC-tested, then unpacked into NEW<name>. The input
// is kept as a backup while the extraction consumes it and renamed back afterwards.
int SingleFileExpand(const std::string& dir, const std::string& name, const CONFIG_RECORD_SLOT& slot, uint64_t maxBytes,
                     const char* readError, const char* crcError) {
    const std::string inputName = Format("%s.000", name.c_str());
    int result = ReadAndCheck(dir, inputName, slot.items.at(0).crc, readError, crcError);
    if (result != 0) return result;

    const std::string input = Format("%s%s.000", dir.c_str(), name.c_str());
    const std::string product = Format("%sNEW%s", dir.c_str(), name.c_str());
    // Delivered as it is: the product is a plain copy, so the unit still gets its file.
    if (!CompressedDelivery(slot)) return CopyOver(input, product) ? 0 : kMapDataCopyFailed;

    const std::string backup = Format("%sNEW%s.000", dir.c_str(), name.c_str());
    if (!CopyOver(input, backup)) return kMapDataCopyFailed;
    if (!GzipExtract(product, input, maxBytes)) {
        VLOG(LOG_ERROR, "解凍失敗[%d][%s][%s]", 0, input.c_str(), product.c_str());
        // A failed extraction leaves the input in place; a backup left behind is an intermediate
        // the next transfer removes first.
        (void)platform::DeleteFileA(backup.c_str());
        return kMapDataCopyFailed;
    }
    // The extraction deleted the input; the backup takes its place again. Should that fail,
    // the backup stays: it is then the only copy of the delivered file, which the clean-ups
    // put back before they touch the folder (RestoreDeliveredFiles).
    return RestoreFromBackup(backup, input) ? 0 : kMapDataCopyFailed;
}

// The copies and unpacked pieces of a split set; removed on every way out of the step.
class PieceIntermediates {
public:
    PieceIntermediates(const std::string& dir, const std::string& name) : dir_(dir), name_(name) {}
    ~PieceIntermediates() {
        for (int k = 0; k < reached_; ++k) {
            // Whatever stays is removed first by the next transfer.
            (void)platform::DeleteFileA(Copy(k).c_str());
            (void)platform::DeleteFileA(Unpacked(k).c_str());
        }
    }
    PieceIntermediates(const PieceIntermediates&) = delete;
    PieceIntermediates& operator=(const PieceIntermediates&) = delete;

    std::string Copy(int k) const { return Format("%sNEW%s.%03d", dir_.c_str(), name_.c_str(), k); }
    std::string Unpacked(int k) const { return Format("%sDECOMP%s.%03d", dir_.c_str(), name_.c_str(), k); }
    void Reach(int count) { reached_ = count; }

private:
    std::string dir_;
    std::string name_;
    int reached_ = 0;
};

void CopyInto(FILE* joined, FILE* piece, std::vector<char>& buffer) {
    for (;;) {
        memset(buffer.data(), 0, buffer.size());
        size_t count = fread(buffer.data(), 1, kJoinBufferSize, piece);
        if (count == 0) {
            if (ferror(piece)) throw std::runtime_error("piece read failed");
            return;
        }
        if (fwrite(buffer.data(), 1, count, joined) != count) throw std::runtime_error("joined write failed");
    }
}

// The split set "<name>.000", ".001", …: every piece CRC-tested before any is touched, then
// each unpacked and placed at its writeOffset in NEW<name>. Each piece must end inside maxBytes
// from its offset, and all pieces unpacked together stay within maxBytes, so the DECOMP files
// never take more disk than the joined file may.
int SplitFileJoin(const std::string& dir, const std::string& name, const CONFIG_RECORD_SLOT& slot, uint64_t maxBytes) {
    const int count = ItemCount(slot);
    VLOG(LOG_ERROR, "分割ファイル数:[%d]", count);
    for (int k = 0; k < count; ++k) {
        int result = ReadAndCheck(dir, Format("%s.%03d", name.c_str(), k), slot.items.at(k).crc,
                                  "MAPデータファイル読込みエラー", "MAPデータファイルCRCチェックエラー");
        if (result != 0) return result;
    }

    const bool compressed = CompressedDelivery(slot);
    PieceIntermediates intermediates(dir, name);
    if (compressed) {
        uint64_t unpacked = 0;
        for (int k = 0; k < count; ++k) {
            intermediates.Reach(k + 1);
            const std::string piece = Format("%s%s.%03d", dir.c_str(), name.c_str(), k);
            if (!CopyOver(piece, intermediates.Copy(k))) return kMapDataCopyFailed;
            // A negative offset is left to the join's seek, which refuses it.
            const uint64_t offset = static_cast<uint64_t>(std::max<int32_t>(slot.items.at(k).writeOffset, 0));
            const uint64_t room = offset > maxBytes ? 0 : maxBytes - offset;
            if (!GzipExtract(intermediates.Unpacked(k), intermediates.Copy(k), std::min(room, maxBytes - unpacked))) {
                VLOG(LOG_ERROR, "解凍失敗[%d][%s][%s]", 0, intermediates.Copy(k).c_str(),
                     intermediates.Unpacked(k).c_str());
                return kMapDataCopyFailed;
            }
            std::optional<uint64_t> size = FoundFileSize(intermediates.Unpacked(k));
            if (!size) throw std::runtime_error("unpacked piece vanished");
            unpacked += *size;
        }
    }

    const std::string product = Format("%sNEW%s", dir.c_str(), name.c_str());
    FileHandle joined(platform::fopen(product.c_str(), "wb"));
    if (!joined) {
        VLOG(LOG_ERROR, "MAPデータ結合ファイルオープンエラー");
        return kJoinFileOpenFailed;
    }
    std::vector<char> buffer(kJoinBufferSize + 1);
    for (int k = 0; k < count; ++k) {
        // Delivered uncompressed, the pieces are joined as they are.
        const std::string source =
            compressed ? intermediates.Unpacked(k) : Format("%s%s.%03d", dir.c_str(), name.c_str(), k);
        FileHandle piece(platform::fopen(source.c_str(), "rb"));
        if (!piece) {
            VLOG(LOG_ERROR, "MAPデータ結合元ファイルオープンエラー");
            return kJoinFileOpenFailed;
        }
        const int32_t offset = slot.items.at(k).writeOffset;
        if (fseeko(joined.get(), offset, SEEK_SET) != 0) throw std::runtime_error("joined seek failed");
        VLOG(LOG_TRACE, "読み込みファイル%s 書き込み開始位置:%d", source.c_str(), offset);
        CopyInto(joined.get(), piece.get(), buffer);
        // Joined: its unpacked copy goes at once, so the disk holds the set about once, not twice.
        piece.reset();
        // Only space is at stake: what stays goes with the intermediates at the end of the step.
        if (compressed) (void)platform::DeleteFileA(intermediates.Unpacked(k).c_str());
    }
    if (fclose(joined.release()) != 0) throw std::runtime_error("joined close failed");
    return 0;
}

}  // namespace

int Conf1001CrcCheck(ConfigData& data, const std::string& id) {
    return OPERATION("Conf1001CrcCheck", "", -1, [&] {
        return SingleFileExpand(DownloadFolderPath(id, "FLASH"), "VOLUME.DAT", data.conf1001.slots[0],
                                UnpackBound(data), "CONF1001ファイル読込みエラー", "CONF1001ファイルCRCチェックエラー");
    });
}

int Conf2000CrcCheck(ConfigData& data, const std::string& id) {
    return OPERATION("Conf2000CrcCheck", "", kMasterDataFailed, [&] {
        int result =
            SingleFileExpand(DownloadFolderPath(id, "FLASH"), "RELEASE.TXT", data.conf2000.slots[0], UnpackBound(data),
                             "マスターデータファイル読込みエラー", "マスターデータファイルCRCチェックエラー");
        if (result != 0) return result;
        return SplitFileJoin(DownloadFolderPath(id, "FLASH\\RENEWAL"), "LPA080.DAT", data.conf2000.slots[1],
                             UnpackBound(data));
    });
}

int ImageFileDecode(ConfigData& data, const std::string& dir, const std::string& name) {
    return OPERATION("ImageFileDecode", "", -1, [&] {
        FileBuffer buffer;
        unsigned long size = 0;
        int result = FileRead(dir, name, buffer, &size);
        if (result == 0 && size < kImageCipherSize) result = kImagePieceTooShort;
        if (result != 0) {
            VLOG(LOG_ERROR, "イメージファイル読込みエラー");
            return result;
        }
        // Only the first 5,120 bytes of the image are enciphered, under the IV CONFLIST keeps.
        std::array<unsigned char, 8 + kImageCipherSize> block;
        memcpy(block.data(), data.confList + kIvOffsetInConfList, 8);
        memcpy(block.data() + 8, buffer.get(), kImageCipherSize);
        Decipher(block.data(), block.size());
        memcpy(buffer.get(), block.data(), kImageCipherSize);
        result = FileWrite(dir, Format("NEW%s", name.c_str()), buffer.get(), &size);
        if (result != 0) {
            VLOG(LOG_ERROR, "イメージファイル書込みエラー");
            return result;
        }
        return 0;
    });
}

bool RestoreDeliveredFiles(const std::string& id) {
    const std::string dir = DownloadFolderPath(id, "FLASH");
    bool restored = true;
    for (const char* name : kSingleFiles) {
        const std::string input = Format("%s%s.000", dir.c_str(), name);
        const std::string backup = Format("%sNEW%s.000", dir.c_str(), name);
        if (IsFile(input) || !IsFile(backup)) continue;
        if (!RestoreFromBackup(backup, input)) {
            VLOG(LOG_ERROR, "納品ファイル復元エラー[%s]", backup.c_str());
            restored = false;
        }
    }
    return restored;
}

int RemoveStaleIntermediates(const std::string& id) {
    return OPERATION("RemoveStaleIntermediates", "", -1, [&] {
        std::vector<std::string> patterns;
        // A backup that cannot be put back is the delivered file itself: FLASH stays as it is.
        if (RestoreDeliveredFiles(id)) {
            const std::string flash = DownloadFolderPath(id, "FLASH");
            for (const char* name : kSingleFiles) {
                patterns.push_back(Format("%sNEW%s", flash.c_str(), name));
                patterns.push_back(Format("%sNEW%s.000", flash.c_str(), name));
            }
        }
        const std::string renewal = DownloadFolderPath(id, "FLASH\\RENEWAL");
        for (const char* pattern : {"%sNEW%s", "%sNEW%s.*", "%sDECOMP%s.*"})
            patterns.push_back(Format(pattern, renewal.c_str(), "LPA080.DAT"));
        for (const std::string& pattern : patterns)
            if (int result = FileDelete(pattern); result != 0) return result;
        return 0;
    });
}
