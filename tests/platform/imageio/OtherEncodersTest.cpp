// The writer layer's encoders for the output types beyond the common ones: each file is decoded by
// a reader that is not ours (PIL, ImageMagick, libtiff, dcraw, the OpenEXR library, qpdf and
// MuPDF) and compared with the page that was encoded, within what the format can hold.
#include <gtest/gtest.h>

#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "PagePatches.h"
#include "platform/imageio/ImageDestination.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
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

// Compares decoded pixels (1, 3 or 4 channels, packed) with the expected colours.
testing::AssertionResult SamePixels(const std::vector<std::uint8_t>& px, int channels, int width, int height,
                                    const std::function<Colour(int, int)>& expected, int tolerance,
                                    int columns = -1) {
    if (px.size() != static_cast<std::size_t>(width) * height * channels)
        return testing::AssertionFailure() << "decoded " << px.size() << " bytes for " << width << "x" << height;
    if (columns < 0) columns = width;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < columns; ++x) {
            const std::uint8_t* p = &px[(static_cast<std::size_t>(y) * width + x) * channels];
            const Colour e = expected(x, y);
            int got[4], want[4] = {e.r, e.g, e.b, e.a};
            if (channels == 1) {
                got[0] = p[0];
                want[0] = testpage::GreyOf(e);
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

// For one-bit output: every patch's interior averages to the patch's grey, black and white
// patches exactly, and the margins around the page are white.
testing::AssertionResult DitheredPatches(const std::vector<std::uint8_t>& grey, int fileWidth, int fileHeight,
                                         int left, int top, const Variant& v, const Geometry& g) {
    if (grey.size() != static_cast<std::size_t>(fileWidth) * fileHeight)
        return testing::AssertionFailure() << "decoded " << grey.size() << " bytes";
    for (int patch = 0; patch < testpage::kPatches; ++patch) {
        const int px = patch % testpage::kAcross, py = patch / testpage::kAcross;
        auto start = [](int i, int n, int parts) { return (i * n + parts - 1) / parts; };
        const int x0 = start(px, g.w, testpage::kAcross), x1 = start(px + 1, g.w, testpage::kAcross);
        const int y0 = start(py, g.h, testpage::kDown), y1 = start(py + 1, g.h, testpage::kDown);
        if (x0 >= x1 || y0 >= y1) continue;
        const int want = testpage::GreyOf(Expected(v, false, x0, y0, g));
        double sum = 0;
        int n = 0, off = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const int value = grey[static_cast<std::size_t>(top + y) * fileWidth + left + x];
                if (value != 0 && value != 255) return testing::AssertionFailure() << "not one-bit: " << value;
                if ((want == 0 && value != 0) || (want == 255 && value != 255)) ++off;
                // The mean over the interior, away from the neighbours' diffused error.
                if (x >= x0 + 2 && x < x1 - 2 && y >= y0 + 2 && y < y1 - 2) {
                    sum += value;
                    ++n;
                }
            }
        if (off) return testing::AssertionFailure() << "patch " << patch << ": " << off << " wrong pixels in a solid patch";
        if (n >= 50 && std::abs(sum / n - want) > 20)
            return testing::AssertionFailure() << "patch " << patch << ": mean " << sum / n << ", want " << want;
    }
    for (int y = 0; y < fileHeight; ++y)
        for (int x = 0; x < fileWidth; ++x)
            if ((x < left || x >= left + g.w || y < top || y >= top + g.h) &&
                grey[static_cast<std::size_t>(y) * fileWidth + x] != 255)
                return testing::AssertionFailure() << "margin pixel (" << x << "," << y << ") not white";
    return testing::AssertionSuccess();
}

float SrgbToLinear(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }
int LinearToSrgb8(float v) {
    v = std::clamp(v, 0.0f, 1.0f);
    const float s = v <= 0.0031308f ? v * 12.92f : 1.055f * std::pow(v, 1 / 2.4f) - 0.055f;
    return static_cast<int>(std::lround(s * 255));
}

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
                ASSERT_EQ(ink.pixels.size(), static_cast<std::size_t>(g.w) * g.h * 4);
                for (int i = 0; i < g.w * g.h; ++i) {
                    const auto want = testpage::PatchSamples(v.model, testpage::PatchAt(i % g.w, i / g.w, g.w, g.h));
                    for (int c = 0; c < 4; ++c) ASSERT_EQ(ink.pixels[i * 4 + c], want[c]) << "pixel " << i;
                }
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
            // Netpbm reads the data fork as written (ImageMagick wants a MacBinary wrapper).
            const fs::path pbm = dir / "page.pbm";
            std::string log;
            ASSERT_EQ(testimage::RunCommand("macptopbm " + testimage::ShellQuote(file.string()) + " > " +
                                                testimage::ShellQuote(pbm.string()),
                                            &log),
                      0)
                << log;
            const auto d = testimage::DecodeWithPil(pbm, "L");
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
            TIFF* tif = TIFFOpen(file.c_str(), "r");
            ASSERT_NE(tif, nullptr);
            std::uint16_t compression = 0, photometric = 9, bits = 0;
            TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
            TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
            TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
            TIFFClose(tif);
            EXPECT_EQ(compression, COMPRESSION_CCITTFAX4);
            EXPECT_EQ(photometric, PHOTOMETRIC_MINISWHITE);
            EXPECT_EQ(bits, 1);
            break;
        }
        case Reader::Exr: {
            Imf::RgbaInputFile in(file.c_str());
            const Imath::Box2i dw = in.dataWindow();
            ASSERT_EQ(dw.max.x - dw.min.x + 1, g.w);
            ASSERT_EQ(dw.max.y - dw.min.y + 1, g.h);
            const bool grey = v.model == ColorModel::Monochrome;
            const int wantChannels = grey ? (v.alpha ? Imf::WRITE_YA : Imf::WRITE_Y)
                                          : (v.alpha ? Imf::WRITE_RGBA : Imf::WRITE_RGB);
            EXPECT_EQ(static_cast<int>(in.channels()), wantChannels);
            ASSERT_TRUE(Imf::hasXDensity(in.header()));
            EXPECT_FLOAT_EQ(Imf::xDensity(in.header()), kDpi);
            EXPECT_FLOAT_EQ(in.header().pixelAspectRatio(), 1.0f);
            std::vector<Imf::Rgba> px(static_cast<std::size_t>(g.w) * g.h);
            in.setFrameBuffer(px.data() - dw.min.x - dw.min.y * g.w, 1, g.w);
            in.readPixels(dw.min.y, dw.max.y);
            std::vector<std::uint8_t> srgb;
            for (const Imf::Rgba& p : px) {
                const float a = p.a;
                for (float c : {static_cast<float>(p.r), static_cast<float>(p.g), static_cast<float>(p.b)})
                    srgb.push_back(static_cast<std::uint8_t>(LinearToSrgb8(a > 0 ? c / a : 0)));
                srgb.push_back(static_cast<std::uint8_t>(std::lround(a * 255)));
            }
            // Half floats hold 8-bit sRGB to within one step.
            EXPECT_TRUE(SamePixels(srgb, 4, g.w, g.h, expected, v.alpha ? 2 : 1));
            EXPECT_NEAR(SrgbToLinear(128 / 255.0f), 0.2158f, 1e-3);
            break;
        }
        case Reader::QuickTime: {
            // 'idsc' then 'idat'; the payload is a PNG that PIL decodes.
            ASSERT_GT(bytes.size(), 8u + 86u + 8u);
            auto be32 = [&](std::size_t at) {
                return std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 |
                       std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
            };
            ASSERT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 8), "idsc");
            const std::uint32_t idscSize = be32(0);
            EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "png ");
            EXPECT_EQ(bytes[40] << 8 | bytes[41], g.w);
            EXPECT_EQ(bytes[42] << 8 | bytes[43], g.h);
            EXPECT_EQ(be32(44), 144u << 16);
            ASSERT_EQ(std::string(bytes.begin() + idscSize + 4, bytes.begin() + idscSize + 8), "idat");
            const std::uint32_t idatSize = be32(idscSize);
            ASSERT_EQ(idscSize + idatSize, bytes.size());
            const std::vector<std::uint8_t> png(bytes.begin() + idscSize + 8, bytes.end());
            EXPECT_EQ(be32(52), png.size()) << "data size field";
            ASSERT_TRUE(WriteFile(dir / "inner.png", png));
            const auto d = testimage::DecodeWithPil(dir / "inner.png", alphaKept ? "RGBA" : "RGB");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.format, "PNG");
            EXPECT_EQ(d.mode, type.modes[vi]);
            EXPECT_NEAR(d.dpiX, kDpi, 0.1);
            EXPECT_TRUE(SamePixels(d.pixels, alphaKept ? 4 : 3, g.w, g.h, expected, tolerance));
            break;
        }
        case Reader::Illustrator: {
            std::string log;
            EXPECT_EQ(testimage::RunCommand("qpdf --check " + testimage::ShellQuote(file.string()), &log), 0) << log;
            EXPECT_NE(log.find("No syntax or stream encoding errors"), std::string::npos) << log;
            // The picture keeps its colour space; alpha is a soft mask.
            ASSERT_EQ(testimage::RunCommand("pdfimages -list " + testimage::ShellQuote(file.string()), &log), 0);
            const char* space = v.model == ColorModel::Monochrome ? " gray " : v.model == ColorModel::CMYK ? " cmyk " : " rgb ";
            EXPECT_NE(log.find(space), std::string::npos) << log;
            EXPECT_EQ(log.find("smask") != std::string::npos, v.alpha) << log;
            {
                // The picture's size and its resolution on the page.
                std::istringstream lines(log);
                std::string line;
                std::getline(lines, line);
                std::getline(lines, line);
                std::getline(lines, line);
                std::istringstream fields(line);
                std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
                ASSERT_GE(f.size(), 14u) << log;
                EXPECT_EQ(f[3], std::to_string(g.w));
                EXPECT_EQ(f[4], std::to_string(g.h));
                EXPECT_EQ(f[12], "144");
                EXPECT_EQ(f[13], "144");
            }
            if (g.w < 8 || g.h < 8) break;  // MuPDF rounds the size of tiny pages up
            // At the page's resolution MuPDF draws the picture pixel for pixel, on white.
            const fs::path drawn = dir / "drawn.png";
            ASSERT_EQ(testimage::RunCommand("mutool draw -q -r 144 -c rgb -o " + testimage::ShellQuote(drawn.string()) +
                                                " " + testimage::ShellQuote(file.string()),
                                            &log),
                      0)
                << log;
            const auto d = testimage::DecodeWithPil(drawn, "RGB");
            ASSERT_TRUE(d.ok()) << d.error;
            ASSERT_EQ(d.width, g.w);
            ASSERT_EQ(d.height, g.h);
            EXPECT_TRUE(SamePixels(d.pixels, 3, g.w, g.h,
                                   [&](int x, int y) { return Expected(v, false, x, y, g); }, 2));
            break;
        }
        case Reader::Dng: {
            std::string log;
            // The preview, for TIFF readers.
            const auto d = testimage::DecodeWithPil(file, "RGB");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.format, "TIFF");
            ASSERT_EQ(d.width, g.w);
            EXPECT_TRUE(SamePixels(d.pixels, 3, g.w, g.h, expected, tolerance));
            // The raw image through libtiff: linear raw RGB, samples the page's codes, with a
            // linearisation table that is the sRGB curve.
            TIFF* tif = TIFFOpen(file.c_str(), "r");
            ASSERT_NE(tif, nullptr);
            std::uint8_t* version = nullptr;
            ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_DNGVERSION, &version));
            EXPECT_EQ(std::vector<int>(version, version + 4), (std::vector<int>{1, 4, 0, 0}));
            std::uint16_t subCount = 0;
            std::uint64_t* subOffsets = nullptr;
            ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_SUBIFD, &subCount, &subOffsets));
            ASSERT_EQ(subCount, 1);
            const std::uint64_t rawOffset = subOffsets[0];
            ASSERT_TRUE(TIFFSetSubDirectory(tif, rawOffset));
            std::uint16_t photometric = 0, samples = 0;
            std::uint32_t subfile = 9, w = 0;
            TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
            TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
            TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfile);
            TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
            EXPECT_EQ(photometric, 34892);
            EXPECT_EQ(samples, 3);
            EXPECT_EQ(subfile, 0u);
            ASSERT_EQ(w, static_cast<std::uint32_t>(g.w));
            std::uint32_t tableCount = 0;
            std::uint16_t* table = nullptr;
            ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_LINEARIZATIONTABLE, &tableCount, &table));
            ASSERT_EQ(tableCount, 256u);
            EXPECT_EQ(table[0], 0);
            EXPECT_EQ(table[255], 65535);
            EXPECT_NEAR(table[128], SrgbToLinear(128 / 255.0f) * 65535, 1);
            std::vector<std::uint8_t> raw(static_cast<std::size_t>(g.w) * g.h * 3);
            for (int y = 0; y < g.h; ++y)
                ASSERT_EQ(TIFFReadScanline(tif, &raw[static_cast<std::size_t>(y) * g.w * 3], y, 0), 1);
            TIFFClose(tif);
            EXPECT_TRUE(SamePixels(raw, 3, g.w, g.h, expected, tolerance));
            // A raw developer renders it back to the page (white balance as shot, sRGB output
            // with the sRGB curve, no brightening). dcraw takes no image under 22 pixels a side.
            if (g.w < 22 || g.h < 22) break;
            const fs::path developed = dir / "developed.tif";
            ASSERT_EQ(testimage::RunCommand("dcraw -c -w -W -o 1 -q 0 -g 2.4 12.92 -T " +
                                                testimage::ShellQuote(file.string()) + " > " +
                                                testimage::ShellQuote(developed.string()),
                                            &log),
                      0)
                << log;
            const auto dev = testimage::DecodeWithPil(developed, "RGB");
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
            EXPECT_TRUE(SamePixels(d.pixels, channels, g.w, g.h, premultiplied, tolerance, g.w / 64 * 64));
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
        std::ofstream(dir / "probe.py") << "import sys\n" << e.script;
        std::string out;
        EXPECT_EQ(testimage::RunCommand("/usr/bin/python3 " + testimage::ShellQuote((dir / "probe.py").string()) + " " +
                                            testimage::ShellQuote((dir / e.file).string()),
                                        &out),
                  0);
        EXPECT_EQ(out, e.want);
    }
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
