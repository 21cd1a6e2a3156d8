// Page rendering: pixel sizes, boxes, rotation, colour models, cancel and damaged pages.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "engine/ConversionReport.h"
#include "support/ConversionSupport.h"
#include "engine/ImageConversion.h"
#include "engine/PagePlan.h"
#include "platform/MainQueue.h"
#include "platform/PdfDocument.h"
#include "platform/WorkerBudget.h"
#include "support/ImageReader.h"
#include "support/TestPdf.h"

using namespace conversiontest;

namespace {

struct Pixel {
    int r, g, b;
    bool operator==(const Pixel& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const Pixel& p) { return os << "(" << p.r << "," << p.g << "," << p.b << ")"; }

Pixel At(const testimage::Decoded& d, int x, int y) {
    const std::size_t i = (static_cast<std::size_t>(y) * d.width + x) * 3;
    return {d.pixels[i], d.pixels[i + 1], d.pixels[i + 2]};
}

const Pixel kRed{255, 0, 0}, kWhite{255, 255, 255}, kBlue{0, 0, 255};

// Converts page 1 of `pdf` as PNG into `folder` and returns the file, decoded as RGB.
testimage::Decoded ConvertAndDecode(const fs::path& pdf, const fs::path& folder, long dpi = 72) {
    fs::create_directories(folder);
    ImageConversion r = Record(pdf, folder, kOutputPNG, dpi);
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    const std::vector<std::string> names = Names(folder);
    EXPECT_EQ(names.size(), 1u);
    if (names.size() != 1) return {};
    return testimage::DecodeWithPil(folder / names[0], "RGB");
}

}  // namespace

TEST(PageRendering, PixelSizeFollowsBoxesRotationResolutionAndTarget) {
    struct Case {
        const char* what;
        double w, h;
        int rotate;
        long dpi;
        bool resize;
        double tw, th;
        std::int32_t unit;
        std::pair<int, int> expected;
    };
    const Case cases[] = {
        {"Letter at 72 dpi", 612, 792, 0, 72, false, 0, 0, 0, {612, 792}},
        {"Letter at 150 dpi", 612, 792, 0, 150, false, 0, 0, 0, {1275, 1650}},
        {"rotation 90", 612, 792, 90, 72, false, 0, 0, 0, {792, 612}},
        {"rotation 270", 612, 792, 270, 72, false, 0, 0, 0, {792, 612}},
        {"rotation -90", 612, 792, -90, 72, false, 0, 0, 0, {792, 612}},
        {"rotation 180", 612, 792, 180, 72, false, 0, 0, 0, {612, 792}},
        {"200 x 0 pixels", 612, 792, 0, 72, true, 200, 0, kSizePixels, {200, 259}},
        {"0 x 200 pixels", 612, 792, 0, 72, true, 0, 200, kSizePixels, {155, 200}},
        {"200 x 200 pixels: the height decides", 612, 792, 0, 72, true, 200, 200, kSizePixels, {155, 200}},
        {"2 x 2 inches at 300 dpi", 612, 792, 0, 300, true, 2, 2, kSizeInches, {464, 600}},
        {"5.08 x 5.08 cm at 300 dpi", 612, 792, 0, 300, true, 5.08, 5.08, kSizeCentimetres, {464, 600}},
        {"144 x 144 points at 300 dpi", 612, 792, 0, 300, true, 144, 144, kSizePoints, {464, 600}},
        {"rotated page into 200 x 200 pixels", 612, 792, 90, 72, true, 200, 200, kSizePixels, {200, 155}},
    };
    testpdf::TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        testpdf::Options o;
        o.pages = {PageOf(c.w, c.h, c.rotate)};
        const fs::path pdf = testpdf::Write(dir / ("p" + std::to_string(n) + ".pdf"), o);
        const fs::path out = dir / ("out" + std::to_string(n++));
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, kOutputPNG, c.dpi);
        r.conversionOptions.colorModel = kColorGray;  // the size is the same in every model
        r.resizeEnabled = c.resize;
        r.resizeOptions.targetWidth = c.tw;
        r.resizeOptions.targetHeight = c.th;
        r.resizeOptions.sizeUnit = c.unit;
        EXPECT_EQ(ConvertPDFToImages(&r), 1) << c.what;
        const std::vector<std::string> names = Names(out);
        ASSERT_EQ(names.size(), 1u) << c.what;
        EXPECT_EQ(PngSize(out / names[0]), c.expected) << c.what;
    }
}

TEST(PageRendering, SizesThatCannotBeHeldFailThePageWithoutWritingIt) {
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages = {PageOf(612, 792)};
    const fs::path pdf = testpdf::Write(dir / "letter.pdf", o);
    struct Case {
        const char* what;
        int type;
        long dpi;
        double tw, th;
        ConversionFailure failure;
    };
    const Case cases[] = {
        {"below one pixel", kOutputPNG, 72, 0.4, 0.4, ConversionFailure::UnusableSize},
        // GIF needs the whole picture in memory; 6.3 GB of it is beyond the cap.
        {"a buffer above the cap", kOutputGIF, 5000, 0, 0, ConversionFailure::PageTooLarge},
        {"an infinite target", kOutputPNG, 72, 1e300, 0, ConversionFailure::UnusableSize},
        {"a negative resolution", kOutputPNG, -72, 0, 0, ConversionFailure::UnusableSize},
        // 51000 x 66000 pixels: JPEG holds at most 65500 a side.
        {"beyond the format's own limit", kOutputJPEG, 6000, 0, 0, ConversionFailure::TooLargeForFormat},
    };
    int n = 0;
    for (const Case& c : cases) {
        const fs::path out = dir / ("out" + std::to_string(n++));
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, c.type, c.dpi);
        r.resizeEnabled = c.tw > 0 || c.th > 0;
        r.resizeOptions.targetWidth = c.tw;
        r.resizeOptions.targetHeight = c.th;
        r.resizeOptions.sizeUnit = kSizePixels;
        const ConversionReport report = ConvertPDFToImagesWithReport(&r);
        EXPECT_EQ(report.success, 0) << c.what;
        EXPECT_EQ(report.failure, c.failure) << c.what << ": " << DescribeConversionReport(report);
        EXPECT_EQ(report.page, 1) << c.what;
        EXPECT_EQ(ConvertPDFToImages(&r), 0) << c.what;
        EXPECT_TRUE(Names(out).empty()) << c.what;
    }
}

TEST(PageRendering, LargePagesAreWrittenInBandsWithTheirPixels) {
    // 2700 x 2400 pixels of RGB is 19 MB, above the band size: the page is drawn and written a
    // band at a time, or (below the size up to which pages are drawn whole) drawn whole and
    // handed to its writer a band at a time. Its pixels are those of mutool's drawing, in bands
    // of the same height or whole.
    testpdf::TempDir dir;
    testpdf::Page p = PageOf(648, 576);
    p.content = "1 0 0 rg 36 36 144 144 re f 0 0 1 rg 0 500 648 76 re f 0 1 0 rg 300 100 20 400 re f "
                "0.5 g 5 w 10 10 m 638 566 l S";
    testpdf::Options o;
    o.pages = {PageOf(100, 100), p};
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    struct Case {
        int type;
        std::int32_t model;
        const char* file;
        const char* mode;
    };
    const Case cases[] = {
        {kOutputPNG, kColorRGB, "doc-2.png", "RGBA"},  {kOutputTIFF, kColorCMYK, "doc-2.tif", "CMYK"},
        {kOutputBMP, kColorRGB, "doc-2.bmp", "RGB"},   {kOutputJPEG, kColorRGB, "doc-2.jpg", "RGB"},
        {kOutputMultiPageTIFF, kColorGray, "doc.tif", "L"},
    };
    int n = 0;
    for (const bool drawnInBands : {true, false})
    for (const Case& c : cases) {
        std::optional<BandedPages> banded;
        if (drawnInBands) banded.emplace();
        const fs::path out = dir / std::to_string(n++);
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, c.type, 300);
        r.conversionOptions.colorModel = c.model;
        r.conversionOptions.compressionQuality = 1.0;
        ASSERT_EQ(ConvertPDFToImages(&r), 1) << c.file;
        const int frame = c.type == kOutputMultiPageTIFF ? 1 : 0;
        const auto d = testimage::DecodeWithPil(out / c.file, "RGB", frame);
        ASSERT_TRUE(d.ok()) << d.error;
        EXPECT_EQ(d.width, 2700) << c.file;
        EXPECT_EQ(d.height, 2400) << c.file;
        EXPECT_EQ(d.mode, c.mode) << c.file;
        if (c.type == kOutputPNG && c.model == kColorRGB) {
            EXPECT_TRUE(SameAsMutoolDraw(out / c.file, pdf, 2, 300,
                                         drawnInBands ? static_cast<int>(kBandBytes / (2700 * 3)) : 0))
                << (drawnInBands ? "drawn in bands" : "drawn whole");
            continue;
        }
        // Away from edges, the flat areas: red, blue, green and white.
        const int tolerance = c.type == kOutputJPEG ? 8 : c.model == kColorGray ? 2 : 0;
        auto near = [&](int x, int y, Pixel want) {
            const Pixel got = At(d, x, y);
            const Pixel grey{(77 * want.r + 151 * want.g + 28 * want.b + 128) >> 8,
                             (77 * want.r + 151 * want.g + 28 * want.b + 128) >> 8,
                             (77 * want.r + 151 * want.g + 28 * want.b + 128) >> 8};
            const Pixel w = c.model == kColorGray ? grey : want;
            return std::abs(got.r - w.r) <= tolerance && std::abs(got.g - w.g) <= tolerance &&
                   std::abs(got.b - w.b) <= tolerance;
        };
        EXPECT_TRUE(near(400, 2000, kRed)) << c.file;
        EXPECT_TRUE(near(1350, 100, kBlue)) << c.file;
        EXPECT_TRUE(near(1290, 1200, Pixel{0, 255, 0})) << c.file;
        EXPECT_TRUE(near(2000, 1800, kWhite)) << c.file;
        EXPECT_TRUE(near(2650, 2350, kWhite)) << c.file;
    }
}

TEST(PageRendering, EmptyCropBoxFallsBackToTheMediaBoxAndEmptyBoxesAreSkipped) {
    testpdf::TempDir dir;
    testpdf::Options o;
    testpdf::Page fallback = PageOf(100, 50);
    fallback.cropBox = true;  // [0 0 0 0]
    testpdf::Page nothing = PageOf(100, 50);
    nothing.cropBox = true;
    nothing.mediaBox = false;
    testpdf::Page zeroWidth = PageOf(0, 50);
    o.pages = {fallback, nothing, zeroWidth, PageOf(30, 40)};
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    fs::create_directory(dir / "out");
    ImageConversion r = Record(pdf, dir / "out");
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"doc-1.png", "doc-4.png"}));
    EXPECT_EQ(PngSize(dir / "out" / "doc-1.png"), std::make_pair(100, 50));
    EXPECT_EQ(PngSize(dir / "out" / "doc-4.png"), std::make_pair(30, 40));
}

TEST(PageRendering, CropBoxWithAnOriginShowsItsPartOfThePage) {
    testpdf::TempDir dir;
    testpdf::Page p = PageOf(200, 100);
    p.content = "1 0 0 rg 10 10 20 20 re f 0 0 1 rg 150 60 40 30 re f";
    p.cropBox = true;
    p.cropRect[0] = 5, p.cropRect[1] = 5, p.cropRect[2] = 105, p.cropRect[3] = 95;
    testpdf::Options o;
    o.pages = {p};
    const auto d = ConvertAndDecode(testpdf::Write(dir / "crop.pdf", o), dir / "out");
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.width, 100);
    ASSERT_EQ(d.height, 90);
    // The red square spans x 10..30 and y 10..30 of the page: 5..25 across, 65..85 down here.
    EXPECT_EQ(At(d, 15, 75), kRed);
    EXPECT_EQ(At(d, 6, 84), kRed);
    EXPECT_EQ(At(d, 30, 75), kWhite);
    EXPECT_EQ(At(d, 15, 60), kWhite);
    EXPECT_EQ(At(d, 99, 10), kWhite);  // the blue bar lies outside the crop box
}

TEST(PageRendering, RotationTurnsThePageClockwise) {
    testpdf::TempDir dir;
    struct Case {
        int rotate;
        int x, y;  // where the red square (lower left of the unturned page) must be
        int w, h;
    };
    // Crop-local square at 5..25 from the left and from the bottom of a 100 x 90 box.
    const Case cases[] = {{0, 15, 75, 100, 90}, {90, 15, 15, 90, 100}, {180, 85, 15, 100, 90}, {270, 75, 85, 90, 100}};
    for (const Case& c : cases) {
        testpdf::Page p = PageOf(200, 100, c.rotate);
        p.content = "1 0 0 rg 10 10 20 20 re f";
        p.cropBox = true;
        p.cropRect[0] = 5, p.cropRect[1] = 5, p.cropRect[2] = 105, p.cropRect[3] = 95;
        testpdf::Options o;
        o.pages = {p};
        const std::string name = "r" + std::to_string(c.rotate);
        const auto d = ConvertAndDecode(testpdf::Write(dir / (name + ".pdf"), o), dir / name);
        ASSERT_TRUE(d.ok()) << d.error;
        ASSERT_EQ(d.width, c.w) << c.rotate;
        ASSERT_EQ(d.height, c.h) << c.rotate;
        EXPECT_EQ(At(d, c.x, c.y), kRed) << "rotation " << c.rotate;
        EXPECT_EQ(At(d, c.w / 2, c.h / 2), kWhite) << "rotation " << c.rotate;
    }
}

TEST(PageRendering, ACropBoxLargerThanTheMediaBoxCentresThePageOnWhite) {
    testpdf::TempDir dir;
    for (int rotate : {0, 90}) {
        testpdf::Page p = PageOf(100, 60, rotate);
        p.content = "1 0 0 rg 0 0 100 60 re f 0 0 1 rg 0 0 10 10 re f";
        p.cropBox = true;
        p.cropRect[0] = -50, p.cropRect[1] = -50, p.cropRect[2] = 150, p.cropRect[3] = 150;
        testpdf::Options o;
        o.pages = {p};
        const std::string name = "big" + std::to_string(rotate);
        const auto d = ConvertAndDecode(testpdf::Write(dir / (name + ".pdf"), o), dir / name);
        ASSERT_TRUE(d.ok()) << d.error;
        ASSERT_EQ(d.width, 200);
        ASSERT_EQ(d.height, 200);
        EXPECT_EQ(At(d, 5, 5), kWhite);
        EXPECT_EQ(At(d, 100, 100), kRed);
        if (rotate == 0) {
            // The page (100 x 60) in the middle: 50..150 across, 70..130 down.
            EXPECT_EQ(At(d, 51, 71), kRed);
            EXPECT_EQ(At(d, 51, 128), kBlue);  // its lower left corner
            EXPECT_EQ(At(d, 100, 65), kWhite);
            EXPECT_EQ(At(d, 100, 135), kWhite);
        } else {
            // Turned: 60 x 100, 70..130 across, 50..150 down; the lower left corner at top left.
            EXPECT_EQ(At(d, 72, 52), kBlue);
            EXPECT_EQ(At(d, 65, 100), kWhite);
            EXPECT_EQ(At(d, 135, 100), kWhite);
        }
    }
}

TEST(PageRendering, ColourModelsGiveTheirChannels) {
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages = {PageOf(40, 30)};
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    struct Case {
        int type;
        std::int32_t model;
        const char* mode;
    };
    const Case cases[] = {
        {kOutputTIFF, kColorGray, "L"},       {kOutputTIFF, kColorRGB, "RGB"},   {kOutputTIFF, kColorCMYK, "CMYK"},
        {kOutputTIFFCMYK, kColorRGB, "CMYK"}, {kOutputTIFFCMYK, kColorGray, "CMYK"},
        {kOutputJPEG, kColorGray, "L"},       {kOutputJPEG, kColorCMYK, "CMYK"},
        {kOutputPNG, kColorRGB, "RGBA"},      {kOutputPNG, kColorGray, "LA"},    {kOutputPNG, kColorCMYK, "RGBA"},
        {42, kColorRGB, "RGB"},  // an unknown model draws in RGB; an unknown type is written as JPEG
    };
    int n = 0;
    for (const Case& c : cases) {
        const fs::path out = dir / ("out" + std::to_string(n++));
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, c.type);
        r.conversionOptions.colorModel = c.model == kColorRGB && c.type == 42 ? 9 : c.model;
        r.conversionOptions.compressionQuality = 0.9;
        EXPECT_EQ(ConvertPDFToImages(&r), 1);
        const std::vector<std::string> names = Names(out);
        ASSERT_EQ(names.size(), 1u);
        const auto d = testimage::DecodeWithPil(out / names[0]);
        ASSERT_TRUE(d.ok()) << d.error;
        EXPECT_EQ(d.mode, c.mode) << "type " << c.type << " model " << c.model;
        EXPECT_EQ(d.width, 40);
    }
}

TEST(PageRendering, ACancelDuringAPageFailsTheDocument) {
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages.assign(4, PageOf(20, 20));
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    // Reports run at once on the page's thread: the cancel arrives inside the page.
    platform::SetMainQueueHook([](platform::MainQueueTask task) { task(); });
    for (int type : {kOutputPNG, kOutputMultiPageTIFF}) {
        Target target;
        target.onReport = [](Target& t, long page) {
            if (page == 2) t.cancelled = true;
        };
        const fs::path out = dir / ("out" + std::to_string(type));
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, type);
        r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
        EXPECT_EQ(ConvertPDFToImages(&r), 0) << type;
        EXPECT_FALSE(fs::exists(out / "doc-2.png"));
        for (const std::string& name : Names(out)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    }
    platform::SetMainQueueHook(nullptr);
}

TEST(PageRendering, ACancelWhileAPageLoadsEndsTheDocumentAtOnce) {
    // 400000 clipped squares: loading and recording the page take seconds. A cancel that
    // arrives meanwhile ends the document within a second.
    std::string content;
    for (int i = 0; i < 400000; ++i) content += "q 0 0 1 1 re W n 0 0 1 1 re f Q\n";
    testpdf::Page p = PageOf(100, 100);
    p.content = content;
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages = {p};
    const fs::path pdf = testpdf::Write(dir / "slow.pdf", o);
    platform::SetMainQueueHook([](platform::MainQueueTask task) { task(); });
    Target target;
    std::thread canceller;
    std::atomic<std::int64_t> cancelledAt{0};
    const auto now = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    target.onReport = [&](Target& t, long) {
        canceller = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            cancelledAt = now();
            t.cancelled = true;
        });
    };
    fs::create_directory(dir / "out");
    ImageConversion r = Record(pdf, dir / "out");
    r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
    const ConversionReport report = ConvertPDFToImagesWithReport(&r);
    const std::int64_t ended = now();
    if (canceller.joinable()) canceller.join();
    platform::SetMainQueueHook(nullptr);
    EXPECT_EQ(report.success, 0);
    EXPECT_EQ(report.failure, ConversionFailure::Cancelled);
    ASSERT_GT(cancelledAt.load(), 0);
    EXPECT_LT(ended - cancelledAt.load(), 1000);
    EXPECT_TRUE(Names(dir / "out").empty());
}

TEST(PageRendering, ACancelBeforeTheFirstPageIsNoFailure) {
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages.assign(3, PageOf(20, 20));
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    Target target;
    target.cancelled = true;
    ImageConversion r = Record(pdf, dir.path());
    r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"doc.pdf"});
}

TEST(PageRendering, ContentErrorsAreDrawnPastAsMutoolDrawsThem) {
    // Every page draws a red square, meets an error MuPDF recovers from, then a blue one.
    struct Case {
        const char* what;
        const char* error;
    };
    const Case cases[] = {
        {"a missing XObject", "/Missing Do"},
        {"a missing ExtGState", "/GS9 gs"},
        {"a missing colour space", "/CS9 cs 0.5 scn"},
        {"a missing shading", "/Sh9 sh"},
        {"an unknown operator", "1 2 frobnicate"},
        {"a syntax error", "0 0 m ) ] >> l"},
        {"an operator inside a TJ array", "BT [ (a) 0 0 1 rg (b) ] TJ ET"},
        {"a number in scientific notation", "1.5e2 0 0 rg"},
    };
    testpdf::TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        testpdf::Page p = PageOf(60, 40);
        p.content = std::string("1 0 0 rg 5 5 20 20 re f ") + c.error + " 0 0 1 rg 35 5 20 20 re f";
        testpdf::Options o;
        o.pages = {PageOf(60, 40), p, PageOf(60, 40)};
        const fs::path pdf = testpdf::Write(dir / ("doc" + std::to_string(n) + ".pdf"), o);
        const fs::path out = dir / ("out" + std::to_string(n++));
        fs::create_directory(out);
        for (int type : {kOutputPNG, kOutputMultiPageTIFF}) {
            ImageConversion r = Record(pdf, out, type);
            EXPECT_EQ(ConvertPDFToImages(&r), 1) << c.what << " as type " << type;
        }
        // The pages beside it and the page itself, the TIFF with all three.
        EXPECT_EQ(Names(out), (std::vector<std::string>{"doc" + std::to_string(n - 1) + "-1.png",
                                                        "doc" + std::to_string(n - 1) + "-2.png",
                                                        "doc" + std::to_string(n - 1) + "-3.png",
                                                        "doc" + std::to_string(n - 1) + ".tif"}))
            << c.what;
        EXPECT_TRUE(SameAsMutoolDraw(out / ("doc" + std::to_string(n - 1) + "-2.png"), pdf, 2, 72)) << c.what;
        const auto d = testimage::DecodeWithPil(out / ("doc" + std::to_string(n - 1) + "-2.png"), "RGB");
        ASSERT_TRUE(d.ok()) << d.error;
        EXPECT_EQ(At(d, 15, 25), kRed) << c.what;
        EXPECT_EQ(At(d, 45, 25), kBlue) << c.what;  // drawn past the error
    }
}

TEST(PageRendering, UserUnitScalesThePage) {
    testpdf::TempDir dir;
    testpdf::Page p = PageOf(8.5, 11);
    p.userUnit = 72;
    p.content = "1 0 0 rg 1 1 2 2 re f";  // 144 points square, an inch from the lower left
    testpdf::Options o;
    o.pages = {p};
    const fs::path pdf = testpdf::Write(dir / "unit.pdf", o);
    const auto d = ConvertAndDecode(pdf, dir / "out");
    ASSERT_TRUE(d.ok()) << d.error;
    EXPECT_EQ(d.width, 612);
    EXPECT_EQ(d.height, 792);
    EXPECT_EQ(At(d, 100, 792 - 100), kRed);
    EXPECT_EQ(At(d, 300, 792 - 100), kWhite);
    EXPECT_TRUE(SameAsMutoolDraw(dir / "out" / Names(dir / "out")[0], pdf, 1, 72));
}

TEST(PdfLayer, DrawsInTheAskedModelAndStopsWhenCancelled) {
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages = {PageOf(30, 20)};
    o.pages[0].content = "0 0 m";  // draws nothing
    auto doc = platform::PdfDocument::Open(testpdf::Write(dir / "doc.pdf", o));
    ASSERT_TRUE(doc);
    struct Case {
        platform::ColorModel model;
        int components;
    };
    for (const Case& c : {Case{platform::ColorModel::Monochrome, 1}, Case{platform::ColorModel::RGB, 3},
                          Case{platform::ColorModel::CMYK, 4}}) {
        platform::PdfDocument::RenderRequest request;
        request.width = 30;
        request.height = 20;
        request.model = c.model;
        const platform::Bitmap b = doc->RenderPage(request);
        ASSERT_TRUE(b);
        EXPECT_EQ(b.components, c.components);
        EXPECT_FALSE(b.hasAlpha);
        EXPECT_EQ(b.model, c.model);
        // White is no ink in CMYK, full value in grey and RGB.
        const std::uint8_t* corner = b.row(0) + (b.width - 1) * b.components;
        for (int i = 0; i < c.components; ++i) EXPECT_EQ(corner[i], c.model == platform::ColorModel::CMYK ? 0 : 255);
    }
    platform::PdfDocument::RenderRequest request;
    request.width = 30;
    request.height = 20;
    EXPECT_FALSE(doc->RenderPage(request, [] { return true; }));
    request.pageIndex = 1;
    EXPECT_FALSE(doc->RenderPage(request));
    request.pageIndex = 0;
    request.width = 1 << 20;
    request.height = 1 << 20;
    EXPECT_FALSE(doc->RenderPage(request));  // far beyond the cap: refused before allocating
}

TEST(PdfLayer, ACancelInsideClipsEndsQuietly) {
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages = {PageOf(200, 200)};
    // Nested clips around a long drawing: the cancel comes while they are open.
    std::string content = "q 0 0 200 200 re W n q 10 10 180 180 re W n 0.5 0 0 rg\n";
    for (int i = 0; i < 40000; ++i) content += std::to_string(i % 150) + " " + std::to_string(i % 170) + " 30 20 re f\n";
    content += "Q Q\n";
    o.pages[0].content = content;
    auto doc = platform::PdfDocument::Open(testpdf::Write(dir / "doc.pdf", o));
    ASSERT_TRUE(doc);

    // On one thread, and in bands side by side (each band's drawing stopped).
    for (const int threads : {1, 4}) {
        platform::ScopedWorkerBudget budget(threads);
        platform::PdfDocument::RenderRequest request;
        request.width = 2000;
        request.height = 2000;
        request.scale = 10;
        std::atomic<int> polls{0};
        // The first polls (before and as the drawing starts) answer no; later ones yes.
        const auto cancelled = [&polls] { return ++polls > 2; };

        // What MuPDF prints goes to the standard error: caught in a file while the page is drawn.
        const fs::path caught = dir / "stderr.txt";
        std::fflush(stderr);
        const int saved = dup(2);
        const int file = open(caught.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(file, 0);
        dup2(file, 2);
        const platform::Bitmap b = doc->RenderPage(request, cancelled);
        std::fflush(stderr);
        dup2(saved, 2);
        close(saved);
        close(file);

        EXPECT_FALSE(b);
        EXPECT_GT(polls.load(), 2);
        std::ifstream in(caught);
        const std::string printed((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(printed, "") << threads << " threads";
    }
}

namespace {

// Page `page` (1-based) of `doc` drawn at `dpi` in `model` with `threads` to draw it, rows
// [y0, y1) of it (all of them when y1 is 0); empty when it could not be drawn.
std::vector<std::uint8_t> DrawnRows(const platform::PdfDocument& doc, int page, long dpi, platform::ColorModel model,
                                    bool alpha, int threads, int y0 = 0, int y1 = 0) {
    const std::optional<platform::PdfPageGeometry> geometry = doc.PageGeometry(page - 1);
    if (!geometry) return {};
    const PageSizePlan size = PlanPageSize(*geometry, static_cast<float>(dpi) / 72.0f, false, ImageResizeOptions{});
    platform::PdfDocument::RenderRequest request;
    request.pageIndex = page - 1;
    request.scale = static_cast<float>(size.scale);
    request.width = size.width;
    request.height = size.height;
    request.model = model;
    request.alpha = alpha;
    std::unique_ptr<platform::PreparedPdfPage> prepared = doc.PreparePage(request);
    if (!prepared) return {};
    if (y1 == 0) y1 = prepared->height();
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(prepared->width()) * prepared->components();
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(stride) * static_cast<std::size_t>(y1 - y0));
    platform::ScopedWorkerBudget budget(threads);
    if (!prepared->DrawRows(y0, y1, rows.data(), stride)) return {};
    return rows;
}

}  // namespace

TEST(PdfLayer, APageDrawnInBandsSideBySideHasThePixelsOfOneDrawing) {
    // Pages whose strokes, fills and images cross the bands' edges: stroked map lines, hatching,
    // a scaled image. Drawn on several threads, every pixel is that of one drawing on one thread,
    // in every colour model, for the whole picture and for a range of its rows (a band of a
    // large page).
    struct Case {
        const char* file;
        int page;
        long dpi;
        platform::ColorModel model;
        bool alpha;
    };
    const Case cases[] = {
        {"GeoTopo-komprimiert.pdf", 1, 300, platform::ColorModel::RGB, false},
        {"GeoTopo-komprimiert.pdf", 35, 300, platform::ColorModel::RGB, true},
        {"GeoTopo-komprimiert.pdf", 43, 300, platform::ColorModel::CMYK, false},
        {"GeoTopo-komprimiert.pdf", 31, 150, platform::ColorModel::Monochrome, false},
        {"pdflatex-image.pdf", 1, 300, platform::ColorModel::RGB, false},
    };
    for (const Case& c : cases) {
        auto doc = platform::PdfDocument::Open(testpdf::CorpusDir() / c.file);
        ASSERT_TRUE(doc) << c.file;
        std::string what = c.file;
        what += " page " + std::to_string(c.page);
        const std::vector<std::uint8_t> one = DrawnRows(*doc, c.page, c.dpi, c.model, c.alpha, 1);
        ASSERT_FALSE(one.empty()) << what;
        for (const int threads : {3, 7}) {
            const std::vector<std::uint8_t> bands = DrawnRows(*doc, c.page, c.dpi, c.model, c.alpha, threads);
            EXPECT_TRUE(bands == one) << what << " on " << threads << " threads";
        }
        const std::vector<std::uint8_t> range = DrawnRows(*doc, c.page, c.dpi, c.model, c.alpha, 5, 700, 1500);
        EXPECT_TRUE(range == DrawnRows(*doc, c.page, c.dpi, c.model, c.alpha, 1, 700, 1500)) << what << " rows";
    }
}
