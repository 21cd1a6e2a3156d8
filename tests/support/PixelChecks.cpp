#include "support/PixelChecks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace testimage {

Rgba Flattened(Rgba c) {
    auto over = [&](int v) { return (v * c.a + 255 * (255 - c.a) + 127) / 255; };
    return {over(c.r), over(c.g), over(c.b), 255};
}

float SrgbToLinear(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }

int LinearToSrgb8(float v) {
    v = std::clamp(v, 0.0f, 1.0f);
    const float s = v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1 / 2.4f) - 0.055f;
    return static_cast<int>(std::lround(s * 255));
}

testing::AssertionResult SamePixels(const std::vector<std::uint8_t>& px, int channels, int width, int height,
                                    const std::function<Rgba(int, int)>& expected, int tolerance,
                                    const std::function<bool(int, int)>& compared) {
    if (px.size() != static_cast<std::size_t>(width) * height * channels)
        return testing::AssertionFailure() << "decoded " << px.size() << " bytes for " << width << "x" << height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (compared && !compared(x, y)) continue;
            const std::uint8_t* p = &px[(static_cast<std::size_t>(y) * width + x) * channels];
            const Rgba e = expected(x, y);
            int got[4], want[4] = {e.r, e.g, e.b, e.a};
            if (channels == 1) {
                got[0] = p[0];
                want[0] = GreyOf(e);
            } else {
                for (int c = 0; c < channels; ++c) got[c] = p[c];
            }
            const int colours = channels == 4 ? 3 : channels;
            for (int c = 0; c < channels; ++c) {
                if (c < colours && channels == 4 && want[3] == 0) continue;  // no colour under full transparency
                if (std::abs(got[c] - want[c]) > tolerance)
                    return testing::AssertionFailure()
                           << "pixel (" << x << "," << y << ") channel " << c << ": got " << got[c] << ", want "
                           << want[c];
            }
        }
    return testing::AssertionSuccess();
}

testing::AssertionResult SameSamples(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want,
                                     int width, int channels, int tolerance,
                                     const std::function<bool(int, int)>& compared) {
    if (got.size() != want.size())
        return testing::AssertionFailure() << "decoded " << got.size() << " bytes, want " << want.size();
    for (std::size_t i = 0; i < got.size(); ++i) {
        const std::size_t pixel = i / channels;
        if (compared && !compared(static_cast<int>(pixel % width), static_cast<int>(pixel / width))) continue;
        if (std::abs(got[i] - want[i]) > tolerance) {
            return testing::AssertionFailure() << "pixel (" << pixel % width << "," << pixel / width << ") sample "
                                               << i % channels << ": got " << int(got[i]) << ", want "
                                               << int(want[i]);
        }
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult DitheredAreas(const std::vector<std::uint8_t>& grey, int fileWidth, int fileHeight, int left,
                                       int top, int pageWidth, int pageHeight, const std::vector<FlatArea>& areas) {
    if (grey.size() != static_cast<std::size_t>(fileWidth) * fileHeight)
        return testing::AssertionFailure() << "decoded " << grey.size() << " bytes";
    for (std::size_t i = 0; i < grey.size(); ++i)
        if (grey[i] != 0 && grey[i] != 255) return testing::AssertionFailure() << "not one-bit: " << int(grey[i]);
    for (std::size_t a = 0; a < areas.size(); ++a) {
        const FlatArea& f = areas[a];
        if (f.x0 >= f.x1 || f.y0 >= f.y1) continue;
        double sum = 0;
        int n = 0, off = 0;
        for (int y = f.y0; y < f.y1; ++y)
            for (int x = f.x0; x < f.x1; ++x) {
                const int value = grey[static_cast<std::size_t>(top + y) * fileWidth + left + x];
                if ((f.grey == 0 && value != 0) || (f.grey == 255 && value != 255)) ++off;
                if (x >= f.x0 + 2 && x < f.x1 - 2 && y >= f.y0 + 2 && y < f.y1 - 2) {
                    sum += value;
                    ++n;
                }
            }
        if (off) return testing::AssertionFailure() << "area " << a << ": " << off << " wrong pixels in a solid area";
        if (n >= 50 && std::abs(sum / n - f.grey) > 20)
            return testing::AssertionFailure() << "area " << a << ": mean " << sum / n << ", want " << f.grey;
    }
    for (int y = 0; y < fileHeight; ++y)
        for (int x = 0; x < fileWidth; ++x)
            if ((x < left || x >= left + pageWidth || y < top || y >= top + pageHeight) &&
                grey[static_cast<std::size_t>(y) * fileWidth + x] != 255)
                return testing::AssertionFailure() << "margin pixel (" << x << "," << y << ") not white";
    return testing::AssertionSuccess();
}

}  // namespace testimage
