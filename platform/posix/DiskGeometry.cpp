// The geometry answer of a raw volume handle.
#include "platform/posix/DiskGeometry.h"

#include <cstring>

#include "platform/Error.h"
#include "platform/RawVolume.h"

namespace platform {

bool AnswerDiskGeometry(uint64_t bytes, uint32_t sectorSize, void* outBuffer, uint32_t outSize,
                        uint32_t* bytesReturned) {
    if (outBuffer == nullptr || outSize < sizeof(DISK_GEOMETRY)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    constexpr uint32_t kHeads = 255;
    constexpr uint32_t kSectorsPerTrack = 63;
    DISK_GEOMETRY geometry;
    geometry.MediaType = RemovableMedia;
    geometry.TracksPerCylinder = kHeads;
    geometry.SectorsPerTrack = kSectorsPerTrack;
    geometry.BytesPerSector = sectorSize;
    geometry.Cylinders = static_cast<int64_t>(bytes / (uint64_t{kHeads} * kSectorsPerTrack * sectorSize));
    std::memcpy(outBuffer, &geometry, sizeof geometry);
    if (bytesReturned) *bytesReturned = sizeof geometry;
    return true;
}

}  // namespace platform
