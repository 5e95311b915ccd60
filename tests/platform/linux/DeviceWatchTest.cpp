// The device-change watcher on the real PC: a disk's remove event from udev, and a mount.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "UsbTestbed.h"
#include "platform/DeviceChange.h"

namespace {

bool Readable(int fd, int waitMs) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, waitMs) == 1 && (entry.revents & POLLIN);
}

}  // namespace

using DeviceWatchTest = UsbTestbed;

TEST_F(DeviceWatchTest, ADiskRemovedIsAChange) {
    platform::DeviceChangeWatcher watcher;
    ASSERT_GE(watcher.Fd(), 0);
    EXPECT_FALSE(Readable(watcher.Fd(), 0));
    EXPECT_FALSE(watcher.Consume());

    umockdev_testbed_uevent(bed, unitDisk.c_str(), "remove");
    ASSERT_TRUE(Readable(watcher.Fd(), 5000));
    EXPECT_TRUE(watcher.Consume());
    EXPECT_FALSE(Readable(watcher.Fd(), 0));
    EXPECT_FALSE(watcher.Consume());
}

TEST_F(DeviceWatchTest, AMountAndAnUnmountAreChanges) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    platform::DeviceChangeWatcher watcher;
    ASSERT_GE(watcher.Fd(), 0);
    const std::string point = world.root + "/mnt";
    std::filesystem::create_directories(point);
    if (::mount("veltrane-test", point.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "this machine lets no tmpfs be mounted here";
    ASSERT_TRUE(Readable(watcher.Fd(), 5000));
    EXPECT_TRUE(watcher.Consume());
    EXPECT_FALSE(watcher.Consume());

    ASSERT_EQ(::umount2(point.c_str(), 0), 0);
    ASSERT_TRUE(Readable(watcher.Fd(), 5000));
    EXPECT_TRUE(watcher.Consume());
}
