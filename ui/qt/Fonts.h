// The windows ask for the Windows fonts "MS UI Gothic" and "MS Shell Dlg"; on this system they
// fall back to a Japanese Gothic font (IPA Gothic).
#pragma once

#include <QFont>

namespace ui::qt {

void InstallJapaneseFontFallback();
// The main window's font ("MS UI Gothic" 9) and the small dialogs' ("MS Shell Dlg" 8).
QFont MainWindowFont();
QFont DialogFont();

}  // namespace ui::qt
