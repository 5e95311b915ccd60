// The transfer's file steps on the real PC: the update folders and verified copies made on the
// unit's letter, whose file system udisks2 (started by the test) mounts where the letter points.
// This kernel mounts no FAT: an ext4 loop device stands in for the unit's volume. Each copy is
// on the device when the step reports it, before any eject: the test reads the loop device's
// backing file while the volume is still mounted.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "jobs/TransferJob.h"
#include "platform/linux/DriveLetters.h"
#include "platform/linux/Mounts.h"
#include "platform/posix/MachineSource.h"
#include "state/VeltraneApp.h"
#include "support/BuildFolders.h"
#include "support/UDisksWorld.h"

class RealDiskFilesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { daemons = new UDisksWorld; }
    static void TearDownTestSuite() {
        delete daemons;
        daemons = nullptr;
    }
    void SetUp() override {
        if (!daemons->SkipReason().empty()) GTEST_SKIP() << daemons->SkipReason();
        theApp.ResetState();
        theApp.MessageIniPath = world.Win(BinFolder() + "/Message.ini");
        ASSERT_FALSE(platform::MachineSimulated());
        unitImage = world.root + "/unit.img";
        ASSERT_TRUE(Shell("truncate -s 16M '" + unitImage + "'"));
        ASSERT_TRUE(Shell("mkfs.ext4 -q -F '" + unitImage + "'"));
        loop = std::make_unique<LoopDevice>(unitImage);
        if (loop->Node().empty()) GTEST_SKIP() << "losetup could not attach a loop device here";
        ASSERT_TRUE(UDisksWorld::Announce(loop->Node(), "ext4"));
        platform::linuxpc::SetDriveDevice('E', loop->Node());
    }
    void TearDown() override {
        platform::linuxpc::SetDriveDevice('E', "");
        if (auto block = loop ? UDisksWorld::Block(loop->Node()) : std::nullopt; block && !block->mountPoints.empty())
            static_cast<void>(platform::linuxpc::UDisksUnmount(block->object));  // the loop goes away regardless
    }

    static UDisksWorld* daemons;
    TestWorld world;
    std::string unitImage;
    std::unique_ptr<LoopDevice> loop;
};

UDisksWorld* RealDiskFilesTest::daemons = nullptr;

TEST_F(RealDiskFilesTest, CopiesReachTheDeviceBeforeTheStepReportsThem) {
    ASSERT_EQ(NaviFolderCreate("E:\\"), 0);
    auto block = UDisksWorld::Block(loop->Node());
    ASSERT_TRUE(block);
    ASSERT_EQ(block->mountPoints.size(), 1u);  // mounted through udisks2 for the first step
    const std::string point = block->mountPoints[0];
    for (const char* folder : {"UPDATE/NAVIINFO", "UPDATE/RENEWAL/CONF"})
        EXPECT_TRUE(std::filesystem::is_directory(point + "/" + folder)) << folder;

    // A content no file system metadata holds by chance, 40 KB so it spans whole blocks.
    std::string content;
    for (int i = 0; content.size() < 40000; ++i) content += "VELTRANE-COPY-" + std::to_string(i) + ";";
    TestWorld::WriteFile(world.root + "/MAPDATA.DAT", content);
    ASSERT_EQ(NaviFileCopy(world.Win(world.root + "/MAPDATA.DAT"), "E:\\UPDATE\\RENEWAL\\MAPDATA.DAT"), 0);
    EXPECT_EQ(TestWorld::ReadFile(point + "/UPDATE/RENEWAL/MAPDATA.DAT"), content);
    // Still mounted, nothing synced by anyone else: the device holds the copy already.
    EXPECT_NE(TestWorld::ReadFile(unitImage).find(content.substr(0, 4096)), std::string::npos);
}
