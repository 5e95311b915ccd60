// Every way out of the window while a job runs: the menu's exit, the Close command, Esc, F12,
// the end of the session and the automation's close, during a transfer and during a deletion,
// and beside a deletion a download that ends for the exit or fails at its start. No way ends
// the window under a running job; a late start-up offer leaves a running download's buttons
// alone; and a failed transfer leaves no intermediates.
// This file is UTF-8: the window's CP932 texts are compared through J().
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "../jobs/FileSystemHooks.h"
#include "WorkflowWorld.h"
#include "device/TransferRecord.h"
#include "support/PlainServer.h"

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
    {"MenuExit",
     [](CVeltraneDlg& window, WindowView&) {
         window.OnCommand(ids::kMenuExit);
         return std::optional<bool>();
     }},
    {"Close",
     [](CVeltraneDlg& window, WindowView&) {
         window.OnCommand(platform::IDCANCEL);
         return std::optional<bool>();
     }},
    {"Escape",
     [](CVeltraneDlg&, WindowView& view) {
         view.PressKey(platform::VK_ESCAPE);
         return std::optional<bool>();
     }},
    {"F12",
     [](CVeltraneDlg& window, WindowView&) {
         window.OnKeyDown(platform::VK_F12);
         return std::optional<bool>();
     }},
    {"SessionEnd", [](CVeltraneDlg& window, WindowView&) { return std::optional<bool>(EndSession(window)); }, false,
     false},
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
    std::vector<std::function<bool()>> steps = {Until([&] { return Ready(); }), Do([&] {
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

// A download pressed while the deletion of an earlier one still runs: the deletion is held at
// its first file until the test lets it go.
class BesideADeletion : public WorkflowWorld {
protected:
    void SetUp() override {
        WorkflowWorld::SetUp();
        mkupdate::BuildUpdateSet(config.updateSet, {});
        config.offer.verMinor = "12";  // newer than the earlier download, so it can be downloaded
        PaceFiles();                   // long enough for the exit to find it running
        EarlierDownload();
        FileSystemHooks::beforeUnlink = [this](const char* path) {
            if (std::string(path).find("/20260411/") == std::string::npos) return;
            held = true;
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
    }
    void TearDown() override {
        release = true;  // whatever the test did, the deletion may end before it is joined
        WorkflowWorld::TearDown();
    }
    // The steps up to a running deletion with the download pressed beside it.
    std::vector<std::function<bool()>> BothPressed() {
        return {Until([&] { return !theApp.OfferName.empty(); }), Do([&] {
                    CheckRow(0);
                    window->OnCommand(ids::kDeleteButton);
                }),
                Until([&] { return held.load(); }), Do([&] { window->OnCommand(ids::kDownloadButton); })};
    }
    // The window closes itself once the deletion has ended, not before.
    void ExpectClosedAfterTheDeletion() {
        EXPECT_EQ(theApp.ExitRequested.load(), 1);
        EXPECT_TRUE(theApp.DeleteThreadHandle.IsNull());
        EXPECT_FALSE(fs::exists(Maps() + "/20260411"));
    }

    ScopedFileSystemHooks hooks;
    uint64_t exitAt = 0;
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
};

TEST_F(BesideADeletion, ADownloadEndedForTheExitLeavesTheWindowOpenUntilTheDeletionEnds) {
    StartService();
    std::vector<std::function<bool()>> steps = BothPressed();
    steps.insert(steps.end(), {Until([&] { return theApp.DownloadedBytes > 0; }), Do([&] { view.CloseAll(); }),
                               // The download stops for the exit and is joined; the deletion still runs.
                               Until([&] { return theApp.DownloadThreadHandle.IsNull(); }), Do([&] {
                                   EXPECT_FALSE(theApp.DeleteThreadHandle.IsNull());
                                   release = true;
                               }),
                               Until([] { return false; })});
    Run(steps, true);
    ExpectClosedAfterTheDeletion();
}

TEST_F(BesideADeletion, ADownloadFailingAtItsStartLeavesTheWindowOpenUntilTheDeletionEnds) {
    config.statusFaults["MapData"].status = 500;  // the description: after the folder is made
    StartService();
    std::vector<std::function<bool()>> steps = BothPressed();
    // The failure's box was answered; the exit comes before its timer runs.
    steps.insert(steps.end(),
                 {Do([&] {
                      view.CloseAll();
                      exitAt = platform::GetTickCount64() + 5000;
                  }),
                  // Long past the timer of the failed start.
                  Until([&] { return theApp.ExitRequested == 1 && platform::GetTickCount64() > exitAt; }), Do([&] {
                      EXPECT_FALSE(theApp.DeleteThreadHandle.IsNull());
                      release = true;
                  }),
                  Until([] { return false; })});
    Run(steps, true);
    ExpectClosedAfterTheDeletion();
    // The deletion's question, then the failed start's error.
    ASSERT_EQ(view.Boxes().size(), 2u);
    EXPECT_NE(LastBox().find("(E02)"), std::string::npos) << *platform::Cp932ToUtf8(LastBox());
}

using LateOfferTest = WorkflowWorld;

TEST_F(LateOfferTest, AStartUpOfferArrivingDuringTheDownloadLeavesItsButtonsAlone) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    PaceFiles();
    StartService();
    const std::string serviceUrl = theApp.ServiceUrl;
    // The start-up offer's call is held until the download runs, and then fails.
    std::atomic<bool> answer{false};
    PlainServer late([&](size_t, const std::string&) {
        while (!answer) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return PlainServer::Answer{""};
    });
    theApp.ServiceUrl = late.Url("/map-dl");
    view.AnswerNextBox(platform::IDOK);  // the pause question at the end
    Run({Until([&] { return late.Requests().size() == 1; }), Do([&] {
             theApp.ServiceUrl = serviceUrl;
             window->OnCommand(ids::kDownloadButton);
         }),
         Until([&] { return theApp.DownloadedBytes > 0; }), Do([&] { answer = true; }),
         Until([&] { return view.AwakeWhenPosted(kNotifyOfferArrived) != -1; }),
         // The offer's notification has been handled: the download's buttons stand.
         Do([&] {
             EXPECT_FALSE(theApp.DownloadThreadHandle.IsNull());
             EXPECT_TRUE(Enabled(ids::kDownloadButton));  // to pause
             EXPECT_FALSE(Enabled(ids::kDeleteButton));
             EXPECT_FALSE(Enabled(ids::kTransferButton));
             EXPECT_FALSE(Enabled(ids::kPcArea));
             window->OnCommand(ids::kDownloadButton);
         }),
         Until([&] { return theApp.DownloadThreadHandle.IsNull(); })});
    answer = true;
}

using HangingOfferTest = WorkflowWorld;

TEST_F(HangingOfferTest, ClosingWithoutAJobAbandonsTheOfferCallAtOnce) {
    // The automation's close asks nobody and sets no exit flag: only the abandon of the
    // session's transfers ends the call, whose stall limit is still twenty seconds away.
    PlainServer silent([](size_t, const std::string&) { return PlainServer::Answer{"", 0}; });
    theApp.ServiceUrl = silent.Url("/map-dl");
    theApp.Internet.SetStallLimit(20000);
    Run({Until([&] { return silent.Requests().size() == 1; }), Do([&] { view.CloseAll(); }),
         Until([] { return false; })},
        true);
    EXPECT_EQ(theApp.ExitRequested.load(), 0);
    auto closing = std::async(std::launch::async, [&] { window.reset(); });
    EXPECT_EQ(closing.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the window waits for the call";
    closing.get();
    EXPECT_EQ(theApp.OfferName, "");
}

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
    EXPECT_NE(log.find("<maptrs_failure_cd>E09</maptrs_failure_cd>", log.find("\"call\":\"TSC\"")), std::string::npos)
        << log;
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

using PowerAndAutoPlayTest = WorkflowWorld;

// A laptop on a low battery is warned before the transfer and may stay out of it; while the
// transfer runs, the window asks the shell to keep AutoPlay (and its format offer) away.
TEST_F(PowerAndAutoPlayTest, ALowBatteryIsWarnedOfAndAutoPlayIsHeldOffWhileTheTransferRuns) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    EarlierDownload();
    navisim::CreateUnit(Unit());
    bool heldOffWhileRunning = false;
    Run({Until([&] { return Ready(); }), Do([&] {
             EXPECT_FALSE(window->OnQueryCancelAutoPlay());
             CheckRow(0);
             // At 30 % nobody is warned: the confirmation comes, and the user declines it.
             navisim::SetBattery(30);
             dialogAnswers = {platform::IDCANCEL};
             window->OnCommand(ids::kTransferButton);
             EXPECT_EQ(view.Opened(), (std::vector<int>{platform::IDD_MAIN_WINDOW, ids::kConfirmationDialog}));
             // Below it the warning comes first; declined: no confirmation, no transfer.
             navisim::SetBattery(29);
             view.AnswerNextBox(platform::IDCANCEL);
             window->OnCommand(ids::kTransferButton);
             EXPECT_TRUE(theApp.TransferThreadHandle.IsNull());
             EXPECT_EQ(view.Opened().size(), 2u);
             // Accepted: the transfer runs.
             window->OnCommand(ids::kTransferButton);
             heldOffWhileRunning = window->OnQueryCancelAutoPlay();
         }),
         Until([&] { return BoxCaptioned("転送の完了") && theApp.TransferThreadHandle.IsNull(); })});
    ASSERT_EQ(Captioned("バッテリー残量の確認"), 2u);
    EXPECT_NE(view.Boxes()[0].request.text.find(J("残り29%")), std::string::npos)
        << *platform::Cp932ToUtf8(view.Boxes()[0].request.text);
    EXPECT_TRUE(heldOffWhileRunning);
    EXPECT_FALSE(window->OnQueryCancelAutoPlay());
}

// An image write that did not finish leaves the unit without a usable volume: AutoPlay stays
// away until the unit has been written again, in this run or, by its record, in a later one.
TEST_F(PowerAndAutoPlayTest, AnUnfinishedImageKeepsAutoPlayAway) {
    theApp.Navi.ImageWritePending = 1;
    EXPECT_TRUE(window->OnQueryCancelAutoPlay());
    theApp.Navi.ImageWritePending = 0;
    EXPECT_FALSE(window->OnQueryCancelAutoPlay());
    TRANSFER_RECORD record;
    record.instanceId = "USB\\VID_2F6A&PID_0C31\\NAVI";
    record.version = "20260411";
    record.folder = theApp.MapFolder + "\\20260411";
    ASSERT_EQ(TransferRecordSave(record), 0);
    EXPECT_TRUE(window->OnQueryCancelAutoPlay());
    ASSERT_EQ(TransferRecordClear(), 0);
    EXPECT_FALSE(window->OnQueryCancelAutoPlay());
}
