// LoadLibraryA through the W call: a bare name is looked for in the program folder first (the
// folder of GetModuleFileName, which a test may move), then in the system's search order.
#include "platform/Library.h"

#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"

namespace platform {

HMODULE LoadLibraryA(const char* fileName) {
    auto wide = win32::Wide(fileName);
    if (!wide) return nullptr;
    if (FindChar(fileName, '\\') == std::string::npos && FindChar(fileName, '/') == std::string::npos) {
        const std::string exe = ModuleNativePath();
        auto local = win32::WideNative(exe.substr(0, exe.find_last_of("\\/") + 1));
        if (local) {
            *local += *wide;
            if (::GetFileAttributesW(local->c_str()) != INVALID_FILE_ATTRIBUTES)
                return ::LoadLibraryExW(local->c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    return ::LoadLibraryW(wide->c_str());
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || name == nullptr) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(::GetProcAddress(static_cast<::HMODULE>(module), name));
}

bool FreeLibrary(HMODULE module) { return module != nullptr && ::FreeLibrary(static_cast<::HMODULE>(module)); }

}  // namespace platform
