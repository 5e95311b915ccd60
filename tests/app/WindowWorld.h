// The main window on the headless front end and the fake clock, in a world with a simulated
// machine (navisim) and a map folder; the service is a closed loopback port unless a test
// starts one.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "NaviSim.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "platform/Clock.h"
#include "platform/Power.h"
#include "support/BindSha512.h"
#include "support/BuildFolders.h"
#include "support/TestWorld.h"

// The headless front end, also keeping the list areas' column widths, the dialogs open and the
// hidden windows that hear device changes.
class WindowView : public HeadlessView {
public:
    int RunDialog(int window, platform::ViewHandler& logic) override {
        {
            std::lock_guard guard(lock_);
            open_.push_back(window);
            opened_.push_back(window);
        }
        int result = HeadlessView::RunDialog(window, logic);
        std::lock_guard guard(lock_);
        open_.pop_back();
        return result;
    }
    // The dialog on top, 0 when none runs.
    int TopDialog() {
        std::lock_guard guard(lock_);
        return open_.empty() ? 0 : open_.back();
    }
    std::vector<int> Opened() {
        std::lock_guard guard(lock_);
        return opened_;
    }
    bool CreateModeless(int window, int owner, platform::ViewHandler& logic) override {
        if (refuseModeless) return false;
        {
            std::lock_guard guard(lock_);
            hidden_[window] = &logic;
        }
        return HeadlessView::CreateModeless(window, owner, logic);
    }
    void DestroyWindow(int window) override {
        {
            std::lock_guard guard(lock_);
            hidden_.erase(window);
        }
        HeadlessView::DestroyWindow(window);
    }
    // The broadcast a device change sends to the hidden windows.
    void DeviceChanged() {
        std::map<int, platform::ViewHandler*> hidden;
        {
            std::lock_guard guard(lock_);
            hidden = hidden_;
        }
        for (auto& [window, logic] : hidden) logic->OnDeviceChange();
    }
    void EnableMenuItem(int window, int itemId, bool enable) override {
        {
            std::lock_guard guard(lock_);
            menu_[{window, itemId}] = enable;
        }
        HeadlessView::EnableMenuItem(window, itemId, enable);
    }
    bool IsMenuItemEnabled(int window, int itemId) {
        std::lock_guard guard(lock_);
        return menu_[{window, itemId}];
    }
    // A job's thread posts its end while it still runs: note how many keep-awake requests
    // were held at each notification.
    void PostNotify(int window, uintptr_t wParam, intptr_t lParam) override {
        {
            std::lock_guard guard(lock_);
            awakeAtPost_[wParam] = platform::AwakeRequests();
        }
        HeadlessView::PostNotify(window, wParam, lParam);
    }
    // The requests held when the notification was last posted; -1 when it never was.
    int AwakeWhenPosted(uintptr_t notification) {
        std::lock_guard guard(lock_);
        auto found = awakeAtPost_.find(notification);
        return found == awakeAtPost_.end() ? -1 : found->second;
    }
    bool refuseModeless = false;
    // A list area whose columns cannot be inserted (0: none).
    int refuseColumnsOf = 0;
    int InsertColumn(int listId, int column, const std::string& title, int width) override {
        if (listId == refuseColumnsOf) return -1;
        return HeadlessView::InsertColumn(listId, column, title, width);
    }

    void SetColumnWidth(int listId, int column, int width) override {
        {
            std::lock_guard guard(lock_);
            widths_[{listId, column}] = width;
        }
        HeadlessView::SetColumnWidth(listId, column, width);
    }
    int ColumnWidth(int listId, int column) {
        std::lock_guard guard(lock_);
        return widths_[{listId, column}];
    }

private:
    std::mutex lock_;
    std::map<std::pair<int, int>, int> widths_;
    std::vector<int> open_;
    std::vector<int> opened_;
    std::map<int, platform::ViewHandler*> hidden_;
    std::map<std::pair<int, int>, bool> menu_;
    std::map<uintptr_t, int> awakeAtPost_;
};

// The session ends as Windows ends it: the window is asked, and told to end when it agreed.
inline bool EndSession(CVeltraneDlg& window) {
    const bool ends = window.OnQueryEndSession();
    if (ends) window.OnEndSession();
    return ends;
}

class WindowWorld : public ::testing::Test {
protected:
    static constexpr int kMain = platform::IDD_MAIN_WINDOW;

    void SetUp() override {
        platform::SetView(&view);
        navisim::InitMachine(world.root + "/machine", false);
        theApp.ResetState();
        theApp.ProgramFolder = world.Win(world.root + "/program") + "\\";
        theApp.MessageIniPath = world.Win(BinFolder() + "/Message.ini");
        theApp.ProductNumber = "VT-01";
        std::filesystem::create_directories(Maps());
        theApp.MapFolder = world.Win(Maps());
        theApp.HistoryIniPath = theApp.MapFolder + "\\History.ini";
        theApp.ServiceUrl = "http://127.0.0.1:9/map-dl";
        theApp.Navi.Reset();
        void* decode = dlopen((BinFolder() + "/libDecode.so").c_str(), RTLD_NOW);
        ASSERT_NE(decode, nullptr);
        theApp.pDecodeEx = reinterpret_cast<DecodeExFn>(dlsym(decode, "DecodeEx"));
        BindSha512();
        window = std::make_unique<CVeltraneDlg>();
    }
    void TearDown() override {
        window.reset();
        theApp.DownloadThreadHandle.JoinAndClose();
        theApp.TransferThreadHandle.JoinAndClose();
        theApp.DeleteThreadHandle.JoinAndClose();
        platform::SetView(&world.view);
    }

    // The unit navisim makes by default. navisim takes UTF-8, and this file's literals are CP932.
    static navisim::UnitOptions Unit() {
        navisim::UnitOptions options;
        options.versionName = reinterpret_cast<const char*>(u8"2010年春版");
        options.label = reinterpret_cast<const char*>(u8"リムーバブル ディスク");
        return options;
    }
    std::string Maps() const { return world.root + "/maps"; }
    std::string History() const { return Maps() + "/History.ini"; }

    // Runs the window. Each step runs when the window has nothing left to do; a step that
    // returns false is waiting, and time moves on by 10 ms. After the last step the user
    // closes the window; after `patienceMs` of the clock (ten minutes) the test gives up.
    // With closesItself the window is to close by itself while the last step waits.
    void Run(std::vector<std::function<bool()>> steps, bool closesItself = false, uint64_t patienceMs = 600000) {
        size_t next = 0;
        uint64_t giveUpAt = platform::GetTickCount64() + patienceMs;
        view.SetIdleHook([&](HeadlessView& v) {
            if (int top = view.TopDialog(); top != kMain && top != 0) {
                // The user answers a dialog with the next answer given, else OK.
                int answer = platform::IDOK;
                if (!dialogAnswers.empty()) {
                    answer = dialogAnswers.front();
                    dialogAnswers.erase(dialogAnswers.begin());
                }
                v.EndDialog(top, answer);
                return true;
            }
            if (next == steps.size() || platform::GetTickCount64() > giveUpAt || HasFatalFailure()) {
                v.EndDialog(kMain, platform::IDOK);
                return true;
            }
            if (steps[next]()) {
                ++next;
            } else {
                // Workers run in real time: give them a moment for every 10 ms of the clock.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                world.clock.Advance(10);
            }
            return true;
        });
        view.RunDialog(kMain, *window);
        view.SetIdleHook(nullptr);
        if (closesItself)
            EXPECT_TRUE(next + 1 == steps.size() && platform::GetTickCount64() <= giveUpAt) << "the window stayed open";
        else
            EXPECT_EQ(next, steps.size()) << "the window closed before every step ran";
    }
    // A step that waits until the condition holds.
    static std::function<bool()> Until(std::function<bool()> condition) { return condition; }
    // A step that acts once.
    static std::function<bool()> Do(std::function<void()> action) {
        return [action] {
            action();
            return true;
        };
    }

    std::string Text(int id) { return view.ControlState(kMain, id).text; }
    bool Enabled(int id) { return view.ControlState(kMain, id).enabled; }
    void Notify(uintptr_t code, intptr_t lParam = 0) { view.PostNotify(kMain, code, lParam); }

    TestWorld world;
    WindowView view;
    std::vector<int> dialogAnswers;
    std::unique_ptr<CVeltraneDlg> window;  // made once the front end is in place
};
