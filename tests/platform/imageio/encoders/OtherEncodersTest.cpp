// The writer layer's encoders for the output types beyond the common ones: each file is decoded by
// a reader that is not ours (PIL, ImageMagick, libtiff, dcraw, the OpenEXR library, qpdf and
// MuPDF) and compared with the page that was encoded, within what the format can hold.
#include <gtest/gtest.h>

#include <OpenEXR/ImfRgbaFile.h>
#include <glib.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/PagePatches.h"
#include "platform/imageio/ImageDestination.h"
#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/PixelChecks.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;
using platform::ColorModel;
using testpage::Colour;

constexpr int kWidth = 131, kHeight = 23;  // odd sizes; two full FlashPix tiles across
constexpr float kDpi = 144.0f;

// Page variants: the three models and RGB with alpha.
struct Variant {
    const char* name;
    ColorModel model;
    bool alpha;
    int index;
};
const Variant kVariants[] = {
    {"Grey", ColorModel::Monochrome, false, 0},
    {"Rgb", ColorModel::RGB, false, 1},
    {"Cmyk", ColorModel::CMYK, false, 2},
    {"Rgba", ColorModel::RGB, true, 3},
};

enum class Reader { Pil, PilIcon, Pict, MacPaint, Xbm, Fax, Exr, QuickTime, Illustrator, Dng, FlashPix };

struct TypeCase {
    const char* name;
    const char* uti;
    const char* file;
    Reader reader;
    bool keepsAlpha;
    const char* modes[4];  // the file's own mode as PIL reports it, per variant; nullptr: not checked
    int iconSide = 0;      // largest entry of an icon format
};

const TypeCase kTypes[] = {
    {"Photoshop", "com.adobe.photoshop-image", "page.psd", Reader::Pil, true, {"L", "RGB", "CMYK", "RGBA"}},
    {"OpenExr", "com.ilm.openexr-image", "page.exr", Reader::Exr, true, {}},
    {"Icns", "com.apple.icns", "page.icns", Reader::PilIcon, true, {"RGBA", "RGBA", "RGBA", "RGBA"}, 1024},
    {"Tga", "com.truevision.tga-image", "page.tga", Reader::Pil, true, {"L", "RGB", "RGB", "RGBA"}},
    {"Sgi", "com.sgi.sgi-image", "page.sgi", Reader::Pil, true, {"L", "RGB", "RGB", "RGBA"}},
    {"Pict", "com.apple.pict", "page.pict", Reader::Pict, false, {}},
    {"Illustrator", "com.adobe.illustrator.ai-image", "page.ai", Reader::Illustrator, true, {}},
    {"MacPaint", "com.apple.macpaint-image", "page.mac", Reader::MacPaint, false, {}},
    {"QuickTime", "com.apple.quicktime-image", "page.qtif", Reader::QuickTime, true, {"L", "RGB", "RGB", "RGBA"}},
    {"Ico", "com.microsoft.ico", "page.ico", Reader::PilIcon, true, {"RGBA", "RGBA", "RGBA", "RGBA"}, 256},
    {"XBitmap", "public.xbitmap-image", "page.xbm", Reader::Xbm, false, {}},
    {"FlashPix", "com.kodak.flashpix.image", "page.fpx", Reader::FlashPix, true, {"L", "RGB", "RGB", "RGBA"}},
    {"Fax", "public.fax", "page.tif", Reader::Fax, false, {"1", "1", "1", "1"}},
    {"CameraRaw", "public.camera-raw-image", "page.dng", Reader::Dng, false, {"RGB", "RGB", "RGB", "RGB"}},
};

// The page's size and the patch rotation (see testpage::PatchAt).
struct Geometry {
    int w = kWidth, h = kHeight, shift = 0;
};

Colour Expected(const Variant& v, bool keepsAlpha, int x, int y, const Geometry& g) {
    const Colour c = testpage::PatchColour(v.model, testpage::PatchAt(x, y, g.w, g.h, g.shift), v.alpha);
    return keepsAlpha ? c : testpage::Flattened(c);
}

bool WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

using testimage::SamePixels;

// For one-bit output: the page's patches as flat areas of their grey, at (left, top) in the file.
testing::AssertionResult DitheredPatches(const std::vector<std::uint8_t>& grey, int fileWidth, int fileHeight,
                                         int left, int top, const Variant& v, const Geometry& g) {
    std::vector<testimage::FlatArea> areas;
    for (int patch = 0; patch < testpage::kPatches; ++patch) {
        const int px = patch % testpage::kAcross, py = patch / testpage::kAcross;
        auto start = [](int i, int n, int parts) { return (i * n + parts - 1) / parts; };
        testimage::FlatArea a;
        a.x0 = start(px, g.w, testpage::kAcross);
        a.x1 = start(px + 1, g.w, testpage::kAcross);
        a.y0 = start(py, g.h, testpage::kDown);
        a.y1 = start(py + 1, g.h, testpage::kDown);
        if (a.x0 < a.x1 && a.y0 < a.y1) a.grey = testpage::GreyOf(Expected(v, false, a.x0, a.y0, g));
        areas.push_back(a);
    }
    return testimage::DitheredAreas(grey, fileWidth, fileHeight, left, top, g.w, g.h, areas);
}

using testimage::SrgbToLinear;

// Encodes a page of the variant and checks the file with the type's reader.
void CheckEncoding(const TypeCase& type, const Variant& v, const Geometry& g) {
    const int vi = v.index;
    const bool alphaKept = type.keepsAlpha && v.alpha;

    const platform::Bitmap page = testpage::MakePage(v.model, g.w, g.h, v.alpha, g.shift);
    platform::DestinationProperties props;
    props.dpiWidth = kDpi;
    props.dpiHeight = kDpi;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(platform::EncodeImageData(type.uti, page, props, bytes));
    ASSERT_FALSE(bytes.empty());
    testpdf::TempDir dir;
    const fs::path file = dir / type.file;
    ASSERT_TRUE(WriteFile(file, bytes));
    auto expected = [&](int x, int y) { return Expected(v, type.keepsAlpha, x, y, g); };
    const int tolerance = v.alpha ? 2 : 0;

    switch (type.reader) {
        case Reader::Pil: {
            const auto d = testimage::DecodeWithPil(file, alphaKept ? "RGBA" : "RGB");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.mode, type.modes[vi]);
            ASSERT_EQ(d.width, g.w);
            ASSERT_EQ(d.height, g.h);
            if (d.mode != "CMYK") {
                EXPECT_TRUE(SamePixels(d.pixels, alphaKept ? 4 : 3, g.w, g.h, expected, tolerance));
            } else {
                // Ink kept as ink: compare the samples themselves (PIL's own CMYK to RGB differs
                // from the device formula).
                const auto ink = testimage::DecodeWithPil(file, "CMYK");
                std::vector<std::uint8_t> want;
                for (int i = 0; i < g.w * g.h; ++i)
                    for (int sample : testpage::PatchSamples(v.model, testpage::PatchAt(i % g.w, i / g.w, g.w, g.h)))
                        want.push_back(static_cast<std::uint8_t>(sample));
                EXPECT_TRUE(testimage::SameSamples(ink.pixels, want, g.w, 4, 0));
            }
            if (std::string(type.name) == "Photoshop") {
                const auto m = testimage::DecodeWithMagick(file, "PSD");
                ASSERT_TRUE(m.ok()) << m.error;
                EXPECT_EQ(m.resX, kDpi);
                EXPECT_EQ(m.resY, kDpi);
            }
            break;
        }
        case Reader::PilIcon: {
            const auto d = testimage::DecodeWithPil(file, "RGBA");
            ASSERT_TRUE(d.ok()) << d.error;
            const int side = type.iconSide;
            ASSERT_EQ(d.width, side);
            ASSERT_EQ(d.height, side);
            // Fitted: scaled to the icon's side, centred on transparency.
            const double scale = static_cast<double>(side) / std::max(g.w, g.h);
            const int fw = static_cast<int>(std::lround(g.w * scale)), fh = static_cast<int>(std::lround(g.h * scale));
            const int left = (side - fw) / 2, top = (side - fh) / 2;
            for (int patch = 0; patch < testpage::kPatches; ++patch) {
                const double cx = (patch % testpage::kAcross + 0.5) * g.w / testpage::kAcross;
                const double cy = (patch / testpage::kAcross + 0.5) * g.h / testpage::kDown;
                // Only where the source is uniform around the sample: resampling blends neighbours.
                bool uniform = true;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        uniform = uniform && testpage::PatchAt(std::clamp(int(cx) + dx, 0, g.w - 1),
                                                               std::clamp(int(cy) + dy, 0, g.h - 1), g.w, g.h, g.shift) ==
                                                 testpage::PatchAt(int(cx), int(cy), g.w, g.h, g.shift);
                if (!uniform) continue;
                const int x = left + static_cast<int>(cx * scale), y = top + static_cast<int>(cy * scale);
                const std::uint8_t* at = &d.pixels[(static_cast<std::size_t>(y) * side + x) * 4];
                const std::vector<std::uint8_t> one(at, at + 4);
                EXPECT_TRUE(SamePixels(one, 4, 1, 1, [&](int, int) { return Expected(v, true, int(cx), int(cy), g); }, 3))
                    << "patch " << patch;
            }
            if (fh < side) {
                EXPECT_EQ(d.pixels[3], 0) << "corner is transparent";
            }
            if (!v.alpha) {
                // The page reaches the edges of its longer side.
                EXPECT_EQ(d.pixels[(static_cast<std::size_t>(side / 2) * side + left) * 4 + 3], 255);
                EXPECT_EQ(d.pixels[(static_cast<std::size_t>(top) * side + side / 2) * 4 + 3], 255);
            }
            break;
        }
        case Reader::Pict: {
            const auto m = testimage::DecodeWithMagick(file, "PICT");
            ASSERT_TRUE(m.ok()) << m.error;
            ASSERT_EQ(m.width, g.w);
            ASSERT_EQ(m.height, g.h);
            EXPECT_TRUE(SamePixels(m.pixels, 3, g.w, g.h, expected, tolerance));
            break;
        }
        case Reader::MacPaint: {
            const auto d = testimage::DecodeMacPaint(file);
            ASSERT_TRUE(d.ok()) << d.error;
            ASSERT_EQ(d.width, 576);
            ASSERT_EQ(d.height, 720);
            EXPECT_TRUE(DitheredPatches(d.pixels, 576, 720, (576 - g.w) / 2, (720 - g.h) / 2, v, g));
            break;
        }
        case Reader::Xbm: {
            // ImageMagick, as X11, takes set bits as black (PIL reads them as white).
            const auto m = testimage::DecodeWithMagick(file, "XBM", "GRAY");
            ASSERT_TRUE(m.ok()) << m.error;
            ASSERT_EQ(m.width, g.w);
            ASSERT_EQ(m.height, g.h);
            EXPECT_TRUE(DitheredPatches(m.pixels, g.w, g.h, 0, 0, v, g));
            break;
        }
        case Reader::Fax: {
            const auto d = testimage::DecodeWithPil(file, "L");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.format, "TIFF");
            EXPECT_EQ(d.mode, "1");
            EXPECT_EQ(d.dpiX, kDpi);
            EXPECT_EQ(d.dpiY, kDpi);
            EXPECT_TRUE(DitheredPatches(d.pixels, d.width, d.height, 0, 0, v, g));
            const auto t = testimage::ReadTiffFields(file);
            ASSERT_TRUE(t.ok()) << t.error;
            EXPECT_EQ(t.compression, COMPRESSION_CCITTFAX4);
            EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISWHITE);
            EXPECT_EQ(t.bitsPerSample, 1);
            break;
        }
        case Reader::Exr: {
            const auto d = testimage::DecodeExr(file);
            ASSERT_TRUE(d.ok()) << d.error;
            ASSERT_EQ(d.width, g.w);
            ASSERT_EQ(d.height, g.h);
            const bool grey = v.model == ColorModel::Monochrome;
            const int wantChannels = grey ? (v.alpha ? Imf::WRITE_YA : Imf::WRITE_Y)
                                          : (v.alpha ? Imf::WRITE_RGBA : Imf::WRITE_RGB);
            EXPECT_EQ(d.channels, wantChannels);
            ASSERT_TRUE(d.hasXDensity);
            EXPECT_FLOAT_EQ(d.xDensity, kDpi);
            EXPECT_FLOAT_EQ(d.pixelAspectRatio, 1.0f);
            // Half floats hold 8-bit sRGB to within one step.
            EXPECT_TRUE(SamePixels(d.rgba, 4, g.w, g.h, expected, v.alpha ? 2 : 1));
            EXPECT_NEAR(SrgbToLinear(128 / 255.0f), 0.2158f, 1e-3);
            break;
        }
        case Reader::QuickTime: {
            // 'idsc' then 'idat'; the payload is a PNG that PIL decodes.
            const auto q = testimage::ReadQuickTimeImage(file, alphaKept ? "RGBA" : "RGB");
            ASSERT_TRUE(q.ok()) << q.error;
            EXPECT_EQ(q.codec, "png ");
            EXPECT_EQ(q.width, g.w);
            EXPECT_EQ(q.height, g.h);
            EXPECT_EQ(q.hRes, kDpi);
            EXPECT_EQ(q.dataSize, q.payloadSize) << "data size field";
            const auto& d = q.picture;
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.format, "PNG");
            EXPECT_EQ(d.mode, type.modes[vi]);
            EXPECT_NEAR(d.dpiX, kDpi, 0.1);
            EXPECT_TRUE(SamePixels(d.pixels, alphaKept ? 4 : 3, g.w, g.h, expected, tolerance));
            break;
        }
        case Reader::Illustrator: {
            std::string log;
            EXPECT_TRUE(testimage::PdfChecksClean(file, &log)) << log;
            // The picture keeps its colour space; alpha is a soft mask; its size and its
            // resolution on the page.
            const auto image = testimage::ListPdfImage(file);
            ASSERT_TRUE(image.ok()) << image.error;
            EXPECT_EQ(image.colour, v.model == ColorModel::Monochrome ? "gray" : v.model == ColorModel::CMYK ? "cmyk" : "rgb");
            EXPECT_EQ(image.softMask, v.alpha);
            EXPECT_EQ(image.width, g.w);
            EXPECT_EQ(image.height, g.h);
            EXPECT_EQ(image.xPpi, 144);
            EXPECT_EQ(image.yPpi, 144);
            if (g.w < 8 || g.h < 8) break;  // MuPDF rounds the size of tiny pages up
            // At the page's resolution MuPDF draws the picture pixel for pixel, on white.
            const auto d = testimage::DrawPdfPage(file, 144);
            ASSERT_TRUE(d.ok()) << d.error;
            ASSERT_EQ(d.width, g.w);
            ASSERT_EQ(d.height, g.h);
            EXPECT_TRUE(SamePixels(d.pixels, 3, g.w, g.h,
                                   [&](int x, int y) { return Expected(v, false, x, y, g); }, 2));
            break;
        }
        case Reader::Dng: {
            // The preview, for TIFF readers.
            const auto d = testimage::DecodeWithPil(file, "RGB");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.format, "TIFF");
            ASSERT_EQ(d.width, g.w);
            EXPECT_TRUE(SamePixels(d.pixels, 3, g.w, g.h, expected, tolerance));
            // The raw image through libtiff: linear raw RGB, samples the page's codes, with a
            // linearisation table that is the sRGB curve.
            const auto raw = testimage::ReadDngRaw(file);
            ASSERT_TRUE(raw.ok()) << raw.error;
            EXPECT_EQ(raw.version, (std::vector<int>{1, 4, 0, 0}));
            EXPECT_EQ(raw.subDirectories, 1);
            EXPECT_EQ(raw.photometric, 34892);
            EXPECT_EQ(raw.samples, 3);
            EXPECT_EQ(raw.subfileType, 0u);
            ASSERT_EQ(raw.width, g.w);
            ASSERT_EQ(raw.linearization.size(), 256u);
            EXPECT_EQ(raw.linearization[0], 0);
            EXPECT_EQ(raw.linearization[255], 65535);
            EXPECT_NEAR(raw.linearization[128], SrgbToLinear(128 / 255.0f) * 65535, 1);
            EXPECT_TRUE(SamePixels(raw.pixels, 3, g.w, g.h, expected, tolerance));
            // A raw developer renders it back to the page.
            if (g.w < 22 || g.h < 22) break;
            const auto dev = testimage::DevelopRaw(file);
            ASSERT_TRUE(dev.ok()) << dev.error;
            EXPECT_TRUE(SamePixels(dev.pixels, 3, g.w, g.h, expected, 2));
            break;
        }
        case Reader::FlashPix: {
            const auto d = testimage::DecodeWithPil(file, "");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.format, "FPX");
            EXPECT_EQ(d.mode, type.modes[vi]);
            ASSERT_EQ(d.width, g.w);
            ASSERT_EQ(d.height, g.h);
            // FlashPix stores opacity with premultiplied colour. PIL reads tiles cut at the right
            // edge as if they were narrower, where the format pads every tile to 64 pixels:
            // compare the whole tiles only.
            const int channels = d.mode == "L" ? 1 : d.mode == "RGBA" ? 4 : 3;
            auto premultiplied = [&](int x, int y) {
                Colour c = Expected(v, true, x, y, g);
                c.r = (c.r * c.a + 127) / 255;
                c.g = (c.g * c.a + 127) / 255;
                c.b = (c.b * c.a + 127) / 255;
                return c;
            };
            EXPECT_TRUE(SamePixels(d.pixels, channels, g.w, g.h, premultiplied, tolerance,
                                   [&](int x, int) { return x < g.w / 64 * 64; }));
            break;
        }
    }
}

class OtherEncoders : public testing::TestWithParam<std::tuple<TypeCase, Variant>> {};

TEST_P(OtherEncoders, DecodesToThePage) {
    CheckEncoding(std::get<0>(GetParam()), std::get<1>(GetParam()), Geometry{});
}

void PrintTo(const TypeCase& t, std::ostream* os) { *os << t.name; }
void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

std::string PrintCase(const testing::TestParamInfo<std::tuple<TypeCase, Variant>>& info) {
    return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(AllModels, OtherEncoders, testing::Combine(testing::ValuesIn(kTypes), testing::ValuesIn(kVariants)),
                         PrintCase);

}  // namespace

namespace {

// Edge sizes: one pixel, one row, one column, and a width just past a FlashPix tile.
class OtherEncodersEdges : public testing::TestWithParam<TypeCase> {};

TEST_P(OtherEncodersEdges, TinyAndOddPages) {
    const Geometry kEdges[] = {{1, 1, 10}, {3, 1, 4}, {1, 5, 2}, {65, 3, 7}};
    for (const Geometry& g : kEdges)
        for (const Variant& v : {kVariants[1], kVariants[3]}) {
            SCOPED_TRACE(std::to_string(g.w) + "x" + std::to_string(g.h) + " " + v.name);
            CheckEncoding(GetParam(), v, g);
        }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, OtherEncodersEdges, testing::ValuesIn(kTypes),
                         [](const testing::TestParamInfo<TypeCase>& info) { return std::string(info.param.name); });

const TypeCase& Type(const std::string& name) {
    for (const TypeCase& t : kTypes)
        if (name == t.name) return t;
    throw std::out_of_range(name);
}

platform::Bitmap Solid(int width, int height, std::uint8_t value) {
    platform::Bitmap b = platform::Bitmap::Allocate(width, height, ColorModel::RGB, false);
    for (int y = 0; y < height; ++y) std::memset(b.row(y), value, static_cast<std::size_t>(width) * 3);
    return b;
}

// The largest pages a format holds are written whole; one pixel more is refused, not cut.
TEST(OtherEncoderLimits, LargestPagesAndOneMore) {
    struct Limit {
        const char* type;
        int width;
    };
    for (const Limit& l : {Limit{"Tga", 65535}, Limit{"Sgi", 65535}, Limit{"QuickTime", 65535}}) {
        SCOPED_TRACE(l.type);
        CheckEncoding(Type(l.type), kVariants[1], Geometry{l.width, 1, 0});
        std::vector<std::uint8_t> bytes;
        EXPECT_FALSE(platform::EncodeImageData(Type(l.type).uti, Solid(l.width + 1, 1, 0), {}, bytes));
        EXPECT_TRUE(bytes.empty());
    }
    std::vector<std::uint8_t> bytes;
    EXPECT_FALSE(platform::EncodeImageData(Type("Pict").uti, Solid(32768, 1, 0), {}, bytes));
    EXPECT_FALSE(platform::EncodeImageData(Type("Photoshop").uti, Solid(300001, 1, 0), {}, bytes));
}

// A PICT wider than one PixMap row holds goes in strips that a reader puts side by side.
TEST(OtherEncoderLimits, WidePictInStrips) { CheckEncoding(Type("Pict"), kVariants[3], Geometry{8101, 2, 3}); }

// A Photoshop page past 30000 pixels becomes a large document (version 2).
TEST(OtherEncoderLimits, WidePhotoshopAsLargeDocument) {
    testpdf::TempDir dir;
    const Geometry g{30001, 2, 5};
    const platform::Bitmap page = testpage::MakePage(ColorModel::RGB, g.w, g.h, false, g.shift);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(platform::EncodeImageData(Type("Photoshop").uti, page, {}, bytes));
    ASSERT_GT(bytes.size(), 6u);
    EXPECT_EQ(bytes[5], 2);  // version
    ASSERT_TRUE(WriteFile(dir / "page.psb", bytes));
    // ImageMagick's default policy stops at 16384 pixels: allow this one.
    std::ofstream(dir / "policy.xml") << "<policymap><policy domain=\"resource\" name=\"width\" value=\"1MP\"/>"
                                         "</policymap>\n";
    const auto m = testimage::DecodeWithMagick(dir / "page.psb", "PSB", "RGB", dir.path());
    ASSERT_TRUE(m.ok()) << m.error;
    ASSERT_EQ(m.width, g.w);
    ASSERT_EQ(m.height, g.h);
    EXPECT_TRUE(SamePixels(m.pixels, 3, g.w, g.h, [&](int x, int y) { return Expected(kVariants[1], false, x, y, g); }, 0));
}

// Fixed-size formats: a page larger than MacPaint's sheet is shrunk into it and centred; tall
// pages fit an icon's height.
TEST(OtherEncoderLimits, FittedIntoFixedSizes) {
    testpdf::TempDir dir;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(platform::EncodeImageData(Type("MacPaint").uti, Solid(1200, 800, 0), {}, bytes));
    ASSERT_TRUE(WriteFile(dir / "big.mac", bytes));
    std::string log;
    ASSERT_EQ(testimage::RunCommand("macptopbm " + testimage::ShellQuote((dir / "big.mac").string()) + " > " +
                                        testimage::ShellQuote((dir / "big.pbm").string()),
                                    &log),
              0)
        << log;
    const auto d = testimage::DecodeWithPil(dir / "big.pbm", "L");
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.pixels.size(), 576u * 720u);
    // 1200 × 800 at 0.48 is 576 × 384, from row 168.
    for (int y = 0; y < 720; ++y) {
        const bool inside = y >= 168 && y < 168 + 384;
        for (int x = 0; x < 576; ++x)
            ASSERT_EQ(d.pixels[static_cast<std::size_t>(y) * 576 + x], inside ? 0 : 255) << x << "," << y;
    }
    for (const char* icon : {"Ico", "Icns"}) {
        SCOPED_TRACE(icon);
        CheckEncoding(Type(icon), kVariants[0], Geometry{13, 300, 1});
    }
}

// Icons carry the standard sizes; FlashPix its whole resolution pyramid.
TEST(OtherEncoderLimits, IconSizesAndFlashPixPyramid) {
    testpdf::TempDir dir;
    const platform::Bitmap page = testpage::MakePage(ColorModel::RGB, 200, 65, false);
    struct Expect {
        const char* type;
        const char* file;
        const char* script;
        const char* want;
    };
    const Expect kExpect[] = {
        {"Ico", "a.ico", "from PIL import Image; print(sorted(Image.open(sys.argv[1]).info['sizes']))",
         "[(16, 16), (32, 32), (48, 48), (256, 256)]\n"},
        {"Icns", "a.icns", "from PIL import Image; print(sorted(Image.open(sys.argv[1]).info['sizes']))",
         "[(16, 16, 1), (16, 16, 2), (32, 32, 1), (32, 32, 2), (64, 64, 1), (128, 128, 1), (128, 128, 2), "
         "(256, 256, 1), (256, 256, 2), (512, 512, 1), (512, 512, 2)]\n"},
        {"FlashPix", "a.fpx",
         "import olefile, struct\n"
         "o = olefile.OleFileIO(sys.argv[1])\n"
         "for e in sorted(o.listdir()):\n"
         "    if e[-1] == 'Subimage 0000 Header':\n"
         "        d = o.openstream(e).read()\n"
         "        print(e[1], *struct.unpack('<II', d[32:40]))\n",
         "Resolution 0000 50 17\nResolution 0001 100 33\nResolution 0002 200 65\n"},
    };
    for (const Expect& e : kExpect) {
        SCOPED_TRACE(e.type);
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(platform::EncodeImageData(Type(e.type).uti, page, {}, bytes));
        ASSERT_TRUE(WriteFile(dir / e.file, bytes));
        std::string out;
        EXPECT_EQ(testimage::RunPythonProbe(e.script, dir / e.file, &out), 0);
        EXPECT_EQ(out, e.want);
    }
}

// libgsf reports a misuse of its streams (closing one twice, say) as a GLib critical, and writes
// on: the FlashPix writer must give it none.
TEST(OtherEncoderLimits, FlashPixWithoutLibraryComplaints) {
    static int complaints = 0;
    complaints = 0;
    const GLogFunc previous = g_log_set_default_handler(
        [](const gchar*, GLogLevelFlags level, const gchar*, gpointer) {
            if (level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) ++complaints;
        },
        nullptr);
    std::vector<std::uint8_t> bytes;
    const bool written = platform::EncodeImageData(Type("FlashPix").uti, Solid(70, 3, 9), {}, bytes);
    g_log_set_default_handler(previous, nullptr);
    EXPECT_TRUE(written);
    EXPECT_EQ(complaints, 0);
}

// A bitmap whose fields disagree (samples per pixel, stride) is refused by every encoder.
TEST(OtherEncoderLimits, RefuseInconsistentBitmaps) {
    platform::Bitmap wrongComponents = Solid(4, 4, 0);
    wrongComponents.components = 4;  // RGB without alpha has three
    platform::Bitmap shortStride = Solid(4, 4, 0);
    shortStride.stride = 11;
    for (const TypeCase& t : kTypes)
        for (const platform::Bitmap* b : {&wrongComponents, &shortStride}) {
            std::vector<std::uint8_t> bytes{1, 2, 3};
            EXPECT_FALSE(platform::EncodeImageData(t.uti, *b, {}, bytes)) << t.name;
            EXPECT_TRUE(bytes.empty()) << t.name;
        }
}

}  // namespace
