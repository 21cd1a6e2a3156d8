#include "engine/extraction/ImageSamples.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace extraction {
namespace {

using platform::Bitmap;

bool ValidDepth(std::int64_t bits) { return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16; }

// Sample `i` of a row of `bits`-bit samples, most significant bits first, 16-bit big-endian.
inline unsigned SampleAt(const std::uint8_t* row, std::size_t i, int bits) {
    switch (bits) {
        case 8: return row[i];
        case 16: return (static_cast<unsigned>(row[2 * i]) << 8) | row[2 * i + 1];
        default: {
            const std::size_t bit = i * static_cast<std::size_t>(bits);
            const int shift = 8 - bits - static_cast<int>(bit & 7);
            return (row[bit >> 3] >> shift) & ((1u << bits) - 1);
        }
    }
}

// The rows, padded with zero bytes when the data is short, so no row is read past its end.
struct PaddedRows {
    const std::uint8_t* data;
    std::vector<std::uint8_t> padding;
    PaddedRows(const std::uint8_t* in, std::size_t size, std::size_t needed) : data(in) {
        if (size < needed) {
            padding.assign(needed, 0);
            if (in && size) std::memcpy(padding.data(), in, size);
            data = padding.data();
        }
    }
};

// The Decode pair of component `c`, when the array gives one.
inline bool DecodePair(const std::vector<double>& decode, int c, double& dmin, double& dmax) {
    const std::size_t pairs = decode.size() / 2;
    if (pairs == 0) return false;
    const std::size_t p = static_cast<std::size_t>(c) % pairs;
    dmin = decode[2 * p];
    dmax = decode[2 * p + 1];
    return std::isfinite(dmin) && std::isfinite(dmax);
}

// A device sample as 8 bits.
inline std::uint8_t DeviceValue(unsigned s, int bits, bool mapped, double dmin, double dmax) {
    const unsigned top = (1u << bits) - 1;
    if (!mapped) {
        if (bits == 16) return static_cast<std::uint8_t>(s >> 8);
        return static_cast<std::uint8_t>(s * 255 / top);
    }
    const double v = std::clamp(dmin + s * (dmax - dmin) / top, 0.0, 1.0);
    return static_cast<std::uint8_t>(std::lround(v * 255));
}

// An Indexed sample as its colour table index.
inline int IndexValue(unsigned s, int bits, bool mapped, double dmin, double dmax, int hival) {
    if (!mapped) return static_cast<int>(std::min<unsigned>(s, static_cast<unsigned>(hival)));
    const double top = static_cast<double>((1u << bits) - 1);
    const double v = std::round(dmin + s * (dmax - dmin) / top);
    if (!(v > 0)) return 0;
    return v >= hival ? hival : static_cast<int>(v);
}

}  // namespace

std::optional<std::size_t> SampleRowBytes(std::int64_t width, int components, std::int64_t bits) {
    if (width < 1 || width > 0x7FFFFFFF || components < 1 || !ValidDepth(bits)) return std::nullopt;
    const std::uint64_t rowBits = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(components) *
                                  static_cast<std::uint64_t>(bits);
    const std::uint64_t bytes = (rowBits + 7) / 8;
    if (bytes > platform::kMaxBitmapBytes) return std::nullopt;
    return static_cast<std::size_t>(bytes);
}

std::optional<std::vector<std::uint8_t>> SampleCodes(const std::uint8_t* data, std::size_t size, int width, int height,
                                                     int bits, int components) {
    const std::optional<std::size_t> rowBytes = SampleRowBytes(width, components, bits);
    if (!rowBytes || height < 1 || *rowBytes > platform::kMaxBitmapBytes / static_cast<std::size_t>(height))
        return std::nullopt;
    const std::size_t rowCodes = static_cast<std::size_t>(width) * static_cast<std::size_t>(components);
    if (rowCodes > platform::kMaxBitmapBytes / static_cast<std::size_t>(height)) return std::nullopt;
    PaddedRows rows(data, size, *rowBytes * static_cast<std::size_t>(height));
    std::uint8_t codeOf[256];
    if (bits < 8)
        for (unsigned s = 0; s < (1u << bits); ++s) codeOf[s] = DeviceValue(s, bits, false, 0, 1);
    std::vector<std::uint8_t> codes(rowCodes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = rows.data + static_cast<std::size_t>(y) * *rowBytes;
        std::uint8_t* out = codes.data() + static_cast<std::size_t>(y) * rowCodes;
        if (bits == 8)
            std::memcpy(out, in, rowCodes);
        else
            for (std::size_t i = 0; i < rowCodes; ++i) {
                const unsigned s = SampleAt(in, i, bits);
                out[i] = bits < 8 ? codeOf[s] : static_cast<std::uint8_t>(s >> 8);
            }
    }
    return codes;
}

Bitmap ConvertSamples(const std::uint8_t* data, std::size_t size, int width, int height, int bits,
                      const SampleSpace& space, const std::vector<double>& decode) {
    const int inComponents = space.components();
    const std::optional<std::size_t> rowBytes = SampleRowBytes(width, inComponents, bits);
    if (!rowBytes || height < 1 || *rowBytes > platform::kMaxBitmapBytes / static_cast<std::size_t>(height))
        return {};
    const int outComponents = platform::ComponentsOf(space.model);
    if (space.indexed &&
        (space.hival < 0 || space.lookup.size() < static_cast<std::size_t>(space.hival + 1) * outComponents))
        return {};
    Bitmap out = Bitmap::Allocate(width, height, space.model, false);
    if (!out) return {};
    PaddedRows rows(data, size, *rowBytes * static_cast<std::size_t>(height));

    // Per component: whether a Decode pair applies, and for depths up to 8 a table of every
    // sample value's result.
    double dmin[4] = {0, 0, 0, 0}, dmax[4] = {1, 1, 1, 1};
    bool mapped[4] = {false, false, false, false};
    for (int c = 0; c < inComponents && c < 4; ++c) mapped[c] = DecodePair(decode, c, dmin[c], dmax[c]);

    if (space.indexed) {
        int table[256];
        if (bits <= 8)
            for (unsigned s = 0; s < (1u << bits); ++s) table[s] = IndexValue(s, bits, mapped[0], dmin[0], dmax[0], space.hival);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = rows.data + static_cast<std::size_t>(y) * *rowBytes;
            std::uint8_t* o = out.row(y);
            for (int x = 0; x < width; ++x, o += outComponents) {
                const unsigned s = SampleAt(in, static_cast<std::size_t>(x), bits);
                const int index = bits <= 8 ? table[s] : IndexValue(s, bits, mapped[0], dmin[0], dmax[0], space.hival);
                std::memcpy(o, space.lookup.data() + static_cast<std::size_t>(index) * outComponents, outComponents);
            }
        }
        return out;
    }

    if (space.converter) {
        // Codes of the samples' place in their range; the converter applies the Decode pairs.
        std::uint8_t codeOf[256];
        if (bits <= 8)
            for (unsigned s = 0; s < (1u << bits); ++s) codeOf[s] = DeviceValue(s, bits, false, 0, 1);
        std::vector<std::uint8_t> codes(static_cast<std::size_t>(width) * inComponents);
        space.converter->Prepare(decode);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = rows.data + static_cast<std::size_t>(y) * *rowBytes;
            if (bits == 8)
                std::memcpy(codes.data(), in, codes.size());
            else
                for (std::size_t i = 0; i < codes.size(); ++i) {
                    const unsigned s = SampleAt(in, i, bits);
                    codes[i] = bits < 8 ? codeOf[s] : static_cast<std::uint8_t>(s >> 8);
                }
            space.converter->Convert(codes.data(), static_cast<std::size_t>(width), out.row(y));
        }
        return out;
    }

    const bool anyMapped = mapped[0] || mapped[1] || mapped[2] || mapped[3];
    if (bits == 8 && !anyMapped) {
        for (int y = 0; y < height; ++y)
            std::memcpy(out.row(y), rows.data + static_cast<std::size_t>(y) * *rowBytes, *rowBytes);
        return out;
    }
    std::uint8_t table[4][256];
    if (bits <= 8)
        for (int c = 0; c < inComponents; ++c)
            for (unsigned s = 0; s < (1u << bits); ++s) table[c][s] = DeviceValue(s, bits, mapped[c], dmin[c], dmax[c]);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = rows.data + static_cast<std::size_t>(y) * *rowBytes;
        std::uint8_t* o = out.row(y);
        std::size_t i = 0;
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < inComponents; ++c, ++i) {
                const unsigned s = SampleAt(in, i, bits);
                *o++ = bits <= 8 ? table[c][s] : DeviceValue(s, bits, mapped[c], dmin[c], dmax[c]);
            }
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> ColorKeyOpacity(const std::uint8_t* data, std::size_t size, int width,
                                                         int height, int bits, int components,
                                                         const std::vector<double>& ranges) {
    if (components < 1 || components > 4 || ranges.size() < 2 * static_cast<std::size_t>(components)) return std::nullopt;
    const std::optional<std::size_t> rowBytes = SampleRowBytes(width, components, bits);
    if (!rowBytes || height < 1 || *rowBytes > platform::kMaxBitmapBytes / static_cast<std::size_t>(height))
        return std::nullopt;
    PaddedRows rows(data, size, *rowBytes * static_cast<std::size_t>(height));
    std::vector<std::uint8_t> opacity(static_cast<std::size_t>(width) * height, 255);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = rows.data + static_cast<std::size_t>(y) * *rowBytes;
        std::size_t i = 0;
        for (int x = 0; x < width; ++x) {
            bool inside = true;
            for (int c = 0; c < components; ++c, ++i) {
                const double s = SampleAt(in, i, bits);
                if (s < ranges[2 * c] || s > ranges[2 * c + 1]) inside = false;
            }
            if (inside) opacity[static_cast<std::size_t>(y) * width + x] = 0;
        }
    }
    return opacity;
}

std::vector<std::uint8_t> MaskOpacity(const Bitmap& mask, int width, int height, bool invert) {
    std::vector<std::uint8_t> opacity(static_cast<std::size_t>(width) * height);
    std::vector<int> columns(width);
    for (int x = 0; x < width; ++x)
        columns[x] = static_cast<int>(static_cast<std::int64_t>(x) * mask.width / width) * mask.components;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = mask.row(static_cast<int>(static_cast<std::int64_t>(y) * mask.height / height));
        std::uint8_t* o = opacity.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) o[x] = invert ? 255 - in[columns[x]] : in[columns[x]];
    }
    return opacity;
}

Bitmap AttachOpacity(const Bitmap& colour, const std::vector<std::uint8_t>& opacity) {
    if (!colour || opacity.size() != static_cast<std::size_t>(colour.width) * colour.height) return {};
    Bitmap out = Bitmap::Allocate(colour.width, colour.height, colour.model, true);
    if (!out) return {};
    const int n = colour.colorComponents();
    for (int y = 0; y < colour.height; ++y) {
        const std::uint8_t* in = colour.row(y);
        const std::uint8_t* a = opacity.data() + static_cast<std::size_t>(y) * colour.width;
        std::uint8_t* o = out.row(y);
        for (int x = 0; x < colour.width; ++x) {
            const unsigned alpha = a[x];
            for (int c = 0; c < n; ++c) o[c] = static_cast<std::uint8_t>((in[c] * alpha + 127) / 255);
            o[n] = static_cast<std::uint8_t>(alpha);
            in += colour.components;
            o += n + 1;
        }
    }
    return out;
}

}  // namespace extraction
