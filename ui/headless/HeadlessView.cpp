// The headless view at work: windows loaded from their resources, every change and box recorded,
// scripted answers given, timers run on the platform clock, work handed to the window's thread.
#include "ui/headless/HeadlessView.h"

#include <chrono>
#include <future>

#include "platform/Clock.h"
#include "platform/Format.h"
#include "state/ResourceIds.h"
#include "ui/DialogResources.h"

namespace {
// Real time the loop waits for a worker before it decides that nothing more will happen.
constexpr auto kQuietLimit = std::chrono::seconds(30);
// While it waits, it looks this often for a device change.
constexpr auto kDeviceChangePoll = std::chrono::milliseconds(20);
}  // namespace

template <class Fn>
auto HeadlessView::OnUiThread(Fn fn) -> decltype(fn()) {
    std::unique_lock lock(lock_);
    if (!uiRunning_ || std::this_thread::get_id() == uiThread_) {
        // No window runs (a caller without a loop), or this is its thread already.
        lock.unlock();
        return fn();
    }
    auto task = std::make_shared<std::packaged_task<decltype(fn())()>>(std::move(fn));
    auto result = task->get_future();
    invocations_.push_back([task] { (*task)(); });
    wake_.notify_all();
    lock.unlock();
    return result.get();
}

void HeadlessView::SetIdleHook(std::function<bool(HeadlessView&)> hook) {
    std::lock_guard guard(lock_);
    idleHook_ = std::move(hook);
}

void HeadlessView::AnswerProxyPrompt(std::optional<platform::ProxyCredentials> credentials) {
    std::lock_guard guard(lock_);
    proxyAnswer_ = std::move(credentials);
}

void HeadlessView::AnswerFolderBrowser(std::optional<std::string> folder) {
    std::lock_guard guard(lock_);
    folderAnswer_ = std::move(folder);
}

void HeadlessView::AnswerFormat(bool formatted) {
    std::lock_guard guard(lock_);
    formatAnswer_ = formatted;
}

int HeadlessView::FormatsAsked() {
    std::lock_guard guard(lock_);
    return formatsAsked_;
}

std::vector<HeadlessView::BoxRecord> HeadlessView::Boxes() {
    std::lock_guard guard(lock_);
    return boxes_;
}

HeadlessView::Control HeadlessView::ControlState(int window, int id) {
    std::lock_guard guard(lock_);
    return controls_[{window, id}];
}

std::vector<HeadlessView::ControlChange> HeadlessView::ControlChanges() {
    std::lock_guard guard(lock_);
    return changes_;
}

std::vector<std::string> HeadlessView::StatusTexts() {
    std::lock_guard guard(lock_);
    return statusTexts_;
}

void HeadlessView::Changed(int window, int id) {
    const Control& control = controls_[{window, id}];
    changes_.push_back({window, id, control.text, control.enabled, control.visible});
}

std::vector<std::string> HeadlessView::ShellOpened() {
    std::lock_guard guard(lock_);
    return shellOpened_;
}

std::vector<std::string> HeadlessView::SessionEndBlocks() {
    std::lock_guard guard(lock_);
    return sessionEndBlocks_;
}

bool HeadlessView::IsMenuItemEnabled(int window, int itemId) {
    std::lock_guard guard(lock_);
    auto item = menuItems_.find({window, itemId});
    return item == menuItems_.end() || item->second;
}

bool HeadlessView::IsSystemCloseEnabled(int window) {
    std::lock_guard guard(lock_);
    auto close = systemClose_.find(window);
    return close == systemClose_.end() || close->second;
}

int HeadlessView::ColumnWidth(int listId, int column) {
    std::lock_guard guard(lock_);
    auto width = columnWidths_.find({listId, column});
    return width == columnWidths_.end() ? 0 : width->second;
}

void HeadlessView::LoadResource(int window) {
    const ui::DialogResource* resource = ui::FindDialogResource(window);
    if (resource == nullptr) return;
    controls_[{window, 0}] = Control{resource->title};
    for (const ui::ControlResource& control : resource->controls)
        if (control.id != ui::kNoId) controls_[{window, control.id}] = Control{control.text, true, true, control.image};
    for (const ui::MenuResource& menu : resource->menus)
        for (const ui::MenuItemResource& item : menu.items)
            if (item.id != 0) menuItems_[{window, item.id}] = true;
    systemClose_[window] = true;
}

platform::ViewHandler* HeadlessView::MainLogic() {
    if (platform::ViewHandler* main = LogicOf(platform::IDD_MAIN_WINDOW)) return main;
    for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame)
        if (!(*frame)->ended) return (*frame)->logic;
    return nullptr;
}

void HeadlessView::SetObserver(ui::AutomationObserver* observer) {
    std::lock_guard guard(lock_);
    observer_ = observer;
}

void HeadlessView::SetDriver(std::function<bool()> step) {
    std::lock_guard guard(lock_);
    driver_ = std::move(step);
}

void HeadlessView::WakeAt(uint64_t tick) {
    std::lock_guard guard(lock_);
    wakeAt_ = tick;
}

bool HeadlessView::Press(int window, int id) {
    platform::ViewHandler* logic;
    {
        std::lock_guard guard(lock_);
        logic = LogicOf(window);
        auto control = controls_.find({window, id});
        if (logic == nullptr || (control != controls_.end() && !(control->second.enabled && control->second.visible)))
            return false;
    }
    logic->OnCommand(static_cast<uint32_t>(id));
    return true;
}

bool HeadlessView::ChooseMenu(int itemId) {
    platform::ViewHandler* logic;
    {
        std::lock_guard guard(lock_);
        logic = LogicOf(platform::IDD_MAIN_WINDOW);
        if (logic == nullptr || !menuItems_.contains({platform::IDD_MAIN_WINDOW, itemId})) return false;
    }
    logic->OnInitMenu();
    if (!IsMenuItemEnabled(platform::IDD_MAIN_WINDOW, itemId)) return false;
    logic->OnCommand(static_cast<uint32_t>(itemId));
    return true;
}

bool HeadlessView::ClickRowCheckBox(int listId, int row) {
    platform::ViewHandler* logic;
    uint32_t newState;
    {
        std::lock_guard guard(lock_);
        logic = LogicOf(platform::IDD_MAIN_WINDOW);
        auto& rows = lists_[listId];
        auto control = controls_.find({platform::IDD_MAIN_WINDOW, listId});
        if (logic == nullptr || row < 0 || row >= static_cast<int>(rows.size()) ||
            (control != controls_.end() && !control->second.enabled))
            return false;
        rows[row].checked = !rows[row].checked;
        newState = rows[row].checked ? platform::kStateChecked : platform::kStateUnchecked;
    }
    logic->OnListItemChanged({listId, row, newState});
    return true;
}

bool HeadlessView::PressKey(uint32_t virtualKey) {
    platform::ViewHandler* main;
    platform::ViewHandler* top;
    {
        std::lock_guard guard(lock_);
        main = MainLogic();
        top = frames_.empty() ? nullptr : LogicOf(frames_.back()->window);
    }
    if (main == nullptr || top == nullptr) return false;
    main->OnKeyDown(virtualKey);
    // What a dialog does with the two keys it knows itself.
    if (virtualKey == platform::VK_ESCAPE) top->OnCommand(platform::IDCANCEL);
    if (virtualKey == platform::VK_RETURN) top->OnCommand(platform::IDOK);
    return true;
}

bool HeadlessView::IsWindowOpen(int window) {
    std::lock_guard guard(lock_);
    return LogicOf(window) != nullptr;
}

int HeadlessView::TopWindow() {
    std::lock_guard guard(lock_);
    for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame)
        if (!(*frame)->ended) return (*frame)->window;
    return 0;
}

void HeadlessView::CloseAll() {
    std::lock_guard guard(lock_);
    closingAll_ = true;
    wake_.notify_all();
}

bool HeadlessView::AskToEnd(Frame& frame, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    bool mayEnd = frame.logic->OnCloseRequest();
    lock.lock();
    if (mayEnd) frame.ended = true;
    return mayEnd;
}

platform::ViewHandler* HeadlessView::LogicOf(int window) {
    for (Frame* frame : frames_)
        if (frame->window == window && !frame->ended) return frame->logic;
    auto modeless = modeless_.find(window);
    return modeless == modeless_.end() ? nullptr : modeless->second;
}

bool HeadlessView::DeliverQueued(std::unique_lock<std::mutex>& lock) {
    if (!invocations_.empty()) {
        auto invocation = std::move(invocations_.front());
        invocations_.pop_front();
        lock.unlock();
        invocation();
        lock.lock();
        return true;
    }
    while (!posted_.empty()) {
        Posted message = posted_.front();
        posted_.pop_front();
        platform::ViewHandler* logic = LogicOf(message.window);
        if (logic == nullptr) continue;  // the window is gone: as a posted message to a closed window
        lock.unlock();
        logic->OnNotify(message.wParam, message.lParam);
        lock.lock();
        return true;
    }
    return false;
}

bool HeadlessView::FireDueTimer(std::unique_lock<std::mutex>& lock) {
    uint64_t now = platform::GetTickCount64();
    for (auto& [key, timer] : timers_) {
        if (timer.due > now) continue;
        platform::ViewHandler* logic = LogicOf(key.first);
        timer.due = now + timer.period;
        if (logic == nullptr) continue;
        uint32_t id = key.second;
        lock.unlock();
        logic->OnTimer(id);
        lock.lock();
        return true;
    }
    return false;
}

bool HeadlessView::WaitForNextTimer(std::unique_lock<std::mutex>& lock) {
    uint64_t next = UINT64_MAX;
    for (auto& [key, timer] : timers_)
        if (LogicOf(key.first)) next = std::min(next, timer.due);
    if (wakeAt_ > platform::GetTickCount64()) next = std::min(next, wakeAt_);
    if (next == UINT64_MAX) return false;
    // Give a worker a moment to post first; then time moves on to the timer.
    wake_.wait_for(lock, std::chrono::milliseconds(1));
    if (!invocations_.empty() || !posted_.empty()) return true;
    uint64_t now = platform::GetTickCount64();
    if (next <= now) return true;
    if (auto* fake = dynamic_cast<platform::FakeClock*>(&platform::CurrentClock()))
        fake->Advance(static_cast<int64_t>(next - now));
    else
        wake_.wait_for(lock, std::chrono::milliseconds(next - now));
    return true;
}

bool HeadlessView::DeliverDeviceChange(std::unique_lock<std::mutex>& lock) {
    if (!deviceChanges_) return false;
    const bool changed = deviceChanges_->Consume();
    // A removal asked or answered is no device change, but it is heard at the same wake.
    lock.unlock();
    removalWatches_.AnswerRequests([this](int window) {
        std::lock_guard guard(lock_);
        return LogicOf(window);
    });
    lock.lock();
    if (!changed) return false;
    std::vector<platform::ViewHandler*> windows;
    for (Frame* frame : frames_)
        if (!frame->ended) windows.push_back(frame->logic);
    for (auto& [window, logic] : modeless_) windows.push_back(logic);
    lock.unlock();
    for (platform::ViewHandler* logic : windows) logic->OnDeviceChange();
    lock.lock();
    return true;
}

bool HeadlessView::RunIdleWork(std::unique_lock<std::mutex>& lock) {
    // A box or dialog raised by the driver's own action runs a nested loop: the driver waits
    // for that action to return rather than acting again inside it.
    if (driver_ && !driverRunning_) {
        auto driver = driver_;
        driverRunning_ = true;
        lock.unlock();
        bool acted = driver();
        lock.lock();
        driverRunning_ = false;
        if (acted) return true;
    }
    auto hook = idleHook_;
    if (!hook) return false;
    lock.unlock();
    bool acted = hook(*this);
    lock.lock();
    return acted;
}

int HeadlessView::RunDialog(int window, platform::ViewHandler& logic) {
    Frame frame{window, &logic};
    ui::AutomationObserver* observer;
    {
        std::lock_guard guard(lock_);
        if (frames_.empty()) {
            uiThread_ = std::this_thread::get_id();
            if (!deviceChanges_) deviceChanges_ = std::make_unique<platform::DeviceChangeWatcher>();
        }
        uiRunning_ = true;
        LoadResource(window);
        frames_.push_back(&frame);
        if (std::optional<int> answer = TakeDialogAnswer(window)) {
            // The user's click, once the dialog has been set up.
            auto command = static_cast<uint32_t>(*answer);
            invocations_.push_back([&logic, command] { logic.OnCommand(command); });
        }
        observer = observer_;
    }
    if (observer) observer->OnDialogOpened(window, GetControlText(window, 0));
    logic.OnInitDialog();
    std::unique_lock lock(lock_);
    while (!frame.ended) {
        // Every window is asked once to end when the automation is over; one whose work still
        // runs ends itself when that work is done.
        if (closingAll_ && !frame.closeAsked) {
            frame.closeAsked = true;
            AskToEnd(frame, lock);
            continue;
        }
        if (DeliverQueued(lock) || FireDueTimer(lock) || DeliverDeviceChange(lock) || RunIdleWork(lock)) continue;
        if (WaitForNextTimer(lock)) continue;
        // Nothing pending and nothing scheduled: only a worker or a device change can still
        // bring something.
        bool woke = false;
        for (auto until = std::chrono::steady_clock::now() + kQuietLimit;
             !woke && std::chrono::steady_clock::now() < until;)
            woke = wake_.wait_for(lock, kDeviceChangePoll, [&] {
                return !invocations_.empty() || !posted_.empty() || frame.ended;
            }) || DeliverDeviceChange(lock);
        if (!woke) AskToEnd(frame, lock);
    }
    frames_.pop_back();
    if (frames_.empty()) uiRunning_ = false;
    // Its modeless windows end with it.
    for (auto [modeless, owner] : modelessOwners_)
        if (owner == window) modeless_.erase(modeless);
    std::erase_if(modelessOwners_, [&](const auto& entry) { return !modeless_.contains(entry.first); });
    return frame.result;
}

void HeadlessView::EndDialog(int window, int result) {
    std::lock_guard guard(lock_);
    for (Frame* frame : frames_)
        if (frame->window == window && !frame->ended) {
            frame->ended = true;
            frame->result = result;
        }
    wake_.notify_all();
}

void HeadlessView::SetControlText(int window, int id, const std::string& text) {
    ui::AutomationObserver* observer;
    {
        std::lock_guard guard(lock_);
        controls_[{window, id}].text = text;
        Changed(window, id);
        if (window == platform::IDD_MAIN_WINDOW && id == ids::kStatusLine) statusTexts_.push_back(text);
        observer = observer_;
    }
    if (observer) observer->OnControlText(window, id, text);
}

std::string HeadlessView::GetControlText(int window, int id) {
    std::lock_guard guard(lock_);
    return controls_[{window, id}].text;
}

void HeadlessView::EnableControl(int window, int id, bool enable) {
    std::lock_guard guard(lock_);
    controls_[{window, id}].enabled = enable;
    Changed(window, id);
}

bool HeadlessView::IsControlEnabled(int window, int id) {
    std::lock_guard guard(lock_);
    return controls_[{window, id}].enabled;
}

void HeadlessView::ShowControl(int window, int id, bool show) {
    std::lock_guard guard(lock_);
    controls_[{window, id}].visible = show;
    Changed(window, id);
}

void HeadlessView::SetCaption(int window, const std::string& text) { SetControlText(window, 0, text); }

void HeadlessView::SetControlIcon(int window, int id, int iconId) {
    std::lock_guard guard(lock_);
    controls_[{window, id}].icon = iconId;
}

void HeadlessView::EnableMenuItem(int window, int itemId, bool enable) {
    std::lock_guard guard(lock_);
    menuItems_[{window, itemId}] = enable;
}

void HeadlessView::EnableSystemClose(int window, bool enable) {
    std::lock_guard guard(lock_);
    systemClose_[window] = enable;
}

void HeadlessView::SetSessionEndBlock(int, const std::string& reason) {
    std::lock_guard guard(lock_);
    sessionEndBlocks_.push_back(reason);
}

bool HeadlessView::CreateModeless(int window, int owner, platform::ViewHandler& logic) {
    {
        std::lock_guard guard(lock_);
        LoadResource(window);
        modeless_[window] = &logic;
        modelessOwners_[window] = owner;
    }
    logic.OnInitDialog();
    return true;
}

void HeadlessView::DestroyWindow(int window) {
    std::lock_guard guard(lock_);
    modeless_.erase(window);
}

int HeadlessView::InsertColumn(int listId, int column, const std::string&, int width) {
    if (column < 0) return -1;
    SetColumnWidth(listId, column, width);
    return column;
}

void HeadlessView::SetColumnWidth(int listId, int column, int width) {
    std::lock_guard guard(lock_);
    columnWidths_[{listId, column}] = width;
}

int HeadlessView::InsertRow(int listId, int row, const std::string& firstCell) {
    std::lock_guard guard(lock_);
    auto& rows = lists_[listId];
    if (row < 0 || row > static_cast<int>(rows.size())) row = static_cast<int>(rows.size());
    rows.insert(rows.begin() + row, Row{{firstCell}, false});
    return row;
}

bool HeadlessView::SetCellText(int listId, int row, int column, const std::string& text) {
    std::lock_guard guard(lock_);
    auto& rows = lists_[listId];
    if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0) return false;
    if (rows[row].cells.size() <= static_cast<size_t>(column)) rows[row].cells.resize(column + 1);
    rows[row].cells[column] = text;
    return true;
}

std::string HeadlessView::GetCellText(int listId, int row, int column) {
    std::lock_guard guard(lock_);
    auto& rows = lists_[listId];
    if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0 ||
        static_cast<size_t>(column) >= rows[row].cells.size())
        return {};
    return rows[row].cells[column];
}

void HeadlessView::DeleteRow(int listId, int row) {
    std::lock_guard guard(lock_);
    auto& rows = lists_[listId];
    if (row >= 0 && row < static_cast<int>(rows.size())) rows.erase(rows.begin() + row);
}

void HeadlessView::DeleteAllRows(int listId) {
    std::lock_guard guard(lock_);
    lists_[listId].clear();
}

int HeadlessView::RowCount(int listId) {
    std::lock_guard guard(lock_);
    return static_cast<int>(lists_[listId].size());
}

void HeadlessView::SetRowChecked(int listId, int row, bool checked) {
    std::lock_guard guard(lock_);
    auto& rows = lists_[listId];
    if (row >= 0 && row < static_cast<int>(rows.size())) rows[row].checked = checked;
}

bool HeadlessView::IsRowChecked(int listId, int row) {
    std::lock_guard guard(lock_);
    auto& rows = lists_[listId];
    return row >= 0 && row < static_cast<int>(rows.size()) && rows[row].checked;
}

int HeadlessView::MessageBox(const platform::MessageBoxRequest& request) {
    return OnUiThread([this, request] {
        ui::AutomationObserver* observer;
        const int answer = TakeBoxAnswer().answer.value_or(platform::IDOK);
        {
            std::lock_guard guard(lock_);
            bool onUi = !uiRunning_ || std::this_thread::get_id() == uiThread_;
            boxes_.push_back({request, answer, onUi});
            observer = observer_;
        }
        if (observer) observer->OnBox(request, answer);
        return answer;
    });
}

std::optional<std::string> HeadlessView::BrowseForFolder(const std::string&, const std::string&) {
    return OnUiThread([this] {
        std::lock_guard guard(lock_);
        return folderAnswer_;
    });
}

void HeadlessView::ShellOpen(const std::string& url) {
    std::lock_guard guard(lock_);
    shellOpened_.push_back(url);
}

void HeadlessView::SetTaskbarProgress(int, platform::TaskbarProgress state, int percent) {
    std::lock_guard guard(lock_);
    // A repeated state is what the window does every second; the record keeps the changes.
    TaskbarRecord record{state, state == platform::TaskbarProgress::None ? 0 : percent};
    if (taskbar_.empty() || !(taskbar_.back() == record)) taskbar_.push_back(record);
}

bool HeadlessView::IsWindowInFront(int) {
    std::lock_guard guard(lock_);
    return inFront_;
}

void HeadlessView::FlashWindow(int) {
    std::lock_guard guard(lock_);
    ++flashes_;
}

void HeadlessView::ShowDesktopNotice(int, const std::string& title, const std::string& text, bool failed) {
    std::lock_guard guard(lock_);
    notices_.push_back({title, text, failed});
}

std::vector<HeadlessView::TaskbarRecord> HeadlessView::TaskbarStates() {
    std::lock_guard guard(lock_);
    return taskbar_;
}

int HeadlessView::Flashes() {
    std::lock_guard guard(lock_);
    return flashes_;
}

std::vector<HeadlessView::NoticeRecord> HeadlessView::Notices() {
    std::lock_guard guard(lock_);
    return notices_;
}

void HeadlessView::SetWindowInFront(bool inFront) {
    std::lock_guard guard(lock_);
    inFront_ = inFront;
}

uint32_t HeadlessView::FormatDrive(char driveLetter) {
    const bool confirmed = OnUiThread([this] {
        std::lock_guard guard(lock_);
        ++formatsAsked_;
        return formatAnswer_;
    });
    if (!confirmed) return platform::SHFMT_CANCEL;
    // The user confirmed: the drive is formatted on the caller's thread.
    return platform::FormatDrive(driveLetter);
}

std::optional<platform::ProxyCredentials> HeadlessView::AskProxyCredentials(const std::string&) {
    return OnUiThread([this] {
        if (auto scripted = TakeProxyAnswer()) return *scripted;
        std::lock_guard guard(lock_);
        return proxyAnswer_;
    });
}

void HeadlessView::SetTimer(int window, uint32_t id, uint32_t milliseconds) {
    std::lock_guard guard(lock_);
    timers_[{window, id}] = Timer{milliseconds, platform::GetTickCount64() + milliseconds};
    wake_.notify_all();
}

void HeadlessView::KillTimer(int window, uint32_t id) {
    std::lock_guard guard(lock_);
    timers_.erase({window, id});
}

void HeadlessView::PostNotify(int window, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard guard(lock_);
    posted_.push_back({window, wParam, lParam});
    wake_.notify_all();
}

bool HeadlessView::WatchVolumeRemoval(int window, platform::HANDLE volume) {
    removalWatches_.Watch(volume, window);
    return true;
}

void HeadlessView::StopWatchingVolumeRemoval(platform::HANDLE volume) { removalWatches_.Stop(volume); }
