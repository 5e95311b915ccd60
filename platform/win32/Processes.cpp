// The process enumeration calls are the system's own (psapi), the image name in CP932.
#include "platform/Processes.h"

#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"
#include <psapi.h>

// psapi.h renames these to their kernel32 forms by macro, which would rename ours too.
#undef EnumProcesses
#undef EnumProcessModules
#undef GetModuleBaseNameA

namespace platform {

bool EnumProcesses(uint32_t* processIds, uint32_t size, uint32_t* bytesReturned) {
    static_assert(sizeof(DWORD) == sizeof(uint32_t));
    DWORD returned = 0;
    const bool ok = ::K32EnumProcesses(reinterpret_cast<DWORD*>(processIds), size, &returned);
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return ok;
}

HANDLE OpenProcess(uint32_t desiredAccess, bool inheritHandle, uint32_t processId) {
    return ::OpenProcess(desiredAccess, inheritHandle, processId);
}

bool EnumProcessModules(HANDLE process, HMODULE* modules, uint32_t size, uint32_t* needed) {
    DWORD bytes = 0;
    const bool ok = ::K32EnumProcessModules(process, reinterpret_cast<::HMODULE*>(modules), size, &bytes);
    if (needed != nullptr) *needed = bytes;
    return ok;
}

uint32_t GetModuleBaseNameA(HANDLE process, HMODULE module, char* baseName, uint32_t size) {
    wchar_t name[MAX_PATH];
    const DWORD n = ::K32GetModuleBaseNameW(process, static_cast<::HMODULE>(module), name, MAX_PATH);
    if (n == 0) return 0;
    auto cp932 = win32::Narrow(std::wstring_view(name, n));
    if (!cp932) {
        ::SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    return win32::CopyOut(*cp932, baseName, size);
}

}  // namespace platform
