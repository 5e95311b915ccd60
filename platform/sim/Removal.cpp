// Removal requests on the simulated machine: asked by navisim, answered by the front end of the
// program holding the unit's volume, and the unit taken away once nothing holds it. Requests and
// answers live in removal.ini, so that neither is a device change.
#include "platform/sim/Removal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "platform/DeviceChange.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Services.h"

namespace platform {
namespace {

constexpr char kRemovalFile[] = "removal.ini";
constexpr char kRequestKey[] = "RemovalRequest";
constexpr char kAnswerKey[] = "RemovalAnswer";

std::string UnitSection(const std::string& unit) { return "Unit " + unit; }
std::string RemovalPath() { return MachineFolder() + "/" + kRemovalFile; }

bool Waiting(const ProfileDocument& removals, const std::string& unit) {
    return removals.Get(UnitSection(unit), kRequestKey).value_or("") == "1";
}

// Every raw handle holds a flock on its image (sim/RawVolume.cpp): an exclusive one cannot be
// had beside it.
bool ImageHeld(const std::string& image) {
    int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

// A program other than the watchers holds the unit's USB device ("[Device <unit>]"
// EjectVetoed=, as for an eject request); one veto is used up.
bool DeviceVetoes(const std::string& unit) {
    bool vetoed = false;
    ModifyMachine([&](ProfileDocument& doc) {
        const std::string section = "Device " + unit;
        const std::string vetoes = doc.Get(section, "EjectVetoed").value_or("0");
        vetoed = vetoes == "always" || std::strtoul(vetoes.c_str(), nullptr, 10) > 0;
        if (!vetoed || vetoes == "always") return false;
        doc.Set(section, "EjectVetoed", std::to_string(std::strtoul(vetoes.c_str(), nullptr, 10) - 1));
        return true;
    });
    return vetoed;
}

// The answer; a removed unit leaves the machine first, so that "removed" means it has gone.
void Answer(const std::string& unit, const char* answer) {
    if (std::string(answer) == kRemovalRemoved)
        ModifyMachine([&](ProfileDocument& doc) {
            RemoveUnit(doc, unit);
            return true;
        });
    ModifyMachineFile(kRemovalFile, [&](ProfileDocument& removals) {
        removals.RemoveKey(UnitSection(unit), kRequestKey);
        removals.Set(UnitSection(unit), kAnswerKey, answer);
        return true;
    });
}

// removal.ini when it changed since the last look in this process, else nullopt: the front ends
// look at every turn of their loops.
std::optional<ProfileDocument> ChangedRemovals() {
    static std::mutex lock;
    static struct stat seen {};
    struct stat st {};
    if (::stat(RemovalPath().c_str(), &st) != 0) return std::nullopt;
    std::lock_guard guard(lock);
    if (st.st_ino == seen.st_ino && st.st_size == seen.st_size && st.st_mtim.tv_sec == seen.st_mtim.tv_sec &&
        st.st_mtim.tv_nsec == seen.st_mtim.tv_nsec)
        return std::nullopt;
    seen = st;
    return ProfileDocument::Load(RemovalPath());
}

bool StillRegistered(const RemovalReceiver& receiver, HANDLE volume) {
    for (const RemovalWatch& watch : receiver.registered())
        if (watch.volume == volume) return true;
    return false;
}

}  // namespace

bool UnitVolumeInUse(const ProfileDocument& doc, const std::string& unit) {
    for (const VolumeEntry& volume : MachineVolumes(doc))
        if (volume.unit == unit && !volume.image.empty() && ImageHeld(volume.image)) return true;
    return false;
}

std::optional<std::string> RequestRemoval(const std::string& unit) {
    const ProfileDocument doc = MachineDescription();
    if (doc.Get(UnitSection(unit), "Plugged").value_or("0") != "1") return std::nullopt;
    if (!UnitVolumeInUse(doc, unit)) {
        Answer(unit, kRemovalRemoved);
        return kRemovalRemoved;
    }
    ModifyMachineFile(kRemovalFile, [&](ProfileDocument& removals) {
        removals.RemoveKey(UnitSection(unit), kAnswerKey);
        removals.Set(UnitSection(unit), kRequestKey, "1");
        return true;
    });
    return std::nullopt;
}

std::optional<std::string> RemovalAnswer(const std::string& unit) {
    return ProfileDocument::Load(RemovalPath()).Get(UnitSection(unit), kAnswerKey);
}

void GiveUpRemoval(const std::string& unit) {
    if (Waiting(ProfileDocument::Load(RemovalPath()), unit)) Answer(unit, kRemovalInUse);
}

void sim::AnswerRemovalRequests(const RemovalReceiver& receiver) {
    const std::optional<ProfileDocument> removals = ChangedRemovals();
    if (!removals) return;
    for (const std::string& section : removals->Sections()) {
        if (section.rfind("Unit ", 0) != 0) continue;
        const std::string unit = section.substr(5);
        if (!Waiting(*removals, unit)) continue;
        // Asked in turn until one refuses; one that allows has closed its handle when it answers.
        std::vector<HANDLE> asked;
        bool refused = false;
        for (const RemovalWatch& watch : receiver.registered()) {
            if (watch.unit != unit || !StillRegistered(receiver, watch.volume)) continue;
            asked.push_back(watch.volume);
            if (!receiver.queryRemove(watch.volume)) {
                refused = true;
                break;
            }
        }
        const char* answer = refused                                                             ? kRemovalRefused
                             : UnitVolumeInUse(MachineDescription(), unit) || DeviceVetoes(unit) ? kRemovalInUse
                                                                                                 : kRemovalRemoved;
        Answer(unit, answer);
        const bool removed = std::string(answer) == kRemovalRemoved;
        for (HANDLE volume : asked)
            if (StillRegistered(receiver, volume)) (removed ? receiver.removeComplete : receiver.removeFailed)(volume);
    }
}

std::string RemovalUnitOf(HANDLE volume) { return RawVolumeUnit(volume); }

}  // namespace platform
