// BMP: 24-bit BGR rows bottom to top, or 8-bit with a grey palette for grey pages. BMP has no
// CMYK and no alpha in its common form: CMYK becomes RGB, alpha is laid over white.
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/RowEncoder.h"

namespace platform {
namespace {

using bytes::StoreLE16;
using bytes::StoreLE32;

// The rows are stored bottom first: each band goes to its place from the end of the file.
class BmpRowEncoder final : public RowEncoder {
public:
    BmpRowEncoder(const Bitmap& shape, ByteSink& sink)
        : sink_(sink),
          height_(shape.height),
          layout_(shape.model == ColorModel::Monochrome ? PixelLayout::Gray : PixelLayout::BGR),
          rowBytes_(static_cast<std::size_t>(shape.width) * BytesPerPixel(layout_)),
          padded_((rowBytes_ + 3) & ~std::size_t{3}),
          offset_(14 + 40 + (layout_ == PixelLayout::Gray ? 256 * 4 : 0)) {}

    bool Start(int width, const DestinationProperties& properties) {
        const bool grey = layout_ == PixelLayout::Gray;
        const std::uint64_t total = offset_ + padded_ * static_cast<std::uint64_t>(height_);
        if (total > 0xFFFFFFFFu) return Fail("beyond the 4 GB a BMP file can hold");
        std::vector<std::uint8_t> head(offset_, 0);
        std::uint8_t* h = head.data();
        h[0] = 'B';
        h[1] = 'M';
        StoreLE32(h + 2, static_cast<std::uint32_t>(total));
        StoreLE32(h + 10, static_cast<std::uint32_t>(offset_));
        std::uint8_t* info = h + 14;
        StoreLE32(info, 40);
        StoreLE32(info + 4, static_cast<std::uint32_t>(width));
        StoreLE32(info + 8, static_cast<std::uint32_t>(height_));  // positive: bottom-up rows
        StoreLE16(info + 12, 1);
        StoreLE16(info + 14, grey ? 8 : 24);
        StoreLE32(info + 16, 0);  // no compression
        StoreLE32(info + 20, static_cast<std::uint32_t>(padded_ * static_cast<std::size_t>(height_)));
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
        // The whole size at once: the first band lands at the end.
        return sink_.WriteAt(0, head.data(), head.size()) || Fail("the file could not be written");
    }

    bool WriteRows(const Bitmap& band) override {
        if (band.height < 1 || rows_ + band.height > height_) return Fail("rows beyond the picture");
        // The band's rows in file order, its last row first, converted straight into place;
        // only the padding is cleared.
        buffer_.resize(padded_ * static_cast<std::size_t>(band.height));
        PixelRows rows(band, layout_);
        for (int y = 0; y < band.height; ++y) {
            std::uint8_t* dest = buffer_.data() + padded_ * static_cast<std::size_t>(band.height - 1 - y);
            rows.RowInto(y, dest);
            std::memset(dest + rowBytes_, 0, padded_ - rowBytes_);
        }
        const std::uint64_t at = offset_ + padded_ * static_cast<std::uint64_t>(height_ - rows_ - band.height);
        rows_ += band.height;
        return sink_.WriteAt(at, buffer_.data(), buffer_.size()) || Fail("the file could not be written");
    }

    bool Finish() override { return rows_ == height_ || Fail("rows missing"); }

private:
    bool Fail(const char* why) {
        if (message_.empty()) message_ = why;
        return false;
    }

    ByteSink& sink_;
    int height_;
    PixelLayout layout_;
    std::size_t rowBytes_, padded_, offset_;
    int rows_ = 0;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace

namespace encoders {

std::unique_ptr<RowEncoder> OpenBMPRows(const Bitmap& shape, const DestinationProperties& properties, ByteSink& sink) {
    if (shape.width < 1 || shape.height < 1) return nullptr;
    auto encoder = std::make_unique<BmpRowEncoder>(shape, sink);
    if (!encoder->Start(shape.width, properties)) return nullptr;
    return encoder;
}

bool EncodeBMP(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    return EncodeInOneBand(OpenBMPRows, image, properties, out);
}

}  // namespace encoders
}  // namespace platform
