// The launcher entry's signal and the notification server's Notify call.
#include "ui/qt/DesktopNotices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QVariantMap>

namespace ui::qt {

void SendLauncherProgress(platform::TaskbarProgress state, int percent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage update =
        QDBusMessage::createSignal("/com/veltrane/LauncherEntry", "com.canonical.Unity.LauncherEntry", "Update");
    QVariantMap properties;
    properties["progress"] = percent / 100.0;
    properties["progress-visible"] = state != platform::TaskbarProgress::None;
    // A failed job asks for the user's attention the way the launcher can.
    properties["urgent"] = state == platform::TaskbarProgress::Error;
    update << QString(kLauncherEntryUri) << properties;
    bus.send(update);  // a signal: nobody answers it
}

void SendDesktopNotice(const QString& title, const QString& text, bool failed) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        "org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "Notify");
    QVariantMap hints;
    hints["desktop-entry"] = QString("veltrane");
    hints["urgency"] = QVariant::fromValue(static_cast<uchar>(failed ? 2 : 1));  // critical or normal
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the server's)
    notify << QString("Veltrane") << 0u << QString("veltrane") << title << text << QStringList() << hints << -1;
    bus.asyncCall(notify);  // the answer (the notice's id) is not needed
}

}  // namespace ui::qt
