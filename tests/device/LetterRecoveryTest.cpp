// Giving the unit a letter again: the next free letter, trial letters taken back, floppies left
// as they are, the remembered volume first, and the results when nothing can be done.
#include <gtest/gtest.h>

#include "device/MountVolume.h"
#include "device/NaviFunction.h"
#include "state/Results.h"
#include "platform/Clock.h"
#include "platform/Drives.h"
#include "platform/Volumes.h"
#include "support/UnitWorld.h"

namespace {

NaviUnitState& Navi() { return theApp.Navi; }

std::string VolumeAt(char letter) {
    char name[260] = {};
    if (!platform::GetVolumeNameForVolumeMountPointA((std::string(1, letter) + ":\\").c_str(), name, sizeof name))
        return "";
    return name;
}

void Remember(const UnitWorld& world, const std::string& volume) {
    TestWorld::WriteFile(world.root + "/program/MountVolume.dat", volume + "\r\n");
}

}  // namespace

TEST(LetterRecovery, TheUnitGetsTheNextLetterWhenACdDriveHoldsD) {
    UnitWorld world(true);
    navisim::CreateUnit({});
    navisim::DropLetter("navi");
    ASSERT_EQ(NaviConnectCheck(), 1);
    EXPECT_EQ(MountNaviVolume(), 0);
    EXPECT_EQ(Navi().NaviDrive, "E:\\");
    EXPECT_EQ(VolumeAt('E'), navisim::UnitVolumeName("navi"));
    EXPECT_EQ(platform::GetDriveTypeA("D:\\"), platform::DRIVE_CDROM);
}

TEST(LetterRecovery, ALetterlessFixedVolumeNeverGetsALetter) {
    // A fixed disk's letterless partitions (EFI, recovery) come first in the volume list.
    UnitWorld world;
    std::string efi = navisim::AddVolume("efi", platform::DRIVE_FIXED, "EFI", "drives/efi");
    std::string recovery = navisim::AddVolume("recovery", platform::DRIVE_FIXED, "Recovery", "drives/recovery");
    navisim::CreateUnit({});
    navisim::DropLetter("navi");
    uint64_t start = platform::GetTickCount64();
    EXPECT_EQ(MountNaviVolume(), 0);
    EXPECT_EQ(platform::GetTickCount64() - start, 0u);  // no trial of anything else
    EXPECT_EQ(VolumeAt('D'), navisim::UnitVolumeName("navi"));
    EXPECT_EQ(Navi().NaviDrive, "D:\\");
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        EXPECT_NE(VolumeAt(letter), efi) << letter;
        EXPECT_NE(VolumeAt(letter), recovery) << letter;
    }
    // Remembered or not, a fixed volume alone is no unit.
    navisim::Unplug("navi");
    Navi().NaviDrive.clear();
    Remember(world, efi);
    EXPECT_EQ(MountNaviVolume(), kRecoveryNoUnitVolume);
    for (char letter = 'D'; letter <= 'Z'; ++letter) EXPECT_NE(VolumeAt(letter), efi) << letter;
}

TEST(LetterRecovery, OnlyAVolumeOnTheUsbBusIsTried) {
    // Removable both, and before the unit in the volume list: a card in the PC's own SD slot and
    // an eSATA disk.
    UnitWorld world;
    std::string card = navisim::AddVolume("card", platform::DRIVE_REMOVABLE, "SD", "drives/card", {}, "SD");
    std::string esata = navisim::AddVolume("esata", platform::DRIVE_REMOVABLE, "eSATA", "drives/esata", {}, "SATA");
    navisim::CreateUnit({});
    navisim::DropLetter("navi");
    uint64_t start = platform::GetTickCount64();
    EXPECT_EQ(MountNaviVolume(), 0);
    EXPECT_EQ(platform::GetTickCount64() - start, 0u);  // a trial letter is kept 5 s
    EXPECT_EQ(VolumeAt('D'), navisim::UnitVolumeName("navi"));
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        EXPECT_NE(VolumeAt(letter), card) << letter;
        EXPECT_NE(VolumeAt(letter), esata) << letter;
    }
    // A card holding the unit's files in the SD slot is no unit, remembered or not.
    navisim::Unplug("navi");
    Navi().NaviDrive.clear();
    navisim::UnitOptions sdcard;
    sdcard.name = "sdcard";
    sdcard.bus = "SD";
    navisim::CreateUnit(sdcard);
    navisim::DropLetter("sdcard");
    EXPECT_EQ(MountNaviVolume(), kRecoveryNoUnitVolume);
    Remember(world, navisim::UnitVolumeName("sdcard"));
    EXPECT_EQ(MountNaviVolume(), kRecoveryNoUnitVolume);
    for (char letter = 'D'; letter <= 'Z'; ++letter)
        EXPECT_NE(VolumeAt(letter), navisim::UnitVolumeName("sdcard")) << letter;
    EXPECT_EQ(Navi().NaviDrive, "");
}

TEST(LetterRecovery, AFloppyKeepsItsTrialLetterAndTheSearchMovesOn) {
    UnitWorld world;
    navisim::AddVolume("floppy", platform::DRIVE_REMOVABLE, "FD", "drives/fd", {}, "USB");
    navisim::CreateUnit({});
    navisim::DropLetter("navi");
    EXPECT_EQ(MountNaviVolume(), 0);
    EXPECT_EQ(Navi().NaviDrive, "E:\\");
    EXPECT_NE(VolumeAt('D'), "");
}

TEST(LetterRecovery, TheRememberedVolumeIsMountedFirstWithoutAFurtherCheck) {
    UnitWorld world;
    navisim::CreateUnit({});
    navisim::AddVolume("data", platform::DRIVE_FIXED, "Data", "drives/data");
    navisim::DropLetter("navi");
    Remember(world, navisim::UnitVolumeName("navi"));
    uint64_t start = platform::GetTickCount64();
    EXPECT_EQ(MountNaviVolume(), 0);
    EXPECT_EQ(platform::GetTickCount64() - start, 0u);
    EXPECT_EQ(VolumeAt('D'), navisim::UnitVolumeName("navi"));
    EXPECT_EQ(Navi().NaviDrive, "");  // not looked at
    EXPECT_TRUE(world.recorder.Notices().empty());
}

TEST(LetterRecovery, ResultsWhenNothingCanBeDone) {
    {
        UnitWorld world;
        navisim::CreateUnit({});
        EXPECT_EQ(MountNaviVolume(), kRecoveryNoLetterlessVolume);  // every volume has its letter
        Navi().NaviDrive = "E:\\";
        EXPECT_EQ(MountNaviVolume(), 0);
    }
    {
        UnitWorld world;
        std::string data = navisim::AddVolume("data", platform::DRIVE_FIXED, "Data", "drives/data");
        EXPECT_EQ(MountNaviVolume(), kRecoveryNoUnitVolume);  // no letterless volume is the unit
        for (char letter = 'D'; letter <= 'Z'; ++letter) EXPECT_NE(VolumeAt(letter), data) << letter;
    }
    {
        UnitWorld world;
        navisim::CreateUnit({});
        navisim::DropLetter("navi");
        Remember(world, navisim::UnitVolumeName("navi"));
        for (char letter = 'D'; letter <= 'Y'; ++letter)
            navisim::AddDrive(letter, platform::DRIVE_FIXED, "", std::string("drives/") + letter);
        EXPECT_EQ(MountNaviVolume(), kRecoveryNoFreeLetter);  // no free letter for the remembered volume
    }
}
