// The calling thread's last error is the system's own.
#include "platform/Error.h"

#include "platform/win32/Windows.h"

namespace platform {

uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }
// The previous mode is not needed: the program sets it once, first thing.
void FailCriticalErrorsQuietly() { static_cast<void>(::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)); }

}  // namespace platform
