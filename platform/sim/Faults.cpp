// The injected faults of a unit read from machine.ini, and the counts that decide each write,
// lock and disappearance, kept per unit and started again when the description changes.
#include "platform/sim/Faults.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/Error.h"
#include "platform/sim/Machine.h"

namespace platform {
namespace {

struct FaultSettings {
    std::optional<uint64_t> writeFailSector;
    int writeFailAttempts = -1;  // -1: for good
    std::optional<uint64_t> shortWriteSector;
    int shortWriteAttempts = -1;
    std::optional<uint64_t> vanishAfterBytes;
    std::optional<uint64_t> powerCutAfterBytes;
    bool lockRefused = false;
    bool lockAuthorisationRefused = false;
};

// A unit's faults as last read, with the counts of that description.
struct FaultCounters {
    uint64_t generation = 0;  // of the machine description they were read from
    FaultSettings settings;
    std::string description;
    int writeFailures = 0;
    int shortWrites = 0;
    uint64_t bytesWritten = 0;
};

std::mutex countersLock;
std::map<std::string, FaultCounters> counters;

std::optional<uint64_t> Number(const ProfileDocument& doc, const std::string& section, const char* key) {
    auto value = doc.Get(section, key);
    if (!value || value->empty()) return std::nullopt;
    return std::strtoull(value->c_str(), nullptr, 0);
}

int Attempts(const ProfileDocument& doc, const std::string& section, const char* key) {
    auto value = doc.Get(section, key);
    if (!value || value->empty() || *value == "forever") return -1;
    return std::atoi(value->c_str());
}

FaultSettings ReadSettings(const ProfileDocument& doc, const std::string& unit, std::string* description) {
    std::string section = "Fault " + unit;
    FaultSettings settings;
    settings.writeFailSector = Number(doc, section, "WriteFailSector");
    settings.writeFailAttempts = Attempts(doc, section, "WriteFailAttempts");
    settings.shortWriteSector = Number(doc, section, "ShortWriteSector");
    settings.shortWriteAttempts = Attempts(doc, section, "ShortWriteAttempts");
    settings.vanishAfterBytes = Number(doc, section, "VanishAfterBytes");
    settings.powerCutAfterBytes = Number(doc, section, "PowerCutAfterBytes");
    settings.lockAuthorisationRefused = doc.Get(section, "LockRefused") == std::optional<std::string>("authorisation");
    settings.lockRefused = settings.lockAuthorisationRefused || Number(doc, section, "LockRefused").value_or(0) != 0;
    for (const std::string& key : doc.Keys(section)) description->append(key + "=" + *doc.Get(section, key) + ";");
    return settings;
}

bool Covers(uint64_t offset, uint32_t size, uint64_t sector) {
    uint64_t at = sector * 512;
    return at >= offset && at < offset + size;
}

bool Remaining(int attempts, int used) { return attempts < 0 || used < attempts; }

// The unit's entry, its settings read again only when the machine description has changed
// (writes ask for every sector run); the counts start again when the description differs.
// Call with countersLock held.
FaultCounters& CurrentFaults(const std::string& unit, uint64_t generation) {
    FaultCounters& count = counters[MachineFolder() + "|" + unit];
    if (count.generation == generation) return count;
    std::string description;
    FaultSettings settings = ReadSettings(MachineDescription(), unit, &description);
    if (count.description != description) count = FaultCounters{0, {}, description};
    count.settings = settings;
    count.generation = generation;
    return count;
}

}  // namespace

WriteOutcome PlanWrite(const std::string& unit, uint64_t generation, uint64_t offset, uint32_t size) {
    WriteOutcome outcome{size, false, false};
    if (unit.empty()) return outcome;
    std::lock_guard guard(countersLock);
    FaultCounters& count = CurrentFaults(unit, generation);
    const FaultSettings& settings = count.settings;

    if (settings.writeFailSector && Covers(offset, size, *settings.writeFailSector) &&
        Remaining(settings.writeFailAttempts, count.writeFailures)) {
        ++count.writeFailures;
        return {0, true, false};
    }
    if (settings.shortWriteSector && Covers(offset, size, *settings.shortWriteSector) &&
        Remaining(settings.shortWriteAttempts, count.shortWrites)) {
        ++count.shortWrites;
        outcome.bytes = static_cast<uint32_t>(*settings.shortWriteSector * 512 - offset);
    }
    // The write that reaches the limit puts its bytes up to it; the unit is gone after it.
    if (settings.vanishAfterBytes && count.bytesWritten + outcome.bytes >= *settings.vanishAfterBytes) {
        uint64_t left = *settings.vanishAfterBytes - std::min(count.bytesWritten, *settings.vanishAfterBytes);
        outcome.failed = left < outcome.bytes;
        outcome.bytes = static_cast<uint32_t>(std::min<uint64_t>(left, outcome.bytes));
        outcome.vanish = true;
    }
    // The write that would go past the limit never completes, and nothing since the last flush
    // stays.
    if (settings.powerCutAfterBytes && !outcome.vanish) {
        outcome.keepUnflushed = true;
        if (count.bytesWritten + outcome.bytes > *settings.powerCutAfterBytes) {
            outcome = {0, true, true, true, true};
            return outcome;
        }
    }
    count.bytesWritten += outcome.bytes;
    return outcome;
}

void AwaitPrompt(const std::string& unit, const std::string& call) {
    if (unit.empty()) return;
    while (MachineDescription().Get("Fault " + unit, call + "Prompt") == std::optional<std::string>("waiting"))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // real time: the user is a person
}

uint32_t LockRefused(const std::string& unit) {
    if (unit.empty()) return ERROR_SUCCESS;
    std::lock_guard guard(countersLock);
    const FaultSettings& settings = CurrentFaults(unit, MachineGeneration()).settings;
    if (settings.lockAuthorisationRefused) return ERROR_ELEVATION_REQUIRED;
    return settings.lockRefused ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

}  // namespace platform
