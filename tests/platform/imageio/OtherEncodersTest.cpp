// The writer layer's encoders for the output types beyond the common ones: each file is decoded by
// a reader that is not ours (PIL, ImageMagick, libtiff, dcraw, the OpenEXR library, qpdf and
// MuPDF) and compared with the page that was encoded, within what the format can hold.
#include <gtest/gtest.h>

#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
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

Colour Expected(const Variant& v, bool keepsAlpha, int x, int y, int width = kWidth, int height = kHeight) {
    const Colour c = testpage::PatchColour(v.model, testpage::PatchAt(x, y, width, height), v.alpha);
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

// For one-bit output: every patch's interior averages to the patch's grey, black and white exactly.
testing::AssertionResult DitheredPatches(const std::vector<std::uint8_t>& grey, int fileWidth, int fileHeight,
                                         int left, int top, const Variant& v) {
    if (grey.size() != static_cast<std::size_t>(fileWidth) * fileHeight)
        return testing::AssertionFailure() << "decoded " << grey.size() << " bytes";
    for (int patch = 0; patch < testpage::kPatches; ++patch) {
        const int px = patch % testpage::kAcross, py = patch / testpage::kAcross;
        const int x0 = (px * kWidth + testpage::kAcross - 1) / testpage::kAcross + 2;
        const int x1 = ((px + 1) * kWidth + testpage::kAcross - 1) / testpage::kAcross - 2;
        const int y0 = (py * kHeight + testpage::kDown - 1) / testpage::kDown + 2;
        const int y1 = ((py + 1) * kHeight + testpage::kDown - 1) / testpage::kDown - 2;
        const int want = testpage::GreyOf(Expected(v, false, x0, y0));
        double sum = 0;
        int n = 0, off = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x, ++n) {
                const int g = grey[static_cast<std::size_t>(top + y) * fileWidth + left + x];
                if (g != 0 && g != 255) return testing::AssertionFailure() << "not one-bit: " << g;
                sum += g;
                if ((want == 0 && g != 0) || (want == 255 && g != 255)) ++off;
            }
        const double mean = sum / n;
        if (off) return testing::AssertionFailure() << "patch " << patch << ": " << off << " wrong pixels in a solid patch";
        if (std::abs(mean - want) > 20)
            return testing::AssertionFailure() << "patch " << patch << ": mean " << mean << ", want " << want;
    }
    // Outside the page: white.
    for (int y = 0; y < fileHeight; ++y)
        for (int x = 0; x < fileWidth; ++x)
            if ((x < left || x >= left + kWidth || y < top || y >= top + kHeight) &&
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

class OtherEncoders : public testing::TestWithParam<std::tuple<TypeCase, Variant>> {};

TEST_P(OtherEncoders, DecodesToThePage) {
    const TypeCase& type = std::get<0>(GetParam());
    const Variant& v = std::get<1>(GetParam());
    const int vi = v.index;
    const bool alphaKept = type.keepsAlpha && v.alpha;

    const platform::Bitmap page = testpage::MakePage(v.model, kWidth, kHeight, v.alpha);
    platform::DestinationProperties props;
    props.dpiWidth = kDpi;
    props.dpiHeight = kDpi;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(platform::EncodeImageData(type.uti, page, props, bytes));
    ASSERT_FALSE(bytes.empty());
    testpdf::TempDir dir;
    const fs::path file = dir / type.file;
    ASSERT_TRUE(WriteFile(file, bytes));
    auto expected = [&](int x, int y) { return Expected(v, type.keepsAlpha, x, y); };
    const int tolerance = v.alpha ? 2 : 0;

    switch (type.reader) {
        case Reader::Pil: {
            const auto d = testimage::DecodeWithPil(file, alphaKept ? "RGBA" : "RGB");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.mode, type.modes[vi]);
            ASSERT_EQ(d.width, kWidth);
            ASSERT_EQ(d.height, kHeight);
            if (d.mode != "CMYK") {
                EXPECT_TRUE(SamePixels(d.pixels, alphaKept ? 4 : 3, kWidth, kHeight, expected, tolerance));
            } else {
                // Ink kept as ink: compare the samples themselves (PIL's own CMYK to RGB differs
                // from the device formula).
                const auto ink = testimage::DecodeWithPil(file, "CMYK");
                ASSERT_EQ(ink.pixels.size(), static_cast<std::size_t>(kWidth) * kHeight * 4);
                for (int i = 0; i < kWidth * kHeight; ++i) {
                    const auto want = testpage::PatchSamples(v.model, testpage::PatchAt(i % kWidth, i / kWidth, kWidth, kHeight));
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
            // Fitted: as wide as the icon, centred vertically on transparency.
            const double scale = static_cast<double>(side) / kWidth;
            const int h = static_cast<int>(std::lround(kHeight * scale));
            const int top = (side - h) / 2;
            for (int patch = 0; patch < testpage::kPatches; ++patch) {
                const double cx = (patch % testpage::kAcross + 0.5) * kWidth / testpage::kAcross;
                const double cy = (patch / testpage::kAcross + 0.5) * kHeight / testpage::kDown;
                const int x = static_cast<int>(cx * scale), y = top + static_cast<int>(cy * scale);
                const std::vector<std::uint8_t> one(&d.pixels[(static_cast<std::size_t>(y) * side + x) * 4],
                                                    &d.pixels[(static_cast<std::size_t>(y) * side + x) * 4] + 4);
                EXPECT_TRUE(SamePixels(one, 4, 1, 1, [&](int, int) { return Expected(v, true, int(cx), int(cy)); }, 3))
                    << "patch " << patch;
            }
            EXPECT_EQ(d.pixels[3], 0) << "corner is transparent";
            EXPECT_EQ(d.pixels[(static_cast<std::size_t>(side) * side - 1) * 4 + 3], 0);
            if (!v.alpha) {
                EXPECT_EQ(d.pixels[(static_cast<std::size_t>(side / 2) * side) * 4 + 3], 255)
                    << "the page reaches the left edge";
            }
            break;
        }
        case Reader::Pict: {
            const auto m = testimage::DecodeWithMagick(file, "PICT");
            ASSERT_TRUE(m.ok()) << m.error;
            ASSERT_EQ(m.width, kWidth);
            ASSERT_EQ(m.height, kHeight);
            EXPECT_TRUE(SamePixels(m.pixels, 3, kWidth, kHeight, expected, tolerance));
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
            EXPECT_TRUE(DitheredPatches(d.pixels, 576, 720, (576 - kWidth) / 2, (720 - kHeight) / 2, v));
            break;
        }
        case Reader::Xbm: {
            // ImageMagick, as X11, takes set bits as black (PIL reads them as white).
            const auto m = testimage::DecodeWithMagick(file, "XBM", "GRAY");
            ASSERT_TRUE(m.ok()) << m.error;
            ASSERT_EQ(m.width, kWidth);
            ASSERT_EQ(m.height, kHeight);
            EXPECT_TRUE(DitheredPatches(m.pixels, kWidth, kHeight, 0, 0, v));
            break;
        }
        case Reader::Fax: {
            const auto d = testimage::DecodeWithPil(file, "L");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.format, "TIFF");
            EXPECT_EQ(d.mode, "1");
            EXPECT_EQ(d.dpiX, kDpi);
            EXPECT_EQ(d.dpiY, kDpi);
            EXPECT_TRUE(DitheredPatches(d.pixels, d.width, d.height, 0, 0, v));
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
            ASSERT_EQ(dw.max.x - dw.min.x + 1, kWidth);
            ASSERT_EQ(dw.max.y - dw.min.y + 1, kHeight);
            const bool grey = v.model == ColorModel::Monochrome;
            const int wantChannels = grey ? (v.alpha ? Imf::WRITE_YA : Imf::WRITE_Y)
                                          : (v.alpha ? Imf::WRITE_RGBA : Imf::WRITE_RGB);
            EXPECT_EQ(static_cast<int>(in.channels()), wantChannels);
            ASSERT_TRUE(Imf::hasXDensity(in.header()));
            EXPECT_FLOAT_EQ(Imf::xDensity(in.header()), kDpi);
            EXPECT_FLOAT_EQ(in.header().pixelAspectRatio(), 1.0f);
            std::vector<Imf::Rgba> px(static_cast<std::size_t>(kWidth) * kHeight);
            in.setFrameBuffer(px.data() - dw.min.x - dw.min.y * kWidth, 1, kWidth);
            in.readPixels(dw.min.y, dw.max.y);
            std::vector<std::uint8_t> srgb;
            for (const Imf::Rgba& p : px) {
                const float a = p.a;
                for (float c : {static_cast<float>(p.r), static_cast<float>(p.g), static_cast<float>(p.b)})
                    srgb.push_back(static_cast<std::uint8_t>(LinearToSrgb8(a > 0 ? c / a : 0)));
                srgb.push_back(static_cast<std::uint8_t>(std::lround(a * 255)));
            }
            // Half floats hold 8-bit sRGB to within one step.
            EXPECT_TRUE(SamePixels(srgb, 4, kWidth, kHeight, expected, v.alpha ? 2 : 1));
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
            EXPECT_EQ(bytes[40] << 8 | bytes[41], kWidth);
            EXPECT_EQ(bytes[42] << 8 | bytes[43], kHeight);
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
            EXPECT_TRUE(SamePixels(d.pixels, alphaKept ? 4 : 3, kWidth, kHeight, expected, tolerance));
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
            // At the page's resolution MuPDF draws the picture pixel for pixel, on white.
            const fs::path drawn = dir / "drawn.png";
            ASSERT_EQ(testimage::RunCommand("mutool draw -q -r 144 -c rgb -o " + testimage::ShellQuote(drawn.string()) +
                                                " " + testimage::ShellQuote(file.string()),
                                            &log),
                      0)
                << log;
            const auto d = testimage::DecodeWithPil(drawn, "RGB");
            ASSERT_TRUE(d.ok()) << d.error;
            ASSERT_EQ(d.width, kWidth);
            ASSERT_EQ(d.height, kHeight);
            EXPECT_TRUE(SamePixels(d.pixels, 3, kWidth, kHeight,
                                   [&](int x, int y) { return Expected(v, false, x, y); }, 2));
            break;
        }
        case Reader::Dng: {
            std::string log;
            // The preview, for TIFF readers.
            const auto d = testimage::DecodeWithPil(file, "RGB");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.format, "TIFF");
            ASSERT_EQ(d.width, kWidth);
            EXPECT_TRUE(SamePixels(d.pixels, 3, kWidth, kHeight, expected, tolerance));
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
            ASSERT_EQ(w, static_cast<std::uint32_t>(kWidth));
            std::uint32_t tableCount = 0;
            std::uint16_t* table = nullptr;
            ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_LINEARIZATIONTABLE, &tableCount, &table));
            ASSERT_EQ(tableCount, 256u);
            EXPECT_EQ(table[0], 0);
            EXPECT_EQ(table[255], 65535);
            EXPECT_NEAR(table[128], SrgbToLinear(128 / 255.0f) * 65535, 1);
            std::vector<std::uint8_t> raw(static_cast<std::size_t>(kWidth) * kHeight * 3);
            for (int y = 0; y < kHeight; ++y)
                ASSERT_EQ(TIFFReadScanline(tif, &raw[static_cast<std::size_t>(y) * kWidth * 3], y, 0), 1);
            TIFFClose(tif);
            EXPECT_TRUE(SamePixels(raw, 3, kWidth, kHeight, expected, tolerance));
            // A raw developer renders it back to the page (white balance as shot, sRGB output
            // with the sRGB curve, no brightening).
            const fs::path developed = dir / "developed.tif";
            ASSERT_EQ(testimage::RunCommand("dcraw -c -w -W -o 1 -q 0 -g 2.4 12.92 -T " +
                                                testimage::ShellQuote(file.string()) + " > " +
                                                testimage::ShellQuote(developed.string()),
                                            &log),
                      0)
                << log;
            const auto dev = testimage::DecodeWithPil(developed, "RGB");
            ASSERT_TRUE(dev.ok()) << dev.error;
            EXPECT_TRUE(SamePixels(dev.pixels, 3, kWidth, kHeight, expected, 2));
            break;
        }
        case Reader::FlashPix: {
            const auto d = testimage::DecodeWithPil(file, "");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.format, "FPX");
            EXPECT_EQ(d.mode, type.modes[vi]);
            ASSERT_EQ(d.width, kWidth);
            ASSERT_EQ(d.height, kHeight);
            // FlashPix stores opacity with premultiplied colour. PIL reads tiles cut at the right
            // edge as if they were narrower, where the format pads every tile to 64 pixels:
            // compare the whole tiles only.
            const int channels = d.mode == "L" ? 1 : d.mode == "RGBA" ? 4 : 3;
            auto premultiplied = [&](int x, int y) {
                Colour c = Expected(v, true, x, y);
                c.r = (c.r * c.a + 127) / 255;
                c.g = (c.g * c.a + 127) / 255;
                c.b = (c.b * c.a + 127) / 255;
                return c;
            };
            EXPECT_TRUE(SamePixels(d.pixels, channels, kWidth, kHeight, premultiplied, tolerance, kWidth / 64 * 64));
            break;
        }
    }
}

std::string PrintCase(const testing::TestParamInfo<std::tuple<TypeCase, Variant>>& info) {
    return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(AllModels, OtherEncoders, testing::Combine(testing::ValuesIn(kTypes), testing::ValuesIn(kVariants)),
                         PrintCase);

}  // namespace
