// The user's own folder for what the program keeps about its runs (the kept log, support
// reports): per user and writable by them, never the program folder. Windows:
// %LOCALAPPDATA%\Veltrane; Linux: $XDG_STATE_HOME/veltrane (by default ~/.local/state/veltrane),
// where the desktop keeps logs and other state of a user's programs.
#pragma once

#include <string>

namespace platform {

// The folder as a Windows path with its trailing backslash, created when missing; "" when the
// system names none or it cannot be created.
[[nodiscard]] std::string GetUserDataFolder();
// Tests and tools place the folder elsewhere (a native path); "" gives back the system's.
void SetUserDataFolderForProcess(const std::string& nativePath);
// The system's folder as a native path, created with its parents; "" when there is none
// (each backend's own).
std::string SystemUserDataFolder();

}  // namespace platform
