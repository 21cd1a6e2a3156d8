// Windows icon: a directory of PNG-compressed entries (16, 32, 48 and 256 pixels square).
// Format: Microsoft, "Icons" (ICONDIR / ICONDIRENTRY; PNG entries since Windows Vista). An
// icon is at most 256 pixels a side: the page is scaled to fit each square, keeping its aspect
// ratio, and centred on transparency.
#include <iterator>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/PngWriter.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {

bool EncodeIco(const Bitmap& image, const DestinationProperties&, std::vector<std::uint8_t>& out) {
    static constexpr int kSizes[] = {256, 48, 32, 16};  // largest first: each smaller one is made from it
    constexpr std::size_t kCount = std::size(kSizes);
    raster::Pixels page;
    if (!raster::ToPremultipliedRgba(image, page)) return false;
    const std::uint8_t clear[4] = {0, 0, 0, 0};

    std::vector<std::vector<std::uint8_t>> pngs(kCount);
    raster::Pixels largest;
    for (std::size_t i = 0; i < kCount; ++i) {
        raster::Pixels icon = raster::FitCentred(i ? largest : page, kSizes[i], kSizes[i], true, clear);
        if (i == 0) largest = icon;
        if (!EncodePngPixels(icon, {}, pngs[i])) return false;
    }

    out.clear();
    bytes::PutLE16(out, 0);  // reserved
    bytes::PutLE16(out, 1);  // icon
    bytes::PutLE16(out, kCount);
    std::size_t offset = 6 + 16 * kCount;
    for (std::size_t i = 0; i < kCount; ++i) {
        const std::uint8_t side = static_cast<std::uint8_t>(kSizes[i] & 0xFF);  // 0 means 256
        out.insert(out.end(), {side, side, 0, 0});
        bytes::PutLE16(out, 1);   // colour planes
        bytes::PutLE16(out, 32);  // bits per pixel
        bytes::PutLE32(out, static_cast<std::uint32_t>(pngs[i].size()));
        bytes::PutLE32(out, static_cast<std::uint32_t>(offset));
        offset += pngs[i].size();
    }
    for (const auto& png : pngs) out.insert(out.end(), png.begin(), png.end());
    return true;
}

}  // namespace platform::encoders
