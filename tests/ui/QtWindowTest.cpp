// The Qt front end on a real display: legible controls of every window, boxes asked on a worker,
// device changes and removal requests, user actions, and a script replayed on the real windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <thread>

#include "NaviSim.h"
#include "platform/RawVolume.h"
#include "platform/sim/Removal.h"
#include "state/ResourceIds.h"
#include "support/BuildFolders.h"
#include "support/TestWorld.h"
#include "ui/DialogResources.h"
#include "ui/qt/Fonts.h"
#include "ui/qt/QtText.h"
#include "ui/qt/QtView.h"
#include "ui/script/ScriptDriver.h"

// Under LeakSanitizer: fontconfig keeps caches for the life of the process and never frees
// them; that is the system library's, not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using platform::IDD_MAIN_WINDOW;
using ui::qt::FromCp932;

QApplication& Application() {
    static int argc = 1;
    static char name[] = "ui_gui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        auto* created = new QApplication(argc, argv);
        ui::qt::InstallJapaneseFontFallback();
        return created;
    }();
    return *application;
}

std::string Cp(const char* utf8) { return *platform::Utf8ToCp932(utf8); }

class Window : public platform::ViewHandler {
public:
    Window(ui::qt::QtView& frontEnd, int window) : view(frontEnd), id(window) {}
    void OnInitDialog() override { onInit(); }
    void OnNotify(uintptr_t wParam, intptr_t lParam) override {
        if (onNotify) onNotify(wParam, lParam);
    }
    void OnTimer(uint32_t timer) override { onTimer(timer); }
    void OnCommand(uint32_t command) override {
        commands.push_back(command);
        if (id != IDD_MAIN_WINDOW && (command == platform::IDOK || command == platform::IDCANCEL))
            view.EndDialog(id, static_cast<int>(command));
    }
    void OnKeyDown(uint32_t key) override { keys.push_back(key); }
    void OnDeviceChange() override {
        deviceChanges++;
        if (onDeviceChange) onDeviceChange();
    }
    bool OnQueryRemoveVolume(platform::HANDLE) override { return onQueryRemove ? onQueryRemove() : true; }
    void OnVolumeRemoved(platform::HANDLE) override { ++removedEvents; }
    int removedEvents = 0;
    int deviceChanges = 0;
    std::function<void()> onDeviceChange;
    std::function<bool()> onQueryRemove;
    void OnListItemChanged(const platform::ListItemChange& change) override { changes.push_back(change); }
    void OnInitMenu() override { view.EnableMenuItem(id, 32779, false); }

    ui::qt::QtView& view;
    int id;
    std::function<void()> onInit;
    std::function<void(uint32_t)> onTimer;
    std::function<void(uintptr_t, intptr_t)> onNotify;
    std::vector<uint32_t> commands, keys;
    std::vector<platform::ListItemChange> changes;
};

void PressKey(QWidget* window, Qt::Key key) {
    QWidget* receiver = QApplication::focusWidget() ? QApplication::focusWidget() : window;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(receiver, &press);
}

void FillList(ui::qt::QtView& view, int list, std::vector<std::vector<const char*>> rows) {
    const char* titles[] = {"", "地図バージョン", "ステータス", "サイズ"};
    const int widths[] = {22, 240, 120, 87};
    for (int column = 0; column < 4; ++column) view.InsertColumn(list, column, Cp(titles[column]), widths[column]);
    for (size_t row = 0; row < rows.size(); ++row) {
        view.InsertRow(list, static_cast<int>(row), "");
        for (int column = 1; column < 4; ++column)
            view.SetCellText(list, static_cast<int>(row), column, Cp(rows[row][column - 1]));
    }
}

// Pixels dark enough to be text in a control's part of the window picture.
int DarkPixels(const QImage& picture, QWidget* window, QWidget* control) {
    QRect area(control->mapTo(window, QPoint(0, 0)), control->size());
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(picture.pixel(x, y)) < 110) ++dark;
    return dark;
}

}  // namespace

TEST(QtWindow, TheMainWindowShowsEveryControlOfItsResourceInLegibleJapanese) {
    Application();
    TestWorld world;
    ui::qt::QtView view;
    Window main(view, IDD_MAIN_WINDOW);
    std::vector<std::string> problems;
    int statusDark = 0, listDark = 0;
    QString statusFont, caption;
    QString screenshot = QString::fromStdString(ScreenshotFolder() + "/main-window.png");

    main.onInit = [&] {
        ui::qt::DialogWindow* window = view.Window(IDD_MAIN_WINDOW);
        for (const ui::ControlResource& control : ui::FindDialogResource(IDD_MAIN_WINDOW)->controls) {
            auto* widget = window->findChild<QWidget*>(QString::number(control.id));
            std::string id = std::to_string(control.id);
            if (widget == nullptr) {
                problems.push_back(id + " missing");
                continue;
            }
            if (widget->geometry() != QRect(control.rect.x, control.rect.y, control.rect.width, control.rect.height))
                problems.push_back(id + " misplaced");
            QString shown = dynamic_cast<QAbstractButton*>(widget) ? static_cast<QAbstractButton*>(widget)->text()
                            : dynamic_cast<QLabel*>(widget)        ? static_cast<QLabel*>(widget)->text()
                                                                   : QString();
            if (shown != FromCp932(control.text)) problems.push_back(id + " shows " + shown.toStdString());
            if (view.GetControlText(IDD_MAIN_WINDOW, control.id) != control.text)
                problems.push_back(id + " answers another text");
        }
        caption = window->windowTitle();
        FillList(view, 1055, {{"2026年春版", "ダウンロード可", "4.2GB"}});
        FillList(view, 1001, {{"2025年秋版", "ダウンロード完了", "4.1GB"}, {"2026年春版", "35%完了", "1.5GB"}});
        FillList(view, 1071, {{"2025年春版", "", ""}});
        view.SetRowChecked(1001, 0, true);
        view.SetControlText(IDD_MAIN_WINDOW, 1015, Cp("ドライブ C"));
        view.SetControlText(IDD_MAIN_WINDOW, 1011, Cp("空き容量：123.4GB"));
        view.SetControlText(IDD_MAIN_WINDOW, 1025, Cp("ダウンロード : 1時間1分"));
        view.SetControlText(IDD_MAIN_WINDOW, 1028, Cp("接続済み"));
        view.SetControlText(
            IDD_MAIN_WINDOW, 1082,
            Cp("ナビゲーションとパソコンの接続が確認されました。\r\nナビゲーションへバージョンアップ(地図更新)データの"
               "転送を開始するには、データを選択してから「転送開始」ボタンをクリックしてください。"));
        view.SetControlIcon(IDD_MAIN_WINDOW, 1014, ids::kIconPause);
        view.SetControlIcon(IDD_MAIN_WINDOW, 1013, ids::kIconStartEnabled);
        view.SetControlIcon(IDD_MAIN_WINDOW, 1027, ids::kBusyFrames[1]);
        view.SetTimer(IDD_MAIN_WINDOW, 1, 50);
    };
    main.onTimer = [&](uint32_t) {
        view.KillTimer(IDD_MAIN_WINDOW, 1);
        ui::qt::DialogWindow* window = view.Window(IDD_MAIN_WINDOW);
        QDir().mkpath(QString::fromStdString(ScreenshotFolder()));
        EXPECT_TRUE(view.Screenshot(screenshot.toStdString()));
        QImage picture(screenshot);  // the saved file itself
        statusDark = DarkPixels(picture, window, window->Control(1082));
        listDark = DarkPixels(picture, window, window->Control(1001));
        statusFont = QFontInfo(window->Control(1082)->font()).family();
        view.EndDialog(IDD_MAIN_WINDOW, platform::IDOK);
    };
    EXPECT_EQ(view.RunDialog(IDD_MAIN_WINDOW, main), platform::IDOK);

    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(caption, "Veltrane");
    EXPECT_TRUE(QFile::exists(screenshot));
    EXPECT_TRUE(statusFont.startsWith("IPA")) << statusFont.toStdString();
    // Two lines of navy text on the pale status line, and the rows of the PC area.
    EXPECT_GT(statusDark, 400);
    EXPECT_GT(listDark, 300);
}

TEST(QtWindow, ABoxAskedOnAWorkerRunsOnTheUserInterfaceThreadWhileTimersGoOn) {
    Application();
    TestWorld world;
    ui::qt::QtView view;
    Window exit(view, 209);
    std::thread worker;
    int ticks = 0, ticksWhileOpen = -1;
    intptr_t answer = 0;
    QString title;
    QStringList buttons;
    QTimer poll;
    poll.callOnTimeout([&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        if (ticksWhileOpen < 0) ticksWhileOpen = ticks;
        if (ticks - ticksWhileOpen < 3) return;  // leave it open for a few window timer ticks
        ticksWhileOpen = ticks - ticksWhileOpen;
        title = box->windowTitle();
        for (QAbstractButton* button : box->buttons()) buttons << button->text();
        for (QAbstractButton* button : box->buttons())
            if (box->buttonRole(button) == QMessageBox::RejectRole) button->click();
        poll.stop();
    });
    exit.onInit = [&] {
        view.SetTimer(209, 5, 20);
        poll.start(5);
        worker = std::thread([&] {
            int result = view.MessageBox({Cp("中断してよろしいですか？"), Cp("ダウンロード中断の確認"),
                                          platform::MB_OKCANCEL | platform::MB_ICONINFORMATION, true, true});
            view.PostNotify(209, 99, result);
        });
    };
    exit.onTimer = [&](uint32_t) { ticks++; };
    exit.onNotify = [&](uintptr_t, intptr_t lParam) {
        answer = lParam;
        view.EndDialog(209, platform::IDOK);
    };
    view.RunDialog(209, exit);
    worker.join();
    EXPECT_EQ(answer, platform::IDCANCEL);
    EXPECT_EQ(title, QString::fromUtf8("ダウンロード中断の確認"));
    EXPECT_EQ(buttons, (QStringList{"OK", "Cancel"}));
    EXPECT_GE(ticksWhileOpen, 3);
}

TEST(QtWindow, AChangeOfTheMachineReachesTheDialogAndTheHiddenWatcher) {
    Application();
    TestWorld world;
    // A machine folder without machine.ini is the real PC's, watched through udev.
    TestWorld::WriteFile(world.root + "/machine/machine.ini", "");
    platform::ChooseMachine();
    ui::qt::QtView view;
    Window info(view, 174), watcher(view, 176);
    watcher.onInit = [] {};
    info.onInit = [&] {
        EXPECT_TRUE(view.CreateModeless(176, 174, watcher));
        TestWorld::WriteFile(world.root + "/machine/machine.ini", "[Drive E]\nFolder=unit\n");
    };
    bool watcherShown = true;
    info.onDeviceChange = [&] {
        watcherShown = view.Window(176)->isVisible();
        view.EndDialog(174, platform::IDOK);
    };
    EXPECT_EQ(view.RunDialog(174, info), platform::IDOK);
    EXPECT_EQ(info.deviceChanges, 1);
    EXPECT_EQ(watcher.deviceChanges, 1);
    EXPECT_FALSE(watcherShown);
    EXPECT_FALSE(view.IsWindowOpen(176));  // it ended with its owner
}

// The user's removal of a unit (navisim eject) reaches the window watching the volume's handle
// before the window hears of the device change; the window's answer decides it.
TEST(QtWindow, ARemovalRequestAsksTheWindowWatchingTheVolume) {
    Application();
    TestWorld world;
    navisim::InitMachine(world.root + "/machine", false);
    navisim::CreateUnit({});
    platform::HANDLE volume = platform::CreateFileA("\\\\.\\E:", platform::GENERIC_READ,
                                                    platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE, nullptr,
                                                    platform::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(volume, platform::INVALID_HANDLE_VALUE);
    ui::qt::QtView view;
    Window info(view, 174);
    int asked = 0;
    info.onInit = [&] {
        ASSERT_TRUE(view.WatchVolumeRemoval(174, volume));
        EXPECT_EQ(platform::RequestRemoval("navi"), std::nullopt);
    };
    info.onQueryRemove = [&] {
        ++asked;
        EXPECT_EQ(info.deviceChanges, 0);
        EXPECT_TRUE(platform::CloseHandle(volume));  // the watch outlives the handle
        return true;
    };
    info.onDeviceChange = [&] { view.EndDialog(174, platform::IDOK); };
    EXPECT_EQ(view.RunDialog(174, info), platform::IDOK);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(info.removedEvents, 1);
    view.StopWatchingVolumeRemoval(volume);
    EXPECT_EQ(platform::RemovalAnswer("navi"), "removed");
}

TEST(QtWindow, TheFiveDialogsShowTheirTitlesAndTexts) {
    Application();
    TestWorld world;
    ui::qt::QtView view;
    for (int id : {146, 174, 175, 209, 210}) {
        Window dialog(view, id);
        const ui::DialogResource& resource = *ui::FindDialogResource(id);
        std::vector<std::string> problems;
        dialog.onInit = [&] {
            for (const ui::ControlResource& control : resource.controls)
                if (control.id != ui::kNoId && view.Window(id)->Control(control.id) == nullptr)
                    problems.push_back(std::to_string(control.id) + " missing");
            if (id == 146) {  // its logic fills it: here with the transfer texts
                view.SetCaption(146, Cp("転送開始の確認"));
                view.SetControlText(146, 1019,
                                    Cp("バージョンアップ(地図更新)データの転送を開始する前に次の確認をお願いします。"));
                view.SetControlText(146, 1020,
                                    Cp("● "
                                       "バージョンアップデータの転送が完了するまではナビゲーションとパソコンを接続して"
                                       "いるUSBケーブルを外さないでください。"));
                view.SetControlText(
                    146, 1021, Cp("● ナビゲーションが電源（ACアダプター）に接続されていることを確認してください。"));
                view.SetControlText(146, 1022,
                                    Cp("● ナビゲーションがパソコンと接続済みになっていることを確認してください。"));
                view.SetControlText(
                    146, 1024, Cp("バージョンアップ(地図更新)【2026年春版】データの転送を開始してよろしいですか？"));
            }
            view.SetTimer(id, 1, 20);
        };
        dialog.onTimer = [&](uint32_t) {
            view.KillTimer(id, 1);
            // Every text fits its static, wrapped where it must be.
            for (QLabel* label : view.Window(id)->findChildren<QLabel*>())
                if (!label->text().isEmpty() && label->heightForWidth(label->width()) > label->height())
                    problems.push_back(label->text().toStdString() + " does not fit");
            view.Screenshot(ScreenshotFolder() + "/dialog-" + std::to_string(id) + ".png");
            view.EndDialog(id, platform::IDOK);
        };
        QDir().mkpath(QString::fromStdString(ScreenshotFolder()));
        view.RunDialog(id, dialog);
        EXPECT_TRUE(problems.empty()) << id << ": " << problems.front();
        EXPECT_EQ(view.Window(id), nullptr);
    }
}

TEST(QtWindow, AScriptedDialogAnswerIsAClickOnThatButton) {
    Application();
    TestWorld world;
    ui::qt::QtView view;
    Window exit(view, 209);
    exit.onInit = [] {};
    view.AnswerNextDialog(209, platform::IDCANCEL);
    EXPECT_EQ(view.RunDialog(209, exit), platform::IDCANCEL);
    EXPECT_EQ(exit.commands, (std::vector<uint32_t>{platform::IDCANCEL}));
}

TEST(QtWindow, CheckBoxesMenusAndKeysReachTheLogicAsTheUserUsesThem) {
    Application();
    TestWorld world;
    ui::qt::QtView view;
    Window main(view, IDD_MAIN_WINDOW);
    bool disabledItemChosen = true, enabledItemChosen = false;
    main.onInit = [&] {
        FillList(view, 1001, {{"a", "", ""}, {"b", "", ""}});
        view.SetTimer(IDD_MAIN_WINDOW, 1, 10);
    };
    main.onTimer = [&](uint32_t) {
        view.KillTimer(IDD_MAIN_WINDOW, 1);
        EXPECT_TRUE(view.ClickRowCheckBox(1001, 1));
        view.SetRowChecked(1001, 1, false);  // the window's own change is no notification
        EXPECT_FALSE(view.IsRowChecked(1001, 1));
        view.Window(IDD_MAIN_WINDOW)->List(1001)->setCurrentCell(0, 1);
        disabledItemChosen = view.ChooseMenu(32779);
        enabledItemChosen = view.ChooseMenu(32789);
        // The pre-filter sees a key once, however far it travels; Esc is the cancel command.
        PressKey(view.Window(IDD_MAIN_WINDOW), Qt::Key_F3);
        PressKey(view.Window(IDD_MAIN_WINDOW), Qt::Key_Escape);
        view.EndDialog(IDD_MAIN_WINDOW, platform::IDOK);
    };
    view.RunDialog(IDD_MAIN_WINDOW, main);
    ASSERT_EQ(main.changes.size(), 2u);
    EXPECT_EQ(main.changes[0].row, 1);
    EXPECT_EQ(main.changes[0].newStateImage, platform::kStateChecked);
    EXPECT_EQ(main.changes[1].row, 0);
    EXPECT_EQ(main.changes[1].newStateImage, 0u);
    EXPECT_FALSE(disabledItemChosen);
    EXPECT_TRUE(enabledItemChosen);
    EXPECT_EQ(main.commands, (std::vector<uint32_t>{32789, platform::IDCANCEL}));
    EXPECT_EQ(main.keys, (std::vector<uint32_t>{platform::VK_F3, platform::VK_ESCAPE}));
}

namespace {

// The session of the headless script test, on the real windows: a unit shows up after a
// moment, the download button asks whether to pause, Esc asks the exit dialog.
class SessionWindow : public platform::ViewHandler {
public:
    explicit SessionWindow(platform::View& frontEnd) : view(frontEnd) {}
    void OnInitDialog() override { view.SetTimer(IDD_MAIN_WINDOW, 21, 50); }
    void OnNotify(uintptr_t, intptr_t) override {}
    void OnTimer(uint32_t) override {
        view.KillTimer(IDD_MAIN_WINDOW, 21);
        view.SetControlText(IDD_MAIN_WINDOW, 1028, Cp("接続済み"));
    }
    void OnCommand(uint32_t id) override {
        if (id == 1014) {
            int answer = view.MessageBox({Cp("中断してよろしいですか？"), Cp("ダウンロード中断の確認"),
                                          platform::MB_OKCANCEL | platform::MB_ICONINFORMATION, true, true});
            view.SetControlText(IDD_MAIN_WINDOW, 1082, Cp(answer == platform::IDOK ? "中断" : "続行"));
        }
        if (id == platform::IDCANCEL && view.RunDialog(209, exit) == platform::IDOK)
            view.EndDialog(IDD_MAIN_WINDOW, platform::IDOK);
    }

private:
    struct ExitDialog : platform::ViewHandler {
        explicit ExitDialog(platform::View& frontEnd) : view(frontEnd) {}
        void OnNotify(uintptr_t, intptr_t) override {}
        void OnTimer(uint32_t) override {}
        void OnCommand(uint32_t id) override { view.EndDialog(209, static_cast<int>(id)); }
        platform::View& view;
    };
    platform::View& view;
    ExitDialog exit{view};
};

}  // namespace

TEST(QtWindow, AScriptReplaysTheSameSessionOnTheRealWindows) {
    Application();
    TestWorld world;
    platform::SetClock(nullptr);  // Qt's timers run in real time; so do the script's waits here
    ui::qt::QtView view;
    SessionWindow window(view);
    ui::ParsedScript script = ui::ParseScript(
        "wait 1028 \"接続済み\" 5000\n"
        "box Cancel box.png\n"
        "press 1014\n"
        "wait 1082 \"続行\" 1000\n"
        "screenshot session.png\n"
        "dialog 209 OK\n"
        "key Esc\n");
    ASSERT_TRUE(script.errors.empty());
    QDir().mkpath(QString::fromStdString(ScreenshotFolder()));
    ui::ScriptDriver driver(view, script.commands, "", ScreenshotFolder());
    driver.Start();
    EXPECT_EQ(view.RunDialog(IDD_MAIN_WINDOW, window), platform::IDOK);
    EXPECT_TRUE(driver.Finished());
    EXPECT_FALSE(driver.Failed());
    auto has = [&](const std::string& text) {
        for (const std::string& line : driver.Transcript())
            if (line.find(text) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(has("box \"ダウンロード中断の確認\" (information) 中断してよろしいですか？ -> Cancel"));
    EXPECT_TRUE(has("status: 続行"));
    EXPECT_TRUE(has("screenshot saved: " + ScreenshotFolder() + "/session.png"));
    QImage box(QString::fromStdString(ScreenshotFolder() + "/box.png"));
    EXPECT_FALSE(box.isNull());
    EXPECT_LT(box.width(), 640);  // the box itself, not the window behind it
    EXPECT_TRUE(has("dialog 209 \"ヴェルトレーン終了確認\" opened"));
}

namespace {

// A session bus of the test's own, with a stand-in notification server on it and a monitor that
// keeps every launcher-entry signal; the front end's session bus is this one.
class TestSessionBus {
public:
    TestSessionBus() : folder_(QDir::tempPath().toStdString() + "/veltrane-session-" + std::to_string(::getpid())) {
        QDir().mkpath(QString::fromStdString(folder_));
        address_ = "unix:path=" + folder_ + "/bus";
        pid_ = std::atoi(
            Output("dbus-daemon --session --address=" + address_ + " --nopidfile --fork --print-pid").c_str());
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
        monitor_ = std::atoi(Output("sh -c 'dbus-monitor --address " + address_ +
                                    " \"type=signal,interface=com.canonical.Unity.LauncherEntry\" > " + folder_ +
                                    "/signals 2>&1 & echo $!'")
                                 .c_str());
    }
    ~TestSessionBus() {
        if (monitor_ > 0) ::kill(monitor_, SIGTERM);
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        QDir(QString::fromStdString(folder_)).removeRecursively();
    }
    bool Running() const { return pid_ > 0; }
    const std::string& Address() const { return address_; }
    std::string Signals() const { return TestWorld::ReadFile(folder_ + "/signals"); }

private:
    static std::string Output(const std::string& command) {
        std::string out;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[256];
            while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
            ::pclose(pipe);
        }
        return out;
    }
    std::string folder_;
    std::string address_;
    int pid_ = 0;
    int monitor_ = 0;
};

// The desktop's notification server: keeps each Notify call and answers it with an id.
class StandInNotifications : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != "Notify") return false;
        calls.push_back(message.arguments());
        connection.send(message.createReply(QVariantList{QVariant::fromValue(7u)}));
        return true;
    }
    std::vector<QVariantList> calls;
};

}  // namespace

// Linux's nearest kin of the taskbar progress and the notice: the launcher entry's signal and
// the notification server, over the session bus; the server answers the call.
TEST(QtWindow, ProgressAndNoticesGoOverTheSessionBusAndAreAnswered) {
    Application();
    TestSessionBus bus;
    if (!bus.Running()) GTEST_SKIP() << "dbus-daemon could not start a session bus here";
    QDBusConnection server = QDBusConnection::connectToBus(QString::fromStdString(bus.Address()), "stand-in");
    StandInNotifications notifications;
    ASSERT_TRUE(server.registerVirtualObject("/org/freedesktop/Notifications", &notifications));
    ASSERT_TRUE(server.registerService("org.freedesktop.Notifications"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the monitor is listening

    TestWorld world;
    ui::qt::QtView view;
    Window main(view, IDD_MAIN_WINDOW);
    main.onInit = [&] { view.SetTimer(IDD_MAIN_WINDOW, 1, 10); };
    main.onTimer = [&](uint32_t) {
        view.KillTimer(IDD_MAIN_WINDOW, 1);
        view.SetTaskbarProgress(IDD_MAIN_WINDOW, platform::TaskbarProgress::Normal, 40);
        view.FlashWindow(IDD_MAIN_WINDOW);
        view.ShowDesktopNotice(IDD_MAIN_WINDOW, Cp("ヴェルトレーン"), Cp("地図の転送に失敗しました。"), true);
        // The server's answer arrives on its own connection while the window's loop runs.
        QTimer::singleShot(500, [&] { view.EndDialog(IDD_MAIN_WINDOW, platform::IDOK); });
    };
    view.RunDialog(IDD_MAIN_WINDOW, main);
    for (int i = 0; i < 50 && notifications.calls.empty(); ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(notifications.calls.size(), 1u);
    const QVariantList& call = notifications.calls[0];
    ASSERT_EQ(call.size(), 8);
    EXPECT_EQ(call[3].toString(), QString::fromUtf8("ヴェルトレーン"));
    EXPECT_EQ(call[4].toString(), QString::fromUtf8("地図の転送に失敗しました。"));
    std::string seen;
    for (int i = 0; i < 50 && seen.find("double 0.4") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        seen = bus.Signals();
    }
    EXPECT_NE(seen.find("member=Update"), std::string::npos) << seen;
    EXPECT_NE(seen.find("string \"application://veltrane.desktop\""), std::string::npos) << seen;
    EXPECT_NE(seen.find("double 0.4"), std::string::npos) << seen;
    server.unregisterService("org.freedesktop.Notifications");
    QDBusConnection::disconnectFromBus("stand-in");
}

// The help menu offers the support report; the picture of the window with the menu open goes
// with the screenshots (docs/images/qt-help-menu.png is one).
TEST(QtWindow, TheHelpMenuOffersTheSupportReport) {
    Application();
    TestWorld world;
    ui::qt::QtView view;
    Window main(view, IDD_MAIN_WINDOW);
    QStringList items;
    main.onInit = [&] { view.SetTimer(IDD_MAIN_WINDOW, 1, 10); };
    main.onTimer = [&](uint32_t) {
        view.KillTimer(IDD_MAIN_WINDOW, 1);
        ui::qt::DialogWindow* window = view.Window(IDD_MAIN_WINDOW);
        auto* bar = window->findChild<QMenuBar*>();
        QMenu* help = nullptr;
        for (QAction* action : bar->actions())
            if (action->text() == QString::fromUtf8("ヘルプ(&H)")) help = action->menu();
        if (help != nullptr) {
            QRect title = bar->actionGeometry(help->menuAction());
            help->popup(bar->mapToGlobal(title.bottomLeft()));
            for (QAction* action : help->actions()) items << action->text();
            QPixmap picture = window->grab();
            QPainter painter(&picture);
            painter.drawPixmap(window->mapFromGlobal(help->mapToGlobal(QPoint(0, 0))), help->grab());
            painter.end();
            QDir().mkpath(QString::fromStdString(ScreenshotFolder()));
            picture.save(QString::fromStdString(ScreenshotFolder() + "/help-menu.png"));
            help->close();
        }
        view.EndDialog(IDD_MAIN_WINDOW, platform::IDOK);
    };
    view.RunDialog(IDD_MAIN_WINDOW, main);
    EXPECT_TRUE(items.contains(QString::fromUtf8("サポート情報の保存(&S)"))) << items.join("|").toStdString();
}
