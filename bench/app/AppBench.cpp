// Converts one PDF from the real main window, as a user would: the file added to the list, the
// settings chosen in the window's controls, Convert All into a fresh folder, the result alert
// answered. Prints the time from the destination panel's OK until the progress sheet closes,
// which is what vellipse_bench times for the engine alone with the same settings. Run it on the
// offscreen platform (QT_QPA_PLATFORM=offscreen) from a Release build.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "AppDelegate.h"
#include "BenchSupport.h"
#include "CustomAlert.h"
#include "MainWindow.h"
#include "PopUpItems.h"
#include "engine/ImageConversion.h"
#include "filelist/FileListController.h"
#include "filelist/FileListModel.h"
#include "platform/UserNotification.h"
#include "run/ProgressSheet.h"

namespace fs = std::filesystem;

using bench::Choose;
using bench::WaitFor;

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: vellipse_app_bench [options] file.pdf\n"
                 "  --type N     output type code (7, PNG)\n"
                 "  --dpi N      resolution (150)\n"
                 "  --color N    colour model code (1, RGB)\n"
                 "  --repeat N   convert N times, report each and the best (1)\n");
}

std::uintmax_t FolderBytes(const fs::path& folder) {
    std::uintmax_t total = 0;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
        if (entry.is_regular_file(ec)) total += entry.file_size(ec);
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    int type = kOutputPNG, color = kColorRGB, repeat = 1;
    long dpi = 150;
    QString pdf;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        const QString a = arguments[i];
        const auto next = [&] { return i + 1 < arguments.size() ? arguments[++i] : QString(); };
        if (a == "--type") type = next().toInt();
        else if (a == "--dpi") dpi = next().toLong();
        else if (a == "--color") color = next().toInt();
        else if (a == "--repeat") repeat = std::max(1, next().toInt());
        else if (a.startsWith('-')) {
            Usage();
            return 2;
        } else pdf = QFileInfo(a).absoluteFilePath();
    }
    if (pdf.isEmpty()) {
        Usage();
        return 2;
    }

    // The window's own preference files stay out of it, and nothing is sent to the desktop.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    platform::SetUserNotificationSender([](const platform::UserNotification&) {});
    // The result alert is answered as soon as it shows.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* alert = qobject_cast<AlertDialog*>(w); alert && alert->isVisible())
                if (auto* ok = alert->findChild<QPushButton*>("defaultButton")) ok->click();
    });
    answer.start(20);

    AppDelegate delegate;
    delegate.awakeFromNib();
    delegate.window()->show();
    MainWindow* window = delegate.window();

    delegate.applicationOpenFiles({pdf});
    if (!WaitFor([&] { return delegate.fileList()->model()->size() == 1 && !delegate.fileList()->isAdding(); })) {
        std::fprintf(stderr, "cannot add %s\n", qPrintable(pdf));
        return 1;
    }
    Choose(window->findChild<QComboBox*>("destinationImageTypePopUpOutlet"), type);
    Choose(window->findChild<QComboBox*>("colorModelPopUpOutlet"), color);
    window->findChild<QComboBox*>("imageResolutionPopUpOutlet")->setEditText(QString::number(dpi));
    window->findChild<QCheckBox*>("createSeparateFolderForEachFileButtonOutlet")->setChecked(false);
    const long pages = delegate.fileList()->model()->item(0).numOfPages;
    std::printf("file %s, pages %ld, type %d, %ld dpi, colour %d\n", qPrintable(QFileInfo(pdf).fileName()), pages, type,
                dpi, color);

    double best = 0;
    for (int r = 0; r < repeat; ++r) {
        QTemporaryDir out(QDir::tempPath() + "/vellipse-app-bench-XXXXXX");
        QElapsedTimer timer;
        qint64 started = -1, ended = -1;
        int result = -1;
        const auto sheetClosed = QObject::connect(delegate.progressSheet(), &ProgressSheet::progressStatusChanged,
                                                  &delegate, [&](int code) {
                                                      if (code == ProgressSheet::kStatusFileStarted) started = timer.nsecsElapsed();
                                                      if (code == ProgressSheet::kStatusRunEnded) ended = timer.nsecsElapsed();
                                                  });
        const auto runEnded =
            QObject::connect(&delegate, &AppDelegate::conversionRunEnded, &delegate, [&](int code) { result = code; });

        delegate.ExportAll();
        QFileDialog* panel = delegate.exportPanel();
        if (!panel->isVisible()) {
            std::fprintf(stderr, "no destination panel\n");
            return 1;
        }
        panel->setDirectory(out.path());
        panel->selectFile(out.path());
        timer.start();
        QMetaObject::invokeMethod(panel, "accept", Qt::DirectConnection);
        if (!WaitFor([&] { return result >= 0; })) {
            std::fprintf(stderr, "the run did not end\n");
            return 1;
        }
        QObject::disconnect(sheetClosed);
        QObject::disconnect(runEnded);
        const double seconds = ended / 1e9;
        std::printf("vellipse app: %s, %.3f s wall (%.3f s before the file reached the engine), %.1f pages/s, %ju output "
                    "bytes\n",
                    result == 1 ? "ok" : "FAILED", seconds, started / 1e9, pages / seconds,
                    FolderBytes(fs::path(out.path().toStdString())));
        if (r == 0 || seconds < best) best = seconds;
    }
    std::printf("vellipse app best: %.3f s wall, %.1f pages/s\n", best, pages / best);
    return 0;
}
