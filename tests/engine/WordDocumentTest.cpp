// The Word 97 documents of the text export, read by antiword and catdoc, their streams by
// olefile.

#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <vector>

#include "engine/textexport/PDFTextExport.h"
#include "engine/textexport/TextDocumentWriters.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

namespace fs = std::filesystem;
using testimage::RunCommand;
using testimage::ShellQuote;

namespace {

platform::StyledText Styled(const std::u16string& text) {
    platform::StyledText styled;
    styled.text = text;
    if (!text.empty()) styled.runs.push_back({0, text.size(), "Helvetica", 12, false, false});
    return styled;
}

// Paragraph ends stay line ends; every other run of white space becomes one space.
std::string Lines(const std::string& text) {
    std::string out;
    bool space = false;
    for (const char c : text) {
        if (c == '\n') {
            while (!out.empty() && out.back() == ' ') out.pop_back();
            if (!out.empty() && out.back() != '\n') out += '\n';
            space = false;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f') {
            space = !out.empty() && out.back() != '\n';
        } else {
            if (space) out += ' ';
            space = false;
            out += c;
        }
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

std::string Utf8(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

}  // namespace

TEST(WordDocument, TextReadBackByAntiwordAndCatdoc) {
    testpdf::TempDir dir;
    // Many stretches in changing fonts and many short paragraphs: several pages of character and
    // paragraph properties.
    platform::StyledText many;
    std::string manyText;
    for (int i = 0; i < 2500; ++i) {
        std::u16string word = QString("word%1 ").arg(i).toStdU16String();
        if (i % 7 == 6) word += u"\n";
        many.runs.push_back({many.text.size(), word.size(), i % 3 ? "Times" : "Courier", 8.0f + static_cast<float>(i % 5),
                             i % 2 == 1, i % 3 == 0});
        many.text += word;
    }
    // Text of `count` characters from `alphabet`, a word every 7 characters and a paragraph every
    // `paragraph` (0: one paragraph).
    const auto longText = [](const std::u16string& alphabet, std::size_t count, std::size_t paragraph) {
        std::u16string text;
        for (std::size_t i = 0; i < count; ++i) {
            if (paragraph && i % paragraph == paragraph - 1) text += u'\n';
            else if (i % 7 == 6) text += u' ';
            else text += alphabet[i % alphabet.size()];
        }
        return text;
    };
    const std::u16string latin = u"abcdefghijklmnopqrstuvwxyz\u00e9\u00fc\u00df", greek = u"\u03b1\u03b2\u03b3\u03b4\u03b5\u03b6\u03b7";
    struct Case {
        const char* name;
        platform::StyledText text;
        std::string expected;  // as Lines() gives it
    };
    const Case cases[] = {
        {"Windows-1252 text", Styled(u"Caf\u00e9 \u20acuro \u201cquoted\u201d \u2013 na\u00efve\nsecond paragraph\r\nthird"),
         "Caf\u00e9 \u20acuro \u201cquoted\u201d \u2013 na\u00efve\nsecond paragraph\nthird"},
        {"text beyond Windows-1252",
         Styled(u"\u65e5\u672c\u8a9e\u306e\u6587\u66f8\u3002\n\u0420\u0443\u0441\u0441\u043a\u0438\u0439 \u0442\u0435\u043a\u0441\u0442\n"
                u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac, Latin too"),
         "\u65e5\u672c\u8a9e\u306e\u6587\u66f8\u3002\n\u0420\u0443\u0441\u0441\u043a\u0438\u0439 \u0442\u0435\u043a\u0441\u0442\n"
         "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac, Latin too"},
        // Control characters that Word gives a meaning (cell ends, field marks) are not written:
        // a field mark would hide the text after it.
        {"controls", Styled(u"cell\x07mark \x13" u"field\x14 result\x15 end\ttab"), "cellmark field result end tab"},
        {"empty", Styled(u""), ""},
        {"paragraphs only", Styled(u"\n\n"), ""},
        {"many runs and paragraphs", many, Lines(Utf8(many.text))},
        // The text stream past one 512-byte sector, past the size below which a compound file
        // keeps a stream in its small sectors, and past 64 KiB, in 8 and 16 bits a character.
        {"beyond one sector", Styled(longText(latin, 700, 0)), Lines(Utf8(longText(latin, 700, 0)))},
        {"beyond the small sectors, 16-bit", Styled(longText(greek, 2500, 60)), Lines(Utf8(longText(greek, 2500, 60)))},
        {"beyond 64 KiB", Styled(longText(latin, 70'000, 90)), Lines(Utf8(longText(latin, 70'000, 90)))},
        {"beyond 64 KiB, 16-bit", Styled(longText(greek, 40'000, 90)), Lines(Utf8(longText(greek, 40'000, 90)))},
        {"one paragraph beyond 64 KiB", Styled(longText(latin, 70'000, 0)), Lines(Utf8(longText(latin, 70'000, 0)))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir / (std::string(c.name) + ".doc");
        ASSERT_TRUE(textexport::WriteTextDocument(kTextDOC, file, c.text));
        std::string antiword, catdoc;
        ASSERT_EQ(RunCommand("antiword -w 0 -m UTF-8.txt " + ShellQuote(file), &antiword), 0) << antiword;
        EXPECT_EQ(Lines(antiword), c.expected);
        ASSERT_EQ(RunCommand("catdoc -w -d utf-8 " + ShellQuote(file), &catdoc), 0) << catdoc;
        EXPECT_EQ(Lines(catdoc), c.expected);
    }
    // antiword trusts the style sheet, section table, font table and property pages it finds:
    // under valgrind it reads nothing outside what it was given.
    for (const char* name : {"many runs and paragraphs", "beyond 64 KiB, 16-bit"}) {
        std::string log;
        EXPECT_EQ(RunCommand("valgrind -q --error-exitcode=99 antiword -x db " + ShellQuote(dir / (std::string(name) + ".doc")) +
                                 " >/dev/null",
                             &log),
                  0)
            << name << log;
    }
    // The compound file holds the two streams a reader looks for, the information block naming
    // Word 97 and its properties in 1Table.
    std::string streams;
    ASSERT_EQ(RunCommand("/usr/bin/python3 -c \"import olefile,struct,sys\no=olefile.OleFileIO(sys.argv[1])\n"
                         "w=o.openstream('WordDocument').read()\n"
                         "print(sorted('/'.join(e) for e in o.listdir()), hex(struct.unpack('<H',w[0:2])[0]),"
                         " hex(struct.unpack('<H',w[2:4])[0]), bool(w[11] & 2))\" " +
                             ShellQuote(dir / "empty.doc"),
                         &streams),
              0)
        << streams;
    EXPECT_EQ(streams, "['1Table', 'WordDocument'] 0xa5ec 0xc1 True\n");
}
