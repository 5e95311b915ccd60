// The resolution a window is drawn at, and the program's layout (drawn in 96-DPI pixels)
// scaled to it. Declared DPI-unaware, the program gets 96 on Windows, which then scales the
// whole window itself, so the layout stays exactly as drawn; a system that hands the window a
// finer screen instead (Wine with its LogPixels setting) gets every rectangle, font, icon and
// bitmap scaled here, in step with the dialog font the dialog manager made for that screen.
#pragma once

#include "ui/DialogResources.h"

struct HWND__;

namespace ui::win32 {

class Resolution {
public:
    static constexpr int kDesigned = 96;  // the dots per inch the layout is drawn for

    explicit Resolution(int dpi = kDesigned) : dpi_(dpi) {}
    // The resolution the system gives this window.
    static Resolution Of(HWND__* window);

    int Dpi() const { return dpi_; }
    // A length of the layout, rounded to the nearest pixel.
    int Scale(int pixels) const { return (pixels * dpi_ + kDesigned / 2) / kDesigned; }
    // Edges are scaled rather than sizes, so controls that touch in the layout still touch.
    Rect Scale(const Rect& r) const {
        return {Scale(r.x), Scale(r.y), Scale(r.x + r.width) - Scale(r.x), Scale(r.y + r.height) - Scale(r.y)};
    }

private:
    int dpi_;
};

}  // namespace ui::win32
