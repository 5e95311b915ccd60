// The system's debugger output channel (syslog here) and the console the logger can open.
#pragma once

#include <string_view>

namespace platform {

void OutputDebugStringA(const char* text);

// The standard error stream, as a console shows CP932 text: converted for the terminal.
void WriteStdErr(std::string_view cp932);

// A terminal is the console: the title is set with the terminal's title sequence, the screen
// gets black text on a light background and a hidden cursor. False when stderr is no terminal.
[[nodiscard]] bool OpenConsole(std::string_view cp932Title);

}  // namespace platform
