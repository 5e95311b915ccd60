// The window without a display, for tests and automation: every window starts with its
// resource's controls and texts; it records every control change and box, answers boxes,
// dialogs and prompts from a script, runs timers on the platform clock and hands device
// changes to every open window, the removal requests among them to the windows watching the
// volumes. Boxes raised on a worker thread are answered on the
// user-interface thread while the worker waits.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/DeviceChange.h"
#include "platform/View.h"
#include "ui/RemovalWatches.h"
#include "ui/ScriptedAnswers.h"

class HeadlessView : public platform::View, public ui::ScriptedAnswers {
public:
    struct BoxRecord {
        platform::MessageBoxRequest request;
        int answer = 0;
        bool onUserInterfaceThread = true;
    };
    struct Control {
        std::string text;
        bool enabled = true;
        bool visible = true;
        int icon = 0;
    };
    // One change of a control, in the order the window made them.
    struct ControlChange {
        int window;
        int id;
        std::string text;
        bool enabled;
        bool visible;
    };
    struct Row {
        std::vector<std::string> cells;
        bool checked = false;
    };

    // Called whenever the running window has nothing left to do; return false when the
    // automation has nothing to do either. With no automation and nothing pending, the
    // window is closed with IDCANCEL so that a test never hangs, unless its logic still has work
    // running (ViewHandler::OnCloseRequest).
    void SetIdleHook(std::function<bool(HeadlessView&)> hook);
    // Proxy credentials the next prompt answers with (nullopt: the user declines).
    void AnswerProxyPrompt(std::optional<platform::ProxyCredentials> credentials);
    void AnswerFolderBrowser(std::optional<std::string> folder);
    void AnswerFormat(bool formatted);
    // How often the format dialog was shown.
    int FormatsAsked();

    // Progress outside the window, as the logic asked for it.
    struct TaskbarRecord {
        platform::TaskbarProgress state;
        int percent;
        bool operator==(const TaskbarRecord&) const = default;
    };
    struct NoticeRecord {
        std::string title;
        std::string text;
        bool failed;
    };
    std::vector<TaskbarRecord> TaskbarStates();
    int Flashes();
    std::vector<NoticeRecord> Notices();
    // Whether the window counts as the one the user works in (true unless a test says not).
    void SetWindowInFront(bool inFront);

    std::vector<BoxRecord> Boxes();
    Control ControlState(int window, int id);
    std::vector<ControlChange> ControlChanges();
    // Every text the main window's status line was given, in order.
    std::vector<std::string> StatusTexts();
    std::vector<std::string> ShellOpened();
    // Every reason the window set for refusing the session's end, "" where it lifted it.
    std::vector<std::string> SessionEndBlocks();
    bool IsMenuItemEnabled(int window, int itemId);
    bool IsSystemCloseEnabled(int window);
    int ColumnWidth(int listId, int column);

    // Automation. Without an answer a box is answered with its first button, and a dialog
    // runs until its logic ends it.
    void SetObserver(ui::AutomationObserver* observer) override;
    void SetDriver(std::function<bool()> step) override;
    void WakeAt(uint64_t tick) override;
    bool Press(int window, int id) override;
    bool ChooseMenu(int itemId) override;
    bool ClickRowCheckBox(int listId, int row) override;
    bool PressKey(uint32_t virtualKey) override;
    bool ScreenshotNextBox(const std::string&) override { return false; }
    bool IsWindowOpen(int window) override;
    std::string ShownText(int window, int id) override { return GetControlText(window, id); }
    int TopWindow() override;
    bool Screenshot(const std::string&) override { return false; }
    void CloseAll() override;

    // View.
    int RunDialog(int window, platform::ViewHandler& logic) override;
    void EndDialog(int window, int result) override;
    void SetControlText(int window, int id, const std::string& text) override;
    std::string GetControlText(int window, int id) override;
    void EnableControl(int window, int id, bool enable) override;
    bool IsControlEnabled(int window, int id) override;
    void ShowControl(int window, int id, bool show) override;
    void Repaint(int) override {}
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
    void EnsureRowVisible(int, int) override {}
    void ScrollList(int, int) override {}
    int MessageBox(const platform::MessageBoxRequest& request) override;
    std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& initialFolder) override;
    void ShellOpen(const std::string& url) override;
    void SetTaskbarProgress(int window, platform::TaskbarProgress state, int percent) override;
    bool IsWindowInFront(int window) override;
    void FlashWindow(int window) override;
    void ShowDesktopNotice(int window, const std::string& title, const std::string& text, bool failed) override;
    void SetWaitCursor(bool) override {}
    uint32_t FormatDrive(char driveLetter) override;
    std::optional<platform::ProxyCredentials> AskProxyCredentials(const std::string& proxy) override;
    void SetTimer(int window, uint32_t id, uint32_t milliseconds) override;
    void KillTimer(int window, uint32_t id) override;
    void PostNotify(int window, uintptr_t wParam, intptr_t lParam) override;
    bool WatchVolumeRemoval(int window, platform::HANDLE volume) override;
    void StopWatchingVolumeRemoval(platform::HANDLE volume) override;

private:
    struct Timer {
        uint32_t period;
        uint64_t due;
    };
    struct Frame {
        int window;
        platform::ViewHandler* logic;
        bool ended = false;
        bool closeAsked = false;
        int result = platform::IDCANCEL;
    };
    struct Posted {
        int window;
        uintptr_t wParam;
        intptr_t lParam;
    };

    // Runs fn on the user-interface thread (at once when called there) and returns its result.
    template <class Fn>
    auto OnUiThread(Fn fn) -> decltype(fn());
    platform::ViewHandler* LogicOf(int window);
    // Delivers what is queued; true when something was done.
    bool DeliverQueued(std::unique_lock<std::mutex>& lock);
    bool FireDueTimer(std::unique_lock<std::mutex>& lock);
    // Moves a fake clock on to the next timer; false when there is none.
    bool WaitForNextTimer(std::unique_lock<std::mutex>& lock);
    // Hands a pending device change to every open window, after the removal requests it may
    // carry went to the windows watching the volumes; true when there was one.
    bool DeliverDeviceChange(std::unique_lock<std::mutex>& lock);
    // Asks a window's logic whether it may end now, and ends it if so (lock held on entry and exit).
    bool AskToEnd(Frame& frame, std::unique_lock<std::mutex>& lock);
    // Runs the automation's step or the idle hook; true when either acted.
    bool RunIdleWork(std::unique_lock<std::mutex>& lock);
    // A window opens with its resource's controls (lock held).
    void LoadResource(int window);
    // The logic that receives keys and menus: the main window's while it is open.
    platform::ViewHandler* MainLogic();

    std::mutex lock_;
    std::condition_variable wake_;
    std::thread::id uiThread_;
    bool uiRunning_ = false;
    std::vector<Frame*> frames_;
    std::deque<Posted> posted_;
    std::deque<std::function<void()>> invocations_;
    std::map<std::pair<int, uint32_t>, Timer> timers_;
    // Records a change of a control and keeps its new state (lock held).
    void Changed(int window, int id);

    std::map<std::pair<int, int>, Control> controls_;
    std::vector<ControlChange> changes_;
    std::vector<std::string> statusTexts_;
    std::map<int, std::vector<Row>> lists_;
    std::map<std::pair<int, int>, int> columnWidths_;
    std::map<std::pair<int, int>, bool> menuItems_;
    std::map<int, bool> systemClose_;
    std::map<int, platform::ViewHandler*> modeless_;
    std::map<int, int> modelessOwners_;
    std::vector<BoxRecord> boxes_;
    std::vector<std::string> shellOpened_;
    std::vector<TaskbarRecord> taskbar_;
    std::vector<NoticeRecord> notices_;
    int flashes_ = 0;
    bool inFront_ = true;
    std::vector<std::string> sessionEndBlocks_;
    std::function<bool(HeadlessView&)> idleHook_;
    std::optional<platform::ProxyCredentials> proxyAnswer_;
    std::optional<std::string> folderAnswer_;
    bool formatAnswer_ = false;
    int formatsAsked_ = 0;
    ui::AutomationObserver* observer_ = nullptr;
    std::function<bool()> driver_;
    bool driverRunning_ = false;
    uint64_t wakeAt_ = 0;
    bool closingAll_ = false;
    std::unique_ptr<platform::DeviceChangeWatcher> deviceChanges_;
    ui::RemovalWatches removalWatches_;
};
