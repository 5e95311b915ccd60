// A picture of a window as it is drawn (its frame, menu bar and controls), saved as PNG.
#pragma once

#include <string>

struct HWND__;

namespace ui::win32 {

// The window draws itself into a bitmap (PrintWindow), so a covered or off-screen window
// comes out whole. False when it could not be drawn or the file not written.
bool SaveWindowPicture(HWND__* window, const std::string& nativePath);

}  // namespace ui::win32
