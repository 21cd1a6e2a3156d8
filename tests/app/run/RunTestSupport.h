#pragma once

// The real main window, as a user meets it: its preference files in a folder of the test's own,
// desktop notifications caught, PDFs written by the tests, the destination panel answered.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QDesktopServices>
#include <QTest>

#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "AppDelegate.h"
#include "MainWindow.h"
#include "PopUpItems.h"
#include "filelist/FileListController.h"
#include "filelist/FileListModel.h"
#include "filelist/InputFiles.h"
#include "platform/UserNotification.h"
#include "support/TestPdf.h"

namespace runtest {

namespace fs = std::filesystem;

inline QString Q(const fs::path& path) { return FromFsPath(path); }

// A PDF of `pages` pages of `width` by `height` points.
inline fs::path WritePdf(const fs::path& path, int pages = 1, double width = 144, double height = 72) {
    testpdf::Options options;
    options.pages.assign(static_cast<std::size_t>(pages), testpdf::Page{});
    for (testpdf::Page& page : options.pages) {
        page.width = width;
        page.height = height;
    }
    fs::create_directories(path.parent_path());
    return testpdf::Write(path, options);
}

inline fs::path WriteLockedPdf(const fs::path& path, const std::string& password) {
    testpdf::Options options;
    options.pages.front().width = 144;
    options.pages.front().height = 72;
    options.encryption = testpdf::Encryption::AES_256;
    options.userPassword = password;
    options.ownerPassword = "owner-" + password;
    fs::create_directories(path.parent_path());
    return testpdf::Write(path, options);
}

// The names in a folder (files and folders), sorted; empty when it does not exist.
inline std::set<std::string> Entries(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().string());
    return names;
}

// Desktop notifications, as they would have been shown.
class NotificationCatcher {
public:
    NotificationCatcher() {
        platform::SetUserNotificationSender([this](const platform::UserNotification& n) {
            std::lock_guard lock(mutex_);
            seen_.push_back(n);
        });
    }
    ~NotificationCatcher() { platform::SetUserNotificationSender({}); }
    std::vector<platform::UserNotification> seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<platform::UserNotification> seen_;
};

// Catches what the program asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

// The real application's delegate with its window shown.
class App {
public:
    // `configHome`: the folder of the preference files; empty: a fresh one of its own.
    explicit App(const QString& configHome = {}) : configHome_(configHome.isEmpty() ? config_.path() : configHome) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome_));
        delegate = std::make_unique<AppDelegate>();
        delegate->awakeFromNib();
        delegate->window()->show();
        exposed = QTest::qWaitForWindowExposed(delegate->window());
    }
    ~App() {
        delegate.reset();
        // Reports and releases posted by the run are delivered (or dropped) with the delegate gone.
        QCoreApplication::processEvents();
    }

    template <typename T = QObject>
    T* Outlet(const char* name) const {
        return delegate->window()->findChild<T*>(QString::fromLatin1(name));
    }
    QAction* Action(const char* name) const { return Outlet<QAction>(name); }
    FileListModel* model() const { return delegate->fileList()->model(); }
    QString configHome() const { return configHome_; }

    // Adds files as the file manager would hand them over, and waits until they are listed.
    bool Add(const std::vector<fs::path>& files) {
        QStringList paths;
        for (const fs::path& f : files) paths << Q(f);
        const int before = model()->size();
        QSignalSpy done(delegate->fileList(), &FileListController::listStateChanged);
        delegate->applicationOpenFiles(paths);
        return QTest::qWaitFor([&] { return done.count() > 0 && !delegate->fileList()->isAdding(); }, 60000) &&
               model()->size() == before + static_cast<int>(files.size());
    }

    void SetPerFileFolders(bool on) { Outlet<QCheckBox>("createSeparateFolderForEachFileButtonOutlet")->setChecked(on); }

    // Chooses a tagged item of a settings menu as the user does.
    void Choose(const char* menu, int tag) {
        auto* box = Outlet<QComboBox>(menu);
        const int index = popup::IndexOfTag(box, tag);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }

    // Convert All, the destination chosen in the panel. False when no panel came up.
    bool ConvertAllInto(const fs::path& destination) {
        Action("exportAllMenuItem")->trigger();
        return AnswerPanel(destination);
    }
    bool AnswerPanel(const fs::path& destination) {
        QFileDialog* panel = delegate->exportPanel();
        if (!panel->isVisible()) return false;
        panel->setDirectory(Q(destination));
        panel->selectFile(Q(destination));
        QMetaObject::invokeMethod(panel, "accept", Qt::DirectConnection);
        return !panel->isVisible();
    }
    // Waits until the run in progress has ended and been released.
    bool WaitForRunEnd(QSignalSpy& ended) {
        return QTest::qWaitFor([&] { return ended.count() > 0; }, 120000) && !delegate->currentRun();
    }

    std::unique_ptr<AppDelegate> delegate;
    bool exposed = false;

private:
    QTemporaryDir config_;
    QString configHome_;
};

}  // namespace runtest
