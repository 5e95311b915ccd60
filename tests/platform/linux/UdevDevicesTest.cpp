// The real PC's device list against a umockdev testbed: which block devices are listed, and the
// friendly name, instance ID, service, status and disk number the unit detection reads.
#include <gtest/gtest.h>

#include <sys/sysmacros.h>

#include <map>
#include <string>

#include "UsbTestbed.h"
#include "platform/Devices.h"
#include "platform/Error.h"
#include "platform/Volumes.h"
#include "platform/linux/UdevDevices.h"

namespace {

struct Facts {
    std::string friendlyName, service, instanceId;
    uint32_t status = 0, disk = 0;
    platform::DEVINST instance = 0;
};

std::string Property(platform::HDEVINFO set, platform::SP_DEVINFO_DATA* device, uint32_t property) {
    uint8_t text[512] = {};
    return platform::SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr, text, sizeof text, nullptr)
               ? reinterpret_cast<char*>(text)
               : "(none)";
}

// The present devices by friendly name.
std::map<std::string, Facts> PresentDevices() {
    std::map<std::string, Facts> devices;
    platform::HDEVINFO set =
        platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT | platform::DIGCF_ALLCLASSES);
    EXPECT_NE(set, platform::INVALID_DEVINFO_HANDLE);
    platform::SP_DEVINFO_DATA device;
    for (uint32_t index = 0; platform::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        Facts facts;
        facts.instance = device.DevInst;
        facts.friendlyName = Property(set, &device, platform::SPDRP_FRIENDLYNAME);
        facts.service = Property(set, &device, platform::SPDRP_SERVICE);
        char id[260] = {};
        EXPECT_EQ(platform::CM_Get_Device_IDA(device.DevInst, id, sizeof id, 0), platform::CR_SUCCESS);
        facts.instanceId = id;
        EXPECT_EQ(platform::CM_Get_DevNode_Status(&facts.status, nullptr, device.DevInst, 0), platform::CR_SUCCESS);
        EXPECT_TRUE(platform::GetDeviceDiskNumber(device.DevInst, &facts.disk));
        devices[facts.friendlyName] = facts;
    }
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(set));
    return devices;
}

}  // namespace

using UdevDevicesTest = UsbTestbed;

TEST_F(UdevDevicesTest, ListsTheUsbDisksWithTheFactsWindowsGives) {
    std::map<std::string, Facts> devices = PresentDevices();
    // Not the partition, not the SATA disk.
    ASSERT_EQ(devices.size(), 3u);

    const Facts& unit = devices["Orsolan Flash Disk Drive USB Device"];
    EXPECT_EQ(unit.instanceId,
              "USBSTOR\\DISK&VID_2F6A&PID_0C31&ORSOLAN_PORTABLE_NAVI_STORAGE&REV_0100\\VT0000000001&0");
    EXPECT_EQ(unit.service, "USBSTOR");
    EXPECT_EQ(unit.status, 0x6000u);    // DN_DISABLEABLE | DN_REMOVABLE
    EXPECT_EQ(unit.disk, 0x0F000010u);  // 240:16

    // udev's plain names (no _ENC), the uas driver, a lower-case serial number.
    const Facts& other = devices["Acme Pocket Drive USB Device"];
    EXPECT_EQ(other.instanceId, "USBSTOR\\DISK&VID_1D6B&PID_0104&ACME_POCKET_DRIVE&REV_0200\\0123ABC&0");
    EXPECT_EQ(other.service, "USBSTOR");
    EXPECT_EQ(other.status, 0x6000u);
    EXPECT_EQ(other.disk, 0x0F000020u);

    // Built into the PC: not removable; no serial number: the port stands in for it.
    const Facts& reader = devices["Generic SD Reader USB Device"];
    EXPECT_EQ(reader.instanceId, "USBSTOR\\DISK&VID_0BDA&PID_0177&GENERIC_CARD_READER&REV_0001\\1-3&0");
    EXPECT_EQ(reader.status, 0x2000u);

    // The same disk keeps its instance handle.
    EXPECT_EQ(PresentDevices()["Orsolan Flash Disk Drive USB Device"].instance, unit.instance);
}

TEST_F(UdevDevicesTest, APulledDiskIsGoneFromTheListAndItsInstanceAnswersNoMore) {
    platform::DEVINST unit = PresentDevices()["Orsolan Flash Disk Drive USB Device"].instance;
    ASSERT_NE(unit, 0u);
    umockdev_testbed_remove_device(bed, unitPartition.c_str());
    umockdev_testbed_remove_device(bed, unitDisk.c_str());

    std::map<std::string, Facts> devices = PresentDevices();
    EXPECT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices.count("Orsolan Flash Disk Drive USB Device"), 0u);
    uint32_t status = 0, disk = 0;
    char id[260];
    EXPECT_EQ(platform::CM_Get_DevNode_Status(&status, nullptr, unit, 0), platform::CR_INVALID_DEVNODE);
    EXPECT_EQ(platform::CM_Get_Device_IDA(unit, id, sizeof id, 0), platform::CR_INVALID_DEVNODE);
    EXPECT_FALSE(platform::GetDeviceDiskNumber(unit, &disk));
}

TEST_F(UdevDevicesTest, PropertyBufferAndIdBufferSizesAreAnswered) {
    platform::HDEVINFO set = platform::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, platform::DIGCF_PRESENT);
    platform::SP_DEVINFO_DATA device;
    ASSERT_TRUE(platform::SetupDiEnumDeviceInfo(set, 0, &device));
    uint32_t required = 0;
    EXPECT_FALSE(platform::SetupDiGetDeviceRegistryPropertyA(set, &device, platform::SPDRP_SERVICE, nullptr, nullptr, 0,
                                                             &required));
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 8u);  // "USBSTOR" and its NUL
    char shortId[10];
    EXPECT_EQ(platform::CM_Get_Device_IDA(device.DevInst, shortId, sizeof shortId, 0), platform::CR_BUFFER_SMALL);
    EXPECT_TRUE(platform::SetupDiDestroyDeviceInfoList(set));
}

TEST_F(UdevDevicesTest, ABlockDeviceIsOnTheUsbBusOnlyBelowAUsbDevice) {
    // A card in the PC's own SD slot (its host on PCI, the card on the MMC bus) and an eSATA disk
    // behind a libata port.
    const std::string host = Add("pci", "0000:00:1e.6", nullptr, {}, {});
    const std::string card = Add("mmc", "mmc0:0001", host.c_str(), {}, {});
    Add("block", "mmcblk0", card.c_str(), {"dev", "240:64"},
        {"DEVTYPE", "disk", "DEVNAME", "/dev/mmcblk0", "MAJOR", "240", "MINOR", "64"});
    const std::string ahci = Add("pci", "0000:00:17.1", nullptr, {}, {});
    const std::string port = Add("ata_port", "ata3", ahci.c_str(), {}, {});
    Add("block", "sde", port.c_str(), {"dev", "240:80"},
        {"DEVTYPE", "disk", "DEVNAME", "/dev/sde", "MAJOR", "240", "MINOR", "80"});

    using platform::linuxpc::BlockBusType;
    EXPECT_EQ(BlockBusType(makedev(240, 17)), platform::BusTypeUsb);  // the unit's volume
    EXPECT_EQ(BlockBusType(makedev(240, 48)), platform::BusTypeUsb);  // a card in a USB reader
    EXPECT_EQ(BlockBusType(makedev(240, 64)), platform::BusTypeSd);
    EXPECT_EQ(BlockBusType(makedev(240, 80)), platform::BusTypeSata);
    EXPECT_EQ(BlockBusType(makedev(240, 0)), platform::BusTypeUnknown);   // the internal disk, straight on PCI
    EXPECT_EQ(BlockBusType(makedev(240, 99)), platform::BusTypeUnknown);  // nothing there
}
