#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "filelist/DragOut.h"
#include "settings/PreferenceStore.h"
#include "watch/WatchSession.h"

class QFileDialog;
class QLineEdit;
class QWidget;

namespace settings {
class PreferenceSheet;
}

namespace watch {

class DragAndDropCommonFolderController;
class Notifier;

struct WatchFolderDependencies {
    settings::PreferenceSheet* sheet = nullptr;  // holds the pane; parent of the folder panel
    QWidget* window = nullptr;                    // the main window: parent of the alerts
    settings::PreferenceStore* store = nullptr;   // both preference files
    // The engine's entry for the scans, taken when watching starts (empty: ConvertPDFToImages).
    std::function<PdfConverter()> converter;
    // Watching started or stopped.
    std::function<void(bool watching)> watchingChanged;
};

// The watch folder: the set-up on the preference sheet's watch pane (three folders chosen with
// a panel or dropped on their boxes, the after-conversion option, the watch button's enabling,
// the open buttons), each choice stored at once in the watch-folder preference file, and the
// watching itself (events, scans, resumption at launch). Main thread; the scans run on the
// shared scan queue with a copy of everything they need.
class WatchFolder : public QObject {
    Q_OBJECT
public:
    enum Role : int { kSource = 0, kDestination = 1, kMoveFiles = 2 };

    WatchFolder(WatchFolderDependencies dependencies, QObject* parent = nullptr);
    // Stops the watch and waits for the scan in hand (quitting): the stored state stays, so a
    // watch that was on resumes at the next launch.
    ~WatchFolder() override;

    // --- Set-up ---------------------------------------------------------------------------
    void SelectWatchSourceFolder() { SelectFolder(kSource); }
    void SelectWatchDestinationFolder() { SelectFolder(kDestination); }
    void SelectWatchMoveFilesFolder() { SelectFolder(kMoveFiles); }
    // The folder panel (made on first use).
    QFileDialog* folderPanel();

    // A folder dropped on the box of `boxType`.
    void WatchFolderPathChangeAction(const QString& path, std::int32_t boxType);
    void SetWatchFolderSourceURL(const std::filesystem::path& folder) { SetFolder(kSource, folder); }
    void SetWatchFolderDestinationURL(const std::filesystem::path& folder) { SetFolder(kDestination, folder); }
    void SetWatchFolderMoveToDestinationURL(const std::filesystem::path& folder) { SetFolder(kMoveFiles, folder); }
    void SetWatchFolderSourceURLData(const settings::PreferenceData& data) { SetFolderData(kSource, data); }
    void SetWatchFolderDestinationURLData(const settings::PreferenceData& data) { SetFolderData(kDestination, data); }
    void SetWatchFolderMoveToDestinationURLData(const settings::PreferenceData& data) { SetFolderData(kMoveFiles, data); }
    void WriteWatchFolderPreferences(const settings::PreferenceValue& value, const char* key);
    void EnableDisableWatchFolderControl();
    void DoWatchFolderFilesManipulation(QObject* sender);
    void OpenWatchSourceFolder() { OpenFolder(kSource); }
    void OpenWatchDestinationFolder() { OpenFolder(kDestination); }
    void OpenWatchMoveFilesFolder() { OpenFolder(kMoveFiles); }
    bool allowDragAndDrop() const { return !m_Watching; }

    const std::optional<std::filesystem::path>& folder(Role role) const { return folders_[role].url; }
    int afterConversionOption() const;

    // --- Watching -------------------------------------------------------------------------
    // The watch button: starts watching (after the same-folder checks) or stops it.
    void DoFolderWatch(QObject* sender);
    bool isWatching() const { return m_Watching; }
    // Restores the set-up from the watch-folder preference file and resumes a watch that was on.
    void StartAutoWatchFolder();
    // How long a file no event told about must stay unchanged before it is taken.
    void setSettlingTime(std::chrono::milliseconds time) { settlingTime_ = time; }

signals:
    // A scan has ended (delivered on the main thread).
    void scanFinished();

private:
    struct Folder {
        std::optional<std::filesystem::path> url;
        QLineEdit* field = nullptr;
        const char* key = nullptr;
    };

    void Connect();
    void SelectFolder(Role role);
    void FolderPanelCompletionHandler(int result);
    void SetFolder(Role role, const std::filesystem::path& folder);
    void SetFolderData(Role role, const settings::PreferenceData& data);
    void OpenFolder(Role role);
    void ShowWatchAlert(const char* key);
    void EnableDisableForWatching();
    void StartWatching();
    void StopWatching();
    void directoryDidChange(ScanReason reason);
    void WatchFolderEvents(const std::vector<NotifierEvent>& batch);
    void SettlingPending(const std::shared_ptr<WatchSession>& session, std::chrono::milliseconds delay);

    WatchFolderDependencies deps_;
    std::array<Folder, 3> folders_;
    std::array<DragAndDropCommonFolderController*, 3> dropBoxes_{};
    QPointer<QFileDialog> panel_;
    Role panelRole_ = kSource;

    bool m_Watching = false;
    std::unique_ptr<Notifier> iNotifier;
    settings::PreferenceDictionary watchFolderPreferences;
    std::shared_ptr<WatchSession> session_;
    QTimer settlingTimer_;
    std::chrono::milliseconds settlingTime_ = WatchSession::kSettlingTime;
};

}  // namespace watch
