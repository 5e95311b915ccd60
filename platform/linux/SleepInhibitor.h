// Keeping a real PC out of sleep: a logind "sleep" inhibitor, held as a descriptor; the PC may
// sleep again once it is closed.
#pragma once

namespace platform::linuxpc {

// The inhibitor's descriptor, or -1 when logind refused or is not there (the first such
// failure is written to the debugger channel, once per process).
[[nodiscard]] int InhibitSleep();

}  // namespace platform::linuxpc
