// The program's icons and bitmaps (our own drawings under resources/images), by resource id.
#pragma once

#include <QPixmap>
#include <QSize>

namespace ui::qt {

// The image drawn at the given size; its own size when size is empty. Null for an unknown id.
QPixmap ImagePixmap(int id, QSize size = {});

}  // namespace ui::qt
