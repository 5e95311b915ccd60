// Kernel-object handles as the Windows calls hand them out.
#pragma once

#include <cstdint>

namespace platform {

using HANDLE = void*;
// What CreateFileA returns when it fails (all bits set).
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~uintptr_t{0});

// Closes a raw volume or process handle (not the named mutex, which
// lives with the process); false with ERROR_INVALID_HANDLE for null or invalid.
[[nodiscard]] bool CloseHandle(HANDLE handle);

}  // namespace platform
