// The deletion job at work: each chosen download folder emptied sub-folder by sub-folder and
// removed, a name that would widen the patterns refused, and the window told of the end.
#include "jobs/MapDelete.h"

#include <optional>

#include "state/Results.h"
#include "state/MessageCatalogue.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "platform/Files.h"
#include "platform/Power.h"
#include "platform/View.h"

namespace {

static constexpr char kLogSource[] = ".\\MapDelete";

// Removed in this order: FLASH\RENEWAL before the FLASH that holds it.
const char* const kDeleteOrder[] = {"FLASH\\RENEWAL", "FLASH", "CONF", "FLASH2", "RENEWAL"};

void Post(uintptr_t code) { platform::CurrentView()->PostNotify(platform::IDD_MAIN_WINDOW, code, 0); }

// Empties one folder by pattern: 0, or FileDelete's failure after the message.
int DeleteFiles(const std::string& pattern) {
    int result = FileDelete(pattern);
    if (result != 0) {
        theApp.Messages.ShowErrorMessage(kDeletionFailed, "E01", "");
        VLOG(LOG_ERROR, "ファイル削除エラー[%d]", result);
    }
    return result;
}

// One download folder: its five sub-folders, then the files directly inside it and the folder.
int DeleteRecord(const PC_MAP_DELETE_DATA& record) {
    // History.ini is a file any user of the PC can edit, and this program runs as administrator:
    // its folder must lie in the map folder. A name that is empty or leaves its folder would
    // widen the patterns below to the map folder itself, or beyond it.
    if (!IsInsideMapFolder(record.mapFolder)) {
        theApp.Messages.ShowErrorMessage(kDeletionFailed, "E01", "");
        VLOG(LOG_ERROR, "マップフォルダ外の記録[%s]", record.mapFolder.c_str());
        return -1;
    }
    if (!IsPlainName(record.mapName)) {
        theApp.Messages.ShowErrorMessage(kDeletionFailed, "E01", "");
        VLOG(LOG_ERROR, "ファイル削除エラー[%d]", -1);
        return -1;
    }
    const char* folder = record.mapFolder.c_str();
    const char* name = record.mapName.c_str();
    for (const char* sub : kDeleteOrder) {
        // FLASH\RENEWAL covers the record's folder and FLASH on its way; the others their own.
        const std::string target = Format("%s\\%s\\%s", folder, name, sub);
        if (LinkBelowMapFolder(target)) {
            theApp.Messages.ShowErrorMessage(kDeletionFailed, "E01", "");
            return -1;
        }
    }
    for (const char* sub : kDeleteOrder) {
        if (int result = DeleteFiles(Format("%s\\%s\\%s\\*.*", folder, name, sub)); result != 0) return result;
        // Its files are gone; a folder that stays (one the user put there) holds nothing of ours.
        (void)platform::RemoveDirectoryA(Format("%s\\%s\\%s", folder, name, sub).c_str());
    }
    if (int result = DeleteFiles(Format("%s\\%s\\*.*", folder, name)); result != 0) return result;
    // As above: what could stay holds nothing of ours.
    (void)platform::RemoveDirectoryA(Format("%s\\%s", folder, name).c_str());
    return 0;
}

int DeleteRecords(const std::vector<PC_MAP_DELETE_DATA>& records) {
    for (const PC_MAP_DELETE_DATA& record : records)
        if (int result = DeleteRecord(record); result != 0) return result;
    return 0;
}

}  // namespace

int CMapDelete::AddDeleteData(const std::string& mapName, const std::string& mapFolder,
                              const std::string& displayName) {
    last_ = {mapName, mapFolder, displayName};
    records_.push_back(last_);
    return 0;
}

int CMapDelete::MapDataDelete(int startDeletion) {
    return OPERATION("MapDataDelete", "", 1, OnException::ShowMessage, EndLine::Own, [&] {
        theApp.Messages.SetDataName(records_.at(0).displayName);
        if (theApp.Messages.ShowConfirmMessage(kConfirmDelete) != platform::IDOK) {
            VLOG(LOG_TRACE, "MapDataDelete終了[キャンセル]");
            return kDeletionCancelled;
        }
        int result = 0;
        if (startDeletion != 0) VLOG_JOB("ジョブ開始[削除]");
        if (startDeletion != 0 && !theApp.DeleteThreadHandle.Start([this] { DeleteThread(this); })) {
            theApp.Messages.ShowErrorMessage(kSystemError, "E98", "");
            VLOG(LOG_ERROR, "スレッド起動エラー");
            result = 1;
        }
        VLOG(LOG_TRACE, "MapDataDelete終了");
        return result;
    });
}

int DeleteThread(CMapDelete* deleteObject) {
    const platform::KeepAwake awake;
    // Only a deletion that got through every record logs its end line.
    std::optional<int> result =
        OPERATION("DeleteThread", "", std::optional<int>{}, OnException::LogOnly, EndLine::Own, [&] {
            int deleted = DeleteRecords(deleteObject->records_);
            if (deleted == 0) VLOG(LOG_TRACE, "DeleteThread終了");
            return std::optional<int>(deleted);
        });
    if (!result) theApp.Messages.ShowErrorMessage(kDeletionFailed, "E99", "");
    Post(result == 0 ? kNotifyDeleteDone : kNotifyDeleteFailed);
    return result.value_or(-1);
}
