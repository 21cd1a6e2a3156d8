#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

class QEventLoop;
class QThread;

// The store-rating link. Once per launch, when the application has finished launching, the
// store's lookup service is asked on a background thread for the entry of the application's
// bundle identifier in the user's country; the store identifier found there is kept, and the
// rating action opens the store's page for it through the desktop. Until an identifier is known
// (the lookup is still running, failed, or found nothing) the action does nothing, and no
// failure is ever shown.
//
// The lookup service's base address and the store page's base address are build settings
// (VELLIPSE_STORE_LOOKUP_URL, VELLIPSE_STORE_PAGE_URL) that the environment variables of the
// same names override.
class MacAppStoreRating : public QObject {
    Q_OBJECT
public:
    explicit MacAppStoreRating(QObject* parent = nullptr);
    ~MacAppStoreRating() override;

    std::uint64_t appStoreID() const { return appStoreID_.load(); }
    void setAppStoreID(std::uint64_t id) { appStoreID_.store(id); }
    QString appStoreCountry() const { return appStoreCountry_; }
    void setAppStoreCountry(const QString& country) { appStoreCountry_ = country; }
    QString applicationBundleID() const { return applicationBundleID_; }
    void setApplicationBundleID(const QString& id) { applicationBundleID_ = id; }
    // The stored rating page, or the page of appStoreID (not stored).
    QUrl ratingsURL() const;
    void setRatingsURL(const QUrl& url) { ratingsURL_ = url; }

    // The lookup request: "<lookup service>//lookup?country=<country>", then "&id=<id>" when the
    // identifier is known, else "&bundleId=<bundle identifier>".
    QUrl lookupURL() const;
    static QString LookupServiceAddress();
    static QString StorePageAddress();

    // The value of `key` in a JSON text, found by a text search rather than a parser: the text
    // after the first "key" and its colon, up to the next comma (and further commas while a
    // quoted value is open), trimmed, its surrounding quotes removed and its JSON escapes
    // decoded. Nothing when the key, the colon or the comma is missing: the last member of an
    // object, followed by its closing brace, is not found.
    static std::optional<QString> valueForKey(const QString& key, const QString& json);

    // Opens the rating page when the store identifier is known; otherwise does nothing.
    void RateApplicationAction();

signals:
    // The lookup has ended, whatever its outcome (on the object's thread).
    void lookupFinished();

private:
    void applicationLaunched();
    void checkForConnectivityInBackground(const QUrl& request, const QString& bundleID);

    std::atomic<std::uint64_t> appStoreID_{0};
    QString appStoreCountry_;
    QString applicationBundleID_;
    std::optional<QUrl> ratingsURL_;

    bool launched_ = false;
    QThread* lookupThread_ = nullptr;
    std::mutex lookupMutex_;  // guards the two below
    QEventLoop* lookupLoop_ = nullptr;
    bool stopping_ = false;
};
