// The text export: names and ranges, which pages count, and every output kind read back by a
// reader that is not ours.

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <fstream>
#include <set>
#include <sstream>

#include "engine/textexport/PDFTextExport.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

namespace fs = std::filesystem;
using testimage::RunCommand;
using testimage::ShellQuote;

namespace {

// A page of text lines in Helvetica (and its bold and oblique faces): each line is shown as
// written, one below the other.
struct TextPage {
    std::vector<std::string> lines;
    const char* font = "/F1";
};

fs::path WriteTextPdf(const fs::path& path, const std::vector<TextPage>& pages) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper helper(pdf);
    QPDFObjectHandle fonts = QPDFObjectHandle::parse(
        "<< /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"
        "   /F2 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>"
        "   /F3 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Oblique /Encoding /WinAnsiEncoding >> >>");
    for (const TextPage& text : pages) {
        std::string content = "BT " + std::string(text.font) + " 14 Tf 72 720 Td 18 TL\n";
        for (const std::string& line : text.lines) {
            std::string escaped;
            for (char c : line) {
                if (c == '(' || c == ')' || c == '\\') escaped += '\\';
                escaped += c;
            }
            content += "(" + escaped + ") Tj T*\n";
        }
        content += "ET\n";
        QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>");
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/Font", fonts);
        page.replaceKey("/Resources", resources);
        page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
        helper.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    QPDFWriter writer(pdf, path.c_str());
    writer.setStaticID(true);
    writer.write();
    return path;
}

std::vector<TextPage> NumberedPages(int count) {
    std::vector<TextPage> pages;
    for (int i = 1; i <= count; ++i) pages.push_back({{"This is page " + std::to_string(i) + " of the report."}});
    return pages;
}

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) names.insert(e.path().filename());
    return names;
}

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs of white space become one space; the ends are trimmed.
std::string Normalised(const std::string& text) {
    std::string out;
    bool space = false;
    for (unsigned char c : text) {
        if (std::isspace(c) || c == '\f') {
            space = !out.empty();
            continue;
        }
        if (space) out += ' ';
        space = false;
        out += static_cast<char>(c);
    }
    return out;
}

PDFToTextConversion Record(const fs::path& source, const fs::path& destination, std::int32_t kind) {
    PDFToTextConversion r;
    r.sourceURL = source;
    r.destinationURL = destination;
    r.textOutputKind = kind;
    return r;
}

}  // namespace

TEST(TextExport, NamesOfOneDocumentPerPage) {
    testpdf::TempDir dir;
    struct Case {
        int pages;
        std::vector<std::string> expected;
    };
    std::vector<std::string> twelve, nine;
    for (int i = 1; i <= 12; ++i) twelve.push_back((i < 10 ? "report-0" : "report-") + std::to_string(i) + ".txt");
    for (int i = 1; i <= 9; ++i) nine.push_back("report-" + std::to_string(i) + ".txt");
    const Case cases[] = {{12, twelve}, {9, nine}, {1, {"report.txt"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pages);
        const fs::path source = WriteTextPdf(dir / ("doc" + std::to_string(c.pages) + ".pdf"), NumberedPages(c.pages));
        const fs::path out = dir / ("out" + std::to_string(c.pages));
        fs::create_directory(out);
        PDFToTextConversion r = Record(source, out, kTextUTF8);
        r.onePerPage = 1;
        r.outputBaseName = "report";
        r.outputExtension = "txt";
        ASSERT_EQ(ConvertPDFToTextDocuments(&r), 1);
        EXPECT_EQ(Names(out), std::set<std::string>(c.expected.begin(), c.expected.end()));
        EXPECT_EQ(Normalised(Read(out / c.expected.back())),
                  "This is page " + std::to_string(c.pages) + " of the report.");
    }
    // A name that is taken gets the next free one; nothing is overwritten.
    const fs::path source = dir / "doc12.pdf", out = dir / "again";
    fs::create_directory(out);
    std::ofstream(out / "report-03.txt") << "mine";
    PDFToTextConversion r = Record(source, out, kTextUTF8);
    r.onePerPage = 1;
    r.outputBaseName = "report";
    r.outputExtension = "txt";
    ASSERT_EQ(ConvertPDFToTextDocuments(&r), 1);
    EXPECT_EQ(Read(out / "report-03.txt"), "mine");
    EXPECT_EQ(Normalised(Read(out / "report-03 1.txt")), "This is page 3 of the report.");
    // Without a base name or an extension: the source's name, and none.
    const fs::path bare = dir / "bare";
    fs::create_directory(bare);
    PDFToTextConversion whole = Record(dir / "doc1.pdf", bare, kTextUTF8);
    ASSERT_EQ(ConvertPDFToTextDocuments(&whole), 1);
    EXPECT_EQ(Names(bare), std::set<std::string>{"doc1"});
}

TEST(TextExport, RangesAndTheOneDocument) {
    testpdf::TempDir dir;
    const fs::path source = WriteTextPdf(dir / "seven.pdf", NumberedPages(7));
    struct Case {
        std::int32_t type;
        std::int64_t start, end;
        std::string expected;  // the pages' numbers in the one document; empty: 0 and no file
    };
    const Case cases[] = {
        {0, 0, 0, "1234567"}, {1, 3, 0, "3"},      {1, 0, 0, ""},     {1, 8, 8, ""},
        {2, 5, 0, "567"},     {2, 2, 4, "234"},    {2, 5, 3, ""},     {2, 6, 99, "67"},
        {2, 0, 3, ""},        {7, 9, 1, "1234567"},
    };
    int k = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + " " + std::to_string(c.start) + "-" + std::to_string(c.end));
        const fs::path out = dir / ("out" + std::to_string(k++));
        fs::create_directory(out);
        PDFToTextConversion r = Record(source, out, kTextUTF8);
        r.pageRangeType = c.type;
        r.startPage = c.start;
        r.endPage = c.end;
        r.outputExtension = "txt";
        EXPECT_EQ(ConvertPDFToTextDocuments(&r), c.expected.empty() ? 0 : 1);
        if (c.expected.empty()) {
            EXPECT_TRUE(Names(out).empty());
            continue;
        }
        ASSERT_EQ(Names(out), std::set<std::string>{"seven.txt"});
        // The pages follow each other with nothing in between.
        std::string joined;
        for (char p : c.expected) joined += std::string("This is page ") + p + " of the report.";
        EXPECT_EQ(Read(out / "seven.txt"), joined);
    }
}

TEST(TextExport, WhichPagesCount) {
    testpdf::TempDir dir;
    const fs::path source = WriteTextPdf(
        dir / "blank.pdf",
        {{{std::string(20, ' ')}}, {{std::string(19, ' ')}}, {{"x"}}, {{}}, {{std::string(5, ' ') + "y"}}});
    const fs::path out = dir / "out";
    fs::create_directory(out);
    PDFToTextConversion r = Record(source, out, kTextUTF8);
    r.onePerPage = 1;
    r.outputExtension = "txt";
    ASSERT_EQ(ConvertPDFToTextDocuments(&r), 1);
    EXPECT_EQ(Names(out), (std::set<std::string>{"blank-1.txt", "blank-3.txt", "blank-5.txt"}));

    struct Case {
        std::u16string text;
        bool taken;
    };
    const Case cases[] = {
        {std::u16string(20, u' '), true},
        {std::u16string(19, u' '), false},
        {u"\uFFFC\n\uFFFC\r\n\u2028\t", false},
        {std::u16string(20, u'\uFFFC'), true},
        {u"", false},
        {u"\u00A0a", true},
    };
    for (const Case& c : cases) EXPECT_EQ(PDFTextExtractor::IsTextTaken(c.text), c.taken) << c.text.size();

    // Nothing to take, or nothing written: 0.
    const fs::path none = dir / "none";
    fs::create_directory(none);
    PDFToTextConversion empty = Record(WriteTextPdf(dir / "empty.pdf", {{{}}, {{" "}}}), none, kTextUTF8);
    EXPECT_EQ(ConvertPDFToTextDocuments(&empty), 0);
    PDFToTextConversion unknown = Record(source, none, 8);
    EXPECT_EQ(ConvertPDFToTextDocuments(&unknown), 0);
    EXPECT_TRUE(Names(none).empty());
}

TEST(TextExport, FailuresToOpen) {
    testpdf::TempDir dir;
    std::ofstream(dir / "not.pdf") << "no PDF here";
    for (const fs::path& source : {dir / "not.pdf", dir / "missing.pdf"}) {
        PDFToTextConversion r = Record(source, dir.path(), kTextUTF8);
        try {
            ConvertPDFToTextDocuments(&r);
            ADD_FAILURE() << "nothing thrown for " << source;
        } catch (int code) {
            EXPECT_EQ(code, 301);
        }
    }
    EXPECT_EQ(ConvertPDFToTextDocuments(nullptr), 0);

    // A wrong password throws nothing; the document stays locked and gives no text.
    testpdf::Options options;
    options.encryption = testpdf::Encryption::AES_256;
    options.userPassword = "user";
    options.ownerPassword = "owner";
    const fs::path locked = testpdf::Write(dir / "locked.pdf", options);
    const fs::path out = dir / "out";
    fs::create_directory(out);
    PDFToTextConversion r = Record(locked, out, kTextUTF8);
    r.password = "wrong";
    EXPECT_EQ(ConvertPDFToTextDocuments(&r), 0);
    EXPECT_TRUE(Names(out).empty());
}

TEST(TextExport, EveryKindReadBackByOthers) {
    testpdf::TempDir dir;
    const fs::path source = WriteTextPdf(
        dir / "styled.pdf", {{{"Caf\xe9 {braces} \\ back", "second line"}, "/F1"}, {{"Bold words here"}, "/F2"},
                             {{"Leaning words here"}, "/F3"}});
    std::string plain;
    RunCommand("pdftotext -enc UTF-8 " + ShellQuote(source) + " -", &plain);
    const std::string expected = Normalised(plain);
    ASSERT_NE(expected.find("Caf\xc3\xa9 {braces} \\ back"), std::string::npos) << expected;

    // unrtf's plain text is ASCII only: its HTML keeps every character.
    const std::string kHtmlText =
        "/usr/bin/python3 -c \"import html,re,sys\nt=sys.stdin.read()\n"
        "print(html.unescape(re.sub('<[^>]+>',' ',t[t.find('<body'):])))\"";
    struct Case {
        std::int32_t kind;
        const char* extension;
        std::string reader;  // prints the document's text; {} is the file
    };
    const Case cases[] = {
        {kTextUTF8, "txt", "cat {}"},
        {kTextUTF16, "txt", "iconv -f UTF-16 -t UTF-8 {}"},
        {kTextRTF, "rtf", "unrtf --html --nopict {} | " + kHtmlText},
        {kTextRTFD, "rtfd", "unrtf --html --nopict {}/TXT.rtf | " + kHtmlText},
        {kTextDOC, "doc", "antiword -w 0 -m UTF-8.txt {}"},
        {kTextDOCX, "docx", "docx2txt < {}"},
        {kTextODT, "odt", "odt2txt --encoding=UTF-8 {}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension + std::to_string(c.kind));
        const fs::path out = dir / ("kind" + std::to_string(c.kind));
        fs::create_directory(out);
        PDFToTextConversion r = Record(source, out, c.kind);
        r.outputExtension = c.extension;
        ASSERT_EQ(ConvertPDFToTextDocuments(&r), 1);
        const fs::path file = out / (std::string("styled.") + c.extension);
        ASSERT_TRUE(fs::exists(file));
        std::string command = c.reader;
        command.replace(command.find("{}"), 2, ShellQuote(file));
        std::string text;
        ASSERT_EQ(RunCommand(command, &text), 0) << text;
        // The pages follow each other directly, so the last word of one meets the next page's
        // first; compare without the spaces between words.
        std::string got = Normalised(text), want = expected;
        std::erase(got, ' ');
        std::erase(want, ' ');
        EXPECT_EQ(got, want) << Normalised(text);
        if (c.kind == kTextUTF16) {
            EXPECT_EQ(Read(file).substr(0, 2), std::string("\xFF\xFE", 2));
        }
    }
    // Bold and italic runs, as python-docx reads them.
    std::string runs;
    ASSERT_EQ(RunCommand("/usr/bin/python3 -c \"import docx,sys\nd=docx.Document(sys.argv[1])\n"
                         "print([(r.text.strip(), bool(r.bold), bool(r.italic)) for p in d.paragraphs for r in p.runs if r.text.strip()])\" " +
                             ShellQuote(dir / "kind6" / "styled.docx"),
                         &runs),
              0)
        << runs;
    EXPECT_NE(runs.find("('Bold words here', True, False)"), std::string::npos) << runs;
    EXPECT_NE(runs.find("('Leaning words here', False, True)"), std::string::npos) << runs;
    // The same in the Word 97 document, as antiword's DocBook output marks them.
    std::string docbook;
    ASSERT_EQ(RunCommand("antiword -x db " + ShellQuote(dir / "kind5" / "styled.doc"), &docbook), 0) << docbook;
    EXPECT_NE(docbook.find("<emphasis role='bold'>Bold words here"), std::string::npos) << docbook;
    EXPECT_NE(docbook.find("<emphasis>Leaning words here"), std::string::npos) << docbook;
}

// A long PDF with empty pages as one Word 97 document: antiword and catdoc read the text poppler
// reads, accented letters included, the empty pages leaving nothing.
TEST(TextExport, ManyPagesAsOneWordDocument) {
    testpdf::TempDir dir;
    std::vector<TextPage> pages;
    for (int i = 1; i <= 80; ++i) {  // more than 64 KiB of text
        TextPage page;
        if (i % 7 != 3) {
            for (int line = 1; line <= 30; ++line)
                page.lines.push_back("Page " + std::to_string(i) + ", line " + std::to_string(line) + ": caf\xe9 na\xefve \xc4rger");
        }
        pages.push_back(page);
    }
    const fs::path source = WriteTextPdf(dir / "long.pdf", pages);
    std::string plain;
    ASSERT_EQ(RunCommand("pdftotext -enc UTF-8 " + ShellQuote(source) + " -", &plain), 0);
    std::string want = Normalised(plain);
    std::erase(want, ' ');
    PDFToTextConversion r = Record(source, dir.path(), kTextDOC);
    r.outputExtension = "doc";
    ASSERT_EQ(ConvertPDFToTextDocuments(&r), 1);
    for (const char* reader : {"antiword -w 0 -m UTF-8.txt", "catdoc -w -d utf-8"}) {
        SCOPED_TRACE(reader);
        std::string text;
        ASSERT_EQ(RunCommand(std::string(reader) + " " + ShellQuote(dir / "long.doc"), &text), 0) << text;
        std::string got = Normalised(text);
        std::erase(got, ' ');
        EXPECT_EQ(got, want);
    }
}

namespace {

// Cancels once `cancelAfter` pages have been reported; records the reports and their thread.
class Recorder : public ProgressTarget {
public:
    explicit Recorder(long cancelAfter) : cancelAfter_(cancelAfter) {}
    bool isConversionCancelled() override { return cancelled_.load(); }
    void UpdatePageProgressStatus(long pageNumber) override {
        std::lock_guard guard(mutex_);
        pages.push_back(pageNumber);
        if (static_cast<long>(pages.size()) >= cancelAfter_) cancelled_.store(true);
    }
    std::vector<long> pages;

private:
    long cancelAfter_;
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
};

}  // namespace

TEST(TextExport, ReportsEachPageAndStopsWhenCancelled) {
    testpdf::TempDir dir;
    const fs::path source = WriteTextPdf(dir / "five.pdf", NumberedPages(5));
    for (const std::int64_t onePerPage : {0, 1}) {
        SCOPED_TRACE(onePerPage);
        const fs::path out = dir / ("out" + std::to_string(onePerPage));
        fs::create_directory(out);
        Recorder recorder(2);
        PDFToTextConversion r = Record(source, out, kTextUTF8);
        r.onePerPage = onePerPage;
        r.progressCallback = {&recorder, &ProgressTarget::UpdatePageProgressStatus};
        ASSERT_EQ(ConvertPDFToTextDocuments(&r), 1);
        EXPECT_EQ(recorder.pages, (std::vector<long>{1, 2}));
        // What was taken before the cancel is written, in either mode.
        if (onePerPage) {
            EXPECT_EQ(Names(out), (std::set<std::string>{"five-1", "five-2"}));
        } else {
            EXPECT_EQ(Read(out / "five"), "This is page 1 of the report.This is page 2 of the report.");
        }
    }
}

// The corpus files on which MuPDF's text and poppler's agree page by page, word for word (once
// poppler's joining of words hyphenated at a line end is done on ours too). On the others the
// two libraries read differently: running heads and page numbers, table cells, columns and form
// fields come in another order, glyphs without a Unicode mapping are guessed differently (⟨ ⟩ △
// and composed ∉ in GeoTopo-komprimiert.pdf), and poppler leaves out text it takes as hidden.
TEST(TextExport, CorpusPagesAsPopplerReadsThem) {
    const char* const files[] = {
        "002-trivial-libre-office-writer.pdf", "crazyones-pdfa.pdf",  "libre-office-link.pdf",
        "minimal-document.pdf",                "mistitled_outlines_example.pdf",
        "output_with_metadata_pymupdf.pdf",    "pdfkit.pdf",          "pdflatex-4-pages.pdf",
        "pdflatex-forms.pdf",                  "pdflatex-image.pdf",  "pdflatex-outline.pdf",
        "with-attachment.pdf",
    };
    const auto words = [](std::string text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '-' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
                continue;
            }
            if (!std::isspace(static_cast<unsigned char>(text[i])) && text[i] != '\f') out += text[i];
        }
        return out;
    };
    testpdf::TempDir dir;
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const fs::path source = testpdf::CorpusDir() / name;
        const fs::path out = dir / name;
        fs::create_directory(out);
        PDFToTextConversion r = Record(source, out, kTextUTF8);
        r.onePerPage = 1;
        r.outputBaseName = "page";
        ASSERT_EQ(ConvertPDFToTextDocuments(&r), 1);
        for (const fs::directory_entry& e : fs::directory_iterator(out)) {
            const std::string file = e.path().filename();
            const std::string number = file == "page" ? "1" : file.substr(file.find('-') + 1);
            std::string poppler;
            ASSERT_EQ(RunCommand("pdftotext -q -enc UTF-8 -f " + number + " -l " + number + " " + ShellQuote(source) +
                                     " -",
                                 &poppler),
                      0);
            EXPECT_EQ(words(Read(e.path())), words(poppler)) << "page " << number;
        }
    }
}
