#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Catches what the program asks the desktop to open (install it with
// QDesktopServices::setUrlHandler(scheme, &catcher, "open")).
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};
