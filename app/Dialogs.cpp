// The small dialogs at work: the confirmation's texts for a transfer or a recovery, the hidden
// device watcher, and the connection information that follows the unit's connection.
#include "app/Dialogs.h"

#include "state/Results.h"
#include "state/NotifyCodes.h"
#include "state/NextStep.h"
#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "base/Text.h"
#include "device/NaviFunction.h"

int CSimpleDialog::DoModal() { return platform::CurrentView()->RunDialog(window_, *this); }

void CSimpleDialog::OnCommand(uint32_t id) {
    if (id == platform::IDOK || id == platform::IDCANCEL)
        platform::CurrentView()->EndDialog(window_, static_cast<int>(id));
}

void CDialogNaviConfiramation::OnInitDialog() {
    platform::View& view = *platform::CurrentView();
    if (Mode == 1) {
        view.SetCaption(window_, "転送開始の確認");
        view.SetControlText(window_, ids::kConfirmHeading,
                            "バージョンアップ(地図更新)データの転送を開始する前に次の確認をお願いします。");
        view.SetControlText(window_, ids::kConfirmCable,
                            "● "
                            "バージョンアップデータの転送が完了するまではナビゲーションとパソコンを接続しているUSBケー"
                            "ブルを外さないでください。");
        view.SetControlText(
            window_, ids::kConfirmQuestion,
            Format("バージョンアップ(地図更新)【%s】データの転送を開始してよろしいですか？", MapName.c_str()));
    } else {
        view.SetCaption(window_, "ナビゲーションのリカバリー");
        view.SetControlText(window_, ids::kConfirmHeading,
                            "ナビゲーションのリカバリーを開始する前に次の確認をお願いします。");
        view.SetControlText(window_, ids::kConfirmCable,
                            "● "
                            "ナビゲーションのリカバリーが完了するまではナビゲーションとパソコンを接続しているUSBケーブ"
                            "ルを外さないでください。");
        view.SetControlText(window_, ids::kConfirmQuestion, "ナビゲーションのリカバリーを開始してよろしいですか？");
        // The recovery formats through the shell's dialog, whose Quick Format box comes ticked.
        view.SetControlText(window_, ids::kConfirmFormatStep, FullFormatStep());
    }
    view.SetControlText(window_, ids::kConfirmPower,
                        "● ナビゲーションが電源（ACアダプター）に接続されていることを確認してください。");
    view.SetControlText(window_, ids::kConfirmConnected,
                        "● ナビゲーションがパソコンと接続済みになっていることを確認してください。");
}

bool CDialogDeviceWatch::Create() {
    created_ = platform::CurrentView()->CreateModeless(ids::kWatcherDialog, owner_, *this);
    return created_;
}

void CDialogDeviceWatch::Destroy() {
    if (created_) platform::CurrentView()->DestroyWindow(ids::kWatcherDialog);
    created_ = false;
}

void CDialogDeviceWatch::OnDeviceChange() { platform::CurrentView()->PostNotify(owner_, kNotifyDeviceChange, 0); }

CDialogSubNavi::CDialogSubNavi() : CSimpleDialog(ids::kConnectionDialog), watcher_(ids::kConnectionDialog) {}

CDialogSubNavi::~CDialogSubNavi() { watcher_.Destroy(); }

void CDialogSubNavi::OnInitDialog() {
    platform::View& view = *platform::CurrentView();
    view.SetControlText(window_, ids::kConnectionStateText, "未接続");
    view.PostNotify(window_, kNotifyDeviceChange, 0);
    if (!watcher_.Create()) theApp.Messages.ShowErrorMessage(kStartupFailed, "E05", "");
}

void CDialogSubNavi::OnNotify(uintptr_t wParam, intptr_t) {
    if (wParam != kNotifyDeviceChange) return;
    platform::CurrentView()->SetControlText(window_, ids::kConnectionStateText,
                                            NaviConnectCheck() == 0 ? "接続済み" : "未接続");
}
