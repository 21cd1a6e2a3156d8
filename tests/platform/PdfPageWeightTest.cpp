// The weights that order the page loop's last pages, and the readers dropped at its end.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/PdfDocument.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;

// Objects 1 and 2 are the catalog and the page tree; the pages and what they draw follow.
std::vector<std::string> Document(const std::vector<std::string>& pagesAndResources, int pageCount) {
    std::string kids;
    for (int i = 0; i < pageCount; ++i) kids += std::to_string(3 + i) + " 0 R ";
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>",
                                        "<< /Type /Pages /Count " + std::to_string(pageCount) + " /Kids [" + kids + "] >>"};
    objects.insert(objects.end(), pagesAndResources.begin(), pagesAndResources.end());
    return objects;
}

std::string Page(const std::string& contents, const std::string& resources = "<< >>") {
    return "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 50 50] /Contents " + contents + " /Resources " + resources +
           " >>";
}

}  // namespace

TEST(PdfPageWeight, FormsAndLongerContentWeighMore) {
    // Page 1: a short content stream. Page 2: a long one. Page 3: a short one drawing a form
    // that draws 40 forms of its own. Page 4: two content streams whose lengths add up. Page 5:
    // page 1's content with a hundred links, each read (and its destination looked up) with it.
    std::string longContent;
    while (longContent.size() < 20000) longContent += "0 0 1 rg 1 1 10 10 re f\n";
    std::string manyForms = "<< /XObject << ";
    for (int i = 0; i < 40; ++i) manyForms += "/F" + std::to_string(i) + " 13 0 R ";
    manyForms += ">> >>";
    std::string links;
    for (int i = 0; i < 100; ++i)
        links += "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /Dest [3 0 R /XYZ 0 " + std::to_string(i) + " 0] >> ";
    const std::vector<std::string> objects = Document(
        {Page("8 0 R"), Page("9 0 R"), Page("10 0 R", "<< /XObject << /X 11 0 R >> >>"), Page("[8 0 R 9 0 R]"),
         Page("8 0 R /Annots [" + links + "]"),
         testpdf::RawStream("1 0 0 rg 0 0 50 50 re f"),  // 8
         testpdf::RawStream(longContent),                // 9
         testpdf::RawStream("/X Do"),                    // 10
         testpdf::RawStream("/F0 Do", "/Type /XObject /Subtype /Form /BBox [0 0 50 50] /Resources " + manyForms),  // 11
         "<< >>",                                                                                                   // 12
         testpdf::RawStream("0 0 5 5 re f", "/Type /XObject /Subtype /Form /BBox [0 0 50 50]")},                   // 13
        5);
    // The page tree lists objects 3 to 7 as its pages.
    testpdf::TempDir dir;
    const fs::path pdf = testpdf::WriteRaw(dir / "weights.pdf", objects);
    const auto doc = platform::PdfDocument::Open(pdf);
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->PageCount(), 5);
    const std::size_t shortPage = doc->PageWeight(0), longPage = doc->PageWeight(1), formPage = doc->PageWeight(2),
                      twoStreams = doc->PageWeight(3), linksPage = doc->PageWeight(4);
    EXPECT_GT(shortPage, 0u);
    EXPECT_GT(longPage, 10 * shortPage);
    EXPECT_GT(formPage, longPage);
    EXPECT_EQ(twoStreams, shortPage + longPage);
    EXPECT_GT(linksPage, 10 * shortPage);
    EXPECT_EQ(doc->PageWeight(5), 0u) << "no such page";
    EXPECT_EQ(doc->PageWeight(-1), 0u) << "no such page";
}

TEST(PdfPageWeight, PagesDrawAfterTheirReadersWereDropped) {
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages.assign(2, testpdf::Page{});
    const fs::path pdf = testpdf::Write(dir / "two.pdf", o);
    const auto doc = platform::PdfDocument::Open(pdf);
    ASSERT_TRUE(doc);
    platform::PdfDocument::RenderRequest request;
    request.width = request.height = 10;
    request.scale = 0.1f;
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(doc->RenderPage(request)) << "round " << round;
        doc->DropReaders();
    }
    // A page in progress keeps its reader through a drop on another thread; the page draws,
    // and its reader goes when the page gives it back.
    auto page = doc->PreparePage(request);
    ASSERT_TRUE(page);
    std::thread dropping([&doc] { doc->DropReaders(); });
    std::vector<std::uint8_t> pixels(10 * 10 * 3);
    EXPECT_TRUE(page->DrawRows(0, 10, pixels.data(), 30));
    page.reset();
    dropping.join();
    EXPECT_TRUE(doc->RenderPage(request));
}
