// The writer layer's encoders for the output types beyond the common ones: each file is decoded by
// a reader that is not ours (PIL, ImageMagick, libtiff, dcraw, the OpenEXR library, qpdf and
// MuPDF) and compared with the page that was encoded, within what the format can hold.
#include <gtest/gtest.h>

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/imageio/ImageDestination.h"
#include "support/PagePatches.h"
#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/PixelChecks.h"
#include "support/ReadBack.h"
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

using testimage::Reader;

struct TypeCase {
    const char* name;
    const char* uti;
    const char* file;
    Reader reader;
    bool keepsAlpha;
    const char* format;    // PIL's name of the format; nullptr: not read by PIL
    const char* modes[4];  // the file's own mode as PIL reports it, per variant; nullptr: not checked
    int tolerance = 0;     // per sample, on opaque pages (translucent ones allow 2)
    int iconSide = 0;      // largest entry of an icon format
};

const TypeCase kTypes[] = {
    {"Photoshop", "com.adobe.photoshop-image", "page.psd", Reader::Pil, true, "PSD", {"L", "RGB", "CMYK", "RGBA"}},
    {"OpenExr", "com.ilm.openexr-image", "page.exr", Reader::Exr, true, nullptr, {}, 1},
    {"Icns", "com.apple.icns", "page.icns", Reader::Icon, true, "ICNS", {"RGBA", "RGBA", "RGBA", "RGBA"}, 3, 1024},
    {"Tga", "com.truevision.tga-image", "page.tga", Reader::Pil, true, "TGA", {"L", "RGB", "RGB", "RGBA"}},
    {"Sgi", "com.sgi.sgi-image", "page.sgi", Reader::Pil, true, "SGI", {"L", "RGB", "RGB", "RGBA"}},
    {"Pict", "com.apple.pict", "page.pict", Reader::Pict, false, nullptr, {}},
    {"Illustrator", "com.adobe.illustrator.ai-image", "page.ai", Reader::Pdf, true, nullptr, {}, 2},
    {"MacPaint", "com.apple.macpaint-image", "page.mac", Reader::MacPaint, false, nullptr, {}},
    {"QuickTime", "com.apple.quicktime-image", "page.qtif", Reader::QuickTime, true, "PNG", {"L", "RGB", "RGB", "RGBA"}},
    {"Ico", "com.microsoft.ico", "page.ico", Reader::Icon, true, "ICO", {"RGBA", "RGBA", "RGBA", "RGBA"}, 3, 256},
    {"XBitmap", "public.xbitmap-image", "page.xbm", Reader::XBitmap, false, nullptr, {}},
    {"FlashPix", "com.kodak.flashpix.image", "page.fpx", Reader::FlashPix, true, "FPX", {"L", "RGB", "RGB", "RGBA"}},
    {"Fax", "public.fax", "page.tif", Reader::Fax, false, "TIFF", {"1", "1", "1", "1"}},
    {"CameraRaw", "public.camera-raw-image", "page.dng", Reader::Dng, false, "TIFF", {"RGB", "RGB", "RGB", "RGB"}},
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

// For one-bit output: the page's patches as flat areas of their grey.
std::vector<testimage::FlatArea> PatchAreas(const Variant& v, const Geometry& g) {
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
    return areas;
}

// The patch centres around which the page is uniform (resampling blends neighbours).
std::vector<std::pair<double, double>> UniformPatchCentres(const Geometry& g) {
    std::vector<std::pair<double, double>> centres;
    for (int patch = 0; patch < testpage::kPatches; ++patch) {
        const double cx = (patch % testpage::kAcross + 0.5) * g.w / testpage::kAcross;
        const double cy = (patch / testpage::kAcross + 0.5) * g.h / testpage::kDown;
        bool uniform = true;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                uniform = uniform && testpage::PatchAt(std::clamp(int(cx) + dx, 0, g.w - 1),
                                                       std::clamp(int(cy) + dy, 0, g.h - 1), g.w, g.h, g.shift) ==
                                         testpage::PatchAt(int(cx), int(cy), g.w, g.h, g.shift);
        if (uniform) centres.emplace_back(cx, cy);
    }
    return centres;
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

    testimage::PageExpectation expected;
    expected.width = g.w;
    expected.height = g.h;
    expected.model = v.model;
    expected.alpha = alphaKept;
    expected.colour = [&](int x, int y) { return Expected(v, type.keepsAlpha, x, y, g); };
    if (v.model == ColorModel::CMYK)
        for (int i = 0; i < g.w * g.h; ++i)
            for (int sample : testpage::PatchSamples(v.model, testpage::PatchAt(i % g.w, i / g.w, g.w, g.h, g.shift)))
                expected.ink.push_back(static_cast<std::uint8_t>(sample));
    expected.areas = PatchAreas(v, g);
    expected.probes = UniformPatchCentres(g);
    expected.format = type.format;
    expected.mode = type.modes[vi];
    expected.tolerance = std::max(type.tolerance, v.alpha ? 2 : 0);
    expected.iconSide = type.iconSide;
    expected.dpi = kDpi;
    testimage::ReadResolution found;
    testimage::ExpectFileHoldsPage(type.reader, file, expected, &found);

    if (std::string(type.name) == "Photoshop") {
        const auto m = testimage::DecodeWithMagick(file, "PSD");
        ASSERT_TRUE(m.ok()) << m.error;
        EXPECT_EQ(m.resX, kDpi);
        EXPECT_EQ(m.resY, kDpi);
    }
    if (type.reader == Reader::Fax) {
        EXPECT_EQ(found.x, kDpi);
        EXPECT_EQ(found.y, kDpi);
    }
    if (type.reader == Reader::Exr) {
        EXPECT_NEAR(SrgbToLinear(128 / 255.0f), 0.2158f, 1e-3);
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
// pages fit an icon's height, and wide grey ones its width.
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
        // A grey page wider than the largest square is shrunk to it in grey.
        CheckEncoding(Type(icon), kVariants[0], Geometry{1300, 90, 2});
    }
}

// OpenEXR takes its rows a band of 64 at a time: pages of two bands and a short third come
// back whole in every model, translucent ones too.
TEST(OtherEncoderLimits, OpenExrInBands) {
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        CheckEncoding(Type("OpenExr"), v, Geometry{37, 150, 5});
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

// Rows that lie further apart than their width (a page cut from a larger bitmap) make the same
// file as the same rows packed, in every model: encoders that read a page's rows where they lie
// go by its stride.
TEST(OtherEncoderLimits, PaddedRowsMakeTheFileOfPackedOnes) {
    for (const TypeCase& type : kTypes)
        for (const Variant& v : kVariants) {
            SCOPED_TRACE(std::string(type.name) + " " + v.name);
            const platform::Bitmap packed = testpage::MakePage(v.model, 150, 100, v.alpha, 3);
            std::vector<std::uint8_t> storage(static_cast<std::size_t>(packed.stride + 40) * packed.height);
            platform::Bitmap padded = packed;
            padded.stride = packed.stride + 40;
            padded.data = storage.data();
            for (int y = 0; y < packed.height; ++y)
                std::memcpy(padded.row(y), packed.row(y), static_cast<std::size_t>(packed.stride));
            std::vector<std::uint8_t> fromPacked, fromPadded;
            ASSERT_TRUE(platform::EncodeImageData(type.uti, packed, {}, fromPacked));
            ASSERT_TRUE(platform::EncodeImageData(type.uti, padded, {}, fromPadded));
            EXPECT_TRUE(fromPacked == fromPadded);
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
