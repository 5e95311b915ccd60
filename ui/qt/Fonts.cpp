// The Japanese fallback for the Windows font names, and the two window fonts in pixel sizes for
// a 96-dpi screen.
#include "ui/qt/Fonts.h"

#include <QStringList>

namespace ui::qt {

void InstallJapaneseFontFallback() {
    const QStringList gothic = {"IPAGothic", "IPAPGothic", "Noto Sans CJK JP"};
    for (const char* windowsFont : {"MS UI Gothic", "MS Shell Dlg", "MS Shell Dlg 2", "MS Gothic"})
        QFont::insertSubstitutions(windowsFont, gothic);
}

// Pixel sizes: 9 and 8 points on a 96-dpi screen, whatever the display reports.
QFont MainWindowFont() {
    QFont font("MS UI Gothic");
    font.setPixelSize(12);
    return font;
}

QFont DialogFont() {
    QFont font("MS Shell Dlg");
    font.setPixelSize(11);
    return font;
}

}  // namespace ui::qt
