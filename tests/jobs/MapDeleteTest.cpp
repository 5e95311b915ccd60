// The deletion job on download folders of the world's map folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "state/VeltraneApp.h"
#include "jobs/MapDelete.h"
#include "support/BuildFolders.h"
#include "support/LogCapture.h"
#include "support/RecordingView.h"
#include "support/ShippedMessages.h"
#include "support/TestWorld.h"
#include "Undeletable.h"

namespace fs = std::filesystem;

namespace {
const char* const kSubFolders[] = {"CONF", "RENEWAL", "FLASH", "FLASH/RENEWAL", "FLASH2"};
}  // namespace

class MapDeleteTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetView(&view);
        theApp.ResetState();
        theApp.MessageIniPath = world.Win(BinFolder() + "/Message.ini");
        fs::create_directories(Maps());
        theApp.MapFolder = world.Win(Maps());
    }
    void TearDown() override {
        theApp.DeleteThreadHandle.JoinAndClose();
        platform::SetView(&world.view);
    }

    std::string Maps() const { return world.root + "/maps"; }
    // A complete download folder with a file in every sub-folder and one beside them.
    void MakeDownload(const std::string& name) {
        for (const char* sub : kSubFolders) {
            fs::create_directories(Maps() + "/" + name + "/" + sub);
            TestWorld::WriteFile(Maps() + "/" + name + "/" + sub + "/DATA.BIN", "data");
        }
        TestWorld::WriteFile(Maps() + "/" + name + "/MapData.XML", "<Map/>");
    }
    // Starts the deletion of the records added, confirmed, and waits for its end message.
    RecordingView::Notice Delete() {
        view.AnswerNextBox(platform::IDOK);
        EXPECT_EQ(remover.MapDataDelete(1), 0);
        RecordingView::Notice notice = view.First();
        theApp.DeleteThreadHandle.JoinAndClose();
        return notice;
    }

    TestWorld world;
    RecordingView view;
    CMapDelete remover;
};

TEST_F(MapDeleteTest, ConfirmationNamesTheDownloadAndCancelDeletesNothing) {
    MakeDownload("2026041");
    remover.AddDeleteData("2026041", theApp.MapFolder, "2026年春版");
    view.AnswerNextBox(platform::IDCANCEL);
    EXPECT_EQ(remover.MapDataDelete(1), 100);

    ASSERT_EQ(view.Boxes().size(), 1u);
    const platform::MessageBoxRequest box = view.Boxes()[0].request;
    EXPECT_EQ(box.text,
              "バージョンアップ(地図更新)【2026年春版】データを削除してよろしいですか？\n\n"
              "※注意！削除したデータは元に戻すことはできません。");
    EXPECT_EQ(box.caption, "ダウンロードデータの削除");
    EXPECT_EQ(box.type, platform::MB_OKCANCEL | platform::MB_ICONINFORMATION);
    EXPECT_TRUE(theApp.DeleteThreadHandle.IsNull());
    EXPECT_TRUE(fs::exists(Maps() + "/2026041/FLASH/RENEWAL/DATA.BIN"));
    EXPECT_EQ(view.Count(), 0u);
}

TEST_F(MapDeleteTest, ConfirmedWithoutStartingDeletesNothing) {
    // Another record still uses the folder: the window passes 0.
    MakeDownload("2026041");
    remover.AddDeleteData("2026041", theApp.MapFolder, "2026年春版");
    view.AnswerNextBox(platform::IDOK);
    EXPECT_EQ(remover.MapDataDelete(0), 0);
    EXPECT_TRUE(theApp.DeleteThreadHandle.IsNull());
    EXPECT_TRUE(fs::exists(Maps() + "/2026041/CONF/DATA.BIN"));
}

TEST_F(MapDeleteTest, ConfirmedDeletionRemovesEveryRecordsFolderAndReportsDone) {
    MakeDownload("2026041");
    MakeDownload("2026101");
    MakeDownload("2027041");
    remover.AddDeleteData("2026041", theApp.MapFolder, "2026年春版");
    remover.AddDeleteData("2026101", theApp.MapFolder, "2026年秋版");

    EXPECT_EQ(Delete(), RecordingView::Notice(kNotifyDeleteDone, 0));
    EXPECT_FALSE(fs::exists(Maps() + "/2026041"));
    EXPECT_FALSE(fs::exists(Maps() + "/2026101"));
    EXPECT_TRUE(fs::exists(Maps() + "/2027041/FLASH/RENEWAL/DATA.BIN"));
    EXPECT_EQ(view.Boxes().size(), 1u);  // the confirmation only
    EXPECT_EQ(remover.Records().size(), 2u);
}

TEST_F(MapDeleteTest, ExtraSubFolderKeepsTheFolderAndStillReportsDone) {
    MakeDownload("2026041");
    fs::create_directories(Maps() + "/2026041/EXTRA");
    TestWorld::WriteFile(Maps() + "/2026041/EXTRA/KEEP.TXT", "kept");
    remover.AddDeleteData("2026041", theApp.MapFolder, "2026年春版");

    EXPECT_EQ(Delete(), RecordingView::Notice(kNotifyDeleteDone, 0));
    EXPECT_TRUE(fs::exists(Maps() + "/2026041/EXTRA/KEEP.TXT"));
    EXPECT_FALSE(fs::exists(Maps() + "/2026041/MapData.XML"));
    for (const char* sub : kSubFolders) EXPECT_FALSE(fs::exists(Maps() + "/2026041/" + sub)) << sub;
}

TEST_F(MapDeleteTest, PartlyDeletedDownloadCompletes) {
    MakeDownload("2026041");
    fs::remove_all(Maps() + "/2026041/FLASH");
    remover.AddDeleteData("2026041", theApp.MapFolder, "2026年春版");
    EXPECT_EQ(Delete(), RecordingView::Notice(kNotifyDeleteDone, 0));
    EXPECT_FALSE(fs::exists(Maps() + "/2026041"));
}

TEST_F(MapDeleteTest, UndeletableFileInFlashStopsAfterFlashRenewal) {
    MakeDownload("2026041");
    MakeDownload("2026101");
    remover.AddDeleteData("2026041", theApp.MapFolder, "2026年春版");
    remover.AddDeleteData("2026101", theApp.MapFolder, "2026年秋版");
    {
        Undeletable stuck(Maps() + "/2026041/FLASH/DATA.BIN");
        if (!stuck.Holds()) GTEST_SKIP() << "no way to protect a file from root here";
        EXPECT_EQ(Delete(), RecordingView::Notice(kNotifyDeleteFailed, 0));
    }
    EXPECT_FALSE(fs::exists(Maps() + "/2026041/FLASH/RENEWAL"));
    EXPECT_TRUE(fs::exists(Maps() + "/2026041/FLASH/DATA.BIN"));
    EXPECT_TRUE(fs::exists(Maps() + "/2026041/CONF/DATA.BIN"));
    EXPECT_TRUE(fs::exists(Maps() + "/2026101/FLASH/RENEWAL/DATA.BIN"));

    ASSERT_EQ(view.Boxes().size(), 2u);
    EXPECT_EQ(view.Boxes()[1].request.text, shipped::Message(601, "E01"));
    EXPECT_EQ(view.Boxes()[1].request.type, platform::MB_OK | platform::MB_ICONERROR);
}

TEST_F(MapDeleteTest, UnsafeVersionNamesAreRefusedAndNothingIsDeleted) {
    MakeDownload("2026041");
    TestWorld::WriteFile(Maps() + "/History.ini", "[HISTORY]\n");
    fs::create_directories(world.root + "/outside");
    TestWorld::WriteFile(world.root + "/outside/DATA.BIN", "data");
    for (const char* name : {"", ".", "..", "..\\outside", "*", "2026041\\..", "C:"}) {
        CMapDelete unsafe;
        unsafe.AddDeleteData(name, theApp.MapFolder, "壊れた記録");
        view.AnswerNextBox(platform::IDOK);
        ASSERT_EQ(unsafe.MapDataDelete(1), 0) << name;
        theApp.DeleteThreadHandle.JoinAndClose();
    }
    EXPECT_EQ(view.Notices(), std::vector<RecordingView::Notice>(7, {kNotifyDeleteFailed, 0}));
    EXPECT_TRUE(fs::exists(Maps() + "/History.ini"));
    EXPECT_TRUE(fs::exists(Maps() + "/2026041/MapData.XML"));
    EXPECT_TRUE(fs::exists(Maps() + "/2026041/FLASH/RENEWAL/DATA.BIN"));
    EXPECT_TRUE(fs::exists(world.root + "/outside/DATA.BIN"));
}

// History.ini can be edited by any user: a record's folder outside the map folder is refused.
TEST_F(MapDeleteTest, AFolderOutsideTheMapFolderIsRefusedAndNothingIsDeleted) {
    MakeDownload("2026041");
    fs::create_directories(world.root + "/outside/2026041/CONF");
    TestWorld::WriteFile(world.root + "/outside/2026041/CONF/DATA.BIN", "data");
    TestWorld::WriteFile(world.root + "/outside/2026041/KEEP.TXT", "data");
    const std::string outside = world.Win(world.root + "/outside");
    for (const std::string& folder :
         {outside, theApp.MapFolder + "\\..\\outside", theApp.MapFolder + "X", std::string("")}) {
        CMapDelete unsafe;
        unsafe.AddDeleteData("2026041", folder, "壊れた記録");
        view.AnswerNextBox(platform::IDOK);
        ASSERT_EQ(unsafe.MapDataDelete(1), 0) << folder;
        theApp.DeleteThreadHandle.JoinAndClose();
    }
    EXPECT_EQ(view.Notices(), std::vector<RecordingView::Notice>(4, {kNotifyDeleteFailed, 0}));
    EXPECT_TRUE(fs::exists(world.root + "/outside/2026041/CONF/DATA.BIN"));
    EXPECT_TRUE(fs::exists(world.root + "/outside/2026041/KEEP.TXT"));
    EXPECT_TRUE(fs::exists(Maps() + "/2026041/MapData.XML"));
}

TEST_F(MapDeleteTest, WithoutAMapFolderNoRecordIsInsideIt) {
    MakeDownload("2026041");
    theApp.MapFolder = "";
    CMapDelete unsafe;
    unsafe.AddDeleteData("2026041", "\\outside", "壊れた記録");
    view.AnswerNextBox(platform::IDOK);
    ASSERT_EQ(unsafe.MapDataDelete(1), 0);
    theApp.DeleteThreadHandle.JoinAndClose();
    EXPECT_EQ(view.Notices(), std::vector<RecordingView::Notice>(1, {kNotifyDeleteFailed, 0}));
}

// Links a user planted in the map folder, at the record's folder and at a sub-folder, point
// outside: the record is refused before anything is deleted, and nothing outside goes.
TEST_F(MapDeleteTest, ALinkOutOfTheMapFolderIsRefusedAndNothingIsDeleted) {
    fs::create_directories(world.root + "/outside/CONF");
    fs::create_directories(world.root + "/outside/RENEWAL");
    TestWorld::WriteFile(world.root + "/outside/KEEP.TXT", "data");
    TestWorld::WriteFile(world.root + "/outside/CONF/DATA.BIN", "data");
    TestWorld::WriteFile(world.root + "/outside/RENEWAL/DATA.BIN", "data");
    fs::create_directory_symlink(world.root + "/outside", Maps() + "/2026041");
    MakeDownload("2026101");
    fs::remove_all(Maps() + "/2026101/RENEWAL");
    fs::create_directory_symlink(world.root + "/outside/RENEWAL", Maps() + "/2026101/RENEWAL");
    for (const char* name : {"2026041", "2026101"}) {
        CMapDelete linked;
        linked.AddDeleteData(name, theApp.MapFolder, "リンクの記録");
        view.AnswerNextBox(platform::IDOK);
        ASSERT_EQ(linked.MapDataDelete(1), 0) << name;
        theApp.DeleteThreadHandle.JoinAndClose();
    }
    EXPECT_EQ(view.Notices(), std::vector<RecordingView::Notice>(2, {kNotifyDeleteFailed, 0}));
    EXPECT_TRUE(fs::exists(world.root + "/outside/KEEP.TXT"));
    EXPECT_TRUE(fs::exists(world.root + "/outside/CONF/DATA.BIN"));
    EXPECT_TRUE(fs::exists(world.root + "/outside/RENEWAL/DATA.BIN"));
    EXPECT_TRUE(fs::exists(Maps() + "/2026101/FLASH/RENEWAL/DATA.BIN"));
}

TEST_F(MapDeleteTest, EmptyListIsAnExceptionNotADeletion) {
    EXPECT_EQ(remover.MapDataDelete(1), 1);
    EXPECT_TRUE(theApp.DeleteThreadHandle.IsNull());
}

TEST_F(MapDeleteTest, EachWayThroughLogsOneEndLine) {
    LogCapture log(world.root);
    MakeDownload("2026041");
    remover.AddDeleteData("2026041", theApp.MapFolder, "2026年春版");
    view.AnswerNextBox(platform::IDCANCEL);
    EXPECT_EQ(remover.MapDataDelete(1), 100);
    EXPECT_EQ(log.Count("MapDataDelete終了"), 1u);
    EXPECT_EQ(log.Count("MapDataDelete終了[キャンセル]"), 1u);

    // A name the deletion refuses: the thread ends without its end line.
    remover.RemoveAll();
    remover.AddDeleteData("..", theApp.MapFolder, "壊れた版");
    EXPECT_EQ(Delete(), RecordingView::Notice(kNotifyDeleteFailed, 0));
    EXPECT_EQ(log.Count("MapDataDelete終了"), 2u);
    EXPECT_EQ(log.Count("DeleteThread開始"), 1u);
    EXPECT_EQ(log.Count("DeleteThread終了"), 0u);
}

TEST_F(MapDeleteTest, ADeletionThatGetsThroughLogsItsEndOnce) {
    LogCapture log(world.root);
    MakeDownload("2026041");
    remover.AddDeleteData("2026041", theApp.MapFolder, "2026年春版");
    EXPECT_EQ(Delete(), RecordingView::Notice(kNotifyDeleteDone, 0));
    EXPECT_EQ(log.Count("DeleteThread終了"), 1u);
    EXPECT_EQ(log.Count("MapDataDelete終了"), 1u);
}
