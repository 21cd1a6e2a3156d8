// The conversion run from the real main window: starting and giving up, the settings record,
// the per-file output folders and what is removed after a failure, the result report, the
// progress sheet, cancelling, runs that keep to themselves, and quitting during a run.

#include <QAbstractButton>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <qpa/qwindowsysteminterface.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <optional>
#include <thread>

#include "../AlertDriver.h"
#include "../DropTarget.h"
#include "RunTestSupport.h"
#include "TerminationSignals.h"
#include "filelist/ItemBuilder.h"
#include "filelist/PasswordSheet.h"
#include "platform/LocalizedStrings.h"
#include "platform/PdfDocument.h"
#include "support/ImageReader.h"
#include "run/ConversionRun.h"
#include "run/ProgressSheet.h"
#include "settings/ConversionSettingsController.h"
#include "settings/PlistPreferenceStore.h"

using namespace runtest;

namespace {

QString Text(const char* key) { return platform::LocalizedString(key); }

// The engine, with every record it is given noted first.
class EngineSpy {
public:
    // Runs on the worker, after the record is noted and before the engine; its answer replaces
    // the engine's when it gives one.
    std::function<std::optional<std::uint8_t>(const ImageConversion*)> before;

    PdfConverter converter() {
        return [this](const ImageConversion* record) -> std::uint8_t {
            {
                std::lock_guard lock(mutex_);
                records_.push_back(*record);
            }
            if (before)
                if (std::optional<std::uint8_t> answer = before(record)) return *answer;
            return ConvertPDFToImages(record);
        };
    }
    std::vector<ImageConversion> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        records_.clear();
        before = nullptr;
    }

private:
    mutable std::mutex mutex_;
    std::vector<ImageConversion> records_;
};

// A run's progress sheet as it was after each status code.
struct SheetStep {
    int code;
    int fileBar;
    int fileMaximum;
    QString fileLine;
    int pageMaximum;
};

}  // namespace

class ConversionRunTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startingAndGivingUp();
    void recordFromTheControls_data();
    void recordFromTheControls();
    void resultReport_data();
    void resultReport();
    void secondOfThreeFailsWithPerFileFolders();
    void failureRemovesOnlyTheRunsOwnFolder_data();
    void failureRemovesOnlyTheRunsOwnFolder();
    void folderNameClashTakesTheNextName();
    void sameNameFilesGetNumberedFolders();
    void keptTreeIsRebuilt_data();
    void keptTreeIsRebuilt();
    void progressSheetFollowsStatusCodes();
    void progressSheetDuringARun();
    void cancelDuringTheFirstFile();
    void runStateBelongsToEachRun();
    void quitDuringARun_data();
    void quitDuringARun();
    void quitAnswersWaitingQuestions();
    void programEndsDuringARun();
    void sessionEndsDuringARun_data();
    void sessionEndsDuringARun();
    void filesAddedDuringARun();
    void dragOutIsARun_data();
    void dragOutIsARun();
    void endToEndWritesTheImages();
    void cancelWhileTheEngineWorks();

private:
    void Make();
    // Runs Convert All into `destination` and waits for its end; the run's result.
    std::optional<int> RunAll(const fs::path& destination);

    std::unique_ptr<testpdf::TempDir> dir_;
    std::unique_ptr<App> app_;
    std::unique_ptr<NotificationCatcher> notifications_;
    std::unique_ptr<AlertDriver> alerts_;
    EngineSpy engine_;
};

void ConversionRunTest::init() {
    dir_ = std::make_unique<testpdf::TempDir>();
    notifications_ = std::make_unique<NotificationCatcher>();
    Make();
}

void ConversionRunTest::Make() {
    alerts_.reset();
    app_.reset();
    engine_.clear();
    app_ = std::make_unique<App>();
    QVERIFY(app_->exposed);
    app_->delegate->setPdfConverter(engine_.converter());
    alerts_ = std::make_unique<AlertDriver>();
}

void ConversionRunTest::cleanup() {
    alerts_.reset();
    app_.reset();
    notifications_.reset();
    dir_.reset();
}

std::optional<int> ConversionRunTest::RunAll(const fs::path& destination) {
    QSignalSpy ended(app_->delegate.get(), &AppDelegate::conversionRunEnded);
    if (!app_->ConvertAllInto(destination)) {
        qWarning("no destination panel");
        return std::nullopt;
    }
    if (!app_->WaitForRunEnd(ended)) {
        qWarning("the run did not end");
        return std::nullopt;
    }
    const int result = ended.first().first().toInt();
    return result ? std::optional<int>(result) : std::nullopt;
}

void ConversionRunTest::startingAndGivingUp() {
    QFileDialog* panel = app_->delegate->exportPanel();
    // An empty list: neither command starts anything.
    app_->delegate->ExportAll();
    app_->delegate->Export();
    QVERIFY(!panel->isVisible());

    const fs::path a = WritePdf(*dir_ / "a.pdf");
    const fs::path b = WritePdf(*dir_ / "b.pdf");
    QVERIFY(app_->Add({a, b}));
    // Convert with no row selected does nothing.
    app_->Outlet<QTableView>("imageListTable")->clearSelection();
    app_->delegate->Export();
    QVERIFY(!panel->isVisible());

    // Invalid settings: their alert, and no panel.
    app_->Choose("pageRangeTypePopUpButtonOutlet", kPageRangeFromTo);
    app_->Outlet<QLineEdit>("pageRangeStartTextFieldOutlet")->setText("5");
    app_->Outlet<QLineEdit>("pageRangeEndTextFieldOutlet")->setText("2");
    app_->Action("exportAllMenuItem")->trigger();
    QTRY_COMPARE(alerts_->count(), 1);
    QCOMPARE(alerts_->titles().first(), Text("WrongPageRangeWarningTitle"));
    QVERIFY(!panel->isVisible());
    app_->Choose("pageRangeTypePopUpButtonOutlet", kPageRangeAll);

    // The panel: window-modal, folders only, titled after the Convert button.
    app_->Action("exportAllMenuItem")->trigger();
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->windowModality(), Qt::WindowModal);
    QCOMPARE(panel->fileMode(), QFileDialog::Directory);
    QCOMPARE(panel->windowTitle(), app_->Outlet<QPushButton>("exportButton")->text());
    QCOMPARE(panel->labelText(QFileDialog::Accept), app_->Outlet<QPushButton>("exportButton")->text());
    // Cancelled: nothing runs, and the items are let go.
    panel->reject();
    QVERIFY(!app_->delegate->currentRun());
    QVERIFY(engine_.records().empty());

    // A later Convert starts afresh, with the selected row only.
    app_->delegate->fileList()->SelectRowStartingAtRow(1, 1);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    QSignalSpy ended(app_->delegate.get(), &AppDelegate::conversionRunEnded);
    app_->Action("exportMenuItem")->trigger();
    QVERIFY(app_->AnswerPanel(out));
    QVERIFY(app_->delegate->currentRun());
    QVERIFY(app_->WaitForRunEnd(ended));
    QCOMPARE(engine_.records().size(), std::size_t{1});
    QCOMPARE(engine_.records().front().sourceURL, b);
}

void ConversionRunTest::recordFromTheControls_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("quality");
    QTest::addColumn<QString>("resolution");
    QTest::addColumn<int>("color");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("rangeType");
    QTest::addColumn<int>("overwrite");  // in the preference file: -1 absent, 0 or 1
    // Expected.
    QTest::addColumn<double>("recordQuality");
    QTest::addColumn<int>("recordResolution");
    QTest::addColumn<bool>("resize");

    QTest::newRow("JPEG at 300 dpi, 200 px wide") << int(kOutputJPEG) << 0.55 << "300" << int(kColorRGB) << "200" << "0"
                                                  << int(kSizePixels) << int(kPageRangeAll) << -1 << 0.55 << 300 << true;
    QTest::newRow("GIF with the box at 300 carries 72") << int(kOutputGIF) << 0.5 << "300" << int(kColorRGB) << "0"
                                                        << "0" << int(kSizePoints) << int(kPageRangeAll) << 0 << 0.0
                                                        << 72 << false;
    QTest::newRow("TGA with the slider at 0.5: no quality") << int(kOutputTGA) << 0.5 << "150" << int(kColorRGB) << "0"
                                                            << "3" << int(kSizeInches) << int(kPageRangeSingle) << 1
                                                            << 0.0 << 72 << true;
    QTest::newRow("JPEG 2000 keeps its quality, at 72") << int(kOutputJPEG2000) << 0.3 << "150" << int(kColorRGB) << "0"
                                                        << "0" << int(kSizePoints) << int(kPageRangeFromTo) << 1 << 0.3
                                                        << 72 << false;
    QTest::newRow("TIFF in CMYK at 72 although the box is on")
        << int(kOutputTIFFCMYK) << 0.8 << "240" << int(kColorRGB) << "0" << "0" << int(kSizePoints) << int(kPageRangeAll)
        << -1 << 0.0 << 72 << false;
    QTest::newRow("TIFF in CMYK colours, 2.5 cm high") << int(kOutputTIFF) << 0.8 << "96" << int(kColorCMYK) << "0"
                                                       << "2.5" << int(kSizeCentimetres) << int(kPageRangeAll) << 0
                                                       << 0.0 << 96 << true;
    QTest::newRow("multi-page TIFF in grey") << int(kOutputMultiPageTIFF) << 0.8 << "200" << int(kColorGray) << "0"
                                             << "0" << int(kSizePoints) << int(kPageRangeAll) << 1 << 0.0 << 200
                                             << false;
}

void ConversionRunTest::recordFromTheControls() {
    QFETCH(int, type);
    QFETCH(double, quality);
    QFETCH(QString, resolution);
    QFETCH(int, color);
    QFETCH(QString, width);
    QFETCH(QString, height);
    QFETCH(int, unit);
    QFETCH(int, rangeType);
    QFETCH(int, overwrite);
    QFETCH(double, recordQuality);
    QFETCH(int, recordResolution);
    QFETCH(bool, resize);

    if (overwrite >= 0) {
        settings::PlistPreferenceStore store;
        QVERIFY(store.Write({{"OverWriteExistingFile", overwrite == 1}}, settings::kGeneralPreferenceFile));
    }
    const fs::path pdf = WritePdf(*dir_ / "in" / "doc.pdf", 3);
    QVERIFY(app_->Add({pdf}));

    app_->Choose("destinationImageTypePopUpOutlet", type);
    app_->Choose("colorModelPopUpOutlet", color);
    app_->delegate->settingsController()->setQuality(quality);
    app_->Outlet<QComboBox>("imageResolutionPopUpOutlet")->setEditText(resolution);
    // The unit first: choosing it converts the size already typed.
    app_->Choose("sizeFormatTypePopupButton", unit);
    app_->Outlet<QLineEdit>("widthTextField")->setText(width);
    app_->Outlet<QLineEdit>("heightTextField")->setText(height);
    app_->Choose("pageRangeTypePopUpButtonOutlet", rangeType);
    app_->Outlet<QLineEdit>("pageRangeStartTextFieldOutlet")->setText("2");
    app_->Outlet<QLineEdit>("pageRangeEndTextFieldOutlet")->setText("3");
    app_->SetPerFileFolders(true);

    std::shared_ptr<run::ConversionRun> run;
    QObject::connect(app_->delegate->progressSheet(), &ProgressSheet::progressStatusChanged, app_->delegate.get(),
                     [&](int) { if (!run) run = app_->delegate->currentRun(); });
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    QCOMPARE(RunAll(out), std::optional<int>(run::kAllConverted));
    QVERIFY(run);

    QCOMPARE(engine_.records().size(), std::size_t{1});
    const ImageConversion r = engine_.records().front();
    const ImageConversionOptions& o = r.conversionOptions;
    QCOMPARE(o.imageType, type);
    QCOMPARE(o.compressionQuality, recordQuality);
    QCOMPARE(o.outputResolution, std::int64_t{recordResolution});
    QCOMPARE(o.colorModel, color);
    QCOMPARE(r.resizeEnabled, std::uint8_t(resize ? 1 : 0));
    if (resize) {
        QCOMPARE(r.resizeOptions.targetWidth, width.toDouble());
        QCOMPARE(r.resizeOptions.targetHeight, height.toDouble());
        QCOMPARE(r.resizeOptions.sizeUnit, unit);
        QCOMPARE(r.resizeOptions.keepAspectRatio, std::uint8_t{1});
        QCOMPARE(r.resizeOptions.resizeToTarget, std::uint8_t{1});
        QCOMPARE(r.resizeOptions.allowEnlarging, std::uint8_t{0});
        QCOMPARE(r.resizeOptions.sharpen, std::uint8_t{0});
        QCOMPARE(r.resizeOptions.fitMode, 2);
    } else {
        QCOMPARE(r.resizeOptions.targetWidth, 0.0);
        QCOMPARE(r.resizeOptions.sizeUnit, 0);
    }
    QCOMPARE(o.pageRangeType, rangeType);
    // The page fields are read whatever the range type.
    QCOMPARE(o.startPage, std::int64_t{2});
    QCOMPARE(o.endPage, std::int64_t{3});
    QCOMPARE(r.overwriteExistingFile, std::uint8_t(overwrite == 1 ? 1 : 0));
    QVERIFY(!r.outputBaseName);
    QCOMPARE(r.numberPagesFromRangeStart, std::uint8_t{0});
    // Completed for the file: its source, its (empty) password, its own folder; the run is the
    // progress target.
    QCOMPARE(r.sourceURL, pdf);
    QCOMPARE(o.password.value_or("-"), std::string());
    QCOMPARE(r.outputFolderURL, out / "doc");
    QVERIFY(r.progressCallback.progressTarget == run.get());
    QVERIFY(r.progressCallback.progressSelector == &ProgressTarget::UpdatePageProgressStatus);
}

void ConversionRunTest::resultReport_data() {
    QTest::addColumn<int>("failing");  // how many of the two files are removed before the run
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("offersDestination");
    QTest::addColumn<bool>("opensDestination");
    QTest::newRow("all converted, OK") << 0 << "defaultButton" << 1 << Text("SuccessfullConvertMsg") << QString() << true
                                       << false;
    QTest::newRow("all converted, Open Destination")
        << 0 << "alterButton" << 1 << Text("SuccessfullConvertMsg") << QString() << true << true;
    QTest::newRow("all converted, Escape") << 0 << "escape" << 1 << Text("SuccessfullConvertMsg") << QString() << true
                                           << false;
    QTest::newRow("some failed, Open Destination")
        << 1 << "alterButton" << 2 << Text("SuccessfullFailureConvertMsgForImage") << Text("FailureConvertMsgForImage")
        << true << true;
    QTest::newRow("none converted") << 2 << "escape" << 3 << Text("FailureConvertMsgTitleForImage")
                                    << Text("FailureConvertMsgForImage") << false << false;
}

void ConversionRunTest::resultReport() {
    QFETCH(int, failing);
    QFETCH(QString, button);
    QFETCH(int, result);
    QFETCH(QString, title);
    QFETCH(QString, message);
    QFETCH(bool, offersDestination);
    QFETCH(bool, opensDestination);

    const fs::path a = WritePdf(*dir_ / "a.pdf");
    const fs::path b = WritePdf(*dir_ / "b.pdf");
    QVERIFY(app_->Add({a, b}));
    if (failing >= 1) fs::remove(b);
    if (failing >= 2) fs::remove(a);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);

    UrlCatcher urls;
    bool hasAlternate = false;
    alerts_->setButton(button);
    alerts_->setOnShow([&](AlertDialog* dialog) { hasAlternate = dialog->findChild<QPushButton*>("alterButton"); });
    QCOMPARE(RunAll(out), std::optional<int>(result));

    // The notification: "Conversion Completed", the alert's title and text on two lines.
    const auto sent = notifications_->seen();
    QCOMPARE(sent.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(sent.front().title), Text("Conversion Completed"));
    QCOMPARE(QString::fromStdString(sent.front().text), title + "\n" + message);
    // The alert on the main window.
    QCOMPARE(alerts_->count(), 1);
    QCOMPARE(alerts_->titles().first(), title);
    QCOMPARE(alerts_->messages().first(), message);
    QCOMPARE(hasAlternate, offersDestination);
    QCOMPARE(urls.opened, opensDestination ? QList<QUrl>{QUrl::fromLocalFile(Q(out))} : QList<QUrl>{});
}

void ConversionRunTest::secondOfThreeFailsWithPerFileFolders() {
    const fs::path a = WritePdf(*dir_ / "in" / "first.pdf");
    const fs::path b = WritePdf(*dir_ / "in" / "second.pdf");
    const fs::path c = WritePdf(*dir_ / "in" / "third.pdf");
    QVERIFY(app_->Add({a, b, c}));
    fs::remove(b);  // gone from the disk after it was added
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    std::ofstream(out / "kept.txt") << "someone's file";

    QCOMPARE(RunAll(out), std::optional<int>(run::kSomeFailed));
    // The engine was asked once per file, each into a folder of its own; the second's is gone,
    // and nothing else of the destination was touched.
    const auto records = engine_.records();
    QCOMPARE(records.size(), std::size_t{3});
    QCOMPARE(records[1].outputFolderURL, out / "second");
    QCOMPARE(Entries(out), (std::set<std::string>{"first", "kept.txt", "third"}));
    QCOMPARE(Entries(out / "first"), std::set<std::string>{"first.jpg"});
    QCOMPARE(Entries(out / "third"), std::set<std::string>{"third.jpg"});
}

void ConversionRunTest::failureRemovesOnlyTheRunsOwnFolder_data() {
    QTest::addColumn<bool>("perFileFolders");
    QTest::addColumn<QString>("inTheWay");  // what holds the file's folder name: "", "folder", "file"
    QTest::addColumn<QString>("output");    // where the engine was told to write, below the destination
    QTest::newRow("own folder made and removed") << true << "" << "doc";
    QTest::newRow("someone's folder stays, the next name is ours") << true << "folder" << "doc 1";
    QTest::newRow("no folder of its own: the destination stays") << true << "file" << "";
    QTest::newRow("no per-file folders: the destination stays") << false << "" << "";
}

void ConversionRunTest::failureRemovesOnlyTheRunsOwnFolder() {
    QFETCH(bool, perFileFolders);
    QFETCH(QString, inTheWay);
    QFETCH(QString, output);

    const fs::path pdf = WritePdf(*dir_ / "doc.pdf");
    QVERIFY(app_->Add({pdf}));
    app_->SetPerFileFolders(perFileFolders);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    std::ofstream(out / "kept.txt") << "x";
    if (inTheWay == "folder") {
        fs::create_directory(out / "doc");
        std::ofstream(out / "doc" / "theirs.txt") << "y";
    } else if (inTheWay == "file") {
        std::ofstream(out / "doc") << "a file named like the folder";
    }
    const std::set<std::string> before = Entries(out);
    // The engine writes a page into the folder, then fails.
    engine_.before = [](const ImageConversion* record) -> std::optional<std::uint8_t> {
        std::ofstream(record->outputFolderURL / "doc-1.png") << "partial";
        return std::uint8_t{0};
    };
    QCOMPARE(RunAll(out), std::optional<int>(run::kNoneConverted));
    QCOMPARE(engine_.records().front().outputFolderURL, output.isEmpty() ? out : out / output.toStdString());

    std::set<std::string> expected = before;
    // Written into the destination itself, the page stays: the destination is never removed.
    if (output.isEmpty()) expected.insert("doc-1.png");
    QCOMPARE(Entries(out), expected);
    if (inTheWay == "folder") QCOMPARE(Entries(out / "doc"), std::set<std::string>{"theirs.txt"});
    if (inTheWay == "file") QVERIFY(fs::is_regular_file(out / "doc"));
}

void ConversionRunTest::folderNameClashTakesTheNextName() {
    const fs::path pdf = WritePdf(*dir_ / "report.pdf");
    QVERIFY(app_->Add({pdf}));
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directories(out / "report");
    std::ofstream(out / "report" / "old.png") << "old";
    const auto stamp = fs::last_write_time(out / "report");

    QCOMPARE(RunAll(out), std::optional<int>(run::kAllConverted));
    QCOMPARE(engine_.records().front().outputFolderURL, out / "report 1");
    QVERIFY(fs::is_directory(out / "report 1"));
    // The folder that was there is untouched.
    QCOMPARE(Entries(out / "report"), std::set<std::string>{"old.png"});
    QCOMPARE(fs::last_write_time(out / "report"), stamp);
}

void ConversionRunTest::sameNameFilesGetNumberedFolders() {
    const fs::path x = WritePdf(*dir_ / "x" / "name.pdf");
    const fs::path y = WritePdf(*dir_ / "y" / "name.pdf");
    QVERIFY(app_->Add({x, y}));
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    QCOMPARE(RunAll(out), std::optional<int>(run::kAllConverted));
    const auto records = engine_.records();
    QCOMPARE(records.size(), std::size_t{2});
    QCOMPARE(records[0].sourceURL, x);
    QCOMPARE(records[0].outputFolderURL, out / "name");
    QCOMPARE(records[1].sourceURL, y);
    QCOMPARE(records[1].outputFolderURL, out / "name 1");
    QCOMPARE(Entries(out), (std::set<std::string>{"name", "name 1"}));
}

void ConversionRunTest::keptTreeIsRebuilt_data() {
    QTest::addColumn<bool>("perFileFolders");
    QTest::newRow("per-file folders off") << false;
    QTest::newRow("per-file folders on") << true;
}

void ConversionRunTest::keptTreeIsRebuilt() {
    QFETCH(bool, perFileFolders);
    const fs::path added = *dir_ / "added";
    const fs::path top = WritePdf(added / "top.pdf");
    const fs::path deep = WritePdf(added / "a" / "b" / "deep.pdf");
    // The items the adding makes for a folder added with its tree kept.
    const QString folder = Q(added);
    for (const fs::path& file : {top, deep}) {
        std::optional<ImageListItem> item = MakeImageListItem(Q(file), &folder, true, {});
        QVERIFY(item && item->parentFolderName);
        app_->model()->InsertItem(app_->model()->size(), std::move(*item));
    }
    app_->SetPerFileFolders(perFileFolders);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    QCOMPARE(RunAll(out), std::optional<int>(run::kAllConverted));

    const auto records = engine_.records();
    QCOMPARE(records.size(), std::size_t{2});
    // A file directly in the added folder lands in the destination itself; one in a/b in a/b.
    QCOMPARE(records[0].outputFolderURL, perFileFolders ? out / "top" : out);
    QCOMPARE(records[1].outputFolderURL, perFileFolders ? out / "a" / "b" / "deep" : out / "a" / "b");
    QVERIFY(fs::is_directory(records[1].outputFolderURL));
    // The added folder's own name is not repeated.
    QVERIFY(!fs::exists(out / "added"));
}

void ConversionRunTest::progressSheetFollowsStatusCodes() {
    ProgressSheet& sheet = *app_->delegate->progressSheet();
    auto counters = std::make_shared<ProgressCounters>();
    counters->numOfFilesForConversion = 3;
    sheet.BeginProgressSheet(counters);
    QVERIFY(sheet.isVisible());
    QCOMPARE(sheet.parentWidget(), app_->delegate->window());
    // While it is up the window's controls take no input: only quitting, closing and hiding
    // stay, from the menus and, by their shortcuts, from the sheet.
    QVERIFY(!app_->Outlet<QWidget>("windowView")->isEnabled());
    QVERIFY(!app_->Outlet<QWidget>("mainToolbar")->isEnabled());
    for (const char* name : {"addImageMenuItem", "exportAllMenuItem", "removeAllMenuItem", "preferencesMenuItemOutlet",
                             "watchFolderOptionMenuItemOutlet", "aboutMenuItemOutlet"})
        QVERIFY2(!app_->Action(name)->isEnabled(), name);
    for (const char* name : {"quitMenuItemOutlet", "closeWindowMenuItem", "hideMenuItemOutlet"}) {
        QVERIFY2(app_->Action(name)->isEnabled(), name);
        QVERIFY2(sheet.actions().contains(app_->Action(name)), name);
    }
    // The list's commands stay held when the list changes meanwhile.
    app_->delegate->ResetUIControls();
    QVERIFY(!app_->Action("addImageMenuItem")->isEnabled());
    QTest::keySequence(app_->delegate->window(), QKeySequence::Open);
    QVERIFY(!app_->delegate->fileList()->openPanel()->isVisible());
    QCOMPARE(sheet.fileBar()->value(), 0);
    QCOMPARE(sheet.fileBar()->maximum(), 5);
    QCOMPARE(sheet.fileLine()->text(), QString());
    QCOMPARE(sheet.pageLine()->text(), QString());

    sheet.ChangeProgressStatus(1);
    QCOMPARE(sheet.fileBar()->value(), 1);
    QCOMPARE(sheet.fileLine()->text(), platform::LocalizedFormat("Exporting", 0, 3, QString()));

    // A file of 10 pages: the page bar counts to 10, the line shows the engine's page numbers.
    counters->currentProcessingPDFFileName = "a %2.pdf";
    sheet.ResetPageProcessingProgressBar(10);
    QCOMPARE(sheet.pageBar()->maximum(), 10);
    QCOMPARE(sheet.pageBar()->value(), 0);
    QCOMPARE(sheet.pageLine()->text(), platform::LocalizedFormat("ProcessingPage", 0));
    sheet.ChangeProgressStatus(3);
    QCOMPARE(counters->fileProcessingIndex, 1);
    QCOMPARE(sheet.fileBar()->value(), 2);
    QCOMPARE(sheet.fileLine()->text(), platform::LocalizedFormat("Exporting", 1, 3, QString("a %2.pdf")));
    for (int page : {5, 6, 7}) sheet.UpdatePageProgressStatus(page);
    QCOMPARE(sheet.pageLine()->text(), platform::LocalizedFormat("ProcessingPage", 7));
    QCOMPARE(sheet.pageBar()->value(), 3);

    // Codes outside 0..5 change nothing; 0, 2 and 4 only advance the file bar.
    for (int code : {6, 7, -1}) sheet.ChangeProgressStatus(code);
    QCOMPARE(sheet.fileBar()->value(), 2);
    const QString line = sheet.fileLine()->text();
    sheet.ChangeProgressStatus(4);
    QCOMPARE(sheet.fileBar()->value(), 3);
    QCOMPARE(sheet.fileLine()->text(), line);

    // No page count keeps the maximum; a count of 0 is a bar of 1, never a busy animation.
    sheet.ResetPageProcessingProgressBar(std::nullopt);
    QCOMPARE(sheet.pageBar()->maximum(), 10);
    sheet.ResetPageProcessingProgressBar(0);
    QCOMPARE(sheet.pageBar()->maximum(), 1);
    QCOMPARE(sheet.pageBar()->minimum(), 0);
    // Bars stop at their maximum.
    for (int i = 0; i < 4; ++i) sheet.UpdatePageProgressStatus(i + 1);
    QCOMPARE(sheet.pageBar()->value(), 1);
    for (int i = 0; i < 4; ++i) sheet.ChangeProgressStatus(5);
    QCOMPARE(sheet.fileBar()->value(), 5);

    // Escape asks the run to stop; the sheet stays until the run closes it.
    QSignalSpy cancel(&sheet, &ProgressSheet::cancelConversion);
    QTest::keyClick(&sheet, Qt::Key_Escape);
    QCOMPARE(cancel.count(), 1);
    QVERIFY(sheet.isVisible());
    sheet.cancelButton()->click();
    QCOMPARE(cancel.count(), 2);
    sheet.EndProgressSheet();
    QVERIFY(!sheet.isVisible());
    QVERIFY(!sheet.Shows(counters.get()));
    // The window's controls are back.
    QVERIFY(app_->Outlet<QWidget>("windowView")->isEnabled());
    QVERIFY(app_->Outlet<QWidget>("mainToolbar")->isEnabled());
    for (const char* name : {"addImageMenuItem", "preferencesMenuItemOutlet", "aboutMenuItemOutlet"})
        QVERIFY2(app_->Action(name)->isEnabled(), name);

    // The next run starts from a fresh sheet; an empty run still has a bar of at least 1.
    sheet.BeginProgressSheet(std::make_shared<ProgressCounters>());
    QCOMPARE(sheet.fileBar()->value(), 0);
    QCOMPARE(sheet.fileBar()->maximum(), 2);
    QCOMPARE(sheet.pageBar()->maximum(), 1);
    QCOMPARE(sheet.fileLine()->text(), QString());
    sheet.EndProgressSheet();
}

void ConversionRunTest::progressSheetDuringARun() {
    const fs::path a = WritePdf(*dir_ / "a.pdf", 2);
    const fs::path b = WritePdf(*dir_ / "b.pdf", 4);
    QVERIFY(app_->Add({a, b}));
    // A third file found in an added folder whose tree is kept, whose sub-folder cannot be made
    // below the destination (a plain file holds its name): it never reaches the engine.
    const fs::path added = *dir_ / "added";
    const fs::path c = WritePdf(added / "sub" / "c.pdf", 1);
    const QString folder = Q(added);
    std::optional<ImageListItem> item = MakeImageListItem(Q(c), &folder, true, {});
    QVERIFY(item);
    app_->model()->InsertItem(2, std::move(*item));
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    std::ofstream(out / "sub") << "in the way";

    ProgressSheet* sheet = app_->delegate->progressSheet();
    std::vector<SheetStep> steps;
    QObject::connect(sheet, &ProgressSheet::progressStatusChanged, app_->delegate.get(), [&](int code) {
        steps.push_back({code, sheet->fileBar()->value(), sheet->fileBar()->maximum(), sheet->fileLine()->text(),
                         sheet->pageBar()->maximum()});
        QVERIFY(sheet->isVisible());
    });
    QCOMPARE(RunAll(out), std::optional<int>(run::kSomeFailed));
    QVERIFY(!sheet->isVisible());
    QCOMPARE(engine_.records().size(), std::size_t{2});

    QCOMPARE(steps.size(), std::size_t{4});
    // 0 of 5 at the start, then one step per status.
    QCOMPARE(steps[0].code, 1);
    QCOMPARE(steps[0].fileBar, 1);
    QCOMPARE(steps[0].fileMaximum, 5);
    QCOMPARE(steps[0].fileLine, platform::LocalizedFormat("Exporting", 0, 3, QString()));
    QCOMPARE(steps[1].code, 3);
    QCOMPARE(steps[1].fileBar, 2);
    QCOMPARE(steps[1].fileLine, platform::LocalizedFormat("Exporting", 1, 3, QString("a.pdf")));
    // The page bar's maximum is the document's page count.
    QCOMPARE(steps[1].pageMaximum, 2);
    QCOMPARE(steps[2].code, 3);
    QCOMPARE(steps[2].fileBar, 3);
    QCOMPARE(steps[2].fileLine, platform::LocalizedFormat("Exporting", 2, 3, QString("b.pdf")));
    QCOMPARE(steps[2].pageMaximum, 4);
    // The file that never reached the engine sent no step: the bar ends one short.
    QCOMPARE(steps[3].code, 5);
    QCOMPARE(steps[3].fileBar, 4);
    QCOMPARE(steps[3].fileLine, steps[2].fileLine);
}

void ConversionRunTest::cancelDuringTheFirstFile() {
    std::vector<fs::path> files;
    for (const char* name : {"one.pdf", "two.pdf", "three.pdf"}) files.push_back(WritePdf(*dir_ / name, 2));
    QVERIFY(app_->Add(files));
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);

    // Cancel as the first file starts.
    ProgressSheet* sheet = app_->delegate->progressSheet();
    auto cancelling = QObject::connect(sheet, &ProgressSheet::progressStatusChanged, app_->delegate.get(), [sheet](int code) {
        if (code == ProgressSheet::kStatusFileStarted) sheet->cancelButton()->click();
    });
    QCOMPARE(RunAll(out), std::optional<int>());
    QObject::disconnect(cancelling);
    // No alert, no notification; the other files were never started; nothing is left behind.
    QTest::qWait(50);
    QCOMPARE(alerts_->count(), 0);
    QVERIFY(notifications_->seen().empty());
    QVERIFY(engine_.records().empty());
    QVERIFY(Entries(out).empty());
    QVERIFY(!sheet->isVisible());

    // The window is ready for the next run.
    QCOMPARE(RunAll(out), std::optional<int>(run::kAllConverted));
    QCOMPARE(Entries(out), (std::set<std::string>{"one", "three", "two"}));
}

void ConversionRunTest::runStateBelongsToEachRun() {
    const fs::path a = WritePdf(*dir_ / "a.pdf");
    const fs::path b = WritePdf(*dir_ / "b.pdf");
    QVERIFY(app_->Add({a, b}));
    app_->SetPerFileFolders(true);
    const fs::path first = *dir_ / "first";
    const fs::path second = *dir_ / "second";
    fs::create_directory(first);
    fs::create_directory(second);

    // The first run is cancelled as it starts; it is kept to look at afterwards.
    ProgressSheet* sheet = app_->delegate->progressSheet();
    std::shared_ptr<run::ConversionRun> earlier;
    auto cancelling = QObject::connect(sheet, &ProgressSheet::progressStatusChanged, app_->delegate.get(), [&](int code) {
        if (code != ProgressSheet::kStatusRunStarted) return;
        earlier = app_->delegate->currentRun();
        sheet->cancelButton()->click();
    });
    QCOMPARE(RunAll(first), std::optional<int>());
    QObject::disconnect(cancelling);
    QVERIFY(earlier);
    QVERIFY(earlier->isConversionCancelled());

    // The second run has its own flag, items and destination; the first one's late page
    // reports do not reach the second run's sheet.
    QString pageLine;
    int pageBar = -1;
    QObject::connect(sheet, &ProgressSheet::progressStatusChanged, app_->delegate.get(), [&](int code) {
        if (code != ProgressSheet::kStatusFileStarted) return;
        QVERIFY(app_->delegate->currentRun() != earlier);
        QVERIFY(!app_->delegate->currentRun()->isConversionCancelled());
        earlier->UpdatePageProgressStatus(9);
        pageLine = sheet->pageLine()->text();
        pageBar = sheet->pageBar()->value();
    });
    app_->delegate->fileList()->SelectRowStartingAtRow(1, 1);
    QSignalSpy ended(app_->delegate.get(), &AppDelegate::conversionRunEnded);
    app_->Action("exportMenuItem")->trigger();
    QVERIFY(app_->AnswerPanel(second));
    QVERIFY(app_->WaitForRunEnd(ended));
    QCOMPARE(ended.first().first().toInt(), run::kAllConverted);
    QCOMPARE(pageLine, platform::LocalizedFormat("ProcessingPage", 0));
    QCOMPARE(pageBar, 0);

    // What the later run did left the earlier one as it was.
    QVERIFY(earlier->isConversionCancelled());
    QCOMPARE(earlier->destination(), first);
    QCOMPARE(earlier->items().size(), std::size_t{2});
    QVERIFY(!earlier->result());
    QCOMPARE(Entries(first), std::set<std::string>{});
    QCOMPARE(Entries(second), std::set<std::string>{"b"});
}

void ConversionRunTest::quitDuringARun_data() {
    // How the user asks: the Quit command, closing the window (by the program, by the window
    // manager's close button on the window or on the sheet), or the Quit and Close shortcuts
    // typed while the sheet has the focus.
    QTest::addColumn<QString>("route");
    QTest::addColumn<QString>("answer");
    QTest::newRow("Quit") << "quit" << "defaultButton";
    QTest::newRow("keep running") << "quit" << "alterButton";
    QTest::newRow("Escape: keep running") << "quit" << "escape";
    QTest::newRow("window closed, Quit") << "close" << "defaultButton";
    QTest::newRow("window closed, keep running") << "close" << "alterButton";
    QTest::newRow("close button of the window, Quit") << "window manager" << "defaultButton";
    QTest::newRow("close button of the window, keep running") << "window manager" << "alterButton";
    QTest::newRow("close button of the sheet, Quit") << "sheet's close button" << "defaultButton";
    QTest::newRow("close button of the sheet, keep running") << "sheet's close button" << "alterButton";
    QTest::newRow("Quit shortcut in the sheet, Quit") << "Quit shortcut" << "defaultButton";
    QTest::newRow("Quit shortcut in the sheet, keep running") << "Quit shortcut" << "alterButton";
    QTest::newRow("Close shortcut in the sheet, Quit") << "Close shortcut" << "defaultButton";
}

void ConversionRunTest::quitDuringARun() {
    QFETCH(QString, route);
    QFETCH(QString, answer);
    const bool quits = answer == "defaultButton";
    const bool closeWindow = route != "quit" && route != "Quit shortcut";
    const fs::path a = WritePdf(*dir_ / "a.pdf", 2);
    const fs::path b = WritePdf(*dir_ / "b.pdf", 2);
    QVERIFY(app_->Add({a, b}));
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);

    // The first file is in the engine, writing pages, until the run is cancelled or let go;
    // then it says it finished.
    std::atomic<bool> inEngine{false}, letGo{false};
    engine_.before = [&](const ImageConversion* record) -> std::optional<std::uint8_t> {
        if (record->sourceURL != a) return std::nullopt;
        std::ofstream(record->outputFolderURL / "a-1.png") << "page";
        inEngine = true;
        while (!record->progressCallback.progressTarget->isConversionCancelled() && !letGo)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return std::uint8_t{1};
    };
    QSignalSpy approved(app_->delegate.get(), &AppDelegate::terminationApproved);
    QSignalSpy ended(app_->delegate.get(), &AppDelegate::conversionRunEnded);
    QVERIFY(app_->ConvertAllInto(out));
    QTRY_VERIFY_WITH_TIMEOUT(inEngine.load(), 60000);

    ProgressSheet* sheet = app_->delegate->progressSheet();
    QVERIFY(sheet->isVisible());
    QVERIFY(QTest::qWaitForWindowActive(sheet));
    alerts_->setButton(answer);
    if (route == "close") {
        QCOMPARE(app_->delegate->window()->close(), quits);
    } else if (route == "quit") {
        app_->Action("quitMenuItemOutlet")->trigger();
    } else if (route == "window manager" || route == "sheet's close button") {
        QWidget* closed = route == "window manager" ? static_cast<QWidget*>(app_->delegate->window()) : sheet;
        QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(closed->windowHandle());
    } else {
        QCOMPARE(QApplication::activeWindow(), sheet);
        QTest::keyClick(QApplication::activeWindow(), route == "Quit shortcut" ? Qt::Key_Q : Qt::Key_W,
                        Qt::ControlModifier);
    }
    QTRY_COMPARE(alerts_->count(), 1);
    QTRY_COMPARE(app_->delegate->window()->isVisible(), !(closeWindow && quits));
    QCOMPARE(alerts_->count(), 1);
    QCOMPARE(alerts_->titles().first(), Text("QuitDuringConversionTitle"));
    if (quits) {
        // Asked, cancelled, waited for: by the time the quit is approved the worker has ended
        // and the unfinished file's folder is gone; nothing is reported.
        QCOMPARE(approved.count(), 1);
        QVERIFY(!app_->delegate->currentRun());
        QVERIFY(!app_->delegate->progressSheet()->isVisible());
        QVERIFY(Entries(out).empty());
        QCOMPARE(engine_.records().size(), std::size_t{1});
        QTest::qWait(50);
        QVERIFY(notifications_->seen().empty());
        QCOMPARE(alerts_->count(), 1);
    } else {
        // The run goes on and ends as usual, the sheet still up.
        QCOMPARE(approved.count(), 0);
        QVERIFY(app_->delegate->currentRun());
        QVERIFY(!app_->delegate->currentRun()->isConversionCancelled());
        QVERIFY(sheet->isVisible());
        alerts_->setButton("defaultButton");
        letGo = true;
        QVERIFY(app_->WaitForRunEnd(ended));
        QCOMPARE(ended.first().first().toInt(), run::kAllConverted);
        QCOMPARE(Entries(out), (std::set<std::string>{"a", "b"}));
        QCOMPARE(notifications_->seen().size(), std::size_t{1});
    }
}

void ConversionRunTest::quitAnswersWaitingQuestions() {
    // 1. A password question of an add request is up while a run goes on.
    const fs::path a = WritePdf(*dir_ / "a.pdf");
    QVERIFY(app_->Add({a}));
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    std::atomic<bool> inEngine{false};
    engine_.before = [&](const ImageConversion* record) -> std::optional<std::uint8_t> {
        inEngine = true;
        while (!record->progressCallback.progressTarget->isConversionCancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return std::nullopt;
    };
    QVERIFY(app_->ConvertAllInto(out));
    QTRY_VERIFY_WITH_TIMEOUT(inEngine.load(), 60000);
    const fs::path locked = WriteLockedPdf(*dir_ / "locked.pdf", "secret");
    // A later launch hands a protected file over.
    app_->delegate->applicationOpenFiles({Q(locked)});
    PasswordSheet* password = app_->delegate->fileList()->passwordSheet();
    QTRY_VERIFY_WITH_TIMEOUT(password->isAsking(), 60000);

    QSignalSpy approved(app_->delegate.get(), &AppDelegate::terminationApproved);
    app_->Action("quitMenuItemOutlet")->trigger();
    QCOMPARE(approved.count(), 1);
    QVERIFY(!app_->delegate->currentRun());
    // The question was answered (Cancel): the add request ends without the file.
    QVERIFY(!password->isAsking());
    QTRY_VERIFY_WITH_TIMEOUT(!app_->delegate->fileList()->isAdding(), 60000);
    QCOMPARE(app_->model()->size(), 1);
    QVERIFY(Entries(out).empty());

    // 2. The result alert is up when the program quits: it is dismissed (the folder is not
    // opened) and the run ends without waiting for the user.
    Make();
    QVERIFY(app_->Add({a}));
    UrlCatcher urls;
    QSignalSpy approvedAgain(app_->delegate.get(), &AppDelegate::terminationApproved);
    bool asked = false;
    alerts_->setButton("wait");
    alerts_->setOnShow([&](AlertDialog*) {
        if (asked) return;
        asked = true;
        QTimer::singleShot(0, app_->delegate.get(), [&] {
            alerts_->setButton("defaultButton");
            app_->delegate->terminate();
        });
    });
    QVERIFY(app_->ConvertAllInto(out));
    QTRY_COMPARE_WITH_TIMEOUT(approvedAgain.count(), 1, 60000);
    QCOMPARE(alerts_->titles(), (QStringList{Text("SuccessfullConvertMsg"), Text("QuitDuringConversionTitle")}));
    QTRY_VERIFY(!app_->delegate->currentRun());
    QVERIFY(urls.opened.isEmpty());
}

void ConversionRunTest::sessionEndsDuringARun_data() {
    QTest::addColumn<int>("number");
    QTest::newRow("SIGTERM (logout)") << SIGTERM;
    QTest::newRow("SIGINT (Ctrl+C in a terminal)") << SIGINT;
}

void ConversionRunTest::sessionEndsDuringARun() {
    QFETCH(int, number);
    const fs::path a = WritePdf(*dir_ / "a.pdf");
    const fs::path b = WritePdf(*dir_ / "b.pdf");
    QVERIFY(app_->Add({a, b}));
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    std::atomic<bool> inEngine{false};
    engine_.before = [&](const ImageConversion* record) -> std::optional<std::uint8_t> {
        std::ofstream(record->outputFolderURL / "a-1.png") << "page";
        inEngine = true;
        while (!record->progressCallback.progressTarget->isConversionCancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return std::uint8_t{1};
    };
    // The program's wiring of the signals.
    TerminationSignals endOfSession;
    QVERIFY(endOfSession.isInstalled());
    connect(&endOfSession, &TerminationSignals::received, app_->delegate.get(), &AppDelegate::EndSession);
    QSignalSpy approved(app_->delegate.get(), &AppDelegate::terminationApproved);
    QVERIFY(app_->ConvertAllInto(out));
    QTRY_VERIFY_WITH_TIMEOUT(inEngine.load(), 60000);

    QCOMPARE(::kill(::getpid(), number), 0);
    QTRY_COMPARE_WITH_TIMEOUT(approved.count(), 1, 20000);
    // Nothing asked; the run stopped, the unfinished file's folder removed, the second file
    // never started, nothing reported.
    QCOMPARE(alerts_->count(), 0);
    QVERIFY(!app_->delegate->currentRun());
    QVERIFY(!app_->delegate->progressSheet()->isVisible());
    QVERIFY(Entries(out).empty());
    QCOMPARE(engine_.records().size(), std::size_t{1});
    QTest::qWait(50);
    QVERIFY(notifications_->seen().empty());
}

void ConversionRunTest::programEndsDuringARun() {
    // The delegate goes (the program ends some other way) while a file is in the engine: the
    // worker is stopped and waited for, and the unfinished file's folder removed.
    const fs::path a = WritePdf(*dir_ / "a.pdf");
    QVERIFY(app_->Add({a}));
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    std::atomic<bool> inEngine{false}, left{false};
    engine_.before = [&](const ImageConversion* record) -> std::optional<std::uint8_t> {
        inEngine = true;
        while (!record->progressCallback.progressTarget->isConversionCancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        left = true;
        return std::uint8_t{1};
    };
    QVERIFY(app_->ConvertAllInto(out));
    QTRY_VERIFY_WITH_TIMEOUT(inEngine.load(), 60000);
    alerts_.reset();
    app_.reset();
    QVERIFY(left.load());
    QVERIFY(Entries(out).empty());
    QVERIFY(notifications_->seen().empty());
    Make();
}

void ConversionRunTest::filesAddedDuringARun() {
    const fs::path a = WritePdf(*dir_ / "a.pdf");
    const fs::path b = WritePdf(*dir_ / "b.pdf");
    QVERIFY(app_->Add({a, b}));
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);
    std::atomic<bool> inEngine{false}, letGo{false};
    engine_.before = [&](const ImageConversion* record) -> std::optional<std::uint8_t> {
        if (record->sourceURL != b) return std::nullopt;
        inEngine = true;
        while (!letGo) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return std::nullopt;
    };
    QSignalSpy ended(app_->delegate.get(), &AppDelegate::conversionRunEnded);
    QVERIFY(app_->ConvertAllInto(out));
    QTRY_VERIFY_WITH_TIMEOUT(inEngine.load(), 60000);
    ProgressSheet* sheet = app_->delegate->progressSheet();
    const int fileBar = sheet->fileBar()->value();
    const QString fileLine = sheet->fileLine()->text();
    QCOMPARE(fileBar, 3);

    // A later launch hands a file over: it is added beside the run, whose sheet keeps its
    // progress through the busy switch.
    QVERIFY(app_->Add({WritePdf(*dir_ / "c.pdf")}));
    QCOMPARE(sheet->fileBar()->value(), fileBar);
    QCOMPARE(sheet->fileLine()->text(), fileLine);
    QVERIFY(sheet->isVisible());
    letGo = true;
    QVERIFY(app_->WaitForRunEnd(ended));
    QCOMPARE(ended.first().first().toInt(), run::kAllConverted);
    // The run converted what it was started with.
    QCOMPARE(engine_.records().size(), std::size_t{2});
    QCOMPARE(app_->model()->size(), 3);
}

void ConversionRunTest::dragOutIsARun_data() {
    QTest::addColumn<bool>("cancel");
    QTest::newRow("runs to its end") << false;
    QTest::newRow("cancelled on the sheet") << true;
}

void ConversionRunTest::dragOutIsARun() {
    QFETCH(bool, cancel);
    const fs::path good = WritePdf(*dir_ / "good.pdf", 2, 200, 100);
    const fs::path bad = WritePdf(*dir_ / "bad.pdf");
    QVERIFY(app_->Add({good, bad}));
    fs::remove(bad);
    // A protected file, with the password it was added with.
    const fs::path locked = WriteLockedPdf(*dir_ / "locked.pdf", "pw");
    std::optional<ImageListItem> item = MakeImageListItem(
        Q(locked), nullptr, false, [](platform::PdfDocument& document, const QString&) {
            return document.AcceptsPassword("pw") ? std::optional<std::string>("pw") : std::nullopt;
        });
    QVERIFY(item);
    app_->model()->InsertItem(2, std::move(*item));
    app_->SetPerFileFolders(true);
    app_->Choose("destinationImageTypePopUpOutlet", kOutputPNG);
    app_->Outlet<QComboBox>("imageResolutionPopUpOutlet")->setEditText("18");
    const fs::path drop = *dir_ / "drop";
    fs::create_directory(drop);

    // The first file stays in the engine until it is let go or the run is cancelled.
    std::atomic<bool> inEngine{false}, letGo{false};
    engine_.before = [&](const ImageConversion* record) -> std::optional<std::uint8_t> {
        if (record->sourceURL != good) return std::nullopt;
        inEngine = true;
        while (!record->progressCallback.progressTarget->isConversionCancelled() && !letGo)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (record->progressCallback.progressTarget->isConversionCancelled()) return std::uint8_t{0};
        return std::nullopt;
    };
    QSignalSpy ended(app_->delegate.get(), &AppDelegate::conversionRunEnded);
    FileListModel* model = app_->model();
    std::unique_ptr<QMimeData> drag(model->mimeData({model->index(0, 0), model->index(1, 0), model->index(2, 0)}));
    FolderDropTarget target(Q(drop));
    // The drop returns at once with the promised names: the run goes on on its worker, with
    // the progress sheet up, while the window answers.
    QVERIFY(DragAndDrop(&target, QPoint(5, 5), drag.get()));
    QCOMPARE(target.names, (QStringList{"good", "bad", "locked"}));
    QVERIFY(app_->delegate->currentRun());
    QTRY_VERIFY_WITH_TIMEOUT(inEngine.load(), 60000);
    ProgressSheet* sheet = app_->delegate->progressSheet();
    QVERIFY(sheet->isVisible());
    QTRY_COMPARE(sheet->fileLine()->text(), platform::LocalizedFormat("Exporting", 1, 3, QString("good.pdf")));
    // One run at a time: another drop meanwhile starts nothing.
    std::unique_ptr<QMimeData> again(model->mimeData({model->index(0, 0)}));
    FolderDropTarget other(Q(dir_->path()));
    QVERIFY(!DragAndDrop(&other, QPoint(5, 5), again.get()));

    if (cancel) {
        sheet->cancelButton()->click();
        QVERIFY(app_->WaitForRunEnd(ended));
        // A cancelled run reports nothing; the unfinished file's folder is gone, the others
        // never started.
        QCOMPARE(ended.first().first().toInt(), 0);
        QCOMPARE(engine_.records().size(), std::size_t{1});
        QVERIFY(Entries(drop).empty());
        QTest::qWait(50);
        QCOMPARE(alerts_->count(), 0);
        QVERIFY(notifications_->seen().empty());
        return;
    }
    letGo = true;
    QVERIFY(app_->WaitForRunEnd(ended));
    QCOMPARE(ended.first().first().toInt(), run::kSomeFailed);
    QCOMPARE(alerts_->titles(), QStringList{Text("SuccessfullFailureConvertMsgForImage")});
    // The run is the engine's progress target; each file into a folder of its own in the drop
    // folder, the protected one unlocked with its password, the failed one leaving nothing.
    const auto records = engine_.records();
    QCOMPARE(records.size(), std::size_t{3});
    QVERIFY(records[0].progressCallback.progressTarget != nullptr);
    QCOMPARE(records[2].conversionOptions.password.value_or("?"), std::string("pw"));
    QCOMPARE(Entries(drop), (std::set<std::string>{"good", "locked"}));
    QCOMPARE(Entries(drop / "good"), (std::set<std::string>{"good-1.png", "good-2.png"}));
    QCOMPARE(Entries(drop / "locked"), std::set<std::string>{"locked.png"});
    // 200 by 100 points at 18 dpi.
    QCOMPARE(QImage(Q(drop / "good" / "good-2.png")).size(), QSize(50, 25));
}

void ConversionRunTest::endToEndWritesTheImages() {
    const fs::path single = WritePdf(*dir_ / "in" / "single.pdf", 1, 144, 72);
    const fs::path twelve = WritePdf(*dir_ / "in" / "twelve.pdf", 12, 144, 72);
    QVERIFY(app_->Add({single, twelve}));
    app_->Choose("destinationImageTypePopUpOutlet", kOutputPNG);
    app_->Outlet<QComboBox>("imageResolutionPopUpOutlet")->setEditText("36");
    app_->Choose("pageRangeTypePopUpButtonOutlet", kPageRangeFromTo);
    app_->Outlet<QLineEdit>("pageRangeStartTextFieldOutlet")->setText("9");
    app_->Outlet<QLineEdit>("pageRangeEndTextFieldOutlet")->setText("11");
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);

    std::multiset<qint64> pages;
    ProgressSheet* sheet = app_->delegate->progressSheet();
    QObject::connect(sheet, &ProgressSheet::pageProgressChanged, app_->delegate.get(),
                     [&](qint64 page) { pages.insert(page); });
    QCOMPARE(RunAll(out), std::optional<int>(run::kAllConverted));

    // Named as the engine names them: the base name, then for a document of two pages or more
    // a hyphen and the page number padded to the digits of the page count.
    QCOMPARE(Entries(out), (std::set<std::string>{"single", "twelve"}));
    QCOMPARE(Entries(out / "single"), std::set<std::string>{"single.png"});
    QCOMPARE(Entries(out / "twelve"), (std::set<std::string>{"twelve-09.png", "twelve-10.png", "twelve-11.png"}));
    for (const fs::path& file : {out / "single" / "single.png", out / "twelve" / "twelve-10.png"}) {
        const testimage::Decoded image = testimage::DecodeWithPil(file);
        QVERIFY2(image.ok(), image.error.c_str());
        QCOMPARE(image.format, std::string("PNG"));
        QCOMPARE(image.width, 72);  // 144 points at 36 dpi
        QCOMPARE(image.height, 36);
        QCOMPARE(std::lround(image.dpiX), 36L);
    }
    // Every page reported reached the sheet before it closed: the range of the second file on a
    // bar as long as its document.
    QCOMPARE(pages, (std::multiset<qint64>{1, 9, 10, 11}));
    QCOMPARE(sheet->pageBar()->maximum(), 12);
    QCOMPARE(sheet->pageBar()->value(), 3);

    // Without per-file folders the images go into the destination; a name already taken gets
    // the next number (the preference file does not ask to overwrite).
    app_->Choose("pageRangeTypePopUpButtonOutlet", kPageRangeAll);
    app_->delegate->fileList()->SelectRowStartingAtRow(0, 1);
    app_->SetPerFileFolders(false);
    for (int round = 0; round < 2; ++round) {
        QSignalSpy ended(app_->delegate.get(), &AppDelegate::conversionRunEnded);
        app_->Action("exportMenuItem")->trigger();
        QVERIFY(app_->AnswerPanel(out));
        QVERIFY(app_->WaitForRunEnd(ended));
    }
    QCOMPARE(Entries(out), (std::set<std::string>{"single", "single 1.png", "single.png", "twelve"}));
    QCOMPARE(Entries(out / "single"), std::set<std::string>{"single.png"});
}

void ConversionRunTest::cancelWhileTheEngineWorks() {
    std::vector<fs::path> files;
    for (const char* name : {"one.pdf", "two.pdf", "three.pdf"}) files.push_back(WritePdf(*dir_ / name, 40, 300, 300));
    QVERIFY(app_->Add(files));
    app_->Choose("destinationImageTypePopUpOutlet", kOutputPNG);
    app_->Outlet<QComboBox>("imageResolutionPopUpOutlet")->setEditText("72");
    app_->SetPerFileFolders(true);
    const fs::path out = *dir_ / "out";
    fs::create_directory(out);

    // Cancel as the first page of the first file is reported.
    ProgressSheet* sheet = app_->delegate->progressSheet();
    QObject::connect(sheet, &ProgressSheet::pageProgressChanged, app_->delegate.get(),
                     [sheet] { sheet->cancelButton()->click(); });
    QCOMPARE(RunAll(out), std::optional<int>());
    QTest::qWait(50);
    QCOMPARE(alerts_->count(), 0);
    QVERIFY(notifications_->seen().empty());
    // The engine was asked once; the other files were never started.
    QCOMPARE(engine_.records().size(), std::size_t{1});
    const std::set<std::string> left = Entries(out);
    QVERIFY(left.empty() || left == std::set<std::string>{"one"});
    // Whatever the first file left is its own pages only.
    for (const std::string& name : Entries(out / "one")) QVERIFY2(name.rfind("one-", 0) == 0, name.c_str());
}

QTEST_MAIN(ConversionRunTest)
#include "ConversionRunTest.moc"
