#include "AppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>

#include "BundleImages.h"
#include "CustomAlert.h"
#include "InterfaceGeometry.h"
#include "MainWindow.h"
#include "NumberFields.h"
#include "Common UI Code/OVXUtil.h"
#include "OVXValidatedViewToolbar.h"
#include "PopUpItems.h"
#include "ProgressHUDView.h"
#include "Stepper.h"
#include "engine/ImageConversion.h"
#include "filelist/FileListController.h"
#include "filelist/FileListModel.h"
#include "filelist/InputFiles.h"
#include "filelist/PasswordSheet.h"
#include "platform/LocalizedStrings.h"
#include "platform/MainQueue.h"
#include "platform/Resources.h"
#include "run/ConversionRun.h"
#include "run/ProgressSheet.h"
#include "settings/ConversionSettingsController.h"
#include "settings/PlistPreferenceStore.h"
#include "settings/PreferenceSheet.h"
#include "watch/WatchFolder.h"

namespace {
QString Text(const char* key) { return platform::LocalizedString(key); }
}  // namespace

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {
    // The engine's page reports are queued on the event loop; the engine never waits for them.
    platform::SetMainQueueHook([](platform::MainQueueTask task) {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
    });
}

AppDelegate::~AppDelegate() {
    // The watch's scan in hand finishes its file first; the stored watching state stays.
    watchFolder_.reset();
    // A run still going ends first: its worker is waited for and its unfinished file cleaned up.
    StopRun();
    // The file list goes before the window: its adding thread is ended while the window's
    // password sheet still answers.
    if (fileList_) {
        SetFileListModel(nullptr);
        delete fileList_;
        fileList_ = nullptr;
    }
    platform::SetMainQueueHook({});
    window_.reset();
}

void AppDelegate::awakeFromNib() {
    if (awoken_) return;
    LoadMainInterface();
    MakeSettingsController();
    MakeFileList();
    connect(progressSheet_, &ProgressSheet::cancelConversion, this, [this] {
        if (run_) run_->cancelConversion();
    });
    awoken_ = true;

    // 1. Titles.
    SetTitles();
    // 2. The text-format menu is not used by the main window.
    settings_.textFormatTypeOutlet->hide();
    // 3. The page-range view and the dimensions view join the settings view; controls are placed.
    PlaceSettingsControls();
    // 4. No PDF chosen; the size unit starts at points (the preference sheet's does as it is
    // made).
    currentSelectedPDFIndex = -1;
    settingsController_->DefaultResizeOption();
    // 5. The page fields take their steppers' values; page-range controls start disabled.
    settingsController_->PreparePageRangeControls();
    // 6. Toolbar images.
    SetToolbarImages();
    // 7. The list commands follow the (empty) list.
    InitialiseUIControls();
    // 8. The store-rating link.
    MakeRateApplicationObject();
    // 9, 10. Drag and drop on the list and its sorting state come with the file list.
    // 11. Stored defaults, then the rules that follow the output type and the mode.
    settingsController_->ReadConversionOptionPreferences();
    settingsController_->SetImageTypeSecondaryOption();
    settingsController_->ConvertOrExtractOptionChange();
    // 12. Run state belongs to each run; password state to each add request.
    // 14. The preference sheet, then (13) the watch folder's drop boxes on it.
    PreparePreferenceSheet();
    PrepareWatchFolderDropBoxes();
    // 15. Watch-folder state: the watch folder starts with its folders unset, not watching.
    m_Watching = false;
    m_mainWindowClosing = false;
    // 16. The after-conversion option's effects.
    DoWatchFolderFilesManipulation(nullptr);
    // 17. Restore the watch folder and resume watching.
    if (CompareSystemVersion(10, 7, 3) >= 0) StartAutoWatchFolder();
}

void AppDelegate::SetTitles() {
    window_->setWindowTitle(Text("ProAppTitle"));
    aboutMenuItemOutlet->setText(Text("ProAboutMenuTitle"));
    hideMenuItemOutlet->setText(Text("ProHideMenuTitle"));
    quitMenuItemOutlet->setText(Text("ProQuitMenuTitle"));
    helpMenuItemOutlet->setText(Text("ProHelpMenuTitle"));
}

void AppDelegate::PlaceSettingsControls() {
    using namespace geometry;
    settings_.pageRangeViewOutlet->setParent(conversionSettingsViewOutlet);
    SetFrame(settings_.pageRangeViewOutlet, 708, 0, 150, 94);
    settings_.pageRangeViewOutlet->show();
    settings_.pageFromStaticTextOutlet->show();

    SetWidth(settings_.pageRangeTypePopUpButtonOutlet, FittedWidth(settings_.pageRangeTypePopUpButtonOutlet, 63));
    SetOrigin(settings_.pageRangeStartTextFieldOutlet, 58, 40);
    SetOrigin(settings_.pageRangeStartStepperOutlet, 105, 37);
    SetOrigin(settings_.pageRangeEndTextFieldOutlet, 58, 10);
    SetOrigin(settings_.pageRangeEndStepperOutlet, 105, 7);
    settings_.pageFromStaticTextOutlet->setText(QStringLiteral("From:"));
    SetOrigin(settings_.pageFromStaticTextOutlet, 15, 45);
    settings_.pageToStaticTextOutlet->setText(QStringLiteral("To:"));
    SetOrigin(settings_.pageToStaticTextOutlet, 32, 15);
    // The labels end where the fields begin.
    SetWidth(settings_.pageFromStaticTextOutlet, 58 - 15 - 4);
    SetWidth(settings_.pageToStaticTextOutlet, 58 - 32 - 4);

    settings_.destinationImageTypeEditFieldOutlet->setText(QStringLiteral("Format Type:"));
    SetX(settings_.destinationImageTypeEditFieldOutlet, 60);
    SetWidth(settings_.destinationImageTypeEditFieldOutlet, 149 - 60 - 4);
    SetX(settings_.destinationImageTypePopUpOutlet, 149);
    SetX(settings_.textFormatTypeOutlet, 149);
    SetX(settings_.colorModelEditFieldOutlet, 60);
    SetWidth(settings_.colorModelEditFieldOutlet, 149 - 60 - 4);
    SetX(settings_.colorModelPopUpOutlet, 149);
    SetX(settings_.imageCompressionQuaityLabelOutlet, 17);
    SetWidth(settings_.imageCompressionQuaityLabelOutlet, 149 - 17 - 4);
    SetX(settings_.imageCompressionQuaitySliderOutlet, 149);
    SetX(settings_.imageCompressionLeastQuaityEditFieldOutlet, 149);
    // The middle caption is centred on x 257 + 22, the slider's middle.
    QLabel* medium = settings_.imageCompressionMediumQuaityEditFieldOutlet;
    SetX(medium, 257 + 22 - medium->width() / 2);
    QLabel* best = settings_.imageCompressionLosseessQuaityEditFieldOutlet;
    SetX(best, 149 + settings_.imageCompressionQuaitySliderOutlet->width() - best->width());
    SetOrigin(settings_.resolutionStaticText, 445, 11);
    SetWidth(settings_.resolutionStaticText, 523 - 445 - 4);
    SetOrigin(settings_.imageResolutionPopUpOutlet, 523, 7);
    SetOrigin(settings_.resolutionDpiStaticText, 597, 11);

    settings_.imageDimentionsViewOutlet->setParent(conversionSettingsViewOutlet);
    // It ends at x 700, before the page-range view, however wide its unit menu made it.
    SetOrigin(settings_.imageDimentionsViewOutlet, 460 + 240 - settings_.imageDimentionsViewOutlet->width(), 39);
    settings_.imageDimentionsViewOutlet->show();
}

void AppDelegate::SetToolbarImages() {
    const QPalette palette = window_->palette();
    const auto image = [&palette](const char* name) { return LoadToolbarImage(QString::fromLatin1(name), palette); };
    // A missing image leaves its button without one.
    addImageMenuItem->setIcon(image("Add.pdf"));
    removeMenuItem->setIcon(image("Remove.pdf"));
    removeAllMenuItem->setIcon(image("RemoveAll.pdf"));
    const QIcon convert = image("Convert.pdf");
    exportMenuItem->setIcon(convert);
    exportButton->setIcon(convert);
    const QIcon convertAll = image("ConvertAll.pdf");
    exportAllMenuItem->setIcon(convertAll);
    exportAllButton->setIcon(convertAll);
    rateMenuItem_->setIcon(image("Rating.pdf"));
    helpMenuItemOutlet->setIcon(image("Help.pdf"));
}

void AppDelegate::windowPaletteChanged() {
    if (awoken_) SetToolbarImages();
}

// --- Closing and quitting -------------------------------------------------------------------

namespace {
std::int64_t AskToQuitWhileWatching(QWidget* window) {
    return ShowAlertSheet(Text("QuitOnCloseTitle"), Text("QuitOnCloseMessage"), Text("QuitButtonString"),
                          Text("NoButtonTitle"), QString(), window);
}
}  // namespace

bool AppDelegate::windowShouldClose() {
    if (isConverting()) {
        // Closing the window quits: a run in progress is stopped first, if the user agrees.
        if (!AskAndStopRunForQuit()) return false;
        m_mainWindowClosing = true;
        return true;
    }
    m_mainWindowClosing = true;
    if (m_Watching && AskToQuitWhileWatching(window_.get()) == 0) m_mainWindowClosing = false;
    return m_mainWindowClosing;
}

int AppDelegate::applicationShouldTerminate() {
    if (isConverting()) return AskAndStopRunForQuit() ? 1 : 0;
    if (!m_Watching || m_mainWindowClosing) return 1;
    return AskToQuitWhileWatching(window_.get()) == 0 ? 0 : 1;
}

void AppDelegate::terminate() {
    if (applicationShouldTerminate() != 1) return;
    applicationWillTerminate();
    emit terminationApproved();
}

void AppDelegate::windowDidClose() {
    if (applicationShouldTerminateAfterLastWindowClosed()) terminate();
}

// --- Enabling -------------------------------------------------------------------------------

void AppDelegate::SetEnableDisableControlWhileConversion(int code) {
    if (!awoken_) return;
    // Files handed over during a run are added beside it: the run's sheet keeps its progress.
    if (!progressSheet_->isVisible()) progressSheet_->ClearProgress();
    busyCode_ = code;
    UpdateEnabledStates();
}

void AppDelegate::InitialiseUIControls() { UpdateEnabledStates(); }

void AppDelegate::ResetUIControls() { UpdateEnabledStates(); }

qsizetype AppDelegate::listSize() const {
    const QAbstractItemModel* model = imageListTable ? imageListTable->model() : nullptr;
    return model ? model->rowCount() : 0;
}

qsizetype AppDelegate::selectedRowCount() const {
    const QItemSelectionModel* selection = imageListTable ? imageListTable->selectionModel() : nullptr;
    return selection ? selection->selectedRows().size() : 0;
}

EnabledState AppDelegate::currentEnabledState() const {
    return ComputeEnabledState(listSize(), busyCode_, selectedRowCount());
}

bool AppDelegate::validateMenuItem(const QAction* item) const {
    if (!item) return true;
    // The progress sheet keeps the list commands out of reach until the run ends.
    const bool held = progressSheet_ && progressSheet_->isVisible();
    const EnabledState state = held ? EnabledState{} : currentEnabledState();
    if (item == addImageMenuItem || item == addImageContextMenuItem) return state.add;
    if (item == exportMenuItem || item == exportAllMenuItem || item == exportContextMenuItem ||
        item == exportAllContextMenuItem)
        return state.convert;
    if (item == selectAllMenuItem || item == removeMenuItem || item == removeAllMenuItem ||
        item == selectAllContextMenuItem || item == removeContextMenuItem || item == removeAllContextMenuItem)
        return state.remove;
    if (item == revealInFinderContextMenuItem) return state.reveal;
    return true;
}

void AppDelegate::UpdateEnabledStates() {
    if (!awoken_) return;
    for (QAction* item : {addImageMenuItem, exportMenuItem, exportAllMenuItem, selectAllMenuItem, removeMenuItem,
                          removeAllMenuItem, addImageContextMenuItem, exportContextMenuItem, exportAllContextMenuItem,
                          selectAllContextMenuItem, removeContextMenuItem, removeAllContextMenuItem,
                          revealInFinderContextMenuItem})
        item->setEnabled(validateMenuItem(item));
    mainToolbar->validateVisibleItems();
}

// --- Help and application commands ----------------------------------------------------------

QUrl AppDelegate::SupportPageUrl() { return QUrl(QStringLiteral("https://www.vellipse.org/support/")); }

QString AppDelegate::UserManualResourceName() { return QStringLiteral("Vellipse User Manual.pdf"); }

void AppDelegate::ContactSupportAction() {
    const QUrl page = SupportPageUrl();
    if (page.isValid()) QDesktopServices::openUrl(page);
}

void AppDelegate::UserManualHelpAction() {
    const std::filesystem::path manual = platform::ResourcePath(UserManualResourceName().toStdString());
    if (manual.empty()) return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(manual.c_str())));
}

void AppDelegate::AboutAction() {
    QMessageBox about(window_.get());
    about.setObjectName(QStringLiteral("aboutBox"));
    about.setWindowTitle(Text("ProAboutMenuTitle"));
    about.setTextFormat(Qt::PlainText);
    about.setText(Text("ProAppTitle"));
    about.setInformativeText(platform::LocalizedFormat("AboutText", QCoreApplication::applicationVersion()));
    about.setIconPixmap(ApplicationIcon().pixmap(96, 96));
    about.setStandardButtons(QMessageBox::Ok);
    about.button(QMessageBox::Ok)->setText(Text("OkButtonString"));
    about.exec();
}

void AppDelegate::HideAction() {
    if (window_) window_->showMinimized();
}

void AppDelegate::applicationOpenFiles(const QStringList& paths) {
    if (!paths.isEmpty()) OpenFiles(paths);
}

// --- The parts of the window ----------------------------------------------------------------

settings::Services AppDelegate::MakeServices() {
    settings::Services s;
    s.alert = [](QWidget* w, const QString& t, const QString& m, const QString& d, const QString& a, const QString& o) {
        return static_cast<int>(ShowAlertSheet(t, m, d, a, o, w));
    };
    s.text = [](std::string_view k) { return platform::LocalizedString(k); };
    s.format = [](std::string_view k, const QString& arg) { return platform::LocalizedFormat(k, arg); };
    return s;
}

void AppDelegate::MakeSettingsController() {
    store_ = std::make_unique<settings::PlistPreferenceStore>();
    settings_.convertTitleTargets = {exportButton, exportMenuItem, exportContextMenuItem, exportToolbarButtonItem};
    settings_.convertAllTitleTargets = {exportAllButton, exportAllMenuItem, exportAllContextMenuItem,
                                        exportAllToolbarButtonItem};
    settingsController_ =
        new settings::ConversionSettingsController(settings_, MakeServices(), store_.get(), window_.get());
}

void AppDelegate::PreparePreferenceSheet() {
    sheet_ = new settings::PreferenceSheet(
        window_.get(), {MakeServices(), store_.get(), [this] { return m_Watching; },
                        [](QWidget* p) { return new NumberField(p); }, [](QWidget* p) { return new ResolutionComboBox(p); }});
}

void AppDelegate::PrepareWatchFolderDropBoxes() {
    watch::WatchFolderDependencies deps;
    deps.sheet = sheet_;
    deps.window = window_.get();
    deps.store = store_.get();
    deps.converter = [this] { return convert_; };
    deps.watchingChanged = [this](bool watching) { m_Watching = watching; };
    watchFolder_ = std::make_unique<watch::WatchFolder>(std::move(deps));
}

void AppDelegate::DoWatchFolderFilesManipulation(QObject* sender) { watchFolder_->DoWatchFolderFilesManipulation(sender); }

void AppDelegate::StartAutoWatchFolder() { watchFolder_->StartAutoWatchFolder(); }

void AppDelegate::MakeFileList() {
    FileListHooks hooks;
    hooks.text = [](std::string_view k) { return platform::LocalizedString(k); };
    hooks.dragOut = [this](std::vector<ImageListItem> items, const QString& folder) {
        return StartDragOutRun(std::move(items), folder);
    };
    fileList_ = new FileListController(imageListTable, window_.get(), std::move(hooks), this);
    SetFileListModel(fileList_->model());
    // Drops while files are being added still land on the table's rows.
    fileList_->AcceptDropsOver(addSpinView);
    connect(fileList_, &FileListController::busyStateChanged, this, [this](int code) {
        if (code == kBusyCode) {
            SetEnableDisableControlWhileConversion(code);
            addSpinView->StartAddSpinning();
        } else {
            addSpinView->StopAddSpinning();
            SetEnableDisableControlWhileConversion(code);
        }
    });
    connect(fileList_, &FileListController::listStateChanged, this, &AppDelegate::ResetUIControls);
}

void AppDelegate::AddFilesOrFolder(QObject*) { fileList_->AddFilesOrFolder(); }
void AppDelegate::Remove(QObject*) { fileList_->Remove(); }
void AppDelegate::RemoveAll(QObject*) { fileList_->RemoveAll(); }
void AppDelegate::SelectAll(QObject*) { fileList_->SelectAll(); }
void AppDelegate::RevealInFinder(QObject*) { fileList_->RevealInFinder(); }
void AppDelegate::OpenFiles(const QStringList& paths) { fileList_->OpenFiles(paths); }
void AppDelegate::Preferences(QObject*) { sheet_->Preferences(); }
void AppDelegate::OpenGeneralPreferencesSettings(QObject*) { sheet_->OpenGeneralPreferencesSettings(); }
void AppDelegate::OpenWatchFolderPreferences(QObject*) { sheet_->OpenWatchFolderPreferences(); }

// --- Conversion run -------------------------------------------------------------------------

bool AppDelegate::GetConversionSettings(ImageConversion* record) const {
    return settingsController_ && settingsController_->GetConversionSettings(record, nullptr, nullptr);
}

std::uint8_t AppDelegate::Convert(const ImageConversion* record) const {
    return convert_ ? convert_(record) : ConvertPDFToImages(record);
}

bool AppDelegate::isConverting() const { return run_ != nullptr; }

void AppDelegate::Export(QObject*) {
    if (!awoken_) return;
    StartExport(fileList_->GetSelectedItems());
}

void AppDelegate::ExportAll(QObject*) {
    if (!awoken_) return;
    StartExport(fileList_->GetAllItems());
}

void AppDelegate::StartExport(std::vector<ImageListItem> items) {
    // One run at a time; the panel asks for one run's destination at a time.
    if (isConverting() || sourceURLs_) return;
    if (!settingsController_->CheckBeforeRun()) return;
    if (items.empty()) return;
    sourceURLs_ = std::move(items);

    QFileDialog* panel = exportPanel();
    // Its title and prompt are the Convert button's (Convert, or Extract).
    panel->setWindowTitle(exportButton->text());
    panel->setLabelText(QFileDialog::Accept, exportButton->text());
    panel->open();
}

QFileDialog* AppDelegate::exportPanel() {
    if (exportPanel_) return exportPanel_;
    exportPanel_ = new QFileDialog(window_.get());
    exportPanel_->setObjectName(QStringLiteral("exportPanel"));
    exportPanel_->setOption(QFileDialog::DontUseNativeDialog, true);
    exportPanel_->setOption(QFileDialog::ShowDirsOnly, true);
    exportPanel_->setFileMode(QFileDialog::Directory);
    exportPanel_->setAcceptMode(QFileDialog::AcceptOpen);
    exportPanel_->setWindowModality(Qt::WindowModal);
    connect(exportPanel_, &QDialog::finished, this, &AppDelegate::ExportPanelCompletionHandler);
    return exportPanel_;
}

void AppDelegate::ExportPanelCompletionHandler(int result) {
    std::optional<std::vector<ImageListItem>> items = std::move(sourceURLs_);
    sourceURLs_.reset();
    const QStringList chosen = exportPanel_ ? exportPanel_->selectedFiles() : QStringList();
    if (result != QDialog::Accepted || !items || chosen.isEmpty() || isConverting()) return;
    StartRun(std::move(*items), ToFsPath(chosen.front()));
}

bool AppDelegate::StartDragOutRun(std::vector<ImageListItem> items, const QString& folder) {
    // The rules of Convert: one run at a time, the same checks, then the run into the folder
    // the rows were dropped in.
    if (isConverting() || sourceURLs_ || items.empty() || folder.isEmpty()) return false;
    if (!settingsController_->CheckBeforeRun()) return false;
    StartRun(std::move(items), ToFsPath(folder));
    return true;
}

void AppDelegate::StartRun(std::vector<ImageListItem> items, const std::filesystem::path& destination) {
    // The controls are read here, on the main thread, once for the whole run: the progress
    // sheet keeps them from changing until it ends.
    ImageConversion record{};
    GetConversionSettings(&record);
    const bool perFileFolders = settings_.createSeparateFolderForEachFileButtonOutlet->isChecked();

    run::ConversionRun::Ui ui;
    ui.sheet = progressSheet_;
    ui.reportResult = [this](int code, const std::filesystem::path& destination) {
        AlertOnSuccessConversion(code, destination);
    };
    ui.finished = [this](run::ConversionRun* finished) { RunFinished(finished); };
    PdfConverter convert = [this](const ImageConversion* r) { return Convert(r); };
    run_ = std::make_shared<run::ConversionRun>(std::move(items), destination, record, perFileFolders, this,
                                                std::move(ui), std::move(convert));
    run_->Start();
}

void AppDelegate::RunFinished(run::ConversionRun* finished) {
    if (!run_ || run_.get() != finished) return;
    std::shared_ptr<run::ConversionRun> ended = std::move(run_);
    run_.reset();
    ended->Join();
    const std::optional<int> result = ended->result();
    run::ConversionRun::ReleaseAfterReports(std::move(ended));
    ResetUIControls();
    emit conversionRunEnded(result.value_or(0));
}

void AppDelegate::StopRun() {
    if (!run_) return;
    std::shared_ptr<run::ConversionRun> stopped = std::move(run_);
    run_.reset();
    stopped->StopForQuit();
    run::ConversionRun::ReleaseAfterReports(std::move(stopped));
}

bool AppDelegate::AskAndStopRunForQuit() {
    if (!isConverting()) return true;
    const std::int64_t answer = ShowAlertSheet(Text("QuitDuringConversionTitle"), Text("QuitDuringConversionMessage"),
                                               Text("QuitButtonString"), Text("CancelTitle"), QString(), window_.get(), 0);
    if (answer != 1) return false;
    // The run may have ended while the question was up.
    StopRunForQuit();
    return true;
}

void AppDelegate::StopRunForQuit() {
    const bool running = isConverting();
    StopRun();
    // Questions still waiting for an answer get their cautious one.
    if (fileList_ && fileList_->passwordSheet() && fileList_->passwordSheet()->isAsking())
        fileList_->passwordSheet()->reject();
    if (window_)
        for (AlertDialog* alert : window_->findChildren<AlertDialog*>())
            if (alert->isVisible()) alert->reject();
    if (running) emit conversionRunEnded(0);
}

void AppDelegate::EndSession() {
    StopRunForQuit();
    applicationWillTerminate();
    emit terminationApproved();
}

void AppDelegate::AlertOnSuccessConversion(int result, const std::filesystem::path& destination) {
    QString title, message;
    bool offerDestination = true;
    switch (result) {
        case run::kSomeFailed:
            title = Text("SuccessfullFailureConvertMsgForImage");
            message = Text("FailureConvertMsgForImage");
            break;
        case run::kNoneConverted:
            title = Text("FailureConvertMsgTitleForImage");
            message = Text("FailureConvertMsgForImage");
            offerDestination = false;
            break;
        default:
            title = Text("SuccessfullConvertMsg");
            break;
    }
    PostUserNotification(Text("Conversion Completed").toStdString(), (title + QLatin1Char('\n') + message).toStdString());
    // Escape or closing the alert means OK: the folder opens only when asked for.
    const std::int64_t answer = ShowAlertSheet(title, message, Text("OkButtonString"),
                                               offerDestination ? Text("OpenDestinationTitle") : QString(), QString(),
                                               window_.get(), 1);
    if (answer == 0 && offerDestination)
        QDesktopServices::openUrl(QUrl::fromLocalFile(FromFsPath(destination)));
}
