#include <gtest/gtest.h>

#include <fstream>

#include "engine/ImageConversion.h"
#include "engine/ImageConverter.h"
#include "support/TestPdf.h"

using testpdf::Encryption;
namespace fs = std::filesystem;

namespace {

bool IsEmptyFolder(const fs::path& p) { return fs::is_directory(p) && fs::is_empty(p); }

ImageConversion RecordFor(const fs::path& source, const fs::path& out) {
    ImageConversion r{};
    r.sourceURL = source;
    r.outputFolderURL = out;
    r.conversionOptions.imageType = kOutputPNG;
    r.conversionOptions.colorModel = kColorRGB;
    r.conversionOptions.outputResolution = 10;
    r.conversionOptions.password = "";
    return r;
}

std::string Bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(ConversionEntry, RefusesMissingRecordOrURLs) {
    testpdf::TempDir dir;
    const fs::path pdf = testpdf::Write(dir / "a.pdf", {});
    fs::create_directory(dir / "out");
    EXPECT_EQ(ConvertPDFToImages(nullptr), 0);
    ImageConversion noOutput = RecordFor(pdf, {});
    EXPECT_EQ(ConvertPDFToImages(&noOutput), 0);
    ImageConversion noSource = RecordFor({}, dir / "out");
    EXPECT_EQ(ConvertPDFToImages(&noSource), 0);
    EXPECT_TRUE(IsEmptyFolder(dir / "out"));
}

TEST(ConversionEntry, BadInputFailsAndWritesNothing) {
    testpdf::TempDir dir;
    fs::create_directory(dir / "out");
    fs::create_directory(dir / "folder.pdf");
    std::ofstream(dir / "text.pdf") << "this is not a PDF\n";
    std::ofstream(dir / "empty.pdf");
    const std::string whole = Bytes(testpdf::Write(dir / "whole.pdf", {}));
    std::ofstream(dir / "truncated.pdf", std::ios::binary) << whole.substr(0, 40);
    std::ofstream(dir / "garbage.pdf", std::ios::binary) << "%PDF-1.4\n" << std::string(5000, '\x9c') << "\n%%EOF\n";

    for (const char* name : {"missing.pdf", "folder.pdf", "text.pdf", "empty.pdf", "truncated.pdf", "garbage.pdf"}) {
        const fs::path source = dir / name;
        const bool existed = fs::is_regular_file(source);
        const std::string before = existed ? Bytes(source) : "";
        ImageConversion r = RecordFor(source, dir / "out");
        EXPECT_EQ(ConvertPDFToImages(&r), 0) << name;
        EXPECT_TRUE(IsEmptyFolder(dir / "out")) << name;
        if (existed) {
            EXPECT_EQ(Bytes(source), before) << name;
        }
    }
}

TEST(ConversionEntry, OpensAnyFileThatIsAPdf) {
    testpdf::TempDir dir;
    testpdf::Options twoPages;
    twoPages.pages = {testpdf::Page{}, testpdf::Page{}};
    for (const char* name : {"drawing.ai", "DRAWING.AI", "no-extension", "odd.txt"}) {
        testpdf::Write(dir / name, twoPages);
        ImageConverter c;
        ASSERT_TRUE(c.OpenPDFDocument(dir / name)) << name;
        EXPECT_EQ(c.sourceURL, dir / name);
        EXPECT_FALSE(c.IsDocumentEncrypted());
        EXPECT_FALSE(c.IsDocumentLocked());
        EXPECT_EQ(c.pdfDocument->PageCount(), 2) << name;
    }
    ImageConverter missing;
    EXPECT_FALSE(missing.OpenPDFDocument(dir / "nothing.pdf"));
    EXPECT_EQ(missing.sourceURL, dir / "nothing.pdf");
    EXPECT_FALSE(missing.IsDocumentEncrypted());
    EXPECT_FALSE(missing.UnlockDocument());
}

TEST(ConversionEntry, UnlocksAcrossTheEncryptionTable) {
    testpdf::TempDir dir;
    const std::pair<Encryption, const char*> methods[] = {
        {Encryption::RC4_40, "rc4-40"},
        {Encryption::RC4_128, "rc4-128"},
        {Encryption::AES_128, "aes-128"},
        {Encryption::AES_256, "aes-256"},
    };
    struct Attempt {
        const char* label;
        std::string user, owner;
        std::optional<std::string> tried;
        bool unlocks;
    };
    const Attempt attempts[] = {
        {"user password", "user", "owner", "user", true},
        {"owner password", "user", "owner", "owner", true},
        {"wrong password", "user", "owner", "wrong", false},
        {"empty password", "user", "owner", "", false},
        {"no password", "user", "owner", std::nullopt, false},
        {"empty user password, given empty", "", "owner", "", true},
        {"empty user password, given none", "", "owner", std::nullopt, false},
        {"empty user password, given owner", "", "owner", "owner", true},
    };
    for (const auto& [method, methodName] : methods) {
        for (const Attempt& a : attempts) {
            SCOPED_TRACE(std::string(methodName) + ": " + a.label);
            testpdf::Options o;
            o.encryption = method;
            o.userPassword = a.user;
            o.ownerPassword = a.owner;
            const fs::path pdf = testpdf::Write(dir / (std::string(methodName) + ".pdf"), o);

            ImageConverter c;
            c.SetPassword(a.tried);
            ASSERT_TRUE(c.OpenPDFDocument(pdf));
            EXPECT_TRUE(c.IsDocumentEncrypted());
            EXPECT_EQ(c.UnlockDocument(), a.unlocks);
            EXPECT_EQ(c.IsDocumentLocked(), !a.unlocks);
            if (a.unlocks) {
                EXPECT_EQ(c.pdfDocument->PageCount(), 1);
            }

            if (!a.unlocks) {
                fs::create_directories(dir / "out");
                ImageConversion r = RecordFor(pdf, dir / "out");
                r.conversionOptions.password = a.tried;
                EXPECT_EQ(ConvertPDFToImages(&r), 0);
                EXPECT_TRUE(IsEmptyFolder(dir / "out"));
            }
        }
    }
}

TEST(ConversionEntry, CorpusDocumentsOpenWithTheirPages) {
    const auto pdfs = testpdf::CorpusPdfs();
    ASSERT_FALSE(pdfs.empty()) << "no corpus at " << testpdf::CorpusDir();
    for (const fs::path& pdf : pdfs) {
        ImageConverter c;
        ASSERT_TRUE(c.OpenPDFDocument(pdf)) << pdf;
        EXPECT_FALSE(c.IsDocumentLocked()) << pdf;
        const int pages = c.pdfDocument->PageCount();
        EXPECT_GT(pages, 0) << pdf;
        for (int i = 0; i < pages; ++i) {
            auto g = c.pdfDocument->PageGeometry(i);
            ASSERT_TRUE(g) << pdf << " page " << i;
            EXPECT_TRUE(g->mediaBox.width() > 0 || g->cropBox.width() > 0) << pdf << " page " << i;
        }
        EXPECT_FALSE(c.pdfDocument->PageGeometry(pages));
    }
}

TEST(ConversionEntry, RawBoxesAndRotation) {
    testpdf::TempDir dir;
    testpdf::Options o;
    testpdf::Page rotated;
    rotated.rotate = 90;
    testpdf::Page cropped;
    cropped.cropBox = true;
    cropped.cropRect[0] = 10;
    cropped.cropRect[1] = 20;
    cropped.cropRect[2] = 110;
    cropped.cropRect[3] = 220;
    testpdf::Page noBoxes;
    noBoxes.mediaBox = false;
    o.pages = {rotated, cropped, noBoxes};
    auto doc = platform::PdfDocument::Open(testpdf::Write(dir / "boxes.pdf", o));
    ASSERT_TRUE(doc);
    auto g0 = doc->PageGeometry(0);
    ASSERT_TRUE(g0);
    EXPECT_EQ(g0->rotation, 90);
    EXPECT_FLOAT_EQ(g0->mediaBox.width(), 612);
    EXPECT_FLOAT_EQ(g0->cropBox.width(), 0);  // no crop box written
    auto g1 = doc->PageGeometry(1);
    ASSERT_TRUE(g1);
    EXPECT_FLOAT_EQ(g1->cropBox.x0, 10);
    EXPECT_FLOAT_EQ(g1->cropBox.width(), 100);
    EXPECT_FLOAT_EQ(g1->cropBox.height(), 200);
    auto g2 = doc->PageGeometry(2);
    ASSERT_TRUE(g2);
    EXPECT_FLOAT_EQ(g2->mediaBox.width(), 0);
    EXPECT_FLOAT_EQ(g2->cropBox.width(), 0);
}

TEST(ImageConverter, OrientationFromAngle) {
    const std::pair<std::int64_t, int> cases[] = {{0, 1},    {360, 1}, {90, 6},   {-270, 6},
                                                  {180, 3},  {-180, 3}, {270, 8}, {-90, 8}};
    for (const auto& [angle, expected] : cases) {
        ImageConverter c;
        c.SetOrientationFromAngle(angle);
        EXPECT_EQ(c.orientation, expected) << angle;
    }
    ImageConverter c;
    c.SetOrientation(3);
    c.SetOrientationFromAngle(45);
    EXPECT_EQ(c.orientation, 3);
}

TEST(ImageConverter, DestructorRemovesATemporarySource) {
    testpdf::TempDir dir;
    std::ofstream(dir / "decoded.tif") << "x";
    std::ofstream(dir / "kept.tif") << "x";
    {
        ImageConverter c;
        c.sourceURL = dir / "decoded.tif";
        c.sourceIsTemporary = 1;
    }
    {
        ImageConverter c;
        c.sourceURL = dir / "kept.tif";
    }
    EXPECT_FALSE(fs::exists(dir / "decoded.tif"));
    EXPECT_TRUE(fs::exists(dir / "kept.tif"));
}
