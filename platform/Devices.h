// The device list: SetupAPI's present-device set with its registry properties, and the
// configuration manager's status, instance ID, tree and eject request. A USB stick is two
// nodes, as on Windows: the USB device (service USBSTOR or UASPStor, the node that is ejected)
// and its child disk (service disk, the friendly name and the disk interface).
#pragma once

#include <cstdint>

namespace platform {

using HDEVINFO = void*;
using DEVINST = uint32_t;
using CONFIGRET = uint32_t;

constexpr uint32_t DIGCF_PRESENT = 0x2;
constexpr uint32_t DIGCF_ALLCLASSES = 0x4;
constexpr uint32_t SPDRP_SERVICE = 0x4;
constexpr uint32_t SPDRP_FRIENDLYNAME = 0xC;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t DN_DISABLEABLE = 0x2000;
constexpr uint32_t DN_REMOVABLE = 0x4000;
constexpr CONFIGRET CR_SUCCESS = 0;
constexpr CONFIGRET CR_INVALID_DEVNODE = 5;
constexpr CONFIGRET CR_NO_SUCH_DEVNODE = 0xD;
constexpr CONFIGRET CR_FAILURE = 0x13;
constexpr CONFIGRET CR_BUFFER_SMALL = 0x1A;
constexpr CONFIGRET CR_REMOVE_VETOED = 0x17;
// PNP_VETO_TYPE values: nothing vetoed (PNP_VetoTypeUnknown); a handle on the device is still
// open (PNP_VetoOutstandingOpen).
constexpr int kVetoNone = 0;
constexpr int kVetoOutstandingOpen = 6;
inline HDEVINFO const INVALID_DEVINFO_HANDLE = reinterpret_cast<HDEVINFO>(~uintptr_t{0});

struct SP_DEVINFO_DATA {
    uint32_t cbSize = sizeof(SP_DEVINFO_DATA);
    uint8_t ClassGuid[16] = {};
    DEVINST DevInst = 0;
    uintptr_t Reserved = 0;
};

// The devices present now (the class argument is not looked at: every class is listed).
[[nodiscard]] HDEVINFO SetupDiGetClassDevsA(const void* classGuid, const char* enumerator, void* parent,
                                            uint32_t flags);
// False with ERROR_NO_MORE_ITEMS past the last device.
[[nodiscard]] bool SetupDiEnumDeviceInfo(HDEVINFO set, uint32_t index, SP_DEVINFO_DATA* data);
// Text properties in CP932 with their NUL; ERROR_INSUFFICIENT_BUFFER with the required size
// when the buffer is too small, ERROR_INVALID_DATA when the device has no such property.
[[nodiscard]] bool SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* data, uint32_t property,
                                                     uint32_t* propertyRegDataType, uint8_t* buffer, uint32_t size,
                                                     uint32_t* requiredSize);
[[nodiscard]] bool SetupDiDestroyDeviceInfoList(HDEVINFO set);

// The number of the disk a device presents (the DeviceNumber that IOCTL_STORAGE_GET_DEVICE_NUMBER
// gives on its disk interface, the same number a volume on that disk reports). False with the
// last error when the device presents no disk. Windows: SetupDiGetClassDevs of the disk
// interface class for the device's instance ID, the interface's path opened without access.
[[nodiscard]] bool GetDeviceDiskNumber(DEVINST device, uint32_t* diskNumber);

[[nodiscard]] CONFIGRET CM_Get_DevNode_Status(uint32_t* status, uint32_t* problemNumber, DEVINST device,
                                              uint32_t flags);
// The device tree: a device's parent, and its first child. CR_NO_SUCH_DEVNODE when there is
// none (the simulated machine has no root node above its top-level devices).
[[nodiscard]] CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST device, uint32_t flags);
[[nodiscard]] CONFIGRET CM_Get_Child(DEVINST* child, DEVINST device, uint32_t flags);
[[nodiscard]] CONFIGRET CM_Get_Device_IDA(DEVINST device, char* buffer, uint32_t size, uint32_t flags);
// Unplugs the device with its children (and the unit it belongs to, with its volume and
// letter); a device that is not removable (DN_REMOVABLE) vetoes. With a name
// buffer a veto comes back as its type and name; without one the system shows the user its own
// message about how the request went.
[[nodiscard]] CONFIGRET CM_Request_Device_EjectA(DEVINST device, int* vetoType, char* vetoName, uint32_t nameLength,
                                                 uint32_t flags);

}  // namespace platform
