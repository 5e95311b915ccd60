// The user removes the held unit through the system ("safely remove"; navisim eject on the
// simulated machine): the window lets the unit go at once when no transfer runs, and refuses
// while a transfer writes to it. This file is UTF-8: the window's CP932 texts are compared
// through J().
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "../jobs/FileSystemHooks.h"
#include "WorkflowWorld.h"
#include "platform/sim/Machine.h"

namespace {
constexpr uint32_t kPatienceMs = 10000;
}  // namespace

class UnitRemovalTest : public WorkflowWorld {
protected:
    static bool Plugged() { return platform::MachineDescription().Get("Unit navi", "Plugged").value_or("") == "1"; }
};

TEST_F(UnitRemovalTest, WithNoTransferTheUnitIsLetGoAtOnceAndRemoved) {
    navisim::CreateUnit(Unit());
    std::string answer;
    uint64_t askedAt = 0;
    uint64_t answeredAt = 0;
    // The request waits for the window's answer on a thread of its own, as navisim does.
    std::thread user;
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             askedAt = platform::GetTickCount64();
             user = std::thread([&] { answer = navisim::RequestRemoval("navi", kPatienceMs); });
         }),
         Until([&] { return !Plugged(); }), Do([&] { answeredAt = platform::GetTickCount64(); })});
    user.join();
    EXPECT_EQ(answer, "removed");
    // The window closed the volume when it answered, with none of the 5 s reopen waits.
    EXPECT_LT(answeredAt - askedAt, 1000u);
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
    EXPECT_TRUE(theApp.Navi.NaviDrive.empty());
    EXPECT_EQ(window->NaviConnected, 0);
    EXPECT_EQ(Text(ids::kConnectionText), J("未接続"));
    EXPECT_FALSE(Enabled(ids::kRemoveButton));
    EXPECT_TRUE(view.Boxes().empty());
}

// Another program holds the unit too: the window lets go when asked, the removal fails, and the
// window hears so through the registration it kept and holds the unit again. No device change
// comes with a failed removal.
TEST_F(UnitRemovalTest, ARemovalAnotherProgramRefusesLeavesTheUnitHeldAgain) {
    navisim::CreateUnit(Unit());
    std::atomic<bool> answered = false;
    std::string answer;
    bool letGo = false;
    std::thread user;
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             platform::ModifyMachine([](platform::ProfileDocument& doc) {
                 doc.Set("Device navi", "EjectVetoed", "1");
                 return true;
             });
             user = std::thread([&] {
                 answer = navisim::RequestRemoval("navi", kPatienceMs);
                 answered = true;
             });
         }),
         Until([&] {
             letGo = letGo || window->NaviConnected == 0;
             return answered.load();
         }),
         Until([&] { return window->NaviConnected == 1; })});
    user.join();
    EXPECT_EQ(answer, "in use");
    EXPECT_TRUE(letGo);
    EXPECT_TRUE(Plugged());
    EXPECT_NE(theApp.Navi.DriveHandle.load(), nullptr);
    EXPECT_EQ(Text(ids::kConnectionText), J("接続済み"));
    EXPECT_TRUE(view.Boxes().empty());
}

TEST_F(UnitRemovalTest, DuringATransferTheRemovalIsRefusedAndTheTransferCompletes) {
    ScopedFileSystemHooks hooks;
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    EarlierDownload();
    const mkupdate::Contents contents = mkupdate::BuildUpdateSet(Maps() + "/20260411", {});
    navisim::CreateUnit(Unit());
    // The user asks while the transfer's first steps run, with the unit's volume held for the
    // image write: the transfer's thread waits here for the answer.
    std::string answer;
    bool heldWhenAsked = false;
    const auto uiThread = std::this_thread::get_id();
    FileSystemHooks::beforeUnlink = [&](const char*) {
        if (std::this_thread::get_id() == uiThread || !answer.empty() || theApp.TransferThreadHandle.IsNull()) return;
        heldWhenAsked = theApp.Navi.DriveHandle.load() != nullptr;
        answer = navisim::RequestRemoval("navi", kPatienceMs);
    };
    Run({Until([&] { return Ready(); }), Do([&] {
             CheckRow(0);
             window->OnCommand(ids::kTransferButton);
         }),
         Until([&] { return BoxCaptioned("転送の完了") && theApp.TransferThreadHandle.IsNull(); })});
    EXPECT_TRUE(heldWhenAsked);
    EXPECT_EQ(answer, "refused");
    EXPECT_EQ(view.GetCellText(ids::kNaviArea, 0, 2), J("ナビ転送完了"));
    for (auto& box : view.Boxes())
        EXPECT_EQ(box.request.caption.find(J("エラー")), std::string::npos) << *platform::Cp932ToUtf8(box.request.text);

    // The unit holds the update (the transfer's end ejected it; plugged again to look).
    navisim::CheckReport report = CheckUnitHolds(contents.image);
    EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
}
