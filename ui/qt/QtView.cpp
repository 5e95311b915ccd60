// The Qt view at work: dialogs run and ended, controls, timers, notifications and boxes, keys
// turned into their Windows codes, and work from other threads run on the window's thread.
#include "ui/qt/QtView.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QKeyEvent>
#include <QSessionManager>
#include <QThread>
#include <QUrl>

#include "platform/Format.h"
#include "platform/Paths.h"
#include "ui/qt/DesktopNotices.h"
#include "ui/qt/Fonts.h"
#include "ui/qt/Images.h"
#include "ui/qt/Prompts.h"
#include "ui/qt/QtText.h"

namespace ui::qt {
namespace {

// How often the automation's driver is offered a step (real time; its waits use the
// platform clock).
constexpr int kDriverPeriodMilliseconds = 10;

// Windows virtual-key codes of the keys the pre-filter and the dialogs look at.
uint32_t VirtualKey(int qtKey) {
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return platform::VK_F1 + static_cast<uint32_t>(qtKey - Qt::Key_F1);
    if (qtKey == Qt::Key_Escape) return platform::VK_ESCAPE;
    if (qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter) return platform::VK_RETURN;
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return static_cast<uint32_t>(qtKey);
    return 0;
}

}  // namespace

QtView::QtView() {
    InstallJapaneseFontFallback();
    qApp->installEventFilter(this);
    connect(&driverTimer_, &QTimer::timeout, this, [this] { RunDriver(); });
    // The session ends: the main window may refuse, as on WM_QUERYENDSESSION, or closes down.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& session) {
        DialogWindow* main = Window(platform::IDD_MAIN_WINDOW);
        if (main == nullptr) return;
        if (!main->Logic().OnQueryEndSession()) {
            if (session.allowsInteraction()) session.cancel();
            return;
        }
        main->Logic().OnEndSession();
    });
}

QtView::~QtView() { qApp->removeEventFilter(this); }

template <class Fn>
auto QtView::OnUiThread(Fn fn) -> decltype(fn()) {
    using Result = decltype(fn());
    if (QThread::currentThread() == thread()) return fn();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(this, fn, Qt::BlockingQueuedConnection);
    } else {
        std::optional<Result> result;
        QMetaObject::invokeMethod(
            this, [&] { result.emplace(fn()); }, Qt::BlockingQueuedConnection);
        return std::move(*result);
    }
}

DialogWindow* QtView::Window(int window) const {
    for (DialogWindow* frame : frames_)
        if (frame->Id() == window && !frame->Ended()) return frame;
    auto modeless = modeless_.find(window);
    return modeless == modeless_.end() ? nullptr : modeless->second.window.get();
}

DialogWindow* QtView::Top() const {
    for (auto frame = frames_.rbegin(); frame != frames_.rend(); ++frame)
        if (!(*frame)->Ended()) return *frame;
    return nullptr;
}

ListArea* QtView::List(int listId) const {
    for (DialogWindow* frame : frames_)
        if (ListArea* list = frame->List(listId)) return list;
    return nullptr;
}

platform::ViewHandler* QtView::KeyLogic() const {
    DialogWindow* window = Window(platform::IDD_MAIN_WINDOW);
    if (window == nullptr) window = Top();
    return window == nullptr ? nullptr : &window->Logic();
}

int QtView::RunDialog(int window, platform::ViewHandler& logic) {
    const DialogResource* resource = FindDialogResource(window);
    if (resource == nullptr) return -1;
    if (frames_.empty() && !deviceChanges_) {
        deviceChanges_ = std::make_unique<platform::DeviceChangeWatcher>();
        if (deviceChanges_->Fd() >= 0) {
            deviceNotifier_ = std::make_unique<QSocketNotifier>(deviceChanges_->Fd(), QSocketNotifier::Read);
            connect(deviceNotifier_.get(), &QSocketNotifier::activated, this, [this] { DeliverDeviceChange(); });
        }
    }
    DialogWindow dialog(*resource, logic, Top());
    frames_.push_back(&dialog);
    if (driver_) driverTimer_.start(kDriverPeriodMilliseconds);
    if (observer_) observer_->OnDialogOpened(window, resource->title);
    if (std::optional<int> answer = TakeDialogAnswer(window)) {
        // The user's click, once the dialog is up.
        auto command = static_cast<uint32_t>(*answer);
        QTimer::singleShot(0, &dialog, [&logic, command] { logic.OnCommand(command); });
    }
    logic.OnInitDialog();
    if (closingAll_ && logic.OnCloseRequest()) dialog.End(platform::IDCANCEL);
    // A window that its logic ended during its initialisation is never shown.
    int result = dialog.Ended() ? dialog.result() : dialog.exec();
    frames_.pop_back();
    // Its modeless windows and its timers die with it, as a window's do.
    std::erase_if(modeless_, [window](const auto& entry) { return entry.second.owner == window; });
    for (auto timer = timers_.begin(); timer != timers_.end();)
        timer = timer->first.first == window && Window(window) == nullptr ? timers_.erase(timer) : std::next(timer);
    return result;
}

void QtView::EndDialog(int window, int result) {
    OnUiThread([&] {
        if (DialogWindow* dialog = Window(window)) dialog->End(result);
    });
}

void QtView::SetControlText(int window, int id, const std::string& text) {
    if (DialogWindow* dialog = Window(window)) dialog->SetText(id, text);
    if (observer_) observer_->OnControlText(window, id, text);
}

std::string QtView::GetControlText(int window, int id) {
    DialogWindow* dialog = Window(window);
    return dialog == nullptr ? std::string() : dialog->Text(id);
}

void QtView::EnableControl(int window, int id, bool enable) {
    if (DialogWindow* dialog = Window(window))
        if (QWidget* control = dialog->Control(id)) control->setEnabled(enable);
}

bool QtView::IsControlEnabled(int window, int id) {
    DialogWindow* dialog = Window(window);
    QWidget* control = dialog == nullptr ? nullptr : dialog->Control(id);
    return control != nullptr && control->isEnabledTo(dialog);
}

void QtView::ShowControl(int window, int id, bool show) {
    if (DialogWindow* dialog = Window(window))
        if (QWidget* control = dialog->Control(id)) control->setVisible(show);
}

void QtView::Repaint(int window) {
    if (DialogWindow* dialog = Window(window)) {
        dialog->update();
        for (QWidget* child : dialog->findChildren<QWidget*>()) child->update();
    }
}

void QtView::SetCaption(int window, const std::string& text) {
    if (DialogWindow* dialog = Window(window)) dialog->SetCaption(text);
}

void QtView::SetControlIcon(int window, int id, int iconId) {
    if (DialogWindow* dialog = Window(window)) dialog->SetIcon(id, iconId);
}

void QtView::EnableMenuItem(int window, int itemId, bool enable) {
    if (DialogWindow* dialog = Window(window)) dialog->EnableMenuItem(itemId, enable);
}

void QtView::EnableSystemClose(int window, bool enable) {
    if (DialogWindow* dialog = Window(window)) dialog->EnableSystemClose(enable);
}

void QtView::SetSessionEndBlock(int, const std::string&) {
    // Qt's session manager offers no reason to show: the main window refuses the end itself
    // when it is asked (commitDataRequest).
}

bool QtView::CreateModeless(int window, int owner, platform::ViewHandler& logic) {
    const DialogResource* resource = FindDialogResource(window);
    if (resource == nullptr) return false;
    auto dialog = std::make_unique<DialogWindow>(*resource, logic, Window(owner));
    DialogWindow* created = dialog.get();
    modeless_[window] = {owner, std::move(dialog)};
    logic.OnInitDialog();
    if (!resource->hidden && Window(window) == created) created->show();
    return true;
}

void QtView::DestroyWindow(int window) { modeless_.erase(window); }

int QtView::InsertColumn(int listId, int column, const std::string& title, int width) {
    ListArea* list = List(listId);
    return list == nullptr ? -1 : list->InsertColumn(column, title, width);
}

void QtView::SetColumnWidth(int listId, int column, int width) {
    if (ListArea* list = List(listId)) list->setColumnWidth(column, width);
}

int QtView::InsertRow(int listId, int row, const std::string& firstCell) {
    ListArea* list = List(listId);
    return list == nullptr ? -1 : list->InsertRow(row, firstCell);
}

bool QtView::SetCellText(int listId, int row, int column, const std::string& text) {
    ListArea* list = List(listId);
    return list != nullptr && list->SetCellText(row, column, text);
}

std::string QtView::GetCellText(int listId, int row, int column) {
    ListArea* list = List(listId);
    return list == nullptr ? std::string() : list->CellText(row, column);
}

void QtView::DeleteRow(int listId, int row) {
    if (ListArea* list = List(listId)) list->removeRow(row);
}

void QtView::DeleteAllRows(int listId) {
    if (ListArea* list = List(listId)) list->setRowCount(0);
}

int QtView::RowCount(int listId) {
    ListArea* list = List(listId);
    return list == nullptr ? 0 : list->rowCount();
}

void QtView::SetRowChecked(int listId, int row, bool checked) {
    if (ListArea* list = List(listId)) list->SetRowChecked(row, checked);
}

bool QtView::IsRowChecked(int listId, int row) {
    ListArea* list = List(listId);
    return list != nullptr && list->IsRowChecked(row);
}

void QtView::EnsureRowVisible(int listId, int row) {
    if (ListArea* list = List(listId))
        if (QTableWidgetItem* first = list->item(row, 0)) list->scrollToItem(first);
}

void QtView::ScrollList(int listId, int dy) {
    if (ListArea* list = List(listId)) list->ScrollBy(dy);
}

int QtView::MessageBox(const platform::MessageBoxRequest& request) {
    return OnUiThread([&] {
        BoxAnswer scripted = TakeBoxAnswer();
        DialogWindow* main = Window(platform::IDD_MAIN_WINDOW);
        int answer = ShowMessageBox(request, main ? main : Top(), scripted.answer, scripted.shot);
        if (observer_) observer_->OnBox(request, answer);
        return answer;
    });
}

std::optional<std::string> QtView::BrowseForFolder(const std::string& title, const std::string& initialFolder) {
    return OnUiThread([&]() -> std::optional<std::string> {
        QString start = QString::fromStdString(platform::ToNativePath(initialFolder).value_or(std::string()));
        QString chosen = QFileDialog::getExistingDirectory(Top(), FromCp932(title), start, QFileDialog::ShowDirsOnly);
        if (chosen.isEmpty()) return std::nullopt;
        return platform::ToWindowsPath(chosen.toStdString());
    });
}

void QtView::ShellOpen(const std::string& url) {
    // A folder of the program's own (a Windows path) opens in the file manager as its native path.
    std::optional<std::string> native = url.size() > 2 && url[1] == ':' ? platform::ToNativePath(url) : std::nullopt;
    OnUiThread([&] {
        QDesktopServices::openUrl(native ? QUrl::fromLocalFile(QString::fromStdString(*native)) : QUrl(FromCp932(url)));
    });
}

void QtView::SetWaitCursor(bool wait) {
    OnUiThread([&] {
        if (wait) {
            ++waitCursors_;
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else if (waitCursors_ > 0) {
            --waitCursors_;
            QApplication::restoreOverrideCursor();
        }
    });
}

uint32_t QtView::FormatDrive(char driveLetter) {
    if (!OnUiThread([&] { return ConfirmFormat(driveLetter, Top()); })) return platform::SHFMT_CANCEL;
    // The format on the caller's thread: udisks2 may wait on the user's authorisation.
    return platform::FormatDrive(driveLetter);
}

std::optional<platform::ProxyCredentials> QtView::AskProxyCredentials(const std::string& proxy) {
    if (auto scripted = TakeProxyAnswer()) return *scripted;
    return OnUiThread([&] { return ui::qt::AskProxyCredentials(proxy, Top()); });
}

void QtView::SetTimer(int window, uint32_t id, uint32_t milliseconds) {
    OnUiThread([&] {
        auto& timer = timers_[{window, id}];
        if (!timer) {
            timer.reset(new QTimer);
            connect(timer.get(), &QTimer::timeout, this, [this, window, id] {
                if (DialogWindow* dialog = Window(window)) dialog->Logic().OnTimer(id);
            });
        }
        timer->start(static_cast<int>(milliseconds));  // a running timer starts over, as SetTimer does
    });
}

void QtView::KillTimer(int window, uint32_t id) {
    OnUiThread([&] { timers_.erase({window, id}); });
}

void QtView::PostNotify(int window, uintptr_t wParam, intptr_t lParam) {
    QMetaObject::invokeMethod(
        this,
        [this, window, wParam, lParam] {
            if (DialogWindow* dialog = Window(window)) dialog->Logic().OnNotify(wParam, lParam);
        },
        Qt::QueuedConnection);
}

bool QtView::WatchVolumeRemoval(int window, platform::HANDLE volume) {
    removalWatches_.Watch(volume, window);
    return true;
}

void QtView::StopWatchingVolumeRemoval(platform::HANDLE volume) { removalWatches_.Stop(volume); }

void QtView::DeliverDeviceChange() {
    const bool changed = deviceChanges_->Consume();
    // A removal asked or answered is no device change, but it wakes the watcher too.
    removalWatches_.AnswerRequests([this](int window) -> platform::ViewHandler* {
        DialogWindow* dialog = Window(window);
        return dialog != nullptr ? &dialog->Logic() : nullptr;
    });
    if (!changed) return;
    std::vector<platform::ViewHandler*> windows;
    for (DialogWindow* frame : frames_)
        if (!frame->Ended()) windows.push_back(&frame->Logic());
    for (auto& [id, modeless] : modeless_) windows.push_back(&modeless.window->Logic());
    for (platform::ViewHandler* logic : windows) logic->OnDeviceChange();
}

bool QtView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    // A key event travels from the focus widget up to its window; the pre-filter sees it once,
    // at its first receiver.
    QWidget* first = QApplication::focusWidget();
    auto* widget = static_cast<QWidget*>(watched);
    if (first != nullptr ? widget != first : widget != widget->window()) return false;
    // Only the program's own windows: a message box's keys stay the box's.
    if (dynamic_cast<DialogWindow*>(widget->window()) == nullptr) return false;
    uint32_t key = VirtualKey(static_cast<QKeyEvent*>(event)->key());
    platform::ViewHandler* logic = KeyLogic();
    if (key != 0 && logic != nullptr) logic->OnKeyDown(key);
    return false;
}

void QtView::SetObserver(ui::AutomationObserver* observer) { observer_ = observer; }

void QtView::SetDriver(std::function<bool()> step) {
    driver_ = std::move(step);
    if (!driver_)
        driverTimer_.stop();
    else if (!frames_.empty())
        driverTimer_.start(kDriverPeriodMilliseconds);
}

void QtView::RunDriver() {
    // An action of the driver that opens a box or dialog runs a nested loop; the driver does
    // not act again inside it.
    if (!driver_ || driverRunning_) return;
    driverRunning_ = true;
    auto driver = driver_;
    driver();
    driverRunning_ = false;
}

bool QtView::Press(int window, int id) {
    DialogWindow* dialog = Window(window);
    auto* button = dialog == nullptr ? nullptr : dynamic_cast<QAbstractButton*>(dialog->Control(id));
    if (button != nullptr) {
        if (!button->isEnabledTo(dialog) || !button->isVisibleTo(dialog)) return false;
        button->click();
        return true;
    }
    QWidget* control = dialog == nullptr ? nullptr : dialog->Control(id);
    if (control == nullptr || !control->isEnabledTo(dialog)) return false;
    dialog->Logic().OnCommand(static_cast<uint32_t>(id));
    return true;
}

bool QtView::ChooseMenu(int itemId) {
    DialogWindow* main = Window(platform::IDD_MAIN_WINDOW);
    return main != nullptr && main->ChooseMenuItem(itemId);
}

bool QtView::ClickRowCheckBox(int listId, int row) {
    ListArea* list = List(listId);
    return list != nullptr && list->ClickCheckBox(row);
}

bool QtView::PressKey(uint32_t virtualKey) {
    platform::ViewHandler* logic = KeyLogic();
    DialogWindow* top = Top();
    if (logic == nullptr || top == nullptr) return false;
    logic->OnKeyDown(virtualKey);
    if (virtualKey == platform::VK_ESCAPE) top->Logic().OnCommand(platform::IDCANCEL);
    if (virtualKey == platform::VK_RETURN) top->Logic().OnCommand(platform::IDOK);
    return true;
}

bool QtView::IsWindowOpen(int window) { return Window(window) != nullptr; }

int QtView::TopWindow() {
    DialogWindow* top = Top();
    return top == nullptr ? 0 : top->Id();
}

bool QtView::Screenshot(const std::string& nativePath) {
    QWidget* shown = QApplication::activeModalWidget();
    if (shown == nullptr || dynamic_cast<DialogWindow*>(shown) == nullptr) shown = Top();
    return shown != nullptr && shown->grab().save(QString::fromStdString(nativePath), "PNG");
}

void QtView::CloseAll() {
    closingAll_ = true;
    // A window whose work still runs ends itself once that work is done.
    for (DialogWindow* frame : frames_)
        if (!frame->Ended() && frame->Logic().OnCloseRequest()) frame->End(platform::IDCANCEL);
}

void QtView::SetTaskbarProgress(int, platform::TaskbarProgress state, int percent) {
    OnUiThread([&] { SendLauncherProgress(state, percent); });
}

bool QtView::IsWindowInFront(int) {
    // A box or dialog of the program in front counts as the window itself.
    bool inFront = false;
    OnUiThread([&] { inFront = QApplication::activeWindow() != nullptr; });
    return inFront;
}

void QtView::FlashWindow(int window) {
    OnUiThread([&] {
        if (DialogWindow* frame = Window(window)) QApplication::alert(frame);
    });
}

void QtView::ShowDesktopNotice(int, const std::string& title, const std::string& text, bool failed) {
    OnUiThread([&] { SendDesktopNotice(FromCp932(title), FromCp932(text), failed); });
}

}  // namespace ui::qt
