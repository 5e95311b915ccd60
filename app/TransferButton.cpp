// The transfer button: its checks in a fixed order, each refusal with its message, then the
// confirmation and the transfer job.
#include "app/Dialogs.h"
#include "state/Results.h"
#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "platform/Power.h"
#include "common/FileUtil.h"
#include "common/Operation.h"
#include "base/Text.h"
#include "device/NaviDriveImage.h"
#include "device/NaviFunction.h"
#include "device/TransferRecord.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {
constexpr int kMain = ids::kMainWindow;
}  // namespace

void CVeltraneDlg::OnTransferButton() {
    // The status already says the unit is there while the hold's lock try (or another call of
    // the unit) is out: the press is answered once the call has ended, as the remove button's is.
    if (unitCall_.InFlight()) {
        transferAfterUnitCall_ = true;
        return;
    }
    OPERATION("OnTransferButton", "", 0, [&] {
        CurrentDataName.clear();
        CurrentData = {};
        theApp.TransferAnimation = 0;
        HoldWindowForTransfer(true);
        ButtonEnable(ButtonMode::TransferStarting);
        if (!StartTransfer()) {
            HoldWindowForTransfer(false);
            ButtonEnable(ButtonMode::Idle);
        }
        return 0;
    });
}

void CVeltraneDlg::HoldWindowForTransfer(bool hold) {
    view_.EnableSystemClose(kMain, !hold);
    CloseEnabled = !hold;
    view_.SetSessionEndBlock(kMain, hold ? "ナビへの転送中です。USBケーブルを外さないでください。" : "");
}

bool CVeltraneDlg::PowerAllowsTransfer() {
    // Every transfer writes the whole image, minutes long; a laptop whose battery runs out
    // meanwhile leaves the unit without a usable volume.
    constexpr int kLowBatteryPercent = 30;
    platform::SYSTEM_POWER_STATUS power;
    if (!platform::GetSystemPowerStatus(&power) || power.ACLineStatus != platform::kAcLineOffline ||
        power.BatteryLifePercent >= kLowBatteryPercent)
        return true;
    VLOG(LOG_INFO, "バッテリー残量低下[%d]", power.BatteryLifePercent);
    theApp.Messages.SetDetailText(Format("%d", power.BatteryLifePercent));
    return theApp.Messages.ShowConfirmMessage(kConfirmLowBattery) == platform::IDOK;
}

bool CVeltraneDlg::StartTransfer() {
    // A transfer cut off while it changed the unit is finished before anything else is written.
    TRANSFER_RECORD record;
    bool resume = TransferRecordRead(&record);
    // A unit that is not held yet would fail only after the whole preparation. Only the locked
    // and dismounted volume is written, and never while the hold's tries hold a handle of theirs.
    int connected = NaviConnectCheck();
    if (connected != 0 || !NaviConnected || hold_.mode != HoldSequence::Mode::None || !DriveHeld()) {
        theApp.Messages.ShowErrorMessage(kUnitNotConnected, "E02", "");
        VLOG(LOG_ERROR, "ナビ接続エラー[%d]", connected);
        return false;
    }
    if (resume && theApp.Navi.ResumePending != 1) {
        // Another unit: nothing goes onto it unless the user gives the cut-off transfer up,
        // which the new transfer's record then replaces.
        theApp.Messages.SetDataName(record.dataName);
        if (theApp.Messages.ShowConfirmMessage(kConfirmOtherUnit) != platform::IDOK) {
            VLOG(LOG_ERROR, "記録と別のナビ[%s]", theApp.Navi.NaviInstanceId.c_str());
            return false;
        }
        resume = false;
    }
    if (resume ? !ChooseRecordedData(record) : !ChooseCheckedData()) return false;
    if (int result = DownloadFolderCheck(CurrentData.version); result != 0) {
        // The cut-off transfer's set is gone: the user hears which version to download again.
        theApp.Messages.ShowErrorMessage(resume ? kRecordedSetMissing : kDownloadFolderMissing, "E17", "");
        VLOG(LOG_ERROR, "ダウンロードフォルダなし[%d]", result);
        return false;
    }
    if (!PowerAllowsTransfer()) return false;
    CDialogNaviConfiramation confirmation;
    confirmation.Mode = 1;
    confirmation.MapName = CurrentDataName;
    if (confirmation.DoModal() != platform::IDOK) return false;

    SetNaviAreaData(kColumnName, CurrentDataName);
    SetNaviAreaData(kColumnStatus, "0%完了");
    SetNaviAreaData(kColumnSize, SizeText(CurrentData.size));
    SetStatusText(StatusText::TransferStarted);
    AnimationFrame = 1;
    StartTimer(kTimerTransferBusy, 100);
    StartTimer(kTimerTransferProgress, 1000);
    StartTimer(kTimerTransferTime, 1000);
    Transfer.resume = resume;
    Transfer.record = record;
    if (!resume) {
        // A new transfer names the unit; the job adds the set and the image.
        Transfer.record = {};
        Transfer.record.instanceId = theApp.Navi.NaviInstanceId;
        Transfer.record.deviceId = theApp.Navi.NaviDeviceId;
        Transfer.record.dataName = CurrentDataName;
    }
    if (int started = NaviUpdateStart(&Transfer, CurrentData.version); started != 0) {
        theApp.Messages.ShowErrorMessage(kTransferStartFailed, "E02", "");
        VLOG(LOG_ERROR, "ナビ転送開始エラー[%d]", started);
        StopTimer(kTimerTransferBusy);
        StopTimer(kTimerTransferProgress);
        StopTimer(kTimerTransferTime);
        return false;
    }
    OnJobStarted("転送", CurrentDataName);
    return true;
}

bool CVeltraneDlg::ChooseCheckedData() {
    for (int row = 0; row < static_cast<int>(PcMapData.size()); ++row)
        if (view_.IsRowChecked(ids::kPcArea, row)) {
            CurrentData = PcMapData[row];
            CurrentDataName = CurrentData.name;
            theApp.TransferDataFolder = CurrentData.folder;
            theApp.TransferMapName = CurrentData.version;
            break;
        }
    theApp.Messages.SetDataName(CurrentDataName);
    if (CurrentDataName.empty()) {
        theApp.Messages.ShowErrorMessage(kNoDataSelected, "E01", "");
        VLOG(LOG_ERROR, "データ選択エラー[%d]", kNoDataSelected);
        return false;
    }
    if (CurrentData.status != kStatusDownloaded) {
        theApp.Messages.ShowErrorMessage(kDownloadIncomplete, "E03", "");
        return false;
    }
    if (CurrentData.name != theApp.OfferName || CurrentData.version != OfferVersion()) {
        theApp.Messages.ShowErrorMessage(kDataNameMismatch, CurrentData.name != theApp.OfferName ? "E01" : "", "");
        VLOG(LOG_ERROR, "データ名不一致[%d]", kDataNameMismatch);
        return false;
    }
    int result = NaviVersionCheck(CurrentData.version);
    if (result == kUnitNotOlder) {
        theApp.Messages.ShowErrorMessage(kUnitNotOlder, "E17", "");
        VLOG(LOG_ERROR, "ナビバージョン最新[%d]", result);
        return false;
    }
    if (result != 0) {
        theApp.Messages.ShowErrorMessage(kSystemError, "E02", "");
        VLOG(LOG_ERROR, "ナビバージョン取得エラー[%d]", result);
        return false;
    }
    return true;
}

// The recorded transfer goes on, on the unit the record names. No row, offer or version check:
// the unit holds part of the recorded version already, and its version files may be gone with
// its file system.
bool CVeltraneDlg::ChooseRecordedData(const TRANSFER_RECORD& record) {
    theApp.Messages.SetDataName(record.dataName);
    CurrentData = {};
    for (const PC_MAP_DATA& row : PcMapData)
        if (row.version == record.version) CurrentData = row;
    CurrentData.name = record.dataName;
    CurrentData.version = record.version;
    CurrentData.folder = record.folder;
    CurrentDataName = record.dataName;
    theApp.TransferDataFolder = record.folder;
    theApp.TransferMapName = record.version;
    VLOG(LOG_INFO, "転送再開[%s]", record.version.c_str());
    return true;
}
