// The alert helper: its answers, from the main thread and from a worker, its plain texts, and the
// answer of an alert that ends without a button.

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

#include "AlertDriver.h"
#include "CustomAlert.h"

class AlertTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void answersFromTheMainThread_data();
    void answersFromTheMainThread();
    void workerWaitsForTheAnswer_data();
    void workerWaitsForTheAnswer();
    void textsAreShownAsTheyAre();
    void onlyTheGivenButtonsAppear();
    void alertEndedWithoutAButton_data();
    void alertEndedWithoutAButton();
    void parentWindowDestroyedWhileAsking();
    void alertIsModalToItsWindow();
    void attachesToTheActiveWindow();
    void unknownStyleStillAnswers();
    void requestDroppedUnrunReleasesTheAsker();
    // Runs the application's event loop to its end: it must stay the last test.
    void waitingWorkersAreReleasedWhenTheApplicationQuits();

private:
    std::unique_ptr<QMainWindow> window_;
};

void AlertTest::init() {
    window_ = std::make_unique<QMainWindow>();
    window_->resize(400, 300);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void AlertTest::answersFromTheMainThread_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<qint64>("answer");
    QTest::newRow("default") << "defaultButton" << qint64(1);
    QTest::newRow("alternate") << "alterButton" << qint64(0);
    QTest::newRow("other") << "otherButton" << qint64(-1);
}

void AlertTest::answersFromTheMainThread() {
    QFETCH(QString, button);
    QFETCH(qint64, answer);
    AlertDriver driver(button);
    const std::int64_t got = ShowAlertSheet(QStringLiteral("Title"), QStringLiteral("Message"), QStringLiteral("OK"),
                                            QStringLiteral("Cancel"), QStringLiteral("More"), window_.get());
    QCOMPARE(got, answer);
    QCOMPARE(driver.count(), 1);
}

void AlertTest::workerWaitsForTheAnswer_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<qint64>("answer");
    QTest::newRow("OK") << "defaultButton" << qint64(1);
    QTest::newRow("Cancel") << "alterButton" << qint64(0);
}

void AlertTest::workerWaitsForTheAnswer() {
    QFETCH(QString, button);
    QFETCH(qint64, answer);
    std::atomic<bool> done{false};
    std::atomic<std::int64_t> got{42};
    bool doneWhileShown = true;
    bool shownOnMainThread = false;
    AlertDriver driver(button);
    driver.setOnShow([&](AlertDialog* dialog) {
        doneWhileShown = done.load();
        shownOnMainThread = dialog->thread() == qApp->thread() && QThread::currentThread() == qApp->thread();
    });
    QMainWindow* window = window_.get();
    std::thread worker([&] {
        got = ShowAlertSheet(QStringLiteral("From a worker"), QStringLiteral("Waits"), QStringLiteral("OK"),
                             QStringLiteral("Cancel"), QString(), window);
        done = true;
    });
    QTRY_VERIFY(done.load());
    worker.join();
    QCOMPARE(driver.count(), 1);
    QVERIFY(!doneWhileShown);  // the worker was still waiting when the alert was up
    QVERIFY(shownOnMainThread);
    QCOMPARE(got.load(), answer);
    QCOMPARE(driver.titles().first(), QStringLiteral("From a worker"));
}

void AlertTest::textsAreShownAsTheyAre() {
    const QString title = QStringLiteral("<b>report%2.pdf</b>");
    const QString message = QStringLiteral("100%d done: %@ <i>x</i> &amp;");
    QString shownTitle, shownMessage;
    Qt::TextFormat titleFormat = Qt::AutoText, messageFormat = Qt::AutoText;
    AlertDriver driver;
    driver.setOnShow([&](AlertDialog* dialog) {
        auto* t = dialog->findChild<QLabel*>(QStringLiteral("alertTitle"));
        auto* m = dialog->findChild<QLabel*>(QStringLiteral("alertMessage"));
        shownTitle = t->text();
        shownMessage = m->text();
        titleFormat = t->textFormat();
        messageFormat = m->textFormat();
    });
    QCOMPARE(ShowAlertSheet(title, message, QStringLiteral("OK"), {}, {}, window_.get()), 1);
    QCOMPARE(shownTitle, title);
    QCOMPARE(shownMessage, message);
    QCOMPARE(titleFormat, Qt::PlainText);
    QCOMPARE(messageFormat, Qt::PlainText);

    // No title and no message: empty texts, still answered.
    driver.setOnShow([&](AlertDialog* dialog) {
        shownTitle = dialog->findChild<QLabel*>(QStringLiteral("alertTitle"))->text();
        shownMessage = dialog->findChild<QLabel*>(QStringLiteral("alertMessage"))->text();
    });
    QCOMPARE(ShowAlertSheet(QString(), QString(), QStringLiteral("OK"), {}, {}, window_.get()), 1);
    QCOMPARE(shownTitle, QString());
    QCOMPARE(shownMessage, QString());
}

void AlertTest::onlyTheGivenButtonsAppear() {
    QStringList buttons;
    AlertDriver driver;
    driver.setOnShow([&](AlertDialog* dialog) {
        buttons.clear();
        for (auto* b : dialog->findChildren<QPushButton*>()) buttons << b->objectName() + QLatin1Char('=') + b->text();
        buttons.sort();
    });
    QCOMPARE(ShowAlertSheet(QStringLiteral("One"), {}, QStringLiteral("Fine"), {}, {}, window_.get()), 1);
    QCOMPARE(buttons, QStringList{QStringLiteral("defaultButton=Fine")});
    // Without a default title the one button still reads OK.
    QCOMPARE(ShowAlertSheet(QStringLiteral("None"), {}, {}, {}, {}, window_.get()), 1);
    QCOMPARE(buttons.size(), 1);
    QVERIFY(buttons.first().startsWith(QLatin1String("defaultButton=")));
    QVERIFY(buttons.first().size() > QStringLiteral("defaultButton=").size());
    QCOMPARE(ShowAlertSheet(QStringLiteral("Two"), {}, QStringLiteral("Yes"), QStringLiteral("No"), QString(""),
                            window_.get()),
             1);
    QCOMPARE(buttons, (QStringList{QStringLiteral("alterButton=No"), QStringLiteral("defaultButton=Yes")}));
}

void AlertTest::alertEndedWithoutAButton_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("alternate");
    QTest::addColumn<QString>("other");
    QTest::addColumn<bool>("explicitAnswer");
    QTest::addColumn<qint64>("answer");
    for (const char* how : {"escape", "close"}) {
        const auto row = [how](const char* name) -> QTestData& { return QTest::addRow("%s, %s", how, name) << QString::fromLatin1(how); };
        row("question: the alternate answer") << "No" << "" << false << qint64(0);
        row("three buttons: the alternate answer") << "No" << "Later" << false << qint64(0);
        row("other only") << "" << "Later" << false << qint64(-1);
        row("message: its only button") << "" << "" << false << qint64(1);
        row("caller's choice") << "Open Destination" << "" << true << qint64(1);
    }
}

void AlertTest::alertEndedWithoutAButton() {
    QFETCH(QString, how);
    QFETCH(QString, alternate);
    QFETCH(QString, other);
    QFETCH(bool, explicitAnswer);
    QFETCH(qint64, answer);
    AlertDriver driver(how);
    const auto dismissed = explicitAnswer ? std::optional<std::int64_t>(answer) : std::nullopt;
    QCOMPARE(ShowAlertSheet(QStringLiteral("Escape"), {}, QStringLiteral("Yes"), alternate, other, window_.get(), dismissed),
             answer);
    QCOMPARE(driver.count(), 1);
}

void AlertTest::parentWindowDestroyedWhileAsking() {
    AlertDriver driver(QStringLiteral("wait"));
    // The window goes away while its question is up.
    driver.setOnShow([this](AlertDialog*) { QTimer::singleShot(0, [this] { window_.reset(); }); });
    const std::int64_t got =
        ShowAlertSheet(QStringLiteral("Quit?"), {}, QStringLiteral("Quit"), QStringLiteral("No"), {}, window_.get());
    QVERIFY(!window_);
    QCOMPARE(got, 0);
    QCOMPARE(driver.count(), 1);
}

void AlertTest::alertIsModalToItsWindow() {
    Qt::WindowModality modality = Qt::NonModal;
    QWidget* parent = nullptr;
    AlertDriver driver;
    driver.setOnShow([&](AlertDialog* dialog) {
        modality = dialog->windowModality();
        parent = dialog->parentWidget();
    });
    ShowAlertSheet(QStringLiteral("Modal"), {}, QStringLiteral("OK"), {}, {}, window_.get());
    QCOMPARE(modality, Qt::WindowModal);
    QCOMPARE(parent, window_.get());
}

void AlertTest::attachesToTheActiveWindow() {
    QApplication::setActiveWindow(window_.get());
    QTRY_COMPARE(QApplication::activeWindow(), window_.get());
    QWidget* parent = nullptr;
    AlertDriver driver;
    driver.setOnShow([&](AlertDialog* dialog) { parent = dialog->parentWidget(); });
    QCOMPARE(ShowAlertSheet(QStringLiteral("No window given"), {}, QStringLiteral("OK"), {}, {}, nullptr), 1);
    QCOMPARE(parent, window_.get());
}

void AlertTest::unknownStyleStillAnswers() {
    CustomAlert alert(QStringLiteral("Styled"), QStringLiteral("m"), QStringLiteral("OK"), QStringLiteral("No"), {});
    alert.setAlertStyle(7);
    alert.setWindow(window_.get());
    QCOMPARE(alert.responseCode(), CustomAlert::kNoAnswer);
    AlertDriver driver(QStringLiteral("alterButton"));
    QCOMPARE(alert.showModalSheet(), 0);
    QCOMPARE(alert.responseCode(), 0);
    alert.setAlertStyle(CustomAlert::kCriticalStyle);
    driver.setButton(QStringLiteral("defaultButton"));
    QCOMPARE(alert.showModalSheet(), 1);
}

void AlertTest::requestDroppedUnrunReleasesTheAsker() {
    // The request reaches the main thread's queue but is thrown away before it runs (as when the
    // application object goes away): the asker is released with the dismissed answer.
    AlertDriver driver;
    std::atomic<bool> done{false};
    std::atomic<std::int64_t> got{42};
    QMainWindow* window = window_.get();
    std::thread worker([&] {
        got = ShowAlertSheet(QStringLiteral("Dropped"), {}, QStringLiteral("OK"), QStringLiteral("Cancel"), {}, window);
        done = true;
    });
    // No events are processed here, so the request can only be dropped, never shown.
    while (!done) {
        QCoreApplication::removePostedEvents(qApp, QEvent::MetaCall);
        std::this_thread::yield();
    }
    worker.join();
    QCOMPARE(got.load(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(driver.count(), 0);
}

void AlertTest::waitingWorkersAreReleasedWhenTheApplicationQuits() {
    QMainWindow* window = window_.get();
    std::atomic<std::int64_t> first{42}, second{42};
    std::thread asker, another;
    AlertDriver driver(QStringLiteral("wait"));
    driver.setOnShow([&](AlertDialog*) {
        if (driver.count() > 1) return;
        // While the first question is up, a second worker asks too, and the application quits.
        // Whether the second request is still queued, already shown, or comes after the end, it
        // must be released with the dismissed answer.
        another = std::thread([&] {
            second = ShowAlertSheet(QStringLiteral("Second"), {}, QStringLiteral("OK"), QStringLiteral("Cancel"), {},
                                    window);
        });
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    });
    QTimer::singleShot(0, [&] {
        asker = std::thread([&] {
            first = ShowAlertSheet(QStringLiteral("Quit?"), {}, QStringLiteral("Quit"), QStringLiteral("No"), {}, window);
        });
    });
    QCoreApplication::exec();
    asker.join();
    another.join();
    QCOMPARE(first.load(), 0);
    QCOMPARE(second.load(), 0);

    // After the end nobody can answer: a worker gets the dismissed answer at once.
    std::int64_t late = 42;
    std::thread([&] { late = ShowAlertSheet(QStringLiteral("Late"), {}, QStringLiteral("OK"), {}, {}, window); }).join();
    QCOMPARE(late, 1);
}

QTEST_MAIN(AlertTest)
#include "AlertTest.moc"
