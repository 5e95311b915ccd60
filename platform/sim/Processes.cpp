// The processes of the simulated machine, as its machine.ini lists them, behind the process
// enumeration calls: their IDs, handles and the image name of their one module.
#include "platform/Processes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/posix/KernelObject.h"
#include "platform/sim/Machine.h"

namespace platform {
namespace {

class Process : public KernelObject {
public:
    std::string image;  // CP932
};

Process* ProcessOf(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    return dynamic_cast<Process*>(static_cast<KernelObject*>(handle));
}

// The one module handle a simulated process has: its image.
HMODULE const kMainModule = reinterpret_cast<HMODULE>(uintptr_t{0x400000});

}  // namespace

bool EnumProcesses(uint32_t* processIds, uint32_t size, uint32_t* bytesReturned) {
    if (processIds == nullptr || bytesReturned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    uint32_t count = 0;
    for (const std::string& section : MachineDescription().Sections()) {
        if (section.rfind("Process ", 0) != 0) continue;
        if ((count + 1) * sizeof(uint32_t) > size) break;
        processIds[count++] = static_cast<uint32_t>(std::strtoul(section.c_str() + 8, nullptr, 10));
    }
    *bytesReturned = count * static_cast<uint32_t>(sizeof(uint32_t));
    return true;
}

HANDLE OpenProcess(uint32_t, bool, uint32_t processId) {
    ProfileDocument doc = MachineDescription();
    std::string section = "Process " + std::to_string(processId);
    auto image = doc.Get(section, "Image");
    if (!image) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (doc.Get(section, "Access").value_or("") == "denied") {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto process = new Process;
    process->image = Utf8ToCp932(*image).value_or("");
    return process;
}

bool EnumProcessModules(HANDLE handle, HMODULE* modules, uint32_t size, uint32_t* needed) {
    if (ProcessOf(handle) == nullptr || needed == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    *needed = sizeof(HMODULE);
    if (modules != nullptr && size >= sizeof(HMODULE)) modules[0] = kMainModule;
    return true;
}

uint32_t GetModuleBaseNameA(HANDLE handle, HMODULE module, char* baseName, uint32_t size) {
    Process* process = ProcessOf(handle);
    if (process == nullptr || module != kMainModule || baseName == nullptr || size == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    // Cut to the buffer, terminated, as Windows does.
    size_t length = std::min<size_t>(process->image.size(), size - 1);
    std::memcpy(baseName, process->image.data(), length);
    baseName[length] = '\0';
    return static_cast<uint32_t>(length);
}

}  // namespace platform
