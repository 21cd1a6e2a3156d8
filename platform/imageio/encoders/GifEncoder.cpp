// GIF through giflib: grey pages map straight onto a grey palette, colour pages are reduced to
// a palette by giflib's median cut. A file asked to carry alpha declares a transparent index
// (255, kept out of the palette's colours) that the pixels with alpha below one half take.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PixelRows.h"

namespace platform {
namespace {

int WriteToVector(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    try {
        out->insert(out->end(), data, data + length);
        return length;
    } catch (...) {
        return 0;
    }
}

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

    std::unique_ptr<GifByteType[]> indices(new (std::nothrow) GifByteType[pixels]);
    if (!indices) return false;
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
            GifByteType* dest = indices.get() + static_cast<std::size_t>(y) * image.width;
            for (int x = 0; x < image.width; ++x) {
                dest[x] = static_cast<GifByteType>((row[x * step] * (colours - 1) + 127) / 255);
                if (image.hasAlpha) alpha[static_cast<std::size_t>(y) * image.width + x] = row[x * step + 1];
            }
        }
    } else {
        // giflib's quantiser takes the three colour planes apart.
        std::unique_ptr<GifByteType[]> planes(new (std::nothrow) GifByteType[pixels * 3]);
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
                              green, blue, indices.get(), map->Colors) != GIF_OK)
            return false;
        // giflib builds its palette from colours cut to 5 bits a primary (white comes out as
        // 248): each entry becomes the mean of the page's own colours that took it, which is
        // the exact colour wherever an entry holds one colour.
        std::vector<std::uint64_t> sums(256 * 4, 0);
        for (std::size_t i = 0; i < pixels; ++i) {
            std::uint64_t* s = &sums[indices[i] * 4];
            s[0] += red[i];
            s[1] += green[i];
            s[2] += blue[i];
            ++s[3];
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

    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToVector, &error);
    if (!gif) return false;
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, image.width, image.height, 8, 0, map.get()) == GIF_OK;
    if (ok && transparency) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.DelayTime = 0;
        gcb.TransparentColor = 255;
        GifByteType extension[4];
        const size_t length = EGifGCBToExtension(&gcb, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < image.height; ++y)
        ok = EGifPutLine(gif, indices.get() + static_cast<std::size_t>(y) * image.width, image.width) == GIF_OK;
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    return ok && !out.empty();
}

}  // namespace encoders
}  // namespace platform
