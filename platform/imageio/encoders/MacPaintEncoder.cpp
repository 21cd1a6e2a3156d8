// MacPaint document: always 576 × 720 pixels, one bit per pixel (set = black), 72 bytes a row,
// each row PackBits-coded, after a 512-byte header (version 0: the default fill patterns).
// Format: Apple Technical Note PT24, "MacPaint Document Format". The page is dithered, shrunk
// to fit when larger (never enlarged), and centred on white.
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {

bool EncodeMacPaint(const Bitmap& image, const DestinationProperties&, std::vector<std::uint8_t>& out) {
    constexpr int kWidth = 576, kHeight = 720, kRowBytes = kWidth / 8;
    raster::Pixels grey;
    if (!raster::ToGrey(image, raster::Alpha::Flatten, grey)) return false;
    const std::uint8_t white = 255;
    const raster::Pixels page = raster::FitCentred(grey, kWidth, kHeight, false, &white);
    const std::vector<std::uint8_t> bits = raster::DitherToBilevel(page, kRowBytes);

    out.assign(512, 0);
    for (int y = 0; y < kHeight; ++y)
        raster::PackBits(bits.data() + static_cast<std::size_t>(y) * kRowBytes, kRowBytes, out);
    return true;
}

}  // namespace platform::encoders
