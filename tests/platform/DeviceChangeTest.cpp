#include <gtest/gtest.h>

#include "support/TestWorld.h"
#include "platform/DeviceChange.h"

// A unit plugged in is a rewrite of machine.ini by rename; other files of the machine folder
// are not device changes, and a change is reported once.
TEST(DeviceChange, EveryRewriteOfTheMachineDescriptionIsOneChange) {
    TestWorld world;
    platform::DeviceChangeWatcher watcher;
    ASSERT_GE(watcher.Fd(), 0);
    EXPECT_FALSE(watcher.Consume());

    TestWorld::WriteFile(world.root + "/machine/other.txt", "x");
    EXPECT_FALSE(watcher.Consume());

    platform::ProfileDocument machine;
    machine.Set("Drive E", "Folder", "drives/e");
    ASSERT_TRUE(machine.Save(platform::MachineIniPath()));
    EXPECT_TRUE(watcher.Consume());
    EXPECT_FALSE(watcher.Consume());

    TestWorld::WriteFile(platform::MachineIniPath(), "[Drive E]\nFolder=drives/f\n");
    EXPECT_TRUE(watcher.Consume());
}
