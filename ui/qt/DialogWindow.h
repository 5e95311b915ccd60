// One of the program's windows on the screen: a QDialog with the controls, menus and painted
// bitmaps of its dialog resource, handing every user action to its window logic. It never
// closes by itself: Esc and the system Close are IDCANCEL commands, and the logic ends it.
#pragma once

#include <QAction>
#include <QDialog>
#include <map>
#include <string>

#include "platform/View.h"
#include "ui/DialogResources.h"
#include "ui/qt/Controls.h"

namespace ui::qt {

class DialogWindow : public QDialog {
public:
    DialogWindow(const DialogResource& resource, platform::ViewHandler& logic, QWidget* parent);

    int Id() const { return resource_.id; }
    platform::ViewHandler& Logic() { return logic_; }
    // The widget of a control, or nullptr.
    QWidget* Control(int id) const;
    ListArea* List(int id) const;

    void SetText(int id, const std::string& cp932);
    std::string Text(int id) const;
    void SetCaption(const std::string& cp932);
    std::string Caption() const { return caption_; }
    void SetIcon(int id, int iconId);
    void EnableMenuItem(int id, bool enable);
    bool IsMenuItemEnabled(int id) const;
    bool HasMenuItem(int id) const { return menuItems_.contains(id); }
    // What choosing a menu item does: the menus are brought up to date first.
    bool ChooseMenuItem(int id);
    void EnableSystemClose(bool enable) { systemClose_ = enable; }

    void End(int result);
    bool Ended() const { return ended_; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void AddControl(const ControlResource& control, QWidget* client);
    void AddMenus();

    const DialogResource& resource_;
    platform::ViewHandler& logic_;
    std::map<int, QWidget*> controls_;
    std::map<int, std::string> texts_;
    std::map<int, QAction*> menuItems_;
    std::string caption_;
    bool systemClose_ = true;
    bool ended_ = false;
};

}  // namespace ui::qt
