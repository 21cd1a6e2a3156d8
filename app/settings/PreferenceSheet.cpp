#include "PreferenceSheet.h"

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <utility>

#include "LockImage.h"
#include "NamedWidgets.h"
#include "SettingsMenus.h"
#include "SettingsRules.h"

namespace settings {

namespace {

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& title) {
    auto* button = Named(new QPushButton(title, parent), name);
    // Return in a field must not press a button of the sheet.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

PreferenceSheet::PreferenceSheet(QWidget* mainWindow, PreferenceSheetDependencies dependencies)
    : QDialog(mainWindow), deps_(std::move(dependencies)) {
    setObjectName(QStringLiteral("preferencesDialogOutlet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(deps_.services.Text("PreferencesWindowTitle"));
    if (!deps_.makeNumberField) deps_.makeNumberField = [](QWidget* parent) { return new QLineEdit(parent); };
    if (!deps_.makeResolutionComboBox) {
        deps_.makeResolutionComboBox = [](QWidget* parent) {
            auto* box = new QComboBox(parent);
            box->setEditable(true);
            box->setInsertPolicy(QComboBox::NoInsert);
            AddResolutionItems(box);
            box->setCurrentIndex(kFallbackResolutionIndex);
            return box;
        };
    }
    BuildInterface();
    Connect();
    // At start-up Apply is disabled, the unit is points and the general pane is shown.
    g_.applyButtonOutlet->setEnabled(false);
    DefaultPrefResizeOption();
    ShowPane(Pane::General);
    PrefImageQualitySliderAction(nullptr);
}

// --- Interface ------------------------------------------------------------------------------

void PreferenceSheet::BuildInterface() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 10);

    prefToolbarOutlet_ = Named(new QToolBar(this), "prefToolbarOutlet");
    prefToolbarOutlet_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    prefToolbarOutlet_->setMovable(false);
    auto* items = new QActionGroup(prefToolbarOutlet_);
    generalOptionsItem_ = Named(prefToolbarOutlet_->addAction(deps_.services.Text("GeneralOptionsToolbarLabel")),
                                "GeneralOptions");
    watchFolderOptionsItem_ = Named(
        prefToolbarOutlet_->addAction(deps_.services.Text("WatchFolderOptionsToolbarLabel")), "WatchFolderOptions");
    for (QAction* item : {generalOptionsItem_, watchFolderOptionsItem_}) {
        item->setCheckable(true);
        items->addAction(item);
    }
    layout->addWidget(prefToolbarOutlet_);

    preferencesMainSubview_ = Named(new QStackedWidget(this), "preferencesMainSubview");
    generalOptionsSubview_ = BuildGeneralPane();
    watchFolderOptionsSubview_ = BuildWatchFolderPane();
    preferencesMainSubview_->addWidget(generalOptionsSubview_);
    preferencesMainSubview_->addWidget(watchFolderOptionsSubview_);
    layout->addWidget(preferencesMainSubview_, 1);

    doneButton_ = MakeButton(this, "doneButton", deps_.services.Text("DoneButtonTitle"));
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(16, 0, 16, 0);
    bottom->addStretch();
    bottom->addWidget(doneButton_);
    layout->addLayout(bottom);
}

QWidget* PreferenceSheet::BuildGeneralPane() {
    const Services& s = deps_.services;
    auto* pane = Named(new QWidget, "generalOptionsSubview");
    auto* grid = new QGridLayout(pane);
    grid->setContentsMargins(20, 14, 20, 8);
    grid->setHorizontalSpacing(8);
    int row = 0;

    grid->addWidget(MakeLabel(pane, "prefDestImageTypeEditFieldOutlet", QStringLiteral("Format Type:")), row, 0);
    g_.prefDestImageTypePopUpButtonOutlet = Named(new QComboBox(pane), "prefDestImageTypePopUpButtonOutlet");
    AddOutputTypeItems(g_.prefDestImageTypePopUpButtonOutlet);
    SelectTag(g_.prefDestImageTypePopUpButtonOutlet, kOutputJPEG);
    grid->addWidget(g_.prefDestImageTypePopUpButtonOutlet, row++, 1, 1, 3);

    g_.prefImageColorModelEditFieldOutlet = MakeLabel(pane, "prefImageColorModelEditFieldOutlet", s.Text("ColorModelLabel"));
    g_.prefImageColorModelPopUpButtonOutlet = Named(new QComboBox(pane), "prefImageColorModelPopUpButtonOutlet");
    AddColorModelItems(g_.prefImageColorModelPopUpButtonOutlet, s);
    grid->addWidget(g_.prefImageColorModelEditFieldOutlet, row, 0);
    grid->addWidget(g_.prefImageColorModelPopUpButtonOutlet, row++, 1, 1, 3);

    g_.prefImageQualityStaticTextOutlet = MakeLabel(pane, "prefImageQualityStaticTextOutlet", QString());
    auto* slider = Named(new QSlider(Qt::Horizontal, pane), "prefImageQualitySliderOutlet");
    g_.prefImageQualitySliderOutlet = slider;
    QualitySlider::Of(slider)->setValue(0.8);
    grid->addWidget(g_.prefImageQualityStaticTextOutlet, row, 0);
    grid->addWidget(slider, row++, 1, 1, 3);
    g_.prefImageQualityLowStaticTextOutlet = MakeLabel(pane, "prefImageQualityLowStaticTextOutlet",
                                                       s.Text("QualityLeastCaption"), Qt::AlignLeft | Qt::AlignTop);
    g_.prefImageQualityMediumStaticTextOutlet = MakeLabel(
        pane, "prefImageQualityMediumStaticTextOutlet", s.Text("QualityMediumCaption"), Qt::AlignHCenter | Qt::AlignTop);
    g_.prefImageQualityBestStaticTextOutlet = MakeLabel(pane, "prefImageQualityBestStaticTextOutlet",
                                                        s.Text("QualityBestCaption"), Qt::AlignRight | Qt::AlignTop);
    auto* captions = new QHBoxLayout;
    captions->addWidget(g_.prefImageQualityLowStaticTextOutlet, 1);
    captions->addWidget(g_.prefImageQualityMediumStaticTextOutlet, 1);
    captions->addWidget(g_.prefImageQualityBestStaticTextOutlet, 1);
    for (QLabel* caption : {g_.prefImageQualityLowStaticTextOutlet, g_.prefImageQualityMediumStaticTextOutlet,
                            g_.prefImageQualityBestStaticTextOutlet}) {
        QFont small = caption->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        caption->setFont(small);
    }
    grid->addLayout(captions, row++, 1, 1, 3);

    g_.prefResolutionStaticTextOutlet = MakeLabel(pane, "prefResolutionStaticTextOutlet", s.Text("ResolutionLabel"));
    g_.prefResolutionTypePopUpButtonOutlet = Named(deps_.makeResolutionComboBox(pane), "prefResolutionTypePopUpButtonOutlet");
    g_.prefResolutionDpiStaticText =
        MakeLabel(pane, "prefResolutionDpiStaticText", s.Text("DpiLabel"), Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(g_.prefResolutionStaticTextOutlet, row, 0);
    grid->addWidget(g_.prefResolutionTypePopUpButtonOutlet, row, 1);
    grid->addWidget(g_.prefResolutionDpiStaticText, row++, 2, 1, 2);

    g_.prefConvertOrExtractOptionPopupOutlet = Named(new QComboBox(pane), "prefConvertOrExtractOptionPopupOutlet");
    AddModeItems(g_.prefConvertOrExtractOptionPopupOutlet, s);
    grid->addWidget(g_.prefConvertOrExtractOptionPopupOutlet, row++, 1, 1, 3);

    // Width and height with the aspect-lock decoration and the unit.
    g_.prefWidthLabel = MakeLabel(pane, "prefWidthLabel", s.Text("WidthLabel"));
    g_.prefHeightLabel = MakeLabel(pane, "prefHeightLabel", s.Text("HeightLabel"));
    g_.prefWidthTextField = Named(deps_.makeNumberField(pane), "prefWidthTextField");
    g_.prefHeightTextField = Named(deps_.makeNumberField(pane), "prefHeightTextField");
    auto* lock = Named(new QWidget(pane), "prefLockView");
    lock->setFixedSize(28, 56);
    g_.prefLockLinesBox1 = MakeLine(lock, "prefLockLinesBox1");
    g_.prefLockLinesBox1->setGeometry(QRect(0, 13, 10, 1));
    g_.prefLockLinesBox2 = MakeLine(lock, "prefLockLinesBox2");
    g_.prefLockLinesBox2->setGeometry(QRect(9, 13, 1, 31));
    g_.prefLockLinesBox3 = MakeLine(lock, "prefLockLinesBox3");
    g_.prefLockLinesBox3->setGeometry(QRect(0, 43, 10, 1));
    g_.prefLockUnlockImageView = Named(new QLabel(lock), "prefLockUnlockImageView");
    g_.prefLockUnlockImageView->setPixmap(LockImage(palette(), QSize(14, 16)));
    g_.prefLockUnlockImageView->setGeometry(12, 20, 14, 16);
    g_.prefSizeFormatTypePopupButton = Named(new QComboBox(pane), "prefSizeFormatTypePopupButton");
    AddSizeUnitItems(g_.prefSizeFormatTypePopupButton, s);
    grid->addWidget(g_.prefWidthLabel, row, 0);
    grid->addWidget(g_.prefWidthTextField, row, 1);
    grid->addWidget(lock, row, 2, 2, 1);
    grid->addWidget(g_.prefSizeFormatTypePopupButton, row, 3, 2, 1, Qt::AlignVCenter);
    ++row;
    grid->addWidget(g_.prefHeightLabel, row, 0);
    grid->addWidget(g_.prefHeightTextField, row++, 1);

    grid->addWidget(MakeLabel(pane, "prefPasswordStaticText", s.Text("PasswordLabel")), row, 0);
    g_.prefPasswordTextFieldOutlet = Named(new QLineEdit(pane), "prefPasswordTextFieldOutlet");
    g_.prefPasswordTextFieldOutlet->setEchoMode(QLineEdit::Password);
    grid->addWidget(g_.prefPasswordTextFieldOutlet, row++, 1, 1, 3);

    g_.prefCreateSeparateFolderForEachFileOutlet =
        Named(new QCheckBox(s.Text("SeparateFolderCheckbox"), pane), "prefCreateSeparateFolderForEachFileOutlet");
    g_.prefOverwriteExistingCheckButton =
        Named(new QCheckBox(s.Text("OverwriteCheckbox"), pane), "prefOverwriteExistingCheckButton");
    grid->addWidget(g_.prefCreateSeparateFolderForEachFileOutlet, row++, 1, 1, 3);
    grid->addWidget(g_.prefOverwriteExistingCheckButton, row++, 1, 1, 3);

    g_.resetDefaultPreferencesButton = MakeButton(pane, "resetDefaultPreferencesButton", s.Text("ResetButtonTitle"));
    g_.applyButtonOutlet = MakeButton(pane, "applyButtonOutlet", s.Text("ApplyButtonTitle"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(g_.resetDefaultPreferencesButton);
    buttons->addWidget(g_.applyButtonOutlet);
    grid->setRowMinimumHeight(row++, 8);
    grid->addLayout(buttons, row++, 0, 1, 4);
    grid->setColumnStretch(3, 1);
    return pane;
}

QWidget* PreferenceSheet::BuildWatchFolderPane() {
    const Services& s = deps_.services;
    auto* pane = Named(new QWidget, "WatchFolderOptionsSubview");
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(20, 14, 20, 8);

    struct Folder {
        const char* box;
        const char* titleKey;
        const char* field;
        const char* select;
        const char* open;
        QGroupBox** boxOut;
        QLineEdit** fieldOut;
        QPushButton** selectOut;
        QPushButton** openOut;
    };
    const Folder folders[] = {
        {"watchFolderSourcePathViewCntr", "WatchSourceFolderLabel", "watchFolderSourcePathTextField",
         "selectSourceWatchFolderButtonOutlet", "openSourceWatchFolderButtonOutlet", &wf_.watchFolderSourcePathViewCntr,
         &wf_.watchFolderSourcePathTextField, &wf_.selectSourceWatchFolderButtonOutlet,
         &wf_.openSourceWatchFolderButtonOutlet},
        {"watchFolderDestinationPathViewCntr", "WatchDestinationFolderLabel", "watchFolderDestinationPathTextField",
         "selectDestinationWatchFolderButtonOutlet", "openDestinationWatchFolderButtonOutlet",
         &wf_.watchFolderDestinationPathViewCntr, &wf_.watchFolderDestinationPathTextField,
         &wf_.selectDestinationWatchFolderButtonOutlet, &wf_.openDestinationWatchFolderButtonOutlet},
        {"watchFolderMoveFilesPathViewCntr", "WatchMoveFolderLabel", "watchFolderMoveFilesPathTextField",
         "selectMoveFilesWatchFolderButtonOutlet", "openMoveFilesWatchFolderButtonOutlet",
         &wf_.watchFolderMoveFilesPathViewCntr, &wf_.watchFolderMoveFilesPathTextField,
         &wf_.selectMoveFilesWatchFolderButtonOutlet, &wf_.openMoveFilesWatchFolderButtonOutlet},
    };
    for (const Folder& folder : folders) {
        auto* box = Named(new QGroupBox(s.Text(folder.titleKey), pane), folder.box);
        auto* row = new QHBoxLayout(box);
        auto* field = Named(new QLineEdit(box), folder.field);
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
        auto* select = MakeButton(box, folder.select, s.Text("SelectFolderButtonTitle"));
        auto* open = MakeButton(box, folder.open, s.Text("OpenFolderButtonTitle"));
        row->addWidget(field, 1);
        row->addWidget(select);
        row->addWidget(open);
        *folder.boxOut = box;
        *folder.fieldOut = field;
        *folder.selectOut = select;
        *folder.openOut = open;
        layout->addWidget(box);
        if (folder.boxOut == &wf_.watchFolderDestinationPathViewCntr) {
            // The after-conversion option sits between the destination and the move folder.
            wf_.sourceFileDeletOrMoveMatrixOutlet = Named(new QWidget(pane), "sourceFileDeletOrMoveMatrixOutlet");
            auto* options = new QVBoxLayout(wf_.sourceFileDeletOrMoveMatrixOutlet);
            options->setContentsMargins(8, 4, 8, 4);
            wf_.sourceFileDeletOrMoveMatrixGroup =
                Named(new QButtonGroup(wf_.sourceFileDeletOrMoveMatrixOutlet), "sourceFileDeletOrMoveMatrixGroup");
            const std::pair<const char*, const char*> cells[] = {{"deleteSourcesCell", "DeleteSourcesOption"},
                                                                 {"moveToDestinationCell", "MoveToDestinationOption"},
                                                                 {"moveToFolderCell", "MoveToFolderOption"}};
            int tag = 1;
            for (const auto& [name, key] : cells) {
                auto* cell = Named(new QRadioButton(s.Text(key), wf_.sourceFileDeletOrMoveMatrixOutlet), name);
                wf_.sourceFileDeletOrMoveMatrixGroup->addButton(cell, tag++);
                options->addWidget(cell);
            }
            wf_.sourceFileDeletOrMoveMatrixGroup->button(2)->setChecked(true);
            layout->addWidget(wf_.sourceFileDeletOrMoveMatrixOutlet);
        }
    }

    wf_.watchButtonOutlet = MakeButton(pane, "watchButtonOutlet", s.Text("StartWatchingButtonTitle"));
    wf_.watchButtonOutlet->setEnabled(false);
    wf_.watchingSpinningProgressOutlet = Named(new QProgressBar(pane), "watchingSpinningProgressOutlet");
    wf_.watchingSpinningProgressOutlet->setRange(0, 0);
    wf_.watchingSpinningProgressOutlet->setTextVisible(false);
    wf_.watchingSpinningProgressOutlet->setFixedWidth(80);
    wf_.watchingSpinningProgressOutlet->hide();
    auto* watch = new QHBoxLayout;
    watch->addStretch();
    watch->addWidget(wf_.watchingSpinningProgressOutlet);
    watch->addWidget(wf_.watchButtonOutlet);
    layout->addStretch();
    layout->addLayout(watch);
    return pane;
}

void PreferenceSheet::Connect() {
    connect(generalOptionsItem_, &QAction::triggered, this, &PreferenceSheet::GeneralOptionsPreferences);
    connect(watchFolderOptionsItem_, &QAction::triggered, this, &PreferenceSheet::WatchFolderPreferences);

    QComboBox* type = g_.prefDestImageTypePopUpButtonOutlet;
    connect(type, &QComboBox::activated, this, [this, type] { SetPreferencesImageTypeSecondaryOption(type); });
    QComboBox* mode = g_.prefConvertOrExtractOptionPopupOutlet;
    connect(mode, &QComboBox::activated, this, [this, mode] { ConvertOrExtractPreferencesOptionChange(mode); });
    QComboBox* unit = g_.prefSizeFormatTypePopupButton;
    connect(unit, &QComboBox::activated, this, [this, unit] { changePrefImageResizeTypePopupAction(unit); });
    connect(QualitySlider::Of(g_.prefImageQualitySliderOutlet), &QualitySlider::userChanged, this,
            [this] { PrefImageQualitySliderAction(g_.prefImageQualitySliderOutlet); });

    // The remaining controls only make Apply usable.
    for (QComboBox* box : {g_.prefImageColorModelPopUpButtonOutlet, g_.prefResolutionTypePopUpButtonOutlet})
        connect(box, &QComboBox::activated, this, [this, box] { ChangeInPreferencesControl(box); });
    for (QCheckBox* check : {g_.prefCreateSeparateFolderForEachFileOutlet, g_.prefOverwriteExistingCheckButton})
        connect(check, &QCheckBox::clicked, this, [this, check] { ChangeInPreferencesControl(check); });
    for (QWidget* field : std::initializer_list<QWidget*>{g_.prefResolutionTypePopUpButtonOutlet, g_.prefPasswordTextFieldOutlet,
                                                          g_.prefWidthTextField, g_.prefHeightTextField})
        ConnectUserTextChange(field, this, "OnPaneEdited()");

    connect(g_.applyButtonOutlet, &QPushButton::clicked, this, &PreferenceSheet::ApplyPreferences);
    connect(g_.resetDefaultPreferencesButton, &QPushButton::clicked, this, &PreferenceSheet::ResetDefaultPreferences);
    connect(doneButton_, &QPushButton::clicked, this, &PreferenceSheet::DoneButtonAction);
}

TypeControls PreferenceSheet::typeControls() const {
    TypeControls controls;
    controls.typePopup = g_.prefDestImageTypePopUpButtonOutlet;
    controls.colorPopup = g_.prefImageColorModelPopUpButtonOutlet;
    controls.colorLabel = g_.prefImageColorModelEditFieldOutlet;
    controls.qualitySlider = g_.prefImageQualitySliderOutlet;
    controls.qualityLabels = {g_.prefImageQualityStaticTextOutlet, g_.prefImageQualityLowStaticTextOutlet,
                              g_.prefImageQualityMediumStaticTextOutlet, g_.prefImageQualityBestStaticTextOutlet};
    controls.resolutionBox = g_.prefResolutionTypePopUpButtonOutlet;
    controls.resolutionLabels = {g_.prefResolutionStaticTextOutlet, g_.prefResolutionDpiStaticText};
    controls.sizeControls = {g_.prefWidthTextField, g_.prefHeightTextField, g_.prefWidthLabel, g_.prefHeightLabel,
                             g_.prefSizeFormatTypePopupButton};
    controls.lockDecorations = {g_.prefLockLinesBox1, g_.prefLockLinesBox2, g_.prefLockLinesBox3,
                                g_.prefLockUnlockImageView};
    return controls;
}

// --- Opening --------------------------------------------------------------------------------

void PreferenceSheet::Open(std::optional<Pane> pane) {
    // A second request while the sheet is up only switches the pane: the pane's edits stay.
    if (!isVisible()) {
        std::optional<PreferenceDictionary> preferences =
            deps_.store ? deps_.store->Read(kGeneralPreferenceFile) : std::nullopt;
        if (!preferences) preferences = DefaultGeneralPreferences();
        SetPreferenceValue(&*preferences);
        SetPreferencesImageTypeSecondaryOption(nullptr);
        ConvertOrExtractPreferencesOptionChange(nullptr);
    }
    if (pane) ShowPane(*pane);
    open();
}

void PreferenceSheet::Preferences() { Open(std::nullopt); }
void PreferenceSheet::OpenGeneralPreferencesSettings() { Open(Pane::General); }
void PreferenceSheet::OpenWatchFolderPreferences() { Open(Pane::WatchFolder); }
void PreferenceSheet::GeneralOptionsPreferences() { ShowPane(Pane::General); }
void PreferenceSheet::WatchFolderPreferences() { ShowPane(Pane::WatchFolder); }

void PreferenceSheet::ShowPane(Pane pane) {
    const bool general = pane == Pane::General;
    preferencesMainSubview_->setCurrentWidget(general ? generalOptionsSubview_ : watchFolderOptionsSubview_);
    (general ? generalOptionsItem_ : watchFolderOptionsItem_)->setChecked(true);
}

PreferenceSheet::Pane PreferenceSheet::shownPane() const {
    return preferencesMainSubview_->currentWidget() == watchFolderOptionsSubview_ ? Pane::WatchFolder : Pane::General;
}

// --- The general pane -----------------------------------------------------------------------

void PreferenceSheet::SetPreferenceValue(const PreferenceDictionary* preferences) {
    if (!preferences) return;
    const PreferenceDictionary& prefs = *preferences;

    SelectTag(g_.prefDestImageTypePopUpButtonOutlet,
              StoredImageType(IntegerPreference(prefs, key::kImageType).value_or(kDefaultOutputType)));
    SelectTag(g_.prefImageColorModelPopUpButtonOutlet,
              static_cast<int>(IntegerPreference(prefs, key::kColorModel).value_or(kColorRGB)));

    QComboBox* resolution = g_.prefResolutionTypePopUpButtonOutlet;
    if (const std::optional<std::int64_t> stored = IntegerPreference(prefs, key::kImageResolutionOption))
        SetFieldText(resolution, QString::number(StoredResolution(*stored)));
    else if (resolution->count() > kFallbackResolutionIndex)
        resolution->setCurrentIndex(kFallbackResolutionIndex);

    // The slider takes the stored quality, kept within its range.
    const std::optional<double> stored = RealPreference(prefs, key::kJPEGQuality);
    QualitySlider::Of(g_.prefImageQualitySliderOutlet)
        ->setValue(StoredQuality(stored.value_or(kFallbackQuality)).value_or(kFallbackQuality));
    PrefImageQualitySliderAction(nullptr);

    g_.prefPasswordTextFieldOutlet->setText(QString::fromStdString(StringPreference(prefs, key::kPassword).value_or("")));
    g_.prefCreateSeparateFolderForEachFileOutlet->setChecked(BoolPreference(prefs, key::kCreateSeparateFolder).value_or(true));
    g_.prefOverwriteExistingCheckButton->setChecked(BoolPreference(prefs, key::kOverWriteExistingFile).value_or(false));
    SelectTag(g_.prefConvertOrExtractOptionPopupOutlet,
              static_cast<int>(IntegerPreference(prefs, key::kProcessingType).value_or(kConvertMode)));
    SelectTag(g_.prefSizeFormatTypePopupButton,
              static_cast<int>(IntegerPreference(prefs, key::kInputType).value_or(kSizePoints)));
    currentPrefSizeFormatType_ = SelectedTag(g_.prefSizeFormatTypePopupButton);
    g_.prefWidthTextField->setText(QString::fromStdString(StringPreference(prefs, key::kWidth).value_or("")));
    g_.prefHeightTextField->setText(QString::fromStdString(StringPreference(prefs, key::kHeight).value_or("")));
}

void PreferenceSheet::GetPreferenceValue(PreferenceDictionary* preferences) const {
    if (!preferences) return;
    PreferenceDictionary& prefs = *preferences;
    prefs[key::kImageType] = std::int64_t{SelectedTag(g_.prefDestImageTypePopUpButtonOutlet)};
    prefs[key::kColorModel] = std::int64_t{SelectedTag(g_.prefImageColorModelPopUpButtonOutlet)};
    prefs[key::kImageResolutionOption] = IntegerValue(FieldText(g_.prefResolutionTypePopUpButtonOutlet));
    prefs[key::kJPEGQuality] = quality();
    prefs[key::kPassword] = g_.prefPasswordTextFieldOutlet->text().toStdString();
    prefs[key::kCreateSeparateFolder] = g_.prefCreateSeparateFolderForEachFileOutlet->isChecked();
    prefs[key::kOverWriteExistingFile] = g_.prefOverwriteExistingCheckButton->isChecked();
    prefs[key::kProcessingType] = std::int64_t{SelectedTag(g_.prefConvertOrExtractOptionPopupOutlet)};
    prefs[key::kInputType] = std::int64_t{SelectedTag(g_.prefSizeFormatTypePopupButton)};
    prefs[key::kWidth] = g_.prefWidthTextField->text().toStdString();
    prefs[key::kHeight] = g_.prefHeightTextField->text().toStdString();
}

bool PreferenceSheet::WriteGeneralPrefOptions() {
    PreferenceDictionary preferences;
    GetPreferenceValue(&preferences);
    return deps_.store && deps_.store->Write(preferences, kGeneralPreferenceFile);
}

void PreferenceSheet::SetPreferencesImageTypeSecondaryOption(QObject* sender) {
    const int mode = SelectedTag(g_.prefConvertOrExtractOptionPopupOutlet);
    ApplyOutputTypeRules(typeControls(), mode == kConvertMode || mode == 3);
    if (sender) ChangeInPreferencesControl(sender);
}

void PreferenceSheet::ConvertOrExtractPreferencesOptionChange(QObject* sender) {
    const bool extract = SelectedTag(g_.prefConvertOrExtractOptionPopupOutlet) == kExtractMode;
    ApplyModeRules(typeControls(), extract);
    if (!extract) SetPreferencesImageTypeSecondaryOption(nullptr);
    if (sender) ChangeInPreferencesControl(sender);
}

double PreferenceSheet::quality() const { return QualitySlider::Of(g_.prefImageQualitySliderOutlet)->value(); }

void PreferenceSheet::PrefImageQualitySliderAction(QObject* sender) {
    g_.prefImageQualityStaticTextOutlet->setText(QualityLabelText(kSheetQualityLabelFormat, quality()));
    g_.prefImageQualityStaticTextOutlet->update();
    if (sender) ChangeInPreferencesControl(sender);
}

void PreferenceSheet::changePrefImageResizeTypePopupAction(QObject* sender) {
    QComboBox* unit = g_.prefSizeFormatTypePopupButton;
    const int newUnit = SelectedTag(unit);
    if (newUnit == currentPrefSizeFormatType_) return;
    const float width = FloatValue(g_.prefWidthTextField->text());
    const float height = FloatValue(g_.prefHeightTextField->text());
    const double resolution = static_cast<double>(IntegerValue(FieldText(g_.prefResolutionTypePopUpButtonOutlet)));
    const std::optional<SizeTexts> texts =
        ConvertSizeTexts(currentPrefSizeFormatType_, newUnit, resolution, width, height);
    if (!texts) {
        // The size cannot be expressed in the new unit: the fields keep their unit.
        SelectTag(unit, currentPrefSizeFormatType_);
        return;
    }
    if (texts->width) g_.prefWidthTextField->setText(*texts->width);
    if (texts->height) g_.prefHeightTextField->setText(*texts->height);
    currentPrefSizeFormatType_ = newUnit;
    ChangeInPreferencesControl(sender ? sender : unit);
}

void PreferenceSheet::ChangeInPreferencesControl(QObject* /*sender*/) { g_.applyButtonOutlet->setEnabled(true); }

void PreferenceSheet::OnPaneEdited() { ChangeInPreferencesControl(sender()); }

void PreferenceSheet::DefaultPrefResizeOption() {
    SelectTag(g_.prefSizeFormatTypePopupButton, kSizePoints);
    currentPrefSizeFormatType_ = kSizePoints;
}

// --- Buttons --------------------------------------------------------------------------------

void PreferenceSheet::ApplyPreferences() {
    if (!CheckResolutionIsValid(g_.prefResolutionTypePopUpButtonOutlet, deps_.services)) return;
    // A write that failed leaves Apply usable, so the user can try again.
    if (!WriteGeneralPrefOptions()) return;
    g_.applyButtonOutlet->setEnabled(false);
    if (deps_.isWatching && deps_.isWatching()) {
        const Services& s = deps_.services;
        s.Alert(this, s.Text("ConversionEffectOnWatchMsg"), QString(), s.Text("OkButtonString"));
    }
}

void PreferenceSheet::ResetDefaultPreferences() {
    const PreferenceDictionary defaults = DefaultGeneralPreferences();
    SetPreferenceValue(&defaults);
    SetPreferencesImageTypeSecondaryOption(nullptr);
    ConvertOrExtractPreferencesOptionChange(nullptr);
    g_.applyButtonOutlet->setEnabled(true);
}

void PreferenceSheet::DoneButtonAction() { accept(); }

}  // namespace settings
