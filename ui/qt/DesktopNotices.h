// Progress and notices outside the window on a Linux desktop, over the session bus. The
// taskbar's nearest kin is the launcher entry of the desktop file (the
// com.canonical.Unity.LauncherEntry signal, which docks and task managers of KDE, GNOME's
// Dash to Dock and others show as a bar on the program's icon); notices go to the desktop's
// notification server (org.freedesktop.Notifications). Without a session bus both show nowhere.
#pragma once

#include <QString>

#include "platform/View.h"

namespace ui::qt {

// The desktop file the launcher entry names.
inline constexpr char kLauncherEntryUri[] = "application://veltrane.desktop";

void SendLauncherProgress(platform::TaskbarProgress state, int percent);
// Sent without waiting for the server's answer: the window goes on at once.
void SendDesktopNotice(const QString& title, const QString& text, bool failed);

}  // namespace ui::qt
