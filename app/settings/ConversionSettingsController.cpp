#include "ConversionSettingsController.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QSlider>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <utility>

#include "NumberFields.h"
#include "SettingsRules.h"
#include "Stepper.h"

namespace settings {

namespace {

// A page number typed at or above this is refused: the field takes back its stepper's value.
constexpr int kPageNumberLimit = 100000;

void SetEnabled(std::initializer_list<QWidget*> widgets, bool enabled) {
    for (QWidget* widget : widgets)
        if (widget) widget->setEnabled(enabled);
}

void SetNumber(QLineEdit* field, std::int64_t value) {
    if (field) field->setText(QString::number(value));
}



}  // namespace

ConversionSettingsController::ConversionSettingsController(const MainSettingsWidgets& widgets, Services services,
                                                           PreferenceStore* store, QObject* parent)
    : QObject(parent), w_(widgets), services_(std::move(services)), store_(store) {
    setObjectName(QStringLiteral("conversionSettingsController"));
    Connect();
}

void ConversionSettingsController::Connect() {
    if (QComboBox* popup = w_.destinationImageTypePopUpOutlet)
        connect(popup, &QComboBox::activated, this, [this, popup] { SetImageTypeSecondaryOption(popup); });
    if (QualitySlider* slider = QualitySlider::Of(w_.imageCompressionQuaitySliderOutlet))
        connect(slider, &QualitySlider::userChanged, this,
                [this] { ImageQualitySliderAction(w_.imageCompressionQuaitySliderOutlet); });
    if (QComboBox* popup = w_.pageRangeTypePopUpButtonOutlet)
        connect(popup, &QComboBox::activated, this, [this, popup] { SetPageTypeOption(popup); });
    // The page fields report the user's edits after their own corrections.
    for (PageCountNumberField* field : {w_.pageRangeStartTextFieldOutlet, w_.pageRangeEndTextFieldOutlet})
        if (field)
            connect(field, &ValidatedNumberField::textDidChange, this, [this, field] { controlTextDidChange(field); });
    for (Stepper* stepper : {w_.pageRangeStartStepperOutlet, w_.pageRangeEndStepperOutlet})
        if (stepper) connect(stepper, &Stepper::valueChanged, this, [this, stepper] { StepperControlDidChange(stepper); });
    if (QComboBox* popup = w_.convertOrExtractOptionPopupOutlet)
        connect(popup, &QComboBox::activated, this, [this, popup] { ConvertOrExtractOptionChange(popup); });
    if (QComboBox* popup = w_.sizeFormatTypePopupButton)
        connect(popup, &QComboBox::activated, this, [this, popup] { changeImageResizeTypePopupAction(popup); });
}

TypeControls ConversionSettingsController::typeControls() const {
    TypeControls controls;
    controls.typePopup = w_.destinationImageTypePopUpOutlet;
    controls.colorPopup = w_.colorModelPopUpOutlet;
    controls.colorLabel = w_.colorModelEditFieldOutlet;
    controls.qualitySlider = w_.imageCompressionQuaitySliderOutlet;
    controls.qualityLabels = {w_.imageCompressionQuaityLabelOutlet, w_.imageCompressionLeastQuaityEditFieldOutlet,
                              w_.imageCompressionMediumQuaityEditFieldOutlet,
                              w_.imageCompressionLosseessQuaityEditFieldOutlet};
    controls.resolutionBox = w_.imageResolutionPopUpOutlet;
    controls.resolutionLabels = {w_.resolutionStaticText, w_.resolutionDpiStaticText};
    controls.sizeControls = {w_.widthTextField, w_.heightTextField, w_.widthLabel, w_.heightLabel,
                             w_.sizeFormatTypePopupButton};
    controls.lockDecorations = {w_.lockLinesBox1, w_.lockLinesBox2, w_.lockLinesBox3, w_.lockUnlockImageView};
    return controls;
}

bool ConversionSettingsController::ExtractMode() const {
    return SelectedTag(w_.convertOrExtractOptionPopupOutlet) == kExtractMode;
}

// --- Start-up -------------------------------------------------------------------------------

void ConversionSettingsController::DefaultResizeOption() {
    SelectTag(w_.sizeFormatTypePopupButton, kSizePoints);
    currentSizeFormatType_ = kSizePoints;
}

void ConversionSettingsController::PreparePageRangeControls() {
    if (w_.pageRangeStartStepperOutlet) SetNumber(w_.pageRangeStartTextFieldOutlet, StepperValue(w_.pageRangeStartStepperOutlet));
    if (w_.pageRangeEndStepperOutlet) SetNumber(w_.pageRangeEndTextFieldOutlet, StepperValue(w_.pageRangeEndStepperOutlet));
    SetEnabled({w_.pageRangeStartStepperOutlet, w_.pageRangeStartTextFieldOutlet, w_.pageToStaticTextOutlet,
                w_.pageFromStaticTextOutlet, w_.pageRangeEndStepperOutlet, w_.pageRangeEndTextFieldOutlet},
               false);
}

bool ConversionSettingsController::ReadConversionOptionPreferences() {
    const std::optional<PreferenceDictionary> stored =
        store_ ? store_->Read(kGeneralPreferenceFile) : std::optional<PreferenceDictionary>();
    if (!stored) return false;
    const PreferenceDictionary& prefs = *stored;

    if (w_.createSeparateFolderForEachFileButtonOutlet)
        w_.createSeparateFolderForEachFileButtonOutlet->setChecked(
            BoolPreference(prefs, key::kCreateSeparateFolder).value_or(true));

    SelectTag(w_.destinationImageTypePopUpOutlet,
              StoredImageType(IntegerPreference(prefs, key::kImageType).value_or(kDefaultOutputType)));

    // This window takes only a quality within 0..1; anything else is its own fallback.
    const std::optional<double> quality = RealPreference(prefs, key::kJPEGQuality);
    setQuality(quality && *quality >= 0 && *quality <= 1 ? *quality : kFallbackQuality);

    if (QComboBox* box = w_.imageResolutionPopUpOutlet) {
        if (const std::optional<std::int64_t> resolution = IntegerPreference(prefs, key::kImageResolutionOption))
            SetFieldText(box, QString::number(StoredResolution(*resolution)));
        else if (box->count() > kFallbackResolutionIndex)
            box->setCurrentIndex(kFallbackResolutionIndex);
    }

    SelectTag(w_.colorModelPopUpOutlet, static_cast<int>(IntegerPreference(prefs, key::kColorModel).value_or(kColorRGB)));

    if (QComboBox* unit = w_.sizeFormatTypePopupButton) {
        SelectTag(unit, static_cast<int>(IntegerPreference(prefs, key::kInputType).value_or(kSizePoints)));
        currentSizeFormatType_ = SelectedTag(unit);
    }

    if (const auto width = StringPreference(prefs, key::kWidth); width && w_.widthTextField)
        w_.widthTextField->setText(QString::fromStdString(*width));
    if (const auto height = StringPreference(prefs, key::kHeight); height && w_.heightTextField)
        w_.heightTextField->setText(QString::fromStdString(*height));

    std::int64_t mode = IntegerPreference(prefs, key::kProcessingType).value_or(kConvertMode);
    if (mode == 3) mode = kConvertMode;
    SelectTag(w_.convertOrExtractOptionPopupOutlet, static_cast<int>(mode));
    return true;
}

// --- Rules ----------------------------------------------------------------------------------

void ConversionSettingsController::SetImageTypeSecondaryOption(QObject* /*sender*/) {
    ApplyOutputTypeRules(typeControls(), SelectedTag(w_.convertOrExtractOptionPopupOutlet) == kConvertMode);
}

double ConversionSettingsController::quality() const {
    QualitySlider* slider = QualitySlider::Of(w_.imageCompressionQuaitySliderOutlet);
    return slider ? slider->value() : 0;
}

void ConversionSettingsController::setQuality(double quality) {
    if (QualitySlider* slider = QualitySlider::Of(w_.imageCompressionQuaitySliderOutlet)) slider->setValue(quality);
    ImageQualitySliderAction(nullptr);
}

void ConversionSettingsController::ImageQualitySliderAction(QObject* /*sender*/) {
    if (QLabel* label = w_.imageCompressionQuaityLabelOutlet) {
        label->setText(QualityLabelText(kMainQualityLabelFormat, quality()));
        label->update();
    }
}

void ConversionSettingsController::EnableDisableImageCompressionType(bool enabled) {
    SetEnabled({w_.imageCompressionQuaityLabelOutlet, w_.imageCompressionQuaitySliderOutlet}, enabled);
}

void ConversionSettingsController::SetPageTypeOption(QObject* /*sender*/) {
    switch (SelectedTag(w_.pageRangeTypePopUpButtonOutlet)) {
    case kPageRangeAll:
        SetEnabled({w_.pageRangeStartStepperOutlet, w_.pageRangeStartTextFieldOutlet, w_.pageRangeEndStepperOutlet,
                    w_.pageRangeEndTextFieldOutlet, w_.pageFromStaticTextOutlet, w_.pageToStaticTextOutlet},
                   false);
        break;
    case kPageRangeSingle:
        SetEnabled({w_.pageRangeStartStepperOutlet, w_.pageRangeStartTextFieldOutlet, w_.pageFromStaticTextOutlet}, true);
        SetEnabled({w_.pageToStaticTextOutlet, w_.pageRangeEndStepperOutlet, w_.pageRangeEndTextFieldOutlet}, false);
        MakeFirstResponder(w_.pageRangeStartTextFieldOutlet);
        break;
    case kPageRangeFromTo:
        SetEnabled({w_.pageRangeStartStepperOutlet, w_.pageRangeStartTextFieldOutlet, w_.pageRangeEndStepperOutlet,
                    w_.pageRangeEndTextFieldOutlet, w_.pageFromStaticTextOutlet, w_.pageToStaticTextOutlet},
                   true);
        MakeFirstResponder(w_.pageRangeStartTextFieldOutlet);
        break;
    default: break;
    }
}

void ConversionSettingsController::controlTextDidChange(QObject* control) {
    QLineEdit* start = w_.pageRangeStartTextFieldOutlet;
    QLineEdit* end = w_.pageRangeEndTextFieldOutlet;
    if (control && control == start) {
        if (start->text().isEmpty()) return;
        const int value = IntValue(start->text());
        if (value < kPageNumberLimit) {
            SetStepperValue(w_.pageRangeStartStepperOutlet, value);
            if (end && IntValue(end->text()) < value) {
                SetNumber(end, value);
                SetStepperValue(w_.pageRangeEndStepperOutlet, value);
            }
        } else if (w_.pageRangeStartStepperOutlet) {
            SetNumber(start, StepperValue(w_.pageRangeStartStepperOutlet));
        }
    } else if (control && control == end) {
        if (end->text().isEmpty()) return;
        const int value = IntValue(end->text());
        if (value < kPageNumberLimit)
            SetStepperValue(w_.pageRangeEndStepperOutlet, value);
        else if (w_.pageRangeEndStepperOutlet)
            SetNumber(end, StepperValue(w_.pageRangeEndStepperOutlet));
    }
    // The width and height fields and every other control: nothing.
}

void ConversionSettingsController::StepperControlDidChange(QObject* stepper) {
    QLineEdit* start = w_.pageRangeStartTextFieldOutlet;
    QLineEdit* end = w_.pageRangeEndTextFieldOutlet;
    if (!stepper) return;
    if (stepper == w_.pageRangeStartStepperOutlet) {
        const int value = StepperValue(w_.pageRangeStartStepperOutlet);
        SetNumber(start, value);
        if (end && IntValue(end->text()) < value) {
            SetNumber(end, value);
            SetStepperValue(w_.pageRangeEndStepperOutlet, value);
        }
    } else if (stepper == w_.pageRangeEndStepperOutlet) {
        const int value = StepperValue(w_.pageRangeEndStepperOutlet);
        SetNumber(end, value);
        if (start && value < IntValue(start->text())) {
            SetNumber(start, value);
            SetStepperValue(w_.pageRangeStartStepperOutlet, value);
        }
    }
}

void ConversionSettingsController::ConvertOrExtractOptionChange(QObject* /*sender*/) {
    const bool extract = ExtractMode();
    for (QObject* target : w_.convertTitleTargets) SetTitle(target, services_.Text(extract ? "ExtractTitle" : "ConvertTitle"));
    for (QObject* target : w_.convertAllTitleTargets)
        SetTitle(target, services_.Text(extract ? "ExtractAllTitle" : "ConvertAllTitle"));
    ApplyModeRules(typeControls(), extract);
    if (!extract) SetImageTypeSecondaryOption(nullptr);
}

void ConversionSettingsController::changeImageResizeTypePopupAction(QObject* /*sender*/) {
    QComboBox* unit = w_.sizeFormatTypePopupButton;
    if (!unit) return;
    const int newUnit = SelectedTag(unit);
    if (newUnit == currentSizeFormatType_) return;
    const float width = FloatValue(FieldText(w_.widthTextField));
    const float height = FloatValue(FieldText(w_.heightTextField));
    const double resolution = static_cast<double>(IntegerValue(FieldText(w_.imageResolutionPopUpOutlet)));
    const std::optional<SizeTexts> texts = ConvertSizeTexts(currentSizeFormatType_, newUnit, resolution, width, height);
    if (!texts) {
        // The size cannot be expressed in the new unit: the fields keep their unit.
        SelectTag(unit, currentSizeFormatType_);
        return;
    }
    if (texts->width && w_.widthTextField) w_.widthTextField->setText(*texts->width);
    if (texts->height && w_.heightTextField) w_.heightTextField->setText(*texts->height);
    currentSizeFormatType_ = newUnit;
}

// --- Checks ---------------------------------------------------------------------------------

bool ConversionSettingsController::ISExportOptionValid() {
    if (SelectedTag(w_.pageRangeTypePopUpButtonOutlet) != kPageRangeFromTo) return true;
    const int start = IntValue(FieldText(w_.pageRangeStartTextFieldOutlet));
    const int end = IntValue(FieldText(w_.pageRangeEndTextFieldOutlet));
    if (start >= 1 && end >= 1 && start <= end) return true;
    QWidget* field = start < 1 ? static_cast<QWidget*>(w_.pageRangeStartTextFieldOutlet) : w_.pageRangeEndTextFieldOutlet;
    services_.Alert(field ? field->window() : nullptr, services_.Text("WrongPageRangeWarningTitle"),
                    services_.Text("WrongPageRangeWarningMsg"), services_.Text("OkButtonString"));
    MakeFirstResponder(field);
    return false;
}

bool ConversionSettingsController::CheckConvertOptionsAreValid(QComboBox* box) {
    return CheckResolutionIsValid(box, services_);
}

bool ConversionSettingsController::CheckBeforeRun() {
    return ISExportOptionValid() && CheckConvertOptionsAreValid(w_.imageResolutionPopUpOutlet);
}

// --- The run's settings ---------------------------------------------------------------------

bool ConversionSettingsController::GetConversionSettings(ImageConversion* record, ProgressTarget* target,
                                                         ProgressSelector selector) const {
    if (!record) return false;
    record->progressCallback.progressTarget = target;
    record->progressCallback.progressSelector = selector;

    ImageConversionOptions& options = record->conversionOptions;
    int type = SelectedTag(w_.destinationImageTypePopUpOutlet);
    if (!IsOutputTypeCode(type)) type = kDefaultOutputType;
    options.imageType = type;
    options.compressionQuality = QualityEnabledForType(type) ? quality() : 0;
    options.outputResolution =
        ConversionUsesResolutionForType(type) ? IntegerValue(FieldText(w_.imageResolutionPopUpOutlet)) : 72;
    options.colorModel = SelectedTag(w_.colorModelPopUpOutlet);

    const double width = DoubleValue(FieldText(w_.widthTextField));
    const double height = DoubleValue(FieldText(w_.heightTextField));
    record->resizeEnabled = width != 0 || height != 0 ? 1 : 0;
    // Without resizing the size settings stay zero, also in a record filled before.
    record->resizeOptions = ImageResizeOptions{};
    if (record->resizeEnabled) {
        ImageResizeOptions& resize = record->resizeOptions;
        resize.targetWidth = width;
        resize.targetHeight = height;
        resize.sizeUnit = SelectedTag(w_.sizeFormatTypePopupButton);
        resize.keepAspectRatio = 1;
        resize.resizeToTarget = 1;
        resize.allowEnlarging = 0;
        resize.sharpen = 0;
        resize.fitMode = 2;
    }

    options.pageRangeType = SelectedTag(w_.pageRangeTypePopUpButtonOutlet);
    options.startPage = IntegerValue(FieldText(w_.pageRangeStartTextFieldOutlet));
    options.endPage = IntegerValue(FieldText(w_.pageRangeEndTextFieldOutlet));
    record->outputBaseName.reset();
    record->numberPagesFromRangeStart = 0;

    std::optional<PreferenceDictionary> prefs = store_ ? store_->Read(kGeneralPreferenceFile) : std::nullopt;
    if (!prefs) prefs = DefaultGeneralPreferences();
    record->overwriteExistingFile = BoolPreference(*prefs, key::kOverWriteExistingFile).value_or(false) ? 1 : 0;
    return true;
}

}  // namespace settings
