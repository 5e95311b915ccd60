// The transfer job's file helpers on a plain drive of the simulated machine, and the clean-up
// of the NEW files in the download folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "jobs/TransferJob.h"
#include "support/BuildFolders.h"
#include "support/TestWorld.h"
#include "Undeletable.h"

namespace fs = std::filesystem;

class NaviFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        theApp.ResetState();
        theApp.MessageIniPath = world.Win(BinFolder() + "/Message.ini");
        fs::create_directories(Unit());
        fs::create_directories(world.root + "/maps");
        TestWorld::WriteFile(world.root + "/machine/machine.ini", "[Drive E]\r\nFolder=" + Unit() + "\r\n");
        platform::ChooseMachine();
        theApp.MapFolder = world.Win(world.root + "/maps");
    }
    std::string Unit() const { return world.root + "/unit"; }
    std::string Pc(const std::string& name) {
        TestWorld::WriteFile(world.root + "/" + name, std::string(1000, 'x'));
        return world.Win(world.root + "/" + name);
    }

    TestWorld world;
};

TEST_F(NaviFilesTest, FolderCreateMakesTheFourUpdateFoldersAndKeepsExistingOnes) {
    fs::create_directories(Unit() + "/UPDATE/NAVIINFO");
    TestWorld::WriteFile(Unit() + "/UPDATE/NAVIINFO/DEVICE.DAT", "id");
    EXPECT_EQ(NaviFolderCreate("E:\\"), 0);
    for (const char* folder : {"UPDATE", "UPDATE/NAVIINFO", "UPDATE/RENEWAL", "UPDATE/RENEWAL/CONF"})
        EXPECT_TRUE(fs::is_directory(Unit() + "/" + folder)) << folder;
    EXPECT_EQ(TestWorld::ReadFile(Unit() + "/UPDATE/NAVIINFO/DEVICE.DAT"), "id");
    EXPECT_EQ(NaviFolderCreate("E:\\"), 0);
}

TEST_F(NaviFilesTest, FolderCreateFailsOnABlockedFolderOrAMissingDrive) {
    fs::create_directories(Unit() + "/UPDATE");
    TestWorld::WriteFile(Unit() + "/UPDATE/RENEWAL", "a file in the way");
    EXPECT_EQ(NaviFolderCreate("E:\\"), 1);
    EXPECT_FALSE(fs::exists(Unit() + "/UPDATE/RENEWAL/CONF"));

    // Without a drive root the folders would be made relative to the PC's current folder.
    const fs::path current = fs::current_path();
    fs::current_path(world.root);
    for (const char* root : {"", "E:", "E", "\\"}) EXPECT_EQ(NaviFolderCreate(root), 1) << root;
    fs::current_path(current);
    EXPECT_FALSE(fs::exists(world.root + "/UPDATE"));
}

TEST_F(NaviFilesTest, CopyThatNeverSucceedsGivesUpAfterTenAttemptsFiveSecondsApart) {
    const uint64_t start = world.clock.TickMilliseconds();
    EXPECT_EQ(NaviFileCopy(Pc("RELEASE.TXT"), "E:\\UPDATE\\RENEWAL\\RELEASE.TXT"), kUnitFileCopyFailed);
    EXPECT_EQ(world.clock.TickMilliseconds() - start, 10 * 5000u);
    EXPECT_EQ(theApp.TransferredBytes.load(), 0);
}

class MakeFileDeleteTest : public NaviFilesTest {
protected:
    // NEW files and delivered files in every sub-folder of the download and beside them.
    void MakeDownload(const std::string& root) {
        for (const char* sub : {"", "/CONF", "/RENEWAL", "/FLASH", "/FLASH/RENEWAL", "/FLASH2"}) {
            fs::create_directories(root + "/2026041" + sub);
            TestWorld::WriteFile(root + "/2026041" + sub + "/NEWDATA.DAT", "made");
            TestWorld::WriteFile(root + "/2026041" + sub + "/DATA.DAT", "delivered");
        }
    }
    std::vector<std::string> Remaining(const std::string& root, const std::string& name) {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(root + "/2026041"))
            if (entry.path().filename() == name) found.push_back(fs::relative(entry.path(), root).generic_string());
        std::sort(found.begin(), found.end());
        return found;
    }
};

TEST_F(MakeFileDeleteTest, RemovesEveryNewFileAndNothingElse) {
    MakeDownload(world.root + "/maps");
    EXPECT_EQ(MakeFileDelete("2026041"), 0);
    EXPECT_TRUE(Remaining(world.root + "/maps", "NEWDATA.DAT").empty());
    EXPECT_EQ(Remaining(world.root + "/maps", "DATA.DAT").size(), 6u);
    EXPECT_EQ(MakeFileDelete("2026041"), 0);  // nothing left to remove
}

TEST_F(MakeFileDeleteTest, CleansTheFolderTheTransferCameFrom) {
    MakeDownload(world.root + "/maps");
    MakeDownload(world.root + "/older");
    theApp.TransferDataFolder = world.Win(world.root + "/older");
    EXPECT_EQ(MakeFileDelete("2026041"), 0);
    EXPECT_TRUE(Remaining(world.root + "/older", "NEWDATA.DAT").empty());
    EXPECT_EQ(Remaining(world.root + "/maps", "NEWDATA.DAT").size(), 6u);
}

TEST_F(MakeFileDeleteTest, FirstFailureStopsTheCleanUpWithItsMessage) {
    MakeDownload(world.root + "/maps");
    {
        Undeletable stuck(world.root + "/maps/2026041/FLASH/NEWDATA.DAT");
        if (!stuck.Holds()) GTEST_SKIP() << "no way to protect a file from root here";
        EXPECT_EQ(MakeFileDelete("2026041"), -1);
    }
    // FLASH\RENEWAL comes first and is clean; CONF and the later folders are left.
    EXPECT_EQ(
        Remaining(world.root + "/maps", "NEWDATA.DAT"),
        (std::vector<std::string>{"2026041/CONF/NEWDATA.DAT", "2026041/FLASH/NEWDATA.DAT", "2026041/FLASH2/NEWDATA.DAT",
                                  "2026041/NEWDATA.DAT", "2026041/RENEWAL/NEWDATA.DAT"}));
    ASSERT_EQ(world.view.Boxes().size(), 1u);
    EXPECT_NE(world.view.Boxes()[0].request.text.find("E01"), std::string::npos);
}
