// The page loop: ranges, names, free names, overwriting, reports and the queue.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <thread>

#include <tiffio.h>

#include "engine/ConversionReport.h"
#include "support/ConversionSupport.h"
#include "engine/ImageConversion.h"
#include "engine/OperationQueue.h"
#include "platform/MainQueue.h"
#include "support/ImageReader.h"
#include "support/TestPdf.h"

using namespace conversiontest;

namespace {

// A PDF of `count` small pages (20 x 20 points: 20 x 20 pixels at 72 dpi).
fs::path SmallPdf(const testpdf::TempDir& dir, int count, const std::string& name = "doc.pdf") {
    testpdf::Options o;
    o.pages.assign(static_cast<std::size_t>(count), PageOf(20, 20));
    return testpdf::Write(dir / name, o);
}

std::vector<std::string> Numbered(const std::string& base, const std::vector<std::string>& numbers,
                                  const std::string& ext = "png") {
    std::vector<std::string> out;
    for (const auto& n : numbers) out.push_back(base + "-" + n + "." + ext);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> Range(int first, int last, int digits) {
    std::vector<std::string> out;
    for (int i = first; i <= last; ++i) {
        char text[16];
        std::snprintf(text, sizeof text, "%0*d", digits, i);
        out.push_back(text);
    }
    return out;
}

}  // namespace

TEST(PageLoop, NamesCarryThePageNumberPaddedToTheDigitsOfThePageCount) {
    struct Case {
        int pages;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {1, {"doc.png"}},
        {9, Numbered("doc", Range(1, 9, 1))},
        {10, Numbered("doc", Range(1, 10, 2))},
        {117, Numbered("doc", Range(1, 117, 3))},
    };
    for (const Case& c : cases) {
        testpdf::TempDir dir;
        const fs::path pdf = SmallPdf(dir, c.pages);
        fs::create_directory(dir / "out");
        ImageConversion r = Record(pdf, dir / "out");
        EXPECT_EQ(ConvertPDFToImages(&r), 1) << c.pages;
        EXPECT_EQ(Names(dir / "out"), c.expected) << c.pages << " pages";
    }
}

TEST(PageLoop, BaseNameComesFromTheRecordOrTheSourceFile) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 2, "My Report.v2.pdf");
    fs::create_directory(dir / "a");
    fs::create_directory(dir / "b");
    ImageConversion r = Record(pdf, dir / "a");
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    EXPECT_EQ(Names(dir / "a"), (std::vector<std::string>{"My Report.v2-1.png", "My Report.v2-2.png"}));
    r.outputFolderURL = dir / "b";
    r.outputBaseName = "page";
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    EXPECT_EQ(Names(dir / "b"), (std::vector<std::string>{"page-1.png", "page-2.png"}));
}

TEST(PageLoop, RangesAreClampedToTheDocument) {
    struct Case {
        std::int32_t type;
        std::int64_t start, end;
        std::vector<std::string> pages;
    };
    const Case cases[] = {
        {kPageRangeFromTo, 12, 15, Range(1, 10, 2)},  // first page out of range: from 1, last clamped
        {kPageRangeFromTo, 5, 3, {"03"}},              // first above last: the last page only
        {kPageRangeFromTo, 4, 0, {"01"}},              // last below 1 becomes 1
        {kPageRangeFromTo, -2, 2, {"01", "02"}},
        {kPageRangeFromTo, 9, 9, {"09"}},
        {kPageRangeFromTo, 3, -3, Range(3, 10, 2)},  // a negative last page is the last page
        {kPageRangeFromTo, -2, -1, Range(1, 10, 2)},
        {kPageRangeSingle, 0, 0, {"01"}},
        {kPageRangeSingle, 11, 0, {"01"}},
        {kPageRangeSingle, -3, 0, {"01"}},
        {kPageRangeSingle, 7, 0, {"07"}},
        {kPageRangeAll, 5, 6, Range(1, 10, 2)},
        {42, 5, 6, Range(1, 10, 2)},  // an unknown range type means all pages
    };
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 10);
    int n = 0;
    for (const Case& c : cases) {
        const fs::path out = dir / ("out" + std::to_string(n++));
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out);
        r.conversionOptions.pageRangeType = c.type;
        r.conversionOptions.startPage = c.start;
        r.conversionOptions.endPage = c.end;
        EXPECT_EQ(ConvertPDFToImages(&r), 1);
        EXPECT_EQ(Names(out), Numbered("doc", c.pages)) << "range " << c.type << " " << c.start << "-" << c.end;
    }
}

TEST(PageLoop, OnePageOfALongDocumentKeepsTheLongNumber) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 25);
    ImageConversion r = Record(pdf, dir.path());
    r.conversionOptions.pageRangeType = kPageRangeSingle;
    r.conversionOptions.startPage = 7;
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    EXPECT_TRUE(fs::exists(dir / "doc-07.png"));
}

TEST(PageLoop, NumbersFromTheRangeStartInNamesAndReports) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 10);
    fs::create_directory(dir / "out");
    Target target;
    ImageConversion r = Record(pdf, dir / "out");
    r.numberPagesFromRangeStart = 1;
    r.conversionOptions.pageRangeType = kPageRangeFromTo;
    r.conversionOptions.startPage = 3;
    r.conversionOptions.endPage = 5;
    r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    platform::DrainDefaultMainQueue();
    EXPECT_EQ(Names(dir / "out"), Numbered("doc", {"05", "06", "07"}));
    std::vector<long> reports = target.Reports();
    std::sort(reports.begin(), reports.end());
    EXPECT_EQ(reports, (std::vector<long>{5, 6, 7}));
}

TEST(PageLoop, LastPagesTakenHeaviestFirstKeepTheirNamesAndPixels) {
    // Pages filled with colours of their own; two of the last ones draw a long stream first.
    // Queued heaviest first, every page still lands under its own number with its own pixels.
    const auto colour = [](int page) { return std::array<int, 3>{page * 8, 255 - page * 8, page * 37 % 256}; };
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages.clear();
    for (int page = 1; page <= 30; ++page) {
        testpdf::Page p = PageOf(20, 20);
        if (page == 25 || page == 28)
            for (int k = 0; k < 3000; ++k) p.content += "0 0 0 rg 0 0 20 20 re f\n";
        const auto c = colour(page);
        char fill[96];
        std::snprintf(fill, sizeof fill, "%.6f %.6f %.6f rg 0 0 20 20 re f", c[0] / 255.0, c[1] / 255.0, c[2] / 255.0);
        p.content += fill;
        o.pages.push_back(p);
    }
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    fs::create_directory(dir / "out");
    Target target;
    ImageConversion r = Record(pdf, dir / "out");
    r.conversionOptions.pageRangeType = kPageRangeFromTo;
    r.conversionOptions.startPage = 3;
    r.conversionOptions.endPage = 30;
    r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    platform::DrainDefaultMainQueue();
    std::vector<std::string> numbers;
    std::vector<long> expected;
    for (int page = 3; page <= 30; ++page) {
        char number[8];
        std::snprintf(number, sizeof number, "%02d", page);
        numbers.push_back(number);
        expected.push_back(page);
    }
    EXPECT_EQ(Names(dir / "out"), Numbered("doc", numbers));
    for (int page = 3; page <= 30; ++page) {
        const auto d = testimage::DecodeWithPil(dir / "out" / ("doc-" + numbers[static_cast<std::size_t>(page - 3)] + ".png"), "RGB");
        ASSERT_TRUE(d.ok()) << d.error;
        const auto c = colour(page);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(d.pixels[static_cast<std::size_t>(k)], c[static_cast<std::size_t>(k)], 1) << "page " << page;
    }
    std::vector<long> reports = target.Reports();
    std::sort(reports.begin(), reports.end());
    EXPECT_EQ(reports, expected);
}

TEST(PageLoop, ReportsEveryPageOnlyWithASelector) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 4);
    Target target;
    ImageConversion r = Record(pdf, dir.path());
    r.progressCallback = {&target, nullptr};
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    platform::DrainDefaultMainQueue();
    EXPECT_TRUE(target.Reports().empty());

    r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
    r.overwriteExistingFile = 1;
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    platform::DrainDefaultMainQueue();
    std::vector<long> reports = target.Reports();
    std::sort(reports.begin(), reports.end());
    EXPECT_EQ(reports, (std::vector<long>{1, 2, 3, 4}));
}

TEST(PageLoop, TakenNamesGetAFreeOneAndStayUntouched) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 2);
    WriteAll(dir / "doc-1.png", "mine");
    fs::create_directory(dir / "doc-2.png");  // a folder holds the name
    WriteAll(dir / "doc-2 1.png", "mine too");
    ImageConversion r = Record(pdf, dir.path());
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    EXPECT_EQ(ReadAll(dir / "doc-1.png"), "mine");
    EXPECT_EQ(ReadAll(dir / "doc-2 1.png"), "mine too");
    EXPECT_EQ(PngSize(dir / "doc-1 1.png"), std::make_pair(20, 20));
    EXPECT_EQ(PngSize(dir / "doc-2 2.png"), std::make_pair(20, 20));
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"doc-1 1.png", "doc-1.png", "doc-2 1.png", "doc-2 2.png",
                                                           "doc-2.png", "doc.pdf"}));
}

TEST(PageLoop, OverwritingReplacesOldFilesOnlyWithCompleteNewOnes) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 3);
    fs::create_directory(dir / "out");
    for (const char* n : {"doc-1.png", "doc-2.png", "doc-3.png"}) WriteAll(dir / "out" / n, "old");

    // A conversion whose pages all fail (below one pixel each): the old files must survive.
    ImageConversion bad = Record(pdf, dir / "out");
    bad.overwriteExistingFile = 1;
    bad.resizeEnabled = 1;
    bad.resizeOptions.targetWidth = bad.resizeOptions.targetHeight = 0.4;
    bad.resizeOptions.sizeUnit = kSizePixels;
    EXPECT_EQ(ConvertPDFToImages(&bad), 0);
    EXPECT_EQ(Names(dir / "out"), (std::vector<std::string>{"doc-1.png", "doc-2.png", "doc-3.png"}));
    for (const char* n : {"doc-1.png", "doc-2.png", "doc-3.png"}) EXPECT_EQ(ReadAll(dir / "out" / n), "old");

    // A good run replaces them in place, under the same names, with nothing left beside them.
    ImageConversion r = Record(pdf, dir / "out");
    r.overwriteExistingFile = 1;
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    for (const char* n : {"doc-1.png", "doc-2.png", "doc-3.png"})
        EXPECT_EQ(PngSize(dir / "out" / n), std::make_pair(20, 20)) << n;
    EXPECT_EQ(Names(dir / "out").size(), 3u);
}

TEST(PageLoop, OverwritingReplacesALinkNotItsTarget) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 1);
    fs::create_directory(dir / "out");
    WriteAll(dir / "precious.png", "precious");
    fs::create_symlink(dir / "precious.png", dir / "out" / "doc.png");
    ImageConversion r = Record(pdf, dir / "out");
    r.overwriteExistingFile = 1;
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    EXPECT_EQ(ReadAll(dir / "precious.png"), "precious");
    EXPECT_FALSE(fs::is_symlink(dir / "out" / "doc.png"));
    EXPECT_EQ(PngSize(dir / "out" / "doc.png"), std::make_pair(20, 20));
}

TEST(PageLoop, ADocumentWithoutPagesSucceedsForEveryRange) {
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages.clear();
    const fs::path pdf = testpdf::Write(dir / "empty.pdf", o);
    for (std::int32_t type : {kPageRangeAll, kPageRangeSingle, kPageRangeFromTo}) {
        for (int output : {kOutputPNG, kOutputMultiPageTIFF}) {
            ImageConversion r = Record(pdf, dir.path(), output);
            r.conversionOptions.pageRangeType = type;
            r.conversionOptions.startPage = 1;
            r.conversionOptions.endPage = 1;
            EXPECT_EQ(ConvertPDFToImages(&r), 1) << "range type " << type;
        }
    }
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"empty.pdf"});
}

TEST(PageLoop, DamagedPageTreesGiveThePagesThatExist) {
    const std::string red = testpdf::RawStream("1 0 0 rg 0 0 30 30 re f");
    const std::string blue = testpdf::RawStream("0 0 1 rg 0 0 30 30 re f");
    const std::string catalog = "<< /Type /Catalog /Pages 2 0 R >>";
    const std::string page3 = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 30 30] /Contents 4 0 R >>";
    const std::string page5 = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 30 30] /Contents 6 0 R >>";
    struct Case {
        const char* what;
        std::vector<std::string> objects;
        std::uint8_t result;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"a count far above the pages",
         {catalog, "<< /Type /Pages /Count 1410065407 /Kids [3 0 R 5 0 R] >>", page3, red, page5, blue},
         1,
         {"doc-1.png", "doc-2.png"}},
        {"a count below the pages", {catalog, "<< /Type /Pages /Count 1 /Kids [3 0 R 5 0 R] >>", page3, red, page5, blue},
         1,
         {"doc.png"}},
        {"kids looping back after page 1", {catalog, "<< /Type /Pages /Count 3 /Kids [3 0 R 2 0 R] >>", page3, red}, 1,
         {"doc.png"}},
        {"kids that are no array", {catalog, "<< /Type /Pages /Count 3 /Kids 5 >>"}, 0, {}},
        {"no page tree at all", {"<< /Type /Catalog /Pages 9 0 R >>", "<< /Foo 1 >>"}, 0, {}},
        {"a page tree without pages", {catalog, "<< /Type /Pages /Count 0 /Kids [] >>"}, 1, {}},
    };
    testpdf::TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        const fs::path folder = dir / std::to_string(n++);
        fs::create_directory(folder);
        const fs::path pdf = testpdf::WriteRaw(dir / ("doc" + std::to_string(n) + ".pdf"), c.objects);
        ImageConversion r = Record(pdf, folder);
        r.outputBaseName = "doc";
        const ConversionReport report = ConvertPDFToImagesWithReport(&r);
        EXPECT_EQ(report.success, c.result) << c.what << ": " << DescribeConversionReport(report);
        if (!c.result) {
            EXPECT_EQ(report.failure, ConversionFailure::UnreadablePageTree) << c.what;
        }
        EXPECT_EQ(Names(folder), c.names) << c.what;
        for (const std::string& name : c.names) {
            const auto d = testimage::DecodeWithPil(folder / name, "RGB");
            ASSERT_TRUE(d.ok()) << d.error;
            const bool second = name == "doc-2.png";
            EXPECT_EQ(d.pixels[0], second ? 0 : 255) << c.what << " " << name;
            EXPECT_EQ(d.pixels[2], second ? 255 : 0) << c.what << " " << name;
        }
        if (!c.names.empty()) {
            EXPECT_TRUE(SameAsMutoolDraw(folder / c.names[0], pdf, 1, 72)) << c.what;
        }
    }
}

TEST(PageLoop, AfterAFailedPageNothingMoreIsStarted) {
    // The first page is narrower than a pixel and fails without drawing; pages run one after
    // another for a multi-page TIFF, so the second page is never started, reported or written.
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages = {PageOf(0.001, 20), PageOf(20, 20)};
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    Target target;
    platform::SetMainQueueHook([](platform::MainQueueTask task) { task(); });
    ImageConversion r = Record(pdf, dir.path(), kOutputMultiPageTIFF);
    r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
    EXPECT_EQ(ConvertPDFToImages(&r), 0);
    platform::SetMainQueueHook(nullptr);
    EXPECT_EQ(target.Reports(), std::vector<long>{1});
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"doc.pdf"});
}

TEST(PageLoop, ResolutionDefaultsTo72AndScalesThePage) {
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages = {PageOf(612, 792)};
    const fs::path pdf = testpdf::Write(dir / "letter.pdf", o);
    struct Case {
        long dpi;
        std::pair<int, int> size;
    };
    // 300 dpi: 612 x 300 / 72 as single precision (scale 4.1666665) rounds to 2550.
    for (const Case& c : {Case{0, {612, 792}}, Case{72, {612, 792}}, Case{150, {1275, 1650}}, Case{300, {2550, 3300}}}) {
        const fs::path out = dir / ("dpi" + std::to_string(c.dpi));
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, kOutputPNG, c.dpi);
        r.conversionOptions.colorModel = kColorGray;
        EXPECT_EQ(ConvertPDFToImages(&r), 1);
        EXPECT_EQ(PngSize(out / "letter.png"), c.size) << c.dpi << " dpi";
    }
}

TEST(PageLoop, QueueWidthIsOneLessThanTheProcessors) {
    EXPECT_EQ(PageQueueWidth(0), 1);
    EXPECT_EQ(PageQueueWidth(1), 1);
    EXPECT_EQ(PageQueueWidth(2), 1);
    EXPECT_EQ(PageQueueWidth(3), 2);
    EXPECT_EQ(PageQueueWidth(8), 7);
}

// Operations that count how many of them run at once and how many have run.
struct WidthProbe {
    std::atomic<int> running{0}, most{0}, done{0};

    void Add(OperationQueue& queue, int count) {
        for (int i = 0; i < count; ++i) {
            queue.AddOperation([this] {
                const int now = ++running;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                --running;
                ++done;
            });
        }
    }
};

TEST(OperationQueue, RunsEveryOperationAtMostWidthAtOnce) {
    OperationQueue queue(3);
    WidthProbe probe;
    probe.Add(queue, 40);
    queue.AddOperation([] { throw std::runtime_error("an operation that throws ends no thread"); });
    queue.WaitUntilAllOperationsAreFinished();
    EXPECT_EQ(probe.done.load(), 40);
    EXPECT_LE(probe.most.load(), 3);
    EXPECT_GE(probe.most.load(), 1);
}

TEST(OperationQueue, ThreadsStartedAheadRunTheWorkAndEndWithTheQueue) {
    // Queues that end while their threads are still starting one another.
    for (int round = 0; round < 20; ++round) {
        OperationQueue queue(4);
        queue.StartThreads(round % 6);
    }
    OperationQueue queue(3);
    queue.StartThreads(8);  // no more than the width
    WidthProbe probe;
    probe.Add(queue, 40);
    queue.WaitUntilAllOperationsAreFinished();
    EXPECT_EQ(probe.done.load(), 40);
    EXPECT_LE(probe.most.load(), 3);
}

// Reads the directories of a TIFF: samples, photometric and PageNumber of each.
struct TiffPage {
    std::uint16_t samples = 0, photometric = 0, page = 0, pages = 0, compression = 0;
    std::uint32_t width = 0, height = 0;
    float xres = 0;
};

static std::vector<TiffPage> ReadTiff(const fs::path& file) {
    std::vector<TiffPage> out;
    TIFF* t = TIFFOpen(file.c_str(), "r");
    if (!t) return out;
    do {
        TiffPage p;
        TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &p.photometric);
        TIFFGetField(t, TIFFTAG_PAGENUMBER, &p.page, &p.pages);
        TIFFGetField(t, TIFFTAG_COMPRESSION, &p.compression);
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &p.width);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &p.height);
        TIFFGetField(t, TIFFTAG_XRESOLUTION, &p.xres);
        out.push_back(p);
    } while (TIFFReadDirectory(t));
    TIFFClose(t);
    return out;
}

TEST(MultiPageTiff, OneDirectoryPerPageInTheDocumentsFile) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 6);
    struct Case {
        std::int32_t model;
        std::uint16_t samples, photometric;
    };
    for (const Case& c : {Case{kColorRGB, 3, PHOTOMETRIC_RGB}, Case{kColorGray, 1, PHOTOMETRIC_MINISBLACK},
                          Case{kColorCMYK, 4, PHOTOMETRIC_SEPARATED}}) {
        const fs::path out = dir / ("m" + std::to_string(c.model));
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, kOutputMultiPageTIFF, 100);
        r.conversionOptions.colorModel = c.model;
        r.conversionOptions.pageRangeType = kPageRangeFromTo;
        r.conversionOptions.startPage = 3;
        r.conversionOptions.endPage = 5;
        EXPECT_EQ(ConvertPDFToImages(&r), 1);
        ASSERT_EQ(Names(out), std::vector<std::string>{"doc.tif"});
        const std::vector<TiffPage> pages = ReadTiff(out / "doc.tif");
        ASSERT_EQ(pages.size(), 3u);
        for (std::uint16_t i = 0; i < 3; ++i) {
            EXPECT_EQ(pages[i].samples, c.samples);
            EXPECT_EQ(pages[i].photometric, c.photometric);
            EXPECT_EQ(pages[i].compression, COMPRESSION_LZW);
            EXPECT_EQ(pages[i].page, i);
            EXPECT_EQ(pages[i].pages, 3);
            EXPECT_EQ(pages[i].width, 28u);  // 20 points at 100 dpi
            EXPECT_FLOAT_EQ(pages[i].xres, 100);
        }
        const auto decoded = testimage::DecodeWithPil(out / "doc.tif", "", 2);
        EXPECT_TRUE(decoded.ok()) << decoded.error;
        EXPECT_EQ(decoded.frames, 3);
    }
}

TEST(MultiPageTiff, PagesDrawnInParallelAreWrittenInPageOrder) {
    // A large first page is drawn while the small ones after it are done: they wait for it. A
    // page without a box is left out without holding up the rest. The pages' widths tell them
    // apart, read back by libtiff and Pillow.
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages = {PageOf(1500, 1500), PageOf(30, 20), PageOf(0, 0), PageOf(40, 20), PageOf(50, 20), PageOf(60, 20)};
    o.pages[0].content = "0 0 1 rg 100 100 1300 1300 re f 1 0 0 rg 10 w 0 0 m 1500 1500 l S";
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    ImageConversion r = Record(pdf, dir.path(), kOutputMultiPageTIFF, 72);
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    const std::vector<TiffPage> pages = ReadTiff(dir / "doc.tif");
    const std::vector<std::uint32_t> widths = {1500, 30, 40, 50, 60};
    ASSERT_EQ(pages.size(), widths.size());
    for (std::size_t i = 0; i < widths.size(); ++i) {
        EXPECT_EQ(pages[i].width, widths[i]) << i;
        EXPECT_EQ(pages[i].pages, 6) << i;
    }
    // The page numbers count the range, the skipped page too.
    EXPECT_EQ(pages[1].page, 1);
    EXPECT_EQ(pages[2].page, 3);
    for (int frame = 0; frame < 5; ++frame) {
        const auto decoded = testimage::DecodeWithPil(dir / "doc.tif", "RGB", frame);
        ASSERT_TRUE(decoded.ok()) << decoded.error;
        EXPECT_EQ(decoded.width, static_cast<int>(widths[static_cast<std::size_t>(frame)])) << frame;
    }
}

TEST(MultiPageTiff, ARangeOfOnePageIsAnOrdinaryNumberedTiff) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 4);
    ImageConversion r = Record(pdf, dir.path(), kOutputMultiPageTIFF);
    r.conversionOptions.pageRangeType = kPageRangeSingle;
    r.conversionOptions.startPage = 2;
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    const std::vector<TiffPage> pages = ReadTiff(dir / "doc-2.tif");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].compression, COMPRESSION_LZW);
    EXPECT_EQ(pages[0].pages, 0);  // no PageNumber: not part of a multi-page file
}

TEST(MultiPageTiff, OverwritingReplacesTheFileOnceWithEveryPage) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 3);
    WriteAll(dir / "doc.tif", "old");
    ImageConversion r = Record(pdf, dir.path(), kOutputMultiPageTIFF);
    r.overwriteExistingFile = 1;
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    EXPECT_EQ(ReadTiff(dir / "doc.tif").size(), 3u);
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"doc.pdf", "doc.tif"}));

    // Without overwriting the old file stays and the new one takes a free name.
    r.overwriteExistingFile = 0;
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    EXPECT_EQ(ReadTiff(dir / "doc 1.tif").size(), 3u);
}

// The files other than PDFs that this process holds open in `folder`, named or not, as paths
// that open them again.
std::vector<fs::path> OpenFilesIn(const fs::path& folder) {
    std::vector<fs::path> open;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
        const fs::path target = fs::read_symlink(fd.path(), ec);
        if (!ec && target.parent_path() == folder && target.extension() != ".pdf") open.push_back(fd.path());
    }
    return open;
}

TEST(MultiPageTiff, ACancelBetweenPagesKeepsAValidFileOfThePagesWritten) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 5);
    const std::thread::id loopThread = std::this_thread::get_id();
    Target target;
    // The cancel comes with the first question the loop's thread asks once the file being
    // written holds two pages: the question before the third page.
    std::atomic<bool> armed{false};
    target.onReport = [&](Target&, long page) {
        if (page == 2) armed = true;
    };
    target.onQuestion = [&](Target& t) {
        if (!armed || std::this_thread::get_id() != loopThread) return;
        // The file being written has no name yet: it is found among the files we hold open.
        for (const fs::path& open : OpenFilesIn(dir.path())) {
            TIFFSetWarningHandler(nullptr);
            if (TIFF* partial = TIFFOpen(open.c_str(), "r")) {
                if (TIFFNumberOfDirectories(partial) == 2) t.cancelled = true;
                TIFFClose(partial);
            }
        }
    };
    platform::SetMainQueueHook([](platform::MainQueueTask task) { task(); });
    ImageConversion r = Record(pdf, dir.path(), kOutputMultiPageTIFF);
    r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
    EXPECT_EQ(ConvertPDFToImages(&r), 1);
    platform::SetMainQueueHook(nullptr);
    ASSERT_EQ(Names(dir.path()), (std::vector<std::string>{"doc.pdf", "doc.tif"}));
    const std::vector<TiffPage> pages = ReadTiff(dir / "doc.tif");
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].page, 1);
    EXPECT_EQ(pages[1].pages, 5);  // the range as it was asked for
}

TEST(MultiPageTiff, ACancelDuringAPageLeavesNoFile) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 4);
    Target target;
    target.onReport = [](Target& t, long page) {
        if (page == 3) t.cancelled = true;
    };
    platform::SetMainQueueHook([](platform::MainQueueTask task) { task(); });
    WriteAll(dir / "doc.tif", "old");
    ImageConversion r = Record(pdf, dir.path(), kOutputMultiPageTIFF);
    r.overwriteExistingFile = 1;
    r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
    EXPECT_EQ(ConvertPDFToImages(&r), 0);
    platform::SetMainQueueHook(nullptr);
    // The old file is what it was, and nothing half-written lies beside it.
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"doc.pdf", "doc.tif"}));
    EXPECT_EQ(ReadAll(dir / "doc.tif"), "old");
}

TEST(MultiPageTiff, AFileThatCannotBeOpenedFailsTheDocument) {
    testpdf::TempDir dir;
    const fs::path pdf = SmallPdf(dir, 2);
    ImageConversion r = Record(pdf, dir / "missing" / "folder", kOutputMultiPageTIFF);
    EXPECT_EQ(ConvertPDFToImages(&r), 0);
}

TEST(PageLoop, WithoutThreadsThePagesRunOnTheCallingThread) {
    // A child process that may start no thread at all (as nobody, when we are root, since the
    // limit does not hold for root) converts a document of several pages, with reports.
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages.assign(4, PageOf(50, 50));
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    const fs::path out = dir / "out";
    fs::create_directory(out);
    fs::permissions(out, fs::perms::all);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(120);  // a hang ends the child with a signal
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(10);
        const rlimit none{0, 0};
        if (::setrlimit(RLIMIT_NPROC, &none) != 0) ::_exit(11);
        try {
            std::thread probe([] {});
            probe.join();
            ::_exit(12);  // threads can still be had: the test would prove nothing
        } catch (...) {
        }
        Target target;
        ImageConversion r = Record(pdf, out);
        r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
        ::_exit(ConvertPDFToImages(&r) == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Names(out), (std::vector<std::string>{"doc-1.png", "doc-2.png", "doc-3.png", "doc-4.png"}));
    for (const std::string& name : Names(out)) EXPECT_TRUE(testimage::DecodeWithPil(out / name).ok()) << name;
}
