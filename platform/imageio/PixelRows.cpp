#include "platform/imageio/PixelRows.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

bool LayoutHasAlpha(PixelLayout layout) { return layout == PixelLayout::GrayAlpha || layout == PixelLayout::RGBA; }

// Whether the bitmap's rows already are `layout`.
bool SameLayout(const Bitmap& image, PixelLayout layout) {
    switch (layout) {
        case PixelLayout::Gray: return image.model == ColorModel::Monochrome && !image.hasAlpha;
        case PixelLayout::GrayAlpha: return false;  // the bitmap's alpha is premultiplied
        case PixelLayout::RGB: return image.model == ColorModel::RGB && !image.hasAlpha;
        case PixelLayout::RGBA: return false;
        case PixelLayout::BGR: return false;
        case PixelLayout::CMYK: return image.model == ColorModel::CMYK && !image.hasAlpha;
    }
    return false;
}

inline std::uint8_t Unpremultiply(unsigned value, unsigned alpha) {
    if (alpha == 0) return 0;
    if (alpha == 255) return static_cast<std::uint8_t>(value);
    return static_cast<std::uint8_t>(std::min(255u, (value * 255 + alpha / 2) / alpha));
}

inline std::uint8_t GrayOf(unsigned r, unsigned g, unsigned b) {
    return static_cast<std::uint8_t>((r * 77 + g * 151 + b * 28 + 128) >> 8);
}

}  // namespace

int BytesPerPixel(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::Gray: return 1;
        case PixelLayout::GrayAlpha: return 2;
        case PixelLayout::RGB:
        case PixelLayout::BGR: return 3;
        case PixelLayout::RGBA:
        case PixelLayout::CMYK: return 4;
    }
    return 4;
}

PixelLayout LayoutFor(const Bitmap& image, bool alpha, bool cmykAllowed) {
    const bool withAlpha = alpha || image.hasAlpha;
    switch (image.model) {
        case ColorModel::Monochrome: return withAlpha ? PixelLayout::GrayAlpha : PixelLayout::Gray;
        case ColorModel::CMYK:
            if (cmykAllowed && !withAlpha) return PixelLayout::CMYK;
            return withAlpha ? PixelLayout::RGBA : PixelLayout::RGB;
        case ColorModel::RGB: break;
    }
    return withAlpha ? PixelLayout::RGBA : PixelLayout::RGB;
}

void ConvertRow(const Bitmap& image, const std::uint8_t* in, int width, PixelLayout layout, std::uint8_t* out) {
    const int n = image.components;
    const bool srcAlpha = image.hasAlpha;
    const bool dstAlpha = LayoutHasAlpha(layout);

    // The common cases on their own: an opaque page gaining an alpha channel.
    if (!srcAlpha && image.model == ColorModel::RGB && layout == PixelLayout::RGBA) {
        for (int x = 0; x < width; ++x, in += 3, out += 4) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = 255;
        }
        return;
    }
    if (!srcAlpha && image.model == ColorModel::Monochrome && layout == PixelLayout::GrayAlpha) {
        for (int x = 0; x < width; ++x, ++in, out += 2) {
            out[0] = in[0];
            out[1] = 255;
        }
        return;
    }

    for (int x = 0; x < width; ++x, in += n) {
        const unsigned a = srcAlpha ? in[n - 1] : 255;
        unsigned c[4] = {0, 0, 0, 0};
        for (int i = 0; i < image.colorComponents() && i < 4; ++i) c[i] = in[i];
        if (srcAlpha) {
            if (dstAlpha) {
                for (int i = 0; i < 4; ++i) c[i] = Unpremultiply(c[i], a);
            } else if (image.model != ColorModel::CMYK) {
                // Over white: premultiplied colour plus the white that shows through.
                for (int i = 0; i < 4; ++i) c[i] = std::min(255u, c[i] + (255 - a));
            }
        }
        // To grey, RGB or CMYK by the device formulas.
        unsigned r, g, b;
        switch (image.model) {
            case ColorModel::Monochrome: r = g = b = c[0]; break;
            case ColorModel::CMYK:
                r = 255 - std::min(255u, c[0] + c[3]);
                g = 255 - std::min(255u, c[1] + c[3]);
                b = 255 - std::min(255u, c[2] + c[3]);
                break;
            default: r = c[0], g = c[1], b = c[2]; break;
        }
        switch (layout) {
            case PixelLayout::Gray:
            case PixelLayout::GrayAlpha:
                *out++ = image.model == ColorModel::Monochrome ? static_cast<std::uint8_t>(c[0]) : GrayOf(r, g, b);
                break;
            case PixelLayout::RGB:
            case PixelLayout::RGBA:
                *out++ = static_cast<std::uint8_t>(r);
                *out++ = static_cast<std::uint8_t>(g);
                *out++ = static_cast<std::uint8_t>(b);
                break;
            case PixelLayout::BGR:
                *out++ = static_cast<std::uint8_t>(b);
                *out++ = static_cast<std::uint8_t>(g);
                *out++ = static_cast<std::uint8_t>(r);
                break;
            case PixelLayout::CMYK:
                if (image.model == ColorModel::CMYK) {
                    for (int i = 0; i < 4; ++i) *out++ = static_cast<std::uint8_t>(c[i]);
                } else {
                    const unsigned cy = 255 - r, ma = 255 - g, ye = 255 - b;
                    const unsigned k = std::min(cy, std::min(ma, ye));
                    *out++ = static_cast<std::uint8_t>(cy - k);
                    *out++ = static_cast<std::uint8_t>(ma - k);
                    *out++ = static_cast<std::uint8_t>(ye - k);
                    *out++ = static_cast<std::uint8_t>(k);
                }
                break;
        }
        if (dstAlpha) *out++ = static_cast<std::uint8_t>(a);
    }
}

PixelRows::PixelRows(const Bitmap& image, PixelLayout layout)
    : image_(image),
      layout_(layout),
      rowBytes_(image.width * BytesPerPixel(layout)),
      asIs_(SameLayout(image, layout)) {
    if (!asIs_) buffer_.resize(static_cast<std::size_t>(rowBytes_));
}

const std::uint8_t* PixelRows::Row(int y) {
    if (asIs_) return image_.row(y);
    ConvertRow(image_, image_.row(y), image_.width, layout_, buffer_.data());
    return buffer_.data();
}

void PixelRows::RowInto(int y, std::uint8_t* dest) {
    if (asIs_)
        std::memcpy(dest, image_.row(y), static_cast<std::size_t>(rowBytes_));
    else
        ConvertRow(image_, image_.row(y), image_.width, layout_, dest);
}

}  // namespace platform
