// OpenEXR image, written by the OpenEXR library: half-float RGB(A), or luminance Y(A) for a grey
// page, ZIP-compressed. EXR holds linear light with premultiplied alpha and Rec. 709 (sRGB)
// primaries, so the page's sRGB samples are linearised: a viewer, which applies the display
// transform to EXR data, then shows the page as rendered. The resolution goes in the standard
// xDensity and pixelAspectRatio attributes.
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfStandardAttributes.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {
namespace {

class MemoryStream : public Imf::OStream {
public:
    explicit MemoryStream(std::vector<std::uint8_t>& out) : Imf::OStream("memory"), out_(out) {}
    void write(const char c[], int n) override {
        if (pos_ + n > out_.size()) out_.resize(pos_ + n);
        std::memcpy(out_.data() + pos_, c, static_cast<std::size_t>(n));
        pos_ += n;
    }
    std::uint64_t tellp() override { return pos_; }
    void seekp(std::uint64_t pos) override { pos_ = pos; }

private:
    std::vector<std::uint8_t>& out_;
    std::uint64_t pos_ = 0;
};

float SrgbToLinear(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }

}  // namespace

bool EncodeOpenExr(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    if (!raster::IsUsable(image)) return false;
    const bool grey = image.model == ColorModel::Monochrome;
    const bool alpha = image.hasAlpha;
    const int colours = grey ? 1 : 3;
    // The rows as grey or RGB (CMYK made RGB), alpha straight, read a band at a time below.
    const PixelLayout layout = LayoutFor(image, false, false);
    const int step = BytesPerPixel(layout);

    float linear[256];
    for (int i = 0; i < 256; ++i) linear[i] = SrgbToLinear(i / 255.0f);
    half table[256];  // an opaque sample's half, straight from its code
    for (int i = 0; i < 256; ++i) table[i] = half(linear[i]);
    const half one(1.0f);

    // A band of rows at a time goes to the library (a multiple of the 16 rows it compresses
    // together): the half-float picture, 8 bytes a pixel, is never whole in memory.
    constexpr int kBandRows = 64;
    const std::size_t width = static_cast<std::size_t>(image.width);
    std::vector<Imf::Rgba> band;
    try {
        band.resize(width * static_cast<std::size_t>(std::min(kBandRows, image.height)));
    } catch (const std::exception&) {
        return false;
    }

    out.clear();
    try {
        Imf::Header header(image.width, image.height);
        header.compression() = Imf::ZIP_COMPRESSION;
        const float dpiX = raster::DpiOr72(properties.dpiWidth), dpiY = raster::DpiOr72(properties.dpiHeight);
        Imf::addXDensity(header, dpiX);
        header.pixelAspectRatio() = dpiY / dpiX;
        const Imf::RgbaChannels channels = grey ? (alpha ? Imf::WRITE_YA : Imf::WRITE_Y)
                                                : (alpha ? Imf::WRITE_RGBA : Imf::WRITE_RGB);
        MemoryStream stream(out);
        Imf::RgbaOutputFile file(stream, header, channels);
        PixelRows rows(image, layout);
        for (int y0 = 0; y0 < image.height; y0 += kBandRows) {
            const int n = std::min(kBandRows, image.height - y0);
            for (int y = 0; y < n; ++y) {
                const std::uint8_t* p = rows.Row(y0 + y);
                Imf::Rgba* o = band.data() + static_cast<std::size_t>(y) * width;
                if (!alpha) {
                    for (std::size_t x = 0; x < width; ++x, p += step, ++o) {
                        o->r = table[p[0]];
                        o->g = table[p[grey ? 0 : 1]];
                        o->b = table[p[grey ? 0 : 2]];
                        o->a = one;
                    }
                } else {
                    for (std::size_t x = 0; x < width; ++x, p += step, ++o) {
                        const float a = p[colours] / 255.0f;
                        float rgb[3];
                        for (int c = 0; c < 3; ++c) rgb[c] = linear[p[grey ? 0 : c]] * a;  // premultiplied, linear
                        *o = Imf::Rgba(rgb[0], rgb[1], rgb[2], a);
                    }
                }
            }
            // The library finds pixel (x, y) at base + x + y * width: the band's first row is y0.
            const auto base = reinterpret_cast<Imf::Rgba*>(reinterpret_cast<std::uintptr_t>(band.data()) -
                                                           static_cast<std::uintptr_t>(y0) * width * sizeof(Imf::Rgba));
            file.setFrameBuffer(base, 1, width);
            file.writePixels(n);
        }
    } catch (const std::exception&) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace platform::encoders
