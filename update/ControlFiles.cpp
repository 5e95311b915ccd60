// The control files deciphered into their NEW twins: VERINFO.DAT and DISKID.DAT as they are,
// each CONF file that CONFCRC.DAT lists once its CRC checks, then parsed into ConfigData.
#include "update/ControlFiles.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "platform/CodePage.h"
#include "update/Crc16.h"
#include "update/FileBuffer.h"
#include "state/Results.h"

std::string ImageBaseName;

namespace {

static constexpr char kLogSource[] = ".\\NaviFunction";

constexpr unsigned long kIvSize = 8;
// A record's text runs from offset 4 up to the image checksum at offset 264.
constexpr size_t kRecordTextSize = 260;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

CONFIG_FILE_DIVISION_DATA ItemAt(const unsigned char* p) {
    return {Le32(p), Le16(p + 4), Le16(p + 6), static_cast<int32_t>(Le32(p + 8))};
}

// VERINFO.DAT and DISKID.DAT: deciphered into their NEW twin, not interpreted.
int DecodeIntoNewFile(const std::string& folder, const std::string& name, const char* readError,
                      const char* writeError) {
    FileBuffer buffer;
    unsigned long size = 0;
    int result = FileRead(folder, name, buffer, &size);
    if (result != 0) {
        VLOG(LOG_ERROR, "%s", readError);
        return result;
    }
    if (size < kIvSize) {
        VLOG(LOG_ERROR, "%s", readError);
        return kControlFileMalformed;
    }
    Decipher(buffer.get(), size);
    unsigned long length = size - kIvSize;
    result = FileWrite(folder, Format("NEW%s", name.c_str()), buffer.get(), &length);
    if (result != 0) {
        VLOG(LOG_ERROR, "%s", writeError);
        return result;
    }
    return 0;
}

// The deciphered file parsed by name; other names are only checked and written.
int ParseByName(ConfigData& data, const std::string& name, const unsigned char* buffer, unsigned long length) {
    if (name == "CONF1001.DAT") return ConfRecordParse(data.conf1001, buffer, length, false);
    if (name == "CONF2000.DAT") return ConfRecordParse(data.conf2000, buffer, length, false);
    if (name == "CONF6000.DAT") return ConfRecordParse(data.conf6000, buffer, length, true);
    if (name == "CONFLIST.DAT") {
        if (length < kConfListSize) return kControlFileMalformed;
        memset(data.confList, 0, kConfListSize);
        memcpy(data.confList, buffer, kConfListSize);
    }
    return 0;
}

}  // namespace

uint32_t TotalSize(const CONFIG_FILE_AREA& area) { return Le32(area.header + 8); }
int32_t ItemCount(const CONFIG_RECORD_SLOT& slot) { return static_cast<int32_t>(Le32(slot.record + 268)); }
uint16_t ImageChecksum(const CONFIG_RECORD_SLOT& slot) { return Le16(slot.record + 264); }

std::string TransferMapFolder() {
    return theApp.TransferDataFolder.empty() ? theApp.MapFolder : theApp.TransferDataFolder;
}

std::string DownloadFolderPath(const std::string& id) {
    return Format("%s\\%s\\", TransferMapFolder().c_str(), id.c_str());
}
std::string DownloadFolderPath(const std::string& id, const std::string& sub) {
    return Format("%s\\%s\\%s\\", TransferMapFolder().c_str(), id.c_str(), sub.c_str());
}

void Decipher(unsigned char* buffer, unsigned long size) {
    if (theApp.pDecodeEx == nullptr) throw std::logic_error("DecodeEx is not bound");
    theApp.pDecodeEx(buffer, static_cast<uint32_t>(size));
}

int VersionFileDecode(const std::string& id) {
    return OPERATION("VersionFileDecode", "", -1, [&] {
        return DecodeIntoNewFile(DownloadFolderPath(id, "RENEWAL"), "VERINFO.DAT", "バージョン情報ファイル読込みエラー",
                                 "バージョン情報ファイル書込みエラー");
    });
}

int DiskIdFileDecode(const std::string& id) {
    return OPERATION("DiskIdFileDecode", "", -1, [&] {
        return DecodeIntoNewFile(DownloadFolderPath(id), "DISKID.DAT", "ディスク識別ファイル読込みエラー",
                                 "ディスク識別ファイル書込みエラー");
    });
}

int ConfCrcRead(ConfigData& data, const std::string& id) {
    return OPERATION("ConfCrcRead", "", -1, [&] {
        // Nothing of an earlier transfer may survive into this one.
        data = ConfigData{};
        ImageBaseName.clear();
        FileBuffer buffer;
        unsigned long size = 0;
        int result = FileRead(DownloadFolderPath(id, "CONF"), "CONFCRC.DAT", buffer, &size);
        if (result != 0) {
            VLOG(LOG_ERROR, "ConfCrcファイル読込みエラー");
            return result;
        }
        memcpy(data.confCrc, buffer.get(), std::min<unsigned long>(size, kConfCrcSize));
        return 0;
    });
}

int ConfFileDecode(ConfigData& data, const std::string& id) {
    return OPERATION("ConfFileDecode", "", -1, [&] {
        const std::string folder = DownloadFolderPath(id, "CONF");
        const int32_t entryCount = static_cast<int32_t>(Le32(data.confCrc));
        if (entryCount < 0 || entryCount > kConfCrcMaxEntries) return kControlFileMalformed;
        for (int i = 0; i < entryCount; ++i) {
            const unsigned char* entry = data.confCrc + 4 + 20 * i;
            char nameText[13] = {};
            memcpy(nameText, entry + 8, 12);
            const std::string name = nameText;
            if (!IsPlainName(name)) return kControlFileMalformed;

            FileBuffer buffer;
            unsigned long size = 0;
            int result = FileRead(folder, name, buffer, &size);
            if (result != 0) {
                VLOG(LOG_ERROR, "Confファイル読込みエラー");
                return result;
            }
            if (size < kIvSize) return kControlFileMalformed;
            Decipher(buffer.get(), size);
            unsigned long length = size - kIvSize;
            if (CrcCheck(length, buffer.get(), Le16(entry)) != 0) {
                VLOG(LOG_ERROR, "CRCチェックエラー");
                return kCrcMismatch;
            }
            result = FileWrite(folder, Format("NEW%s", name.c_str()), buffer.get(), &length);
            if (result != 0) {
                VLOG(LOG_ERROR, "ファイル書込みエラー");
                return result;
            }
            // A file outside the format stops the step: later files would be parsed against a
            // set that is already known to be broken.
            if (ParseByName(data, name, buffer.get(), length) != 0) return kControlFileMalformed;
        }
        return 0;
    });
}

int ConfRecordParse(CONFIG_FILE_AREA& area, const unsigned char* buffer, unsigned long length, bool isConf6000) {
    for (CONFIG_RECORD_SLOT& slot : area.slots) std::vector<CONFIG_FILE_DIVISION_DATA>().swap(slot.items);
    if (length < kConfHeaderSize) return kControlFileMalformed;
    memcpy(area.header, buffer, kConfHeaderSize);
    const int32_t recordCount = static_cast<int32_t>(Le32(area.header + 16));
    if (recordCount < 0 || recordCount > kConfRecordSlots) return kControlFileMalformed;

    uint64_t pos = kConfHeaderSize;
    for (int r = 0; r < recordCount; ++r) {
        CONFIG_RECORD_SLOT& slot = area.slots[r];
        if (pos + kConfRecordSize > length) return kControlFileMalformed;
        memcpy(slot.record, buffer + pos, kConfRecordSize);
        pos += kConfRecordSize;
        const int32_t itemCount = ItemCount(slot);
        if (itemCount < 0 || pos + static_cast<uint64_t>(itemCount) * kConfItemSize > length)
            return kControlFileMalformed;
        for (int k = 0; k < itemCount; ++k) {
            slot.items.push_back(ItemAt(buffer + pos));
            pos += kConfItemSize;
        }
    }

    if (isConf6000) {
        const char* text = reinterpret_cast<const char*>(area.slots[0].record + 4);
        const std::string path(text, strnlen(text, kRecordTextSize));
        const size_t slash = platform::FindChar(path, '\\');
        std::string baseName = slash == std::string::npos ? path : path.substr(slash + 1);
        if (!IsPlainName(baseName)) return kControlFileMalformed;
        ImageBaseName = baseName;
    }
    return 0;
}
