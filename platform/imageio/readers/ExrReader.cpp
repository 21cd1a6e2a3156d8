// OpenEXR through the OpenEXR library: linear light with premultiplied alpha, back to 8-bit sRGB
// codes (RGB, or grey for luminance-only files), with the resolution of xDensity and
// pixelAspectRatio.
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfStandardAttributes.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

class MemoryStream : public Imf::IStream {
public:
    explicit MemoryStream(const Bytes& bytes) : Imf::IStream("memory"), bytes_(bytes) {}
    bool read(char c[], int n) override {
        if (n < 0 || pos_ + static_cast<std::uint64_t>(n) > bytes_->size())
            throw std::runtime_error("read past the end of the file");
        std::memcpy(c, bytes_->data() + pos_, static_cast<std::size_t>(n));
        pos_ += static_cast<std::uint64_t>(n);
        return pos_ < bytes_->size();
    }
    std::uint64_t tellg() override { return pos_; }
    void seekg(std::uint64_t pos) override { pos_ = pos; }

private:
    const Bytes& bytes_;
    std::uint64_t pos_ = 0;
};

std::uint8_t LinearToSrgb8(float v) {
    if (!(v > 0)) return 0;
    if (v >= 1) return 255;
    const float s = v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1 / 2.4f) - 0.055f;
    return static_cast<std::uint8_t>(std::lround(s * 255));
}

class ExrSource : public ImageSource {
public:
    explicit ExrSource(Bytes bytes) : ImageSource("com.ilm.openexr-image"), bytes_(std::move(bytes)) {}
    std::size_t count() const override { return 1; }
    bool Read(std::size_t index, ImageRepresentation& out) override {
        out = {};
        if (index != 0) return false;
        try {
            MemoryStream stream(bytes_);
            Imf::RgbaInputFile in(stream);
            const Imath::Box2i dw = in.dataWindow();
            const std::int64_t width = std::int64_t{dw.max.x} - dw.min.x + 1;
            const std::int64_t height = std::int64_t{dw.max.y} - dw.min.y + 1;
            if (width <= 0 || height <= 0 || !FitsBitmapCap(width, height, 8)) return false;
            const Imf::RgbaChannels channels = in.channels();
            const bool grey = !(channels & (Imf::WRITE_R | Imf::WRITE_G | Imf::WRITE_B | Imf::WRITE_C));
            const bool alpha = (channels & Imf::WRITE_A) != 0;
            std::vector<Imf::Rgba> px(static_cast<std::size_t>(width * height));
            in.setFrameBuffer(px.data() - dw.min.x - static_cast<std::ptrdiff_t>(dw.min.y) * width, 1,
                              static_cast<std::size_t>(width));
            in.readPixels(dw.min.y, dw.max.y);
            Bitmap bitmap = Bitmap::Allocate(static_cast<int>(width), static_cast<int>(height),
                                             grey ? ColorModel::Monochrome : ColorModel::RGB, alpha);
            if (!bitmap) return false;
            const int n = bitmap.components;
            for (int y = 0; y < bitmap.height; ++y) {
                std::uint8_t* row = bitmap.row(y);
                for (int x = 0; x < bitmap.width; ++x, row += n) {
                    const Imf::Rgba& p = px[static_cast<std::size_t>(y) * width + x];
                    const float a = alpha ? std::clamp(static_cast<float>(p.a), 0.0f, 1.0f) : 1.0f;
                    const std::uint8_t a8 = static_cast<std::uint8_t>(std::lround(a * 255));
                    const float colours[3] = {p.r, p.g, p.b};
                    for (int c = 0; c < (grey ? 1 : 3); ++c) {
                        const std::uint8_t straight = a > 0 ? LinearToSrgb8(colours[c] / a) : 0;
                        row[c] = alpha ? static_cast<std::uint8_t>((straight * a8 + 127) / 255) : straight;
                    }
                    if (alpha) row[n - 1] = a8;
                }
            }
            out.bitmap = std::move(bitmap);
            out.colorKind = grey ? SourceColorKind::Grey : SourceColorKind::RGB;
            out.bitsPerSample = 16;
            out.hasAlpha = alpha;
            if (Imf::hasXDensity(in.header())) {
                const float dpi = Imf::xDensity(in.header());
                const float aspect = in.header().pixelAspectRatio();
                if (dpi > 0 && std::isfinite(dpi) && aspect > 0 && std::isfinite(aspect)) {
                    out.dpiX = dpi;
                    out.dpiY = dpi * aspect;
                }
            }
            out.metadata = NoMetadata();
            return true;
        } catch (const std::exception&) {
            out = {};
            return false;
        }
    }

private:
    Bytes bytes_;
};

}  // namespace

std::unique_ptr<ImageSource> OpenExr(Bytes bytes) {
    try {
        MemoryStream stream(bytes);
        Imf::RgbaInputFile in(stream);
        const Imath::Box2i dw = in.dataWindow();
        if (!FitsBitmapCap(std::int64_t{dw.max.x} - dw.min.x + 1, std::int64_t{dw.max.y} - dw.min.y + 1, 1))
            return nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
    return std::make_unique<ExrSource>(std::move(bytes));
}

}  // namespace platform::readers
