#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A page or picture in memory: rows top to bottom, 8 bits per sample, samples interleaved.
// The memory may belong to someone else (a rendered MuPDF pixmap): `owner` keeps it alive, so a
// bitmap can be handed from the renderer to a writer without copying its pixels.
namespace platform {

// Numbered as the colour-space models of the original platform (monochrome 0, RGB 1, CMYK 2).
enum class ColorModel : int { Monochrome = 0, RGB = 1, CMYK = 2 };

struct Bitmap {
    int width = 0;
    int height = 0;
    ColorModel model = ColorModel::RGB;
    int components = 0;      // samples per pixel, alpha included
    bool hasAlpha = false;   // the last sample of each pixel is alpha, colours premultiplied
    std::ptrdiff_t stride = 0;  // bytes from one row to the next
    std::uint8_t* data = nullptr;
    std::shared_ptr<void> owner;

    int colorComponents() const { return hasAlpha ? components - 1 : components; }
    std::uint8_t* row(int y) { return data + static_cast<std::ptrdiff_t>(y) * stride; }
    const std::uint8_t* row(int y) const { return data + static_cast<std::ptrdiff_t>(y) * stride; }
    explicit operator bool() const { return data != nullptr && width > 0 && height > 0; }

    // A bitmap with memory of its own, rows packed; an empty bitmap when the size is not sane.
    static Bitmap Allocate(int width, int height, ColorModel model, bool alpha);
};

// Samples per pixel of a model, without alpha.
inline int ComponentsOf(ColorModel model) {
    switch (model) {
        case ColorModel::Monochrome: return 1;
        case ColorModel::CMYK: return 4;
        default: return 3;
    }
}

// Memory for a pixel buffer (released with std::free), in huge pages when it is large.
std::uint8_t* AllocateLarge(std::size_t bytes);

// The largest pixel buffer the engine will allocate for one page or picture (1 GiB).
inline constexpr std::size_t kMaxBitmapBytes = std::size_t{1} << 30;

}  // namespace platform
