// The watermarks of the redraw: an image and a text, each placed by its box on a reference canvas
// and drawn into the canvas's own model through a layer with alpha.
#include "engine/images/Watermarks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/ImageConverter.h"
#include "engine/images/ImageColour.h"
#include "platform/WorkerBudget.h"
#include "platform/imageio/Resample.h"

namespace {

using platform::Bitmap;

// One axis of WatermarkOriginForCanvas.
double OriginAlong(double x, double x2, double W, double RW, double s) {
    const float L = static_cast<float>(std::fabs(x));
    const float C = static_cast<float>(std::fabs((x + x2) / 2 - RW / 2));
    const float E = static_cast<float>(std::fabs(RW - x2));
    if (C > L && E > L) return x * (W / RW);
    if (L > C && E > C) return W / 2 + ((x + x2) / 2 - RW / 2) * (W / RW) - ((x2 - x) / 2) * s;
    if (L > E && C > E) return W - (RW - x2) * (W / RW) - (x2 - x) * s;
    return 0;
}

bool Usable(double v) { return std::isfinite(v) && v > 0; }

}  // namespace

WatermarkPoint WatermarkOriginForCanvas(double x, double y, double x2, double y2, double W, double H, double RW,
                                        double RH, double sx, double sy) {
    return {OriginAlong(x, x2, W, RW, sx), OriginAlong(y, y2, H, RH, sy)};
}

double WatermarkScaleForCanvas(double W, double H) { return static_cast<float>(std::max(W, H)) / 550.0f; }

// Lays `layer` (the canvas's model with premultiplied alpha) over the canvas at (left, top), its
// alpha weighted by `opacity`: source over, in the canvas's own samples.
void CompositeLayer(Bitmap& canvas, const Bitmap& layer, int left, int top, double opacity) {
    const int x0 = std::max(0, left), y0 = std::max(0, top);
    const int x1 = std::min(canvas.width, left + layer.width), y1 = std::min(canvas.height, top + layer.height);
    if (x0 >= x1 || y0 >= y1 || !(opacity > 0)) return;
    const int o = static_cast<int>(std::lround(std::min(1.0, opacity) * 256));
    const int colours = canvas.colorComponents(), n = canvas.components, ln = layer.components;
    platform::ParallelFor(y1 - y0, [&](int r) {
        const int y = y0 + r;
        const std::uint8_t* l = layer.row(y - top) + static_cast<std::ptrdiff_t>(x0 - left) * ln;
        std::uint8_t* c = canvas.row(y) + static_cast<std::ptrdiff_t>(x0) * n;
        for (int x = x0; x < x1; ++x, l += ln, c += n) {
            const int a = (l[ln - 1] * o + 128) >> 8;
            if (a == 0) continue;
            for (int i = 0; i < colours; ++i) c[i] = static_cast<std::uint8_t>(((l[i] * o + 128) >> 8) + (c[i] * (255 - a) + 127) / 255);
            if (canvas.hasAlpha) c[n - 1] = static_cast<std::uint8_t>(a + (c[n - 1] * (255 - a) + 127) / 255);
        }
    });
}

void ImageConverter::SetWatermarkOptions(const WatermarkOptions& options, bool text) {
    if (text) {
        textWatermarkEnabled = 1;
        watermarkOptions.watermarkText = options.watermarkText;
        watermarkOptions.textPosition = options.textPosition;
        watermarkOptions.watermarkSize = options.watermarkSize;
        watermarkOptions.textFont = options.textFont;
        watermarkOptions.fontSize = options.fontSize;
        watermarkOptions.textDrawingMode = options.textDrawingMode;
        watermarkOptions.textColor = options.textColor;
        watermarkOptions.lineWidth = options.lineWidth;
        watermarkOptions.textOpacity = options.textOpacity;
        watermarkOptions.characterSpacing = options.characterSpacing;
        watermarkOptions.textRotation = options.textRotation;
        watermarkOptions.shadowEnabled = options.shadowEnabled;
        watermarkOptions.shadowColor = options.shadowColor;
        watermarkOptions.shadowBlur = options.shadowBlur;
        watermarkOptions.shadowOffsetX = options.shadowOffsetX;
        watermarkOptions.shadowOffsetY = options.shadowOffsetY;
        watermarkOptions.textReferencePoint = options.textReferencePoint;
    } else {
        imageWatermarkEnabled = 1;
        watermarkOptions.imagePosition = options.imagePosition;
        watermarkOptions.imageReferencePoint = options.imageReferencePoint;
        watermarkOptions.watermarkImage = options.watermarkImage;
        watermarkOptions.imageOpacity = options.imageOpacity;
        watermarkOptions.imageScale = options.imageScale;
        watermarkOptions.watermarkSize = options.watermarkSize;
    }
}

void ImageConverter::DrawImageWatermark(Bitmap& canvas, std::uint64_t width, std::uint64_t height) {
    const WatermarkOptions& o = watermarkOptions;
    const double W = static_cast<double>(width), H = static_cast<double>(height);
    // A reference canvas without a size places nothing.
    if (!o.watermarkImage || !*o.watermarkImage || !Usable(o.watermarkSize.width) || !Usable(o.watermarkSize.height))
        return;
    const double s = WatermarkScaleForCanvas(W, H);
    const WatermarkPoint origin =
        WatermarkOriginForCanvas(o.imagePosition.x, o.imagePosition.y, o.imageReferencePoint.x, o.imageReferencePoint.y,
                                 W, H, o.watermarkSize.width, o.watermarkSize.height, s, s);
    const Bitmap& mark = *o.watermarkImage;
    double pw = mark.width, ph = mark.height;
    if (pw > ph && pw > 550) {
        ph = ph / (pw / 550);
        pw = 550;
    } else if (pw <= ph && ph > 550) {
        pw = pw / (ph / 550);
        ph = 550;
    }
    const DrawingRect rect{origin.x, origin.y, pw * o.imageScale * s, ph * o.imageScale * s};
    if (!Usable(rect.width) || !Usable(rect.height) || !std::isfinite(rect.x) || !std::isfinite(rect.y)) return;
    // The layer spans the part of the canvas the picture covers, in top-down pixels.
    const double top = H - rect.y - rect.height;
    const int left = static_cast<int>(std::clamp(std::floor(rect.x), 0.0, W));
    const int upper = static_cast<int>(std::clamp(std::floor(top), 0.0, H));
    const int right = static_cast<int>(std::clamp(std::ceil(rect.x + rect.width), 0.0, W));
    const int lower = static_cast<int>(std::clamp(std::ceil(top + rect.height), 0.0, H));
    if (left >= right || upper >= lower) return;
    const Bitmap colour = ConvertToModel(mark, {}, canvas.model, true);
    Bitmap layer = Bitmap::Allocate(right - left, lower - upper, canvas.model, true);
    if (!colour || !layer) return;
    std::memset(layer.data, 0, static_cast<std::size_t>(layer.stride) * layer.height);
    if (!platform::DrawScaled(colour, layer, {rect.x - left, top - upper, rect.width, rect.height})) return;
    CompositeLayer(canvas, layer, left, upper, o.imageOpacity);
}

