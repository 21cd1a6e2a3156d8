// Real PDFs: every corpus file converts, and our pixels are those of `mutool draw`, which
// draws with the same rasteriser.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "support/ConversionSupport.h"
#include "engine/ImageConversion.h"
#include "support/ImageReader.h"
#include "support/TestPdf.h"

using namespace conversiontest;


TEST(CorpusConversion, EveryFileConvertsInEveryWriter) {
    const std::vector<fs::path> corpus = testpdf::CorpusPdfs();
    ASSERT_FALSE(corpus.empty());
    // Each file through another writer and colour model, at a low resolution.
    const std::pair<int, std::int32_t> settings[] = {
        {kOutputPNG, kColorRGB},  {kOutputJPEG, kColorCMYK},        {kOutputTIFF, kColorGray},
        {kOutputGIF, kColorRGB},  {kOutputMultiPageTIFF, kColorRGB}, {kOutputBMP, kColorRGB},
        {kOutputPDF, kColorCMYK}, {kOutputJPEG2000, kColorGray},     {kOutputTIFFCMYK, kColorRGB},
        {kOutputPNG, kColorGray}, {kOutputJPEG, kColorRGB},
    };
    testpdf::TempDir dir;
    std::size_t n = 0;
    for (const fs::path& pdf : corpus) {
        const auto [type, model] = settings[n % std::size(settings)];
        const fs::path out = dir / std::to_string(n++);
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, type, 24);
        r.conversionOptions.colorModel = model;
        r.conversionOptions.compressionQuality = 0.7;
        EXPECT_EQ(ConvertPDFToImages(&r), 1) << pdf.filename() << " as type " << type;
        EXPECT_FALSE(Names(out).empty()) << pdf.filename();
        for (const std::string& name : Names(out)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    }
}

TEST(CorpusConversion, PixelsAreThoseOfMutoolDraw) {
    struct Case {
        const char* file;
        int page;
        std::vector<long> dpis;
    };
    const Case cases[] = {
        {"GeoTopo-komprimiert.pdf", 1, {72, 150, 300}},
        {"GeoTopo-komprimiert.pdf", 23, {72, 300}},
        {"GeoTopo-komprimiert.pdf", 35, {300}},
        {"GeoTopo-komprimiert.pdf", 43, {150, 300}},
        {"pdflatex-image.pdf", 1, {72, 150, 300}},
        {"grayscale-image.pdf", 1, {72}},
        {"inline-image.pdf", 1, {72, 150}},
        {"annotated_pdf.pdf", 1, {72}},
        {"libreoffice-form.pdf", 1, {72}},
        {"imagemagick-CCITTFaxDecode.pdf", 1, {72}},
    };
    testpdf::TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        const fs::path pdf = testpdf::CorpusDir() / c.file;
        for (long dpi : c.dpis) {
            const std::string what = std::string(c.file) + " page " + std::to_string(c.page) + " at " +
                                     std::to_string(dpi) + " dpi";
            const fs::path out = dir / std::to_string(n++);
            fs::create_directory(out);
            ImageConversion r = Record(pdf, out, kOutputPNG, dpi);
            r.conversionOptions.pageRangeType = kPageRangeSingle;
            r.conversionOptions.startPage = c.page;
            r.outputBaseName = "ours";
            ASSERT_EQ(ConvertPDFToImages(&r), 1) << what;
            const std::vector<std::string> names = Names(out);
            ASSERT_EQ(names.size(), 1u) << what;
            EXPECT_TRUE(SameAsMutoolDraw(out / names[0], pdf, c.page, dpi)) << what;
        }
    }
}

TEST(CorpusConversion, MultiPageTiffPagesAreThoseOfMutoolDraw) {
    // The pages are drawn and compressed on the workers and written in page order.
    const fs::path pdf = testpdf::CorpusDir() / "GeoTopo-komprimiert.pdf";
    testpdf::TempDir dir;
    ImageConversion r = Record(pdf, dir.path(), kOutputMultiPageTIFF, 72);
    r.conversionOptions.pageRangeType = kPageRangeFromTo;
    r.conversionOptions.startPage = 21;
    r.conversionOptions.endPage = 24;
    r.outputBaseName = "ours";
    ASSERT_EQ(ConvertPDFToImages(&r), 1);
    for (int frame = 0; frame < 4; ++frame)
        EXPECT_TRUE(SameAsMutoolDraw(dir / "ours.tif", pdf, 21 + frame, 72, 0, frame)) << "page " << 21 + frame;
}

TEST(CorpusConversion, TiffStripsCompressAsWellAsTiffcpsLongStrips) {
    // LZW starts afresh in each strip: short strips make the file larger. Ours must be within
    // 5 % of what tiffcp makes of the same pixels with 64-row strips, in both TIFF writers.
    const fs::path pdf = testpdf::CorpusDir() / "GeoTopo-komprimiert.pdf";
    testpdf::TempDir dir;
    for (const int type : {kOutputTIFF, kOutputMultiPageTIFF}) {
        const fs::path out = dir / std::to_string(type);
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, type, 150);
        r.conversionOptions.pageRangeType = kPageRangeFromTo;
        r.conversionOptions.startPage = 1;
        r.conversionOptions.endPage = 2;
        ASSERT_EQ(ConvertPDFToImages(&r), 1) << type;
        for (const std::string& name : Names(out)) {
            const fs::path ours = out / name;
            const fs::path theirs = dir / ("tiffcp-" + std::to_string(type) + "-" + name);
            const std::string command = "tiffcp -c lzw -r 64 " + testimage::ShellQuote(ours.string()) + " " +
                                        testimage::ShellQuote(theirs.string()) + " 2>/dev/null";
            ASSERT_EQ(std::system(command.c_str()), 0) << name;
            EXPECT_LE(static_cast<double>(fs::file_size(ours)), 1.05 * static_cast<double>(fs::file_size(theirs)))
                << name << " of type " << type;
        }
    }
}
