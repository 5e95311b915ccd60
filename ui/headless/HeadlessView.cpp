#include "ui/headless/HeadlessView.h"

#include <chrono>
#include <future>

#include "platform/Clock.h"
#include "platform/Format.h"

namespace {
// Real time the loop waits for a worker before it decides that nothing more will happen.
constexpr auto kQuietLimit = std::chrono::seconds(30);
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

void HeadlessView::AnswerNextBox(int answer) {
    std::lock_guard guard(lock_);
    boxAnswers_.push_back(answer);
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

void HeadlessView::Changed(int window, int id) {
    const Control& control = controls_[{window, id}];
    changes_.push_back({window, id, control.text, control.enabled, control.visible});
}

std::vector<std::string> HeadlessView::ShellOpened() {
    std::lock_guard guard(lock_);
    return shellOpened_;
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

int HeadlessView::RunDialog(int window, platform::ViewHandler& logic) {
    Frame frame{window, &logic};
    {
        std::lock_guard guard(lock_);
        if (frames_.empty()) uiThread_ = std::this_thread::get_id();
        uiRunning_ = true;
        frames_.push_back(&frame);
    }
    logic.OnInitDialog();
    std::unique_lock lock(lock_);
    while (!frame.ended) {
        if (DeliverQueued(lock) || FireDueTimer(lock)) continue;
        auto hook = idleHook_;
        if (hook) {
            lock.unlock();
            bool acted = hook(*this);
            lock.lock();
            if (acted) continue;
        }
        if (WaitForNextTimer(lock)) continue;
        // Nothing pending and nothing scheduled: only a worker can still post.
        if (!wake_.wait_for(lock, kQuietLimit, [&] { return !invocations_.empty() || !posted_.empty() || frame.ended; }))
            frame.ended = true;
    }
    frames_.pop_back();
    if (frames_.empty()) uiRunning_ = false;
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
    std::lock_guard guard(lock_);
    controls_[{window, id}].text = text;
    Changed(window, id);
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

void HeadlessView::SetCaption(int window, const std::string& text) {
    SetControlText(window, 0, text);
}

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

bool HeadlessView::CreateModeless(int window, int, platform::ViewHandler& logic) {
    {
        std::lock_guard guard(lock_);
        modeless_[window] = &logic;
    }
    logic.OnInitDialog();
    return true;
}

void HeadlessView::DestroyWindow(int window) {
    std::lock_guard guard(lock_);
    modeless_.erase(window);
}

void HeadlessView::InsertColumn(int listId, int column, const std::string&, int width) {
    SetColumnWidth(listId, column, width);
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

void HeadlessView::SetCellText(int listId, int row, int column, const std::string& text) {
    std::lock_guard guard(lock_);
    auto& rows = lists_[listId];
    if (row < 0 || row >= static_cast<int>(rows.size()) || column < 0) return;
    if (rows[row].cells.size() <= static_cast<size_t>(column)) rows[row].cells.resize(column + 1);
    rows[row].cells[column] = text;
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
        std::lock_guard guard(lock_);
        bool onUi = !uiRunning_ || std::this_thread::get_id() == uiThread_;
        int answer = platform::IDOK;
        if (!boxAnswers_.empty()) {
            answer = boxAnswers_.front();
            boxAnswers_.pop_front();
        }
        boxes_.push_back({request, answer, onUi});
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

uint32_t HeadlessView::FormatDrive(char driveLetter) {
    return OnUiThread([this, driveLetter] {
        std::unique_lock guard(lock_);
        if (!formatAnswer_) return platform::SHFMT_CANCEL;
        guard.unlock();
        // The user confirmed: the shell formats the drive.
        return platform::FormatDrive(driveLetter) ? 0u : platform::SHFMT_ERROR;
    });
}

std::optional<platform::ProxyCredentials> HeadlessView::AskProxyCredentials(const std::string&) {
    return OnUiThread([this] {
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
