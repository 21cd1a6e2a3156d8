// A burst of small PDFs copied into the watched folder at once, against a list run of the same
// files with the same settings, in alternating rounds on the real main window (offscreen).
// The watch round is timed from the start of the copy until every source has been converted and
// moved into the destination; the list round from the destination panel's OK until the run
// ends (adding the files to the list is not counted). Every round checks that each file was
// converted exactly once. Run it from a Release build with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "AppDelegate.h"
#include "../app/BenchSupport.h"
#include "CustomAlert.h"
#include "MainWindow.h"
#include "PopUpItems.h"
#include "engine/ImageConversion.h"
#include "filelist/FileListController.h"
#include "filelist/FileListModel.h"
#include "platform/UserNotification.h"
#include "settings/PlistPreferenceStore.h"
#include "settings/PreferenceSheet.h"
#include "watch/WatchFolder.h"

namespace fs = std::filesystem;

using bench::Choose;
using bench::WaitFor;

namespace {

// A one-page document with a heading and a few lines, as a small office PDF is.
void WritePdf(const QString& path, int n) {
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A5));
    writer.setResolution(72);
    QPainter painter(&writer);
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 18));
    painter.drawText(40, 60, QStringLiteral("Delivery note %1").arg(n));
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    for (int line = 0; line < 12; ++line)
        painter.drawText(40, 100 + line * 18, QStringLiteral("Item %1: %2 pieces").arg(line + 1).arg((n * 7 + line) % 50));
    painter.drawRect(30, 30, 360, 340);
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Each of the files converted exactly once: one folder per file, one image in it.
bool ConvertedOnce(const fs::path& destination, int files, bool withSources) {
    std::size_t folders = 0, sources = 0;
    for (const std::string& name : Names(destination)) {
        const fs::path entry = destination / name;
        if (fs::is_directory(entry)) {
            if (Names(entry).size() != 1) return false;
            ++folders;
        } else if (entry.extension() == ".pdf") {
            ++sources;
        }
    }
    return folders == static_cast<std::size_t>(files) && (!withSources || sources == static_cast<std::size_t>(files));
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    int files = 200, rounds = 4;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == "--files") files = std::max(1, arguments[++i].toInt());
        else if (arguments[i] == "--rounds") rounds = std::max(1, arguments[++i].toInt());
    }
    const int type = kOutputPNG, dpi = 150, color = kColorRGB;

    QTemporaryDir work(QDir::tempPath() + "/vellipse-watch-bench-XXXXXX");
    const fs::path top = work.path().toStdString();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.path() + "/config"));
    platform::SetUserNotificationSender([](const platform::UserNotification&) {});
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* alert = qobject_cast<AlertDialog*>(w); alert && alert->isVisible())
                if (auto* ok = alert->findChild<QPushButton*>("defaultButton")) ok->click();
    });
    answer.start(20);

    // The same settings for both: PNG, 150 dpi, RGB, a folder per file.
    settings::PreferenceDictionary preferences = settings::DefaultGeneralPreferences();
    preferences[settings::key::kImageType] = std::int64_t{type};
    preferences[settings::key::kImageResolutionOption] = std::int64_t{dpi};
    preferences[settings::key::kColorModel] = std::int64_t{color};
    settings::PlistPreferenceStore().Write(preferences, settings::kGeneralPreferenceFile);

    const fs::path originals = top / "originals";
    fs::create_directories(originals);
    QStringList paths;
    for (int n = 0; n < files; ++n) {
        const QString path = QString::fromStdString((originals / ("note " + std::to_string(n) + ".pdf")).string());
        WritePdf(path, n);
        paths << path;
    }

    AppDelegate delegate;
    delegate.awakeFromNib();
    delegate.window()->show();
    MainWindow* window = delegate.window();
    Choose(window->findChild<QComboBox*>("destinationImageTypePopUpOutlet"), type);
    Choose(window->findChild<QComboBox*>("colorModelPopUpOutlet"), color);
    window->findChild<QComboBox*>("imageResolutionPopUpOutlet")->setEditText(QString::number(dpi));
    window->findChild<QCheckBox*>("createSeparateFolderForEachFileButtonOutlet")->setChecked(true);
    watch::WatchFolder* watchFolder = delegate.watchFolder();
    std::printf("%d one-page PDFs, type %d, %d dpi, colour %d, a folder per file, sources moved into the destination\n",
                files, type, dpi, color);

    std::vector<double> listTimes, watchTimes;
    for (int round = 0; round < rounds; ++round) {
        const fs::path roundDir = top / ("round" + std::to_string(round));

        // The list: the files added, Convert All into a fresh folder.
        delegate.applicationOpenFiles(paths);
        if (!WaitFor([&] { return delegate.fileList()->model()->size() == files && !delegate.fileList()->isAdding(); })) {
            std::fprintf(stderr, "cannot add the files\n");
            return 1;
        }
        const fs::path listOut = roundDir / "list";
        fs::create_directories(listOut);
        int result = -1;
        const auto ended = QObject::connect(&delegate, &AppDelegate::conversionRunEnded, &delegate, [&](int code) { result = code; });
        delegate.ExportAll();
        QFileDialog* panel = delegate.exportPanel();
        panel->setDirectory(QString::fromStdString(listOut.string()));
        panel->selectFile(QString::fromStdString(listOut.string()));
        QElapsedTimer timer;
        timer.start();
        QMetaObject::invokeMethod(panel, "accept", Qt::DirectConnection);
        if (!WaitFor([&] { return result >= 0; }) || result != 1) {
            std::fprintf(stderr, "the list run failed\n");
            return 1;
        }
        const double listSeconds = timer.nsecsElapsed() / 1e9;
        QObject::disconnect(ended);
        delegate.fileList()->RemoveAll();
        if (!ConvertedOnce(listOut, files, false)) {
            std::fprintf(stderr, "the list run did not convert every file once\n");
            return 1;
        }

        // The watch: the burst copied into the watched folder at once.
        const fs::path source = roundDir / "in", destination = roundDir / "out";
        fs::create_directories(source);
        fs::create_directories(destination);
        watchFolder->SetWatchFolderSourceURL(source);
        watchFolder->SetWatchFolderDestinationURL(destination);
        watchFolder->DoFolderWatch(nullptr);
        if (!watchFolder->isWatching()) {
            std::fprintf(stderr, "cannot watch\n");
            return 1;
        }
        WaitFor([] { return false; }, 200);
        timer.start();
        for (const QString& path : paths) {
            const fs::path from = path.toStdString();
            fs::copy_file(from, source / from.filename());
        }
        const double copySeconds = timer.nsecsElapsed() / 1e9;
        if (!WaitFor([&] { return Names(source).empty() && Names(destination).size() == 2 * static_cast<std::size_t>(files); })) {
            std::fprintf(stderr, "the watch did not convert every file\n");
            return 1;
        }
        const double watchSeconds = timer.nsecsElapsed() / 1e9;
        watchFolder->DoFolderWatch(nullptr);
        if (!ConvertedOnce(destination, files, true)) {
            std::fprintf(stderr, "the watch did not convert every file once\n");
            return 1;
        }
        std::printf("round %d: list %.3f s, watch %.3f s (copying %.3f s of it), ratio %.3f\n", round + 1, listSeconds,
                    watchSeconds, copySeconds, watchSeconds / listSeconds);
        std::fflush(stdout);
        listTimes.push_back(listSeconds);
        watchTimes.push_back(watchSeconds);
        fs::remove_all(roundDir);
    }
    const double listBest = *std::min_element(listTimes.begin(), listTimes.end());
    const double watchBest = *std::min_element(watchTimes.begin(), watchTimes.end());
    std::printf("list:  best %.3f s, median %.3f s\n", listBest, Median(listTimes));
    std::printf("watch: best %.3f s, median %.3f s\n", watchBest, Median(watchTimes));
    std::printf("ratio watch/list: %.3f (best times), %.3f (medians)\n", watchBest / listBest,
                Median(watchTimes) / Median(listTimes));
    return 0;
}
