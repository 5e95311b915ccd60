// The main window's set-up and end, and what its parts share: button enabling, the status line,
// the download state, the button faces and the keys.
#include "app/VeltraneDlg.h"

#include <cmath>

#include "app/Dialogs.h"
#include "state/Results.h"
#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "device/NaviDriveImage.h"
#include "device/TransferRecord.h"
#include "platform/CodePage.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {
constexpr int kMain = ids::kMainWindow;
}  // namespace

const char kStatusDownloaded[] = "ダウンロード完了";
const char kStatusDownloadable[] = "ダウンロード可";

CVeltraneDlg::CVeltraneDlg() : view_(*platform::CurrentView()), watcher_(std::make_unique<CDialogDeviceWatch>(kMain)) {}

CVeltraneDlg::~CVeltraneDlg() {
    StopServiceCalls();
    // The jobs work on this window's objects and post to it: none may outlive it, whichever
    // way the window ended. A download is asked to stop; a deletion or a transfer runs to its
    // end, which is never cut off.
    if (!theApp.DownloadThreadHandle.IsNull()) theApp.ExitRequested = 1;
    theApp.DownloadThreadHandle.JoinAndClose();
    theApp.TransferThreadHandle.JoinAndClose();
    theApp.DeleteThreadHandle.JoinAndClose();
    // A hold or an eject the window's end cut off between its steps keeps its reopen probe.
    DriveReopenAbandon(&hold_.probe);
    DriveReopenAbandon(&eject_.probe);
    LetterRecoveryAbandon(&recovery_);
    watcher_->Destroy();
}

void CVeltraneDlg::OnInitDialog() {
    OPERATION("OnInitDialog", "", 0, [&] {
        Initialise();
        return 0;
    });
}

void CVeltraneDlg::Initialise() {
    if (!watcher_->Create()) {
        theApp.Messages.ShowErrorMessage(kStartupFailed, "E04", "");
        return;
    }
    NaviConnected = false;
    Downloading = false;
    DownloadButtonMode = DownloadFace::Start;
    DownloadFailed = false;
    CloseEnabled = true;
    SelectedRow = -1;
    AnimationFrame = 1;
    ButtonEnable(ButtonMode::Idle);

    ShowFreeSpace();
    view_.SetControlText(kMain, ids::kDriveText, Format("ドライブ %s", GetDriveLetter(theApp.MapFolder).c_str()));

    GetHistoryData();
    PcListAreaInit();
    SetPcAreaData();
    ServerListAreaInit();
    NaviListAreaInit();

    view_.SetControlText(kMain, ids::kTransferTimeText, "");
    view_.SetControlText(kMain, ids::kDownloadTimeText, "");
    view_.SetControlIcon(kMain, ids::kDownloadBusyIcon, 0);
    view_.SetControlIcon(kMain, ids::kTransferBusyIcon, 0);
    SetStatusText(StatusText::Empty);

    view_.Repaint(kMain);
    RedrawButtonIcons();
    Post(kNotifyDeviceChange);
    // The offer is asked for once the window shows, so that data downloaded in an earlier run
    // can be transferred without a new download.
    StartTimer(kTimerOffer, 100);
}

void CVeltraneDlg::ShowFreeSpace() {
    double total = 0, free = 0;
    GetDiskSpace(&total, &free);
    view_.SetControlText(kMain, ids::kFreeSpaceText, Format("空き容量：%.1fGB", free));
}

void CVeltraneDlg::StartTimer(uint32_t id, uint32_t milliseconds) { view_.SetTimer(kMain, id, milliseconds); }

void CVeltraneDlg::StopTimer(uint32_t id) { view_.KillTimer(kMain, id); }

void CVeltraneDlg::Post(uintptr_t code) { view_.PostNotify(kMain, code, 0); }

void CVeltraneDlg::ButtonEnable(ButtonMode mode) {
    VLOG(LOG_TRACE, "ButtonEnable開始[%d]", static_cast<int>(mode));
    auto enable = [&](int id, bool on) { view_.EnableControl(kMain, id, on); };
    switch (mode) {
    case ButtonMode::JobButtonsOff:
        enable(ids::kDownloadButton, false);
        enable(ids::kTransferButton, false);
        enable(ids::kDeleteButton, false);
        break;
    case ButtonMode::DownloadStarting:
        enable(ids::kTransferButton, false);
        enable(ids::kDeleteButton, false);
        enable(ids::kPcArea, false);
        break;
    case ButtonMode::TransferStarting:
    case ButtonMode::DeletionStarting:
        enable(ids::kDownloadButton, false);
        enable(ids::kTransferButton, false);
        enable(ids::kDeleteButton, false);
        enable(ids::kPcArea, false);
        enable(ids::kRemoveButton, false);
        break;
    case ButtonMode::DeleteOff: enable(ids::kDeleteButton, false); break;
    case ButtonMode::DownloadOff: enable(ids::kDownloadButton, false); break;
    case ButtonMode::DownloadPausing:
    case ButtonMode::PauseRefused:
        enable(ids::kDownloadButton, mode == ButtonMode::PauseRefused);
        enable(ids::kTransferButton, false);
        enable(ids::kDeleteButton, false);
        enable(ids::kPcArea, false);
        break;
    default:
        enable(ids::kDownloadButton, CheckDownloadState() != DownloadState::Downloaded);
        enable(ids::kTransferButton, HasCompletedData() || theApp.Navi.ResumePending == 1);
        enable(ids::kDeleteButton, true);
        enable(ids::kPcArea, true);
        enable(ids::kRemoveButton, !theApp.Navi.NaviDrive.empty());
        break;
    }
    view_.Repaint(kMain);
    StartTimer(kTimerRepaint, 50);
    VLOG(LOG_TRACE, "ButtonEnable終了");
}

void CVeltraneDlg::SetStatusText(StatusText code) {
    OPERATION("SetStatusText", "", 0, [&] {
        std::string text;
        switch (code) {
        case StatusText::UnitHeld:
            text =
                "ナビゲーションとパソコンの接続が確認されました。\r\n"
                "ナビゲーションへバージョンアップ(地図更新)"
                "データの転送を開始するには、データを選択してから「転送開始」ボタンをクリックしてください。";
            break;
        case StatusText::TransferStarted:
            text = Format(
                "ナビゲーションにバージョンアップ(地図更新)【%s】データの転送を開始しました。\r\n"
                "転送完了までしばらくお待ちください。\r\n"
                "転送中はナビゲーションとパソコンを接続しているUSBケーブルを外さないでください。",
                CurrentDataName.c_str());
            break;
        case StatusText::TransferDone:
            text = Format(
                "お待たせ致しました。地図【%s】の転送が完了しました。\r\n"
                "ナビゲーションの画面からバージョンアップを終了し、ナビを再起動してください。\r\n"
                "また、PCからナビを完全に取り外すことができます。",
                CurrentDataName.c_str());
            break;
        case StatusText::TransferCutOff: {
            TRANSFER_RECORD record;
            text = Format(
                "ナビゲーションへのバージョンアップ(地図更新)【%s】データの転送が途中で中断されています。\r\n"
                "「転送開始」ボタンをクリックすると、中断したところから転送を再開して完了します。",
                TransferRecordRead(&record) ? record.dataName.c_str() : "");
            break;
        }
        case StatusText::UnitUpToDate: text = "ナビに最新版が転送されています。"; break;
        case StatusText::UnplugCable: {
            // A completion text stays until something else replaces it.
            std::string current = view_.GetControlText(kMain, ids::kStatusLine);
            std::string_view marks = "お待たせ致しました。地図";
            if (!current.empty()) {
                std::string_view first(current.data(), platform::CharLength(current, 0));
                for (size_t i = 0; i < marks.size(); i += platform::CharLength(marks, i))
                    if (marks.substr(i, platform::CharLength(marks, i)) == first) return 0;
            }
            text = "ナビゲーションとパソコンを接続しているUSBケーブルを外してください。";
            break;
        }
        case StatusText::Downloading:
            text = Format(
                "現在、バージョンアップ(地図更新)【%s】データをダウンロードしています。\r\n"
                "ダウンロード完了までしばらくお待ちください。",
                theApp.OfferName.c_str());
            break;
        case StatusText::DownloadDone:
            text = Format(
                "お待たせいたしました。「%s」地図のダウンロードが完了いたしました。\r\n"
                "ナビへ転送を開始される方は、ナビを接続してから、「転送開始」ボタンをクリックしてください。",
                theApp.OfferName.c_str());
            break;
        case StatusText::DownloadPaused:
            text = Format(
                "「ﾀﾞｳﾝﾛｰﾄﾞ再開」ボタンを押すと、バージョンアップ（地図更新）【%"
                "s】データのダウンロードが再開されます。",
                theApp.OfferName.c_str());
            break;
        case StatusText::DownloadStarting: text = "ダウンロード開始をしています。\r\nしばらくお待ちください。"; break;
        case StatusText::DownloadPausing: text = "ダウンロードを中断しています。\r\nしばらくお待ちください。"; break;
        case StatusText::DeletionDone: {
            const auto& records = MapDelete.Records();
            text = Format("バージョンアップ(地図更新)【%s】データの削除が終了しました。",
                          records.empty() ? "" : records.front().displayName.c_str());
            break;
        }
        case StatusText::UnitRecognised: text = "ナビゲーションと接続を確認しました。"; break;
        case StatusText::RecoveryDone: text = "ナビゲーションのリカバリーが完了しました。"; break;
        default: break;
        }
        view_.SetControlText(kMain, ids::kStatusLine, text);
        return 0;
    });
}

std::string CVeltraneDlg::OfferVersion() const {
    const DOWNLOAD_START_RESPONSE& offer = DownloadJob.start;
    return Format("%s%s%s", offer.unified_map_ver_gen.c_str(), offer.unified_map_ver_major.c_str(),
                  offer.unified_map_ver_minor.c_str());
}

DownloadState CVeltraneDlg::CheckDownloadState() {
    std::string key = OfferVersion();
    for (const PC_MAP_DATA& record : PcMapData) {
        if (record.name != theApp.OfferName) continue;
        if (record.status != kStatusDownloaded) {
            CurrentDownload = record;
            return DownloadState::Unfinished;
        }
        if (record.version == key) return DownloadState::Downloaded;
    }
    for (const PC_MAP_DATA& record : PcMapData)
        if (record.version == key) return DownloadState::Downloaded;
    return DownloadState::NotDownloaded;
}

bool CVeltraneDlg::HasCompletedData() {
    for (const PC_MAP_DATA& record : PcMapData)
        if (record.status == kStatusDownloaded) return true;
    return false;
}

void CVeltraneDlg::RedrawButtonIcons() {
    bool downloadEnabled = view_.IsControlEnabled(kMain, ids::kDownloadButton);
    int downloadIcon = ids::kIconPause;
    if (DownloadButtonMode == DownloadFace::Start)
        downloadIcon = downloadEnabled ? ids::kIconStartEnabled : ids::kIconStartDisabled;
    else if (DownloadButtonMode == DownloadFace::Resume)
        downloadIcon = downloadEnabled ? ids::kIconResumeEnabled : ids::kIconResumeDisabled;
    view_.SetControlIcon(kMain, ids::kDownloadButton, downloadIcon);
    view_.SetControlIcon(
        kMain, ids::kTransferButton,
        view_.IsControlEnabled(kMain, ids::kTransferButton) ? ids::kIconStartEnabled : ids::kIconStartDisabled);
}

void CVeltraneDlg::SetDownloadFace(DownloadFace face) {
    static const char* const kFaces[] = {"ﾀﾞｳﾝﾛｰﾄﾞ開始  ", "ﾀﾞｳﾝﾛｰﾄﾞ再開  ", "ﾀﾞｳﾝﾛｰﾄﾞ中断  "};
    view_.SetControlText(kMain, ids::kDownloadButton, kFaces[static_cast<int>(face) - 1]);
    DownloadButtonMode = face;
}

void CVeltraneDlg::OnKeyDown(uint32_t virtualKey) {
    switch (virtualKey) {
    case platform::VK_F1: Post(kNotifyKeyF1); break;
    case platform::VK_F3: Post(kNotifyKeyF3); break;
    case platform::VK_F5: Post(kNotifyKeyF5); break;
    case platform::VK_F12: Post(kNotifyKeyF12); break;
    default: break;
    }
}

void CVeltraneDlg::OnListItemChanged(const platform::ListItemChange& change) {
    if (change.listId == ids::kPcArea) PcListCheckChanged(change);
}

std::string SizeText(double gigabytes) {
    std::string text = Format("%5.1fGB", gigabytes);
    size_t first = text.find_first_not_of(' ');
    size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}
