// GIF: grey pages map straight onto a grey palette, colour pages are reduced to a palette by
// giflib's median cut; the file is written here, its codes by our LZW (giflib's took as long as
// drawing the page). A file asked to carry alpha declares a transparent index
// (255, kept out of the palette's colours) that the pixels with alpha below one half take.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/BufferPool.h"
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/LzwStrip.h"
#include "platform/imageio/PixelRows.h"

namespace platform {
namespace {

struct MapDeleter {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

}  // namespace

namespace encoders {

bool EncodeGIF(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    out.clear();
    if (image.width > 65535 || image.height > 65535) return false;
    const bool transparency = properties.hasAlpha || image.hasAlpha;
    const int colours = transparency ? 255 : 256;
    const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;

    // The page-sized buffers come from the pool: kept for the next page, not faulted in afresh.
    const std::shared_ptr<std::uint8_t> indexBuffer = AcquireBuffer(std::max<std::size_t>(pixels, 1));
    if (!indexBuffer) return false;
    GifByteType* const indices = indexBuffer.get();
    std::unique_ptr<ColorMapObject, MapDeleter> map(GifMakeMapObject(256, nullptr));
    if (!map) return false;
    std::memset(map->Colors, 0, sizeof(GifColorType) * 256);

    const bool grey = image.model == ColorModel::Monochrome;
    // Alpha of each pixel, when the bitmap has any: the transparent pixels are marked after the
    // colours are chosen.
    std::vector<std::uint8_t> alpha;
    if (grey) {
        for (int i = 0; i < colours; ++i) {
            const auto v = static_cast<GifByteType>((i * 255 + (colours - 1) / 2) / (colours - 1));
            map->Colors[i] = GifColorType{v, v, v};
        }
        PixelRows rows(image, image.hasAlpha ? PixelLayout::GrayAlpha : PixelLayout::Gray);
        const int step = image.hasAlpha ? 2 : 1;
        if (image.hasAlpha) alpha.resize(pixels);
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t* row = rows.Row(y);
            GifByteType* dest = indices + static_cast<std::size_t>(y) * image.width;
            for (int x = 0; x < image.width; ++x) {
                dest[x] = static_cast<GifByteType>((row[x * step] * (colours - 1) + 127) / 255);
                if (image.hasAlpha) alpha[static_cast<std::size_t>(y) * image.width + x] = row[x * step + 1];
            }
        }
    } else {
        // giflib's quantiser takes the three colour planes apart.
        const std::shared_ptr<std::uint8_t> planes = AcquireBuffer(std::max<std::size_t>(pixels * 3, 1));
        if (!planes) return false;
        GifByteType* red = planes.get();
        GifByteType* green = red + pixels;
        GifByteType* blue = green + pixels;
        PixelRows rows(image, image.hasAlpha ? PixelLayout::RGBA : PixelLayout::RGB);
        const int step = image.hasAlpha ? 4 : 3;
        if (image.hasAlpha) alpha.resize(pixels);
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t* row = rows.Row(y);
            const std::size_t base = static_cast<std::size_t>(y) * image.width;
            for (int x = 0; x < image.width; ++x) {
                red[base + x] = row[x * step];
                green[base + x] = row[x * step + 1];
                blue[base + x] = row[x * step + 2];
                if (image.hasAlpha) alpha[base + x] = row[x * step + 3];
            }
        }
        int size = colours;
        if (GifQuantizeBuffer(static_cast<unsigned>(image.width), static_cast<unsigned>(image.height), &size, red,
                              green, blue, indices, map->Colors) != GIF_OK)
            return false;
        // giflib builds its palette from colours cut to 5 bits a primary (white comes out as
        // 248): each entry becomes the mean of the page's own colours that took it, which is
        // the exact colour wherever an entry holds one colour.
        // Summed a stretch of one index at a time: a page is mostly long stretches of one
        // entry (white), and adding into one entry pixel after pixel waits on each addition.
        std::vector<std::uint64_t> sums(256 * 4, 0);
        for (std::size_t i = 0; i < pixels;) {
            const GifByteType index = indices[i];
            std::uint64_t r = 0, g = 0, b = 0;
            const std::size_t from = i;
            for (; i < pixels && indices[i] == index; ++i) {
                r += red[i];
                g += green[i];
                b += blue[i];
            }
            std::uint64_t* s = &sums[index * 4];
            s[0] += r;
            s[1] += g;
            s[2] += b;
            s[3] += i - from;
        }
        for (int i = 0; i < size; ++i) {
            const std::uint64_t* s = &sums[static_cast<std::size_t>(i) * 4];
            if (s[3] == 0) continue;
            map->Colors[i] = GifColorType{static_cast<GifByteType>((s[0] + s[3] / 2) / s[3]),
                                          static_cast<GifByteType>((s[1] + s[3] / 2) / s[3]),
                                          static_cast<GifByteType>((s[2] + s[3] / 2) / s[3])};
        }
    }
    if (!alpha.empty())
        for (std::size_t i = 0; i < pixels; ++i)
            if (alpha[i] < 128) indices[i] = 255;

    // The file: header, screen with the palette, the transparent index, the picture's codes
    // in sub-blocks of up to 255 bytes, trailer.
    std::vector<std::uint8_t> codes;
    CompressGifLzw(indices, pixels, codes);
    out.reserve(800 + codes.size() + codes.size() / 255 + 2);
    for (char c : std::string_view("GIF89a")) out.push_back(static_cast<std::uint8_t>(c));
    bytes::PutLE16(out, static_cast<unsigned>(image.width));
    bytes::PutLE16(out, static_cast<unsigned>(image.height));
    out.push_back(0xF7);  // a palette of 256 entries follows; 8 bits a primary
    out.push_back(0);     // background: entry 0
    out.push_back(0);     // no aspect ratio given
    for (int i = 0; i < 256; ++i) {
        out.push_back(map->Colors[i].Red);
        out.push_back(map->Colors[i].Green);
        out.push_back(map->Colors[i].Blue);
    }
    if (transparency) {
        // Graphic control: no disposal, no delay, entry 255 transparent.
        for (std::uint8_t b : {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0xFF, 0x00}) out.push_back(b);
    }
    out.push_back(0x2C);  // the picture: at 0, 0, the screen's size, no palette of its own, not interlaced
    bytes::PutLE16(out, 0);
    bytes::PutLE16(out, 0);
    bytes::PutLE16(out, static_cast<unsigned>(image.width));
    bytes::PutLE16(out, static_cast<unsigned>(image.height));
    out.push_back(0);
    out.push_back(8);  // the codes' minimum size
    for (std::size_t at = 0; at < codes.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, codes.size() - at);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), codes.begin() + static_cast<std::ptrdiff_t>(at), codes.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
    out.push_back(0x3B);
    return true;
}

}  // namespace encoders
}  // namespace platform
