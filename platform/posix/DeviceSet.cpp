// The device set and the copying out of a device's texts, shared by both device sources.
#include "platform/posix/DeviceSet.h"

#include <algorithm>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/Error.h"

namespace platform {

DeviceSet* DeviceSetOf(HDEVINFO handle) {
    if (handle == nullptr || handle == INVALID_DEVINFO_HANDLE) return nullptr;
    return dynamic_cast<DeviceSet*>(static_cast<KernelObject*>(handle));
}

bool CopyTextProperty(const std::optional<std::string>& utf8, uint32_t* propertyRegDataType, uint8_t* buffer,
                      uint32_t size, uint32_t* requiredSize) {
    std::optional<std::string> text = utf8 ? Utf8ToCp932(*utf8) : std::nullopt;
    if (!text || text->empty()) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    uint32_t needed = static_cast<uint32_t>(text->size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (propertyRegDataType) *propertyRegDataType = REG_SZ;
    if (buffer == nullptr || size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    std::memcpy(buffer, text->c_str(), needed);
    return true;
}

CONFIGRET CopyDeviceId(const std::string& id, char* buffer, uint32_t size) {
    if (buffer == nullptr || id.size() + 1 > size) return CR_BUFFER_SMALL;
    std::memcpy(buffer, id.c_str(), id.size() + 1);
    return CR_SUCCESS;
}

void CopyVeto(const std::string& holder, int* vetoType, char* vetoName, uint32_t nameLength) {
    if (vetoType) *vetoType = kVetoOutstandingOpen;
    if (vetoName && nameLength > 0) {
        const size_t length = std::min<size_t>(holder.size(), nameLength - 1);
        std::memcpy(vetoName, holder.data(), length);
        vetoName[length] = '\0';
    }
}

}  // namespace platform
