// Keeping the PC awake on Windows: the execution state belongs to the calling thread, so the
// job's thread sets it when it starts and clears it before it ends.
#include "platform/Power.h"

#include <atomic>

#include "platform/win32/Windows.h"

namespace platform {
namespace {
std::atomic<int> held{0};
}  // namespace

KeepAwake::KeepAwake() {
    ++held;
    // A refusal leaves the PC as it was: the job runs either way.
    (void)::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

KeepAwake::~KeepAwake() {
    (void)::SetThreadExecutionState(ES_CONTINUOUS);
    --held;
}

int AwakeRequests() { return held.load(); }

bool GetSystemPowerStatus(SYSTEM_POWER_STATUS* status) {
    ::SYSTEM_POWER_STATUS system{};
    if (!::GetSystemPowerStatus(&system)) return false;
    *status = {system.ACLineStatus, system.BatteryFlag, system.BatteryLifePercent};
    return true;
}

}  // namespace platform
