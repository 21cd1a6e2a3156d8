#include "platform/imageio/RasterPrep.h"

#include "platform/imageio/PixelRows.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace platform::raster {
namespace {

std::uint8_t Clamp8(float v) {
    if (v <= 0.0f) return 0;
    if (v >= 255.0f) return 255;
    return static_cast<std::uint8_t>(v + 0.5f);
}

// The bitmap in `layout`, row by row through the one converter; colour made premultiplied again
// when asked.
bool Convert(const Bitmap& image, PixelLayout layout, bool premultiply, Pixels& out) {
    if (!IsUsable(image)) return false;
    out.width = image.width;
    out.height = image.height;
    out.channels = BytesPerPixel(layout);
    out.data.resize(out.rowBytes() * out.height);
    for (int y = 0; y < image.height; ++y) ConvertRow(image, image.row(y), image.width, layout, out.row(y));
    const bool alpha = layout == PixelLayout::GrayAlpha || layout == PixelLayout::RGBA || layout == PixelLayout::CMYKA;
    if (premultiply && alpha) {
        const int colours = out.channels - 1;
        for (std::size_t i = 0; i < out.data.size(); i += out.channels) {
            const int a = out.data[i + colours];
            if (a == 255) continue;
            for (int c = 0; c < colours; ++c)
                out.data[i + c] = static_cast<std::uint8_t>((out.data[i + c] * a + 127) / 255);
        }
    }
    return true;
}

bool KeepsAlpha(const Bitmap& image, Alpha alpha) { return image.hasAlpha && alpha != Alpha::Flatten; }

// The source samples and weights that make one output sample along an axis.
struct Taps {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Taps> AxisWeights(int source, int target) {
    std::vector<Taps> taps(target);
    const double scale = static_cast<double>(source) / target;
    for (int i = 0; i < target; ++i) {
        Taps& t = taps[i];
        if (target < source) {
            // Shrinking: each output sample averages the source area it covers.
            const double x0 = i * scale, x1 = (i + 1) * scale;
            t.first = static_cast<int>(std::floor(x0));
            const int last = std::min(source - 1, static_cast<int>(std::ceil(x1)) - 1);
            for (int j = t.first; j <= last; ++j) {
                const double overlap = std::min(x1, j + 1.0) - std::max(x0, static_cast<double>(j));
                t.weights.push_back(static_cast<float>(std::max(0.0, overlap) / scale));
            }
        } else {
            // Growing (or the same size): linear between the two nearest sample centres.
            double x = (i + 0.5) * scale - 0.5;
            x = std::clamp(x, 0.0, static_cast<double>(source - 1));
            t.first = static_cast<int>(std::floor(x));
            const float f = static_cast<float>(x - t.first);
            t.weights.push_back(1.0f - f);
            if (f > 0.0f && t.first + 1 < source) t.weights.push_back(f);
        }
    }
    return taps;
}

}  // namespace

bool IsUsable(const Bitmap& image) {
    if (!image || image.width <= 0 || image.height <= 0) return false;
    if (image.components != ComponentsOf(image.model) + (image.hasAlpha ? 1 : 0)) return false;
    return image.stride >= static_cast<std::ptrdiff_t>(image.width) * image.components;
}

bool ToRgb(const Bitmap& image, Alpha alpha, Pixels& out) {
    return Convert(image, KeepsAlpha(image, alpha) ? PixelLayout::RGBA : PixelLayout::RGB,
                   alpha == Alpha::Premultiplied, out);
}

bool ToGrey(const Bitmap& image, Alpha alpha, Pixels& out) {
    return Convert(image, KeepsAlpha(image, alpha) ? PixelLayout::GrayAlpha : PixelLayout::Gray,
                   alpha == Alpha::Premultiplied, out);
}

bool ToNative(const Bitmap& image, Alpha alpha, Pixels& out) {
    const bool keep = KeepsAlpha(image, alpha);
    PixelLayout layout;
    switch (image.model) {
        case ColorModel::Monochrome: layout = keep ? PixelLayout::GrayAlpha : PixelLayout::Gray; break;
        case ColorModel::CMYK: layout = keep ? PixelLayout::CMYKA : PixelLayout::CMYK; break;
        default: layout = keep ? PixelLayout::RGBA : PixelLayout::RGB; break;
    }
    return Convert(image, layout, alpha == Alpha::Premultiplied, out);
}

bool ToPremultipliedRgba(const Bitmap& image, Pixels& out) {
    Pixels rgb;
    if (!ToRgb(image, Alpha::Premultiplied, rgb)) return false;
    if (rgb.channels == 4) {
        out = std::move(rgb);
        return true;
    }
    out.width = rgb.width;
    out.height = rgb.height;
    out.channels = 4;
    out.data.resize(out.rowBytes() * out.height);
    const std::size_t count = static_cast<std::size_t>(rgb.width) * rgb.height;
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(&out.data[i * 4], &rgb.data[i * 3], 3);
        out.data[i * 4 + 3] = 255;
    }
    return true;
}

PixelsView RowsAsTheyLieOr(const Bitmap& image, Alpha alpha, bool greyKept, Pixels& storage) {
    if (!IsUsable(image)) return {};
    if (!image.hasAlpha && (image.model == ColorModel::RGB || image.model == ColorModel::Monochrome))
        return {image.width, image.height, image.components, image.data, static_cast<std::size_t>(image.stride)};
    const bool converted = greyKept && image.model == ColorModel::Monochrome ? ToGrey(image, alpha, storage)
                                                                             : ToRgb(image, alpha, storage);
    return converted ? ViewOf(storage) : PixelsView{};
}

namespace {

// The taps of every output sample along an axis in flat arrays: sample i takes count[i]
// weights from weights[start[i]], for source samples first[i] onwards.
struct FlatTaps {
    std::vector<int> first, count, start;
    std::vector<float> weights;
    explicit FlatTaps(const std::vector<Taps>& taps) {
        for (const Taps& t : taps) {
            first.push_back(t.first);
            count.push_back(static_cast<int>(t.weights.size()));
            start.push_back(static_cast<int>(weights.size()));
            weights.insert(weights.end(), t.weights.begin(), t.weights.end());
        }
    }
};

// One source row resampled across into `out`. Each sum starts at zero and takes its terms in
// the order of the taps, as the general loop below does for any number of channels.
template <int Channels>
void AcrossRow(const std::uint8_t* src, const FlatTaps& taps, int width, float* out) {
    for (int x = 0; x < width; ++x) {
        const float* w = taps.weights.data() + taps.start[static_cast<std::size_t>(x)];
        const std::uint8_t* s = src + static_cast<std::size_t>(taps.first[static_cast<std::size_t>(x)]) * Channels;
        float sum[Channels] = {};
        for (int k = 0, n = taps.count[static_cast<std::size_t>(x)]; k < n; ++k, s += Channels)
            for (int c = 0; c < Channels; ++c) sum[c] += w[k] * s[c];
        for (int c = 0; c < Channels; ++c) out[x * Channels + c] = sum[c];
    }
}

void AcrossRowAny(const std::uint8_t* src, const FlatTaps& taps, int width, int channels, float* out) {
    for (int x = 0; x < width; ++x) {
        const float* w = taps.weights.data() + taps.start[static_cast<std::size_t>(x)];
        const std::uint8_t* s = src + static_cast<std::size_t>(taps.first[static_cast<std::size_t>(x)]) * channels;
        float* o = out + static_cast<std::size_t>(x) * channels;
        for (int c = 0; c < channels; ++c) o[c] = 0.0f;
        for (int k = 0, n = taps.count[static_cast<std::size_t>(x)]; k < n; ++k, s += channels)
            for (int c = 0; c < channels; ++c) o[c] += w[k] * s[c];
    }
}

}  // namespace

Pixels Resize(const PixelsView& image, int width, int height) {
    Pixels out;
    out.width = width;
    out.height = height;
    out.channels = image.channels;
    out.data.assign(out.rowBytes() * height, 0);
    const int ch = image.channels;
    const FlatTaps across(AxisWeights(image.width, width));
    const std::vector<Taps> down = AxisWeights(image.height, height);
    const std::size_t samples = static_cast<std::size_t>(width) * ch;

    // Source rows resampled across, two kept: neighbouring output rows share their edge rows.
    int cachedRow[2] = {-1, -1};
    std::vector<float> cache[2] = {std::vector<float>(samples), std::vector<float>(samples)};
    int next = 0;
    auto across_row = [&](int sy) -> const float* {
        for (int i = 0; i < 2; ++i)
            if (cachedRow[i] == sy) return cache[i].data();
        float* r = cache[next].data();
        cachedRow[next] = sy;
        next ^= 1;
        const std::uint8_t* src = image.row(sy);
        switch (ch) {
            case 1: AcrossRow<1>(src, across, width, r); break;
            case 3: AcrossRow<3>(src, across, width, r); break;
            case 4: AcrossRow<4>(src, across, width, r); break;
            default: AcrossRowAny(src, across, width, ch, r); break;
        }
        return r;
    };

    std::vector<float> acc(samples);
    for (int y = 0; y < height; ++y) {
        std::fill(acc.begin(), acc.end(), 0.0f);
        const Taps& t = down[y];
        for (std::size_t k = 0; k < t.weights.size(); ++k) {
            const float* r = across_row(t.first + static_cast<int>(k));
            const float wk = t.weights[k];
            float* a = acc.data();
            for (std::size_t i = 0; i < samples; ++i) a[i] += wk * r[i];
        }
        std::uint8_t* dst = out.row(y);
        for (std::size_t i = 0; i < samples; ++i) dst[i] = Clamp8(acc[i]);
    }
    return out;
}

Pixels FitCentred(const PixelsView& image, int boxWidth, int boxHeight, bool enlarge,
                  const std::uint8_t* background) {
    double scale = std::min(static_cast<double>(boxWidth) / image.width,
                            static_cast<double>(boxHeight) / image.height);
    if (!enlarge) scale = std::min(scale, 1.0);
    const int w = std::clamp(static_cast<int>(std::lround(image.width * scale)), 1, boxWidth);
    const int h = std::clamp(static_cast<int>(std::lround(image.height * scale)), 1, boxHeight);
    Pixels scaled;
    if (w == image.width && h == image.height) {
        scaled.width = w;
        scaled.height = h;
        scaled.channels = image.channels;
        scaled.data.resize(scaled.rowBytes() * static_cast<std::size_t>(h));
        for (int y = 0; y < h; ++y) std::memcpy(scaled.row(y), image.row(y), scaled.rowBytes());
    } else {
        scaled = Resize(image, w, h);
    }
    if (w == boxWidth && h == boxHeight) return scaled;  // nothing of the background shows

    Pixels box;
    box.width = boxWidth;
    box.height = boxHeight;
    box.channels = image.channels;
    box.data.resize(box.rowBytes() * boxHeight);
    // The background: one row of it, then that row again.
    for (std::size_t i = 0; i < box.rowBytes(); ++i) box.data[i] = background[i % box.channels];
    for (int y = 1; y < boxHeight; ++y) std::memcpy(box.row(y), box.row(0), box.rowBytes());
    const int left = (boxWidth - w) / 2, top = (boxHeight - h) / 2;
    for (int y = 0; y < h; ++y)
        std::memcpy(box.row(top + y) + static_cast<std::size_t>(left) * box.channels, scaled.row(y),
                    scaled.rowBytes());
    return box;
}

std::vector<std::uint8_t> DitherToBilevel(const Pixels& grey, std::size_t rowBytes) {
    std::vector<std::uint8_t> bits(rowBytes * grey.height, 0);
    const int w = grey.width;
    const int step = grey.channels;
    constexpr float k7 = 7.0f / 16, k3 = 3.0f / 16, k5 = 5.0f / 16, k1 = 1.0f / 16;
    // The errors carried into this row and into the next by column, entry x + 1 for column x,
    // with a spare entry on each side.
    std::vector<float> cur(w + 2, 0.0f), nxt(w + 2, 0.0f);
    for (int y = 0; y < grey.height; ++y) {
        const std::uint8_t* src = grey.row(y);
        std::uint8_t* dst = bits.data() + rowBytes * y;
        float* const carried = cur.data();
        float* const below = nxt.data();
        // The errors of the two pixels before this one: the right neighbour's share comes from
        // the one just before, and an entry of the row below is complete once the pixel above
        // and right of it is done. Every sum is formed in the order the errors arise, so the
        // bits do not depend on how the loop is arranged.
        float e1 = 0.0f, e2 = 0.0f;
        int x = 0;
        while (x < w) {
            // White with no error to carry, eight pixels at a time: nothing changes but the
            // row below's entries, which stay zero.
            if (step == 1 && x + 8 <= w && e1 == 0.0f && e2 == 0.0f) {
                std::uint64_t white;
                std::memcpy(&white, src + x, 8);
                std::uint32_t c[8];
                std::memcpy(c, carried + x + 1, sizeof c);
                if (white == ~std::uint64_t{0} && (c[0] | c[1] | c[2] | c[3] | c[4] | c[5] | c[6] | c[7]) == 0) {
                    std::memset(below + x, 0, 8 * sizeof(float));
                    x += 8;
                    continue;
                }
            }
            const float v = src[x * step] + (carried[x + 1] + e1 * k7);
            const bool black = v < 128.0f;
            const float e = v - (black ? 0.0f : 255.0f);
            if (black) dst[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
            below[x] = (e2 * k1 + e1 * k5) + e * k3;
            e2 = e1;
            e1 = e;
            ++x;
        }
        below[w] = e2 * k1 + e1 * k5;
        below[w + 1] = e1 * k1;
        std::swap(cur, nxt);
    }
    return bits;
}

void PackBits(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out) {
    std::size_t i = 0;
    while (i < n) {
        std::size_t run = 1;
        while (i + run < n && run < 128 && in[i + run] == in[i]) ++run;
        if (run >= 3) {
            out.push_back(static_cast<std::uint8_t>(257 - run));  // -(run - 1)
            out.push_back(in[i]);
            i += run;
            continue;
        }
        // A literal stretch, up to the next run of three or 128 bytes.
        std::size_t len = 0;
        while (i + len < n && len < 128) {
            if (i + len + 2 < n && in[i + len] == in[i + len + 1] && in[i + len] == in[i + len + 2]) break;
            ++len;
        }
        out.push_back(static_cast<std::uint8_t>(len - 1));
        out.insert(out.end(), in + i, in + i + len);
        i += len;
    }
}

}  // namespace platform::raster
