// The machine folder, and the one choice between the simulated machine and the real PC.
#include "platform/posix/MachineSource.h"

#include <sys/stat.h>

#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

std::mutex folderLock;
std::string machineFolder;

std::string DefaultMachineFolder() {
    if (const char* env = std::getenv("VELTRANE_MACHINE"); env && *env) return env;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/veltrane/machine";
}

}  // namespace

std::string MachineFolder() {
    std::lock_guard guard(folderLock);
    if (machineFolder.empty()) machineFolder = DefaultMachineFolder();
    return machineFolder;
}

void SetMachineFolder(const std::string& nativeFolder) {
    std::lock_guard guard(folderLock);
    machineFolder = nativeFolder;
}

std::string MachineIniPath() { return MachineFolder() + "/machine.ini"; }

bool MachineSimulated() {
    struct stat st {};
    return ::stat(MachineIniPath().c_str(), &st) == 0;
}

// Asked per call, not once per process: a test turns its world from the real PC into a
// simulated machine by writing machine.ini, and sets another machine folder for each world.
const MachineSource& CurrentMachine() { return MachineSimulated() ? SimulatedMachine() : LinuxPc(); }

}  // namespace platform
