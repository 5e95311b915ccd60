// Progress outside the window. A download or a transfer runs for minutes to hours, and the
// user works elsewhere meanwhile: the taskbar button shows how far it is, and a long job that
// ends while the window is behind others flashes the window and says how it ended in a notice
// of the desktop. The job lines go to the kept log whatever debugger.ini says.
#include <algorithm>

#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "base/Logger.h"
#include "base/Text.h"
#include "jobs/MapDelete.h"
#include "platform/Clock.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {

constexpr int kMain = platform::IDD_MAIN_WINDOW;
// A job shorter than this ends while the user still waits for it.
constexpr uint64_t kLongJobMilliseconds = 60 * 1000;
constexpr char kNoticeTitle[] = "ヴェルトレーン";
constexpr char kSeeTheWindow[] = "ヴェルトレーンの画面で、エラーの内容と次の手順をご確認ください。";

using platform::TaskbarProgress;

}  // namespace

void CVeltraneDlg::OnJobStarted(const char* job, const std::string& name) {
    VLOG_JOB("ジョブ開始[%s][%s]", job, name.c_str());
    jobStartedAt_ = platform::GetTickCount64();
    view_.SetTaskbarProgress(kMain, TaskbarProgress::Normal, 0);
}

void CVeltraneDlg::ShowJobProgress(int percent) {
    view_.SetTaskbarProgress(kMain, TaskbarProgress::Normal, std::clamp(percent, 0, 100));
}

void CVeltraneDlg::OnJobEnd(uintptr_t code, intptr_t kind) {
    const int result = static_cast<int>(kind);
    struct End {
        TaskbarProgress taskbar;
        std::string notice;  // empty: the user asked for this end, or nothing ran on the taskbar
    } end;
    switch (code) {
    case kNotifyDeleteDone: VLOG_JOB("ジョブ終了[削除][完了]"); return;
    case kNotifyDeleteFailed: VLOG_JOB("ジョブ終了[削除][失敗]"); return;
    case kNotifyTransferDone:
        VLOG_JOB("ジョブ終了[転送][完了]");
        end = {TaskbarProgress::None, Format("地図【%s】の転送が完了しました。", CurrentDataName.c_str())};
        break;
    case kNotifyTransferFailed:
        VLOG_JOB("ジョブ終了[転送][失敗][%d]", result);
        end = {TaskbarProgress::Error, std::string("地図の転送に失敗しました。\n") + kSeeTheWindow};
        break;
    case kNotifyDownloadDone:
        VLOG_JOB("ジョブ終了[ダウンロード][完了]");
        end = {TaskbarProgress::None,
               Format("地図更新データ【%s】のダウンロードが完了しました。", theApp.OfferName.c_str())};
        break;
    case kNotifyDownloadFailed:
        VLOG_JOB("ジョブ終了[ダウンロード][失敗][%d]", result);
        end = {TaskbarProgress::Error, std::string("地図更新データのダウンロードに失敗しました。\n") + kSeeTheWindow};
        break;
    case kNotifyDownloadStopped:
        VLOG_JOB("ジョブ終了[ダウンロード][中断]");
        end = {TaskbarProgress::Paused, ""};
        break;
    default: return;
    }
    view_.SetTaskbarProgress(kMain, end.taskbar,
                             end.taskbar == TaskbarProgress::Paused ? theApp.DownloadPercent.load() : 100);
    const bool longJob = platform::GetTickCount64() - jobStartedAt_ > kLongJobMilliseconds;
    if (end.notice.empty() || !longJob || view_.IsWindowInFront(kMain)) return;
    view_.FlashWindow(kMain);
    view_.ShowDesktopNotice(kMain, kNoticeTitle, end.notice, end.taskbar == TaskbarProgress::Error);
}
