// Rendering one page, in named steps: its pixel size (PagePlan), whether its format can take
// it, drawing by MuPDF straight into the output colour model, and one writer dispatch. Each
// step ends in an outcome; a page that fails clears the document's success with its reason.
#include <tiffio.h>

#include <cerrno>
#include <climits>
#include <algorithm>
#include <cstring>

#include <jpeglib.h>

#include "Common UI Code/OVXUtil.h"
#include "engine/ImageConverter.h"
#include "engine/OutputFile.h"
#include "platform/BufferPool.h"
#include "platform/MainQueue.h"
#include "platform/imageio/RowEncoder.h"
#include "platform/imageio/TiffWriter.h"

namespace {

PageOutcome FromPdfError(const platform::PdfPageError& error) {
    switch (error.kind) {
        case platform::PdfPageError::Cancelled: return PageOutcome::Cancelled();
        case platform::PdfPageError::NoResources: return PageOutcome::Failed(ConversionFailure::NoResources, error.message);
        case platform::PdfPageError::TooLarge: return PageOutcome::Failed(ConversionFailure::UnusableSize, error.message);
        case platform::PdfPageError::NoSuchPage: return PageOutcome::Failed(ConversionFailure::PageUnreadable, "no such page");
        default: return PageOutcome::Failed(ConversionFailure::PageUnreadable, error.message);
    }
}

platform::ColorModel PageModel(std::int32_t imageType, std::int32_t colorModel) {
    if (imageType == kOutputTIFFCMYK || colorModel == kColorCMYK) return platform::ColorModel::CMYK;
    if (colorModel == kColorGray) return platform::ColorModel::Monochrome;
    return platform::ColorModel::RGB;
}

}  // namespace

PageOutcome FileOutcome(int error) {
    if (error == ENOSPC || error == EDQUOT) return PageOutcome::Failed(ConversionFailure::DiskFull, std::strerror(error));
    return PageOutcome::Failed(ConversionFailure::WriterError, error ? std::strerror(error) : "");
}

void ImageConverter::RenderPage(long page, std::uint8_t resizeEnabled, TIFF* tiff, long index, long count,
                                float scale, const ImageResizeOptions& resizeOptions,
                                const std::filesystem::path& url) {
    PageOutcome outcome;
    try {
        outcome = RenderPageSteps(page, resizeEnabled, tiff, index, count, scale, resizeOptions, url);
    } catch (...) {
        // Memory or a thread that could not be had: the page fails, the document goes on.
        outcome = PageOutcome::Failed(ConversionFailure::NoResources);
    }
    FinishPage(page, std::move(outcome));
}

void ImageConverter::FinishPage(long page, PageOutcome outcome) {
    if (outcome.FailsDocument()) {
        const long number = numberPagesFromRangeStart ? page + static_cast<long>(startPage) - 1 : page;
        MarkFailed(outcome.failure, number, std::move(outcome.detail));
    }
}

void ImageConverter::ReportPageStart(long page) const {
    if (progressTarget && progressSelector) {
        const long number = numberPagesFromRangeStart ? page + static_cast<long>(startPage) - 1 : page;
        platform::PostToMainQueue(ReportPageProgressBlock{progressTarget, progressSelector, number});
    }
}

PageOutcome ImageConverter::RenderPageSteps(long page, std::uint8_t resizeEnabled, TIFF* tiff, long index,
                                            long count, float scale, const ImageResizeOptions& resizeOptions,
                                            const std::filesystem::path& url) {
    // A page after a failure does nothing; a cancel before the page starts is no failure.
    if (!Succeeded() || IsCancelled()) return PageOutcome::Skipped();
    ReportPageStart(page);
    DrawnPage drawn = DrawPageSteps(page, resizeEnabled, scale, resizeOptions);
    if (drawn.outcome.kind != PageOutcome::Kind::Written) return drawn.outcome;
    return WriteDrawnPage(drawn, tiff, index, count, url);
}

DrawnPage ImageConverter::DrawPageSteps(long page, std::uint8_t resizeEnabled, float scale,
                                        const ImageResizeOptions& resizeOptions, const std::atomic<bool>* abandon) {
    DrawnPage drawn;
    const auto end = [&drawn](PageOutcome outcome) {
        drawn.outcome = std::move(outcome);
        return std::move(drawn);
    };
    const auto stopped = [this, abandon] { return !Succeeded() || IsCancelled() || (abandon && *abandon); };
    if (page < 1 || page > INT_MAX) return end(PageOutcome::Failed(ConversionFailure::PageUnreadable, "no such page"));
    const std::optional<platform::PdfPageGeometry> geometry = pdfDocument->PageGeometry(static_cast<int>(page - 1));
    if (!geometry) return end(PageOutcome::Failed(ConversionFailure::PageUnreadable, "no such page"));

    const PageSizePlan size = PlanPageSize(*geometry, scale, resizeEnabled != 0, resizeOptions);
    if (size.kind == PageSizePlan::Kind::Skip) return end(PageOutcome::Skipped());
    if (size.kind == PageSizePlan::Kind::Fail) return end(PageOutcome::Failed(size.failure, size.detail));

    const platform::ColorModel model = PageModel(imageType, colorModel);
    drawn.plan = PlanPageWrite(size.width, size.height, platform::ComponentsOf(model), OutputFormatLimits(model),
                               platform::kMaxBitmapBytes, kBandBytes, WholePictureLimit());
    if (!drawn.plan.ok) return end(PageOutcome::Failed(drawn.plan.failure, drawn.plan.detail));

    if (!Succeeded()) return end(PageOutcome::Skipped());
    if (IsCancelled()) return end(PageOutcome::Cancelled());

    // Draw: the page loaded and recorded, stopped by a cancel or another page's failure in
    // any phase.
    platform::PdfDocument::RenderRequest request;
    request.pageIndex = static_cast<int>(page - 1);
    request.scale = static_cast<float>(size.scale);
    request.width = size.width;
    request.height = size.height;
    request.model = model;
    platform::PdfPageError error;
    drawn.drawing = pdfDocument->PreparePage(request, stopped, &error);
    if (!Succeeded()) return end(PageOutcome::Skipped());
    if (!drawn.drawing) return end(FromPdfError(error));
    // A banded page is drawn as its writer takes the bands.
    if (drawn.plan.banded) return end(PageOutcome::Written());

    // The whole picture, in a pooled buffer.
    platform::PreparedPdfPage& drawing = *drawn.drawing;
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(drawing.width()) * drawing.components();
    std::shared_ptr<std::uint8_t> samples =
        platform::AcquireBuffer(static_cast<std::size_t>(stride) * static_cast<std::size_t>(drawing.height()));
    if (!samples) return end(PageOutcome::Failed(ConversionFailure::NoResources, "no memory for the page"));
    const bool ok = drawing.DrawRows(0, drawing.height(), samples.get(), stride, &error);
    if (!Succeeded()) return end(PageOutcome::Skipped());
    if (!ok) return end(FromPdfError(error));
    if (IsCancelled()) return end(PageOutcome::Cancelled());

    platform::Bitmap& bitmap = drawn.bitmap;
    bitmap.width = drawing.width();
    bitmap.height = drawing.height();
    bitmap.model = drawing.model();
    bitmap.components = drawing.components();
    bitmap.hasAlpha = drawing.hasAlpha();
    bitmap.stride = stride;
    bitmap.data = samples.get();
    bitmap.owner = std::move(samples);
    drawn.drawing.reset();  // its context back for the next page
    return end(PageOutcome::Written());
}

PageOutcome ImageConverter::WriteDrawnPage(DrawnPage& drawn, TIFF* tiff, long index, long count,
                                           const std::filesystem::path& url) {
    if (drawn.plan.banded)
        return WritePageInBands(drawn.drawing.get(), nullptr, drawn.plan.bandRows, tiff, index, count, url);
    const platform::Bitmap& bitmap = drawn.bitmap;
    if (drawn.tiffStrips && imageType == kOutputMultiPageTIFF && tiff) {
        if (!platform::WriteCompressedTiffDirectory(tiff, bitmap, MultiPageTiffOptions(index, count), *drawn.tiffStrips))
            return PageOutcome::Failed(ConversionFailure::WriterError, "libtiff refused the page");
        ++multiPageTiffPages;
        return PageOutcome::Written();
    }
    // A large page drawn whole goes to a writer that takes rows a band at a time: its filtered
    // and compressed rows then fit in buffers of a band's size, kept from page to page, where a
    // page-sized working buffer would come fresh from the kernel (or be given back) each page.
    const std::size_t pageBytes = static_cast<std::size_t>(bitmap.stride) * static_cast<std::size_t>(bitmap.height);
    if (pageBytes > kBandBytes && OutputFormatLimits(bitmap.model).streamsRows && bitmap.stride > 0) {
        const int bandRows = static_cast<int>(std::max<std::size_t>(1, kBandBytes / static_cast<std::size_t>(bitmap.stride)));
        return WritePageInBands(nullptr, &bitmap, bandRows, tiff, index, count, url);
    }
    // Older systems' image writer could not write CMYK JPEG: there the page goes through the
    // JPEG memory codec.
    if (CompareSystemVersion(10, 7, 0) < 0 && bitmap.model == platform::ColorModel::CMYK && imageType == kOutputJPEG) {
        const std::optional<std::vector<std::uint8_t>> jpeg =
            EncodeCMYKJPEG(static_cast<std::uint32_t>(bitmap.width), static_cast<std::uint32_t>(bitmap.height),
                           bitmap.data, JCS_CMYK, 4);
        if (!jpeg) return PageOutcome::Failed(ConversionFailure::WriterError, "the JPEG codec gave no bytes");
        std::optional<PendingFile> file = PendingFile::Create(url);
        if (!file) return FileOutcome(errno);
        if (!file->Write(jpeg->data(), jpeg->size()) || !file->Commit(true)) return FileOutcome(file->error());
        return PageOutcome::Written();
    }
    if (imageType == kOutputMultiPageTIFF && tiff) {
        if (!WriteTIFFPage(tiff, bitmap, bitmap.model, resolutionX, resolutionY, index, count, false))
            return PageOutcome::Failed(ConversionFailure::WriterError, "libtiff refused the page");
        ++multiPageTiffPages;
        return PageOutcome::Written();
    }
    return WriteImageFile(bitmap, url);
}

PageOutcome ImageConverter::WritePageInBands(platform::PreparedPdfPage* drawing, const platform::Bitmap* whole,
                                             int bandRows, TIFF* tiff, long index, long count,
                                             const std::filesystem::path& url) {
    platform::Bitmap band;
    std::shared_ptr<std::uint8_t> samples;
    if (whole) {
        band = *whole;
        band.owner.reset();
    } else {
        band.width = drawing->width();
        band.height = drawing->height();  // the shape of the whole picture, for the writers
        band.model = drawing->model();
        band.components = drawing->components();
        band.hasAlpha = drawing->hasAlpha();
        band.stride = static_cast<std::ptrdiff_t>(drawing->width()) * drawing->components();
        samples = platform::AcquireBuffer(static_cast<std::size_t>(band.stride) * static_cast<std::size_t>(bandRows));
        if (!samples) return PageOutcome::Failed(ConversionFailure::NoResources, "no memory for a band of the page");
        band.data = samples.get();
    }
    const int height = band.height;

    // One writer takes the bands: the open multi-page TIFF, or a row encoder into the page's file.
    const bool multiPage = imageType == kOutputMultiPageTIFF && tiff;
    platform::TiffDirectoryWriter directory;
    std::optional<PendingFile> file;
    std::optional<platform::FileSink> sink;
    std::unique_ptr<platform::RowEncoder> encoder;
    if (multiPage) {
        if (!directory.Begin(tiff, band, MultiPageTiffOptions(index, count)))
            return PageOutcome::Failed(ConversionFailure::WriterError, "libtiff refused the page");
    } else {
        if (std::optional<PendingFile> created = PendingFile::Create(url.empty() ? destinationURL : url))
            file.emplace(std::move(*created));
        if (!file) return FileOutcome(errno);
        sink.emplace(file->descriptor());
        encoder = platform::OpenRowEncoder(CreateUTIForOutputType(), band, CreateDestinationProperties(), *sink);
        if (!encoder) return sink->error ? FileOutcome(sink->error) : PageOutcome::Failed(ConversionFailure::WriterError);
    }
    const auto writerFailed = [&]() {
        if (sink && sink->error) return FileOutcome(sink->error);
        return PageOutcome::Failed(ConversionFailure::WriterError,
                                   encoder ? encoder->message() : std::string("libtiff refused the page"));
    };

    for (int y0 = 0; y0 < height; y0 += bandRows) {
        const int y1 = std::min(height, y0 + bandRows);
        if (whole) {
            band.data = whole->data + static_cast<std::ptrdiff_t>(y0) * whole->stride;
        } else {
            platform::PdfPageError error;
            const bool drawn = drawing->DrawRows(y0, y1, samples.get(), band.stride, &error);
            if (!Succeeded()) return PageOutcome::Skipped();
            if (!drawn) return FromPdfError(error);
        }
        if (IsCancelled()) return PageOutcome::Cancelled();
        band.height = y1 - y0;
        if (!(multiPage ? directory.WriteRows(band) : encoder->WriteRows(band))) return writerFailed();
    }
    if (multiPage) {
        if (!directory.End()) return writerFailed();
        ++multiPageTiffPages;
        return PageOutcome::Written();
    }
    if (!encoder->Finish()) return writerFailed();
    // Free names are chosen before; a file at the name is replaced, and only by a complete one.
    if (!file->Commit(true, outputFileAttributes)) return FileOutcome(file->error());
    return PageOutcome::Written();
}

platform::TiffDirectoryOptions ImageConverter::MultiPageTiffOptions(long index, long count) const {
    platform::TiffDirectoryOptions options;
    options.dpiX = static_cast<float>(resolutionX);
    options.dpiY = static_cast<float>(resolutionY);
    options.compression = COMPRESSION_LZW;
    options.orientation = ORIENTATION_TOPLEFT;
    options.pageIndex = static_cast<std::uint16_t>(std::min<long>(std::max<long>(index, 0), 65535));
    options.pageCount = static_cast<std::uint16_t>(std::min<long>(std::max<long>(count, 0), 65535));
    return options;
}

void ImageConverter::CompressMultiPageTiffPage(DrawnPage& drawn, long index, long count) const {
    if (drawn.outcome.kind != PageOutcome::Kind::Written || drawn.plan.banded || !drawn.bitmap) return;
    try {
        drawn.tiffStrips = platform::CompressTiffStrips(drawn.bitmap, MultiPageTiffOptions(index, count));
    } catch (...) {
        drawn.tiffStrips.reset();  // no memory for the strips: the writer compresses the page
    }
    if (!drawn.tiffStrips) return;
    drawn.bitmap.data = nullptr;
    drawn.bitmap.owner.reset();
}

FormatLimits ImageConverter::OutputFormatLimits(platform::ColorModel model) const {
    if (imageType == kOutputMultiPageTIFF) return FormatLimits{"TIFF", 0, true};
    const platform::EncoderFacts facts = platform::FactsOfEncoder(CreateUTIForOutputType());
    // Pictures kept in memory, and the older systems' CMYK JPEG, need the whole picture.
    const bool oldCmykJpeg =
        CompareSystemVersion(10, 7, 0) < 0 && model == platform::ColorModel::CMYK && imageType == kOutputJPEG;
    const bool streams = facts.streamsRows && !returnImageInstead && !keepEncodedData && !oldCmykJpeg;
    return FormatLimits{facts.name, facts.maxSide, streams};
}

int WriteTIFFPage(TIFF* tiff, const platform::Bitmap& page, platform::ColorModel model, double resolutionX,
                  double resolutionY, long index, long count, bool alpha) {
    (void)model;  // the bitmap carries its model
    platform::TiffDirectoryOptions options;
    options.dpiX = static_cast<float>(resolutionX);
    options.dpiY = static_cast<float>(resolutionY);
    options.compression = COMPRESSION_LZW;
    options.orientation = ORIENTATION_TOPLEFT;
    options.alpha = alpha;
    options.pageIndex = static_cast<std::uint16_t>(std::min<long>(std::max<long>(index, 0), 65535));
    options.pageCount = static_cast<std::uint16_t>(std::min<long>(std::max<long>(count, 0), 65535));
    return platform::WriteTiffDirectory(tiff, page, options) ? 1 : 0;
}
