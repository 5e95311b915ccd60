// The real PC's USB disks through libudev. A device instance stands for one disk's sysfs path
// for the life of the process; its facts are read from sysfs and udev's database on each call,
// so a disk pulled out answers CR_INVALID_DEVNODE as a devnode gone on Windows does.
#include "platform/linux/UdevDevices.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Volumes.h"
#include "platform/linux/DiskEject.h"
#include "platform/linux/DiskNumber.h"
#include "platform/linux/Udev.h"
#include "platform/posix/DeviceSet.h"

namespace platform::linuxpc {
namespace {

// Instance handles by sysfs path, from 1 (0 is never handed out).
std::mutex instancesLock;
std::map<std::string, DEVINST> instanceOfPath;
std::vector<std::string> pathOfInstance;

DEVINST InstanceOf(const std::string& syspath) {
    std::lock_guard guard(instancesLock);
    auto [it, added] = instanceOfPath.try_emplace(syspath, 0);
    if (added) {
        pathOfInstance.push_back(syspath);
        it->second = static_cast<DEVINST>(pathOfInstance.size());
    }
    return it->second;
}

std::string PathOf(DEVINST device) {
    std::lock_guard guard(instancesLock);
    return device >= 1 && device <= pathOfInstance.size() ? pathOfInstance[device - 1] : std::string();
}

std::string Text(const char* value) { return value ? value : ""; }

udev_device* UsbDeviceOf(udev_device* disk) {
    return udev_device_get_parent_with_subsystem_devtype(disk, "usb", "usb_device");
}

bool IsUsbDisk(udev_device* device) {
    return Text(udev_device_get_subsystem(device)) == "block" && Text(udev_device_get_devtype(device)) == "disk" &&
           UsbDeviceOf(device) != nullptr;
}

// The USB disk an instance stands for while it is present.
struct PresentDisk {
    Udev context;
    UdevDevice disk;
    udev_device* usb = nullptr;  // owned by disk
};

std::optional<PresentDisk> DiskOf(DEVINST device) {
    std::string path = PathOf(device);
    if (path.empty()) return std::nullopt;
    PresentDisk present;
    present.context.reset(udev_new());
    if (!present.context) return std::nullopt;
    present.disk.reset(udev_device_new_from_syspath(present.context.get(), path.c_str()));
    if (!present.disk || !IsUsbDisk(present.disk.get())) return std::nullopt;
    present.usb = UsbDeviceOf(present.disk.get());
    return present;
}

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// udev's vendor or model as the device gave it: the "_ENC" property with its "\x20" escapes
// undone, else the plain one, whose blanks udev has turned into underscores.
std::string UdevName(udev_device* disk, const std::string& key) {
    std::string encoded = Text(udev_device_get_property_value(disk, (key + "_ENC").c_str()));
    std::string text;
    if (!encoded.empty()) {
        for (size_t i = 0; i < encoded.size(); ++i) {
            if (encoded.compare(i, 2, "\\x") == 0 && i + 3 < encoded.size() &&
                std::isxdigit(static_cast<unsigned char>(encoded[i + 2])) &&
                std::isxdigit(static_cast<unsigned char>(encoded[i + 3]))) {
                text += static_cast<char>(std::stoi(encoded.substr(i + 2, 2), nullptr, 16));
                i += 3;
            } else {
                text += encoded[i];
            }
        }
    } else {
        text = Text(udev_device_get_property_value(disk, key.c_str()));
        std::replace(text.begin(), text.end(), '_', ' ');
    }
    return Trimmed(text);
}

std::optional<std::string> FriendlyName(udev_device* disk) {
    std::string vendor = UdevName(disk, "ID_VENDOR");
    std::string model = UdevName(disk, "ID_MODEL");
    if (vendor.empty() && model.empty()) return std::nullopt;
    return (vendor.empty() ? model : vendor + (model.empty() ? "" : " " + model)) + " USB Device";
}

// Both USB mass-storage drivers are Windows' USBSTOR.
std::optional<std::string> Service(udev_device* disk) {
    udev_device* interface = udev_device_get_parent_with_subsystem_devtype(disk, "usb", "usb_interface");
    std::string driver = interface ? Text(udev_device_get_driver(interface)) : "";
    if (driver == "usb-storage" || driver == "uas") return "USBSTOR";
    return std::nullopt;
}

// A USB descriptor string as one part of an instance ID: blanks, commas, backslashes and what is
// not printable ASCII become underscores, as Windows does to the strings it builds IDs from.
std::string IdPart(udev_device* usb, const char* attribute) {
    std::string text = Trimmed(Text(udev_device_get_sysattr_value(usb, attribute)));
    for (char& c : text)
        if (c <= ' ' || c > '~' || c == ',' || c == '\\') c = '_';
    return text;
}

std::string InstanceId(udev_device* usb) {
    std::string serial = IdPart(usb, "serial");
    // Without a serial number the port the device sits on ("1-4.2") tells it apart.
    if (serial.empty()) serial = Text(udev_device_get_sysname(usb));
    std::string id = "USBSTOR\\DISK&VID_" + IdPart(usb, "idVendor") + "&PID_" + IdPart(usb, "idProduct") + "&" +
                     IdPart(usb, "manufacturer") + "_" + IdPart(usb, "product") + "&REV_" + IdPart(usb, "bcdDevice") +
                     "\\" + serial + "&0";
    for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return id;
}

}  // namespace

HDEVINFO SetupDiGetClassDevsA() {
    Udev context(udev_new());
    UdevEnumerate list(context ? udev_enumerate_new(context.get()) : nullptr);
    // libudev ORs matches on properties: disks and partitions are told apart below.
    if (!list || udev_enumerate_add_match_subsystem(list.get(), "block") < 0 ||
        udev_enumerate_scan_devices(list.get()) < 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_DEVINFO_HANDLE;
    }
    auto set = new DeviceSet;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list.get())) {
        const char* path = udev_list_entry_get_name(entry);
        UdevDevice device(udev_device_new_from_syspath(context.get(), path));
        if (device && IsUsbDisk(device.get())) set->devices.push_back(InstanceOf(path));
    }
    SetLastError(ERROR_SUCCESS);
    return set;
}

bool SetupDiGetDeviceRegistryPropertyA(DEVINST device, uint32_t property, uint32_t* propertyRegDataType,
                                       uint8_t* buffer, uint32_t size, uint32_t* requiredSize) {
    std::optional<PresentDisk> present = DiskOf(device);
    std::optional<std::string> value;
    if (present && property == SPDRP_FRIENDLYNAME) value = FriendlyName(present->disk.get());
    if (present && property == SPDRP_SERVICE) value = Service(present->disk.get());
    return CopyTextProperty(value, propertyRegDataType, buffer, size, requiredSize);
}

bool GetDeviceDiskNumber(DEVINST device, uint32_t* diskNumber) {
    std::optional<PresentDisk> present = DiskOf(device);
    dev_t number = present ? udev_device_get_devnum(present->disk.get()) : 0;
    if (number == 0 || diskNumber == nullptr) {
        SetLastError(ERROR_NOT_FOUND);
        return false;
    }
    *diskNumber = DiskNumberOf(number);
    return true;
}

CONFIGRET CM_Get_DevNode_Status(uint32_t* status, uint32_t* problemNumber, DEVINST device) {
    std::optional<PresentDisk> present = DiskOf(device);
    if (!present || status == nullptr) return CR_INVALID_DEVNODE;
    // The port's "removable" is "fixed" for a device built into the PC, "removable" or
    // "unknown" (most ports) otherwise; Windows calls every USB disk on an external port removable.
    bool builtIn = Text(udev_device_get_sysattr_value(present->usb, "removable")) == "fixed";
    *status = DN_DISABLEABLE | (builtIn ? 0 : DN_REMOVABLE);
    if (problemNumber) *problemNumber = 0;
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_IDA(DEVINST device, char* buffer, uint32_t size) {
    std::optional<PresentDisk> present = DiskOf(device);
    if (!present) return CR_INVALID_DEVNODE;
    return CopyDeviceId(InstanceId(present->usb), buffer, size);
}

CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST device) {
    if (!DiskOf(device) || parent == nullptr) return CR_INVALID_DEVNODE;
    *parent = device;
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Child(DEVINST* child, DEVINST device) { return CM_Get_Parent(child, device); }

uint32_t BlockBusType(dev_t number) {
    // Found by listing, not through /sys/dev/block: what udev lists is what the device tree holds.
    Udev context(udev_new());
    UdevEnumerate list(context ? udev_enumerate_new(context.get()) : nullptr);
    if (!list || udev_enumerate_add_match_subsystem(list.get(), "block") < 0 ||
        udev_enumerate_scan_devices(list.get()) < 0)
        return BusTypeUnknown;
    UdevDevice block;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list.get())) {
        UdevDevice device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (device && udev_device_get_devnum(device.get()) == number) {
            block = std::move(device);
            break;
        }
    }
    if (!block) return BusTypeUnknown;
    const auto below = [&](const char* subsystem) {
        return udev_device_get_parent_with_subsystem_devtype(block.get(), subsystem, nullptr) != nullptr;
    };
    // A USB card reader's card is on the USB bus, as Windows reports it; a slot of the PC's own is not.
    if (below("usb")) return BusTypeUsb;
    if (below("mmc")) return BusTypeSd;
    if (below("nvme")) return BusTypeNvme;
    // libata's disks lie below an "ataN" port.
    if (Text(udev_device_get_syspath(block.get())).find("/ata") != std::string::npos) return BusTypeSata;
    return BusTypeUnknown;
}

CONFIGRET CM_Request_Device_EjectA(DEVINST device, int* vetoType, char* vetoName, uint32_t nameLength) {
    if (vetoType) *vetoType = kVetoNone;
    if (vetoName && nameLength > 0) vetoName[0] = '\0';
    std::optional<PresentDisk> present = DiskOf(device);
    if (!present) return CR_INVALID_DEVNODE;
    std::string holder;
    CONFIGRET result = EjectDisk(present->disk.get(), &holder);
    // A mount point's name is UTF-8 on Linux.
    if (result == CR_REMOVE_VETOED) CopyVeto(Utf8ToCp932(holder).value_or(holder), vetoType, vetoName, nameLength);
    return result;
}

}  // namespace platform::linuxpc
