// The writer layer's one colour converter, through every entry point that encoders take, against
// MuPDF drawing the same inks into grey and RGB itself (`mutool draw`): CMYK inks around the
// clamp edges, where C + K or the grey of C, M, Y plus K reaches 255.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/imageio/PixelRows.h"
#include "platform/imageio/RasterPrep.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

namespace {

using platform::Bitmap;
using platform::ColorModel;
using platform::PixelLayout;
namespace raster = platform::raster;
namespace fs = std::filesystem;

struct Ink {
    int c, m, y, k;
};

const Ink kInks[] = {
    {0, 0, 0, 0},         {255, 255, 255, 255}, {0, 0, 0, 255},   {255, 0, 0, 0},     {0, 255, 0, 0},
    {0, 0, 255, 0},       {255, 255, 255, 0},   {128, 128, 128, 128},
    // C + K one below, at and one above 255.
    {154, 0, 0, 100},     {155, 0, 0, 100},     {156, 0, 0, 100}, {0, 1, 0, 255},     {10, 250, 5, 10},
    // The grey of C, M, Y plus K one below, at and one above 255 (the grey of M = 255 is 151).
    {0, 255, 0, 103},     {0, 255, 0, 104},     {0, 255, 0, 105},
    // Past one edge in grey but not in RGB, and the reverse.
    {200, 0, 0, 100},     {60, 200, 90, 60},    {51, 102, 0, 26}, {100, 200, 50, 30},
};
constexpr int kCount = static_cast<int>(std::size(kInks));
constexpr int kPatch = 4;  // points (pixels at 72 dpi) a side

struct Reference {
    std::vector<int> grey;
    std::vector<std::vector<int>> rgb;
};

// The inks as patches in a row, drawn by mutool into grey and into RGB; sampled at the centres.
Reference DrawnByMuPDF(const testpdf::TempDir& dir) {
    testpdf::Page page;
    page.width = kCount * kPatch;
    page.height = kPatch;
    for (int i = 0; i < kCount; ++i) {
        const Ink& ink = kInks[i];
        char fill[160];
        std::snprintf(fill, sizeof fill, "%.6f %.6f %.6f %.6f k %d 0 %d %d re f\n", ink.c / 255.0, ink.m / 255.0,
                      ink.y / 255.0, ink.k / 255.0, i * kPatch, kPatch, kPatch);
        page.content += fill;
    }
    testpdf::Options options;
    options.pages = {page};
    const fs::path pdf = testpdf::Write(dir / "inks.pdf", options);
    Reference ref;
    for (const char* space : {"gray", "rgb"}) {
        const fs::path png = dir / (std::string(space) + ".png");
        std::string log;
        EXPECT_EQ(testimage::RunCommand("mutool draw -q -r 72 -c " + std::string(space) + " -o " +
                                            testimage::ShellQuote(png.string()) + " " +
                                            testimage::ShellQuote(pdf.string()),
                                        &log),
                  0)
            << log;
        const auto d = testimage::DecodeWithPil(png, std::string(space) == "gray" ? "L" : "RGB");
        EXPECT_TRUE(d.ok()) << d.error;
        if (!d.ok() || d.width != kCount * kPatch) return {};
        const int channels = std::string(space) == "gray" ? 1 : 3;
        for (int i = 0; i < kCount; ++i) {
            const std::size_t at = (static_cast<std::size_t>(kPatch / 2) * d.width + i * kPatch + kPatch / 2) * channels;
            if (channels == 1)
                ref.grey.push_back(d.pixels[at]);
            else
                ref.rgb.push_back({d.pixels[at], d.pixels[at + 1], d.pixels[at + 2]});
        }
    }
    return ref;
}

// The inks as a one-row CMYK bitmap, opaque; with `alpha`, an alpha sample of 255 follows.
Bitmap InkRow(bool alpha) {
    Bitmap b = Bitmap::Allocate(kCount, 1, ColorModel::CMYK, alpha);
    for (int i = 0; i < kCount; ++i) {
        std::uint8_t* p = b.row(0) + i * b.components;
        p[0] = static_cast<std::uint8_t>(kInks[i].c);
        p[1] = static_cast<std::uint8_t>(kInks[i].m);
        p[2] = static_cast<std::uint8_t>(kInks[i].y);
        p[3] = static_cast<std::uint8_t>(kInks[i].k);
        if (alpha) p[4] = 255;
    }
    return b;
}

// What an entry point made of the row: per ink, its grey or its RGB (first samples of a pixel).
struct Output {
    std::string name;
    std::vector<std::uint8_t> samples;
    int channels = 0;
    bool grey = false;
};

std::vector<Output> EveryEntryPoint(const Bitmap& row) {
    std::vector<Output> outputs;
    auto layout = [&](const char* name, PixelLayout l, bool grey) {
        Output o{name, std::vector<std::uint8_t>(static_cast<std::size_t>(kCount) * platform::BytesPerPixel(l)),
                 platform::BytesPerPixel(l), grey};
        platform::ConvertRow(row, row.row(0), row.width, l, o.samples.data());
        outputs.push_back(o);
        platform::PixelRows rows(row, l);
        const std::uint8_t* r = rows.Row(0);
        outputs.push_back({std::string("PixelRows ") + name, std::vector<std::uint8_t>(r, r + rows.RowBytes()),
                           platform::BytesPerPixel(l), grey});
    };
    layout("Gray", PixelLayout::Gray, true);
    layout("GrayAlpha", PixelLayout::GrayAlpha, true);
    layout("RGB", PixelLayout::RGB, false);
    layout("RGBA", PixelLayout::RGBA, false);
    auto raster = [&](const char* name, bool (*convert)(const Bitmap&, raster::Alpha, raster::Pixels&),
                      raster::Alpha alpha, bool grey) {
        raster::Pixels px;
        EXPECT_TRUE(convert(row, alpha, px)) << name;
        outputs.push_back({name, px.data, px.channels, grey});
    };
    for (const auto& [alpha, suffix] : {std::pair{raster::Alpha::Flatten, " flattened"},
                                        std::pair{raster::Alpha::Straight, " straight"},
                                        std::pair{raster::Alpha::Premultiplied, " premultiplied"}}) {
        raster(("ToRgb" + std::string(suffix)).c_str(), raster::ToRgb, alpha, false);
        raster(("ToGrey" + std::string(suffix)).c_str(), raster::ToGrey, alpha, true);
    }
    raster::Pixels premultiplied;
    EXPECT_TRUE(raster::ToPremultipliedRgba(row, premultiplied));
    outputs.push_back({"ToPremultipliedRgba", premultiplied.data, premultiplied.channels, false});
    return outputs;
}

TEST(PixelConversion, CmykInksAcrossTheClampEdgesAsMuPDFDrawsThem) {
    testpdf::TempDir dir;
    const Reference ref = DrawnByMuPDF(dir);
    ASSERT_EQ(ref.grey.size(), static_cast<std::size_t>(kCount));
    ASSERT_EQ(ref.rgb.size(), static_cast<std::size_t>(kCount));
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "with an opaque alpha sample" : "without alpha");
        const Bitmap row = InkRow(alpha);
        for (const Output& o : EveryEntryPoint(row)) {
            ASSERT_EQ(o.samples.size(), static_cast<std::size_t>(kCount) * o.channels) << o.name;
            for (int i = 0; i < kCount; ++i) {
                const Ink& ink = kInks[i];
                const std::uint8_t* p = &o.samples[static_cast<std::size_t>(i) * o.channels];
                const std::string at = o.name + ", ink " + std::to_string(ink.c) + " " + std::to_string(ink.m) + " " +
                                       std::to_string(ink.y) + " " + std::to_string(ink.k);
                // MuPDF converts the fill in floating point: one step apart at most.
                if (o.grey) {
                    EXPECT_NEAR(p[0], ref.grey[i], 1) << at;
                } else {
                    for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], ref.rgb[i][c], 1) << at << " channel " << c;
                }
                // An opaque page stays opaque wherever an entry point gives alpha.
                if (o.channels == 2 || o.channels == 4) {
                    EXPECT_EQ(p[o.channels - 1], 255) << at;
                }
            }
        }
    }
}

// The entry points agree with each other exactly, translucent pixels included: one converter.
TEST(PixelConversion, EveryEntryPointGivesTheSameSamples) {
    Bitmap row = InkRow(true);
    for (int i = 0; i < kCount; ++i) {
        std::uint8_t* p = row.row(0) + i * row.components;
        const int a = (i * 37) % 256;  // translucent and clear pixels too
        for (int c = 0; c < 4; ++c) p[c] = static_cast<std::uint8_t>((p[c] * a + 127) / 255);
        p[4] = static_cast<std::uint8_t>(a);
    }
    const std::vector<Output> outputs = EveryEntryPoint(row);
    auto find = [&](const std::string& name) -> const Output& {
        for (const Output& o : outputs)
            if (o.name == name) return o;
        throw std::out_of_range(name);
    };
    const std::pair<const char*, const char*> same[] = {
        {"RGB", "ToRgb flattened"},          {"RGB", "PixelRows RGB"},           {"Gray", "ToGrey flattened"},
        {"Gray", "PixelRows Gray"},          {"RGBA", "ToRgb straight"},         {"RGBA", "PixelRows RGBA"},
        {"GrayAlpha", "ToGrey straight"},    {"GrayAlpha", "PixelRows GrayAlpha"},
        {"ToRgb premultiplied", "ToPremultipliedRgba"},
    };
    for (const auto& [a, b] : same) EXPECT_EQ(find(a).samples, find(b).samples) << a << " and " << b;
}

}  // namespace
