// SGI image (IRIS RGB): run-length encoded, 8 bits per channel, grey, RGB or RGBA planes.
// Format: "The SGI Image File Format", version 1.00, Paul Haeberli (512-byte header, offset and
// length tables, rows stored bottom first). Sides are limited to 65535.
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {
namespace {

using bytes::PutBE16;
using bytes::PutBE32;

// One channel row: a count byte with the top bit set copies that many bytes, without it repeats
// the next byte; a zero ends the row.
void EncodeRow(const std::vector<std::uint8_t>& row, std::vector<std::uint8_t>& out) {
    const std::size_t n = row.size();
    std::size_t i = 0;
    while (i < n) {
        std::size_t run = 1;
        while (i + run < n && run < 127 && row[i + run] == row[i]) ++run;
        if (run >= 3) {
            out.push_back(static_cast<std::uint8_t>(run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        std::size_t len = 0;
        while (i + len < n && len < 127) {
            if (i + len + 2 < n && row[i + len] == row[i + len + 1] && row[i + len] == row[i + len + 2]) break;
            ++len;
        }
        out.push_back(static_cast<std::uint8_t>(0x80 | len));
        out.insert(out.end(), row.begin() + static_cast<std::ptrdiff_t>(i),
                   row.begin() + static_cast<std::ptrdiff_t>(i + len));
        i += len;
    }
    out.push_back(0);
}

}  // namespace

bool EncodeSgi(const Bitmap& image, const DestinationProperties&, std::vector<std::uint8_t>& out) {
    if (image.width > 65535 || image.height > 65535) return false;
    raster::Pixels px;
    const bool grey = image.model == ColorModel::Monochrome && !image.hasAlpha;
    if (!(grey ? raster::ToGrey(image, raster::Alpha::Flatten, px) : raster::ToRgb(image, raster::Alpha::Straight, px)))
        return false;
    const int z = px.channels;

    out.clear();
    PutBE16(out, 474);                       // magic
    out.push_back(1);                        // run-length encoded
    out.push_back(1);                        // one byte per sample
    PutBE16(out, z == 1 ? 2 : 3);            // dimension
    PutBE16(out, static_cast<std::uint32_t>(px.width));
    PutBE16(out, static_cast<std::uint32_t>(px.height));
    PutBE16(out, static_cast<std::uint32_t>(z));
    PutBE32(out, 0);                         // minimum sample
    PutBE32(out, 255);                       // maximum sample
    out.resize(512, 0);                      // dummy, empty name, normal colour map, padding

    const std::size_t rows = static_cast<std::size_t>(px.height) * z;
    const std::size_t tablesAt = out.size();
    out.resize(tablesAt + rows * 8, 0);
    std::vector<std::uint8_t> row(px.width);
    for (int c = 0; c < z; ++c) {
        for (int y = 0; y < px.height; ++y) {
            const std::uint8_t* src = px.row(px.height - 1 - y);  // bottom row first
            for (int x = 0; x < px.width; ++x) row[x] = src[x * z + c];
            const std::size_t start = out.size();
            EncodeRow(row, out);
            const std::size_t index = static_cast<std::size_t>(c) * px.height + y;
            bytes::SetBE32(out, tablesAt + index * 4, static_cast<std::uint32_t>(start));
            bytes::SetBE32(out, tablesAt + rows * 4 + index * 4, static_cast<std::uint32_t>(out.size() - start));
        }
    }
    return true;
}

}  // namespace platform::encoders
