#include "filelist/RevealInFileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>

namespace {

void OpenParentFolder(const QString& path, const UrlOpener& openUrl) {
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    if (openUrl)
        openUrl(folder);
    else
        QDesktopServices::openUrl(folder);
}

}  // namespace

void RevealInFileManager(const QString& path, UrlOpener openUrl) {
    if (path.isEmpty()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        OpenParentFolder(path, openUrl);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString()} << QString();
    // Not waited for: without a file manager the bus answers with an error, possibly only after
    // its time-out.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), nullptr);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [path, openUrl = std::move(openUrl)](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) OpenParentFolder(path, openUrl);
                         finished->deleteLater();
                     });
}
