// The image step on the real PC's raw path: a FAT update image written onto a loop device
// standing in for the unit, read back from the device itself, and afterwards read by fsck.fat
// and mtools as the unit's firmware would find it.
#include <fcntl.h>
#include <unistd.h>

#include "TransferFixture.h"
#include "state/Results.h"
#include "platform/linux/DriveLetters.h"
#include "platform/posix/MachineSource.h"
#include "support/LoopDevice.h"
#include "support/TestSystemBus.h"

namespace {

constexpr size_t kVolumeBytes = 4 << 20;
// In the second piece, in the data area the update image leaves empty (zero).
constexpr off_t kWatchedOffset = (1 << 20) + 1000;

// The fake clock, with a hook on every reading of the time: the image step reads it (to log the
// time) between each piece's write and its read-back.
class ReadHookClock : public HookClock {
public:
    int64_t NowMilliseconds() override {
        if (onRead) onRead();
        return HookClock::NowMilliseconds();
    }
    std::function<void()> onRead;
};

char ByteAt(const std::string& path, off_t offset) {
    char byte = 0;
    int fd = ::open(path.c_str(), O_RDONLY);
    if (::pread(fd, &byte, 1, offset) != 1) byte = '?';
    ::close(fd);
    return byte;
}

void PutByte(const std::string& path, off_t offset, char byte) {
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, &byte, 1, offset), 1);
    ASSERT_EQ(::fsync(fd), 0);
    ::close(fd);
}

}  // namespace

// On a whole-disk loop device and on what most USB sticks are: an MBR with one FAT partition.
class RealDiskImageTest : public TransferTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        if (std::string reason = LoopSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
        platform::SetClock(&readClock);

        // The update's image: a FAT volume with the unit's files, both boot signatures set
        // (sector 5 is in the reserved area).
        std::filesystem::create_directories(world.root + "/fat");
        ASSERT_TRUE(MakeUnitFatImage(ImagePath(), kVolumeBytes, world.root + "/fat"));
        std::string image = TestWorld::ReadFile(ImagePath());
        image[2560 + 510] = '\x55';
        image[2560 + 511] = '\xAA';
        ASSERT_EQ(image[kWatchedOffset], '\0');
        TestWorld::WriteFile(ImagePath(), image);
        mkupdate::Options options;
        options.imageFile = ImagePath();
        options.imagePieces = 4;
        contents = Build(options);
        ASSERT_EQ(Prepare(), 0);
        job.config = data;
        job.id = id;

        // The unit as it was: an older volume whose unused space holds old data.
        const bool partitioned = GetParam();
        if (std::string reason = PartitionSkipReason(); partitioned && !reason.empty()) GTEST_SKIP() << reason;
        unitImage = world.root + "/unit.img";
        TestWorld::WriteFile(unitImage, std::string(kVolumeBytes, '\xEE'));
        if (partitioned) {
            const std::string volume = unitImage;
            unitImage = world.root + "/disk.img";
            ASSERT_TRUE(MakePartitionedImage(unitImage, volume));
            base = kPartitionOffset;
        }
        loop = std::make_unique<LoopDevice>(unitImage, 512, partitioned);
        if (loop->Node().empty()) GTEST_SKIP() << "losetup could not attach a loop device here";
        volumeNode = partitioned ? loop->Node() + "p1" : loop->Node();
        // The real PC from here on: the machine folder holds no machine.ini.
        std::filesystem::create_directories(world.root + "/real-pc");
        platform::SetMachineFolder(world.root + "/real-pc");
        platform::ChooseMachine();
        ASSERT_FALSE(platform::MachineSimulated());
        platform::linuxpc::SetDriveDevice('E', volumeNode);
    }
    // The unit's volume as its backing file holds it.
    std::string VolumeBytes() const { return TestWorld::ReadFile(unitImage).substr(base, kVolumeBytes); }
    void TearDown() override {
        TransferTest::TearDown();
        platform::linuxpc::SetDriveDevice('E', "");
    }

    NoSystemBus noUDisks;  // the PC without udisks2: root's own access
    ReadHookClock readClock;
    std::string unitImage;  // the loop device's backing file
    off_t base = 0;         // where the volume starts in it
    std::string volumeNode;
    std::unique_ptr<LoopDevice> loop;
};

INSTANTIATE_TEST_SUITE_P(WholeDiskAndPartition, RealDiskImageTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Partition" : "WholeDisk";
                         });

TEST_P(RealDiskImageTest, WritesTheImageThatFsckAndMtoolsThenRead) {
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(ImageCopy(&job), 0);
    EXPECT_EQ(theApp.Navi.DriveHandle.load(), nullptr);
    EXPECT_EQ(VolumeBytes(), TestWorld::ReadFile(ImagePath()));
    EXPECT_TRUE(Shell("fsck.fat -n '" + volumeNode + "'"));
    EXPECT_EQ(ShellOutput("mtype -i '" + volumeNode + "' ::/UPDATE/NAVIINFO/DEVICE.DAT"), "NAVI-UNIT-0001\r\n");
    EXPECT_EQ(ShellOutput("mtype -i '" + volumeNode + "' ::/MAP.VER"), "2025101\r\n");
}

TEST_P(RealDiskImageTest, ReadBackCatchesAMediumChangedBehindTheDevice) {
    // Once the second piece has reached the medium, the medium changes under the device: the
    // page cache still holds what was written, the device does not.
    bool changed = false;
    readClock.onRead = [&] {
        if (changed || ByteAt(unitImage, base + kWatchedOffset) != '\0') return;
        PutByte(unitImage, base + kWatchedOffset, 'Z');
        changed = true;
    };
    ASSERT_EQ(OpenVolume(), 0);
    EXPECT_EQ(ImageCopy(&job), kImageCompareFailed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(ByteAt(unitImage, base + 510), '\0');  // the boot signatures cleared
    EXPECT_EQ(ByteAt(unitImage, base + 511), '\0');
    EXPECT_EQ(ByteAt(unitImage, base + 2560 + 510), '\0');
    EXPECT_EQ(theApp.Navi.ImageWritePending.load(), 1);
}
