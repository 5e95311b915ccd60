// The window on Windows: plain Win32 behind the view seam. Every window is a dialog created
// from its resource's in-memory template and run in this front end's own modal loop, where
// the key pre-filter sees each key before the dialog manager. Timers are window timers,
// posted notifications are posted WM_MAIN_NOTIFY messages, device changes arrive as
// WM_DEVICECHANGE at every open window; boxes and prompts asked from a worker thread run on
// the window thread while the worker waits. The automation drives the same windows, from a
// thread timer that every message loop (the boxes' too) dispatches.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/View.h"
#include "ui/ScriptedAnswers.h"
#include "ui/win32/DialogFrame.h"
#include "ui/win32/OutsideWindow.h"

struct HWND__;

namespace ui::win32 {

class Win32View : public platform::View, public ui::ScriptedAnswers, private FrameHost {
public:
    // On the thread that will run the windows.
    Win32View();
    ~Win32View() override;
    Win32View(const Win32View&) = delete;
    Win32View& operator=(const Win32View&) = delete;

    // The window of an open dialog, or nullptr (for tests).
    DialogFrame* Window(int window) const;

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
    // RegisterDeviceNotificationW of the handle to the window: Windows sends it
    // DBT_DEVICEQUERYREMOVE before the volume's device goes.
    bool WatchVolumeRemoval(int window, platform::HANDLE volume) override;
    void StopWatchingVolumeRemoval(platform::HANDLE volume) override;
    void SetTaskbarProgress(int window, platform::TaskbarProgress state, int percent) override;
    bool IsWindowInFront(int window) override;
    void FlashWindow(int window) override;
    void ShowDesktopNotice(int window, const std::string& title, const std::string& text, bool failed) override;
    // What the shell answered to the last of those calls (for tests).
    OutsideWindow::Answers OutsideAnswers();

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

private:
    // FrameHost.
    bool WaitCursorShown() const override { return waitCursors_ > 0; }
    void OnScriptedCommand(int window, uint32_t command) override;

    // Runs fn on the window thread while the calling thread waits.
    void OnUiThread(const std::function<void()>& fn);
    static intptr_t __stdcall RelayProcedure(HWND__* window, unsigned message, uintptr_t wParam, intptr_t lParam);
    DialogFrame* Top() const;
    HWND__* BoxOwner() const;
    ListArea* List(int listId) const;
    // The logic that receives keys (the message pre-filter is the main window's).
    platform::ViewHandler* KeyLogic() const;
    // The modal loop of a window: until its logic ends it.
    void RunLoop(DialogFrame& frame);
    bool PreFilter(const void* message);
    void RunDriver();
    // The open window a native handle belongs to (HWND of a window or of one of its controls).
    DialogFrame* FrameOf(HWND__* handle) const;
    void Register(DialogFrame* frame, int window);
    void Unregister(int window);

    unsigned long thread_;
    HWND__* relay_ = nullptr;  // message-only window: runs calls from other threads
    std::vector<DialogFrame*> frames_;
    struct Modeless {
        int owner;
        std::unique_ptr<DialogFrame> frame;
    };
    std::map<int, Modeless> modeless_;
    // Window handles by window id, for posting from any thread.
    mutable std::mutex handlesLock_;
    std::map<int, HWND__*> handles_;
    // The device-notification registration of each watched volume handle (under handlesLock_).
    std::map<platform::HANDLE, void*> removalWatches_;
    std::function<bool()> driver_;
    uintptr_t driverTimer_ = 0;
    bool driverRunning_ = false;
    ui::AutomationObserver* observer_ = nullptr;
    bool closingAll_ = false;
    int waitCursors_ = 0;
    bool comInitialised_ = false;
    // Made on the window thread once COM is there, and gone before COM is.
    std::unique_ptr<OutsideWindow> outside_;
    // The native handle of an open window, on the window thread.
    HWND__* HandleOf(int window);
};

}  // namespace ui::win32
