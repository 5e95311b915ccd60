// The PC's processes: their IDs, and the image name of each one's main module.
#pragma once

#include <cstdint>

#include "platform/Handle.h"
#include "platform/Library.h"

namespace platform {

constexpr uint32_t PROCESS_QUERY_INFORMATION = 0x400;
constexpr uint32_t PROCESS_VM_READ = 0x10;

// The IDs of the running processes; bytesReturned is 4 per ID written.
[[nodiscard]] bool EnumProcesses(uint32_t* processIds, uint32_t size, uint32_t* bytesReturned);
// Null with the last error when the process is gone or refuses the access.
[[nodiscard]] HANDLE OpenProcess(uint32_t desiredAccess, bool inheritHandle, uint32_t processId);
// One module per process, its image; needed is the bytes for all of them.
[[nodiscard]] bool EnumProcessModules(HANDLE process, HMODULE* modules, uint32_t size, uint32_t* needed);
// The module's file name without folder, in CP932; its length, 0 on failure.
[[nodiscard]] uint32_t GetModuleBaseNameA(HANDLE process, HMODULE module, char* baseName, uint32_t size);

}  // namespace platform
