// The fast loops of the converter, the ditherer and the resampler against the plain per-pixel
// computation they stand in for: the same samples and the same bits, at row widths around their
// steps and at the edges of their shortcuts (white that ends inside a group of eight, errors that
// vanish or do not).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "platform/imageio/PixelRows.h"
#include "platform/imageio/RasterPrep.h"

namespace {

using platform::Bitmap;
using platform::ColorModel;
using platform::PixelLayout;
namespace raster = platform::raster;

// Floyd–Steinberg as written out in the textbook way: errors kept in two rows of floats, each
// share added where it lands, in the order the pixels are visited.
std::vector<std::uint8_t> PlainDither(const raster::Pixels& grey, std::size_t rowBytes) {
    std::vector<std::uint8_t> bits(rowBytes * grey.height, 0);
    const int w = grey.width;
    std::vector<float> cur(w + 2, 0.0f), nxt(w + 2, 0.0f);
    for (int y = 0; y < grey.height; ++y) {
        const std::uint8_t* src = grey.row(y);
        std::uint8_t* dst = bits.data() + rowBytes * y;
        std::fill(nxt.begin(), nxt.end(), 0.0f);
        for (int x = 0; x < w; ++x) {
            const float v = src[x * grey.channels] + cur[x + 1];
            const bool black = v < 128.0f;
            const float e = v - (black ? 0.0f : 255.0f);
            if (black) dst[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
            cur[x + 2] += e * (7.0f / 16);
            nxt[x] += e * (3.0f / 16);
            nxt[x + 1] += e * (5.0f / 16);
            nxt[x + 2] += e * (1.0f / 16);
        }
        std::swap(cur, nxt);
    }
    return bits;
}

enum class Scene { Page, Noise, Ramp, Sparse, Exact };

// Grey pictures like the pages the one-bit formats get: white with anti-aliased marks (whose
// errors spread into the white around them), noise, a ramp, single grey dots far apart, and
// white sprinkled with greys whose errors split exactly: pixels there end with no error of their
// own while errors came into them, and greys next to the threshold show any error left behind.
raster::Pixels Grey(Scene scene, int width, int height, int channels, unsigned seed) {
    raster::Pixels p;
    p.width = width;
    p.height = height;
    p.channels = channels;
    p.data.assign(p.rowBytes() * height, 255);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t& v = p.row(y)[x * channels];
            switch (scene) {
                case Scene::Page:
                    // Lines of "letters": dark cores with grey edges, gaps of white between.
                    if (y % 12 >= 3 && y % 12 <= 9 && x % 9 >= 2 && x % 9 <= 5)
                        v = static_cast<std::uint8_t>(x % 9 == 2 || x % 9 == 5 ? 96 + random() % 128 : random() % 40);
                    break;
                case Scene::Noise: v = static_cast<std::uint8_t>(random()); break;
                case Scene::Ramp: v = static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1)); break;
                case Scene::Sparse:
                    if (random() % 97 == 0) v = static_cast<std::uint8_t>(random() % 256);
                    break;
                case Scene::Exact: {
                    static const std::uint8_t kGreys[] = {16, 240, 248, 250, 252, 254, 120, 127, 128, 136};
                    if (random() % 7 == 0) v = kGreys[random() % std::size(kGreys)];
                    break;
                }
            }
            if (channels == 2) p.row(y)[x * 2 + 1] = 255;
        }
    return p;
}

TEST(FastPixelPaths, DitheringGivesTheBitsOfThePlainComputation) {
    for (Scene scene : {Scene::Page, Scene::Noise, Scene::Ramp, Scene::Sparse, Scene::Exact})
        for (int width : {1, 7, 8, 9, 16, 61, 300})
            for (int channels : {1, 2}) {
                const raster::Pixels grey = Grey(scene, width, width == 300 ? 400 : 40, channels, static_cast<unsigned>(width * 31 + channels));
                const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
                EXPECT_EQ(raster::DitherToBilevel(grey, rowBytes), PlainDither(grey, rowBytes))
                    << "scene " << static_cast<int>(scene) << ", width " << width << ", channels " << channels;
            }
}

// Errors of exactly representable sizes, set up so that a grey next to the threshold turns on
// an error that passes through white pixels ending with no error of their own.
TEST(FastPixelPaths, DitheringCarriesEveryErrorPastTheWhiteItSkips) {
    const auto white = [](int width, int height) {
        raster::Pixels p;
        p.width = width;
        p.height = height;
        p.channels = 1;
        p.data.assign(p.rowBytes() * height, 255);
        return p;
    };
    const auto bit = [](const std::vector<std::uint8_t>& bits, std::size_t rowBytes, int x, int y) {
        return (bits[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
    };
    {
        // Pixel (0, 0) is black and sends 1/16 of its error, 1, below right. Pixel (1, 0) ends
        // at 255 exactly, with no error, and is followed by white: that 1 must still reach
        // (1, 1), where it lifts 127 to white.
        raster::Pixels p = white(24, 3);
        p.row(0)[0] = 16;   // error +16: 7 right, 3 below left, 5 below, 1 below right
        p.row(0)[1] = 248;  // 248 + 7 = 255
        p.row(1)[0] = 250;  // 250 + 5 = 255
        p.row(1)[1] = 127;  // 127 + 1 = 128: white
        const std::vector<std::uint8_t> bits = raster::DitherToBilevel(p, 3);
        EXPECT_EQ(bits, PlainDither(p, 3));
        EXPECT_EQ(bit(bits, 3, 0, 0), 1);
        EXPECT_EQ(bit(bits, 3, 1, 1), 0);
    }
    {
        // The errors of (7, 0) and (15, 0) reach row 1, where the pixels absorb them exactly:
        // row 2 gets none and skips its white. What row 1 received must not come back in row 3,
        // where 126 stays black in the columns it had reached (6 and 15, at either end of a
        // group of eight).
        raster::Pixels p = white(24, 4);
        for (int c = 0; c < 16; c += 8) {
            p.row(0)[c + 7] = 16;
            p.row(0)[c + 8] = 248;
            p.row(1)[c + 6] = 252;  // + 3
            p.row(1)[c + 7] = 250;  // + 5
            p.row(1)[c + 8] = 254;  // + 1
        }
        p.row(3)[6] = 126;
        p.row(3)[15] = 126;
        const std::vector<std::uint8_t> bits = raster::DitherToBilevel(p, 3);
        EXPECT_EQ(bits, PlainDither(p, 3));
        EXPECT_EQ(bit(bits, 3, 6, 3), 1);
        EXPECT_EQ(bit(bits, 3, 15, 3), 1);
    }
}

TEST(FastPixelPaths, DitheringWhiteAndBlackStayExact) {
    raster::Pixels grey = Grey(Scene::Page, 70, 30, 1, 1);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 70; ++x) grey.row(y)[x] = (x / 5 + y / 3) % 2 ? 255 : 0;
    const std::vector<std::uint8_t> bits = raster::DitherToBilevel(grey, 9);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 70; ++x)
            EXPECT_EQ((bits[y * 9 + x / 8] >> (7 - x % 8)) & 1, grey.row(y)[x] == 0 ? 1 : 0) << x << "," << y;
}

// Resampling written out plainly: every output sample from the taps of both axes, the across
// sums first, each sum in the order of its taps (area average when shrinking, linear between
// sample centres when growing).
struct PlainTaps {
    int first = 0;
    std::vector<float> weights;
};

std::vector<PlainTaps> PlainAxis(int source, int target) {
    std::vector<PlainTaps> taps(target);
    const double scale = static_cast<double>(source) / target;
    for (int i = 0; i < target; ++i) {
        PlainTaps& t = taps[i];
        if (target < source) {
            const double x0 = i * scale, x1 = (i + 1) * scale;
            t.first = static_cast<int>(std::floor(x0));
            const int last = std::min(source - 1, static_cast<int>(std::ceil(x1)) - 1);
            for (int j = t.first; j <= last; ++j)
                t.weights.push_back(static_cast<float>(
                    std::max(0.0, std::min(x1, j + 1.0) - std::max(x0, static_cast<double>(j))) / scale));
        } else {
            const double x = std::clamp((i + 0.5) * scale - 0.5, 0.0, static_cast<double>(source - 1));
            t.first = static_cast<int>(std::floor(x));
            const float f = static_cast<float>(x - t.first);
            t.weights.push_back(1.0f - f);
            if (f > 0.0f && t.first + 1 < source) t.weights.push_back(f);
        }
    }
    return taps;
}

raster::Pixels PlainResize(const raster::Pixels& image, int width, int height) {
    raster::Pixels out;
    out.width = width;
    out.height = height;
    out.channels = image.channels;
    out.data.assign(out.rowBytes() * height, 0);
    const int ch = image.channels;
    const std::vector<PlainTaps> across = PlainAxis(image.width, width), down = PlainAxis(image.height, height);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * ch; ++i) {
            const int x = i / ch, c = i % ch;
            float sum = 0.0f;
            for (std::size_t k = 0; k < down[y].weights.size(); ++k) {
                const std::uint8_t* src = image.row(down[y].first + static_cast<int>(k));
                float row = 0.0f;
                for (std::size_t j = 0; j < across[x].weights.size(); ++j)
                    row += across[x].weights[j] * src[(across[x].first + j) * ch + c];
                sum += down[y].weights[k] * row;
            }
            out.row(y)[i] = sum <= 0.0f ? 0 : sum >= 255.0f ? 255 : static_cast<std::uint8_t>(sum + 0.5f);
        }
    return out;
}

TEST(FastPixelPaths, ResizingGivesTheSamplesOfThePlainComputation) {
    std::mt19937 random(3);
    struct Case {
        int fromW, fromH, toW, toH;
    };
    // Halving odd and even sides (the FlashPix levels), a preview fit, growing, one pixel.
    const Case cases[] = {{101, 77, 51, 39}, {64, 48, 32, 24}, {300, 200, 97, 65}, {13, 9, 40, 31}, {5, 5, 1, 1}, {1, 1, 3, 2}};
    for (const Case& k : cases)
        for (int channels = 1; channels <= 5; ++channels) {
            raster::Pixels image;
            image.width = k.fromW;
            image.height = k.fromH;
            image.channels = channels;
            image.data.resize(image.rowBytes() * k.fromH);
            for (std::uint8_t& v : image.data) v = static_cast<std::uint8_t>(random() % 3 ? random() : 255);
            const raster::Pixels got = raster::Resize(image, k.toW, k.toH);
            const raster::Pixels want = PlainResize(image, k.toW, k.toH);
            ASSERT_EQ(got.width, k.toW);
            ASSERT_EQ(got.height, k.toH);
            ASSERT_EQ(got.channels, channels);
            EXPECT_EQ(got.data, want.data) << k.fromW << "x" << k.fromH << " to " << k.toW << "x" << k.toH << ", "
                                           << channels << " channels";
        }
}

// The per-pixel formulas the converter documents.
std::uint8_t GreyOf(int r, int g, int b) { return static_cast<std::uint8_t>((r * 77 + g * 151 + b * 28 + 128) >> 8); }
std::uint8_t Straight(int v, int a) {
    if (a == 0) return 0;
    return static_cast<std::uint8_t>(std::min(255, (v * 255 + a / 2) / a));
}

TEST(FastPixelPaths, ConvertedRowsFollowTheDeviceFormulas) {
    std::mt19937 random(7);
    for (int width : {1, 2, 3, 5, 6, 11, 17, 64, 301}) {
        // An opaque RGB row to grey: samples drawn at random, with white among them.
        Bitmap rgb = Bitmap::Allocate(width, 1, ColorModel::RGB, false);
        for (int i = 0; i < width * 3; ++i) rgb.row(0)[i] = static_cast<std::uint8_t>(i % 11 == 0 ? 255 : random());
        std::vector<std::uint8_t> grey(static_cast<std::size_t>(width) + 1, 0xA5);  // one guard byte
        platform::ConvertRow(rgb, rgb.row(0), width, PixelLayout::Gray, grey.data());
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = rgb.row(0) + 3 * x;
            ASSERT_EQ(grey[x], GreyOf(p[0], p[1], p[2])) << "width " << width << ", pixel " << x;
        }
        EXPECT_EQ(grey[width], 0xA5) << "written past the row, width " << width;

        // The same row as RGB: as it is.
        std::vector<std::uint8_t> same(static_cast<std::size_t>(width) * 3 + 1, 0xA5);
        platform::ConvertRow(rgb, rgb.row(0), width, PixelLayout::RGB, same.data());
        EXPECT_TRUE(std::equal(rgb.row(0), rgb.row(0) + 3 * width, same.begin())) << "width " << width;
        EXPECT_EQ(same[3 * width], 0xA5) << "written past the row, width " << width;

        // The same row as BGR.
        std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * 3 + 1, 0xA5);
        platform::ConvertRow(rgb, rgb.row(0), width, PixelLayout::BGR, bgr.data());
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(bgr[3 * x + c], rgb.row(0)[3 * x + 2 - c]) << "width " << width << ", pixel " << x;
        EXPECT_EQ(bgr[3 * width], 0xA5) << "written past the row, width " << width;

        // Premultiplied RGBA made straight: opaque, empty and partly covered pixels mixed.
        Bitmap rgba = Bitmap::Allocate(width, 1, ColorModel::RGB, true);
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = rgba.row(0) + 4 * x;
            const int a = x % 3 == 0 ? 255 : x % 3 == 1 ? 0 : static_cast<int>(1 + random() % 254);
            for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(a ? random() % (a + 1) : 0);
            p[3] = static_cast<std::uint8_t>(a);
        }
        std::vector<std::uint8_t> straight(static_cast<std::size_t>(width) * 4 + 1, 0xA5);
        platform::ConvertRow(rgba, rgba.row(0), width, PixelLayout::RGBA, straight.data());
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = rgba.row(0) + 4 * x;
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(straight[4 * x + c], Straight(p[c], p[3])) << "width " << width << ", pixel " << x;
            ASSERT_EQ(straight[4 * x + 3], p[3]);
        }
        EXPECT_EQ(straight[4 * width], 0xA5) << "written past the row, width " << width;
    }
}

}  // namespace
