// The program's entry: the application object, its delegate and the event loop.

#include <QApplication>
#include <QStringList>
#include <QTimer>

#include "AppDelegate.h"
#include "BundleImages.h"
#include "MainWindow.h"
#include "TerminationSignals.h"
#include "filelist/SingleInstance.h"
#include "platform/LocalizedStrings.h"
#include "platform/Resources.h"
#include "rating/LaunchNotification.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // The program's identity does not change with the language; the name it shows does.
    QApplication::setApplicationName(QStringLiteral("Vellipse"));
    QApplication::setApplicationDisplayName(platform::LocalizedString("ProAppTitle"));
    QApplication::setApplicationVersion(QStringLiteral(VELLIPSE_VERSION));
    QApplication::setOrganizationDomain(QStringLiteral("vellipse.org"));
    QApplication::setDesktopFileName(QString::fromStdString(platform::BundleIdentifier()));
    QApplication::setWindowIcon(ApplicationIcon());
    // Closing the main window goes through the delegate's rules, which decide on quitting.
    QApplication::setQuitOnLastWindowClosed(false);

    // One program per session: a later launch hands its documents to the running one and ends.
    const QStringList documents = SingleInstance::DocumentPaths(QApplication::arguments().mid(1));
    SingleInstance instance(SingleInstance::DefaultServerName());
    if (SingleInstance::HandOver(instance.serverName(), documents)) return 0;
    instance.Listen();

    AppDelegate delegate;
    QObject::connect(&delegate, &AppDelegate::terminationApproved, &application, [] { QCoreApplication::exit(0); });
    // Logout and Ctrl+C in a terminal end the session: a run stops and cleans up, and the
    // program quits without asking.
    TerminationSignals endOfSession;
    QObject::connect(&endOfSession, &TerminationSignals::received, &delegate, &AppDelegate::EndSession);
    delegate.awakeFromNib();
    delegate.window()->show();
    QObject::connect(&instance, &SingleInstance::filesReceived, &delegate, [&delegate](const QStringList& paths) {
        delegate.applicationOpenFiles(paths);
        // A launch without documents only brings the window forward.
        MainWindow* window = delegate.window();
        if (window->isMinimized()) window->showNormal();
        window->raise();
        window->activateWindow();
    });

    delegate.applicationOpenFiles(documents);
    // Launching has finished once the event loop runs.
    QTimer::singleShot(0, ApplicationLaunchNotification::center(), &ApplicationLaunchNotification::post);
    return QApplication::exec();
}
