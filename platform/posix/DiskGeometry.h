// IOCTL_DISK_GET_DRIVE_GEOMETRY's answer on a raw volume handle, shared by the simulated
// machine's volumes and the real PC's disks: what counts is the sector size.
#pragma once

#include <cstdint>

namespace platform {

// Fills outBuffer with the DISK_GEOMETRY of a removable disk of `bytes` in sectors of
// `sectorSize` (the usual 255 heads of 63 sectors); false with ERROR_INSUFFICIENT_BUFFER when
// it does not fit.
[[nodiscard]] bool AnswerDiskGeometry(uint64_t bytes, uint32_t sectorSize, void* outBuffer, uint32_t outSize,
                                      uint32_t* bytesReturned);

}  // namespace platform
