// The main window's settings controls following one another, their checks before a run, the
// record they fill and their loading from the general preference file.

#include <initializer_list>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include "NumberFields.h"
#include "Stepper.h"
#include <QTest>

#include <memory>

#include "SettingsTestSupport.h"
#include "settings/ConversionSettingsController.h"
#include "settings/SettingsRules.h"

using namespace settings;
using settingstest::Choose;
using settingstest::FakeServices;
using settingstest::MemoryPreferenceStore;

namespace {

// Replaces a field's text in one edit, as a paste does.
void Paste(QLineEdit* field, const QString& text) {
    field->setText(text);
    emit field->textEdited(text);
}

// Replaces a field's text by typing.
void Type(QLineEdit* field, const QString& text) {
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Backspace);
    else
        QTest::keyClicks(field, text);
}


class TestTarget : public ProgressTarget {
public:
    bool isConversionCancelled() override { return false; }
};

}  // namespace

class ConversionSettingsControllerTest : public QObject {
    Q_OBJECT
private:
    FakeServices fake;
    MemoryPreferenceStore store;
    std::unique_ptr<QMainWindow> window;
    MainSettingsWidgets w;
    ConversionSettingsController* controller = nullptr;

    void ShowActive() {
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    QWidget* Focused() const { return QApplication::focusWidget(); }
    QString ResolutionText() const { return w.imageResolutionPopUpOutlet->currentText(); }

private slots:
    void init() {
        fake = FakeServices();
        store = MemoryPreferenceStore();
        window = settingstest::MakeMainWindow(fake.services(), &w);
        controller = new ConversionSettingsController(w, fake.services(), &store, window.get());
        controller->DefaultResizeOption();
    }
    void cleanup() {
        window.reset();
        controller = nullptr;
    }

    // Every control is built, named after its outlet, and the titles of both commands are
    // retitled in their four places.
    void everyControlIsBuiltUnderItsOutletName() {
        const std::pair<QObject*, const char*> outlets[] = {
            {w.destinationImageTypePopUpOutlet, "destinationImageTypePopUpOutlet"},
            {w.colorModelPopUpOutlet, "colorModelPopUpOutlet"},
            {w.imageCompressionQuaitySliderOutlet, "imageCompressionQuaitySliderOutlet"},
            {w.imageResolutionPopUpOutlet, "imageResolutionPopUpOutlet"},
            {w.widthTextField, "widthTextField"},
            {w.sizeFormatTypePopupButton, "sizeFormatTypePopupButton"},
            {w.lockUnlockImageView, "lockUnlockImageView"},
            {w.pageRangeTypePopUpButtonOutlet, "pageRangeTypePopUpButtonOutlet"},
            {w.pageRangeStartTextFieldOutlet, "pageRangeStartTextFieldOutlet"},
            {w.pageRangeEndStepperOutlet, "pageRangeEndStepperOutlet"},
            {w.convertOrExtractOptionPopupOutlet, "convertOrExtractOptionPopupOutlet"},
            {w.createSeparateFolderForEachFileButtonOutlet, "createSeparateFolderForEachFileButtonOutlet"},
        };
        for (const auto& [object, name] : outlets) {
            QVERIFY2(object, name);
            QCOMPARE(object->objectName(), QString::fromLatin1(name));
            QCOMPARE(window->findChild<QObject*>(QLatin1String(name)), object);
        }
        QCOMPARE(w.convertTitleTargets.size(), 4);
        QCOMPARE(w.convertAllTitleTargets.size(), 4);
    }

    // Every type code (with two that no menu offers) against every colour model selected.
    void typeTable_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("colour");
        QTest::addColumn<bool>("resolution");
        QTest::addColumn<bool>("quality");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<int>("selected");
        const auto offeredFor = [](int type) -> QString {
            switch (type) {
            case 1: case 4: case 8: case 10: case 23: return QStringLiteral("RCG");
            case 2: case 3: case 7: return QStringLiteral("RG");
            default: return QStringLiteral("R");
            }
        };
        const QList<int> withResolution = {1, 4, 7, 8, 10, 11, 13, 23};
        for (int type = 0; type <= 24; ++type) {
            for (int colour = 1; colour <= 3; ++colour) {
                const QString offered = offeredFor(type);
                const QChar letter = QStringLiteral("RCG")[colour - 1];
                QTest::addRow("type %d colour %d", type, colour)
                    << type << colour << withResolution.contains(type) << (type == 3 || type == 4) << offered
                    << (offered.contains(letter) ? colour : 1);
            }
        }
    }
    void typeTable() {
        QFETCH(int, type);
        QFETCH(int, colour);
        QFETCH(bool, resolution);
        QFETCH(bool, quality);
        QFETCH(QString, offered);
        QFETCH(int, selected);
        // Codes that the menu does not offer take the rules of an unknown type.
        w.destinationImageTypePopUpOutlet->addItem(QStringLiteral("Unknown"), 0);
        w.destinationImageTypePopUpOutlet->addItem(QStringLiteral("WebP"), 24);
        w.imageResolutionPopUpOutlet->setEditText(QStringLiteral("300"));
        SelectTag(w.colorModelPopUpOutlet, colour);

        Choose(w.destinationImageTypePopUpOutlet, type);

        QCOMPARE(w.imageResolutionPopUpOutlet->isEnabled(), resolution);
        QCOMPARE(w.resolutionStaticText->isEnabled(), resolution);
        QCOMPARE(w.resolutionDpiStaticText->isEnabled(), resolution);
        QCOMPARE(ResolutionText(), resolution ? QStringLiteral("300") : QStringLiteral("72"));
        QCOMPARE(w.imageCompressionQuaitySliderOutlet->isEnabled(), quality);
        for (QWidget* label : std::initializer_list<QWidget*>{static_cast<QWidget*>(w.imageCompressionQuaityLabelOutlet),
                               w.imageCompressionLeastQuaityEditFieldOutlet, w.imageCompressionMediumQuaityEditFieldOutlet,
                               w.imageCompressionLosseessQuaityEditFieldOutlet})
            QCOMPARE(label->isEnabled(), quality);
        QCOMPARE(IsTagEnabled(w.colorModelPopUpOutlet, 1), offered.contains(u'R'));
        QCOMPARE(IsTagEnabled(w.colorModelPopUpOutlet, 2), offered.contains(u'C'));
        QCOMPARE(IsTagEnabled(w.colorModelPopUpOutlet, 3), offered.contains(u'G'));
        QCOMPARE(SelectedTag(w.colorModelPopUpOutlet), selected);
    }

    void resolutionBoxKeeps72() {
        w.imageResolutionPopUpOutlet->setEditText(QStringLiteral("300"));
        Choose(w.destinationImageTypePopUpOutlet, 2);  // GIF
        QCOMPARE(ResolutionText(), QStringLiteral("72"));
        QVERIFY(!w.imageResolutionPopUpOutlet->isEnabled());
        Choose(w.destinationImageTypePopUpOutlet, 4);  // JPEG
        QVERIFY(w.imageResolutionPopUpOutlet->isEnabled());
        QCOMPARE(ResolutionText(), QStringLiteral("72"));
    }

    void extractMode() {
        SelectTag(w.colorModelPopUpOutlet, 2);
        Choose(w.destinationImageTypePopUpOutlet, 23);
        Choose(w.convertOrExtractOptionPopupOutlet, 2);
        QCOMPARE(SelectedTag(w.destinationImageTypePopUpOutlet), 10);
        QVERIFY(IsTagHidden(w.destinationImageTypePopUpOutlet, 23));
        QVERIFY(!IsTagEnabled(w.destinationImageTypePopUpOutlet, 23));  // not reachable by the keyboard either
        for (QObject* target : w.convertTitleTargets) QCOMPARE(target->property("text").toString(), QStringLiteral("ExtractTitle"));
        for (QObject* target : w.convertAllTitleTargets)
            QCOMPARE(target->property("text").toString(), QStringLiteral("ExtractAllTitle"));
        QCOMPARE(window->findChild<QAction*>(QStringLiteral("exportMenuItem"))->iconText(), QStringLiteral("ExtractTitle"));
        for (QWidget* off : std::initializer_list<QWidget*>{static_cast<QWidget*>(w.colorModelPopUpOutlet), w.colorModelEditFieldOutlet,
                             static_cast<QWidget*>(w.imageResolutionPopUpOutlet), w.resolutionStaticText,
                             w.resolutionDpiStaticText, static_cast<QWidget*>(w.widthTextField),
                             static_cast<QWidget*>(w.heightTextField), w.widthLabel, w.heightLabel,
                             static_cast<QWidget*>(w.sizeFormatTypePopupButton), w.lockLinesBox1, w.lockLinesBox2,
                             w.lockLinesBox3, w.lockUnlockImageView})
            QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));

        // In extract mode a type change decides the quality only; resolution and colours stay.
        Choose(w.destinationImageTypePopUpOutlet, 4);
        QVERIFY(w.imageCompressionQuaitySliderOutlet->isEnabled());
        QVERIFY(!w.imageResolutionPopUpOutlet->isEnabled());
        Choose(w.destinationImageTypePopUpOutlet, 10);

        // The run still converts pages, with what the disabled controls hold.
        ImageConversion record{};
        QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
        QCOMPARE(record.conversionOptions.imageType, 10);
        QCOMPARE(record.conversionOptions.colorModel, 2);

        Choose(w.convertOrExtractOptionPopupOutlet, 1);
        QVERIFY(!IsTagHidden(w.destinationImageTypePopUpOutlet, 23));
        QVERIFY(IsTagEnabled(w.destinationImageTypePopUpOutlet, 23));
        QCOMPARE(SelectedTag(w.destinationImageTypePopUpOutlet), 10);
        for (QObject* target : w.convertTitleTargets) QCOMPARE(target->property("text").toString(), QStringLiteral("ConvertTitle"));
        for (QObject* target : w.convertAllTitleTargets)
            QCOMPARE(target->property("text").toString(), QStringLiteral("ConvertAllTitle"));
        for (QWidget* on : std::initializer_list<QWidget*>{static_cast<QWidget*>(w.colorModelPopUpOutlet), w.colorModelEditFieldOutlet,
                            static_cast<QWidget*>(w.imageResolutionPopUpOutlet), static_cast<QWidget*>(w.widthTextField),
                            static_cast<QWidget*>(w.sizeFormatTypePopupButton), w.lockLinesBox2, w.lockUnlockImageView})
            QVERIFY2(on->isEnabled(), qPrintable(on->objectName()));

        // Back in convert mode a type without resolution disables the box again.
        Choose(w.destinationImageTypePopUpOutlet, 2);
        Choose(w.convertOrExtractOptionPopupOutlet, 2);
        Choose(w.convertOrExtractOptionPopupOutlet, 1);
        QVERIFY(!w.imageResolutionPopUpOutlet->isEnabled());
    }

    void qualitySlider() {
        // The window's slider came with 0..100 at 80: the binding keeps the position.
        QCOMPARE(controller->quality(), 0.8);
        QCOMPARE(w.imageCompressionQuaitySliderOutlet->maximum(), 1000);

        controller->setQuality(0.555);
        QCOMPARE(controller->quality(), 0.555);
        QCOMPARE(w.imageCompressionQuaityLabelOutlet->text(), QStringLiteral("JPEG Quality (55%):"));
        controller->setQuality(0.29);
        QCOMPARE(w.imageCompressionQuaityLabelOutlet->text(), QStringLiteral("JPEG Quality (28%):"));

        // The user moves the slider.
        w.imageCompressionQuaitySliderOutlet->setValue(800);
        QCOMPARE(controller->quality(), 0.8);
        QCOMPARE(w.imageCompressionQuaityLabelOutlet->text(), QStringLiteral("JPEG Quality (80%):"));
        QTest::keyClick(w.imageCompressionQuaitySliderOutlet, Qt::Key_Right);
        QCOMPARE(w.imageCompressionQuaityLabelOutlet->text(), QStringLiteral("JPEG Quality (81%):"));

        controller->setQuality(0.555);
        ImageConversion record{};
        Choose(w.destinationImageTypePopUpOutlet, 4);
        QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
        QCOMPARE(record.conversionOptions.compressionQuality, 0.555);
        Choose(w.destinationImageTypePopUpOutlet, 9);
        QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
        QCOMPARE(record.conversionOptions.compressionQuality, 0.0);

        controller->EnableDisableImageCompressionType(false);
        QVERIFY(!w.imageCompressionQuaitySliderOutlet->isEnabled());
        QVERIFY(!w.imageCompressionQuaityLabelOutlet->isEnabled());
    }

    void unitChain() {
        w.imageResolutionPopUpOutlet->setEditText(QStringLiteral("200"));
        Choose(w.sizeFormatTypePopupButton, kSizeInches);  // empty fields: nothing to convert
        QCOMPARE(controller->currentSizeFormatType(), 3);
        w.widthTextField->setText(QStringLiteral("8.5"));
        const struct {
            int unit;
            const char* width;
        } steps[] = {{kSizePixels, "1700"}, {kSizeCentimetres, "21.59"}, {kSizeMillimetres, "215.90"}, {kSizePoints, "612.00"}};
        for (const auto& step : steps) {
            Choose(w.sizeFormatTypePopupButton, step.unit);
            QCOMPARE(w.widthTextField->text(), QString::fromLatin1(step.width));
            QCOMPARE(w.heightTextField->text(), QString());  // an empty field stays empty
            QCOMPARE(controller->currentSizeFormatType(), step.unit);
        }
        // Choosing the current unit again changes nothing.
        Choose(w.sizeFormatTypePopupButton, kSizePoints);
        QCOMPARE(w.widthTextField->text(), QStringLiteral("612.00"));

        // A zero field stays zero.
        w.heightTextField->setText(QStringLiteral("0"));
        Choose(w.sizeFormatTypePopupButton, kSizePixels);
        QCOMPARE(w.heightTextField->text(), QStringLiteral("0"));
        QCOMPARE(w.widthTextField->text(), QStringLiteral("1700"));

        // The disabled box's "72" is the resolution then.
        Choose(w.destinationImageTypePopUpOutlet, 2);
        Choose(w.sizeFormatTypePopupButton, kSizeInches);
        QCOMPARE(w.widthTextField->text(), QStringLiteral("23.61"));
    }

    void unitChangeWithoutResolution_data() {
        QTest::addColumn<QString>("resolution");
        QTest::newRow("empty") << QString();
        QTest::newRow("zero") << QStringLiteral("0");
        QTest::newRow("not a number") << QStringLiteral("dpi");
    }
    void unitChangeWithoutResolution() {
        QFETCH(QString, resolution);
        w.imageResolutionPopUpOutlet->setEditText(resolution);
        Choose(w.sizeFormatTypePopupButton, kSizeInches);
        w.widthTextField->setText(QStringLiteral("8.5"));
        w.heightTextField->setText(QStringLiteral("11"));
        Choose(w.sizeFormatTypePopupButton, kSizePixels);
        // The fields keep their values and their unit.
        QCOMPARE(w.widthTextField->text(), QStringLiteral("8.5"));
        QCOMPARE(w.heightTextField->text(), QStringLiteral("11"));
        QCOMPARE(SelectedTag(w.sizeFormatTypePopupButton), int(kSizeInches));
        QCOMPARE(controller->currentSizeFormatType(), 3);
        ImageConversion record{};
        QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
        QCOMPARE(record.resizeOptions.sizeUnit, 3);
        QCOMPARE(record.resizeOptions.targetWidth, 8.5);
    }

    void resolutionChecks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("title");  // empty: no alert
        QTest::addColumn<QStringList>("buttons");
        const QStringList ask = {QStringLiteral("YesButtonTitle"), QStringLiteral("CancelTitle")};
        const QStringList refuse = {QStringLiteral("OkButtonString"), QString()};
        QTest::newRow("1") << QStringLiteral("1") << 1 << true << QString() << QStringList();
        QTest::newRow("800") << QStringLiteral("800") << 1 << true << QString() << QStringList();
        QTest::newRow("801 yes") << QStringLiteral("801") << 1 << true << QStringLiteral("HighValueTitle:801") << ask;
        QTest::newRow("801 cancel") << QStringLiteral("801") << 0 << false << QStringLiteral("HighValueTitle:801") << ask;
        QTest::newRow("4608 asks") << QStringLiteral("4608") << 1 << true << QStringLiteral("HighValueTitle:4608") << ask;
        QTest::newRow("4609") << QStringLiteral("4609") << 1 << false << QStringLiteral("InvalidValueTitle:4609") << refuse;
        QTest::newRow("0") << QStringLiteral("0") << 1 << false << QStringLiteral("InvalidValueTitle:0") << refuse;
        QTest::newRow("text") << QStringLiteral("abc") << 1 << false << QStringLiteral("InvalidValueTitle:abc") << refuse;
    }
    void resolutionChecks() {
        QFETCH(QString, text);
        QFETCH(int, answer);
        QFETCH(bool, valid);
        QFETCH(QString, title);
        QFETCH(QStringList, buttons);
        ShowActive();
        w.widthTextField->setFocus();
        w.imageResolutionPopUpOutlet->setEditText(text);
        fake.answers = {answer};
        QCOMPARE(controller->CheckConvertOptionsAreValid(w.imageResolutionPopUpOutlet), valid);
        if (title.isEmpty()) {
            QVERIFY(fake.alerts.isEmpty());
        } else {
            QCOMPARE(fake.alerts.size(), 1);
            const settingstest::AlertCall& alert = fake.alerts.front();
            QCOMPARE(alert.title, title);
            QCOMPARE(alert.message, title.startsWith(u'H') ? QStringLiteral("HighValueMsg") : QStringLiteral("InvalidValueMsg"));
            QCOMPARE(alert.defaultButton, buttons[0]);
            QCOMPARE(alert.alternateButton, buttons[1]);
            QCOMPARE(alert.window, window.get());
        }
        QWidget* focused = Focused();
        if (valid)
            QCOMPARE(focused, w.widthTextField);
        else
            QVERIFY(focused == w.imageResolutionPopUpOutlet || focused == w.imageResolutionPopUpOutlet->lineEdit());
    }

    void disabledResolutionBoxPasses() {
        w.imageResolutionPopUpOutlet->setEditText(QStringLiteral("0"));
        w.imageResolutionPopUpOutlet->setEnabled(false);
        QVERIFY(controller->CheckConvertOptionsAreValid(w.imageResolutionPopUpOutlet));
        QVERIFY(fake.alerts.isEmpty());
    }

    void pageRangeChecks_data() {
        QTest::addColumn<int>("range");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("focused");
        QTest::newRow("5 to 3") << 2 << "5" << "3" << false << "pageRangeEndTextFieldOutlet";
        QTest::newRow("0 to 3") << 2 << "0" << "3" << false << "pageRangeStartTextFieldOutlet";
        QTest::newRow("0 to 0") << 2 << "0" << "0" << false << "pageRangeStartTextFieldOutlet";
        QTest::newRow("1 to 0") << 2 << "1" << "0" << false << "pageRangeEndTextFieldOutlet";
        QTest::newRow("empty") << 2 << "" << "" << false << "pageRangeStartTextFieldOutlet";
        QTest::newRow("2 to 2") << 2 << "2" << "2" << true << "";
        QTest::newRow("1 to 9") << 2 << "1" << "9" << true << "";
        QTest::newRow("one page is not checked") << 1 << "0" << "0" << true << "";
        QTest::newRow("all pages are not checked") << 0 << "5" << "3" << true << "";
    }
    void pageRangeChecks() {
        QFETCH(int, range);
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(bool, valid);
        QFETCH(QString, focused);
        ShowActive();
        Choose(w.pageRangeTypePopUpButtonOutlet, range);
        w.widthTextField->setFocus();
        w.pageRangeStartTextFieldOutlet->setText(start);
        w.pageRangeEndTextFieldOutlet->setText(end);
        QCOMPARE(controller->ISExportOptionValid(), valid);
        QCOMPARE(controller->CheckBeforeRun(), valid);
        if (valid) {
            QVERIFY(fake.alerts.isEmpty());
            return;
        }
        QCOMPARE(fake.alerts.size(), 2);
        QCOMPARE(fake.alerts[0].title, QStringLiteral("WrongPageRangeWarningTitle"));
        QCOMPARE(fake.alerts[0].message, QStringLiteral("WrongPageRangeWarningMsg"));
        QCOMPARE(fake.alerts[0].defaultButton, QStringLiteral("OkButtonString"));
        QVERIFY(fake.alerts[0].alternateButton.isEmpty());
        QCOMPARE(Focused()->objectName(), focused);
    }

    void checkBeforeRunStopsAtThePageRange() {
        Choose(w.pageRangeTypePopUpButtonOutlet, 2);
        w.pageRangeStartTextFieldOutlet->setText(QStringLiteral("3"));
        w.pageRangeEndTextFieldOutlet->setText(QStringLiteral("1"));
        w.imageResolutionPopUpOutlet->setEditText(QStringLiteral("9999"));
        QVERIFY(!controller->CheckBeforeRun());
        QCOMPARE(fake.alerts.size(), 1);  // the resolution is not asked about
        w.pageRangeEndTextFieldOutlet->setText(QStringLiteral("3"));
        QVERIFY(!controller->CheckBeforeRun());
        QCOMPARE(fake.alerts.back().title, QStringLiteral("InvalidValueTitle:9999"));
    }

    void pageTypeOption() {
        ShowActive();
        controller->PreparePageRangeControls();
        QCOMPARE(w.pageRangeStartTextFieldOutlet->text(), QStringLiteral("1"));
        QCOMPARE(w.pageRangeEndTextFieldOutlet->text(), QStringLiteral("1"));
        const QList<QWidget*> start = {w.pageRangeStartStepperOutlet, w.pageRangeStartTextFieldOutlet, w.pageFromStaticTextOutlet};
        const QList<QWidget*> end = {w.pageRangeEndStepperOutlet, w.pageRangeEndTextFieldOutlet, w.pageToStaticTextOutlet};
        for (QWidget* widget : start + end) QVERIFY(!widget->isEnabled());

        Choose(w.pageRangeTypePopUpButtonOutlet, 1);
        for (QWidget* widget : start) QVERIFY(widget->isEnabled());
        for (QWidget* widget : end) QVERIFY(!widget->isEnabled());
        QCOMPARE(Focused(), w.pageRangeStartTextFieldOutlet);

        w.widthTextField->setFocus();
        Choose(w.pageRangeTypePopUpButtonOutlet, 2);
        for (QWidget* widget : start + end) QVERIFY(widget->isEnabled());
        QCOMPARE(Focused(), w.pageRangeStartTextFieldOutlet);

        w.pageRangeStartTextFieldOutlet->setText(QStringLiteral("4"));
        Choose(w.pageRangeTypePopUpButtonOutlet, 0);
        for (QWidget* widget : start + end) QVERIFY(!widget->isEnabled());
        QCOMPARE(w.pageRangeStartTextFieldOutlet->text(), QStringLiteral("4"));  // values are left as they are
    }

    void pageFieldsAndSteppers() {
        Stepper* startStepper = w.pageRangeStartStepperOutlet;
        Stepper* endStepper = w.pageRangeEndStepperOutlet;
        QLineEdit* start = w.pageRangeStartTextFieldOutlet;
        QLineEdit* end = w.pageRangeEndTextFieldOutlet;
        Choose(w.pageRangeTypePopUpButtonOutlet, 2);
        start->setText(QStringLiteral("1"));
        end->setText(QStringLiteral("4"));
        endStepper->setValue(4);

        Type(start, QStringLiteral("7"));
        QCOMPARE(startStepper->value(), 7);
        QCOMPARE(end->text(), QStringLiteral("7"));
        QCOMPARE(endStepper->value(), 7);

        start->setText(QStringLiteral("5"));
        startStepper->setValue(5);
        Type(end, QStringLiteral("2"));
        QCOMPARE(endStepper->value(), 2);
        QCOMPARE(start->text(), QStringLiteral("5"));
        QCOMPARE(startStepper->value(), 5);

        // 100000 or more: the field takes its stepper's value back.
        Paste(start, QStringLiteral("100000"));
        QCOMPARE(start->text(), QStringLiteral("5"));
        QCOMPARE(startStepper->value(), 5);
        Paste(end, QStringLiteral("123456"));
        QCOMPARE(end->text(), QStringLiteral("2"));
        // Typed key by key, the stepper has followed up to the last digit.
        Type(start, QStringLiteral("100000"));
        QCOMPARE(start->text(), QStringLiteral("10000"));
        QCOMPARE(startStepper->value(), 10000);
        QCOMPARE(end->text(), QStringLiteral("10000"));
        start->setText(QStringLiteral("5"));
        startStepper->setValue(5);
        end->setText(QStringLiteral("2"));
        endStepper->setValue(2);
        // An emptied field changes nothing.
        Type(start, QString());
        QCOMPARE(start->text(), QString());
        QCOMPARE(startStepper->value(), 5);

        // The steppers.
        start->setText(QStringLiteral("5"));
        end->setText(QStringLiteral("4"));
        startStepper->stepUp();  // 6
        QCOMPARE(start->text(), QStringLiteral("6"));
        QCOMPARE(end->text(), QStringLiteral("6"));
        QCOMPARE(endStepper->value(), 6);
        for (int i = 0; i < 3; ++i) endStepper->stepDown();  // the user steps down to 3
        QCOMPARE(end->text(), QStringLiteral("3"));
        QCOMPARE(start->text(), QStringLiteral("3"));
        QCOMPARE(startStepper->value(), 3);
        endStepper->stepUp();
        QCOMPARE(end->text(), QStringLiteral("4"));
        QCOMPARE(start->text(), QStringLiteral("3"));

        // The width and height fields and other senders are no page fields.
        controller->controlTextDidChange(w.widthTextField);
        controller->StepperControlDidChange(w.widthTextField);
        controller->StepperControlDidChange(nullptr);
        QCOMPARE(start->text(), QStringLiteral("3"));
    }

    void noPreferenceFileLeavesTheControls() {
        SelectTag(w.destinationImageTypePopUpOutlet, 7);
        w.widthTextField->setText(QStringLiteral("640"));
        QVERIFY(!controller->ReadConversionOptionPreferences());
        QCOMPARE(SelectedTag(w.destinationImageTypePopUpOutlet), 7);
        QCOMPARE(w.widthTextField->text(), QStringLiteral("640"));
        QCOMPARE(controller->quality(), 0.8);
    }

    void startsFromTheStoredDefaults() {
        store.files[kGeneralPreferenceFile] = {
            {"ImageType", std::int64_t{7}},     {"ColorModel", std::int64_t{3}},
            {"JPEGQuality", 0.555},             {"ImageResolutionOption", std::int64_t{300}},
            {"CreateSeparateFolder", false},    {"OverWriteExistingFile", true},
            {"ProcessingType", std::int64_t{2}}, {"Password", std::string("secret")},
            {"InputType", std::int64_t{3}},     {"Width", std::string("8.5")},
            {"Height", std::string("11")},
        };
        QVERIFY(controller->ReadConversionOptionPreferences());
        QVERIFY(!w.createSeparateFolderForEachFileButtonOutlet->isChecked());
        QCOMPARE(SelectedTag(w.destinationImageTypePopUpOutlet), 7);
        QCOMPARE(controller->quality(), 0.555);
        QCOMPARE(w.imageCompressionQuaityLabelOutlet->text(), QStringLiteral("JPEG Quality (55%):"));
        QCOMPARE(ResolutionText(), QStringLiteral("300"));
        QCOMPARE(SelectedTag(w.colorModelPopUpOutlet), 3);
        QCOMPARE(SelectedTag(w.sizeFormatTypePopupButton), 3);
        QCOMPARE(controller->currentSizeFormatType(), 3);
        QCOMPARE(w.widthTextField->text(), QStringLiteral("8.5"));
        QCOMPARE(w.heightTextField->text(), QStringLiteral("11"));
        QCOMPARE(SelectedTag(w.convertOrExtractOptionPopupOutlet), 2);

        // Start-up then applies the rules once.
        controller->SetImageTypeSecondaryOption();
        controller->ConvertOrExtractOptionChange();
        QVERIFY(!w.sizeFormatTypePopupButton->isEnabled());
        QCOMPARE(w.convertTitleTargets.front()->property("text").toString(), QStringLiteral("ExtractTitle"));

        ImageConversion record{};
        TestTarget target;
        QVERIFY(controller->GetConversionSettings(&record, &target, &ProgressTarget::UpdatePageProgressStatus));
        QCOMPARE(record.overwriteExistingFile, std::uint8_t{1});
        QCOMPARE(record.progressCallback.progressTarget, &target);
        QVERIFY(record.progressCallback.progressSelector == &ProgressTarget::UpdatePageProgressStatus);
    }

    void missingAndOutOfRangeStoredValues() {
        w.widthTextField->setText(QStringLiteral("640"));
        SelectTag(w.colorModelPopUpOutlet, 2);
        SelectTag(w.convertOrExtractOptionPopupOutlet, 2);
        w.createSeparateFolderForEachFileButtonOutlet->setChecked(false);
        w.imageResolutionPopUpOutlet->setEditText(QStringLiteral("600"));
        // A quality outside 0..1 is this window's fallback; a type outside 1..23 is JPEG; a
        // resolution outside 1..4608 is 72; a mode of 3 is convert; an unknown colour model
        // leaves the menu as it was; missing keys take their fallbacks.
        store.files[kGeneralPreferenceFile] = {
            {"ImageType", std::int64_t{30}},
            {"JPEGQuality", 1.5},
            {"ImageResolutionOption", std::int64_t{5000}},
            {"ColorModel", std::int64_t{9}},
            {"ProcessingType", std::int64_t{3}},
        };
        QVERIFY(controller->ReadConversionOptionPreferences());
        QCOMPARE(SelectedTag(w.destinationImageTypePopUpOutlet), 4);
        QCOMPARE(controller->quality(), 0.9);
        QCOMPARE(w.imageCompressionQuaityLabelOutlet->text(), QStringLiteral("JPEG Quality (90%):"));
        QCOMPARE(ResolutionText(), QStringLiteral("72"));
        QCOMPARE(SelectedTag(w.colorModelPopUpOutlet), 2);
        QCOMPARE(SelectedTag(w.convertOrExtractOptionPopupOutlet), 1);
        QVERIFY(w.createSeparateFolderForEachFileButtonOutlet->isChecked());
        QCOMPARE(SelectedTag(w.sizeFormatTypePopupButton), 6);
        QCOMPARE(w.widthTextField->text(), QStringLiteral("640"));

        // Missing resolution: the box's list item at index 3; negative quality: the fallback.
        store.files[kGeneralPreferenceFile] = {{"ImageType", std::int64_t{0}}, {"JPEGQuality", -0.1}};
        QVERIFY(controller->ReadConversionOptionPreferences());
        QCOMPARE(SelectedTag(w.destinationImageTypePopUpOutlet), 4);
        QCOMPARE(ResolutionText(), QStringLiteral("200"));
        QCOMPARE(controller->quality(), 0.9);
        store.files[kGeneralPreferenceFile] = {{"ImageResolutionOption", std::int64_t{0}}, {"JPEGQuality", 1.0}};
        QVERIFY(controller->ReadConversionOptionPreferences());
        QCOMPARE(ResolutionText(), QStringLiteral("72"));
        QCOMPARE(controller->quality(), 1.0);
    }

    void conversionRecord() {
        Choose(w.destinationImageTypePopUpOutlet, 4);
        w.imageResolutionPopUpOutlet->setEditText(QStringLiteral("300"));
        SelectTag(w.colorModelPopUpOutlet, 2);
        Choose(w.pageRangeTypePopUpButtonOutlet, 1);
        w.pageRangeStartTextFieldOutlet->setText(QStringLiteral("3"));
        w.pageRangeEndTextFieldOutlet->setText(QStringLiteral("9"));
        ImageConversion record{};
        QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
        QCOMPARE(record.conversionOptions.imageType, 4);
        QCOMPARE(record.conversionOptions.outputResolution, Q_INT64_C(300));
        QCOMPARE(record.conversionOptions.colorModel, 2);
        QCOMPARE(record.conversionOptions.pageRangeType, 1);
        QCOMPARE(record.conversionOptions.startPage, Q_INT64_C(3));
        QCOMPARE(record.conversionOptions.endPage, Q_INT64_C(9));
        QCOMPARE(record.resizeEnabled, std::uint8_t{0});
        QCOMPARE(record.resizeOptions.fitMode, 0);
        QCOMPARE(record.overwriteExistingFile, std::uint8_t{0});  // no file: the built-in default
        QVERIFY(!record.outputBaseName);

        // Either size non-zero: resizing in the unit shown.
        Choose(w.sizeFormatTypePopupButton, kSizePixels);
        w.heightTextField->setText(QStringLiteral("480"));
        QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
        QCOMPARE(record.resizeEnabled, std::uint8_t{1});
        QCOMPARE(record.resizeOptions.targetWidth, 0.0);
        QCOMPARE(record.resizeOptions.targetHeight, 480.0);
        QCOMPARE(record.resizeOptions.sizeUnit, 2);
        QCOMPARE(record.resizeOptions.keepAspectRatio, std::uint8_t{1});
        QCOMPARE(record.resizeOptions.resizeToTarget, std::uint8_t{1});
        QCOMPARE(record.resizeOptions.allowEnlarging, std::uint8_t{0});
        QCOMPARE(record.resizeOptions.sharpen, std::uint8_t{0});
        QCOMPARE(record.resizeOptions.fitMode, 2);

        // Types written at 72, TIFF in CMYK among them.
        for (int type : {2, 13, 9}) {
            Choose(w.destinationImageTypePopUpOutlet, type);
            w.imageResolutionPopUpOutlet->setEditText(QStringLiteral("300"));
            QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
            QCOMPARE(record.conversionOptions.outputResolution, Q_INT64_C(72));
        }
        // Back to no resizing: the size settings of the last fill do not linger.
        w.heightTextField->setText(QStringLiteral("0"));
        QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
        QCOMPARE(record.resizeEnabled, std::uint8_t{0});
        QCOMPARE(record.resizeOptions.fitMode, 0);
        QCOMPARE(record.resizeOptions.targetHeight, 0.0);
        // A code outside 1..23 is written as JPEG.
        w.destinationImageTypePopUpOutlet->addItem(QStringLiteral("WebP"), 24);
        Choose(w.destinationImageTypePopUpOutlet, 24);
        QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
        QCOMPARE(record.conversionOptions.imageType, 4);

        // The overwrite flag is read from the file at this moment; without the key it is off.
        store.files[kGeneralPreferenceFile] = {{"OverWriteExistingFile", true}};
        QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
        QCOMPARE(record.overwriteExistingFile, std::uint8_t{1});
        store.files[kGeneralPreferenceFile] = {{"ImageType", std::int64_t{4}}};
        QVERIFY(controller->GetConversionSettings(&record, nullptr, nullptr));
        QCOMPARE(record.overwriteExistingFile, std::uint8_t{0});
        QVERIFY(!controller->GetConversionSettings(nullptr, nullptr, nullptr));
    }

    void programChangesTriggerNoRule() {
        // Only the user's choices apply the rules.
        w.imageResolutionPopUpOutlet->setEditText(QStringLiteral("300"));
        SelectTag(w.destinationImageTypePopUpOutlet, 2);
        QCOMPARE(ResolutionText(), QStringLiteral("300"));
        QVERIFY(w.imageResolutionPopUpOutlet->isEnabled());
    }
};

QTEST_MAIN(ConversionSettingsControllerTest)
#include "ConversionSettingsControllerTest.moc"
