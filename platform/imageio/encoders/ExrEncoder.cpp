// OpenEXR image, written by the OpenEXR library: half-float RGB(A), or luminance Y(A) for a grey
// page, ZIP-compressed. EXR holds linear light with premultiplied alpha and Rec. 709 (sRGB)
// primaries, so the page's sRGB samples are linearised: a viewer, which applies the display
// transform to EXR data, then shows the page as rendered. The resolution goes in the standard
// xDensity and pixelAspectRatio attributes.
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfStandardAttributes.h>

#include <cmath>
#include <cstring>
#include <exception>

#include "platform/imageio/encoders/Encoders.h"
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
    raster::Pixels px;
    const bool grey = image.model == ColorModel::Monochrome;
    if (!(grey ? raster::ToGrey(image, raster::Alpha::Straight, px) : raster::ToRgb(image, raster::Alpha::Straight, px)))
        return false;
    const bool alpha = image.hasAlpha;
    const int colours = grey ? 1 : 3;

    float linear[256];
    for (int i = 0; i < 256; ++i) linear[i] = SrgbToLinear(i / 255.0f);
    const std::size_t count = static_cast<std::size_t>(px.width) * px.height;
    std::vector<Imf::Rgba> pixels;
    try {
        pixels.resize(count);
    } catch (const std::exception&) {
        return false;
    }
    if (!alpha) {
        // Opaque: each sample's half straight from a table of the 256 codes.
        half table[256];
        for (int i = 0; i < 256; ++i) table[i] = half(linear[i]);
        const half one(1.0f);
        const int step = px.channels;
        const std::uint8_t* p = px.data.data();
        for (std::size_t i = 0; i < count; ++i, p += step) {
            Imf::Rgba& o = pixels[i];
            o.r = table[p[0]];
            o.g = table[p[grey ? 0 : 1]];
            o.b = table[p[grey ? 0 : 2]];
            o.a = one;
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = &px.data[i * px.channels];
            const float a = p[colours] / 255.0f;
            float rgb[3];
            for (int c = 0; c < 3; ++c) rgb[c] = linear[p[grey ? 0 : c]] * a;  // premultiplied, linear
            pixels[i] = Imf::Rgba(rgb[0], rgb[1], rgb[2], a);
        }
    }

    out.clear();
    try {
        Imf::Header header(px.width, px.height);
        header.compression() = Imf::ZIP_COMPRESSION;
        const float dpiX = raster::DpiOr72(properties.dpiWidth), dpiY = raster::DpiOr72(properties.dpiHeight);
        Imf::addXDensity(header, dpiX);
        header.pixelAspectRatio() = dpiY / dpiX;
        const Imf::RgbaChannels channels = grey ? (alpha ? Imf::WRITE_YA : Imf::WRITE_Y)
                                                : (alpha ? Imf::WRITE_RGBA : Imf::WRITE_RGB);
        MemoryStream stream(out);
        Imf::RgbaOutputFile file(stream, header, channels);
        file.setFrameBuffer(pixels.data(), 1, static_cast<std::size_t>(px.width));
        file.writePixels(px.height);
    } catch (const std::exception&) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace platform::encoders
