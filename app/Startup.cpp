#include "app/VeltraneApp.h"

#include "common/Logger.h"
#include "platform/Error.h"
#include "platform/Mutex.h"

bool CVeltraneApp::InitInstance() {
    // A second copy ends silently, before the logger starts. The mutex lives with the process.
    platform::CreateMutexA(true, "Veltrane");
    if (platform::GetLastError() == platform::ERROR_ALREADY_EXISTS) return false;

    LogInit();
    ReadPaths();
    if (!BindLibraries()) {
        Messages.ShowErrorMessage(801, "E04", "");
        return true;
    }
    return false;
}
