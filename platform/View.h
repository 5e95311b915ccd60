// The seam between the window logic and a front end (Qt on Linux, Win32 on Windows, or
// headless for tests and automation). Controls are addressed by their dialog ids, text is
// CP932. Posting a notification is safe from any thread; boxes and prompts raised on a worker
// thread run on the user-interface thread while the caller waits for the answer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/Format.h"
#include "platform/Handle.h"

namespace platform {

constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_MAIN_NOTIFY = WM_USER + 100;

// Message-box buttons, icons and results as Windows numbers them.
constexpr uint32_t MB_OK = 0x00;
constexpr uint32_t MB_OKCANCEL = 0x01;
constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr uint32_t MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// The windows of the program are its dialog resources; the main window is resource 103.
constexpr int IDD_MAIN_WINDOW = 103;

// Keys the message pre-filter looks at (Windows virtual-key codes).
constexpr uint32_t VK_F1 = 0x70;
constexpr uint32_t VK_F3 = 0x72;
constexpr uint32_t VK_F5 = 0x74;
constexpr uint32_t VK_F12 = 0x7B;
// Keys a dialog handles itself: Esc is IDCANCEL, Enter IDOK.
constexpr uint32_t VK_RETURN = 0x0D;
constexpr uint32_t VK_ESCAPE = 0x1B;

// The state images of a list row's check box.
constexpr uint32_t kStateUnchecked = 0x1000;
constexpr uint32_t kStateChecked = 0x2000;

// One LVN_ITEMCHANGED of a list area: newStateImage is 0 when the change left the check box
// alone (selection, focus), else kStateChecked or kStateUnchecked.
struct ListItemChange {
    int listId;
    int row;
    uint32_t newStateImage;
};

// What a window's logic receives from the front end, always on the user-interface thread.
class ViewHandler {
public:
    virtual ~ViewHandler() = default;
    virtual void OnInitDialog() {}
    virtual void OnNotify(uintptr_t wParam, intptr_t lParam) = 0;
    virtual void OnTimer(uint32_t id) = 0;
    // Buttons, menu items, the link (by control id); IDCANCEL for Esc and the system Close.
    virtual void OnCommand(uint32_t id) = 0;
    virtual void OnListItemChanged(const ListItemChange&) {}
    // Before a menu opens: the logic enables its items with View::EnableMenuItem.
    virtual void OnInitMenu() {}
    // Every key-down, before the window handles it (the message pre-filter).
    virtual void OnKeyDown(uint32_t /*virtualKey*/) {}
    // A device change broadcast (the machine changed).
    virtual void OnDeviceChange() {}
    // The system asks before it removes the device of a volume this window watches
    // (View::WatchVolumeRemoval, `volume` the handle registered): the user's "safely remove" or
    // eject. True lets the device go, and the window has closed its handle by then (its watch
    // stays); false refuses the removal.
    virtual bool OnQueryRemoveVolume(HANDLE /*volume*/) { return true; }
    // After the query: someone refused and the device stays (DBT_DEVICEQUERYREMOVEFAILED), or it
    // goes (DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEREMOVEPENDING). Only while the watch lasts.
    virtual void OnVolumeRemoveFailed(HANDLE /*volume*/) {}
    virtual void OnVolumeRemoved(HANDLE /*volume*/) {}
    // The session is about to end: true lets it end. Answered at once, without asking anyone:
    // the system waits for the answer, so a box here would hold up the whole session's end.
    virtual bool OnQueryEndSession() { return true; }
    // The session ends now (every window agreed): the process may be stopped as soon as this
    // returns, so the window lets go of the unit and closes without asking.
    virtual void OnEndSession() {}
    // The shell asks the foreground window before it starts AutoPlay for a medium that
    // arrived (and offers to format a volume without a file system): true cancels it.
    virtual bool OnQueryCancelAutoPlay() { return false; }
    // The front end is to end the window without the user (the automation is over): true
    // lets it end now; false means work is still running that the window must outlive, and the
    // logic ends the window itself once that work is done.
    virtual bool OnCloseRequest() { return true; }
};

struct MessageBoxRequest {
    std::string text;
    std::string caption;
    uint32_t type = MB_OK;
    bool owned = true;           // false: no owner window (the start-up failure box)
    bool englishLabels = false;  // OK/Cancel labelled "OK" and "Cancel" whatever the language
};

// The state of a job's progress on the window's taskbar button, as Windows names them
// (TBPF_NOPROGRESS, TBPF_NORMAL, TBPF_PAUSED, TBPF_ERROR).
enum class TaskbarProgress { None, Normal, Paused, Error };

struct ProxyCredentials {
    std::string user;
    std::string password;
};

class View {
public:
    virtual ~View() = default;

    // Runs a window (a dialog resource) modally with its logic until EndDialog; the result is
    // what EndDialog was given. The main window runs this way too.
    virtual int RunDialog(int window, ViewHandler& logic) = 0;
    virtual void EndDialog(int window, int result) = 0;

    // Controls of a window by id.
    virtual void SetControlText(int window, int id, const std::string& text) = 0;
    virtual std::string GetControlText(int window, int id) = 0;
    virtual void EnableControl(int window, int id, bool enable) = 0;
    virtual bool IsControlEnabled(int window, int id) = 0;
    virtual void ShowControl(int window, int id, bool show) = 0;
    virtual void Repaint(int window) = 0;
    virtual void SetCaption(int window, const std::string& text) = 0;
    // An icon resource (busy-icon frames, the owner-drawn buttons' icons); 0 clears it.
    virtual void SetControlIcon(int window, int id, int iconId) = 0;
    virtual void EnableMenuItem(int window, int itemId, bool enable) = 0;
    virtual void EnableSystemClose(int window, bool enable) = 0;
    // While the window's reason (CP932) is set, the session's end is refused with it for the
    // user to read; an empty reason lets the session end again.
    virtual void SetSessionEndBlock(int window, const std::string& reason) = 0;

    // A modeless window owned by another (the hidden device-change watcher); false when it
    // could not be created. It lives until DestroyWindow or until its owner ends.
    [[nodiscard]] virtual bool CreateModeless(int window, int owner, ViewHandler& logic) = 0;
    virtual void DestroyWindow(int window) = 0;

    // Report-style list views of the main window.
    // The new column's index, -1 when it could not be inserted.
    virtual int InsertColumn(int listId, int column, const std::string& title, int width) = 0;
    virtual void SetColumnWidth(int listId, int column, int width) = 0;
    virtual int InsertRow(int listId, int row, const std::string& firstCell) = 0;
    // False when the cell is not there (no such list or row).
    virtual bool SetCellText(int listId, int row, int column, const std::string& text) = 0;
    virtual std::string GetCellText(int listId, int row, int column) = 0;
    virtual void DeleteRow(int listId, int row) = 0;
    virtual void DeleteAllRows(int listId) = 0;
    virtual int RowCount(int listId) = 0;
    virtual void SetRowChecked(int listId, int row, bool checked) = 0;
    virtual bool IsRowChecked(int listId, int row) = 0;
    virtual void EnsureRowVisible(int listId, int row) = 0;
    virtual void ScrollList(int listId, int dy) = 0;

    // Modal interaction; any thread.
    virtual int MessageBox(const MessageBoxRequest& request) = 0;
    virtual std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& initialFolder) = 0;
    virtual void ShellOpen(const std::string& url) = 0;
    virtual void SetWaitCursor(bool wait) = 0;
    // The format dialog for a drive, owned by the main window; the format itself is the
    // platform's (platform::FormatDrive), run on the calling thread once the user confirmed
    // where the front end asks itself (it may wait on an authorisation prompt). The shell's
    // result: 0 formatted, SHFMT_CANCEL or SHFMT_ERROR.
    [[nodiscard]] virtual uint32_t FormatDrive(char driveLetter) = 0;
    virtual std::optional<ProxyCredentials> AskProxyCredentials(const std::string& proxy) = 0;

    // Has a window asked before the device of the volume behind `volume` is removed (Windows:
    // the handle registered for device notifications to the window). False when the system
    // refused the registration. Any thread.
    [[nodiscard]] virtual bool WatchVolumeRemoval(int window, HANDLE volume) = 0;
    // Ends the watch of a handle (Windows: UnregisterDeviceNotification); nothing when none
    // watches it. It may outlive the handle's close, as while a removal is asked. Any thread.
    virtual void StopWatchingVolumeRemoval(HANDLE volume) = 0;

    // Progress outside the window, for a user who works in another one meanwhile. The job's
    // progress on the window's taskbar button (percent 0 to 100; ignored for None).
    virtual void SetTaskbarProgress(int window, TaskbarProgress state, int percent) = 0;
    // True while the window (or a box or dialog of it) is the one the user works in.
    virtual bool IsWindowInFront(int window) = 0;
    // Draws the user to the window without taking the focus, until it comes to the front.
    virtual void FlashWindow(int window) = 0;
    // A notification of the desktop, outside every window: a title and a line or two (CP932);
    // `failed` picks the error look. It goes by itself; nothing waits for it.
    virtual void ShowDesktopNotice(int window, const std::string& title, const std::string& text, bool failed) = 0;

    // Window timers on the platform clock.
    virtual void SetTimer(int window, uint32_t id, uint32_t milliseconds) = 0;
    virtual void KillTimer(int window, uint32_t id) = 0;

    // Queues WM_MAIN_NOTIFY for a window; any thread. Dropped when the window is not open.
    virtual void PostNotify(int window, uintptr_t wParam, intptr_t lParam) = 0;
};

// The front end the program runs with; set once by the executable (or a test).
void SetView(View* view);
View* CurrentView();

}  // namespace platform
