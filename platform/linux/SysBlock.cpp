// sysfs attributes of block devices and the kernel's table of file locks.
#include "platform/linux/SysBlock.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform::linuxpc {
namespace {

std::string SysDir(dev_t device) {
    return "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

bool IsPartition(dev_t device) {
    struct stat st {};
    return ::stat((SysDir(device) + "/partition").c_str(), &st) == 0;
}

// The sysfs folder of the device's whole disk, where "queue" and "diskseq" are.
std::string DiskDir(dev_t device) { return SysDir(device) + (IsPartition(device) ? "/.." : ""); }

std::optional<uint64_t> Number(const std::string& path) {
    std::ifstream in(path);
    uint64_t value = 0;
    if (!(in >> value)) return std::nullopt;
    return value;
}

}  // namespace

WholeDisk WholeDiskOf(const std::string& node, dev_t device) {
    WholeDisk whole{node, device};
    if (!IsPartition(device)) return whole;
    char resolved[PATH_MAX];
    if (::realpath((SysDir(device) + "/..").c_str(), resolved) == nullptr) return whole;
    std::string parent = resolved;
    std::ifstream dev(parent + "/dev");
    std::string numbers;
    if (!(dev >> numbers) || numbers.find(':') == std::string::npos) return whole;
    whole.node = "/dev/" + parent.substr(parent.rfind('/') + 1);
    whole.number = makedev(static_cast<unsigned>(std::strtoul(numbers.c_str(), nullptr, 10)),
                           static_cast<unsigned>(std::strtoul(numbers.c_str() + numbers.find(':') + 1, nullptr, 10)));
    return whole;
}

std::optional<uint64_t> DeviceBytes(dev_t device) {
    std::optional<uint64_t> units = Number(SysDir(device) + "/size");
    if (!units) return std::nullopt;
    return *units * 512;
}

std::optional<unsigned> LogicalSectorSize(dev_t device) {
    std::optional<uint64_t> size = Number(DiskDir(device) + "/queue/logical_block_size");
    if (!size) return std::nullopt;
    return static_cast<unsigned>(*size);
}

uint64_t DiskSequence(dev_t device) { return Number(DiskDir(device) + "/diskseq").value_or(0); }

bool ExclusivelyFlocked(const std::string& node) {
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0) return false;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:321 0 EOF"; the file's device in hex, its inode in
    // decimal. Lines of waiters start with "->" after the number and are not holders.
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, advisory, mode, pid, file;
        if (!(fields >> number >> kind) || kind == "->") continue;
        if (!(fields >> advisory >> mode >> pid >> file)) continue;
        if (kind == "FLOCK" && mode == "WRITE" && file == wanted) return true;
    }
    return false;
}

}  // namespace platform::linuxpc
