// The writer layer's encoders, each checked by decoding its bytes with an independent reader.
#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/PngWriter.h"
#include "support/ImageReader.h"
#include "support/TestPdf.h"

using platform::Bitmap;
using platform::ColorModel;
using platform::DestinationProperties;
namespace fs = std::filesystem;

namespace {

// A picture with smooth ramps and flat patches, in the given model.
Bitmap Picture(ColorModel model, int width = 37, int height = 23) {
    Bitmap b = Bitmap::Allocate(width, height, model, false);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = b.row(y);
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = row + x * b.components;
            const bool patch = x >= width / 2 && y >= height / 2;
            switch (model) {
                case ColorModel::Monochrome: p[0] = patch ? 40 : static_cast<std::uint8_t>(x * 255 / (width - 1)); break;
                case ColorModel::RGB:
                    p[0] = patch ? 0 : static_cast<std::uint8_t>(x * 255 / (width - 1));
                    p[1] = patch ? 255 : static_cast<std::uint8_t>(y * 255 / (height - 1));
                    p[2] = patch ? 255 : 128;
                    break;
                case ColorModel::CMYK:  // a cyan patch on a light ramp
                    p[0] = patch ? 255 : 0;
                    p[1] = 0;
                    p[2] = patch ? 0 : static_cast<std::uint8_t>(x * 100 / (width - 1));
                    p[3] = patch ? 0 : 20;
                    break;
            }
        }
    }
    return b;
}

DestinationProperties Properties(float dpi = 150, bool alpha = false) {
    DestinationProperties p;
    p.dpiWidth = dpi;
    p.dpiHeight = dpi;
    p.hasAlpha = alpha;
    return p;
}

// Encodes and writes the file; the path, empty when the encoder failed.
fs::path Encode(const testpdf::TempDir& dir, const char* uti, const Bitmap& image, const DestinationProperties& props,
                const std::string& name) {
    std::vector<std::uint8_t> bytes;
    if (!platform::EncodeImageData(uti, image, props, bytes) || bytes.empty()) return {};
    const fs::path file = dir / name;
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
    return file;
}

// The bitmap's pixels as RGB by the device formulas (the reference the decoded files meet).
std::vector<std::uint8_t> AsRgb(const Bitmap& b) {
    std::vector<std::uint8_t> out;
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) {
            const std::uint8_t* p = b.row(y) + x * b.components;
            if (b.model == ColorModel::Monochrome) {
                out.insert(out.end(), {p[0], p[0], p[0]});
            } else if (b.model == ColorModel::CMYK) {
                for (int i = 0; i < 3; ++i) out.push_back(static_cast<std::uint8_t>(255 - std::min(255, p[i] + p[3])));
            } else {
                out.insert(out.end(), {p[0], p[1], p[2]});
            }
        }
    }
    return out;
}

int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size()) return 1000;
    int most = 0;
    for (std::size_t i = 0; i < a.size(); ++i) most = std::max(most, std::abs(a[i] - b[i]));
    return most;
}

double MeanDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1000;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
    return sum / a.size();
}

}  // namespace

TEST(Encoders, LosslessTypesGiveBackEveryPixel) {
    struct Case {
        const char* uti;
        const char* name;
        ColorModel model;
        const char* mode;   // as the reader sees the file
        bool dpi;           // the format carries the resolution
    };
    const Case cases[] = {
        {"public.png", "rgb.png", ColorModel::RGB, "RGB", true},
        {"public.png", "grey.png", ColorModel::Monochrome, "L", true},
        {"public.png", "cmyk.png", ColorModel::CMYK, "RGB", true},
        {"public.tiff", "rgb.tif", ColorModel::RGB, "RGB", true},
        {"public.tiff", "grey.tif", ColorModel::Monochrome, "L", true},
        {"public.tiff", "cmyk.tif", ColorModel::CMYK, "CMYK", true},
        {"com.microsoft.bmp", "rgb.bmp", ColorModel::RGB, "RGB", true},
        {"com.microsoft.bmp", "grey.bmp", ColorModel::Monochrome, "L", true},
        {"com.microsoft.bmp", "cmyk.bmp", ColorModel::CMYK, "RGB", true},
        {"public.jpeg-2000", "rgb.jp2", ColorModel::RGB, "RGB", true},
        {"public.jpeg-2000", "grey.jp2", ColorModel::Monochrome, "L", true},
        {"com.compuserve.gif", "grey.gif", ColorModel::Monochrome, "L", false},
    };
    testpdf::TempDir dir;
    for (const Case& c : cases) {
        const Bitmap image = Picture(c.model);
        DestinationProperties props = Properties(150);
        props.tiffCompression = 5;
        props.lossyQuality = 1.0f;  // JPEG 2000: lossless
        const fs::path file = Encode(dir, c.uti, image, props, c.name);
        ASSERT_FALSE(file.empty()) << c.name;
        const auto d = testimage::DecodeWithPil(file, "RGB");
        ASSERT_TRUE(d.ok()) << c.name << ": " << d.error;
        EXPECT_EQ(d.mode, c.mode) << c.name;
        EXPECT_EQ(d.width, image.width) << c.name;
        EXPECT_EQ(d.height, image.height) << c.name;
        if (std::string(c.mode) != "CMYK") {
            // The reader's own CMYK conversion is not ours; the CMYK file is checked in its own test.
            EXPECT_EQ(MaxDifference(d.pixels, AsRgb(image)), 0) << c.name;
        }
        if (c.dpi) {
            EXPECT_NEAR(d.dpiX, 150, 0.5) << c.name;
            EXPECT_NEAR(d.dpiY, 150, 0.5) << c.name;
        }
    }
}

TEST(Encoders, TiffKeepsCmykSamplesAndUsesLzw) {
    testpdf::TempDir dir;
    const Bitmap image = Picture(ColorModel::CMYK);
    DestinationProperties props = Properties(300);
    props.tiffCompression = 5;
    const fs::path file = Encode(dir, "public.tiff", image, props, "c.tif");
    ASSERT_FALSE(file.empty());
    const auto d = testimage::DecodeWithPil(file);
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.mode, "CMYK");
    std::vector<std::uint8_t> expected;
    for (int y = 0; y < image.height; ++y) expected.insert(expected.end(), image.row(y), image.row(y) + image.width * 4);
    EXPECT_EQ(d.pixels, expected);
    EXPECT_NEAR(d.dpiX, 300, 0.01);
    TIFF* t = TIFFOpen(file.c_str(), "r");
    ASSERT_TRUE(t);
    std::uint16_t compression = 0, photometric = 0;
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFClose(t);
    EXPECT_EQ(compression, COMPRESSION_LZW);
    EXPECT_EQ(photometric, PHOTOMETRIC_SEPARATED);
}

TEST(Encoders, AlphaIsCarriedWhenAsked) {
    struct Case {
        const char* uti;
        const char* name;
        ColorModel model;
        const char* mode;
    };
    const Case cases[] = {
        {"public.png", "a.png", ColorModel::RGB, "RGBA"},
        {"public.png", "ga.png", ColorModel::Monochrome, "LA"},
        {"public.png", "ca.png", ColorModel::CMYK, "RGBA"},
        {"public.jpeg-2000", "a.jp2", ColorModel::RGB, "RGBA"},
        {"public.tiff", "a.tif", ColorModel::RGB, "RGBA"},
    };
    testpdf::TempDir dir;
    for (const Case& c : cases) {
        const Bitmap image = Picture(c.model);
        DestinationProperties props = Properties(72, true);
        props.lossyQuality = 1.0f;
        const fs::path file = Encode(dir, c.uti, image, props, c.name);
        ASSERT_FALSE(file.empty()) << c.name;
        const auto d = testimage::DecodeWithPil(file, "RGBA");
        ASSERT_TRUE(d.ok()) << c.name << ": " << d.error;
        EXPECT_EQ(d.mode, c.mode) << c.name;
        std::vector<std::uint8_t> rgb, alpha;
        for (std::size_t i = 0; i < d.pixels.size(); i += 4) {
            rgb.insert(rgb.end(), d.pixels.begin() + static_cast<std::ptrdiff_t>(i),
                       d.pixels.begin() + static_cast<std::ptrdiff_t>(i + 3));
            alpha.push_back(d.pixels[i + 3]);
        }
        EXPECT_EQ(MaxDifference(rgb, AsRgb(image)), 0) << c.name;
        EXPECT_EQ(alpha, std::vector<std::uint8_t>(alpha.size(), 255)) << c.name << ": an opaque page";
    }
}

TEST(Encoders, PremultipliedAlphaIsWrittenStraight) {
    Bitmap image = Bitmap::Allocate(3, 1, ColorModel::RGB, true);
    const std::uint8_t pixels[] = {100, 50, 0, 128, 0, 0, 0, 0, 200, 100, 50, 255};
    std::memcpy(image.row(0), pixels, sizeof pixels);
    testpdf::TempDir dir;
    const fs::path file = Encode(dir, "public.png", image, Properties(72, true), "p.png");
    ASSERT_FALSE(file.empty());
    const auto d = testimage::DecodeWithPil(file);
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.mode, "RGBA");
    EXPECT_EQ(d.pixels, (std::vector<std::uint8_t>{199, 100, 0, 128, 0, 0, 0, 0, 200, 100, 50, 255}));

    // Without alpha in the file, a translucent pixel is laid over white.
    const fs::path flat = Encode(dir, "public.jpeg", image, Properties(72), "p.jpg");
    ASSERT_FALSE(flat.empty());
    const auto j = testimage::DecodeWithPil(flat, "RGB");
    ASSERT_TRUE(j.ok()) << j.error;
    EXPECT_EQ(j.mode, "RGB");
}

TEST(Encoders, JpegHonoursQualityModelAndResolution) {
    testpdf::TempDir dir;
    for (ColorModel model : {ColorModel::RGB, ColorModel::Monochrome, ColorModel::CMYK}) {
        const Bitmap image = Picture(model, 64, 48);
        std::uintmax_t lowSize = 0, highSize = 0;
        for (float quality : {0.3f, 0.95f}) {
            DestinationProperties props = Properties(150);
            props.lossyQuality = quality;
            // Appended piece by piece: GCC 12 misreads "literal" + std::string at -O2 (-Wrestrict).
            std::string name = "q";
            name += std::to_string(static_cast<int>(model));
            name += "_";
            name += std::to_string(static_cast<int>(quality * 100));
            name += ".jpg";
            const fs::path file = Encode(dir, "public.jpeg", image, props, name);
            ASSERT_FALSE(file.empty()) << name;
            (quality < 0.5f ? lowSize : highSize) = fs::file_size(file);
            const auto d = testimage::DecodeWithPil(file, "RGB");
            ASSERT_TRUE(d.ok()) << name << ": " << d.error;
            EXPECT_EQ(d.mode, model == ColorModel::Monochrome ? "L" : model == ColorModel::CMYK ? "CMYK" : "RGB");
            EXPECT_NEAR(d.dpiX, 150, 0.5) << name;
            if (quality > 0.5f) {
                EXPECT_LT(MeanDifference(d.pixels, AsRgb(image)), 4.0) << name;
            }
        }
        EXPECT_LT(lowSize, highSize);
    }
}

TEST(Encoders, CmykJpegIsStoredInvertedAsReadersExpect) {
    // A cyan patch must come back cyan, not as its negative (red).
    Bitmap image = Bitmap::Allocate(32, 32, ColorModel::CMYK, false);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            std::uint8_t* p = image.row(y) + x * 4;
            p[0] = 255, p[1] = 0, p[2] = 0, p[3] = 0;
        }
    testpdf::TempDir dir;
    DestinationProperties props = Properties(72);
    props.lossyQuality = 0.9f;
    const fs::path file = Encode(dir, "public.jpeg", image, props, "cyan.jpg");
    ASSERT_FALSE(file.empty());
    const auto cmyk = testimage::DecodeWithPil(file);
    ASSERT_TRUE(cmyk.ok()) << cmyk.error;
    ASSERT_EQ(cmyk.mode, "CMYK");
    EXPECT_NEAR(cmyk.pixels[0], 255, 3);
    EXPECT_NEAR(cmyk.pixels[1], 0, 3);
    EXPECT_NEAR(cmyk.pixels[3], 0, 3);
    const auto rgb = testimage::DecodeWithPil(file, "RGB");
    ASSERT_TRUE(rgb.ok());
    EXPECT_NEAR(rgb.pixels[0], 0, 3);
    EXPECT_NEAR(rgb.pixels[1], 255, 3);
    EXPECT_NEAR(rgb.pixels[2], 255, 3);
}

// A JPEG 2000 picture larger than a tile is written in several, the last ones across and down
// cut short: losslessly, every sample comes back, alpha included; lossy, the picture stays close
// on both sides of the tiles' edges.
TEST(Encoders, Jpeg2000InSeveralTilesComesBackWhole) {
    testpdf::TempDir dir;
    for (const bool alpha : {false, true}) {
        for (const ColorModel model : {ColorModel::RGB, ColorModel::Monochrome}) {
            Bitmap image = Picture(model, 1100, 530);
            if (alpha) {
                // The same colours, opaque, with an alpha channel: the alpha plane is a tile's too.
                Bitmap withAlpha = Bitmap::Allocate(image.width, image.height, model, true);
                for (int y = 0; y < image.height; ++y)
                    for (int x = 0; x < image.width; ++x) {
                        std::memcpy(withAlpha.row(y) + x * withAlpha.components, image.row(y) + x * image.components,
                                    static_cast<std::size_t>(image.components));
                        withAlpha.row(y)[x * withAlpha.components + image.components] = 255;
                    }
                image = withAlpha;
            }
            const std::string name = std::string(alpha ? "a" : "o") + (model == ColorModel::RGB ? "rgb" : "grey");
            for (const float quality : {1.0f, 0.8f}) {
                const std::string file = name + (quality < 1.0f ? "-lossy" : "") + ".jp2";
                DestinationProperties props = Properties(150, alpha);
                props.lossyQuality = quality;
                const fs::path encoded = Encode(dir, "public.jpeg-2000", image, props, file);
                ASSERT_FALSE(encoded.empty()) << file;
                const auto d = testimage::DecodeWithPil(encoded, "RGB");
                ASSERT_TRUE(d.ok()) << file << ": " << d.error;
                EXPECT_EQ(d.mode, model == ColorModel::RGB ? (alpha ? "RGBA" : "RGB") : (alpha ? "LA" : "L")) << file;
                ASSERT_EQ(d.width, 1100) << file;
                ASSERT_EQ(d.height, 530) << file;
                if (quality < 1.0f)
                    EXPECT_LT(MeanDifference(d.pixels, AsRgb(image)), 3.0) << file;
                else
                    EXPECT_EQ(MaxDifference(d.pixels, AsRgb(image)), 0) << file;
            }
        }
    }
}

TEST(Encoders, LossyJpeg2000AndPalettedGifStayClose) {
    testpdf::TempDir dir;
    const Bitmap image = Picture(ColorModel::RGB, 64, 48);
    DestinationProperties props = Properties(72);
    props.lossyQuality = 0.8f;
    const fs::path jp2 = Encode(dir, "public.jpeg-2000", image, props, "l.jp2");
    ASSERT_FALSE(jp2.empty());
    const auto j = testimage::DecodeWithPil(jp2, "RGB");
    ASSERT_TRUE(j.ok()) << j.error;
    EXPECT_LT(MeanDifference(j.pixels, AsRgb(image)), 3.0);

    for (bool alpha : {false, true}) {
        const fs::path gif = Encode(dir, "com.compuserve.gif", image, Properties(72, alpha), alpha ? "a.gif" : "o.gif");
        ASSERT_FALSE(gif.empty());
        const auto g = testimage::DecodeWithPil(gif, "RGBA");
        ASSERT_TRUE(g.ok()) << g.error;
        EXPECT_EQ(g.mode, "P");
        std::vector<std::uint8_t> rgb;
        for (std::size_t i = 0; i < g.pixels.size(); i += 4) {
            rgb.insert(rgb.end(), {g.pixels[i], g.pixels[i + 1], g.pixels[i + 2]});
            EXPECT_EQ(g.pixels[i + 3], 255);  // the declared transparent index is used by no pixel
        }
        EXPECT_LT(MeanDifference(rgb, AsRgb(image)), 6.0);
    }
}

TEST(Encoders, PdfHoldsTheImageAtTheResolutionsSize) {
    testpdf::TempDir dir;
    for (ColorModel model : {ColorModel::RGB, ColorModel::Monochrome, ColorModel::CMYK}) {
        const Bitmap image = Picture(model, 60, 30);
        std::string name = "p";
        name += std::to_string(static_cast<int>(model));
        name += ".pdf";
        const fs::path file = Encode(dir, "com.adobe.pdf", image, Properties(144), name);
        ASSERT_FALSE(file.empty());
        QPDF pdf;
        pdf.processFile(file.c_str());
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
        ASSERT_EQ(pages.size(), 1u);
        QPDFObjectHandle box = pages[0].getObjectHandle().getKey("/MediaBox");
        EXPECT_DOUBLE_EQ(box.getArrayItem(2).getNumericValue(), 30.0);  // 60 pixels at 144 dpi
        EXPECT_DOUBLE_EQ(box.getArrayItem(3).getNumericValue(), 15.0);
        std::map<std::string, QPDFObjectHandle> images = pages[0].getImages();
        ASSERT_EQ(images.size(), 1u);
        QPDFObjectHandle dict = images.begin()->second.getDict();
        EXPECT_EQ(dict.getKey("/Width").getIntValue(), 60);
        EXPECT_EQ(dict.getKey("/ColorSpace").getName(), model == ColorModel::Monochrome ? "/DeviceGray"
                                                        : model == ColorModel::CMYK     ? "/DeviceCMYK"
                                                                                        : "/DeviceRGB");
        // Drawn back at its own resolution, the page is the picture again.
        const fs::path png = dir / (name + ".png");
        const std::string command = "mutool draw -q -r 144 -c rgb -o '" + png.string() + "' '" + file.string() + "' 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const auto d = testimage::DecodeWithPil(png, "RGB");
        ASSERT_TRUE(d.ok()) << d.error;
        ASSERT_EQ(d.width, 60);
        EXPECT_EQ(MaxDifference(d.pixels, AsRgb(image)), 0);
    }
}

TEST(Encoders, UnknownIdentifiersAreRefused) {
    const Bitmap image = Picture(ColorModel::RGB);
    std::vector<std::uint8_t> out{1, 2, 3};
    for (const char* uti : {"", "public.webp", "public.PNG", "nonsense"}) {
        EXPECT_EQ(platform::FindImageEncoder(uti), nullptr) << uti;
        EXPECT_FALSE(platform::EncodeImageData(uti, image, Properties(), out)) << uti;
        EXPECT_TRUE(out.empty());
    }
    EXPECT_FALSE(platform::EncodeImageData("public.png", Bitmap{}, Properties(), out));
}

TEST(PixelRows, ConvertsRowsOfEveryWidth) {
    // Every width from 1 to 40 crosses the four-pixel steps of the vectorised path.
    for (int width = 1; width <= 40; ++width) {
        Bitmap image = Bitmap::Allocate(width, 1, ColorModel::RGB, false);
        for (int i = 0; i < width * 3; ++i) image.row(0)[i] = static_cast<std::uint8_t>(i * 7 + 1);
        std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * 4 + 8, 0xAB);
        platform::ConvertRow(image, image.row(0), width, platform::PixelLayout::RGBA, out.data());
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) ASSERT_EQ(out[x * 4 + c], image.row(0)[x * 3 + c]) << width;
            ASSERT_EQ(out[x * 4 + 3], 255) << width;
        }
        EXPECT_EQ(out[width * 4], 0xAB) << "nothing written past the row";
    }
}

TEST(PixelRows, DeviceFormulasAndCompositing) {
    Bitmap cmyk = Bitmap::Allocate(2, 1, ColorModel::CMYK, false);
    const std::uint8_t c[] = {255, 0, 0, 0, 10, 20, 30, 40};
    std::memcpy(cmyk.row(0), c, sizeof c);
    std::uint8_t rgb[6];
    platform::ConvertRow(cmyk, cmyk.row(0), 2, platform::PixelLayout::RGB, rgb);
    EXPECT_EQ(std::vector<std::uint8_t>(rgb, rgb + 6), (std::vector<std::uint8_t>{0, 255, 255, 205, 195, 185}));

    Bitmap rgba = Bitmap::Allocate(1, 1, ColorModel::RGB, true);
    const std::uint8_t half[] = {64, 0, 0, 128};
    std::memcpy(rgba.row(0), half, 4);
    std::uint8_t flat[3], gray[1];
    platform::ConvertRow(rgba, rgba.row(0), 1, platform::PixelLayout::RGB, flat);
    EXPECT_EQ(std::vector<std::uint8_t>(flat, flat + 3), (std::vector<std::uint8_t>{191, 127, 127}));
    platform::ConvertRow(rgba, rgba.row(0), 1, platform::PixelLayout::Gray, gray);
    EXPECT_NEAR(gray[0], 0.3 * 191 + 0.59 * 127 + 0.11 * 127, 1.5);
}

TEST(Encoders, EveryPngFilterAndLevelDecodes) {
    testpdf::TempDir dir;
    const Bitmap image = Picture(ColorModel::RGB, 50, 20);
    for (platform::PngFilter filter : {platform::PngFilter::None, platform::PngFilter::Sub, platform::PngFilter::Up,
                                       platform::PngFilter::Paeth, platform::PngFilter::Adaptive}) {
        for (int level : {1, 6}) {
            platform::PngTuning tuning;
            tuning.filter = filter;
            tuning.level = level;
            std::vector<std::uint8_t> bytes;
            ASSERT_TRUE(platform::EncodePNGTuned(image, Properties(72, true), tuning, bytes));
            std::string name = "f";
            name += std::to_string(static_cast<int>(filter));
            name += "_";
            name += std::to_string(level);
            name += ".png";
            const fs::path file = dir / name;
            std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                         static_cast<std::streamsize>(bytes.size()));
            const auto d = testimage::DecodeWithPil(file, "RGB");
            ASSERT_TRUE(d.ok()) << d.error;
            EXPECT_EQ(d.pixels, AsRgb(image)) << "filter " << static_cast<int>(filter) << " level " << level;
        }
    }
}
