// The main window with every part in place: the settings controls found and wired, a PDF
// added the way the file manager hands it over, the controls following the output type, the
// preference sheet over the real preference file, and pictures of the window.

#include <QAbstractSlider>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

#include "../AlertDriver.h"
#include "ProgressHUDView.h"
#include "RunTestSupport.h"
#include "Stepper.h"
#include "platform/LocalizedStrings.h"
#include "run/ProgressSheet.h"
#include "settings/ConversionSettingsController.h"
#include "settings/PreferenceSheet.h"
#include "settings/SettingsControls.h"

using namespace runtest;

class IntegratedWindowTest : public QObject {
    Q_OBJECT
private slots:
    void everySettingsControlIsFound();
    void pdfAddedAsTheFileManagerHandsItOver();
    void typeMenuLeadsTheOtherControls();
    void preferenceSheetOverThePreferenceFile();
    void renderWindow();
};

void IntegratedWindowTest::everySettingsControlIsFound() {
    App app;
    // The controller works on the window's own controls, which carry their outlet names.
    const settings::MainSettingsWidgets& widgets = app.delegate->settingsController()->widgets();
    QCOMPARE(widgets.pageRangeEndStepperOutlet, app.Outlet<Stepper>("pageRangeEndStepperOutlet"));
    QCOMPARE(widgets.destinationImageTypePopUpOutlet, app.Outlet<QComboBox>("destinationImageTypePopUpOutlet"));
    QCOMPARE(widgets.createSeparateFolderForEachFileButtonOutlet,
             app.Outlet<QCheckBox>("createSeparateFolderForEachFileButtonOutlet"));
    QCOMPARE(widgets.convertTitleTargets,
             (QList<QObject*>{app.Outlet<QObject>("exportButton"), app.Outlet<QObject>("exportMenuItem"),
                              app.Outlet<QObject>("exportContextMenuItem"), app.Outlet<QObject>("exportToolbarButtonItem")}));

    // Stepping a page number is seen by the page field once the range can be edited.
    app.Choose("pageRangeTypePopUpButtonOutlet", kPageRangeFromTo);
    auto* stepper = app.Outlet<Stepper>("pageRangeEndStepperOutlet");
    QVERIFY(stepper->isEnabled());
    stepper->setValue(4);
    stepper->stepUp();
    QCOMPARE(app.Outlet<QLineEdit>("pageRangeEndTextFieldOutlet")->text(), QString("5"));
}

void IntegratedWindowTest::pdfAddedAsTheFileManagerHandsItOver() {
    testpdf::TempDir dir;
    const fs::path pdf = WritePdf(dir / "Quarterly report.pdf", 3, 200, 100);
    App app;
    QVERIFY(app.exposed);
    QVERIFY(!app.Action("exportAllMenuItem")->isEnabled());

    QSignalSpy busy(app.delegate->fileList(), &FileListController::busyStateChanged);
    bool spinning = false;
    QObject::connect(app.delegate->fileList(), &FileListController::busyStateChanged, app.delegate.get(), [&](int code) {
        if (code == kBusyCode) spinning = app.Outlet<ProgressHUDView>("addSpinView")->spinProgressIndicator()->isAnimating();
    });
    QVERIFY(app.Add({pdf}));
    // The busy switch of the request: the overlay turned while the file was added, then stopped.
    QCOMPARE(busy.count(), 2);
    QCOMPARE(busy.at(0).first().toInt(), kBusyCode);
    QCOMPARE(busy.at(1).first().toInt(), kIdleCode);
    QVERIFY(spinning);
    QVERIFY(!app.Outlet<ProgressHUDView>("addSpinView")->spinProgressIndicator()->isAnimating());

    // The row, in the window's table.
    auto* table = app.Outlet<QTableView>("imageListTable");
    QCOMPARE(table->model(), static_cast<QAbstractItemModel*>(app.model()));
    QCOMPARE(table->model()->rowCount(), 1);
    QCOMPARE(table->model()->index(0, FileListModel::kFilePathColumn).data().toString(), Q(pdf));
    QCOMPARE(table->model()->index(0, FileListModel::kNumOfPagesColumn).data().toString(), QString("3"));
    QCOMPARE(table->model()->index(0, FileListModel::kSizeColumn).data().toString(), QString("200 x 100"));
    QVERIFY(!table->model()->index(0, FileListModel::kIconColumn).data(Qt::DecorationRole).isNull());
    // The new row is selected; the commands follow.
    QCOMPARE(table->selectionModel()->selectedRows().size(), 1);
    for (const char* name : {"exportMenuItem", "exportAllMenuItem", "removeMenuItem", "revealInFinderContextMenuItem"})
        QVERIFY2(app.Action(name)->isEnabled(), name);
    QVERIFY(app.Outlet<QPushButton>("exportAllButton")->isEnabled());

    // Added again, at the list's end; Select All, Remove.
    QVERIFY(app.Add({pdf}));
    QCOMPARE(app.model()->size(), 2);
    app.Action("selectAllMenuItem")->trigger();
    QCOMPARE(table->selectionModel()->selectedRows().size(), 2);
    QVERIFY(!app.Action("revealInFinderContextMenuItem")->isEnabled());
    app.Action("removeMenuItem")->trigger();
    QCOMPARE(app.model()->size(), 0);
    QVERIFY(!app.Action("exportMenuItem")->isEnabled());
    QVERIFY(!app.Outlet<QToolButton>("removeAllToolbarItem")->isEnabled());
}

void IntegratedWindowTest::typeMenuLeadsTheOtherControls() {
    App app;
    auto* resolution = app.Outlet<QComboBox>("imageResolutionPopUpOutlet");
    auto* quality = app.Outlet<QAbstractSlider>("imageCompressionQuaitySliderOutlet");
    auto* colors = app.Outlet<QComboBox>("colorModelPopUpOutlet");

    // GIF: written at 72 dpi in RGB, without a quality.
    app.Choose("colorModelPopUpOutlet", kColorCMYK);
    app.Choose("destinationImageTypePopUpOutlet", kOutputGIF);
    QVERIFY(!resolution->isEnabled());
    QCOMPARE(resolution->currentText(), QString("72"));
    QVERIFY(!quality->isEnabled());
    QVERIFY(!settings::IsTagEnabled(colors, kColorCMYK));
    QCOMPARE(settings::SelectedTag(colors), int(kColorRGB));

    // JPEG: every control back, the quality label showing the slider's value.
    app.Choose("destinationImageTypePopUpOutlet", kOutputJPEG);
    QVERIFY(resolution->isEnabled());
    QVERIFY(quality->isEnabled());
    QVERIFY(settings::IsTagEnabled(colors, kColorCMYK));
    app.delegate->settingsController()->setQuality(0.42);
    QCOMPARE(app.Outlet<QLabel>("imageCompressionQuaityLabelOutlet")->text(), QString("JPEG Quality (42%):"));

    // Extracting images: no multi-page TIFF, no resolution or size; the commands say Extract.
    app.Choose("destinationImageTypePopUpOutlet", kOutputMultiPageTIFF);
    app.Choose("convertOrExtractOptionPopupOutlet", 2);
    QCOMPARE(settings::SelectedTag(app.Outlet<QComboBox>("destinationImageTypePopUpOutlet")), int(kOutputTIFF));
    QVERIFY(settings::IsTagHidden(app.Outlet<QComboBox>("destinationImageTypePopUpOutlet"), kOutputMultiPageTIFF));
    QVERIFY(!app.Outlet<QWidget>("widthTextField")->isEnabled());
    QCOMPARE(app.Outlet<QPushButton>("exportButton")->text(), platform::LocalizedString("ExtractTitle"));
    QCOMPARE(app.Action("exportAllMenuItem")->text(), platform::LocalizedString("ExtractAllTitle"));
    app.Choose("convertOrExtractOptionPopupOutlet", 1);
    QCOMPARE(app.Outlet<QPushButton>("exportButton")->text(), platform::LocalizedString("ConvertTitle"));

    // A run reads what the controls show.
    ImageConversion record{};
    QVERIFY(app.delegate->GetConversionSettings(&record));
    QCOMPARE(record.conversionOptions.imageType, int(kOutputTIFF));
}

void IntegratedWindowTest::preferenceSheetOverThePreferenceFile() {
    QTemporaryDir config;
    {
        App app(config.path());
        settings::PreferenceSheet* sheet = app.delegate->preferenceSheet();
        QVERIFY(!sheet->isVisible());
        app.Action("preferencesMenuItemOutlet")->trigger();
        QVERIFY(sheet->isVisible());
        QCOMPARE(sheet->parentWidget(), app.delegate->window());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->shownPane(), settings::PreferenceSheet::Pane::General);
        QCOMPARE(sheet->windowTitle(), platform::LocalizedString("PreferencesWindowTitle"));
        // The built-in defaults, since there is no file yet.
        QCOMPARE(settings::SelectedTag(sheet->general().prefDestImageTypePopUpButtonOutlet), int(kOutputJPEG));

        // PNG at 150 dpi, applied: the file is written.
        QComboBox* type = sheet->general().prefDestImageTypePopUpButtonOutlet;
        const int png = popup::IndexOfTag(type, kOutputPNG);
        type->setCurrentIndex(png);
        emit type->activated(png);
        sheet->general().prefResolutionTypePopUpButtonOutlet->setEditText("150");
        sheet->ChangeInPreferencesControl();
        QVERIFY(sheet->general().applyButtonOutlet->isEnabled());
        sheet->general().applyButtonOutlet->click();
        QVERIFY(!sheet->general().applyButtonOutlet->isEnabled());
        QVERIFY(QFileInfo::exists(config.path() + "/vellipse/org.vellipse.Vellipse-Pref.plist"));
        sheet->doneButton()->click();
        QVERIFY(!sheet->isVisible());

        // The watch-folder pane by its own command.
        app.Action("watchFolderOptionMenuItemOutlet")->trigger();
        QVERIFY(sheet->isVisible());
        QCOMPARE(sheet->shownPane(), settings::PreferenceSheet::Pane::WatchFolder);
        QVERIFY(sheet->watchFolder().watchButtonOutlet);
        sheet->doneButton()->click();
        QVERIFY(!sheet->isVisible());
        app.Action("generalSettingMenuItemOutlet")->trigger();
        QCOMPARE(sheet->shownPane(), settings::PreferenceSheet::Pane::General);
        QCOMPARE(settings::SelectedTag(sheet->general().prefDestImageTypePopUpButtonOutlet), int(kOutputPNG));
        sheet->doneButton()->click();
    }
    // The next start of the program takes the stored defaults.
    App again(config.path());
    QCOMPARE(settings::SelectedTag(again.Outlet<QComboBox>("destinationImageTypePopUpOutlet")), int(kOutputPNG));
    QCOMPARE(again.Outlet<QComboBox>("imageResolutionPopUpOutlet")->currentText(), QString("150"));
    QVERIFY(!again.Outlet<QAbstractSlider>("imageCompressionQuaitySliderOutlet")->isEnabled());
}

void IntegratedWindowTest::renderWindow() {
    testpdf::TempDir dir;
    App app;
    QVERIFY(app.exposed);
    QVERIFY(app.Add({WritePdf(dir / "Annual report 2023.pdf", 12, 595, 842), WritePdf(dir / "Brochure.pdf", 4, 612, 792),
                     WritePdf(dir / "Invoice %2 <draft>.pdf", 1, 300, 200)}));
    app.delegate->fileList()->SelectRowStartingAtRow(1, 1);
    app.Choose("destinationImageTypePopUpOutlet", kOutputPNG);
    app.delegate->window()->resize(980, 640);
    auto* table = app.Outlet<QTableView>("imageListTable");
    QTRY_COMPARE(table->horizontalHeader()->length(), table->viewport()->width());

    const QString folder = QStringLiteral(VELLIPSE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(app.delegate->window()->grab().toImage().save(folder + "/integrated-window.png"));

    // The progress sheet as a run shows it.
    ProgressSheet* sheet = app.delegate->progressSheet();
    auto counters = std::make_shared<ProgressCounters>();
    counters->numOfFilesForConversion = 3;
    sheet->BeginProgressSheet(counters);
    sheet->ChangeProgressStatus(ProgressSheet::kStatusRunStarted);
    counters->currentProcessingPDFFileName = "Brochure.pdf";
    sheet->ResetPageProcessingProgressBar(4);
    sheet->ChangeProgressStatus(ProgressSheet::kStatusFileStarted);
    sheet->ChangeProgressStatus(ProgressSheet::kStatusFileStarted);
    sheet->UpdatePageProgressStatus(1);
    sheet->UpdatePageProgressStatus(2);
    QApplication::processEvents();
    QVERIFY(sheet->grab().toImage().save(folder + "/progress-sheet.png"));
    sheet->EndProgressSheet();

    // The preference sheet's general pane.
    app.Action("preferencesMenuItemOutlet")->trigger();
    QApplication::processEvents();
    QVERIFY(app.delegate->preferenceSheet()->grab().toImage().save(folder + "/preference-sheet.png"));
    app.delegate->preferenceSheet()->doneButton()->click();
}

QTEST_MAIN(IntegratedWindowTest)
#include "IntegratedWindowTest.moc"
