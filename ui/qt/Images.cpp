// The program's images as pixmaps by resource id, loaded on first use and kept.
#include "ui/qt/Images.h"

#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

namespace ui::qt {

QPixmap ImagePixmap(int id, QSize size) {
    // Loaded on first use and kept: the busy icons turn every 100 ms.
    static QHash<QString, QPixmap> cache;
    QString key = QString("%1:%2x%3").arg(id).arg(size.width()).arg(size.height());
    if (auto found = cache.find(key); found != cache.end()) return *found;
    QSvgRenderer renderer(QString(":/images/%1.svg").arg(id));
    QPixmap pixmap;
    if (renderer.isValid()) {
        pixmap = QPixmap(size.isEmpty() ? renderer.defaultSize() : size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    cache.insert(key, pixmap);
    return pixmap;
}

}  // namespace ui::qt
