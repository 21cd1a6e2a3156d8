#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>

#include "PreferenceStore.h"
#include "SettingsControls.h"
#include "SettingsRules.h"
#include "SettingsServices.h"

class QAbstractSlider;
class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolBar;

namespace settings {

// The general pane's controls, named after their outlets.
struct GeneralPaneWidgets {
    QComboBox* prefDestImageTypePopUpButtonOutlet = nullptr;  // tags 1..23 (23: the multi-page TIFF item)
    QComboBox* prefImageColorModelPopUpButtonOutlet = nullptr;
    QLabel* prefImageColorModelEditFieldOutlet = nullptr;
    QAbstractSlider* prefImageQualitySliderOutlet = nullptr;
    QLabel* prefImageQualityStaticTextOutlet = nullptr;
    QLabel* prefImageQualityLowStaticTextOutlet = nullptr;
    QLabel* prefImageQualityMediumStaticTextOutlet = nullptr;
    QLabel* prefImageQualityBestStaticTextOutlet = nullptr;
    QComboBox* prefResolutionTypePopUpButtonOutlet = nullptr;
    QLabel* prefResolutionStaticTextOutlet = nullptr;
    QLabel* prefResolutionDpiStaticText = nullptr;
    QLineEdit* prefPasswordTextFieldOutlet = nullptr;
    QCheckBox* prefCreateSeparateFolderForEachFileOutlet = nullptr;
    QCheckBox* prefOverwriteExistingCheckButton = nullptr;
    QComboBox* prefConvertOrExtractOptionPopupOutlet = nullptr;
    QLineEdit* prefWidthTextField = nullptr;
    QLineEdit* prefHeightTextField = nullptr;
    QLabel* prefWidthLabel = nullptr;
    QLabel* prefHeightLabel = nullptr;
    QComboBox* prefSizeFormatTypePopupButton = nullptr;
    QWidget* prefLockLinesBox1 = nullptr;
    QWidget* prefLockLinesBox2 = nullptr;
    QWidget* prefLockLinesBox3 = nullptr;
    QLabel* prefLockUnlockImageView = nullptr;
    QPushButton* applyButtonOutlet = nullptr;
    QPushButton* resetDefaultPreferencesButton = nullptr;
};

// The watch-folder pane's controls; the watch folder gives them their behaviour.
struct WatchFolderPaneWidgets {
    // The drop boxes, each holding its folder's path field and buttons.
    QGroupBox* watchFolderSourcePathViewCntr = nullptr;
    QGroupBox* watchFolderDestinationPathViewCntr = nullptr;
    QGroupBox* watchFolderMoveFilesPathViewCntr = nullptr;
    QLineEdit* watchFolderSourcePathTextField = nullptr;  // read-only
    QLineEdit* watchFolderDestinationPathTextField = nullptr;
    QLineEdit* watchFolderMoveFilesPathTextField = nullptr;
    QPushButton* selectSourceWatchFolderButtonOutlet = nullptr;
    QPushButton* selectDestinationWatchFolderButtonOutlet = nullptr;
    QPushButton* selectMoveFilesWatchFolderButtonOutlet = nullptr;
    QPushButton* openSourceWatchFolderButtonOutlet = nullptr;
    QPushButton* openDestinationWatchFolderButtonOutlet = nullptr;
    QPushButton* openMoveFilesWatchFolderButtonOutlet = nullptr;
    // The after-conversion option: three radio buttons whose ids in the group are the tags
    // 1 delete, 2 move to the destination folder, 3 move to the chosen folder (2 at start).
    QWidget* sourceFileDeletOrMoveMatrixOutlet = nullptr;
    QButtonGroup* sourceFileDeletOrMoveMatrixGroup = nullptr;
    QPushButton* watchButtonOutlet = nullptr;  // disabled at start
    QProgressBar* watchingSpinningProgressOutlet = nullptr;  // hidden until watching
};

struct PreferenceSheetDependencies {
    Services services;
    PreferenceStore* store = nullptr;  // not owned; null: no preference file
    // Whether the watch folder is watching (Apply then tells that the running watch keeps its
    // settings).
    std::function<bool()> isWatching;
    // The sheet's width and height fields and its resolution box; plain widgets by default.
    std::function<QLineEdit*(QWidget* parent)> makeNumberField;
    std::function<QComboBox*(QWidget* parent)> makeResolutionComboBox;
};

// The preference sheet: a window-modal dialog on the main window with two panes, general
// options and watch folder, switched by its toolbar. The general pane edits the conversion
// defaults of the general preference file: it is loaded from the file (or the built-in
// defaults) whenever the sheet opens, Apply writes all eleven keys, Reset puts the built-in
// defaults in the pane, Done closes without writing. Main thread only.
class PreferenceSheet : public QDialog {
    Q_OBJECT
public:
    enum class Pane { General, WatchFolder };

    PreferenceSheet(QWidget* mainWindow, PreferenceSheetDependencies dependencies);

    const GeneralPaneWidgets& general() const { return g_; }
    const WatchFolderPaneWidgets& watchFolder() const { return wf_; }
    QToolBar* toolbar() const { return prefToolbarOutlet_; }
    QPushButton* doneButton() const { return doneButton_; }

    // --- Opening ----------------------------------------------------------------------------
    // Load the general pane and open the sheet: on the pane shown last, on the general pane, or
    // on the watch-folder pane.
    void Preferences();
    void OpenGeneralPreferencesSettings();
    void OpenWatchFolderPreferences();
    // The toolbar's actions: show one pane.
    void GeneralOptionsPreferences();
    void WatchFolderPreferences();
    Pane shownPane() const;

    // --- The general pane -------------------------------------------------------------------
    // Loads the pane from a dictionary; each missing key takes the pane's fallback, and stored
    // values are kept to the ranges the controls can take. Null does nothing.
    void SetPreferenceValue(const PreferenceDictionary* preferences);
    // The pane's eleven values into the dictionary. Null does nothing.
    void GetPreferenceValue(PreferenceDictionary* preferences) const;
    bool WriteGeneralPrefOptions();

    void SetPreferencesImageTypeSecondaryOption(QObject* sender = nullptr);
    void ConvertOrExtractPreferencesOptionChange(QObject* sender = nullptr);
    void PrefImageQualitySliderAction(QObject* sender = nullptr);
    void changePrefImageResizeTypePopupAction(QObject* sender = nullptr);
    // Any edit of the pane: Apply becomes usable.
    void ChangeInPreferencesControl(QObject* sender = nullptr);
    void DefaultPrefResizeOption();

    // --- Buttons ----------------------------------------------------------------------------
    // Checks the resolution, writes the file and disables Apply; while watching, tells that the
    // running watch goes on with its settings. A refused resolution or a failed write leaves
    // Apply usable and the sheet open.
    void ApplyPreferences();
    void ResetDefaultPreferences();
    void DoneButtonAction();

    std::int32_t currentPrefSizeFormatType() const { return currentPrefSizeFormatType_; }
    double quality() const;
    TypeControls typeControls() const;

private slots:
    void OnPaneEdited();

private:
    void BuildInterface();
    QWidget* BuildGeneralPane();
    QWidget* BuildWatchFolderPane();
    void Connect();
    void ShowPane(Pane pane);
    void Open(std::optional<Pane> pane);

    PreferenceSheetDependencies deps_;
    GeneralPaneWidgets g_;
    WatchFolderPaneWidgets wf_;
    QToolBar* prefToolbarOutlet_ = nullptr;
    QAction* generalOptionsItem_ = nullptr;
    QAction* watchFolderOptionsItem_ = nullptr;
    QStackedWidget* preferencesMainSubview_ = nullptr;
    QWidget* generalOptionsSubview_ = nullptr;
    QWidget* watchFolderOptionsSubview_ = nullptr;
    QPushButton* doneButton_ = nullptr;
    std::int32_t currentPrefSizeFormatType_ = kSizePoints;
};

}  // namespace settings
