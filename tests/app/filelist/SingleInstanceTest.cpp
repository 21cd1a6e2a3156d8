// The hand-over of a later launch's documents to the running program.

#include <QtTest>

#include <QDir>

#include <sys/socket.h>
#include <sys/un.h>

#include <thread>

#include "FileListTestSupport.h"
#include "filelist/SingleInstance.h"

using namespace filelisttest;

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void documentPathsFromTheCommandLine();
    void laterLaunchHandsOverItsDocuments();
    void noRunningProgram();
    void leftOverSocketIsReplaced();
};

void SingleInstanceTest::documentPathsFromTheCommandLine() {
    testpdf::TempDir dir;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(Q(dir.path())));
    const QStringList paths = SingleInstance::DocumentPaths(
        {"a.pdf", "sub/b.pdf", "/abs/c.pdf", "file:///tmp/with%20space.pdf", "--option", "", "http://example.org/x.pdf"});
    QDir::setCurrent(previous);
    QCOMPARE(paths, (QStringList{Q(dir / "a.pdf"), Q(dir / "sub" / "b.pdf"), "/abs/c.pdf", "/tmp/with space.pdf"}));
}

void SingleInstanceTest::laterLaunchHandsOverItsDocuments() {
    testpdf::TempDir dir;
    const QString name = Q(dir / "program.socket");
    SingleInstance running(name);
    QVERIFY(running.Listen());
    QVERIFY(running.isListening());
    QSignalSpy received(&running, &SingleInstance::filesReceived);

    // A second program on the same socket does not listen.
    SingleInstance second(name);
    QVERIFY(!second.Listen());

    const QStringList documents{"/docs/one.pdf", "/docs/two with \"quotes\" and %1.pdf"};
    bool handedOver = false;
    // The later launch waits for the running program's event loop: run it beside this one.
    std::thread launch([&] { handedOver = SingleInstance::HandOver(name, documents); });
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 20000);
    launch.join();
    QVERIFY(handedOver);
    QCOMPARE(received.at(0).at(0).toStringList(), documents);

    // A launch without documents still finds the program (which brings its window forward).
    std::thread empty([&] { handedOver = SingleInstance::HandOver(name, {}); });
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 2, 20000);
    empty.join();
    QVERIFY(handedOver);
    QVERIFY(received.at(1).at(0).toStringList().isEmpty());
}

void SingleInstanceTest::noRunningProgram() {
    testpdf::TempDir dir;
    QVERIFY(!SingleInstance::HandOver(Q(dir / "nobody.socket"), {"/a.pdf"}, 1000));
    QVERIFY(SingleInstance::DefaultServerName().contains("org.vellipse.Vellipse"));
}

void SingleInstanceTest::leftOverSocketIsReplaced() {
    testpdf::TempDir dir;
    const fs::path path = dir / "stale.socket";
    // A socket file that nobody listens on, as a program that was killed leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    ::close(fd);
    QVERIFY(fs::exists(path));

    SingleInstance running(Q(path));
    QVERIFY(running.Listen());
    QSignalSpy received(&running, &SingleInstance::filesReceived);
    bool handedOver = false;
    std::thread launch([&] { handedOver = SingleInstance::HandOver(Q(path), {"/x.pdf"}); });
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 20000);
    launch.join();
    QVERIFY(handedOver);
}

QTEST_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
