// The dialog resources of every window: the main window, the confirmation, the connection and
// version information, the exit confirmation, the competing-process box and the device watcher.
#include "ui/DialogResources.h"

#include <map>

#include "state/ResourceIds.h"
#include "platform/View.h"

namespace ui {
namespace {

using K = ControlKind;

// Dialog units of the small dialogs' 8-point font (6 × 13 pixels per character cell).
constexpr Rect Dlu(int x, int y, int width, int height) {
    return {x * 6 / 4, y * 13 / 8, width * 6 / 4, height * 13 / 8};
}

DialogResource MainWindow() {
    DialogResource r{ids::kMainWindow, "Veltrane", 640, 480, {}, {}, {}, ids::kWindowIcon};
    r.controls = {
        {ids::kBanner, K::Picture, "", {0, 0, 640, 34}, ids::kBannerBitmap},
        {ids::kServerArea, K::ListView, "", {8, 60, 473, 44}},
        {ids::kDownloadButton, K::OwnerDrawButton, "ﾀﾞｳﾝﾛｰﾄﾞ開始  ", {486, 60, 148, 44}},
        {ids::kDownloadBusyIcon, K::Icon, "", {8, 107, 24, 24}},
        {ids::kDownloadTimeText, K::Static, "", {38, 112, 300, 16}},
        {ids::kDriveText, K::Static, "ドライブ", {486, 106, 148, 14}},
        {ids::kFreeSpaceText, K::Static, "空き容量：", {486, 120, 148, 14}},
        {ids::kPcArea, K::CheckListView, "", {8, 158, 473, 72}},
        {ids::kTransferButton, K::OwnerDrawButton, "転送開始", {486, 158, 148, 44}},
        {ids::kDeleteButton, K::PushButton, "ダウンロードデータの削除", {486, 206, 148, 24}},
        {ids::kNaviArea, K::ListView, "", {8, 258, 473, 44}},
        {ids::kConnectionText, K::Static, "未接続", {486, 258, 148, 20}},
        {ids::kRemoveButton, K::PushButton, "ナビ取り外し", {486, 280, 148, 24}},
        {ids::kTransferBusyIcon, K::Icon, "", {8, 307, 24, 24}},
        {ids::kTransferTimeText, K::Static, "", {38, 312, 300, 16}},
        {ids::kStatusLine, K::StatusLine, "", {8, 395, 624, 50}},
        {ids::kShopLink, K::Link, "地図購入WEBサイトへ", {470, 456, 162, 16}},
    };
    r.menus = {
        {"ファイル(&F)",
         {{ids::kMenuFolder, "ダウンロードフォルダ選択(&D)", "F3"}, {0, "", ""}, {ids::kMenuExit, "終了(&X)", "F12"}}},
        {"ナビゲーション(&N)",
         {{ids::kMenuRecognise, "ナビゲーションの再認識(&N)", ""},
          {ids::kMenuRecovery, "ナビゲーションのリカバリー(&F)", ""}}},
        {"ヘルプ(&H)",
         {{ids::kMenuHelp, "ヘルプ(&H)", "F1"},
          {ids::kMenuInquiry, "お問い合わせ先(&I)", ""},
          {ids::kMenuSupportReport, "サポート情報の保存(&S)", ""},
          {0, "", ""},
          {ids::kMenuVersion, "バージョン情報(&V)", ""}}},
    };
    // The area headings, the status heading and the footer strip.
    r.bitmaps = {{ids::kFooterBitmap, 0, 448},
                 {ids::kServerHeadingBitmap, 8, 37},
                 {ids::kPcHeadingBitmap, 8, 135},
                 {ids::kNaviHeadingBitmap, 8, 235},
                 {ids::kStatusHeadingBitmap, 8, 372}};
    return r;
}

// The pre-transfer and recovery confirmation: its window logic sets the title and texts.
DialogResource Confirmation() {
    Rect size = Dlu(0, 0, 399, 149);
    return {ids::kConfirmationDialog,
            "",
            size.width,
            size.height,
            {{ids::kConfirmHeading, K::Static, "", Dlu(7, 7, 385, 12)},
             {ids::kConfirmCable, K::Static, "", Dlu(14, 25, 378, 20)},
             {ids::kConfirmPower, K::Static, "", Dlu(14, 48, 378, 12)},
             {ids::kConfirmConnected, K::Static, "", Dlu(14, 62, 378, 12)},
             {ids::kConfirmQuestion, K::Static, "", Dlu(7, 86, 385, 20)},
             {ids::kConfirmFormatStep, K::Static, "", Dlu(7, 108, 268, 34)},
             {platform::IDOK, K::PushButton, "OK", Dlu(282, 126, 50, 15)},
             {platform::IDCANCEL, K::PushButton, "キャンセル", Dlu(342, 126, 50, 15)}}};
}

DialogResource ConnectionInformation() {
    Rect size = Dlu(0, 0, 280, 138);
    return {ids::kConnectionDialog,
            "ナビゲーション接続情報",
            size.width,
            size.height,
            {{ids::kConnectionInfoText, K::Static,
              "●接続確認をされる方\n●ナビゲーションのバージョンアップ（地図更新）をされる方\n"
              "   ナビゲーションをPC接続モードにしてください。\n"
              "   ナビゲーションとパソコンをUSBケーブルで接続してください。\n"
              "   「未接続」が「接続済み」になったことを確認して、「OK」ボタンを押してください。\n\n"
              "●ダウンロードをされる方\n   「OK」ボタンを押してください。",
              Dlu(6, 6, 270, 100)},
             {ids::kConnectionStateText, K::Static, "未接続", Dlu(7, 116, 120, 12)},
             {platform::IDOK, K::PushButton, "OK", Dlu(223, 114, 50, 15)}}};
}

DialogResource VersionInformation() {
    Rect size = Dlu(0, 0, 225, 76);
    return {ids::kVersionDialog,
            "ヴェルトレーンバージョン情報",
            size.width,
            size.height,
            {{kNoId, K::Icon, "", Dlu(10, 12, 21, 20), ids::kWindowIcon},
             {kNoId, K::Static, "ヴェルトレーン  バージョン(1.0.3)", Dlu(40, 18, 175, 12)},
             {platform::IDOK, K::PushButton, "OK", Dlu(168, 52, 50, 15)}}};
}

DialogResource ExitConfirmation() {
    Rect size = Dlu(0, 0, 186, 79);
    return {ids::kExitDialog,
            "ヴェルトレーン終了確認",
            size.width,
            size.height,
            {{kNoId, K::Static, "ヴェルトレーンを終了します。", Dlu(20, 14, 150, 12)},
             {kNoId, K::Static, "よろしいですか？", Dlu(20, 28, 150, 12)},
             {platform::IDOK, K::PushButton, "OK", Dlu(34, 54, 50, 15)},
             {platform::IDCANCEL, K::PushButton, "キャンセル", Dlu(102, 54, 50, 15)}}};
}

DialogResource CompetingProcess() {
    Rect size = Dlu(0, 0, 227, 74);
    return {ids::kProcessDialog,
            "競合プロセス終了確認",
            size.width,
            size.height,
            {{kNoId, K::Static, "ナビゲーションが別のアプリケーションによって使用されています。", Dlu(7, 6, 213, 17)},
             {kNoId, K::Static, "動作中のアプリケーションを終了してください。", Dlu(7, 25, 213, 10)},
             {kNoId, K::Static, "エラーコード(E01)", Dlu(7, 37, 213, 10)},
             {platform::IDOK, K::PushButton, "OK", Dlu(56, 53, 50, 15)},
             {platform::IDCANCEL, K::PushButton, "キャンセル", Dlu(121, 53, 50, 15)}}};
}

// The hidden tool window that turns device changes into a notification of its owner.
DialogResource DeviceWatcher() {
    Rect size = Dlu(0, 0, 60, 30);
    DialogResource r{
        ids::kWatcherDialog, "", size.width, size.height, {{platform::IDOK, K::PushButton, "OK", Dlu(5, 8, 50, 14)}}};
    r.hidden = true;
    return r;
}

const std::map<int, DialogResource>& Resources() {
    static const std::map<int, DialogResource> resources = [] {
        std::map<int, DialogResource> all;
        for (DialogResource r : {MainWindow(), Confirmation(), ConnectionInformation(), VersionInformation(),
                                 ExitConfirmation(), CompetingProcess(), DeviceWatcher()})
            all.emplace(r.id, std::move(r));
        return all;
    }();
    return resources;
}

}  // namespace

const DialogResource* FindDialogResource(int id) {
    auto found = Resources().find(id);
    return found == Resources().end() ? nullptr : &found->second;
}

const ControlResource* FindControlResource(int window, int id) {
    const DialogResource* dialog = FindDialogResource(window);
    if (dialog == nullptr || id == kNoId) return nullptr;
    for (const ControlResource& control : dialog->controls)
        if (control.id == id) return &control;
    return nullptr;
}

}  // namespace ui
