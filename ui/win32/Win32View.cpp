// The Win32 view at work: windows run in its own modal loop with the key pre-filter, controls,
// timers, notifications and boxes, and work from other threads sent to the window thread.
#include "ui/win32/Win32View.h"

#include "base/Logger.h"
#include "ui/DialogResources.h"
#include "ui/win32/Prompts.h"
#include "ui/win32/UserShell.h"
#include "ui/win32/WideText.h"
#include "ui/win32/WindowPicture.h"

#include "platform/win32/Windows.h"
#include <commctrl.h>
#include <dbt.h>
#include <objbase.h>
#include <shellapi.h>
#undef MessageBox

namespace ui::win32 {
namespace {

constexpr char kLogSource[] = ".\\Win32View";

// How often the automation's driver is offered a step (real time; its waits use the
// platform clock).
constexpr UINT kDriverPeriodMilliseconds = 10;
constexpr UINT kRunOnThreadMessage = WM_APP + 2;  // to the relay window: lParam a std::function

// The view whose driver the thread timer runs (one front end runs the windows at a time).
Win32View* driverView = nullptr;

}  // namespace

Win32View::Win32View() : thread_(GetCurrentThreadId()) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The folder browser's new-style dialog needs COM on this thread.
    comInitialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    relay_ =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(relay_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32View::RelayProcedure));
    outside_ = std::make_unique<OutsideWindow>();
}

Win32View::~Win32View() {
    SetDriver(nullptr);
    // Its windows are gone: a registration that will not go has nobody left to ask.
    for (auto& [volume, registration] : removalWatches_) (void)UnregisterDeviceNotification(registration);
    modeless_.clear();
    if (relay_ != nullptr) ::DestroyWindow(relay_);
    outside_.reset();
    if (comInitialised_) CoUninitialize();
}

intptr_t __stdcall Win32View::RelayProcedure(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    if (message == kRunOnThreadMessage) {
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void Win32View::OnUiThread(const std::function<void()>& fn) {
    if (GetCurrentThreadId() == thread_) {
        fn();
        return;
    }
    // SendMessage from another thread runs fn inside whatever loop the window thread is in
    // (a box's, a dialog's) and returns when it has run.
    SendMessageW(relay_, kRunOnThreadMessage, 0, reinterpret_cast<LPARAM>(&fn));
}

DialogFrame* Win32View::Window(int window) const {
    for (DialogFrame* frame : frames_)
        if (frame->Id() == window && !frame->Ended()) return frame;
    auto modeless = modeless_.find(window);
    return modeless == modeless_.end() ? nullptr : modeless->second.frame.get();
}

DialogFrame* Win32View::Top() const {
    for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame)
        if (!(*frame)->Ended()) return *frame;
    return nullptr;
}

HWND Win32View::BoxOwner() const {
    DialogFrame* main = Window(platform::IDD_MAIN_WINDOW);
    if (main == nullptr) main = Top();
    return main == nullptr ? nullptr : main->Handle();
}

ListArea* Win32View::List(int listId) const {
    for (DialogFrame* frame : frames_)
        if (ListArea* list = frame->List(listId)) return list;
    return nullptr;
}

platform::ViewHandler* Win32View::KeyLogic() const {
    DialogFrame* window = Window(platform::IDD_MAIN_WINDOW);
    if (window == nullptr) window = Top();
    return window == nullptr ? nullptr : &window->Logic();
}

DialogFrame* Win32View::FrameOf(HWND handle) const {
    HWND root = handle == nullptr ? nullptr : GetAncestor(handle, GA_ROOT);
    if (root == nullptr) return nullptr;
    for (DialogFrame* frame : frames_)
        if (frame->Handle() == root) return frame;
    for (const auto& [id, modeless] : modeless_)
        if (modeless.frame->Handle() == root) return modeless.frame.get();
    return nullptr;
}

void Win32View::Register(DialogFrame* frame, int window) {
    std::lock_guard guard(handlesLock_);
    handles_[window] = frame->Handle();
}

void Win32View::Unregister(int window) {
    std::lock_guard guard(handlesLock_);
    handles_.erase(window);
}

int Win32View::RunDialog(int window, platform::ViewHandler& logic) {
    const DialogResource* resource = FindDialogResource(window);
    if (resource == nullptr) return -1;
    DialogFrame* top = Top();
    HWND owner = top == nullptr ? nullptr : top->Handle();
    DialogFrame frame(*resource, logic, *this);
    frames_.push_back(&frame);
    if (observer_) observer_->OnDialogOpened(window, resource->title);
    if (!frame.Create(owner)) {
        frames_.pop_back();
        return -1;
    }
    Register(&frame, window);
    if (std::optional<int> answer = TakeDialogAnswer(window)) {
        // The user's click, once the dialog is up.
        PostMessageW(frame.Handle(), kScriptedCommandMessage, static_cast<WPARAM>(*answer), 0);
    }
    // Once the automation is over every window is asked to end; one whose work still runs
    // ends itself when that work is done.
    if (closingAll_ && frame.Logic().OnCloseRequest()) frame.End(IDCANCEL);
    // A window that its logic ended during its initialisation is never shown.
    if (!frame.Ended()) {
        if (owner != nullptr) EnableWindow(owner, FALSE);
        frame.Show();
        RunLoop(frame);
        if (owner != nullptr) {
            EnableWindow(owner, TRUE);
            SetActiveWindow(owner);
        }
    }
    outside_->Forget(frame.Handle());
    Unregister(window);
    frames_.pop_back();
    // Its modeless windows die with it, as a window's owned windows do; its timers with its handle.
    std::erase_if(modeless_, [this, window](const auto& entry) {
        if (entry.second.owner != window) return false;
        Unregister(entry.first);
        return true;
    });
    return frame.Result();
}

void Win32View::RunLoop(DialogFrame& frame) {
    MSG message;
    while (!frame.Ended()) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            // WM_QUIT: ended from outside; passed on to the loops below this one.
            if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
            frame.End(IDCANCEL);
            break;
        }
        if (PreFilter(&message)) continue;
        DialogFrame* target = FrameOf(message.hwnd);
        if (target != nullptr && target->Handle() != nullptr && IsDialogMessageW(target->Handle(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool Win32View::PreFilter(const void* raw) {
    const MSG& message = *static_cast<const MSG*>(raw);
    if (message.message != WM_KEYDOWN && message.message != WM_SYSKEYDOWN) return false;
    // Only keys typed into the program's own windows.
    if (FrameOf(message.hwnd) == nullptr) return false;
    if (platform::ViewHandler* logic = KeyLogic()) logic->OnKeyDown(static_cast<uint32_t>(message.wParam));
    return false;  // the dialog manager still sees it (Esc, Enter, Tab)
}

void Win32View::EndDialog(int window, int result) {
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window)) frame->End(result);
    });
}

void Win32View::SetControlText(int window, int id, const std::string& text) {
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window)) frame->SetText(id, text);
    });
    if (observer_) observer_->OnControlText(window, id, text);
}

std::string Win32View::GetControlText(int window, int id) {
    std::string text;
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window)) text = frame->Text(id);
    });
    return text;
}

void Win32View::EnableControl(int window, int id, bool enable) {
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window))
            if (HWND control = frame->Control(id)) EnableWindow(control, enable ? TRUE : FALSE);
    });
}

bool Win32View::IsControlEnabled(int window, int id) {
    bool enabled = false;
    OnUiThread([&] {
        DialogFrame* frame = Window(window);
        HWND control = frame == nullptr ? nullptr : frame->Control(id);
        enabled = control != nullptr && (GetWindowLongPtrW(control, GWL_STYLE) & WS_DISABLED) == 0;
    });
    return enabled;
}

void Win32View::ShowControl(int window, int id, bool show) {
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window))
            if (HWND control = frame->Control(id)) ShowWindow(control, show ? SW_SHOWNA : SW_HIDE);
    });
}

void Win32View::Repaint(int window) {
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window))
            RedrawWindow(frame->Handle(), nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    });
}

void Win32View::SetCaption(int window, const std::string& text) {
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window)) frame->SetCaption(text);
    });
}

void Win32View::SetControlIcon(int window, int id, int iconId) {
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window)) frame->SetIcon(id, iconId);
    });
}

void Win32View::EnableMenuItem(int window, int itemId, bool enable) {
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window)) frame->EnableMenuItem(itemId, enable);
    });
}

void Win32View::EnableSystemClose(int window, bool enable) {
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window)) frame->EnableSystemClose(enable);
    });
}

void Win32View::SetSessionEndBlock(int window, const std::string& reason) {
    // Only the thread that made the window may set its reason; the shutdown screen shows it.
    OnUiThread([&] {
        DialogFrame* frame = Window(window);
        if (frame == nullptr) return;
        // A refusal changes nothing for the program: the session's end is still answered no
        // while a transfer runs, only without the reason on the screen.
        if (reason.empty())
            (void)ShutdownBlockReasonDestroy(frame->Handle());
        else
            (void)ShutdownBlockReasonCreate(frame->Handle(), Widen(reason).c_str());
    });
}

bool Win32View::CreateModeless(int window, int owner, platform::ViewHandler& logic) {
    bool created = false;
    OnUiThread([&] {
        const DialogResource* resource = FindDialogResource(window);
        if (resource == nullptr) return;
        DialogFrame* ownerFrame = Window(owner);
        auto frame = std::make_unique<DialogFrame>(*resource, logic, static_cast<FrameHost&>(*this));
        DialogFrame* made = frame.get();
        // In the table before it exists: its logic's OnInitDialog addresses it by id.
        modeless_[window] = {owner, std::move(frame)};
        if (!made->Create(ownerFrame == nullptr ? nullptr : ownerFrame->Handle())) {
            modeless_.erase(window);
            return;
        }
        Register(made, window);
        made->Show();  // the hidden watcher stays hidden
        created = true;
    });
    return created;
}

void Win32View::DestroyWindow(int window) {
    OnUiThread([&] {
        Unregister(window);
        modeless_.erase(window);
    });
}

int Win32View::InsertColumn(int listId, int column, const std::string& title, int width) {
    int inserted = -1;
    OnUiThread([&] {
        if (ListArea* list = List(listId)) inserted = list->InsertColumn(column, title, width);
    });
    return inserted;
}

void Win32View::SetColumnWidth(int listId, int column, int width) {
    OnUiThread([&] {
        if (ListArea* list = List(listId)) list->SetColumnWidth(column, width);
    });
}

int Win32View::InsertRow(int listId, int row, const std::string& firstCell) {
    int inserted = -1;
    OnUiThread([&] {
        if (ListArea* list = List(listId)) inserted = list->InsertRow(row, firstCell);
    });
    return inserted;
}

bool Win32View::SetCellText(int listId, int row, int column, const std::string& text) {
    bool set = false;
    OnUiThread([&] {
        if (ListArea* list = List(listId)) set = list->SetCellText(row, column, text);
    });
    return set;
}

std::string Win32View::GetCellText(int listId, int row, int column) {
    std::string text;
    OnUiThread([&] {
        if (ListArea* list = List(listId)) text = list->CellText(row, column);
    });
    return text;
}

void Win32View::DeleteRow(int listId, int row) {
    OnUiThread([&] {
        if (ListArea* list = List(listId)) list->DeleteRow(row);
    });
}

void Win32View::DeleteAllRows(int listId) {
    OnUiThread([&] {
        if (ListArea* list = List(listId)) list->DeleteAllRows();
    });
}

int Win32View::RowCount(int listId) {
    int rows = 0;
    OnUiThread([&] {
        if (ListArea* list = List(listId)) rows = list->RowCount();
    });
    return rows;
}

void Win32View::SetRowChecked(int listId, int row, bool checked) {
    OnUiThread([&] {
        if (ListArea* list = List(listId)) list->SetRowChecked(row, checked);
    });
}

bool Win32View::IsRowChecked(int listId, int row) {
    bool checked = false;
    OnUiThread([&] {
        if (ListArea* list = List(listId)) checked = list->IsRowChecked(row);
    });
    return checked;
}

void Win32View::EnsureRowVisible(int listId, int row) {
    OnUiThread([&] {
        if (ListArea* list = List(listId)) list->EnsureVisible(row);
    });
}

void Win32View::ScrollList(int listId, int dy) {
    OnUiThread([&] {
        if (ListArea* list = List(listId)) list->Scroll(dy);
    });
}

int Win32View::MessageBox(const platform::MessageBoxRequest& request) {
    int answer = IDOK;
    OnUiThread([&] {
        std::optional<ScriptedBoxAnswer> scripted;
        if (BoxAnswer taken = TakeBoxAnswer(); taken.answer) {
            scripted = ScriptedBoxAnswer{*taken.answer, [shot = taken.shot](HWND box) {
                                             if (!shot.empty()) SaveWindowPicture(box, shot);
                                         }};
        }
        answer = ShowMessageBox(request, BoxOwner(), std::move(scripted));
        if (observer_) observer_->OnBox(request, answer);
    });
    return answer;
}

std::optional<std::string> Win32View::BrowseForFolder(const std::string& title, const std::string& initialFolder) {
    std::optional<std::string> chosen;
    OnUiThread([&] { chosen = ui::win32::BrowseForFolder(title, initialFolder, BoxOwner()); });
    return chosen;
}

void Win32View::ShellOpen(const std::string& url) {
    OnUiThread([&] {
        std::wstring wide = Widen(url);
        HRESULT shell = OpenInUserShell(wide);
        if (shell == S_OK) {
            VLOG(LOG_INFO, "%s[%s]", Narrow(L"URLオープン[ユーザーのシェル]").c_str(), url.c_str());
            return;
        }
        if (shell == S_FALSE) {
            // The user's shell could not open it (no browser, say) and has told the user;
            // the program's own try would fail alike, and elevated.
            VLOG(LOG_ERROR, "%s[%s]", Narrow(L"URLオープン失敗[ユーザーのシェル]").c_str(), url.c_str());
            return;
        }
        // No desktop shell to ask: opened by the program itself, so the browser runs with the
        // program's token.
        auto opened = reinterpret_cast<INT_PTR>(
            ShellExecuteW(BoxOwner(), L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        VLOG(opened > 32 ? LOG_INFO : LOG_ERROR, "%s[%08lX][%lld][%s]", Narrow(L"URLオープン[シェルなし]").c_str(),
             static_cast<unsigned long>(shell), static_cast<long long>(opened), url.c_str());
    });
}

void Win32View::SetWaitCursor(bool wait) {
    OnUiThread([&] {
        if (wait)
            ++waitCursors_;
        else if (waitCursors_ > 0)
            --waitCursors_;
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(waitCursors_ > 0 ? IDC_WAIT : IDC_ARROW)));
    });
}

uint32_t Win32View::FormatDrive(char driveLetter) {
    uint32_t result = platform::SHFMT_ERROR;
    OnUiThread([&] { result = platform::FormatDrive(driveLetter, BoxOwner()); });
    return result;
}

std::optional<platform::ProxyCredentials> Win32View::AskProxyCredentials(const std::string& proxy) {
    if (auto scripted = TakeProxyAnswer()) return *scripted;
    std::optional<platform::ProxyCredentials> credentials;
    OnUiThread([&] { credentials = ui::win32::AskProxyCredentials(proxy, BoxOwner()); });
    return credentials;
}

void Win32View::SetTimer(int window, uint32_t id, uint32_t milliseconds) {
    // A running timer starts over, as SetTimer does; it dies with its window.
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window)) ::SetTimer(frame->Handle(), id, milliseconds, nullptr);
    });
}

void Win32View::KillTimer(int window, uint32_t id) {
    OnUiThread([&] {
        if (DialogFrame* frame = Window(window)) ::KillTimer(frame->Handle(), id);
    });
}

void Win32View::PostNotify(int window, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard guard(handlesLock_);
    auto handle = handles_.find(window);
    if (handle != handles_.end()) PostMessageW(handle->second, platform::WM_MAIN_NOTIFY, wParam, lParam);
}

bool Win32View::WatchVolumeRemoval(int window, platform::HANDLE volume) {
    std::lock_guard guard(handlesLock_);
    auto handle = handles_.find(window);
    if (handle == handles_.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = volume;
    void* registration = RegisterDeviceNotificationW(handle->second, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (registration == nullptr) return false;
    // A handle watched again keeps one registration, to the latest window.
    if (auto old = removalWatches_.find(volume); old != removalWatches_.end())
        UnregisterDeviceNotification(old->second);
    removalWatches_[volume] = registration;
    return true;
}

void Win32View::StopWatchingVolumeRemoval(platform::HANDLE volume) {
    std::lock_guard guard(handlesLock_);
    auto watch = removalWatches_.find(volume);
    if (watch == removalWatches_.end()) return;
    // A registration that will not go can do no more than send this window a message it
    // answers for a handle it no longer has.
    (void)UnregisterDeviceNotification(watch->second);
    removalWatches_.erase(watch);
}

void Win32View::OnScriptedCommand(int window, uint32_t command) {
    if (DialogFrame* frame = Window(window)) frame->Logic().OnCommand(command);
}

void Win32View::SetObserver(ui::AutomationObserver* observer) { observer_ = observer; }

void Win32View::SetDriver(std::function<bool()> step) {
    driver_ = std::move(step);
    if (driver_ && driverTimer_ == 0) {
        driverView = this;
        // A thread timer: every loop on this thread dispatches it, the boxes' loops too.
        driverTimer_ = ::SetTimer(nullptr, 0, kDriverPeriodMilliseconds, [](HWND, UINT, UINT_PTR, DWORD) {
            if (driverView != nullptr) driverView->RunDriver();
        });
    } else if (!driver_ && driverTimer_ != 0) {
        ::KillTimer(nullptr, driverTimer_);
        driverTimer_ = 0;
        driverView = nullptr;
    }
}

void Win32View::RunDriver() {
    // An action of the driver that opens a box or dialog runs a nested loop; the driver does
    // not act again inside it until that action returns.
    if (!driver_ || driverRunning_ || frames_.empty()) return;
    driverRunning_ = true;
    auto driver = driver_;
    driver();
    driverRunning_ = false;
}

bool Win32View::Press(int window, int id) {
    DialogFrame* frame = Window(window);
    HWND control = frame == nullptr ? nullptr : frame->Control(id);
    if (control == nullptr || !IsWindowEnabled(control) || !IsWindowVisible(control)) return false;
    SendMessageW(frame->Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    return true;
}

bool Win32View::ChooseMenu(int itemId) {
    DialogFrame* main = Window(platform::IDD_MAIN_WINDOW);
    return main != nullptr && main->ChooseMenuItem(itemId);
}

bool Win32View::ClickRowCheckBox(int listId, int row) {
    ListArea* list = List(listId);
    return list != nullptr && list->ClickCheckBox(row);
}

bool Win32View::PressKey(uint32_t virtualKey) {
    platform::ViewHandler* logic = KeyLogic();
    DialogFrame* top = Top();
    if (logic == nullptr || top == nullptr) return false;
    logic->OnKeyDown(virtualKey);
    if (virtualKey == VK_ESCAPE) top->Logic().OnCommand(IDCANCEL);
    if (virtualKey == VK_RETURN) top->Logic().OnCommand(IDOK);
    return true;
}

bool Win32View::IsWindowOpen(int window) { return Window(window) != nullptr; }

int Win32View::TopWindow() {
    DialogFrame* top = Top();
    return top == nullptr ? 0 : top->Id();
}

bool Win32View::Screenshot(const std::string& nativePath) {
    DialogFrame* top = Top();
    return top != nullptr && SaveWindowPicture(top->Handle(), nativePath);
}

void Win32View::CloseAll() {
    closingAll_ = true;
    for (DialogFrame* frame : frames_)
        if (!frame->Ended() && frame->Logic().OnCloseRequest()) frame->End(IDCANCEL);
}

HWND Win32View::HandleOf(int window) {
    std::lock_guard guard(handlesLock_);
    auto handle = handles_.find(window);
    return handle == handles_.end() ? nullptr : handle->second;
}

void Win32View::SetTaskbarProgress(int window, platform::TaskbarProgress state, int percent) {
    OnUiThread([&] {
        if (HWND handle = HandleOf(window)) outside_->SetProgress(handle, state, percent);
    });
}

bool Win32View::IsWindowInFront(int window) {
    bool inFront = false;
    OnUiThread([&] {
        // A box or dialog of the window in front counts as the window itself.
        HWND handle = HandleOf(window);
        HWND foreground = GetForegroundWindow();
        inFront = handle != nullptr && foreground != nullptr &&
                  (foreground == handle || GetAncestor(foreground, GA_ROOTOWNER) == handle);
    });
    return inFront;
}

void Win32View::FlashWindow(int window) {
    OnUiThread([&] {
        if (HWND handle = HandleOf(window)) outside_->Flash(handle);
    });
}

void Win32View::ShowDesktopNotice(int window, const std::string& title, const std::string& text, bool failed) {
    OnUiThread([&] {
        if (HWND handle = HandleOf(window)) outside_->Notice(handle, Widen(title), Widen(text), failed);
    });
}

OutsideWindow::Answers Win32View::OutsideAnswers() {
    OutsideWindow::Answers answers;
    OnUiThread([&] { answers = outside_->LastAnswers(); });
    return answers;
}

}  // namespace ui::win32
