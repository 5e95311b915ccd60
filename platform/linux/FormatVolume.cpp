// The format: unmount, then udisks2's Block.Format("vfat") or, for root without udisks2,
// mkfs.vfat run directly (no shell between us and the label).
#include "platform/linux/FormatVolume.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/Error.h"
#include "platform/linux/BootSector.h"
#include "platform/linux/DriveLetters.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/UDisks.h"
#include "platform/linux/Volumes.h"

namespace platform::linuxpc {
namespace {

// mkfs.vfat on the node; ERROR_SUCCESS when it exited 0.
uint32_t MakeFat(const std::string& node, const std::string& label) {
    pid_t child = ::fork();
    if (child < 0) return ErrorFromErrno(errno);
    if (child == 0) {
        if (label.empty())
            ::execlp("mkfs.vfat", "mkfs.vfat", node.c_str(), static_cast<char*>(nullptr));
        else
            ::execlp("mkfs.vfat", "mkfs.vfat", "-n", label.c_str(), node.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return ErrorFromErrno(errno);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return ERROR_NOT_SUPPORTED;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
}

// Without udisks2 the label comes from the old boot sector.
std::string LabelOnDevice(const std::string& node) {
    unsigned char sector[512] = {};
    int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    bool read = ::pread(fd, sector, sizeof sector, 0) == static_cast<ssize_t>(sizeof sector);
    ::close(fd);
    return read ? FatLabel(sector) : std::string();
}

uint32_t FormatAsRoot(const Volume& volume) {
    std::string label = LabelOnDevice(volume.node);
    for (const std::string& point : MountPointsOf(volume.number))
        if (::umount2(point.c_str(), 0) != 0) return errno == EBUSY ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno);
    return MakeFat(volume.node, label);
}

uint32_t FormatThroughUDisks(const Volume& volume) {
    if (!MountPointsOf(volume.number).empty())
        if (uint32_t error = UDisksUnmount(volume.object); error != ERROR_SUCCESS) return error;
    return UDisksFormat(volume.object, "vfat", volume.label);
}

}  // namespace

uint32_t FormatVolume(char letter) {
    std::optional<Volume> volume = LetteredVolume(letter);
    if (!volume) return ERROR_FILE_NOT_FOUND;
    if (volume->object.empty() && ::geteuid() != 0) return ERROR_NOT_SUPPORTED;
    uint32_t error = volume->object.empty() ? FormatAsRoot(*volume) : FormatThroughUDisks(*volume);
    // The fresh file system has a UUID of its own: it takes the letter over.
    if (error == ERROR_SUCCESS) ReleaseVolumeIdentity(letter);
    return error;
}

}  // namespace platform::linuxpc
