// The window on a screen: Qt 6 Widgets behind the view seam. Windows are QDialogs built from
// the dialog resources; timers are QTimers by (window, id); posted notifications are queued
// invocations; boxes and prompts asked from a worker thread run on the user-interface thread
// while the worker waits. Device changes reach every open window, removal requests the
// windows watching the volumes. A QApplication must exist.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

#include "platform/DeviceChange.h"
#include "platform/View.h"
#include "ui/RemovalWatches.h"
#include "ui/ScriptedAnswers.h"
#include "ui/qt/DialogWindow.h"

namespace ui::qt {

class QtView : public QObject, public platform::View, public ui::ScriptedAnswers {
public:
    QtView();
    ~QtView() override;

    // The window of an open dialog, or nullptr (for tests and screenshots).
    DialogWindow* Window(int window) const;

    // View.
    int RunDialog(int window, platform::ViewHandler& logic) override;
    void EndDialog(int window, int result) override;
    void SetControlText(int window, int id, const std::string& text) override;
    std::string GetControlText(int window, int id) override;
    void EnableControl(int window, int id, bool enable) override;
    bool IsControlEnabled(int window, int id) override;
    void ShowControl(int window, int id, bool show) override;
    void Repaint(int window) override;
    void SetCaption(int window, const std::string& text) override;
    void SetControlIcon(int window, int id, int iconId) override;
    void EnableMenuItem(int window, int itemId, bool enable) override;
    void EnableSystemClose(int window, bool enable) override;
    void SetSessionEndBlock(int window, const std::string& reason) override;
    bool CreateModeless(int window, int owner, platform::ViewHandler& logic) override;
    void DestroyWindow(int window) override;
    int InsertColumn(int listId, int column, const std::string& title, int width) override;
    void SetColumnWidth(int listId, int column, int width) override;
    int InsertRow(int listId, int row, const std::string& firstCell) override;
    bool SetCellText(int listId, int row, int column, const std::string& text) override;
    std::string GetCellText(int listId, int row, int column) override;
    void DeleteRow(int listId, int row) override;
    void DeleteAllRows(int listId) override;
    int RowCount(int listId) override;
    void SetRowChecked(int listId, int row, bool checked) override;
    bool IsRowChecked(int listId, int row) override;
    void EnsureRowVisible(int listId, int row) override;
    void ScrollList(int listId, int dy) override;
    int MessageBox(const platform::MessageBoxRequest& request) override;
    std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& initialFolder) override;
    void ShellOpen(const std::string& url) override;
    void SetWaitCursor(bool wait) override;
    uint32_t FormatDrive(char driveLetter) override;
    std::optional<platform::ProxyCredentials> AskProxyCredentials(const std::string& proxy) override;
    void SetTimer(int window, uint32_t id, uint32_t milliseconds) override;
    void KillTimer(int window, uint32_t id) override;
    void PostNotify(int window, uintptr_t wParam, intptr_t lParam) override;
    bool WatchVolumeRemoval(int window, platform::HANDLE volume) override;
    void StopWatchingVolumeRemoval(platform::HANDLE volume) override;
    void SetTaskbarProgress(int window, platform::TaskbarProgress state, int percent) override;
    bool IsWindowInFront(int window) override;
    void FlashWindow(int window) override;
    void ShowDesktopNotice(int window, const std::string& title, const std::string& text, bool failed) override;

    // Automation.
    void SetObserver(ui::AutomationObserver* observer) override;
    void SetDriver(std::function<bool()> step) override;
    // The driver is offered a step every few milliseconds of real time anyway.
    void WakeAt(uint64_t) override {}
    bool Press(int window, int id) override;
    bool ChooseMenu(int itemId) override;
    bool ClickRowCheckBox(int listId, int row) override;
    bool PressKey(uint32_t virtualKey) override;
    bool IsWindowOpen(int window) override;
    std::string ShownText(int window, int id) override { return GetControlText(window, id); }
    int TopWindow() override;
    bool Screenshot(const std::string& nativePath) override;
    void CloseAll() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs fn on the user-interface thread while the calling thread waits.
    template <class Fn>
    auto OnUiThread(Fn fn) -> decltype(fn());
    DialogWindow* Top() const;
    ListArea* List(int listId) const;
    // The logic that receives keys (the message pre-filter is the main window's).
    platform::ViewHandler* KeyLogic() const;
    void DeliverDeviceChange();
    void RunDriver();

    std::vector<DialogWindow*> frames_;
    struct Modeless {
        int owner;
        std::unique_ptr<DialogWindow> window;
    };
    std::map<int, Modeless> modeless_;
    // A timer is often killed from its own tick: it goes once its signal has returned.
    struct DeleteLater {
        void operator()(QTimer* timer) const {
            timer->stop();
            timer->deleteLater();
        }
    };
    std::map<std::pair<int, uint32_t>, std::unique_ptr<QTimer, DeleteLater>> timers_;
    std::unique_ptr<platform::DeviceChangeWatcher> deviceChanges_;
    ui::RemovalWatches removalWatches_;
    std::unique_ptr<QSocketNotifier> deviceNotifier_;
    QTimer driverTimer_;
    std::function<bool()> driver_;
    bool driverRunning_ = false;
    ui::AutomationObserver* observer_ = nullptr;
    bool closingAll_ = false;
    int waitCursors_ = 0;
};

}  // namespace ui::qt
