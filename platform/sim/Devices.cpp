// The device list of the simulated machine: a device set is its device sections of machine.ini,
// with stable instance handles, their status, instance IDs and the eject request.
#include "platform/Devices.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/posix/DeviceSet.h"
#include "platform/sim/Faults.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Services.h"

namespace platform::sim {
namespace {

// Device instance handles stay the same for a device section for the life of the process, as a
// devnode does while its device is present; 0 is never handed out.
std::mutex instancesLock;
std::map<std::string, DEVINST> instanceOfSection;
std::map<DEVINST, std::string> sectionOfInstance;

DEVINST InstanceOf(const std::string& section) {
    std::lock_guard guard(instancesLock);
    auto [it, added] = instanceOfSection.try_emplace(MachineFolder() + "|" + section, 0);
    if (added) {
        it->second = static_cast<DEVINST>(instanceOfSection.size());
        sectionOfInstance[it->second] = it->first;
    }
    return it->second;
}

// The device's section while it is present.
std::string SectionOf(DEVINST device) {
    std::string key;
    {
        std::lock_guard guard(instancesLock);
        auto it = sectionOfInstance.find(device);
        if (it == sectionOfInstance.end()) return {};
        key = it->second;
    }
    std::string prefix = MachineFolder() + "|";
    if (key.compare(0, prefix.size(), prefix) != 0) return {};
    std::string section = key.substr(prefix.size());
    return MachineDescription().Keys(section).empty() ? std::string() : section;
}

}  // namespace

HDEVINFO DevicesPresent() {
    auto set = new DeviceSet;
    for (const std::string& section : MachineDescription().Sections())
        if (section.rfind("Device ", 0) == 0) set->devices.push_back(InstanceOf(section));
    return set;
}

bool DeviceProperty(DEVINST device, uint32_t property, uint32_t* propertyRegDataType, uint8_t* buffer, uint32_t size,
                    uint32_t* requiredSize) {
    const char* key = property == SPDRP_FRIENDLYNAME ? "FriendlyName" : property == SPDRP_SERVICE ? "Service" : nullptr;
    std::string section = SectionOf(device);
    auto value = key && !section.empty() ? MachineDescription().Get(section, key) : std::nullopt;
    return CopyTextProperty(value, propertyRegDataType, buffer, size, requiredSize);
}

bool GetDeviceDiskNumber(DEVINST device, uint32_t* diskNumber) {
    std::string section = SectionOf(device);
    auto disk = section.empty() ? std::nullopt : DeviceDisk(MachineDescription(), section.substr(7));
    if (!disk || diskNumber == nullptr) {
        SetLastError(ERROR_NOT_FOUND);
        return false;
    }
    *diskNumber = *disk;
    return true;
}

CONFIGRET GetDevNodeStatus(uint32_t* status, uint32_t* problemNumber, DEVINST device) {
    std::string section = SectionOf(device);
    if (section.empty() || status == nullptr) return CR_INVALID_DEVNODE;
    *status = static_cast<uint32_t>(
        std::strtoul(MachineDescription().Get(section, "Status").value_or("0").c_str(), nullptr, 0));
    if (problemNumber) *problemNumber = 0;
    return CR_SUCCESS;
}

CONFIGRET GetParent(DEVINST* parent, DEVINST device) {
    std::string section = SectionOf(device);
    if (section.empty() || parent == nullptr) return CR_INVALID_DEVNODE;
    std::string parentSection = "Device " + MachineDescription().Get(section, "Parent").value_or("");
    if (parentSection == "Device " || MachineDescription().Keys(parentSection).empty()) return CR_NO_SUCH_DEVNODE;
    *parent = InstanceOf(parentSection);
    return CR_SUCCESS;
}

CONFIGRET GetChild(DEVINST* child, DEVINST device) {
    std::string section = SectionOf(device);
    if (section.empty() || child == nullptr) return CR_INVALID_DEVNODE;
    const ProfileDocument doc = MachineDescription();
    for (const std::string& other : doc.Sections())
        if (other.rfind("Device ", 0) == 0 && doc.Get(other, "Parent").value_or("") == section.substr(7)) {
            *child = InstanceOf(other);
            return CR_SUCCESS;
        }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET GetDeviceId(DEVINST device, char* buffer, uint32_t size) {
    std::string section = SectionOf(device);
    if (section.empty()) return CR_INVALID_DEVNODE;
    return CopyDeviceId(MachineDescription().Get(section, "InstanceId").value_or(""), buffer, size);
}

CONFIGRET RequestEject(DEVINST device, int* vetoType, char* vetoName, uint32_t nameLength) {
    if (vetoType) *vetoType = kVetoNone;
    if (vetoName && nameLength > 0) vetoName[0] = '\0';
    std::string section = SectionOf(device);
    if (section.empty()) return CR_INVALID_DEVNODE;
    // The unit's eject (unmount, power-off) may ask the user first.
    AwaitPrompt(MachineDescription().Get(section, "Unit").value_or(""), "Eject");
    CONFIGRET result = CR_SUCCESS;
    std::string holder;
    ModifyMachine([&](ProfileDocument& doc) {
        bool removable = std::strtoul(doc.Get(section, "Status").value_or("0").c_str(), nullptr, 0) & DN_REMOVABLE;
        // A program that holds the device refuses its removal: "EjectVetoed=N" the next N
        // requests, "always" every one; "EjectVetoName=" names the holder.
        std::string vetoes = doc.Get(section, "EjectVetoed").value_or("0");
        if (!removable || vetoes == "always" || std::strtoul(vetoes.c_str(), nullptr, 10) > 0) {
            result = CR_REMOVE_VETOED;
            holder = doc.Get(section, "EjectVetoName").value_or(doc.Get(section, "InstanceId").value_or(""));
            if (removable && vetoes != "always")
                doc.Set(section, "EjectVetoed", std::to_string(std::strtoul(vetoes.c_str(), nullptr, 10) - 1));
        } else {
            std::string unit = doc.Get(section, "Unit").value_or("");
            if (unit.empty()) {
                // The children go with their parent.
                for (const std::string& other : doc.Sections())
                    if (other.rfind("Device ", 0) == 0 && doc.Get(other, "Parent").value_or("") == section.substr(7))
                        doc.RemoveSection(other);
                doc.RemoveSection(section);
            } else {
                RemoveUnit(doc, unit);
            }
        }
        // Without a name buffer the system tells the user itself: "[System] PnpMessages" counts it.
        if (vetoName == nullptr)
            doc.Set(
                "System", "PnpMessages",
                std::to_string(std::strtoul(doc.Get("System", "PnpMessages").value_or("0").c_str(), nullptr, 10) + 1));
        return true;
    });
    if (result == CR_REMOVE_VETOED) CopyVeto(holder, vetoType, vetoName, nameLength);
    return result;
}

}  // namespace platform::sim
