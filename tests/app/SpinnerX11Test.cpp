// The busy indicator on a real X server (Xvfb): while the main thread is blocked, what the X
// server shows in the indicator's window keeps changing. The window is read back by ImageMagick.

#include <QGridLayout>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "ProgressHUDView.h"

class SpinnerX11Test : public QObject {
    Q_OBJECT
private slots:
    void spinnerTurnsOnScreenWhileTheMainThreadIsBlocked();
};

namespace {
// The window as the X server holds it, read by ImageMagick's `import`; runs with the main thread
// blocked in waitForFinished.
bool Capture(WId window, const QString& path) {
    return QProcess::execute(QStringLiteral("import"),
                             {QStringLiteral("-window"), QString::number(window), path}) == 0;
}

// How many pixels of two pictures differ, as ImageMagick's `compare` counts them.
long DifferingPixels(const QString& a, const QString& b) {
    QProcess compare;
    compare.start(QStringLiteral("compare"), {QStringLiteral("-metric"), QStringLiteral("AE"), a, b,
                                              QStringLiteral("null:")});
    compare.waitForFinished();
    return compare.readAllStandardError().trimmed().toLong();
}

// A grey level (0 to 255) of a picture, as ImageMagick reads it: `expression` of fx.
int Grey(const QString& path, const QString& expression) {
    QProcess convert;
    convert.start(QStringLiteral("convert"),
                  {path, QStringLiteral("-colorspace"), QStringLiteral("gray"), QStringLiteral("-format"),
                   QStringLiteral("%[fx:int(255*%1+0.5)]").arg(expression), QStringLiteral("info:")});
    convert.waitForFinished();
    return convert.readAllStandardOutput().trimmed().toInt();
}
}  // namespace

void SpinnerX11Test::spinnerTurnsOnScreenWhileTheMainThreadIsBlocked() {
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QWidget window;
    window.resize(300, 240);
    auto* stack = new QGridLayout(&window);
    auto* list = new QListWidget(&window);
    for (int i = 0; i < 6; ++i) list->addItem(QStringLiteral("row %1").arg(i));
    auto* overlay = new ProgressHUDView(&window);
    stack->addWidget(list, 0, 0);
    stack->addWidget(overlay, 0, 0);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    overlay->StartAddSpinning();
    QTest::qWait(300);
    const WId spinner = overlay->spinProgressIndicator()->winId();
    QVERIFY(spinner != window.winId());

    QTemporaryDir dir;
    QStringList captures;
    for (int i = 0; i < 3; ++i) {
        captures << dir.filePath(QStringLiteral("capture%1.png").arg(i));
        QVERIFY(Capture(spinner, captures.last()));
        QThread::msleep(300);
    }
    for (int i = 1; i < 3; ++i)
        QVERIFY2(DifferingPixels(captures[i - 1], captures[i]) > 20, qPrintable(captures[i]));
    // Spokes over the list's light background: the centre light, the newest spoke dark.
    const int base = qGray(list->palette().color(QPalette::Base).rgb());
    for (const QString& capture : captures) {
        QVERIFY(std::abs(Grey(capture, QStringLiteral("p{20,20}.r")) - base) <= 12);
        const int darkest = Grey(capture, QStringLiteral("minima"));
        QVERIFY2(darkest < base - 100, qPrintable(QString::number(darkest)));
    }
    overlay->StopAddSpinning();
}

QTEST_MAIN(SpinnerX11Test)
#include "SpinnerX11Test.moc"
