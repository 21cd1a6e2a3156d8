// Rendering one page: its pixel size from its boxes, rotation, the resolution and the target
// size; drawing by MuPDF straight into the output colour model; handing it to a writer.
#include <tiffio.h>

#include <climits>
#include <cmath>
#include <cstdio>

#include <jpeglib.h>

#include "OVXUtil.h"
#include "engine/ImageConverter.h"
#include "engine/OutputFile.h"
#include "platform/MainQueue.h"
#include "platform/imageio/TiffWriter.h"

namespace {

// A pixel length from a size in single precision, ties to even; nothing when it is not a
// usable length (below 1, not a number, or beyond what a bitmap may hold).
std::optional<int> PixelLength(double length) {
    const float rounded = std::nearbyintf(static_cast<float>(length));
    if (!(rounded >= 1.0f) || rounded > static_cast<float>(INT_MAX / 8)) return std::nullopt;
    return static_cast<int>(rounded);
}

}  // namespace

void ImageConverter::RenderPage(long page, std::uint8_t resizeEnabled, TIFF* tiff, long index, long count,
                                float scale, const ImageResizeOptions& resizeOptions,
                                const std::filesystem::path& url) {
    // A page after a failure does nothing; a cancel before the page starts is no failure.
    if (!Succeeded()) return;
    if (IsCancelled()) return;
    if (progressTarget && progressSelector) {
        const long number = numberPagesFromRangeStart ? page + static_cast<long>(startPage) - 1 : page;
        platform::PostToMainQueue(ReportPageProgressBlock{progressTarget, progressSelector, number});
    }

    bool failed = true;
    try {
        do {
            if (page < 1 || page > INT_MAX) break;
            const std::optional<platform::PdfPageGeometry> geometry = pdfDocument->PageGeometry(static_cast<int>(page - 1));
            if (!geometry) break;

            // The crop box, or the media box when the crop box is empty; a page with neither is
            // skipped without failing.
            platform::PdfRect box = geometry->cropBox;
            if (box.width() == 0 || box.height() == 0) {
                box = geometry->mediaBox;
                if (box.width() == 0 || box.height() == 0) {
                    failed = false;
                    break;
                }
            }
            double W = box.width(), H = box.height();
            if ((geometry->rotation / 90) % 2 != 0) std::swap(W, H);

            double s = scale;
            if (resizeEnabled) {
                const double tw = resizeOptions.targetWidth, th = resizeOptions.targetHeight;
                double f;
                if (th == 0 && tw > 0) {
                    f = tw / W;
                } else if (tw == 0 && th > 0) {
                    f = th / H;
                } else {
                    f = tw / W;
                    if (std::nearbyintf(static_cast<float>(f * H)) > th) f = th / H;
                }
                s = resizeOptions.sizeUnit == kSizePixels ? f : scale * f;
            }
            const std::optional<int> width = PixelLength(s * W);
            const std::optional<int> height = PixelLength(s * H);
            if (!width || !height) break;

            platform::ColorModel model = platform::ColorModel::RGB;
            if (imageType == kOutputTIFFCMYK || colorModel == kColorCMYK)
                model = platform::ColorModel::CMYK;
            else if (colorModel == kColorGray)
                model = platform::ColorModel::Monochrome;
            // The pixel buffer must stay below the cap: such a page fails instead of allocating.
            const std::size_t rowBytes = static_cast<std::size_t>(*width) * platform::ComponentsOf(model);
            if (rowBytes > platform::kMaxBitmapBytes / static_cast<std::size_t>(*height)) break;

            if (!Succeeded()) {
                failed = false;
                break;
            }
            if (IsCancelled()) break;

            platform::PdfDocument::RenderRequest request;
            request.pageIndex = static_cast<int>(page - 1);
            request.scale = static_cast<float>(s);
            request.width = *width;
            request.height = *height;
            request.model = model;
            const platform::Bitmap bitmap =
                pdfDocument->RenderPage(request, [this] { return !Succeeded() || IsCancelled(); });
            if (!Succeeded()) {
                failed = false;
                break;
            }
            // A drawing abandoned for a cancel, or one that MuPDF could not finish, fails.
            if (!bitmap || IsCancelled()) break;

            // Older systems' image writer could not write CMYK JPEG: there the page goes through
            // the JPEG memory codec, which needs packed rows.
            if (CompareSystemVersion(10, 7, 0) < 0 && model == platform::ColorModel::CMYK &&
                imageType == kOutputJPEG && bitmap.stride == static_cast<std::ptrdiff_t>(bitmap.width) * 4) {
                const std::optional<std::vector<std::uint8_t>> jpeg =
                    EncodeCMYKJPEG(static_cast<std::uint32_t>(bitmap.width), static_cast<std::uint32_t>(bitmap.height),
                                   bitmap.data, JCS_CMYK, 4);
                if (!jpeg) break;
                std::optional<PendingFile> file = PendingFile::Create(url);
                failed = !file || !file->Write(jpeg->data(), jpeg->size()) || !file->Commit(true);
                break;
            }
            if (imageType == kOutputMultiPageTIFF && tiff) {
                if (!WriteTIFFPage(tiff, bitmap, model, resolutionX, resolutionY, index, count, false)) break;
                ++multiPageTiffPages;
                failed = false;
                break;
            }
            failed = !WriteImage(bitmap, url);
        } while (false);
    } catch (...) {
        // Memory or a thread that could not be had: the page fails, the document goes on.
        failed = true;
    }
    if (failed) MarkFailed();
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
