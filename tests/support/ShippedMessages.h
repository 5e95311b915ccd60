// What the user reads in each error box, with the Message.ini delivered beside the program. The
// texts are written out here, not taken from the catalogue, so that a wrong key, a wrong text or a
// placeholder left unfilled fails. Literals are u8 so that the table reads the same in tests built
// for CP932 and in tests built for UTF-8; the functions hand out the window's CP932 text.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/CodePage.h"
#include "platform/UserFolder.h"

namespace shipped {

inline std::string Window(const std::u8string& utf8) {
    return *platform::Utf8ToCp932(std::string(utf8.begin(), utf8.end()));
}
inline std::u8string Ascii(const std::string& text) { return std::u8string(text.begin(), text.end()); }

// The lines below a box raised for a known cause: the next step, and where the support report
// is (the world's user data folder).
inline std::string NextStep(const std::u8string& step) {
    return Window(u8"\n\n次の手順：" + step +
                  u8"\n解決しない場合は、メニューの［ヘルプ］→［サポート情報の保存］で作ったフォルダを、"
                  u8"お問い合わせ先にお送りください。保存先：") +
           platform::GetUserDataFolder() + "SupportReport\\";
}
inline const std::u8string kNoSpaceStep =
    u8"エクスプローラーなどで不要なファイルを削除して空き容量を増やしてから、もう一度［ダウンロード開始］を押して"
    u8"ください。ダウンロード済みのファイルはそのまま使われます。";
inline const std::u8string kUnitRemovedStep =
    u8"ナビゲーションをPC接続画面にして、USBケーブルでパソコンに接続し直してください。「接続済み」と表示されて"
    u8"から、もう一度［転送開始］を押してください。転送中はUSBケーブルを抜かないでください。";
inline const std::u8string kServiceStep =
    u8"ブラウザでホームページを表示できるか確認してください。会社などのネットワークでは、プロキシの設定が必要な"
    u8"場合があります。接続を確認してから、もう一度お試しください。";
inline const std::u8string kDigestStep =
    u8"［ﾀﾞｳﾝﾛｰﾄﾞ再開］を押してください。壊れたファイルだけをダウンロードし直します。繰り返し失敗する場合は、"
    u8"ウイルス対策ソフトがファイルを変更していないか確認してください。";

// Kind 400: the drive letter and the gigabytes needed ("%2.1f") fill the text.
inline std::string FreeSpaceMessage(const std::string& drive, const std::string& gigabytes, const std::string& code) {
    return Window(Ascii(drive) + u8"ドライブの空き容量が足りないため、ダウンロードできません。\nダウンロードには" +
                  Ascii(gigabytes) +
                  u8"GB以上の空き容量が必要です。\n不要なファイルを削除するか、メニューの［ダウンロードフォルダ選択］で"
                  u8"空き容量の多いドライブを選んでから、もう一度お試しください。\n(" +
                  Ascii(code) + u8")") +
           NextStep(kNoSpaceStep);
}

// Kind 405: the drive letter, the gigabytes the announced set needs and those free ("%2.1f").
inline std::string SetSpaceMessage(const std::string& drive, const std::string& needed, const std::string& free,
                                   const std::string& code) {
    return Window(Ascii(drive) +
                  u8"ドライブの空き容量が足りないため、ダウンロードできません。\nこの地図更新データには" +
                  Ascii(needed) + u8"GBの空き容量が必要ですが、空き容量は" + Ascii(free) +
                  u8"GBです。\n不要なファイルを削除するか、メニューの［ダウンロードフォルダ選択］で"
                  u8"空き容量の多いドライブを選んでから、もう一度お試しください。\n(" +
                  Ascii(code) + u8")") +
           NextStep(kNoSpaceStep);
}

// Every other kind of the catalogue, with the message code the caller passes.
inline std::string Message(int kind, const std::string& messageCode) {
    const std::u8string code = u8"\n(" + Ascii(messageCode) + u8")";
    const std::u8string noUnit =
        u8"ナビゲーションが見つかりません。\nナビゲーションをPC接続画面にして、USBケーブルでパソコンに接続してから、"
        u8"もう一度お試しください。";
    const std::u8string system =
        u8"処理中にエラーが発生しました。\nヴェルトレーンを終了して、もう一度起動してからお試しください。"
        u8"解決しない場合は、下のコードをお問い合わせ先にお知らせください。";
    switch (kind) {
    case 401:
        return Window(
            u8"地図更新データをダウンロードできませんでした。\nインターネットに接続されていることと、"
            u8"ダウンロード先のフォルダに書き込めることを確認してから、もう一度お試しください。" +
            code);
    case 402:
        return Window(
                   u8"ダウンロードしたファイルが壊れています。\n［ダウンロード再開］を押すと、"
                   u8"壊れたファイルからダウンロードし直します。" +
                   code) +
               NextStep(kDigestStep);
    case 403:
        return Window(
            u8"ダウンロードサーバーへのアクセスが拒否されました。\nしばらくしてから、もう一度お試しください。"
            u8"解決しない場合は、お問い合わせ先にご連絡ください。" +
            code);
    case 406:
        return Window(
                   u8"ダウンロードサーバーとの通信に失敗しました。\nインターネットに接続されていることを確認して、"
                   u8"しばらくしてから、もう一度お試しください。" +
                   code) +
               NextStep(kServiceStep);
    case 531:
    case 900:
        return Window(
                   u8"インターネットに接続できませんでした。\nネットワークの設定とケーブルの接続を確認してから、"
                   u8"もう一度お試しください。" +
                   code) +
               NextStep(kServiceStep);
    case 500:
        return Window(
            u8"転送する地図更新データが選択されていません。\n一覧で転送するデータにチェックを付けてから、"
            u8"［転送開始］を押してください。");
    case 501: return Window(noUnit + code);
    case 502:
        return Window(noUnit + code +
                      u8"\nまた、地図の転送に失敗しましたので、メニューから「ナビデータ消去」を実行してください。");
    case 503:
    case 504:
    case 507:
    case 514:
    case 516:
    case 517:
    case 518:
    case 519:
    case 520:
    case 521:
    case 522:
        return Window(
            u8"ナビゲーションへの地図の転送に失敗しました。\nUSBケーブルの接続を確認してから、"
            u8"もう一度［転送開始］を押してください。\n繰り返し失敗する場合は、ダウンロードデータを削除して、"
            u8"もう一度ダウンロードしてください。" +
            code);
    case 505:
        return Window(
            u8"お使いのナビゲーションには、この地図更新データと同じか、より新しい地図が入っています。\n"
            u8"転送の必要はありません。" +
            code);
    case 506:
        return Window(
            u8"パソコン内の地図更新データを読み込めませんでした。データが壊れている可能性があります。\n"
            u8"［ダウンロードデータの削除］でこのデータを削除してから、もう一度ダウンロードしてください。" +
            code);
    case 510:
    case 524:
        return Window(
            u8"この地図更新データは、現在提供中の地図更新データと名前またはバージョンが異なるため、"
            u8"転送できません。\n［ダウンロード開始］で提供中の地図更新データをダウンロードしてから、"
            u8"転送してください。");
    case 525: return Window(u8"ダウンロードが完了していないため、転送できません。");
    case 530:
    case 532:
        return Window(
            u8"ナビゲーションの空き容量が足りないか、ナビゲーションの状態を確認できませんでした。\n"
            u8"ナビゲーションをパソコンに接続し直してから、もう一度［転送開始］を押してください。" +
            code);
    case 534:
        return Window(
            u8"地図更新データを保存したフォルダが見つかりません。\nフォルダを移動した場合は、"
            u8"メニューの［ダウンロードフォルダ選択］でそのフォルダを選び直してください。" +
            code);
    case 600:
        return Window(
            u8"削除するダウンロードデータが選択されていません。\n一覧で削除するデータにチェックを付けてから、"
            u8"［ダウンロードデータの削除］を押してください。");
    case 601:
        return Window(
            u8"ダウンロードデータを削除できませんでした。\nデータのファイルを使用しているアプリケーションを"
            u8"終了してから、もう一度お試しください。");
    case 801:
        return Window(
            u8"ヴェルトレーンの起動中にエラーが発生しました。\nヴェルトレーンをインストールし直してください。" + code);
    case 810:
        return Window(u8"サーバーから正しい応答がありませんでした。\nしばらくしてから、もう一度お試しください。" +
                      code);
    case 901: return Window(system + u8"\n(E08)");
    case 1100:
        return Window(
            u8"ナビゲーションのドライブを割り当てられなかったため、再認識できませんでした。\n"
            u8"USBケーブルを抜き差ししてから、もう一度メニューの［ナビゲーションの再認識］を実行してください。" +
            code);
    case 1101:
        return Window(
            u8"ナビゲーションに割り当てられるドライブ文字が残っていません。\n使っていないネットワークドライブなどを"
            u8"切断してから、もう一度メニューの［ナビゲーションの再認識］を実行してください。" +
            code);
    case 1102:
    case 1103: return Window(u8"ナビゲーションが見つかりませんでした。");
    case 1200:
        return Window(
            u8"ナビゲーションが別のアプリケーションによって使用されているため、接続できませんでした。\n"
            u8"そのアプリケーションを終了してから、USBケーブルを接続し直してください。" +
            code);
    case 1201:
        return Window(
            u8"ナビゲーションを使用している別のアプリケーションを終了できませんでした。\n"
            u8"そのアプリケーションを手動で終了してから、もう一度お試しください。" +
            code);
    case 2100:
        return Window(
            u8"ナビゲーションを取り外せませんでした。\nナビゲーションを使用しているアプリケーションを"
            u8"終了してから、もう一度［ナビ取り外し］を押してください。" +
            code);
    case 400: throw std::invalid_argument("kind 400 is FreeSpaceMessage");
    default: return Window(system + code);  // 800 and every kind without an entry of its own
    }
}

}  // namespace shipped
