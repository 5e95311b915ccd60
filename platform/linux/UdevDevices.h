// The real PC's device list through libudev: each USB disk present is one device instance with
// the facts SetupAPI and the configuration manager give for it on Windows. The platform's device
// calls come here when no simulated machine is configured, a device's property when its set is
// the real PC's.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "platform/Devices.h"

namespace platform::linuxpc {

// The block devices of type disk on the USB bus, present now (a DeviceSet of the real PC).
[[nodiscard]] HDEVINFO SetupDiGetClassDevsA();
// SPDRP_FRIENDLYNAME "<vendor> <model> USB Device" from udev's vendor and model; SPDRP_SERVICE
// "USBSTOR" for a disk of the usb-storage or uas driver.
[[nodiscard]] bool SetupDiGetDeviceRegistryPropertyA(DEVINST device, uint32_t property, uint32_t* propertyRegDataType,
                                                     uint8_t* buffer, uint32_t size, uint32_t* requiredSize);
// DiskNumberOf the disk's device number.
[[nodiscard]] bool GetDeviceDiskNumber(DEVINST device, uint32_t* diskNumber);
// DN_DISABLEABLE, and DN_REMOVABLE unless the USB port says the device is built in.
[[nodiscard]] CONFIGRET CM_Get_DevNode_Status(uint32_t* status, uint32_t* problemNumber, DEVINST device);
// "USBSTOR\DISK&VID_vvvv&PID_pppp&<MANUFACTURER>_<PRODUCT>&REV_rrrr\<SERIAL>&0" from the USB
// device's descriptors, in upper case as Windows reports instance IDs.
[[nodiscard]] CONFIGRET CM_Get_Device_IDA(DEVINST device, char* buffer, uint32_t size);
// A USB disk on Linux is one node standing for both Windows nodes (the USB device and its
// disk): it is its own parent and child.
[[nodiscard]] CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST device);
[[nodiscard]] CONFIGRET CM_Get_Child(DEVINST* child, DEVINST device);
// The bus of a block device (a volume or its disk) as STORAGE_DEVICE_DESCRIPTOR's BusType:
// BusTypeUsb below a USB device, BusTypeSd below an MMC card, BusTypeNvme, BusTypeSata below a
// libata port, BusTypeUnknown otherwise (or when udev does not know the device).
uint32_t BlockBusType(dev_t number);
// See DiskEject.h.
[[nodiscard]] CONFIGRET CM_Request_Device_EjectA(DEVINST device, int* vetoType, char* vetoName, uint32_t nameLength);

}  // namespace platform::linuxpc
