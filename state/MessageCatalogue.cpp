// The message catalogue at work: the error boxes (each kind's box is a row of
// state/ResultTable.cpp) with their placeholders filled, and the confirmations.
#include "state/MessageCatalogue.h"

#include "state/ResultTable.h"
#include "state/VeltraneApp.h"
#include "base/Logger.h"
#include "base/Text.h"
#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/View.h"

static constexpr char kLogSource[] = ".\\MessageCatalogue";

namespace {

using platform::MB_ICONERROR;
using platform::MB_ICONINFORMATION;
using platform::MB_ICONWARNING;

std::string ReadText(const char* section, const char* key) {
    char buffer[512] = {};
    platform::GetPrivateProfileStringA(section, key, "", buffer, sizeof buffer, theApp.MessageIniPath.c_str());
    return buffer;
}

std::string FillText(std::string text, Fill fill, const MessageCatalogue& catalogue, const std::string& code) {
    using platform::ReplaceAll;
    if (fill == Fill::None) return text;
    text = ReplaceAll(text, "\\n", "\n");
    switch (fill) {
    case Fill::Download:
        text = ReplaceAll(text, "#1", catalogue.DetailText);
        text = ReplaceAll(text, "#2", catalogue.NumberText);
        text = ReplaceAll(text, "#4", catalogue.FreeNumberText);
        return ReplaceAll(text, "#3", code);
    case Fill::Code: return ReplaceAll(text, "#1", code);
    case Fill::NaviCode: return ReplaceAll(ReplaceAll(text, "#1", code), "#2", "");
    case Fill::NaviFailedCopy:
        return ReplaceAll(ReplaceAll(text, "#1", code), "#2",
                          "\nまた、地図の転送に失敗しましたので、メニューから「ナビデータ消去」を実行してください。");
    case Fill::FixedE08: return ReplaceAll(text, "#1", "E08");
    case Fill::NameCode: return ReplaceAll(ReplaceAll(text, "#1", catalogue.DataName), "#2", code);
    default: return text;
    }
}

int ShowBox(const std::string& text, const char* caption, uint32_t type, bool owned, bool hooked) {
    platform::View* view = platform::CurrentView();
    if (view == nullptr) return 0;
    platform::MessageBoxRequest request;
    request.text = text;
    request.caption = caption;
    request.type = type;
    request.owned = owned;
    request.englishLabels = hooked;
    return view->MessageBox(request);
}

std::string TimeText(int minutes) {
    int hours = minutes / 60;
    return hours != 0 ? Format("%d時間%d分", hours, minutes % 60) : Format("%d分", minutes % 60);
}

}  // namespace

int MessageCatalogue::ShowErrorMessage(int kind, const std::string& messageCode, const std::string& note) {
    NoteText = note;
    const ErrorBox& entry = BoxOf(kind);
    std::string text =
        FillText(entry.builtIn ? entry.builtIn : ReadText(entry.section, entry.key), entry.fill, *this, messageCode);
    {
        std::lock_guard guard(lastErrorLock_);
        lastError_ = ShownError{kind, messageCode, text};
    }
    // The kept log names every error a user saw, for the support report.
    VLOG(LOG_ERROR, "エラー表示[%d][%s]", kind, messageCode.c_str());
    ErrorCause cause = Cause.exchange(ErrorCause::Unknown);
    if (cause == ErrorCause::Unknown) cause = CauseOfKind(kind);
    ShowBox(text + NextStepText(cause), entry.caption, platform::MB_OK | entry.icon, kind != 801, false);
    return 1;
}

std::optional<ShownError> MessageCatalogue::LastError() {
    std::lock_guard guard(lastErrorLock_);
    return lastError_;
}

int MessageCatalogue::ShowConfirmMessage(int kind) {
    using platform::MB_OKCANCEL;
    const uint32_t question = MB_OKCANCEL | MB_ICONINFORMATION;
    switch (kind) {
    case kConfirmSlowLine:
        return ShowBox(Format("お客様がお使いのインターネット回線の速度は、当社推奨の回線速度を下回っています。\n"
                              "ダウンロードを続行することも可能ですが、\n"
                              "ダウンロード完了までの時間は【%s】と想定されます。"
                              "ダウンロードを続行してもよろしいですか？",
                              TimeText(EstimatedMinutes).c_str()),
                       "回線速度の確認", question, true, true);
    case kConfirmCompetingProcess:
        return ShowBox(
            "ナビゲーションが別のアプリケーションによって使用されています。\n"
            "動作中のアプリケーションを終了してください。\n\n[E01]",
            "エラー", MB_OKCANCEL | MB_ICONERROR, true, true);
    case kConfirmRecognition:
        return ShowBox("ナビゲーションの再認識をします。\nナビゲーションを接続してください。", "ナビゲーションの再認識",
                       question, true, true);
    case kConfirmPause:
        return ShowBox(
            "バージョンアップ(地図更新)データのダウンロードを中断してよろしいですか？\n"
            "中断をしても、途中からダウンロードを再開することができます。",
            "ダウンロード中断の確認", question, true, true);
    case kConfirmDelete:
        return ShowBox(Format("バージョンアップ(地図更新)【%s】データを削除してよろしいですか？\n\n"
                              "※注意！削除したデータは元に戻すことはできません。",
                              DataName.c_str()),
                       "ダウンロードデータの削除", question, true, true);
    case kConfirmLowBattery:
        return ShowBox(Format("パソコンのバッテリー残量が少なくなっています(残り%s%%)。\n"
                              "転送中にパソコンの電源が切れると、ナビゲーションが使用できなくなるおそれがあります。\n"
                              "ACアダプタを接続してから転送を開始することをお勧めします。\n\n"
                              "このまま転送を開始してもよろしいですか？",
                              DetailText.c_str()),
                       "バッテリー残量の確認", MB_OKCANCEL | MB_ICONWARNING, true, true);
    case kConfirmOtherUnit:
        return ShowBox(
            Format("接続されているナビゲーションは、前回【%s】の転送が中断したナビゲーションではありません。\n"
                   "中断したナビゲーションに続きから転送するには、「キャンセル」を押して、"
                   "そのナビゲーションを接続してください。\n"
                   "「OK」を押すと、接続されているナビゲーションに新しく転送します。"
                   "中断したナビゲーションには、続きから転送できなくなります。",
                   DataName.c_str()),
            "転送の確認", MB_OKCANCEL | MB_ICONWARNING, true, true);
    case kNoticeTransferDone:
        ShowBox(Format("バージョンアップ(地図更新)【%s】データの転送が完了しました。\n"
                       "ナビゲーションとパソコンを接続しているUSBケーブルを抜いてください。\n"
                       "ナビゲーションの画面の「終了」ボタンを押してください。",
                       DataName.c_str()),
                "転送の完了", MB_ICONINFORMATION, true, false);
        return 0;
    case kNoticeDownloadDone:
        ShowBox(
            Format("バージョンアップ(地図更新)【%s】データのダウンロードを完了しました。\n\n"
                   "●ナビゲーションへ転送を開始される方\n"
                   "1)ナビゲーションをPC接続画面にしてください。\n"
                   "2)ナビゲーションとパソコンをUSBケーブルで接続してください。\n"
                   "「未接続」が「接続済み」になったことを確認して、ヴェルトレーンの［転送開始］を押してください。\n\n"
                   "●ナビゲーションへ転送されない方\n"
                   "ヴェルトレーン画面右上の［×］ボタンを押して終了させてください。",
                   theApp.OfferName.c_str()),
            "ダウンロードの完了", MB_ICONINFORMATION, true, false);
        return 0;
    case kNoticeSupportReport:
        ShowBox(Format("サポート情報を次のフォルダに保存しました。\n%s\n\n"
                       "このフォルダの中のファイルを、お問い合わせ先にお送りください。\n"
                       "ヴェルトレーンがこの情報をどこかへ送ることはありません。",
                       DetailText.c_str()),
                "サポート情報の保存", MB_ICONINFORMATION, true, false);
        return 0;
    default: return 0;
    }
}

int MessageCatalogue::SetCause(ErrorCause cause) {
    Cause = cause;
    return 0;
}

int MessageCatalogue::SetDataName(const std::string& text) {
    DataName = text;
    return 0;
}

int MessageCatalogue::SetDetailText(const std::string& text) {
    DetailText = text;
    return 0;
}

int MessageCatalogue::SetNumberText(double number) {
    NumberText = Format("%2.1f", number);
    return 0;
}

int MessageCatalogue::SetFreeNumberText(double number) {
    FreeNumberText = Format("%2.1f", number);
    return 0;
}
