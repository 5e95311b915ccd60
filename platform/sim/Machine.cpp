#include "platform/sim/Machine.h"

#include <cstdlib>
#include <mutex>

#include "platform/Profile.h"

namespace platform {
namespace {

std::mutex machineLock;
std::string machineFolder;

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

std::optional<std::string> DriveFolder(char letter) {
    std::string folder = DriveFolderFrom(ProfileDocument::Load(MachineIniPath()), letter);
    if (folder.empty()) return std::nullopt;
    return folder;
}

std::optional<std::pair<char, std::string>> DriveOfNativePath(const std::string& nativePath) {
    ProfileDocument doc = ProfileDocument::Load(MachineIniPath());
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
