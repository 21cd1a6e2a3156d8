// SGI images: 1 to 4 channels (grey, grey + alpha, RGB, RGBA) of 8 or 16 bits, verbatim or
// run-length coded, rows stored bottom up. No maintained library for this format is packaged.
#include <algorithm>
#include <cstring>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

std::uint32_t Be16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] << 8 | p[1]); }
std::uint32_t Be32(const std::uint8_t* p) { return Be16(p) << 16 | Be16(p + 2); }

// One run-length coded row of `width` samples of `bpc` bytes from `at`.
bool UnpackRow(const std::uint8_t* d, std::size_t size, std::size_t at, std::size_t length, int bpc, int width,
               std::uint16_t* out) {
    if (at > size || length > size - at) return false;
    const std::uint8_t* p = d + at;
    const std::uint8_t* end = p + length;
    int x = 0;
    auto sample = [&](const std::uint8_t* s) { return static_cast<std::uint16_t>(bpc == 2 ? Be16(s) : *s); };
    while (p + bpc <= end) {
        const std::uint16_t code = sample(p);
        p += bpc;
        const int count = code & 0x7F;
        if (count == 0) break;
        if (x + count > width) return false;
        if (code & 0x80) {
            if (p + count * bpc > end) return false;
            for (int i = 0; i < count; ++i, p += bpc) out[x++] = sample(p);
        } else {
            if (p + bpc > end) return false;
            const std::uint16_t v = sample(p);
            p += bpc;
            for (int i = 0; i < count; ++i) out[x++] = v;
        }
    }
    return x == width;
}

}  // namespace

std::unique_ptr<ImageSource> OpenSgi(Bytes bytes) {
    const std::uint8_t* d = bytes->data();
    const std::size_t size = bytes->size();
    if (size < 512 || Be16(d) != 474) return nullptr;
    const int storage = d[2], bpc = d[3];
    const int dimension = static_cast<int>(Be16(d + 4));
    const int width = static_cast<int>(Be16(d + 6));
    const int height = dimension >= 2 ? static_cast<int>(Be16(d + 8)) : 1;
    const int channels = dimension >= 3 ? static_cast<int>(Be16(d + 10)) : 1;
    const std::uint32_t colormap = Be32(d + 104);
    if ((storage != 0 && storage != 1) || (bpc != 1 && bpc != 2) || width == 0 || height == 0 || channels < 1 ||
        channels > 4 || colormap != 0)
        return nullptr;
    const bool grey = channels <= 2;
    const bool alpha = channels == 2 || channels == 4;
    if (!FitsBitmapCap(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), 4)) return nullptr;
    Bitmap bitmap = Bitmap::Allocate(width, height, grey ? ColorModel::Monochrome : ColorModel::RGB, alpha);
    if (!bitmap) return nullptr;
    const std::uint32_t maximum = bpc == 2 ? std::max<std::uint32_t>(1, Be32(d + 16)) : 255;
    std::vector<std::uint16_t> row(static_cast<std::size_t>(width));
    const std::size_t tableEntries = static_cast<std::size_t>(height) * channels;
    if (storage == 1 && 512 + tableEntries * 8 > size) return nullptr;
    for (int c = 0; c < channels; ++c)
        for (int y = 0; y < height; ++y) {
            const std::size_t line = static_cast<std::size_t>(c) * height + y;
            if (storage == 1) {
                const std::size_t start = Be32(d + 512 + line * 4), length = Be32(d + 512 + tableEntries * 4 + line * 4);
                if (!UnpackRow(d, size, start, length, bpc, width, row.data())) return nullptr;
            } else {
                const std::size_t at = 512 + line * width * bpc;
                if (at + static_cast<std::size_t>(width) * bpc > size) return nullptr;
                for (int x = 0; x < width; ++x)
                    row[x] = static_cast<std::uint16_t>(bpc == 2 ? Be16(d + at + 2 * x) : d[at + x]);
            }
            std::uint8_t* out = bitmap.row(height - 1 - y);  // stored bottom up
            for (int x = 0; x < width; ++x) {
                const std::uint32_t v = std::min<std::uint32_t>(row[x], maximum);
                out[x * channels + c] = static_cast<std::uint8_t>(bpc == 2 ? (v * 255 + maximum / 2) / maximum : v);
            }
        }
    if (alpha)
        for (int y = 0; y < height; ++y) PremultiplyRow(bitmap.row(y), width, channels);
    ImageRepresentation rep;
    rep.bitmap = std::move(bitmap);
    rep.colorKind = grey ? SourceColorKind::Grey : SourceColorKind::RGB;
    rep.bitsPerSample = bpc * 8;
    rep.hasAlpha = alpha;
    rep.metadata = NoMetadata();
    std::vector<ImageRepresentation> reps;
    reps.push_back(std::move(rep));
    return MakeDecodedSource("com.sgi.sgi-image", std::move(reps));
}

}  // namespace platform::readers
