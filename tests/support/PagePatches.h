#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Bitmap.h"
#include "support/PixelChecks.h"

// A synthetic page for the encoder tests: 6 × 2 colour patches in grey, RGB or CMYK, optionally
// with premultiplied alpha (top row opaque, bottom row half transparent, last patch clear),
// with padding after every row so that encoders must honour the stride.
namespace testpage {

inline constexpr int kAcross = 6, kDown = 2, kPatches = kAcross * kDown;

using Colour = testimage::Rgba;
using testimage::Flattened;
using testimage::GreyOf;

// `shift` rotates the patches, so that even a one-pixel page can show any of them.
inline int PatchAt(int x, int y, int width, int height, int shift = 0) {
    return ((y * kDown / height) * kAcross + x * kAcross / width + shift) % kPatches;
}

inline int PatchAlpha(int patch, bool alpha) {
    if (!alpha || patch < kAcross) return 255;
    return patch == kPatches - 1 ? 0 : 128;
}

// The samples of a patch in the page's own model, straight.
inline std::vector<int> PatchSamples(platform::ColorModel model, int patch) {
    static const int kRgb[kPatches][3] = {{255, 255, 255}, {0, 0, 0},       {255, 0, 0},     {0, 255, 0},
                                          {0, 0, 255},     {255, 255, 0},   {0, 255, 255},   {255, 0, 255},
                                          {64, 64, 64},    {128, 128, 128}, {200, 120, 40},  {255, 128, 0}};
    static const int kGrey[kPatches] = {255, 0, 17, 51, 85, 119, 136, 170, 204, 238, 100, 200};
    static const int kCmyk[kPatches][4] = {{0, 0, 0, 0},     {0, 0, 0, 255},   {0, 255, 255, 0}, {255, 0, 255, 0},
                                           {255, 255, 0, 0}, {0, 0, 255, 0},   {255, 0, 0, 0},   {0, 255, 0, 0},
                                           {0, 0, 0, 64},    {0, 0, 0, 128},   {64, 32, 0, 16},  {0, 128, 255, 0}};
    switch (model) {
        case platform::ColorModel::Monochrome: return {kGrey[patch]};
        case platform::ColorModel::CMYK: return {kCmyk[patch][0], kCmyk[patch][1], kCmyk[patch][2], kCmyk[patch][3]};
        default: return {kRgb[patch][0], kRgb[patch][1], kRgb[patch][2]};
    }
}

// The patch's colour as RGB by the device formulas.
inline Colour PatchColour(platform::ColorModel model, int patch, bool alpha) {
    const std::vector<int> s = PatchSamples(model, patch);
    Colour c;
    c.a = PatchAlpha(patch, alpha);
    if (model == platform::ColorModel::Monochrome) {
        c.r = c.g = c.b = s[0];
    } else if (model == platform::ColorModel::CMYK) {
        c.r = testimage::RgbOfInk(s[0], s[3]);
        c.g = testimage::RgbOfInk(s[1], s[3]);
        c.b = testimage::RgbOfInk(s[2], s[3]);
    } else {
        c.r = s[0];
        c.g = s[1];
        c.b = s[2];
    }
    return c;
}

inline platform::Bitmap MakePage(platform::ColorModel model, int width, int height, bool alpha, int shift = 0) {
    platform::Bitmap b;
    b.width = width;
    b.height = height;
    b.model = model;
    b.hasAlpha = alpha;
    b.components = platform::ComponentsOf(model) + (alpha ? 1 : 0);
    b.stride = static_cast<std::ptrdiff_t>(width) * b.components + 3;
    auto memory = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(b.stride) * height, 0xA5);
    b.data = memory->data();
    b.owner = memory;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int patch = PatchAt(x, y, width, height, shift);
            const int a = PatchAlpha(patch, alpha);
            const std::vector<int> s = PatchSamples(model, patch);
            std::uint8_t* p = b.row(y) + static_cast<std::size_t>(x) * b.components;
            for (std::size_t i = 0; i < s.size(); ++i) p[i] = static_cast<std::uint8_t>((s[i] * a + 127) / 255);
            if (alpha) p[s.size()] = static_cast<std::uint8_t>(a);
        }
    return b;
}

}  // namespace testpage
