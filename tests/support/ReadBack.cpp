#include "support/ReadBack.h"

#include <gtest/gtest.h>

#include <OpenEXR/ImfRgbaFile.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"

namespace testimage {
namespace {

using platform::ColorModel;
namespace fs = std::filesystem;

void ExpectPil(const fs::path& file, const PageExpectation& page, ReadResolution& found) {
    // PIL's CMYK to RGB is not the device formula: ink is compared as ink.
    const bool ink = page.mode && std::string(page.mode) == "CMYK";
    const auto d = DecodeWithPil(file, ink ? "CMYK" : "RGBA", page.frame);
    ASSERT_TRUE(d.ok()) << d.error;
    if (page.format) {
        EXPECT_EQ(d.format, page.format);
    }
    if (page.mode) {
        EXPECT_EQ(d.mode, page.mode);
    }
    // A flattened Photoshop document has no layers: PIL counts no frames.
    if (page.frames > 1)
        EXPECT_EQ(d.frames, page.frames);
    else
        EXPECT_LE(d.frames, 1);
    ASSERT_EQ(d.width, page.width);
    ASSERT_EQ(d.height, page.height);
    if (ink)
        EXPECT_TRUE(SameSamples(d.pixels, page.ink, page.width, 4, page.tolerance, page.compared));
    else
        EXPECT_TRUE(SamePixels(d.pixels, 4, page.width, page.height, page.colour, page.tolerance, page.compared));
    found = {d.dpiX, d.dpiY};
}

// The page fitted into the icon's square: scaled to its side, centred on transparency.
void ExpectIcon(const fs::path& file, const PageExpectation& page) {
    const auto d = DecodeWithPil(file, "RGBA");
    ASSERT_TRUE(d.ok()) << d.error;
    if (page.format) {
        EXPECT_EQ(d.format, page.format);
    }
    if (page.mode) {
        EXPECT_EQ(d.mode, page.mode);
    }
    const int side = page.iconSide;
    ASSERT_EQ(d.width, side);
    ASSERT_EQ(d.height, side);
    const double scale = static_cast<double>(side) / std::max(page.width, page.height);
    const int fw = static_cast<int>(std::lround(page.width * scale));
    const int fh = static_cast<int>(std::lround(page.height * scale));
    const int left = (side - fw) / 2, top = (side - fh) / 2;
    auto alpha = [&](int x, int y) { return d.pixels[(static_cast<std::size_t>(y) * side + x) * 4 + 3]; };
    // Sampled where the page is uniform around the point: resampling blends neighbours.
    for (const auto& [px, py] : page.probes) {
        const int x = left + static_cast<int>(px * scale), y = top + static_cast<int>(py * scale);
        const std::uint8_t* at = &d.pixels[(static_cast<std::size_t>(y) * side + x) * 4];
        const std::vector<std::uint8_t> one(at, at + 4);
        EXPECT_TRUE(SamePixels(one, 4, 1, 1, [&](int, int) { return page.colour(int(px), int(py)); }, page.tolerance))
            << "page point " << px << "," << py;
    }
    if (fw < side || fh < side) {
        EXPECT_EQ(alpha(0, 0), 0) << "corner is transparent";
    }
    if (page.alpha) return;
    // An opaque page reaches the edges of its longer side...
    EXPECT_EQ(alpha(left, side / 2), 255);
    EXPECT_EQ(alpha(side / 2, top), 255);
    // ...and, fitted to a whole number of pixels, has sharp edges.
    if (page.width * scale != fw || page.height * scale != fh) return;
    EXPECT_EQ(alpha(left + fw - 1, side / 2), 255);
    EXPECT_EQ(alpha(side / 2, top + fh - 1), 255);
    for (int i = 0; i < side; i += std::max(1, side / 16)) {
        if (fh < side) {
            EXPECT_EQ(alpha(i, top - 1), 0) << i;
            EXPECT_EQ(alpha(i, top), 255) << i;
            EXPECT_EQ(alpha(i, top + fh - 1), 255) << i;
            EXPECT_EQ(alpha(i, top + fh), 0) << i;
        }
        if (fw < side) {
            EXPECT_EQ(alpha(left - 1, i), 0) << i;
            EXPECT_EQ(alpha(left, i), 255) << i;
            EXPECT_EQ(alpha(left + fw - 1, i), 255) << i;
            EXPECT_EQ(alpha(left + fw, i), 0) << i;
        }
    }
}

void ExpectPict(const fs::path& file, const PageExpectation& page) {
    const auto m = DecodeWithMagick(file, "PICT");
    ASSERT_TRUE(m.ok()) << m.error;
    ASSERT_EQ(m.width, page.width);
    ASSERT_EQ(m.height, page.height);
    EXPECT_TRUE(SamePixels(m.pixels, 3, page.width, page.height, page.colour, page.tolerance));
}

void ExpectMacPaint(const fs::path& file, const PageExpectation& page) {
    const auto d = DecodeMacPaint(file);
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.width, 576);
    ASSERT_EQ(d.height, 720);
    EXPECT_TRUE(DitheredAreas(d.pixels, 576, 720, (576 - page.width) / 2, (720 - page.height) / 2, page.width,
                              page.height, page.areas));
}

void ExpectXBitmap(const fs::path& file, const PageExpectation& page) {
    // ImageMagick, as X11, takes set bits as black (PIL reads them as white).
    const auto m = DecodeWithMagick(file, "XBM", "GRAY");
    ASSERT_TRUE(m.ok()) << m.error;
    ASSERT_EQ(m.width, page.width);
    ASSERT_EQ(m.height, page.height);
    EXPECT_TRUE(DitheredAreas(m.pixels, page.width, page.height, 0, 0, page.width, page.height, page.areas));
}

void ExpectFax(const fs::path& file, const PageExpectation& page, ReadResolution& found) {
    const auto d = DecodeWithPil(file, "L");
    ASSERT_TRUE(d.ok()) << d.error;
    if (page.format) {
        EXPECT_EQ(d.format, page.format);
    }
    if (page.mode) {
        EXPECT_EQ(d.mode, page.mode);
    }
    ASSERT_EQ(d.width, page.width);
    ASSERT_EQ(d.height, page.height);
    found = {d.dpiX, d.dpiY};
    EXPECT_TRUE(DitheredAreas(d.pixels, page.width, page.height, 0, 0, page.width, page.height, page.areas));
    const auto t = ReadTiffFields(file);
    ASSERT_TRUE(t.ok()) << t.error;
    EXPECT_EQ(t.compression, COMPRESSION_CCITTFAX4);
    EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(t.bitsPerSample, 1);
}

void ExpectExr(const fs::path& file, const PageExpectation& page, ReadResolution& found) {
    const auto d = DecodeExr(file);
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.width, page.width);
    ASSERT_EQ(d.height, page.height);
    const bool grey = page.model == ColorModel::Monochrome;
    const int channels = grey ? (page.alpha ? Imf::WRITE_YA : Imf::WRITE_Y) : (page.alpha ? Imf::WRITE_RGBA : Imf::WRITE_RGB);
    EXPECT_EQ(d.channels, channels);
    // Half floats hold 8-bit sRGB to within one step.
    EXPECT_TRUE(SamePixels(d.rgba, 4, page.width, page.height, page.colour, page.tolerance));
    ASSERT_TRUE(d.hasXDensity);
    EXPECT_FLOAT_EQ(d.xDensity, page.dpi);
    EXPECT_FLOAT_EQ(d.pixelAspectRatio, 1.0f);
    found = {d.xDensity, d.xDensity * d.pixelAspectRatio};
}

void ExpectQuickTime(const fs::path& file, const PageExpectation& page, ReadResolution& found) {
    // 'idsc' then 'idat'; the payload is a PNG that PIL decodes.
    const auto q = ReadQuickTimeImage(file, "RGBA");
    ASSERT_TRUE(q.ok()) << q.error;
    EXPECT_EQ(q.codec, "png ");
    EXPECT_EQ(q.width, page.width);
    EXPECT_EQ(q.height, page.height);
    EXPECT_EQ(q.dataSize, q.payloadSize) << "data size field";
    EXPECT_EQ(q.hRes, page.dpi);
    EXPECT_EQ(q.vRes, page.dpi);
    found = {q.hRes, q.vRes};
    const auto& d = q.picture;
    ASSERT_TRUE(d.ok()) << d.error;
    if (page.format) {
        EXPECT_EQ(d.format, page.format);
    }
    if (page.mode) {
        EXPECT_EQ(d.mode, page.mode);
    }
    EXPECT_NEAR(d.dpiX, page.dpi, 0.1);
    EXPECT_TRUE(SamePixels(d.pixels, 4, page.width, page.height, page.colour, page.tolerance));
}

void ExpectPdf(const fs::path& file, const PageExpectation& page, ReadResolution& found) {
    std::string log;
    EXPECT_TRUE(PdfChecksClean(file, &log)) << log;
    // The picture keeps its colour space; alpha is a soft mask; its size and its resolution on
    // the page.
    const auto image = ListPdfImage(file);
    ASSERT_TRUE(image.ok()) << image.error;
    EXPECT_EQ(image.colour, page.model == ColorModel::Monochrome ? "gray" : page.model == ColorModel::CMYK ? "cmyk" : "rgb");
    EXPECT_EQ(image.softMask, page.alpha);
    EXPECT_EQ(image.width, page.width);
    EXPECT_EQ(image.height, page.height);
    const int dpi = static_cast<int>(page.dpi);
    EXPECT_EQ(image.xPpi, dpi);
    EXPECT_EQ(image.yPpi, dpi);
    found = {static_cast<double>(image.xPpi), static_cast<double>(image.yPpi)};
    if (page.width < 8 || page.height < 8) return;  // MuPDF rounds the size of tiny pages up
    // At the page's resolution MuPDF draws the picture pixel for pixel, on white.
    const auto d = DrawPdfPage(file, dpi);
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.width, page.width);
    ASSERT_EQ(d.height, page.height);
    EXPECT_TRUE(SamePixels(d.pixels, 3, page.width, page.height,
                           [&](int x, int y) { return Flattened(page.colour(x, y)); }, page.tolerance));
}

void ExpectDng(const fs::path& file, const PageExpectation& page, ReadResolution& found) {
    // The preview, for TIFF readers.
    const auto d = DecodeWithPil(file, "RGB");
    ASSERT_TRUE(d.ok()) << d.error;
    if (page.format) {
        EXPECT_EQ(d.format, page.format);
    }
    if (page.mode) {
        EXPECT_EQ(d.mode, page.mode);
    }
    ASSERT_EQ(d.width, page.width);
    found = {d.dpiX, d.dpiY};
    EXPECT_TRUE(SamePixels(d.pixels, 3, page.width, page.height, page.colour, page.tolerance));
    // The raw image through libtiff: linear raw RGB, samples the page's codes, with a
    // linearisation table that is the sRGB curve.
    const auto raw = ReadDngRaw(file);
    ASSERT_TRUE(raw.ok()) << raw.error;
    EXPECT_EQ(raw.version, (std::vector<int>{1, 4, 0, 0}));
    EXPECT_EQ(raw.subDirectories, 1);
    EXPECT_EQ(raw.photometric, 34892);
    ASSERT_EQ(raw.samples, 3);
    EXPECT_EQ(raw.subfileType, 0u);
    ASSERT_EQ(raw.width, page.width);
    ASSERT_EQ(raw.linearization.size(), 256u);
    EXPECT_EQ(raw.linearization[0], 0);
    EXPECT_EQ(raw.linearization[255], 65535);
    EXPECT_NEAR(raw.linearization[128], SrgbToLinear(128 / 255.0f) * 65535, 1);
    EXPECT_TRUE(SamePixels(raw.pixels, 3, page.width, page.height, page.colour, page.tolerance));
    // A raw developer renders it back to the page; dcraw takes no image under 22 pixels a side.
    if (page.width < 22 || page.height < 22) return;
    const auto developed = DevelopRaw(file);
    ASSERT_TRUE(developed.ok()) << developed.error;
    EXPECT_TRUE(SamePixels(developed.pixels, 3, page.width, page.height, page.colour, 2));
}

void ExpectFlashPix(const fs::path& file, const PageExpectation& page) {
    const auto d = DecodeWithPil(file, "");
    ASSERT_TRUE(d.ok()) << d.error;
    if (page.format) {
        EXPECT_EQ(d.format, page.format);
    }
    if (page.mode) {
        EXPECT_EQ(d.mode, page.mode);
    }
    ASSERT_EQ(d.width, page.width);
    ASSERT_EQ(d.height, page.height);
    // FlashPix stores opacity with premultiplied colour. PIL reads tiles cut at the right edge as
    // if they were narrower, where the format pads every tile to 64 pixels: compare the whole
    // tiles only.
    const int channels = d.mode == "L" ? 1 : d.mode == "RGBA" ? 4 : 3;
    auto premultiplied = [&](int x, int y) {
        Rgba c = page.colour(x, y);
        c.r = (c.r * c.a + 127) / 255;
        c.g = (c.g * c.a + 127) / 255;
        c.b = (c.b * c.a + 127) / 255;
        return c;
    };
    const int wholeTiles = page.width / 64 * 64;
    EXPECT_TRUE(SamePixels(d.pixels, channels, page.width, page.height, premultiplied, page.tolerance,
                           [&](int x, int y) { return x < wholeTiles && (!page.compared || page.compared(x, y)); }));
}

}  // namespace

void ExpectFileHoldsPage(Reader reader, const fs::path& file, const PageExpectation& page, ReadResolution* found) {
    ReadResolution resolution;
    switch (reader) {
        case Reader::Pil: ExpectPil(file, page, resolution); break;
        case Reader::Icon: ExpectIcon(file, page); break;
        case Reader::Pict: ExpectPict(file, page); break;
        case Reader::MacPaint: ExpectMacPaint(file, page); break;
        case Reader::XBitmap: ExpectXBitmap(file, page); break;
        case Reader::Fax: ExpectFax(file, page, resolution); break;
        case Reader::Exr: ExpectExr(file, page, resolution); break;
        case Reader::QuickTime: ExpectQuickTime(file, page, resolution); break;
        case Reader::Pdf: ExpectPdf(file, page, resolution); break;
        case Reader::Dng: ExpectDng(file, page, resolution); break;
        case Reader::FlashPix: ExpectFlashPix(file, page); break;
    }
    if (found) *found = resolution;
}

}  // namespace testimage
