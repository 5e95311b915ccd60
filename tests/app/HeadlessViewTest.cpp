// The headless view as the window logic meets it: notifications from a worker arrive in order,
// timers run on the fake clock, a box asked on a worker is answered on the window's thread.
#include <gtest/gtest.h>

#include <thread>

#include "support/TestWorld.h"

namespace {

// A window that records what reaches it and ends on a command.
class Recorder : public platform::ViewHandler {
public:
    explicit Recorder(platform::View& frontEnd) : view(frontEnd) {}
    void OnInitDialog() override { inits++; }
    void OnNotify(uintptr_t wParam, intptr_t lParam) override {
        notes.push_back({wParam, lParam});
        if (wParam == 99) view.EndDialog(platform::IDD_MAIN_WINDOW, platform::IDOK);
    }
    void OnTimer(uint32_t id) override {
        ticks.push_back({id, platform::GetTickCount64()});
        if (onTimer) onTimer(id);
    }
    void OnCommand(uint32_t) override {}

    platform::View& view;
    int inits = 0;
    std::vector<std::pair<uintptr_t, intptr_t>> notes;
    std::vector<std::pair<uint32_t, uint64_t>> ticks;
    std::function<void(uint32_t)> onTimer;
};

}  // namespace

TEST(HeadlessView, NotificationsFromAWorkerReachTheWindowInOrder) {
    TestWorld world;
    Recorder window(world.view);
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) world.view.PostNotify(platform::IDD_MAIN_WINDOW, 7, i);
        world.view.PostNotify(platform::IDD_MAIN_WINDOW, 99, 0);
    });
    EXPECT_EQ(world.view.RunDialog(platform::IDD_MAIN_WINDOW, window), platform::IDOK);
    worker.join();
    EXPECT_EQ(window.inits, 1);
    ASSERT_EQ(window.notes.size(), 4u);
    EXPECT_EQ(window.notes[2], (std::pair<uintptr_t, intptr_t>{7, 2}));
}

TEST(HeadlessView, TimersRunOnTheFakeClockWithoutRealWaiting) {
    TestWorld world;
    Recorder window(world.view);
    uint64_t start = platform::GetTickCount64();
    window.onTimer = [&](uint32_t) {
        if (window.ticks.size() == 5) world.view.EndDialog(platform::IDD_MAIN_WINDOW, platform::IDOK);
    };
    world.view.SetTimer(platform::IDD_MAIN_WINDOW, 10, 1000);
    world.view.RunDialog(platform::IDD_MAIN_WINDOW, window);
    ASSERT_EQ(window.ticks.size(), 5u);
    EXPECT_EQ(window.ticks[0].second - start, 1000u);
    EXPECT_EQ(window.ticks[4].second - start, 5000u);
}

TEST(HeadlessView, ABoxFromAWorkerIsAnsweredOnTheUserInterfaceThread) {
    TestWorld world;
    Recorder window(world.view);
    world.view.AnswerNextBox(platform::IDCANCEL);
    int answer = 0;
    std::thread worker([&] {
        platform::MessageBoxRequest request;
        request.text = "削除できませんでした。";
        request.type = platform::MB_OKCANCEL;
        answer = world.view.MessageBox(request);
        world.view.PostNotify(platform::IDD_MAIN_WINDOW, 99, 0);
    });
    world.view.RunDialog(platform::IDD_MAIN_WINDOW, window);
    worker.join();
    EXPECT_EQ(answer, platform::IDCANCEL);
    ASSERT_EQ(world.view.Boxes().size(), 1u);
    EXPECT_TRUE(world.view.Boxes()[0].onUserInterfaceThread);
}

TEST(HeadlessView, ControlChangesAreRecordedInOrder) {
    TestWorld world;
    world.view.SetControlText(platform::IDD_MAIN_WINDOW, 1082, "ダウンロード中");
    world.view.EnableControl(platform::IDD_MAIN_WINDOW, 1014, false);
    world.view.SetControlText(platform::IDD_MAIN_WINDOW, 1082, "ダウンロード完了");
    auto changes = world.view.ControlChanges();
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].text, "ダウンロード中");
    EXPECT_FALSE(changes[1].enabled);
    EXPECT_EQ(world.view.ControlState(platform::IDD_MAIN_WINDOW, 1082).text, "ダウンロード完了");
    EXPECT_FALSE(world.view.IsControlEnabled(platform::IDD_MAIN_WINDOW, 1014));
}
