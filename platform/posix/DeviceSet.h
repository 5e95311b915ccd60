// A device list as SetupDi hands it out, the same for both device sources (the simulated
// machine's and the real PC's): the instances present when it was made and whose they are,
// and a device's texts copied out as Windows copies them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Devices.h"
#include "platform/posix/KernelObject.h"

namespace platform {

struct MachineSource;

class DeviceSet : public KernelObject {
public:
    // The source that made the set, whose instances these are: the two sources number their
    // instances each from 1.
    const MachineSource* source = nullptr;
    std::vector<DEVINST> devices;
};

// The set behind a handle, or null.
DeviceSet* DeviceSetOf(HDEVINFO handle);
// A REG_SZ property from its UTF-8 text: ERROR_INVALID_DATA without one; else the size with the
// NUL in `requiredSize` and the CP932 text in `buffer`, ERROR_INSUFFICIENT_BUFFER when short.
[[nodiscard]] bool CopyTextProperty(const std::optional<std::string>& utf8, uint32_t* propertyRegDataType,
                                    uint8_t* buffer, uint32_t size, uint32_t* requiredSize);
// An instance ID with its NUL; CR_BUFFER_SMALL when it does not fit.
[[nodiscard]] CONFIGRET CopyDeviceId(const std::string& id, char* buffer, uint32_t size);
// An eject's veto as Windows tells it: PNP_VetoOutstandingOpen and the holder's name,
// cut to the buffer.
void CopyVeto(const std::string& holder, int* vetoType, char* vetoName, uint32_t nameLength);

}  // namespace platform
