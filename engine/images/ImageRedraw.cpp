// The redraw of the image-file path: the source drawn into a canvas of the chosen size, turned
// and mirrored, in the output colour model, watermarked, sharpened and written.
#include "engine/images/ImageRedraw.h"

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "Common UI Code/OVXUtil.h"
#include "engine/ImageConverter.h"
#include "engine/OutputFile.h"
#include "engine/images/ImageColour.h"
#include "engine/images/ImageFileConversion.h"
#include "platform/WorkerBudget.h"
#include "platform/imageio/Resample.h"

namespace {

using platform::Bitmap;
using platform::ColorModel;

// The transforms that take the canvas's drawing space to itself turned or mirrored.
constexpr AffineTransform Matrix(int index, double w, double h) {
    switch (index) {
        case 1: return {-1, 0, 0, 1, w, 0};
        case 2: return {-1, 0, 0, -1, w, h};
        case 3: return {1, 0, 0, -1, 0, h};
        case 4: return {0, -1, -1, 0, h, w};
        case 5: return {0, -1, 1, 0, 0, w};
        case 6: return {0, 1, 1, 0, 0, 0};
        case 7: return {0, 1, -1, 0, h, 0};
        default: return {};
    }
}

bool Swaps(const AffineTransform& t) { return t.a == 0; }

// The drawing space's pixel (top-down) that each canvas pixel shows, for a transform of the
// eight: the inverse transform at pixel centres, in whole steps.
platform::AxisPermutation PermutationOf(const AffineTransform& t, int drawnHeight, int canvasHeight) {
    const double det = t.a * t.d - t.b * t.c;
    auto source = [&](int i, int j, int& x, int& y) {
        const double qx = i + 0.5 - t.tx, qy = canvasHeight - j - 0.5 - t.ty;
        const double px = (t.d * qx - t.c * qy) / det, py = (-t.b * qx + t.a * qy) / det;
        x = static_cast<int>(std::lround(px - 0.5));
        y = static_cast<int>(std::lround(drawnHeight - py - 0.5));
    };
    platform::AxisPermutation m;
    int x1, y1, x2, y2;
    source(0, 0, m.x0, m.y0);
    source(1, 0, x1, y1);
    source(0, 1, x2, y2);
    m.xi = x1 - m.x0;
    m.yi = y1 - m.y0;
    m.xj = x2 - m.x0;
    m.yj = y2 - m.y0;
    return m;
}

// The rectangle in top-down pixels of a drawing space `height` pixels high.
platform::PixelRect TopDown(const DrawingRect& rect, double height) {
    return {rect.x, height - rect.y - rect.height, rect.width, rect.height};
}

// Whether the rectangle reaches every pixel centre of a width × height space.
bool Covers(const DrawingRect& r, double width, double height) {
    return r.x <= 0.5 && r.x + r.width > width - 0.5 && r.y <= 0.5 && r.y + r.height > height - 0.5;
}

Bitmap Zeroed(int width, int height, ColorModel model, bool alpha) {
    Bitmap b = Bitmap::Allocate(width, height, model, alpha);
    if (b) std::memset(b.data, 0, static_cast<std::size_t>(b.stride) * b.height);
    return b;
}

// `image` drawn into `rect` of a width × height drawing space and shown through `transform` on
// the canvas (its size swapped by a quarter turn). The picture itself when it is drawn at its own
// size, unturned; an empty bitmap when memory or a rectangle fails.
Bitmap DrawTransformed(const Bitmap& image, int width, int height, const AffineTransform& transform,
                       const DrawingRect& rect) {
    Bitmap drawn;
    if (image.width == width && image.height == height && rect == DrawingRect{0, 0, double(width), double(height)}) {
        drawn = image;
    } else {
        drawn = Covers(rect, width, height) ? Bitmap::Allocate(width, height, image.model, image.hasAlpha)
                                            : Zeroed(width, height, image.model, image.hasAlpha);
        // A rectangle that reaches no pixel draws nothing: the canvas stays as it is.
        if (drawn) platform::DrawScaled(image, drawn, TopDown(rect, height));
    }
    if (!drawn || transform == AffineTransform{}) return drawn;
    const int cw = Swaps(transform) ? height : width, ch = Swaps(transform) ? width : height;
    Bitmap canvas = Bitmap::Allocate(cw, ch, image.model, image.hasAlpha);
    if (!canvas || !platform::PermutePixels(drawn, canvas, PermutationOf(transform, height, ch))) return {};
    return canvas;
}

// A bitmap of its own memory, packed, when `image` shares the source's.
Bitmap OwnedCopy(const Bitmap& image, const Bitmap& source) {
    if (image.data != source.data && image.stride == static_cast<std::ptrdiff_t>(image.width) * image.components)
        return image;
    Bitmap copy = Bitmap::Allocate(image.width, image.height, image.model, image.hasAlpha);
    if (!copy) return copy;
    const std::size_t bytes = static_cast<std::size_t>(image.width) * image.components;
    for (int y = 0; y < image.height; ++y) std::memcpy(copy.row(y), image.row(y), bytes);
    return copy;
}

// The colour samples of `colour` with the grey `alpha` as their alpha: premultiplied colour as the
// canvas holds it (drawn over no ink) and the mask that says how much of it is there.
Bitmap WithAlpha(const Bitmap& colour, const Bitmap& alpha) {
    Bitmap out = Bitmap::Allocate(colour.width, colour.height, colour.model, true);
    if (!out || alpha.width != colour.width || alpha.height != colour.height) return {};
    const int n = colour.components;
    platform::ParallelFor(colour.height, [&](int y) {
        const std::uint8_t* c = colour.row(y);
        const std::uint8_t* a = alpha.row(y);
        std::uint8_t* o = out.row(y);
        for (int x = 0; x < colour.width; ++x, c += n, o += n + 1) {
            for (int i = 0; i < n; ++i) o[i] = std::min(c[i], a[x]);
            o[n] = a[x];
        }
    });
    return out;
}

}  // namespace

int QuarterTurnsOfAngle(std::int64_t angle) {
    const std::int64_t degrees = ((angle % 360) + 360) % 360;
    return degrees % 90 == 0 ? static_cast<int>(degrees / 90) : 0;
}

AffineTransform OrientationTransformForImage(std::uint64_t width, std::uint64_t height, std::int32_t flipFlags,
                                             std::int64_t angle) {
    const double w = static_cast<float>(width), h = static_cast<float>(height);
    int quarters = QuarterTurnsOfAngle(angle);
    int flip = flipFlags;
    if (flip == 3) {  // both mirrors are a half turn
        quarters = (quarters + 2) % 4;
        flip = 0;
    }
    if (flip != 1 && flip != 2) flip = 0;
    // Rows: no turn, a quarter, a half, three quarters; columns: no flip, left-right, top-bottom.
    static constexpr int kTable[4][3] = {{0, 1, 3}, {7, 6, 4}, {2, 3, 1}, {5, 4, 6}};
    return Matrix(kTable[quarters][flip], w, h);
}

bool CanvasFits(std::uint64_t width, std::uint64_t height, int components) {
    if (width == 0 || height == 0 || components < 1) return false;
    constexpr std::uint64_t kSide = static_cast<std::uint64_t>(std::numeric_limits<int>::max());
    if (width > kSide || height > kSide) return false;
    const std::uint64_t row = width * static_cast<std::uint64_t>(components);  // < 2^34
    return row <= platform::kMaxBitmapBytes / height;
}

Bitmap CreateAlphaMaskForImage(const Bitmap& image, std::uint64_t width, std::uint64_t height,
                               const AffineTransform& transform, const DrawingRect& rect) {
    if (!image || !CanvasFits(width, height, 1)) return {};
    Bitmap alpha = Bitmap::Allocate(image.width, image.height, ColorModel::Monochrome, false);
    if (!alpha) return {};
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* in = image.row(y);
        std::uint8_t* out = alpha.row(y);
        if (!image.hasAlpha) {
            std::memset(out, 255, static_cast<std::size_t>(image.width));
            continue;
        }
        for (int x = 0; x < image.width; ++x) out[x] = in[x * image.components + image.components - 1];
    }
    // The drawing space is the canvas before the transform's quarter turn.
    const bool swap = Swaps(transform);
    return DrawTransformed(alpha, static_cast<int>(swap ? height : width), static_cast<int>(swap ? width : height),
                           transform, rect);
}

bool ImageConverter::RenderAndWriteImage(const platform::ImageRepresentation& source, std::uint64_t width,
                                         std::uint64_t height, std::uint8_t sharpen, DrawingRect rect) {
    const Bitmap& image = source.bitmap;
    if (!image) return false;
    const bool sourceAlpha = image.hasAlpha;

    // Canvas size: a quarter turn swaps it and the resolutions. An angle that is not a multiple
    // of 90 turns nothing and swaps nothing.
    const bool swapped = QuarterTurnsOfAngle(rotationAngle) % 2 == 1;
    const std::uint64_t canvasWidth = swapped ? height : width, canvasHeight = swapped ? width : height;
    if (swapped) std::swap(resolutionX, resolutionY);

    // The canvas's colour model.
    ColorModel model = image.model;
    if (imageType == kOutputTIFFCMYK) {
        model = ColorModel::CMYK;
    } else {
        switch (colorModel) {
            case kColorRGB: model = ColorModel::RGB; break;
            case kColorGray: model = ColorModel::Monochrome; break;
            case kColorCMYK: model = ColorModel::CMYK; break;
            default:
                if (source.colorKind == platform::SourceColorKind::Indexed) {
                    colorModel = kColorRGB;
                    model = ColorModel::RGB;
                }
                break;
        }
    }
    if (imageType == 0) imageType = ImageTypeOfURL(sourceURL);
    // CMYK keeps an alpha only where the type holds it; elsewhere such a source goes to RGB.
    bool mask = false;
    if (sourceAlpha && model == ColorModel::CMYK) {
        if (imageType == kOutputTIFF || imageType == kOutputTIFFCMYK) {
            mask = true;
        } else {
            colorModel = kColorRGB;
            model = ColorModel::RGB;
        }
    }
    // RGB canvases carry alpha (left transparent where nothing is drawn); grey and CMYK none.
    const bool covered = Covers(rect, static_cast<double>(width), static_cast<double>(height));
    const bool drawAlpha = model == ColorModel::RGB && (sourceAlpha || !covered);
    const int components = platform::ComponentsOf(model) + (drawAlpha || mask ? 1 : 0);
    if (!CanvasFits(canvasWidth, canvasHeight, components)) return false;
    const int w = static_cast<int>(width), h = static_cast<int>(height);

    const AffineTransform transform = OrientationTransformForImage(width, height, flipFlags, rotationAngle);
    static const std::vector<std::uint8_t> kNoProfile;
    const std::vector<std::uint8_t>& icc = source.metadata ? source.metadata->icc : kNoProfile;
    // Colours are converted on the smaller side of the resampling.
    const bool convert = image.model != model || sourceAlpha != drawAlpha;
    const bool shrinking = rect.width * rect.height < static_cast<double>(image.width) * image.height;
    const bool convertAfter = convert && shrinking && sourceAlpha == drawAlpha;
    Bitmap prepared = convert && !convertAfter ? ConvertToModel(image, icc, model, drawAlpha) : image;
    if (!prepared) return false;
    Bitmap canvas = DrawTransformed(prepared, w, h, transform, rect);
    if (!canvas) return false;
    if (convertAfter) canvas = ConvertToModel(canvas, icc, model, drawAlpha);
    if (!canvas) return false;
    if (mask) {
        const Bitmap alpha = CreateAlphaMaskForImage(image, canvasWidth, canvasHeight, transform, rect);
        canvas = alpha ? WithAlpha(canvas, alpha) : Bitmap{};
        if (!canvas) return false;
    }
    if (imageWatermarkEnabled || textWatermarkEnabled || sharpen) canvas = OwnedCopy(canvas, image);
    if (!canvas) return false;
    if (imageWatermarkEnabled) DrawImageWatermark(canvas, canvasWidth, canvasHeight);
    if (textWatermarkEnabled) DrawTextWatermark(canvas, canvasWidth, canvasHeight);

    // The resolution: fixed, or raised so that the picture fits the largest size in points.
    if (fixedResolution > 0) {
        resolutionX = resolutionY = fixedResolution;
    } else if (maxOutputWidth > 0 && maxOutputHeight > 0) {
        const double a = static_cast<double>(orientation < 5 ? canvasWidth : canvasHeight);
        const double b = static_cast<double>(orientation < 5 ? canvasHeight : canvasWidth);
        if (a > maxOutputWidth || b > maxOutputHeight)
            resolutionX = resolutionY = static_cast<float>(72 * std::max(a / maxOutputWidth, b / maxOutputHeight));
    }
    if (sharpen) SharpenLuminance(canvas, 0.25f);

    // Older systems' image writer could not write CMYK JPEG: the JPEG memory codec does.
    if (CompareSystemVersion(10, 7, 0) < 0 && model == ColorModel::CMYK && imageType == kOutputJPEG &&
        !returnImageInstead) {
        const Bitmap packed = OwnedCopy(canvas, image);
        if (!packed) return false;
        std::optional<std::vector<std::uint8_t>> jpeg =
            EncodeCMYKJPEG(static_cast<std::uint32_t>(packed.width), static_cast<std::uint32_t>(packed.height),
                           packed.data, JCS_CMYK, 4);
        if (!jpeg || jpeg->empty()) return false;
        encodedData = std::move(*jpeg);
        if (keepEncodedData) return true;
        std::optional<PendingFile> file = PendingFile::Create(destinationURL);
        return file && file->Write(encodedData.data(), encodedData.size()) && file->Commit(true, outputFileAttributes);
    }
    return WriteImage(canvas);
}
