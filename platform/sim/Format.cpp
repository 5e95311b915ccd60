// Formatting a simulated drive: a fresh boot sector (and its backup) written into the volume's
// image under an exclusive lock, and the volume's folder emptied.
#include "platform/Format.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/Error.h"
#include "platform/sim/Faults.h"
#include "platform/UnitModel.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Mount.h"
#include "platform/sim/Services.h"

namespace platform::sim {
namespace {

// A sector of the unit's volume.
using Sector = unsigned char[kNaviUnitModel.sectorSize];

// A jump, the formatter's name and the signature; the copy is the same.
void FreshBootSector(Sector& sector) {
    static constexpr unsigned char kStart[] = {0xEB, 0x58, 0x90, 'V', 'E', 'L', 'T', 'R', 'A', 'N', 'E'};
    std::fill(std::begin(sector), std::end(sector), 0);
    std::copy(std::begin(kStart), std::end(kStart), sector);
    sector[kBootSignatureOffset] = 0x55;
    sector[kBootSignatureOffset + 1] = 0xAA;
}

}  // namespace

uint32_t FormatDrive(char letter) {
    auto volume = DriveVolume(MachineDescription(), letter);
    if (!volume || volume->image.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return SHFMT_ERROR;
    }
    AwaitPrompt(volume->unit, "Format");  // the format may ask the user first
    int fd = ::open(volume->image.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (fd >= 0) ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return SHFMT_ERROR;
    }
    Sector sector;
    FreshBootSector(sector);
    bool written = true;
    for (uint32_t offset : kNaviUnitModel.bootSectorOffsets)
        written = written && ::pwrite(fd, sector, sizeof sector, offset) == static_cast<ssize_t>(sizeof sector);
    written = written && ::fdatasync(fd) == 0;
    ::close(fd);
    // The format dismounts the old file system and mounts the fresh one.
    ClearStaleMount(volume->id);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(volume->folder, error))
        std::filesystem::remove_all(entry.path(), error);
    if (!written) {
        SetLastError(ERROR_WRITE_FAULT);
        return SHFMT_ERROR;
    }
    return 0;
}

}  // namespace platform::sim
