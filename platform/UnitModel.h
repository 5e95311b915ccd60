// The navigation unit's model: how the PC names its disk and USB device, and the layout of its
// volume that the image step relies on. The program, the simulated unit (navisim), the
// update-set maker (mkupdate) and the tests read it here; a second model is a second record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The boot signature 55 AA ends each boot sector, at this offset in it.
inline constexpr uint32_t kBootSignatureOffset = 510;

struct UnitModel {
    // Every character of it occurs in the friendly name of the model's disk drive.
    const char* friendlyName;
    // In the instance ID of the unit's USB device, beside "VID_xxxx&PID_xxxx".
    const char* instanceIdMark;
    uint16_t vendorId;
    uint16_t productId;
    // The volume's sector: raw reads and writes and the image's pieces come in whole sectors.
    uint32_t sectorSize;
    // The volume's boot sector and its copy, whose signatures the image step clears and restores.
    uint32_t bootSectorOffsets[2];

    constexpr uint64_t SignatureOffset(size_t copy) const {
        return uint64_t{bootSectorOffsets[copy]} + kBootSignatureOffset;
    }
};

inline constexpr UnitModel kNaviUnitModel{
    "Orsolan Flash Disk Drive USB Device", "ORSOLAN_PORTABLE_NAVI_STORAGE", 0x2F6A, 0x0c31, 512, {0, 0xA00}};

}  // namespace platform
