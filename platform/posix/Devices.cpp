// The device calls over the PC in use (platform/posix/MachineSource.h): a device set answers
// through the source that made it, a device instance through the source in use.
#include "platform/Devices.h"

#include "platform/Error.h"
#include "platform/posix/DeviceSet.h"
#include "platform/posix/MachineSource.h"

namespace platform {

HDEVINFO SetupDiGetClassDevsA(const void*, const char*, void*, uint32_t flags) {
    if (!(flags & DIGCF_PRESENT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_DEVINFO_HANDLE;
    }
    const MachineSource& machine = CurrentMachine();
    HDEVINFO handle = machine.DevicesPresent();
    if (DeviceSet* set = DeviceSetOf(handle)) set->source = &machine;
    return handle;
}

bool SetupDiEnumDeviceInfo(HDEVINFO handle, uint32_t index, SP_DEVINFO_DATA* data) {
    DeviceSet* set = DeviceSetOf(handle);
    if (set == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (index >= set->devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return false;
    }
    data->DevInst = set->devices[index];
    return true;
}

bool SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, SP_DEVINFO_DATA* data, uint32_t property,
                                       uint32_t* propertyRegDataType, uint8_t* buffer, uint32_t size,
                                       uint32_t* requiredSize) {
    DeviceSet* set = DeviceSetOf(handle);
    if (set == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return set->source->DeviceProperty(data->DevInst, property, propertyRegDataType, buffer, size, requiredSize);
}

bool SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    DeviceSet* set = DeviceSetOf(handle);
    if (set == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    delete set;
    return true;
}

bool GetDeviceDiskNumber(DEVINST device, uint32_t* diskNumber) {
    return CurrentMachine().GetDeviceDiskNumber(device, diskNumber);
}

CONFIGRET CM_Get_DevNode_Status(uint32_t* status, uint32_t* problemNumber, DEVINST device, uint32_t) {
    return CurrentMachine().GetDevNodeStatus(status, problemNumber, device);
}

CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST device, uint32_t) {
    return CurrentMachine().GetParent(parent, device);
}

CONFIGRET CM_Get_Child(DEVINST* child, DEVINST device, uint32_t) { return CurrentMachine().GetChild(child, device); }

CONFIGRET CM_Get_Device_IDA(DEVINST device, char* buffer, uint32_t size, uint32_t) {
    return CurrentMachine().GetDeviceId(device, buffer, size);
}

CONFIGRET CM_Request_Device_EjectA(DEVINST device, int* vetoType, char* vetoName, uint32_t nameLength, uint32_t) {
    return CurrentMachine().RequestEject(device, vetoType, vetoName, nameLength);
}

}  // namespace platform
