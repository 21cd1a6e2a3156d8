#include "platform/imageio/PixelRows.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform {
namespace {

bool LayoutHasAlpha(PixelLayout layout) {
    return layout == PixelLayout::GrayAlpha || layout == PixelLayout::RGBA || layout == PixelLayout::CMYKA;
}

// Whether the bitmap's rows already are `layout`.
bool SameLayout(const Bitmap& image, PixelLayout layout) {
    switch (layout) {
        case PixelLayout::Gray: return image.model == ColorModel::Monochrome && !image.hasAlpha;
        case PixelLayout::GrayAlpha: return false;  // the bitmap's alpha is premultiplied
        case PixelLayout::RGB: return image.model == ColorModel::RGB && !image.hasAlpha;
        case PixelLayout::RGBA: return false;
        case PixelLayout::BGR: return false;
        case PixelLayout::CMYK: return image.model == ColorModel::CMYK && !image.hasAlpha;
        case PixelLayout::CMYKA: return false;
    }
    return false;
}

inline std::uint8_t Unpremultiply(unsigned value, unsigned alpha) {
    if (alpha == 0) return 0;
    if (alpha == 255) return static_cast<std::uint8_t>(value);
    return static_cast<std::uint8_t>(std::min(255u, (value * 255 + alpha / 2) / alpha));
}

#if defined(__x86_64__)
bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

// Four pixels at a time: 16 bytes read (12 used), spread to 16 with the alpha set. Returns the
// pixels done; stops where a 16-byte read would pass the end of the row.
__attribute__((target("ssse3"))) int ExpandRgbToRgbaSsse3(const std::uint8_t* in, int width, std::uint8_t* out) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int x = 0;
    // 16 bytes from pixel x must lie inside the row's 3 x width bytes.
    for (; 3 * x + 16 <= 3 * width; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), _mm_or_si128(_mm_shuffle_epi8(v, spread), opaque));
    }
    return x;
}

// Five pixels at a time: 16 bytes read (15 used), red and blue swapped. Returns the pixels done;
// stops where a 16-byte read or write would pass the end of the row.
__attribute__((target("ssse3"))) int SwapRgbToBgrSsse3(const std::uint8_t* in, int width, std::uint8_t* out) {
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    int x = 0;
    for (; 3 * x + 16 <= 3 * width; x += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm_shuffle_epi8(v, swap));
    }
    return x;
}
#endif

// Sets the fourth byte in memory of a 32-bit word to 255.
inline std::uint32_t LittleEndianOpaque(std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::little)
        return v | 0xFF000000u;
    else
        return v | 0xFFu;
}

// The device formulas (see ConvertRow).
inline unsigned GreyOfRgb(unsigned r, unsigned g, unsigned b) { return (r * 77 + g * 151 + b * 28 + 128) >> 8; }
inline unsigned GreyOfCmyk(unsigned c, unsigned m, unsigned y, unsigned k) {
    return 255 - std::min(255u, GreyOfRgb(c, m, y) + k);
}
inline unsigned RgbOfInk(unsigned ink, unsigned k) { return 255 - std::min(255u, ink + k); }

}  // namespace

int BytesPerPixel(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::Gray: return 1;
        case PixelLayout::GrayAlpha: return 2;
        case PixelLayout::RGB:
        case PixelLayout::BGR: return 3;
        case PixelLayout::RGBA:
        case PixelLayout::CMYK: return 4;
        case PixelLayout::CMYKA: return 5;
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

    // Rows already in the layout asked for are copied.
    if (SameLayout(image, layout)) {
        std::memcpy(out, in, static_cast<std::size_t>(width) * static_cast<std::size_t>(n));
        return;
    }
    // The common cases on their own: an opaque page gaining an alpha channel.
    if (!srcAlpha && image.model == ColorModel::RGB && layout == PixelLayout::RGBA) {
        // Four bytes at a time (the fourth read belongs to the next pixel and is replaced by
        // the alpha); the last pixel on its own so that nothing past the row is read.
        int x = 0;
#if defined(__x86_64__)
        if (HasSsse3()) {
            x = ExpandRgbToRgbaSsse3(in, width, out);
            in += 3 * x;
            out += 4 * x;
        }
#endif
        for (; x + 1 < width; ++x, in += 3, out += 4) {
            std::uint32_t v;
            std::memcpy(&v, in, 4);
            v = LittleEndianOpaque(v);
            std::memcpy(out, &v, 4);
        }
        if (x < width) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = 255;
        }
        return;
    }
    // An opaque page to BGR (BMP).
    if (!srcAlpha && image.model == ColorModel::RGB && n == 3 && layout == PixelLayout::BGR) {
        int x = 0;
#if defined(__x86_64__)
        if (HasSsse3()) x = SwapRgbToBgrSsse3(in, width, out);
#endif
        for (; x < width; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
        return;
    }
    // An opaque page to grey (the grey and one-bit formats).
    if (!srcAlpha && image.model == ColorModel::RGB && n == 3 && layout == PixelLayout::Gray) {
        for (int x = 0; x < width; ++x, in += 3) out[x] = static_cast<std::uint8_t>(GreyOfRgb(in[0], in[1], in[2]));
        return;
    }
    // Premultiplied RGBA made straight (pictures with transparent margins, such as icons): most
    // pixels are opaque or empty, and only the others are divided.
    if (srcAlpha && image.model == ColorModel::RGB && n == 4 && layout == PixelLayout::RGBA) {
        for (int x = 0; x < width; ++x, in += 4, out += 4) {
            const unsigned a = in[3];
            if (a == 255) {
                std::memcpy(out, in, 4);
            } else if (a == 0) {
                std::memset(out, 0, 4);
            } else {
                out[0] = Unpremultiply(in[0], a);
                out[1] = Unpremultiply(in[1], a);
                out[2] = Unpremultiply(in[2], a);
                out[3] = static_cast<std::uint8_t>(a);
            }
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
                r = RgbOfInk(c[0], c[3]);
                g = RgbOfInk(c[1], c[3]);
                b = RgbOfInk(c[2], c[3]);
                break;
            default: r = c[0], g = c[1], b = c[2]; break;
        }
        switch (layout) {
            case PixelLayout::Gray:
            case PixelLayout::GrayAlpha:
                *out++ = static_cast<std::uint8_t>(image.model == ColorModel::Monochrome ? c[0]
                                                   : image.model == ColorModel::CMYK ? GreyOfCmyk(c[0], c[1], c[2], c[3])
                                                                                     : GreyOfRgb(r, g, b));
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
            case PixelLayout::CMYKA:
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
