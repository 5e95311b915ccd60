// Sector 0 for the unformatted check: a plain read where the kernel allows it, else what this
// process's own descriptor last read of the same medium.
#include "platform/linux/VolumeFormat.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <mutex>

#include "platform/linux/BootSector.h"
#include "platform/linux/SysBlock.h"

namespace platform::linuxpc {
namespace {

struct Remembered {
    uint64_t sequence = 0;  // the medium's diskseq when it was read
    bool holdsFat = false;
};

std::mutex rememberedLock;
std::map<dev_t, Remembered> remembered;

std::optional<bool> PlainSector0(const std::string& node) {
    int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<bool> holds = DeviceHoldsFatFileSystem(fd);
    ::close(fd);
    return holds;
}

std::optional<bool> RememberedSector0(dev_t device) {
    std::lock_guard guard(rememberedLock);
    auto found = remembered.find(device);
    // Another medium under the same number (a unit plugged in again, a loop device reattached)
    // is not the one that was read.
    if (found == remembered.end() || found->second.sequence != DiskSequence(device)) return std::nullopt;
    return found->second.holdsFat;
}

}  // namespace

VolumeFormat FormatFrom(const std::string& idType, std::optional<bool> fatSector0) {
    if (!idType.empty() && idType != "vfat") return VolumeFormat::Formatted;
    if (!fatSector0) return VolumeFormat::Unknown;
    return *fatSector0 ? VolumeFormat::Formatted : VolumeFormat::Unformatted;
}

VolumeFormat FormatOf(const std::string& node, dev_t device, const std::string& idType) {
    std::optional<bool> sector0 = PlainSector0(node);
    if (!sector0) sector0 = RememberedSector0(device);
    return FormatFrom(idType, sector0);
}

void RememberSector0(dev_t device, bool holdsFat) {
    std::lock_guard guard(rememberedLock);
    remembered[device] = Remembered{DiskSequence(device), holdsFat};
}

}  // namespace platform::linuxpc
