// SPDX-License-Identifier: MIT
#include "ui/desktop_contrast.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariant>

namespace torvik::ui {

namespace {

// One setting read from the portal; invalid when there is none. Older
// portals wrap the value in a second variant.
QVariant read_setting(QDBusConnection& bus, const QString& group, const QString& key) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    call << group << key;
    // A portal that is not running is not waited for long: the window's
    // first paint should not wait on it.
    const QDBusMessage reply = bus.call(call, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    QVariant value = reply.arguments().first();
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

}  // namespace

bool DesktopAsksHighContrast() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    if (read_setting(bus, QStringLiteral("org.freedesktop.appearance"), QStringLiteral("contrast"))
            .toUInt() == 1) {
        return true;
    }
    if (read_setting(bus, QStringLiteral("org.gnome.desktop.a11y.interface"),
                     QStringLiteral("high-contrast"))
            .toBool()) {
        return true;
    }
    return read_setting(bus, QStringLiteral("org.gnome.desktop.interface"),
                        QStringLiteral("gtk-theme"))
        .toString()
        .contains(QStringLiteral("HighContrast"), Qt::CaseInsensitive);
}

bool ChooseHighContrast(std::optional<bool> command_line, bool desktop_asks, bool stored) {
    if (command_line) return *command_line;
    return desktop_asks || stored;
}

}  // namespace torvik::ui
