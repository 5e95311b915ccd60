// The window's timers: progress and remaining times of the jobs, the busy icons, the joins
// after a job's end, and the repaint after a change of the buttons.
#include <algorithm>
#include <limits>

#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "base/Logger.h"
#include "base/Text.h"
#include "device/NaviDriveImage.h"

namespace {
constexpr int kMain = ids::kMainWindow;
}  // namespace

std::string RemainingTimeText(const char* prefix, int32_t minutes) {
    int32_t hours = std::min(minutes / 60, 60);
    int32_t rest = minutes % 60;
    return hours == 0 ? Format("%s%d分", prefix, rest) : Format("%s%d時間%d分", prefix, hours, rest);
}

int32_t RemainingDownloadMinutes(const DOWNLOAD_JOB& job) {
    // The rate is the one the job measured last; before a measurement there is no estimate.
    int64_t bytes = job.measuredBytes.load(std::memory_order_relaxed);
    int32_t milliseconds = job.measuredMilliseconds.load(std::memory_order_relaxed);
    if (bytes <= 0 || milliseconds <= 0) return 0;
    double remaining = job.expectedBytes - job.downloadedBytes.load(std::memory_order_relaxed);
    if (remaining <= 0) return 0;
    double minutes = remaining / static_cast<double>(bytes) * milliseconds / 60000;
    return static_cast<int32_t>(std::min(minutes, static_cast<double>(std::numeric_limits<int32_t>::max())));
}

void CVeltraneDlg::OnTimer(uint32_t id) {
    switch (id) {
    case kTimerTransferTime: ShowTransferTime(); break;
    case kTimerTransferProgress: ShowTransferProgress(); break;
    case kTimerTransferBusy:
        if (theApp.TransferAnimation == 1) TurnBusyIcon(ids::kTransferBusyIcon);
        break;
    case kTimerTransferDone:
        view_.SetControlText(kMain, ids::kTransferTimeText, "");
        SetNaviAreaData(kColumnStatus, "ナビ転送完了");
        NaviThreadWait();
        StopTimer(kTimerTransferDone);
        if (theApp.ExitRequested == 1) return CloseForExit();
        // The unit was ejected: look for one instead of assuming it is there.
        Post(kNotifyDeviceChange);
        break;
    case kTimerTransferFailed:
        StopTimer(kTimerTransferFailed);
        view_.SetControlText(kMain, ids::kTransferTimeText, "");
        SetNaviAreaData(kColumnStatus, " ");
        SetNaviAreaData(kColumnSize, " ");
        NaviThreadWait();
        if (theApp.ExitRequested == 1) return CloseForExit();
        Post(kNotifyDeviceChange);
        break;
    case kTimerDownloadTime: ShowDownloadTime(); break;
    case kTimerDownloadProgress: ShowDownloadProgress(); break;
    case kTimerDownloadBusy: TurnBusyIcon(ids::kDownloadBusyIcon); break;
    case kTimerDownloadEnded:
        view_.SetControlText(kMain, ids::kDownloadTimeText, "");
        CloseDownloadThread();
        StopTimer(kTimerDownloadEnded);
        SetHistoryData();
        Post(kNotifyDeviceChange);
        break;
    case kTimerDownloadPaused:
        StopTimer(kTimerDownloadPaused);
        view_.SetControlText(kMain, ids::kDownloadTimeText, "");
        CloseDownloadThread();
        view_.SetControlIcon(kMain, ids::kDownloadBusyIcon, 0);
        SetHistoryData();
        SetStatusText(StatusText::DownloadPaused);
        ButtonEnable(ButtonMode::Idle);
        break;
    case kTimerDownloadStartFailed:
        StopTimer(kTimerDownloadStartFailed);
        view_.SetControlText(kMain, ids::kDownloadTimeText, "");
        if (!theApp.DownloadThreadHandle.IsNull()) CloseDownloadThread();
        view_.SetControlIcon(kMain, ids::kDownloadBusyIcon, 0);
        ButtonEnable(ButtonMode::Idle);
        if (theApp.ExitRequested == 1 && !AnyJobRuns()) {
            LetGoForClose();
            view_.EndDialog(kMain, platform::IDOK);
        }
        break;
    case kTimerDeletionEnded:
        if (!theApp.DeleteThreadHandle.IsNull()) theApp.DeleteThreadHandle.JoinAndClose();
        StopTimer(kTimerDeletionEnded);
        ShowFreeSpace();
        if (theApp.ExitRequested == 1) CloseForExit();
        break;
    case kTimerHoldUnit: HoldUnit(); break;
    case kTimerHoldStep: OnHoldStep(); break;
    case kTimerEjectStep: OnEjectStep(); break;
    case kTimerUnitCall: OnUnitCallStep(); break;
    case kTimerRecoveryStep:
        StopTimer(kTimerRecoveryStep);
        ContinueRecognise(LetterRecoveryNext(&recovery_));
        break;
    case kTimerRepaint:
        StopTimer(kTimerRepaint);
        view_.Repaint(kMain);
        RedrawButtonIcons();
        break;
    case kTimerOffer:
        StopTimer(kTimerOffer);
        RequestOffer();
        break;
    default: break;
    }
}

void CVeltraneDlg::ShowTransferTime() {
    int32_t minutes = theApp.TransferRemainMinutes;
    if (minutes <= 1) return;
    view_.SetControlText(kMain, ids::kTransferTimeText, RemainingTimeText("地図転送 : ", minutes));
}

void CVeltraneDlg::ShowTransferProgress() {
    ShowJobProgress(theApp.TransferPercent.load());
    SetNaviAreaData(kColumnStatus, Format("%d%s完了", theApp.TransferPercent.load(), "%"));
    SetNaviAreaData(kColumnSize, SizeText(theApp.TransferredBytes * kBytesToGigabytes));
}

void CVeltraneDlg::ShowDownloadTime() {
    int32_t minutes = RemainingDownloadMinutes(DownloadJob);
    if (minutes <= 0) return;
    theApp.DownloadMinutesLeft = minutes;
    view_.SetControlText(kMain, ids::kDownloadTimeText, RemainingTimeText("ダウンロード : ", minutes));
}

void CVeltraneDlg::ShowDownloadProgress() {
    ShowJobProgress(theApp.DownloadPercent.load());
    std::string status = Format("%d%s完了", theApp.DownloadPercent.load(), "%");
    std::string size = SizeText(std::max(0.0, theApp.DownloadedBytes * kBytesToGigabytes));
    std::string key = OfferVersion();
    for (int i = 0; i < static_cast<int>(PcMapData.size()); ++i) {
        if (i != DownloadRecord && PcMapData[i].version != key) continue;
        SetPcAreaItem(kColumnStatus, i, status);
        SetPcAreaItem(kColumnSize, i, size);
    }
    ShowFreeSpace();
}

void CVeltraneDlg::TurnBusyIcon(int iconControl) {
    view_.SetControlIcon(kMain, iconControl, ids::kBusyFrames[AnimationFrame - 1]);
    AnimationFrame = AnimationFrame % 4 + 1;
}
