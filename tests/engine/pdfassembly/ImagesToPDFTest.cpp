// Images become PDFs: pages checked with qpdf, poppler's pdfimages and MuPDF's mutool draw,
// pictures made and compared with Pillow.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "engine/pdfassembly/AssemblySupport.h"
#include "engine/pdfassembly/PDFAssembly.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

namespace fs = std::filesystem;
using assemblytest::PdfInfo;
using assemblytest::QpdfCheckClean;
using assemblytest::ReadFile;
using assemblytest::RecordingTarget;
using assemblytest::WriteFile;
using testimage::RunCommand;
using testimage::ShellQuote;

namespace {

// A picture of four coloured quarters, made by Pillow.
fs::path MakePicture(const fs::path& file, int width, int height, int dpi, const char* mode = "RGB") {
    std::ostringstream script;
    script << "from PIL import Image, ImageDraw\n"
           << "im = Image.new('RGB', (" << width << ", " << height << "), (255, 255, 255))\n"
           << "d = ImageDraw.Draw(im)\n"
           << "w, h = im.size\n"
           << "d.rectangle([0, 0, w // 2 - 1, h // 2 - 1], fill=(200, 30, 30))\n"
           << "d.rectangle([w // 2, 0, w - 1, h // 2 - 1], fill=(30, 160, 40))\n"
           << "d.rectangle([0, h // 2, w // 2 - 1, h - 1], fill=(20, 40, 190))\n"
           << "d.rectangle([w // 2, h // 2, w - 1, h - 1], fill=(240, 220, 30))\n"
           << "im = im.convert('" << mode << "')\n"
           << "im.save('" << file.string() << "', dpi=(" << dpi << ", " << dpi << "))\n";
    EXPECT_EQ(RunCommand("/usr/bin/python3 -c " + ShellQuote(script.str())), 0);
    return file;
}

ImagesToPDFConversion Record(const std::vector<fs::path>& files, const fs::path& destination, bool combine) {
    ImagesToPDFConversion record;
    for (const fs::path& file : files) record.fileList.push_back(AssemblyFileEntry{file, std::nullopt});
    record.destinationURL = destination;
    record.combineIntoOne = combine ? 1 : 0;
    record.compressionQuality = 0.9;
    record.paperWidth = 612;
    record.paperHeight = 792;
    return record;
}

// pdfimages -list: one line per image, its columns split.
std::vector<std::vector<std::string>> ImageList(const fs::path& pdf) {
    std::string out;
    RunCommand("pdfimages -list " + ShellQuote(pdf.string()), &out);
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(out);
    std::string line;
    std::getline(in, line);
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream columns(line);
        std::vector<std::string> row;
        for (std::string c; columns >> c;) row.push_back(c);
        if (row.size() >= 14) rows.push_back(row);
    }
    return rows;
}

// Columns of pdfimages -list.
enum Column { kPage = 0, kType = 2, kWidth = 3, kHeight = 4, kColor = 5, kComponents = 6, kEncoding = 8, kXppi = 12 };

// The page drawn by mutool at 72 dpi against the picture scaled by Pillow to the box at (x, y):
// the mean difference of the samples (in 1/10), -1 when something could not be read.
int PageDifference(const fs::path& pdf, int page, const fs::path& picture, int x, int y, int w, int h) {
    const fs::path png = pdf.parent_path() / "drawn.png";
    if (RunCommand("mutool draw -q -r 72 -c rgb -o " + ShellQuote(png.string()) + " " + ShellQuote(pdf.string()) +
                   " " + std::to_string(page)) != 0)
        return -1;
    std::ostringstream script;
    script << "from PIL import Image, ImageChops\n"
           << "a = Image.open('" << png.string() << "').convert('RGB')\n"
           << "b = Image.open('" << picture.string() << "').convert('RGB').resize((" << w << ", " << h << "))\n"
           << "a = a.crop((" << x << ", " << y << ", " << x + w << ", " << y + h << "))\n"
           << "d = ImageChops.difference(a, b).getdata()\n"
           << "print(int(10 * sum(sum(p) for p in d) / (3 * len(d))))\n";
    std::string out;
    if (RunCommand("/usr/bin/python3 -c " + ShellQuote(script.str()), &out) != 0) return -1;
    return std::atoi(out.c_str());
}

TEST(ImagesToPDF, EncodingsAreEmbeddedAndPagesDrawTheirPictures) {
    testpdf::TempDir dir;
    const fs::path picture = MakePicture(dir / "quarters.png", 120, 80, 72);
    struct Case {
        std::int32_t type;
        const char* encoding;
        int tolerance;
    };
    for (const Case& c : {Case{kOutputJPEG, "jpeg", 30}, Case{kOutputPNG, "image", 1}, Case{kOutputTIFF, "image", 1},
                          Case{kOutputJPEG2000, "jpx", 30}}) {
        SCOPED_TRACE(c.encoding);
        ImagesToPDFConversion record = Record({picture}, dir / "one.pdf", true);
        record.imageType = c.type;
        ASSERT_EQ(ConvertImagesToPDF(&record), 1);
        EXPECT_TRUE(QpdfCheckClean(dir / "one.pdf"));
        // Pillow stores 72 dpi as 2835 pixels a metre.
        double width = 0, height = 0;
        ASSERT_EQ(std::sscanf(PdfInfo(dir / "one.pdf", "Page size").c_str(), "%lf x %lf", &width, &height), 2);
        EXPECT_NEAR(width, 120, 0.05);
        EXPECT_NEAR(height, 80, 0.05);
        const auto images = ImageList(dir / "one.pdf");
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(images[0][kEncoding], c.encoding);
        EXPECT_EQ(images[0][kWidth], "120");
        EXPECT_EQ(images[0][kHeight], "80");
        EXPECT_EQ(images[0][kXppi], "72");
        const int difference = PageDifference(dir / "one.pdf", 1, picture, 0, 0, 120, 80);
        EXPECT_GE(difference, 0);
        EXPECT_LE(difference, c.tolerance);
    }
}

TEST(ImagesToPDF, PaperPagesCentreThePictureInThePrintableArea) {
    testpdf::TempDir dir;
    // 144 x 72 points at 100 dpi; a second one larger than the printable area.
    const fs::path small = MakePicture(dir / "small.png", 200, 100, 100);
    const fs::path large = MakePicture(dir / "large.png", 1000, 500, 72);
    ImagesToPDFConversion record = Record({small, large}, dir / "paper.pdf", true);
    record.imageType = kOutputPNG;
    record.pageSizeMode = kPageSizePaper;
    record.paperWidth = 400;
    record.paperHeight = 300;
    record.leftMargin = 40;
    record.rightMargin = 60;
    record.topMargin = 20;
    record.bottomMargin = 30;
    ASSERT_EQ(ConvertImagesToPDF(&record), 1);
    EXPECT_TRUE(QpdfCheckClean(dir / "paper.pdf"));
    EXPECT_EQ(PdfInfo(dir / "paper.pdf", "Pages"), "2");
    EXPECT_EQ(PdfInfo(dir / "paper.pdf", "Page size"), "400 x 300 pts");
    // The printable area is 300 x 250 at (40, 20) from the top-left corner.
    EXPECT_LE(PageDifference(dir / "paper.pdf", 1, small, 40 + 78, 20 + 89, 144, 72), 20);
    // 1000 x 500 points shrunk to 300 x 150, centred.
    EXPECT_LE(PageDifference(dir / "paper.pdf", 2, large, 40, 20 + 50, 300, 150), 20);

    // Landscape turns the paper.
    record.paperOrientation = kPaperLandscape;
    ASSERT_EQ(ConvertImagesToPDF(&record), 1);
    EXPECT_EQ(PdfInfo(dir / "paper.pdf", "Page size"), "300 x 400 pts");
}

TEST(ImagesToPDF, CombinedModeSkipsAFailingPictureAndCancelWritesNothing) {
    testpdf::TempDir dir;
    const fs::path a = MakePicture(dir / "a.jpg", 64, 48, 72);
    WriteFile(dir / "broken.jpg", "not a picture at all");
    const fs::path c = MakePicture(dir / "c.png", 32, 32, 72);
    RecordingTarget target;
    ImagesToPDFConversion record = Record({a, dir / "broken.jpg", c}, dir / "all.pdf", true);
    record.progressTarget = &target;
    record.progressSelector = &ProgressTarget::UpdatePageProgressStatus;
    ASSERT_EQ(ConvertImagesToPDF(&record), 1);
    EXPECT_EQ(PdfInfo(dir / "all.pdf", "Pages"), "2");
    EXPECT_TRUE(QpdfCheckClean(dir / "all.pdf"));
    EXPECT_EQ(target.statuses, (std::vector<long>{3, 3, 3, 6, 7}));

    // A document with pages answers with its write; without any, with the last picture's outcome.
    ImagesToPDFConversion last = Record({a, dir / "broken.jpg"}, dir / "last.pdf", true);
    EXPECT_EQ(ConvertImagesToPDF(&last), 1);
    EXPECT_EQ(PdfInfo(dir / "last.pdf", "Pages"), "1");
    ImagesToPDFConversion none = Record({dir / "broken.jpg"}, dir / "none.pdf", true);
    EXPECT_EQ(ConvertImagesToPDF(&none), 0);
    EXPECT_FALSE(fs::exists(dir / "none.pdf"));

    RecordingTarget cancelling;
    cancelling.cancelAfter = 2;
    record.progressTarget = &cancelling;
    record.destinationURL = dir / "cancelled.pdf";
    EXPECT_EQ(ConvertImagesToPDF(&record), 0);
    EXPECT_FALSE(fs::exists(dir / "cancelled.pdf"));
    EXPECT_EQ(cancelling.statuses, (std::vector<long>{3, 3}));

    // A folder at the target is refused and left as it was.
    fs::create_directory(dir / "folder.pdf");
    WriteFile(dir / "folder.pdf" / "inside", "kept");
    ImagesToPDFConversion intoFolder = Record({a}, dir / "folder.pdf", true);
    EXPECT_EQ(ConvertImagesToPDF(&intoFolder), 0);
    EXPECT_EQ(ReadFile(dir / "folder.pdf" / "inside"), "kept");
}

TEST(ImagesToPDF, OnePerImageTakesFreeNamesAndWritesWithTheOptions) {
    testpdf::TempDir dir;
    const fs::path a = MakePicture(dir / "a.jpg", 40, 30, 72);
    fs::create_directory(dir / "out");
    ImagesToPDFConversion record = Record({a, a}, dir / "out", false);
    record.writeOptions.userPassword = "open";
    record.writeOptions.ownerPassword = "boss";
    record.writeOptions.allowsCopying = false;
    ASSERT_EQ(ConvertImagesToPDF(&record), 1);
    for (const char* name : {"a.pdf", "a 1.pdf"}) {
        SCOPED_TRACE(name);
        const fs::path pdf = dir / "out" / name;
        std::string out;
        RunCommand("qpdf --show-encryption --password=open " + ShellQuote(pdf.string()), &out);
        EXPECT_NE(out.find("R = 6"), std::string::npos) << out;
        EXPECT_NE(out.find("extract for any purpose: not allowed"), std::string::npos) << out;
        EXPECT_TRUE(QpdfCheckClean(pdf, "open"));
    }
    EXPECT_FALSE(fs::exists(dir / "out" / "a 2.pdf"));

    // No destination: nothing is tried.
    ImagesToPDFConversion nowhere = Record({a}, {}, false);
    EXPECT_EQ(ConvertImagesToPDF(&nowhere), 0);
}

TEST(ImagesToPDF, EmptyListsBadPaperAndBadScales) {
    testpdf::TempDir dir;
    const fs::path a = MakePicture(dir / "a.png", 20, 20, 72);
    for (bool combine : {false, true}) {
        ImagesToPDFConversion empty = Record({}, dir / "empty.pdf", combine);
        empty.fileList.push_back(std::nullopt);
        EXPECT_EQ(ConvertImagesToPDF(&empty), 1);
        EXPECT_FALSE(fs::exists(dir / "empty.pdf"));
    }
    EXPECT_EQ(ConvertImagesToPDF(nullptr), 0);

    struct Case {
        const char* name;
        std::int32_t mode;
        double left, right;
        std::int64_t percent;
        double width;
    };
    const Case cases[] = {
        {"margins wider than the paper", kPageSizePaperPrintable, 400, 300, 100, 612},
        {"margins wider than the paper, own resolution", kPageSizePaper, 306, 306, 100, 612},
        {"no paper width", kPageSizePaper, 0, 0, 100, 0},
        {"paper width not a number", kPageSizePaper, 0, 0, 100, std::nan("")},
        {"negative paper width", kPageSizePaper, 0, 0, 100, -612},
        {"a scale of 0", kPageSizeImage, 0, 0, 0, 612},
        {"a negative scale", kPageSizeImage, 0, 0, -50, 612},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImagesToPDFConverter converter;
        converter.SetPageOptions(kPaperPortrait, kOutputPNG, kColorRGB, c.mode, c.percent, c.width, 792, c.left,
                                 c.right, 0, 0, 0.8, c.mode == kPageSizePaperPrintable ? 150 : 0, PDFWriteOptions{});
        platform::PdfBuilder document;
        EXPECT_FALSE(converter.AddImagePage(a, &document, 0, std::nullopt));
        EXPECT_EQ(document.PageCount(), 0);
    }
}

TEST(ImagesToPDF, CapScaleAndAngleTable) {
    testpdf::TempDir dir;
    // 600 x 300 pixels at 300 dpi: 144 x 72 points; and 1000 x 500 at 72 dpi.
    const fs::path fine = MakePicture(dir / "fine.png", 600, 300, 300);
    const fs::path large = MakePicture(dir / "large.png", 1000, 500, 72);
    struct Case {
        const char* name;
        fs::path picture;
        std::int32_t mode;
        std::int64_t cap;
        std::int64_t percent;
        std::optional<double> angle;
        const char* width;   // of the embedded picture, in pixels
        const char* height;
        const char* ppi;
    };
    const Case cases[] = {
        {"a 300 dpi picture capped at 150", fine, kPageSizePaper, 150, 100, std::nullopt, "300", "150", "150"},
        {"capped to fit the printable area", large, kPageSizePaperPrintable, 150, 100, std::nullopt, "625", "312", "150"},
        // Neither capped nor fitted: written without a resolution, which is 72 dpi.
        {"under the cap", fine, kPageSizeImage, 600, 100, std::nullopt, "600", "300", "72"},
        {"half the size", large, kPageSizeImage, 0, 50, std::nullopt, "500", "250", "72"},
        {"never enlarged", large, kPageSizeImage, 0, 200, std::nullopt, "1000", "500", "72"},
        {"a quarter turn", large, kPageSizeImage, 0, 100, 90.0, "500", "1000", "72"},
        {"-90 turns the other way", large, kPageSizeImage, 0, 100, -90.0, "500", "1000", "72"},
        {"300 is no angle", large, kPageSizeImage, 0, 100, 300.0, "1000", "500", "72"},
        {"45 turns nothing", large, kPageSizeImage, 0, 100, 45.0, "1000", "500", "72"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImagesToPDFConversion record = Record({c.picture}, dir / "table.pdf", true);
        record.fileList[0]->angle = c.angle;
        record.imageType = kOutputPNG;
        record.pageSizeMode = c.mode;
        record.maximumResolution = c.cap;
        record.scalePercent = c.percent;
        record.paperWidth = 400;
        record.paperHeight = 300;
        record.leftMargin = 50;
        record.rightMargin = 50;
        record.topMargin = 25;
        record.bottomMargin = 25;
        ASSERT_EQ(ConvertImagesToPDF(&record), 1);
        const auto images = ImageList(dir / "table.pdf");
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(images[0][kWidth], c.width);
        EXPECT_EQ(images[0][kHeight], c.height);
        EXPECT_EQ(images[0][kXppi], c.ppi);
    }
    // The turned picture is the source turned clockwise: its top-left quarter (red) goes to the
    // top right.
    ImagesToPDFConversion turned = Record({large}, dir / "turned.pdf", true);
    turned.fileList[0]->angle = 90.0;
    turned.imageType = kOutputPNG;
    ASSERT_EQ(ConvertImagesToPDF(&turned), 1);
    ASSERT_EQ(RunCommand("mutool draw -q -r 72 -o " + ShellQuote((dir / "turned.png").string()) + " " +
                         ShellQuote((dir / "turned.pdf").string()) + " 1"),
              0);
    std::string out;
    RunCommand("/usr/bin/python3 -c " + ShellQuote("from PIL import Image; im = Image.open('" +
                                                    (dir / "turned.png").string() +
                                                    "').convert('RGB'); print(im.size, im.getpixel((400, 100)))"),
               &out);
    EXPECT_EQ(out, "(500, 1000) (200, 30, 30)\n");
}

TEST(ImagesToPDF, AnglesOutsideTheRangeAreNone) {
    const std::pair<std::optional<double>, std::int64_t> cases[] = {
        {std::nullopt, 0}, {90.0, 90}, {-90.0, -90}, {270.0, 270}, {-270.0, -270},
        {300.0, 0},        {-300.0, 0}, {45.0, 45},  {std::nan(""), 0},
    };
    for (const auto& [angle, expected] : cases) EXPECT_EQ(ImagesToPDFConverter::EntryAngle(angle), expected);
}

}  // namespace
