#include "engine/images/ImageColour.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/WorkerBudget.h"
#include "platform/imageio/ImageMetadata.h"
#include "platform/imageio/PixelRows.h"

namespace {

using platform::Bitmap;
using platform::ColorModel;
using platform::PixelLayout;

struct ProfileCloser {
    void operator()(void* p) const { if (p) cmsCloseProfile(p); }
};
struct TransformDeleter {
    void operator()(void* t) const { if (t) cmsDeleteTransform(t); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
using Transform = std::unique_ptr<void, TransformDeleter>;

// A bitmap's layout without its memory: what ConvertRow reads a row as.
Bitmap Layout(ColorModel model, bool alpha) {
    Bitmap b;
    b.model = model;
    b.hasAlpha = alpha;
    b.components = platform::ComponentsOf(model) + (alpha ? 1 : 0);
    return b;
}

PixelLayout PixelLayoutOf(ColorModel model, bool alpha) {
    switch (model) {
        case ColorModel::Monochrome: return alpha ? PixelLayout::GrayAlpha : PixelLayout::Gray;
        case ColorModel::CMYK: return alpha ? PixelLayout::CMYKA : PixelLayout::CMYK;
        case ColorModel::RGB: break;
    }
    return alpha ? PixelLayout::RGBA : PixelLayout::RGB;
}

cmsUInt32Number LcmsFormat(ColorModel model, bool alpha) {
    switch (model) {
        case ColorModel::Monochrome: return alpha ? TYPE_GRAYA_8 : TYPE_GRAY_8;
        case ColorModel::CMYK:
            return alpha ? (COLORSPACE_SH(PT_CMYK) | EXTRA_SH(1) | CHANNELS_SH(4) | BYTES_SH(1)) : TYPE_CMYK_8;
        case ColorModel::RGB: break;
    }
    return alpha ? TYPE_RGBA_8 : TYPE_RGB_8;
}

// Grey with the sRGB tone curve and white point, the grey counterpart of sRGB.
Profile GreyProfile() {
    const double sRGB[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, sRGB);
    if (!curve) return Profile();
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    Profile p(cmsCreateGrayProfile(&d65, curve));
    cmsFreeToneCurve(curve);
    return p;
}

bool ProfileMatches(const std::vector<std::uint8_t>& icc, ColorModel model) {
    switch (platform::IccColorSpace(icc)) {
        case platform::IccSpace::Grey: return model == ColorModel::Monochrome;
        case platform::IccSpace::RGB: return model == ColorModel::RGB;
        case platform::IccSpace::CMYK: return model == ColorModel::CMYK;
        case platform::IccSpace::Unknown: break;
    }
    return false;
}

void Premultiply(std::uint8_t* row, int pixels, int components) {
    for (int p = 0; p < pixels; ++p, row += components) {
        const unsigned a = row[components - 1];
        if (a == 255) continue;
        for (int c = 0; c < components - 1; ++c) row[c] = static_cast<std::uint8_t>((row[c] * a + 127) / 255);
    }
}

// Premultiplied rows of `from` (straight colour with alpha) into `to`, dropping the alpha.
void PremultiplyDroppingAlpha(const std::uint8_t* in, int pixels, int components, std::uint8_t* out) {
    for (int p = 0; p < pixels; ++p, in += components) {
        const unsigned a = in[components - 1];
        for (int c = 0; c < components - 1; ++c) *out++ = static_cast<std::uint8_t>((in[c] * a + 127) / 255);
    }
}

}  // namespace

Bitmap ConvertToModel(const Bitmap& image, const std::vector<std::uint8_t>& icc, ColorModel model, bool alpha) {
    if (image.model == model && image.hasAlpha == alpha) return image;
    Bitmap out = Bitmap::Allocate(image.width, image.height, model, alpha);
    if (!out) return out;

    // Profile conversion into the model, or into RGB on the way to CMYK.
    Transform transform;
    ColorModel profiled = image.model;
    if (image.model != model && !icc.empty() && ProfileMatches(icc, image.model)) {
        const ColorModel target = model == ColorModel::Monochrome ? ColorModel::Monochrome : ColorModel::RGB;
        Profile source(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
        Profile dest(target == ColorModel::Monochrome ? GreyProfile().release() : cmsCreate_sRGBProfile());
        if (source && dest) {
            // Without the cache a transform may be used by several threads at once.
            transform.reset(cmsCreateTransform(source.get(), LcmsFormat(image.model, image.hasAlpha), dest.get(),
                                               LcmsFormat(target, image.hasAlpha), INTENT_PERCEPTUAL,
                                               cmsFLAGS_NOCACHE | cmsFLAGS_COPY_ALPHA));
            if (transform) profiled = target;
        }
    }
    const Bitmap straight = Layout(image.model, image.hasAlpha);  // the source's rows, as ConvertRow reads them
    const Bitmap middle = Layout(profiled, image.hasAlpha);
    const int width = image.width;
    const int rows = image.height;
    const int bandRows = 64;
    platform::ParallelFor((rows + bandRows - 1) / bandRows, [&](int band) {
        std::vector<std::uint8_t> a(static_cast<std::size_t>(width) * 5), b(static_cast<std::size_t>(width) * 5);
        for (int y = band * bandRows; y < std::min(rows, (band + 1) * bandRows); ++y) {
            const std::uint8_t* in = image.row(y);
            std::uint8_t* dest = out.row(y);
            if (transform) {
                // lcms2 converts straight colour: the alpha is taken out and put back.
                const std::uint8_t* from = in;
                if (image.hasAlpha) {
                    platform::ConvertRow(straight, in, width, PixelLayoutOf(image.model, true), a.data());
                    from = a.data();
                }
                cmsDoTransform(transform.get(), from, b.data(), static_cast<cmsUInt32Number>(width));
                if (image.hasAlpha) Premultiply(b.data(), width, middle.components);
                in = b.data();
                if (profiled == model && image.hasAlpha == alpha) {
                    std::memcpy(dest, in, static_cast<std::size_t>(width) * out.components);
                    continue;
                }
            }
            const Bitmap& current = transform ? middle : straight;
            if (!current.hasAlpha) {
                platform::ConvertRow(current, in, width, PixelLayoutOf(model, alpha), dest);  // opaque: alpha 255
            } else if (alpha) {
                platform::ConvertRow(current, in, width, PixelLayoutOf(model, true), dest);
                Premultiply(dest, width, out.components);
            } else {
                // Over zero: the colour converted straight, then weighted by its alpha.
                platform::ConvertRow(current, in, width, PixelLayoutOf(model, true), a.data());
                PremultiplyDroppingAlpha(a.data(), width, platform::ComponentsOf(model) + 1, dest);
            }
        }
    });
    return out;
}

void SharpenLuminance(Bitmap& image, float amount) {
    if (!image || image.components < 1) return;
    const int w = image.width, h = image.height, n = image.components;
    const int colours = image.colorComponents();
    // Luminance by the device formulas, as the writers' grey is made.
    std::vector<std::uint8_t> luma(static_cast<std::size_t>(w) * h);
    std::vector<std::uint8_t> across(luma.size());
    const int bandRows = 64;
    const int bands = (h + bandRows - 1) / bandRows;
    const Bitmap noAlpha = Layout(image.model, false);
    platform::ParallelFor(bands, [&](int band) {
        std::vector<std::uint8_t> opaque(static_cast<std::size_t>(w) * 4);
        for (int y = band * bandRows; y < std::min(h, (band + 1) * bandRows); ++y) {
            const std::uint8_t* in = image.row(y);
            std::uint8_t* l = luma.data() + static_cast<std::size_t>(y) * w;
            if (image.model == ColorModel::Monochrome) {
                for (int x = 0; x < w; ++x) l[x] = in[x * n];
                continue;
            }
            // Premultiplied colour taken as it is: the luminance is premultiplied too.
            const std::uint8_t* row = in;
            if (image.hasAlpha) {
                for (int x = 0; x < w; ++x) std::memcpy(&opaque[static_cast<std::size_t>(x) * colours], in + x * n, colours);
                row = opaque.data();
            }
            platform::ConvertRow(noAlpha, row, w, PixelLayout::Gray, l);
        }
    });
    // A Gaussian of sigma 1 over seven taps, in 1/4096ths.
    int kernel[7];
    {
        double sum = 0, g[7];
        for (int i = 0; i < 7; ++i) sum += g[i] = std::exp(-(i - 3) * (i - 3) / 2.0);
        int total = 0;
        for (int i = 0; i < 7; ++i) total += kernel[i] = static_cast<int>(std::lround(g[i] / sum * 4096));
        kernel[3] += 4096 - total;
    }
    platform::ParallelFor(bands, [&](int band) {
        for (int y = band * bandRows; y < std::min(h, (band + 1) * bandRows); ++y) {
            const std::uint8_t* l = luma.data() + static_cast<std::size_t>(y) * w;
            std::uint8_t* o = across.data() + static_cast<std::size_t>(y) * w;
            for (int x = 0; x < w; ++x) {
                int acc = 2048;
                for (int t = -3; t <= 3; ++t) acc += l[std::clamp(x + t, 0, w - 1)] * kernel[t + 3];
                o[x] = static_cast<std::uint8_t>(acc >> 12);
            }
        }
    });
    const int scaled = static_cast<int>(std::lround(amount * 256));
    platform::ParallelFor(bands, [&](int band) {
        for (int y = band * bandRows; y < std::min(h, (band + 1) * bandRows); ++y) {
            const std::uint8_t* l = luma.data() + static_cast<std::size_t>(y) * w;
            std::uint8_t* px = image.row(y);
            for (int x = 0; x < w; ++x, px += n) {
                int blur = 2048;
                for (int t = -3; t <= 3; ++t)
                    blur += across[static_cast<std::size_t>(std::clamp(y + t, 0, h - 1)) * w + x] * kernel[t + 3];
                blur >>= 12;
                const int diff = l[x] - blur;
                if (diff == 0) continue;
                const int delta = (diff * scaled + (diff > 0 ? 128 : -128)) / 256;
                if (delta == 0) continue;
                const int top = image.hasAlpha ? px[n - 1] : 255;
                if (image.model == ColorModel::CMYK) {
                    // Lighter is less ink: the three colour inks move against the luminance.
                    for (int c = 0; c < 3; ++c) px[c] = static_cast<std::uint8_t>(std::clamp(px[c] - delta, 0, top));
                } else {
                    for (int c = 0; c < colours; ++c) px[c] = static_cast<std::uint8_t>(std::clamp(px[c] + delta, 0, top));
                }
            }
        }
    });
}
