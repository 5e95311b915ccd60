// The program's icons and bitmaps loaded from the executable's resources and kept.
#include "ui/win32/Images.h"

#include <map>
#include <utility>

#include "platform/win32/Windows.h"

namespace ui::win32 {

HICON IconImage(int id, int size) {
    static std::map<std::pair<int, int>, HICON> icons;
    auto [entry, added] = icons.try_emplace({id, size}, nullptr);
    if (added)
        entry->second = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    return entry->second;
}

HBITMAP BitmapImage(int id) {
    static std::map<int, HBITMAP> bitmaps;
    auto [entry, added] = bitmaps.try_emplace(id, nullptr);
    if (added)
        entry->second = static_cast<HBITMAP>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    return entry->second;
}

}  // namespace ui::win32
