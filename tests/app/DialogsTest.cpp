// The small dialogs, the hidden watcher and the competing-use handling of the unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "WindowWorld.h"
#include "app/Dialogs.h"
#include "platform/sim/Machine.h"
#include "platform/Drives.h"
#include "platform/Volumes.h"
#include "device/NaviDriveImage.h"
#include "device/TransferRecord.h"
#include "state/ResourceIds.h"
#include "support/ShippedMessages.h"

class DialogsTest : public WindowWorld {
protected:
    // Runs a dialog modally; `whileOpen` runs once it has settled, then the user presses OK.
    int Show(
        CSimpleDialog& dialog, int dialogId, std::function<void()> whileOpen = [] {}) {
        bool done = false;
        view.SetIdleHook([&](HeadlessView& v) {
            if (!done) {
                whileOpen();
                done = true;
                return true;
            }
            v.EndDialog(dialogId, platform::IDOK);
            return true;
        });
        int result = dialog.DoModal();
        view.SetIdleHook(nullptr);
        return result;
    }
    std::string DialogText(int dialogId, int id) { return view.ControlState(dialogId, id).text; }
    // Runs `start` once the unit is held, then keeps a message posted until `done` holds: the
    // longest a posted message waited for the window, as TheWindowAnswersThroughoutTheLockRetries
    // measures it.
    uint64_t LongestGap(const std::function<void()>& start, const std::function<bool()>& done) {
        return LongestGap([&] { return window->NaviConnected == 1; }, start, done);
    }
    // The same once `ready` holds.
    uint64_t LongestGap(const std::function<bool()>& ready, const std::function<void()>& start,
                        const std::function<bool()>& done) {
        uint64_t postedAt = 0, slowest = 0;
        // Counted from the pages opened before, so that one test can measure several times.
        size_t posted = view.ShellOpened().size();
        // A message is waiting when `start` runs, so a wait inside it counts too.
        const auto postThenStart = [&] {
            Notify(kNotifyKeyF1);
            ++posted;
            postedAt = platform::GetTickCount64();
            start();
        };
        Run({Until(ready), Do(postThenStart), Until([&] {
                 const uint64_t now = platform::GetTickCount64();
                 if (view.ShellOpened().size() == posted) {
                     slowest = std::max(slowest, now - postedAt);
                     Notify(kNotifyKeyF1);
                     ++posted;
                     postedAt = now;
                 }
                 return done();
             })});
        return slowest;
    }
    static bool Plugged() { return platform::MachineDescription().Get("Unit navi", "Plugged").value_or("") == "1"; }
    // The user answers the unit's waiting prompt `afterMs` in, by the clock, and `answered` is
    // set. A window stuck on the prompt moves no clock: after 2 s of real time without a tick
    // the user moves it as that wait would have.
    std::thread AnswerPromptAfter(uint64_t afterMs, std::atomic<bool>& answered) {
        const uint64_t answerAt = platform::GetTickCount64() + afterMs;
        return std::thread([this, answerAt, &answered] {
            uint64_t seen = platform::GetTickCount64();
            auto stillSince = std::chrono::steady_clock::now();
            for (uint64_t now; (now = platform::GetTickCount64()) < answerAt;
                 std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
                if (now != seen) {
                    seen = now;
                    stillSince = std::chrono::steady_clock::now();
                } else if (std::chrono::steady_clock::now() - stillSince > std::chrono::seconds(2)) {
                    world.clock.Advance(static_cast<int64_t>(answerAt - now));
                }
            }
            answered = true;
            navisim::ClearFaults("navi");
        });
    }
};

TEST_F(DialogsTest, TheConfirmationAsksForTheTransferOrTheRecovery) {
    CDialogNaviConfiramation transfer;
    transfer.Mode = 1;
    transfer.MapName = "2026年春版";
    EXPECT_EQ(Show(transfer, ids::kConfirmationDialog), platform::IDOK);
    EXPECT_EQ(DialogText(ids::kConfirmationDialog, 0), "転送開始の確認");
    EXPECT_EQ(DialogText(ids::kConfirmationDialog, ids::kConfirmQuestion),
              "バージョンアップ(地図更新)【2026年春版】データの転送を開始してよろしいですか？");
    EXPECT_EQ(DialogText(ids::kConfirmationDialog, ids::kConfirmPower),
              "● ナビゲーションが電源（ACアダプター）に接続されていることを確認してください。");
    EXPECT_EQ(DialogText(ids::kConfirmationDialog, ids::kConfirmFormatStep), "");  // nothing is formatted

    CDialogNaviConfiramation recovery;
    recovery.Mode = 2;
    recovery.MapName = "2026年春版";
    Show(recovery, ids::kConfirmationDialog);
    EXPECT_EQ(DialogText(ids::kConfirmationDialog, 0), "ナビゲーションのリカバリー");
    EXPECT_EQ(DialogText(ids::kConfirmationDialog, ids::kConfirmQuestion),
              "ナビゲーションのリカバリーを開始してよろしいですか？");
    EXPECT_EQ(DialogText(ids::kConfirmationDialog, ids::kConfirmHeading),
              "ナビゲーションのリカバリーを開始する前に次の確認をお願いします。");
    // The shell's format dialog comes with Quick Format ticked: the user learns what to untick.
    EXPECT_EQ(DialogText(ids::kConfirmationDialog, ids::kConfirmFormatStep),
              "※フォーマットの画面で［クイック フォーマット］にチェックが付いている場合、時間をかけて完全にフォー"
              "マットするには、チェックを外してから［開始］を押してください。");
}

TEST_F(DialogsTest, TheConnectionInformationFollowsAPlugWithoutAClick) {
    CDialogSubNavi connection;
    std::string before;
    bool watched = false;
    Show(connection, ids::kConnectionDialog, [&] {
        before = DialogText(ids::kConnectionDialog, ids::kConnectionStateText);
        navisim::CreateUnit(Unit());
        view.DeviceChanged();
        watched = true;
    });
    // The posted code 1 is handled before the user's OK.
    EXPECT_TRUE(watched);
    EXPECT_EQ(before, "未接続");
    EXPECT_EQ(DialogText(ids::kConnectionDialog, ids::kConnectionStateText), "接続済み");
    EXPECT_TRUE(view.Boxes().empty());
}

TEST_F(DialogsTest, WithoutItsWatcherTheConnectionInformationStillOpens) {
    view.refuseModeless = true;
    CDialogSubNavi connection;
    EXPECT_EQ(Show(connection, ids::kConnectionDialog), platform::IDOK);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_NE(view.Boxes()[0].request.text.find("E05"), std::string::npos);
    EXPECT_FALSE(view.Boxes()[0].request.owned);

    // The main window without its watcher stops its initialisation after the message.
    Run({});
    ASSERT_EQ(view.Boxes().size(), 2u);
    EXPECT_NE(view.Boxes()[1].request.text.find("E04"), std::string::npos);
    EXPECT_EQ(view.RowCount(ids::kPcArea), 0);
    EXPECT_EQ(view.RowCount(ids::kServerArea), 0);
}

TEST_F(DialogsTest, TheMainWindowsWatcherTurnsDeviceChangesIntoCodeOne) {
    navisim::CreateUnit(Unit());
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             navisim::Unplug("navi");
             view.DeviceChanged();
         }),
         Until([&] { return window->NaviConnected == 0; })});
    EXPECT_EQ(Text(ids::kConnectionText), "未接続");
}

TEST_F(DialogsTest, AUnitUsedByTheMediaPlayerAsksTheUserToEndIt) {
    navisim::AddProcess("wmplayer.exe");
    navisim::CreateUnit(Unit());
    navisim::Faults faults;
    faults.lockRefused = true;
    navisim::SetFaults("navi", faults);
    // OK while the player still runs: the competing-use message.
    view.AnswerNextBox(platform::IDOK);
    uint64_t start = platform::GetTickCount64();
    Run({Until([&] { return view.Boxes().size() == 2; })});
    auto boxes = view.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].request.text,
              "ナビゲーションが別のアプリケーションによって使用されています。\n動作中のアプリケーションを終了してくださ"
              "い。\n\n[E01]");
    EXPECT_EQ(boxes[0].request.type, platform::MB_OKCANCEL | platform::MB_ICONERROR);
    EXPECT_NE(boxes[1].request.text.find("E02"), std::string::npos);
    // Ten tries and no eleventh, after the two seconds before the first: each with ten lock
    // tries 150 ms apart, 5 s while the volume is reopened and 5 s before the next.
    const uint64_t elapsed = platform::GetTickCount64() - start;
    EXPECT_GE(elapsed, 2000u + 10 * (9 * 150u + 5000u + 5000u));
    EXPECT_LT(elapsed, 2000u + 11 * (9 * 150u + 5000u + 5000u));
    EXPECT_EQ(window->NaviConnected, 0);
}

// A desktop user whom polkit refuses (or who has no polkit agent) is told what is needed, once:
// another try would only ask again, and it is no other program's doing.
TEST_F(DialogsTest, ARefusedAuthorisationSaysWhatIsNeededAndIsNotRetried) {
    navisim::CreateUnit(Unit());
    navisim::Faults faults;
    faults.lockAuthorisationRefused = true;
    navisim::SetFaults("navi", faults);
    uint64_t shown = 0;
    size_t boxesBeforeReplug = 0;
    Run({Until([&] { return !view.Boxes().empty(); }), Do([&] {
             shown = platform::GetTickCount64();
             view.DeviceChanged();  // as the volume's mount coming back shows on a real PC
         }),
         // A minute of device changes (the volume let go) and timers: nothing asks again.
         Until([&] {
             if (platform::GetTickCount64() - shown < 60000) return false;
             boxesBeforeReplug = view.Boxes().size();
             return true;
         }),
         Do([&] {
             navisim::ClearFaults("navi");
             navisim::Unplug("navi");
             view.DeviceChanged();
         }),
         Until([&] { return theApp.Navi.NaviDrive.empty(); }), Do([&] {
             navisim::Plug("navi");
             view.DeviceChanged();
         }),
         // Plugged in again, the unit is asked for again.
         Until([&] { return window->NaviConnected == 1; })});
    EXPECT_EQ(boxesBeforeReplug, 1u);
    auto boxes = view.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].request.text.find("管理者の認証が必要です"), std::string::npos) << boxes[0].request.text;
    EXPECT_NE(boxes[0].request.text.find("polkit エージェント"), std::string::npos);
    EXPECT_NE(boxes[0].request.text.find("E04"), std::string::npos);
}

TEST_F(DialogsTest, AVolumeThatStaysLockedIsRetriedElevenTimesBeforeTheBox) {
    navisim::CreateUnit(Unit());
    navisim::Faults faults;
    faults.lockRefused = true;
    navisim::SetFaults("navi", faults);
    view.AnswerNextBox(platform::IDOK);
    Run({Until([&] { return view.Boxes().size() == 2; })});
    auto boxes = view.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].request.text.find("[E01]"), std::string::npos);
    EXPECT_NE(boxes[1].request.text.find("E02"), std::string::npos);
    EXPECT_EQ(theApp.Navi.CompetingCount.load(), 11);
    EXPECT_EQ(window->NaviConnected, 0);
    EXPECT_EQ(Text(ids::kConnectionText), "接続済み");
}

// Explorer or a virus scanner holding the volume keeps the lock failing for a while: the
// window keeps answering through all the tries and waits, a notification posted at any
// moment handled within 100 ms, and the tries keep their pace.
TEST_F(DialogsTest, TheWindowAnswersThroughoutTheLockRetries) {
    navisim::CreateUnit(Unit());
    navisim::Faults faults;
    faults.lockRefused = true;
    navisim::SetFaults("navi", faults);
    view.AnswerNextBox(platform::IDCANCEL);
    const uint64_t start = platform::GetTickCount64();
    size_t posted = 0;
    uint64_t postedAt = 0;
    uint64_t slowest = 0;
    Run({Until([&] {
        const uint64_t now = platform::GetTickCount64();
        if (posted == 0 || view.ShellOpened().size() == posted) {
            if (posted > 0) slowest = std::max(slowest, now - postedAt);
            Notify(kNotifyKeyF1);
            ++posted;
            postedAt = now;
        }
        return !view.Boxes().empty();
    })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_NE(view.Boxes()[0].request.text.find("[E01]"), std::string::npos);
    EXPECT_LE(slowest, 100u);
    EXPECT_GT(posted, 1000u);
    // Eleven tries, each with ten lock tries 150 ms apart, 5 s while the volume is reopened
    // and 5 s before the next; 2 s before the first.
    EXPECT_EQ(theApp.Navi.CompetingCount.load(), 11);
    EXPECT_GE(platform::GetTickCount64() - start, 2000u + 11 * (9 * 150u + 5000u + 5000u));
}

// A desktop user's authorisation prompt for the lock (Linux: udisks2 waits up to ten minutes
// for it) left unanswered for half a minute: the window answers throughout, and the unit is
// held once the prompt is answered, not before.
TEST_F(DialogsTest, TheWindowAnswersWhileTheAuthorisationPromptWaits) {
    navisim::CreateUnit(Unit());
    navisim::Faults prompt;
    prompt.promptWaiting = "Lock";
    navisim::SetFaults("navi", prompt);
    std::atomic<bool> answered{false};
    std::thread user = AnswerPromptAfter(10000, answered);  // half a minute in
    bool heldBeforeTheAnswer = false;
    const uint64_t slowest = LongestGap([] { return true; }, [] {},
                                        [&] {
                                            if (!answered && window->NaviConnected == 1) heldBeforeTheAnswer = true;
                                            return answered && window->NaviConnected == 1;
                                        });
    user.join();
    EXPECT_FALSE(heldBeforeTheAnswer);
    EXPECT_EQ(window->NaviConnected, 1);
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_LE(slowest, 100u);
}

// The answering window sees a device change in the middle of the tries: a unit still there
// is left to the tries, a unit pulled ends them with no box and nothing held.
TEST_F(DialogsTest, AUnitPulledDuringTheLockRetriesEndsThemQuietly) {
    navisim::CreateUnit(Unit());
    navisim::Faults faults;
    faults.lockRefused = true;
    navisim::SetFaults("navi", faults);
    uint64_t quietUntil = 0;
    uint64_t secondTryEnded = 0;
    // The third try starts 5 s after the second ended; 7 s in, its volume is being reopened.
    Run({Until([&] { return theApp.Navi.CompetingCount == 1; }), Do([&] { view.DeviceChanged(); }),
         Until([&] { return theApp.Navi.CompetingCount == 2; }),
         Do([&] { secondTryEnded = platform::GetTickCount64(); }),
         Until([&] { return platform::GetTickCount64() >= secondTryEnded + 7000; }), Do([&] {
             navisim::Unplug("navi");
             view.DeviceChanged();
             quietUntil = platform::GetTickCount64() + 120000;
         }),
         Until([&] { return platform::GetTickCount64() > quietUntil; })});
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(theApp.Navi.CompetingCount.load(), 2);
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
    EXPECT_EQ(window->NaviConnected, 0);
    EXPECT_TRUE(theApp.Navi.NaviDrive.empty());
}

// A held volume is locked: its files are out of reach even for this process, so a device
// change checks the unit through its handle and keeps holding it.
TEST_F(DialogsTest, ADeviceChangeLeavesTheHeldUnitHeld) {
    navisim::CreateUnit(Unit());
    bool letGo = false;
    uint64_t until = 0;
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             view.DeviceChanged();
             until = platform::GetTickCount64() + 5000;
         }),
         Until([&] {
             letGo = letGo || theApp.Navi.DriveHandle.load() == nullptr;
             return platform::GetTickCount64() > until;
         })});
    EXPECT_FALSE(letGo);
    EXPECT_EQ(window->NaviConnected, 1);

    // Pulled, it is let go.
    Run({Do([&] {
             navisim::Unplug("navi");
             view.DeviceChanged();
         }),
         Until([&] { return window->NaviConnected == 0; })});
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
}

// The hold's tries run on timers and the window answers meanwhile; the transfer button then
// refuses: a transfer starts only on the locked and dismounted volume, never on the reopen
// probe, which has a handle of its own.
TEST_F(DialogsTest, TheTransferButtonRefusesWhileTheHoldRetries) {
    navisim::CreateUnit(Unit());
    uint64_t retriedAt = 0;
    bool probeWasHeld = false;
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             // Held before, as after a failed transfer; let go, and held again while another
             // program keeps the lock from it.
             navisim::Faults faults;
             faults.lockRefused = true;
             navisim::SetFaults("navi", faults);
             DriveRelease();
             Notify(kNotifyUnitFound);
             retriedAt = platform::GetTickCount64();
         }),
         // 2 s, then ten lock tries 150 ms apart; 1 s into the 5 s reopen.
         Until([&] { return platform::GetTickCount64() >= retriedAt + 2000 + 9 * 150 + 1000; }), Do([&] {
             probeWasHeld = theApp.Navi.DriveHandle.load() != nullptr;
             window->OnCommand(ids::kTransferButton);
         }),
         Until([&] { return !view.Boxes().empty(); })});
    EXPECT_FALSE(probeWasHeld);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.text, shipped::Message(501, "E02"));
    EXPECT_TRUE(theApp.TransferThreadHandle.IsNull());
}

// With the media player running the hold tries up to ten times; a try that succeeds holds the
// unit at once.
TEST_F(DialogsTest, WithTheMediaPlayerRunningASuccessfulTryHoldsTheUnit) {
    navisim::AddProcess("wmplayer.exe");
    navisim::CreateUnit(Unit());
    const uint64_t start = platform::GetTickCount64();
    Run({Until([&] { return window->NaviConnected == 1 || !view.Boxes().empty(); })});
    EXPECT_EQ(window->NaviConnected, 1);
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_LT(platform::GetTickCount64() - start, 2000u + 1000u);
}

// From the transfer button on, the transfer's thread owns the unit even before the thread has
// marked it running: the system's removal is refused and the handle kept.
TEST_F(DialogsTest, TheRemovalIsRefusedOnceTheTransfersThreadIsThere) {
    navisim::CreateUnit(Unit());
    Run({Until([&] { return window->NaviConnected == 1; })});
    const platform::HANDLE held = theApp.Navi.DriveHandle;
    std::mutex gate;
    gate.lock();
    theApp.TransferThreadHandle.Start([&] { std::lock_guard wait(gate); });
    ASSERT_EQ(theApp.Navi.TransferRunning.load(), 0);
    EXPECT_FALSE(window->OnQueryRemoveVolume(held));
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), held);
    gate.unlock();
    theApp.TransferThreadHandle.JoinAndClose();
    EXPECT_TRUE(window->OnQueryRemoveVolume(held));
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
    DriveEndRemovalWatch(held);
}

// The window never sleeps: the remove button's reopen, pause and eject, the eject after a
// transfer and the format after an unfinished image run on timers, each wait answered within
// 100 ms, and still take their time.
TEST_F(DialogsTest, TheWindowAnswersThroughoutTheRemoveButtonsEject) {
    navisim::CreateUnit(Unit());
    uint64_t pressedAt = 0;
    const uint64_t slowest = LongestGap(
        [&] {
            pressedAt = platform::GetTickCount64();
            window->OnCommand(ids::kRemoveButton);
        },
        [&] { return !Plugged(); });
    EXPECT_LE(slowest, 100u);
    // 5 s for the volume to come back, 2 s, 5 s before the request.
    EXPECT_GE(platform::GetTickCount64() - pressedAt, 5000u + 2000u + 5000u);
    EXPECT_TRUE(view.Boxes().empty());
}

TEST_F(DialogsTest, TheWindowAnswersThroughoutTheEjectAfterATransfer) {
    navisim::CreateUnit(Unit());
    EXPECT_LE(LongestGap([&] { Notify(kNotifyTransferDone); }, [&] { return !Plugged(); }), 100u);
}

// The other calls that may ask a desktop user: the remount of the remove button's release, the
// eject's request after a transfer, the recovery's format, the remount of a failed transfer's
// release. Each waits on a prompt nobody has answered yet while the window answers, and what it
// does shows only after the answer.
TEST_F(DialogsTest, TheWindowAnswersWhileTheUnitsOtherPromptsWait) {
    navisim::CreateUnit(Unit());
    view.AnswerFormat(true);
    struct Path {
        const char* name;
        const char* call;  // the call whose prompt waits
        std::function<void()> start;
        std::function<bool()> done;
        size_t boxes;
    };
    // The unit is gone once the eject has ended and discovery has looked again: the window has
    // taken the call's result.
    const auto ejected = [&] { return !Plugged() && !window->NaviConnected; };
    bool released = false;
    const Path paths[] = {
        {"the recovery's format", "Format",
         [&] {
             view.AnswerNextDialog(ids::kConfirmationDialog, platform::IDOK);
             window->OnCommand(ids::kMenuRecovery);
         },
         // Formatted, and held again.
         [] { return !std::filesystem::exists(navisim::UnitFiles("navi") / "UPDATE") && DriveHeld(); }, 0},
        {"the remove button's remount", "Mount", [&] { window->OnCommand(ids::kRemoveButton); }, ejected, 0},
        // The transfer's end is a notice.
        {"the eject after a transfer", "Eject", [&] { Notify(kNotifyTransferDone); }, ejected, 1},
        // The unit is let go, and held again once discovery has found it.
        {"a failed transfer's remount", "Mount",
         [&] {
             TRANSFER_RECORD record;
             record.instanceId = theApp.Navi.NaviInstanceId;  // the held unit's
             record.version = "20260411";
             record.folder = theApp.MapFolder + "\\20260411";
             ASSERT_EQ(TransferRecordSave(record), 0);
             Notify(kNotifyTransferFailed, 532);
         },
         [&] {
             released = released || theApp.Navi.DriveHandle.load() == nullptr;
             return released && DriveHeld();
         },
         1},
    };
    for (const Path& path : paths) {
        SCOPED_TRACE(path.name);
        if (!Plugged()) navisim::Plug("navi");
        navisim::Faults prompt;
        prompt.promptWaiting = path.call;
        navisim::SetFaults("navi", prompt);
        std::atomic<bool> answered{false};
        std::thread user;
        bool doneBeforeTheAnswer = false;
        const size_t boxesBefore = view.Boxes().size();
        const uint64_t slowest = LongestGap([] { return DriveHeld(); },
                                            [&] {
                                                user = AnswerPromptAfter(10000, answered);
                                                path.start();
                                            },
                                            [&] {
                                                if (!answered && path.done()) doneBeforeTheAnswer = true;
                                                return answered && path.done();
                                            });
        user.join();
        EXPECT_FALSE(doneBeforeTheAnswer);
        EXPECT_LE(slowest, 100u);
        EXPECT_EQ(view.Boxes().size() - boxesBefore, path.boxes);
    }
}

TEST_F(DialogsTest, TheWindowAnswersThroughoutTheRecoverysFormat) {
    navisim::CreateUnit(Unit());
    view.AnswerFormat(true);
    view.AnswerNextDialog(ids::kConfirmationDialog, platform::IDOK);
    bool chosen = false;
    const uint64_t slowest = LongestGap(
        [&] {
            chosen = true;
            window->OnCommand(ids::kMenuRecovery);
        },
        [&] { return chosen && view.FormatsAsked() == 1 && DriveHeld(); });
    EXPECT_LE(slowest, 100u);
    // Formatted, the unit has no identity files, and is held again by its drive all the same.
    EXPECT_FALSE(std::filesystem::exists(navisim::UnitFiles("navi") / "UPDATE"));
    EXPECT_EQ(window->NaviConnected, 1);
}

// Two USB sticks without a letter come before the unit: each keeps its trial letter 5 s, on a
// timer. The session's end in such a wait takes the trial letter back at once.
class LetterRecoveryWindowTest : public DialogsTest {
protected:
    void SetUp() override {
        DialogsTest::SetUp();
        sticks = {navisim::AddVolume("stick1", platform::DRIVE_REMOVABLE, "STICK1", "drives/stick1", {}, "USB"),
                  navisim::AddVolume("stick2", platform::DRIVE_REMOVABLE, "STICK2", "drives/stick2", {}, "USB")};
        navisim::CreateUnit(Unit());
        navisim::DropLetter("navi");
        view.AnswerNextBox(platform::IDOK);  // the recognition's question
    }
    // The letters that name one of the sticks.
    std::string StickLetters() {
        std::string letters;
        for (char letter = 'D'; letter <= 'Z'; ++letter) {
            char name[260] = {};
            if (platform::GetVolumeNameForVolumeMountPointA((std::string(1, letter) + ":\\").c_str(), name,
                                                            sizeof name) &&
                std::find(sticks.begin(), sticks.end(), name) != sticks.end())
                letters += letter;
        }
        return letters;
    }
    std::vector<std::string> sticks;
};

TEST_F(LetterRecoveryWindowTest, TheWindowAnswersThroughoutTheLetterRecovery) {
    uint64_t chosenAt = 0;
    const uint64_t slowest = LongestGap([] { return true; },
                                        [&] {
                                            chosenAt = platform::GetTickCount64();
                                            window->OnCommand(ids::kMenuRecognise);
                                        },
                                        [&] { return window->NaviConnected == 1; });
    EXPECT_LE(slowest, 100u);
    EXPECT_GE(platform::GetTickCount64() - chosenAt, 2 * 5000u);
    EXPECT_EQ(view.Boxes().size(), 1u);  // the question, and no error
    EXPECT_EQ(StickLetters(), "");
}

TEST_F(LetterRecoveryWindowTest, TheSessionsEndTakesATrialLetterBackAtOnce) {
    std::string duringTrial, afterEnd;
    Run({Do([&] { window->OnCommand(ids::kMenuRecognise); }), Do([&] {
             duringTrial = StickLetters();
             EXPECT_TRUE(EndSession(*window));
             afterEnd = StickLetters();
         }),
         Until([] { return false; })},
        true);
    EXPECT_EQ(duringTrial, "D");
    EXPECT_EQ(afterEnd, "");
    window.reset();
    EXPECT_EQ(StickLetters(), "");
    EXPECT_EQ(theApp.Navi.NaviDrive, "");
}

TEST_F(DialogsTest, TheSessionsEndLetsTheHeldUnitGoWithoutWaiting) {
    navisim::CreateUnit(Unit());
    uint64_t took = 0;
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             const uint64_t before = platform::GetTickCount64();
             EXPECT_TRUE(EndSession(*window));
             took = platform::GetTickCount64() - before;
         }),
         Until([] { return false; })},
        true);
    EXPECT_LT(took, 100u);
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
}

TEST_F(DialogsTest, FolderSelectionWritesTheFolderBackAndReloadsTheHistory) {
    std::filesystem::create_directories(world.root + "/other");
    TestWorld::WriteFile(
        world.root + "/other/History.ini",
        "[HISTORY1]\r\nNAME=他の版\r\nSTATUS=ダウンロード完了\r\nVERSION=2025101\r\nSIZE=2.000000\r\nFOLDER=" +
            world.Win(world.root + "/other") + "\r\n");
    theApp.SettingsIniPath = world.Win(world.root + "/program/Veltrane.ini");
    view.AnswerFolderBrowser(world.Win(world.root + "/other"));
    Run({Do([&] { window->OnKeyDown(platform::VK_F3); }), Until([&] { return window->PcMapData.size() == 1; })});
    EXPECT_EQ(theApp.MapFolder, world.Win(world.root + "/other"));
    EXPECT_EQ(theApp.HistoryIniPath, theApp.MapFolder + "\\History.ini");
    EXPECT_NE(TestWorld::ReadFile(world.root + "/program/Veltrane.ini").find("MAPFOLDER=" + theApp.MapFolder),
              std::string::npos);
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 0, 1), "他の版");
    EXPECT_EQ(Text(ids::kDriveText), "Zドライブ");
    EXPECT_EQ(Text(ids::kFreeSpaceText).rfind("残り ", 0), 0u);
}

TEST_F(DialogsTest, MenuItemsAndFolderSelectionWaitForTheJobs) {
    view.AnswerFolderBrowser(world.Win(world.root));
    std::string before = theApp.MapFolder;
    // A deletion job that runs until the test lets it end.
    std::mutex gate;
    gate.lock();
    theApp.DeleteThreadHandle.Start([&] { std::lock_guard wait(gate); });
    window->OnInitMenu();
    EXPECT_FALSE(view.IsMenuItemEnabled(kMain, ids::kMenuFolder));
    EXPECT_FALSE(view.IsMenuItemEnabled(kMain, ids::kMenuRecovery));
    EXPECT_FALSE(view.IsMenuItemEnabled(kMain, ids::kMenuExit));
    EXPECT_TRUE(view.IsMenuItemEnabled(kMain, ids::kMenuVersion));
    window->OnNotify(kNotifyKeyF3, 0);
    EXPECT_EQ(theApp.MapFolder, before);
    gate.unlock();
    theApp.DeleteThreadHandle.JoinAndClose();
    window->OnInitMenu();
    EXPECT_TRUE(view.IsMenuItemEnabled(kMain, ids::kMenuFolder));
    EXPECT_TRUE(view.IsMenuItemEnabled(kMain, ids::kMenuExit));
}

TEST_F(DialogsTest, TheRemoveButtonLetsGoOfTheUnitAndEjectsIt) {
    navisim::CreateUnit(Unit());
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             window->OnCommand(ids::kRemoveButton);
             view.DeviceChanged();
         }),
         Until([&] { return window->NaviConnected == 0; })});
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
    EXPECT_EQ(Text(ids::kConnectionText), "未接続");
    EXPECT_FALSE(Enabled(ids::kRemoveButton));
}
