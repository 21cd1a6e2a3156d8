#include "platform/imageio/Resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/WorkerBudget.h"

namespace platform {
namespace {

// Weights in fixed point: 8-bit samples times weights of 22 bits stay inside 32 bits even with
// the negative lobes of the filters (a weight's magnitude stays below 1.5).
constexpr int kWeightBits = 22;
constexpr std::int32_t kWeightOne = 1 << kWeightBits;
constexpr std::int32_t kWeightHalf = 1 << (kWeightBits - 1);

double Sinc(double x) {
    if (x == 0) return 1;
    x *= M_PI;
    return std::sin(x) / x;
}

double Lanczos3(double x) {
    x = std::fabs(x);
    return x < 3 ? Sinc(x) * Sinc(x / 3) : 0;
}

// Catmull-Rom (Keys' cubic with a = -0.5): interpolating, so whole-pixel positions are exact.
double CatmullRom(double x) {
    constexpr double a = -0.5;
    x = std::fabs(x);
    if (x < 1) return ((a + 2) * x - (a + 3)) * x * x + 1;
    if (x < 2) return ((a * x - 5 * a) * x + 8 * a) * x - 4 * a;
    return 0;
}

// The source pixels and weights of each destination pixel along one axis.
struct Axis {
    int begin = 0, end = 0;       // destination pixels written, [begin, end)
    bool copy = false;            // one tap of weight 1 each: source = destination - shift
    int shift = 0;
    int taps = 0;                 // weights stored per destination pixel
    std::vector<int> first;       // per destination pixel (from `begin`): first source pixel
    std::vector<int> count;       // and how many
    std::vector<std::int32_t> weights;

    int First(int i) const { return copy ? i - shift : first[i - begin]; }
    int Count(int i) const { return copy ? 1 : count[i - begin]; }
    const std::int32_t* Weights(int i) const { return weights.data() + static_cast<std::size_t>(i - begin) * taps; }
};

// The axis of `sourceLength` source pixels drawn over [offset, offset + length) of a destination
// of `destLength` pixels. False when no destination pixel centre lies inside.
bool MakeAxis(int sourceLength, double offset, double length, int destLength, Axis& axis) {
    if (sourceLength <= 0 || destLength <= 0 || !(length > 0) || !std::isfinite(offset) || !std::isfinite(length))
        return false;
    const double lo = std::max(0.0, std::ceil(offset - 0.5));
    const double hi = std::min(static_cast<double>(destLength), std::ceil(offset + length - 0.5));
    if (!(lo < hi)) return false;
    axis.begin = static_cast<int>(lo);
    axis.end = static_cast<int>(hi);
    const double scale = length / sourceLength;  // destination pixels per source pixel
    if (scale == 1 && offset == std::floor(offset)) {
        axis.copy = true;
        axis.shift = static_cast<int>(offset);
        return true;
    }
    const bool shrinking = scale < 1;
    // Never wider than the picture itself (a rectangle a fraction of a pixel wide would otherwise
    // ask for a support beyond any integer).
    const double support = std::min(shrinking ? 3 / scale : 2, sourceLength + 2.0);
    const double filterScale = shrinking ? scale : 1;
    axis.taps = static_cast<int>(std::ceil(support)) * 2 + 1;
    const int n = axis.end - axis.begin;
    axis.first.resize(n);
    axis.count.resize(n);
    axis.weights.assign(static_cast<std::size_t>(n) * axis.taps, 0);
    std::vector<double> w(axis.taps);
    for (int i = axis.begin; i < axis.end; ++i) {
        const double centre = (i + 0.5 - offset) / scale;  // in source pixels
        int from = static_cast<int>(std::floor(centre - support));
        int to = static_cast<int>(std::ceil(centre + support));
        from = std::max(from, 0);
        to = std::min(to, sourceLength);
        if (to - from > axis.taps) to = from + axis.taps;
        if (to <= from) {  // the centre lies beyond the picture: its nearest edge pixel
            from = std::clamp(static_cast<int>(std::floor(centre)), 0, sourceLength - 1);
            to = from + 1;
        }
        double sum = 0;
        for (int j = from; j < to; ++j) {
            w[j - from] = shrinking ? Lanczos3((j + 0.5 - centre) * filterScale) : CatmullRom(j + 0.5 - centre);
            sum += w[j - from];
        }
        std::int32_t* out = axis.weights.data() + static_cast<std::size_t>(i - axis.begin) * axis.taps;
        if (!(std::fabs(sum) > 1e-9)) {
            // No weight left inside the picture: take the nearest pixel.
            const int nearest = std::clamp(static_cast<int>(std::floor(centre)), from, to - 1);
            out[nearest - from] = kWeightOne;
        } else {
            // Rounded weights whose sum is exactly one, so that flat areas stay flat.
            std::int32_t total = 0;
            int largest = 0;
            for (int j = 0; j < to - from; ++j) {
                out[j] = static_cast<std::int32_t>(std::lround(w[j] / sum * kWeightOne));
                total += out[j];
                if (out[j] > out[largest]) largest = j;
            }
            out[largest] += kWeightOne - total;
        }
        axis.first[i - axis.begin] = from;
        axis.count[i - axis.begin] = to - from;
    }
    return true;
}

inline std::uint8_t Clamp8(std::int32_t v) {
    v = (v + kWeightHalf) >> kWeightBits;
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// One row along the horizontal axis: destination pixels [begin, end) into `out`.
template <int C>
void HorizontalRow(const std::uint8_t* in, const Axis& axis, std::uint8_t* out) {
    for (int i = axis.begin; i < axis.end; ++i) {
        const std::uint8_t* s = in + static_cast<std::size_t>(axis.First(i)) * C;
        const std::int32_t* w = axis.Weights(i);
        const int n = axis.Count(i);
        std::int32_t acc[C] = {};
        for (int t = 0; t < n; ++t)
            for (int c = 0; c < C; ++c) acc[c] += s[t * C + c] * w[t];
        for (int c = 0; c < C; ++c) out[c] = Clamp8(acc[c]);
        out += C;
    }
}

void HorizontalRowAny(const std::uint8_t* in, const Axis& axis, int components, std::uint8_t* out) {
    switch (components) {
        case 1: HorizontalRow<1>(in, axis, out); return;
        case 2: HorizontalRow<2>(in, axis, out); return;
        case 3: HorizontalRow<3>(in, axis, out); return;
        case 4: HorizontalRow<4>(in, axis, out); return;
        default: HorizontalRow<5>(in, axis, out); return;
    }
}

// Keeps premultiplied colour at or below its alpha (the filters' lobes can overshoot).
void ClampToAlpha(std::uint8_t* row, int pixels, int components) {
    for (int p = 0; p < pixels; ++p, row += components) {
        const std::uint8_t alpha = row[components - 1];
        for (int c = 0; c < components - 1; ++c) row[c] = std::min(row[c], alpha);
    }
}

}  // namespace

bool DrawScaled(const Bitmap& source, Bitmap& dest, const PixelRect& rect) {
    if (!source || !dest || source.components != dest.components || source.model != dest.model ||
        source.hasAlpha != dest.hasAlpha || source.components < 1 || source.components > 5)
        return false;
    Axis xs, ys;
    if (!MakeAxis(source.width, rect.x, rect.width, dest.width, xs) ||
        !MakeAxis(source.height, rect.y, rect.height, dest.height, ys))
        return false;
    const int components = source.components;
    const int outWidth = xs.end - xs.begin;
    const std::size_t outBytes = static_cast<std::size_t>(outWidth) * components;

    // Bands of destination rows, each filtered horizontally over just the source rows it needs.
    const int rows = ys.end - ys.begin;
    const int workers = std::max(1, WorkerBudget());
    const int bandRows = std::clamp(rows / (workers * 4), 16, 256);
    const int bands = (rows + bandRows - 1) / bandRows;
    ParallelFor(bands, [&](int band) {
        const int y0 = ys.begin + band * bandRows;
        const int y1 = std::min(ys.end, y0 + bandRows);
        int from = ys.First(y0), to = from;
        for (int y = y0; y < y1; ++y) {
            from = std::min(from, ys.First(y));
            to = std::max(to, ys.First(y) + ys.Count(y));
        }
        // The band's source rows at the destination's width (or the source's own rows).
        std::vector<std::uint8_t> filtered;
        std::vector<const std::uint8_t*> line(static_cast<std::size_t>(to - from));
        if (xs.copy) {
            for (int s = from; s < to; ++s)
                line[s - from] = source.row(s) + static_cast<std::size_t>(xs.First(xs.begin)) * components;
        } else {
            filtered.resize(outBytes * (to - from));
            for (int s = from; s < to; ++s) {
                std::uint8_t* out = filtered.data() + outBytes * (s - from);
                HorizontalRowAny(source.row(s), xs, components, out);
                line[s - from] = out;
            }
        }
        std::vector<std::int32_t> acc(ys.copy ? 0 : outBytes);
        for (int y = y0; y < y1; ++y) {
            std::uint8_t* out = dest.row(y) + static_cast<std::size_t>(xs.begin) * components;
            if (ys.copy) {
                std::memcpy(out, line[ys.First(y) - from], outBytes);
            } else {
                std::fill(acc.begin(), acc.end(), 0);
                const std::int32_t* w = ys.Weights(y);
                const int n = ys.Count(y);
                for (int t = 0; t < n; ++t) {
                    const std::uint8_t* in = line[ys.First(y) + t - from];
                    const std::int32_t weight = w[t];
                    std::int32_t* a = acc.data();
                    for (std::size_t k = 0; k < outBytes; ++k) a[k] += in[k] * weight;
                }
                for (std::size_t k = 0; k < outBytes; ++k) out[k] = Clamp8(acc[k]);
            }
            if (source.hasAlpha && !(xs.copy && ys.copy)) ClampToAlpha(out, outWidth, components);
        }
    });
    return true;
}

namespace {

template <int C>
void PermuteTile(const Bitmap& source, Bitmap& dest, const AxisPermutation& m, int i0, int i1, int j0, int j1) {
    const std::ptrdiff_t colStep = static_cast<std::ptrdiff_t>(m.yi) * source.stride + m.xi * C;
    for (int j = j0; j < j1; ++j) {
        const std::uint8_t* s = source.row(m.y0 + i0 * m.yi + j * m.yj) + static_cast<std::ptrdiff_t>(m.x0 + i0 * m.xi + j * m.xj) * C;
        std::uint8_t* d = dest.row(j) + static_cast<std::ptrdiff_t>(i0) * C;
        for (int i = i0; i < i1; ++i, s += colStep, d += C) std::memcpy(d, s, C);
    }
}

bool UnitStep(int x, int y) { return (x == 0) != (y == 0) && std::abs(x + y) == 1; }

}  // namespace

bool PermutePixels(const Bitmap& source, Bitmap& dest, const AxisPermutation& m) {
    if (!source || !dest || source.components != dest.components || source.model != dest.model ||
        source.hasAlpha != dest.hasAlpha || source.components < 1 || source.components > 5)
        return false;
    if (!UnitStep(m.xi, m.yi) || !UnitStep(m.xj, m.yj) || (m.xi != 0) == (m.xj != 0)) return false;
    // Every corner of the destination must name a source pixel.
    for (const int i : {0, dest.width - 1})
        for (const int j : {0, dest.height - 1}) {
            const int x = m.x0 + i * m.xi + j * m.xj, y = m.y0 + i * m.yi + j * m.yj;
            if (x < 0 || y < 0 || x >= source.width || y >= source.height) return false;
        }
    // Square tiles, so that a quarter turn reads and writes memory in runs that stay in cache.
    constexpr int kTile = 64;
    const int tilesAcross = (dest.width + kTile - 1) / kTile;
    const int tileRows = (dest.height + kTile - 1) / kTile;
    ParallelFor(tileRows, [&](int row) {
        const int j0 = row * kTile, j1 = std::min(dest.height, j0 + kTile);
        for (int t = 0; t < tilesAcross; ++t) {
            const int i0 = t * kTile, i1 = std::min(dest.width, i0 + kTile);
            switch (source.components) {
                case 1: PermuteTile<1>(source, dest, m, i0, i1, j0, j1); break;
                case 2: PermuteTile<2>(source, dest, m, i0, i1, j0, j1); break;
                case 3: PermuteTile<3>(source, dest, m, i0, i1, j0, j1); break;
                case 4: PermuteTile<4>(source, dest, m, i0, i1, j0, j1); break;
                default: PermuteTile<5>(source, dest, m, i0, i1, j0, j1); break;
            }
        }
    });
    return true;
}

}  // namespace platform
