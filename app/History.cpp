// The download history: the PC records in History.ini, one section a record, in display order.
#include <cstdlib>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "common/FileUtil.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {
std::string ReadKey(const std::string& section, const char* key) {
    char buffer[256] = {};
    platform::GetPrivateProfileStringA(section.c_str(), key, "", buffer, sizeof buffer, theApp.HistoryIniPath.c_str());
    return buffer;
}
}  // namespace

int CVeltraneDlg::GetHistoryData() {
    return OPERATION("GetHistoryData", "", 1, [&] {
        PcMapData.clear();
        // A save killed before its rename left its temporary file; only one copy of the
        // program runs, so none is being written now.
        (void)FileDelete(theApp.HistoryIniPath + ".tmp*");  // logged; a file left is only clutter
        // The numbering is contiguous from 1: a gap ends the list.
        for (int n = 1;; ++n) {
            std::string section = Format("%s%d", "HISTORY", n);
            PC_MAP_DATA record;
            record.name = ReadKey(section, "NAME");
            if (record.name.empty()) break;
            record.status = ReadKey(section, "STATUS");
            record.version = ReadKey(section, "VERSION");
            record.size = static_cast<float>(std::atof(ReadKey(section, "SIZE").c_str()));
            record.folder = ReadKey(section, "FOLDER");
            // Any user of the PC can edit History.ini: the jobs work only in the map folder.
            if (!IsInsideMapFolder(record.folder)) {
                VLOG(LOG_ERROR, "マップフォルダ外の記録[%s]", record.folder.c_str());
                continue;
            }
            PcMapData.push_back(record);
        }
        return 0;
    });
}

int CVeltraneDlg::SetHistoryData() {
    return OPERATION("SetHistoryData", "", 1, [&] {
        // The new history is built whole and replaces the old file in one step, so a crash
        // leaves one or the other, never a truncated history.
        platform::ProfileDocument document;
        for (size_t i = 0; i < PcMapData.size(); ++i) {
            const PC_MAP_DATA& record = PcMapData[i];
            std::string section = Format("%s%d", "HISTORY", static_cast<int>(i + 1));
            document.Set(section, "NAME", record.name);
            document.Set(section, "STATUS", record.status);
            document.Set(section, "VERSION", record.version);
            document.Set(section, "SIZE", Format("%f", static_cast<double>(record.size)));
            document.Set(section, "FOLDER", record.folder);
        }
        std::optional<std::string> path = platform::ToNativePath(theApp.HistoryIniPath);
        if (!path || !document.Save(*path)) {
            theApp.Messages.ShowErrorMessage(kSystemError, "E98", "");
            VLOG(LOG_ERROR, "履歴ファイル書き込みエラー[%s]", theApp.HistoryIniPath.c_str());
            return 1;
        }
        return 0;
    });
}
