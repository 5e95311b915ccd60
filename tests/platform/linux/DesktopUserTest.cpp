// The real PC's raw volume and volumes for a desktop user who is not root: udisks2 and polkitd
// run on the test's own system bus with a test-only rule (support/AsDesktopUser.h), the unit is
// a partitioned loop device (an MBR with one FAT partition, as most sticks are), and each check
// runs as that user in a child process. What the rule counts shows how often the user would
// have been asked for a password.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/RawVolume.h"
#include "platform/linux/DriveLetters.h"
#include "platform/linux/Mounts.h"
#include "support/AsDesktopUser.h"
#include "support/UDisksWorld.h"

namespace {

constexpr uint32_t kReadWrite = platform::GENERIC_READ | platform::GENERIC_WRITE;
constexpr uint32_t kShared = platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE;

struct Closer {
    void operator()(void* handle) const {
        if (handle != platform::INVALID_HANDLE_VALUE) (void)platform::CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, Closer>;

Handle OpenE(uint32_t access) {
    return Handle(platform::CreateFileA("\\\\.\\E:", access, kShared, nullptr, platform::OPEN_EXISTING, 0, nullptr));
}

bool Control(platform::HANDLE disk, uint32_t code) {
    uint32_t returned = 0;
    return platform::DeviceIoControl(disk, code, nullptr, 0, nullptr, 0, &returned, nullptr);
}

dev_t NumberOf(const std::string& node) {
    struct stat st {};
    return ::stat(node.c_str(), &st) == 0 ? st.st_rdev : 0;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

class DesktopUserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rules = new DesktopUserRules;
        daemons = new UDisksWorld(rules->RulesFolder());
    }
    static void TearDownTestSuite() {
        delete daemons;
        delete rules;
    }
    void SetUp() override {
        if (!daemons->SkipReason().empty()) GTEST_SKIP() << daemons->SkipReason();
        if (std::string reason = PartitionSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
        if (!Shell("command -v runuser")) GTEST_SKIP() << "runuser is missing (util-linux)";
        rules->ForgetRequests();
        rules->AnswerOpenDevice(true);
    }
    void TearDown() override {
        if (loop)
            for (const std::string& point : platform::linuxpc::MountPointsOf(NumberOf(Volume())))
                static_cast<void>(Shell("umount -l '" + point + "'"));  // best effort on the way out
        loop.reset();
    }

    // The unit: an MBR with one FAT partition made by mkfs.vfat, told to udisks2; with its boot
    // signature cleared, as the image step leaves it until the last piece is written.
    void AttachUnit(bool signatureCleared = false) {
        const std::string volume = world.root + "/unit.img", disk = world.root + "/disk.img";
        ASSERT_TRUE(MakeUnitFatImage(volume, 4 << 20, world.root));
        if (signatureCleared) {
            int fd = ::open(volume.c_str(), O_WRONLY | O_CLOEXEC);
            ASSERT_EQ(::pwrite(fd, "\0\0", 2, 510), 2);
            ::close(fd);
        }
        ASSERT_TRUE(MakePartitionedImage(disk, volume));
        loop = std::make_unique<LoopDevice>(disk, 512, true);
        ASSERT_FALSE(loop->Node().empty()) << "losetup could not attach a partitioned loop device";
        ASSERT_TRUE(UDisksWorld::Announce(Volume()));
    }
    std::string Volume() const { return loop->Node() + "p1"; }

    // Runs DesktopUserChild.DISABLED_<name> as the desktop user; it is to pass.
    void RunChild(const std::string& name) {
        const uint32_t minorNumber =
            static_cast<uint32_t>(std::stoul(loop->Node().substr(std::string("/dev/loop").size())));
        std::string output;
        int status = RunAsDesktopUser("DesktopUserChild.DISABLED_" + name,
                                      {{"VELTRANE_TEST_VOLUME", Volume()},
                                       {"VELTRANE_TEST_DISK_NUMBER", std::to_string((7u << 20) | minorNumber)}},
                                      &output);
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
    }

    static DesktopUserRules* rules;
    static UDisksWorld* daemons;
    TestWorld world;
    std::unique_ptr<LoopDevice> loop;
};

DesktopUserRules* DesktopUserTest::rules = nullptr;
UDisksWorld* DesktopUserTest::daemons = nullptr;

// The child side: the letter E: is the unit's partition.
class DesktopUserChild : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(::geteuid(), 0u) << "runs as the desktop user only";
        platform::linuxpc::SetDriveDevice('E', Environment("VELTRANE_TEST_VOLUME"));
    }
    void TearDown() override { platform::linuxpc::SetDriveDevice('E', ""); }
};

TEST_F(DesktopUserTest, FindingTheUnitsDiskAsksNothing) {
    ASSERT_NO_FATAL_FAILURE(AttachUnit());
    rules->AnswerOpenDevice(false);  // a password nobody gives
    RunChild("TiesTheDiskWithoutOpeningIt");
    EXPECT_EQ(rules->OpenDeviceRequests(), 0);
}

TEST_F(DesktopUserChild, DISABLED_TiesTheDiskWithoutOpeningIt) {
    Handle query = OpenE(0);
    ASSERT_NE(query.get(), platform::INVALID_HANDLE_VALUE) << platform::GetLastError();
    platform::STORAGE_DEVICE_NUMBER number{};
    uint32_t returned = 0;
    ASSERT_TRUE(platform::DeviceIoControl(query.get(), platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                          sizeof number, &returned, nullptr));
    EXPECT_EQ(std::to_string(number.DeviceNumber), Environment("VELTRANE_TEST_DISK_NUMBER"));
    // The probe that waits for the volume to come back opens it read-write and closes it.
    EXPECT_NE(OpenE(kReadWrite).get(), platform::INVALID_HANDLE_VALUE) << platform::GetLastError();
}

TEST_F(DesktopUserTest, TheImageStepAndWhatFollowsAskOnceWithThePromptAllowed) {
    ASSERT_NO_FATAL_FAILURE(AttachUnit());
    // Every OpenDevice call on the bus, to see the options it carries.
    const std::string monitorLog = world.root + "/monitor.log";
    pid_t monitor = ::fork();
    if (monitor == 0) {
        int log = ::open(monitorLog.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ::dup2(log, STDOUT_FILENO);
        ::execlp("dbus-monitor", "dbus-monitor", "--system", "member=OpenDevice", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::usleep(300 * 1000);  // dbus-monitor becomes a monitor before the child's calls
    RunChild("WritesTheImageWithOneOpen");
    ::kill(monitor, SIGTERM);
    ::waitpid(monitor, nullptr, 0);
    EXPECT_EQ(rules->OpenDeviceRequests(), 1);
    // polkit may ask the user: an OpenDevice without interaction would fail where a password is due.
    std::ifstream in(monitorLog);
    int calls = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find("\"auth.no_user_interaction\"") == std::string::npos) continue;
        std::string value;
        std::getline(in, value);
        EXPECT_NE(value.find("boolean false"), std::string::npos) << value;
        ++calls;
    }
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(Shell("fsck.fat -n " + Volume()));  // the signature restored
}

TEST_F(DesktopUserChild, DISABLED_WritesTheImageWithOneOpen) {
    {
        Handle disk = OpenE(kReadWrite);
        ASSERT_NE(disk.get(), platform::INVALID_HANDLE_VALUE) << platform::GetLastError();
        ASSERT_TRUE(Control(disk.get(), platform::FSCTL_LOCK_VOLUME)) << platform::GetLastError();
        platform::RawBuffer sector(platform::NewRawBuffer(512));
        uint32_t done = 0;
        int32_t high = 0;
        for (unsigned char mark : {0x00, 0x55}) {
            ASSERT_EQ(platform::SetFilePointer(disk.get(), 0, &high, platform::FILE_BEGIN), 0u);
            ASSERT_TRUE(platform::ReadFile(disk.get(), sector.get(), 512, &done, nullptr));
            sector[510] = mark;
            sector[511] = mark == 0x55 ? 0xAA : 0x00;
            ASSERT_EQ(platform::SetFilePointer(disk.get(), 0, &high, platform::FILE_BEGIN), 0u);
            ASSERT_TRUE(platform::WriteFile(disk.get(), sector.get(), 512, &done, nullptr));
            ASSERT_TRUE(platform::FlushFileBuffers(disk.get()));
        }
        ASSERT_TRUE(Control(disk.get(), platform::FSCTL_UNLOCK_VOLUME));
    }
    // The reopen wait's probes, then the eject's query.
    for (int probe = 0; probe < 10; ++probe) ASSERT_NE(OpenE(kReadWrite).get(), platform::INVALID_HANDLE_VALUE);
    EXPECT_NE(OpenE(0).get(), platform::INVALID_HANDLE_VALUE);
}

TEST_F(DesktopUserTest, AVolumeWithoutItsBootSignatureIsNeverMounted) {
    // The image step stopped half-way: blkid, udisks2 and the kernel still see FAT.
    ASSERT_NO_FATAL_FAILURE(AttachUnit(true));
    ASSERT_EQ(UDisksWorld::Block(Volume())->idType, "vfat");
    RunChild("NeverMountsAClearedVolume");
    EXPECT_EQ(rules->Asked("org.freedesktop.udisks2.filesystem-mount"), 0);
    EXPECT_TRUE(platform::linuxpc::MountPointsOf(NumberOf(Volume())).empty());
}

TEST_F(DesktopUserChild, DISABLED_NeverMountsAClearedVolume) {
    // Sector 0 unread: not known, not mounted.
    EXPECT_EQ(platform::ToNativePath("E:\\UPDATE"), std::nullopt);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_NOT_READY);
    {
        // A hold reads sector 0 through its own descriptor when it lets go.
        Handle disk = OpenE(kReadWrite);
        ASSERT_TRUE(Control(disk.get(), platform::FSCTL_LOCK_VOLUME)) << platform::GetLastError();
        ASSERT_TRUE(Control(disk.get(), platform::FSCTL_UNLOCK_VOLUME));
    }
    EXPECT_EQ(platform::ToNativePath("E:\\UPDATE"), std::nullopt);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_UNRECOGNIZED_VOLUME);
}

TEST_F(DesktopUserTest, ARefusedAuthorisationIsNotAnotherProgramUsingTheUnit) {
    ASSERT_NO_FATAL_FAILURE(AttachUnit());
    rules->AnswerOpenDevice(false);
    RunChild("LockRefusedByPolkit");
    EXPECT_EQ(rules->OpenDeviceRequests(), 1);
}

TEST_F(DesktopUserChild, DISABLED_LockRefusedByPolkit) {
    Handle disk = OpenE(kReadWrite);
    ASSERT_NE(disk.get(), platform::INVALID_HANDLE_VALUE) << platform::GetLastError();
    EXPECT_FALSE(Control(disk.get(), platform::FSCTL_LOCK_VOLUME));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ELEVATION_REQUIRED);
}

TEST_F(DesktopUserTest, ALockWhoseUnmountIsRefusedOpensNothing) {
    // A file system another user mounted (here root, on the stand-in ext4: this kernel has no vfat).
    ASSERT_NO_FATAL_FAILURE(AttachUnit());
    ASSERT_TRUE(Shell("mkfs.ext4 -q -F " + Volume()));
    ASSERT_TRUE(UDisksWorld::Announce(Volume(), "ext4"));
    const std::string point = world.root + "/mnt";
    std::filesystem::create_directories(point);
    if (::mount(Volume().c_str(), point.c_str(), "ext4", 0, nullptr) != 0)
        GTEST_SKIP() << "this kernel cannot mount ext4 on a loop device";
    ASSERT_TRUE(UDisksWorld::WaitFor([&] { return !UDisksWorld::Block(Volume())->mountPoints.empty(); }));
    RunChild("LockRefusedByPolkit");
    EXPECT_EQ(rules->Asked("org.freedesktop.udisks2.filesystem-unmount-others"), 1);
    EXPECT_EQ(rules->OpenDeviceRequests(), 0);
    EXPECT_EQ(platform::linuxpc::MountPointsOf(NumberOf(Volume())), std::vector<std::string>{point});
}
