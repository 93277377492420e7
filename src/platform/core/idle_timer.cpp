#include "platform/core/idle_timer.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>

namespace IdleTimer {

namespace {

bool disabled = false;
uint cookie = 0;
bool haveCookie = false;

QDBusInterface screenSaver()
{
    return QDBusInterface(QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
                          QStringLiteral("org.freedesktop.ScreenSaver"), QDBusConnection::sessionBus());
}

} // namespace

void setIdleTimerDisabled(bool value)
{
    if (value == disabled)
        return;
    disabled = value;
    if (!QDBusConnection::sessionBus().isConnected())
        return;
    QDBusInterface iface = screenSaver();
    if (!iface.isValid())
        return;
    if (disabled) {
        QDBusReply<uint> reply = iface.call(QStringLiteral("Inhibit"), QStringLiteral("lumenar"), QStringLiteral("Playing music"));
        haveCookie = reply.isValid();
        cookie = haveCookie ? reply.value() : 0;
    } else if (haveCookie) {
        iface.call(QStringLiteral("UnInhibit"), cookie);
        haveCookie = false;
    }
}

bool isIdleTimerDisabled()
{
    return disabled;
}

} // namespace IdleTimer
