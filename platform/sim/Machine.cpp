#include "platform/sim/Machine.h"

#include <cstdlib>
#include <mutex>
#include <sys/stat.h>

#include "platform/Profile.h"

namespace platform {
namespace {

std::mutex machineLock;
std::string machineFolder;

// machine.ini as last read, reread only when the file changes: every path with a drive letter
// is mapped through it, and letters may come and go while the program runs.
struct CachedMachine {
    std::string path;
    struct timespec modified {};
    off_t size = -1;
    ProfileDocument doc;
};
CachedMachine cached;

std::string DefaultMachineFolder() {
    if (const char* env = std::getenv("VELTRANE_MACHINE"); env && *env) return env;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/veltrane/machine";
}

std::string DriveFolderFrom(const ProfileDocument& doc, char letter) {
    auto folder = doc.Get(std::string("Drive ") + letter, "Folder");
    if (!folder || folder->empty()) return {};
    std::string path = (*folder)[0] == '/' ? *folder : MachineFolder() + "/" + *folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string MachineFolder() {
    std::lock_guard guard(machineLock);
    if (machineFolder.empty()) machineFolder = DefaultMachineFolder();
    return machineFolder;
}

void SetMachineFolder(const std::string& nativeFolder) {
    std::lock_guard guard(machineLock);
    machineFolder = nativeFolder;
}

std::string MachineIniPath() { return MachineFolder() + "/machine.ini"; }

ProfileDocument MachineDescription() {
    std::string path = MachineIniPath();
    struct stat st {};
    bool present = ::stat(path.c_str(), &st) == 0;
    std::lock_guard guard(machineLock);
    if (!present) {
        cached = CachedMachine{};
        return {};
    }
    if (cached.path != path || cached.size != st.st_size || cached.modified.tv_sec != st.st_mtim.tv_sec ||
        cached.modified.tv_nsec != st.st_mtim.tv_nsec) {
        cached.path = path;
        cached.size = st.st_size;
        cached.modified = st.st_mtim;
        cached.doc = ProfileDocument::Load(path);
    }
    return cached.doc;
}

std::optional<std::string> DriveFolder(char letter) {
    std::string folder = DriveFolderFrom(MachineDescription(), letter);
    if (folder.empty()) return std::nullopt;
    return folder;
}

std::optional<std::pair<char, std::string>> DriveOfNativePath(const std::string& nativePath) {
    ProfileDocument doc = MachineDescription();
    std::optional<std::pair<char, std::string>> best;
    for (char letter = 'A'; letter < 'Z'; ++letter) {
        std::string folder = DriveFolderFrom(doc, letter);
        if (folder.empty() || folder == "/") continue;
        bool inside = nativePath == folder ||
                      (nativePath.compare(0, folder.size(), folder) == 0 && nativePath[folder.size()] == '/');
        if (inside && (!best || folder.size() > best->second.size())) best = std::make_pair(letter, folder);
    }
    return best;
}

}  // namespace platform
