// The transfer record: a small profile file in the map folder, replaced whole after every
// verified piece.
#include "device/TransferRecord.h"

#include <cstdlib>
#include <optional>

#include "base/Logger.h"
#include "base/Text.h"
#include "state/Results.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "state/VeltraneApp.h"

namespace {

static constexpr char kLogSource[] = ".\\NaviFunction";

constexpr char kSection[] = "TRANSFER";
constexpr const char* kStageNames[] = {"IMAGE", "FILES", "DONE"};

std::string RecordPath() { return Format("%s\\%s", theApp.MapFolder.c_str(), kTransferRecordName); }

// A save killed before its rename leaves its temporary file; it holds nothing the record needs.
void RemoveStrayTemporaries() {
    const std::string pattern = RecordPath() + ".tmp*";
    const std::string folder = theApp.MapFolder + "\\";
    for (const platform::FindData& entry : platform::FindFiles(pattern))
        // One left behind is only clutter; the next save or clear tries again.
        if (!(entry.attributes & platform::FILE_ATTRIBUTE_DIRECTORY))
            (void)platform::DeleteFileA((folder + entry.name).c_str());
}

std::optional<long long> Number(const platform::ProfileDocument& document, const char* key) {
    std::optional<std::string> text = document.Get(kSection, key);
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    long long value = std::strtoll(text->c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    return value;
}

}  // namespace

bool TransferRecordRead(TRANSFER_RECORD* record) {
    std::optional<std::string> path = platform::ToNativePath(RecordPath());
    if (!path) return false;
    platform::ProfileDocument document = platform::ProfileDocument::Load(*path);
    if (document.Sections().empty()) return false;
    TRANSFER_RECORD read;
    read.instanceId = document.Get(kSection, "INSTANCE").value_or("");
    read.deviceId = document.Get(kSection, "DEVICE").value_or("");
    read.version = document.Get(kSection, "VERSION").value_or("");
    read.dataName = document.Get(kSection, "NAME").value_or("");
    read.folder = document.Get(kSection, "FOLDER").value_or("");
    std::optional<long long> total = Number(document, "TOTALSIZE");
    std::optional<long long> pieces = Number(document, "PIECES");
    std::optional<long long> verified = Number(document, "VERIFIED");
    std::optional<long long> sum = Number(document, "SUM");
    std::string stage = document.Get(kSection, "STAGE").value_or("");
    int stageIndex = 0;
    while (stageIndex < 3 && stage != kStageNames[stageIndex]) ++stageIndex;
    // Only a whole record names a unit: anything less is never taken for one.
    const bool whole = !read.instanceId.empty() && !read.version.empty() && !read.folder.empty() && total &&
                       *total >= 0 && *total <= 0xFFFFFFFFLL && pieces && *pieces >= 0 && verified && *verified >= 0 &&
                       *verified <= *pieces && sum && *sum >= 0 && *sum <= 0xFFFF && stageIndex < 3;
    if (!whole) {
        VLOG(LOG_ERROR, "転送記録不正[%s]", RecordPath().c_str());
        return false;
    }
    read.totalSize = static_cast<uint32_t>(*total);
    read.pieces = static_cast<int>(*pieces);
    read.verifiedPieces = static_cast<int>(*verified);
    read.sum = static_cast<uint16_t>(*sum);
    read.stage = static_cast<TransferStage>(stageIndex);
    *record = read;
    return true;
}

int TransferRecordSave(const TRANSFER_RECORD& record) {
    // A record that cannot name the unit could send the rest of an image to another one.
    if (record.instanceId.empty()) return kTransferRecordFailed;
    platform::ProfileDocument document;
    document.Set(kSection, "INSTANCE", record.instanceId);
    document.Set(kSection, "DEVICE", record.deviceId);
    document.Set(kSection, "VERSION", record.version);
    document.Set(kSection, "NAME", record.dataName);
    document.Set(kSection, "FOLDER", record.folder);
    document.Set(kSection, "TOTALSIZE", Format("%u", record.totalSize));
    document.Set(kSection, "PIECES", Format("%d", record.pieces));
    document.Set(kSection, "VERIFIED", Format("%d", record.verifiedPieces));
    document.Set(kSection, "SUM", Format("%u", static_cast<unsigned>(record.sum)));
    document.Set(kSection, "STAGE", kStageNames[static_cast<int>(record.stage)]);
    std::optional<std::string> path = platform::ToNativePath(RecordPath());
    RemoveStrayTemporaries();
    if (!path || !document.Save(*path)) {
        VLOG(LOG_ERROR, "転送記録保存エラー[%s]", RecordPath().c_str());
        return kTransferRecordFailed;
    }
    return 0;
}

int TransferRecordClear() {
    RemoveStrayTemporaries();
    const std::string path = RecordPath();
    if (platform::DeleteFileA(path.c_str()) ||
        platform::GetFileAttributesA(path.c_str()) == platform::INVALID_FILE_ATTRIBUTES)
        return 0;
    VLOG(LOG_ERROR, "転送記録削除エラー[%s]", path.c_str());
    return kTransferRecordFailed;
}
