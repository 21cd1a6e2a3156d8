#include "run/ConversionRun.h"

#include <QCoreApplication>
#include <QThread>

#include "Common UI Code/OVXUtil.h"
#include "filelist/InputFiles.h"
#include "platform/MainQueue.h"

namespace fs = std::filesystem;

namespace run {

int ResultCode(bool anySucceeded, bool anyFailed) {
    if (!anySucceeded) return kNoneConverted;
    return anyFailed ? kSomeFailed : kAllConverted;
}

// --- One file's output folder ---------------------------------------------------------------

namespace {

// The sub-folders between the added folder and the file's folder; empty when the file does not
// lie below the added folder.
fs::path SubFoldersBelow(const fs::path& parent, const fs::path& file) {
    const fs::path relative = file.lexically_normal().parent_path().lexically_relative(parent.lexically_normal());
    if (relative.empty() || relative == ".") return {};
    for (const fs::path& part : relative)
        if (part == "..") return {};
    return relative;
}

}  // namespace

std::optional<OutputFolder> GetDestinationURL(const fs::path& fileURL, const fs::path& destination,
                                              const std::optional<fs::path>& parent, bool perFileFolders) {
    if (fileURL.empty() || destination.empty()) return std::nullopt;
    fs::path dest = destination;
    if (parent && !parent->empty())
        if (const fs::path below = SubFoldersBelow(*parent, fileURL); !below.empty()) dest /= below;
    std::error_code ec;
    if (perFileFolders) {
        // The folder is claimed by its creation: one that exists already (ours from an earlier
        // file, or anyone else's) is never taken, the next free name is.
        if (std::optional<fs::path> own = GetUniqueDirectoryURLForFile(dest, fileURL, true))
            return OutputFolder{*own, true};
        // No folder of its own: the images go where the folder would have been.
        if (!fs::is_directory(dest, ec)) return std::nullopt;
        return OutputFolder{dest, false};
    }
    fs::create_directories(dest, ec);
    if (!fs::is_directory(dest, ec)) return std::nullopt;
    return OutputFolder{dest, false};
}

std::optional<OutputFolder> GetConversionSettingsFor(ImageConversion& record, const ImageListItem& item,
                                                     const fs::path& destination, bool perFileFolders) {
    if (item.filePath.isEmpty() || destination.empty()) return std::nullopt;
    const fs::path file = ToFsPath(item.filePath);
    record.sourceURL = file;
    record.conversionOptions.password = item.password.toStdString();
    std::optional<fs::path> parent;
    if (item.parentFolderName) parent = ToFsPath(*item.parentFolderName);
    std::optional<OutputFolder> output = GetDestinationURL(file, destination, parent, perFileFolders);
    if (output) record.outputFolderURL = output->folder;
    return output;
}

void RemoveFailedFileFolder(const OutputFolder& output) {
    if (!output.madeForFile || output.folder.empty()) return;
    std::error_code ec;
    fs::remove_all(output.folder, ec);
}

// --- Hand-offs ------------------------------------------------------------------------------

namespace {

// Marks a hand-off done when its task is destroyed, run or not (the event that carried it may
// be dropped with its receiver), so the worker never waits for a task that cannot run.
struct HandOff {
    bool done = false;
    bool ran = false;
};

}  // namespace

MainThreadGate::MainThreadGate(QObject* context) : state_(std::make_shared<State>()), context_(context) {}

bool MainThreadGate::Perform(std::function<void()> task) {
    QObject* context = context_.data();
    if (!context) return false;
    if (QThread::currentThread() == context->thread()) {
        if (isClosed()) return false;
        task();
        return true;
    }

    std::shared_ptr<State> state = state_;
    auto handOff = std::make_shared<HandOff>();
    class Release {
    public:
        Release(std::shared_ptr<State> state, std::shared_ptr<HandOff> handOff)
            : state_(std::move(state)), handOff_(std::move(handOff)) {}
        Release(const Release&) = delete;
        Release& operator=(const Release&) = delete;
        ~Release() {
            {
                std::lock_guard lock(state_->mutex);
                handOff_->done = true;
            }
            state_->changed.notify_all();
        }

    private:
        std::shared_ptr<State> state_;
        std::shared_ptr<HandOff> handOff_;
    };
    auto release = std::make_shared<Release>(state, handOff);
    {
        std::lock_guard lock(state->mutex);
        if (state->closed) return false;
    }
    QMetaObject::invokeMethod(
        context,
        [state, handOff, release, task = std::move(task)]() mutable {
            {
                std::lock_guard lock(state->mutex);
                if (state->closed) return;
                handOff->ran = true;
            }
            task();
            release.reset();
        },
        Qt::QueuedConnection);
    release.reset();  // the posted task holds the last reference

    std::unique_lock lock(state->mutex);
    state->changed.wait(lock, [&] { return handOff->done || state->closed; });
    return handOff->ran && handOff->done;
}

void MainThreadGate::Close() {
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
    }
    state_->changed.notify_all();
}

bool MainThreadGate::isClosed() const {
    std::lock_guard lock(state_->mutex);
    return state_->closed;
}

// --- The run --------------------------------------------------------------------------------

ConversionRun::ConversionRun(std::vector<ImageListItem> items, fs::path destination, const ImageConversion& record,
                             bool perFileFolders, QObject* context, Ui ui, PdfConverter convert)
    : sourceURLs_(std::move(items)),
      destination_(std::move(destination)),
      record_(record),
      perFileFolders_(perFileFolders),
      ui_(std::move(ui)),
      convert_(std::move(convert)),
      gate_(context),
      context_(context),
      counters_(std::make_shared<ProgressCounters>()) {
    // The run is the engine's progress target: its cancel flag, its sheet.
    record_.progressCallback.progressTarget = this;
    record_.progressCallback.progressSelector = &ProgressTarget::UpdatePageProgressStatus;
    record_.sourceURL.clear();
    record_.outputFolderURL.clear();
    record_.conversionOptions.password.reset();
}

ConversionRun::~ConversionRun() {
    if (worker_.joinable()) {
        cancelled_.store(true);
        gate_.Close();
        worker_.join();
    }
}

void ConversionRun::Start() {
    if (worker_.joinable() || running_.load()) return;
    running_.store(true);
    worker_ = std::thread([this] { ExportToImages(); });
}

void ConversionRun::Join() {
    if (worker_.joinable()) worker_.join();
}

std::optional<int> ConversionRun::result() const {
    std::lock_guard lock(mutex_);
    return result_;
}

void ConversionRun::UpdatePageProgressStatus(long pageNumber) {
    // Reports are delivered on the main queue; a queue of the layer's own (no application
    // hook) hands them on to the main thread.
    QObject* context = context_.data();
    if (!context) return;
    auto show = [sheet = ui_.sheet, counters = counters_, pageNumber] {
        if (sheet && sheet->Shows(counters.get())) sheet->UpdatePageProgressStatus(pageNumber);
    };
    if (QThread::currentThread() == context->thread())
        show();
    else
        QMetaObject::invokeMethod(context, show, Qt::QueuedConnection);
}

void ConversionRun::StopForQuit() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
        if (fileInEngine_) quitDuringFile_ = true;
    }
    cancelled_.store(true);
    // The worker must not wait for the main thread, which now waits for it.
    gate_.Close();
    Join();
    if (ui_.sheet && ui_.sheet->Shows(counters_.get())) ui_.sheet->EndProgressSheet();
}

void ConversionRun::ExportToImages() {
    const QPointer<ProgressSheet> sheet = ui_.sheet;
    const std::shared_ptr<ProgressCounters> counters = counters_;
    const auto files = static_cast<std::int64_t>(sourceURLs_.size());
    gate_.Perform([sheet, counters, files] {
        counters->numOfFilesForConversion = files;
        counters->fileProcessingIndex = 0;
        counters->currentProcessingPDFFileName.clear();
        if (!sheet) return;
        sheet->BeginProgressSheet(counters);
        sheet->ChangeProgressStatus(ProgressSheet::kStatusRunStarted);
    });

    bool anySucceeded = false, anyFailed = false;
    for (const ImageListItem& item : sourceURLs_) {
        if (isConversionCancelled()) break;
        if (ConvertPDFtoImage(item, record_))
            anySucceeded = true;
        else
            anyFailed = true;
    }

    gate_.Perform([sheet, counters] {
        if (!sheet || !sheet->Shows(counters.get())) return;
        sheet->ChangeProgressStatus(ProgressSheet::kStatusRunEnded);
        sheet->EndProgressSheet();
    });

    // A cancelled run reports nothing.
    if (!isConversionCancelled() && (anySucceeded || anyFailed)) {
        const int result = ResultCode(anySucceeded, anyFailed);
        {
            std::lock_guard lock(mutex_);
            result_ = result;
        }
        if (ui_.reportResult)
            gate_.Perform([report = ui_.reportResult, result, destination = destination_] { report(result, destination); });
    }

    running_.store(false);
    if (ui_.finished && context_) {
        QMetaObject::invokeMethod(context_.data(), [finished = ui_.finished, self = this] { finished(self); },
                                  Qt::QueuedConnection);
    }
}

std::uint8_t ConversionRun::ConvertPDFtoImage(const ImageListItem& item, ImageConversion record) {
    const std::optional<OutputFolder> output = GetConversionSettingsFor(record, item, destination_, perFileFolders_);
    // A file that cannot be converted shows no step.
    if (!output) return 0;

    const QPointer<ProgressSheet> sheet = ui_.sheet;
    const std::shared_ptr<ProgressCounters> counters = counters_;
    const QString name = QString::fromStdString(ToFsPath(item.filePath).filename().string());
    const std::int64_t pages = item.numOfPages;
    gate_.Perform([sheet, counters, name, pages] {
        counters->currentProcessingPDFFileName = name;
        if (!sheet || !sheet->Shows(counters.get())) return;
        sheet->ResetPageProcessingProgressBar(pages);
        sheet->ChangeProgressStatus(ProgressSheet::kStatusFileStarted);
    });

    {
        std::lock_guard lock(mutex_);
        // Cancelled before the file started: it does not start, and leaves no empty folder.
        if (quitting_ || isConversionCancelled()) {
            RemoveFailedFileFolder(*output);
            return 0;
        }
        fileInEngine_ = true;
    }
    std::uint8_t converted = convert_ ? convert_(&record) : ConvertPDFToImages(&record);
    {
        std::lock_guard lock(mutex_);
        fileInEngine_ = false;
        // A file cut short by quitting is unfinished: it is cleaned up as a failed one.
        if (quitDuringFile_) converted = 0;
    }
    if (!converted) RemoveFailedFileFolder(*output);
    return converted;
}

void ConversionRun::ReleaseAfterReports(std::shared_ptr<ConversionRun> run) {
    if (!run) return;
    // Reports reach the main queue in the order they were posted: this comes after them all.
    platform::PostToMainQueue([keep = std::move(run)]() mutable { keep.reset(); });
}

}  // namespace run
