// Keeping the PC awake while a job runs. Idle sleep counts neither disk, USB nor CPU work: a
// laptop left alone would sleep under a long download or an image write, the unit would lose
// its power and be left with its boot signature cleared.
#pragma once

#include <cstdint>

namespace platform {

// GetSystemPowerStatus's answer, the fields the program reads (the values are Windows'; the names
// differ from its macros, which <windows.h> defines).
constexpr uint8_t kAcLineOffline = 0;  // on battery
constexpr uint8_t kAcLineOnline = 1;
constexpr uint8_t kBatteryFlagNoBattery = 128;
constexpr uint8_t kBatteryPercentageUnknown = 255;
constexpr uint8_t kPowerStatusUnknown = 255;
struct SYSTEM_POWER_STATUS {
    uint8_t ACLineStatus = kPowerStatusUnknown;
    uint8_t BatteryFlag = kPowerStatusUnknown;
    uint8_t BatteryLifePercent = kBatteryPercentageUnknown;
};
// The PC's power source and its battery's charge: the simulated machine's [Power] section,
// UPower on a real Linux PC, the system's own on Windows. False when it cannot be read.
[[nodiscard]] bool GetSystemPowerStatus(SYSTEM_POWER_STATUS* status);

// Held by a job's thread for the job's whole run. On Windows the system stays out of idle
// sleep while any thread holds one (the display may still turn off).
class KeepAwake {
public:
    KeepAwake();
    ~KeepAwake();
    KeepAwake(const KeepAwake&) = delete;
    KeepAwake& operator=(const KeepAwake&) = delete;
};

// How many KeepAwake requests are held at this moment.
int AwakeRequests();

}  // namespace platform
