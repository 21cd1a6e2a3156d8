#include "platform/UserNotification.h"

#include <mutex>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "platform/Resources.h"

namespace platform {
namespace {

std::mutex gSenderMutex;
UserNotificationSender gSender;

// Connections are made one at a time, so that two threads never race to set up the same name.
std::mutex gConnectionMutex;

QString ConnectionName(const std::string& busAddress) {
    QString name = QStringLiteral("vellipse-notifications");
    if (!busAddress.empty()) name += QLatin1Char('@') + QString::fromStdString(busAddress);
    return name;
}

}  // namespace

void SetUserNotificationSender(UserNotificationSender sender) {
    std::lock_guard lock(gSenderMutex);
    gSender = std::move(sender);
}

void DeliverUserNotification(const UserNotification& notification) {
    UserNotificationSender sender;
    {
        std::lock_guard lock(gSenderMutex);
        sender = gSender;
    }
    if (sender) {
        sender(notification);
        return;
    }
    SendDesktopNotification(notification);
}

bool SendDesktopNotification(const UserNotification& notification, const std::string& busAddress) {
    std::lock_guard lock(gConnectionMutex);
    const QString name = ConnectionName(busAddress);
    QDBusConnection connection =
        busAddress.empty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                           : QDBusConnection::connectToBus(QString::fromStdString(busAddress), name);
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return false;
    }

    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // The desktop shows the notification under the program's desktop entry and installed icon,
    // both named after the program's identifier.
    const QString identity = QString::fromStdString(BundleIdentifier());
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), identity);
    if (!notification.soundName.empty())
        hints.insert(QStringLiteral("sound-name"), QString::fromStdString(notification.soundName));
    call << QStringLiteral("Vellipse")                        // app_name
         << 0u                                                // replaces_id: a new notification
         << identity                                          // app_icon
         << QString::fromStdString(notification.title)        // summary
         << QString::fromStdString(notification.text)         // body
         << QStringList()                                     // actions
         << hints                                             // hints
         << -1;                                               // expire_timeout: the server's choice
    // send() queues the call and returns: a blocking call would wait out the D-Bus time-out when
    // no notification service answers.
    return connection.send(call);
}

}  // namespace platform
