#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/ConversionReport.h"
#include "engine/ImageConversion.h"
#include "engine/OutputTypes.h"
#include "engine/PagePlan.h"
#include "engine/images/ImageRedraw.h"
#include "platform/Bitmap.h"
#include "platform/PdfDocument.h"
#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/TiffWriter.h"
#include "platform/imageio/readers/ImageSource.h"

typedef struct tiff TIFF;
class OperationQueue;

// A page taken up to its writer: a whole page drawn, or a banded one loaded and recorded.
struct DrawnPage {
    PageOutcome outcome;  // Written: ready for the writer
    PageWritePlan plan;
    std::unique_ptr<platform::PreparedPdfPage> drawing;  // a banded page, drawn as it is written
    platform::Bitmap bitmap;                             // a whole page (its shape alone once compressed)
    // A page of a multi-page TIFF compressed on its worker: the writer only copies its strips.
    std::optional<platform::CompressedTiffStrips> tiffStrips;
};

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

    // Renders one page (numbered from 1) and writes it: to `url` through the writer layer, or
    // into the open multi-page TIFF `tiff`. `index` and `count` place the page in the range;
    // `scale` is pixels per point; `resizeOptions` carry the target size as the page loop
    // prepared it. A failed page clears `success`.
    void RenderPage(long page, std::uint8_t resizeEnabled, TIFF* tiff, long index, long count, float scale,
                    const ImageResizeOptions& resizeOptions, const std::filesystem::path& url);

    // The writer layer. WriteImage writes `image` as a file at `url` (at `destinationURL` when
    // `url` is empty), or keeps it (`returnImageInstead`) or its encoded bytes
    // (`keepEncodedData`) instead. The file appears under its name only once complete.
    bool WriteImage(const platform::Bitmap& image, const std::filesystem::path& url = {});
    // WriteImage, telling why it failed.
    PageOutcome WriteImageFile(const platform::Bitmap& image, const std::filesystem::path& url = {});
    // Encodes `image` under the output type's identifier; false when the identifier is refused
    // or the encoding fails.
    bool EncodeImage(const platform::Bitmap& image, std::vector<std::uint8_t>& data);
    platform::DestinationProperties CreateDestinationProperties() const;
    // Adds the metadata of the representation being converted (image-file path), its EXIF
    // resolution made the written one.
    void CopySourceImageProperties(platform::DestinationProperties& properties) const;
    std::string CreateUTIForOutputType() const;

    // The image-file path (engine/images/). OpenSourceImage opens the source file's
    // representations; true when the file could be opened and its first representation read.
    bool OpenSourceImage(const std::filesystem::path& url);
    // A WebP file opened through an intermediate TIFF in the temporary folder, which becomes the
    // source (`sourceIsTemporary`); false, with the state left as it was, when it cannot be.
    bool OpenWebPSource(const std::filesystem::path& url);
    // Writes every representation of the source at `destinationURL` in the output type; true
    // only when every one of them was written.
    bool ConvertRepresentations();
    // The destination properties of the bitmap writer: LZW for the TIFF types, the quality for
    // JPEG 2000 and JPEG, none for the rest.
    std::optional<platform::DestinationProperties> BitmapRepProperties() const;
    // The first representation of the source.
    std::shared_ptr<const platform::ImageRepresentation> SourceBitmapRep();
    // The output type of the source file by its name, the common types only.
    std::int32_t SourceImageType() const;
    // The output type of the source file by its contents, every type.
    std::int32_t DetectSourceType() const;
    // The first representation encoded in the output type; false when nothing was encoded.
    bool EncodeSourceImage(std::vector<std::uint8_t>& data);

    // Resize and fit (engine/images/ImageResize.cpp). ResizeAndWriteImage turns the options'
    // target size (percent, pixels, points, inches, centimetres, millimetres) into pixels at the
    // target resolution or the source's own, and FitAndWriteImage chooses by the fit mode the
    // canvas and the rectangle the source is drawn in, or writes the source unchanged when nothing
    // needs redrawing; `imageType` 0 writes in the source file's type. True when the image was
    // written (or kept). Sizes, factors and resolutions that are not usable fail before anything
    // is drawn.
    bool ResizeAndWriteImage(ImageResizeOptions resizeOptions);
    bool ResizeByPercent(ImageResizeOptions resizeOptions);
    bool FitAndWriteImage(ImageResizeOptions resizeOptions, double targetWidth, double targetHeight);
    // The source's first representation: its resolution in dots per inch (72 without one), its
    // size in pixels and in points (0 without one), whether it has alpha.
    double SourceResolutionX() const;
    double SourceResolutionY() const;
    double SourcePixelsWide() const;
    double SourcePixelsHigh() const;
    double SourceWidth() const;
    double SourceHeight() const;
    bool SourceHasAlpha() const;
    void SetUseSourceResolution(std::uint8_t value);

    // The redraw (engine/images/ImageRedraw.cpp): `source` drawn into `rect` of a canvas of
    // width × height pixels (swapped by a quarter turn), turned and mirrored by `rotationAngle`
    // and `flipFlags`, in the output colour model, watermarked, sharpened when asked, at the
    // fixed or capped resolution, and written with WriteImage. False when the canvas cannot be
    // had or the write fails.
    bool RenderAndWriteImage(const platform::ImageRepresentation& source, std::uint64_t width, std::uint64_t height,
                             std::uint8_t sharpen, DrawingRect rect);

    // Watermarks (engine/images/Watermarks.cpp, WatermarkText.cpp). SetWatermarkOptions copies the text part of the
    // options (`text` set) or the image part, and switches that watermark on. The drawing
    // functions draw into a canvas of width × height pixels; a watermark that cannot be drawn is
    // skipped.
    void SetWatermarkOptions(const WatermarkOptions& options, bool text);
    void DrawImageWatermark(platform::Bitmap& canvas, std::uint64_t width, std::uint64_t height);
    void DrawTextWatermark(platform::Bitmap& canvas, std::uint64_t width, std::uint64_t height);

    // Whether the progress target asks to stop.
    bool IsCancelled() const;
    // Clears `success` for good; the first failure's reason is kept for the report.
    void MarkFailed(ConversionFailure why = ConversionFailure::WriterError, long page = 0, std::string detail = {});
    bool Succeeded() const { return success.load(std::memory_order_relaxed) != 0; }
    // The conversion's result with the reason of its first failure.
    ConversionReport Report() const;

    // The steps of a page (PageRendering.cpp): drawing it, and handing it to its writer.
    PageOutcome RenderPageSteps(long page, std::uint8_t resizeEnabled, TIFF* tiff, long index, long count,
                                float scale, const ImageResizeOptions& resizeOptions,
                                const std::filesystem::path& url);
    // Up to the writer: the page planned, loaded and recorded and, unless it goes in bands,
    // drawn. `abandon` stops it too (a page drawn ahead that is no longer wanted).
    DrawnPage DrawPageSteps(long page, std::uint8_t resizeEnabled, float scale, const ImageResizeOptions& resizeOptions,
                            const std::atomic<bool>* abandon = nullptr);
    PageOutcome WriteDrawnPage(DrawnPage& drawn, TIFF* tiff, long index, long count, const std::filesystem::path& url);
    // A whole page of a multi-page TIFF, page `index` of `count`, compressed where it was drawn
    // and its pixels let go; left as it is when it cannot be.
    void CompressMultiPageTiffPage(DrawnPage& drawn, long index, long count) const;
    platform::TiffDirectoryOptions MultiPageTiffOptions(long index, long count) const;
    // The pages of a multi-page TIFF drawn ahead on the queue's workers and written in page
    // order on this thread, which asks for a cancel between pages as a loop of one page after
    // another does.
    void ConvertMultiPageTiffAhead(long first, long count, std::uint8_t resizeEnabled,
                                   const ImageResizeOptions& resizeOptions, float scale, TIFF* tiff, OperationQueue& queue);
    // The page's start, to the progress target.
    void ReportPageStart(long page) const;
    // A failed or cancelled page fails the document, with its reason.
    void FinishPage(long page, PageOutcome outcome);
    // A page through a row writer a band at a time: drawn band by band from `drawing`, or, with
    // `whole`, taken from the rows of the page drawn whole (the writer's working memory is then
    // a band's, not a page's).
    PageOutcome WritePageInBands(platform::PreparedPdfPage* drawing, const platform::Bitmap* whole, int bandRows,
                                 TIFF* tiff, long index, long count, const std::filesystem::path& url);
    // What the output type's writer can take.
    FormatLimits OutputFormatLimits(platform::ColorModel model) const;

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
    std::shared_ptr<platform::ImageSource> sourceImage;  // image-file path, owned
    std::filesystem::path sourceURL;
    std::filesystem::path destinationURL;
    // The representation being converted (image-file path); its resolution and metadata are the
    // source's own for the writers.
    std::shared_ptr<const platform::ImageRepresentation> sourceImageRep;
    // Representation 0 as OpenSourceImage read it, so that it is not decoded twice.
    std::shared_ptr<const platform::ImageRepresentation> firstRepresentation;
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

    // Pages appended to the open multi-page TIFF during this conversion.
    long multiPageTiffPages = 0;

private:
    mutable std::mutex reportMutex_;
    ConversionReport report_;
};

// The progress report of one page, posted to the main queue and never waited for: performs
// the selector on the target with the page number as they were when it was posted.
struct ReportPageProgressBlock {
    ProgressTarget* target = nullptr;
    ProgressSelector selector = nullptr;
    long pageNumber = 0;
    void operator()() const {
        if (target && selector) (target->*selector)(pageNumber);
    }
};

// The outcome of a failed file operation, from its errno: a full disk, or a writer error with
// the system's words.
PageOutcome FileOutcome(int error);

// Appends one page to the open multi-page TIFF as a directory of its own: 8 bits per sample,
// LZW, grey (black is zero), RGB or CMYK as `model` says, the resolution in dots per inch and
// the page's place in the range. Does not close the file. 1 when libtiff wrote the directory.
int WriteTIFFPage(TIFF* tiff, const platform::Bitmap& page, platform::ColorModel model, double resolutionX,
                  double resolutionY, long index, long count, bool alpha);
