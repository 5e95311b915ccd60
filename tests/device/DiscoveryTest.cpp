// Finding the unit on the simulated machine: its identity and letter, what a missing or held unit
// changes, the competing media player, the volume list, the eject request and the version rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "decode/Encipher.h"
#include "device/NaviDriveImage.h"
#include "device/NaviFunction.h"
#include "state/Results.h"
#include "platform/Clock.h"
#include "platform/Drives.h"
#include "platform/View.h"
#include "platform/sim/Machine.h"
#include "support/LogCapture.h"
#include "support/UnitWorld.h"

namespace {

NaviUnitState& Navi() { return theApp.Navi; }

std::string MountVolumeList(const UnitWorld& world) {
    return TestWorld::ReadFile(world.root + "/program/MountVolume.dat");
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(Discovery, FindsTheUnitWithItsIdentityAndTellsTheMainWindow) {
    UnitWorld world;
    navisim::CreateUnit({});
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Navi().NaviDrive, "E:\\");
    EXPECT_EQ(Navi().NaviDeviceId, "VT0000000001");
    EXPECT_EQ(Navi().NaviVersion, "20100601");
    EXPECT_EQ(Navi().NaviVersionName, "2010年春版");
    EXPECT_EQ(Navi().NaviVolumeName, navisim::UnitVolumeName("navi"));
    auto notices = world.recorder.Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].first, 15u);
    EXPECT_EQ(notices[0].second, 0);
}

// Bytes 12-20 of the deciphered file are the version; a file whose plaintext ends before them
// gives only what it holds, never the end of the ciphertext that deciphering leaves behind it.
TEST(Discovery, AShortVersionFileGivesOnlyItsOwnBytes) {
    UnitWorld world;
    navisim::CreateUnit({});
    const std::string plain = std::string("CURRVER").append(5, '\0') + "2011.";
    auto file = veltrane::decode::EncipherEx({reinterpret_cast<const unsigned char*>(plain.data()), plain.size()},
                                             {1, 2, 3, 4, 5, 6, 7, 8});
    TestWorld::WriteFile((navisim::UnitFiles("navi") / "UPDATE/NAVIINFO/CURRVER.DAT").string(),
                         std::string(file.begin(), file.end()));
    Navi().NaviDrive = "E:\\";
    std::string version;
    ASSERT_EQ(GetNaviVersion(&version), 0);
    EXPECT_EQ(version, "2011");
}

TEST(Discovery, FriendlyNameIsASetOfCharactersTest) {
    struct Case {
        const char* name;
        int result;
    };
    for (Case c : {Case{"Orsolan Flash Disk Drive USB Device", 0}, Case{"Orsolan Flash Disk Drive USB Device #2", 0},
                   Case{"USB Device Drive Disk Flash Orsolan", 0}, Case{"Orsolan Flash Disk Drive SB Device", 1},
                   Case{"orsolan flash disk drive usb device", 1}}) {
        UnitWorld world;
        navisim::UnitOptions unit;
        unit.friendlyName = c.name;
        navisim::CreateUnit(unit);
        EXPECT_EQ(NaviConnectCheck(), c.result) << c.name;
    }
}

TEST(Discovery, TheLowerOfTwoUnitLettersWinsAndFloppyDrivesAreNeverTaken) {
    UnitWorld world;
    navisim::UnitOptions high;
    high.name = "high";
    high.letter = 'H';
    navisim::CreateUnit(high);
    navisim::UnitOptions low;
    low.name = "low";
    low.letter = 'G';
    navisim::CreateUnit(low);
    // A removable floppy below both, carrying the unit's marker file.
    navisim::AddDrive('E', platform::DRIVE_REMOVABLE, "3.5 FD (E:)", "drives/e");
    std::filesystem::create_directories(world.root + "/machine/drives/e/UPDATE/NAVIINFO");
    TestWorld::WriteFile(world.root + "/machine/drives/e/UPDATE/NAVIINFO/DEVICE.DAT", "FLOPPY");

    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Navi().NaviDrive, "G:\\");

    navisim::Unplug("low");
    navisim::Unplug("high");
    std::string root = "unchanged";
    EXPECT_EQ(GetDrive(&root), 1);
    EXPECT_EQ(root, "unchanged");
}

TEST(Discovery, NoUnitEmptiesTheDriveAndVersionNameButKeepsTheVersion) {
    UnitWorld world;
    navisim::CreateUnit({});
    ASSERT_EQ(NaviConnectCheck(), 0);
    navisim::Unplug("navi");
    EXPECT_EQ(NaviConnectCheck(), 1);
    EXPECT_EQ(Navi().NaviDrive, "");
    EXPECT_EQ(Navi().NaviVersionName, "");
    EXPECT_EQ(Navi().NaviVersion, "20100601");
    EXPECT_EQ(Navi().DriveHandle, nullptr);

    // The device without its letter is no usable unit either.
    navisim::Plug("navi");
    navisim::DropLetter("navi");
    EXPECT_EQ(NaviConnectCheck(), 1);
    EXPECT_EQ(Navi().NaviDrive, "");
}

TEST(Discovery, AUnitAJobHoldsIsLeftAloneWhateverTheDevicesSay) {
    UnitWorld world;
    navisim::CreateUnit({});
    ASSERT_EQ(NaviConnectCheck(), 0);
    Navi().TransferRunning = 1;
    navisim::Unplug("navi");
    EXPECT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Navi().NaviDrive, "E:\\");
    EXPECT_EQ(Navi().NaviVersionName, "2010年春版");
    Navi().TransferRunning = 0;

    navisim::Plug("navi");
    ASSERT_EQ(NaviConnectCheck(), 0);
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    platform::HANDLE handle = Navi().DriveHandle;
    navisim::Unplug("navi");
    EXPECT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Navi().DriveHandle, handle);
    EXPECT_EQ(Navi().NaviDrive, "E:\\");
    EXPECT_EQ(world.recorder.Notices().size(), 2u);
}

TEST(Discovery, OnlyTheMediaPlayerInItsOwnSpellingCompetes) {
    UnitWorld world;
    navisim::CreateUnit({});
    navisim::AddProcess("explorer.exe");
    navisim::AddProcess("WMPlayer.exe");
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Navi().CompetingProcess, 0);

    navisim::AddProcess("wmplayer.exe");
    Navi().CompetingCount = 7;
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Navi().CompetingProcess, 1);
    EXPECT_EQ(Navi().CompetingCount, 0);

    navisim::RemoveProcess("wmplayer.exe");
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Navi().CompetingProcess, 0);
}

TEST(Discovery, MountVolumeListGetsEachVolumeOnceAndAppendsBehindAMissingLineEnd) {
    UnitWorld world;
    TestWorld::WriteFile(world.root + "/program/MountVolume.dat", "\\\\?\\Volume{old}\\");
    navisim::CreateUnit({});
    ASSERT_EQ(NaviConnectCheck(), 0);
    ASSERT_EQ(NaviConnectCheck(), 0);
    std::string unit = navisim::UnitVolumeName("navi");
    EXPECT_EQ(MountVolumeList(world), "\\\\?\\Volume{old}\\" + unit + "\r\n");

    navisim::UnitOptions second;
    second.name = "second";
    second.letter = 'F';
    navisim::Unplug("navi");
    navisim::CreateUnit(second);
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Count(MountVolumeList(world), navisim::UnitVolumeName("second")), 1);
    EXPECT_EQ(Count(MountVolumeList(world), unit), 1);
}

TEST(Discovery, AnUnwritableVolumeListDoesNotHideThePresentUnit) {
    UnitWorld world;
    navisim::CreateUnit({});
    theApp.ProgramFolder = world.Win(world.root + "/no/such/folder") + "\\";
    ASSERT_NE(RecordMountVolume(), 0);
    EXPECT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Navi().NaviDrive, "E:\\");
    EXPECT_EQ(Navi().NaviVersion, "20100601");
    EXPECT_EQ(world.recorder.Notices().size(), 1u);
}

TEST(Discovery, EjectUnplugsOnlyRemovableUsbStorageDevicesOfTheUnit) {
    UnitWorld world;
    navisim::CreateUnit({});
    const char* unitId = "USBSTOR\\DISK&VID_2F6A&PID_0c31&ORSOLAN_PORTABLE_NAVI_STORAGE\\2&0";
    navisim::AddDevice("fixed", "Orsolan Disk", "USBSTOR", unitId, 0x2000);                           // not removable
    navisim::AddDevice("hub", "USB Hub", "usbhub", unitId, 0x6000);                                   // another driver
    navisim::AddDevice("stick", "Stick", "USBSTOR", "USBSTOR\\DISK&VID_2F6A&PID_0C31\\3&0", 0x6000);  // no mark
    // The unit's own VID and PID, spelled as the search text spells them, but not the unit's mark.
    navisim::AddDevice("twin", "Twin", "USBSTOR", "USBSTOR\\DISK&VID_2F6A&PID_0c31&OTHER_STORAGE\\4&0", 0x6000);
    ASSERT_EQ(NaviConnectCheck(), 0);
    uint64_t before = platform::GetTickCount64();
    ASSERT_EQ(RemoveNaviUsb(), 0);
    EXPECT_EQ(platform::GetTickCount64() - before, 5000u);
    EXPECT_FALSE(platform::GetLogicalDrives() & (1u << ('E' - 'A')));
    EXPECT_EQ(NaviConnectCheck(), 1);
    for (const char* device : {"Device fixed", "Device hub", "Device stick", "Device twin"})
        EXPECT_FALSE(platform::MachineDescription().Keys(device).empty()) << device;
}

TEST(Discovery, EjectFindsTheUnitByTheUpperCaseInstanceIdWindowsReports) {
    // The product ID 0x0C31 holds a hex letter: the search text says "PID_0c31", Windows "PID_0C31".
    UnitWorld world;
    navisim::CreateUnit({});
    EXPECT_EQ(platform::MachineDescription().Get("Device navi", "InstanceId"),
              "USB\\VID_2F6A&PID_0C31\\ORSOLAN_PORTABLE_NAVI_STORAGE_VT0000000001");
    ASSERT_TRUE(platform::GetLogicalDrives() & (1u << ('E' - 'A')));
    ASSERT_EQ(NaviConnectCheck(), 0);
    ASSERT_EQ(RemoveNaviUsb(), 0);
    EXPECT_FALSE(platform::GetLogicalDrives() & (1u << ('E' - 'A'))) << "the unit was not ejected";
}

// On Windows the USB storage node has no disk interface: the unit's disk is found on the child
// disk node with the friendly name, and its USB parent is ejected. A unit whose USB device is
// not the unit's reports the eject failure, not success.
TEST(Discovery, EjectTakesTheUsbParentOfTheUnitsDiskAndFailsWhenNothingMatches) {
    UnitWorld world;
    navisim::CreateUnit({});
    ASSERT_EQ(NaviConnectCheck(), 0);
    ASSERT_EQ(RemoveNaviUsb(), 0);
    EXPECT_EQ(platform::MachineDescription().Get("Unit navi", "Plugged"), "0");

    // The same disk under a USB device without the unit's mark.
    navisim::UnitOptions other;
    other.instanceId = "USB\\VID_2F6A&PID_0C31\\VT0000000001";
    navisim::CreateUnit(other);
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(RemoveNaviUsb(), kEjectFailed);
    EXPECT_EQ(platform::MachineDescription().Get("Unit navi", "Plugged"), "1");
}

TEST(Discovery, OnlyAVolumeOnTheUnitsOwnDiskIsTheUnit) {
    UnitWorld world;
    // A stick of another make on the lower letter, holding a copy of the unit's files.
    navisim::UnitOptions stick;
    stick.name = "stick";
    stick.letter = 'D';
    stick.friendlyName = "Generic Flash Disk USB Device";
    stick.instanceId = "USB\\VID_0BDA&PID_1234\\0123456789AB";
    stick.diskInstanceId = "USBSTOR\\DISK&VEN_GENERIC&PROD_FLASH_DISK&REV_8.07\\0123456789AB&0";
    navisim::CreateUnit(stick);
    navisim::CreateUnit({});
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Navi().NaviDrive, "E:\\");

    // Without the unit the stick is no unit, however alike its files are.
    navisim::Unplug("navi");
    std::string root = "unchanged";
    EXPECT_EQ(GetDrive(&root), 1);
    EXPECT_EQ(NaviConnectCheck(), 1);
    EXPECT_EQ(Navi().NaviDrive, "");
    EXPECT_EQ(RemoveNaviUsb(), kEjectFailed);
    EXPECT_EQ(platform::MachineDescription().Get("Unit stick", "Plugged"), "1");
}

TEST(Discovery, TheShellIsAskedOnlyAboutRemovableLetters) {
    UnitWorld world;
    // A network share out of reach on D: keeps the shell's display-name query waiting.
    navisim::AddDrive('D', platform::DRIVE_REMOTE, "share (D:)", "drives/share");
    platform::ModifyMachine([](platform::ProfileDocument& doc) {
        doc.Set("Drive D", "ShellWaitMs", "20000");
        return true;
    });
    navisim::CreateUnit({});
    uint64_t start = platform::GetTickCount64();
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(Navi().NaviDrive, "E:\\");
    EXPECT_EQ(platform::GetTickCount64() - start, 0u);
}

TEST(Discovery, EjectTakesOnlyTheUnitWhoseDriveWasFound) {
    UnitWorld world;
    navisim::UnitOptions second;
    second.name = "second";
    second.letter = 'H';
    second.deviceId = "VT0000000002";
    navisim::CreateUnit(second);
    navisim::CreateUnit({});
    ASSERT_EQ(NaviConnectCheck(), 0);
    ASSERT_EQ(Navi().NaviDrive, "E:\\");
    ASSERT_EQ(RemoveNaviUsb(), 0);
    EXPECT_EQ(platform::MachineDescription().Get("Unit navi", "Plugged"), "0");
    EXPECT_EQ(platform::MachineDescription().Get("Unit second", "Plugged"), "1");
}

namespace {

// Something on the PC holds the unit's device for the next `requests` eject requests.
void VetoEjects(const std::string& requests) {
    platform::ModifyMachine([&](platform::ProfileDocument& doc) {
        doc.Set("Device navi", "EjectVetoed", requests);
        doc.Set("Device navi", "EjectVetoName", "\\??\\STORAGE#Volume#navi");
        return true;
    });
}

}  // namespace

TEST(Discovery, AVetoedEjectIsAskedAgainThreeTimesAndComesBackToTheProgram) {
    UnitWorld world;
    LogCapture log(world.root);
    navisim::CreateUnit({});
    ASSERT_EQ(NaviConnectCheck(), 0);

    // Held through three requests, the fourth ejects: 500 ms between the requests.
    VetoEjects("3");
    uint64_t before = platform::GetTickCount64();
    ASSERT_EQ(RemoveNaviUsb(), 0);
    EXPECT_EQ(platform::GetTickCount64() - before, 5000u + 3 * 500u);
    EXPECT_EQ(platform::MachineDescription().Get("Unit navi", "Plugged"), "0");

    // Held through all four: the eject failed, and the log says who held the unit.
    navisim::Plug("navi");
    ASSERT_EQ(NaviConnectCheck(), 0);
    VetoEjects("4");
    EXPECT_EQ(RemoveNaviUsb(), kEjectFailed);
    EXPECT_EQ(platform::MachineDescription().Get("Unit navi", "Plugged"), "1");
    int vetoLines = 0;
    for (const LogCapture::Line& line : log.Lines())
        vetoLines += line.text == "USB取り外し拒否[6][\\??\\STORAGE#Volume#navi]";
    EXPECT_EQ(vetoLines, 3 + 4);
    // The program says what happened itself: the system showed the user no message of its own.
    EXPECT_EQ(platform::MachineDescription().Get("System", "PnpMessages"), std::nullopt);
}

TEST(Discovery, AUnitOnAUaspPortIsEjectedToo) {
    UnitWorld world;
    navisim::UnitOptions unit;
    unit.service = "UASPStor";
    navisim::CreateUnit(unit);
    ASSERT_EQ(NaviConnectCheck(), 0);
    ASSERT_EQ(RemoveNaviUsb(), 0);
    EXPECT_EQ(platform::MachineDescription().Get("Unit navi", "Plugged"), "0");
}

TEST(Discovery, LogsUnderItsSourceNamesWithOneEndLinePerCall) {
    UnitWorld world;
    LogCapture log(world.root);
    std::string text;
    EXPECT_EQ(GetDrive(&text), 1);  // no unit yet: the end line carries the unchanged output
    navisim::CreateUnit({});
    EXPECT_EQ(GetDrive(&text), 0);
    EXPECT_EQ(CheckDriveNo('Q', &text), 0);
    Navi().NaviDrive = "E:\\";
    EXPECT_EQ(GetNaviVersion(&text), 0);
    EXPECT_EQ(GetNaviVersionName(&text), 0);
    ASSERT_EQ(DriveOpen(&Navi().ImagePosition), 0);
    EXPECT_EQ(DriveClose(), 0);
    EXPECT_EQ(RecordMountVolume(), 0);

    for (std::string name : {"GetDrive", "CheckDriveNo", "GetNaviVersion", "GetNaviVersionName"}) {
        EXPECT_EQ(log.Count(name + "開始"), name == "GetDrive" ? 2u : 1u) << name;
        EXPECT_EQ(log.Count(name + "終了"), log.Count(name + "開始")) << name << ": one end line per call";
    }
    EXPECT_EQ(log.Count("GetDrive終了[]"), 1u);
    EXPECT_EQ(log.Count("CheckDriveNo終了[Q:\\]"), 1u);
    std::set<std::string> sources;
    for (const LogCapture::Line& line : log.Lines()) sources.insert(line.source);
    EXPECT_EQ(sources, (std::set<std::string>{".\\Common", ".\\NaviDriveImage", ".\\NaviFunction"}));
}

TEST(Discovery, DownloadVersionMustBeNewerByTheAtolRule) {
    UnitWorld world;
    Navi().NaviVersion = "20100601";
    EXPECT_EQ(NaviVersionCheck("20100601"), kUnitNotOlder);
    EXPECT_EQ(NaviVersionCheck("20100602"), 0);
    EXPECT_EQ(NaviVersionCheck("20100531"), kUnitNotOlder);
    EXPECT_EQ(NaviVersionCheck("2010.0602"), kUnitNotOlder);  // read up to the dot: 2010
    EXPECT_EQ(NaviVersionCheck("  20100602x"), 0);
}
