// The program's start: one copy per session, then the logger, the paths and the bound libraries,
// the connection information and the main window.
#include "app/Dialogs.h"
#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "base/Logger.h"
#include "platform/Error.h"
#include "platform/Mutex.h"

bool CVeltraneApp::InitInstance() {
    // A second copy ends silently, before the logger starts. The mutex lives with the process;
    // in the global namespace it is seen from every session of the PC (another user's too).
    // A mutex that cannot be created at all refuses no copy: the program runs as before.
    if (platform::CreateMutexA(true, "Global\\Veltrane") != nullptr &&
        platform::GetLastError() == platform::ERROR_ALREADY_EXISTS)
        return false;

    LogInit();
    ReadPaths();
    if (!BindLibraries()) {
        Messages.ShowErrorMessage(kStartupFailed, "E04", "");
        return true;
    }
    // Whatever the connection information returns, the main window follows.
    CDialogSubNavi().DoModal();
    CVeltraneDlg mainWindow;
    platform::CurrentView()->RunDialog(platform::IDD_MAIN_WINDOW, mainWindow);
    return false;
}
