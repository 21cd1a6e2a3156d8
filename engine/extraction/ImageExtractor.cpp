#include "engine/extraction/ImageExtractor.h"

#include <qpdf/QPDFExc.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <tiffio.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "Common UI Code/OVXUtil.h"
#include "engine/OperationQueue.h"
#include "platform/LocalizedStrings.h"
#include "platform/MainQueue.h"
#include "platform/WorkerBudget.h"
#include "platform/imageio/ImageDestination.h"

namespace {

// ---- The TIFF in memory of the PDF output path ---------------------------------------------

struct MemoryFile {
    const std::vector<std::uint8_t>* data;
    toff_t offset = 0;
};

tsize_t ReadMemory(thandle_t h, tdata_t buffer, tsize_t size) {
    auto* f = static_cast<MemoryFile*>(h);
    if (size < 0 || f->offset >= f->data->size()) return 0;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), f->data->size() - f->offset);
    std::memcpy(buffer, f->data->data() + f->offset, n);
    f->offset += n;
    return static_cast<tsize_t>(n);
}
tsize_t WriteNothing(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t SeekMemory(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    const toff_t base = whence == SEEK_CUR ? f->offset : whence == SEEK_END ? f->data->size() : 0;
    f->offset = base + offset;
    return f->offset;
}
int CloseMemory(thandle_t) { return 0; }
toff_t SizeOfMemory(thandle_t h) { return static_cast<MemoryFile*>(h)->data->size(); }
int MapNothing(thandle_t, tdata_t*, toff_t*) { return 0; }
void UnmapNothing(thandle_t, tdata_t, toff_t) {}

// The first image of a TIFF in memory as RGB, with alpha (premultiplied) when it has one.
platform::Bitmap ReadTIFFData(const std::vector<std::uint8_t>& data) {
    MemoryFile file{&data};
    TIFFSetWarningHandler(nullptr);
    TIFF* tiff = TIFFClientOpen("extracted image", "rm", &file, ReadMemory, WriteNothing, SeekMemory, CloseMemory,
                                SizeOfMemory, MapNothing, UnmapNothing);
    if (!tiff) return {};
    platform::Bitmap out;
    std::uint32_t w = 0, h = 0;
    std::uint16_t extra = 0;
    std::uint16_t* extraTypes = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra, &extraTypes);
    const bool alpha = extra > 0;
    if (w > 0 && h > 0 && w <= 0x7FFFFFFF && h <= 0x7FFFFFFF &&
        static_cast<std::uint64_t>(w) * h * 4 <= platform::kMaxBitmapBytes) {
        std::vector<std::uint32_t> raster(static_cast<std::size_t>(w) * h);
        if (TIFFReadRGBAImageOriented(tiff, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
            out = platform::Bitmap::Allocate(static_cast<int>(w), static_cast<int>(h), platform::ColorModel::RGB, alpha);
            for (std::uint32_t y = 0; out && y < h; ++y) {
                std::uint8_t* o = out.row(static_cast<int>(y));
                for (std::uint32_t x = 0; x < w; ++x) {
                    const std::uint32_t p = raster[static_cast<std::size_t>(y) * w + x];
                    *o++ = static_cast<std::uint8_t>(TIFFGetR(p));
                    *o++ = static_cast<std::uint8_t>(TIFFGetG(p));
                    *o++ = static_cast<std::uint8_t>(TIFFGetB(p));
                    if (alpha) *o++ = static_cast<std::uint8_t>(TIFFGetA(p));
                }
            }
        }
    }
    TIFFClose(tiff);
    return out;
}

// ---- Inline images --------------------------------------------------------------------------

std::string InlineKey(const std::string& key) {
    static const char* const kKeys[][2] = {
        {"/BPC", "/BitsPerComponent"}, {"/CS", "/ColorSpace"}, {"/D", "/Decode"},   {"/DP", "/DecodeParms"},
        {"/F", "/Filter"},             {"/H", "/Height"},      {"/W", "/Width"},    {"/I", "/Interpolate"},
        {"/IM", "/ImageMask"},         {"/L", "/Length"},
    };
    for (const auto& k : kKeys)
        if (key == k[0]) return k[1];
    return key;
}

// An inline image's dictionary operands and data as a stream of the document, its keys and
// filter names written out in full.
QPDFObjectHandle InlineImageStream(QPDF& document, const std::vector<QPDFObjectHandle>& operands,
                                   const std::string& data) {
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&document);
    QPDFObjectHandle filter = QPDFObjectHandle::newNull();
    QPDFObjectHandle parms = QPDFObjectHandle::newNull();
    QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
    for (std::size_t i = 0; i + 1 < operands.size(); i += 2) {
        QPDFObjectHandle name = operands[i];
        QPDFObjectHandle original = operands[i + 1];
        // The parser's objects belong to the page's document: the stream takes copies.
        QPDFObjectHandle value = QPDFObjectHandle::parse(original.unparse());
        if (!name.isName()) continue;
        const std::string key = InlineKey(name.getName());
        if (key == "/Filter")
            filter = value;  // abbreviated filter names are read as the full ones
        else if (key == "/DecodeParms")
            parms = value;
        else if (key != "/Length")
            dict.replaceKey(key, value);
    }
    stream.replaceStreamData(data, filter, parms);
    QPDFObjectHandle streamDict = stream.getDict();
    for (const std::string& key : dict.getKeys()) streamDict.replaceKey(key, dict.getKey(key));
    return stream;
}

bool IsDelimiterOrSpace(unsigned char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0' || c == '/' || c == '[' ||
           c == ']' || c == '<' || c == '>' || c == '(' || c == ')' || c == '{' || c == '}' || c == '%';
}

// Whether the contents hold "BI" as a token of its own.
bool MayHoldInlineImages(const unsigned char* data, std::size_t size) {
    for (std::size_t i = 0; i + 1 < size; ++i) {
        if (data[i] != 'B' || data[i + 1] != 'I') continue;
        if ((i == 0 || IsDelimiterOrSpace(data[i - 1])) && (i + 2 == size || IsDelimiterOrSpace(data[i + 2])))
            return true;
    }
    return false;
}

// Hands each inline image of a content stream, in order, to the page's walk.
class InlineImageCallbacks : public QPDFObjectHandle::ParserCallbacks {
public:
    InlineImageCallbacks(ExtractedPage& page, QPDF& document) : page_(page), document_(document) {}

    void handleObject(QPDFObjectHandle object) override {
        if (object.isOperator()) {
            const std::string op = object.getOperatorValue();
            if (op == "ID") {
                dictionary_ = std::move(operands_);
            } else if (op == "EI" && image_) {
                page_.WriteExtractedImage(InlineImageStream(document_, dictionary_, *image_));
            }
            if (op != "ID") dictionary_.clear();
            operands_.clear();
            image_.reset();
        } else if (object.isInlineImage()) {
            image_ = object.getInlineImageValue();
        } else {
            operands_.push_back(object);
        }
    }
    void handleEOF() override {}

private:
    ExtractedPage& page_;
    QPDF& document_;
    std::vector<QPDFObjectHandle> operands_;
    std::vector<QPDFObjectHandle> dictionary_;
    std::optional<std::string> image_;
};

// Pages in flight at once: the page loop waits for a free slot before it names the next page.
class PageSlots {
public:
    explicit PageSlots(int count) : free_(count) {}
    void Acquire() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return free_ > 0; });
        --free_;
    }
    void Release() {
        std::lock_guard lock(mutex_);
        ++free_;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int free_;
};

}  // namespace

// ---- The walk of a page ---------------------------------------------------------------------

ExtractedPage::ExtractedPage(ImageExtractor& extractor, long page)
    : pagePrefix(extractor.PagePrefix(page)), extractor_(extractor) {
    inlineImages_.emptyPDF();
}

void ExtractedPage::ScanPageResources(QPDFObjectHandle pageObject) {
    // The page's own resources: the page tree's inherited ones are not looked up.
    QPDFObjectHandle resources = pageObject.getKey("/Resources");
    if (!resources.isDictionary()) return;
    QPDFObjectHandle colorSpaces = resources.getKey("/ColorSpace");
    if (colorSpaces.isDictionary()) pageColorSpaces = colorSpaces;
    QPDFObjectHandle xobjects = resources.getKey("/XObject");
    if (!xobjects.isDictionary()) return;
    for (const std::string& key : xobjects.getKeys()) VisitXObject(xobjects.getKey(key));
}

void ExtractedPage::VisitXObject(QPDFObjectHandle object) {
    try {
        if (!object.isStream()) return;
        QPDFObjectHandle subtype = object.getDict().getKey("/Subtype");
        if (!subtype.isName()) return;
        if (subtype.getName() == "/Image")
            WriteExtractedImage(object);
        else if (subtype.getName() == "/Form")
            ScanFormXObject(object);
    } catch (const std::exception&) {
        // A damaged object is skipped; the walk goes on.
    }
}

void ExtractedPage::ScanFormXObject(QPDFObjectHandle form) {
    // A form reached again (it holds itself, directly or through others) is walked once.
    if (form.isIndirect() && !visitedForms_.insert(form.getObjGen()).second) return;
    QPDFObjectHandle resources = form.getDict().getKey("/Resources");
    if (!resources.isDictionary()) return;
    QPDFObjectHandle xobjects = resources.getKey("/XObject");
    if (!xobjects.isDictionary()) return;
    for (const std::string& key : xobjects.getKeys()) VisitXObject(xobjects.getKey(key));
}

void ExtractedPage::ScanInlineImages(QPDFObjectHandle pageObject) {
    // Parsing a content stream costs far more than reading it: pages whose contents hold no
    // "BI" token are not parsed.
    QPDFPageObjectHelper page(pageObject);
    Pl_Buffer contents("page contents");
    page.pipeContents(&contents);
    contents.finish();
    std::unique_ptr<Buffer> bytes(contents.getBuffer());
    if (!MayHoldInlineImages(bytes->getBuffer(), bytes->getSize())) return;
    InlineImageCallbacks callbacks(*this, inlineImages_);
    page.parseContents(&callbacks);
}

void ExtractedPage::WriteExtractedImage(QPDFObjectHandle stream) {
    const platform::Bitmap image = extractor_.CreateImageFromStream(stream, pageColorSpaces);
    if (!image) return;  // an image that does not decode takes no number
    std::string path = pagePrefix + std::to_string(imageCounter);
    const std::string extension = extractor_.ExtensionForOutput();
    if (!extension.empty()) path += "." + extension;
    extractor_.WriteExtractedImage(image, path);
    ++imageCounter;
}

// ---- The extractor --------------------------------------------------------------------------

ImageExtractor::ImageExtractor() = default;
ImageExtractor::~ImageExtractor() = default;

void ImageExtractor::SetPageRange(std::int32_t rangeType, std::int64_t firstPage, std::int64_t lastPage) {
    pageRangeType = rangeType;
    startPage = firstPage;
    endPage = lastPage;
}

std::string ImageExtractor::ExtensionForOutput() const { return extension_; }

std::unique_ptr<QPDF> ImageExtractor::OpenObjectDocument() {
    // Every worker's copy reads the file's bytes from one buffer, read once.
    {
        std::lock_guard lock(fileMutex_);
        if (!fileRead_) {
            fileRead_ = true;
            std::ifstream in(sourceURL, std::ios::binary);
            fileBytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!in.good() && !in.eof()) fileBytes_.clear();
        }
    }
    if (fileBytes_.empty()) return nullptr;
    // A document whose user password is empty opens without one; only then is the password tried.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1 && !password) break;
        auto document = std::make_unique<QPDF>();
        document->setSuppressWarnings(true);
        try {
            document->processMemoryFile(sourceURL.c_str(), fileBytes_.data(), fileBytes_.size(),
                                        attempt == 0 ? nullptr : password->c_str());
            return document;
        } catch (const QPDFExc& e) {
            if (e.getErrorCode() != qpdf_e_password) return nullptr;
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    return nullptr;
}

std::string ImageExtractor::PagePrefix(long page) const {
    const std::string name = baseName_ + "_" + pageWord_ + std::to_string(page) + "_";
    return (folder_ / name).string();
}

void ImageExtractor::WriteExtractedImage(const platform::Bitmap& image, const std::filesystem::path& path) {
    if (imageType != kOutputPDF && WriteImage(image, path)) return;
    // PDF output, or a writer that refused the image: through a TIFF in memory.
    platform::DestinationProperties properties;
    properties.tiffCompression = 5;
    std::vector<std::uint8_t> tiff;
    if (!platform::EncodeImageData(TypeIdentifierForOutputType(kOutputTIFF), image, properties, tiff)) return;
    const platform::Bitmap decoded = ReadTIFFData(tiff);
    if (decoded) WriteImage(decoded, path);
}

void ImageExtractor::ExtractPage(QPDF& document, long page) {
    QPDFObjectHandle pageObject;
    try {
        const std::vector<QPDFObjectHandle>& pages = document.getAllPages();
        if (page < 1 || static_cast<std::size_t>(page) > pages.size()) return;
        pageObject = pages[static_cast<std::size_t>(page - 1)];
    } catch (const std::exception&) {
        return;
    }
    ExtractedPage walk(*this, page);
    try {
        walk.ScanPageResources(pageObject);
    } catch (const std::exception&) {
    }
    try {
        walk.ScanInlineImages(pageObject);
    } catch (const std::exception&) {
    }
}

std::uint8_t ImageExtractor::ExtractImages() {
    std::unique_ptr<QPDF> first = OpenObjectDocument();
    if (!first) return 1;
    long n = 0;
    try {
        n = static_cast<long>(first->getAllPages().size());
    } catch (const std::exception&) {
        return 1;
    }
    long from, to;
    if (pageRangeType == kPageRangeFromTo) {
        const std::int64_t end = endPage < 1 ? 1 : endPage;
        to = static_cast<long>(std::min<std::int64_t>(end, n));
        from = (startPage >= 1 && startPage <= n) ? static_cast<long>(startPage) : 1;
        from = std::min(from, to);
    } else if (pageRangeType == kPageRangeSingle) {
        from = to = (startPage >= 1 && startPage <= n) ? static_cast<long>(startPage) : 1;
    } else {
        from = 1;
        to = n;
    }
    if (n < 1) return 1;

    folder_ = destinationURL;
    std::string base = outputBaseName ? *outputBaseName : FileNameWithoutExtension(sourceURL);
    std::replace(base.begin(), base.end(), '/', '_');
    baseName_ = base;
    extension_ = ImageFileExtensionForType(imageType);
    pageWord_ = platform::LocalizedString("Page").toStdString();

    // Each worker walks its pages over a document of its own.
    std::mutex documentsMutex;
    std::vector<std::unique_ptr<QPDF>> documents;
    documents.push_back(std::move(first));
    OperationQueue queue(PageQueueWidth(std::thread::hardware_concurrency()));
    PageSlots inFlight(queue.MaxConcurrentOperationCount());
    // With fewer pages than workers, each page's encoding may use its share of them.
    const long pages = to - from + 1;
    const int workers = queue.MaxConcurrentOperationCount();
    const int threadsPerPage = static_cast<int>(std::max<long>(1, workers / std::min<long>(pages, workers)));
    for (long p = from; p <= to; ++p) {
        inFlight.Acquire();
        if (IsCancelled()) {
            inFlight.Release();
            break;
        }
        if (progressTarget && progressSelector) {
            ProgressTarget* target = progressTarget;
            ProgressSelector selector = progressSelector;
            platform::PerformOnMainQueueAndWait([target, selector, p] { (target->*selector)(p); });
        }
        queue.AddOperation([this, p, threadsPerPage, &documentsMutex, &documents, &inFlight] {
            platform::ScopedWorkerBudget budget(threadsPerPage);
            std::unique_ptr<QPDF> document;
            {
                std::lock_guard lock(documentsMutex);
                if (!documents.empty()) {
                    document = std::move(documents.back());
                    documents.pop_back();
                }
            }
            try {
                if (!document) document = OpenObjectDocument();
                if (document) ExtractPage(*document, p);
            } catch (...) {
                // Out of memory, say: the page is skipped, as a failing page always is.
            }
            if (document) {
                std::lock_guard lock(documentsMutex);
                documents.push_back(std::move(document));
            }
            inFlight.Release();
        });
    }
    queue.WaitUntilAllOperationsAreFinished();
    return 1;
}

std::uint8_t ExtractImagesFromPDF(const ImageConversion* conversion) {
    if (!conversion || conversion->sourceURL.empty() || conversion->outputFolderURL.empty()) return 0;
    const ImageConversionOptions& options = conversion->conversionOptions;
    ImageExtractor extractor;
    extractor.SetPassword(options.password);
    if (!extractor.OpenPDFDocument(conversion->sourceURL)) return 0;
    if (extractor.IsDocumentEncrypted() && !extractor.UnlockDocument()) return 0;
    extractor.SetNamingOptions(conversion->outputBaseName, conversion->numberPagesFromRangeStart,
                               conversion->overwriteExistingFile);
    extractor.SetProgressCallback(conversion->progressCallback.progressTarget,
                                  conversion->progressCallback.progressSelector);
    extractor.SetOutputOptions(options.imageType, conversion->outputFolderURL, options.compressionQuality);
    extractor.SetPageRange(options.pageRangeType, options.startPage, options.endPage);
    return extractor.ExtractImages();
}
