#pragma once

#include <QObject>

// The application's "did finish launching" notification: posted once by the program when its
// event loop starts, heard by any object that connects to it.
class ApplicationLaunchNotification : public QObject {
    Q_OBJECT
public:
    static ApplicationLaunchNotification* center();
    void post() { emit didFinishLaunching(); }

signals:
    void didFinishLaunching();
};
