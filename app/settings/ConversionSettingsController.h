#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

#include <cstdint>

#include "MainSettingsControls.h"
#include "PreferenceStore.h"
#include "SettingsControls.h"
#include "SettingsServices.h"
#include "engine/ImageConversion.h"

class QAbstractButton;
class QAbstractSlider;
class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace settings {

// The rules of the main window's conversion settings: the controls follow the output type and
// the convert/extract choice, the page fields follow their steppers, the size follows its unit,
// the page range and resolution are checked before a run, and the controls start from the
// general preference file. It connects itself to the controls' user actions; changes made by
// the program do not trigger the rules. Main thread only.
class ConversionSettingsController : public QObject {
    Q_OBJECT
public:
    // `store` is not owned and may be null (no preference file); the widgets must outlive the
    // controller (make it a child of the main window).
    ConversionSettingsController(const MainSettingsWidgets& widgets, Services services, PreferenceStore* store,
                                 QObject* parent = nullptr);

    const MainSettingsWidgets& widgets() const { return w_; }

    // --- Start-up ---------------------------------------------------------------------------
    // Unit menu and state to points.
    void DefaultResizeOption();
    // The page fields take their steppers' values; the page controls are disabled.
    void PreparePageRangeControls();
    // Loads the controls from the general preference file; false (nothing changed) without one.
    bool ReadConversionOptionPreferences();

    // --- Rules (also the controls' actions) -------------------------------------------------
    void SetImageTypeSecondaryOption(QObject* sender = nullptr);
    void ImageQualitySliderAction(QObject* sender = nullptr);
    void EnableDisableImageCompressionType(bool enabled);
    void SetPageTypeOption(QObject* sender = nullptr);
    // The text of a page field changed.
    void controlTextDidChange(QObject* control);
    void StepperControlDidChange(QObject* stepper);
    void ConvertOrExtractOptionChange(QObject* sender = nullptr);
    void changeImageResizeTypePopupAction(QObject* sender = nullptr);

    // --- Checks before a run ----------------------------------------------------------------
    // The page range of type 2 (from-to): both at least 1, start not after end; otherwise an
    // alert and the offending field focused.
    bool ISExportOptionValid();
    // The resolution box's checks (CheckResolutionIsValid); used with the sheet's box too.
    bool CheckConvertOptionsAreValid(QComboBox* box);
    // Both checks of a run, on the main window's controls.
    bool CheckBeforeRun();

    // --- The run's settings -----------------------------------------------------------------
    // Fills the record from the controls for a run: type (outside 1..23: JPEG), quality (JPEG
    // 2000 and JPEG only), resolution (72 for the types written at 72), colour model, size with
    // its unit (resizing when width or height is not 0), page range, and the overwrite flag of
    // the general preference file. Source, password and output folder are the caller's.
    bool GetConversionSettings(ImageConversion* record, ProgressTarget* target, ProgressSelector selector) const;

    // --- State ------------------------------------------------------------------------------
    std::int32_t currentSizeFormatType() const { return currentSizeFormatType_; }
    // The quality slider's exact value.
    double quality() const;
    void setQuality(double quality);  // also rewrites the label
    // The shared type-rule controls of the main window.
    TypeControls typeControls() const;

private:
    void Connect();
    bool ExtractMode() const;

    MainSettingsWidgets w_;
    Services services_;
    PreferenceStore* store_;
    std::int32_t currentSizeFormatType_ = kSizePoints;
};

}  // namespace settings
