#pragma once

#include <cstdint>
#include <vector>

#include "platform/Bitmap.h"

// The rows of a bitmap in the sample layout an encoder writes. A row that is already in that
// layout is handed out as it lies in the bitmap; any other is converted into one row buffer, so
// no encoder copies a whole page to change its layout. ConvertRow is the writer layer's one
// colour converter: every encoder's pixels pass through it.
namespace platform {

enum class PixelLayout {
    Gray,       // 1 sample, 0 black
    GrayAlpha,  // grey, then straight (not premultiplied) alpha
    RGB,
    RGBA,       // straight alpha
    BGR,
    CMYK,       // 0 = no ink
    CMYKA,      // CMYK, then straight alpha
};

int BytesPerPixel(PixelLayout layout);

// The layout closest to the bitmap's own: its model, with alpha when it has alpha or `alpha`.
// `cmykAllowed` false turns CMYK into RGB for formats without CMYK.
PixelLayout LayoutFor(const Bitmap& image, bool alpha, bool cmykAllowed);

class PixelRows {
public:
    PixelRows(const Bitmap& image, PixelLayout layout);
    // Row `y`, top to bottom; valid until the next call.
    const std::uint8_t* Row(int y);
    // Row `y` written into `dest` (RowBytes() bytes), converted on the way when needed.
    void RowInto(int y, std::uint8_t* dest);
    int RowBytes() const { return rowBytes_; }

private:
    const Bitmap& image_;
    PixelLayout layout_;
    int rowBytes_;
    bool asIs_;
    std::vector<std::uint8_t> buffer_;
};

// Converts one row of `width` pixels of `image`'s layout into `layout`, by the renderer's device
// formulas (no colour management):
//   grey of RGB    (77 R + 151 G + 28 B + 128) >> 8
//   grey of CMYK   255 - min(255, grey of (C, M, Y) + K)
//   RGB of CMYK    255 - min(255, ink + K), each of C, M, Y
//   CMYK of RGB    255 - R, 255 - G, 255 - B, with their least as K taken out of the three
// Premultiplied colours are made straight for layouts with alpha. For layouts without, they are
// composited in the bitmap's own model first, grey and RGB over white, CMYK over no ink (its
// premultiplied ink as it is), then converted.
void ConvertRow(const Bitmap& image, const std::uint8_t* in, int width, PixelLayout layout, std::uint8_t* out);

}  // namespace platform
