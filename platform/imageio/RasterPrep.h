#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Bitmap.h"

// Pixel preparation shared by the small encoders of the writer layer: every page model (grey,
// RGB, CMYK, with or without premultiplied alpha, any stride) turned into the packed rows a file
// format holds (through the one converter of PixelRows.h), fitting into fixed sizes, dithering
// to one bit and PackBits.
namespace platform::raster {

// Packed 8-bit samples, rows top to bottom, no padding.
struct Pixels {
    int width = 0;
    int height = 0;
    int channels = 0;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA (or CMYK), 5 CMYK + alpha
    std::vector<std::uint8_t> data;

    std::size_t rowBytes() const { return static_cast<std::size_t>(width) * channels; }
    std::uint8_t* row(int y) { return data.data() + rowBytes() * y; }
    const std::uint8_t* row(int y) const { return data.data() + rowBytes() * y; }
};

// Packed rows that belong to someone else, `stride` bytes apart: a Pixels' rows, or a page's
// own when they already are what a format takes.
struct PixelsView {
    int width = 0;
    int height = 0;
    int channels = 0;
    const std::uint8_t* data = nullptr;
    std::size_t stride = 0;

    const std::uint8_t* row(int y) const { return data + stride * static_cast<std::size_t>(y); }
};

inline PixelsView ViewOf(const Pixels& p) { return {p.width, p.height, p.channels, p.data.data(), p.rowBytes()}; }

// What becomes of a bitmap's alpha.
enum class Alpha {
    Flatten,        // composited over white (CMYK: over no ink); no alpha channel in the result
    Straight,       // kept, colours divided by alpha
    Premultiplied,  // kept as it is
};

// True when the bitmap's fields agree with each other (model, components, stride).
bool IsUsable(const Bitmap& image);

// The bitmap as RGB (3 channels) or, with alpha kept and present, RGBA (4). Grey and CMYK are
// converted with the device formulas; flattening composites in the bitmap's own model first
// (CMYK over no ink). False when the bitmap is not usable.
bool ToRgb(const Bitmap& image, Alpha alpha, Pixels& out);

// The bitmap as grey (1 channel) or, with alpha kept and present, grey + alpha (2).
bool ToGrey(const Bitmap& image, Alpha alpha, Pixels& out);

// The bitmap in its own model (grey, RGB or CMYK with 0 = no ink), alpha handled as asked;
// flattening CMYK composites over no ink.
bool ToNative(const Bitmap& image, Alpha alpha, Pixels& out);

// The bitmap as premultiplied RGBA (4 channels) whether it has alpha or not (then opaque), the
// form to scale an icon in.
bool ToPremultipliedRgba(const Bitmap& image, Pixels& out);

// The bitmap's own rows when they already are opaque grey or RGB, without a copy; any other
// bitmap converted into `storage` with `alpha` as asked: to grey when it is grey and
// `greyKept`, to RGB otherwise. An empty view (no data) when the bitmap is not usable.
PixelsView RowsAsTheyLieOr(const Bitmap& image, Alpha alpha, bool greyKept, Pixels& storage);

// Scales `image` to fit inside boxWidth × boxHeight, keeping its aspect ratio, and centres it
// on `background` (one value per channel). Samples are filtered as they are, so pass
// premultiplied colour when there is alpha. `enlarge` lets a smaller image grow to the box.
Pixels FitCentred(const PixelsView& image, int boxWidth, int boxHeight, bool enlarge,
                  const std::uint8_t* background);
inline Pixels FitCentred(const Pixels& image, int boxWidth, int boxHeight, bool enlarge,
                         const std::uint8_t* background) {
    return FitCentred(ViewOf(image), boxWidth, boxHeight, enlarge, background);
}

// Resamples to exactly width × height (area average when shrinking, linear when growing).
Pixels Resize(const PixelsView& image, int width, int height);
inline Pixels Resize(const Pixels& image, int width, int height) { return Resize(ViewOf(image), width, height); }

// Floyd–Steinberg dithering of a grey image to one bit per pixel: rows of `rowBytes` bytes,
// most significant bit first, bit set = black. Pure black and white stay exact.
std::vector<std::uint8_t> DitherToBilevel(const Pixels& grey, std::size_t rowBytes);

// Apple PackBits run-length coding of `n` bytes, appended to `out`.
void PackBits(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out);

// The resolution to record when the caller set none: the page's own 72 dots per inch.
inline float DpiOr72(const std::optional<float>& dpi) {
    return dpi && *dpi > 0 ? *dpi : 72.0f;
}

}  // namespace platform::raster
