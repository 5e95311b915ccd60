// The window's reactions to WM_MAIN_NOTIFY: device changes, the ends of the three jobs, the
// unit found, and the keys of the message pre-filter.
#include "state/MessageCatalogue.h"
#include "state/ResourceIds.h"
#include "state/ResultTable.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "common/FileUtil.h"
#include "base/Logger.h"
#include "base/Text.h"
#include "device/NaviDriveImage.h"
#include "device/NaviFunction.h"
#include "device/TransferRecord.h"
#include "net/ExternalInterface.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {
constexpr int kMain = ids::kMainWindow;

void SendTransferCompletion(const std::string& failureCode) {
    TRANSFER_COMPLETION_REQUEST request{theApp.ProductNumber, failureCode};
    TRANSFER_COMPLETION_RESPONSE response;
    CExternalInterface().TransferCompletionRequest(&request, &response);
}
}  // namespace

void CVeltraneDlg::OnNotify(uintptr_t wParam, intptr_t lParam) {
    VLOG(LOG_TRACE, "OnMainNotify[%d]", static_cast<int>(wParam));
    OnJobEnd(wParam, lParam);
    switch (wParam) {
    case kNotifyDeviceChange: OnDeviceChanged(); break;
    case kNotifyDeleteDone: OnDeletionDone(); break;
    case kNotifyDeleteFailed: StartTimer(kTimerDeletionEnded, 100); break;
    case kNotifyTransferDone: OnTransferDone(); break;
    case kNotifyTransferFailed: OnTransferFailed(static_cast<int>(lParam)); break;
    case kNotifyDownloadDone: OnDownloadDone(); break;
    case kNotifyDownloadFailed: OnDownloadFailed(static_cast<int>(lParam)); break;
    case kNotifyDownloadStopped: OnDownloadPaused(); break;
    case kNotifyUnitFound: StartTimer(kTimerHoldUnit, 2000); break;
    case kNotifyKeyF3: OnFolderSelection(); break;
    case kNotifyKeyF12: OnCancel(); break;
    case kNotifyKeyF1: view_.ShellOpen(kManualUrl); break;
    case kNotifyOfferArrived: OnOfferArrived(); break;
    case kNotifyLineTested: OnLineTested(); break;
    default: break;
    }
}

void CVeltraneDlg::OnDeviceChanged() {
    // The eject owns the unit until it ends, which looks again (EndEject); so does the unit's
    // call running beside the window (OnUnitCallStep).
    if (eject_.step != EjectSequence::Step::None) return;
    if (unitCall_.InFlight()) {
        deviceChangedDuringUnitCall_ = true;
        return;
    }
    const bool holding = hold_.mode != HoldSequence::Mode::None;
    const bool held = theApp.Navi.DriveHandle.load() != nullptr && theApp.Navi.TransferRunning == 0 &&
                      theApp.TransferThreadHandle.IsNull();
    if (holding || held) {
        // A held volume is locked, and a formatted one has no identity files: the unit is asked
        // for through its handle and the mount manager, never through its files.
        const bool unitThere = DriveStillThere();
        // The hold sequence owns the unit while it runs: only the unit's going ends it.
        if (holding) {
            if (unitThere) return;
            CancelHold();
        }
        // Discovery leaves a held unit alone, so a pulled cable shows here: the unit's drive
        // is gone. The volume is let go (nothing to wait for), and discovery then finds no unit.
        if (!unitThere && theApp.Navi.DriveHandle.load() != nullptr) {
            theApp.Navi.NaviDrive.clear();
            DriveRelease();  // the unit is gone: nothing to wait for
        }
    }
    if (NaviConnectCheck() == 0) return;  // a newly found unit arrives as code 15
    ShowNoUnit();
}

void CVeltraneDlg::ShowNoUnit() {
    StopTimer(kTimerHoldUnit);
    holdRefused_ = false;  // the next unit plugged in is asked for again
    if (NaviConnected) {
        NaviConnected = false;
        view_.SetControlText(kMain, ids::kConnectionText, "未接続");
        SetStatusText(StatusText::UnplugCable);
    }
    view_.EnableControl(kMain, ids::kRemoveButton, false);
}

void CVeltraneDlg::OnDeletionDone() {
    if (DeleteRow >= 0 && DeleteRow < static_cast<int>(PcMapData.size())) {
        view_.DeleteRow(ids::kPcArea, DeleteRow);
        PcMapData.erase(PcMapData.begin() + DeleteRow);
    }
    SetHistoryData();
    SelectedRow = -1;
    CheckedRow = -1;
    FitPcSizeColumn();
    StartTimer(kTimerDeletionEnded, 100);
    ShowButtonsAfterDeletion();
    SetStatusText(StatusText::DeletionDone);
}

void CVeltraneDlg::OnTransferDone() {
    theApp.TransferredSet = CurrentData.version;
    // The intermediates go first, while the record still stands: a program killed after it is
    // gone must not leave them. NEW files left behind by a failed deletion are intermediates
    // the next transfer removes first.
    (void)MakeFileDelete(CurrentData.version);
    SendTransferCompletion("");
    // The transfer has wholly ended. A record that stays makes the next start find the unit
    // again and end at once with the completion call: nothing is written twice.
    (void)TransferRecordClear();  // logs its own failure
    theApp.Navi.ResumePending = 0;
    // The notice that follows tells the user to pull the cable, ejected or not.
    StartEject(false);
    StopTimer(kTimerTransferTime);
    StopTimer(kTimerTransferProgress);
    StopTimer(kTimerTransferBusy);
    StartTimer(kTimerTransferDone, 100);
    SetStatusText(StatusText::JobEnded);
    theApp.Messages.SetDataName(CurrentDataName);
    theApp.Messages.ShowConfirmMessage(kNoticeTransferDone);
    HoldWindowForTransfer(false);
    view_.SetControlIcon(kMain, ids::kTransferBusyIcon, 0);
    ButtonEnable(ButtonMode::Idle);
    theApp.Navi.TransferRunning = 0;
    theApp.Navi.ImageWritePending = 0;
}

void CVeltraneDlg::OnTransferFailed(int result) {
    std::string code = TransferFailureCode(result);
    SendTransferCompletion(code);
    // A unit whose drive is gone was pulled or lost power: the box says what to do about that.
    std::string root;
    if (GetDrive(&root) != 0) theApp.Messages.SetCause(ErrorCause::UnitRemoved);
    theApp.Messages.ShowErrorMessage(result, code, "");
    SetStatusText(StatusText::JobEnded);
    // NEW files left behind are intermediates the next transfer removes first.
    (void)MakeFileDelete(CurrentData.version);
    StopTimer(kTimerTransferTime);
    StopTimer(kTimerTransferProgress);
    StopTimer(kTimerTransferBusy);
    StartTimer(kTimerTransferFailed, 100);
    // A transfer that changed the unit left its record. Nothing is formatted unasked: the unit
    // is let go and found again by discovery (also without a file system, also when it was
    // pulled out meanwhile), and the next transfer press finishes it. The release runs beside
    // the window: its remount may ask a desktop user; discovery waits for it.
    if (TRANSFER_RECORD record; TransferRecordRead(&record))
        StartUnitCall(UnitCallFor::Release, [] {
            DriveRelease();
            return 0;
        });
    Post(kNotifyDeviceChange);
    HoldWindowForTransfer(false);
    view_.SetControlIcon(kMain, ids::kTransferBusyIcon, 0);
    ButtonEnable(ButtonMode::Idle);
    theApp.Navi.TransferRunning = 0;
}

void CVeltraneDlg::SetDownloadRecords(const std::string& status, double bytes) {
    float size = static_cast<float>(bytes * kBytesToGigabytes);
    std::string key = OfferVersion();
    for (int i = 0; i < static_cast<int>(PcMapData.size()); ++i) {
        PC_MAP_DATA& record = PcMapData[i];
        if (i != DownloadRecord && record.version != key) continue;
        record.status = status;
        record.size = size;
        SetPcAreaItem(kColumnStatus, i, status);
        SetPcAreaItem(kColumnSize, i, SizeText(size));
    }
}

void CVeltraneDlg::OnDownloadDone() {
    SetDownloadRecords(kStatusDownloaded, theApp.DownloadedBytes);
    if (theApp.ExitRequested == 1) return ExitAfterDownload();
    StopTimer(kTimerDownloadBusy);
    StopTimer(kTimerDownloadTime);
    StopTimer(kTimerDownloadProgress);
    StartTimer(kTimerDownloadEnded, 100);
    SetStatusText(StatusText::JobEnded);
    theApp.Messages.SetDataName(CurrentDataName);
    theApp.Messages.ShowConfirmMessage(kNoticeDownloadDone);
    SetDownloadFace(DownloadFace::Start);
    SetServerAreaData(kColumnStatus, kStatusDownloaded);
    Downloading = false;
    view_.SetControlIcon(kMain, ids::kDownloadBusyIcon, 0);
    ButtonEnable(ButtonMode::Idle);
}

void CVeltraneDlg::OnDownloadFailed(int kind) {
    DownloadFailed = true;
    SetDownloadRecords(Format("%d%s完了", theApp.DownloadPercent.load(), "%"), theApp.DownloadedBytes);
    if (theApp.ExitRequested == 1) return ExitAfterDownload();
    StopTimer(kTimerDownloadBusy);
    StopTimer(kTimerDownloadTime);
    StopTimer(kTimerDownloadProgress);
    StartTimer(kTimerDownloadEnded, 100);
    SetDownloadFace(DownloadFace::Resume);
    theApp.Messages.ShowErrorMessage(kind, ResultToMessageCode(kind), "");
    Downloading = false;
    view_.SetControlIcon(kMain, ids::kDownloadBusyIcon, 0);
    ButtonEnable(ButtonMode::Idle);
}

void CVeltraneDlg::OnDownloadPaused() {
    SetDownloadRecords(Format("%d%s完了", theApp.DownloadPercent.load(), "%"), theApp.DownloadedBytes);
    if (theApp.ExitRequested == 1) return ExitAfterDownload();
    StopTimer(kTimerDownloadBusy);
    StopTimer(kTimerDownloadTime);
    StopTimer(kTimerDownloadProgress);
    StartTimer(kTimerDownloadPaused, 100);
    Downloading = false;
    SetDownloadFace(DownloadFace::Resume);
    RedrawButtonIcons();
    view_.SetControlIcon(kMain, ids::kDownloadBusyIcon, 0);
}

void CVeltraneDlg::ExitAfterDownload() {
    // The job has reported its end, so the join does not wait on a running download.
    if (!theApp.DownloadThreadHandle.IsNull()) CloseDownloadThread();
    CloseForExit();
}

void CVeltraneDlg::CloseForExit() {
    // Called when a job has reported its end and been joined; another one still running
    // closes the window when it ends.
    if (AnyJobRuns()) return;
    SetHistoryData();
    LetGoForClose();
    view_.EndDialog(kMain, platform::IDOK);
}
