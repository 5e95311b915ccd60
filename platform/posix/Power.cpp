// Keeping the PC awake on Linux: the requests are counted, so the simulated machine can show
// when the program asked; the first request takes the PC's sleep inhibitor (a real PC's from
// logind, the simulated machine has none) and the last one gives it back. The power source is
// the PC's (platform/posix/MachineSource.h).
#include "platform/Power.h"

#include <unistd.h>

#include <mutex>

#include "platform/posix/MachineSource.h"

namespace platform {
namespace {

std::mutex heldLock;
int held = 0;
int inhibitor = -1;

}  // namespace

KeepAwake::KeepAwake() {
    std::lock_guard guard(heldLock);
    // Without an inhibitor the job goes on: the PC may sleep, as it would without the request.
    if (held++ == 0) inhibitor = CurrentMachine().InhibitSleep();
}

KeepAwake::~KeepAwake() {
    std::lock_guard guard(heldLock);
    if (--held == 0 && inhibitor >= 0) {
        ::close(inhibitor);
        inhibitor = -1;
    }
}

int AwakeRequests() {
    std::lock_guard guard(heldLock);
    return held;
}

bool GetSystemPowerStatus(SYSTEM_POWER_STATUS* status) { return CurrentMachine().GetSystemPowerStatus(status); }

}  // namespace platform
