// The program's icons and bitmaps loaded from the executable's resources and kept.
#include "ui/win32/Images.h"

#include <map>
#include <utility>

#include "platform/win32/Windows.h"

namespace ui::win32 {
namespace {

// cx, cy 0: the drawing's own size.
HBITMAP LoadBitmapSized(int id, int width, int height) {
    return static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, width, height, LR_DEFAULTCOLOR));
}

}  // namespace

HICON IconImage(int id, int size) {
    static std::map<std::pair<int, int>, HICON> icons;
    auto [entry, added] = icons.try_emplace({id, size}, nullptr);
    if (added)
        entry->second = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    return entry->second;
}

HBITMAP BitmapImage(int id, const Resolution& resolution) {
    static std::map<std::pair<int, int>, HBITMAP> bitmaps;
    auto [entry, added] = bitmaps.try_emplace({id, resolution.Dpi()}, nullptr);
    if (!added) return entry->second;
    if (resolution.Dpi() == Resolution::kDesigned) {
        entry->second = LoadBitmapSized(id, 0, 0);
        return entry->second;
    }
    HBITMAP drawn = BitmapImage(id, Resolution());
    BITMAP size{};
    if (drawn != nullptr && GetObjectW(drawn, sizeof size, &size) != 0)
        entry->second = LoadBitmapSized(id, resolution.Scale(size.bmWidth), resolution.Scale(size.bmHeight));
    return entry->second;
}

}  // namespace ui::win32
