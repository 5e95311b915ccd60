// The build's folders, found from the running program's own path instead of being compiled in:
// a clone at another path then compiles the very same objects (ccache hits them). The test
// programs sit in <build>/tests, the benchmarks and the Windows build's tests in <build>/bin,
// beside the program, its two libraries, Message.ini and the stand-in tools.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/Files.h"

// <build>: the folder above the one the running program sits in.
inline std::string BuildFolder() {
    std::string path = platform::SystemModulePath();
    for (int up = 0; up < 2; ++up) {
        size_t slash = path.find_last_of("/\\");
        if (slash == std::string::npos) throw std::runtime_error("no build folder above the test program");
        path.erase(slash);
    }
    return path;
}
inline std::string BinFolder() { return BuildFolder() + "/bin"; }
// Libraries built for the tests only.
inline std::string TestsFolder() { return BuildFolder() + "/tests"; }
// Where the window tests leave their screenshots for a look.
inline std::string ScreenshotFolder() { return BuildFolder() + "/screenshots"; }
