// The eject request on the real PC: the unit's USB device is unplugged through its sysfs
// "remove" (seen in a umockdev testbed), a busy mount of the disk vetoes (on a loop device), and
// an unmount or a flush that fails is no eject.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <filesystem>
#include <map>
#include <memory>

#include "UsbTestbed.h"
#include "platform/Devices.h"
#include "platform/linux/DiskEject.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/Udev.h"
#include "support/LoopDevice.h"

namespace {

platform::DEVINST UnitInstance() {
    platform::DEVINST unit = 0;
    platform::HDEVINFO set = platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT);
    platform::SP_DEVINFO_DATA device;
    for (uint32_t index = 0; platform::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        char id[260] = {};
        if (platform::CM_Get_Device_IDA(device.DevInst, id, sizeof id, 0) == platform::CR_SUCCESS &&
            std::string(id).find("ORSOLAN_PORTABLE_NAVI_STORAGE") != std::string::npos)
            unit = device.DevInst;
    }
    EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(set));
    return unit;
}

}  // namespace

using DiskEjectTest = UsbTestbed;

TEST_F(DiskEjectTest, TheUnitsUsbDeviceIsUnplugged) {
    if (::geteuid() != 0) GTEST_SKIP() << "ejecting without udisks2 needs root";
    platform::DEVINST unit = UnitInstance();
    ASSERT_NE(unit, 0u);
    int vetoType = -1;
    char vetoName[260] = "stale";
    EXPECT_EQ(platform::CM_Request_Device_EjectA(unit, &vetoType, vetoName, sizeof vetoName, 0), platform::CR_SUCCESS);
    EXPECT_EQ(vetoType, platform::kVetoNone);
    EXPECT_STREQ(vetoName, "");
    EXPECT_EQ(Attribute(unitUsb, "remove"), "1\n");
    EXPECT_EQ(Attribute(otherUsb, "remove"), "");  // only the unit goes
}

// A mount of the disk that a program keeps busy refuses the eject, named by its mount point,
// and stays mounted. The disk is a loop device with an ext4 volume (this kernel mounts no FAT).
TEST(DiskEjectBusyTest, ABusyMountVetoesWithItsMountPoint) {
    if (std::string reason = LoopSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
    TestWorld world;
    const std::string image = world.root + "/unit.img";
    ASSERT_TRUE(Shell("truncate -s 4M '" + image + "' && mkfs.ext4 -q -F '" + image + "'"));
    LoopDevice loop(image);
    if (loop.Node().empty()) GTEST_SKIP() << "losetup could not attach a loop device here";
    const std::string point = world.root + "/mnt";
    std::filesystem::create_directories(point);
    if (::mount(loop.Node().c_str(), point.c_str(), "ext4", 0, nullptr) != 0)
        GTEST_SKIP() << "this kernel cannot mount ext4 on a loop device";
    int held = ::open((point + "/held.txt").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(held, 0);

    struct stat st {};
    ASSERT_EQ(::stat(loop.Node().c_str(), &st), 0);
    platform::linuxpc::Udev context(udev_new());
    platform::linuxpc::UdevDevice disk(udev_device_new_from_devnum(context.get(), 'b', st.st_rdev));
    ASSERT_TRUE(disk);
    std::string holder;
    EXPECT_EQ(platform::linuxpc::EjectDisk(disk.get(), &holder), platform::CR_REMOVE_VETOED);
    EXPECT_EQ(holder, point);
    EXPECT_EQ(platform::linuxpc::MountPointsOf(st.st_rdev), std::vector<std::string>{point});

    ::close(held);
    EXPECT_EQ(::umount2(point.c_str(), 0), 0);
}

// The unit's disk gets a second partition, a loop device holding a mounted ext4 volume (this
// kernel mounts no FAT), made before the testbed is up (children would see the testbed).
class DiskEjectFailureTest : public UsbTestbed {
protected:
    void SetUp() override {
        if (std::string reason = LoopSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
        const std::string image = world.root + "/unit.img";
        ASSERT_TRUE(Shell("truncate -s 4M '" + image + "' && mkfs.ext4 -q -F '" + image + "'"));
        loop = std::make_unique<LoopDevice>(image);
        if (loop->Node().empty()) GTEST_SKIP() << "losetup could not attach a loop device here";
        struct stat st {};
        ASSERT_EQ(::stat(loop->Node().c_str(), &st), 0);
        number = st.st_rdev;
        std::filesystem::create_directories(point);
        if (::mount(loop->Node().c_str(), point.c_str(), "ext4", 0, nullptr) != 0)
            GTEST_SKIP() << "this kernel cannot mount ext4 on a loop device";
        mounted = true;
        UsbTestbed::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        const std::string major = std::to_string(::major(number)), minor = std::to_string(::minor(number));
        Add("block", "sdb2", unitDisk.c_str(), {"dev", (major + ":" + minor).c_str(), "partition", "2"},
            {"DEVTYPE", "partition", "DEVNAME", "/dev/sdb2", "MAJOR", major.c_str(), "MINOR", minor.c_str()});
        // The disk's node, which the eject opens to flush the disk (the testbed makes none).
        gchar* root = umockdev_testbed_get_root_dir(bed);
        std::filesystem::create_directories(std::string(root) + "/dev");
        TestWorld::WriteFile(std::string(root) + "/dev/sdb", "");
        g_free(root);
    }
    void TearDown() override {
        UsbTestbed::TearDown();
        ::unsetenv("UMOCKDEV_DIR");
        platform::linuxpc::SetDiskFlushForTest(nullptr);
        if (shadowed) EXPECT_EQ(::umount2(parent.c_str(), 0), 0);
        if (mounted && !platform::linuxpc::MountPointsOf(number).empty()) EXPECT_EQ(::umount2(point.c_str(), 0), 0);
        loop.reset();
    }
    platform::CONFIGRET Eject() {
        int vetoType = -1;
        char vetoName[260] = "stale";
        platform::CONFIGRET result =
            platform::CM_Request_Device_EjectA(UnitInstance(), &vetoType, vetoName, sizeof vetoName, 0);
        EXPECT_EQ(vetoType, platform::kVetoNone);  // nobody holds the unit: no veto
        return result;
    }

    const std::string parent = world.root + "/media", point = parent + "/unit";
    std::unique_ptr<LoopDevice> loop;
    dev_t number = 0;
    bool mounted = false, shadowed = false;
};

// A mount the table still lists after umount2 failed, though no program keeps it busy: here a
// mount over its parent folder, into which its path now leads, so umount2 finds no mount there.
TEST_F(DiskEjectFailureTest, AMountThatStaysIsNoEject) {
    if (::geteuid() != 0) GTEST_SKIP() << "ejecting without udisks2 needs root";
    ASSERT_EQ(::mount("tmpfs", parent.c_str(), "tmpfs", 0, nullptr), 0);
    shadowed = true;
    std::filesystem::create_directories(point);
    EXPECT_EQ(Eject(), platform::CR_FAILURE);
    EXPECT_EQ(Attribute(unitUsb, "remove"), "");
    EXPECT_EQ(platform::linuxpc::MountPointsOf(number), std::vector<std::string>{point});
}

int flushError = 0;

TEST_F(DiskEjectFailureTest, AFlushThatFailsIsNoEject) {
    if (::geteuid() != 0) GTEST_SKIP() << "ejecting without udisks2 needs root";
    platform::linuxpc::SetDiskFlushForTest([](int) {
        errno = flushError;
        return -1;
    });
    for (int error : {EIO, EINVAL}) {
        flushError = error;
        EXPECT_EQ(Eject(), platform::CR_FAILURE) << std::strerror(error);
        EXPECT_EQ(Attribute(unitUsb, "remove"), "") << std::strerror(error);
    }
    EXPECT_TRUE(platform::linuxpc::MountPointsOf(number).empty());  // unmounted before the flush
}
