// The store-rating link: the lookup at launch against a local HTTP server, the Rate button, and
// the reply scanner.

#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

#include "AppDelegate.h"
#include "UrlCatcher.h"
#include "MainWindow.h"
#include "platform/Resources.h"
#include "rating/LaunchNotification.h"
#include "rating/MacAppStoreRating.h"

namespace {

const QString kPageAddress = QStringLiteral("https://rating-page.vellipse.test");

// A one-answer HTTP server on 127.0.0.1: every request gets `status` and `body`, or waits while
// `hold` is set. It lives as long as the test that made it.
class TinyHttpServer : public QObject {
    Q_OBJECT
public:
    QByteArray status = "200 OK";
    QByteArray body;
    bool hold = false;
    QList<QByteArray> requestLines;

    TinyHttpServer() {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
            }
        });
    }
    bool Listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    void Close() { server_.close(); }
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }

    void Release() {
        hold = false;
        for (QTcpSocket* socket : std::exchange(waiting_, {})) Answer(socket);
    }

private:
    void Read(QTcpSocket* socket) {
        QByteArray& request = requests_[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n")) return;
        requestLines << request.left(request.indexOf("\r\n"));
        if (hold)
            waiting_ << socket;
        else
            Answer(socket);
    }
    void Answer(QTcpSocket* socket) {
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/javascript; charset=utf-8\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> requests_;
    QList<QTcpSocket*> waiting_;
};

}  // namespace

class RatingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void lookupReplies_data();
    void lookupReplies();
    void noServerOpensNothing();
    void rateBeforeTheLookupEndsDoesNothing();
    void addressesComeFromTheEnvironment();
    void scanner_data();
    void scanner();

private:
    // Starts the program's window and its launch, as the program does, against `lookup`.
    void Launch(const QString& lookup);
    void WaitForLookup();
    void PressRate();

    QTemporaryDir configHome_;
    std::unique_ptr<AppDelegate> delegate_;
    MacAppStoreRating* rating_ = nullptr;
    std::unique_ptr<QSignalSpy> finished_;
    UrlCatcher catcher_;
};

void RatingTest::initTestCase() {
    QVERIFY(configHome_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome_.path()));
    for (const char* proxy : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) qunsetenv(proxy);
    qputenv("VELLIPSE_STORE_PAGE_URL", kPageAddress.toUtf8());
}

void RatingTest::init() {
    catcher_.opened.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher_, "open");
}

void RatingTest::cleanup() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    finished_.reset();
    rating_ = nullptr;
    delegate_.reset();
    qunsetenv("VELLIPSE_STORE_LOOKUP_URL");
}

void RatingTest::Launch(const QString& lookup) {
    qputenv("VELLIPSE_STORE_LOOKUP_URL", lookup.toUtf8());
    delegate_ = std::make_unique<AppDelegate>();
    delegate_->awakeFromNib();
    delegate_->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(delegate_->window()));
    rating_ = delegate_->findChild<MacAppStoreRating*>(QStringLiteral("rateApplicationObject"));
    QVERIFY(rating_);
    finished_ = std::make_unique<QSignalSpy>(rating_, &MacAppStoreRating::lookupFinished);
    ApplicationLaunchNotification::center()->post();
}

void RatingTest::WaitForLookup() { QTRY_COMPARE_WITH_TIMEOUT(finished_->count(), 1, 20000); }

void RatingTest::PressRate() {
    auto* button = delegate_->window()->findChild<QToolButton*>(QStringLiteral("ratingToolbarItem"));
    QVERIFY(button);
    QVERIFY(button->isEnabled());
    button->click();
    // The action runs once the event loop is free again.
    QTest::qWait(50);
}

void RatingTest::lookupReplies_data() {
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("opened");  // the rating page, or empty for nothing

    const QString page = kPageAddress + QStringLiteral("/app/id%1");
    QTest::newRow("the application's entry")
        << QByteArray("200 OK")
        << QByteArray("\n\n\n{\n \"resultCount\":1,\n \"results\": [\n{\"kind\":\"software\", "
                      "\"bundleId\":\"org.vellipse.Vellipse\", \"trackId\":123456789, \"trackName\":\"Vellipse\"}]\n}\n")
        << page.arg(123456789);
    QTest::newRow("another application's entry")
        << QByteArray("200 OK")
        << QByteArray("{\"results\":[{\"bundleId\":\"org.example.Other\", \"trackId\":123456789, \"x\":1}]}")
        << QString();
    QTest::newRow("a string holding a comma first")
        << QByteArray("200 OK")
        << QByteArray("{\"description\": \"fast, small\", \"bundleId\": \"org.vellipse.Vellipse\", "
                      "\"trackId\": 42, \"z\": \"last\"}")
        << page.arg(42);
    QTest::newRow("an escaped identifier")
        << QByteArray("200 OK")
        << QByteArray("{\"bundleId\": \"org\\u002evellipse\\u002EVellipse\", \"trackId\": 5, \"z\": 0}")
        << page.arg(5);
    QTest::newRow("the identifier ends its object")
        << QByteArray("200 OK") << QByteArray("{\"bundleId\":\"org.vellipse.Vellipse\",\"trackId\":77}") << QString();
    QTest::newRow("an identifier that is no number")
        << QByteArray("200 OK") << QByteArray("{\"bundleId\":\"org.vellipse.Vellipse\",\"trackId\":\"x1\",\"z\":0}")
        << QString();
    QTest::newRow("not found")
        << QByteArray("404 Not Found")
        << QByteArray("{\"bundleId\":\"org.vellipse.Vellipse\", \"trackId\":123456789, \"z\":1}") << QString();
    QTest::newRow("an empty reply") << QByteArray("200 OK") << QByteArray() << QString();
    QTest::newRow("not JSON") << QByteArray("200 OK") << QByteArray("\xff\xfe<html>,,,") << QString();
}

void RatingTest::lookupReplies() {
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, opened);
    TinyHttpServer server;
    server.status = status;
    server.body = body;
    QVERIFY(server.Listen());
    Launch(server.address());
    WaitForLookup();

    // One request, for the application's bundle identifier in the user's country. (Qt's HTTP
    // layer sends the address's "//lookup" as "/lookup".)
    QVERIFY(rating_->lookupURL().toString().startsWith(server.address() + QStringLiteral("//lookup?country=")));
    QCOMPARE(server.requestLines.size(), 1);
    const QString line = QString::fromUtf8(server.requestLines.first());
    const QRegularExpression request(QStringLiteral("^GET //?lookup\\?country=[A-Z]{2}&bundleId=%1 HTTP/1\\.1$")
                                         .arg(QRegularExpression::escape(QString::fromStdString(platform::BundleIdentifier()))));
    QVERIFY2(request.match(line).hasMatch(), qPrintable(line));

    PressRate();
    if (opened.isEmpty()) {
        QCOMPARE(catcher_.opened, QList<QUrl>());
        QCOMPARE(rating_->appStoreID(), std::uint64_t{0});
    } else {
        QCOMPARE(catcher_.opened, QList<QUrl>{QUrl(opened)});
    }
    // Still one lookup per launch, however often the button is pressed.
    PressRate();
    QTest::qWait(100);
    QCOMPARE(server.requestLines.size(), 1);
}

void RatingTest::noServerOpensNothing() {
    TinyHttpServer server;
    QVERIFY(server.Listen());
    const QString address = server.address();
    server.Close();
    Launch(address);
    WaitForLookup();
    PressRate();
    QCOMPARE(catcher_.opened, QList<QUrl>());
    // Nothing is shown either.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != delegate_->window() && w->isVisible()) QFAIL(qPrintable(w->objectName() + " is shown"));
}

void RatingTest::rateBeforeTheLookupEndsDoesNothing() {
    TinyHttpServer server;
    server.hold = true;
    server.body = "{\"bundleId\":\"org.vellipse.Vellipse\", \"trackId\":987, \"z\":1}";
    QVERIFY(server.Listen());
    Launch(server.address());
    QTRY_COMPARE_WITH_TIMEOUT(server.requestLines.size(), 1, 20000);
    PressRate();
    QCOMPARE(catcher_.opened, QList<QUrl>());
    QCOMPARE(finished_->count(), 0);

    server.Release();
    WaitForLookup();
    PressRate();
    QCOMPARE(catcher_.opened, QList<QUrl>{QUrl(kPageAddress + QStringLiteral("/app/id987"))});
}

void RatingTest::addressesComeFromTheEnvironment() {
    // A window closed while its lookup still waits for an answer goes away at once.
    TinyHttpServer server;
    server.hold = true;
    QVERIFY(server.Listen());
    Launch(server.address());
    QTRY_COMPARE_WITH_TIMEOUT(server.requestLines.size(), 1, 20000);
    QCOMPARE(MacAppStoreRating::LookupServiceAddress(), server.address());
    QCOMPARE(MacAppStoreRating::StorePageAddress(), kPageAddress);
    rating_->setAppStoreID(31);
    QCOMPARE(rating_->ratingsURL(), QUrl(kPageAddress + QStringLiteral("/app/id31")));
    QVERIFY(rating_->lookupURL().toString().endsWith(QStringLiteral("&id=31")));
    rating_->setRatingsURL(QUrl(QStringLiteral("https://elsewhere.vellipse.test/page")));
    PressRate();
    QCOMPARE(catcher_.opened, QList<QUrl>{QUrl(QStringLiteral("https://elsewhere.vellipse.test/page"))});
    QElapsedTimer closing;
    closing.start();
    finished_.reset();
    rating_ = nullptr;
    delegate_.reset();
    QVERIFY(closing.elapsed() < 5000);

    // Without the variables, the built-in addresses.
    qunsetenv("VELLIPSE_STORE_LOOKUP_URL");
    const QByteArray page = qgetenv("VELLIPSE_STORE_PAGE_URL");
    qunsetenv("VELLIPSE_STORE_PAGE_URL");
    QVERIFY(MacAppStoreRating::LookupServiceAddress().startsWith(QStringLiteral("https://")));
    QVERIFY(MacAppStoreRating::StorePageAddress().startsWith(QStringLiteral("https://")));
    qputenv("VELLIPSE_STORE_PAGE_URL", page);
}

void RatingTest::scanner_data() {
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("value");

    const QString object = QStringLiteral(R"({"a": "one, two", "bundleId": "org.vellipse.Vellipse", "trackId": 42, "z": "end"})");
    QTest::newRow("a string with a comma") << object << "a" << true << "one, two";
    QTest::newRow("the identifier") << object << "bundleId" << true << "org.vellipse.Vellipse";
    QTest::newRow("the number") << object << "trackId" << true << "42";
    QTest::newRow("the last member") << object << "z" << false << QString();
    QTest::newRow("a missing key") << object << "y" << false << QString();
    QTest::newRow("a number ending its object") << R"([{"trackId": 99}, {"x": 1}])" << "trackId" << true << "99}";
    QTest::newRow("white space and line ends") << "{\"k\":\r\n\t  \"v w\" \r\n, \"z\":0}" << "k" << true << "v w";

    QTest::newRow("backspace and form feed") << R"({"k": "a\bb\fc", "z":0})" << "k" << true
                                             << QStringLiteral("a\bb\fc");
    QTest::newRow("two backslashes and n") << R"({"k": "x\\n", "z":0})" << "k" << true << QStringLiteral("x\\n");
    QTest::newRow("line ends and tabs") << R"({"k": "1\n2\r3\t4", "z":0})" << "k" << true
                                        << QStringLiteral("1\n2\r3\t4");
    QTest::newRow("solidus and quote") << R"({"k": "\/a\"b", "z":0})" << "k" << true << QStringLiteral("/a\"b");
    QTest::newRow("UTF-16 units") << R"({"k": "\u00e9\uD83D\uDE00", "z":0})" << "k" << true
                                  << QStringLiteral("\u00e9\U0001F600");
    QTest::newRow("each escape once") << R"({"k": "\\u0041", "z":0})" << "k" << true << QStringLiteral("\\u0041");
    // What is not an escape stays as it is; nothing is read past the text.
    QTest::newRow("a short \\u") << R"({"k": "\u12", "z":0})" << "k" << true << QStringLiteral("\\u12");
    QTest::newRow("a \\u at the end") << R"({"k": "ab\u", "z":0})" << "k" << true << QStringLiteral("ab\\u");
    QTest::newRow("an unknown escape") << R"({"k": "\q", "z":0})" << "k" << true << QStringLiteral("\\q");
    QTest::newRow("a quote that never closes") << R"({"k": "abc, def)" << "k" << false << QString();
    QTest::newRow("no comma after the closing quote") << R"({"k": "a, b"})" << "k" << false << QString();
    QTest::newRow("no colon") << R"({"k" "v", )" << "k" << false << QString();
    QTest::newRow("the key at the very end") << R"({"k")" << "k" << false << QString();
    QTest::newRow("the colon at the very end") << R"({"k":)" << "k" << false << QString();
}

void RatingTest::scanner() {
    QFETCH(QString, json);
    QFETCH(QString, key);
    QFETCH(bool, found);
    QFETCH(QString, value);
    const std::optional<QString> got = MacAppStoreRating::valueForKey(key, json);
    QCOMPARE(got.has_value(), found);
    if (found) QCOMPARE(*got, value);
}

QTEST_MAIN(RatingTest)
#include "RatingTest.moc"
