// QuickDraw picture, version 2 with the extended header (which carries the resolution), holding
// the page as one DirectBitsRect opcode: 32-bit direct pixels, packed by component (pack type 4,
// rows of red, green and blue runs, PackBits-coded).
// Format: Apple, "Inside Macintosh: Imaging With QuickDraw", appendix A (Picture Opcodes) and the
// PixMap record. Sides are limited to 32767 (QuickDraw coordinates are signed 16-bit); a page
// wider than one PixMap row can hold (4095 pixels) goes in side-by-side strips.
// Readers differ on two thresholds for pack type 4 (whether a row is packed at all, and whether
// its byte count is one byte or two): they count the row as 4 or as 3 bytes a pixel. Strips are
// therefore never 63 to 66 pixels wide, and a PixMap is at least 3 pixels wide (the columns past
// the page repeat its last pixel and lie outside the source rectangle), so both readings agree.
#include <algorithm>

#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/RasterPrep.h"

namespace platform::encoders {
namespace {

using bytes::PutBE16;
using bytes::PutBE32;

constexpr int kStripWidth = 4000;
constexpr int kMinPixMapWidth = 3;

void PutRect(std::vector<std::uint8_t>& o, int width, int height, int left = 0) {
    PutBE16(o, 0);  // top
    PutBE16(o, static_cast<std::uint32_t>(left));
    PutBE16(o, static_cast<std::uint32_t>(height));
    PutBE16(o, static_cast<std::uint32_t>(left + width));
}

// One DirectBitsRect opcode for the columns [left, left + width) of the page (RGB, or grey
// written as RGB).
void PutStrip(const raster::PixelsView& px, int left, int width, std::uint32_t hRes, std::uint32_t vRes,
              std::vector<std::uint8_t>& out) {
    const int h = px.height;
    const int pixmapWidth = std::max(width, kMinPixMapWidth);
    const std::uint32_t rowBytes = static_cast<std::uint32_t>(pixmapWidth) * 4;
    PutBE16(out, 0x009A);
    PutBE32(out, 0x000000FF);  // base address placeholder for direct pixels
    PutBE16(out, 0x8000 | rowBytes);
    PutRect(out, pixmapWidth, h, left);  // bounds
    PutBE16(out, 0);      // PixMap version
    PutBE16(out, 4);      // packed by component
    PutBE32(out, 0);      // pack size
    PutBE32(out, hRes);
    PutBE32(out, vRes);
    PutBE16(out, 16);     // RGB direct
    PutBE16(out, 32);     // bits per pixel
    PutBE16(out, 3);      // components
    PutBE16(out, 8);      // bits per component
    PutBE32(out, 0);      // plane bytes
    PutBE32(out, 0);      // colour table
    PutBE32(out, 0);      // reserved
    PutRect(out, width, h, left);  // source rectangle
    PutRect(out, width, h, left);  // destination rectangle
    PutBE16(out, 0);      // transfer mode: srcCopy

    std::vector<std::uint8_t> planes(static_cast<std::size_t>(pixmapWidth) * 3);
    std::vector<std::uint8_t> packed;
    for (int y = 0; y < h; ++y) {
        const int n = px.channels;
        const std::uint8_t* src = px.row(y) + static_cast<std::size_t>(left) * n;
        for (int x = 0; x < pixmapWidth; ++x)
            for (int c = 0; c < 3; ++c)
                planes[static_cast<std::size_t>(c) * pixmapWidth + x] = src[std::min(x, width - 1) * n + (n == 1 ? 0 : c)];
        packed.clear();
        raster::PackBits(planes.data(), planes.size(), packed);
        if (rowBytes > 250)
            PutBE16(out, static_cast<std::uint32_t>(packed.size()));
        else
            out.push_back(static_cast<std::uint8_t>(packed.size()));
        out.insert(out.end(), packed.begin(), packed.end());
    }
    if (out.size() % 2) out.push_back(0);  // opcodes start on even offsets
}

}  // namespace

bool EncodePict(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    if (image.width > 32767 || image.height > 32767) return false;
    // An opaque RGB or grey page as its rows lie, any other converted to RGB.
    raster::Pixels converted;
    const raster::PixelsView px = raster::RowsAsTheyLieOr(image, raster::Alpha::Flatten, false, converted);
    if (!px.data) return false;
    const int w = px.width, h = px.height;
    const std::uint32_t hRes = bytes::Fixed16(raster::DpiOr72(properties.dpiWidth));
    const std::uint32_t vRes = bytes::Fixed16(raster::DpiOr72(properties.dpiHeight));

    out.assign(512, 0);  // the file header, reserved for the application
    PutBE16(out, 0);     // picture size: set below (low 16 bits)
    PutRect(out, w, h);  // picture frame
    PutBE16(out, 0x0011);  // version
    PutBE16(out, 0x02FF);
    PutBE16(out, 0x0C00);  // extended version 2 header
    PutBE16(out, 0xFFFE);
    PutBE16(out, 0);
    PutBE32(out, hRes);
    PutBE32(out, vRes);
    PutRect(out, w, h);  // optimal source rectangle
    PutBE32(out, 0);
    PutBE16(out, 0x001E);  // default highlight
    PutBE16(out, 0x0001);  // clip region: the frame
    PutBE16(out, 10);
    PutRect(out, w, h);

    for (int left = 0, width; left < w; left += width) {
        width = std::min(kStripWidth, w - left);
        if (width >= 63 && width <= 66) width = 40;
        PutStrip(px, left, width, hRes, vRes, out);
    }
    PutBE16(out, 0x00FF);  // end of picture

    const std::size_t size = out.size() - 512;
    out[512] = static_cast<std::uint8_t>(size >> 8);
    out[513] = static_cast<std::uint8_t>(size);
    return true;
}

}  // namespace platform::encoders
