// The text watermark: shaped and rasterised by the platform's text drawing, its fill, stroke and
// shadow painted into a layer of the canvas's model that is laid over the canvas.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/ImageConverter.h"
#include "engine/images/ImageColour.h"
#include "engine/images/Watermarks.h"
#include "platform/imageio/TextRaster.h"

namespace {

using platform::Bitmap;

// A colour in the canvas's model (its samples, straight) and its alpha, by the device formulas.
struct CanvasColour {
    std::uint8_t samples[4] = {0, 0, 0, 0};
    double alpha = 1;
};

CanvasColour ColourFor(const std::optional<WatermarkColor>& colour, platform::ColorModel model) {
    CanvasColour out;
    Bitmap rgb = Bitmap::Allocate(1, 1, platform::ColorModel::RGB, false);
    if (!rgb) return out;
    const WatermarkColor c = colour.value_or(WatermarkColor{0, 0, 0, 1});  // black when none is given
    auto sample = [](double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    rgb.data[0] = sample(c.red);
    rgb.data[1] = sample(c.green);
    rgb.data[2] = sample(c.blue);
    const Bitmap converted = ConvertToModel(rgb, {}, model, false);
    if (converted) std::memcpy(out.samples, converted.data, static_cast<std::size_t>(converted.components));
    out.alpha = std::clamp(std::isfinite(c.alpha) ? c.alpha : 1.0, 0.0, 1.0);
    return out;
}

// Paints `colour` through a coverage mask over the layer (premultiplied, source over).
void Paint(Bitmap& layer, const std::vector<std::uint8_t>& mask, const CanvasColour& colour) {
    const int n = layer.components, colours = layer.colorComponents();
    const int weight = static_cast<int>(std::lround(colour.alpha * 255));
    for (int y = 0; y < layer.height; ++y) {
        std::uint8_t* px = layer.row(y);
        const std::uint8_t* m = mask.data() + static_cast<std::size_t>(y) * layer.width;
        for (int x = 0; x < layer.width; ++x, px += n) {
            const int a = (m[x] * weight + 127) / 255;
            if (a == 0) continue;
            for (int i = 0; i < colours; ++i) px[i] = static_cast<std::uint8_t>((colour.samples[i] * a + px[i] * (255 - a) + 127) / 255);
            px[n - 1] = static_cast<std::uint8_t>(a + (px[n - 1] * (255 - a) + 127) / 255);
        }
    }
}

// Three box blurs along each axis, close to a Gaussian of `sigma` pixels.
void Blur(std::vector<std::uint8_t>& mask, int width, int height, double sigma) {
    if (!(sigma > 0.3)) return;
    const int r = std::max(1, static_cast<int>(std::lround((std::sqrt(1 + 4 * sigma * sigma) - 1) / 2)));
    std::vector<std::uint8_t> line(static_cast<std::size_t>(std::max(width, height)));
    auto pass = [&](std::uint8_t* first, int count, std::ptrdiff_t step) {
        for (int k = 0; k < count; ++k) line[k] = first[k * step];
        int sum = 0;
        for (int k = -r; k <= r; ++k) sum += k >= 0 && k < count ? line[k] : 0;
        for (int k = 0; k < count; ++k) {
            first[k * step] = static_cast<std::uint8_t>((sum + r) / (2 * r + 1));
            const int out = k - r, in = k + r + 1;
            sum += (in < count ? line[in] : 0) - (out >= 0 ? line[out] : 0);
        }
    };
    for (int round = 0; round < 3; ++round) {
        for (int y = 0; y < height; ++y) pass(mask.data() + static_cast<std::size_t>(y) * width, width, 1);
        for (int x = 0; x < width; ++x) pass(mask.data() + x, height, width);
    }
}

// The mask moved by (dx, dy) pixels, y up; what moves in is empty.
std::vector<std::uint8_t> Shifted(const std::vector<std::uint8_t>& mask, int width, int height, int dx, int dy) {
    std::vector<std::uint8_t> out(mask.size(), 0);
    for (int y = 0; y < height; ++y) {
        const int from = y + dy;  // rows run downwards: up is a lower row
        if (from < 0 || from >= height) continue;
        for (int x = 0; x < width; ++x) {
            const int fx = x - dx;
            if (fx >= 0 && fx < width) out[static_cast<std::size_t>(y) * width + x] = mask[static_cast<std::size_t>(from) * width + fx];
        }
    }
    return out;
}

}  // namespace

void ImageConverter::DrawTextWatermark(Bitmap& canvas, std::uint64_t width, std::uint64_t height) {
    const WatermarkOptions& o = watermarkOptions;
    if (!o.watermarkText || o.watermarkText->empty() || !canvas) return;
    const double RW = o.watermarkSize.width, RH = o.watermarkSize.height;
    // A reference canvas without a size places nothing.
    if (!std::isfinite(RW) || !std::isfinite(RH) || !(RW > 0) || !(RH > 0)) return;
    const double W = static_cast<double>(width), H = static_cast<double>(height);
    const double s = WatermarkScaleForCanvas(W, H);
    const WatermarkPoint origin = WatermarkOriginForCanvas(o.textPosition.x, o.textPosition.y, o.textReferencePoint.x,
                                                           o.textReferencePoint.y, W, H, RW, RH, s, s);
    const double fontSize = static_cast<double>(o.fontSize) * s;
    const double lineWidth = static_cast<double>(o.lineWidth) * s;
    const double blur = static_cast<double>(o.shadowBlur) * s;
    const double offsetX = std::trunc(static_cast<double>(o.shadowOffsetX) * s);
    const double offsetY = std::trunc(static_cast<double>(o.shadowOffsetY) * s);
    if (!std::isfinite(offsetX) || !std::isfinite(offsetY) || std::fabs(offsetX) > W || std::fabs(offsetY) > H) return;
    const float angle = static_cast<float>(o.textRotation) * 0.017453292f;

    // The drawing modes: fill, stroke, both; those that also clip draw the same; the invisible
    // ones draw nothing.
    const int mode = o.textDrawingMode;
    const bool fill = mode == 0 || mode == 2 || mode == 4 || mode == 6;
    const bool stroke = mode == 1 || mode == 2 || mode == 5 || mode == 6;
    if (!fill && !stroke) return;
    // In fill mode the colour fills; otherwise it strokes, and a fill is black.
    const CanvasColour colour = ColourFor(o.textColor, canvas.model);
    const CanvasColour fillColour = mode == 0 || mode == 4 ? colour : ColourFor(std::nullopt, canvas.model);
    // A stroke of no width is the thinnest line: one pixel.
    const double strokeWidth = stroke ? std::max(1.0, std::isfinite(lineWidth) ? lineWidth : 1.0) : 0;

    const bool shadow = o.shadowEnabled != 0 && o.shadowColor.has_value();  // no colour, no shadow
    // A blur wider than any canvas is as good as one of 500 pixels.
    const double sigma = shadow && blur > 0 ? std::min(blur / 2, 500.0) : 0;
    const int margin = shadow ? static_cast<int>(std::ceil(3 * sigma + std::fabs(offsetX) + std::fabs(offsetY))) + 1 : 1;
    platform::TextStyle style;
    style.fontName = o.textFont.value_or(std::string());
    style.size = fontSize;
    style.characterSpacing = o.characterSpacing * s;
    platform::TextCoverage coverage;
    if (!platform::RasterizeText(*o.watermarkText, style, origin.x, origin.y, angle, static_cast<int>(width),
                                 static_cast<int>(height), fill, strokeWidth, margin, coverage))
        return;

    Bitmap layer = Bitmap::Allocate(coverage.width, coverage.height, canvas.model, true);
    if (!layer) return;
    std::memset(layer.data, 0, static_cast<std::size_t>(layer.stride) * layer.height);
    if (shadow) {
        // The shadow of what is drawn: its coverage united, blurred and moved.
        std::vector<std::uint8_t> shape(static_cast<std::size_t>(coverage.width) * coverage.height, 0);
        for (std::size_t i = 0; i < shape.size(); ++i) {
            const int f = fill ? static_cast<int>(std::lround(coverage.fill[i] * fillColour.alpha)) : 0;
            const int k = stroke ? static_cast<int>(std::lround(coverage.stroke[i] * colour.alpha)) : 0;
            shape[i] = static_cast<std::uint8_t>(f + k - f * k / 255);
        }
        Blur(shape, coverage.width, coverage.height, sigma);
        Paint(layer, Shifted(shape, coverage.width, coverage.height, static_cast<int>(offsetX), static_cast<int>(offsetY)),
              ColourFor(o.shadowColor, canvas.model));
    }
    if (fill) Paint(layer, coverage.fill, fillColour);
    if (stroke) Paint(layer, coverage.stroke, colour);
    CompositeLayer(canvas, layer, coverage.left, coverage.top, std::isfinite(o.textOpacity) ? o.textOpacity : 0);
}
