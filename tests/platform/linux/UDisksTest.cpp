// The real PC through udisks2, started by the test on its own system bus, on loop devices: what
// udisks2 tells of a FAT volume, mounting and unmounting (busy refused), the raw device opened
// by the daemon, a format, the eject's unmount and power-off; and the drive calls, paths and
// format of a lettered volume, mounted where the letter points (an ext4 volume stands in: this
// kernel mounts no FAT).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/Drives.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/RawVolume.h"
#include "platform/Volumes.h"
#include "platform/linux/DriveLetters.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/PowerOff.h"
#include "platform/linux/UDisks.h"
#include "platform/posix/MachineSource.h"
#include "support/UDisksWorld.h"

namespace {

constexpr char kExt4Uuid[] = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";

dev_t NumberOf(const std::string& node) {
    struct stat st {};
    return ::stat(node.c_str(), &st) == 0 ? st.st_rdev : 0;
}

}  // namespace

class UDisksTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { daemons = new UDisksWorld; }
    static void TearDownTestSuite() {
        delete daemons;
        daemons = nullptr;
    }

    void SetUp() override {
        if (!daemons->SkipReason().empty()) GTEST_SKIP() << daemons->SkipReason();
        ASSERT_FALSE(platform::MachineSimulated());  // the world's machine folder holds no machine.ini
    }
    void TearDown() override {
        platform::linuxpc::SetDriveDevice('E', "");
        // A mount left by a failed test would keep the loop device from going away.
        for (const auto& loop : loops)
            for (const std::string& point : platform::linuxpc::MountPointsOf(NumberOf(loop->Node())))
                static_cast<void>(Shell("umount -l '" + point + "'"));  // best effort on the way out
        loops.clear();
    }

    // A loop device over a fresh image; "" when losetup failed. `make` is the shell command
    // that writes the file system into the image at {}.
    std::string Attach(const std::string& name, const std::string& make, const std::string& idType) {
        const std::string image = world.root + "/" + name;
        std::string command = make;
        command.replace(command.find("{}"), 2, "'" + image + "'");
        if (!Shell("truncate -s 8M '" + image + "'") || !Shell(command)) return {};
        loops.push_back(std::make_unique<LoopDevice>(image));
        const std::string& node = loops.back()->Node();
        if (node.empty() || !UDisksWorld::Announce(node, idType)) return {};
        return node;
    }
    std::string AttachExt4() {
        return Attach("ext4.img", std::string("mkfs.ext4 -q -F -U ") + kExt4Uuid + " {}", "ext4");
    }
    std::string AttachFat() { return Attach("fat.img", "mkfs.vfat -F 16 -s 1 -i 1A2B3C4D -n NAVI {}", "vfat"); }

    static UDisksWorld* daemons;
    TestWorld world;
    std::vector<std::unique_ptr<LoopDevice>> loops;
};

UDisksWorld* UDisksTest::daemons = nullptr;

TEST_F(UDisksTest, ListsAFatVolumeWithItsTypeUuidAndLabel) {
    const std::string node = AttachFat();
    ASSERT_FALSE(node.empty());
    auto block = UDisksWorld::Block(node);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->idType, "vfat");
    EXPECT_EQ(block->idUuid, "1A2B-3C4D");
    EXPECT_EQ(block->idLabel, "NAVI");
    EXPECT_EQ(block->number, NumberOf(node));
    EXPECT_TRUE(block->filesystem);
    EXPECT_TRUE(block->mountPoints.empty());
    EXPECT_FALSE(block->holdsPartitionTable);
    EXPECT_EQ(block->drive, "/");  // a loop device lies on no drive
}

TEST_F(UDisksTest, MountsAndUnmountsButNotWhileBusy) {
    const std::string node = AttachExt4();
    ASSERT_FALSE(node.empty());
    const std::string object = UDisksWorld::Block(node)->object;
    std::string point;
    ASSERT_EQ(platform::linuxpc::UDisksMount(object, &point), platform::ERROR_SUCCESS);
    EXPECT_EQ(platform::linuxpc::MountPointsOf(NumberOf(node)), std::vector<std::string>{point});

    int busy = ::open((point + "/open.txt").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(busy, 0);
    EXPECT_EQ(platform::linuxpc::UDisksUnmount(object), platform::ERROR_ACCESS_DENIED);
    ::close(busy);
    EXPECT_EQ(platform::linuxpc::UDisksUnmount(object), platform::ERROR_SUCCESS);
    EXPECT_TRUE(platform::linuxpc::MountPointsOf(NumberOf(node)).empty());

    EXPECT_EQ(platform::linuxpc::UDisksUnmount("/org/freedesktop/UDisks2/block_devices/nothing"),
              platform::ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(UDisksTest, OpenDeviceHandsBackAnExclusiveDescriptor) {
    const std::string node = AttachFat();
    ASSERT_FALSE(node.empty());
    uint32_t error = 0;
    int fd = platform::linuxpc::UDisksOpenDevice(UDisksWorld::Block(node)->object, true, O_EXCL, &error);
    ASSERT_GE(fd, 0) << error;
    EXPECT_EQ(error, platform::ERROR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_EQ(st.st_rdev, NumberOf(node));
    unsigned char sector[512];
    ASSERT_EQ(::pread(fd, sector, sizeof sector, 0), 512);
    EXPECT_EQ(sector[510], 0x55);
    EXPECT_EQ(::open(node.c_str(), O_RDONLY | O_EXCL), -1);  // the daemon's open is exclusive
    EXPECT_EQ(errno, EBUSY);
    ::close(fd);
    // The read-back's descriptor bypasses the page cache.
    int direct = platform::linuxpc::UDisksOpenDevice(UDisksWorld::Block(node)->object, false, O_DIRECT, &error);
    ASSERT_GE(direct, 0) << error;
    EXPECT_EQ(::fcntl(direct, F_GETFL) & (O_DIRECT | O_ACCMODE), O_DIRECT | O_RDONLY);
    ::close(direct);
    // Free again once the daemon has dropped its own copy of the descriptor too.
    EXPECT_TRUE(UDisksWorld::WaitFor([&] {
        int again = ::open(node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
        if (again >= 0) ::close(again);
        return again >= 0;
    }));
}

TEST_F(UDisksTest, FormatMakesAFreshFatVolumeWithTheLabel) {
    const std::string node = AttachExt4();
    ASSERT_FALSE(node.empty());
    ASSERT_EQ(platform::linuxpc::UDisksFormat(UDisksWorld::Block(node)->object, "vfat", "NAVI"),
              platform::ERROR_SUCCESS);
    ASSERT_TRUE(UDisksWorld::WaitFor([&] { return UDisksWorld::Block(node)->idType == "vfat"; }));
    EXPECT_EQ(UDisksWorld::Block(node)->idLabel, "NAVI");
    EXPECT_TRUE(Shell("fsck.fat -n " + node));
}

TEST_F(UDisksTest, LetteredVolumeIsAMountedRemovableDrive) {
    const std::string node = AttachExt4();
    ASSERT_FALSE(node.empty());
    platform::linuxpc::SetDriveDevice('E', node);
    EXPECT_EQ(platform::GetLogicalDrives(), (1u << ('E' - 'A')) | (1u << ('Z' - 'A')));
    EXPECT_EQ(platform::GetDriveTypeA("E:\\"), platform::DRIVE_REMOVABLE);
    EXPECT_EQ(platform::GetDriveTypeA("Z:\\"), platform::DRIVE_FIXED);
    EXPECT_EQ(platform::GetDriveTypeA("F:\\"), platform::DRIVE_NO_ROOT_DIR);
    char name[260] = {};
    ASSERT_TRUE(platform::GetVolumeNameForVolumeMountPointA("E:\\", name, sizeof name));
    EXPECT_STREQ(name, "\\\\?\\Volume{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}\\");
    EXPECT_EQ(platform::GetDriveTypeA(name), platform::DRIVE_REMOVABLE);
    char listed[260] = {};
    platform::HANDLE find = platform::FindFirstVolumeA(listed, sizeof listed);
    ASSERT_NE(find, platform::INVALID_HANDLE_VALUE);
    EXPECT_STREQ(listed, name);
    EXPECT_FALSE(platform::FindNextVolumeA(find, listed, sizeof listed));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_NO_MORE_FILES);
    EXPECT_TRUE(platform::FindVolumeClose(find));

    // Nobody has mounted it: the drive's folder is mounted through udisks2 on first use.
    ASSERT_TRUE(platform::linuxpc::MountPointsOf(NumberOf(node)).empty());
    ASSERT_TRUE(platform::CreateDirectoryA("E:\\UPDATE")) << platform::GetLastError();
    std::vector<std::string> points = platform::linuxpc::MountPointsOf(NumberOf(node));
    ASSERT_EQ(points.size(), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(points[0] + "/UPDATE"));
    EXPECT_EQ(platform::ToNativePath("e:\\update\\MAP.VER"), points[0] + "/UPDATE/MAP.VER");
    EXPECT_EQ(platform::ToWindowsPath(points[0] + "/UPDATE"), "E:\\UPDATE");
    EXPECT_EQ(platform::ToWindowsPath(points[0]), "E:\\");
}

TEST_F(UDisksTest, FatVolumeWithoutItsBootSignatureIsNeverMounted) {
    const std::string node = AttachFat();
    ASSERT_FALSE(node.empty());
    int fd = ::open(node.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "\0\0", 2, 510), 2);
    ASSERT_EQ(::fsync(fd), 0);
    ::close(fd);
    platform::linuxpc::SetDriveDevice('E', node);
    EXPECT_EQ(platform::ToNativePath("E:\\UPDATE"), std::nullopt);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_UNRECOGNIZED_VOLUME);
    EXPECT_EQ(platform::GetDriveTypeA("E:\\"), platform::DRIVE_REMOVABLE);  // the letter stays
    EXPECT_TRUE(platform::linuxpc::MountPointsOf(NumberOf(node)).empty());
}

TEST_F(UDisksTest, UnlockMountsTheVolumeAgainAndTellsItsDisk) {
    const std::string node = AttachExt4();
    ASSERT_FALSE(node.empty());
    platform::linuxpc::SetDriveDevice('E', node);
    ASSERT_TRUE(platform::ToNativePath("E:\\"));  // mounted through udisks2
    ASSERT_EQ(platform::linuxpc::MountPointsOf(NumberOf(node)).size(), 1u);

    platform::HANDLE disk = platform::CreateFileA("\\\\.\\E:", platform::GENERIC_READ | platform::GENERIC_WRITE,
                                                  platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE, nullptr,
                                                  platform::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(disk, platform::INVALID_HANDLE_VALUE) << platform::GetLastError();
    uint32_t returned = 0;
    platform::STORAGE_DEVICE_NUMBER number{};
    ASSERT_TRUE(platform::DeviceIoControl(disk, platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                          sizeof number, &returned, nullptr));
    EXPECT_EQ(returned, sizeof number);
    EXPECT_EQ(number.DeviceType, platform::FILE_DEVICE_DISK);
    // Loop devices are major 7, minor N for /dev/loopN; a loop device is its own whole disk.
    const uint32_t minorNumber = static_cast<uint32_t>(std::stoul(node.substr(std::string("/dev/loop").size())));
    EXPECT_EQ(number.DeviceNumber, (7u << 20) | minorNumber);

    ASSERT_TRUE(
        platform::DeviceIoControl(disk, platform::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_TRUE(platform::linuxpc::MountPointsOf(NumberOf(node)).empty());
    ASSERT_TRUE(
        platform::DeviceIoControl(disk, platform::FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(platform::linuxpc::MountPointsOf(NumberOf(node)).size(), 1u);
    EXPECT_TRUE(platform::CloseHandle(disk));
}

TEST_F(UDisksTest, FormatGivesTheVolumeFreshFatUnlessItIsBusy) {
    const std::string node = Attach("named.img", std::string("mkfs.ext4 -q -F -L NAVI {}"), "ext4");
    ASSERT_FALSE(node.empty());
    platform::linuxpc::SetDriveDevice('E', node);
    ASSERT_TRUE(platform::CreateDirectoryA("E:\\UPDATE"));  // mounted through udisks2
    const std::string point = platform::linuxpc::MountPointsOf(NumberOf(node)).at(0);
    int busy = ::open((point + "/UPDATE/open.txt").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(busy, 0);
    EXPECT_EQ(platform::FormatDrive('e'), platform::SHFMT_ERROR);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
    EXPECT_EQ(UDisksWorld::Block(node)->idType, "ext4");
    ::close(busy);

    EXPECT_EQ(platform::FormatDrive('E'), 0u);
    EXPECT_TRUE(platform::linuxpc::MountPointsOf(NumberOf(node)).empty());
    ASSERT_TRUE(UDisksWorld::WaitFor([&] { return UDisksWorld::Block(node)->idType == "vfat"; }));
    EXPECT_EQ(UDisksWorld::Block(node)->idLabel, "NAVI");
    EXPECT_TRUE(Shell("fsck.fat -n " + node));
    EXPECT_EQ(ShellOutput("mdir -b -i " + node + " ::/"), "");  // empty
    EXPECT_EQ(platform::FormatDrive('F'), platform::SHFMT_ERROR);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
}

TEST_F(UDisksTest, PowerOffUnmountsTheDiskOrIsVetoedWhileBusy) {
    const std::string node = AttachExt4();
    ASSERT_FALSE(node.empty());
    std::string point;
    ASSERT_EQ(platform::linuxpc::UDisksMount(UDisksWorld::Block(node)->object, &point), platform::ERROR_SUCCESS);
    ASSERT_TRUE(UDisksWorld::WaitFor([&] { return !UDisksWorld::Block(node)->mountPoints.empty(); }));
    int busy = ::open((point + "/open.txt").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(busy, 0);
    EXPECT_EQ(platform::linuxpc::PowerOffDisk(NumberOf(node)), platform::ERROR_ACCESS_DENIED);
    EXPECT_EQ(platform::linuxpc::MountPointsOf(NumberOf(node)), std::vector<std::string>{point});
    ::close(busy);
    // A loop device lies on no drive: unmounted, it cannot be powered off.
    EXPECT_EQ(platform::linuxpc::PowerOffDisk(NumberOf(node)), platform::ERROR_NOT_SUPPORTED);
    EXPECT_TRUE(platform::linuxpc::MountPointsOf(NumberOf(node)).empty());
    EXPECT_EQ(platform::linuxpc::PowerOffDisk(makedev(7, 250)), platform::ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(UDisksTest, PowerOffUnmountsTheFileSystemsOfAPartitionedDisk) {
    // Most sticks: an MBR with one partition; the eject names the whole disk.
    if (std::string reason = PartitionSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
    const std::string volume = world.root + "/part.img", disk = world.root + "/disk.img";
    ASSERT_TRUE(Shell("truncate -s 8M '" + volume + "' && mkfs.ext4 -q -F '" + volume + "'"));
    ASSERT_TRUE(MakePartitionedImage(disk, volume));
    loops.push_back(std::make_unique<LoopDevice>(disk, 512, true));
    ASSERT_FALSE(loops.back()->Node().empty());
    const std::string whole = loops.back()->Node(), partition = whole + "p1";
    ASSERT_TRUE(UDisksWorld::Announce(partition, "ext4"));
    EXPECT_TRUE(UDisksWorld::Block(whole)->holdsPartitionTable);
    EXPECT_FALSE(UDisksWorld::Block(partition)->holdsPartitionTable);
    EXPECT_EQ(UDisksWorld::Block(partition)->size, 8u << 20);
    std::string point;
    ASSERT_EQ(platform::linuxpc::UDisksMount(UDisksWorld::Block(partition)->object, &point), platform::ERROR_SUCCESS);
    ASSERT_TRUE(UDisksWorld::WaitFor([&] { return !UDisksWorld::Block(partition)->mountPoints.empty(); }));
    EXPECT_EQ(platform::linuxpc::PowerOffDisk(NumberOf(whole)), platform::ERROR_NOT_SUPPORTED);  // no drive
    EXPECT_TRUE(platform::linuxpc::MountPointsOf(NumberOf(partition)).empty());
}
