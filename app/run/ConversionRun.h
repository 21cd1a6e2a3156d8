#pragma once

#include <QPointer>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "engine/ImageConversion.h"
#include "filelist/DragOut.h"
#include "filelist/ImageListItem.h"
#include "run/ProgressSheet.h"

class QObject;

namespace run {

// Result codes of a run.
inline constexpr int kAllConverted = 1;
inline constexpr int kSomeFailed = 2;
inline constexpr int kNoneConverted = 3;

// The result of a run from what happened to its files; nothing when no file was tried.
int ResultCode(bool anySucceeded, bool anyFailed);

// --- One file's output folder -------------------------------------------------------------

// Where one file's images go.
struct OutputFolder {
    std::filesystem::path folder;
    // `folder` is a per-file folder that was made for this file (and is ours to remove when the
    // file fails). False when the images go into the destination or its rebuilt sub-folders.
    bool madeForFile = false;
};

// The output folder of one file (`GetDestinationURL:Dest:fromParent:`). Below `destination`,
// the sub-folders between `parent` (the folder the user added, when its tree is kept) and the
// file are rebuilt. With per-file folders, the file gets a folder of its own named after it
// ("name", else "name 1", "name 2", ...), claimed by a creation that fails when the folder
// exists, so a folder already there is never taken; when none can be made the images go into
// the rebuilt folder. Without, the rebuilt folder is made as needed. Nothing when the file or
// the destination is missing, or the folder for its images cannot be made.
std::optional<OutputFolder> GetDestinationURL(const std::filesystem::path& fileURL,
                                              const std::filesystem::path& destination,
                                              const std::optional<std::filesystem::path>& parent, bool perFileFolders);

// Completes a copy of the run's record for one item (`GetConversionSettings:For:`): its file,
// its password and its output folder. Nothing when the item cannot be converted.
std::optional<OutputFolder> GetConversionSettingsFor(ImageConversion& record, const ImageListItem& item,
                                                     const std::filesystem::path& destination, bool perFileFolders);

// After a file failed: removes its folder with everything in it, but only a folder made for it.
void RemoveFailedFileFolder(const OutputFolder& output);

// --- Hand-offs to the main thread -----------------------------------------------------------

// A worker's waiting hand-offs to the main thread. Perform runs a task on the main thread and
// waits for it; once the gate is closed (by the main thread, before it waits for the worker) no
// task runs any more and a waiting worker goes on at once, so the two never wait for each other.
class MainThreadGate {
public:
    // Tasks run in the thread of `context` (the main thread's application object or window).
    explicit MainThreadGate(QObject* context);

    // Runs `task` on the main thread and waits until it has run; false when it did not run
    // (the gate closed, or the main thread's object went away first). On the main thread the
    // task runs at once.
    bool Perform(std::function<void()> task);
    void Close();
    bool isClosed() const;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool closed = false;
    };
    std::shared_ptr<State> state_;
    QPointer<QObject> context_;
};

// --- The run --------------------------------------------------------------------------------

// One conversion run: the items it converts, the destination, the settings record, the cancel
// flag and the counters of the progress sheet, all its own, so runs that come before or after
// it cannot change them. A worker thread converts the items one after another through the
// engine; the run is the engine's progress target. The owner keeps the run alive until every
// page report it may have caused has been delivered (ReleaseAfterReports).
class ConversionRun : public ProgressTarget {
public:
    struct Ui {
        // The sheet that shows the run (may be null).
        QPointer<ProgressSheet> sheet;
        // Reports the result, on the main thread; the worker waits until it returns.
        std::function<void(int result, const std::filesystem::path& destination)> reportResult;
        // The worker has ended (posted to the main thread, not waited for).
        std::function<void(ConversionRun* run)> finished;
    };

    // `record` is the run's settings as the window's controls give them; each file gets a copy
    // completed with its source, password and output folder. `context` is an object of the main
    // thread for the hand-offs. `convert` is the engine's entry (empty: ConvertPDFToImages).
    ConversionRun(std::vector<ImageListItem> items, std::filesystem::path destination, const ImageConversion& record,
                  bool perFileFolders, QObject* context, Ui ui, PdfConverter convert = {});
    ~ConversionRun() override;
    ConversionRun(const ConversionRun&) = delete;
    ConversionRun& operator=(const ConversionRun&) = delete;

    // Starts the worker (once).
    void Start();

    // --- The engine's progress target ---
    bool isConversionCancelled() override { return cancelled_.load(std::memory_order_relaxed); }
    // On the main thread: shows the page on this run's sheet (a report that comes when the
    // sheet shows another run, or none, changes nothing).
    void UpdatePageProgressStatus(long pageNumber) override;

    // The sheet's cancel: the current file ends, no further file starts, nothing is reported.
    void cancelConversion() { cancelled_.store(true, std::memory_order_relaxed); }

    // Quitting (main thread): cancels, lets the worker go on without the main thread, waits for
    // it, and closes the sheet. The file in progress is cleaned up as a failed one.
    void StopForQuit();
    // Waits for the worker after it has ended (main thread).
    void Join();

    bool isRunning() const { return running_.load(); }
    // Set once the worker has ended: the result (none after a cancel or with nothing tried).
    std::optional<int> result() const;
    const std::filesystem::path& destination() const { return destination_; }
    const std::vector<ImageListItem>& items() const { return sourceURLs_; }
    const ImageConversion& record() const { return record_; }
    bool perFileFolders() const { return perFileFolders_; }
    const std::shared_ptr<ProgressCounters>& counters() const { return counters_; }

    // Drops `run` once every page report posted so far has been delivered: the reports name
    // the run as their target.
    static void ReleaseAfterReports(std::shared_ptr<ConversionRun> run);

private:
    void ExportToImages();
    std::uint8_t ConvertPDFtoImage(const ImageListItem& item, ImageConversion record);

    const std::vector<ImageListItem> sourceURLs_;
    const std::filesystem::path destination_;
    ImageConversion record_;
    const bool perFileFolders_;
    Ui ui_;
    PdfConverter convert_;
    MainThreadGate gate_;
    QPointer<QObject> context_;
    std::shared_ptr<ProgressCounters> counters_;

    std::atomic<bool> cancelled_{false};
    std::atomic<bool> running_{false};
    std::thread worker_;

    mutable std::mutex mutex_;
    bool quitting_ = false;
    bool fileInEngine_ = false;
    bool quitDuringFile_ = false;
    std::optional<int> result_;
};

}  // namespace run
