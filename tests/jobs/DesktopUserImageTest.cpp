// The image step on the real PC as a desktop user who is not root (support/AsDesktopUser.h):
// the job opens and locks the unit's partition, writes the update's image with its read-back
// and lets go, and udisks2 is asked for the raw device once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "TransferFixture.h"
#include "platform/Error.h"
#include "platform/linux/DriveLetters.h"
#include "platform/posix/MachineSource.h"
#include "support/AsDesktopUser.h"
#include "support/LoopDevice.h"
#include "support/UDisksWorld.h"

namespace {
constexpr size_t kVolumeBytes = 4 << 20;
}

class DesktopUserImageTest : public DesktopUserSuite {
protected:
    TestWorld world;
};

// The child: the update built and deciphered in a world of the user's own, the letter E: on the
// unit's partition.
class DesktopUserImageStep : public TransferTest {};

TEST_F(DesktopUserImageTest, TheImageStepAsksForTheUnitOnce) {
    // The unit as it was, on an MBR disk: an older volume whose space holds old data.
    const std::string volume = world.root + "/unit.img", disk = world.root + "/disk.img";
    TestWorld::WriteFile(volume, std::string(kVolumeBytes, '\xEE'));
    ASSERT_TRUE(MakePartitionedImage(disk, volume));
    LoopDevice loop(disk, 512, true);
    ASSERT_FALSE(loop.Node().empty()) << "losetup could not attach a partitioned loop device";
    ASSERT_TRUE(UDisksWorld::Announce(loop.Node() + "p1"));
    // Where the child leaves a copy of the image it wrote.
    const std::string shared = world.root + "/shared";
    std::filesystem::create_directories(shared);
    std::filesystem::permissions(shared, std::filesystem::perms::all);
    std::filesystem::permissions(world.root, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);

    std::string output;
    EXPECT_EQ(RunAsDesktopUser(
                  "DesktopUserImageStep.DISABLED_WritesTheImage",
                  {{"VELTRANE_TEST_VOLUME", loop.Node() + "p1"}, {"VELTRANE_TEST_COPY", shared + "/image"}}, &output),
              0)
        << output;
    EXPECT_EQ(rules->OpenDeviceRequests(), 1);
    const std::string image = TestWorld::ReadFile(shared + "/image");
    ASSERT_EQ(image.size(), 512u * 1024);
    EXPECT_EQ(TestWorld::ReadFile(disk).substr(kPartitionOffset, image.size()), image);
}

TEST_F(DesktopUserImageStep, DISABLED_WritesTheImage) {
    ASSERT_NE(::geteuid(), 0u) << "runs as the desktop user only";
    BuildSet(512 * 1024, 4);
    ASSERT_EQ(Prepare(), 0);
    job.config = data;
    job.id = id;
    // The real PC from here on: the machine folder holds no machine.ini.
    std::filesystem::create_directories(world.root + "/real-pc");
    platform::SetMachineFolder(world.root + "/real-pc");
    platform::ChooseMachine();
    platform::linuxpc::SetDriveDevice('E', std::getenv("VELTRANE_TEST_VOLUME"));
    ASSERT_EQ(OpenVolume(), 0) << platform::GetLastError();
    EXPECT_EQ(ImageCopy(&job), 0);
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
    platform::linuxpc::SetDriveDevice('E', "");
    std::filesystem::copy_file(ImagePath(), std::getenv("VELTRANE_TEST_COPY"));
}
