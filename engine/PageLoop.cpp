// The page loop: range, resolution, names, and the pages handed to the renderer one after
// another or on a private queue.
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "Common UI Code/OVXUtil.h"
#include "engine/ImageConverter.h"
#include "engine/OperationQueue.h"
#include "engine/OutputFile.h"
#include "platform/BufferPool.h"
#include "platform/WorkerBudget.h"

namespace {

// One page's work on the queue: copies of everything it needs, no TIFF file.
struct RenderPageBlock {
    ImageConverter* converter;
    long page;
    long index;
    long count;
    std::uint8_t resizeEnabled;
    ImageResizeOptions resizeOptions;
    float scale;
    std::filesystem::path url;
    int threads;  // the page's share of the workers
    std::atomic<long>* unstarted;  // the loop's pages not started yet

    void operator()() const {
        platform::ScopedWorkerBudget budget(threads);
        unstarted->fetch_sub(1);
        converter->RenderPage(page, resizeEnabled, nullptr, index, count, scale, resizeOptions, url);
        // Once no page is left to start, the readers go here, on the workers side by side.
        if (unstarted->load() == 0) converter->pdfDocument->DropReaders();
    }
};

// "%@-%%0%ldd" formatted with the digits of the page count, then with the base and a number.
std::string NumberedName(const std::string& base, long digits, long number) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*ld", static_cast<int>(digits), number);
    return base + "-" + text;
}

}  // namespace

std::uint8_t ImageConverter::ConvertPages(std::uint8_t resizeEnabled, ImageResizeOptions resizeOptions) {
    if (resizeEnabled && resizeOptions.sizeUnit != kSizePixels && resizeOptions.sizeUnit != kSizePoints) {
        resizeOptions.targetWidth = LengthToPoints(resizeOptions.sizeUnit, resizeOptions.targetWidth);
        resizeOptions.targetHeight = LengthToPoints(resizeOptions.sizeUnit, resizeOptions.targetHeight);
    }

    // Page numbers compare unsigned: a negative number is larger than any page count, so a
    // negative last page means the last page of the document.
    const auto unsignedPage = [](std::int64_t p) { return static_cast<std::uint64_t>(p); };
    // The first and last page of the range in a document of `n` pages.
    const auto rangeOf = [&](long n) {
        long first, last;
        if (pageRangeType == kPageRangeFromTo) {
            const std::int64_t end = endPage == 0 ? 1 : endPage;
            first = (startPage >= 1 && startPage <= n) ? static_cast<long>(startPage) : 1;
            last = unsignedPage(end) < static_cast<std::uint64_t>(n) ? static_cast<long>(end) : n;
            if (first > last) first = last;
        } else if (pageRangeType == kPageRangeSingle) {
            first = last = (startPage >= 1 && startPage <= n) ? static_cast<long>(startPage) : 1;
        } else {
            first = 1;
            last = n;
        }
        return std::pair<long, long>{first, last};
    };

    // What the conversion before gave back in the background is gone before this one takes more.
    platform::WaitForBackgroundRelease(std::chrono::seconds(10));
    platform::LimitHeaps(imageType == kOutputJPEG2000 ? 2 : 0);
    OperationQueue queue(PageQueueWidth(std::thread::hardware_concurrency()));
    const int workers = queue.MaxConcurrentOperationCount();
    // The workers, and a reader each, are made ready while the page tree is walked here: both
    // take milliseconds, a tenth of a conversion of small pages. The pages the tree's root
    // claims tell how many workers the range will have.
    if (pdfDocument && workers > 1 && imageType != kOutputMultiPageTIFF) {
        if (const int claimed = pdfDocument->ClaimedPageCount(); claimed > 1) {
            const auto [from, to] = rangeOf(claimed);
            const long expected = std::min<long>(to - from + 1, workers);
            if (expected > 1) {
                queue.StartThreads(static_cast<int>(expected));
                for (long w = 0; w < expected; ++w)
                    queue.AddOperation([document = pdfDocument.get()] { document->PrepareReader(); });
            }
        }
    }

    const std::optional<int> pages = pdfDocument ? pdfDocument->ReadPageCount() : std::nullopt;
    // A page tree that cannot be read is no document without pages.
    if (!pages) {
        MarkFailed(ConversionFailure::UnreadablePageTree);
        return success.load();
    }
    const long n = *pages;
    // A document without pages has nothing to convert, whatever the range asks.
    if (n < 1) return success.load();
    const long digits = static_cast<long>(std::to_string(n).size());

    if (pageRangeType == kPageRangeFromTo && endPage == 0) endPage = 1;
    const auto [first, last] = rangeOf(n);
    const long count = last - first + 1;

    if (resolutionX == 0 && resolutionY == 0) {
        resolutionX = resolutionY = 72;
    } else if (resolutionX == 0) {
        resolutionX = resolutionY;
    } else if (resolutionY == 0) {
        resolutionY = resolutionX;
    }
    const float scale = std::max(resolutionX, resolutionY) / 72.0f;

    const std::string baseName = outputBaseName ? *outputBaseName : FileNameWithoutExtension(sourceURL);
    if (count == 1 && imageType == kOutputMultiPageTIFF) imageType = kOutputTIFF;
    const bool multiPageTiff = imageType == kOutputMultiPageTIFF;

    // The pages of a multi-page TIFF are drawn ahead on the workers and written here in order.
    const bool synchronous = count < 2 || workers == 1;
    // Pages one after another on this thread may split their encoding over all the workers;
    // with fewer pages than workers on the queue, each page over its share of them.
    const int threadsPerPage = static_cast<int>(std::max<long>(1, workers / std::min<long>(count, workers)));
    platform::ScopedWorkerBudget budget(synchronous ? workers : 1);
    if (!synchronous && !multiPageTiff) queue.StartThreads(static_cast<int>(std::min<long>(count, workers)));

    std::atomic<long> unstarted{count};
    long queued = 0;
    TIFF* tiff = nullptr;
    std::optional<PendingFile> tiffFile;
    const std::string extension = ImageFileExtensionForType(imageType);
    // On the queue the last pages go heaviest first, so that the last ones started are light
    // and no worker is left with a long page while the others have nothing to do. Those before
    // them keep the document's order and start at once; the last ones are weighed on this
    // thread meanwhile.
    const long lastStretch = !synchronous && !multiPageTiff ? std::min<long>(16L * workers, count - workers) : 0;
    std::vector<long> order;  // the last stretch's pages (indices into the range), heaviest first
    for (long k = 0; k < count; ++k) {
        if (IsCancelled()) break;
        // After a failed page nothing more is named or started: the document has failed.
        if (!Succeeded()) break;

        long i = k;
        if (lastStretch > 0 && k >= count - lastStretch) {
            if (order.empty()) {
                std::vector<std::pair<std::size_t, long>> weighed;
                for (long j = k; j < count; ++j)
                    weighed.emplace_back(pdfDocument->PageWeight(static_cast<int>(first + j - 1)), j);
                std::stable_sort(weighed.begin(), weighed.end(),
                                 [](const auto& a, const auto& b) { return a.first > b.first; });
                for (const auto& w : weighed) order.push_back(w.second);
            }
            i = order[static_cast<std::size_t>(k - (count - lastStretch))];
        }

        const long page = first + i;
        const long number = numberPagesFromRangeStart ? page + static_cast<long>(startPage) - 1 : page;
        const std::string name = (n >= 2 && !multiPageTiff) ? NumberedName(baseName, digits, number) : baseName;

        std::filesystem::path url;
        if (!multiPageTiff || i == 0)
            // With overwriting, an existing file keeps its name until its replacement is complete.
            url = GetReplaceableFileURL(destinationURL, name, extension, overwriteExistingFile != 0);

        if (synchronous || multiPageTiff) {
            if (multiPageTiff && i == 0) {
                // One file for the document, written under a temporary name and given its own
                // when the conversion ends well.
                if (std::optional<PendingFile> created = PendingFile::Create(url)) tiffFile.emplace(std::move(*created));
                if (tiffFile) {
                    // libtiff closes what it is given: its own descriptor of our file.
                    const int fd = ::dup(tiffFile->descriptor());
                    if (fd >= 0) {
                        tiff = TIFFFdOpen(fd, url.filename().c_str(), "w");
                        if (!tiff) ::close(fd);
                    }
                }
                if (!tiff) {
                    const int error = tiffFile ? tiffFile->error() : errno;
                    tiffFile.reset();
                    const PageOutcome failed = FileOutcome(error);
                    MarkFailed(failed.failure, 0, failed.detail);
                    break;
                }
            }
            if (!synchronous) {
                ConvertMultiPageTiffAhead(first, count, resizeEnabled, resizeOptions, scale, tiff, queue);
                break;
            }
            RenderPage(page, resizeEnabled, tiff, i, count, scale, resizeOptions, url);
        } else {
            ++queued;
            queue.AddOperation(RenderPageBlock{this, page, i, count, resizeEnabled, resizeOptions, scale, url,
                                               threadsPerPage, &unstarted});
        }
    }
    // Pages the loop did not queue are never started: the count of the others is what remains.
    if (queued > 0) unstarted -= count - queued;
    queue.WaitUntilAllOperationsAreFinished();
    // The page buffers kept for the next page go back to the system with the document.
    platform::TrimBufferPool();

    if (tiff) {
        // Only the loop closes the file; a file of no page at all is no TIFF and is not kept.
        const bool flushed = TIFFFlush(tiff) != 0;
        TIFFClose(tiff);
        if (!flushed) MarkFailed(ConversionFailure::WriterError, 0, "libtiff could not finish the file");
        if (Succeeded() && multiPageTiffPages > 0) {
            // Over the old file only when overwriting; a free name taken meanwhile is not ours.
            if (!tiffFile->Commit(overwriteExistingFile != 0)) {
                const PageOutcome failed = FileOutcome(tiffFile->error());
                MarkFailed(failed.failure, 0, failed.detail);
            }
        } else {
            tiffFile->Discard();
        }
    }
    return success.load();
}

namespace {

// One page drawn ahead: its result, once its worker is done with it.
struct AheadPage {
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    DrawnPage drawn;
    std::atomic<bool> abandon{false};
};

}  // namespace

void ImageConverter::ConvertMultiPageTiffAhead(long first, long count, std::uint8_t resizeEnabled,
                                               const ImageResizeOptions& resizeOptions, float scale, TIFF* tiff,
                                               OperationQueue& queue) {
    // As many pages drawn ahead as there are workers, and the one being written: a few page
    // buffers a worker, as when each worker writes its own pages.
    const long ahead = std::max(1, queue.MaxConcurrentOperationCount());
    std::vector<std::shared_ptr<AheadPage>> pages(static_cast<std::size_t>(count));
    long dispatched = 0;
    const auto dispatch = [&](long i) {
        auto slot = std::make_shared<AheadPage>();
        pages[static_cast<std::size_t>(i)] = slot;
        queue.AddOperation([this, slot, page = first + i, index = i, count, resizeEnabled, resizeOptions, scale] {
            platform::ScopedWorkerBudget budget(1);
            DrawnPage drawn;
            try {
                drawn = DrawPageSteps(page, resizeEnabled, scale, resizeOptions, &slot->abandon);
                CompressMultiPageTiffPage(drawn, index, count);
            } catch (...) {
                drawn = DrawnPage{};
                drawn.outcome = PageOutcome::Failed(ConversionFailure::NoResources);
            }
            {
                std::lock_guard lock(slot->mutex);
                slot->drawn = std::move(drawn);
                slot->done = true;
            }
            slot->ready.notify_all();
        });
    };

    for (long i = 0; i < count; ++i) {
        // Between pages: a cancel here ends the file quietly with the pages written.
        if (IsCancelled() || !Succeeded()) break;
        while (dispatched < count && dispatched <= i + ahead) dispatch(dispatched++);
        const long page = first + i;
        ReportPageStart(page);
        AheadPage& slot = *pages[static_cast<std::size_t>(i)];
        {
            // Inside the page: a cancel or another failure stops its drawing.
            std::unique_lock lock(slot.mutex);
            while (!slot.done) {
                if (!slot.abandon && (IsCancelled() || !Succeeded())) slot.abandon = true;
                slot.ready.wait_for(lock, std::chrono::milliseconds(20));
            }
        }
        PageOutcome outcome = std::move(slot.drawn.outcome);
        if (outcome.kind == PageOutcome::Kind::Written) {
            if (!Succeeded())
                outcome = PageOutcome::Skipped();
            else if (IsCancelled() || slot.abandon)
                outcome = PageOutcome::Cancelled();
            else
                outcome = WriteDrawnPage(slot.drawn, tiff, i, count, {});
        }
        pages[static_cast<std::size_t>(i)].reset();  // its memory goes now
        FinishPage(page, std::move(outcome));
    }
    // Pages drawn ahead that will not be written stop where they are.
    for (const std::shared_ptr<AheadPage>& slot : pages)
        if (slot) slot->abandon = true;
    queue.WaitUntilAllOperationsAreFinished();
}
