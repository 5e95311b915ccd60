// Binding a library by its Windows name: "Decode.dll" is libDecode.so, looked up in the
// program folder first, then in the system's search order.
#pragma once

namespace platform {

using HMODULE = void*;
using FARPROC = void*;

HMODULE LoadLibraryA(const char* fileName);
FARPROC GetProcAddress(HMODULE module, const char* name);
bool FreeLibrary(HMODULE module);

}  // namespace platform
