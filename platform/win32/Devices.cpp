// SetupAPI's present-device set and the configuration manager, through the W calls; texts come
// back in CP932.
#include "platform/Devices.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"
#include <cfgmgr32.h>
#include <setupapi.h>
#include <winioctl.h>

namespace platform {
namespace {

static_assert(sizeof(platform::SP_DEVINFO_DATA) == sizeof(::SP_DEVINFO_DATA));
static_assert(offsetof(platform::SP_DEVINFO_DATA, DevInst) == offsetof(::SP_DEVINFO_DATA, DevInst));

::SP_DEVINFO_DATA* Native(platform::SP_DEVINFO_DATA* data) { return reinterpret_cast<::SP_DEVINFO_DATA*>(data); }

// GUID_DEVINTERFACE_DISK, spelled out so that no GUID library needs linking.
constexpr GUID kDiskInterface = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

// The disk number behind one disk interface path; false with the last error.
bool DiskNumberOfPath(const wchar_t* path, uint32_t* diskNumber) {
    HANDLE disk = ::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (disk == INVALID_HANDLE_VALUE) return false;
    ::STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    const bool ok = ::DeviceIoControl(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                                      &returned, nullptr);
    const DWORD error = ::GetLastError();
    ::CloseHandle(disk);
    if (ok) *diskNumber = number.DeviceNumber;
    ::SetLastError(error);
    return ok;
}

}  // namespace

bool GetDeviceDiskNumber(DEVINST device, uint32_t* diskNumber) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1];
    if (diskNumber == nullptr || ::CM_Get_Device_IDW(device, id, MAX_DEVICE_ID_LEN + 1, 0) != CR_SUCCESS) {
        ::SetLastError(ERROR_NOT_FOUND);
        return false;
    }
    // The device's own disk interface: the enumerator of an interface set may be an instance ID.
    ::HDEVINFO set = ::SetupDiGetClassDevsW(&kDiskInterface, id, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    ::SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (::SetupDiEnumDeviceInterfaces(set, nullptr, &kDiskInterface, 0, &interfaceData)) {
        DWORD needed = 0;
        // The size query fails with ERROR_INSUFFICIENT_BUFFER by design; needed tells the size.
        ::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &needed, nullptr);
        std::vector<BYTE> storage(std::max<DWORD>(needed, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof *detail;
        found = ::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, static_cast<DWORD>(storage.size()),
                                                   nullptr, nullptr) &&
                DiskNumberOfPath(detail->DevicePath, diskNumber);
    }
    const DWORD error = found ? ERROR_SUCCESS : ::GetLastError();
    ::SetupDiDestroyDeviceInfoList(set);
    if (!found) ::SetLastError(error == ERROR_NO_MORE_ITEMS ? ERROR_NOT_FOUND : error);
    return found;
}

HDEVINFO SetupDiGetClassDevsA(const void* classGuid, const char* enumerator, void* parent, uint32_t flags) {
    std::optional<std::wstring> wide;
    if (enumerator != nullptr && !(wide = win32::Wide(enumerator))) return INVALID_DEVINFO_HANDLE;
    return ::SetupDiGetClassDevsW(static_cast<const GUID*>(classGuid), wide ? wide->c_str() : nullptr,
                                  static_cast<HWND>(parent), flags);
}

bool SetupDiEnumDeviceInfo(HDEVINFO set, uint32_t index, SP_DEVINFO_DATA* data) {
    return ::SetupDiEnumDeviceInfo(set, index, Native(data));
}

bool SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* data, uint32_t property,
                                       uint32_t* propertyRegDataType, uint8_t* buffer, uint32_t size,
                                       uint32_t* requiredSize) {
    DWORD type = 0;
    DWORD needed = 0;
    std::vector<BYTE> value(256);
    while (!::SetupDiGetDeviceRegistryPropertyW(set, Native(data), property, &type, value.data(),
                                                static_cast<DWORD>(value.size()), &needed)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= value.size()) return false;
        value.resize(needed);
    }
    value.resize(needed);
    // Texts (one, or a list ending in two NULs) in CP932 with their NULs; other data as it is.
    std::string bytes(reinterpret_cast<const char*>(value.data()), value.size());
    if (type == REG_SZ || type == REG_MULTI_SZ || type == REG_EXPAND_SZ) {
        auto cp932 = win32::Narrow(
            std::wstring_view(reinterpret_cast<const wchar_t*>(value.data()), value.size() / sizeof(wchar_t)));
        if (!cp932) {
            ::SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        bytes = *cp932;
    }
    if (propertyRegDataType != nullptr) *propertyRegDataType = type;
    if (requiredSize != nullptr) *requiredSize = static_cast<uint32_t>(bytes.size());
    if (buffer == nullptr || size < bytes.size()) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    return true;
}

bool SetupDiDestroyDeviceInfoList(HDEVINFO set) { return ::SetupDiDestroyDeviceInfoList(set); }

CONFIGRET CM_Get_DevNode_Status(uint32_t* status, uint32_t* problemNumber, DEVINST device, uint32_t flags) {
    ULONG s = 0, problem = 0;
    const CONFIGRET result = ::CM_Get_DevNode_Status(&s, &problem, device, flags);
    if (status != nullptr) *status = s;
    if (problemNumber != nullptr) *problemNumber = problem;
    return result;
}

CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST device, uint32_t flags) {
    ::DEVINST found = 0;
    const CONFIGRET result = ::CM_Get_Parent(&found, device, flags);
    if (parent != nullptr) *parent = found;
    return result;
}

CONFIGRET CM_Get_Child(DEVINST* child, DEVINST device, uint32_t flags) {
    ::DEVINST found = 0;
    const CONFIGRET result = ::CM_Get_Child(&found, device, flags);
    if (child != nullptr) *child = found;
    return result;
}

CONFIGRET CM_Get_Device_IDA(DEVINST device, char* buffer, uint32_t size, uint32_t flags) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1];
    const CONFIGRET result = ::CM_Get_Device_IDW(device, id, MAX_DEVICE_ID_LEN + 1, flags);
    if (result != CR_SUCCESS) return result;
    auto cp932 = win32::Narrow(id);
    if (!cp932) return CR_INVALID_DEVNODE;
    if (buffer == nullptr || cp932->size() + 1 > size) return CR_BUFFER_SMALL;
    std::memcpy(buffer, cp932->c_str(), cp932->size() + 1);
    return CR_SUCCESS;
}

CONFIGRET CM_Request_Device_EjectA(DEVINST device, int* vetoType, char* vetoName, uint32_t nameLength, uint32_t flags) {
    PNP_VETO_TYPE veto = PNP_VetoTypeUnknown;
    wchar_t name[MAX_PATH] = {};
    const CONFIGRET result =
        ::CM_Request_Device_EjectW(device, &veto, vetoName ? name : nullptr, vetoName ? MAX_PATH : 0, flags);
    if (vetoType != nullptr) *vetoType = static_cast<int>(veto);
    if (vetoName != nullptr && nameLength > 0) {
        std::string text = win32::Narrow(name).value_or(std::string());
        if (text.size() + 1 > nameLength) text.resize(nameLength - 1);  // the veto name is only shown
        std::memcpy(vetoName, text.c_str(), text.size() + 1);
    }
    return result;
}

}  // namespace platform
