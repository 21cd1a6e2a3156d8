#include "AppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
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
#include "OVXUtil.h"
#include "OVXValidatedViewToolbar.h"
#include "PopUpItems.h"
#include "Stepper.h"
#include "engine/ImageConversion.h"
#include "platform/LocalizedStrings.h"
#include "platform/MainQueue.h"
#include "platform/Resources.h"

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
    platform::SetMainQueueHook({});
    window_.reset();
}

void AppDelegate::awakeFromNib() {
    if (awoken_) return;
    LoadMainInterface();
    awoken_ = true;

    // 1. Titles.
    SetTitles();
    // 2. The text-format menu is not used by the main window.
    textFormatTypeOutlet->hide();
    // 3. The page-range view and the dimensions view join the settings view; controls are placed.
    PlaceSettingsControls();
    // 4. No PDF chosen; the size units of both windows start at points.
    currentSelectedPDFIndex = -1;
    DefaultResizeOption();
    DefaultPrefResizeOption();
    // 5. The page fields take their steppers' values; page-range controls start disabled.
    pageRangeStartTextFieldOutlet->setIntegerValue(pageRangeStartStepperOutlet->value());
    pageRangeEndTextFieldOutlet->setIntegerValue(pageRangeEndStepperOutlet->value());
    for (QWidget* control : std::initializer_list<QWidget*>{pageRangeStartStepperOutlet, pageRangeStartTextFieldOutlet,
                                                           pageToStaticTextOutlet, pageFromStaticTextOutlet,
                                                           pageRangeEndStepperOutlet, pageRangeEndTextFieldOutlet})
        control->setEnabled(false);  // labels take the disabled text colour with it
    // 6. Toolbar images.
    SetToolbarImages();
    // 7. The list commands follow the (empty) list.
    InitialiseUIControls();
    // 8. The store-rating link.
    MakeRateApplicationObject();
    // 9. Drag and drop on the list.
    RegisterListDragTypes();
    // 10. Sorting state; the list starts empty (the window's empty file list).
    InitSortingInfo();
    // 11. Stored defaults, then the rules that follow the output type and the mode.
    ReadConversionOptionPreferences();
    SetImageTypeSecondaryOption(nullptr);
    ConvertOrExtractOptionChange(nullptr);
    // 12. Run and password flags.
    ResetConversionAndPasswordFlags();
    // 13. The watch folder's drop boxes.
    PrepareWatchFolderDropBoxes();
    // 14. The preference sheet.
    PreparePreferenceSheet();
    // 15. Watch-folder state.
    ResetWatchFolderState();
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
    pageRangeViewOutlet->setParent(conversionSettingsViewOutlet);
    SetFrame(pageRangeViewOutlet, 708, 0, 150, 94);
    pageRangeViewOutlet->show();
    pageFromStaticTextOutlet->show();

    SetWidth(pageRangeTypePopUpButtonOutlet, 63);
    SetOrigin(pageRangeStartTextFieldOutlet, 58, 40);
    SetOrigin(pageRangeStartStepperOutlet, 105, 37);
    SetOrigin(pageRangeEndTextFieldOutlet, 58, 10);
    SetOrigin(pageRangeEndStepperOutlet, 105, 7);
    pageFromStaticTextOutlet->setText(QStringLiteral("From:"));
    SetOrigin(pageFromStaticTextOutlet, 15, 45);
    pageToStaticTextOutlet->setText(QStringLiteral("To:"));
    SetOrigin(pageToStaticTextOutlet, 32, 15);
    // The labels end where the fields begin.
    SetWidth(pageFromStaticTextOutlet, 58 - 15 - 4);
    SetWidth(pageToStaticTextOutlet, 58 - 32 - 4);

    destinationImageTypeEditFieldOutlet->setText(QStringLiteral("Format Type:"));
    SetX(destinationImageTypeEditFieldOutlet, 60);
    SetWidth(destinationImageTypeEditFieldOutlet, 149 - 60 - 4);
    SetX(destinationImageTypePopUpOutlet, 149);
    SetX(textFormatTypeOutlet, 149);
    SetX(colorModelEditFieldOutlet, 60);
    SetWidth(colorModelEditFieldOutlet, 149 - 60 - 4);
    SetX(colorModelPopUpOutlet, 149);
    SetX(imageCompressionQuaityLabelOutlet, 17);
    SetWidth(imageCompressionQuaityLabelOutlet, 149 - 17 - 4);
    SetX(imageCompressionQuaitySliderOutlet, 149);
    SetX(imageCompressionLeastQuaityEditFieldOutlet, 149);
    // The middle caption is centred on x 257 + 22, the slider's middle.
    SetX(imageCompressionMediumQuaityEditFieldOutlet, 257 + 22 - imageCompressionMediumQuaityEditFieldOutlet->width() / 2);
    SetX(imageCompressionLosseessQuaityEditFieldOutlet,
         149 + imageCompressionQuaitySliderOutlet->width() - imageCompressionLosseessQuaityEditFieldOutlet->width());
    SetOrigin(resolutionStaticText, 445, 11);
    SetWidth(resolutionStaticText, 523 - 445 - 4);
    SetOrigin(imageResolutionPopUpOutlet, 523, 7);
    SetOrigin(resolutionDpiStaticText, 597, 11);

    imageDimentionsViewOutlet->setParent(conversionSettingsViewOutlet);
    SetOrigin(imageDimentionsViewOutlet, 460, 39);
    imageDimentionsViewOutlet->show();
}

void AppDelegate::DefaultResizeOption() {
    popup::SelectTag(sizeFormatTypePopupButton, kSizePoints);
    currentSizeFormatType = kSizePoints;
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
    m_mainWindowClosing = true;
    if (m_Watching && AskToQuitWhileWatching(window_.get()) == 0) m_mainWindowClosing = false;
    return m_mainWindowClosing;
}

int AppDelegate::applicationShouldTerminate() {
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
    conversionFileNumberStaticText->clear();
    conversionPageNumberStaticText->clear();
    conversionProgressIndicator->setValue(0);
    pageProcessingProgressIndicator->setValue(0);
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
    const EnabledState state = currentEnabledState();
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
