#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <memory>

#include "EnabledState.h"

class QAbstractItemModel;
class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;
class QStandardItemModel;
class QTabWidget;
class QTableView;
class QToolButton;
class QWidget;

class MainWindow;
class NumberField;
class OVXValidatedViewToolbar;
class PageCountNumberField;
class ProgressHUDView;
class ResolutionComboBox;
class Stepper;

// The application's delegate: it builds the main window, owns its controls and state, and is
// the target of the menus, the toolbar and the window's buttons. Every method runs on the main
// thread. Each control carries its outlet name as objectName.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Builds the main window and runs the start-up steps, once.
    void awakeFromNib();
    MainWindow* window() const { return window_.get(); }

    // --- Closing and quitting -------------------------------------------------------------
    // The main window asks before it closes: while the watch folder is active the user is
    // asked whether to quit; true lets the window close.
    bool windowShouldClose();
    // Closing the last window quits.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
    // 1: quit now; 0: keep running. Asks while the watch folder is active, unless the user has
    // just confirmed by closing the main window.
    int applicationShouldTerminate();
    // Nothing is saved at quit.
    void applicationWillTerminate() {}
    // The Quit command: asks applicationShouldTerminate and, on 1, emits terminationApproved.
    void terminate();
    // The main window has closed (after windowShouldClose allowed it).
    void windowDidClose();

    // The watch folder's state (m_Watching): set by the watch folder as watching starts and stops.
    bool isWatching() const { return m_Watching; }
    void setWatching(bool watching) { m_Watching = watching; }
    bool isMainWindowClosing() const { return m_mainWindowClosing; }

    // --- Enabling -------------------------------------------------------------------------
    // The busy switch while files are added: kBusyCode before, kIdleCode after. It also empties
    // the progress sheet's lines and bars.
    void SetEnableDisableControlWhileConversion(int code);
    // Both make every list command follow the list (called after every change of the list).
    void InitialiseUIControls();
    void ResetUIControls();
    int busyCode() const { return busyCode_; }
    EnabledState currentEnabledState() const;
    // The enabled state of a menu item, context-menu item or toolbar command.
    bool validateMenuItem(const QAction* item) const;

    // --- File list ------------------------------------------------------------------------
    // The table's model. The window starts with an empty list of the table's columns; the file
    // list replaces it with its own model (not owned). Its rows and the table's selection feed
    // the enabled states.
    void SetFileListModel(QAbstractItemModel* model);
    qsizetype listSize() const;
    qsizetype selectedRowCount() const;

    // --- Help and application commands ----------------------------------------------------
    void ContactSupportAction();
    void UserManualHelpAction();
    void AboutAction();
    void HideAction();
    static QUrl SupportPageUrl();
    static QString UserManualResourceName();

    // The window's colours changed: the toolbar images are drawn again in the new text colour.
    void windowPaletteChanged();

    // Documents handed to the program by the file manager or on its command line.
    void applicationOpenFiles(const QStringList& paths);

signals:
    // The quit was confirmed: the event loop should end.
    void terminationApproved();

private:
    // The interface: windows, menus and controls, with their initial texts and frames.
    void LoadMainInterface();
    void BuildActions();
    void BuildMenus();
    void BuildToolbar();
    void BuildFileList();
    void BuildSettingsControls();
    void BuildPageRangeView();
    void BuildImageDimensionsView();
    void BuildProgressSheet();
    void BuildContextMenu();
    QAction* MakeAction(const char* objectName, const QString& text);
    QToolButton* MakeToolbarButton(const char* objectName, QAction* command, const QString& label);

    // Start-up steps.
    void SetTitles();
    void PlaceSettingsControls();
    void SetToolbarImages();
    void DefaultResizeOption();
    void UpdateEnabledStates();
    void ShowListContextMenu(const QPoint& position);

    // --- Start-up steps and commands of the parts still to come ---------------------------
    // Each is a no-op until its part is built; the start-up sequence already calls them in order.
    void DefaultPrefResizeOption() {}                         // preference sheet
    void MakeRateApplicationObject() {}                       // store-rating link
    void RegisterListDragTypes() {}                           // file list table
    void InitSortingInfo() {}                                 // file list table
    void ReadConversionOptionPreferences() {}                 // preference files
    void SetImageTypeSecondaryOption(QObject* /*sender*/) {}  // conversion settings
    void ConvertOrExtractOptionChange(QObject* /*sender*/) {} // conversion settings
    void ResetConversionAndPasswordFlags() {}                 // conversion run, password sheet
    void PrepareWatchFolderDropBoxes() {}                     // watch folder set-up
    void PreparePreferenceSheet() {}                          // preference sheet
    void ResetWatchFolderState() {}                           // watch folder set-up
    void DoWatchFolderFilesManipulation(QObject* /*sender*/) {}  // watch folder set-up
    void StartAutoWatchFolder() {}                            // watch folder watching
    void AddFilesOrFolder(QObject* /*sender*/) {}             // adding files
    void Export(QObject* /*sender*/) {}                       // conversion run
    void ExportAll(QObject* /*sender*/) {}                    // conversion run
    void Remove(QObject* /*sender*/) {}                       // file list table
    void RemoveAll(QObject* /*sender*/) {}                    // file list table
    void SelectAll(QObject* /*sender*/) {}                    // file list table
    void RevealInFinder(QObject* /*sender*/) {}               // file list table
    void RateApplicationAction(QObject* /*sender*/) {}        // store-rating link
    void Preferences(QObject* /*sender*/) {}                  // preference sheet
    void OpenGeneralPreferencesSettings(QObject* /*sender*/) {}  // preference sheet
    void OpenWatchFolderPreferences(QObject* /*sender*/) {}   // preference sheet
    void OpenFiles(const QStringList& /*paths*/) {}           // adding files

    // --- State ----------------------------------------------------------------------------
    bool awoken_ = false;
    int busyCode_ = kNotSwitched;
    bool m_Watching = false;
    bool m_mainWindowClosing = false;
    std::int32_t currentSizeFormatType = 0;
    std::int64_t currentSelectedPDFIndex = -1;

    // --- Main window ----------------------------------------------------------------------
    std::unique_ptr<MainWindow> window_;
    QWidget* windowView = nullptr;
    OVXValidatedViewToolbar* mainToolbar = nullptr;
    QWidget* conversionListScrollViewOutlet = nullptr;
    QTableView* imageListTable = nullptr;
    QStandardItemModel* emptyFileList_ = nullptr;
    ProgressHUDView* addSpinView = nullptr;
    QMenu* imageListContextMenu_ = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* exportAllButton = nullptr;

    // Toolbar: buttons, and the items holding the buttons that have labels of their own.
    QToolButton* addToolbarItem = nullptr;
    QToolButton* removeToolbarItem = nullptr;
    QToolButton* removeAllToolbarItem = nullptr;
    QToolButton* exportToolbarItem = nullptr;
    QToolButton* exportAllToolbarItem = nullptr;
    QToolButton* ratingToolbarItem = nullptr;
    QToolButton* helpToolbarItem = nullptr;
    QAction* exportToolbarButtonItem = nullptr;
    QAction* exportAllToolbarButtonItem = nullptr;
    QAction* ratingToolbarItemMain = nullptr;
    QAction* helpToolbarItemMain = nullptr;

    // Menu items; the list commands are shared by the menus and the toolbar.
    QAction* addImageMenuItem = nullptr;
    QAction* exportMenuItem = nullptr;
    QAction* exportAllMenuItem = nullptr;
    QAction* selectAllMenuItem = nullptr;
    QAction* removeMenuItem = nullptr;
    QAction* removeAllMenuItem = nullptr;
    QAction* addImageContextMenuItem = nullptr;
    QAction* exportContextMenuItem = nullptr;
    QAction* exportAllContextMenuItem = nullptr;
    QAction* selectAllContextMenuItem = nullptr;
    QAction* removeContextMenuItem = nullptr;
    QAction* removeAllContextMenuItem = nullptr;
    QAction* revealInFinderContextMenuItem = nullptr;
    QAction* aboutMenuItemOutlet = nullptr;
    QAction* hideMenuItemOutlet = nullptr;
    QAction* quitMenuItemOutlet = nullptr;
    QAction* helpMenuItemOutlet = nullptr;
    QAction* preferencesMenuItemOutlet = nullptr;
    QAction* generalSettingMenuItemOutlet = nullptr;
    QAction* watchFolderOptionMenuItemOutlet = nullptr;
    QAction* closeWindowMenuItem_ = nullptr;
    QAction* contactSupportMenuItem_ = nullptr;
    QAction* rateMenuItem_ = nullptr;

    // Progress sheet.
    QDialog* exportProgressSheet = nullptr;
    QProgressBar* conversionProgressIndicator = nullptr;
    QProgressBar* pageProcessingProgressIndicator = nullptr;
    QLabel* conversionFileNumberStaticText = nullptr;
    QLabel* conversionPageNumberStaticText = nullptr;
    QPushButton* cancelConversionButton_ = nullptr;

    // Conversion settings.
    QTabWidget* conversionSettingsTabViewOutlet = nullptr;
    QWidget* conversionSettingsViewOutlet = nullptr;
    QLabel* destinationImageTypeEditFieldOutlet = nullptr;
    QComboBox* destinationImageTypePopUpOutlet = nullptr;
    QComboBox* textFormatTypeOutlet = nullptr;
    QLabel* colorModelEditFieldOutlet = nullptr;
    QComboBox* colorModelPopUpOutlet = nullptr;
    QLabel* imageCompressionQuaityLabelOutlet = nullptr;
    QSlider* imageCompressionQuaitySliderOutlet = nullptr;
    QLabel* imageCompressionLeastQuaityEditFieldOutlet = nullptr;
    QLabel* imageCompressionMediumQuaityEditFieldOutlet = nullptr;
    QLabel* imageCompressionLosseessQuaityEditFieldOutlet = nullptr;
    QLabel* resolutionStaticText = nullptr;
    ResolutionComboBox* imageResolutionPopUpOutlet = nullptr;
    QLabel* resolutionDpiStaticText = nullptr;
    QWidget* imageDimentionsViewOutlet = nullptr;
    QLabel* widthLabel = nullptr;
    NumberField* widthTextField = nullptr;
    QLabel* heightLabel = nullptr;
    NumberField* heightTextField = nullptr;
    QComboBox* sizeFormatTypePopupButton = nullptr;
    QFrame* lockLinesBox1 = nullptr;
    QFrame* lockLinesBox2 = nullptr;
    QFrame* lockLinesBox3 = nullptr;
    QLabel* lockUnlockImageView = nullptr;
    QWidget* pageRangeViewOutlet = nullptr;
    QComboBox* pageRangeTypePopUpButtonOutlet = nullptr;
    QLabel* pageFromStaticTextOutlet = nullptr;
    PageCountNumberField* pageRangeStartTextFieldOutlet = nullptr;
    Stepper* pageRangeStartStepperOutlet = nullptr;
    QLabel* pageToStaticTextOutlet = nullptr;
    PageCountNumberField* pageRangeEndTextFieldOutlet = nullptr;
    Stepper* pageRangeEndStepperOutlet = nullptr;
    QComboBox* convertOrExtractOptionPopupOutlet = nullptr;
    QCheckBox* createSeparateFolderForEachFileButtonOutlet = nullptr;
};
