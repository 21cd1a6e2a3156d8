// Photoshop document: one flattened image, no layers.
// Format: Adobe Photoshop File Formats Specification (header, colour mode data, image resources,
// layer and mask information, image data). Pages wider or taller than 30000 pixels are written as
// the large document variant (version 2), which allows 300000.
#include <algorithm>
#include <iterator>
#include <memory>

#include "platform/BufferPool.h"
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {
namespace {

using bytes::PutBE16;
using bytes::PutBE32;

constexpr int kPsdLimit = 30000;
constexpr int kPsbLimit = 300000;

// Planar channels of the document, 8 bits each, straight alpha last. The planes are page-sized
// buffers from the pool: kept for the next page rather than faulted in afresh.
struct Planes {
    int width = 0, height = 0;
    int mode = 0;  // 1 grey, 3 RGB, 4 CMYK
    std::vector<std::shared_ptr<std::uint8_t>> channel;
};

bool MakePlanes(const Bitmap& image, Planes& p) {
    raster::Pixels px;
    if (!raster::ToNative(image, raster::Alpha::Straight, px)) return false;
    p.width = px.width;
    p.height = px.height;
    p.mode = image.model == ColorModel::Monochrome ? 1 : image.model == ColorModel::CMYK ? 4 : 3;
    const int inks = p.mode == 4 ? 4 : 0;
    const std::size_t count = static_cast<std::size_t>(px.width) * px.height;
    const std::size_t step = static_cast<std::size_t>(px.channels);
    for (int c = 0; c < px.channels; ++c) {
        std::shared_ptr<std::uint8_t> plane = AcquireBuffer(std::max<std::size_t>(count, 1));
        if (!plane) return false;
        std::uint8_t* to = plane.get();
        const std::uint8_t* from = px.data.data() + c;
        if (c < inks) {
            for (std::size_t i = 0; i < count; ++i) to[i] = static_cast<std::uint8_t>(255 - from[i * step]);  // ink stored as 255 = none
        } else {
            for (std::size_t i = 0; i < count; ++i) to[i] = from[i * step];
        }
        p.channel.push_back(std::move(plane));
    }
    return true;
}

}  // namespace

bool EncodePhotoshop(const Bitmap& image, const DestinationProperties& properties,
                     std::vector<std::uint8_t>& out) {
    if (image.width > kPsbLimit || image.height > kPsbLimit) return false;
    Planes planes;
    if (!MakePlanes(image, planes)) return false;
    const bool large = image.width > kPsdLimit || image.height > kPsdLimit;

    static constexpr std::uint8_t kSignature[] = {'8', 'B', 'P', 'S'};
    out.assign(std::begin(kSignature), std::end(kSignature));
    PutBE16(out, large ? 2 : 1);
    out.insert(out.end(), 6, 0);
    PutBE16(out, static_cast<std::uint32_t>(planes.channel.size()));
    PutBE32(out, static_cast<std::uint32_t>(image.height));
    PutBE32(out, static_cast<std::uint32_t>(image.width));
    PutBE16(out, 8);
    PutBE16(out, static_cast<std::uint32_t>(planes.mode));

    PutBE32(out, 0);  // colour mode data: none

    // Image resources: ResolutionInfo (0x03ED), pixels per inch shown in inches.
    PutBE32(out, 28);
    out.insert(out.end(), {'8', 'B', 'I', 'M'});
    PutBE16(out, 0x03ED);
    PutBE16(out, 0);  // empty name, padded to even
    PutBE32(out, 16);
    PutBE32(out, bytes::Fixed16(raster::DpiOr72(properties.dpiWidth)));
    PutBE16(out, 1);
    PutBE16(out, 1);
    PutBE32(out, bytes::Fixed16(raster::DpiOr72(properties.dpiHeight)));
    PutBE16(out, 1);
    PutBE16(out, 1);

    // Layer and mask information: none.
    if (large) PutBE32(out, 0);
    PutBE32(out, 0);

    // Image data, PackBits per row: all row byte counts first, then the rows, channel by channel.
    PutBE16(out, 1);
    const std::size_t countsAt = out.size();
    const std::size_t countSize = large ? 4 : 2;
    const std::size_t rows = planes.channel.size() * static_cast<std::size_t>(image.height);
    out.insert(out.end(), rows * countSize, 0);
    std::size_t row = 0;
    for (const auto& channel : planes.channel) {
        for (int y = 0; y < image.height; ++y, ++row) {
            const std::size_t before = out.size();
            raster::PackBits(channel.get() + static_cast<std::size_t>(y) * image.width, image.width, out);
            const std::size_t length = out.size() - before;
            const std::size_t at = countsAt + row * countSize;
            for (std::size_t b = 0; b < countSize; ++b)
                out[at + b] = static_cast<std::uint8_t>(length >> (8 * (countSize - 1 - b)));
        }
    }
    return true;
}

}  // namespace platform::encoders
