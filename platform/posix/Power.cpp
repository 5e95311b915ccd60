// Keeping the PC awake on Linux: the requests are counted, so the simulated machine can show
// when the program asked; on a real PC the first request takes a logind sleep inhibitor and
// the last one gives it back. The power source: machine.ini's [Power] on the simulated
// machine, UPower on a real PC.
#include "platform/Power.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

#include "platform/linux/Battery.h"
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

bool GetSystemPowerStatus(SYSTEM_POWER_STATUS* status) {
    if (!MachineSimulated()) return linuxpc::ReadPowerStatus(status);
    // [Power] Battery=PERCENT: the machine runs on its battery; without it, on mains power
    // without a battery (a desktop PC).
    std::optional<std::string> battery = MachineDescription().Get("Power", "Battery");
    if (!battery) {
        *status = {kAcLineOnline, kBatteryFlagNoBattery, kBatteryPercentageUnknown};
        return true;
    }
    int percent = std::atoi(battery->c_str());
    if (percent < 0 || percent > 100) return false;
    *status = {kAcLineOffline, 0, static_cast<uint8_t>(percent)};
    return true;
}

}  // namespace platform
