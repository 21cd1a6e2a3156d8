// Photoshop documents (and the large document variant): the flattened composite image that
// follows the layers, in bitmap, grey, indexed, RGB or CMYK mode, 8 or 16 bits a channel, raw or
// PackBits-coded, with the resolution, ICC profile, EXIF and XMP image resources. Layers are not
// read: the composite is the picture. No maintained library for this format is packaged.
#include <algorithm>
#include <cstring>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

struct Cursor {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool ok = true;

    bool Has(std::size_t n) const { return ok && at <= size && n <= size - at; }
    std::uint64_t Be(int bytes) {
        if (!Has(static_cast<std::size_t>(bytes))) {
            ok = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v = v << 8 | data[at++];
        return v;
    }
    void Skip(std::uint64_t n) {
        if (!Has(static_cast<std::size_t>(n)) || n > size) ok = false;
        else at += static_cast<std::size_t>(n);
    }
};

struct Header {
    int version = 1;
    int channels = 0, depth = 0, mode = 0;
    std::uint32_t width = 0, height = 0;
};

bool ReadHeader(Cursor& c, Header& h) {
    if (!c.Has(26) || std::memcmp(c.data, "8BPS", 4) != 0) return false;
    c.at = 4;
    h.version = static_cast<int>(c.Be(2));
    c.Skip(6);
    h.channels = static_cast<int>(c.Be(2));
    h.height = static_cast<std::uint32_t>(c.Be(4));
    h.width = static_cast<std::uint32_t>(c.Be(4));
    h.depth = static_cast<int>(c.Be(2));
    h.mode = static_cast<int>(c.Be(2));
    return c.ok && (h.version == 1 || h.version == 2) && h.channels >= 1 && h.channels <= 56 && h.width && h.height;
}

}  // namespace

std::unique_ptr<ImageSource> OpenPsd(Bytes bytes) {
    Cursor c{bytes->data(), bytes->size()};
    Header h;
    if (!ReadHeader(c, h)) return nullptr;
    if (h.depth != 1 && h.depth != 8 && h.depth != 16) return nullptr;
    int colours;
    switch (h.mode) {
        case 0: case 1: case 2: colours = 1; break;  // bitmap, grey, indexed
        case 3: colours = 3; break;
        case 4: colours = 4; break;
        default: return nullptr;  // multichannel, duotone, Lab
    }
    if (h.channels < colours) return nullptr;
    const bool alpha = h.mode != 0 && h.mode != 2 && h.channels > colours;
    const int outColours = h.mode == 2 ? 3 : colours;
    if (!FitsBitmapCap(h.width, h.height, outColours + 1)) return nullptr;

    const std::uint64_t paletteLength = c.Be(4);
    const std::size_t paletteAt = c.at;
    c.Skip(paletteLength);
    if (h.mode == 2 && paletteLength < 768) return nullptr;

    ImageRepresentation rep;
    auto metadata = std::make_shared<ImageMetadata>();
    const std::uint64_t resourcesLength = c.Be(4);
    const std::size_t resourcesEnd = c.at + static_cast<std::size_t>(std::min<std::uint64_t>(resourcesLength, c.size));
    while (c.ok && c.at + 12 <= resourcesEnd) {
        if (c.Be(4) != 0x3842494D) break;  // "8BIM"
        const int id = static_cast<int>(c.Be(2));
        const std::uint64_t nameLength = c.Be(1);
        c.Skip(nameLength + ((nameLength + 1) % 2));
        const std::uint64_t length = c.Be(4);
        if (!c.Has(static_cast<std::size_t>(length))) break;
        const std::uint8_t* d = c.data + c.at;
        if (id == 0x03ED && length >= 16) {
            // Resolution info: fixed 16.16 pixels per inch (the units say only how it is shown).
            const auto fixed = [&](int at) { return (d[at] << 24 | d[at + 1] << 16 | d[at + 2] << 8 | d[at + 3]) / 65536.0f; };
            const float hRes = fixed(0), vRes = fixed(8);
            if (hRes >= 1 && vRes >= 1) {
                rep.dpiX = hRes;
                rep.dpiY = vRes;
            }
        } else if (id == 0x040F) {
            metadata->icc.assign(d, d + length);
        } else if (id == 0x0422) {
            metadata->exif.assign(d, d + length);
        } else if (id == 0x0424) {
            metadata->xmp.assign(reinterpret_cast<const char*>(d), static_cast<std::size_t>(length));
        }
        c.Skip(length + (length % 2));
    }
    c.at = resourcesEnd;
    c.Skip(c.Be(h.version == 2 ? 8 : 4));  // layer and mask information
    const int compression = static_cast<int>(c.Be(2));
    if (!c.ok || (compression != 0 && compression != 1)) return nullptr;

    const std::size_t rowBytes = h.depth == 1 ? (h.width + 7) / 8 : static_cast<std::size_t>(h.width) * (h.depth / 8);
    const int planes = colours + (alpha ? 1 : 0);
    std::vector<std::uint8_t> plane(rowBytes * h.height);
    const ColorModel model = outColours == 1 ? ColorModel::Monochrome : outColours == 4 ? ColorModel::CMYK : ColorModel::RGB;
    Bitmap bitmap = Bitmap::Allocate(static_cast<int>(h.width), static_cast<int>(h.height), model, alpha);
    if (!bitmap) return nullptr;
    // Row byte counts of every row of every channel come first when the data are PackBits-coded.
    const int countBytes = h.version == 2 ? 4 : 2;
    std::vector<std::uint32_t> counts;
    if (compression == 1) {
        counts.resize(static_cast<std::size_t>(h.height) * h.channels);
        for (std::uint32_t& n : counts) n = static_cast<std::uint32_t>(c.Be(countBytes));
        if (!c.ok) return nullptr;
    }
    for (int ch = 0; ch < planes; ++ch) {
        if (compression == 0) {
            if (!c.Has(plane.size())) return nullptr;
            std::memcpy(plane.data(), c.data + c.at, plane.size());
            c.at += plane.size();
        } else {
            for (std::uint32_t y = 0; y < h.height; ++y) {
                const std::uint32_t n = counts[static_cast<std::size_t>(ch) * h.height + y];
                if (!c.Has(n) || !UnpackBits(c.data + c.at, n, plane.data() + rowBytes * y, rowBytes)) return nullptr;
                c.at += n;
            }
        }
        const int target = ch < colours ? ch : outColours;  // alpha goes last
        for (std::uint32_t y = 0; y < h.height; ++y) {
            const std::uint8_t* src = plane.data() + rowBytes * y;
            std::uint8_t* dst = bitmap.row(static_cast<int>(y));
            for (std::uint32_t x = 0; x < h.width; ++x) {
                unsigned v;
                if (h.depth == 1)
                    v = (src[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;  // set = black
                else if (h.depth == 16)
                    v = Scale16To8(static_cast<unsigned>(src[2 * x] << 8 | src[2 * x + 1]));
                else
                    v = src[x];
                if (h.mode == 4 && ch < 4) v = 255 - v;  // CMYK is stored as 255 = no ink
                if (h.mode == 2) {
                    const std::uint8_t* palette = c.data + paletteAt;
                    for (int k = 0; k < 3; ++k) dst[x * bitmap.components + k] = palette[k * 256 + v];
                } else {
                    dst[x * bitmap.components + target] = static_cast<std::uint8_t>(v);
                }
            }
        }
    }
    if (alpha)
        for (int y = 0; y < bitmap.height; ++y) PremultiplyRow(bitmap.row(y), bitmap.width, bitmap.components);
    rep.bitmap = std::move(bitmap);
    rep.colorKind = h.mode == 2 ? SourceColorKind::Indexed
                    : h.mode == 3 ? SourceColorKind::RGB
                    : h.mode == 4 ? SourceColorKind::CMYK
                                  : SourceColorKind::Grey;
    rep.bitsPerSample = h.depth;
    rep.hasAlpha = alpha;
    rep.metadata = std::move(metadata);
    std::vector<ImageRepresentation> reps;
    reps.push_back(std::move(rep));
    return MakeDecodedSource("com.adobe.photoshop-image", std::move(reps));
}

}  // namespace platform::readers
