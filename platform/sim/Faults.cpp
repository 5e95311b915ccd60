#include "platform/sim/Faults.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

#include "platform/sim/Machine.h"

namespace platform {
namespace {

struct FaultSpec {
    std::optional<uint64_t> writeFailSector;
    int writeFailAttempts = -1;  // -1: for good
    std::optional<uint64_t> shortWriteSector;
    int shortWriteAttempts = -1;
    std::optional<uint64_t> vanishAfterBytes;
    bool lockRefused = false;
};

// Counts of one fault description.
struct FaultCounters {
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

FaultSpec ReadSpec(const ProfileDocument& doc, const std::string& unit, std::string* description) {
    std::string section = "Fault " + unit;
    FaultSpec spec;
    spec.writeFailSector = Number(doc, section, "WriteFailSector");
    spec.writeFailAttempts = Attempts(doc, section, "WriteFailAttempts");
    spec.shortWriteSector = Number(doc, section, "ShortWriteSector");
    spec.shortWriteAttempts = Attempts(doc, section, "ShortWriteAttempts");
    spec.vanishAfterBytes = Number(doc, section, "VanishAfterBytes");
    spec.lockRefused = Number(doc, section, "LockRefused").value_or(0) != 0;
    for (const std::string& key : doc.Keys(section)) description->append(key + "=" + *doc.Get(section, key) + ";");
    return spec;
}

bool Covers(uint64_t offset, uint32_t size, uint64_t sector) {
    uint64_t at = sector * 512;
    return at >= offset && at < offset + size;
}

bool Remaining(int attempts, int used) { return attempts < 0 || used < attempts; }

}  // namespace

WriteOutcome PlanWrite(const std::string& unit, uint64_t offset, uint32_t size) {
    WriteOutcome outcome{size, false, false};
    if (unit.empty()) return outcome;
    std::string description;
    FaultSpec spec = ReadSpec(MachineDescription(), unit, &description);
    std::lock_guard guard(countersLock);
    FaultCounters& count = counters[MachineFolder() + "|" + unit];
    if (count.description != description) count = FaultCounters{description};

    if (spec.writeFailSector && Covers(offset, size, *spec.writeFailSector) &&
        Remaining(spec.writeFailAttempts, count.writeFailures)) {
        ++count.writeFailures;
        return {0, true, false};
    }
    if (spec.shortWriteSector && Covers(offset, size, *spec.shortWriteSector) &&
        Remaining(spec.shortWriteAttempts, count.shortWrites)) {
        ++count.shortWrites;
        outcome.bytes = static_cast<uint32_t>(*spec.shortWriteSector * 512 - offset);
    }
    // The write that reaches the limit puts its bytes up to it; the unit is gone after it.
    if (spec.vanishAfterBytes && count.bytesWritten + outcome.bytes >= *spec.vanishAfterBytes) {
        uint64_t left = *spec.vanishAfterBytes - std::min(count.bytesWritten, *spec.vanishAfterBytes);
        outcome.failed = left < outcome.bytes;
        outcome.bytes = static_cast<uint32_t>(std::min<uint64_t>(left, outcome.bytes));
        outcome.vanish = true;
    }
    count.bytesWritten += outcome.bytes;
    return outcome;
}

bool LockRefused(const std::string& unit) {
    if (unit.empty()) return false;
    std::string description;
    return ReadSpec(MachineDescription(), unit, &description).lockRefused;
}

}  // namespace platform
