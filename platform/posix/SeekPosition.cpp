// SetFilePointer's arithmetic on a raw volume handle.
#include "platform/posix/SeekPosition.h"

#include "platform/Error.h"
#include "platform/RawVolume.h"

namespace platform {

uint32_t SeekPosition(uint64_t& position, uint64_t size, int32_t distance, int32_t* distanceHigh, uint32_t moveMethod) {
    int64_t move = distanceHigh ? (static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance)
                                : static_cast<int64_t>(distance);
    int64_t base = 0;
    if (moveMethod == FILE_CURRENT) {
        base = static_cast<int64_t>(position);
    } else if (moveMethod == FILE_END) {
        base = static_cast<int64_t>(size);
    } else if (moveMethod != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (base + move < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    position = static_cast<uint64_t>(base + move);
    if (distanceHigh) *distanceHigh = static_cast<int32_t>(position >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<uint32_t>(position);
}

}  // namespace platform
