// The small views: the busy overlay, the centred cell, the toolbar's validation rule, the
// stepper, and the images drawn from the bundled PDFs.

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "BundleImages.h"
#include "OVXValidatedViewToolbar.h"
#include "ProgressHUDView.h"
#include "Stepper.h"
#include "VerticallyCenteredTextFieldCell.h"
#include "platform/Resources.h"

class ViewsTest : public QObject {
    Q_OBJECT
private slots:
    void overlayTakesTheClicks();
    void overlayShowsSpinnerOrMessage();
    void overlayShadow();
    void spinnerTurnsWhileTheMainThreadIsBlocked();
    void centredTextRect_data();
    void centredTextRect();
    void toolbarValidation();
    void stepperStaysInRange();
    void toolbarImagesAreDrawn_data();
    void toolbarImagesAreDrawn();
    void missingImageGivesNoIcon();
    void applicationIconIsInstalledBesideTheResources();
};

namespace {
int AlphaAt(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)); }
}  // namespace

void ViewsTest::overlayTakesTheClicks() {
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

    const QRect row = list->visualItemRect(list->item(2));
    const QPoint inWindow = list->viewport()->mapTo(&window, row.center());
    // The click is delivered as the window system delivers it: to whatever lies at that point.
    overlay->StartAddSpinning();
    QVERIFY(overlay->isVisible());
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, inWindow);
    QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {}, inWindow);
    QVERIFY(list->selectedItems().isEmpty());

    overlay->StopAddSpinning();
    QVERIFY(!overlay->isVisible());
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, inWindow);
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(list->selectedItems().first()->text(), QStringLiteral("row 2"));
}

void ViewsTest::overlayShowsSpinnerOrMessage() {
    QWidget window;
    window.resize(200, 200);
    auto* overlay = new ProgressHUDView(&window);
    overlay->resize(window.size());
    window.show();
    QVERIFY(!overlay->isVisible());
    QVERIFY(!overlay->spinProgressIndicator()->isVisible());

    overlay->StartAddSpinning();
    QVERIFY(overlay->isVisible());
    QVERIFY(overlay->spinProgressIndicator()->isVisible());
    QVERIFY(overlay->spinProgressIndicator()->isAnimating());
    overlay->StopAddSpinning();
    QVERIFY(!overlay->isVisible());
    QVERIFY(!overlay->spinProgressIndicator()->isAnimating());

    const QString message = QStringLiteral("<b>100%d</b>");
    overlay->SetMessageString(message);
    QVERIFY(overlay->isVisible());
    QVERIFY(!overlay->spinProgressIndicator()->isVisible());
    QVERIFY(overlay->messageTextField()->isVisible());
    QCOMPARE(overlay->messageTextField()->text(), message);
    QCOMPARE(overlay->messageTextField()->textFormat(), Qt::PlainText);
    overlay->removeMessageString();
    QVERIFY(!overlay->isVisible());
    QVERIFY(!overlay->messageTextField()->isVisible());
}

void ViewsTest::overlayShadow() {
    // A square of 200: clear at the centre, 75 % black 200 points from it; the corners, about
    // 141 points away, are only partly dark.
    ProgressHUDView overlay;
    overlay.resize(200, 200);
    QImage image(overlay.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    overlay.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    QVERIFY(AlphaAt(image, 100, 100) <= 2);
    const double corner = 0.75 * 255 * std::hypot(99.5, 99.5) / 200.0;
    QVERIFY2(std::abs(AlphaAt(image, 0, 0) - corner) <= 4, qPrintable(QString::number(AlphaAt(image, 0, 0))));
    QVERIFY(AlphaAt(image, 0, 0) < 191);
    QVERIFY(AlphaAt(image, 100, 0) < AlphaAt(image, 0, 0));

    // Beyond the end radius the end colour goes on.
    const QRadialGradient gradient = ProgressHUDView::DimmingGradient(QSizeF(200, 200));
    QCOMPARE(gradient.radius(), 200.0);
    QCOMPARE(gradient.center(), QPointF(100, 100));
    QCOMPARE(gradient.spread(), QGradient::PadSpread);
    QImage wide(500, 500, QImage::Format_ARGB32_Premultiplied);
    wide.fill(Qt::transparent);
    QPainter painter(&wide);
    painter.fillRect(wide.rect(), gradient);
    painter.end();
    QVERIFY(std::abs(AlphaAt(wide, 499, 499) - 191) <= 1);
}

void ViewsTest::spinnerTurnsWhileTheMainThreadIsBlocked() {
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
    SpinningIndicator* spinner = overlay->spinProgressIndicator();
    QTRY_VERIFY(!spinner->latestFrame().isNull());

    // The main thread sleeps and handles no events: the steps go on, each drawn over the list.
    int step = spinner->step();
    QImage frame = spinner->latestFrame();
    for (int i = 0; i < 3; ++i) {
        QThread::msleep(400);
        QVERIFY2(spinner->step() != step, qPrintable(QString::number(step)));
        const QImage next = spinner->latestFrame();
        QVERIFY(next != frame);
        step = spinner->step();
        frame = next;
    }
    QCOMPARE(frame.size(), spinner->size() * spinner->devicePixelRatio());
    // The centre, between the spokes' inner ends, shows the list's background under the barely
    // begun shadow.
    const int centre = qGray(frame.pixel(frame.width() / 2, frame.height() / 2));
    QVERIFY2(std::abs(centre - qGray(list->palette().color(QPalette::Base).rgb())) <= 12, qPrintable(QString::number(centre)));

    overlay->StopAddSpinning();
    step = spinner->step();
    QThread::msleep(250);
    QCOMPARE(spinner->step(), step);
}

void ViewsTest::centredTextRect_data() {
    QTest::addColumn<QRectF>("frame");
    QTest::addColumn<qreal>("textHeight");
    QTest::addColumn<QRectF>("drawn");
    QTest::newRow("cell 30, text 16") << QRectF(10, 100, 80, 30) << 16.0 << QRectF(10, 107, 80, 16);
    QTest::newRow("text fills the cell") << QRectF(0, 0, 50, 20) << 20.0 << QRectF(0, 0, 50, 20);
    QTest::newRow("text taller than the cell") << QRectF(0, 40, 50, 20) << 30.0 << QRectF(0, 40, 50, 20);
    QTest::newRow("odd difference") << QRectF(0, 0, 10, 31) << 16.0 << QRectF(0, 7.5, 10, 16);
}

void ViewsTest::centredTextRect() {
    QFETCH(QRectF, frame);
    QFETCH(qreal, textHeight);
    QFETCH(QRectF, drawn);
    QCOMPARE(VerticallyCenteredTextFieldCell::CenteredTextRect(frame, textHeight), drawn);
}

void ViewsTest::toolbarValidation() {
    OVXValidatedViewToolbar toolbar;
    auto* loose = new QToolButton(&toolbar);  // a button without a command
    auto* plain = new QToolButton(&toolbar);
    auto* judged = new QToolButton(&toolbar);
    QAction plainCommand(QStringLiteral("plain"));
    QAction judgedCommand(QStringLiteral("judged"));
    plain->setDefaultAction(&plainCommand);
    judged->setDefaultAction(&judgedCommand);
    QAction* looseItem = toolbar.addWidget(loose);
    QAction* plainItem = toolbar.addWidget(plain);
    QAction* judgedItem = toolbar.addWidget(judged);
    toolbar.show();

    loose->setEnabled(false);
    plainCommand.setEnabled(false);
    // Without a validator: a button with a command is enabled, one without stays as it was.
    toolbar.validateVisibleItems();
    QVERIFY(!loose->isEnabled());
    QVERIFY(plain->isEnabled() && plainItem->isEnabled() && plainCommand.isEnabled());

    // With a validator, it decides for every button with a command.
    toolbar.setValidator([&](const QAction* command) { return command != &judgedCommand; });
    toolbar.validateVisibleItems();
    QVERIFY(plain->isEnabled());
    QVERIFY(!judged->isEnabled() && !judgedItem->isEnabled() && !judgedCommand.isEnabled());
    QVERIFY(!loose->isEnabled());
    QVERIFY(looseItem->isEnabled());

    // Hidden items are not validated.
    judgedItem->setVisible(false);
    toolbar.setValidator([](const QAction*) { return true; });
    toolbar.validateVisibleItems();
    QVERIFY(!judgedCommand.isEnabled());
}

void ViewsTest::stepperStaysInRange() {
    Stepper stepper;
    stepper.setRange(1, 3);
    stepper.setValue(1);
    QSignalSpy changed(&stepper, &Stepper::valueChanged);
    stepper.stepDown();
    QCOMPARE(stepper.value(), 1);
    QCOMPARE(changed.count(), 0);
    stepper.stepUp();
    stepper.stepUp();
    stepper.stepUp();
    QCOMPARE(stepper.value(), 3);
    QCOMPARE(changed.count(), 2);
    stepper.setValue(50);
    QCOMPARE(stepper.value(), 3);
    auto* up = stepper.findChild<QToolButton*>(QStringLiteral("stepUpButton"));
    QVERIFY(up);
    stepper.setEnabled(false);
    QVERIFY(!up->isEnabled());
}

void ViewsTest::toolbarImagesAreDrawn_data() {
    QTest::addColumn<QString>("name");
    for (const char* name : {"Add.pdf", "Remove.pdf", "RemoveAll.pdf", "Convert.pdf", "ConvertAll.pdf", "Rating.pdf", "Help.pdf"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void ViewsTest::toolbarImagesAreDrawn() {
    QFETCH(QString, name);
    const auto path = platform::ResourcePath(name.toStdString());
    QVERIFY2(!path.empty(), qPrintable(name));
    const QImage grey = RenderPdfPage(path, 64);
    QCOMPARE(grey.size(), QSize(64, 64));
    // Ink somewhere, white paper elsewhere.
    int dark = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) dark += qGray(grey.pixel(x, y)) < 128;
    QVERIFY2(dark > 64 * 64 / 20 && dark < 64 * 64 / 2, qPrintable(QString::number(dark)));

    // As a template: black ink becomes the colour, white paper transparent.
    const QImage tinted = TintTemplate(grey, QColor(200, 0, 0));
    QCOMPARE(qAlpha(tinted.pixel(0, 0)), 0);
    QPalette palette;
    const QIcon icon = LoadToolbarImage(name, palette);
    QVERIFY(!icon.isNull());
    QVERIFY(!icon.pixmap(32, 32, QIcon::Disabled).isNull());
}

void ViewsTest::missingImageGivesNoIcon() {
    QVERIFY(LoadToolbarImage(QStringLiteral("NoSuchImage.pdf"), QPalette()).isNull());
    QVERIFY(RenderPdfPage({}, 32).isNull());
    // A file that is not a PDF.
    QVERIFY(RenderPdfPage(platform::ResourcePath("ImageExtension.plist"), 32).isNull());
}

void ViewsTest::applicationIconIsInstalledBesideTheResources() {
    const QIcon icon = ApplicationIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.availableSizes().size(), 3);
    const QImage large = icon.pixmap(256, 256).toImage();
    QCOMPARE(large.size(), QSize(256, 256));
    // Transparent corners around an opaque tile.
    QCOMPARE(qAlpha(large.pixel(2, 2)), 0);
    QCOMPARE(qAlpha(large.pixel(128, 60)), 255);
}

QTEST_MAIN(ViewsTest)
#include "ViewsTest.moc"
