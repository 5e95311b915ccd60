// The stale mount of a simulated volume: its mark in machine.ini, and where copies through it
// land in the raw image.
#include "platform/sim/Mount.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "platform/sim/Machine.h"

namespace platform {
namespace {

constexpr char kStaleKey[] = "StaleMount";
// The old file system's first free cluster, and its cluster size: past both boot sectors and
// inside any image a unit receives.
constexpr uint64_t kFirstFreeCluster = 4096;
constexpr uint64_t kClusterBytes = 4096;

// Where the next copy lands, per volume GUID path: the driver's in-memory allocation cursor,
// which lives in the process that writes.
std::mutex cursorLock;
std::map<std::string, uint64_t> nextCluster;

bool SetStale(const std::string& volumeId, bool stale) {
    return ModifyMachine([&](ProfileDocument& doc) {
        std::string section = "Volume " + volumeId;
        if (doc.Keys(section).empty() || (doc.Get(section, kStaleKey) == "1") == stale) return false;
        if (stale) {
            doc.Set(section, kStaleKey, "1");
        } else {
            doc.RemoveKey(section, kStaleKey);
        }
        return true;
    });
}

}  // namespace

bool MarkMountStale(const std::string& volumeId) {
    auto volume = FindVolume(MachineDescription(), volumeId);
    if (!volume) return false;
    if (SetStale(volumeId, true)) {
        std::lock_guard guard(cursorLock);
        nextCluster[volume->guidPath] = kFirstFreeCluster;
    }
    return true;
}

void ClearStaleMount(const std::string& volumeId) { SetStale(volumeId, false); }

void WriteThroughStaleMount(const std::string& nativePath) {
    auto drive = DriveOfNativePath(nativePath);
    if (!drive) return;
    ProfileDocument doc = MachineDescription();
    auto volume = DriveVolume(doc, drive->first);
    if (!volume || volume->image.empty() || doc.Get("Volume " + volume->id, kStaleKey) != "1") return;
    std::ifstream in(nativePath, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint64_t at = 0;
    {
        std::lock_guard guard(cursorLock);
        uint64_t& cursor = nextCluster.try_emplace(volume->guidPath, kFirstFreeCluster).first->second;
        at = cursor;
        cursor += (bytes.size() + kClusterBytes - 1) / kClusterBytes * kClusterBytes;
    }
    int fd = ::open(volume->image.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    // A volume does not grow: what the old map placed past its end is lost.
    struct stat st {};
    uint64_t size = ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    uint64_t length = at < size ? std::min<uint64_t>(bytes.size(), size - at) : 0;
    // Nothing to report: the damage is what the test finds in the image.
    if (length > 0) (void)!::pwrite(fd, bytes.data(), length, static_cast<off_t>(at));
    ::close(fd);
}

}  // namespace platform
