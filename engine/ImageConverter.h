#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ImageConversion.h"
#include "platform/Bitmap.h"
#include "platform/PdfDocument.h"
#include "platform/imageio/ImageDestination.h"

typedef struct tiff TIFF;

// The per-document converter: the settings copied from the record, the open document, the
// output state and one success flag. It lives for one entry call and is never shared between
// documents; its page workers only read it, except that they clear `success`.
class ImageConverter {
public:
    ImageConverter();
    ~ImageConverter();
    ImageConverter(const ImageConverter&) = delete;
    ImageConverter& operator=(const ImageConverter&) = delete;

    // Opening and unlocking.
    void SetPassword(const std::optional<std::string>& password);
    bool OpenPDFDocument(const std::filesystem::path& url);
    bool IsDocumentEncrypted() const;
    bool UnlockDocument();
    bool IsDocumentLocked();

    // Settings.
    void SetNamingOptions(const std::optional<std::string>& baseName, std::uint8_t numberFromRangeStart,
                          std::uint8_t overwrite);
    void SetPageRange(std::int64_t firstPage, std::int64_t lastPage, std::int32_t rangeType);
    void SetProgressCallback(ProgressTarget* target, ProgressSelector selector);
    void SetOutputOptions(std::int32_t type, const std::filesystem::path& destination, double quality);
    void SetResolution(std::int64_t resolutionYValue, std::int64_t resolutionXValue);
    void SetColorModel(std::int32_t model);
    void SetQuality(double value);
    void SetImageType(std::int32_t type);
    void SetDestinationURL(const std::filesystem::path& url);
    void SetOrientation(std::int32_t value);
    void SetOrientationFromAngle(std::int64_t angle);

    // The page loop: converts the range and returns `success`.
    std::uint8_t ConvertPages(std::uint8_t resizeEnabled, ImageResizeOptions resizeOptions);

    // Encodes a rendered page's packed samples (CMYK: 0 = no ink) as JPEG bytes at `quality` and
    // the converter's resolution; nothing when the codec produced no bytes. Keeps nothing here,
    // so pages may encode in parallel.
    std::optional<std::vector<std::uint8_t>> EncodeCMYKJPEG(std::uint32_t width, std::uint32_t height,
                                                            const std::uint8_t* samples, std::int32_t colorSpace,
                                                            std::int32_t components) const;

    // Whether the progress target asks to stop.
    bool IsCancelled() const;
    // Clears `success` for good.
    void MarkFailed() { success.store(0, std::memory_order_relaxed); }
    bool Succeeded() const { return success.load(std::memory_order_relaxed) != 0; }

    // Fields, in the order of the original record.
    float quality = 0;
    std::int32_t imageType = 0;
    std::int32_t orientation = 0;
    std::int32_t colorModel = 0;
    float resolutionX = 0;
    float resolutionY = 0;
    float fixedResolution = 0;
    double maxOutputWidth = 0;
    double maxOutputHeight = 0;
    std::int64_t startPage = 0;
    std::int64_t endPage = 0;
    std::int32_t pageRangeType = 0;
    std::shared_ptr<platform::Bitmap> sourceImage;  // image-file path, owned
    std::filesystem::path sourceURL;
    std::filesystem::path destinationURL;
    std::optional<std::string> password;
    std::optional<std::string> outputBaseName;
    std::uint8_t numberPagesFromRangeStart = 0;
    std::uint8_t overwriteExistingFile = 0;
    std::uint8_t useSourceResolution = 0;
    ProgressTarget* progressTarget = nullptr;
    ProgressSelector progressSelector = nullptr;
    std::uint8_t textWatermarkEnabled = 0;
    std::uint8_t keepMetadata = 0;
    std::uint8_t keepEncodedData = 0;
    std::uint8_t imageWatermarkEnabled = 0;
    std::uint8_t sourceIsTemporary = 0;
    std::uint8_t returnImageInstead = 0;
    std::atomic<std::uint8_t> success{1};
    std::int64_t rotationAngle = 0;
    std::int32_t flipFlags = 0;
    WatermarkOptions watermarkOptions;
    std::vector<std::uint8_t> encodedData;
    std::optional<FileAttributes> outputFileAttributes;
    std::shared_ptr<platform::Bitmap> outputImage;
    std::unique_ptr<platform::PdfDocument> pdfDocument;
};
