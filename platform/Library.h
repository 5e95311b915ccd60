// Binding a library by its Windows name: "Decode.dll" is libDecode.so on Linux. A bare name is
// the program's own library and loads from the program folder by its full path, nowhere else.
#pragma once

#include <cstdint>

namespace platform {

using HMODULE = void*;
using FARPROC = void*;

[[nodiscard]] HMODULE LoadLibraryA(const char* fileName);
[[nodiscard]] FARPROC GetProcAddress(HMODULE module, const char* name);
[[nodiscard]] bool FreeLibrary(HMODULE module);

// Where the system looks for the libraries a library loaded later needs, and for a library
// loaded by bare name: System32 only (the program's own go by full path).
constexpr uint32_t LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
[[nodiscard]] bool SetDefaultDllDirectories(uint32_t directoryFlags);

}  // namespace platform
