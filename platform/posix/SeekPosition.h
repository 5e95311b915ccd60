// SetFilePointer's arithmetic on a raw volume handle, shared by the simulated machine's volumes
// and the real PC's disks: a move from the start, the current position or the end.
#pragma once

#include <cstdint>

namespace platform {

// Moves `position` on a volume of `size` bytes; returns what SetFilePointer returns and sets
// the last error (ERROR_SUCCESS on success, as the callers test it).
[[nodiscard]] uint32_t SeekPosition(uint64_t& position, uint64_t size, int32_t distance, int32_t* distanceHigh,
                                    uint32_t moveMethod);

}  // namespace platform
