#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// One program per user session: a second launch hands the documents of its command line to the
// running program and ends. The running program listens on a local socket in the user's
// runtime folder.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket the program listens on: in the user's runtime folder (private to the user),
    // named after the program's identifier.
    static QString DefaultServerName();

    // The documents named on a command line (the program's name left out): absolute paths,
    // relative ones taken from the current folder, "file:" URLs as their paths; other URLs,
    // empty arguments and options ("-...") left out.
    static QStringList DocumentPaths(const QStringList& arguments);

    // In a launch: hands `paths` (possibly none) to a program already listening on
    // `serverName` and waits until it has taken them. True when it did: this launch should end.
    static bool HandOver(const QString& serverName, const QStringList& paths, int timeoutMs = 5000);

    explicit SingleInstance(QString serverName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Starts listening (the first launch). A socket left behind by a program that ended is
    // replaced; false when another program is listening or the socket cannot be made.
    bool Listen();
    bool isListening() const;
    const QString& serverName() const { return serverName_; }

signals:
    // A later launch handed over its documents (the list may be empty: bring the window forward).
    void filesReceived(const QStringList& paths);

private:
    void Accept();

    QString serverName_;
    QLocalServer* server_ = nullptr;
};
