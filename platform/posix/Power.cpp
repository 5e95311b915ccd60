// Keeping the PC awake on Linux: the requests are counted, so the simulated machine can show
// when the program asked; on a real PC the first request takes a logind sleep inhibitor and
// the last one gives it back.
#include "platform/Power.h"

#include <unistd.h>

#include <mutex>

#include "platform/linux/SleepInhibitor.h"
#include "platform/sim/Machine.h"

namespace platform {
namespace {

std::mutex heldLock;
int held = 0;
int inhibitor = -1;

}  // namespace

KeepAwake::KeepAwake() {
    std::lock_guard guard(heldLock);
    // Without an inhibitor the job goes on: the PC may sleep, as it would without the request.
    if (held++ == 0 && !MachineSimulated()) inhibitor = linuxpc::InhibitSleep();
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

}  // namespace platform
