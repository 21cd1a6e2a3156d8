#include "engine/PagePlan.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <optional>
#include <utility>

namespace {

// A pixel length from a size in single precision, ties to even; nothing when it is not a
// usable length (below 1, not a number, or beyond what a bitmap may address).
std::optional<int> PixelLength(double length) {
    const float rounded = std::nearbyintf(static_cast<float>(length));
    if (!(rounded >= 1.0f) || rounded > static_cast<float>(INT_MAX / 8)) return std::nullopt;
    return static_cast<int>(rounded);
}

std::string Size(long long width, long long height) { return std::to_string(width) + " x " + std::to_string(height) + " pixels"; }

}  // namespace

PageSizePlan PlanPageSize(const platform::PdfPageGeometry& geometry, float scale, bool resize,
                          const ImageResizeOptions& target) {
    PageSizePlan plan;
    platform::PdfRect box = geometry.cropBox;
    if (box.width() == 0 || box.height() == 0) {
        box = geometry.mediaBox;
        if (box.width() == 0 || box.height() == 0) {
            plan.kind = PageSizePlan::Kind::Skip;
            return plan;
        }
    }
    const double unit = geometry.userUnit;
    double W = box.width() * unit, H = box.height() * unit;
    if ((geometry.rotation / 90) % 2 != 0) std::swap(W, H);

    double s = scale;
    if (resize) {
        const double tw = target.targetWidth, th = target.targetHeight;
        double f;
        if (th == 0 && tw > 0) {
            f = tw / W;
        } else if (tw == 0 && th > 0) {
            f = th / H;
        } else {
            f = tw / W;
            if (std::nearbyintf(static_cast<float>(f * H)) > th) f = th / H;
        }
        s = target.sizeUnit == kSizePixels ? f : scale * f;
    }
    const std::optional<int> width = PixelLength(s * W);
    const std::optional<int> height = PixelLength(s * H);
    if (!width || !height) {
        plan.failure = ConversionFailure::UnusableSize;
        plan.detail = std::to_string(s * W) + " x " + std::to_string(s * H) + " pixels";
        return plan;
    }
    plan.kind = PageSizePlan::Kind::Draw;
    plan.width = *width;
    plan.height = *height;
    plan.scale = s;
    return plan;
}

namespace {
std::atomic<std::size_t> wholePictureLimit{kWholePictureBytes};
}  // namespace

std::size_t WholePictureLimit() { return wholePictureLimit.load(std::memory_order_relaxed); }

void SetWholePictureLimit(std::size_t bytes) {
    wholePictureLimit.store(bytes ? bytes : kWholePictureBytes, std::memory_order_relaxed);
}

PageWritePlan PlanPageWrite(int width, int height, int bytesPerPixel, const FormatLimits& format,
                            std::size_t maxPictureBytes, std::size_t bandBytes, std::size_t wholeBytes) {
    PageWritePlan plan;
    if (format.maxSide > 0 && (width > format.maxSide || height > format.maxSide)) {
        plan.failure = ConversionFailure::TooLargeForFormat;
        plan.detail = Size(width, height) + "; " + format.name + " holds at most " + std::to_string(format.maxSide) +
                      " pixels a side";
        return plan;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel);
    const bool fitsWhole = rowBytes <= maxPictureBytes / static_cast<std::size_t>(height);
    const bool small = fitsWhole && rowBytes * static_cast<std::size_t>(height) <= wholeBytes;
    if (format.streamsRows && !small && rowBytes <= maxPictureBytes) {
        plan.ok = true;
        plan.banded = true;
        plan.bandRows = static_cast<int>(std::max<std::size_t>(1, std::min<std::size_t>(bandBytes / rowBytes, height)));
        return plan;
    }
    if (!fitsWhole) {
        plan.failure = ConversionFailure::PageTooLarge;
        plan.detail = Size(width, height) + "; " + format.name + " needs the whole picture in memory, at most " +
                      std::to_string(maxPictureBytes >> 20) + " MB";
        return plan;
    }
    plan.ok = true;
    return plan;
}
