// The user's commands of the main window other than the three job buttons: exit, removal of
// the unit, folder selection, re-recognition, recovery, the help pages and menu enabling.
#include "app/Dialogs.h"
#include "state/Results.h"
#include "state/MessageCatalogue.h"
#include "state/ResourceIds.h"
#include "state/ResultTable.h"
#include "state/VeltraneApp.h"
#include "app/SupportReport.h"
#include "app/VeltraneDlg.h"
#include "common/FileUtil.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "device/MountVolume.h"
#include "device/NaviDriveImage.h"
#include "device/NaviFunction.h"
#include "device/TransferRecord.h"
#include "platform/Clock.h"
#include "platform/Profile.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {
constexpr int kMain = ids::kMainWindow;
constexpr char kInquiryUrl[] = "https://www.veltrane.jp/support/";
constexpr char kShopUrl[] = "https://shop.veltrane.jp/map/";
}  // namespace

void CVeltraneDlg::OnCommand(uint32_t id) {
    switch (id) {
    case platform::IDCANCEL:
    case ids::kMenuExit: OnCancel(); break;
    case ids::kDownloadButton: OnDownloadButton(); break;
    case ids::kTransferButton: OnTransferButton(); break;
    case ids::kDeleteButton: OnDeleteButton(); break;
    case ids::kRemoveButton: OnRemoveButton(); break;
    case ids::kMenuFolder: OnFolderSelection(); break;
    case ids::kMenuRecognise: OnRecognise(); break;
    case ids::kMenuRecovery: OnRecovery(); break;
    case ids::kMenuVersion: CDialogNaviVersion().DoModal(); break;
    case ids::kMenuHelp: view_.ShellOpen(kManualUrl); break;
    case ids::kMenuInquiry: view_.ShellOpen(kInquiryUrl); break;
    case ids::kMenuSupportReport: OnSupportReport(); break;
    case static_cast<uint32_t>(ids::kShopLink): view_.ShellOpen(kShopUrl); break;
    default: break;  // IDOK and 1077: Enter does not close the window
    }
}

bool CVeltraneDlg::AnyJobRuns() {
    return !theApp.DownloadThreadHandle.IsNull() || !theApp.TransferThreadHandle.IsNull() ||
           !theApp.DeleteThreadHandle.IsNull() || unitCall_.InFlight() || !theApp.LineTestThreadHandle.IsNull();
}

void CVeltraneDlg::OnCancel() {
    if (theApp.TransferThreadHandle.IsNull()) AppExitUpdate();
}

int CVeltraneDlg::AppExitUpdate() {
    VLOG(LOG_TRACE, "AppExitUpdate開始[%d]", kMain);
    if (CDialogExet().DoModal() == platform::IDOK) {
        theApp.ExitRequested = 1;
        // A running download sees the flag and ends; a running deletion is let finish. The
        // window closes when either reports its end.
        if (theApp.DownloadThreadHandle.IsNull() && theApp.DeleteThreadHandle.IsNull() && !unitCall_.InFlight()) {
            LetGoForClose();
            view_.EndDialog(kMain, platform::IDOK);
        }
    }
    VLOG(LOG_TRACE, "AppExitUpdate終了");
    return 0;
}

bool CVeltraneDlg::OnQueryEndSession() {
    // A transfer cannot be stopped halfway: the session end is refused as exit is.
    return theApp.TransferThreadHandle.IsNull();
}

bool CVeltraneDlg::UnitTransferRunningOrPending() {
    if (theApp.Navi.TransferRunning != 0 || !theApp.TransferThreadHandle.IsNull() || theApp.Navi.ImageWritePending != 0)
        return true;
    // A transfer cut off in an earlier run is pending until the record says it has ended.
    TRANSFER_RECORD record;
    return TransferRecordRead(&record);
}

bool CVeltraneDlg::OnQueryCancelAutoPlay() {
    // AutoPlay would offer to format a unit whose file system the image write has taken away:
    // one click there erases it mid-update.
    return UnitTransferRunningOrPending();
}

void CVeltraneDlg::OnEndSession() {
    // As for exit: a download is stopped (what it fetched stays for the resume) and a deletion
    // let finish before the window closes. A trial letter comes off now: the session may end
    // with this process before the window does.
    AbandonRecognise();
    theApp.ExitRequested = 1;
    if (theApp.DownloadThreadHandle.IsNull() && theApp.DeleteThreadHandle.IsNull() && !unitCall_.InFlight()) {
        LetGoForClose();
        view_.EndDialog(kMain, platform::IDOK);
    }
}

bool CVeltraneDlg::OnCloseRequest() {
    if (!AnyJobRuns()) {
        LetGoForClose();
        return true;
    }
    // Nobody is asked: the running job is let end (a download stops at once, a line test is
    // abandoned) and the window closes itself then.
    theApp.ExitRequested = 1;
    if (!theApp.LineTestThreadHandle.IsNull()) theApp.Internet.AbandonTransfers();
    return false;
}

void CVeltraneDlg::OnRemoveButton() {
    OPERATION("OnRemoveButton", "", 0, [&] {
        StartEject(true);
        return 0;
    });
}

void CVeltraneDlg::OnFolderSelection() {
    if (AnyJobRuns()) return;
    std::optional<std::string> folder =
        view_.BrowseForFolder("ダウンロード/転送するファイルを保存するフォルダを選択", theApp.MapFolder);
    if (!folder) return;
    theApp.MapFolder = *folder;
    // The folder holds for this session either way; the next start would return to the old one.
    if (!platform::WritePrivateProfileStringA("VELTRANE", "MAPFOLDER", theApp.MapFolder.c_str(),
                                              theApp.SettingsIniPath.c_str()))
        VLOG(LOG_ERROR, "設定ファイル書込みエラー[%s]", theApp.SettingsIniPath.c_str());
    double total = 0, free = 0;
    GetDiskSpace(&total, &free);
    std::string space = Format("残り %5.1fGB 空き", free);
    view_.SetControlText(kMain, ids::kFreeSpaceText, space.substr(space.find_first_not_of(' ')));
    view_.SetControlText(kMain, ids::kDriveText, Format("%sドライブ", GetDriveLetter(theApp.MapFolder).c_str()));
    theApp.HistoryIniPath = theApp.MapFolder + "\\" + "History.ini";
    GetHistoryData();
    SetPcAreaData();
    ButtonEnable(ButtonMode::Idle);
}

void CVeltraneDlg::OnRecognise() {
    // One recovery at a time: while its trial letter waits, the window answers.
    if (AnyJobRuns() || !recovery_.trialRoot.empty()) return;
    if (theApp.Messages.ShowConfirmMessage(kConfirmRecognition) != platform::IDOK) return;
    view_.SetWaitCursor(true);
    ContinueRecognise(LetterRecoveryStart(&recovery_));
}

void CVeltraneDlg::ContinueRecognise(int result) {
    if (result == kRecoveryTrialWaits) return StartTimer(kTimerRecoveryStep, kLetterTrialWaitMs);
    view_.SetWaitCursor(false);
    if (result != 0)
        theApp.Messages.ShowErrorMessage(result, ResultToMessageCode(result), "");
    else
        SetStatusText(StatusText::UnitRecognised);
}

void CVeltraneDlg::AbandonRecognise() {
    if (recovery_.trialRoot.empty()) return;
    StopTimer(kTimerRecoveryStep);
    view_.SetWaitCursor(false);
    LetterRecoveryAbandon(&recovery_);
}

void CVeltraneDlg::LetGoForClose() {
    DriveRelease();  // nothing waits for the volume
    AbandonRecognise();
}

void CVeltraneDlg::OnRecovery() {
    if (AnyJobRuns()) return;
    CDialogNaviConfiramation confirmation;
    confirmation.Mode = 0;
    if (confirmation.DoModal() != platform::IDOK) return;
    // Only a format that ran and succeeded is a recovery: without a unit there is nothing to
    // format, and a cancelled or failed format leaves the unit as it was.
    if (theApp.Navi.NaviDrive.empty()) {
        theApp.Messages.ShowErrorMessage(kUnitNotConnected, "E02", "");
        return;
    }
    StartRecoveryFormat();
}

void CVeltraneDlg::StartRecoveryFormat() {
    // The format takes the unit: a hold under way would lock it again.
    CancelHold();
    // The confirmation's place is drawn again before the format dialog shows.
    view_.Repaint(kMain);
    StartUnitCall(UnitCallFor::Format, [] {
        // The format needs the volume let go; whether it could be had shows in its result.
        DriveRelease();
        return FormatNaviDrive();
    });
}

void CVeltraneDlg::EndRecoveryFormat(int formatted, bool holdAgain) {
    // Formatted, the unit has no identity files until it is plugged in again, so discovery would
    // not know it: it is held again by its drive, through the hold's timer steps. A unit that
    // cannot be held shows at the next press.
    if (holdAgain && !theApp.Navi.NaviDrive.empty() && !TransferOwnsUnit()) {
        hold_.mode = HoldSequence::Mode::Tick;
        BeginHoldTry();
    }
    // The formatted unit no longer holds the start of its cut-off transfer: nothing is left to
    // finish on it. A record naming another unit stays.
    if (formatted == 0 && theApp.Navi.ResumePending == 1) {
        // A record that cannot go is logged; the next transfer then starts its image from piece 0.
        (void)TransferRecordClear();
        theApp.Navi.ResumePending = 0;
    }
    SetStatusText(formatted == 0 ? StatusText::RecoveryDone : StatusText::Empty);
}

void CVeltraneDlg::OnInitMenu() {
    bool idle = !AnyJobRuns();
    for (uint32_t item : {ids::kMenuFolder, ids::kMenuRecovery}) view_.EnableMenuItem(kMain, item, idle);
    view_.EnableMenuItem(kMain, ids::kMenuRecognise, idle && recovery_.trialRoot.empty());
    view_.EnableMenuItem(kMain, ids::kMenuExit,
                         theApp.TransferThreadHandle.IsNull() && theApp.DeleteThreadHandle.IsNull());
    for (uint32_t item : {ids::kMenuHelp, ids::kMenuInquiry, ids::kMenuSupportReport, ids::kMenuVersion})
        view_.EnableMenuItem(kMain, item, true);
}

void CVeltraneDlg::OnSupportReport() {
    std::string folder;
    if (int result = WriteSupportReport(&folder); result != 0) {
        theApp.Messages.ShowErrorMessage(result, "E96", "");
        return;
    }
    theApp.Messages.SetDetailText(folder);
    theApp.Messages.ShowConfirmMessage(kNoticeSupportReport);
    // Shown, never sent: the user decides what to do with it.
    view_.ShellOpen(folder);
}
