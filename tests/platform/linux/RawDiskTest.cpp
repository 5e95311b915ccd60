// The real PC's raw volume on real loop devices: the open through the drive letter, the lock
// that keeps mounts and other exclusive users away, bounded writes, and a read-back that comes
// from the device and not from the page cache.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/Format.h"
#include "platform/RawVolume.h"
#include "platform/linux/DriveLetters.h"
#include "platform/linux/Mounts.h"
#include "platform/posix/MachineSource.h"
#include "support/LoopDevice.h"
#include "support/TestSystemBus.h"

namespace {

constexpr uint32_t kReadWrite = platform::GENERIC_READ | platform::GENERIC_WRITE;
constexpr uint32_t kShared = platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE;

platform::HANDLE OpenE() {
    return platform::CreateFileA("\\\\.\\E:", kReadWrite, kShared, nullptr, platform::OPEN_EXISTING, 0, nullptr);
}

struct Closer {
    void operator()(void* handle) const {
        if (handle != platform::INVALID_HANDLE_VALUE) (void)platform::CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, Closer>;

std::string ReadAt(const std::string& path, off_t offset, size_t length) {
    std::string bytes(length, '\0');
    int fd = ::open(path.c_str(), O_RDONLY);
    ssize_t n = ::pread(fd, bytes.data(), length, offset);
    ::close(fd);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
}

void WriteAt(const std::string& path, off_t offset, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
    ASSERT_EQ(::fsync(fd), 0);
    ::close(fd);
}

bool Seek(platform::HANDLE handle, uint32_t offset) {
    int32_t high = 0;
    return platform::SetFilePointer(handle, static_cast<int32_t>(offset), &high, platform::FILE_BEGIN) == offset;
}

}  // namespace

// Every test runs on a whole-disk loop device and on what most USB sticks are: an MBR with one
// FAT partition, the letter given to the partition.
class RawDiskTest : public ::testing::TestWithParam<bool> {
protected:
    // A volume request without buffers (lock, unlock) on an open disk.
    static bool Control(platform::HANDLE disk, uint32_t code) {
        uint32_t returned = 0;
        return platform::DeviceIoControl(disk, code, nullptr, 0, nullptr, 0, &returned, nullptr);
    }
    void SetUp() override {
        if (std::string reason = LoopSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
        const bool partitioned = GetParam();
        if (std::string reason = PartitionSkipReason(); partitioned && !reason.empty()) GTEST_SKIP() << reason;
        const std::string volumeImage = world.root + "/unit.img";
        ASSERT_TRUE(MakeUnitFatImage(volumeImage, 4 << 20, world.root));
        image = volumeImage;
        if (partitioned) {
            image = world.root + "/disk.img";
            ASSERT_TRUE(MakePartitionedImage(image, volumeImage));
            base = kPartitionOffset;
        }
        loop = std::make_unique<LoopDevice>(image, 512, partitioned);
        if (loop->Node().empty()) GTEST_SKIP() << "losetup could not attach a loop device here";
        volume = partitioned ? loop->Node() + "p1" : loop->Node();
        ASSERT_FALSE(platform::MachineSimulated());  // the world's machine folder holds no machine.ini
        platform::linuxpc::SetDriveDevice('E', volume);
    }
    void TearDown() override { platform::linuxpc::SetDriveDevice('E', ""); }

    NoSystemBus noUDisks;  // the PC without udisks2: root's own access
    TestWorld world;
    std::string image;   // the loop device's backing file
    off_t base = 0;      // where the volume starts in it
    std::string volume;  // the letter's node: the loop device or its partition
    std::unique_ptr<LoopDevice> loop;
};

INSTANTIATE_TEST_SUITE_P(WholeDiskAndPartition, RawDiskTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Partition" : "WholeDisk";
                         });

TEST_P(RawDiskTest, OpensTheDeviceBehindTheLetterAndReadsItsSectors) {
    Handle disk(OpenE());
    ASSERT_NE(disk.get(), platform::INVALID_HANDLE_VALUE) << platform::GetLastError();
    unsigned char sector[512] = {};
    uint32_t read = 0;
    ASSERT_TRUE(platform::ReadFile(disk.get(), sector, sizeof sector, &read, nullptr));
    EXPECT_EQ(read, 512u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(sector) + 3, 8), "mkfs.fat");
    EXPECT_EQ(sector[510], 0x55);
    EXPECT_EQ(sector[511], 0xAA);

    int32_t high = -1;  // the high half carries the sign of a 64-bit move
    EXPECT_EQ(platform::SetFilePointer(disk.get(), -512, &high, platform::FILE_END), (4u << 20) - 512);
    unsigned char two[1024];
    ASSERT_TRUE(platform::ReadFile(disk.get(), two, sizeof two, &read, nullptr));
    EXPECT_EQ(read, 512u);  // the end of the device gives fewer bytes

    // The query handle (no access) names the whole disk: the loop device, major 7, minor N for
    // /dev/loopN; its partitions have numbers of their own (major 259).
    Handle query(platform::CreateFileA("\\\\.\\E:", 0, kShared, nullptr, platform::OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(query.get(), platform::INVALID_HANDLE_VALUE);
    platform::STORAGE_DEVICE_NUMBER number{};
    uint32_t returned = 0;
    ASSERT_TRUE(platform::DeviceIoControl(query.get(), platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                          sizeof number, &returned, nullptr));
    const uint32_t minorNumber =
        static_cast<uint32_t>(std::stoul(loop->Node().substr(std::string("/dev/loop").size())));
    EXPECT_EQ(number.DeviceNumber, (7u << 20) | minorNumber);
    EXPECT_FALSE(platform::ReadFile(query.get(), two, 512, &read, nullptr));  // a query reads nothing

    EXPECT_EQ(platform::CreateFileA("\\\\.\\F:", kReadWrite, kShared, nullptr, platform::OPEN_EXISTING, 0, nullptr),
              platform::INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
}

TEST_P(RawDiskTest, LockKeepsOutExclusiveOpensMountsAndOtherHandles) {
    Handle disk(OpenE());
    ASSERT_NE(disk.get(), platform::INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Control(disk.get(), platform::FSCTL_LOCK_VOLUME));
    int exclusive = ::open(volume.c_str(), O_RDONLY | O_EXCL);
    EXPECT_EQ(exclusive, -1);
    EXPECT_EQ(errno, EBUSY);
    std::filesystem::create_directories(world.root + "/mnt");
    // ext4 opens the device exclusively before it reads anything (this kernel has no vfat).
    EXPECT_NE(::mount(volume.c_str(), (world.root + "/mnt").c_str(), "ext4", MS_RDONLY, nullptr), 0);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(OpenE(), platform::INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);

    ASSERT_TRUE(Control(disk.get(), platform::FSCTL_UNLOCK_VOLUME));
    EXPECT_FALSE(Control(disk.get(), platform::FSCTL_UNLOCK_VOLUME));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_NOT_LOCKED);
    exclusive = ::open(volume.c_str(), O_RDONLY | O_EXCL);
    EXPECT_GE(exclusive, 0);
    if (exclusive >= 0) ::close(exclusive);
    Handle other(OpenE());
    EXPECT_NE(other.get(), platform::INVALID_HANDLE_VALUE);
}

// The window asks a held unit, and one it is still holding, whether it is there: a handle
// not yet locked has no descriptor, and must not take the unit for gone.
TEST_P(RawDiskTest, EveryHandleTellsWhetherItsDeviceIsStillThere) {
    Handle disk(OpenE());
    ASSERT_NE(disk.get(), platform::INVALID_HANDLE_VALUE);
    Handle query(platform::CreateFileA("\\\\.\\E:", 0, kShared, nullptr, platform::OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(query.get(), platform::INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Control(disk.get(), platform::IOCTL_STORAGE_CHECK_VERIFY2));
    EXPECT_TRUE(Control(query.get(), platform::IOCTL_STORAGE_CHECK_VERIFY2));
    ASSERT_TRUE(Control(disk.get(), platform::FSCTL_LOCK_VOLUME));
    EXPECT_TRUE(Control(disk.get(), platform::IOCTL_STORAGE_CHECK_VERIFY2));
}

TEST_P(RawDiskTest, AnotherExclusiveHolderRefusesTheLock) {
    Handle disk(OpenE());
    ASSERT_NE(disk.get(), platform::INVALID_HANDLE_VALUE);
    int exclusive = ::open(volume.c_str(), O_RDONLY | O_EXCL);
    ASSERT_GE(exclusive, 0);
    EXPECT_FALSE(Control(disk.get(), platform::FSCTL_LOCK_VOLUME));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
    ::close(exclusive);
    EXPECT_TRUE(Control(disk.get(), platform::FSCTL_LOCK_VOLUME));
}

TEST_P(RawDiskTest, WritesStayOnWholeSectorsInsideTheDevice) {
    Handle disk(OpenE());
    ASSERT_NE(disk.get(), platform::INVALID_HANDLE_VALUE);
    const std::string lastSector = ReadAt(image, base + (4 << 20) - 512, 512);
    std::string data(1024, 'Q');
    uint32_t written = 7;
    ASSERT_TRUE(Seek(disk.get(), (4u << 20) - 512));
    EXPECT_FALSE(platform::WriteFile(disk.get(), data.data(), 1024, &written, nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_SECTOR_NOT_FOUND);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(ReadAt(image, base + (4 << 20) - 512, 512), lastSector);
    ASSERT_TRUE(Seek(disk.get(), 512));
    EXPECT_FALSE(platform::WriteFile(disk.get(), data.data(), 100, &written, nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
    // Whole sectors at a position inside a sector would straddle two.
    const std::string secondSector = ReadAt(image, base + 512, 1024);
    ASSERT_TRUE(Seek(disk.get(), 512 + 256));
    EXPECT_FALSE(platform::WriteFile(disk.get(), data.data(), 512, &written, nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ReadAt(image, base + 512, 1024), secondSector);
    // A write that ends exactly at the device's end is inside it.
    ASSERT_TRUE(Seek(disk.get(), (4u << 20) - 512));
    EXPECT_TRUE(platform::WriteFile(disk.get(), data.data(), 512, &written, nullptr));
    EXPECT_EQ(written, 512u);
    ASSERT_TRUE(platform::FlushFileBuffers(disk.get()));
    disk.reset();
    EXPECT_EQ(ReadAt(image, base + (4 << 20) - 512, 512), std::string(512, 'Q'));
}

TEST_P(RawDiskTest, ReadBackComesFromTheDeviceNotFromTheCache) {
    // What a write left in the page cache must not pass for the device's content: the medium
    // changes behind the device after the flush, and the read has to see the change.
    Handle disk(OpenE());
    ASSERT_NE(disk.get(), platform::INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Control(disk.get(), platform::FSCTL_LOCK_VOLUME));
    const uint32_t offset = 1 << 20;
    std::string written(4096, 'A');
    uint32_t count = 0;
    ASSERT_TRUE(Seek(disk.get(), offset));
    ASSERT_TRUE(platform::WriteFile(disk.get(), written.data(), 4096, &count, nullptr));
    ASSERT_TRUE(platform::FlushFileBuffers(disk.get()));
    ASSERT_EQ(ReadAt(image, base + offset, 4096), written);  // the flush reached the backing file
    WriteAt(image, base + offset + 1000, "Z");

    std::string back(4096, '\0');
    ASSERT_TRUE(Seek(disk.get(), offset));
    ASSERT_TRUE(platform::ReadFile(disk.get(), back.data(), 4096, &count, nullptr));
    EXPECT_EQ(count, 4096u);
    EXPECT_EQ(back[1000], 'Z');
    EXPECT_EQ(back[999], 'A');
    // An unaligned buffer works as well.
    std::string shifted(4096 + 1, '\0');
    ASSERT_TRUE(Seek(disk.get(), offset));
    ASSERT_TRUE(platform::ReadFile(disk.get(), shifted.data() + 1, 512 * 2, &count, nullptr));
    EXPECT_EQ(shifted.substr(1, 1024), written.substr(0, 1000) + "Z" + written.substr(0, 23));
}

TEST(RawDiskSectorTest, DeviceWithLargerLogicalSectorsIsRefused) {
    if (std::string reason = LoopSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
    TestWorld world;
    const std::string image = world.root + "/big-sectors.img";
    ASSERT_TRUE(Shell("truncate -s 1M '" + image + "'"));
    LoopDevice loop(image, 4096);
    if (loop.Node().empty()) GTEST_SKIP() << "losetup could not attach a loop device with 4096-byte sectors";
    platform::linuxpc::SetDriveDevice('E', loop.Node());
    EXPECT_EQ(OpenE(), platform::INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_NOT_SUPPORTED);
    platform::linuxpc::SetDriveDevice('E', "");
}

TEST_P(RawDiskTest, LockUnmountsTheVolumeUnlessItIsBusy) {
    // This kernel mounts no FAT; an ext4 volume stands in for the mounted unit.
    ASSERT_TRUE(Shell("mkfs.ext4 -q -F '" + volume + "'"));
    // mountinfo writes both blanks as "\040", the last one at the very end of the field.
    const std::string point = world.root + "/mounted here ";
    std::filesystem::create_directories(point);
    if (::mount(volume.c_str(), point.c_str(), "ext4", 0, nullptr) != 0)
        GTEST_SKIP() << "this kernel cannot mount ext4 on a loop device";
    struct stat st {};
    ASSERT_EQ(::stat(volume.c_str(), &st), 0);
    ASSERT_EQ(platform::linuxpc::MountPointsOf(st.st_rdev), std::vector<std::string>{point});

    int busy = ::open((point + "/open.txt").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(busy, 0);
    Handle disk(OpenE());
    ASSERT_NE(disk.get(), platform::INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Control(disk.get(), platform::FSCTL_LOCK_VOLUME));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
    EXPECT_EQ(platform::linuxpc::MountPointsOf(st.st_rdev).size(), 1u);

    ::close(busy);
    EXPECT_TRUE(Control(disk.get(), platform::FSCTL_LOCK_VOLUME));
    EXPECT_TRUE(platform::linuxpc::MountPointsOf(st.st_rdev).empty());
    if (!platform::linuxpc::MountPointsOf(st.st_rdev).empty()) ::umount2(point.c_str(), MNT_DETACH);
}

TEST_P(RawDiskTest, RootFormatsWithMkfsKeepingTheLabel) {
    // No udisks2 here: root formats the device itself.
    ASSERT_EQ(ShellOutput("mtype -i " + volume + " ::/MAP.VER"), "2025101\r\n");
    ASSERT_EQ(platform::FormatDrive('E'), 0u) << platform::GetLastError();
    EXPECT_TRUE(Shell("fsck.fat -n " + volume));
    EXPECT_EQ(ShellOutput("mdir -b -i " + volume + " ::/"), "");
    EXPECT_EQ(ShellOutput("fatlabel " + volume), "NAVI\n");
}
