// Every output type through the engine's entry, in every colour model: a small page of colour
// patches is converted, and each file is decoded by a reader that is not ours and compared with
// the page as the renderer draws it, within what the format can hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/ImageConversion.h"
#include "platform/PdfDocument.h"
#include "support/ConversionSupport.h"
#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/PixelChecks.h"
#include "support/ReadBack.h"
#include "support/TestPdf.h"

using namespace conversiontest;
using platform::ColorModel;
using testimage::Rgba;

namespace {

// The page: 64 × 40 points of 8 × 2 patches, 8 × 20 points each, drawn at 144 dpi.
constexpr int kDpi = 144;
constexpr int kAcross = 8, kDown = 2, kPatchW = 16, kPatchH = 40;
constexpr int kWidth = kAcross * kPatchW, kHeight = kDown * kPatchH;

// Fills in grey, RGB and CMYK, white and black included (one-bit formats keep those exact).
const char* const kFills[kAcross * kDown] = {
    "1 g",         "0 g",         "1 0 0 rg",         "0 1 0 rg",        "0 0 1 rg",          "0 0 1 0 k",
    "0.5 g",       "1 0.5 0 rg",  "1 0 0 0 k",        "0 1 0 0 k",       "0.25 g",            "0.8 g",
    "0.784 0.47 0.157 rg",        "0.2 0.6 0.9 rg",   "0.2 0.4 0 0.1 k", "0 0 0 0.5 k",
};

// Page 1 has the patches in order, page 2 (when asked) in reverse, so frames cannot be swapped.
fs::path WritePatchPdf(const fs::path& path, int pages) {
    testpdf::Options options;
    options.pages.clear();
    for (int page = 0; page < pages; ++page) {
        testpdf::Page p;
        p.width = kWidth / 2.0;
        p.height = kHeight / 2.0;
        for (int i = 0; i < kAcross * kDown; ++i) {
            const int column = i % kAcross, row = i / kAcross;
            const double x = column * kPatchW / 2.0, y = (kDown - 1 - row) * kPatchH / 2.0;
            p.content += std::string(kFills[page ? kAcross * kDown - 1 - i : i]) + " " + std::to_string(x) + " " +
                         std::to_string(y) + " " + std::to_string(kPatchW / 2.0) + " " +
                         std::to_string(kPatchH / 2.0) + " re f\n";
        }
        options.pages.push_back(p);
    }
    return testpdf::Write(path, options);
}

using testimage::Reader;

// Where the resolution is read back; None for formats without a field for it.
enum class Dpi { None, Pil, Magick, Exr, QuickTime, Pdf, FlashPix, Pict };

struct TypeCase {
    const char* name;
    int code;
    const char* extension;
    Reader reader;
    const char* format;    // PIL's name of the format; nullptr: not read by PIL
    const char* modes[3];  // PIL's mode of the file for grey, RGB and CMYK pages; nullptr: not checked
    int tolerance;         // per sample
    bool lossy;            // compared away from patch edges only
    Dpi dpi;
    int side = 0;          // icons: the largest square
    int pages = 1;         // of the converted document
};

const TypeCase kTypes[] = {
    {"Photoshop", 1, "psd", Reader::Pil, "PSD", {"L", "RGB", "CMYK"}, 0, false, Dpi::Magick},
    {"Gif", 2, "gif", Reader::Pil, "GIF", {"P", "P", "P"}, 1, false, Dpi::None},
    {"Jpeg2000", 3, "jp2", Reader::Pil, "JPEG2000", {"LA", "RGBA", "RGBA"}, 10, true, Dpi::Pil},
    {"Jpeg", 4, "jpg", Reader::Pil, "JPEG", {"L", "RGB", "CMYK"}, 8, true, Dpi::Pil},
    {"OpenExr", 5, "exr", Reader::Exr, nullptr, {}, 1, false, Dpi::Exr},
    {"Icns", 6, "icns", Reader::Icon, "ICNS", {"RGBA", "RGBA", "RGBA"}, 3, false, Dpi::None, 1024},
    {"Png", 7, "png", Reader::Pil, "PNG", {"LA", "RGBA", "RGBA"}, 0, false, Dpi::Pil},
    {"Pdf", 8, "pdf", Reader::Pdf, nullptr, {}, 0, false, Dpi::Pdf},
    {"Tga", 9, "tga", Reader::Pil, "TGA", {"L", "RGB", "RGB"}, 0, false, Dpi::None},
    {"Tiff", 10, "tif", Reader::Pil, "TIFF", {"L", "RGB", "CMYK"}, 0, false, Dpi::Pil},
    {"Bmp", 11, "bmp", Reader::Pil, "BMP", {"L", "RGB", "RGB"}, 0, false, Dpi::Pil},
    {"Sgi", 12, "sgi", Reader::Pil, "SGI", {"L", "RGB", "RGB"}, 0, false, Dpi::None},
    {"TiffCmyk", 13, "tif", Reader::Pil, "TIFF", {"CMYK", "CMYK", "CMYK"}, 0, false, Dpi::Pil},
    {"Pict", 14, "pict", Reader::Pict, nullptr, {}, 0, false, Dpi::Pict},
    {"Illustrator", 15, "ai", Reader::Pdf, nullptr, {}, 0, false, Dpi::Pdf},
    {"MacPaint", 16, "mac", Reader::MacPaint, nullptr, {}, 0, false, Dpi::None},
    {"QuickTime", 17, "qtif", Reader::QuickTime, "PNG", {"L", "RGB", "RGB"}, 0, false, Dpi::QuickTime},
    {"Ico", 18, "ico", Reader::Icon, "ICO", {"RGBA", "RGBA", "RGBA"}, 3, false, Dpi::None, 256},
    {"XBitmap", 19, "xbm", Reader::XBitmap, nullptr, {}, 0, false, Dpi::None},
    {"FlashPix", 20, "fpx", Reader::FlashPix, "FPX", {"L", "RGB", "RGB"}, 0, false, Dpi::FlashPix},
    {"Fax", 21, "tif", Reader::Fax, "TIFF", {"1", "1", "1"}, 0, false, Dpi::Pil},
    {"CameraRaw", 22, "dng", Reader::Dng, "TIFF", {"RGB", "RGB", "RGB"}, 0, false, Dpi::Pil},
    {"MultiPageTiff", 23, "tif", Reader::Pil, "TIFF", {"L", "RGB", "CMYK"}, 0, false, Dpi::Pil, 0, 2},
    // Codes outside the table are written as JPEG and named so.
    {"Code0", 0, "jpg", Reader::Pil, "JPEG", {"L", "RGB", "CMYK"}, 8, true, Dpi::Pil},
    {"CodeMinus1", -1, "jpg", Reader::Pil, "JPEG", {"L", "RGB", "CMYK"}, 8, true, Dpi::Pil},
    {"Code24", 24, "jpg", Reader::Pil, "JPEG", {"L", "RGB", "CMYK"}, 8, true, Dpi::Pil},
    {"Code99", 99, "jpg", Reader::Pil, "JPEG", {"L", "RGB", "CMYK"}, 8, true, Dpi::Pil},
};

struct ModelCase {
    const char* name;
    std::int32_t code;
    ColorModel model;
    int index;  // into TypeCase::modes
};
const ModelCase kModels[] = {
    {"Grey", kColorGray, ColorModel::Monochrome, 0},
    {"Rgb", kColorRGB, ColorModel::RGB, 1},
    {"Cmyk", kColorCMYK, ColorModel::CMYK, 2},
};

// The page as the renderer draws it, in the model the file was made from.
struct Reference {
    platform::Bitmap page;

    const std::uint8_t* at(int x, int y) const { return page.row(y) + static_cast<std::size_t>(x) * page.components; }
    Rgba rgb(int x, int y) const {
        const std::uint8_t* p = at(x, y);
        switch (page.model) {
            case ColorModel::Monochrome: return {p[0], p[0], p[0], 255};
            case ColorModel::CMYK:
                return {testimage::RgbOfInk(p[0], p[3]), testimage::RgbOfInk(p[1], p[3]),
                        testimage::RgbOfInk(p[2], p[3]), 255};
            default: return {p[0], p[1], p[2], 255};
        }
    }
    int grey(int x, int y) const {
        const std::uint8_t* p = at(x, y);
        switch (page.model) {
            case ColorModel::Monochrome: return p[0];
            case ColorModel::CMYK: return testimage::GreyOfCmyk(p[0], p[1], p[2], p[3]);
            default: return testimage::GreyOfRgb(p[0], p[1], p[2]);
        }
    }
    std::vector<std::uint8_t> samples() const {
        std::vector<std::uint8_t> out;
        for (int y = 0; y < page.height; ++y) out.insert(out.end(), page.row(y), page.row(y) + page.width * page.components);
        return out;
    }
    // The patches as flat areas of their grey, for one-bit formats.
    std::vector<testimage::FlatArea> areas() const {
        std::vector<testimage::FlatArea> out;
        for (int py = 0; py < kDown; ++py)
            for (int px = 0; px < kAcross; ++px) {
                const int x0 = px * kPatchW, y0 = py * kPatchH;
                out.push_back({x0, y0, x0 + kPatchW, y0 + kPatchH, grey(x0, y0)});
            }
        return out;
    }
};

Reference Render(const platform::PdfDocument& pdf, int pageIndex, ColorModel model) {
    platform::PdfDocument::RenderRequest request;
    request.pageIndex = pageIndex;
    request.scale = kDpi / 72.0f;
    request.width = kWidth;
    request.height = kHeight;
    request.model = model;
    return {pdf.RenderPage(request)};
}

// Lossy formats are compared away from the patch edges, where their ringing lies.
bool AwayFromEdges(int x, int y) {
    const int px = x % kPatchW, py = y % kPatchH;
    return px >= 4 && px < kPatchW - 4 && py >= 4 && py < kPatchH - 4;
}

class AllOutputTypes : public testing::TestWithParam<std::tuple<TypeCase, ModelCase>> {};

TEST_P(AllOutputTypes, ConvertToAFileOfTheirKind) {
    const TypeCase& type = std::get<0>(GetParam());
    const ModelCase& mc = std::get<1>(GetParam());
    testpdf::TempDir dir;
    const fs::path pdfPath = WritePatchPdf(dir / "doc.pdf", type.pages);
    const fs::path out = dir / "out";
    fs::create_directory(out);
    ImageConversion record = Record(pdfPath, out, type.code, kDpi);
    record.conversionOptions.colorModel = mc.code;
    record.conversionOptions.compressionQuality = 0.8;
    ASSERT_EQ(ConvertPDFToImages(&record), 1);

    // One file for the document, named with the type's extension.
    const std::string name = std::string("doc.") + type.extension;
    ASSERT_EQ(Names(out), std::vector<std::string>{name});
    const fs::path file = out / name;

    // TIFF in CMYK is CMYK whatever the model asked.
    const ColorModel model = type.code == kOutputTIFFCMYK ? ColorModel::CMYK : mc.model;
    const std::unique_ptr<platform::PdfDocument> pdf = platform::PdfDocument::Open(pdfPath);
    ASSERT_TRUE(pdf);
    const Reference ref = Render(*pdf, 0, model);
    ASSERT_TRUE(ref.page);
    const char* mode = type.modes[mc.index];
    testimage::PageExpectation expected;
    expected.width = kWidth;
    expected.height = kHeight;
    expected.model = model;
    expected.colour = [&](int x, int y) { return ref.rgb(x, y); };
    expected.ink = ref.samples();
    expected.areas = ref.areas();
    for (int py = 0; py < kDown; ++py)
        for (int px = 0; px < kAcross; ++px) expected.probes.emplace_back(px * kPatchW + kPatchW / 2, py * kPatchH + kPatchH / 2);
    expected.format = type.format;
    expected.mode = mode;
    expected.tolerance = type.tolerance;
    if (type.lossy) expected.compared = AwayFromEdges;
    expected.iconSide = type.side;
    expected.frames = type.pages;
    expected.dpi = kDpi;
    testimage::ReadResolution found;  // from the first frame
    testimage::ExpectFileHoldsPage(type.reader, file, expected, &found);
    // Every further frame of a multi-page file holds its own page.
    for (int frame = 1; frame < type.pages; ++frame) {
        SCOPED_TRACE("frame " + std::to_string(frame));
        const Reference page = Render(*pdf, frame, model);
        testimage::PageExpectation next = expected;
        next.colour = [&](int x, int y) { return page.rgb(x, y); };
        next.ink = page.samples();
        next.frame = frame;
        testimage::ExpectFileHoldsPage(type.reader, file, next);
    }

    // The resolution, where the format has a field for it.
    switch (type.dpi) {
        case Dpi::None:
        case Dpi::Exr:
        case Dpi::QuickTime:
        case Dpi::Pdf: break;  // read with the pixels
        case Dpi::Pil:
            EXPECT_NEAR(found.x, kDpi, 0.5);
            EXPECT_NEAR(found.y, kDpi, 0.5);
            break;
        case Dpi::Magick: {
            const auto m = testimage::DecodeWithMagick(file, "PSD");
            ASSERT_TRUE(m.ok()) << m.error;
            EXPECT_NEAR(m.resX, kDpi, 0.01);
            EXPECT_NEAR(m.resY, kDpi, 0.01);
            break;
        }
        case Dpi::FlashPix:
        case Dpi::Pict: {
            const auto [x, y] =
                type.dpi == Dpi::Pict ? testimage::PictResolution(file) : testimage::FlashPixResolution(file);
            EXPECT_NEAR(x, kDpi, 0.01);
            EXPECT_NEAR(y, kDpi, 0.01);
            break;
        }
    }
}

std::string CaseName(const testing::TestParamInfo<std::tuple<TypeCase, ModelCase>>& info) {
    return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
}

void PrintTo(const TypeCase& t, std::ostream* os) { *os << t.name << " (" << t.code << ")"; }
void PrintTo(const ModelCase& m, std::ostream* os) { *os << m.name; }

INSTANTIATE_TEST_SUITE_P(EveryCodeAndModel, AllOutputTypes,
                         testing::Combine(testing::ValuesIn(kTypes), testing::ValuesIn(kModels)), CaseName);

}  // namespace
