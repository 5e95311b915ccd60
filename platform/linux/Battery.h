// The real PC's power source from UPower over the system D-Bus: whether it runs on its battery
// and the charge of its display device (the batteries taken together).
#pragma once

#include "platform/Power.h"

namespace platform::linuxpc {

// False when UPower cannot be asked (no daemon, no bus): the caller then knows nothing.
[[nodiscard]] bool ReadPowerStatus(SYSTEM_POWER_STATUS* status);

}  // namespace platform::linuxpc
