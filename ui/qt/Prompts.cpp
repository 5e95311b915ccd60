// The message box with its icon and button labels, the proxy-credential prompt and the format
// dialog, each run modally on the user-interface thread.
#include "ui/qt/Prompts.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/qt/Fonts.h"
#include "ui/qt/QtText.h"

namespace ui::qt {
namespace {

QMessageBox::Icon BoxIcon(uint32_t type) {
    switch (type & 0xF0) {
    case platform::MB_ICONERROR: return QMessageBox::Critical;
    case 0x20: return QMessageBox::Question;
    case platform::MB_ICONWARNING: return QMessageBox::Warning;
    case platform::MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

}  // namespace

int ShowMessageBox(const platform::MessageBoxRequest& request, QWidget* owner, std::optional<int> scriptedAnswer,
                   const std::string& screenshot) {
    QMessageBox box(BoxIcon(request.type), FromCp932(request.caption), FromCp932(request.text).remove('\r'),
                    QMessageBox::NoButton, request.owned ? owner : nullptr);
    box.setFont(DialogFont());
    QPushButton* ok = box.addButton("OK", QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if ((request.type & 0x0F) == platform::MB_OKCANCEL) {
        // The button hook's labels; without it the system's Japanese one.
        cancel = box.addButton(request.englishLabels ? "Cancel" : "キャンセル", QMessageBox::RejectRole);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.setDefaultButton(ok);
    if (scriptedAnswer) {
        QPushButton* press = *scriptedAnswer == platform::IDCANCEL && cancel ? cancel : ok;
        QTimer::singleShot(0, press, [&box, press, screenshot] {
            if (!screenshot.empty()) box.grab().save(QString::fromStdString(screenshot));
            press->click();
        });
    }
    box.exec();
    return box.clickedButton() == cancel && cancel != nullptr ? platform::IDCANCEL : platform::IDOK;
}

std::optional<platform::ProxyCredentials> AskProxyCredentials(const std::string& proxy, QWidget* owner) {
    QDialog dialog(owner);
    dialog.setFont(DialogFont());
    dialog.setWindowTitle("プロキシの認証");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(
        new QLabel(QString("プロキシ %1 のユーザー名とパスワードを入力してください。").arg(FromCp932(proxy))));
    auto* form = new QFormLayout;
    auto* user = new QLineEdit;
    auto* password = new QLineEdit;
    password->setEchoMode(QLineEdit::Password);
    form->addRow("ユーザー名:", user);
    form->addRow("パスワード:", password);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    buttons->addButton("キャンセル", QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return platform::ProxyCredentials{ToCp932(user->text()), ToCp932(password->text())};
}

bool ConfirmFormat(char driveLetter, QWidget* owner) {
    QDialog dialog(owner);
    dialog.setFont(DialogFont());
    dialog.setWindowTitle(QString("フォーマット - リムーバブル ディスク (%1:)").arg(QChar(driveLetter)));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel("ファイル システム: FAT32\nクイック フォーマット"));
    auto* buttons = new QDialogButtonBox;
    buttons->addButton("開始(&S)", QDialogButtonBox::AcceptRole);
    buttons->addButton("閉じる(&C)", QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        platform::MessageBoxRequest warning{
            "警告: フォーマットするとこのディスクのすべてのデータが消去されます。\nフォーマットする場合は [OK] を、"
            "終了する場合は [キャンセル] をクリックしてください。",
            "フォーマット", platform::MB_OKCANCEL | platform::MB_ICONWARNING};
        // This front end's own texts are UTF-8; the box takes the program's CP932.
        warning.text = ToCp932(QString::fromUtf8(warning.text.c_str()));
        warning.caption = ToCp932(QString::fromUtf8(warning.caption.c_str()));
        if (ShowMessageBox(warning, &dialog, std::nullopt) == platform::IDOK) dialog.accept();
    });
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace ui::qt
