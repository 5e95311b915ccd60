// The named mutex is the system's own, created through the W call.
#include "platform/Mutex.h"

#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"

namespace platform {

HANDLE CreateMutexA(bool initialOwner, const char* name) {
    std::optional<std::wstring> wide;
    if (name != nullptr && !(wide = win32::Wide(name))) return nullptr;
    return ::CreateMutexW(nullptr, initialOwner, wide ? wide->c_str() : nullptr);
}

}  // namespace platform
