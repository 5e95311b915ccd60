// The named mutex that keeps one copy of the program per PC ("Global\" namespace: every
// session). One simulated machine is every session, so the lock file lives in the machine
// folder whatever the namespace prefix.
#pragma once

#include "platform/Handle.h"

namespace platform {

// Creates (and, with initialOwner, takes) the named mutex. When another process holds it,
// the result is still a handle and GetLastError() is ERROR_ALREADY_EXISTS, as on Windows.
// The handle lives until the process ends.
[[nodiscard]] HANDLE CreateMutexA(bool initialOwner, const char* name);

}  // namespace platform
