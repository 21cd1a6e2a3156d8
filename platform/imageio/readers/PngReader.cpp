// PNG through libspng: every colour type and depth, transparency chunks as alpha, 16-bit samples
// scaled to 8, the resolution from pHYs and the ICC profile, EXIF and XMP chunks. The common
// 8-bit grey and truecolour images without interlacing have their image data inflated by
// libdeflate in one call (several times faster than the zlib stream libspng reads through) and
// unfiltered in place; libspng still reads their header and chunks.
#include <libdeflate.h>
#include <spng.h>

#include <cstdlib>

#include <cmath>
#include <cstring>
#include <memory>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

struct SpngFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, SpngFree>;

Context OpenContext(const Bytes& bytes) {
    Context ctx(spng_ctx_new(0));
    if (!ctx) return nullptr;
    spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE);
    spng_set_chunk_limits(ctx.get(), std::size_t{64} << 20, std::size_t{256} << 20);
    if (spng_set_png_buffer(ctx.get(), bytes->data(), bytes->size()) != 0) return nullptr;
    return ctx;
}

void ReadMetadata(spng_ctx* ctx, ImageRepresentation& rep) {
    auto metadata = std::make_shared<ImageMetadata>();
    spng_iccp iccp{};
    if (spng_get_iccp(ctx, &iccp) == 0 && iccp.profile && iccp.profile_len)
        metadata->icc.assign(iccp.profile, iccp.profile + iccp.profile_len);
    spng_exif exif{};
    if (spng_get_exif(ctx, &exif) == 0 && exif.data && exif.length) {
        const auto* d = reinterpret_cast<const std::uint8_t*>(exif.data);
        metadata->exif.assign(d, d + exif.length);
    }
    std::uint32_t texts = 0;
    if (spng_get_text(ctx, nullptr, &texts) == 0 && texts > 0) {
        std::vector<spng_text> text(texts);
        if (spng_get_text(ctx, text.data(), &texts) == 0)
            for (const spng_text& t : text)
                if (std::strcmp(t.keyword, "XML:com.adobe.xmp") == 0 && t.text) metadata->xmp.assign(t.text, t.length);
    }
    spng_phys phys{};
    if (spng_get_phys(ctx, &phys) == 0 && phys.unit_specifier == 1 && phys.ppu_x && phys.ppu_y) {
        rep.dpiX = static_cast<float>(phys.ppu_x * 0.0254);
        rep.dpiY = static_cast<float>(phys.ppu_y * 0.0254);
    }
    if (!metadata->exif.empty()) rep.orientation = std::max(1, ReadExifFacts(metadata->exif.data(), metadata->exif.size()).orientation);
    rep.metadata = std::move(metadata);
}

std::uint32_t Be32(const std::uint8_t* p) { return std::uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

inline std::uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Reverses the filter of one row in place (`prev` the row above, unfiltered, or null).
bool Unfilter(int filter, std::uint8_t* row, const std::uint8_t* prev, std::size_t n, int bpp) {
    const std::size_t b = static_cast<std::size_t>(bpp);
    switch (filter) {
        case 0: return true;
        case 1:
            for (std::size_t i = b; i < n; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - b]);
            return true;
        case 2:
            if (prev)
                for (std::size_t i = 0; i < n; ++i) row[i] = static_cast<std::uint8_t>(row[i] + prev[i]);
            return true;
        case 3:
            for (std::size_t i = 0; i < n; ++i) {
                const int left = i >= b ? row[i - b] : 0, up = prev ? prev[i] : 0;
                row[i] = static_cast<std::uint8_t>(row[i] + ((left + up) >> 1));
            }
            return true;
        case 4:
            if (!prev) {
                for (std::size_t i = b; i < n; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - b]);
                return true;
            }
            for (std::size_t i = 0; i < b && i < n; ++i) row[i] = static_cast<std::uint8_t>(row[i] + prev[i]);
            for (std::size_t i = b; i < n; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + Paeth(row[i - b], prev[i], prev[i - b]));
            return true;
        default: return false;
    }
}

// The fast path: false when the file is not of the kind it takes (or its data are damaged), for
// libspng to read instead.
bool DecodeFast(const Bytes& bytes, const spng_ihdr& ihdr, int components, Bitmap& bitmap) {
    const std::uint8_t* d = bytes->data();
    const std::size_t n = bytes->size();
    // The IDAT chunks, and no chunk after them but IEND (chunks there are libspng's to read).
    std::vector<std::pair<std::size_t, std::size_t>> idat;
    for (std::size_t at = 8; at + 12 <= n;) {
        const std::size_t length = Be32(d + at);
        if (length > n - at - 12) return false;
        if (std::memcmp(d + at + 4, "IEND", 4) == 0) break;
        if (std::memcmp(d + at + 4, "IDAT", 4) == 0)
            idat.emplace_back(at + 8, length);
        else if (!idat.empty())
            return false;
        at += 12 + length;
    }
    if (idat.empty()) return false;
    std::shared_ptr<std::uint8_t> joined;
    const std::uint8_t* stream = d + idat[0].first;
    std::size_t streamSize = idat[0].second;
    if (idat.size() > 1) {
        streamSize = 0;
        for (const auto& chunk : idat) streamSize += chunk.second;
        joined.reset(AllocateLarge(streamSize), std::free);
        if (!joined) return false;
        std::size_t to = 0;
        for (const auto& [at, length] : idat) {
            std::memcpy(joined.get() + to, d + at, length);
            to += length;
        }
        stream = joined.get();
    }
    const std::size_t rowBytes = static_cast<std::size_t>(ihdr.width) * components;
    const std::size_t stride = rowBytes + 1;
    const std::size_t size = stride * ihdr.height;
    std::uint8_t* memory = AllocateLarge(size);
    if (!memory) return false;
    std::shared_ptr<void> owner(memory, std::free);
    std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> inflater(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!inflater || libdeflate_zlib_decompress(inflater.get(), stream, streamSize, memory, size, nullptr) !=
                         LIBDEFLATE_SUCCESS)
        return false;
    joined.reset();
    for (std::uint32_t y = 0; y < ihdr.height; ++y) {
        std::uint8_t* row = memory + stride * y;
        if (!Unfilter(row[0], row + 1, y ? row + 1 - stride : nullptr, rowBytes, components)) return false;
    }
    bitmap.width = static_cast<int>(ihdr.width);
    bitmap.height = static_cast<int>(ihdr.height);
    bitmap.model = components <= 2 ? ColorModel::Monochrome : ColorModel::RGB;
    bitmap.hasAlpha = components == 2 || components == 4;
    bitmap.components = components;
    bitmap.stride = static_cast<std::ptrdiff_t>(stride);
    bitmap.data = memory + 1;
    bitmap.owner = std::move(owner);
    return true;
}

bool Decode(const Bytes& bytes, ImageRepresentation& rep) {
    Context ctx = OpenContext(bytes);
    if (!ctx) return false;
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0) return false;
    spng_trns trns{};
    const bool hasTrns = spng_get_trns(ctx.get(), &trns) == 0;
    const bool grey = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    const bool alpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                       ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || hasTrns;
    const bool wide = ihdr.bit_depth == 16;
    const int components = (grey ? 1 : 3) + (alpha ? 1 : 0);
    if (!FitsBitmapCap(ihdr.width, ihdr.height, components * (wide ? 2 : 1))) return false;

    int format;
    if (grey)
        format = alpha ? (wide ? SPNG_FMT_GA16 : SPNG_FMT_GA8) : (wide ? SPNG_FMT_PNG : SPNG_FMT_G8);
    else
        format = alpha ? (wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8) : (wide ? SPNG_FMT_PNG : SPNG_FMT_RGB8);
    const int decodedComponents = components;

    Bitmap bitmap;
    const bool fast = ihdr.bit_depth == 8 && ihdr.interlace_method == 0 && !hasTrns &&
                      ihdr.color_type != SPNG_COLOR_TYPE_INDEXED && spng_decode_chunks(ctx.get()) == 0 &&
                      DecodeFast(bytes, ihdr, components, bitmap);
    if (!fast) {
        bitmap = Bitmap::Allocate(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height),
                                  grey ? ColorModel::Monochrome : ColorModel::RGB, alpha);
        if (!bitmap) return false;
    }
    const int flags = alpha ? SPNG_DECODE_TRNS : 0;
    if (fast) {
        // Decoded above; the chunks before the image data are read.
    } else if (!wide) {
        std::size_t size = 0;
        if (spng_decoded_image_size(ctx.get(), format, &size) != 0 ||
            size != static_cast<std::size_t>(bitmap.stride) * bitmap.height)
            return false;
        if (spng_decode_image(ctx.get(), bitmap.data, size, format, flags) != 0) return false;
    } else {
        // Row by row into a 16-bit buffer, each row scaled into the bitmap.
        if (spng_decode_image(ctx.get(), nullptr, 0, format, flags | SPNG_DECODE_PROGRESSIVE) != 0) return false;
        std::vector<std::uint16_t> row(static_cast<std::size_t>(bitmap.width) * decodedComponents);
        for (int y = 0; y < bitmap.height; ++y) {
            const int rc = spng_decode_row(ctx.get(), row.data(), row.size() * 2);
            if (rc != 0 && !(rc == SPNG_EOI && y == bitmap.height - 1)) return false;
            std::uint8_t* out = bitmap.row(y);
            for (int x = 0; x < bitmap.width; ++x)
                for (int c = 0; c < components; ++c)
                    out[x * components + c] = Scale16To8(row[static_cast<std::size_t>(x) * decodedComponents + c]);
        }
    }
    if (alpha)
        for (int y = 0; y < bitmap.height; ++y) PremultiplyRow(bitmap.row(y), bitmap.width, components);

    rep.bitmap = std::move(bitmap);
    rep.colorKind = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED ? SourceColorKind::Indexed
                    : grey                                     ? SourceColorKind::Grey
                                                               : SourceColorKind::RGB;
    rep.bitsPerSample = ihdr.bit_depth;
    rep.hasAlpha = alpha;
    ReadMetadata(ctx.get(), rep);
    return true;
}

class PngSource : public ImageSource {
public:
    explicit PngSource(Bytes bytes) : ImageSource("public.png"), bytes_(std::move(bytes)) {}
    std::size_t count() const override { return 1; }
    bool Read(std::size_t index, ImageRepresentation& out) override {
        out = {};
        const bool ok = index == 0 && Decode(bytes_, out);
        bytes_->Evict();
        if (!ok) out = {};
        return ok;
    }

private:
    Bytes bytes_;
};

}  // namespace

std::unique_ptr<ImageSource> OpenPng(Bytes bytes) {
    Context ctx = OpenContext(bytes);
    spng_ihdr ihdr{};
    if (!ctx || spng_get_ihdr(ctx.get(), &ihdr) != 0) return nullptr;
    // Refused from the header alone when even grey pixels would pass the bitmap cap.
    if (!FitsBitmapCap(ihdr.width, ihdr.height, 1)) return nullptr;
    return std::make_unique<PngSource>(std::move(bytes));
}

}  // namespace platform::readers
