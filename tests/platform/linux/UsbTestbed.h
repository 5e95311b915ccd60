// A umockdev testbed with the USB disks the real-PC device tests look at: the unit (a disk and
// a partition without a file system), a USB disk of another model, a card reader built into the
// PC and an internal SATA disk. Device numbers use block major 240 (reserved for local use), so
// nothing here can name a block device the test machine really has mounted.
#pragma once

#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/sim/Machine.h"
#include "support/TestWorld.h"
#include "support/Testbed.h"

class UsbTestbed : public ::testing::Test {
protected:
    void SetUp() override {
        // libudev reads the testbed only through umockdev's preload library.
        const char* preload = std::getenv("LD_PRELOAD");
        if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr)
            GTEST_SKIP() << "needs umockdev's preload library: run under umockdev-wrapper (ctest does)";
        ASSERT_FALSE(platform::MachineSimulated());  // the world's machine folder holds no machine.ini
        bed = umockdev_testbed_new();
        const std::string controller = Add("pci", "0000:00:14.0", nullptr, {}, {});
        unitUsb =
            Add("usb", "1-1", controller.c_str(),
                {"idVendor", "2f6a", "idProduct", "0c31", "bcdDevice", "0100", "manufacturer", "Orsolan", "product",
                 "Portable Navi Storage", "serial", "VT0000000001", "removable", "removable", "remove", ""},
                {"DEVTYPE", "usb_device"});
        unitDisk = AddDisk(unitUsb, "usb-storage", "sdb", "16",
                           {"ID_VENDOR", "Orsolan", "ID_VENDOR_ENC", "Orsolan\\x20", "ID_MODEL", "Flash_Disk_Drive",
                            "ID_MODEL_ENC", "Flash\\x20Disk\\x20Drive"});
        unitPartition = Add("block", "sdb1", unitDisk.c_str(), {"dev", "240:17", "partition", "1"},
                            {"DEVTYPE", "partition", "DEVNAME", "/dev/sdb1", "MAJOR", "240", "MINOR", "17"});
        otherUsb = Add("usb", "1-2", controller.c_str(),
                       {"idVendor", "1d6b", "idProduct", "0104", "bcdDevice", "0200", "manufacturer", "Acme", "product",
                        "Pocket Drive", "serial", "0123abc", "removable", "unknown", "remove", ""},
                       {"DEVTYPE", "usb_device"});
        AddDisk(otherUsb, "uas", "sdc", "32", {"ID_VENDOR", "Acme", "ID_MODEL", "Pocket_Drive"});
        const std::string readerUsb = Add("usb", "1-3", controller.c_str(),
                                          {"idVendor", "0bda", "idProduct", "0177", "bcdDevice", "0001", "manufacturer",
                                           "Generic", "product", "Card Reader", "removable", "fixed"},
                                          {"DEVTYPE", "usb_device"});
        AddDisk(readerUsb, "usb-storage", "sdd", "48", {"ID_VENDOR", "Generic", "ID_MODEL", "SD_Reader"});
        const std::string sata = Add("pci", "0000:00:17.0", nullptr, {}, {});
        Add("block", "sda", sata.c_str(), {"dev", "240:0", "removable", "0"},
            {"DEVTYPE", "disk", "DEVNAME", "/dev/sda", "MAJOR", "240", "MINOR", "0", "ID_VENDOR", "ATA", "ID_MODEL",
             "Internal_SSD"});
    }
    void TearDown() override {
        if (bed) g_object_unref(bed);
    }

    // A device with its sysfs attributes and udev properties (name, value, name, value, ...).
    std::string Add(const char* subsystem, const char* name, const char* parent,
                    std::initializer_list<const char*> attributes, std::initializer_list<const char*> properties) {
        return AddTestbedDevice(bed, subsystem, name, parent, attributes, properties);
    }

    // A USB mass-storage interface of `usb` bound to `driver`, and its disk 240:minor.
    std::string AddDisk(const std::string& usb, const char* driver, const char* name, const char* minor,
                        std::initializer_list<const char*> names) {
        const std::string interface =
            Add("usb", (Basename(usb) + ":1.0").c_str(), usb.c_str(), {}, {"DEVTYPE", "usb_interface"});
        umockdev_testbed_set_attribute_link(bed, interface.c_str(), "driver",
                                            (std::string("../../../../../bus/usb/drivers/") + driver).c_str());
        const std::string node = std::string("/dev/") + name, numbers = std::string("240:") + minor;
        std::vector<const char*> properties{"DEVTYPE", "disk", "DEVNAME", node.c_str(), "MAJOR", "240", "MINOR", minor};
        properties.insert(properties.end(), names.begin(), names.end());
        properties.push_back(nullptr);
        const char* attributes[] = {"dev", numbers.c_str(), "removable", "1", nullptr};
        gchar* path =
            umockdev_testbed_add_devicev(bed, "block", name, interface.c_str(), const_cast<gchar**>(attributes),
                                         const_cast<gchar**>(properties.data()));
        std::string syspath = path ? path : "";
        g_free(path);
        EXPECT_FALSE(syspath.empty()) << name;
        return syspath;
    }

    static std::string Basename(const std::string& path) { return path.substr(path.rfind('/') + 1); }

    std::string Attribute(const std::string& syspath, const char* name) { return TestbedAttribute(bed, syspath, name); }

    TestWorld world;
    UMockdevTestbed* bed = nullptr;
    std::string unitUsb, unitDisk, unitPartition, otherUsb;
};
