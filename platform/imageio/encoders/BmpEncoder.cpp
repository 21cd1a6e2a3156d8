// BMP: 24-bit BGR rows bottom to top, or 8-bit with a grey palette for grey pages. BMP has no
// CMYK and no alpha in its common form: CMYK becomes RGB, alpha is laid over white.
#include <cmath>
#include <cstring>

#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PixelRows.h"

namespace platform {
namespace encoders {
namespace {
using bytes::StoreLE16;
using bytes::StoreLE32;
}  // namespace

bool EncodeBMP(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    out.clear();
    const bool grey = image.model == ColorModel::Monochrome;
    const PixelLayout layout = grey ? PixelLayout::Gray : PixelLayout::BGR;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * BytesPerPixel(layout);
    const std::size_t padded = (rowBytes + 3) & ~std::size_t{3};
    const std::size_t paletteBytes = grey ? 256 * 4 : 0;
    const std::size_t offset = 14 + 40 + paletteBytes;
    const std::size_t total = offset + padded * static_cast<std::size_t>(image.height);
    if (total > 0xFFFFFFFFu) return false;

    out.assign(total, 0);
    std::uint8_t* h = out.data();
    h[0] = 'B';
    h[1] = 'M';
    StoreLE32(h + 2, static_cast<std::uint32_t>(total));
    StoreLE32(h + 10, static_cast<std::uint32_t>(offset));
    std::uint8_t* info = h + 14;
    StoreLE32(info, 40);
    StoreLE32(info + 4, static_cast<std::uint32_t>(image.width));
    StoreLE32(info + 8, static_cast<std::uint32_t>(image.height));  // positive: bottom-up rows
    StoreLE16(info + 12, 1);
    StoreLE16(info + 14, grey ? 8 : 24);
    StoreLE32(info + 16, 0);  // no compression
    StoreLE32(info + 20, static_cast<std::uint32_t>(padded * static_cast<std::size_t>(image.height)));
    const float dpiX = properties.dpiWidth.value_or(properties.dpiHeight.value_or(0));
    const float dpiY = properties.dpiHeight.value_or(dpiX);
    if (dpiX > 0 && dpiY > 0) {
        StoreLE32(info + 24, static_cast<std::uint32_t>(std::lround(dpiX / 0.0254)));
        StoreLE32(info + 28, static_cast<std::uint32_t>(std::lround(dpiY / 0.0254)));
    }
    if (grey) {
        StoreLE32(info + 32, 256);
        std::uint8_t* palette = info + 40;
        for (int i = 0; i < 256; ++i) {
            palette[i * 4] = palette[i * 4 + 1] = palette[i * 4 + 2] = static_cast<std::uint8_t>(i);
        }
    }
    PixelRows rows(image, layout);
    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* dest = out.data() + offset + padded * static_cast<std::size_t>(image.height - 1 - y);
        std::memcpy(dest, rows.Row(y), rowBytes);
    }
    return true;
}

}  // namespace encoders
}  // namespace platform
