// The machine folder, and the choice between the simulated machine and the real PC, made once.
#include "platform/posix/MachineSource.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

std::mutex folderLock;
std::string machineFolder;
std::atomic<const MachineSource*> chosen{nullptr};

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

// The one look at machine.ini that decides the source.
void ChooseMachine() {
    struct stat st {};
    chosen.store(::stat(MachineIniPath().c_str(), &st) == 0 ? &SimulatedMachine() : &LinuxPc());
}

bool MachineSimulated() { return &CurrentMachine() == &SimulatedMachine(); }

// A tool or test program that never chose gets the source its machine folder names at its first
// call; from then on machine.ini coming or going changes nothing until the next choice.
const MachineSource& CurrentMachine() {
    if (chosen.load() == nullptr) ChooseMachine();
    return *chosen.load();
}

}  // namespace platform
