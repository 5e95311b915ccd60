// Device changes on the simulated machine: each rewrite of machine.ini is one change, and the
// description's generation moves with it and only with it.
#include <gtest/gtest.h>

#include "support/TestWorld.h"
#include "platform/DeviceChange.h"
#include "platform/sim/Machine.h"

#include <filesystem>

// A unit plugged in is a rewrite of machine.ini by rename; other files of the machine folder
// are not device changes, and a change is reported once.
TEST(DeviceChange, EveryRewriteOfTheMachineDescriptionIsOneChange) {
    TestWorld world;
    // A machine folder without machine.ini is the real PC's, watched through udev.
    TestWorld::WriteFile(platform::MachineIniPath(), "");
    platform::ChooseMachine();
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

// The data path keeps what it read from the description until this number moves: it moves
// with every rewrite or in-place write of machine.ini, a lost folder and a new machine folder,
// and stays put otherwise.
TEST(DeviceChange, MachineGenerationMovesOnlyWithTheDescription) {
    TestWorld world;
    const uint64_t start = platform::MachineGeneration();
    EXPECT_EQ(platform::MachineGeneration(), start);
    TestWorld::WriteFile(world.root + "/machine/other.txt", "x");
    EXPECT_EQ(platform::MachineGeneration(), start);

    ASSERT_TRUE(platform::ModifyMachine([](platform::ProfileDocument& doc) {
        doc.Set("Drive E", "Folder", "drives/e");
        return true;
    }));
    const uint64_t rewritten = platform::MachineGeneration();
    EXPECT_NE(rewritten, start);
    EXPECT_EQ(platform::MachineGeneration(), rewritten);

    TestWorld::WriteFile(platform::MachineIniPath(), "[Drive E]\nFolder=drives/f\n");
    const uint64_t written = platform::MachineGeneration();
    EXPECT_NE(written, rewritten);

    const std::string folder = platform::MachineFolder();
    platform::SetMachineFolder(world.root);
    EXPECT_NE(platform::MachineGeneration(), written);
    platform::SetMachineFolder(folder);
    const uint64_t back = platform::MachineGeneration();
    EXPECT_EQ(platform::MachineGeneration(), back);

    std::filesystem::remove_all(folder);
    EXPECT_NE(platform::MachineGeneration(), back);
}
