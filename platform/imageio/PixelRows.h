#pragma once

#include <cstdint>
#include <vector>

#include "platform/Bitmap.h"

// The rows of a bitmap in the sample layout an encoder writes. A row that is already in that
// layout is handed out as it lies in the bitmap; any other is converted into one row buffer, so
// no encoder copies a whole page to change its layout.
namespace platform {

enum class PixelLayout {
    Gray,       // 1 sample, 0 black
    GrayAlpha,  // grey, then straight (not premultiplied) alpha
    RGB,
    RGBA,       // straight alpha
    BGR,
    CMYK,       // 0 = no ink
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

// Converts one row of `width` pixels of `image`'s layout into `layout`. Device formulas: no
// colour management. Premultiplied colours are made straight for layouts with alpha and laid
// over white for layouts without.
void ConvertRow(const Bitmap& image, const std::uint8_t* in, int width, PixelLayout layout, std::uint8_t* out);

}  // namespace platform
