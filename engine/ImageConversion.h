#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/Bitmap.h"

// The settings of one conversion, filled by the caller and read by the engine. A value-
// initialised record (`ImageConversion record{};`) is the zeroed record the caller starts from.

// Output file types (their facts: engine/OutputTypes.h); every other code is written as JPEG.
enum OutputImageType : std::int32_t {
    kOutputPhotoshop = 1,
    kOutputGIF = 2,
    kOutputJPEG2000 = 3,
    kOutputJPEG = 4,
    kOutputOpenEXR = 5,
    kOutputICNS = 6,
    kOutputPNG = 7,
    kOutputPDF = 8,
    kOutputTGA = 9,
    kOutputTIFF = 10,
    kOutputBMP = 11,
    kOutputSGI = 12,
    kOutputTIFFCMYK = 13,
    kOutputPICT = 14,
    kOutputIllustrator = 15,
    kOutputMacPaint = 16,
    kOutputQuickTimeImage = 17,
    kOutputICO = 18,
    kOutputXBitmap = 19,
    kOutputFlashPix = 20,
    kOutputFax = 21,
    kOutputCameraRaw = 22,
    kOutputMultiPageTIFF = 23,
    kOutputWebP = 24,  // image-file path only
};

enum OutputColorModel : std::int32_t { kColorRGB = 1, kColorCMYK = 2, kColorGray = 3 };

enum PageRangeType : std::int32_t { kPageRangeAll = 0, kPageRangeSingle = 1, kPageRangeFromTo = 2 };

enum SizeFormatType : std::int32_t {
    kSizePercent = 1,
    kSizePixels = 2,
    kSizeInches = 3,
    kSizeCentimetres = 4,
    kSizeMillimetres = 5,
    kSizePoints = 6,
};

// The object that receives page reports and answers whether the run is cancelled. Reports are
// posted to the caller's main queue (platform/MainQueue.h) and never waited for. The cancel
// question is asked from the engine's page threads while another thread (the main thread)
// sets the answer: an implementation must answer from an atomic flag (std::atomic<bool>), never
// from a plain one.
class ProgressTarget {
public:
    virtual ~ProgressTarget() = default;
    virtual bool isConversionCancelled() = 0;
    virtual void UpdatePageProgressStatus(long pageNumber) { (void)pageNumber; }
};

// The report the engine performs on the target with each page number; null means none.
using ProgressSelector = void (ProgressTarget::*)(long pageNumber);

struct ProgressCallbackInfo {
    ProgressTarget* progressTarget = nullptr;
    ProgressSelector progressSelector = nullptr;
};

struct ImageConversionOptions {
    std::int64_t outputResolution = 0;
    std::int32_t reserved = 0;
    std::int32_t imageType = 0;
    std::int32_t colorModel = 0;
    double compressionQuality = 0;
    std::optional<std::string> password;  // absent, or "" when none is needed
    std::int32_t pageRangeType = 0;
    std::int64_t startPage = 0;
    std::int64_t endPage = 0;
    std::uint8_t keepMetadata = 0;
};

struct ImageResizeOptions {
    std::uint8_t keepAspectRatio = 0;
    std::uint8_t resizeToTarget = 0;
    std::uint8_t allowEnlarging = 0;
    std::uint8_t sharpen = 0;
    std::int64_t targetResolution = 0;
    double targetWidth = 0;
    double targetHeight = 0;
    std::int32_t sizeUnit = 0;
    std::int32_t fitMode = 0;
};

struct WatermarkPoint {
    double x = 0;
    double y = 0;
};

struct WatermarkSize {
    double width = 0;
    double height = 0;
};

struct WatermarkColor {
    double red = 0, green = 0, blue = 0, alpha = 0;
};

struct WatermarkOptions {
    std::optional<std::string> watermarkText;
    WatermarkPoint textPosition;
    WatermarkSize watermarkSize;
    std::optional<std::string> textFont;  // font family name
    std::int64_t fontSize = 0;
    std::int32_t textDrawingMode = 0;
    std::optional<WatermarkColor> textColor;
    std::int64_t lineWidth = 0;
    double textOpacity = 0;
    double characterSpacing = 0;
    std::int64_t textRotation = 0;
    std::int8_t shadowEnabled = 0;
    std::optional<WatermarkColor> shadowColor;
    std::int64_t shadowBlur = 0;
    std::int64_t shadowOffsetX = 0;
    std::int64_t shadowOffsetY = 0;
    WatermarkPoint textReferencePoint;
    WatermarkPoint imagePosition;
    WatermarkPoint imageReferencePoint;
    std::shared_ptr<platform::Bitmap> watermarkImage;
    double imageOpacity = 0;
    double imageScale = 0;
};

// Attributes given to written files on the image-file path; absent means none.
struct FileAttributes {
    std::optional<std::filesystem::perms> permissions;
};

struct ImageConversion {
    std::uint8_t resizeEnabled = 0;
    std::uint8_t textWatermarkEnabled = 0;
    std::uint8_t imageWatermarkEnabled = 0;
    std::uint8_t numberPagesFromRangeStart = 0;
    std::uint8_t overwriteExistingFile = 0;
    std::uint8_t returnImageInstead = 0;
    std::int64_t rotationAngle = 0;
    std::int32_t flipFlags = 0;
    ImageConversionOptions conversionOptions;
    ImageResizeOptions resizeOptions;
    WatermarkOptions watermarkOptions;
    ProgressCallbackInfo progressCallback;
    std::filesystem::path sourceURL;        // required
    std::filesystem::path outputFolderURL;  // required (see above)
    std::optional<std::string> outputBaseName;
    std::optional<FileAttributes> outputFileAttributes;
    std::shared_ptr<platform::Bitmap> outputImage;  // out
};

// The file extension of an output type, without the dot, from the "ImageExtension" resource;
// "" when the resource is missing. A code outside the resource's table is written as JPEG and
// gets JPEG's extension.
std::string ImageFileExtensionForType(std::int32_t imageType);

// A length in `unit` in points: millimetres and centimetres by their factor, every other unit
// as inches.
double LengthToPoints(std::int32_t unit, double length);

// Converts one PDF as the record says. 1 when the PDF was opened and unlocked and no page
// failed; 0 otherwise.
std::uint8_t ConvertPDFToImages(const ImageConversion* conversion);
