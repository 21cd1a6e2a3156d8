// Mixed files become PDFs, one each or merged with an outline: read back with mutool, qpdf and
// poppler.

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "engine/pdfassembly/AssemblySupport.h"
#include "engine/pdfassembly/PDFAssembly.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

namespace fs = std::filesystem;
using assemblytest::HasInOrder;
using assemblytest::PdfInfo;
using assemblytest::PdfWords;
using assemblytest::QpdfCheckClean;
using assemblytest::ReadFile;
using assemblytest::RecordingTarget;
using assemblytest::WriteFile;
using testimage::RunCommand;
using testimage::ShellQuote;

namespace {

FilesToPDFEntry Entry(std::int64_t type, const fs::path& file, std::optional<double> angle = std::nullopt,
                      std::optional<std::string> password = std::nullopt) {
    return FilesToPDFEntry{type, file, std::move(password), angle};
}

FilesToPDFConversion Record(std::vector<FilesToPDFEntry> entries, const fs::path& destination, bool merge) {
    FilesToPDFConversion record;
    record.fileList.emplace();
    for (FilesToPDFEntry& e : entries) record.fileList->push_back(std::move(e));
    record.destinationURL = destination;
    record.combineIntoOne = merge ? 1 : 0;
    return record;
}

// Pages of the given sizes; the /Rotate of the page tree's root when `inherited` is set.
struct PdfSpec {
    int pages = 1;
    int rotate = 0;
    bool inherited = false;
    const char* cropBox = nullptr;
    std::vector<std::string> words;  // one a page
};

fs::path WritePdf(const fs::path& file, const PdfSpec& spec) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper helper(pdf);
    for (int i = 0; i < spec.pages; ++i) {
        QPDFObjectHandle page = QPDFObjectHandle::parse(
            "<< /Type /Page /MediaBox [0 0 300 400] /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 "
            "/BaseFont /Helvetica >> >> >> >>");
        if (spec.cropBox) page.replaceKey("/CropBox", QPDFObjectHandle::parse(spec.cropBox));
        if (spec.rotate && !spec.inherited) page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(spec.rotate));
        const std::string word = i < static_cast<int>(spec.words.size()) ? spec.words[i] : "Page" + std::to_string(i + 1);
        page.replaceKey("/Contents",
                        QPDFObjectHandle::newStream(&pdf, "BT /F1 18 Tf 40 300 Td (" + word + ") Tj ET"));
        helper.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    if (spec.inherited) pdf.getRoot().getKey("/Pages").replaceKey("/Rotate", QPDFObjectHandle::newInteger(spec.rotate));
    QPDFWriter writer(pdf, file.c_str());
    writer.write();
    return file;
}

// `pdfinfo`'s rotation of each page.
std::vector<int> Rotations(const fs::path& pdf) {
    std::string out;
    RunCommand("pdfinfo -f 1 -l 999 " + ShellQuote(pdf.string()), &out);
    std::vector<int> rotations;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        int page = 0, rotation = 0;
        if (std::sscanf(line.c_str(), "Page %d rot: %d", &page, &rotation) == 2) rotations.push_back(rotation);
    }
    return rotations;
}

TEST(FilesToPDF, PdfRotationTable) {
    struct Case {
        const char* name;
        int rotate;
        bool inherited;
        std::optional<double> angle;
        int expected;
    };
    const Case cases[] = {
        {"270 + 180", 270, false, 180.0, 90}, {"360 is none", 90, false, 360.0, 90},
        {"45 is none", 0, false, 45.0, 0},    {"-90", 0, false, -90.0, 270},
        {"inherited", 90, true, 90.0, 180},   {"no angle", 180, true, std::nullopt, 180},
    };
    testpdf::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PdfSpec spec;
        spec.pages = 2;
        spec.rotate = c.rotate;
        spec.inherited = c.inherited;
        const fs::path source = WritePdf(dir / "turned.pdf", spec);
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
        FilesToPDFConversion each = Record({Entry(kFileTypePDF, source, c.angle)}, dir / "out", false);
        ASSERT_EQ(ConvertFilesToPDF(&each), 1);
        EXPECT_EQ(Rotations(dir / "out" / "turned.pdf"), (std::vector<int>{c.expected, c.expected}));
        FilesToPDFConversion merge = Record({Entry(kFileTypePDF, source, c.angle)}, dir / "merged.pdf", true);
        ASSERT_EQ(ConvertFilesToPDF(&merge), 1);
        EXPECT_EQ(Rotations(dir / "merged.pdf"), (std::vector<int>{c.expected, c.expected}));
        EXPECT_TRUE(QpdfCheckClean(dir / "merged.pdf"));
    }
}

fs::path Locked(const fs::path& dir, const char* name, const char* restrictions = "") {
    const fs::path plain = WritePdf(dir / (std::string(name) + "-plain.pdf"), PdfSpec{});
    const fs::path locked = dir / name;
    EXPECT_EQ(RunCommand("qpdf --encrypt user owner 256 " + std::string(restrictions) + " -- " +
                         ShellQuote(plain.string()) + " " + ShellQuote(locked.string())),
              0);
    return locked;
}

TEST(FilesToPDF, OnePerFileCopiesWhatItCannotRewrite) {
    testpdf::TempDir dir;
    const fs::path locked = Locked(dir.path(), "locked.pdf");
    const fs::path unprintable = Locked(dir.path(), "unprintable.pdf", "--print=none");
    WriteFile(dir / "broken.pdf", "%PDF-1.4 nothing else");
    fs::create_directory(dir / "out");
    struct Case {
        const char* name;
        FilesToPDFEntry entry;
        std::uint8_t result;
        bool copied;  // the output is the source, byte for byte
    };
    const Case cases[] = {
        {"wrong password", Entry(kFileTypePDF, locked, 90.0, "wrong"), 1, true},
        {"no password", Entry(kFileTypePDF, locked, 90.0), 1, true},
        {"user password, printing denied", Entry(kFileTypePDF, unprintable, 90.0, "user"), 1, true},
        {"owner password, printing denied", Entry(kFileTypePDF, unprintable, 90.0, "owner"), 1, false},
        {"right password", Entry(kFileTypePDF, locked, 90.0, "user"), 1, false},
        {"not a PDF", Entry(kFileTypePDF, dir / "broken.pdf"), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path output = dir / "out" / c.entry.filePath->filename();
        fs::remove(output);
        FilesToPDFConversion record = Record({c.entry}, dir / "out", false);
        EXPECT_EQ(ConvertFilesToPDF(&record), c.result);
        if (c.result == 0) {
            EXPECT_FALSE(fs::exists(output));
            continue;
        }
        EXPECT_EQ(ReadFile(output) == ReadFile(*c.entry.filePath), c.copied);
        if (!c.copied) {
            // Rewritten: turned, and without the source's encryption.
            EXPECT_EQ(Rotations(output), std::vector<int>{90});
            EXPECT_TRUE(QpdfCheckClean(output));
        }
    }

    // An unknown kind does nothing and leaves the result; a missing list or destination fails.
    FilesToPDFConversion unknown = Record({Entry(4, locked)}, dir / "out2", false);
    EXPECT_EQ(ConvertFilesToPDF(&unknown), 1);
    EXPECT_FALSE(fs::exists(dir / "out2"));
    FilesToPDFConversion noList = Record({}, dir / "out", false);
    noList.fileList.reset();
    EXPECT_EQ(ConvertFilesToPDF(&noList), 0);
    FilesToPDFConversion noDestination = Record({Entry(kFileTypePDF, locked)}, {}, true);
    EXPECT_EQ(ConvertFilesToPDF(&noDestination), 0);
    EXPECT_EQ(ConvertFilesToPDF(nullptr), 0);
}

// mutool's outline lines, indentation kept, the zoom part of each address dropped.
std::vector<std::string> Outline(const fs::path& pdf) {
    std::string out;
    RunCommand("mutool show " + ShellQuote(pdf.string()) + " outline", &out);
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("warning:", 0) == 0) continue;  // mutool's word on an entry without destination
        const std::size_t zoom = line.find("&zoom");
        if (zoom != std::string::npos) line.erase(zoom);
        lines.push_back(line);
    }
    return lines;
}

TEST(FilesToPDF, MergeKeepsEveryFilesPagesUnderItsOutlineEntry) {
    testpdf::TempDir dir;
    // A PDF with an outline of its own (pdflatex's, three levels, pages 2 to 4 of 4).
    const fs::path outlined = testpdf::CorpusDir() / "pdflatex-outline.pdf";
    // A picture, made by Pillow.
    ASSERT_EQ(RunCommand("/usr/bin/python3 -c " +
                         ShellQuote("from PIL import Image; Image.new('RGB', (50, 40), (10, 120, 200)).save('" +
                                    (dir / "picture.png").string() + "')")),
              0);
    // A text document whose first page is blank.
    WriteFile(dir / "notes.rtf", "{\\rtf1\\ansi \\page Notes text\\par}");
    const fs::path locked = Locked(dir.path(), "locked.pdf");
    FilesToPDFConversion record = Record({Entry(kFileTypePDF, outlined), Entry(kFileTypeImage, dir / "picture.png"),
                                          Entry(kFileTypeText, dir / "notes.rtf"),
                                          Entry(kFileTypePDF, locked, std::nullopt, "wrong")},
                                         dir / "merged.pdf", true);
    RecordingTarget target;
    record.progressTarget = &target;
    record.progressSelector = &ProgressTarget::UpdatePageProgressStatus;
    record.imageType = kOutputPNG;
    ASSERT_EQ(ConvertFilesToPDF(&record), 1);
    EXPECT_EQ(target.statuses, (std::vector<long>{3, 3, 3, 3, 6, 7}));
    std::string out;
    RunCommand("qpdf --show-npages " + ShellQuote((dir / "merged.pdf").string()), &out);
    EXPECT_EQ(out, "6\n");
    EXPECT_TRUE(QpdfCheckClean(dir / "merged.pdf"));
    EXPECT_TRUE(HasInOrder(PdfWords(dir / "merged.pdf"), {"Notes", "text"}));

    std::vector<std::string> source = Outline(outlined);
    std::vector<std::string> expected{"-\t\"pdflatex-outline\"\t#page=1"};
    for (const std::string& line : source) {
        // The source's entries, one level down, on the same pages.
        ASSERT_FALSE(line.empty());
        expected.push_back(line.substr(0, 1) + "\t" + line.substr(1));
    }
    expected.push_back("|\t\"picture\"\t#page=5");
    expected.push_back("|\t\"notes\"\t#page=6");
    const std::vector<std::string> merged = Outline(dir / "merged.pdf");
    EXPECT_EQ(merged, expected) << out;
}

TEST(FilesToPDF, SourceOutlinesAreWalkedOnceAndDanglingDestinationsDropped) {
    testpdf::TempDir dir;
    // Two pages with a crop box; an outline A -> B -> A (a cycle), B pointing at a page that
    // is in no page tree.
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper helper(pdf);
    std::vector<QPDFObjectHandle> pages;
    for (int i = 0; i < 2; ++i) {
        QPDFObjectHandle page = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 300 400] /CropBox [10 20 290 380] >>"));
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, "0 g 50 50 100 100 re f"));
        helper.addPage(QPDFPageObjectHelper(page), false);
        pages.push_back(helper.getAllPages().back().getObjectHandle());
    }
    QPDFObjectHandle orphan = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 9 9] >>"));
    QPDFObjectHandle outlines = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Outlines /Count 2 >>"));
    QPDFObjectHandle a = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Title (A) >>"));
    QPDFObjectHandle b = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Title (B) >>"));
    QPDFObjectHandle destA = QPDFObjectHandle::parse("[null /Fit]");
    destA.setArrayItem(0, pages[1]);
    a.replaceKey("/Dest", destA);
    QPDFObjectHandle destB = QPDFObjectHandle::parse("[null /Fit]");
    destB.setArrayItem(0, orphan);
    b.replaceKey("/Dest", destB);
    a.replaceKey("/Parent", outlines);
    b.replaceKey("/Parent", outlines);
    a.replaceKey("/Next", b);
    b.replaceKey("/Next", a);
    outlines.replaceKey("/First", a);
    outlines.replaceKey("/Last", b);
    pdf.getRoot().replaceKey("/Outlines", outlines);
    const fs::path source = dir / "cyclic.pdf";
    QPDFWriter writer(pdf, source.c_str());
    writer.write();

    FilesToPDFConversion record = Record({Entry(kFileTypePDF, source)}, dir / "merged.pdf", true);
    ASSERT_EQ(ConvertFilesToPDF(&record), 1);
    EXPECT_TRUE(QpdfCheckClean(dir / "merged.pdf"));
    std::string json;
    RunCommand("qpdf --json --json-key=outlines " + ShellQuote((dir / "merged.pdf").string()), &json);
    // The file's entry points at the crop box's top-left corner of the first page.
    json.erase(std::remove_if(json.begin(), json.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }),
               json.end());
    EXPECT_NE(json.find("\"/XYZ\",10,380,null"), std::string::npos) << json;
    // B, whose page is in no page tree, keeps its title and loses its destination.
    EXPECT_NE(json.find("\"dest\":null,\"destpageposfrom1\":null"), std::string::npos) << json;
    EXPECT_EQ(Outline(dir / "merged.pdf"),
              (std::vector<std::string>{"-\t\"cyclic\"\t#page=1", "|\t\t\"A\"\t#page=2&view=Fit", "|\t\t\"B\"\t(null)"}));
    // The page outside the tree was not copied.
    RunCommand("qpdf --show-npages " + ShellQuote((dir / "merged.pdf").string()), &json);
    EXPECT_EQ(json, "2\n");
}

TEST(FilesToPDF, AMergeOfFailuresWritesNothingAndAFolderAtTheTargetIsKept) {
    testpdf::TempDir dir;
    WriteFile(dir / "broken.jpg", "no picture");
    WriteFile(dir / "empty.txt", "");
    const fs::path locked = Locked(dir.path(), "locked.pdf");
    FilesToPDFConversion record = Record({Entry(kFileTypeImage, dir / "broken.jpg"), Entry(kFileTypeText, dir / "empty.txt"),
                                          Entry(kFileTypePDF, locked), Entry(kFileTypePDF, dir / "missing.pdf"),
                                          Entry(7, dir / "empty.txt")},
                                         dir / "merged.pdf", true);
    EXPECT_EQ(ConvertFilesToPDF(&record), 0);
    EXPECT_FALSE(fs::exists(dir / "merged.pdf"));

    fs::create_directory(dir / "folder.pdf");
    WriteFile(dir / "folder.pdf" / "inside", "kept");
    FilesToPDFConversion intoFolder = Record({Entry(kFileTypePDF, WritePdf(dir / "one.pdf", PdfSpec{}))},
                                             dir / "folder.pdf", true);
    intoFolder.writeOptions.userPassword = "pw";
    EXPECT_EQ(ConvertFilesToPDF(&intoFolder), 0);
    EXPECT_EQ(ReadFile(dir / "folder.pdf" / "inside"), "kept");
    intoFolder.destinationURL = dir / "one-merged.pdf";
    ASSERT_EQ(ConvertFilesToPDF(&intoFolder), 1);
    std::string out;
    RunCommand("qpdf --show-encryption --password=pw " + ShellQuote((dir / "one-merged.pdf").string()), &out);
    EXPECT_NE(out.find("R = 6"), std::string::npos) << out;
}

TEST(FilesToPDF, HtmlFilesByName) {
    for (const char* name : {"a.html", "a.HTML", "a.htm", "a.HTM"}) EXPECT_TRUE(IsHTMLFile(name)) << name;
    for (const char* name : {"a.txt", "html", "a.html.pdf", "a"}) EXPECT_FALSE(IsHTMLFile(name)) << name;
}

}  // namespace
