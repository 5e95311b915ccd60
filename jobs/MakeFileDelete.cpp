// The clean-up after a transfer: the NEW files that the preparation made in the download folder.
#include <string_view>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "base/Logger.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "jobs/TransferJob.h"
#include "update/ControlFiles.h"
#include "update/MapData.h"

namespace {

static constexpr char kLogSource[] = ".\\NaviFunction";

const char* const kCleanOrder[] = {"FLASH\\RENEWAL", "FLASH", "CONF", "FLASH2", "RENEWAL"};

// 0, or FileDelete's failure after the message.
int DeleteNewFiles(const std::string& pattern) {
    int result = FileDelete(pattern);
    if (result != 0) {
        theApp.Messages.ShowErrorMessage(kSystemError, "E01", "");
        VLOG(LOG_ERROR, "ファイル削除エラー[%d]", result);
    }
    return result;
}

}  // namespace

int MakeFileDelete(const std::string& id) {
    return OPERATION("MakeFileDelete", "", -1, [&] {
        const std::string folder = TransferMapFolder();
        // A delivered file whose restore failed is only there as a NEW backup: it is put back
        // first, and while it cannot be, FLASH keeps its NEW files.
        const bool flashClean = RestoreDeliveredFiles(id);
        for (const char* sub : kCleanOrder) {
            if (!flashClean && std::string_view(sub) == "FLASH") continue;
            int result = DeleteNewFiles(Format("%s\\%s\\%s\\NEW*.*", folder.c_str(), id.c_str(), sub));
            if (result != 0) return result;
        }
        return DeleteNewFiles(Format("%s\\%s\\NEW*.*", folder.c_str(), id.c_str()));
    });
}
