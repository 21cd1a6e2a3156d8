// The preference sheet: its panes, its loading from the general preference file or the built-in
// defaults, its rules, and Apply, Reset and Done.

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>
#include <QToolBar>

#include <functional>
#include <memory>

#include "SettingsTestSupport.h"
#include "settings/PreferenceSheet.h"
#include "settings/SettingsRules.h"

using namespace settings;
using settingstest::Choose;
using settingstest::FakeServices;
using settingstest::MemoryPreferenceStore;

namespace {

void Type(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClicks(field, text);
}

template <typename T>
const T* Get(const PreferenceDictionary& prefs, const char* key) {
    const auto found = prefs.find(key);
    return found == prefs.end() ? nullptr : std::get_if<T>(&found->second);
}

const PreferenceDictionary kStored = {
    {"ImageType", std::int64_t{7}},       {"ColorModel", std::int64_t{3}},
    {"JPEGQuality", 0.555},               {"ImageResolutionOption", std::int64_t{300}},
    {"CreateSeparateFolder", false},      {"OverWriteExistingFile", true},
    {"ProcessingType", std::int64_t{1}},  {"Password", std::string("secret")},
    {"InputType", std::int64_t{3}},       {"Width", std::string("8.5")},
    {"Height", std::string("11")},
};

}  // namespace

class PreferenceSheetTest : public QObject {
    Q_OBJECT
private:
    FakeServices fake;
    MemoryPreferenceStore store;
    bool watching = false;
    std::unique_ptr<QMainWindow> mainWindow;
    PreferenceSheet* sheet = nullptr;
    const GeneralPaneWidgets* g = nullptr;

    QString ResolutionText() const { return g->prefResolutionTypePopUpButtonOutlet->currentText(); }
    QString QualityText() const { return g->prefImageQualityStaticTextOutlet->text(); }
    bool ApplyEnabled() const { return g->applyButtonOutlet->isEnabled(); }

private slots:
    void init() {
        fake = FakeServices();
        store = MemoryPreferenceStore();
        watching = false;
        mainWindow = std::make_unique<QMainWindow>();
        mainWindow->setCentralWidget(new QWidget);
        mainWindow->show();
        PreferenceSheetDependencies deps;
        deps.services = fake.services();
        deps.store = &store;
        deps.isWatching = [this] { return watching; };
        sheet = new PreferenceSheet(mainWindow.get(), deps);
        g = &sheet->general();
    }
    void cleanup() {
        mainWindow.reset();
        sheet = nullptr;
    }

    void sheetAndPanes() {
        QCOMPARE(sheet->objectName(), QStringLiteral("preferencesDialogOutlet"));
        QCOMPARE(sheet->parentWidget(), mainWindow.get());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QVERIFY(!sheet->isVisible());
        QVERIFY(!ApplyEnabled());
        QCOMPARE(sheet->currentPrefSizeFormatType(), 6);

        sheet->OpenWatchFolderPreferences();
        QVERIFY(sheet->isVisible());
        QCOMPARE(sheet->shownPane(), PreferenceSheet::Pane::WatchFolder);
        auto* stack = sheet->findChild<QStackedWidget*>(QStringLiteral("preferencesMainSubview"));
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("WatchFolderOptionsSubview"));
        QVERIFY(sheet->findChild<QAction*>(QStringLiteral("WatchFolderOptions"))->isChecked());
        sheet->DoneButtonAction();
        QVERIFY(!sheet->isVisible());

        // Preferences keeps the pane shown last.
        sheet->Preferences();
        QCOMPARE(sheet->shownPane(), PreferenceSheet::Pane::WatchFolder);
        // The toolbar switches.
        sheet->findChild<QAction*>(QStringLiteral("GeneralOptions"))->trigger();
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("generalOptionsSubview"));
        sheet->findChild<QAction*>(QStringLiteral("WatchFolderOptions"))->trigger();
        QCOMPARE(sheet->shownPane(), PreferenceSheet::Pane::WatchFolder);
        sheet->OpenGeneralPreferencesSettings();
        QCOMPARE(sheet->shownPane(), PreferenceSheet::Pane::General);
        QVERIFY(sheet->findChild<QAction*>(QStringLiteral("GeneralOptions"))->isChecked());
        QCOMPARE(sheet->toolbar()->objectName(), QStringLiteral("prefToolbarOutlet"));
    }

    void watchFolderPaneWidgets() {
        const WatchFolderPaneWidgets& wf = sheet->watchFolder();
        for (const char* name :
             {"watchFolderSourcePathViewCntr", "watchFolderDestinationPathViewCntr", "watchFolderMoveFilesPathViewCntr",
              "watchFolderSourcePathTextField", "watchFolderDestinationPathTextField", "watchFolderMoveFilesPathTextField",
              "selectSourceWatchFolderButtonOutlet", "selectDestinationWatchFolderButtonOutlet",
              "selectMoveFilesWatchFolderButtonOutlet", "openSourceWatchFolderButtonOutlet",
              "openDestinationWatchFolderButtonOutlet", "openMoveFilesWatchFolderButtonOutlet",
              "sourceFileDeletOrMoveMatrixOutlet", "watchButtonOutlet", "watchingSpinningProgressOutlet"})
            QVERIFY2(sheet->findChild<QWidget*>(QLatin1String(name)), name);
        QVERIFY(wf.watchFolderSourcePathTextField->isReadOnly());
        QCOMPARE(wf.watchFolderSourcePathTextField->parentWidget(), wf.watchFolderSourcePathViewCntr);
        QVERIFY(!wf.watchButtonOutlet->isEnabled());
        QCOMPARE(wf.sourceFileDeletOrMoveMatrixGroup->checkedId(), 2);
        for (int tag : {1, 2, 3}) QVERIFY(wf.sourceFileDeletOrMoveMatrixGroup->button(tag));
    }

    void noFileShowsTheBuiltInDefaults() {
        // Whatever the pane held before.
        SelectTag(g->prefDestImageTypePopUpButtonOutlet, 2);
        g->prefWidthTextField->setText(QStringLiteral("99"));
        sheet->Preferences();
        QCOMPARE(SelectedTag(g->prefDestImageTypePopUpButtonOutlet), 4);
        QCOMPARE(SelectedTag(g->prefImageColorModelPopUpButtonOutlet), 1);
        QCOMPARE(sheet->quality(), 0.8);
        QCOMPARE(QualityText(), QStringLiteral("Image Quality (80%):"));
        QCOMPARE(ResolutionText(), QStringLiteral("200"));
        QVERIFY(g->prefCreateSeparateFolderForEachFileOutlet->isChecked());
        QVERIFY(!g->prefOverwriteExistingCheckButton->isChecked());
        QCOMPARE(SelectedTag(g->prefConvertOrExtractOptionPopupOutlet), 1);
        QCOMPARE(g->prefPasswordTextFieldOutlet->text(), QString());
        QCOMPARE(g->prefPasswordTextFieldOutlet->echoMode(), QLineEdit::Password);
        QCOMPARE(SelectedTag(g->prefSizeFormatTypePopupButton), 6);
        QCOMPARE(g->prefWidthTextField->text(), QString());
        QCOMPARE(g->prefHeightTextField->text(), QString());
        QVERIFY(g->prefResolutionTypePopUpButtonOutlet->isEnabled());
        QVERIFY(g->prefImageQualitySliderOutlet->isEnabled());
        QVERIFY(!ApplyEnabled());  // opening does not change Apply
    }

    void opensWithTheStoredValues() {
        store.files[kGeneralPreferenceFile] = kStored;
        sheet->OpenGeneralPreferencesSettings();
        QCOMPARE(SelectedTag(g->prefDestImageTypePopUpButtonOutlet), 7);
        QCOMPARE(SelectedTag(g->prefImageColorModelPopUpButtonOutlet), 3);
        QCOMPARE(sheet->quality(), 0.555);
        QCOMPARE(QualityText(), QStringLiteral("Image Quality (55%):"));
        QCOMPARE(ResolutionText(), QStringLiteral("300"));
        QVERIFY(!g->prefCreateSeparateFolderForEachFileOutlet->isChecked());
        QVERIFY(g->prefOverwriteExistingCheckButton->isChecked());
        QCOMPARE(g->prefPasswordTextFieldOutlet->text(), QStringLiteral("secret"));
        QCOMPARE(SelectedTag(g->prefSizeFormatTypePopupButton), 3);
        QCOMPARE(sheet->currentPrefSizeFormatType(), 3);
        QCOMPARE(g->prefWidthTextField->text(), QStringLiteral("8.5"));
        QCOMPARE(g->prefHeightTextField->text(), QStringLiteral("11"));
        // PNG: no quality, a resolution.
        QVERIFY(!g->prefImageQualitySliderOutlet->isEnabled());
        QVERIFY(!g->prefImageQualityStaticTextOutlet->isEnabled());
        QVERIFY(!g->prefImageQualityBestStaticTextOutlet->isEnabled());
        QVERIFY(g->prefResolutionTypePopUpButtonOutlet->isEnabled());
        // What was read goes back out unchanged.
        PreferenceDictionary out;
        sheet->GetPreferenceValue(&out);
        QVERIFY(out == kStored);
    }

    void storedValuesOutsideTheControlsRanges() {
        store.files[kGeneralPreferenceFile] = {
            {"ImageType", std::int64_t{0}}, {"JPEGQuality", 1.5}, {"ImageResolutionOption", std::int64_t{4609}},
            {"Password", std::int64_t{5}},  // not a string: missing
        };
        sheet->Preferences();
        QCOMPARE(SelectedTag(g->prefDestImageTypePopUpButtonOutlet), 4);
        QCOMPARE(sheet->quality(), 1.0);  // the slider's range holds the stored value
        QCOMPARE(QualityText(), QStringLiteral("Image Quality (100%):"));
        QCOMPARE(ResolutionText(), QStringLiteral("72"));
        QCOMPARE(g->prefPasswordTextFieldOutlet->text(), QString());
        sheet->DoneButtonAction();

        store.files[kGeneralPreferenceFile] = {{"ImageType", std::int64_t{24}}, {"JPEGQuality", -3.0}};
        sheet->Preferences();
        QCOMPARE(SelectedTag(g->prefDestImageTypePopUpButtonOutlet), 4);
        QCOMPARE(sheet->quality(), 0.0);
        QCOMPARE(ResolutionText(), QStringLiteral("200"));  // missing: the list's item at index 3
        sheet->DoneButtonAction();

        // Missing quality: this pane's fallback.
        store.files[kGeneralPreferenceFile] = {{"ImageType", std::int64_t{4}}};
        sheet->Preferences();
        QCOMPARE(sheet->quality(), 0.9);
    }

    void applyWritesTheElevenKeys() {
        sheet->Preferences();
        Choose(g->prefDestImageTypePopUpButtonOutlet, 3);
        QVERIFY(ApplyEnabled());
        g->prefImageQualitySliderOutlet->setValue(555);
        Type(g->prefPasswordTextFieldOutlet, QStringLiteral("pw"));
        Type(g->prefWidthTextField, QStringLiteral("640"));
        g->prefOverwriteExistingCheckButton->click();
        QTest::mouseClick(g->applyButtonOutlet, Qt::LeftButton);

        QCOMPARE(store.writes, 1);
        QVERIFY(!ApplyEnabled());
        QVERIFY(fake.alerts.isEmpty());
        QVERIFY(sheet->isVisible());
        const PreferenceDictionary& written = store.files.at(kGeneralPreferenceFile);
        QCOMPARE(written.size(), std::size_t{11});
        QCOMPARE(*Get<std::int64_t>(written, "ImageType"), Q_INT64_C(3));
        QCOMPARE(*Get<std::int64_t>(written, "ColorModel"), Q_INT64_C(1));
        QCOMPARE(*Get<double>(written, "JPEGQuality"), 0.555);
        QCOMPARE(*Get<std::int64_t>(written, "ImageResolutionOption"), Q_INT64_C(72));  // JPEG 2000 is written at 72
        QCOMPARE(*Get<bool>(written, "CreateSeparateFolder"), true);
        QCOMPARE(*Get<bool>(written, "OverWriteExistingFile"), true);
        QCOMPARE(*Get<std::int64_t>(written, "ProcessingType"), Q_INT64_C(1));
        QCOMPARE(*Get<std::string>(written, "Password"), std::string("pw"));
        QCOMPARE(*Get<std::int64_t>(written, "InputType"), Q_INT64_C(6));
        QCOMPARE(*Get<std::string>(written, "Width"), std::string("640"));
        QCOMPARE(*Get<std::string>(written, "Height"), std::string());

        // The next opening shows what was applied.
        sheet->DoneButtonAction();
        sheet->Preferences();
        QCOMPARE(SelectedTag(g->prefDestImageTypePopUpButtonOutlet), 3);
        QCOMPARE(g->prefWidthTextField->text(), QStringLiteral("640"));
        QCOMPARE(QualityText(), QStringLiteral("Image Quality (55%):"));
    }

    void applyWhileWatching() {
        watching = true;
        sheet->Preferences();
        sheet->ApplyPreferences();
        QCOMPARE(store.writes, 1);
        QCOMPARE(fake.alerts.size(), 1);
        QCOMPARE(fake.alerts[0].title, QStringLiteral("ConversionEffectOnWatchMsg"));
        QCOMPARE(fake.alerts[0].message, QString());
        QCOMPARE(fake.alerts[0].defaultButton, QStringLiteral("OkButtonString"));
        QVERIFY(fake.alerts[0].alternateButton.isEmpty());
        QCOMPARE(fake.alerts[0].window, sheet);
    }

    void applyChecksTheResolution() {
        sheet->Preferences();
        g->prefResolutionTypePopUpButtonOutlet->setEditText(QStringLiteral("5000"));
        sheet->ChangeInPreferencesControl();
        sheet->ApplyPreferences();
        QCOMPARE(store.writes, 0);
        QVERIFY(ApplyEnabled());
        QVERIFY(sheet->isVisible());
        QCOMPARE(fake.alerts.size(), 1);
        QCOMPARE(fake.alerts[0].title, QStringLiteral("InvalidValueTitle:5000"));
        QCOMPARE(fake.alerts[0].window, sheet);

        g->prefResolutionTypePopUpButtonOutlet->setEditText(QStringLiteral("801"));
        fake.answers = {0};
        sheet->ApplyPreferences();
        QCOMPARE(store.writes, 0);
        QCOMPARE(fake.alerts.back().title, QStringLiteral("HighValueTitle:801"));
        fake.answers = {1};
        sheet->ApplyPreferences();
        QCOMPARE(store.writes, 1);
        QCOMPARE(*Get<std::int64_t>(store.files.at(kGeneralPreferenceFile), "ImageResolutionOption"), Q_INT64_C(801));

        // A disabled box passes whatever it holds.
        Choose(g->prefDestImageTypePopUpButtonOutlet, 2);
        QVERIFY(!g->prefResolutionTypePopUpButtonOutlet->isEnabled());
        QCOMPARE(ResolutionText(), QStringLiteral("72"));
        const auto alerts = fake.alerts.size();
        sheet->ApplyPreferences();
        QCOMPARE(store.writes, 2);
        QCOMPARE(fake.alerts.size(), alerts);
    }

    void failedWriteKeepsApply() {
        store.failWrites = true;
        watching = true;
        sheet->Preferences();
        sheet->ChangeInPreferencesControl();
        sheet->ApplyPreferences();
        QCOMPARE(store.writes, 1);
        QVERIFY(ApplyEnabled());
        QVERIFY(fake.alerts.isEmpty());
    }

    void resetThenDoneWritesNothing() {
        store.files[kGeneralPreferenceFile] = kStored;
        sheet->Preferences();
        sheet->ResetDefaultPreferences();
        QVERIFY(ApplyEnabled());
        QCOMPARE(SelectedTag(g->prefDestImageTypePopUpButtonOutlet), 4);
        QCOMPARE(QualityText(), QStringLiteral("Image Quality (80%):"));
        QCOMPARE(ResolutionText(), QStringLiteral("200"));
        QCOMPARE(g->prefPasswordTextFieldOutlet->text(), QString());
        QCOMPARE(SelectedTag(g->prefSizeFormatTypePopupButton), 6);
        QCOMPARE(sheet->currentPrefSizeFormatType(), 6);
        QCOMPARE(g->prefWidthTextField->text(), QString());
        QVERIFY(g->prefImageQualitySliderOutlet->isEnabled());
        QTest::mouseClick(sheet->doneButton(), Qt::LeftButton);
        QVERIFY(!sheet->isVisible());
        QCOMPARE(store.writes, 0);
        QVERIFY(store.files.at(kGeneralPreferenceFile) == kStored);
        sheet->Preferences();
        QCOMPARE(SelectedTag(g->prefDestImageTypePopUpButtonOutlet), 7);
        QCOMPARE(g->prefPasswordTextFieldOutlet->text(), QStringLiteral("secret"));
    }

    void everyEditEnablesApply() {
        const std::vector<std::pair<const char*, std::function<void()>>> edits = {
            {"type", [this] { Choose(g->prefDestImageTypePopUpButtonOutlet, 7); }},
            {"colour", [this] { Choose(g->prefImageColorModelPopUpButtonOutlet, 3); }},
            {"mode", [this] { Choose(g->prefConvertOrExtractOptionPopupOutlet, 2); }},
            {"slider", [this] { QTest::keyClick(g->prefImageQualitySliderOutlet, Qt::Key_Left); }},
            {"resolution list",
             [this] {
                 g->prefResolutionTypePopUpButtonOutlet->setCurrentIndex(4);
                 emit g->prefResolutionTypePopUpButtonOutlet->activated(4);
             }},
            {"resolution typed", [this] { QTest::keyClicks(g->prefResolutionTypePopUpButtonOutlet->lineEdit(), "0"); }},
            {"password", [this] { QTest::keyClicks(g->prefPasswordTextFieldOutlet, "x"); }},
            {"width", [this] { QTest::keyClicks(g->prefWidthTextField, "1"); }},
            {"height", [this] { QTest::keyClicks(g->prefHeightTextField, "1"); }},
            {"separate folders", [this] { g->prefCreateSeparateFolderForEachFileOutlet->click(); }},
            {"overwrite", [this] { g->prefOverwriteExistingCheckButton->click(); }},
            {"unit", [this] { Choose(g->prefSizeFormatTypePopupButton, 2); }},
        };
        for (const auto& [name, edit] : edits) {
            g->applyButtonOutlet->setEnabled(false);
            sheet->Preferences();
            edit();
            QVERIFY2(ApplyEnabled(), name);
            sheet->DoneButtonAction();
        }
        // Program changes do not count.
        g->applyButtonOutlet->setEnabled(false);
        store.files[kGeneralPreferenceFile] = kStored;
        sheet->Preferences();
        sheet->SetPreferenceValue(&kStored);
        sheet->SetPreferencesImageTypeSecondaryOption();
        sheet->ConvertOrExtractPreferencesOptionChange();
        sheet->PrefImageQualitySliderAction();
        QVERIFY(!ApplyEnabled());
    }

    void extractModeHidesTheMultiPageTIFF() {
        sheet->Preferences();
        Choose(g->prefDestImageTypePopUpButtonOutlet, 23);
        Choose(g->prefConvertOrExtractOptionPopupOutlet, 2);
        QCOMPARE(SelectedTag(g->prefDestImageTypePopUpButtonOutlet), 10);
        QVERIFY(IsTagHidden(g->prefDestImageTypePopUpButtonOutlet, 23));
        for (QWidget* off : std::initializer_list<QWidget*>{static_cast<QWidget*>(g->prefImageColorModelPopUpButtonOutlet),
                             static_cast<QWidget*>(g->prefImageColorModelEditFieldOutlet),
                             static_cast<QWidget*>(g->prefResolutionTypePopUpButtonOutlet),
                             static_cast<QWidget*>(g->prefWidthTextField), static_cast<QWidget*>(g->prefHeightLabel),
                             static_cast<QWidget*>(g->prefSizeFormatTypePopupButton), g->prefLockLinesBox2,
                             static_cast<QWidget*>(g->prefLockUnlockImageView)})
            QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
        sheet->ApplyPreferences();
        QCOMPARE(*Get<std::int64_t>(store.files.at(kGeneralPreferenceFile), "ProcessingType"), Q_INT64_C(2));
        QCOMPARE(*Get<std::int64_t>(store.files.at(kGeneralPreferenceFile), "ImageType"), Q_INT64_C(10));

        Choose(g->prefConvertOrExtractOptionPopupOutlet, 1);
        QVERIFY(!IsTagHidden(g->prefDestImageTypePopUpButtonOutlet, 23));
        QCOMPARE(SelectedTag(g->prefDestImageTypePopUpButtonOutlet), 10);
        QVERIFY(g->prefResolutionTypePopUpButtonOutlet->isEnabled());
        QVERIFY(g->prefLockUnlockImageView->isEnabled());

        // A stored extract mode with the multi-page type opens as TIFF.
        sheet->DoneButtonAction();
        store.files[kGeneralPreferenceFile] = {{"ImageType", std::int64_t{23}}, {"ProcessingType", std::int64_t{2}}};
        sheet->Preferences();
        QCOMPARE(SelectedTag(g->prefDestImageTypePopUpButtonOutlet), 10);
    }

    void typeRulesOfThePane() {
        sheet->Preferences();
        SelectTag(g->prefImageColorModelPopUpButtonOutlet, 2);
        g->prefResolutionTypePopUpButtonOutlet->setEditText(QStringLiteral("300"));
        Choose(g->prefDestImageTypePopUpButtonOutlet, 2);  // GIF
        QCOMPARE(SelectedTag(g->prefImageColorModelPopUpButtonOutlet), 1);
        QVERIFY(!IsTagEnabled(g->prefImageColorModelPopUpButtonOutlet, 2));
        QVERIFY(IsTagEnabled(g->prefImageColorModelPopUpButtonOutlet, 3));
        QCOMPARE(ResolutionText(), QStringLiteral("72"));
        QVERIFY(!g->prefResolutionStaticTextOutlet->isEnabled());
        QVERIFY(!g->prefResolutionDpiStaticText->isEnabled());
        QVERIFY(!g->prefImageQualityLowStaticTextOutlet->isEnabled());
        Choose(g->prefDestImageTypePopUpButtonOutlet, 13);  // TIFF in CMYK
        QVERIFY(g->prefResolutionTypePopUpButtonOutlet->isEnabled());
        QVERIFY(!IsTagEnabled(g->prefImageColorModelPopUpButtonOutlet, 3));
        Choose(g->prefDestImageTypePopUpButtonOutlet, 3);  // JPEG 2000
        for (QLabel* label : {g->prefImageQualityStaticTextOutlet, g->prefImageQualityLowStaticTextOutlet,
                              g->prefImageQualityMediumStaticTextOutlet, g->prefImageQualityBestStaticTextOutlet})
            QVERIFY(label->isEnabled());
    }

    void unitChangeInThePane() {
        sheet->Preferences();
        g->prefResolutionTypePopUpButtonOutlet->setEditText(QStringLiteral("200"));
        g->prefWidthTextField->setText(QStringLiteral("612"));
        g->prefHeightTextField->setText(QStringLiteral("792"));
        Choose(g->prefSizeFormatTypePopupButton, kSizePixels);
        QCOMPARE(g->prefWidthTextField->text(), QStringLiteral("1700"));
        QCOMPARE(g->prefHeightTextField->text(), QStringLiteral("2200"));
        QCOMPARE(sheet->currentPrefSizeFormatType(), 2);
        QVERIFY(ApplyEnabled());

        g->prefWidthTextField->setText(QStringLiteral("0"));
        Choose(g->prefSizeFormatTypePopupButton, kSizeInches);
        QCOMPARE(g->prefWidthTextField->text(), QStringLiteral("0"));
        QCOMPARE(g->prefHeightTextField->text(), QStringLiteral("11.00"));

        // Without a resolution the fields keep their values and their unit, and nothing was edited.
        g->applyButtonOutlet->setEnabled(false);
        g->prefResolutionTypePopUpButtonOutlet->setEditText(QString());
        Choose(g->prefSizeFormatTypePopupButton, kSizeCentimetres);
        QCOMPARE(g->prefHeightTextField->text(), QStringLiteral("11.00"));
        QCOMPARE(SelectedTag(g->prefSizeFormatTypePopupButton), int(kSizeInches));
        QCOMPARE(sheet->currentPrefSizeFormatType(), 3);
        QVERIFY(!ApplyEnabled());
    }

    void nullDictionariesDoNothing() {
        sheet->SetPreferenceValue(nullptr);
        sheet->GetPreferenceValue(nullptr);
        PreferenceDictionary out;
        sheet->GetPreferenceValue(&out);
        QCOMPARE(out.size(), std::size_t{11});
    }

    void withoutAStore() {
        PreferenceSheetDependencies deps;
        deps.services = fake.services();
        PreferenceSheet alone(mainWindow.get(), deps);
        alone.Preferences();
        QCOMPARE(SelectedTag(alone.general().prefDestImageTypePopUpButtonOutlet), 4);
        alone.ChangeInPreferencesControl();
        alone.ApplyPreferences();
        QVERIFY(alone.general().applyButtonOutlet->isEnabled());  // nothing could be written
        alone.DoneButtonAction();
    }
};

QTEST_MAIN(PreferenceSheetTest)
#include "PreferenceSheetTest.moc"
