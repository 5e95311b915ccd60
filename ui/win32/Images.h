// The program's icons and bitmaps, compiled into the executable from resources/images (the
// build converts each drawing to an .ico or a .bmp under the same resource id). Loaded on
// first use and kept for the life of the program: the busy icons turn every 100 ms.
#pragma once

#include "ui/win32/Resolution.h"

struct HICON__;
struct HBITMAP__;

namespace ui::win32 {

// The icon at this size in pixels (a multi-size .ico picks its nearest image), or nullptr.
HICON__* IconImage(int id, int size);
// The bitmap at its drawn size scaled to the resolution (stretched from the drawing), or nullptr.
HBITMAP__* BitmapImage(int id, const Resolution& resolution);

}  // namespace ui::win32
