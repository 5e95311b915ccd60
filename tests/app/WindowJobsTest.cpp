// Every way out of the window while a job runs: the menu's exit, the Close command, Esc, F12,
// the end of the session and the automation's close, during a transfer and during a deletion.
// No way ends the window under a running job; and a failed transfer leaves no intermediates.
// This file is UTF-8: the window's CP932 texts are compared through J().
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "WorkflowWorld.h"

namespace fs = std::filesystem;

namespace {

struct ExitPath {
    const char* name;
    // The user's (or the session's, or the automation's) request; the session's answer if any.
    std::function<std::optional<bool>(CVeltraneDlg&, WindowView&)> request;
    bool automation = false;
    // Whether the user is asked to confirm the exit (the session's end and the automation ask
    // nobody).
    bool asks = true;
};

const ExitPath kExitPaths[] = {
    {"MenuExit", [](CVeltraneDlg& window, WindowView&) { window.OnCommand(ids::kMenuExit); return std::optional<bool>(); }},
    {"Close", [](CVeltraneDlg& window, WindowView&) { window.OnCommand(platform::IDCANCEL); return std::optional<bool>(); }},
    {"Escape", [](CVeltraneDlg&, WindowView& view) { view.PressKey(platform::VK_ESCAPE); return std::optional<bool>(); }},
    {"F12", [](CVeltraneDlg& window, WindowView&) { window.OnKeyDown(platform::VK_F12); return std::optional<bool>(); }},
    {"SessionEnd",
     [](CVeltraneDlg& window, WindowView&) { return std::optional<bool>(EndSession(window)); },
     false, false},
    {"AutomationClose",
     [](CVeltraneDlg&, WindowView& view) {
         view.CloseAll();
         return std::optional<bool>();
     },
     true, false},
};

std::string PathName(const ::testing::TestParamInfo<ExitPath>& info) { return info.param.name; }

}  // namespace

class ExitDuringAJob : public WorkflowWorld, public ::testing::WithParamInterface<ExitPath> {
protected:
    void SetUp() override {
        WorkflowWorld::SetUp();
        mkupdate::BuildUpdateSet(config.updateSet, {});
        StartService();
        EarlierDownload();
    }
    std::optional<bool> answer;
};

using ExitDuringATransfer = ExitDuringAJob;
using ExitDuringADeletion = ExitDuringAJob;

TEST_P(ExitDuringATransfer, IsRefusedAndOnlyTheAutomationClosesOnceTheTransferHasEnded) {
    navisim::CreateUnit(Unit());
    const bool automation = GetParam().automation;
    std::vector<std::function<bool()>> steps = {
        Until([&] { return Ready(); }), Do([&] {
            CheckRow(0);
            window->OnCommand(ids::kTransferButton);
            ASSERT_FALSE(theApp.TransferThreadHandle.IsNull());
            answer = GetParam().request(*window, view);
        })};
    if (automation)
        steps.push_back(Until([] { return false; }));  // the window is to close by itself
    else
        steps.push_back(Until([&] { return BoxCaptioned("転送の完了") && theApp.TransferThreadHandle.IsNull(); }));
    Run(steps, automation);

    // Nobody was asked to confirm an exit, and the transfer ran to its end on the open window.
    EXPECT_EQ(view.Opened(), (std::vector<int>{platform::IDD_MAIN_WINDOW, ids::kConfirmationDialog}));
    EXPECT_TRUE(BoxCaptioned("転送の完了"));
    EXPECT_TRUE(theApp.TransferThreadHandle.IsNull());
    EXPECT_EQ(view.GetCellText(ids::kNaviArea, 0, 2), J("ナビ転送完了"));
    if (answer) {
        EXPECT_FALSE(*answer) << "the session end is refused during a transfer";
    }
    EXPECT_EQ(theApp.ExitRequested.load(), automation ? 1 : 0);
}

TEST_P(ExitDuringADeletion, WaitsForTheDeletionThenCloses) {
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] {
             CheckRow(0);
             window->OnCommand(ids::kDeleteButton);
             ASSERT_FALSE(theApp.DeleteThreadHandle.IsNull());
             answer = GetParam().request(*window, view);
         }),
         Until([] { return false; })},
        true);

    // The window closed by itself, after the deletion had ended and been joined.
    EXPECT_EQ(theApp.ExitRequested.load(), 1);
    EXPECT_TRUE(theApp.DeleteThreadHandle.IsNull());
    EXPECT_FALSE(fs::exists(Maps() + "/20260411"));
    EXPECT_EQ(TestWorld::ReadFile(History()), "");
    if (answer) {
        EXPECT_TRUE(*answer) << "the session may end once the deletion has";
    }
    if (GetParam().asks) {
        EXPECT_EQ(view.Opened().back(), ids::kExitDialog);
    } else {
        EXPECT_EQ(view.Opened(), std::vector<int>{platform::IDD_MAIN_WINDOW});
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWayOut, ExitDuringATransfer, ::testing::ValuesIn(kExitPaths), PathName);
INSTANTIATE_TEST_SUITE_P(EveryWayOut, ExitDuringADeletion, ::testing::ValuesIn(kExitPaths), PathName);

using FailedTransferTest = WorkflowWorld;

TEST_F(FailedTransferTest, ADamagedImagePieceFailsWithE09AndLeavesNoIntermediates) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    EarlierDownload();
    navisim::CreateUnit(Unit());
    const std::string piece = Maps() + "/20260411/FLASH2/VTIMAGE.002";
    std::string bytes = TestWorld::ReadFile(piece);
    bytes[100] ^= 0x01;
    TestWorld::WriteFile(piece, bytes);
    const std::string volume = TestWorld::ReadFile(navisim::UnitImage("navi"));

    Run({Until([&] { return Ready(); }), Do([&] {
             CheckRow(0);
             window->OnCommand(ids::kTransferButton);
         }),
         Until([&] { return theApp.TransferThreadHandle.IsNull() && Calls("TSC") == 1 && !view.Boxes().empty(); })});

    // The service hears of the failure with its code, the user sees the CRC failure's message.
    std::string log = CallLog();
    EXPECT_NE(log.find("<maptrs_failure_cd>E09</maptrs_failure_cd>", log.find("\"call\":\"TSC\"")), std::string::npos) << log;
    EXPECT_NE(LastBox().find("E09"), std::string::npos) << *platform::Cp932ToUtf8(LastBox());
    // Nothing reached the unit, so there is nothing to recover.
    EXPECT_EQ(TestWorld::ReadFile(navisim::UnitImage("navi")), volume);
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 0);
    // The clean-up after the failure took every product and intermediate of the preparation.
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(Maps() + "/20260411")) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("NEW") || name.starts_with("DECOMP")) left.push_back(entry.path().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{});
    EXPECT_EQ(TestWorld::ReadFile(piece), bytes);
}
