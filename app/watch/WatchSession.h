#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "filelist/DragOut.h"
#include "settings/PreferenceStore.h"
#include "watch/Notifier.h"
#include "watch/SourceFiles.h"

namespace watch {

// What a watch works with, copied when it starts and fixed until it stops.
struct WatchSetup {
    std::filesystem::path source;
    std::filesystem::path destination;
    std::optional<std::filesystem::path> moveFolder;
    int option = 2;  // kDeleteSources, kMoveToDestination or kMoveToFolder
    settings::PreferenceDictionary preferences;  // the general preferences as they stood
};

// Why a scan runs: watching began, events arrived, or files found earlier have had time to
// settle.
enum class ScanReason { Start, Event, Settling };

// One watch from its start to its stop: what the events told about the files of the source
// folder, and the scans. A file is taken only when its writing has ended: after an arrival
// event (a write closed, an entry moved in) with the file unchanged since, or, for a file no
// event told about (found when watching began, or after the event queue overflowed), once its
// size and times have stayed the same for the settling time. A file some process still has open
// for writing is never taken. A source is deleted or moved only after its conversion succeeded
// and the outputs are on the disk, and only when it is still the file that was converted.
class WatchSession {
public:
    static constexpr std::chrono::milliseconds kSettlingTime{2000};

    WatchSession(WatchSetup setup, PdfConverter convert, std::chrono::milliseconds settlingTime = kSettlingTime);

    const WatchSetup& setup() const { return setup_; }

    // Notes a batch of events (main thread). True when it can have made a file ready, so that a
    // scan is worth queuing: batches that only tell of writing in progress or of departures
    // queue none.
    bool NoteEvents(const std::vector<NotifierEvent>& batch);

    // One scan of the source folder (on the scan queue). A stopped session scans no more; a
    // scan that is told to stop ends after the file it converts and that file's post-processing.
    void Scan(ScanReason reason);

    // Any thread.
    void Stop() { stopped_.store(true); }
    bool stopped() const { return stopped_.load(); }

    // Called from a scan that left files waiting to settle, with the time after which a scan
    // will find them settled.
    std::function<void(std::chrono::milliseconds delay)> onSettlingPending;

private:
    using Clock = std::chrono::steady_clock;
    enum class Readiness { Ready, Writing, Settling };

    struct Tracked {
        bool arrived = false;  // false: writing was seen since the last arrival
        std::optional<FileIdentity> atArrival;
        Clock::time_point lastEvent;
    };
    struct Observed {
        FileIdentity identity;
        Clock::time_point since;
    };
    struct Candidate {
        std::filesystem::path path;
        FileIdentity identity;
    };

    Readiness Judge(const std::string& name, const std::filesystem::path& path, const FileIdentity& identity,
                    Clock::time_point now, std::chrono::milliseconds* wait);
    Readiness BySettling(const std::string& name, const FileIdentity& identity, Clock::time_point now,
                         std::chrono::milliseconds* wait);
    bool Convert(const Candidate& file);
    bool PostProcess(const Candidate& file);
    bool PostProcessingLeavesTheFileSystem() const;

    const WatchSetup setup_;
    const PdfConverter convert_;
    const std::chrono::milliseconds settlingTime_;
    std::atomic<bool> stopped_{false};

    // Written on the main thread by the events, read by the scans.
    std::mutex mutex_;
    std::map<std::string, Tracked> tracked_;

    // The scans' own (they run one at a time).
    std::map<std::string, Observed> observed_;
    // Files whose conversion failed, and converted files that could not be deleted or moved,
    // as they were then.
    std::map<std::string, FileIdentity> failed_;
    std::map<std::string, FileIdentity> notPostProcessed_;
};

}  // namespace watch
