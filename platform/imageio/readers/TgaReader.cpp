// Truevision TGA: colour-mapped, true-colour and grey images, plain or run-length coded, 8 to 32
// bits a pixel, any origin. Qt's reader takes no run-length images, so the format is read here.
#include <algorithm>
#include <cstring>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {

std::unique_ptr<ImageSource> OpenTga(Bytes bytes) {
    const std::uint8_t* d = bytes->data();
    const std::size_t n = bytes->size();
    if (n < 18) return nullptr;
    const int idLength = d[0], mapType = d[1], type = d[2];
    const int mapFirst = d[3] | d[4] << 8, mapLength = d[5] | d[6] << 8, mapDepth = d[7];
    const int width = d[12] | d[13] << 8, height = d[14] | d[15] << 8, depth = d[16], descriptor = d[17];
    const bool rle = type >= 9;
    const int base = rle ? type - 8 : type;  // 1 colour-mapped, 2 true colour, 3 grey
    if (base < 1 || base > 3 || width == 0 || height == 0) return nullptr;
    if (base == 1 && (mapType != 1 || depth != 8 || (mapDepth != 15 && mapDepth != 16 && mapDepth != 24 && mapDepth != 32)))
        return nullptr;
    if (base == 2 && depth != 15 && depth != 16 && depth != 24 && depth != 32) return nullptr;
    if (base == 3 && depth != 8 && depth != 16) return nullptr;
    if (!FitsBitmapCap(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), 4)) return nullptr;
    const int alphaBits = descriptor & 0x0F;
    std::size_t at = 18 + static_cast<std::size_t>(idLength);
    const std::size_t mapBytes = mapType == 1 ? static_cast<std::size_t>(mapLength) * ((mapDepth + 7) / 8) : 0;
    if (at + mapBytes > n) return nullptr;
    const std::uint8_t* map = d + at;
    at += mapBytes;

    const int pixelBytes = (depth + 7) / 8;
    const int colourDepth = base == 1 ? mapDepth : depth;
    const bool grey = base == 3;
    const bool alpha = (colourDepth == 32 && alphaBits > 0) || (grey && depth == 16) ||
                       ((colourDepth == 16) && alphaBits == 1);
    // Pixel bytes in storage order, then turned into straight RGBA.
    auto toRgba = [&](const std::uint8_t* p, std::uint8_t* o) {
        const std::uint8_t* c = p;
        int bits = depth;
        if (base == 1) {
            const int index = p[0] - mapFirst;
            if (index < 0 || index >= mapLength) {
                o[0] = o[1] = o[2] = 0;
                o[3] = 255;
                return;
            }
            c = map + static_cast<std::size_t>(index) * ((mapDepth + 7) / 8);
            bits = mapDepth;
        }
        if (grey) {
            o[0] = o[1] = o[2] = c[0];
            o[3] = depth == 16 ? c[1] : 255;
        } else if (bits == 15 || bits == 16) {
            const unsigned v = c[0] | c[1] << 8;
            o[0] = static_cast<std::uint8_t>(((v >> 10) & 31) * 255 / 31);
            o[1] = static_cast<std::uint8_t>(((v >> 5) & 31) * 255 / 31);
            o[2] = static_cast<std::uint8_t>((v & 31) * 255 / 31);
            o[3] = bits == 16 && alpha ? ((v & 0x8000) ? 255 : 0) : 255;
        } else {
            o[0] = c[2];
            o[1] = c[1];
            o[2] = c[0];
            o[3] = bits == 32 && alpha ? c[3] : 255;
        }
    };
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
    const std::size_t total = static_cast<std::size_t>(width) * height;
    std::size_t i = 0;
    while (i < total) {
        if (!rle) {
            if (at + static_cast<std::size_t>(pixelBytes) > n) return nullptr;
            toRgba(d + at, &rgba[i * 4]);
            at += pixelBytes;
            ++i;
            continue;
        }
        if (at >= n) return nullptr;
        const int header = d[at++];
        const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>((header & 0x7F) + 1), total - i);
        if (header & 0x80) {
            if (at + static_cast<std::size_t>(pixelBytes) > n) return nullptr;
            std::uint8_t px[4];
            toRgba(d + at, px);
            at += pixelBytes;
            for (std::size_t k = 0; k < count; ++k, ++i) std::memcpy(&rgba[i * 4], px, 4);
        } else {
            if (at + count * pixelBytes > n) return nullptr;
            for (std::size_t k = 0; k < count; ++k, ++i, at += pixelBytes) toRgba(d + at, &rgba[i * 4]);
        }
    }
    const bool topFirst = descriptor & 0x20, rightFirst = descriptor & 0x10;
    Bitmap bitmap = Bitmap::Allocate(width, height, grey ? ColorModel::Monochrome : ColorModel::RGB, alpha);
    if (!bitmap) return nullptr;
    const int nc = bitmap.components;
    for (int y = 0; y < height; ++y) {
        const int sy = topFirst ? y : height - 1 - y;
        std::uint8_t* out = bitmap.row(y);
        for (int x = 0; x < width; ++x) {
            const int sx = rightFirst ? width - 1 - x : x;
            const std::uint8_t* p = &rgba[(static_cast<std::size_t>(sy) * width + sx) * 4];
            if (grey) {
                out[x * nc] = p[0];
            } else {
                std::memcpy(out + x * nc, p, 3);
            }
            if (alpha) out[x * nc + nc - 1] = p[3];
        }
        if (alpha) PremultiplyRow(out, width, nc);
    }
    ImageRepresentation rep;
    rep.bitmap = std::move(bitmap);
    rep.colorKind = base == 1 ? SourceColorKind::Indexed : grey ? SourceColorKind::Grey : SourceColorKind::RGB;
    rep.bitsPerSample = base == 1 ? 8 : grey ? 8 : colourDepth >= 24 ? 8 : 5;
    rep.hasAlpha = alpha;
    rep.metadata = NoMetadata();
    std::vector<ImageRepresentation> reps;
    reps.push_back(std::move(rep));
    return MakeDecodedSource("com.truevision.tga-image", std::move(reps));
}

}  // namespace platform::readers
