// Truevision TGA: run-length encoded true colour (type 10) or grey (type 11), rows stored top
// first, with the version 2 extension area and footer.
// Format: Truevision TGA File Format Specification, version 2.0. Sides are limited to 65535.
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {
namespace {

using bytes::PutLE16;
using bytes::PutLE32;

// One row as run-length packets that do not cross into the next row.
void EncodeRow(const std::uint8_t* px, int width, int size, std::vector<std::uint8_t>& out) {
    auto same = [&](int a, int b) {
        for (int c = 0; c < size; ++c)
            if (px[a * size + c] != px[b * size + c]) return false;
        return true;
    };
    int x = 0;
    while (x < width) {
        int run = 1;
        while (x + run < width && run < 128 && same(x, x + run)) ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
            out.insert(out.end(), px + x * size, px + (x + 1) * size);
            x += run;
            continue;
        }
        int len = 1;
        while (x + len < width && len < 128 && !(x + len + 1 < width && same(x + len, x + len + 1))) ++len;
        out.push_back(static_cast<std::uint8_t>(len - 1));
        out.insert(out.end(), px + x * size, px + (x + len) * size);
        x += len;
    }
}

}  // namespace

bool EncodeTga(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    if (image.width > 65535 || image.height > 65535) return false;
    raster::Pixels px;
    const bool grey = image.model == ColorModel::Monochrome && !image.hasAlpha;
    if (!(grey ? raster::ToGrey(image, raster::Alpha::Flatten, px) : raster::ToRgb(image, raster::Alpha::Straight, px)))
        return false;
    const bool alpha = px.channels == 4;
    // Colour samples are stored blue, green, red (, alpha).
    if (!grey)
        for (std::size_t i = 0; i + 2 < px.data.size(); i += px.channels) std::swap(px.data[i], px.data[i + 2]);

    out.clear();
    out.push_back(0);                  // no image identification field
    out.push_back(0);                  // no colour map
    out.push_back(grey ? 11 : 10);     // run-length encoded grey / true colour
    out.insert(out.end(), 5, 0);       // colour map specification
    PutLE16(out, 0);                   // x origin
    PutLE16(out, 0);                   // y origin
    PutLE16(out, static_cast<std::uint32_t>(image.width));
    PutLE16(out, static_cast<std::uint32_t>(image.height));
    out.push_back(static_cast<std::uint8_t>(px.channels * 8));
    out.push_back(static_cast<std::uint8_t>(0x20 | (alpha ? 8 : 0)));  // top-left origin, alpha bits

    for (int y = 0; y < px.height; ++y) EncodeRow(px.row(y), px.width, px.channels, out);

    // Extension area: its size, empty text fields, the pixel aspect ratio from the resolution,
    // and the attribute type (3: straight alpha, 0: none).
    const std::size_t extensionAt = out.size();
    std::vector<std::uint8_t> ext(495, 0);
    ext[0] = 495 & 0xFF;
    ext[1] = 495 >> 8;
    const float dpiX = raster::DpiOr72(properties.dpiWidth), dpiY = raster::DpiOr72(properties.dpiHeight);
    if (dpiX != dpiY) {
        // Pixel width : height = dpiY : dpiX, in hundredths.
        const auto num = static_cast<std::uint32_t>(dpiY * 100.0f + 0.5f);
        const auto den = static_cast<std::uint32_t>(dpiX * 100.0f + 0.5f);
        if (num <= 65535 && den <= 65535 && num && den) {
            ext[474] = num & 0xFF;
            ext[475] = static_cast<std::uint8_t>(num >> 8);
            ext[476] = den & 0xFF;
            ext[477] = static_cast<std::uint8_t>(den >> 8);
        }
    }
    ext[494] = alpha ? 3 : 0;
    out.insert(out.end(), ext.begin(), ext.end());

    PutLE32(out, static_cast<std::uint32_t>(extensionAt));
    PutLE32(out, 0);  // no developer area
    static constexpr char kSignature[] = "TRUEVISION-XFILE.";
    out.insert(out.end(), kSignature, kSignature + sizeof kSignature);  // with its final NUL
    return true;
}

}  // namespace platform::encoders
