// The headless front end: windows built from their resources, scripted answers, user actions
// held to what the window allows, Esc, and machine changes reaching every open window.
#include <gtest/gtest.h>

#include "support/TestWorld.h"

namespace {

// A window logic that records what the front end hands it.
class TestWindow : public platform::ViewHandler {
public:
    TestWindow(HeadlessView& frontEnd, int window) : view(frontEnd), id(window) {}
    void OnInitDialog() override {
        if (onInit) onInit();
    }
    void OnNotify(uintptr_t, intptr_t) override {}
    void OnTimer(uint32_t) override {}
    void OnCommand(uint32_t command) override {
        commands.push_back(command);
        if (command == platform::IDOK || command == platform::IDCANCEL) view.EndDialog(id, static_cast<int>(command));
    }
    void OnListItemChanged(const platform::ListItemChange& change) override { changes.push_back(change); }
    void OnInitMenu() override {
        menuInits++;
        view.EnableMenuItem(id, 32779, false);
    }
    void OnKeyDown(uint32_t key) override { keys.push_back(key); }
    void OnDeviceChange() override {
        deviceChanges++;
        if (onDeviceChange) onDeviceChange();
    }

    HeadlessView& view;
    int id;
    std::function<void()> onInit, onDeviceChange;
    std::vector<uint32_t> commands, keys;
    std::vector<platform::ListItemChange> changes;
    int menuInits = 0;
    int deviceChanges = 0;
};

// Runs actions once the window is up, then ends it.
void RunWith(HeadlessView& view, TestWindow& window, std::function<void()> actions) {
    bool done = false;
    view.SetIdleHook([&](HeadlessView&) {
        if (done) return false;
        done = true;
        actions();
        view.EndDialog(window.id, platform::IDOK);
        return true;
    });
    view.RunDialog(window.id, window);
}

}  // namespace

TEST(HeadlessFrontEnd, WindowsOpenWithTheirResourceTextsAndCaption) {
    TestWorld world;
    TestWindow info(world.view, 174);
    std::string state, caption, main;
    info.onInit = [&] {
        state = world.view.GetControlText(174, 1060);
        caption = world.view.GetControlText(174, 0);
        world.view.SetControlText(174, 1060, "接続済み");
        world.view.EndDialog(174, platform::IDOK);
    };
    world.view.RunDialog(174, info);
    EXPECT_EQ(state, "未接続");
    EXPECT_EQ(caption, "ナビゲーション接続情報");

    // A dialog opened again starts from its resource, not from its last run.
    world.view.RunDialog(174, info);
    EXPECT_EQ(state, "未接続");

    TestWindow window(world.view, platform::IDD_MAIN_WINDOW);
    window.onInit = [&] {
        main = world.view.GetControlText(platform::IDD_MAIN_WINDOW, 1014);
        world.view.EndDialog(platform::IDD_MAIN_WINDOW, platform::IDOK);
    };
    world.view.RunDialog(platform::IDD_MAIN_WINDOW, window);
    EXPECT_EQ(main, "ﾀﾞｳﾝﾛｰﾄﾞ開始  ");
}

TEST(HeadlessFrontEnd, ScriptedDialogAnswersArriveAsTheUsersClick) {
    TestWorld world;
    TestWindow exit(world.view, 209);
    world.view.AnswerNextDialog(209, platform::IDCANCEL);
    world.view.AnswerNextDialog(209, platform::IDOK);
    EXPECT_EQ(world.view.RunDialog(209, exit), platform::IDCANCEL);
    EXPECT_EQ(world.view.RunDialog(209, exit), platform::IDOK);
    EXPECT_EQ(exit.commands, (std::vector<uint32_t>{platform::IDCANCEL, platform::IDOK}));
}

TEST(HeadlessFrontEnd, UserActionsGoThroughWhatTheWindowAllows) {
    TestWorld world;
    HeadlessView& view = world.view;
    TestWindow window(view, platform::IDD_MAIN_WINDOW);
    RunWith(view, window, [&] {
        view.EnableControl(platform::IDD_MAIN_WINDOW, 1013, false);
        EXPECT_FALSE(view.Press(platform::IDD_MAIN_WINDOW, 1013));
        EXPECT_TRUE(view.Press(platform::IDD_MAIN_WINDOW, 1072));

        // The menu is brought up to date before each choice; a disabled item does nothing.
        EXPECT_FALSE(view.ChooseMenu(32779));
        EXPECT_TRUE(view.ChooseMenu(32789));
        EXPECT_FALSE(view.ChooseMenu(12345));

        view.InsertRow(1001, 0, "");
        view.InsertRow(1001, 1, "");
        EXPECT_TRUE(view.ClickRowCheckBox(1001, 1));
        EXPECT_TRUE(view.IsRowChecked(1001, 1));
        EXPECT_TRUE(view.ClickRowCheckBox(1001, 1));
        EXPECT_FALSE(view.ClickRowCheckBox(1001, 2));

        EXPECT_TRUE(view.PressKey(platform::VK_F3));
    });
    EXPECT_EQ(window.commands, (std::vector<uint32_t>{1072, 32789}));
    EXPECT_EQ(window.menuInits, 2);
    ASSERT_EQ(window.changes.size(), 2u);
    EXPECT_EQ(window.changes[0].row, 1);
    EXPECT_EQ(window.changes[0].newStateImage, platform::kStateChecked);
    EXPECT_EQ(window.changes[1].newStateImage, platform::kStateUnchecked);
    EXPECT_EQ(window.keys, (std::vector<uint32_t>{platform::VK_F3}));
}

TEST(HeadlessFrontEnd, EscReachesThePreFilterAndIsTheCancelCommand) {
    TestWorld world;
    TestWindow window(world.view, platform::IDD_MAIN_WINDOW);
    bool pressed = false;
    world.view.SetIdleHook([&](HeadlessView& view) {
        if (pressed) return false;
        pressed = view.PressKey(platform::VK_ESCAPE);
        return true;
    });
    EXPECT_EQ(world.view.RunDialog(platform::IDD_MAIN_WINDOW, window), platform::IDCANCEL);
    EXPECT_EQ(window.keys, (std::vector<uint32_t>{platform::VK_ESCAPE}));
    EXPECT_EQ(window.commands, (std::vector<uint32_t>{platform::IDCANCEL}));
}

TEST(HeadlessFrontEnd, AChangeOfTheMachineReachesEveryOpenWindow) {
    TestWorld world;
    // A machine folder without machine.ini is the real PC's, watched through udev.
    TestWorld::WriteFile(world.root + "/machine/machine.ini", "");
    platform::ChooseMachine();
    TestWindow window(world.view, platform::IDD_MAIN_WINDOW);
    TestWindow watcher(world.view, 176);
    window.onInit = [&] { ASSERT_TRUE(world.view.CreateModeless(176, platform::IDD_MAIN_WINDOW, watcher)); };
    window.onDeviceChange = [&] { world.view.EndDialog(platform::IDD_MAIN_WINDOW, platform::IDOK); };
    bool plugged = false;
    world.view.SetIdleHook([&](HeadlessView&) {
        if (plugged) return false;
        plugged = true;
        TestWorld::WriteFile(world.root + "/machine/machine.ini", "[Drive E]\nFolder=unit\n");
        return true;
    });
    EXPECT_EQ(world.view.RunDialog(platform::IDD_MAIN_WINDOW, window), platform::IDOK);
    EXPECT_EQ(window.deviceChanges, 1);
    EXPECT_EQ(watcher.deviceChanges, 1);
    EXPECT_FALSE(world.view.IsWindowOpen(176));  // it ended with its owner
}
