// A window's picture: what it shows copied into a bitmap, or drawn by the window itself where that
// cannot be read, then saved as PNG.
#include "ui/win32/WindowPicture.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "ui/win32/PngFile.h"
#include "ui/win32/WideText.h"

#include "platform/win32/Windows.h"

namespace ui::win32 {

bool SaveWindowPicture(HWND window, const std::string& nativePath) {
    RECT bounds;
    if (window == nullptr || !GetWindowRect(window, &bounds)) return false;
    int width = bounds.right - bounds.left;
    int height = bounds.bottom - bounds.top;
    if (width <= 0 || height <= 0) return false;

    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;  // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (bitmap == nullptr || memory == nullptr) {
        if (bitmap != nullptr) DeleteObject(bitmap);
        if (memory != nullptr) DeleteDC(memory);
        return false;
    }
    HGDIOBJ previous = SelectObject(memory, bitmap);
    // What the window shows, frame and children included; a window that cannot be read
    // (another desktop, no window surface) is asked to draw itself instead.
    HDC shown = GetWindowDC(window);
    bool drawn = shown != nullptr && BitBlt(memory, 0, 0, width, height, shown, 0, 0, SRCCOPY) != FALSE;
    if (shown != nullptr) ReleaseDC(window, shown);
    if (!drawn) drawn = PrintWindow(window, memory, 0) != FALSE;
    GdiFlush();
    std::vector<uint32_t> pixels;
    if (drawn) {
        const auto* first = static_cast<const uint32_t*>(bits);
        pixels.assign(first, first + static_cast<size_t>(width) * static_cast<size_t>(height));
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    if (!drawn) return false;

    std::vector<uint8_t> png = EncodePng(width, height, pixels);
    std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(Widen(nativePath).c_str(), L"wb"), &std::fclose);
    if (png.empty() || !file) return false;
    bool written = std::fwrite(png.data(), 1, png.size(), file.get()) == png.size();
    return std::fclose(file.release()) == 0 && written;
}

}  // namespace ui::win32
