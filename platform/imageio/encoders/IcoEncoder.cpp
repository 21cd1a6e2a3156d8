// Windows icon: a directory of PNG-compressed entries (16, 32, 48 and 256 pixels square).
// Format: Microsoft, "Icons" (ICONDIR / ICONDIRENTRY; PNG entries since Windows Vista). An
// icon is at most 256 pixels a side: the page is scaled to fit each square, keeping its aspect
// ratio, and centred on transparency.
#include <iterator>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/IconPictures.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {

bool EncodeIco(const Bitmap& image, const DestinationProperties&, std::vector<std::uint8_t>& out) {
    static constexpr int kSizes[] = {256, 48, 32, 16};  // largest first: each smaller one is made from it
    constexpr std::size_t kCount = std::size(kSizes);
    if (!raster::IsUsable(image)) return false;
    std::vector<std::vector<std::uint8_t>> pngs(kCount);
    IconPictures pictures(image);
    for (std::size_t i = 0; i < kCount; ++i)
        if (!pictures.Png(kSizes[i], pngs[i])) return false;

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
