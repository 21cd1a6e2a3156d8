#include "watch/WatchFolder.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QUrl>

#include "CustomAlert.h"
#include "Common UI Code/OVXUtil.h"
#include "filelist/InputFiles.h"
#include "platform/LocalizedStrings.h"
#include "settings/PreferenceSheet.h"
#include "watch/DropBox.h"
#include "watch/Notifier.h"
#include "watch/WatchScanQueue.h"
#include "watch/WatchSettings.h"

namespace fs = std::filesystem;

namespace watch {

namespace {

QString Text(const char* key) { return platform::LocalizedString(key); }

// The stored folders can live on only from 10.7.3 on; before, they last until the program ends.
bool StoresFolders() { return CompareSystemVersion(10, 7, 3) >= 0; }

}  // namespace

WatchFolder::WatchFolder(WatchFolderDependencies dependencies, QObject* parent)
    : QObject(parent), deps_(std::move(dependencies)) {
    const settings::WatchFolderPaneWidgets& wf = deps_.sheet->watchFolder();
    folders_[kSource] = {std::nullopt, wf.watchFolderSourcePathTextField, key::kSourceURL};
    folders_[kDestination] = {std::nullopt, wf.watchFolderDestinationPathTextField, key::kDestinationURL};
    folders_[kMoveFiles] = {std::nullopt, wf.watchFolderMoveFilesPathTextField, key::kMoveDestinationURL};
    dropBoxes_ = {new DragAndDropCommonFolderController(wf.watchFolderSourcePathViewCntr, this, kSource),
                  new DragAndDropCommonFolderController(wf.watchFolderDestinationPathViewCntr, this, kDestination),
                  new DragAndDropCommonFolderController(wf.watchFolderMoveFilesPathViewCntr, this, kMoveFiles)};
    settlingTimer_.setSingleShot(true);
    connect(&settlingTimer_, &QTimer::timeout, this, [this] {
        if (m_Watching && session_) directoryDidChange(ScanReason::Settling);
    });
    Connect();
}

WatchFolder::~WatchFolder() {
    if (session_) session_->Stop();
    iNotifier.reset();
    // The scan in hand finishes its file and that file's deletion or move.
    WatchScanQueue::Shared().WaitUntilIdle();
}

void WatchFolder::Connect() {
    const settings::WatchFolderPaneWidgets& wf = deps_.sheet->watchFolder();
    connect(wf.selectSourceWatchFolderButtonOutlet, &QPushButton::clicked, this, &WatchFolder::SelectWatchSourceFolder);
    connect(wf.selectDestinationWatchFolderButtonOutlet, &QPushButton::clicked, this,
            &WatchFolder::SelectWatchDestinationFolder);
    connect(wf.selectMoveFilesWatchFolderButtonOutlet, &QPushButton::clicked, this, &WatchFolder::SelectWatchMoveFilesFolder);
    connect(wf.openSourceWatchFolderButtonOutlet, &QPushButton::clicked, this, &WatchFolder::OpenWatchSourceFolder);
    connect(wf.openDestinationWatchFolderButtonOutlet, &QPushButton::clicked, this, &WatchFolder::OpenWatchDestinationFolder);
    connect(wf.openMoveFilesWatchFolderButtonOutlet, &QPushButton::clicked, this, &WatchFolder::OpenWatchMoveFilesFolder);
    QButtonGroup* matrix = wf.sourceFileDeletOrMoveMatrixGroup;
    connect(matrix, &QButtonGroup::idClicked, this, [this, matrix] { DoWatchFolderFilesManipulation(matrix); });
    QPushButton* watch = wf.watchButtonOutlet;
    connect(watch, &QPushButton::clicked, this, [this, watch] { DoFolderWatch(watch); });
}

// --- Set-up ---------------------------------------------------------------------------------

QFileDialog* WatchFolder::folderPanel() {
    if (panel_) return panel_;
    panel_ = new QFileDialog(deps_.sheet);
    panel_->setObjectName(QStringLiteral("watchFolderPanel"));
    panel_->setOption(QFileDialog::DontUseNativeDialog, true);
    panel_->setOption(QFileDialog::ShowDirsOnly, true);
    panel_->setFileMode(QFileDialog::Directory);
    panel_->setAcceptMode(QFileDialog::AcceptOpen);
    panel_->setLabelText(QFileDialog::Accept, Text("OpenFileDialogButton"));
    panel_->setWindowModality(Qt::WindowModal);
    connect(panel_, &QDialog::finished, this, &WatchFolder::FolderPanelCompletionHandler);
    return panel_;
}

void WatchFolder::SelectFolder(Role role) {
    QFileDialog* panel = folderPanel();
    if (panel->isVisible()) return;
    panelRole_ = role;
    panel->setWindowTitle(Text(role == kDestination ? "OpenDestinationDialogTitle" : "OpenDialogTitle"));
    panel->open();
}

void WatchFolder::FolderPanelCompletionHandler(int result) {
    if (result != QDialog::Accepted || !panel_) return;
    const QStringList chosen = panel_->selectedFiles();
    if (chosen.isEmpty()) return;
    SetFolder(panelRole_, ToFsPath(chosen.front()));
}

void WatchFolder::WatchFolderPathChangeAction(const QString& path, std::int32_t boxType) {
    if (boxType >= kSource && boxType <= kMoveFiles) SetFolder(static_cast<Role>(boxType), ToFsPath(path));
    EnableDisableWatchFolderControl();
}

void WatchFolder::SetFolder(Role role, const fs::path& chosen) {
    if (!StoresFolders()) {
        Folder& f = folders_[role];
        f.url = fs::absolute(chosen).lexically_normal();
        f.field->setText(FromFsPath(*f.url));
        f.field->setToolTip(f.field->text());
    } else {
        const settings::PreferenceData data = FolderData(chosen);
        SetFolderData(role, data);
        WriteWatchFolderPreferences(data, folders_[role].key);
    }
    EnableDisableWatchFolderControl();
}

void WatchFolder::SetFolderData(Role role, const settings::PreferenceData& data) {
    Folder& f = folders_[role];
    f.url.reset();
    // A folder that no longer exists leaves the role unset; the field keeps what it showed.
    const std::optional<fs::path> resolved = ResolveFolderData(data);
    if (!resolved) return;
    f.url = resolved;
    f.field->setText(FromFsPath(*resolved));
    f.field->setToolTip(f.field->text());
}

void WatchFolder::WriteWatchFolderPreferences(const settings::PreferenceValue& value, const char* name) {
    if (!deps_.store) return;
    std::optional<settings::PreferenceDictionary> stored = deps_.store->Read(settings::kWatchFolderPreferenceFile);
    settings::PreferenceDictionary dictionary = stored ? std::move(*stored) : settings::PreferenceDictionary{};
    dictionary[name] = value;
    deps_.store->Write(dictionary, settings::kWatchFolderPreferenceFile);
}

int WatchFolder::afterConversionOption() const {
    const int option = deps_.sheet->watchFolder().sourceFileDeletOrMoveMatrixGroup->checkedId();
    return option >= kDeleteSources && option <= kMoveToFolder ? option : kMoveToDestination;
}

void WatchFolder::EnableDisableWatchFolderControl() {
    const settings::WatchFolderPaneWidgets& wf = deps_.sheet->watchFolder();
    const int option = afterConversionOption();
    const bool enabled = !wf.watchFolderSourcePathTextField->text().isEmpty() &&
                         !wf.watchFolderDestinationPathTextField->text().isEmpty() &&
                         (option != kMoveToFolder || !wf.watchFolderMoveFilesPathTextField->text().isEmpty());
    wf.watchButtonOutlet->setEnabled(enabled);
}

void WatchFolder::DoWatchFolderFilesManipulation(QObject* sender) {
    const settings::WatchFolderPaneWidgets& wf = deps_.sheet->watchFolder();
    const int option = afterConversionOption();
    const bool moveFolder = option == kMoveToFolder;
    wf.selectMoveFilesWatchFolderButtonOutlet->setEnabled(moveFolder);
    wf.openMoveFilesWatchFolderButtonOutlet->setEnabled(moveFolder);
    QLineEdit* field = wf.watchFolderMoveFilesPathTextField;
    QPalette palette = field->palette();
    const QColor text = field->style()->standardPalette().color(moveFolder ? QPalette::Active : QPalette::Disabled,
                                                                QPalette::Text);
    palette.setColor(QPalette::Active, QPalette::Text, text);
    palette.setColor(QPalette::Inactive, QPalette::Text, text);
    field->setPalette(palette);
    if (!sender) return;
    EnableDisableWatchFolderControl();
    WriteWatchFolderPreferences(std::int64_t{option}, key::kMoveToDestinationOption);
}

void WatchFolder::OpenFolder(Role role) {
    if (const std::optional<fs::path>& url = folders_[role].url)
        QDesktopServices::openUrl(QUrl::fromLocalFile(FromFsPath(*url)));
}

// --- Watching -------------------------------------------------------------------------------

void WatchFolder::DoFolderWatch(QObject*) {
    if (m_Watching)
        StopWatching();
    else
        StartWatching();
}

void WatchFolder::ShowWatchAlert(const char* name) {
    ShowAlertSheet(Text(name), QString(), Text("OkButtonString"), QString(), QString(), deps_.window);
}

void WatchFolder::StartWatching() {
    const std::optional<fs::path>& source = folders_[kSource].url;
    const std::optional<fs::path>& destination = folders_[kDestination].url;
    const std::optional<fs::path>& moveFolder = folders_[kMoveFiles].url;
    // A folder whose stored path no longer leads to it cannot be watched or written to.
    if (!source || !destination) return;
    // The folders themselves are compared, however they are spelt.
    if (IsSameFolder(*source, *destination)) {
        ShowWatchAlert("SourceWatchAndDestSameMsg");
        return;
    }
    const int option = afterConversionOption();
    if (option == kMoveToFolder) {
        if (!moveFolder) {
            ShowWatchAlert("MoveFoderNotSelectedMsg");
            return;
        }
        if (IsSameFolder(*moveFolder, *source)) {
            ShowWatchAlert("SourceWatchAndMoveSameMsg");
            return;
        }
    }

    // The settings as they stand now; later changes reach the next watch. Without a general
    // file they are what the sheet shows: its controls while it is up, else the built-in
    // defaults it would show (a watch resumed at launch).
    if (std::optional<settings::PreferenceDictionary> general =
            deps_.store ? deps_.store->Read(settings::kGeneralPreferenceFile) : std::nullopt)
        watchFolderPreferences = std::move(*general);
    else if (deps_.sheet->isVisible())
        deps_.sheet->GetPreferenceValue(&watchFolderPreferences);
    else
        watchFolderPreferences = settings::DefaultGeneralPreferences();

    WatchSetup setup;
    setup.source = *source;
    setup.destination = *destination;
    if (option == kMoveToFolder) setup.moveFolder = moveFolder;
    setup.option = option;
    setup.preferences = watchFolderPreferences;
    auto session = std::make_shared<WatchSession>(std::move(setup), deps_.converter ? deps_.converter() : PdfConverter{},
                                                  settlingTime_);
    std::weak_ptr<WatchSession> weak = session;
    session->onSettlingPending = [this, weak](std::chrono::milliseconds delay) {
        QMetaObject::invokeMethod(
            this, [this, weak, delay] { SettlingPending(weak.lock(), delay); }, Qt::QueuedConnection);
    };

    // The events are listened to before the first scan, so nothing arrives unseen in between.
    std::unique_ptr<Notifier> notifier =
        Notifier::notifierWithCallback([this](const std::vector<NotifierEvent>& batch) { WatchFolderEvents(batch); }, *source);
    // Without an event source there is no watch.
    if (!notifier) return;
    session_ = std::move(session);
    iNotifier = std::move(notifier);
    iNotifier->startNotifier();
    directoryDidChange(ScanReason::Start);
    EnableDisableForWatching();
}

void WatchFolder::StopWatching() {
    iNotifier.reset();
    settlingTimer_.stop();
    // A scan in hand ends after its current file; the scans queued for this watch do nothing.
    if (session_) session_->Stop();
    session_.reset();
    EnableDisableForWatching();
}

void WatchFolder::EnableDisableForWatching() {
    m_Watching = !m_Watching;
    const settings::WatchFolderPaneWidgets& wf = deps_.sheet->watchFolder();
    const bool editable = !m_Watching;
    for (QWidget* control : std::initializer_list<QWidget*>{
             wf.watchFolderSourcePathTextField, wf.selectSourceWatchFolderButtonOutlet,
             wf.watchFolderDestinationPathTextField, wf.selectDestinationWatchFolderButtonOutlet,
             wf.sourceFileDeletOrMoveMatrixOutlet})
        control->setEnabled(editable);
    if (afterConversionOption() == kMoveToFolder) {
        wf.watchFolderMoveFilesPathTextField->setEnabled(editable);
        wf.selectMoveFilesWatchFolderButtonOutlet->setEnabled(editable);
    }
    wf.watchButtonOutlet->setText(Text(m_Watching ? "StopWatchingButtonTitle" : "StartWatchingButtonTitle"));
    wf.watchingSpinningProgressOutlet->setVisible(m_Watching);
    WriteWatchFolderPreferences(m_Watching, key::kIsWatching);
    if (deps_.watchingChanged) deps_.watchingChanged(m_Watching);
}

void WatchFolder::WatchFolderEvents(const std::vector<NotifierEvent>& batch) {
    if (session_ && session_->NoteEvents(batch)) directoryDidChange(ScanReason::Event);
}

void WatchFolder::directoryDidChange(ScanReason reason) {
    std::shared_ptr<WatchSession> session = session_;
    if (!session) return;
    WatchScanQueue::Shared().Add([this, session, reason] {
        session->Scan(reason);
        // The watch folder outlives every scan it queued (its destructor waits for them).
        QMetaObject::invokeMethod(this, [this] { emit scanFinished(); }, Qt::QueuedConnection);
    });
}

void WatchFolder::SettlingPending(const std::shared_ptr<WatchSession>& session, std::chrono::milliseconds delay) {
    if (!session || session != session_) return;
    const int ms = static_cast<int>(delay.count()) + 10;
    if (!settlingTimer_.isActive() || settlingTimer_.remainingTime() > ms) settlingTimer_.start(ms);
}

void WatchFolder::StartAutoWatchFolder() {
    std::optional<settings::PreferenceDictionary> stored =
        deps_.store ? deps_.store->Read(settings::kWatchFolderPreferenceFile) : std::nullopt;
    if (!stored) {
        if (deps_.store)
            deps_.store->Write({{key::kMoveToDestinationOption, std::int64_t{kMoveToDestination}}, {key::kIsWatching, false}},
                               settings::kWatchFolderPreferenceFile);
        return;
    }
    for (Role role : {kSource, kDestination, kMoveFiles}) {
        const auto found = stored->find(folders_[role].key);
        if (found == stored->end()) continue;
        if (const auto* data = std::get_if<settings::PreferenceData>(&found->second)) SetFolderData(role, *data);
    }
    const std::optional<std::int64_t> option = settings::IntegerPreference(*stored, key::kMoveToDestinationOption);
    if (option && *option >= kDeleteSources && *option <= kMoveToFolder &&
        (*option != kMoveToFolder || folders_[kMoveFiles].url)) {
        if (QAbstractButton* cell = deps_.sheet->watchFolder().sourceFileDeletOrMoveMatrixGroup->button(static_cast<int>(*option)))
            cell->setChecked(true);
        DoWatchFolderFilesManipulation(nullptr);
    }
    EnableDisableWatchFolderControl();
    QPushButton* watch = deps_.sheet->watchFolder().watchButtonOutlet;
    if (watch->isEnabled() && settings::BoolPreference(*stored, key::kIsWatching).value_or(false)) DoFolderWatch(watch);
}

}  // namespace watch
