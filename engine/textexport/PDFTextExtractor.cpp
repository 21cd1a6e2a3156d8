#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Common UI Code/OVXUtil.h"
#include "engine/textexport/PDFTextExport.h"
#include "engine/textexport/TextDocumentWriters.h"
#include "platform/MainQueue.h"

namespace fs = std::filesystem;

namespace {

// Runs the task on the caller's main thread and waits for it; on the main thread itself, at once.
void PerformOnMainThreadAndWait(const std::function<void()>& task) {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        task();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    platform::PostToMainQueue([task, done] {
        task();
        done->set_value();
    });
    finished.wait();
}

bool IsNotText(char16_t c) {
    return c == 0xFFFC || QChar(c).isSpace() || c == u'\n' || c == u'\r' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The pages' text, read ahead by workers that each open the document on their own; the export
// takes the pages in order as they become ready.
class PageTexts {
public:
    PageTexts(const PDFToTextConversion& record, platform::PdfTextReader& first, int firstPage, int lastPage)
        : first_(first), firstPage_(firstPage), pages_(static_cast<std::size_t>(lastPage - firstPage + 1)) {
        ready_.assign(pages_.size(), false);
        // Each worker loads the fonts of its pages again in its own document: past four workers
        // that costs more processor time than the extra worker saves.
        const int wanted = static_cast<int>(std::min<std::size_t>(pages_.size(), 4));
        const int workers = std::max(1, std::min(wanted, static_cast<int>(std::thread::hardware_concurrency()) - 1));
        // The first worker reads through the export's own document; the others open their own.
        for (int i = 0; i < workers; ++i) {
            threads_.emplace_back([this, &record, i] {
                try {
                    std::unique_ptr<platform::PdfTextReader> own;
                    platform::PdfTextReader* reader = &first_;
                    if (i > 0) {
                        own = platform::PdfTextReader::Open(record.sourceURL, record.password);
                        if (own) reader = own.get();
                    }
                    for (; own || i == 0;) {
                        const std::size_t k = next_.fetch_add(1);
                        if (k >= pages_.size() || stop_.load()) break;
                        std::optional<platform::StyledText> text =
                            reader->PageText(firstPage_ - 1 + static_cast<int>(k));
                        std::lock_guard guard(mutex_);
                        pages_[k] = std::move(text);
                        ready_[k] = true;
                        wake_.notify_all();
                    }
                } catch (...) {
                    // A page this worker took and could not finish is read by Take.
                }
                std::lock_guard guard(mutex_);
                ++finishedWorkers_;
                wake_.notify_all();
            });
        }
    }
    ~PageTexts() {
        stop_.store(true);
        for (std::thread& t : threads_) t.join();
    }

    // The text of page p (counted from 1), once it has been read; nothing when it could not be.
    std::optional<platform::StyledText> Take(int p) {
        const auto k = static_cast<std::size_t>(p - firstPage_);
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return ready_[k] || finishedWorkers_ == threads_.size(); });
        if (!ready_[k]) {
            // Every worker has stopped (the others could not open the file): read it here.
            lock.unlock();
            return first_.PageText(p - 1);
        }
        return std::move(pages_[k]);
    }

private:
    platform::PdfTextReader& first_;
    const int firstPage_;
    std::vector<std::optional<platform::StyledText>> pages_;
    std::vector<bool> ready_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::size_t finishedWorkers_ = 0;
    std::vector<std::thread> threads_;
};

}  // namespace

PDFTextExtractor::PDFTextExtractor(const PDFToTextConversion* record) : record_(record) { OpenDocument(); }

PDFTextExtractor::~PDFTextExtractor() = default;

void PDFTextExtractor::OpenDocument() {
    document_ = platform::PdfTextReader::Open(record_->sourceURL, record_->password);
    if (!document_) throw kTextExportCannotOpen;
}

bool PDFTextExtractor::IsTextTaken(const std::u16string& text) {
    if (text.size() > 19) return true;
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return !IsNotText(c); });
}

std::uint8_t PDFTextExtractor::ExtractText() {
    const PDFToTextConversion& r = *record_;
    const std::int64_t n = document_->PageCount();
    std::int64_t first = 1, last = n;
    if (r.pageRangeType == 1 || r.pageRangeType == 2) {
        if (r.startPage < 1 || r.startPage > n) return 0;
        first = r.startPage;
        last = r.pageRangeType == 1 ? r.startPage : (r.endPage >= 1 && r.endPage <= n ? r.endPage : n);
    }
    if (n == 0 || first > last) return 0;

    const std::string base =
        r.outputBaseName ? *r.outputBaseName : FileNameWithoutExtension(r.sourceURL);
    const int digits = static_cast<int>(std::to_string(n).size());
    const auto pageName = [&](std::int64_t p) {
        std::string number = std::to_string(p);
        if (static_cast<int>(number.size()) < digits) number.insert(0, static_cast<std::size_t>(digits) - number.size(), '0');
        return base + "-" + number;
    };

    std::uint8_t result = 0;
    std::optional<platform::StyledText> collected;
    {
        PageTexts texts(r, *document_, static_cast<int>(first), static_cast<int>(last));
        ProgressTarget* target = r.progressCallback.progressTarget;
        const ProgressSelector selector = r.progressCallback.progressSelector;
        for (std::int64_t p = first; p <= last; ++p) {
            if (target) {
                if (target->isConversionCancelled()) break;
                if (selector) PerformOnMainThreadAndWait([target, selector, p] { (target->*selector)(static_cast<long>(p)); });
            }
            std::optional<platform::StyledText> text = texts.Take(static_cast<int>(p));
            if (!text || !IsTextTaken(text->text)) continue;
            if (r.onePerPage) {
                const std::string name = last == 1 ? base : pageName(p);
                const fs::path file = GetUniqueFileURL(r.destinationURL, name, r.outputExtension, false);
                if (WriteTextDocument(file, *text)) result = 1;
            } else if (collected) {
                collected->Append(*text);
            } else {
                collected = std::move(text);
            }
        }
    }
    if (collected) {
        const fs::path file = GetUniqueFileURL(r.destinationURL, base, r.outputExtension, false);
        if (WriteTextDocument(file, *collected)) result = 1;
    }
    return result;
}

bool PDFTextExtractor::WriteTextDocument(const fs::path& file, const platform::StyledText& text) const {
    return textexport::WriteTextDocument(record_->textOutputKind, file, text);
}

std::uint8_t ConvertPDFToTextDocuments(const PDFToTextConversion* record) {
    if (!record) return 0;
    // Only the failure to open leaves the export; anything else ends it with 0.
    std::unique_ptr<PDFTextExtractor> extractor;
    try {
        extractor = std::make_unique<PDFTextExtractor>(record);
    } catch (int) {
        throw;
    } catch (...) {
        return 0;
    }
    try {
        return extractor->ExtractText();
    } catch (...) {
        return 0;
    }
}
