// The simulated unit: an unformatted volume and the format that waits for it to be free, the
// version a transfer leaves, the check of its volume, the exclusive volume lock across processes
// the registry properties and the user's removal of the unit.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "UpdateSet.h"
#include "device/NaviFunction.h"
#include "platform/Devices.h"
#include "platform/Drives.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/DeviceChange.h"
#include "platform/RawVolume.h"
#include "platform/Volumes.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Removal.h"
#include "support/UnitWorld.h"

namespace fs = std::filesystem;

namespace {

platform::HANDLE OpenE() {
    return platform::CreateFileA("\\\\.\\E:", platform::GENERIC_READ | platform::GENERIC_WRITE,
                                 platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE, nullptr,
                                 platform::OPEN_EXISTING, 0, nullptr);
}

bool Visible(const char* path) { return platform::GetFileAttributesA(path) != platform::INVALID_FILE_ATTRIBUTES; }

bool Control(platform::HANDLE volume, uint32_t code) {
    return platform::DeviceIoControl(volume, code, nullptr, 0, nullptr, 0, nullptr, nullptr);
}

// A raw writer as the program is one: the volume opened and locked.
platform::HANDLE OpenLockedE() {
    platform::HANDLE volume = OpenE();
    EXPECT_TRUE(Control(volume, platform::FSCTL_LOCK_VOLUME));
    return volume;
}

void ClearBootSignature() {
    platform::HANDLE volume = OpenLockedE();
    ASSERT_NE(volume, platform::INVALID_HANDLE_VALUE);
    alignas(512) unsigned char sector[512] = {};
    uint32_t done = 0;
    ASSERT_TRUE(platform::WriteFile(volume, sector, sizeof sector, &done, nullptr));
    EXPECT_TRUE(platform::CloseHandle(volume));
}

// What a completed transfer leaves: the update's VERINFO.DAT under UPDATE\RENEWAL, and the
// unit's CANCEL.FLG removed.
void CompleteTransferOf(const UnitWorld& world, const std::string& version) {
    mkupdate::Options options;
    options.version = version;
    mkupdate::BuildUpdateSet(world.root + "/set", options);
    fs::create_directories(world.UnitFile("UPDATE/RENEWAL"));
    fs::copy_file(world.root + "/set/RENEWAL/VERINFO.DAT", world.UnitFile("UPDATE/RENEWAL/VERINFO.DAT"),
                  fs::copy_options::overwrite_existing);
    fs::remove(world.UnitFile("UPDATE/NAVIINFO/CANCEL.FLG"));
}

}  // namespace

TEST(NaviSim, TheDriveReadsAsUnformattedWhileSectorZeroHasNoSignature) {
    UnitWorld world;
    navisim::CreateUnit({});
    ASSERT_TRUE(Visible("E:\\UPDATE\\NAVIINFO\\DEVICE.DAT"));
    ClearBootSignature();
    EXPECT_FALSE(Visible("E:\\UPDATE\\NAVIINFO\\DEVICE.DAT"));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_UNRECOGNIZED_VOLUME);
    EXPECT_TRUE(platform::FindFiles("E:\\*.*").empty());
    EXPECT_EQ(platform::fopen("E:\\NEW.TXT", "wb"), nullptr);

    // Plugged in again, an unformatted unit cannot re-create its files; a format empties it and
    // the next plug brings the identity files back.
    navisim::Unplug("navi");
    navisim::Plug("navi");
    EXPECT_FALSE(Visible("E:\\UPDATE\\NAVIINFO\\DEVICE.DAT"));
    ASSERT_EQ(platform::FormatDrive('E'), 0u);
    for (const platform::FindData& entry : platform::FindFiles("E:\\*"))
        EXPECT_TRUE(entry.name == "." || entry.name == "..") << entry.name;
    navisim::Unplug("navi");
    navisim::Plug("navi");
    EXPECT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(theApp.Navi.NaviVersion, "20100601");
}

TEST(NaviSim, FormatWaitsForTheVolumeToBeFree) {
    UnitWorld world;
    navisim::CreateUnit({});
    platform::HANDLE volume = OpenE();
    ASSERT_NE(volume, platform::INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform::FormatDrive('E'), platform::SHFMT_ERROR);
    EXPECT_TRUE(Visible("E:\\MAP\\MAP.VER"));
    EXPECT_TRUE(platform::CloseHandle(volume));
    EXPECT_EQ(platform::FormatDrive('E'), 0u);
    EXPECT_FALSE(Visible("E:\\MAP\\MAP.VER"));
}

TEST(NaviSim, AfterACompletedTransferTheUnitTakesTheUpdatesVersionOnReplug) {
    UnitWorld world;
    navisim::CreateUnit({});
    CompleteTransferOf(world, "2026.0411");
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(theApp.Navi.NaviVersion, "20100601");  // not before it is plugged in again

    navisim::Unplug("navi");
    navisim::Plug("navi");
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(theApp.Navi.NaviVersion, "20260411");
    EXPECT_EQ(NaviVersionCheck("20260411"), 505);
    EXPECT_TRUE(fs::exists(world.UnitFile("UPDATE/NAVIINFO/CANCEL.FLG")));
}

TEST(NaviSim, AnInterruptedTransferLeavesTheVersion) {
    UnitWorld world;
    navisim::CreateUnit({});
    CompleteTransferOf(world, "2026.0411");
    TestWorld::WriteFile(world.UnitFile("UPDATE/NAVIINFO/CANCEL.FLG"), "");
    navisim::Unplug("navi");
    navisim::Plug("navi");
    ASSERT_EQ(NaviConnectCheck(), 0);
    EXPECT_EQ(theApp.Navi.NaviVersion, "20100601");
}

TEST(NaviSim, CheckComparesTheVolumeAndListsTheUpdateFiles) {
    UnitWorld world;
    navisim::UnitOptions options;
    options.imageSize = 8192;
    navisim::CreateUnit(options);
    std::string image = TestWorld::ReadFile(navisim::UnitImage("navi").string()).substr(0, 4096);
    TestWorld::WriteFile(world.root + "/image", image);
    navisim::CheckReport report = navisim::Check("navi", fs::path(world.root + "/image"));
    EXPECT_TRUE(report.imageMatches);
    EXPECT_TRUE(report.bootSignature0);
    EXPECT_TRUE(report.bootSignature2560);

    image[3000] ^= 1;
    TestWorld::WriteFile(world.root + "/image", image);
    ClearBootSignature();
    report = navisim::Check("navi", fs::path(world.root + "/image"));
    EXPECT_FALSE(report.imageMatches);
    EXPECT_EQ(report.firstDifference, 0u);  // the cleared boot sector comes first
    EXPECT_FALSE(report.bootSignature0);
    EXPECT_TRUE(report.bootSignature2560);
    EXPECT_EQ(report.updateFiles,
              (std::vector<std::string>{"UPDATE/NAVIINFO/CANCEL.FLG 0", "UPDATE/NAVIINFO/CURRVER.DAT 40",
                                        "UPDATE/NAVIINFO/DEVICE.DAT 12"}));
}

TEST(NaviSim, TheVolumeLockIsExclusiveAcrossProcesses) {
    UnitWorld world;
    navisim::CreateUnit({});
    platform::HANDLE volume = OpenE();
    ASSERT_TRUE(
        platform::DeviceIoControl(volume, platform::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
    // Another process can neither open the locked volume nor, once it is unlocked, lock it
    // while this handle stays open.
    auto childTries = [] {
        pid_t child = fork();
        if (child == 0) {
            platform::HANDLE other = OpenE();
            if (other == platform::INVALID_HANDLE_VALUE) _exit(1);
            bool locked =
                platform::DeviceIoControl(other, platform::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr);
            _exit(locked ? 0 : 2);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WEXITSTATUS(status);
    };
    EXPECT_EQ(childTries(), 1);
    ASSERT_TRUE(
        platform::DeviceIoControl(volume, platform::FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(childTries(), 2);
    EXPECT_TRUE(platform::CloseHandle(volume));
    EXPECT_EQ(childTries(), 0);
}

TEST(NaviSim, RegistryPropertiesTellTheSizeTheyNeed) {
    UnitWorld world;
    navisim::CreateUnit({});
    platform::HDEVINFO devices =
        platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT | platform::DIGCF_ALLCLASSES);
    platform::SP_DEVINFO_DATA device;
    ASSERT_TRUE(platform::SetupDiEnumDeviceInfo(devices, 1, &device));
    EXPECT_FALSE(platform::SetupDiEnumDeviceInfo(devices, 2, &device));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_NO_MORE_ITEMS);
    ASSERT_TRUE(platform::SetupDiEnumDeviceInfo(devices, 0, &device));
    uint32_t required = 0;
    EXPECT_FALSE(platform::SetupDiGetDeviceRegistryPropertyA(devices, &device, platform::SPDRP_SERVICE, nullptr,
                                                             nullptr, 0, &required));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 8u);
    unsigned char service[8] = {};
    EXPECT_TRUE(platform::SetupDiGetDeviceRegistryPropertyA(devices, &device, platform::SPDRP_SERVICE, nullptr, service,
                                                            sizeof service, &required));
    EXPECT_STREQ(reinterpret_cast<char*>(service), "USBSTOR");

    // The instance ID needs room for its NUL too; a buffer one short is left as it was.
    const std::string id = "USB\\VID_2F6A&PID_0C31\\ORSOLAN_PORTABLE_NAVI_STORAGE_VT0000000001";
    char buffer[128];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(platform::CM_Get_Device_IDA(device.DevInst, buffer, 64, 0), platform::CR_BUFFER_SMALL);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
    ASSERT_EQ(platform::CM_Get_Device_IDA(device.DevInst, buffer, 65, 0), platform::CR_SUCCESS);
    EXPECT_EQ(std::string(buffer), id);
    EXPECT_EQ(buffer[65], '#');
    EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(devices));
}

TEST(NaviSim, AVetoNameLongerThanItsBufferIsCutToIt) {
    UnitWorld world;
    navisim::CreateUnit({});
    ASSERT_TRUE(platform::ModifyMachine([](platform::ProfileDocument& doc) {
        doc.Set("Device navi", "EjectVetoed", "always");
        doc.Set("Device navi", "EjectVetoName", "\\??\\STORAGE#Volume#navi");
        return true;
    }));
    platform::HDEVINFO devices = platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT);
    platform::SP_DEVINFO_DATA device;
    ASSERT_TRUE(platform::SetupDiEnumDeviceInfo(devices, 0, &device));
    int vetoType = platform::kVetoNone;
    char name[16];
    std::memset(name, '#', sizeof name);
    EXPECT_EQ(platform::CM_Request_Device_EjectA(device.DevInst, &vetoType, name, 8, 0), platform::CR_REMOVE_VETOED);
    EXPECT_EQ(vetoType, platform::kVetoOutstandingOpen);
    EXPECT_EQ(std::string(name), "\\??\\STO");
    EXPECT_EQ(name[8], '#');
    EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(devices));
}

TEST(NaviSim, EachVolumeTellsTheDiskOfItsOwnDevice) {
    UnitWorld world;
    navisim::UnitOptions other;
    other.name = "other";
    other.letter = 'D';
    other.deviceId = "VT0000000002";
    navisim::CreateUnit(other);
    navisim::CreateUnit({});
    auto volumeDisk = [](const char* path) -> std::optional<uint32_t> {
        platform::HANDLE volume = platform::CreateFileA(path, 0, 3, nullptr, platform::OPEN_EXISTING, 0, nullptr);
        if (volume == platform::INVALID_HANDLE_VALUE) return std::nullopt;
        platform::STORAGE_DEVICE_NUMBER number;
        uint32_t returned = 0;
        bool ok = platform::DeviceIoControl(volume, platform::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                            sizeof number, &returned, nullptr);
        EXPECT_TRUE(platform::CloseHandle(volume));
        if (!ok || returned != sizeof number || number.DeviceType != platform::FILE_DEVICE_DISK) return std::nullopt;
        return number.DeviceNumber;
    };
    EXPECT_EQ(volumeDisk("\\\\.\\D:"), 1u);
    EXPECT_EQ(volumeDisk("\\\\.\\E:"), 2u);

    std::map<std::string, uint32_t> deviceDisks;
    platform::HDEVINFO devices = platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT);
    platform::SP_DEVINFO_DATA device;
    for (uint32_t i = 0; platform::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        char id[260] = {};
        uint32_t disk = 0;
        ASSERT_EQ(platform::CM_Get_Device_IDA(device.DevInst, id, sizeof id, 0), platform::CR_SUCCESS);
        if (platform::GetDeviceDiskNumber(device.DevInst, &disk)) deviceDisks[id] = disk;
    }
    EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(devices));
    EXPECT_EQ(
        deviceDisks,
        (std::map<std::string, uint32_t>{
            {"USBSTOR\\DISK&VEN_ORSOLAN&PROD_FLASH_DISK_DRIVE&REV_0100\\ORSOLAN_PORTABLE_NAVI_STORAGE_VT0000000002&0",
             1},
            {"USBSTOR\\DISK&VEN_ORSOLAN&PROD_FLASH_DISK_DRIVE&REV_0100\\ORSOLAN_PORTABLE_NAVI_STORAGE_VT0000000001&0",
             2}}));

    // Unplugged and back, the unit takes the lowest free disk number again.
    navisim::Unplug("other");
    EXPECT_EQ(volumeDisk("\\\\.\\D:"), std::nullopt);
    navisim::Plug("other");
    EXPECT_EQ(volumeDisk("\\\\.\\D:"), 1u);
}

TEST(NaviSim, ARawWriteLeavesTheMountStaleUntilTheVolumeIsDismounted) {
    UnitWorld world;
    navisim::CreateUnit({});
    std::string source = world.root + "/copy.dat";
    TestWorld::WriteFile(source, std::string(100, 'Z'));
    auto volume = [] { return TestWorld::ReadFile(navisim::UnitImage("navi").string()); };
    // Eight sectors from byte 4,096 on: the boot sectors stay, so the drive keeps its files.
    auto writeSectors = [](platform::HANDLE handle) {
        alignas(512) static char sectors[8 * 512];
        std::memset(sectors, 0x11, sizeof sectors);
        uint32_t done = 0;
        return platform::SetFilePointer(handle, 4096, nullptr, platform::FILE_BEGIN) == 4096 &&
               platform::WriteFile(handle, sectors, sizeof sectors, &done, nullptr);
    };

    // Written raw through a lock under the mounted file system: a copy afterwards lands where
    // the old free map points, inside what was just written.
    platform::HANDLE handle = OpenLockedE();
    ASSERT_TRUE(writeSectors(handle));
    EXPECT_TRUE(platform::CloseHandle(handle));
    ASSERT_TRUE(platform::CopyFileA(world.Win(source).c_str(), "E:\\A.DAT", false));
    EXPECT_EQ(volume().substr(4096, 100), std::string(100, 'Z'));
    EXPECT_EQ(volume().substr(4196, 4096 - 100), std::string(4096 - 100, '\x11'));

    // Locked and dismounted first, the raw write leaves nothing stale.
    handle = OpenE();
    ASSERT_TRUE(
        platform::DeviceIoControl(handle, platform::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
    ASSERT_TRUE(
        platform::DeviceIoControl(handle, platform::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, nullptr, nullptr));
    ASSERT_TRUE(writeSectors(handle));
    EXPECT_TRUE(platform::CloseHandle(handle));
    ASSERT_TRUE(platform::CopyFileA(world.Win(source).c_str(), "E:\\B.DAT", false));
    EXPECT_EQ(volume().substr(4096, 8 * 512), std::string(8 * 512, '\x11'));

    // A format mounts afresh too.
    handle = OpenLockedE();
    ASSERT_TRUE(writeSectors(handle));
    EXPECT_TRUE(platform::CloseHandle(handle));
    ASSERT_EQ(platform::FormatDrive('E'), 0u);
    ASSERT_TRUE(platform::CopyFileA(world.Win(source).c_str(), "E:\\C.DAT", false));
    EXPECT_EQ(volume().substr(4096, 100), std::string(100, '\x11'));
}

TEST(NaviSim, TheVolumeTakesOnlySectorAlignedBuffers) {
    // Volume handles are non-cached on Windows: a buffer off a sector boundary is refused.
    UnitWorld world;
    navisim::CreateUnit({});
    const std::string before = TestWorld::ReadFile(navisim::UnitImage("navi").string());
    alignas(4096) static unsigned char block[4096 + 512];
    std::memset(block, 0x22, sizeof block);
    platform::HANDLE volume = OpenLockedE();
    uint32_t done = 99;
    for (unsigned char* buffer : {block + 16, block + 256}) {
        ASSERT_EQ(platform::SetFilePointer(volume, 4096, nullptr, platform::FILE_BEGIN), 4096u);
        EXPECT_FALSE(platform::WriteFile(volume, buffer, 512, &done, nullptr));
        EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
        EXPECT_FALSE(platform::ReadFile(volume, buffer, 512, &done, nullptr));
        EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
        EXPECT_EQ(done, 0u);
    }
    EXPECT_EQ(TestWorld::ReadFile(navisim::UnitImage("navi").string()), before);
    ASSERT_EQ(platform::SetFilePointer(volume, 4096, nullptr, platform::FILE_BEGIN), 4096u);
    EXPECT_TRUE(platform::WriteFile(volume, block + 512, 512, &done, nullptr));
    EXPECT_EQ(done, 512u);
    EXPECT_TRUE(platform::CloseHandle(volume));
}

// A unit's disk may have larger logical sectors: the volume states their size and takes only
// whole ones, as a disk does.
TEST(NaviSim, TheVolumeTellsItsDisksSectorSizeAndTakesOnlyWholeSectors) {
    UnitWorld world;
    navisim::UnitOptions unit;
    unit.sectorSize = 1000;
    EXPECT_THROW(navisim::CreateUnit(unit), std::invalid_argument);
    unit.sectorSize = 4096;
    navisim::CreateUnit(unit);
    alignas(4096) static unsigned char block[2 * 4096];
    platform::HANDLE volume = OpenLockedE();
    platform::DISK_GEOMETRY geometry;
    uint32_t done = 0;
    EXPECT_FALSE(platform::DeviceIoControl(volume, platform::IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                                           sizeof geometry - 1, &done, nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(platform::DeviceIoControl(volume, platform::IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                                          sizeof geometry, &done, nullptr));
    EXPECT_EQ(done, sizeof geometry);
    EXPECT_EQ(geometry.BytesPerSector, 4096u);
    EXPECT_EQ(geometry.MediaType, platform::RemovableMedia);

    EXPECT_FALSE(platform::ReadFile(volume, block, 512, &done, nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INVALID_PARAMETER);
    ASSERT_EQ(platform::SetFilePointer(volume, 512, nullptr, platform::FILE_BEGIN), 512u);
    EXPECT_FALSE(platform::ReadFile(volume, block, 4096, &done, nullptr));
    ASSERT_EQ(platform::SetFilePointer(volume, 4096, nullptr, platform::FILE_BEGIN), 4096u);
    EXPECT_TRUE(platform::ReadFile(volume, block, 2 * 4096, &done, nullptr));
    EXPECT_EQ(done, 2 * 4096u);
    EXPECT_TRUE(platform::CloseHandle(volume));
}

// The user's "safely remove": nothing holding the volume lets the unit go at once; a handle
// that no window watches keeps it, as Windows reports a device in use. Otherwise the registered
// handles are asked; a refusal, or another program holding the device, fails the removal and
// the handles asked hear so, a removal that goes through is heard as complete. Events reach only
// handles still registered, the registration may outlive its handle, and neither a request nor
// a failed removal is a device change.
TEST(NaviSim, ARemovalAsksTheRegisteredHandlesAndTellsThemHowItEnded) {
    UnitWorld world;
    navisim::CreateUnit({});
    const auto plugged = [] { return platform::MachineDescription().Get("Unit navi", "Plugged").value_or(""); };
    platform::HANDLE volume = OpenE();
    ASSERT_NE(volume, platform::INVALID_HANDLE_VALUE);
    EXPECT_EQ(navisim::RequestRemoval("navi", 0), "in use");
    EXPECT_EQ(plugged(), "1");

    std::vector<platform::RemovalWatch> registered{{volume, platform::RemovalUnitOf(volume)}};
    std::vector<std::string> events;
    bool allow = false;
    platform::RemovalReceiver receiver;
    receiver.registered = [&] { return registered; };
    receiver.queryRemove = [&](platform::HANDLE handle) {
        events.push_back("query");
        // Allowing, the window closes its handle and keeps its registration.
        if (allow) {
            EXPECT_TRUE(platform::CloseHandle(handle));
        }
        return allow;
    };
    receiver.removeFailed = [&](platform::HANDLE) { events.push_back("failed"); };
    receiver.removeComplete = [&](platform::HANDLE) { events.push_back("complete"); };
    const std::string machine = TestWorld::ReadFile(platform::MachineIniPath());

    // Refused by the window.
    EXPECT_EQ(platform::RequestRemoval("navi"), std::nullopt);
    platform::AnswerRemovalRequests(receiver);
    EXPECT_EQ(platform::RemovalAnswer("navi"), "refused");
    EXPECT_EQ(events, (std::vector<std::string>{"query", "failed"}));
    // Nothing more without a new request.
    platform::AnswerRemovalRequests(receiver);
    EXPECT_EQ(events.size(), 2u);

    // A window that unregisters while it is asked hears nothing more.
    events.clear();
    EXPECT_EQ(platform::RequestRemoval("navi"), std::nullopt);
    receiver.queryRemove = [&](platform::HANDLE) {
        events.push_back("query");
        registered.clear();
        return true;
    };
    platform::AnswerRemovalRequests(receiver);
    EXPECT_EQ(platform::RemovalAnswer("navi"), "in use");  // its handle stayed open
    EXPECT_EQ(events, (std::vector<std::string>{"query"}));
    EXPECT_EQ(TestWorld::ReadFile(platform::MachineIniPath()), machine) << "no device changed";

    // Another program holds the device: the window let go, and hears that the unit stays.
    events.clear();
    registered = {{volume, "navi"}};
    receiver.queryRemove = [&](platform::HANDLE handle) {
        events.push_back("query");
        EXPECT_TRUE(platform::CloseHandle(handle));
        return true;
    };
    ASSERT_TRUE(platform::ModifyMachine([](platform::ProfileDocument& doc) {
        doc.Set("Device navi", "EjectVetoed", "1");
        return true;
    }));
    EXPECT_EQ(platform::RequestRemoval("navi"), std::nullopt);
    platform::AnswerRemovalRequests(receiver);
    EXPECT_EQ(platform::RemovalAnswer("navi"), "in use");
    EXPECT_EQ(events, (std::vector<std::string>{"query", "failed"}));
    EXPECT_EQ(plugged(), "1");

    // Held again and asked again: nothing else holds it now, and it goes.
    events.clear();
    volume = OpenE();
    registered = {{volume, "navi"}};
    allow = true;
    receiver.queryRemove = [&](platform::HANDLE handle) {
        events.push_back("query");
        EXPECT_TRUE(platform::CloseHandle(handle));
        return true;
    };
    EXPECT_EQ(platform::RequestRemoval("navi"), std::nullopt);
    platform::AnswerRemovalRequests(receiver);
    EXPECT_EQ(platform::RemovalAnswer("navi"), "removed");
    EXPECT_EQ(events, (std::vector<std::string>{"query", "complete"}));
    EXPECT_EQ(plugged(), "0");
    EXPECT_FALSE(Visible("E:\\UPDATE\\NAVIINFO\\DEVICE.DAT"));

    navisim::Plug("navi");
    EXPECT_EQ(navisim::RequestRemoval("navi", 0), "removed");
    EXPECT_EQ(plugged(), "0");
    EXPECT_THROW(navisim::RequestRemoval("navi", 0), std::invalid_argument);
}

// On Windows a USB stick is two device nodes: the USB device, which is ejected, and its child
// disk with the friendly name and the disk interface.
TEST(NaviSim, AUsbStickIsAUsbDeviceWithAChildDisk) {
    UnitWorld world;
    navisim::CreateUnit({});
    platform::HDEVINFO devices = platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT);
    struct Node {
        std::string id, name, service;
        uint32_t status = 0;
        std::optional<uint32_t> disk;
        platform::DEVINST instance = 0;
    };
    std::map<std::string, Node> nodes;  // by instance ID
    platform::SP_DEVINFO_DATA device;
    for (uint32_t i = 0; platform::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        Node node;
        char text[260] = {};
        EXPECT_EQ(platform::CM_Get_Device_IDA(device.DevInst, text, sizeof text, 0), platform::CR_SUCCESS);
        node.id = text;
        unsigned char property[260] = {};
        if (platform::SetupDiGetDeviceRegistryPropertyA(devices, &device, platform::SPDRP_FRIENDLYNAME, nullptr,
                                                        property, sizeof property, nullptr))
            node.name = reinterpret_cast<char*>(property);
        std::memset(property, 0, sizeof property);
        EXPECT_TRUE(platform::SetupDiGetDeviceRegistryPropertyA(devices, &device, platform::SPDRP_SERVICE, nullptr,
                                                                property, sizeof property, nullptr));
        node.service = reinterpret_cast<char*>(property);
        EXPECT_EQ(platform::CM_Get_DevNode_Status(&node.status, nullptr, device.DevInst, 0), platform::CR_SUCCESS);
        if (uint32_t disk = 0; platform::GetDeviceDiskNumber(device.DevInst, &disk)) node.disk = disk;
        node.instance = device.DevInst;
        nodes[node.id] = node;
    }
    EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(devices));
    ASSERT_EQ(nodes.size(), 2u);
    const Node usb = nodes["USB\\VID_2F6A&PID_0C31\\ORSOLAN_PORTABLE_NAVI_STORAGE_VT0000000001"];
    const Node disk =
        nodes["USBSTOR\\DISK&VEN_ORSOLAN&PROD_FLASH_DISK_DRIVE&REV_0100\\ORSOLAN_PORTABLE_NAVI_STORAGE_VT0000000001&0"];
    EXPECT_EQ(usb.service, "USBSTOR");
    EXPECT_EQ(usb.name, "");
    EXPECT_EQ(usb.disk, std::nullopt);
    EXPECT_EQ(usb.status & 0x6000u, 0x6000u);
    EXPECT_EQ(disk.service, "disk");
    EXPECT_EQ(disk.name, "Orsolan Flash Disk Drive USB Device");
    EXPECT_EQ(disk.disk, 1u);
    EXPECT_EQ(disk.status & 0x4000u, 0u) << "only the USB device is removable";

    platform::DEVINST found = 0;
    EXPECT_EQ(platform::CM_Get_Parent(&found, disk.instance, 0), platform::CR_SUCCESS);
    EXPECT_EQ(found, usb.instance);
    EXPECT_EQ(platform::CM_Get_Child(&found, usb.instance, 0), platform::CR_SUCCESS);
    EXPECT_EQ(found, disk.instance);
    EXPECT_EQ(platform::CM_Get_Child(&found, disk.instance, 0), platform::CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(platform::CM_Get_Parent(&found, usb.instance, 0), platform::CR_NO_SUCH_DEVNODE);

    // The disk is not what is ejected; its USB device is, and takes the disk with it.
    char veto[64] = {};
    EXPECT_EQ(platform::CM_Request_Device_EjectA(disk.instance, nullptr, veto, sizeof veto, 0),
              platform::CR_REMOVE_VETOED);
    EXPECT_TRUE(platform::GetLogicalDrives() & (1u << ('E' - 'A')));
    EXPECT_EQ(platform::CM_Request_Device_EjectA(usb.instance, nullptr, veto, sizeof veto, 0), platform::CR_SUCCESS);
    EXPECT_FALSE(platform::GetLogicalDrives() & (1u << ('E' - 'A')));
    EXPECT_EQ(platform::CM_Get_Parent(&found, disk.instance, 0), platform::CR_INVALID_DEVNODE);
}

// A locked volume is reachable only through the handle that locked it; a dismount needs the
// lock; a raw write beneath a mounted file system needs the lock or the dismount.
TEST(NaviSim, ALockedVolumeIsReachableOnlyThroughItsLockingHandle) {
    UnitWorld world;
    navisim::CreateUnit({});
    const std::string before = TestWorld::ReadFile(navisim::UnitImage("navi").string());
    alignas(512) static unsigned char sector[512];
    std::memset(sector, 0x33, sizeof sector);
    uint32_t done = 0;
    platform::HANDLE volume = OpenE();
    ASSERT_EQ(platform::SetFilePointer(volume, 4096, nullptr, platform::FILE_BEGIN), 4096u);
    EXPECT_FALSE(platform::WriteFile(volume, sector, sizeof sector, &done, nullptr));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Control(volume, platform::FSCTL_DISMOUNT_VOLUME));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
    EXPECT_EQ(TestWorld::ReadFile(navisim::UnitImage("navi").string()), before);
    EXPECT_TRUE(Visible("E:\\MAP\\MAP.VER"));

    ASSERT_TRUE(Control(volume, platform::FSCTL_LOCK_VOLUME));
    EXPECT_FALSE(Visible("E:\\MAP\\MAP.VER"));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(platform::CreateDirectoryA("E:\\UPDATE\\RENEWAL"));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Control(volume, platform::IOCTL_STORAGE_CHECK_VERIFY2));
    EXPECT_TRUE(Control(volume, platform::FSCTL_DISMOUNT_VOLUME));
    ASSERT_EQ(platform::SetFilePointer(volume, 4096, nullptr, platform::FILE_BEGIN), 4096u);
    EXPECT_TRUE(platform::WriteFile(volume, sector, sizeof sector, &done, nullptr));
    ASSERT_TRUE(Control(volume, platform::FSCTL_UNLOCK_VOLUME));
    EXPECT_TRUE(Visible("E:\\MAP\\MAP.VER"));
    // Dismounted by this handle, it still writes unlocked.
    ASSERT_EQ(platform::SetFilePointer(volume, 4608, nullptr, platform::FILE_BEGIN), 4608u);
    EXPECT_TRUE(platform::WriteFile(volume, sector, sizeof sector, &done, nullptr));
    EXPECT_EQ(TestWorld::ReadFile(navisim::UnitImage("navi").string()).substr(4096, 1024), std::string(1024, '\x33'));

    // The device gone, the handle says so.
    navisim::Unplug("navi");
    EXPECT_FALSE(Control(volume, platform::IOCTL_STORAGE_CHECK_VERIFY2));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(platform::CloseHandle(volume));
}

TEST(NaviSim, APowerCutLosesTheWritesSinceTheLastFlushAndLeavesAUnitWithoutFiles) {
    UnitWorld world;
    navisim::CreateUnit({});
    navisim::Faults faults;
    faults.powerCutAfterBytes = 3 * 4096;
    navisim::SetFaults("navi", faults);
    alignas(4096) static unsigned char block[4096];
    platform::HANDLE volume = OpenE();
    // A raw write beneath the file system needs the lock.
    ASSERT_TRUE(Control(volume, platform::FSCTL_LOCK_VOLUME));
    uint32_t done = 0;
    auto write = [&](unsigned char fill) {
        std::memset(block, fill, sizeof block);
        return platform::WriteFile(volume, block, sizeof block, &done, nullptr);
    };
    // Sector 0 on: flushed, then two writes that are not, then the one the power cut stops.
    ASSERT_TRUE(write(0x11));
    ASSERT_TRUE(platform::FlushFileBuffers(volume));
    ASSERT_TRUE(write(0x22));
    ASSERT_TRUE(write(0x33));
    EXPECT_FALSE(write(0x44));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(platform::CloseHandle(volume));
    EXPECT_EQ(platform::MachineDescription().Get("Unit navi", "Plugged"), "0");

    const std::string image = TestWorld::ReadFile(navisim::UnitImage("navi").string());
    EXPECT_EQ(image.substr(0, 4096), std::string(4096, '\x11'));
    // What the lost writes replaced: the unit's zeroed volume past its boot sector copy.
    EXPECT_EQ(image.substr(4096, 8192), std::string(8192, '\0'));

    // Plugged in again without a file system: its device, volume and letter are there, its
    // files are not.
    navisim::ClearFaults("navi");
    navisim::Plug("navi");
    EXPECT_EQ(platform::MachineDescription().Get("Device navi", "Unit"), "navi");
    EXPECT_EQ(platform::MachineDescription().Get("Drive E", "Volume"), "navi");
    char name[260] = {};
    EXPECT_TRUE(platform::GetVolumeNameForVolumeMountPointA("E:\\", name, sizeof name));
    EXPECT_FALSE(Visible("E:\\UPDATE\\NAVIINFO\\DEVICE.DAT"));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_UNRECOGNIZED_VOLUME);
}
