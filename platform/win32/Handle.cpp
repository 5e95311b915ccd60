// CloseHandle on the system's handles, refusing the null and invalid ones.
#include "platform/Handle.h"

#include "platform/win32/Windows.h"

namespace platform {

bool CloseHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ::CloseHandle(handle);
}

}  // namespace platform
