// The program's options as Windows hands them over: the wide command line split the way the
// C runtime splits it, in UTF-8 (the automation's paths are native UTF-8), and a console to
// answer on when the program was started from one.
#pragma once

#include <string>
#include <vector>

namespace ui::win32 {

// The arguments after the program's name.
std::vector<std::string> ProgramArguments();
// A windowed program starts without a console: it writes to its caller's console, unless the
// caller redirected the output (a batch's "> file"), which it then keeps.
void AttachCallerConsole();

}  // namespace ui::win32
