// The window's resolution: GetDpiForWindow where the system has it (Windows 10 1607 on),
// else the screen's LOGPIXELSY, which is what an unaware program saw before it.
#include "ui/win32/Resolution.h"

#include "platform/win32/Windows.h"

namespace ui::win32 {

Resolution Resolution::Of(HWND window) {
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = reinterpret_cast<DpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (dpiForWindow != nullptr) {
        if (UINT dpi = dpiForWindow(window); dpi != 0) return Resolution(static_cast<int>(dpi));
    }
    HDC screen = GetDC(window);
    int dpi = screen == nullptr ? 0 : GetDeviceCaps(screen, LOGPIXELSY);
    if (screen != nullptr) ReleaseDC(window, screen);
    return Resolution(dpi > 0 ? dpi : kDesigned);
}

}  // namespace ui::win32
