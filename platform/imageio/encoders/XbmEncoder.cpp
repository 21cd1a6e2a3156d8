// X bitmap: C source text declaring the width, the height and the bits of a one-bit image
// (least significant bit first, set = black), as the X Window System's XWriteBitmapFile
// writes it (X11 Xlib manual, "Manipulating Bitmaps"). The page is dithered.
#include <cstdio>
#include <string>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {

bool EncodeXbm(const Bitmap& image, const DestinationProperties&, std::vector<std::uint8_t>& out) {
    raster::Pixels grey;
    if (!raster::ToGrey(image, raster::Alpha::Flatten, grey)) return false;
    const std::size_t rowBytes = (static_cast<std::size_t>(grey.width) + 7) / 8;
    const std::vector<std::uint8_t> bits = raster::DitherToBilevel(grey, rowBytes);

    // The encoder never learns the file name: the identifiers take a fixed stem.
    char head[160];
    const int n = std::snprintf(head, sizeof head,
                                "#define image_width %d\n#define image_height %d\nstatic unsigned char image_bits[] = {",
                                grey.width, grey.height);
    out.assign(head, head + n);
    out.reserve(out.size() + bits.size() * 6 + 8);
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < bits.size(); ++i) {
        // DitherToBilevel puts the first pixel in the top bit; X bitmaps want it in the lowest.
        std::uint8_t b = bits[i], r = 0;
        for (int k = 0; k < 8; ++k) r = static_cast<std::uint8_t>(r | (((b >> k) & 1) << (7 - k)));
        const char* sep = i == 0 ? "\n  " : (i % 12 == 0 ? ",\n  " : ", ");
        out.insert(out.end(), sep, sep + std::char_traits<char>::length(sep));
        const char hex[4] = {'0', 'x', kHex[r >> 4], kHex[r & 15]};
        out.insert(out.end(), hex, hex + 4);
    }
    static constexpr char kTail[] = "};\n";
    out.insert(out.end(), kTail, kTail + sizeof kTail - 1);
    return true;
}

}  // namespace platform::encoders
