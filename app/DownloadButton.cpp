// The download button: pause a running download, or start (resume) the offered one.
#include <algorithm>
#include <cstdlib>
#include <optional>

#include "state/Results.h"
#include "state/MessageCatalogue.h"
#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "common/FileUtil.h"
#include "common/Operation.h"
#include "net/ExternalInterface.h"
#include "net/Http.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {
constexpr int kStartAttempts = 3;
// Room a whole map update needs in the map folder.
constexpr double kNeededGigabytes = 5.0;
}  // namespace

void CVeltraneDlg::OnDownloadButton() {
    OPERATION("OnDownloadButton", "", 0, [&] {
        // The start is under way: its line test ends within its bounds, or at the window's close.
        if (!theApp.LineTestThreadHandle.IsNull()) return 0;
        if (Downloading)
            PauseDownload();
        else
            StartDownload();
        return 0;
    });
}

void CVeltraneDlg::PauseDownload() {
    int answer = theApp.Messages.ShowConfirmMessage(kConfirmPause);
    DownloadState state = CheckDownloadState();
    // The download may have ended while the question was open.
    if (state == DownloadState::Downloaded || (DownloadFailed && state == DownloadState::Unfinished)) {
        ButtonEnable(ButtonMode::Idle);
        return;
    }
    if (answer != platform::IDOK) {
        ButtonEnable(ButtonMode::PauseRefused);
        return;
    }
    ButtonEnable(ButtonMode::DownloadPausing);
    SetStatusText(StatusText::DownloadPausing);
    theApp.PauseRequested = 1;
    Downloading = false;
    SetDownloadFace(DownloadFace::Resume);
    RedrawButtonIcons();
    StopTimer(kTimerDownloadBusy);
    StopTimer(kTimerDownloadProgress);
    StopTimer(kTimerDownloadTime);
}

void CVeltraneDlg::StartDownload() {
    // The button asks the service itself; a start-up offer still on its way is not wanted.
    offerPending_ = false;
    theApp.PauseRequested = 0;
    DownloadFailed = false;
    ButtonEnable(ButtonMode::DownloadStarting);
    double total = 0, free = 0;
    if (GetDiskSpace(&total, &free) != 0) {
        theApp.Messages.ShowErrorMessage(kSystemError, "E01", "");
        ButtonEnable(ButtonMode::Idle);
        return;
    }
    theApp.DownloadedBytes = 0;
    SetDownloadFace(DownloadFace::Pause);
    RedrawButtonIcons();

    auto abandon = [&] { AbandonDownloadStart(false); };
    if (!AskForOffer()) return abandon();
    // The offer's version names the download folder: a name that leaves the map folder is
    // the service's fault, refused before anything is created.
    std::optional<std::string> version = VersionName(DownloadJob.start);
    if (!version) {
        VLOG(LOG_ERROR, "バージョン名エラー");
        theApp.Messages.ShowErrorMessage(kServiceRefused, "E90", "");
        return abandon();
    }
    if (DownloadFolderCreate(*version) != 0) {
        theApp.Messages.ShowErrorMessage(kSystemError, "E03", "");
        return abandon();
    }
    SetStatusText(StatusText::DownloadStarting);
    StartTimer(kTimerDownloadBusy, 100);
    view_.SetWaitCursor(true);
    if (!PrepareDownloadJob()) return AbandonDownloadStart(true);
    startFreeGigabytes_ = free;
    lineTestResult_ = 0;
    const auto lineTest = [this] {
        lineTestResult_ = LineSpeedTest(&DownloadJob, platform::MachineClock());
        view_.PostNotify(ids::kMainWindow, kNotifyLineTested, 0);
    };
    // Where the system gives no thread, the test runs in place as it always could.
    if (!theApp.LineTestThreadHandle.Start(lineTest)) lineTest();
}

void CVeltraneDlg::OnLineTested() {
    theApp.LineTestThreadHandle.JoinAndClose();
    view_.SetWaitCursor(false);
    // Closed meanwhile: the test was abandoned, and the window closes once the start has ended.
    if (theApp.ExitRequested == 1) return AbandonDownloadStart(true);
    if (lineTestResult_ == kSlowLine && theApp.Messages.ShowConfirmMessage(kConfirmSlowLine) != platform::IDOK)
        return AbandonDownloadStart(true);
    ContinueDownloadStart();
}

void CVeltraneDlg::ContinueDownloadStart() {
    const double free = startFreeGigabytes_;
    auto abandon = [&] { AbandonDownloadStart(true); };
    // The description gave the update's size.
    SetServerAreaData(kColumnSize, SizeText(theApp.MapSizeGB));
    // The announced set, less what is on disk already, must fit in what is free: refused
    // before its first byte rather than when the disk is full.
    const double setGigabytes =
        std::max(0.0, DownloadJob.expectedBytes - DownloadJob.downloadedBytes.load()) / (1 << 30);
    if (setGigabytes > free) {
        RefuseForSet(setGigabytes, free);
        return abandon();
    }

    DownloadState state = CheckDownloadState();
    if (state == DownloadState::NotDownloaded) {
        if (free < kNeededGigabytes) {
            RefuseForSpace(kNeededGigabytes);
            return abandon();
        }
        PcMapData.push_back({theApp.OfferName, "0%完了", OfferVersion(), theApp.MapFolder, 0});
        AddPcListData();
        DownloadRecord = static_cast<int32_t>(PcMapData.size()) - 1;
    } else if (state == DownloadState::Unfinished) {
        double needed = kNeededGigabytes - CurrentDownload.size;
        if (needed > free) {
            RefuseForSpace(needed);
            return abandon();
        }
        theApp.DownloadPercent = std::atoi(CurrentDownload.status.c_str());
        DownloadRecord = UnfinishedOfferRecord();
    }
    ScrollPcListToCurrent();

    DownloadJob.completionRequest.model_group_cd = theApp.ProductNumber;
    if (StartDownloadThread(&DownloadJob) != 0) {
        theApp.Messages.ShowErrorMessage(kSystemError, "E02", "");
        return abandon();
    }
    OnJobStarted("ダウンロード", theApp.OfferName);
    SetServerAreaData(kColumnStatus, "ダウンロード中");
    Downloading = true;
    StartTimer(kTimerDownloadProgress, 1000);
    StartTimer(kTimerDownloadTime, 1000);
    SetStatusText(StatusText::Downloading);
}

bool CVeltraneDlg::AskForOffer() {
    theApp.OfferName.clear();
    DOWNLOAD_START_REQUEST request{theApp.ProductNumber};
    DOWNLOAD_START_RESPONSE& response = DownloadJob.start;
    int result = 0;
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        response = {};
        result = CExternalInterface().DownloadStartRequest(&request, &response);
        if (result == 0) break;
        if (result != kHttpProxyDeclined) response.result_detail_cd = "E07";
    }
    if (result != 0) {
        theApp.Messages.ShowErrorMessage(kTransferFailed, response.result_detail_cd, "");
        VLOG(LOG_ERROR, "DownloadStartRequest通信エラー[%d]", result);
        return false;
    }
    std::string messageCode;
    int kind = ServiceResultToCode(response.result_cd, response.result_detail_cd, &messageCode);
    if (kind != 0) {
        theApp.Messages.ShowErrorMessage(kind, messageCode, "");
        VLOG(LOG_ERROR, "DownloadStartRequest通信エラー[%d]", kind);
        return false;
    }
    theApp.OfferName = response.product_name;
    SetServerAreaData(kColumnName, theApp.OfferName);
    return true;
}

bool CVeltraneDlg::PrepareDownloadJob() {
    int result = CExternalInterface().GetDownloadConfing(&DownloadJob, 1);
    if (result != 0) {
        if (result == kDownloadFailed)
            theApp.Messages.ShowErrorMessage(kDownloadFailed, "E02-1", "");
        else
            theApp.Messages.ShowErrorMessage(kTransferFailed, "E02", "");
        return false;
    }
    return true;
}

void CVeltraneDlg::AbandonDownloadStart(bool busyShown) {
    SetDownloadFace(CheckDownloadState() == DownloadState::Unfinished ? DownloadFace::Resume : DownloadFace::Start);
    if (busyShown) {
        SetStatusText(StatusText::Empty);
        StopTimer(kTimerDownloadBusy);
        StartTimer(kTimerDownloadStartFailed, 100);
    }
    RedrawButtonIcons();
    ButtonEnable(ButtonMode::Idle);
    view_.SetWaitCursor(false);
}

void CVeltraneDlg::RefuseForSpace(double neededGigabytes) {
    theApp.Messages.SetDetailText(theApp.MapFolder.substr(0, 1));
    theApp.Messages.SetNumberText(neededGigabytes);
    theApp.Messages.ShowErrorMessage(kNotEnoughSpace, "E01", "");
}

void CVeltraneDlg::RefuseForSet(double neededGigabytes, double freeGigabytes) {
    VLOG(LOG_ERROR, "空き容量不足[%.1f:%.1f]", neededGigabytes, freeGigabytes);
    theApp.Messages.SetDetailText(theApp.MapFolder.substr(0, 1));
    theApp.Messages.SetNumberText(neededGigabytes);
    theApp.Messages.SetFreeNumberText(freeGigabytes);
    theApp.Messages.ShowErrorMessage(kSetLargerThanFreeSpace, "E01", "");
}

int32_t CVeltraneDlg::UnfinishedOfferRecord() const {
    for (int i = 0; i < static_cast<int>(PcMapData.size()); ++i)
        if (PcMapData[i].name == theApp.OfferName && PcMapData[i].status != kStatusDownloaded) return i;
    return -1;
}
