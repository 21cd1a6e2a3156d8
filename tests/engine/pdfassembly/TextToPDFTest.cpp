// Text documents become PDFs: each input kind read back by poppler, the page layout, blank pages,
// the write options, the modes and their failures.

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QTextDocument>
#include <QTextDocumentWriter>

#include <cmath>
#include <functional>
#include <sstream>

#include "engine/pdfassembly/AssemblySupport.h"
#include "engine/pdfassembly/PDFAssembly.h"
#include "engine/pdfassembly/WordFixture.h"
#include "platform/PdfDocument.h"
#include "platform/PdfText.h"
#include "platform/PropertyList.h"
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

TextToPDFConversion Record(std::vector<fs::path> files, const fs::path& destination, bool combine) {
    TextToPDFConversion record;
    for (const fs::path& file : files) record.fileList.push_back(AssemblyFileEntry{file, std::nullopt});
    record.destinationURL = destination;
    record.combineIntoOne = combine ? 1 : 0;
    return record;
}

std::uint8_t ConvertOne(const fs::path& document, const fs::path& pdf) {
    TextToPDFConversion record = Record({document}, pdf, true);
    return ConvertTextDocumentsToPDF(&record);
}

// The words "Alpha Beta Gamma Delta" in the format's own way, with a word the reader must not show.
using FixtureWriter = std::function<fs::path(const fs::path& folder)>;

fs::path WriteOdt(const fs::path& folder) {
    QTextDocument document;
    document.setHtml("<p>Alpha <b>Beta</b></p><p><i>Gamma</i> Delta</p>");
    const fs::path file = folder / "words.odt";
    QTextDocumentWriter writer(QString::fromStdString(file.string()), "odf");
    EXPECT_TRUE(writer.write(&document));
    return file;
}

fs::path WriteDocx(const fs::path& folder) {
    const fs::path file = folder / "words.docx";
    const std::string script =
        "import docx,sys\n"
        "d=docx.Document()\n"
        "p=d.add_paragraph('Alpha ')\n"
        "r=p.add_run('Beta'); r.bold=True\n"
        "p=d.add_paragraph(); r=p.add_run('Gamma'); r.italic=True\n"
        "p.add_run('\\tDelta')\n"
        "d.save(sys.argv[1])\n";
    WriteFile(folder / "make.py", script);
    EXPECT_EQ(RunCommand("/usr/bin/python3 " + ShellQuote((folder / "make.py").string()) + " " +
                         ShellQuote(file.string())),
              0);
    return file;
}

const char* const kRtf =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Helvetica;}{\\f1\\froman Times;}}\n"
    "{\\colortbl;\\red255\\green0\\blue0;}\n"
    "{\\*\\generator Hidden;}{\\info{\\title Secret}}\n"
    "\\f0\\fs24 Alpha {\\b Beta}\\par\n"
    "{\\i\\cf1 Gamma} D\\'e9lta \\u8364?uro{\\*\\unknown Invisible}\\par}";

fs::path WriteWebArchive(const fs::path& folder) {
    platform::PlistDictionary main;
    const std::string html = "<html><body><p>Alpha Beta</p><p>Gamma Delta</p></body></html>";
    main.Set("WebResourceData", platform::PlistData(html.begin(), html.end()));
    main.Set("WebResourceMIMEType", "text/html");
    main.Set("WebResourceTextEncodingName", "UTF-8");
    main.Set("WebResourceURL", "https://example.org/page.html");
    platform::PlistDictionary top;
    top.Set("WebMainResource", main);
    const fs::path file = folder / "words.webarchive";
    WriteFile(file, *platform::SerializePropertyListXML(platform::PlistValue(top)));
    return file;
}

fs::path WriteDoc(const fs::path& folder) {
    const fs::path file = folder / "words.doc";
    EXPECT_TRUE(assemblytest::WriteWordFixture(file, "Alpha Beta\rGamma\x13 HYPERLINK \"x\" \x14 Delta\x15\r"));
    // Word's own readers take it.
    std::string out;
    EXPECT_EQ(RunCommand("catdoc " + ShellQuote(file.string()), &out), 0);
    EXPECT_NE(out.find("Alpha Beta"), std::string::npos) << out;
    return file;
}

struct InputKind {
    const char* name;
    FixtureWriter write;
    std::vector<std::string> words;
    std::vector<std::string> hidden;
};

std::vector<InputKind> InputKinds() {
    const auto file = [](const char* name, std::string bytes) {
        return [name, bytes](const fs::path& folder) {
            WriteFile(folder / name, bytes);
            return folder / name;
        };
    };
    const std::vector<std::string> words{"Alpha", "Beta", "Gamma", "Delta"};
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("Alpha Beta\nGamma Delta")) utf16 += std::string{c, '\0'};
    return {
        {"UTF-8 text", file("words.txt", "Alpha Beta\nGamma Delta\n"), words, {}},
        {"UTF-16 text", file("words.txt", utf16), words, {}},
        {"HTML", file("words.html", "<html><body><h1>Alpha</h1><p>Beta <b>Gamma</b></p><p>Delta</p>"
                                    "<script>Hidden()</script></body></html>"),
         words, {"Hidden()"}},
        {"RTF", file("words.rtf", kRtf), {"Alpha", "Beta", "Gamma", "D\xC3\xA9lta", "\xE2\x82\xACuro"},
         {"Hidden;", "Secret", "Invisible", "?uro"}},
        {"RTFD",
         [](const fs::path& folder) {
             fs::create_directory(folder / "words.rtfd");
             WriteFile(folder / "words.rtfd" / "TXT.rtf", kRtf);
             return folder / "words.rtfd";
         },
         {"Alpha", "Beta", "Gamma"}, {"Secret"}},
        {"ODT", WriteOdt, words, {}},
        {"DOCX", WriteDocx, words, {}},
        {"web archive", WriteWebArchive, words, {}},
        {"DOC", WriteDoc, words, {"HYPERLINK"}},
    };
}

TEST(TextToPDF, EachInputKindGivesItsWordsInOrder) {
    for (const InputKind& kind : InputKinds()) {
        SCOPED_TRACE(kind.name);
        testpdf::TempDir dir;
        const fs::path source = kind.write(dir.path());
        const fs::path pdf = dir / "out.pdf";
        ASSERT_EQ(ConvertOne(source, pdf), 1);
        std::string log;
        EXPECT_TRUE(QpdfCheckClean(pdf, {}, &log)) << log;
        const std::vector<std::string> found = PdfWords(pdf);
        EXPECT_TRUE(HasInOrder(found, kind.words)) << ::testing::PrintToString(found);
        for (const std::string& hidden : kind.hidden)
            EXPECT_EQ(std::find(found.begin(), found.end(), hidden), found.end()) << hidden;
    }
}

// The first word's box as pdftotext -bbox finds it, and every word's text.
struct WordBox {
    std::string word;
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

std::vector<WordBox> WordBoxes(const fs::path& pdf) {
    std::string out;
    RunCommand("pdftotext -q -bbox " + ShellQuote(pdf.string()) + " -", &out);
    std::vector<WordBox> boxes;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        WordBox box;
        char word[256] = {};
        if (std::sscanf(line.c_str(), " <word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\">%255[^<]", &box.xMin,
                        &box.yMin, &box.xMax, &box.yMax, word) == 5) {
            box.word = word;
            boxes.push_back(box);
        }
    }
    return boxes;
}

TEST(TextToPDF, TextStartsAtTheMarginsWithNoPageNumber) {
    testpdf::TempDir dir;
    std::string text;
    for (int i = 0; i < 120; ++i) text += "Line" + std::string(i % 2 ? " odd" : " even") + "\n";
    WriteFile(dir / "long.txt", text);
    struct Case {
        std::int64_t orientation;
        const char* size;
    };
    for (const Case& c : {Case{kPaperPortrait, "612 x 792 pts (letter)"}, Case{kPaperLandscape, "792 x 612 pts (letter)"}}) {
        SCOPED_TRACE(c.orientation);
        TextToPDFConversion record = Record({dir / "long.txt"}, dir / "long.pdf", true);
        record.leftMargin = 50;
        record.topMargin = 40;
        record.paperOrientation = c.orientation;
        ASSERT_EQ(ConvertTextDocumentsToPDF(&record), 1);
        EXPECT_EQ(PdfInfo(dir / "long.pdf", "Page size"), c.size);
        EXPECT_GE(std::stoi(PdfInfo(dir / "long.pdf", "Pages")), 2);
        const std::vector<WordBox> boxes = WordBoxes(dir / "long.pdf");
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.front().word, "Line");
        EXPECT_NEAR(boxes.front().xMin, 50, 1.5);
        EXPECT_NEAR(boxes.front().yMin, 40, 4);
        for (const WordBox& box : boxes) {
            EXPECT_TRUE(box.word == "Line" || box.word == "odd" || box.word == "even") << box.word;
            EXPECT_GE(box.xMin, 49);
        }
    }
}

// A one-page PDF whose content stream is `content`, with Helvetica as /F1.
fs::path PageWith(const fs::path& file, const std::string& content, const std::string& extra = {}) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle page = QPDFObjectHandle::parse(
        "<< /Type /Page /MediaBox [0 0 200 300] /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 "
        "/BaseFont /Helvetica >> >> >> " +
        extra + " >>");
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    QPDFWriter writer(pdf, file.c_str());
    writer.write();
    return file;
}

TEST(TextToPDF, BlankPageTable) {
    struct Case {
        const char* name;
        std::string content;
        std::string extra;
        bool blank;
    };
    const std::string dot = "0.5 g 100 150 1 1 re f";
    const Case cases[] = {
        {"three spaces", "BT /F1 12 Tf 20 200 Td (   ) Tj ET", "", true},
        {"six characters", "BT /F1 12 Tf 20 200 Td 3 Tr (abcdef) Tj ET", "", false},
        {"one grey pixel", dot, "", false},
        {"nothing at all", "", "", true},
        {"white paint", "1 g 0 0 200 300 re f", "", true},
        {"turned, with a dot", dot, "/Rotate 90", false},
        {"turned, blank", "", "/Rotate 90", true},
        {"empty crop box, a dot", dot, "/CropBox [0 0 0 0]", false},
        {"empty crop box, blank", "", "/CropBox [0 0 0 0]", true},
        {"dot outside the crop box", dot, "/CropBox [0 0 50 50]", true},
    };
    testpdf::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = PageWith(dir / "page.pdf", c.content, c.extra);
        auto document = platform::PdfDocument::Open(file);
        auto text = platform::PdfTextReader::Open(file, std::nullopt);
        ASSERT_TRUE(document && text);
        EXPECT_EQ(IsPDFPageBlank(PDFPageRef{document.get(), text.get(), 0}), c.blank);
    }
    EXPECT_FALSE(IsPDFPageBlank(PDFPageRef{}));
}

// Two paragraphs with an empty page between them.
const char* const kRtfWithBlankPage = "{\\rtf1\\ansi First\\page\\page Last\\par}";

TEST(TextToPDF, BlankPagesGoPerDocumentAndStayWhenCombining) {
    testpdf::TempDir dir;
    WriteFile(dir / "gap.rtf", kRtfWithBlankPage);
    fs::create_directory(dir / "out");
    TextToPDFConversion each = Record({dir / "gap.rtf"}, dir / "out", false);
    ASSERT_EQ(ConvertTextDocumentsToPDF(&each), 1);
    EXPECT_EQ(PdfInfo(dir / "out" / "gap.pdf", "Pages"), "2");
    TextToPDFConversion combined = Record({dir / "gap.rtf", dir / "gap.rtf"}, dir / "all.pdf", true);
    ASSERT_EQ(ConvertTextDocumentsToPDF(&combined), 1);
    EXPECT_EQ(PdfInfo(dir / "all.pdf", "Pages"), "6");
    EXPECT_TRUE(HasInOrder(PdfWords(dir / "all.pdf"), {"First", "Last", "First", "Last"}));
}

TEST(TextToPDF, PerDocumentNamesAreFreeAndDocumentsOfBlankPagesFail) {
    testpdf::TempDir dir;
    WriteFile(dir / "a.txt", "Words of a.");
    WriteFile(dir / "empty.txt", "");
    WriteFile(dir / "lines.txt", "\n\n\n");
    fs::create_directory(dir / "out");
    WriteFile(dir / "out" / "a.pdf", "kept");
    TextToPDFConversion record = Record({dir / "a.txt"}, dir / "out", false);
    ASSERT_EQ(ConvertTextDocumentsToPDF(&record), 1);
    EXPECT_EQ(ReadFile(dir / "out" / "a.pdf"), "kept");
    EXPECT_TRUE(HasInOrder(PdfWords(dir / "out" / "a 1.pdf"), {"Words", "of", "a."}));

    for (const char* blank : {"empty.txt", "lines.txt"}) {
        SCOPED_TRACE(blank);
        TextToPDFConversion none = Record({dir / blank}, dir / "out", false);
        EXPECT_EQ(ConvertTextDocumentsToPDF(&none), 0);
        EXPECT_FALSE(fs::exists(dir / "out" / (fs::path(blank).stem().string() + ".pdf")));
    }
    // No destination writes nowhere, not into the working folder.
    TextToPDFConversion nowhere = Record({dir / "a.txt"}, {}, false);
    EXPECT_EQ(ConvertTextDocumentsToPDF(&nowhere), 0);
}

TEST(TextToPDF, EmptyListsMissingFilesAndBadPaper) {
    testpdf::TempDir dir;
    WriteFile(dir / "a.txt", "Some words here.");
    TextToPDFConversion each = Record({}, dir.path(), false);
    EXPECT_EQ(ConvertTextDocumentsToPDF(&each), 1);
    TextToPDFConversion combined = Record({}, dir / "x.pdf", true);
    EXPECT_EQ(ConvertTextDocumentsToPDF(&combined), 0);
    EXPECT_EQ(ConvertTextDocumentsToPDF(nullptr), 0);

    struct Paper {
        const char* name;
        double width, height, left, right;
    };
    const Paper papers[] = {{"margins wider than the paper", 612, 792, 400, 300},
                            {"no width", 0, 792, 10, 10},
                            {"negative height", 612, -792, 10, 10},
                            {"not a number", std::nan(""), 792, 10, 10}};
    for (const Paper& p : papers) {
        SCOPED_TRACE(p.name);
        TextToPDFConversion record = Record({dir / "a.txt"}, dir / "x.pdf", true);
        record.paperWidth = p.width;
        record.paperHeight = p.height;
        record.leftMargin = p.left;
        record.rightMargin = p.right;
        EXPECT_EQ(ConvertTextDocumentsToPDF(&record), 0);
        EXPECT_FALSE(fs::exists(dir / "x.pdf"));
    }
    // A missing document in the middle leaves no gap.
    TextToPDFConversion gap = Record({dir / "a.txt", dir / "missing.txt", dir / "a.txt"}, dir / "x.pdf", true);
    ASSERT_EQ(ConvertTextDocumentsToPDF(&gap), 1);
    EXPECT_EQ(PdfInfo(dir / "x.pdf", "Pages"), "2");
}

TEST(TextToPDF, StatusCodesAndCancel) {
    testpdf::TempDir dir;
    WriteFile(dir / "a.txt", "Some words here.");
    RecordingTarget target;
    TextToPDFConversion record = Record({dir / "a.txt", dir / "a.txt"}, dir / "x.pdf", true);
    record.progressTarget = &target;
    record.progressSelector = &ProgressTarget::UpdatePageProgressStatus;
    ASSERT_EQ(ConvertTextDocumentsToPDF(&record), 1);
    EXPECT_EQ(target.statuses, (std::vector<long>{3, 3, 6, 7}));

    RecordingTarget cancelling;
    cancelling.cancelAfter = 1;
    record.progressTarget = &cancelling;
    record.destinationURL = dir / "cancelled.pdf";
    EXPECT_EQ(ConvertTextDocumentsToPDF(&record), 0);
    EXPECT_FALSE(fs::exists(dir / "cancelled.pdf"));
    EXPECT_EQ(cancelling.statuses, (std::vector<long>{3}));
}

TEST(TextToPDF, WriteOptionsAreAppliedAndAFolderAtTheTargetIsKept) {
    testpdf::TempDir dir;
    WriteFile(dir / "a.txt", "Protected words.");
    TextToPDFConversion record = Record({dir / "a.txt"}, dir / "x.pdf", true);
    record.writeOptions.userPassword = "user";
    record.writeOptions.ownerPassword = "owner";
    record.writeOptions.allowsPrinting = false;
    record.writeOptions.title = "A Title";
    record.writeOptions.author = "Somebody";
    WriteFile(dir / "x.pdf", "an old file, replaced");
    ASSERT_EQ(ConvertTextDocumentsToPDF(&record), 1);
    std::string out;
    RunCommand("qpdf --show-encryption --password=user " + ShellQuote((dir / "x.pdf").string()), &out);
    EXPECT_NE(out.find("R = 6"), std::string::npos) << out;
    EXPECT_NE(out.find("print low resolution: not allowed"), std::string::npos) << out;
    EXPECT_NE(out.find("extract for any purpose: allowed"), std::string::npos) << out;
    EXPECT_EQ(PdfInfo(dir / "x.pdf", "Title", "user"), "A Title");
    EXPECT_EQ(PdfInfo(dir / "x.pdf", "Author", "user"), "Somebody");
    EXPECT_TRUE(QpdfCheckClean(dir / "x.pdf", "user"));
    EXPECT_NE(RunCommand("qpdf --check " + ShellQuote((dir / "x.pdf").string())), 0);  // locked without it

    fs::create_directory(dir / "folder.pdf");
    WriteFile(dir / "folder.pdf" / "inside", "kept");
    record.destinationURL = dir / "folder.pdf";
    EXPECT_EQ(ConvertTextDocumentsToPDF(&record), 0);
    EXPECT_EQ(ReadFile(dir / "folder.pdf" / "inside"), "kept");
}

TEST(TextToPDF, TheFallbackWriteKeepsTheOptions) {
    testpdf::TempDir dir;
    platform::PdfBuilder builder;
    ASSERT_EQ(builder.InsertPdfFile(PageWith(dir / "page.pdf", "0 g 10 10 50 50 re f"), 0), 1);
    PDFWriteOptions options;
    options.userPassword = "secret";
    const std::optional<std::vector<std::uint8_t>> bytes = builder.Write(options);
    ASSERT_TRUE(bytes);
    // A temporary location that cannot be written: the direct write takes over, the image
    // path's save fails and leaves the target as it was.
    const fs::path unwritable = dir / "no such folder" / "temporary";
    WriteFile(dir / "kept.pdf", "old");
    EXPECT_FALSE(SafeSavePDF(*bytes, dir / "kept.pdf", false, unwritable));
    EXPECT_EQ(ReadFile(dir / "kept.pdf"), "old");
    ASSERT_TRUE(SafeSavePDF(*bytes, dir / "direct.pdf", true, unwritable));
    std::string out;
    RunCommand("qpdf --show-encryption --password=secret " + ShellQuote((dir / "direct.pdf").string()), &out);
    EXPECT_NE(out.find("R = 6"), std::string::npos) << out;
    EXPECT_NE(RunCommand("pdftotext -q " + ShellQuote((dir / "direct.pdf").string()) + " /dev/null"), 0);
}

// The names of the fonts pdffonts lists.
std::string Fonts(const fs::path& pdf) {
    std::string out;
    RunCommand("pdffonts " + ShellQuote(pdf.string()), &out);
    return out;
}

TEST(TextToPDF, TextAttributesApplyToPlainTextAndToRichTextOnlyWhenAsked) {
    testpdf::TempDir dir;
    WriteFile(dir / "rich.html", "<p><span style=\"font-family:'DejaVu Serif'\">Serif words</span></p>");
    WriteFile(dir / "plain.txt", "Plain words");
    TextAttributes mono;
    mono.fontFamily = "DejaVu Sans Mono";
    mono.fontSize = 15;
    struct Case {
        const char* file;
        std::uint8_t apply;
        bool mono;
    };
    for (const Case& c : {Case{"rich.html", 0, false}, Case{"rich.html", 1, true}, Case{"plain.txt", 0, true}}) {
        SCOPED_TRACE(std::string(c.file) + (c.apply ? " applied" : ""));
        TextToPDFConversion record = Record({dir / c.file}, dir / "x.pdf", true);
        record.textAttributes = mono;
        record.applyTextAttributes = c.apply;
        ASSERT_EQ(ConvertTextDocumentsToPDF(&record), 1);
        const std::string fonts = Fonts(dir / "x.pdf");
        EXPECT_EQ(fonts.find("DejaVuSansMono") != std::string::npos, c.mono) << fonts;
        if (std::string(c.file) == "rich.html") {
            EXPECT_EQ(fonts.find("DejaVuSerif") != std::string::npos, !c.mono) << fonts;
        }
    }
}

TEST(TextToPDF, KindsByTypeIdentifier) {
    const std::pair<const char*, TextDocumentKind> cases[] = {
        {"public.rtf", kTextKindRTF},
        {"com.apple.rtfd", kTextKindRTFD},
        {"public.html", kTextKindHTML},
        {"public.text", kTextKindText},
        {"com.apple.log", kTextKindPlainText},
        {"com.apple.webarchive", kTextKindWebArchive},
        {"org.oasis-open.opendocument", kTextKindODT},
        {"org.oasis-open.opendocument.text-template", kTextKindODTTemplate},
        {"org.openoffice.text-template", kTextKindOpenOfficeTemplate},
        {"org.openxmlformats.wordprocessingml.document", kTextKindDOCX},
        {"com.microsoft.word.doc", kTextKindDOC},
        {"com.apple.traditional-mac-plain-text", kTextKindMacPlainText},
        {"PUBLIC.RTF", kTextKindNone},
        {"public.jpeg", kTextKindNone},
    };
    for (const auto& [identifier, kind] : cases) EXPECT_EQ(TextDocumentKindForUTI(identifier), kind) << identifier;
    EXPECT_EQ(TextDocumentKindForUTI(std::nullopt), kTextKindNone);
}

}  // namespace
