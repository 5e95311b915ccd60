// The last error, kept per thread as Windows keeps it.
#include "platform/Error.h"

namespace platform {
namespace {
thread_local uint32_t lastError = ERROR_SUCCESS;
}

uint32_t GetLastError() { return lastError; }
void SetLastError(uint32_t code) { lastError = code; }
void FailCriticalErrorsQuietly() {}

}  // namespace platform
