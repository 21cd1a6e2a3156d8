// Apple icon image: PNG-compressed entries at the standard square sizes, 16 to 1024 pixels,
// with the Retina ("@2x") entries pointing at the same pictures.
// Format: the 'icns' resource layout (type and big-endian length per entry; entry types icp4,
// icp5, icp6, ic07-ic14 hold PNG data). The page is scaled to fit each square, keeping its
// aspect ratio, and centred on transparency.
#include <functional>
#include <map>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/IconPictures.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {

bool EncodeIcns(const Bitmap& image, const DestinationProperties&, std::vector<std::uint8_t>& out) {
    struct Entry {
        char type[5];
        int side;
    };
    static constexpr Entry kEntries[] = {
        {"icp4", 16},  {"ic11", 32},  {"icp5", 32},  {"ic12", 64},  {"icp6", 64},   {"ic07", 128},
        {"ic13", 256}, {"ic08", 256}, {"ic14", 512}, {"ic09", 512}, {"ic10", 1024},
    };
    if (!raster::IsUsable(image)) return false;
    // Largest first: each smaller square is made from the 1024-pixel one.
    std::map<int, std::vector<std::uint8_t>, std::greater<int>> pngs;  // by side
    for (const Entry& e : kEntries) pngs[e.side];
    IconPictures pictures(image);
    for (auto& [side, png] : pngs)
        if (!pictures.Png(side, png)) return false;

    out.assign({'i', 'c', 'n', 's', 0, 0, 0, 0});
    for (const Entry& e : kEntries) {
        const std::vector<std::uint8_t>& png = pngs[e.side];
        out.insert(out.end(), e.type, e.type + 4);
        bytes::PutBE32(out, static_cast<std::uint32_t>(png.size() + 8));
        out.insert(out.end(), png.begin(), png.end());
    }
    bytes::SetBE32(out, 4, static_cast<std::uint32_t>(out.size()));
    return true;
}

}  // namespace platform::encoders
