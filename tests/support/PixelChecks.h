#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

// Comparisons of decoded pixels with the page that was encoded, shared by the writer tests.
namespace testimage {

struct Rgba {
    int r = 0, g = 0, b = 0, a = 255;  // straight colour
};

// The device formulas the renderer and the encoders use (no colour management).
inline int GreyOfRgb(int r, int g, int b) { return (77 * r + 151 * g + 28 * b + 128) >> 8; }
inline int GreyOf(const Rgba& c) { return GreyOfRgb(c.r, c.g, c.b); }
inline int RgbOfInk(int ink, int k) { return 255 - (ink + k > 255 ? 255 : ink + k); }
inline int GreyOfCmyk(int c, int m, int y, int k) {
    const int ink = ((77 * c + 151 * m + 28 * y + 128) >> 8) + k;
    return 255 - (ink > 255 ? 255 : ink);
}

// The colour composited over white.
Rgba Flattened(Rgba c);

// sRGB transfer, for formats that hold linear light.
float SrgbToLinear(float v);
int LinearToSrgb8(float v);

// Compares decoded pixels (1: grey, 3: RGB or 4: RGBA channels, rows packed) with the expected
// colours: grey files against the expected colour's grey, no colour checked under full
// transparency. `compared` picks the pixels to compare (all when empty).
testing::AssertionResult SamePixels(const std::vector<std::uint8_t>& px, int channels, int width, int height,
                                    const std::function<Rgba(int, int)>& expected, int tolerance,
                                    const std::function<bool(int, int)>& compared = {});

// Compares packed samples of `channels` each (ink, say) with the expected ones; `compared` as
// above.
testing::AssertionResult SameSamples(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want,
                                     int width, int channels, int tolerance,
                                     const std::function<bool(int, int)>& compared = {});

// One flat area of a page, [x0, x1) × [y0, y1) in page pixels, and its grey.
struct FlatArea {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int grey = 0;
};

// For one-bit output: a grey file (0 or 255 only) that holds the page at (left, top). Black and
// white areas are exact, every other area averages to its grey away from its edges (where the
// neighbours' diffused error arrives), and everything around the page is white.
testing::AssertionResult DitheredAreas(const std::vector<std::uint8_t>& grey, int fileWidth, int fileHeight, int left,
                                       int top, int pageWidth, int pageHeight, const std::vector<FlatArea>& areas);

}  // namespace testimage
