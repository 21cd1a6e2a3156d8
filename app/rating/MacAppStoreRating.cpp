#include "rating/MacAppStoreRating.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>

#include <limits>

#include "platform/Resources.h"
#include "rating/LaunchNotification.h"

// The build settings' defaults (see app/CMakeLists.txt).
#if !defined(VELLIPSE_STORE_LOOKUP_URL) || !defined(VELLIPSE_STORE_PAGE_URL)
#error "the store addresses are build settings"
#endif

namespace {

// A lookup reply is a few kilobytes; a server sending far more is not the lookup service.
constexpr qint64 kMaxReplyBytes = 4 << 20;
constexpr int kLookupTimeoutMs = 30000;

QString Address(const char* variable, const char* built) {
    const QString chosen = qEnvironmentVariable(variable);
    return chosen.isEmpty() ? QString::fromUtf8(built) : chosen;
}

// The number that the text starts with; 0 when it starts with no digits or the number does not
// fit (no store identifier is that large).
std::uint64_t LeadingNumber(const QString& text) {
    std::uint64_t value = 0;
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace()) ++i;
    if (i < text.size() && text.at(i) == u'+') ++i;
    const qsizetype first = i;
    for (; i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(text.at(i).unicode() - u'0');
        if (value > (static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()) - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return i == first ? 0 : value;
}

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

// Decodes the JSON string escapes, each once, from left to right. An escape that is not one
// (an unknown letter, "\u" without four hexadecimal digits, a final backslash) is kept as it is.
QString DecodeEscapes(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\\' || i + 1 >= text.size()) {
            out.append(c);
            continue;
        }
        const char16_t next = text.at(i + 1).unicode();
        char16_t decoded = 0;
        switch (next) {
            case u'\\': decoded = u'\\'; break;
            case u'/': decoded = u'/'; break;
            case u'"': decoded = u'"'; break;
            case u'n': decoded = u'\n'; break;
            case u'r': decoded = u'\r'; break;
            case u't': decoded = u'\t'; break;
            case u'f': decoded = u'\f'; break;
            case u'b': decoded = u'\b'; break;
            case u'u': {
                int unit = 0;
                bool ok = i + 5 < text.size();
                for (qsizetype k = i + 2; ok && k < i + 6; ++k) {
                    const int d = HexDigit(text.at(k));
                    ok = d >= 0;
                    unit = unit * 16 + d;
                }
                if (ok) {
                    out.append(QChar(static_cast<char16_t>(unit)));
                    i += 5;
                } else {
                    out.append(c);
                }
                continue;
            }
            default: out.append(c); continue;
        }
        out.append(QChar(decoded));
        ++i;
    }
    return out;
}

}  // namespace

MacAppStoreRating::MacAppStoreRating(QObject* parent)
    : QObject(parent),
      appStoreCountry_(QLocale::territoryToCode(QLocale::system().territory())),
      applicationBundleID_(QString::fromStdString(platform::BundleIdentifier())) {
    connect(ApplicationLaunchNotification::center(), &ApplicationLaunchNotification::didFinishLaunching, this,
            &MacAppStoreRating::applicationLaunched);
}

MacAppStoreRating::~MacAppStoreRating() {
    {
        std::lock_guard guard(lookupMutex_);
        stopping_ = true;
        if (lookupLoop_) QMetaObject::invokeMethod(lookupLoop_, &QEventLoop::quit, Qt::QueuedConnection);
    }
    if (lookupThread_) {
        lookupThread_->wait();
        delete lookupThread_;
    }
}

QString MacAppStoreRating::LookupServiceAddress() {
    return Address("VELLIPSE_STORE_LOOKUP_URL", VELLIPSE_STORE_LOOKUP_URL);
}

QString MacAppStoreRating::StorePageAddress() { return Address("VELLIPSE_STORE_PAGE_URL", VELLIPSE_STORE_PAGE_URL); }

QUrl MacAppStoreRating::lookupURL() const {
    // A locale without a country asks for the store's main country.
    const QString country = appStoreCountry_.isEmpty() ? QStringLiteral("US") : appStoreCountry_;
    QString url = LookupServiceAddress() + QStringLiteral("//lookup?country=") +
                  QString::fromLatin1(QUrl::toPercentEncoding(country));
    if (const std::uint64_t id = appStoreID(); id != 0)
        url += QStringLiteral("&id=%1").arg(id);
    else
        url += QStringLiteral("&bundleId=") + QString::fromLatin1(QUrl::toPercentEncoding(applicationBundleID_));
    return QUrl(url);
}

QUrl MacAppStoreRating::ratingsURL() const {
    if (ratingsURL_) return *ratingsURL_;
    return QUrl(StorePageAddress() + QStringLiteral("/app/id%1").arg(appStoreID()));
}

void MacAppStoreRating::applicationLaunched() {
    if (launched_) return;
    launched_ = true;
    const QUrl request = lookupURL();
    const QString bundleID = applicationBundleID_;
    lookupThread_ = QThread::create([this, request, bundleID] {
        checkForConnectivityInBackground(request, bundleID);
        QMetaObject::invokeMethod(this, &MacAppStoreRating::lookupFinished, Qt::QueuedConnection);
    });
    lookupThread_->setObjectName(QStringLiteral("store lookup"));
    lookupThread_->start(QThread::LowPriority);
}

void MacAppStoreRating::checkForConnectivityInBackground(const QUrl& url, const QString& bundleID) {
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(kLookupTimeoutMs);

    QEventLoop loop;
    {
        std::lock_guard guard(lookupMutex_);
        if (stopping_) return;
        lookupLoop_ = &loop;
    }
    QNetworkReply* reply = manager.get(request);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kMaxReplyBytes) reply->abort();
    });
    if (!reply->isFinished()) loop.exec();
    {
        std::lock_guard guard(lookupMutex_);
        lookupLoop_ = nullptr;
    }
    // No reply, an error of any kind, or the lookup abandoned at quit: nothing is known.
    const bool answered = reply->isFinished() && reply->error() == QNetworkReply::NoError;
    const QByteArray body = answered ? reply->readAll() : QByteArray();
    delete reply;
    if (!answered) return;

    const QString json = QString::fromUtf8(body);
    const std::optional<QString> bundle = valueForKey(QStringLiteral("bundleId"), json);
    if (!bundle || *bundle != bundleID) return;
    const std::optional<QString> track = valueForKey(QStringLiteral("trackId"), json);
    std::uint64_t unknown = 0;
    appStoreID_.compare_exchange_strong(unknown, track ? LeadingNumber(*track) : 0);
}

std::optional<QString> MacAppStoreRating::valueForKey(const QString& key, const QString& json) {
    const QString quoted = QLatin1Char('"') + key + QLatin1Char('"');
    const qsizetype keyAt = json.indexOf(quoted);
    if (keyAt < 0) return std::nullopt;
    const qsizetype colon = json.indexOf(u':', keyAt + quoted.size());
    if (colon < 0) return std::nullopt;
    const qsizetype start = colon + 1;
    qsizetype comma = json.indexOf(u',', start);
    if (comma < 0) return std::nullopt;
    QString candidate = json.mid(start, comma - start).trimmed();
    // A quoted value holding commas: take in the text up to the next comma until the quote
    // closes. One whose quote never closes before the text ends is not a value.
    while (candidate.startsWith(u'"') && !candidate.endsWith(u'"')) {
        comma = json.indexOf(u',', comma + 1);
        if (comma < 0) return std::nullopt;
        candidate = json.mid(start, comma - start).trimmed();
    }
    qsizetype from = 0, to = candidate.size();
    while (from < to && candidate.at(from) == u'"') ++from;
    while (to > from && candidate.at(to - 1) == u'"') --to;
    return DecodeEscapes(candidate.mid(from, to - from));
}

void MacAppStoreRating::RateApplicationAction() {
    if (appStoreID() == 0) return;
    const QUrl page = ratingsURL();
    if (page.isValid() && !page.isEmpty()) QDesktopServices::openUrl(page);
}
