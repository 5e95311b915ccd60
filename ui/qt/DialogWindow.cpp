// A window built from its dialog resource: its painted client area, controls with their fonts and
// colours, menus enabled just before they open, and the end that only the logic brings.
#include "ui/qt/DialogWindow.h"

#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/qt/Fonts.h"
#include "ui/qt/Images.h"
#include "ui/qt/QtText.h"

namespace ui::qt {
namespace {

// The window's client area: the bitmaps painted on its background, white being transparent
// in the drawings already.
class ClientArea : public QWidget {
public:
    ClientArea(const DialogResource& resource, QWidget* parent) : QWidget(parent), resource_(resource) {
        setFixedSize(resource.width, resource.height);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        for (const BitmapPlacement& bitmap : resource_.bitmaps)
            painter.drawPixmap(bitmap.x, bitmap.y, ImagePixmap(bitmap.bitmap));
    }

private:
    const DialogResource& resource_;
};

QString ShownText(const std::string& cp932) { return FromCp932(cp932).remove('\r'); }

}  // namespace

DialogWindow::DialogWindow(const DialogResource& resource, platform::ViewHandler& logic, QWidget* parent)
    : QDialog(parent), resource_(resource), logic_(logic) {
    setFont(resource.id == platform::IDD_MAIN_WINDOW ? MainWindowFont() : DialogFont());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    if (resource.id == platform::IDD_MAIN_WINDOW) setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* client = new ClientArea(resource, this);
    layout->addWidget(client);
    for (const ControlResource& control : resource.controls) AddControl(control, client);
    if (!resource.menus.empty()) AddMenus();
    SetCaption(resource.title);
    if (resource.icon != 0) setWindowIcon(QIcon(ImagePixmap(resource.icon)));
}

void DialogWindow::AddControl(const ControlResource& control, QWidget* client) {
    QWidget* widget = nullptr;
    QString text = ShownText(control.text);
    auto command = [this, id = control.id] { logic_.OnCommand(static_cast<uint32_t>(id)); };
    switch (control.kind) {
    case ControlKind::PushButton:
    case ControlKind::OwnerDrawButton: {
        QPushButton* button =
            control.kind == ControlKind::PushButton ? new QPushButton(text, client) : new OwnerDrawButton(text, client);
        button->setAutoDefault(false);
        if (control.id == platform::IDOK && resource_.id != platform::IDD_MAIN_WINDOW) button->setDefault(true);
        connect(button, &QPushButton::clicked, this, command);
        widget = button;
        break;
    }
    case ControlKind::Static:
    case ControlKind::StatusLine: {
        auto* label = new QLabel(text, client);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (control.kind == ControlKind::StatusLine) {
            // COLORREF 0xF8F3F0 and 0x800000 are blue-green-red: a pale blue and navy.
            label->setAutoFillBackground(true);
            QPalette colours = label->palette();
            colours.setColor(QPalette::Window, QColor(0xF0, 0xF3, 0xF8));
            colours.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x80));
            label->setPalette(colours);
            label->setMargin(3);
        }
        widget = label;
        break;
    }
    case ControlKind::Link: widget = new LinkLabel(text, client, command); break;
    case ControlKind::Icon:
    case ControlKind::Picture: {
        auto* label = new QLabel(client);
        label->setScaledContents(true);
        if (control.image != 0)
            label->setPixmap(ImagePixmap(control.image, control.kind == ControlKind::Icon
                                                            ? QSize(control.rect.width, control.rect.height)
                                                            : QSize()));
        widget = label;
        break;
    }
    case ControlKind::ListView:
    case ControlKind::CheckListView:
        widget = new ListArea(control.id, control.kind == ControlKind::CheckListView, client,
                              [this](const platform::ListItemChange& change) { logic_.OnListItemChanged(change); });
        break;
    }
    widget->setGeometry(control.rect.x, control.rect.y, control.rect.width, control.rect.height);
    if (control.id != kNoId) {
        widget->setObjectName(QString::number(control.id));
        controls_[control.id] = widget;
        texts_[control.id] = control.text;
    }
}

void DialogWindow::AddMenus() {
    auto* bar = new QMenuBar(this);
    for (const MenuResource& menuResource : resource_.menus) {
        QMenu* menu = bar->addMenu(FromCp932(menuResource.title));
        // The logic enables the items just before the menu opens.
        connect(menu, &QMenu::aboutToShow, this, [this] { logic_.OnInitMenu(); });
        for (const MenuItemResource& item : menuResource.items) {
            if (item.id == 0) {
                menu->addSeparator();
                continue;
            }
            // After a tab the key is only shown: the key itself goes to the window logic.
            QString text = FromCp932(item.text);
            if (!item.accelerator.empty()) text += '\t' + FromCp932(item.accelerator);
            QAction* action = menu->addAction(text);
            connect(action, &QAction::triggered, this,
                    [this, id = item.id] { logic_.OnCommand(static_cast<uint32_t>(id)); });
            menuItems_[item.id] = action;
        }
    }
    layout()->setMenuBar(bar);
}

QWidget* DialogWindow::Control(int id) const {
    auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

ListArea* DialogWindow::List(int id) const { return dynamic_cast<ListArea*>(Control(id)); }

void DialogWindow::SetText(int id, const std::string& cp932) {
    QWidget* widget = Control(id);
    if (widget == nullptr) return;
    texts_[id] = cp932;
    if (auto* button = dynamic_cast<QAbstractButton*>(widget))
        button->setText(ShownText(cp932));
    else if (auto* label = dynamic_cast<QLabel*>(widget))
        label->setText(ShownText(cp932));
}

std::string DialogWindow::Text(int id) const {
    auto found = texts_.find(id);
    return found == texts_.end() ? std::string() : found->second;
}

void DialogWindow::SetCaption(const std::string& cp932) {
    caption_ = cp932;
    setWindowTitle(FromCp932(cp932));
}

void DialogWindow::SetIcon(int id, int iconId) {
    QWidget* widget = Control(id);
    if (auto* button = dynamic_cast<OwnerDrawButton*>(widget))
        button->SetFaceIcon(iconId == 0 ? QPixmap() : ImagePixmap(iconId, QSize(32, 32)));
    else if (auto* label = dynamic_cast<QLabel*>(widget))
        label->setPixmap(iconId == 0 ? QPixmap() : ImagePixmap(iconId, label->size()));
}

void DialogWindow::EnableMenuItem(int id, bool enable) {
    if (auto found = menuItems_.find(id); found != menuItems_.end()) found->second->setEnabled(enable);
}

bool DialogWindow::IsMenuItemEnabled(int id) const {
    auto found = menuItems_.find(id);
    return found != menuItems_.end() && found->second->isEnabled();
}

bool DialogWindow::ChooseMenuItem(int id) {
    if (!HasMenuItem(id)) return false;
    logic_.OnInitMenu();
    if (!IsMenuItemEnabled(id)) return false;
    menuItems_[id]->trigger();
    return true;
}

void DialogWindow::End(int result) {
    if (ended_) return;  // the first result stands
    ended_ = true;
    done(result);
}

void DialogWindow::reject() { logic_.OnCommand(platform::IDCANCEL); }

void DialogWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (systemClose_) logic_.OnCommand(platform::IDCANCEL);
}

}  // namespace ui::qt
