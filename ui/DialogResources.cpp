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
    DialogResource r{platform::IDD_MAIN_WINDOW, "Veltrane", 640, 480, {}, {}, {}, ids::kWindowIcon};
    r.controls = {
        {1076, K::Picture, "", {0, 0, 640, 34}, ids::kBannerBitmap},
        {1055, K::ListView, "", {8, 60, 473, 44}},
        {1014, K::OwnerDrawButton, "ﾀﾞｳﾝﾛｰﾄﾞ開始  ", {486, 60, 148, 44}},
        {1027, K::Icon, "", {8, 107, 24, 24}},
        {1025, K::Static, "", {38, 112, 300, 16}},
        {1015, K::Static, "ドライブ", {486, 106, 148, 14}},
        {1011, K::Static, "空き容量：", {486, 120, 148, 14}},
        {1001, K::CheckListView, "", {8, 158, 473, 72}},
        {1013, K::OwnerDrawButton, "転送開始", {486, 158, 148, 44}},
        {1012, K::PushButton, "ダウンロードデータの削除", {486, 206, 148, 24}},
        {1071, K::ListView, "", {8, 258, 473, 44}},
        {1028, K::Static, "未接続", {486, 258, 148, 20}},
        {1072, K::PushButton, "ナビ取り外し", {486, 280, 148, 24}},
        {1033, K::Icon, "", {8, 307, 24, 24}},
        {1032, K::Static, "", {38, 312, 300, 16}},
        {1082, K::StatusLine, "", {8, 395, 624, 50}},
        {1074, K::Link, "地図購入WEBサイトへ", {470, 456, 162, 16}},
    };
    r.menus = {
        {"ファイル(&F)", {{32779, "ダウンロードフォルダ選択(&D)", "F3"}, {0, "", ""}, {32780, "終了(&X)", "F12"}}},
        {"ナビゲーション(&N)",
         {{32793, "ナビゲーションの再認識(&N)", ""}, {32788, "ナビゲーションのリカバリー(&F)", ""}}},
        {"ヘルプ(&H)",
         {{32776, "ヘルプ(&H)", "F1"},
          {32786, "お問い合わせ先(&I)", ""},
          {32795, "サポート情報の保存(&S)", ""},
          {0, "", ""},
          {32789, "バージョン情報(&V)", ""}}},
    };
    // The area headings, the status heading and the footer strip.
    r.bitmaps = {{203, 0, 448}, {198, 8, 37}, {200, 8, 135}, {199, 8, 235}, {201, 8, 372}};
    return r;
}

// The pre-transfer and recovery confirmation: its window logic sets the title and texts.
DialogResource Confirmation() {
    Rect size = Dlu(0, 0, 399, 149);
    return {146,
            "",
            size.width,
            size.height,
            {{1019, K::Static, "", Dlu(7, 7, 385, 12)},
             {1020, K::Static, "", Dlu(14, 25, 378, 20)},
             {1021, K::Static, "", Dlu(14, 48, 378, 12)},
             {1022, K::Static, "", Dlu(14, 62, 378, 12)},
             {1024, K::Static, "", Dlu(7, 86, 385, 20)},
             {platform::IDOK, K::PushButton, "OK", Dlu(282, 126, 50, 15)},
             {platform::IDCANCEL, K::PushButton, "キャンセル", Dlu(342, 126, 50, 15)}}};
}

DialogResource ConnectionInformation() {
    Rect size = Dlu(0, 0, 280, 138);
    return {174,
            "ナビゲーション接続情報",
            size.width,
            size.height,
            {{1032, K::Static,
              "●接続確認をされる方\n●ナビゲーションのバージョンアップ（地図更新）をされる方\n"
              "   ナビゲーションをPC接続モードにしてください。\n"
              "   ナビゲーションとパソコンをUSBケーブルで接続してください。\n"
              "   「未接続」が「接続済み」になったことを確認して、「OK」ボタンを押してください。\n\n"
              "●ダウンロードをされる方\n   「OK」ボタンを押してください。",
              Dlu(6, 6, 270, 100)},
             {1060, K::Static, "未接続", Dlu(7, 116, 120, 12)},
             {platform::IDOK, K::PushButton, "OK", Dlu(223, 114, 50, 15)}}};
}

DialogResource VersionInformation() {
    Rect size = Dlu(0, 0, 225, 76);
    return {175,
            "ヴェルトレーンバージョン情報",
            size.width,
            size.height,
            {{kNoId, K::Icon, "", Dlu(10, 12, 21, 20), ids::kWindowIcon},
             {kNoId, K::Static, "ヴェルトレーン  バージョン(1.0.3)", Dlu(40, 18, 175, 12)},
             {platform::IDOK, K::PushButton, "OK", Dlu(168, 52, 50, 15)}}};
}

DialogResource ExitConfirmation() {
    Rect size = Dlu(0, 0, 186, 79);
    return {209,
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
    return {210,
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
    DialogResource r{176, "", size.width, size.height, {{platform::IDOK, K::PushButton, "OK", Dlu(5, 8, 50, 14)}}};
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
