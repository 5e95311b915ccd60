// The eject request on the real PC: the unit's USB device is unplugged through its sysfs
// "remove" (seen in a umockdev testbed), and a busy mount of the disk vetoes (on a loop device).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

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
