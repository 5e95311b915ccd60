// The simulated machine or the real PC is chosen once: machine.ini coming or going afterwards
// changes the drives the program sees only when the machine is chosen again, as at a restart.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Drives.h"
#include "support/TestWorld.h"

TEST(MachineChoice, MachineIniCountsOnlyWhenTheMachineIsChosen) {
    TestWorld world;  // its machine folder holds no machine.ini: the real PC, Z: and no Q:
    const uint32_t driveQ = 1u << ('Q' - 'A');
    const uint32_t driveZ = 1u << ('Z' - 'A');
    TestWorld::WriteFile(platform::MachineIniPath(), "[Drive Q]\r\nFolder=" + world.root + "\r\n");
    EXPECT_EQ(platform::GetLogicalDrives() & (driveQ | driveZ), driveZ) << "still the real PC";
    platform::ChooseMachine();
    EXPECT_EQ(platform::GetLogicalDrives(), driveQ);

    std::filesystem::remove(platform::MachineIniPath());
    EXPECT_EQ(platform::GetLogicalDrives(), 0u) << "still the simulated machine, now without drives";
    platform::ChooseMachine();
    EXPECT_EQ(platform::GetLogicalDrives() & (driveQ | driveZ), driveZ);
}
