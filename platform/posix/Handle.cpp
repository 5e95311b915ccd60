// CloseHandle for the simulated kernel objects.
#include "platform/Handle.h"

#include "platform/Error.h"
#include "platform/posix/KernelObject.h"

namespace platform {

bool CloseHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    delete static_cast<KernelObject*>(handle);
    return true;
}

}  // namespace platform
