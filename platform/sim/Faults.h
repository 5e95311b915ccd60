// Faults injected into a unit's raw volume ("[Fault <unit>]" in machine.ini): writes failing
// or cut short at a sector for a number of attempts or for good, a refused lock, the unit
// vanishing after a number of bytes written, or losing its power (and its unflushed writes)
// there. The counts run in the process that writes and
// start again whenever the fault description changes.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct WriteOutcome {
    uint32_t bytes = 0;  // how many of the asked bytes go to the volume
    bool failed = false;
    bool vanish = false;  // the unit goes away after those bytes
    // A power cut is armed: the volume keeps what each write replaces until the next flush.
    bool keepUnflushed = false;
    // The power is cut at this write: it and every write since the last flush are lost, and the
    // unit is gone.
    bool powerCut = false;
};

// What a write of size bytes at byte offset does on the unit; `generation` is the machine
// description's (MachineGeneration) as the caller has just read it.
WriteOutcome PlanWrite(const std::string& unit, uint64_t generation, uint64_t offset, uint32_t size);
// The error a lock of the unit's volume fails with ("LockRefused=1": ERROR_ACCESS_DENIED, another
// program holds it; "LockRefused=authorisation": ERROR_ELEVATION_REQUIRED), ERROR_SUCCESS when
// none is injected.
uint32_t LockRefused(const std::string& unit);
// Waits while "<call>Prompt=waiting" ("Lock", "Mount", "Eject", "Format"): a desktop user's
// authorisation prompt nobody has answered yet, which holds that call until the description
// changes (answered: granted, or for the lock refused with "LockRefused=authorisation").
void AwaitPrompt(const std::string& unit, const std::string& call);

}  // namespace platform
