// The main window on the headless front end: the unit coming and going, the buttons, the
// remaining times and the reactions to the jobs' end messages.
#include <gtest/gtest.h>

#include "WindowWorld.h"
#include "device/NaviDriveImage.h"
#include "state/ResourceIds.h"
#include "state/ResultTable.h"
#include "platform/Clock.h"
#include "platform/sim/Machine.h"
#include "support/ShippedMessages.h"

namespace {
constexpr char kConnectedText[] =
    "ナビゲーションとパソコンの接続が確認されました。\r\n"
    "ナビゲーションへバージョンアップ(地図更新)"
    "データの転送を開始するには、データを選択してから「転送開始」ボタンをクリックしてください。";
constexpr char kPullCableText[] = "ナビゲーションとパソコンを接続しているUSBケーブルを外してください。";
}  // namespace

class WindowTest : public WindowWorld {};

TEST_F(WindowTest, StartWithoutAUnitLooksForOneAndLeavesTheWindowUnconnected) {
    uint64_t start = platform::GetTickCount64();
    Run({Until([&] { return platform::GetTickCount64() >= start + 5000 || !view.Boxes().empty(); })});
    EXPECT_NE(Text(ids::kConnectionText), "接続済み");
    EXPECT_FALSE(Enabled(ids::kRemoveButton));
    EXPECT_EQ(Text(ids::kStatusLine), "");
    EXPECT_EQ(window->NaviConnected, 0);
    // The failed offer asks nothing of the user.
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_EQ(window->DownloadButtonMode, DownloadFace::Start);
    EXPECT_TRUE(Enabled(ids::kDownloadButton));
}

TEST_F(WindowTest, StartWithAUnitHoldsItTwoSecondsLater) {
    navisim::CreateUnit(Unit());
    uint64_t start = platform::GetTickCount64();
    uint64_t connectedAt = 0;
    // The lock try runs beside the window, which takes its answer on the hold's step timer.
    Run({Until([&] {
        if (window->NaviConnected != 1) return false;
        connectedAt = platform::GetTickCount64();
        return true;
    })});
    EXPECT_EQ(Text(ids::kConnectionText), "接続済み");
    EXPECT_GE(connectedAt - start, 2000u);
    EXPECT_LT(connectedAt - start, 2200u);
    EXPECT_EQ(Text(ids::kStatusLine), kConnectedText);
    EXPECT_TRUE(Enabled(ids::kRemoveButton));
    EXPECT_EQ(window->NaviConnected, 1);
    EXPECT_NE(theApp.Navi.DriveHandle.load(), nullptr);
}

TEST_F(WindowTest, PullingTheCableShowsUnconnectedUnlessACompletionTextShows) {
    navisim::CreateUnit(Unit());
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             navisim::Unplug("navi");
             Notify(kNotifyDeviceChange);
         }),
         Until([&] { return window->NaviConnected == 0; })});
    EXPECT_EQ(Text(ids::kConnectionText), "未接続");
    EXPECT_EQ(Text(ids::kStatusLine), kPullCableText);
    EXPECT_FALSE(Enabled(ids::kRemoveButton));
}

TEST_F(WindowTest, PullingTheCableKeepsATransferCompletionText) {
    navisim::CreateUnit(Unit());
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             window->CurrentDataName = "2026年春版";
             window->SetStatusText(StatusText::TransferDone);
             navisim::Unplug("navi");
             Notify(kNotifyDeviceChange);
         }),
         Until([&] { return window->NaviConnected == 0; })});
    EXPECT_EQ(Text(ids::kConnectionText), "未接続");
    EXPECT_EQ(Text(ids::kStatusLine).rfind("お待たせ致しました。地図【2026年春版】の転送が完了しました。", 0), 0u);
}

TEST_F(WindowTest, AUnitPulledBeforeItIsHeldIsNotRetried) {
    navisim::CreateUnit(Unit());
    uint64_t start = platform::GetTickCount64();
    // Found (code 15 starts the hold timer), then pulled before the timer's first tick.
    Run({Do([&] {
             navisim::Unplug("navi");
             Notify(kNotifyDeviceChange);
         }),
         Until([&] { return platform::GetTickCount64() >= start + 10000; })});
    EXPECT_NE(Text(ids::kConnectionText), "接続済み");
    EXPECT_EQ(window->NaviConnected, 0);
    EXPECT_TRUE(view.Boxes().empty());
}

TEST_F(WindowTest, ButtonEnableSetsEachModesButtons) {
    using Row = std::vector<int>;  // download, transfer, delete, PC area, remove: 1 on, 0 off, -1 unchanged
    const std::map<int, Row> kModes = {
        {1, {0, 0, 0, -1, -1}},   {2, {-1, 0, 0, 0, -1}},   {3, {0, 0, 0, 0, 0}},  {4, {0, 0, 0, 0, 0}},
        {5, {-1, -1, 0, -1, -1}}, {6, {0, -1, -1, -1, -1}}, {7, {0, 0, 0, 0, -1}}, {8, {1, 0, 0, 0, -1}},
    };
    const int kControls[] = {ids::kDownloadButton, ids::kTransferButton, ids::kDeleteButton, ids::kPcArea,
                             ids::kRemoveButton};
    for (bool before : {true, false}) {
        for (const auto& [mode, expected] : kModes) {
            for (int id : kControls) view.EnableControl(kMain, id, before);
            window->ButtonEnable(static_cast<ButtonMode>(mode));
            for (size_t i = 0; i < 5; ++i) {
                bool want = expected[i] == -1 ? before : expected[i] == 1;
                EXPECT_EQ(Enabled(kControls[i]), want) << "mode " << mode << " control " << kControls[i];
            }
        }
    }

    // Idle (0 and anything above 8): by the records, the offer and the unit.
    window->PcMapData = {{"2026年春版", "40%完了", "2026041", theApp.MapFolder, 1.0f}};
    for (int mode : {0, 9}) {
        window->ButtonEnable(static_cast<ButtonMode>(mode));
        EXPECT_TRUE(Enabled(ids::kDownloadButton));
        EXPECT_FALSE(Enabled(ids::kTransferButton));
        EXPECT_TRUE(Enabled(ids::kDeleteButton));
        EXPECT_TRUE(Enabled(ids::kPcArea));
        EXPECT_FALSE(Enabled(ids::kRemoveButton));
    }
    theApp.OfferName = "2026年春版";
    window->DownloadJob.start.unified_map_ver_gen = "2026";
    window->DownloadJob.start.unified_map_ver_major = "04";
    window->DownloadJob.start.unified_map_ver_minor = "1";
    window->PcMapData[0].status = kStatusDownloaded;
    theApp.Navi.NaviDrive = "E:\\";
    window->ButtonEnable(ButtonMode::Idle);
    EXPECT_FALSE(Enabled(ids::kDownloadButton));  // the offer is on this PC already
    EXPECT_TRUE(Enabled(ids::kTransferButton));
    EXPECT_TRUE(Enabled(ids::kRemoveButton));
}

TEST_F(WindowTest, CheckDownloadStateFindsTheOfferAmongTheRecords) {
    theApp.OfferName = "2026年春版";
    window->DownloadJob.start.unified_map_ver_gen = "2026";
    window->DownloadJob.start.unified_map_ver_major = "04";
    window->DownloadJob.start.unified_map_ver_minor = "1";
    EXPECT_EQ(window->CheckDownloadState(), DownloadState::NotDownloaded);
    window->PcMapData = {{"2025年秋版", kStatusDownloaded, "2025101", "C:\\maps", 3.0f},
                         {"2026年春版", "40%完了", "2026041", "C:\\maps", 1.0f}};
    EXPECT_EQ(window->CheckDownloadState(), DownloadState::Unfinished);
    EXPECT_EQ(window->CurrentDownload.status, "40%完了");
    window->PcMapData[1].status = kStatusDownloaded;
    EXPECT_EQ(window->CheckDownloadState(), DownloadState::Downloaded);
    // Another name with the offer's version is the offer too.
    window->PcMapData[1].name = "2026年春版(旧)";
    EXPECT_EQ(window->CheckDownloadState(), DownloadState::Downloaded);
    window->PcMapData[1].version = "2026040";
    EXPECT_EQ(window->CheckDownloadState(), DownloadState::NotDownloaded);
}

TEST_F(WindowTest, TheButtonIconsFollowTheFaceAndTheEnabling) {
    view.EnableControl(kMain, ids::kDownloadButton, true);
    view.EnableControl(kMain, ids::kTransferButton, false);
    window->RedrawButtonIcons();
    EXPECT_EQ(view.ControlState(kMain, ids::kDownloadButton).icon, 204);
    EXPECT_EQ(view.ControlState(kMain, ids::kTransferButton).icon, 195);
    window->DownloadButtonMode = DownloadFace::Resume;
    view.EnableControl(kMain, ids::kDownloadButton, false);
    window->RedrawButtonIcons();
    EXPECT_EQ(view.ControlState(kMain, ids::kDownloadButton).icon, 208);
    window->DownloadButtonMode = DownloadFace::Pause;
    window->RedrawButtonIcons();
    EXPECT_EQ(view.ControlState(kMain, ids::kDownloadButton).icon, 206);
}

TEST_F(WindowTest, RemainingTimesShowHoursCappedAtSixty) {
    EXPECT_EQ(RemainingTimeText("ダウンロード : ", 61), "ダウンロード : 1時間1分");
    EXPECT_EQ(RemainingTimeText("ダウンロード : ", 45), "ダウンロード : 45分");
    EXPECT_EQ(RemainingTimeText("ダウンロード : ", 4210), "ダウンロード : 60時間10分");

    // A transfer's last minute leaves the text as it was.
    view.SetControlText(kMain, ids::kTransferTimeText, "地図転送 : 3分");
    theApp.TransferRemainMinutes = 1;
    window->OnTimer(kTimerTransferTime);
    EXPECT_EQ(Text(ids::kTransferTimeText), "地図転送 : 3分");
    theApp.TransferRemainMinutes = 2;
    window->OnTimer(kTimerTransferTime);
    EXPECT_EQ(Text(ids::kTransferTimeText), "地図転送 : 2分");
}

TEST_F(WindowTest, RemainingDownloadTimeUsesTheRemainingBytesAtTheLastMeasuredRate) {
    constexpr double kMiB = 1048576;
    DOWNLOAD_JOB& job = window->DownloadJob;
    job.expectedBytes = 100 * kMiB;
    job.downloadedBytes = 39 * kMiB;
    // Nothing measured yet: no estimate, no text.
    window->OnTimer(kTimerDownloadTime);
    EXPECT_EQ(Text(ids::kDownloadTimeText), "");
    EXPECT_EQ(RemainingDownloadMinutes(job), 0);

    // 61 MiB left at 1 MiB a minute.
    job.measuredBytes = static_cast<int64_t>(kMiB);
    job.measuredMilliseconds = 60000;
    window->OnTimer(kTimerDownloadTime);
    EXPECT_EQ(Text(ids::kDownloadTimeText), "ダウンロード : 1時間1分");
    EXPECT_EQ(theApp.DownloadMinutesLeft.load(), 61);

    // Done, or a rate that would overflow: nothing new is shown, nothing breaks.
    job.downloadedBytes = 100 * kMiB;
    EXPECT_EQ(RemainingDownloadMinutes(job), 0);
    job.downloadedBytes = 0;
    job.measuredBytes = 1;
    job.measuredMilliseconds = 2000000000;
    EXPECT_EQ(RemainingDownloadMinutes(job), std::numeric_limits<int32_t>::max());
}

TEST_F(WindowTest, AFailedTransferReportsAShortCodeOfOneToSeventeen) {
    EXPECT_EQ(TransferFailureCode(532), "E12");
    EXPECT_EQ(TransferFailureCode(999), "E15");  // "E99" is above 17
    EXPECT_EQ(TransferFailureCode(401), "E15");  // "E02-1" is not three characters
    EXPECT_EQ(TransferFailureCode(522), "E16");
    EXPECT_EQ(TransferFailureCode(505), "E02");

    // The window shows the job's message with that code.
    theApp.Navi.TransferRunning = 1;
    Run({Do([&] { Notify(kNotifyTransferFailed, 532); }), Until([&] { return !view.Boxes().empty(); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_NE(view.Boxes()[0].request.text.find("E12"), std::string::npos);
    EXPECT_EQ(theApp.Navi.TransferRunning.load(), 0);
}

TEST_F(WindowTest, AFinishedDownloadDoesNotPretendThatAUnitIsConnected) {
    // Without a unit: after the download's end the unit is looked for, not assumed.
    uint64_t start = platform::GetTickCount64();
    Run({Do([&] {
             window->PcMapData = {{"2026年春版", "90%完了", "2026041", theApp.MapFolder, 1.0f}};
             window->DownloadRecord = 0;
             Notify(kNotifyDownloadDone);
         }),
         Until([&] { return platform::GetTickCount64() >= start + 10000; })});
    EXPECT_NE(Text(ids::kConnectionText), "接続済み");
    EXPECT_NE(Text(ids::kStatusLine), kConnectedText);
    EXPECT_EQ(window->PcMapData[0].status, kStatusDownloaded);
    // The completion box, and the record saved.
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.caption, "ダウンロードの完了");
    EXPECT_NE(TestWorld::ReadFile(History()).find("STATUS=ダウンロード完了"), std::string::npos);
}

TEST_F(WindowTest, AFinishedTransferEjectsTheUnitAndTheWindowFollows) {
    navisim::CreateUnit(Unit());
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             theApp.Navi.TransferRunning = 1;
             window->CurrentDataName = "2026年春版";
             Notify(kNotifyTransferDone);
         }),
         // Timer 4 and the device change of the eject may come in either order.
         Until([&] { return window->NaviConnected == 0 && view.GetCellText(ids::kNaviArea, 0, 2) != ""; })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.caption, "転送の完了");
    EXPECT_NE(view.Boxes()[0].request.text.find("【2026年春版】"), std::string::npos);
    EXPECT_EQ(Text(ids::kConnectionText), "未接続");
    EXPECT_FALSE(Enabled(ids::kRemoveButton));
    EXPECT_EQ(view.GetCellText(ids::kNaviArea, 0, 2), "ナビ転送完了");
    EXPECT_EQ(theApp.Navi.TransferRunning.load(), 0);
}

TEST_F(WindowTest, AStoppedDownloadMarksTheRecordBeingDownloaded) {
    // The resumed download is the first record, not the last.
    theApp.OfferName = "2026年春版";
    window->DownloadJob.start.unified_map_ver_gen = "2026";
    window->DownloadJob.start.unified_map_ver_major = "04";
    window->DownloadJob.start.unified_map_ver_minor = "1";
    window->PcMapData = {{"2026年春版", "10%完了", "2026041", theApp.MapFolder, 0.5f},
                         {"2025年秋版", kStatusDownloaded, "2025101", theApp.MapFolder, 3.0f}};
    window->SetHistoryData();  // the window loads them at its start
    theApp.DownloadPercent = 40;
    theApp.DownloadedBytes = 1.5 * 1073741824.0;
    Run({Do([&] {
             window->DownloadRecord = 0;
             Notify(kNotifyDownloadStopped);
         }),
         Until([&] { return Text(ids::kStatusLine) != ""; })});
    EXPECT_EQ(window->PcMapData[0].status, "40%完了");
    EXPECT_FLOAT_EQ(window->PcMapData[0].size, 1.5f);
    EXPECT_EQ(window->PcMapData[1].status, kStatusDownloaded);
    EXPECT_FLOAT_EQ(window->PcMapData[1].size, 3.0f);
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 0, 2), "40%完了");
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 1, 2), kStatusDownloaded);
    EXPECT_EQ(Text(ids::kDownloadButton), "ﾀﾞｳﾝﾛｰﾄﾞ再開  ");
    EXPECT_EQ(Text(ids::kStatusLine).rfind("「ﾀﾞｳﾝﾛｰﾄﾞ再開」ボタンを押すと", 0), 0u);
}

TEST_F(WindowTest, FunctionKeysPostTheirCodes) {
    Run({Do([&] {
             window->OnKeyDown(platform::VK_F5);  // posted, and nothing reacts
             window->OnKeyDown(platform::VK_F1);
         }),
         Until([&] { return !view.ShellOpened().empty(); })});
    ASSERT_EQ(view.ShellOpened().size(), 1u);
    EXPECT_EQ(view.ShellOpened()[0], kManualUrl);
    EXPECT_TRUE(view.Boxes().empty());
}

// The menu and button commands that act on the unit, each with what the user reads.
TEST_F(WindowTest, ReRecognitionGivesALostUnitALetterOrSaysNoneWasFound) {
    navisim::CreateUnit(Unit());
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             navisim::DropLetter("navi");
             Notify(kNotifyDeviceChange);
         }),
         Until([&] { return window->NaviConnected == 0; }), Do([&] {
             view.AnswerNextBox(platform::IDOK);
             window->OnCommand(ids::kMenuRecognise);
         }),
         Until([&] { return window->NaviConnected == 1; })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.caption, "ナビゲーションの再認識");
    EXPECT_EQ(view.Boxes()[0].request.type, platform::MB_OKCANCEL | platform::MB_ICONINFORMATION);
    EXPECT_NE(theApp.Navi.NaviDrive, "");

    // Without any unit: the built-in answer, under the same caption.
    navisim::Unplug("navi");
    Run({Do([&] {
        Notify(kNotifyDeviceChange);
        view.AnswerNextBox(platform::IDOK);
        window->OnCommand(ids::kMenuRecognise);
    })});
    ASSERT_EQ(view.Boxes().size(), 3u);
    EXPECT_EQ(view.Boxes()[2].request.text, shipped::Message(1102, ""));
    EXPECT_EQ(view.Boxes()[2].request.caption, "ナビゲーションの再認識");

    // Cancel asks and does nothing more.
    view.AnswerNextBox(platform::IDCANCEL);
    Run({Do([&] { window->OnCommand(ids::kMenuRecognise); })});
    EXPECT_EQ(view.Boxes().size(), 4u);
}

TEST_F(WindowTest, RecoveryFormatsTheUnitOnlyAfterItsConfirmation) {
    navisim::CreateUnit(Unit());
    const std::filesystem::path mapVersion = navisim::UnitFiles("navi") / "MAP" / "MAP.VER";
    view.AnswerFormat(true);
    view.AnswerNextDialog(ids::kConfirmationDialog, platform::IDCANCEL);
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] { window->OnCommand(ids::kMenuRecovery); })});
    EXPECT_TRUE(std::filesystem::exists(mapVersion));
    EXPECT_NE(Text(ids::kStatusLine), "ナビゲーションのリカバリーが完了しました。");

    view.AnswerNextDialog(ids::kConfirmationDialog, platform::IDOK);
    // The format runs beside the window; the unit is held again after it.
    Run({Do([&] { window->OnCommand(ids::kMenuRecovery); }),
         Until([&] { return view.FormatsAsked() == 1 && DriveHeld(); })});
    EXPECT_FALSE(std::filesystem::exists(mapVersion));
    EXPECT_TRUE(navisim::Check("navi", std::nullopt).bootSignature0);
    EXPECT_EQ(Text(ids::kStatusLine), "ナビゲーションのリカバリーが完了しました。");
    // The volume is held again for the unit.
    EXPECT_NE(theApp.Navi.DriveHandle.load(), nullptr);
    EXPECT_TRUE(view.Boxes().empty());
}

TEST_F(WindowTest, RecoveryClaimsNothingWhenNoFormatRan) {
    navisim::CreateUnit(Unit());
    const std::filesystem::path mapVersion = navisim::UnitFiles("navi") / "MAP" / "MAP.VER";
    // The shell's format dialog cancelled: the unit is as it was, and held again.
    view.AnswerFormat(false);
    view.AnswerNextDialog(ids::kConfirmationDialog, platform::IDOK);
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] { window->OnCommand(ids::kMenuRecovery); }),
         Until([&] { return view.FormatsAsked() == 1 && DriveHeld(); })});
    EXPECT_TRUE(std::filesystem::exists(mapVersion));
    EXPECT_EQ(Text(ids::kStatusLine), "");
    EXPECT_NE(theApp.Navi.DriveHandle.load(), nullptr);

    // No unit at all: it is said so, and nothing is claimed.
    Run({Do([&] { navisim::Unplug("navi"); }), Until([&] { return theApp.Navi.NaviDrive.empty(); })});
    view.AnswerNextDialog(ids::kConfirmationDialog, platform::IDOK);
    Run({Do([&] { window->OnCommand(ids::kMenuRecovery); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.text, shipped::Message(501, "E02"));
    EXPECT_NE(Text(ids::kStatusLine), "ナビゲーションのリカバリーが完了しました。");
}

TEST_F(WindowTest, TheRemoveButtonSaysWhichStepFailed) {
    navisim::CreateUnit(Unit());
    // The unit is gone before its volume could be reopened: E00.
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             navisim::Unplug("navi");
             window->OnCommand(ids::kRemoveButton);
         }),
         Until([&] { return !view.Boxes().empty(); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.text, shipped::Message(2100, "E00"));
    EXPECT_EQ(view.Boxes()[0].request.caption, "ナビ取り外し");

    // Back again, but something vetoes the eject: E01.
    navisim::Plug("navi");
    Run({Until([&] { return window->NaviConnected == 1; }), Do([&] {
             platform::ModifyMachine([](platform::ProfileDocument& doc) {
                 for (const std::string& section : doc.Sections())
                     if (section.rfind("Device ", 0) == 0 && doc.Get(section, "Unit") == "navi")
                         doc.Set(section, "EjectVetoed", "always");
                 return true;
             });
             window->OnCommand(ids::kRemoveButton);
         }),
         Until([&] { return view.Boxes().size() == 2; })});
    ASSERT_EQ(view.Boxes().size(), 2u);
    EXPECT_EQ(view.Boxes()[1].request.text, shipped::Message(2100, "E01"));
}
