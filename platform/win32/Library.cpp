// LoadLibraryA through the W call: a bare name is the program's own library, loaded by its full
// path in the program folder (the folder of GetModuleFileName, which a test may move) and
// nowhere else, so a DLL planted on the search path or in the working directory is never bound.
#include "platform/Library.h"

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"

namespace platform {

HMODULE LoadLibraryA(const char* fileName) {
    if (fileName == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto wide = win32::Wide(fileName);
    if (!wide) return nullptr;
    if (FindChar(fileName, '\\') == std::string::npos && FindChar(fileName, '/') == std::string::npos) {
        const std::string exe = ModuleNativePath();
        auto local = win32::WideNative(exe.substr(0, exe.find_last_of("\\/") + 1));
        if (!local) return nullptr;
        *wide = *local + *wide;
    }
    // What the library itself imports comes from its own folder and System32.
    return ::LoadLibraryExW(wide->c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || name == nullptr) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(::GetProcAddress(static_cast<::HMODULE>(module), name));
}

bool FreeLibrary(HMODULE module) { return module != nullptr && ::FreeLibrary(static_cast<::HMODULE>(module)); }

bool SetDefaultDllDirectories(uint32_t directoryFlags) { return ::SetDefaultDllDirectories(directoryFlags); }

}  // namespace platform
