// The executable's path, which tests and tools may place elsewhere; otherwise the system's.
#include <mutex>

#include "platform/Files.h"

namespace platform {
namespace {

std::mutex moduleLock;
std::string modulePath;

}  // namespace

void SetModuleFileNameForProcess(const std::string& nativePath) {
    std::lock_guard guard(moduleLock);
    modulePath = nativePath;
}

std::string ModuleNativePath() {
    std::lock_guard guard(moduleLock);
    return modulePath.empty() ? SystemModulePath() : modulePath;
}

}  // namespace platform
