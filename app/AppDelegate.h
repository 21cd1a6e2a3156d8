#pragma once

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "EnabledState.h"
#include "filelist/DragOut.h"
#include "filelist/ImageListItem.h"
#include "settings/MainSettingsControls.h"

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

class FileListController;
class MacAppStoreRating;
class MainWindow;
class NumberField;
class OVXValidatedViewToolbar;
class PageCountNumberField;
class ProgressHUDView;
class ProgressSheet;
class QFileDialog;
class ResolutionComboBox;
class Stepper;
struct ImageConversion;

namespace run {
class ConversionRun;
}
namespace watch {
class WatchFolder;
}
namespace settings {
class ConversionSettingsController;
class PreferenceSheet;
class PreferenceStore;
}  // namespace settings

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
    // The session ends (the program was asked to stop, as at logout): a run in progress is
    // stopped without asking and its unfinished file cleaned up as a failed one, questions still
    // up get their cautious answers, and the quit is approved.
    void EndSession();

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

    // --- The parts of the window ----------------------------------------------------------
    FileListController* fileList() const { return fileList_; }
    settings::ConversionSettingsController* settingsController() const { return settingsController_; }
    settings::PreferenceSheet* preferenceSheet() const { return sheet_; }
    ProgressSheet* progressSheet() const { return progressSheet_; }
    watch::WatchFolder* watchFolder() const { return watchFolder_.get(); }

    // --- Conversion run -------------------------------------------------------------------
    // Convert (the selected rows) and Convert All: the settings are checked, then the
    // destination folder is asked for in a window-modal panel; on OK the run starts. Nothing
    // starts while a run is in progress or the panel is up, nor without items.
    void Export(QObject* sender = nullptr);
    void ExportAll(QObject* sender = nullptr);
    // The destination panel (made on first use).
    QFileDialog* exportPanel();
    // The run in progress (from the panel's OK until its worker has ended), or null.
    std::shared_ptr<run::ConversionRun> currentRun() const { return run_; }
    // Fills a zeroed record from the window's controls, as a run does.
    bool GetConversionSettings(ImageConversion* record) const;
    // The result report on the main thread: the desktop notification, then the result alert,
    // whose alternate button opens the destination folder.
    void AlertOnSuccessConversion(int result, const std::filesystem::path& destination);
    // The engine's entry for runs (dragged-out rows' runs too); empty: ConvertPDFToImages.
    void setPdfConverter(PdfConverter convert) { convert_ = std::move(convert); }

signals:
    // A run has ended and been released: its result code, 0 when nothing was reported (a
    // cancelled run, or one stopped by quitting).
    void conversionRunEnded(int result);

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
    void BuildProgressSheet();
    void BuildContextMenu();
    QAction* MakeAction(const char* objectName, const QString& text);
    QToolButton* MakeToolbarButton(const char* objectName, QAction* command, const QString& label);

    // Start-up steps.
    void SetTitles();
    void PlaceSettingsControls();
    void SetToolbarImages();
    void UpdateEnabledStates();
    void ShowListContextMenu(const QPoint& position);

    // The parts of the window, made after the interface.
    static settings::Services MakeServices();
    void MakeSettingsController();
    void MakeFileList();
    void PreparePreferenceSheet();
    // The watch folder on the sheet's watch pane: its drop boxes, its state, the option's
    // effects, and the restoring (and resuming) of a stored watch.
    void PrepareWatchFolderDropBoxes();
    void DoWatchFolderFilesManipulation(QObject* sender);
    void StartAutoWatchFolder();

    // Commands forwarded to the file list and the preference sheet.
    void AddFilesOrFolder(QObject* sender);
    void Remove(QObject* sender);
    void RemoveAll(QObject* sender);
    void SelectAll(QObject* sender);
    void RevealInFinder(QObject* sender);
    void Preferences(QObject* sender);
    void OpenGeneralPreferencesSettings(QObject* sender);
    void OpenWatchFolderPreferences(QObject* sender);
    void OpenFiles(const QStringList& paths);

    // The conversion run.
    void StartExport(std::vector<ImageListItem> items);
    void ExportPanelCompletionHandler(int result);
    // Rows dragged out and dropped in `folder`: a run into it, as Convert would start after its
    // panel. False when none starts.
    bool StartDragOutRun(std::vector<ImageListItem> items, const QString& folder);
    // Starts the run of `items` into `destination` with the window's settings.
    void StartRun(std::vector<ImageListItem> items, const std::filesystem::path& destination);
    void RunFinished(run::ConversionRun* run);
    bool isConverting() const;
    // Quitting while a run is in progress: the user is asked; on yes the run is stopped, any
    // question still waiting is answered, and true is returned.
    bool AskAndStopRunForQuit();
    // Stops the run (if any) and answers the questions still waiting: a password question
    // cancels its add request, an alert is dismissed.
    void StopRunForQuit();
    void StopRun();
    std::uint8_t Convert(const ImageConversion* record) const;

    // The store-rating link (made at start-up) and the rating command, which the link performs
    // on the main thread once the event loop is free.
    void MakeRateApplicationObject();
    void RateApplicationAction(QObject* sender);

    // --- State ----------------------------------------------------------------------------
    bool awoken_ = false;
    int busyCode_ = kNotSwitched;
    bool m_Watching = false;
    bool m_mainWindowClosing = false;
    std::int64_t currentSelectedPDFIndex = -1;

    // --- The parts of the window ----------------------------------------------------------
    MacAppStoreRating* rateApplicationObject = nullptr;  // a child, kept for the process's life
    std::unique_ptr<settings::PreferenceStore> store_;
    settings::ConversionSettingsController* settingsController_ = nullptr;
    settings::PreferenceSheet* sheet_ = nullptr;
    FileListController* fileList_ = nullptr;
    std::unique_ptr<watch::WatchFolder> watchFolder_;

    // --- Conversion run -------------------------------------------------------------------
    // The items waiting for the destination panel's answer.
    std::optional<std::vector<ImageListItem>> sourceURLs_;
    QFileDialog* exportPanel_ = nullptr;
    std::shared_ptr<run::ConversionRun> run_;
    PdfConverter convert_;

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
    ProgressSheet* progressSheet_ = nullptr;
    QDialog* exportProgressSheet = nullptr;
    QProgressBar* conversionProgressIndicator = nullptr;
    QProgressBar* pageProcessingProgressIndicator = nullptr;
    QLabel* conversionFileNumberStaticText = nullptr;
    QLabel* conversionPageNumberStaticText = nullptr;
    QPushButton* cancelConversionButton_ = nullptr;

    // Conversion settings.
    QTabWidget* conversionSettingsTabViewOutlet = nullptr;
    QWidget* conversionSettingsViewOutlet = nullptr;
    // The settings controls, made by BuildMainSettingsControls and handed to the controller.
    settings::MainSettingsWidgets settings_;
};
