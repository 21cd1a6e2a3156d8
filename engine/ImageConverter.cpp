#include "engine/ImageConverter.h"

#include <limits>
#include <system_error>

ImageConverter::ImageConverter() = default;

ImageConverter::~ImageConverter() {
    sourceImage.reset();
    pdfDocument.reset();
    encodedData.clear();
    if (sourceIsTemporary && !sourceURL.empty()) {
        std::error_code ignored;
        std::filesystem::remove(sourceURL, ignored);
    }
    outputImage.reset();
}

void ImageConverter::SetPassword(const std::optional<std::string>& value) { password = value; }

bool ImageConverter::OpenPDFDocument(const std::filesystem::path& url) {
    sourceURL = url;
    pdfDocument = platform::PdfDocument::Open(url);
    return pdfDocument != nullptr;
}

bool ImageConverter::IsDocumentEncrypted() const { return pdfDocument && pdfDocument->IsEncrypted(); }

bool ImageConverter::UnlockDocument() {
    if (!pdfDocument || !password) return false;
    return pdfDocument->Unlock(*password);
}

bool ImageConverter::IsDocumentLocked() {
    if (!pdfDocument || !pdfDocument->IsEncrypted()) return false;
    return !UnlockDocument();
}

void ImageConverter::SetNamingOptions(const std::optional<std::string>& baseName, std::uint8_t numberFromRangeStart,
                                      std::uint8_t overwrite) {
    outputBaseName = baseName;
    numberPagesFromRangeStart = numberFromRangeStart;
    overwriteExistingFile = overwrite;
}

void ImageConverter::SetPageRange(std::int64_t firstPage, std::int64_t lastPage, std::int32_t rangeType) {
    startPage = firstPage;
    endPage = lastPage;
    pageRangeType = rangeType;
}

void ImageConverter::SetProgressCallback(ProgressTarget* target, ProgressSelector selector) {
    progressTarget = target;
    progressSelector = selector;
}

namespace {

// A double as a 32-bit float; values beyond the float's range become its largest (a plain
// conversion of them is undefined).
float ToFloat(double value) {
    if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::max();
    if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::max();
    return static_cast<float>(value);
}

}  // namespace

void ImageConverter::SetOutputOptions(std::int32_t type, const std::filesystem::path& destination, double value) {
    imageType = type;
    destinationURL = destination;
    quality = ToFloat(value);
}

void ImageConverter::SetResolution(std::int64_t resolutionYValue, std::int64_t resolutionXValue) {
    resolutionY = static_cast<float>(resolutionYValue);
    resolutionX = static_cast<float>(resolutionXValue);
}

void ImageConverter::SetColorModel(std::int32_t model) { colorModel = model; }
void ImageConverter::SetQuality(double value) { quality = ToFloat(value); }
void ImageConverter::SetImageType(std::int32_t type) { imageType = type; }
void ImageConverter::SetDestinationURL(const std::filesystem::path& url) { destinationURL = url; }
void ImageConverter::SetOrientation(std::int32_t value) { orientation = value; }

void ImageConverter::SetOrientationFromAngle(std::int64_t angle) {
    switch (angle) {
        case 0:
        case 360: orientation = 1; break;
        case 90:
        case -270: orientation = 6; break;
        case 180:
        case -180: orientation = 3; break;
        case 270:
        case -90: orientation = 8; break;
        default: break;
    }
}

bool ImageConverter::IsCancelled() const { return progressTarget && progressTarget->isConversionCancelled(); }

void ImageConverter::MarkFailed(ConversionFailure why, long page, std::string detail) {
    std::lock_guard lock(reportMutex_);
    if (success.exchange(0) == 0) return;  // an earlier failure holds the report
    report_.failure = why;
    report_.page = page;
    report_.detail = std::move(detail);
}

ConversionReport ImageConverter::Report() const {
    std::lock_guard lock(reportMutex_);
    ConversionReport r = report_;
    r.success = success.load();
    if (r.success) r = ConversionReport{1, ConversionFailure::None, 0, {}};
    return r;
}
