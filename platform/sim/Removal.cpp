// Removal requests on the simulated machine: asked by navisim, answered by the front end of the
// program holding the unit's volume, and the unit taken away once nothing holds it.
#include "platform/sim/Removal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/DeviceChange.h"
#include "platform/sim/Machine.h"

namespace platform {
namespace {

constexpr char kRequestKey[] = "RemovalRequest";
constexpr char kAnswerKey[] = "RemovalAnswer";

std::string UnitSection(const std::string& unit) { return "Unit " + unit; }

bool Waiting(const ProfileDocument& doc, const std::string& unit) {
    return doc.Get(UnitSection(unit), kRequestKey).value_or("") == "1";
}

// Every raw handle holds a flock on its image (posix/RawVolume.cpp): an exclusive one cannot be
// had beside it.
bool ImageHeld(const std::string& image) {
    int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

// The answer given once the holders were asked; the unit goes when it is removed.
void Answer(ProfileDocument& doc, const std::string& unit, const char* answer) {
    doc.RemoveKey(UnitSection(unit), kRequestKey);
    doc.Set(UnitSection(unit), kAnswerKey, answer);
    if (std::string(answer) == kRemovalRemoved) RemoveUnit(doc, unit);
}

}  // namespace

bool UnitVolumeInUse(const ProfileDocument& doc, const std::string& unit) {
    for (const VolumeEntry& volume : MachineVolumes(doc))
        if (volume.unit == unit && !volume.image.empty() && ImageHeld(volume.image)) return true;
    return false;
}

std::optional<std::string> RequestRemoval(const std::string& unit) {
    std::optional<std::string> answer;
    ModifyMachine([&](ProfileDocument& doc) {
        if (doc.Get(UnitSection(unit), "Plugged").value_or("0") != "1") return false;
        doc.RemoveKey(UnitSection(unit), kAnswerKey);
        if (UnitVolumeInUse(doc, unit)) {
            doc.Set(UnitSection(unit), kRequestKey, "1");
        } else {
            Answer(doc, unit, kRemovalRemoved);
            answer = kRemovalRemoved;
        }
        return true;
    });
    return answer;
}

std::optional<std::string> RemovalAnswer(const std::string& unit) {
    return MachineDescription().Get(UnitSection(unit), kAnswerKey);
}

void GiveUpRemoval(const std::string& unit) {
    ModifyMachine([&](ProfileDocument& doc) {
        if (!Waiting(doc, unit)) return false;
        Answer(doc, unit, kRemovalInUse);
        return true;
    });
}

void AnswerRemovalRequests(const std::vector<HANDLE>& watched, const std::function<bool(HANDLE)>& ask) {
    if (!MachineSimulated()) return;
    const ProfileDocument doc = MachineDescription();
    for (const std::string& section : doc.Sections()) {
        if (section.rfind("Unit ", 0) != 0) continue;
        const std::string unit = section.substr(5);
        if (!Waiting(doc, unit)) continue;
        // Every watcher of the unit is asked, as Windows asks every registered window; one that
        // allows has closed its handle when it answers.
        bool refused = false;
        for (HANDLE handle : watched)
            if (RawVolumeUnit(handle) == unit && !ask(handle)) refused = true;
        ModifyMachine([&](ProfileDocument& current) {
            if (!Waiting(current, unit)) return false;  // answered meanwhile
            const char* answer = refused                          ? kRemovalRefused
                                 : UnitVolumeInUse(current, unit) ? kRemovalInUse
                                                                  : kRemovalRemoved;
            Answer(current, unit, answer);
            return true;
        });
    }
}

}  // namespace platform
