// The automation script on a small window: lines that are not understood, proxy answers, a
// session replayed and transcribed, waits, pauses, and the time a job's line reports.
#include <gtest/gtest.h>

#include "state/VeltraneApp.h"
#include "platform/Clock.h"
#include "support/TestWorld.h"
#include "ui/script/Script.h"
#include "ui/script/ScriptDriver.h"

namespace {

using platform::IDD_MAIN_WINDOW;

// A small main window: a unit is "found" 2 s after the start; the download button asks
// whether to pause; Esc asks the exit dialog and ends on its OK.
class SessionWindow : public platform::ViewHandler {
public:
    explicit SessionWindow(HeadlessView& frontEnd) : view(frontEnd) {}
    void OnInitDialog() override {
        view.SetTimer(IDD_MAIN_WINDOW, 21, 2000);
        if (onInit) onInit();
    }
    void OnNotify(uintptr_t, intptr_t) override {}
    void OnTimer(uint32_t id) override {
        if (id != 21) return;
        view.KillTimer(IDD_MAIN_WINDOW, 21);
        view.SetControlText(IDD_MAIN_WINDOW, 1028, "接続済み");
        view.SetControlText(IDD_MAIN_WINDOW, 1082, "ナビゲーションと接続を確認しました。");
    }
    void OnCommand(uint32_t id) override {
        if (id == 1014) {
            int answer = view.MessageBox({"中断してよろしいですか？\n再開できます。", "ダウンロード中断の確認",
                                          platform::MB_OKCANCEL | platform::MB_ICONINFORMATION});
            view.SetControlText(IDD_MAIN_WINDOW, 1082, answer == platform::IDOK ? "中断" : "続行");
        }
        if (id == 1013 && onTransfer) onTransfer();
        if (id == platform::IDCANCEL) {
            ExitDialog exit(view);
            if (view.RunDialog(209, exit) == platform::IDOK) view.EndDialog(IDD_MAIN_WINDOW, platform::IDOK);
        }
    }

private:
    struct ExitDialog : platform::ViewHandler {
        explicit ExitDialog(HeadlessView& frontEnd) : view(frontEnd) {}
        void OnNotify(uintptr_t, intptr_t) override {}
        void OnTimer(uint32_t) override {}
        void OnCommand(uint32_t id) override { view.EndDialog(209, static_cast<int>(id)); }
        HeadlessView& view;
    };
    HeadlessView& view;

public:
    std::function<void()> onInit;
    std::function<void()> onTransfer;
};

std::string Utf8(const std::string& cp932) { return *platform::Cp932ToUtf8(cp932); }

// The tests' literals are CP932; script files are UTF-8.
ui::ParsedScript Parse(const std::string& cp932) { return ui::ParseScript(Utf8(cp932)); }

bool Has(const std::vector<std::string>& lines, const std::string& utf8) {
    for (const std::string& line : lines)
        if (line.find(utf8) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(Script, EveryLineThatIsNotUnderstoodIsReportedWithItsNumber) {
    ui::ParsedScript script = Parse(
        "# a comment\n"
        "press 1014\n"
        "press\n"
        "wait 174:1060 \"接続済み\" 5000\r\n"
        "box Maybe\n"
        "key F4\n"
        "\n"
        "dialog 209 OK\n"
        "wait 1082 \"unclosed\n"
        "screenshot ../out.png\n");
    ASSERT_EQ(script.commands.size(), 3u);
    EXPECT_EQ(script.commands[1].window, 174);
    EXPECT_EQ(script.commands[1].id, 1060);
    EXPECT_EQ(script.commands[1].text, "接続済み");  // CP932, as the window shows it
    EXPECT_EQ(script.commands[1].timeout, 5000u);
    EXPECT_EQ(script.commands[2].line, 8);
    ASSERT_EQ(script.errors.size(), 5u);
    EXPECT_EQ(script.errors[0].rfind("line 3:", 0), 0u);
    EXPECT_EQ(script.errors[1].rfind("line 5:", 0), 0u);
    EXPECT_EQ(script.errors[2].rfind("line 6:", 0), 0u);
    EXPECT_EQ(script.errors[3].rfind("line 9:", 0), 0u);
    EXPECT_EQ(script.errors[4].rfind("line 10:", 0), 0u);
}

TEST(Script, AProxyAnswerTakesAUserAndAPasswordOrCancel) {
    ui::ParsedScript script = Parse("proxy navi \"s3 cret\"\nproxy cancel\nproxy navi\nproxy \"\" x\n");
    ASSERT_EQ(script.commands.size(), 2u);
    EXPECT_EQ(script.commands[0].kind, ui::ScriptCommand::Kind::Proxy);
    EXPECT_EQ(script.commands[0].text, "navi");
    EXPECT_EQ(script.commands[0].password, "s3 cret");
    EXPECT_EQ(script.commands[1].kind, ui::ScriptCommand::Kind::Proxy);
    EXPECT_EQ(script.commands[1].text, "");
    ASSERT_EQ(script.errors.size(), 2u);
    EXPECT_EQ(script.errors[0].rfind("line 3:", 0), 0u);
    EXPECT_EQ(script.errors[1].rfind("line 4:", 0), 0u);
}

TEST(Script, ASessionIsReplayedAndTranscribed) {
    TestWorld world;
    SessionWindow window(world.view);
    ui::ParsedScript script = Parse(
        "wait 1028 \"接続済み\" 5000\n"
        "box Cancel\n"
        "press 1014\n"
        "wait 1082 \"続行\" 100\n"
        "screenshot main.png\n"
        "dialog 209 OK\n"
        "key Esc\n");
    ASSERT_TRUE(script.errors.empty());
    std::string transcriptPath = world.root + "/transcript.txt";
    ui::ScriptDriver driver(world.view, script.commands, transcriptPath, world.root);
    driver.Start();
    EXPECT_EQ(world.view.RunDialog(IDD_MAIN_WINDOW, window), platform::IDOK);

    EXPECT_TRUE(driver.Finished());
    EXPECT_FALSE(driver.Failed());
    std::vector<std::string> lines = driver.Transcript();
    EXPECT_TRUE(Has(lines, Utf8("wait 1028 \"接続済み\" 5000: done after 2000 ms")));
    EXPECT_TRUE(Has(lines, Utf8("status: ナビゲーションと接続を確認しました。")));
    EXPECT_TRUE(
        Has(lines,
            Utf8("box \"ダウンロード中断の確認\" (information) 中断してよろしいですか？\\n再開できます。 -> Cancel")));
    EXPECT_TRUE(Has(lines, Utf8("status: 続行")));
    EXPECT_TRUE(Has(lines, "screenshot not taken"));
    EXPECT_TRUE(Has(lines, Utf8("dialog 209 \"ヴェルトレーン終了確認\" opened")));
    EXPECT_TRUE(Has(lines, "end of script"));
    EXPECT_EQ(world.view.StatusTexts(), (std::vector<std::string>{"ナビゲーションと接続を確認しました。", "続行"}));
    ASSERT_EQ(world.view.Boxes().size(), 1u);
    EXPECT_EQ(world.view.Boxes()[0].answer, platform::IDCANCEL);
    // The file holds the same lines, as they happened.
    std::string file = TestWorld::ReadFile(transcriptPath);
    for (const std::string& line : lines) EXPECT_NE(file.find(line + "\n"), std::string::npos) << line;
}

TEST(Script, AWaitThatTimesOutFailsTheScriptAndClosesTheWindow) {
    TestWorld world;
    SessionWindow window(world.view);
    ui::ParsedScript script = Parse("wait 1028 \"接続済み\" 1500\npress 1014\n");
    ui::ScriptDriver driver(world.view, script.commands, "", world.root);
    driver.Start();
    uint64_t start = platform::GetTickCount64();
    EXPECT_EQ(world.view.RunDialog(IDD_MAIN_WINDOW, window), platform::IDCANCEL);
    EXPECT_TRUE(driver.Failed());
    // The text would come with the timer at 2 s: the line fails at its deadline, before it.
    EXPECT_EQ(platform::GetTickCount64() - start, 1500u);
    EXPECT_TRUE(Has(driver.Transcript(), Utf8("FAILED line 1 (wait 1028 \"接続済み\" 1500): timed out after 1500 ms")));
    EXPECT_TRUE(world.view.Boxes().empty());  // the press after the failed wait never happened
}

// A dialog the program opens by itself runs its own loop for as long as its logic keeps it
// (here 30 s, with no other timer due after 2 s): a wait still fails at its own deadline.
TEST(Script, AWaitKeepsItsDeadlineWhileADialogOfTheProgramRuns) {
    TestWorld world;
    SessionWindow window(world.view);
    struct SlowDialog : platform::ViewHandler {
        explicit SlowDialog(HeadlessView& frontEnd) : view(frontEnd) {}
        void OnInitDialog() override { view.SetTimer(209, 1, 30000); }
        void OnNotify(uintptr_t, intptr_t) override {}
        void OnTimer(uint32_t) override { view.EndDialog(209, platform::IDOK); }
        void OnCommand(uint32_t id) override { view.EndDialog(209, static_cast<int>(id)); }
        HeadlessView& view;
    } dialog(world.view);
    bool opening = false;
    int result = 0;
    ui::ParsedScript script = Parse("wait 1028 \"never\" 3000\n");
    ui::ScriptDriver driver(world.view, script.commands, "", world.root);
    driver.Start();
    uint64_t start = platform::GetTickCount64();
    world.view.SetIdleHook([&](HeadlessView&) {
        // The program's own dialog, once its window is up.
        if (!opening) {
            opening = true;
            result = world.view.RunDialog(209, dialog);
            return true;
        }
        return false;
    });
    world.view.RunDialog(IDD_MAIN_WINDOW, window);
    EXPECT_TRUE(Has(driver.Transcript(), "FAILED line 1 (wait 1028 \"never\" 3000): timed out after 3000 ms"));
    // The failure closed the program's dialog too, long before its own 30 s.
    EXPECT_EQ(result, platform::IDCANCEL);
    EXPECT_EQ(platform::GetTickCount64() - start, 3000u);
}

TEST(Script, APressOnADisabledControlFailsTheScript) {
    TestWorld world;
    SessionWindow window(world.view);
    ui::ParsedScript script = Parse("press 1013\n");
    ui::ScriptDriver driver(world.view, script.commands, "", world.root);
    driver.Start();
    window.onInit = [&] { world.view.EnableControl(IDD_MAIN_WINDOW, 1013, false); };
    world.view.RunDialog(IDD_MAIN_WINDOW, window);
    EXPECT_TRUE(driver.Failed());
    EXPECT_TRUE(Has(driver.Transcript(), "FAILED line 1 (press 1013): not possible now"));
}

TEST(Script, APauseLetsTheWindowsTimersRunMeanwhile) {
    TestWorld world;
    SessionWindow window(world.view);
    ui::ParsedScript script = Parse("pause 5000\nwait 1028 \"接続済み\" 0\n");
    ui::ScriptDriver driver(world.view, script.commands, "", world.root);
    driver.Start();
    uint64_t start = platform::GetTickCount64();
    world.view.RunDialog(IDD_MAIN_WINDOW, window);
    EXPECT_FALSE(driver.Failed());
    EXPECT_EQ(platform::GetTickCount64() - start, 5000u);
    EXPECT_TRUE(Has(driver.Transcript(), "pause 5000: done after 5000 ms"));
}

// A job's line tells how long it ran since the action that started it, and how much of that
// the program spent in its fixed waits; waits before the action do not count.
TEST(Script, AJobsLineCountsTheFixedWaitsSinceTheAction) {
    TestWorld world;
    SessionWindow window(world.view);
    window.onInit = [] { platform::Sleep(700); };
    window.onTransfer = [] {
        theApp.TransferThreadHandle.Start([] {
            platform::Sleep(250);
            platform::Sleep(50);
        });
        theApp.TransferThreadHandle.JoinAndClose();
    };
    ui::ParsedScript script = Parse("press 1013\njob transfer 1000\n");
    ui::ScriptDriver driver(world.view, script.commands, "", world.root);
    driver.Start();
    world.view.RunDialog(IDD_MAIN_WINDOW, window);
    EXPECT_FALSE(driver.Failed());
    EXPECT_TRUE(Has(driver.Transcript(),
                    "job transfer 1000: done after 0 ms; 300 ms since the last action, 300 ms of them in fixed waits"));
}
