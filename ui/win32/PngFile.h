// A picture of a window saved as PNG (8-bit RGB), the format the automation's screenshots
// use on every front end. Windows has no PNG writer without GDI+ or WIC; zlib is linked
// anyway, so the few chunks are written here.
#pragma once

#include <cstdint>
#include <vector>

namespace ui::win32 {

// pixels: width × height 32-bit values, top row first, each blue, green, red, unused (a
// top-down DIB section's layout). Empty when the size and the pixels disagree.
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<uint32_t>& pixels);

}  // namespace ui::win32
