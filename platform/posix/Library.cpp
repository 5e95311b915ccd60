// Binding a library with dlopen from the program folder: the Windows DLL name mapped to its
// shared-object name.
#include "platform/Library.h"

#include <dlfcn.h>
#include <string>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Files.h"

namespace platform {
namespace {

// "Decode.dll" → "libDecode.so"; a name that is not a DLL name stays as it is.
std::string NativeLibraryName(std::string name) {
    size_t slash = FindLastChar(name, '\\');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (name.size() > 4 && EqualsNoCase(name.substr(name.size() - 4), ".dll"))
        return "lib" + name.substr(0, name.size() - 4) + ".so";
    return name;
}

}  // namespace

HMODULE LoadLibraryA(const char* fileName) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name = NativeLibraryName(fileName);
    std::string exe = ModuleNativePath();
    std::string local = exe.substr(0, exe.rfind('/') + 1) + name;
    // The program's folder only: a bare name would have the loader search LD_LIBRARY_PATH and
    // the system's folders, where another library of that name may wait.
    void* handle = local.starts_with('/') ? ::dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!handle) SetLastError(ERROR_MOD_NOT_FOUND);
    return handle;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || name == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = ::dlsym(module, name);
    if (!symbol) SetLastError(ERROR_PROC_NOT_FOUND);
    return symbol;
}

bool FreeLibrary(HMODULE module) { return module != nullptr && ::dlclose(module) == 0; }

// The dynamic loader takes a library's own dependencies from the system's folders (and the
// program's RUNPATH); there is no per-process search to narrow.
bool SetDefaultDllDirectories(uint32_t) { return true; }

}  // namespace platform
