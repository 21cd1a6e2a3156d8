// Resize and fit: the target size of a conversion in pixels and the output resolution, the canvas
// and drawing rectangle each fit mode gives, handed to the redraw.
#include <cmath>
#include <limits>
#include <optional>

#include "engine/ImageConverter.h"
#include "engine/images/ImageFileConversion.h"
#include "engine/images/ImageRedraw.h"

namespace {

// The largest value a pixel count or offset is made from; beyond it the size is refused before
// anything is converted to an integer.
constexpr double kLargestCount = 1u << 30;

// v in single precision, rounded to the nearest integer (halves to even).
std::optional<std::int64_t> Nearest(double v) {
    const float f = static_cast<float>(v);
    if (!std::isfinite(f) || std::fabs(f) > kLargestCount) return std::nullopt;
    return static_cast<std::int64_t>(std::nearbyintf(f));
}

// A pixel count made from a non-negative size: truncated.
std::optional<std::uint64_t> Truncated(double v) {
    if (!(v >= 0) || v > kLargestCount) return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

std::optional<std::uint64_t> Count(std::optional<std::int64_t> v) {
    if (!v || *v < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*v);
}

bool UsableSize(double v) { return std::isfinite(v) && v >= 0; }

}  // namespace

double LengthToInches(std::int32_t unit, double length) {
    if (unit == kSizeMillimetres) return length * 0.03937007859349251;
    if (unit == kSizeCentimetres) return length * 0.3937007784843445;
    return length / 72;
}

double ImageConverter::SourcePixelsWide() const { return sourceImageRep ? sourceImageRep->pixelsWide() : 0; }
double ImageConverter::SourcePixelsHigh() const { return sourceImageRep ? sourceImageRep->pixelsHigh() : 0; }
double ImageConverter::SourceWidth() const { return sourceImageRep ? sourceImageRep->widthInPoints() : 0; }
double ImageConverter::SourceHeight() const { return sourceImageRep ? sourceImageRep->heightInPoints() : 0; }
bool ImageConverter::SourceHasAlpha() const { return sourceImageRep && sourceImageRep->hasAlpha; }

double ImageConverter::SourceResolutionX() const {
    const double points = SourceWidth();
    return sourceImageRep && points > 0 ? SourcePixelsWide() / points * 72 : 72;
}

double ImageConverter::SourceResolutionY() const {
    const double points = SourceHeight();
    return sourceImageRep && points > 0 ? SourcePixelsHigh() / points * 72 : 72;
}

void ImageConverter::SetUseSourceResolution(std::uint8_t value) { useSourceResolution = value; }

bool ImageConverter::ResizeAndWriteImage(ImageResizeOptions options) {
    if (!sourceImageRep) sourceImageRep = SourceBitmapRep();
    if (options.sizeUnit == kSizePercent) return ResizeByPercent(options);
    double width = options.targetWidth, height = options.targetHeight;
    if (!UsableSize(width) || !UsableSize(height)) return false;
    if (options.sizeUnit != kSizePixels && options.sizeUnit != kSizePoints) {
        width = LengthToPoints(options.sizeUnit, width);
        height = LengthToPoints(options.sizeUnit, height);
    }
    if (options.targetResolution > 0) {
        resolutionX = resolutionY = static_cast<float>(options.targetResolution);
    } else {
        resolutionX = static_cast<float>(SourceResolutionX());
        resolutionY = static_cast<float>(SourceResolutionY());
    }
    if (options.sizeUnit != kSizePixels) {
        width *= resolutionX / 72.0f;
        height *= resolutionY / 72.0f;
    }
    return FitAndWriteImage(options, width, height);
}

bool ImageConverter::ResizeByPercent(ImageResizeOptions options) {
    if (!sourceImageRep) sourceImageRep = SourceBitmapRep();
    return FitAndWriteImage(options, options.targetWidth / 100 * SourcePixelsWide(),
                            options.targetHeight / 100 * SourcePixelsHigh());
}

bool ImageConverter::FitAndWriteImage(ImageResizeOptions options, double tw, double th) {
    if (!sourceImageRep) sourceImageRep = SourceBitmapRep();
    const std::shared_ptr<const platform::ImageRepresentation> rep = sourceImageRep;
    if (!rep || !rep->bitmap) return false;
    const double sw = SourcePixelsWide(), sh = SourcePixelsHigh();
    if (!(sw > 0) || !(sh > 0) || !UsableSize(tw) || !UsableSize(th)) return false;
    const double fx = tw / sw, fy = th / sh;
    const std::optional<std::int64_t> heightAtWidthFactor = Nearest(sh * fx);
    if (!heightAtWidthFactor) return false;
    const double R = static_cast<double>(*heightAtWidthFactor);

    if (options.resizeToTarget != 1) {
        // The pixels stay; the target size becomes the resolution, in the ratio the two had.
        // Without a target size the resolutions stay as they are.
        if (tw > 0 || th > 0) {
            const bool byHeight = tw == 0;
            const float r = static_cast<float>(byHeight ? sh / (th / 72) : sw / (tw / 72));
            float& along = byHeight ? resolutionY : resolutionX;
            float& other = byHeight ? resolutionX : resolutionY;
            // With no resolution before (or none usable), the other axis takes the new one too.
            other = along > 0 && other > 0 && std::isfinite(along) && std::isfinite(other) ? r / along * other : r;
            along = r;
        }
        const bool turns = QuarterTurnsOfAngle(rotationAngle) != 0 || flipFlags != 0;
        if (!textWatermarkEnabled && !imageWatermarkEnabled && imageType != kOutputTIFFCMYK && colorModel == 0 &&
            !turns) {
            if (imageType == 0) imageType = ImageTypeOfURL(sourceURL);
            return WriteImage(rep->bitmap);
        }
        return RenderAndWriteImage(*rep, static_cast<std::uint64_t>(sw), static_cast<std::uint64_t>(sh), 0,
                                   {0, 0, sw, sh});
    }

    std::uint64_t canvasWidth = 0, canvasHeight = 0;
    DrawingRect rect;
    if (!options.keepAspectRatio) {
        if (options.fitMode == 3) {
            // The centre part at the source's own scale.
            const std::optional<std::uint64_t> W = Truncated(std::min(sw, tw)), H = Truncated(std::min(sh, th));
            if (!W || !H) return false;
            const std::optional<std::int64_t> x = Nearest((sw - static_cast<double>(*W)) * 0.5);
            const std::optional<std::int64_t> y = Nearest((sh - static_cast<double>(*H)) * 0.5);
            if (!x || !y) return false;
            canvasWidth = *W;
            canvasHeight = *H;
            rect = {-static_cast<double>(*x), -static_cast<double>(*y), sw, sh};
        } else {
            if ((tw > sw || th > sh) && !options.allowEnlarging) {
                canvasWidth = static_cast<std::uint64_t>(sw);
                canvasHeight = static_cast<std::uint64_t>(sh);
            } else {
                const std::optional<std::uint64_t> W = Truncated(tw), H = Truncated(th);
                if (!W || !H) return false;
                canvasWidth = *W;
                canvasHeight = *H;
            }
            rect = {0, 0, static_cast<double>(canvasWidth), static_cast<double>(canvasHeight)};
        }
    } else {
        double f = 0;
        switch (options.fitMode) {
            case 2: f = R > th ? fy : fx; break;                 // inside the target
            case 5: case 6: f = th > R ? fy : fx; break;         // covering it
            default: f = tw > 0 && th == 0 ? fx : tw == 0 && th > 0 ? fy : 0; break;
        }
        const std::optional<std::uint64_t> W = Count(Nearest(sw * f)), H = Count(Nearest(f * sh));
        if (!W || !H) return false;
        const double Wd = static_cast<double>(*W), Hd = static_cast<double>(*H);
        if (!options.allowEnlarging && (Wd > sw || Hd > sh)) {
            canvasWidth = static_cast<std::uint64_t>(sw);
            canvasHeight = static_cast<std::uint64_t>(sh);
            rect = {0, 0, sw, sh};
        } else if (options.fitMode == 6) {
            // The scaled picture centred, its overflow cut off equally on both sides.
            const std::optional<std::uint64_t> cw = Wd > tw ? Truncated(tw) : W, ch = Hd > th ? Truncated(th) : H;
            const std::optional<std::int64_t> x = Wd > tw ? Nearest((Wd - tw) * 0.5) : std::optional<std::int64_t>(0);
            const std::optional<std::int64_t> y = Hd > th ? Nearest((Hd - th) * 0.5) : std::optional<std::int64_t>(0);
            if (!cw || !ch || !x || !y) return false;
            canvasWidth = *cw;
            canvasHeight = *ch;
            rect = {-static_cast<double>(*x), -static_cast<double>(*y), Wd, Hd};
        } else if (options.fitMode == 3) {
            const std::optional<std::int64_t> x = Nearest((sw - Wd) * 0.5), y = Nearest((sh - Hd) * 0.5);
            if (!x || !y) return false;
            canvasWidth = *W;
            canvasHeight = *H;
            rect = {-static_cast<double>(*x), -static_cast<double>(*y), sw, sh};
        } else {
            canvasWidth = *W;
            canvasHeight = *H;
            rect = {0, 0, Wd, Hd};
        }
    }
    return RenderAndWriteImage(*rep, canvasWidth, canvasHeight, options.sharpen, rect);
}
