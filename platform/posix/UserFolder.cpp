// The XDG state folder of the user: $XDG_STATE_HOME when it is an absolute path, else
// $HOME/.local/state, as the XDG base directory rules say.
#include "platform/UserFolder.h"

#include <cstdlib>
#include <filesystem>

namespace platform {

std::string SystemUserDataFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string base;
    if (state != nullptr && state[0] == '/')
        base = state;
    else if (home != nullptr && home[0] == '/')
        base = std::string(home) + "/.local/state";
    else
        return "";
    std::string folder = base + "/veltrane";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return error ? "" : folder;
}

}  // namespace platform
