// The window's whole workflow on the headless front end against mapservice, an update set made by
// mkupdate and a unit made by navisim. This file is UTF-8: the window's CP932 texts are compared
// through J().
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "WorkflowWorld.h"
#include "device/NaviDriveImage.h"
#include "platform/Drives.h"
#include "platform/sim/Machine.h"
#include "support/PlainServer.h"
#include "support/SquidProxy.h"
#include "ui/script/Script.h"
#include "ui/script/ScriptDriver.h"

namespace fs = std::filesystem;

using WorkflowTest = WorkflowWorld;

TEST_F(WorkflowTest, TheOfferShowsOnceTheWindowIsOpenAndFindsAnEarlierDownload) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    EarlierDownload();
    Run({Until([&] { return !theApp.OfferName.empty(); })});
    EXPECT_EQ(theApp.OfferName, OfferName());
    EXPECT_EQ(window->OfferVersion(), "20260411");
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 1), OfferName());
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 2), J("ダウンロード完了"));
    EXPECT_FALSE(Enabled(ids::kDownloadButton));
    EXPECT_TRUE(Enabled(ids::kTransferButton));
    EXPECT_TRUE(view.Boxes().empty());
}

TEST_F(WorkflowTest, AnOfferTheServiceRefusesLeavesTheServerAreaEmptyWithoutABox) {
    config.resultFaults["MDL"] = {{}, "E00", "E02"};
    StartService();
    Run({Until([&] { return CallLog().find("\"call\":\"MDL\"") != std::string::npos; })});
    EXPECT_EQ(theApp.OfferName, "");
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 1), "");
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_TRUE(Enabled(ids::kDownloadButton));
}

TEST_F(WorkflowTest, DownloadThenTransferOntoTheUnit) {
    mkupdate::Contents contents = mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    navisim::CreateUnit(Unit());
    Run({Until([&] { return !theApp.OfferName.empty() && window->NaviConnected == 1; }),
         Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return BoxCaptioned("ダウンロードの完了"); }),
         Until([&] { return theApp.DownloadThreadHandle.IsNull() && window->NaviConnected == 1; }), Do([&] {
             CheckRow(0);
             window->OnCommand(ids::kTransferButton);
         }),
         Until([&] { return BoxCaptioned("転送の完了"); }), Until([&] {
             return theApp.TransferThreadHandle.IsNull() && window->NaviConnected == 0 &&
                    CallLog().find("\"call\":\"TSC\"") != std::string::npos;
         })});

    // Both jobs on the taskbar button, gone again when each ended; the window was in front, so
    // nothing flashed and no notice came.
    using platform::TaskbarProgress;
    std::vector<HeadlessView::TaskbarRecord> taskbar = view.TaskbarStates();
    ASSERT_FALSE(taskbar.empty());
    EXPECT_EQ(taskbar.front(), (HeadlessView::TaskbarRecord{TaskbarProgress::Normal, 0}));
    EXPECT_EQ(taskbar.back(), (HeadlessView::TaskbarRecord{TaskbarProgress::None, 0}));
    EXPECT_EQ(std::count(taskbar.begin(), taskbar.end(), HeadlessView::TaskbarRecord{TaskbarProgress::None, 0}), 2);
    EXPECT_EQ(view.Flashes(), 0);
    EXPECT_TRUE(view.Notices().empty());

    // The download: both areas and the history say so; the offer's size came with its description
    // (one MapSize unit, under 0.05 GB).
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 2), J("ダウンロード完了"));
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 3), "0.0GB");
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 0, 2), J("ダウンロード完了"));
    EXPECT_NE(TestWorld::ReadFile(History()).find(J("STATUS=ダウンロード完了")), std::string::npos);
    // The transfer: confirmed in its dialog, the unit written and ejected, the service told.
    EXPECT_EQ(view.Opened(), (std::vector<int>{platform::IDD_MAIN_WINDOW, ids::kConfirmationDialog}));
    EXPECT_EQ(view.GetCellText(ids::kNaviArea, 0, 2), J("ナビ転送完了"));
    EXPECT_EQ(Text(ids::kConnectionText), J("未接続"));
    EXPECT_FALSE(Enabled(ids::kRemoveButton));
    std::string log = CallLog();
    size_t completion = log.find("\"call\":\"TSC\"");
    ASSERT_NE(completion, std::string::npos);
    EXPECT_NE(log.find("<maptrs_failure_cd></maptrs_failure_cd>", completion), std::string::npos);

    // The PC was kept awake through both jobs and let sleep again after them; the session's
    // end was refused with a reason only while the transfer ran.
    EXPECT_EQ(view.AwakeWhenPosted(kNotifyDownloadDone), 1);
    EXPECT_EQ(view.AwakeWhenPosted(kNotifyTransferDone), 1);
    EXPECT_EQ(platform::AwakeRequests(), 0);
    EXPECT_EQ(view.SessionEndBlocks(),
              (std::vector<std::string>{J("ナビへの転送中です。USBケーブルを外さないでください。"), ""}));

    navisim::CheckReport report = CheckUnitHolds(contents.image);
    EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
    EXPECT_TRUE(report.bootSignature0);
    EXPECT_TRUE(report.bootSignature2560);
    for (auto& box : view.Boxes())
        EXPECT_EQ(box.request.caption.find(J("エラー")), std::string::npos) << *platform::Cp932ToUtf8(box.request.text);
}

namespace {

// Every file under a folder with its bytes, by path.
std::map<std::string, std::string> FolderContents(const fs::path& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        contents[entry.path().string()] = entry.is_regular_file() ? TestWorld::ReadFile(entry.path().string()) : "";
    return contents;
}

}  // namespace

// The status says the unit is there while the hold's lock try is still out (a desktop user's
// prompt not yet answered): a transfer pressed then starts once the unit is held, with no box
// saying that no unit is connected.
TEST_F(WorkflowTest, ATransferPressedDuringTheHoldsLockTryStartsOnceTheUnitIsHeld) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    EarlierDownload();
    navisim::CreateUnit(Unit());
    navisim::Faults prompt;
    prompt.promptWaiting = "Lock";
    navisim::SetFaults("navi", prompt);
    Run({Until([&] { return !theApp.OfferName.empty() && Text(ids::kConnectionText) == J("接続済み"); }), Do([&] {
             CheckRow(0);
             window->OnCommand(ids::kTransferButton);
             navisim::ClearFaults("navi");
         }),
         Until([&] { return BoxCaptioned("転送の完了") && theApp.TransferThreadHandle.IsNull(); })});
    EXPECT_EQ(view.Opened(), (std::vector<int>{platform::IDD_MAIN_WINDOW, ids::kConfirmationDialog}));
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.GetCellText(ids::kNaviArea, 0, 2), J("ナビ転送完了"));
}

TEST_F(WorkflowTest, ACopyOfTheUnitsFilesOnAnotherStickIsNeverWritten) {
    mkupdate::Contents contents = mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    // A stick of another make on the lower letter, holding the unit's identity files.
    navisim::UnitOptions stick = Unit();
    stick.name = "stick";
    stick.letter = 'D';
    stick.friendlyName = "Generic Flash Disk USB Device";
    stick.instanceId = "USBSTOR\\DISK&VEN_GENERIC&PROD_FLASH_DISK&REV_8.07\\0123456789AB&0";
    navisim::CreateUnit(stick);
    navisim::CreateUnit(Unit());
    ASSERT_EQ(platform::MachineDescription().Get("Drive D", "Volume"), "stick");
    ASSERT_EQ(platform::MachineDescription().Get("Drive E", "Volume"), "navi");
    const std::string stickVolume = TestWorld::ReadFile(navisim::UnitImage("stick").string());
    const auto stickFiles = FolderContents(navisim::UnitFiles("stick"));
    ASSERT_TRUE(stickFiles.count((navisim::UnitFiles("stick") / "UPDATE/NAVIINFO/DEVICE.DAT").string()));

    Run({Until([&] { return Ready(); }), Do([&] { EXPECT_EQ(theApp.Navi.NaviDrive, "E:\\"); }),
         Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return BoxCaptioned("ダウンロードの完了"); }),
         Until([&] { return theApp.DownloadThreadHandle.IsNull() && window->NaviConnected == 1; }), Do([&] {
             CheckRow(0);
             window->OnCommand(ids::kTransferButton);
         }),
         Until([&] { return BoxCaptioned("転送の完了"); }),
         Until([&] { return theApp.TransferThreadHandle.IsNull() && window->NaviConnected == 0; })});

    EXPECT_TRUE(TestWorld::ReadFile(navisim::UnitImage("stick").string()) == stickVolume)
        << "the stick's volume was written";
    EXPECT_TRUE(FolderContents(navisim::UnitFiles("stick")) == stickFiles) << "the stick's files changed";
    EXPECT_EQ(platform::MachineDescription().Get("Unit stick", "Plugged"), "1") << "the stick was ejected";
    EXPECT_EQ(platform::MachineDescription().Get("Unit navi", "Plugged"), "0") << "the unit was not ejected";
    navisim::CheckReport report = CheckUnitHolds(contents.image);
    EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
    EXPECT_TRUE(fs::exists(navisim::UnitFiles("navi") / "UPDATE/RENEWAL/VERINFO.DAT"));
}

TEST_F(WorkflowTest, PauseAndResumeTheSameRecord) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    PaceFiles();  // long enough to press pause meanwhile
    StartService();
    view.AnswerNextBox(platform::IDOK);  // the pause question
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return theApp.DownloadedBytes > 0; }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return theApp.DownloadThreadHandle.IsNull() && Text(ids::kStatusLine) != ""; })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.caption, J("ダウンロード中断の確認"));
    EXPECT_EQ(Text(ids::kDownloadButton), J("ﾀﾞｳﾝﾛｰﾄﾞ再開  "));
    ASSERT_EQ(window->PcMapData.size(), 1u);
    std::string paused = window->PcMapData[0].status;
    EXPECT_NE(paused, J("ダウンロード完了"));
    EXPECT_NE(paused.find(J("%完了")), std::string::npos);
    EXPECT_NE(TestWorld::ReadFile(History()).find("STATUS=" + paused), std::string::npos);

    // Resumed after a restart: the offer at start finds the unfinished record.
    config.bytesPerSecond = 0;
    service.reset();
    StartService();
    theApp.OfferName.clear();  // a new run knows no offer until it has asked for it
    window = std::make_unique<CVeltraneDlg>();
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] {
             EXPECT_EQ(Text(ids::kDownloadButton), J("ﾀﾞｳﾝﾛｰﾄﾞ再開  "));
             window->OnCommand(ids::kDownloadButton);
         }),
         Until([&] { return BoxCaptioned("ダウンロードの完了") && theApp.DownloadThreadHandle.IsNull(); })});
    ASSERT_EQ(window->PcMapData.size(), 1u);
    EXPECT_EQ(window->PcMapData[0].status, J("ダウンロード完了"));
    EXPECT_EQ(view.RowCount(ids::kPcArea), 1);
    EXPECT_EQ(TestWorld::ReadFile(History()).find("[HISTORY2]"), std::string::npos);
}

TEST_F(WorkflowTest, ADownloadStartThatFailsThreeTimesShowsE07) {
    config.statusFaults["MDL"].status = 500;
    StartService();
    // The offer at start, then three attempts.
    Run({Until([&] { return Calls("MDL") == 1; }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return Calls("MDL") == 4; })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.text, Message(406, "E07"));
    EXPECT_EQ(Text(ids::kDownloadButton), J("ﾀﾞｳﾝﾛｰﾄﾞ開始  "));
    EXPECT_TRUE(Enabled(ids::kDownloadButton));
    EXPECT_TRUE(window->PcMapData.empty());
}

// The line test before a download trickles from a slow service: the window answers meanwhile,
// and a close abandons the test at once and ends the window with nothing downloaded.
TEST_F(WorkflowTest, TheWindowAnswersDuringTheLineTestAndItsCloseAbandonsTheTest) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    config.bytesPerSecond = 2000;  // the line test's 64 KiB would take half a minute
    StartService();
    view.AnswerNextBox(platform::IDOK);  // a slow line's question, should it come
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return Calls("LineTest") == 1; }), Do([&] { Notify(kNotifyKeyF1); }),
         Until([&] { return view.ShellOpened().size() == 1; }), Do([&] {
             EXPECT_TRUE(view.Boxes().empty()) << "the window answered only after the line test";
             view.CloseAll();
         }),
         Until([] { return false; })},
        true);
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_TRUE(theApp.DownloadThreadHandle.IsNull());
    EXPECT_TRUE(window->PcMapData.empty());
    EXPECT_EQ(Calls("File"), 0u);
}

// A line slower than the recommended speed is asked about first; declined, nothing starts and
// the download button is back as it was.
TEST_F(WorkflowTest, ASlowLineIsAskedAboutAndItsCancelStartsNothing) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    config.bytesPerSecond = 20000;  // 30 kB in a second and a half: a fifth of the recommended speed
    config.lineTestBytes = 30000;
    StartService();
    view.AnswerNextBox(platform::IDCANCEL);
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return !view.Boxes().empty(); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.caption, J("回線速度の確認"));
    EXPECT_EQ(view.Boxes()[0].request.text.rfind(J("お客様がお使いのインターネット回線の速度は"), 0), 0u);
    EXPECT_TRUE(theApp.LineTestThreadHandle.IsNull());
    EXPECT_TRUE(theApp.DownloadThreadHandle.IsNull());
    EXPECT_EQ(Calls("File"), 0u);
    EXPECT_TRUE(Enabled(ids::kDownloadButton));
}

// The line is timed on the machine's clock: the clock the waits use racing ahead (other threads'
// fixed waits, in a test) while a fast line's test runs makes no slow line of it.
TEST_F(WorkflowTest, ALineIsTimedByTheBytesNotByTheWaitsBesideIt) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    config.bytesPerSecond = 1000000;  // 400 kB in 0.4 s: four times the recommended speed
    config.lineTestBytes = 400000;
    StartService();
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] {
             world.clock.Advance(1000);  // a second on the waits' clock for every turn of the window
             return theApp.LineTestThreadHandle.IsNull();
         }),
         Until([&] { return BoxCaptioned("ダウンロードの完了") || BoxCaptioned("回線速度の確認"); }),
         Until([&] { return theApp.DownloadThreadHandle.IsNull(); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.caption, J("ダウンロードの完了"));
}

// The service is reached over verified HTTPS but names its description over plain HTTP: the
// digests would be anybody's on the line, so the download stops with E02 before any file.
TEST_F(WorkflowTest, AnHttpsServiceNamingAPlainDescriptionStopsWithE02) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    mapservice::TestCertificates certificates = mapservice::MakeTestCertificates(world.root + "/tls");
    std::filesystem::copy_file(certificates.caFile, world.root + "/program/ca-bundle.pem");
    config.httpsPort = 0;
    config.certFile = certificates.certFile;
    config.keyFile = certificates.keyFile;
    config.plainDescription = true;
    StartService();
    theApp.ServiceUrl = "https://127.0.0.1:" + std::to_string(service->HttpsPort()) + "/map-dl";
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return !view.Boxes().empty(); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.text, Message(406, "E02"));
    EXPECT_EQ(CallLog().find("MapData.XML"), std::string::npos);
    EXPECT_EQ(CallLog().find("/map-dl/data/"), std::string::npos);
    EXPECT_TRUE(theApp.DownloadThreadHandle.IsNull());
}

TEST_F(WorkflowTest, TheServicesRefusalShowsItsMessage) {
    config.resultFaults["MDL"] = {{}, "E00", "E02"};
    StartService();
    Run({Until([&] { return Calls("MDL") == 1; }), Do([&] { window->OnCommand(ids::kDownloadButton); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.text, Message(102, "E06"));
    EXPECT_EQ(Calls("MapData"), 0u);
}

TEST_F(WorkflowTest, TheTransferButtonRefusesInItsOrder) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    EarlierDownload();
    navisim::UnitOptions unit = Unit();
    unit.version = "2026.0411";  // the offered version already
    navisim::CreateUnit(unit);
    dialogAnswers = {platform::IDCANCEL};
    auto press = [&] { window->OnCommand(ids::kTransferButton); };
    std::vector<std::pair<std::string, std::string>> seen;  // what each press showed
    auto note = [&](const char* what) { seen.emplace_back(what, LastBox()); };
    Run({Until([&] { return Ready(); }), Do([&] {
             press();
             note("nothing checked");
         }),
         Do([&] {
             CheckRow(0);
             press();
             note("this version on the unit");
         }),
         Do([&] {
             window->PcMapData[0].status = J("40%完了");
             press();
             note("unfinished");
             window->PcMapData[0].status = J("ダウンロード完了");
         }),
         Do([&] {
             window->PcMapData[0].version = "20260412";
             press();
             note("other version");
             window->PcMapData[0].version = "20260411";
             window->PcMapData[0].name = "x";
             press();
             note("other name");
             window->PcMapData[0].name = theApp.OfferName;
         }),
         Do([&] {
             theApp.Navi.NaviVersion = "20100601";
             fs::remove_all(Maps() + "/20260411/FLASH2");
             press();
             note("no folder");
             fs::create_directories(Maps() + "/20260411/FLASH2");
         }),
         Do([&] {
             size_t before = view.Boxes().size();
             press();  // the confirmation is cancelled
             seen.emplace_back("cancelled", view.Boxes().size() == before ? "" : LastBox());
         }),
         Do([&] {
             (void)DriveClose();  // the unit is let go; its reopen wait is not under test
             window->NaviConnected = 0;
             press();
             note("not held");
         })});
    std::vector<std::pair<std::string, std::string>> expected = {
        {"nothing checked", Message(500, "E01")},
        {"this version on the unit", Message(505, "E17")},
        {"unfinished", Message(525, "E03")},
        {"other version", Message(524, "")},
        {"other name", Message(524, "E01")},
        {"no folder", Message(534, "E17")},
        {"cancelled", ""},
        {"not held", Message(501, "E02")},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(theApp.TransferThreadHandle.IsNull());
    EXPECT_TRUE(Enabled(ids::kTransferButton));
    EXPECT_EQ(window->CloseEnabled, 1);
}

TEST_F(WorkflowTest, AFailedImageWriteReportsItsCodeAndTheNextPressFinishesIt) {
    mkupdate::Contents contents = mkupdate::BuildUpdateSet(Maps() + "/20260411", {});
    StartService();
    EarlierDownload();
    navisim::CreateUnit(Unit());
    navisim::Faults faults;
    faults.writeFailSector = contents.image.size() / 2 / 512;  // half of the image is written
    navisim::SetFaults("navi", faults);
    view.AnswerFormat(true);
    view.SetWindowInFront(false);
    Run({Until([&] { return Ready(); }), Do([&] {
             CheckRow(0);
             window->OnCommand(ids::kTransferButton);
         }),
         Until([&] { return theApp.TransferThreadHandle.IsNull() && Calls("TSC") == 1 && !view.Boxes().empty(); }),
         // Nothing is formatted unasked: the unit is held again with its transfer to finish.
         Until([&] {
             // The status line shows from the hold's start; the lock try ends beside the window.
             return window->NaviConnected == 1 && DriveHeld() &&
                    Text(ids::kStatusLine).find(J("中断")) != std::string::npos;
         }),
         Do([&] {
             EXPECT_FALSE(navisim::Check("navi", std::nullopt).bootSignature0);
             navisim::ClearFaults("navi");
             window->OnCommand(ids::kTransferButton);
         }),
         Until(
             [&] { return BoxCaptioned("転送の完了") && theApp.TransferThreadHandle.IsNull() && Calls("TSC") == 2; })});
    std::string log = CallLog();
    size_t completion = log.find("\"call\":\"TSC\"");
    ASSERT_NE(completion, std::string::npos);
    size_t code = log.find("<maptrs_failure_cd>", completion);
    ASSERT_NE(code, std::string::npos);
    std::string failure = log.substr(code + 19, 3);
    EXPECT_EQ(failure[0], 'E');
    EXPECT_NE(view.Boxes()[0].request.text.find(failure), std::string::npos);
    EXPECT_EQ(view.Boxes()[0].request.text.find(J("次の手順")), std::string::npos) << "the unit is still there";
    // The taskbar button said the job failed; a short job flashes nothing, seen or not.
    std::vector<HeadlessView::TaskbarRecord> states = view.TaskbarStates();
    EXPECT_TRUE(std::any_of(states.begin(), states.end(),
                            [](const auto& record) { return record.state == platform::TaskbarProgress::Error; }));
    EXPECT_EQ(view.Flashes(), 0);
    EXPECT_FALSE(fs::exists(Maps() + "/Transfer.ini"));
    navisim::CheckReport report = CheckUnitHolds(contents.image, false);
    EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
}

// A transfer that fails after over a minute, with the window in front of the user or not.
class LongJobTest : public WorkflowWorld {
protected:
    void FailALongTransfer(bool inFront) {
        mkupdate::BuildUpdateSet(config.updateSet, {});
        StartService();
        EarlierDownload();
        navisim::CreateUnit(Unit());
        navisim::Faults faults;
        faults.writeFailSector = 8;
        navisim::SetFaults("navi", faults);
        view.AnswerFormat(true);
        view.SetWindowInFront(inFront);
        Run({Until([&] { return Ready(); }), Do([&] {
                 CheckRow(0);
                 window->OnCommand(ids::kTransferButton);
                 // The end is handled after this step: by then the job has run for over a minute.
                 world.clock.Advance(61 * 1000);
             }),
             Until([&] { return theApp.TransferThreadHandle.IsNull() && !view.Boxes().empty(); })});
        EXPECT_EQ(view.TaskbarStates().front(), (HeadlessView::TaskbarRecord{platform::TaskbarProgress::Normal, 0}));
        EXPECT_EQ(view.TaskbarStates().back().state, platform::TaskbarProgress::Error);
    }
};

// The user went to another window during a long transfer: when it fails, the window flashes and
// a notice of the desktop says so, before the box waits in the window.
TEST_F(LongJobTest, EndingUnseenFlashesTheWindowAndSaysHowItEnded) {
    FailALongTransfer(false);
    EXPECT_EQ(view.Flashes(), 1);
    std::vector<HeadlessView::NoticeRecord> notices = view.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].title, J("ヴェルトレーン"));
    EXPECT_EQ(notices[0].text,
              J("地図の転送に失敗しました。\nヴェルトレーンの画面で、エラーの内容と次の手順をご確認ください。"));
    EXPECT_TRUE(notices[0].failed);
}

TEST_F(LongJobTest, EndingInFrontOfTheUserNeedsNoFlashOrNotice) {
    FailALongTransfer(true);
    EXPECT_EQ(view.Flashes(), 0);
    EXPECT_TRUE(view.Notices().empty());
}

TEST_F(WorkflowTest, AUnitPulledDuringTheTransferIsNamedWithTheNextStep) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    EarlierDownload();
    navisim::CreateUnit(Unit());
    navisim::Faults faults;
    faults.vanishAfterBytes = 4096;
    navisim::SetFaults("navi", faults);
    view.AnswerFormat(true);
    Run({Until([&] { return Ready(); }), Do([&] {
             CheckRow(0);
             window->OnCommand(ids::kTransferButton);
         }),
         Until([&] { return theApp.TransferThreadHandle.IsNull() && !view.Boxes().empty(); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    const std::string text = view.Boxes()[0].request.text;
    EXPECT_EQ(text.find(J("ナビゲーションへの地図の転送に失敗しました。")), 0u) << *platform::Cp932ToUtf8(text);
    EXPECT_NE(text.find(shipped::NextStep(shipped::kUnitRemovedStep)), std::string::npos)
        << *platform::Cp932ToUtf8(text);
}

TEST_F(WorkflowTest, DeletingSharedDataAsksAndKeepsItUnsharedDataGoes) {
    StartService();
    EarlierDownload();
    // A second record of the same version.
    std::string history = TestWorld::ReadFile(History());
    std::string second = history;
    second.replace(second.find("HISTORY1"), 8, "HISTORY2");
    TestWorld::WriteFile(History(), history + second);
    view.AnswerNextBox(platform::IDOK);
    view.AnswerNextBox(platform::IDOK);
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] {
             CheckRow(1);
             window->OnCommand(ids::kDeleteButton);
         }),
         Do([&] {
             EXPECT_EQ(window->PcMapData.size(), 2u);
             EXPECT_TRUE(fs::exists(Maps() + "/20260411"));
             // With one record left, its data goes.
             window->PcMapData.pop_back();
             window->SetPcAreaData();
             CheckRow(0);
             window->OnCommand(ids::kDeleteButton);
         }),
         Until([&] { return window->PcMapData.empty() && theApp.DeleteThreadHandle.IsNull(); })});
    EXPECT_EQ(view.Boxes().size(), 2u);
    EXPECT_EQ(view.AwakeWhenPosted(kNotifyDeleteDone), 1);
    EXPECT_EQ(platform::AwakeRequests(), 0);
    EXPECT_FALSE(fs::exists(Maps() + "/20260411"));
    EXPECT_EQ(TestWorld::ReadFile(History()), "");
    EXPECT_EQ(view.RowCount(ids::kPcArea), 0);
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 2), J("ダウンロード可"));
    EXPECT_NE(Text(ids::kStatusLine).find(OfferName()), std::string::npos);
}

TEST_F(WorkflowTest, ExitDuringADownloadStopsTheJobFirst) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    PaceFiles();
    StartService();
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return theApp.DownloadedBytes > 0; }), Do([&] { window->OnCommand(platform::IDCANCEL); }),
         Until([] { return false; })},
        true);
    // The window closed by itself once the job had stopped.
    EXPECT_EQ(theApp.ExitRequested.load(), 1);
    EXPECT_TRUE(theApp.DownloadThreadHandle.IsNull());
    EXPECT_EQ(view.Opened().back(), ids::kExitDialog);
    EXPECT_NE(TestWorld::ReadFile(History()).find(J("%完了")), std::string::npos);
    EXPECT_EQ(Calls("DLS"), 0u);
}

TEST_F(WorkflowTest, TheSessionsEndDuringADownloadAsksNobodyAndStopsTheJobFirst) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    PaceFiles();
    StartService();
    std::optional<bool> answer;
    int awakeDuringTheDownload = -1;
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return theApp.DownloadedBytes > 0; }), Do([&] {
             awakeDuringTheDownload = platform::AwakeRequests();
             answer = EndSession(*window);
         }),
         Until([] { return false; })},
        true);
    EXPECT_EQ(answer, std::optional<bool>(true));
    // Nobody was asked; the window closed by itself once the job had stopped as a pause.
    EXPECT_EQ(view.Opened(), std::vector<int>{platform::IDD_MAIN_WINDOW});
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_TRUE(theApp.DownloadThreadHandle.IsNull());
    EXPECT_NE(TestWorld::ReadFile(History()).find(J("%完了")), std::string::npos);
    EXPECT_EQ(awakeDuringTheDownload, 1);
    EXPECT_EQ(platform::AwakeRequests(), 0);
}

TEST_F(WorkflowTest, TheSessionsEndOnAnIdleWindowLetsGoOfTheUnitAndClosesAtOnce) {
    StartService();
    navisim::CreateUnit(Unit());
    std::optional<bool> answer;
    Run({Until([&] { return Ready() && theApp.Navi.DriveHandle.load() != nullptr; }),
         Do([&] { answer = EndSession(*window); }), Until([] { return false; })},
        true);
    EXPECT_EQ(answer, std::optional<bool>(true));
    EXPECT_EQ(view.Opened(), std::vector<int>{platform::IDD_MAIN_WINDOW});
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
    EXPECT_TRUE(view.SessionEndBlocks().empty());
}

TEST_F(WorkflowTest, EscF12AndCloseDoNothingDuringATransfer) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    EarlierDownload();
    navisim::CreateUnit(Unit());
    Run({Until([&] { return Ready(); }), Do([&] {
             CheckRow(0);
             window->OnCommand(ids::kTransferButton);
             window->OnCommand(platform::IDCANCEL);
             window->OnCommand(ids::kMenuExit);
             window->OnKeyDown(platform::VK_F12);
             window->OnInitMenu();
         }),
         Until([&] { return BoxCaptioned("転送の完了") && theApp.TransferThreadHandle.IsNull(); })});
    EXPECT_EQ(view.Opened(), (std::vector<int>{platform::IDD_MAIN_WINDOW, ids::kConfirmationDialog}));
    EXPECT_EQ(theApp.ExitRequested.load(), 0);
}

// The map folder on drive M:, whose free space the machine states.
class FreeSpaceTest : public WorkflowWorld {
protected:
    void MapsOnDriveM() {
        navisim::AddDrive('M', platform::DRIVE_FIXED, "Maps", Maps());
        theApp.MapFolder = "M:";
        theApp.HistoryIniPath = "M:\\History.ini";
    }
    static void SetFree(uint64_t bytes) {
        platform::ModifyMachine([&](platform::ProfileDocument& doc) {
            doc.Set("Drive M", "FreeBytes", std::to_string(bytes));
            return true;
        });
    }
    static constexpr uint64_t kMiB = 1024 * 1024;
};

TEST_F(FreeSpaceTest, ANewDownloadNeedsFiveGigabytesFree) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    MapsOnDriveM();
    SetFree(5 * 1024 * kMiB - 2 * kMiB);  // 2 MiB short, the step the free space is counted in
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return !view.Boxes().empty(); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.text, shipped::FreeSpaceMessage("M", "5.0", "E01"));
    EXPECT_EQ(view.Boxes()[0].request.type, platform::MB_OK | platform::MB_ICONWARNING);
    EXPECT_TRUE(window->PcMapData.empty());
    EXPECT_EQ(Text(ids::kDownloadButton), J("ﾀﾞｳﾝﾛｰﾄﾞ開始  "));
    EXPECT_TRUE(Enabled(ids::kDownloadButton));
    EXPECT_TRUE(theApp.DownloadThreadHandle.IsNull());

    // Exactly 5.0 GB is enough.
    SetFree(5 * 1024 * kMiB);
    Run({Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return BoxCaptioned("ダウンロードの完了") && theApp.DownloadThreadHandle.IsNull(); })});
    ASSERT_EQ(window->PcMapData.size(), 1u);
    EXPECT_EQ(window->PcMapData[0].status, J("ダウンロード完了"));
    EXPECT_EQ(view.Boxes().size(), 2u);
}

// The service announces 6,169 units (6.0 GB) with 5.5 GB free: refused before the first map file,
// with what is needed and what is free.
TEST_F(FreeSpaceTest, AnAnnouncedSetLargerThanTheFreeSpaceIsRefusedBeforeItsFirstByte) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    config.mapSize = 6169;
    StartService();
    MapsOnDriveM();
    SetFree(5632 * kMiB);
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return !view.Boxes().empty(); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.text, shipped::SetSpaceMessage("M", "6.0", "5.5", "E01"));
    EXPECT_TRUE(window->PcMapData.empty());
    EXPECT_TRUE(theApp.DownloadThreadHandle.IsNull());
    EXPECT_EQ(CallLog().find("/map-dl/data/"), std::string::npos);
}

TEST_F(FreeSpaceTest, AResumedDownloadNeedsFiveGigabytesLessWhatItHolds) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    MapsOnDriveM();
    // 1.5 GB downloaded: 3.5 GB still needed.
    TestWorld::WriteFile(History(), J(("[HISTORY1]\r\nNAME=" + config.offer.productName +
                                       "\r\nSTATUS=40%完了\r\nVERSION=20260411\r\nSIZE=1.500000\r\nFOLDER=M:\r\n")
                                          .c_str()));
    SetFree(3584 * kMiB - 2 * kMiB);
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return !view.Boxes().empty(); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.text, shipped::FreeSpaceMessage("M", "3.5", "E01"));
    ASSERT_EQ(window->PcMapData.size(), 1u);
    EXPECT_EQ(window->PcMapData[0].status, J("40%完了"));
    EXPECT_EQ(Text(ids::kDownloadButton), J("ﾀﾞｳﾝﾛｰﾄﾞ再開  "));
    EXPECT_TRUE(theApp.DownloadThreadHandle.IsNull());

    SetFree(3584 * kMiB);
    Run({Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return BoxCaptioned("ダウンロードの完了") && theApp.DownloadThreadHandle.IsNull(); })});
    ASSERT_EQ(window->PcMapData.size(), 1u);
    EXPECT_EQ(window->PcMapData[0].status, J("ダウンロード完了"));
}

TEST_F(WorkflowTest, PauseAnsweredWithCancelLetsTheDownloadGoOn) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    PaceFiles();
    StartService();
    view.AnswerNextBox(platform::IDCANCEL);
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return theApp.DownloadedBytes > 0; }), Do([&] {
             window->OnCommand(ids::kDownloadButton);
             EXPECT_EQ(window->Downloading, 1);
             EXPECT_EQ(theApp.PauseRequested.load(), 0);
             EXPECT_TRUE(Enabled(ids::kDownloadButton));
             EXPECT_FALSE(Enabled(ids::kTransferButton));
             EXPECT_FALSE(Enabled(ids::kDeleteButton));
             EXPECT_EQ(Text(ids::kDownloadButton), J("ﾀﾞｳﾝﾛｰﾄﾞ中断  "));
         }),
         Until([&] { return BoxCaptioned("ダウンロードの完了") && theApp.DownloadThreadHandle.IsNull(); })});
    EXPECT_EQ(view.Boxes()[0].request.caption, J("ダウンロード中断の確認"));
    ASSERT_EQ(window->PcMapData.size(), 1u);
    EXPECT_EQ(window->PcMapData[0].status, J("ダウンロード完了"));
}

TEST_F(WorkflowTest, DeletingWithNothingCheckedSaysSo) {
    // An empty PC area first, then a record that is not checked.
    Run({Do([&] { window->OnCommand(ids::kDeleteButton); })});
    EarlierDownload();
    Run({Do([&] {
        window->GetHistoryData();
        window->SetPcAreaData();
        window->OnCommand(ids::kDeleteButton);
    })});
    ASSERT_EQ(view.Boxes().size(), 2u);
    for (const auto& box : view.Boxes()) {
        EXPECT_EQ(box.request.text, Message(600, ""));
        EXPECT_EQ(box.request.type, platform::MB_OK | platform::MB_ICONWARNING);
    }
    EXPECT_EQ(window->PcMapData.size(), 1u);
    EXPECT_TRUE(fs::exists(Maps() + "/20260411"));
    EXPECT_TRUE(theApp.DeleteThreadHandle.IsNull());
}

TEST_F(WorkflowTest, AnOfferNamedDotDotCreatesNothingAndShowsTheServiceError) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    config.offer = {"..", "", "", "x"};
    StartService();
    auto parentEntries = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(world.root)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    std::vector<std::string> before = parentEntries();
    Run({Until([&] { return Calls("MDL") == 1; }), Do([&] { window->OnCommand(ids::kDownloadButton); })});
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_EQ(view.Boxes()[0].request.text, Message(901, "E90"));
    EXPECT_EQ(parentEntries(), before);
    EXPECT_FALSE(fs::exists(Maps() + "/CONF"));
    EXPECT_EQ(Calls("MapData"), 0u);
    EXPECT_TRUE(window->PcMapData.empty());
    EXPECT_TRUE(Enabled(ids::kDownloadButton));
}

TEST_F(WorkflowTest, AProductNameOutsideCp932ShowsAReplacementAndDownloads) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    config.offer.productName = "Café 2026";
    StartService();
    Run({Until([&] { return !theApp.OfferName.empty(); }), Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return BoxCaptioned("ダウンロードの完了"); }),
         Until([&] { return theApp.DownloadThreadHandle.IsNull(); })});
    EXPECT_EQ(theApp.OfferName, "Caf? 2026");
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 1), "Caf? 2026");
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 0, 2), J("ダウンロード完了"));
}

TEST_F(WorkflowTest, TheWindowAnswersWhileTheServiceIsSilentAndClosesAtOnce) {
    // The service accepts the offer call and never answers; the stall limit is the program's.
    PlainServer silent([](size_t, const std::string&) { return PlainServer::Answer{"", 0}; });
    theApp.ServiceUrl = silent.Url("/map-dl");
    auto started = std::chrono::steady_clock::now();
    Run({Until([&] { return silent.Requests().size() == 1; }), Do([&] { Notify(kNotifyKeyF1); }),
         Until([&] { return view.ShellOpened().size() == 1; }), Do([&] { window->OnCommand(platform::IDCANCEL); }),
         Until([] { return false; })},
        true);
    window.reset();
    auto took = std::chrono::steady_clock::now() - started;
    // Well inside the stall limit: nothing waited for the silent service.
    EXPECT_LT(took, std::chrono::milliseconds(platform::InternetSession::kDefaultStallMilliseconds / 3));
    EXPECT_EQ(view.Opened().back(), ids::kExitDialog);
    EXPECT_EQ(theApp.OfferName, "");
    for (int wait = 0; silent.ClosedByClient() == 0 && wait < 1000; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(silent.ClosedByClient(), 1u);
}

TEST_F(WorkflowTest, AScriptAnswersTheProxyPromptOnceForTheWholeDownload) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    SquidProxy squid("navi", "s3cret");
    setenv("http_proxy", squid.Url().c_str(), 1);
    // One answer only: a second prompt would be declined and the download would fail.
    ui::ParsedScript script = ui::ParseScript(
        "proxy navi s3cret\n"
        "press 1014\n"
        "job download 120000\n");
    ASSERT_TRUE(script.errors.empty());
    ui::ScriptDriver driver(view, script.commands, world.root + "/transcript.txt", world.root);
    driver.Start();
    view.RunDialog(kMain, *window);
    unsetenv("http_proxy");
    std::vector<std::string> transcript = driver.Transcript();
    std::string all;
    for (const std::string& line : transcript) all += line + "\n";
    EXPECT_TRUE(driver.Finished());
    EXPECT_FALSE(driver.Failed()) << all;
    EXPECT_NE(all.find("proxy navi ********"), std::string::npos) << all;
    EXPECT_EQ(all.find("s3cret"), std::string::npos);
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 0, 2), J("ダウンロード完了"));
    EXPECT_EQ(Calls("DLS"), 1u);
    EXPECT_NE(squid.AccessLog().find(" navi "), std::string::npos);
}
