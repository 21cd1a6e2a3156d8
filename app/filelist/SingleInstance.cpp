#include "filelist/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QUrl>

#include "platform/Resources.h"

namespace {

constexpr quint32 kMagic = 0x56454c31;  // "VEL1"
constexpr char kAck = 'A';

}  // namespace

QString SingleInstance::DefaultServerName() {
    const QString identifier = QString::fromStdString(platform::BundleIdentifier());
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) return identifier;  // Qt places a bare name in the temporary folder
    return folder + QLatin1Char('/') + identifier + QStringLiteral(".socket");
}

QStringList SingleInstance::DocumentPaths(const QStringList& arguments) {
    QStringList paths;
    for (const QString& argument : arguments) {
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-'))) continue;
        QString path = argument;
        if (argument.contains(QLatin1String("://")) && !argument.startsWith(QLatin1String("file:"))) continue;
        if (argument.startsWith(QLatin1String("file:"))) {
            const QUrl url(argument);
            if (!url.isLocalFile()) continue;
            path = url.toLocalFile();
        }
        if (path.isEmpty()) continue;
        paths.push_back(QFileInfo(path).absoluteFilePath());
    }
    return paths;
}

bool SingleInstance::HandOver(const QString& serverName, const QStringList& paths, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(timeoutMs)) return false;
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out << kMagic << paths;
    }
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    // The running program answers once it has the list.
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    char answer = 0;
    return socket.getChar(&answer) && answer == kAck;
}

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

bool SingleInstance::isListening() const { return server_ && server_->isListening(); }

bool SingleInstance::Listen() {
    if (isListening()) return true;
    if (!server_) {
        server_ = new QLocalServer(this);
        server_->setSocketOptions(QLocalServer::UserAccessOption);
        connect(server_, &QLocalServer::newConnection, this, &SingleInstance::Accept);
    }
    // Listening would take the name over from a program that runs: ask first. Nobody answering
    // means at most a socket left behind by a program that ended.
    QLocalSocket probe;
    probe.connectToServer(serverName_);
    if (probe.waitForConnected(500)) return false;
    if (server_->listen(serverName_)) return true;
    if (server_->serverError() != QAbstractSocket::AddressInUseError) return false;
    QLocalServer::removeServer(serverName_);
    return server_->listen(serverName_);
}

void SingleInstance::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QDataStream in(socket);
            in.startTransaction();
            quint32 magic = 0;
            QStringList paths;
            in >> magic >> paths;
            if (!in.commitTransaction()) return;  // more to come
            if (magic != kMagic) {
                socket->abort();
                return;
            }
            socket->putChar(kAck);
            socket->flush();
            socket->disconnectFromServer();
            emit filesReceived(paths);
        });
    }
}
