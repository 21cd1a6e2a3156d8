// The extraction's entry and page walk: which images of which pages are written, under which
// names, in which order.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "engine/extraction/ExtractionSupport.h"
#include "engine/extraction/ImageExtractor.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;
using testextract::PdfBuilder;

// A 1 x 1 grey image whose one sample identifies it.
QPDFObjectHandle Grey(PdfBuilder& b, int value) {
    return b.Image("/Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray", std::string(1, static_cast<char>(value)));
}

int FirstSample(const fs::path& file) {
    const testimage::Decoded d = testextract::Read(file, "L");
    return d.pixels.empty() ? -1 : d.pixels[0];
}

TEST(ExtractionWalk, ResourcesDepthFirstThenInlineImagesInContentOrder) {
    testpdf::TempDir dir;
    PdfBuilder b;
    // Page 1: a form holding an image and (through a second form) itself, a drawn image, an
    // unused image, and two inline images with abbreviated keys, the first of binary data.
    QPDFObjectHandle fm1 = b.Form(QPDFObjectHandle::newNull());
    QPDFObjectHandle fm2 = b.Form(PdfBuilder::XObjects({{"/Fm1", fm1}}));
    fm1.getDict().replaceKey("/Resources", PdfBuilder::XObjects({{"/Im2", Grey(b, 20)}, {"/Fm2", fm2}, {"/Self", fm1}}));
    const std::string content1 =
        "q /Im1 Do Q q /Im1 Do Q /Fm1 Do\n"
        "BI /W 2 /H 1 /BPC 8 /CS /G ID \x32\xC8 EI\n"
        "0 0 m 1 1 l S\n"
        "BI /W 1 /H 1 /BPC 8 /CS /G /F /AHx /D [1 0] ID 3C> EI\n";
    b.AddPage(PdfBuilder::XObjects({{"/Fm1", fm1}, {"/Im1", Grey(b, 10)}, {"/Im3", Grey(b, 30)}}), content1);
    // Page 2: no resources of its own; the page tree's are not looked up.
    b.AddPage(QPDFObjectHandle::newNull(), "/Im4 Do BI /W 1 /H 1 /CS /G /BPC 8 ID F EI");
    b.document().getRoot().getKey("/Pages").replaceKey("/Resources", PdfBuilder::XObjects({{"/Im4", Grey(b, 40)}}));
    const fs::path pdf = dir / "walk.pdf";
    b.Write(pdf);

    const fs::path out = dir / "out";
    fs::create_directories(out);
    const testextract::Run run = testextract::Extract(pdf, out);
    EXPECT_EQ(run.result, 1);
    const std::vector<std::string> expected = {"walk_Page1_1.png", "walk_Page1_2.png", "walk_Page1_3.png",
                                               "walk_Page1_4.png", "walk_Page1_5.png", "walk_Page2_1.png"};
    ASSERT_EQ(run.files, expected);
    EXPECT_EQ(FirstSample(out / "walk_Page1_1.png"), 20);  // in the form, at the form's entry
    EXPECT_EQ(FirstSample(out / "walk_Page1_2.png"), 10);  // drawn twice, written once
    EXPECT_EQ(FirstSample(out / "walk_Page1_3.png"), 30);  // listed, never drawn
    const testimage::Decoded binary = testextract::Read(out / "walk_Page1_4.png", "L");
    EXPECT_EQ(binary.width, 2);
    EXPECT_EQ(binary.pixels, (std::vector<std::uint8_t>{0x32, 0xC8}));
    EXPECT_EQ(FirstSample(out / "walk_Page1_5.png"), 255 - 0x3C);  // /D [1 0] applies
    EXPECT_EQ(FirstSample(out / "walk_Page2_1.png"), 'F');
}

// A 4-page document whose page p holds one image of sample 10 p; page 2 holds three, the
// middle one undecodable.
fs::path FourPages(const fs::path& path) {
    PdfBuilder b;
    for (int p = 1; p <= 4; ++p) {
        if (p == 2) {
            QPDFObjectHandle broken = b.Image("/Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray /Filter /NoSuchDecode", "x");
            b.AddPage(PdfBuilder::XObjects({{"/A", Grey(b, 20)}, {"/B", broken}, {"/C", Grey(b, 21)}}));
        } else {
            b.AddPage(PdfBuilder::XObjects({{"/A", Grey(b, 10 * p)}}));
        }
    }
    b.Write(path);
    return path;
}

TEST(ExtractionWalk, PageRanges) {
    testpdf::TempDir dir;
    const fs::path pdf = FourPages(dir / "four.pdf");
    struct Case {
        std::int32_t type;
        std::int64_t start, end;
        std::vector<int> pages;
    };
    const Case cases[] = {
        {kPageRangeAll, 0, 0, {1, 2, 3, 4}}, {kPageRangeAll, 3, 3, {1, 2, 3, 4}},
        {kPageRangeSingle, 3, 0, {3}},       {kPageRangeSingle, 0, 0, {1}},
        {kPageRangeSingle, 9, 9, {1}},       {kPageRangeFromTo, 2, 3, {2, 3}},
        {kPageRangeFromTo, 2, 0, {1}},       {kPageRangeFromTo, 3, 2, {2}},
        {kPageRangeFromTo, 2, 99, {2, 3, 4}}, {kPageRangeFromTo, 0, 2, {1, 2}},
        {kPageRangeFromTo, 9, 9, {1, 2, 3, 4}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const fs::path out = dir / ("out" + std::to_string(n++));
        fs::create_directories(out);
        testextract::Options options;
        options.rangeType = c.type;
        options.startPage = c.start;
        options.endPage = c.end;
        const testextract::Run run = testextract::Extract(pdf, out, options);
        EXPECT_EQ(run.result, 1);
        std::vector<std::string> expected;
        for (int p : c.pages) {
            expected.push_back("four_Page" + std::to_string(p) + "_1.png");
            if (p == 2) expected.push_back("four_Page2_2.png");
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(run.files, expected) << "type " << c.type << " start " << c.start << " end " << c.end;
    }
}

TEST(ExtractionWalk, NumbersSkipUndecodableImagesAndRestartOnEveryPage) {
    testpdf::TempDir dir;
    const fs::path pdf = FourPages(dir / "four.pdf");
    const fs::path out = dir / "out";
    fs::create_directories(out);
    testextract::Options options;
    options.baseName = "a";
    const testextract::Run run = testextract::Extract(pdf, out, options);
    const std::vector<std::string> expected = {"a_Page1_1.png", "a_Page2_1.png", "a_Page2_2.png", "a_Page3_1.png",
                                               "a_Page4_1.png"};
    EXPECT_EQ(run.files, expected);
    EXPECT_EQ(FirstSample(out / "a_Page2_2.png"), 21);
    EXPECT_EQ(FirstSample(out / "a_Page3_1.png"), 30);

    // A second run into the same folder replaces the files.
    EXPECT_EQ(testextract::Extract(pdf, out, options).files, expected);

    // A base name with a path in it stays in the folder.
    const fs::path inner = dir / "inner";
    fs::create_directories(inner);
    options.baseName = "../escaped";
    options.rangeType = kPageRangeSingle;
    options.startPage = 1;
    EXPECT_EQ(testextract::Extract(pdf, inner, options).files, std::vector<std::string>{".._escaped_Page1_1.png"});
    EXPECT_FALSE(fs::exists(dir / "escaped_Page1_1.png"));
}

class RecordingTarget : public ProgressTarget {
public:
    explicit RecordingTarget(bool cancelled) : cancelled_(cancelled) {}
    bool isConversionCancelled() override { return cancelled_; }
    void UpdatePageProgressStatus(long page) override {
        std::lock_guard lock(mutex);
        pages.push_back(page);
        threads.push_back(std::this_thread::get_id());
    }
    std::mutex mutex;
    std::vector<long> pages;
    std::vector<std::thread::id> threads;

private:
    std::atomic<bool> cancelled_;
};

TEST(ExtractionWalk, ReportsEachPageInOrderOnTheCallersThreadAndHonoursCancel) {
    testpdf::TempDir dir;
    const fs::path pdf = FourPages(dir / "four.pdf");
    fs::create_directories(dir / "a");
    RecordingTarget reporting(false);
    testextract::Options options;
    options.progress = &reporting;
    EXPECT_EQ(testextract::Extract(pdf, dir / "a", options).files.size(), 5u);
    EXPECT_EQ(reporting.pages, (std::vector<long>{1, 2, 3, 4}));
    for (std::thread::id id : reporting.threads) EXPECT_EQ(id, std::this_thread::get_id());

    fs::create_directories(dir / "b");
    RecordingTarget cancelled(true);
    options.progress = &cancelled;
    const testextract::Run run = testextract::Extract(pdf, dir / "b", options);
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.files.empty());
    EXPECT_TRUE(cancelled.pages.empty());
}

TEST(ExtractionWalk, EntryResults) {
    testpdf::TempDir dir;
    fs::create_directories(dir / "out");
    // No pages: nothing to do, and the document was opened.
    PdfBuilder empty;
    empty.Write(dir / "empty.pdf");
    EXPECT_EQ(testextract::Extract(dir / "empty.pdf", dir / "out").result, 1);

    // Encrypted: the password opens the objects too; without it nothing is written.
    PdfBuilder locked;
    locked.AddPage(PdfBuilder::XObjects({{"/A", Grey(locked, 77)}}));
    locked.Write(dir / "locked.pdf", "secret");
    testextract::Options options;
    options.password = std::nullopt;
    EXPECT_EQ(testextract::Extract(dir / "locked.pdf", dir / "out", options).result, 0);
    options.password = "wrong";
    EXPECT_EQ(testextract::Extract(dir / "locked.pdf", dir / "out", options).result, 0);
    EXPECT_TRUE(testextract::Extract(dir / "locked.pdf", dir / "out", options).files.empty());
    options.password = "secret";
    const testextract::Run run = testextract::Extract(dir / "locked.pdf", dir / "out", options);
    EXPECT_EQ(run.result, 1);
    ASSERT_EQ(run.files, std::vector<std::string>{"locked_Page1_1.png"});
    EXPECT_EQ(FirstSample(dir / "out" / "locked_Page1_1.png"), 77);

    // Not a PDF, a missing folder.
    std::ofstream(dir / "text.pdf") << "not a pdf";
    EXPECT_EQ(testextract::Extract(dir / "text.pdf", dir / "out").result, 0);
    EXPECT_EQ(testextract::Extract(dir / "locked.pdf", fs::path()).result, 0);
    EXPECT_EQ(ExtractImagesFromPDF(nullptr), 0);
}

TEST(ExtractionWalk, PdfOutputPassesThroughATiffAndKeepsThePixels) {
    testpdf::TempDir dir;
    PdfBuilder b;
    const std::string rgb("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\x80\x80\x80", 12);
    b.AddPage(PdfBuilder::XObjects({{"/A", b.Image("/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceRGB", rgb)}}));
    b.Write(dir / "rgb.pdf");
    fs::create_directories(dir / "out");
    testextract::Options options;
    options.type = kOutputPDF;
    ASSERT_EQ(testextract::Extract(dir / "rgb.pdf", dir / "out", options).files, std::vector<std::string>{"rgb_Page1_1.pdf"});
    // The written PDF's image, as poppler reads it.
    const std::vector<testextract::PeerImage> peer = testextract::PdfImages(dir / "out" / "rgb_Page1_1.pdf", dir / "peer");
    ASSERT_FALSE(peer.empty());
    const testimage::Decoded d = testextract::Read(peer[0].file, "RGB");
    EXPECT_EQ(d.width, 2);
    EXPECT_EQ(std::string(d.pixels.begin(), d.pixels.end()), rgb);
}

}  // namespace
