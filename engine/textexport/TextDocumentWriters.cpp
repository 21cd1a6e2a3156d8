#include "engine/textexport/TextDocumentWriters.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentWriter>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <map>
#include <system_error>

#include "Common UI Code/OVXUtil.h"
#include "engine/OutputFile.h"
#include "engine/textexport/PDFTextExport.h"

namespace fs = std::filesystem;

namespace textexport {
namespace {

bool WriteBytes(const fs::path& file, const std::string& bytes) {
    return WriteWholeFile(file, bytes.data(), bytes.size(), true);
}

// A free name beside `file` for writing it in one piece before it is renamed into place.
fs::path TemporarySibling(const fs::path& file) {
    std::string prefix = ".";
    prefix += file.filename().string();
    prefix += '-';
    return GetTemporaryURLInDirectory(file.parent_path(), prefix, std::nullopt);
}

bool WriteAtomically(const fs::path& file, const std::string& bytes) {
    const fs::path temporary = TemporarySibling(file);
    if (!WriteBytes(temporary, bytes)) return false;
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

QString ToQString(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// --- RTF ---------------------------------------------------------------------------------------

std::string RtfFontName(const std::string& font) {
    std::string out;
    for (char c : font)
        if (c != '\\' && c != '{' && c != '}' && c != ';' && static_cast<unsigned char>(c) >= 0x20) out += c;
    return out.empty() ? std::string("Helvetica") : out;
}

void AppendRtfText(std::string& out, const std::u16string& text, std::size_t start, std::size_t length) {
    for (std::size_t i = start; i < start + length; ++i) {
        const char16_t c = text[i];
        if (c == u'\\' || c == u'{' || c == u'}') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == u'\n' || c == 0x2028 || c == 0x2029) {
            out += "\\par\n";
        } else if (c == u'\t') {
            out += "\\tab ";
        } else if (c < 0x20) {
            // other control characters carry no text
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            // \uN takes a signed 16-bit number; surrogate halves go one by one.
            out += "\\u" + std::to_string(static_cast<int>(static_cast<std::int16_t>(c))) + "?";
        }
    }
}

}  // namespace

std::string RtfDocument(const platform::StyledText& text) {
    std::map<std::string, int> fonts;
    for (const platform::TextRun& run : text.runs) fonts.emplace(RtfFontName(run.font), 0);
    if (fonts.empty()) fonts.emplace("Helvetica", 0);
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\uc1\\deff0\n{\\fonttbl";
    int index = 0;
    for (auto& [name, number] : fonts) {
        number = index++;
        out += "{\\f" + std::to_string(number) + "\\fnil " + name + ";}";
    }
    out += "}\n\\pard\\plain ";
    for (const platform::TextRun& run : text.runs) {
        const int halfPoints = std::max(2, static_cast<int>(std::lround(run.size * 2)));
        out += "\\f" + std::to_string(fonts[RtfFontName(run.font)]) + "\\fs" + std::to_string(halfPoints) +
               (run.bold ? "\\b" : "\\b0") + (run.italic ? "\\i" : "\\i0") + " ";
        AppendRtfText(out, text.text, run.start, run.length);
    }
    out += "}\n";
    return out;
}

namespace {

bool WriteRtfd(const fs::path& folder, const platform::StyledText& text) {
    // The package is made whole beside its place, then renamed into it.
    const fs::path temporary = TemporarySibling(folder);
    std::error_code ec;
    if (!fs::create_directory(temporary, ec)) return false;
    if (!WriteBytes(temporary / "TXT.rtf", RtfDocument(text)) || ::rename(temporary.c_str(), folder.c_str()) != 0) {
        fs::remove_all(temporary, ec);
        return false;
    }
    return true;
}

// --- DOCX --------------------------------------------------------------------------------------

std::string XmlEscaped(const QString& text) {
    std::string out;
    for (const char32_t c : text.toUcs4()) {
        if (c == U'&') out += "&amp;";
        else if (c == U'<') out += "&lt;";
        else if (c == U'>') out += "&gt;";
        else if (c == U'"') out += "&quot;";
        else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) continue;
        else out += QString::fromUcs4(&c, 1).toStdString();
    }
    return out;
}

std::string DocxBody(const platform::StyledText& text) {
    std::string body = "<w:p>";
    for (const platform::TextRun& run : text.runs) {
        std::string properties = "<w:rPr>";
        const std::string font = XmlEscaped(QString::fromStdString(run.font));
        if (!font.empty()) properties += "<w:rFonts w:ascii=\"" + font + "\" w:hAnsi=\"" + font + "\" w:cs=\"" + font + "\"/>";
        if (run.bold) properties += "<w:b/>";
        if (run.italic) properties += "<w:i/>";
        const int halfPoints = std::max(2, static_cast<int>(std::lround(run.size * 2)));
        properties += "<w:sz w:val=\"" + std::to_string(halfPoints) + "\"/></w:rPr>";
        // Line feeds end paragraphs, tabs are tab elements; the rest is the run's text.
        std::size_t from = run.start;
        const std::size_t end = run.start + run.length;
        const auto flush = [&](std::size_t to) {
            if (to > from)
                body += "<w:r>" + properties + "<w:t xml:space=\"preserve\">" +
                        XmlEscaped(ToQString(text.text.substr(from, to - from))) + "</w:t></w:r>";
        };
        for (std::size_t i = run.start; i < end; ++i) {
            const char16_t c = text.text[i];
            if (c == u'\n' || c == u'\t' || c == 0x2028 || c == 0x2029) {
                flush(i);
                from = i + 1;
                body += c == u'\t' ? "<w:r>" + properties + "<w:tab/></w:r>" : std::string("</w:p><w:p>");
            }
        }
        flush(end);
    }
    return body + "</w:p>";
}

bool AddZipEntry(zip_t* archive, const char* name, const std::string& bytes) {
    zip_source_t* source = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
    if (!source) return false;
    if (zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
        zip_source_free(source);
        return false;
    }
    return true;
}

bool WriteDocx(const fs::path& file, const platform::StyledText& text) {
    const std::string types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/document.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
        "</Types>";
    const std::string rels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
        "Target=\"word/document.xml\"/></Relationships>";
    const std::string document =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>" +
        DocxBody(text) + "<w:sectPr/></w:body></w:document>";

    const fs::path temporary = TemporarySibling(file);
    int error = 0;
    zip_t* archive = zip_open(temporary.c_str(), ZIP_CREATE | ZIP_EXCL, &error);
    if (!archive) return false;
    const bool added = AddZipEntry(archive, "[Content_Types].xml", types) && AddZipEntry(archive, "_rels/.rels", rels) &&
                       AddZipEntry(archive, "word/document.xml", document);
    if (!added) {
        zip_discard(archive);
        return false;
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        ::unlink(temporary.c_str());
        return false;
    }
    ::chmod(temporary.c_str(), 0666 & ~[] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }());
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// --- ODT ---------------------------------------------------------------------------------------

bool WriteOdt(const fs::path& file, const platform::StyledText& text) {
    QTextDocument document;
    QTextCursor cursor(&document);
    const QString all = ToQString(text.text);
    for (const platform::TextRun& run : text.runs) {
        QTextCharFormat format;
        if (!run.font.empty()) format.setFontFamilies({QString::fromStdString(run.font)});
        if (run.size > 0) format.setFontPointSize(run.size);
        format.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(run.italic);
        QString piece = all.mid(static_cast<qsizetype>(run.start), static_cast<qsizetype>(run.length));
        // A line feed is a new paragraph in a text document.
        const QStringList paragraphs = piece.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < paragraphs.size(); ++i) {
            if (i > 0) cursor.insertBlock();
            cursor.insertText(paragraphs[i], format);
        }
    }
    const fs::path temporary = TemporarySibling(file);
    QTextDocumentWriter writer(QString::fromStdString(temporary.string()), "odf");
    if (!writer.write(&document)) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool WriteTextDocument(std::int32_t kind, const fs::path& file, const platform::StyledText& text) {
    switch (kind) {
        case kTextUTF8: return WriteBytes(file, ToQString(text.text).toStdString());
        case kTextUTF16: {
            std::string bytes("\xFF\xFE", 2);
            for (const char16_t c : text.text) {
                bytes += static_cast<char>(c & 0xFF);
                bytes += static_cast<char>(c >> 8);
            }
            return WriteBytes(file, bytes);
        }
        case kTextRTF: return WriteAtomically(file, RtfDocument(text));
        case kTextRTFD: return WriteRtfd(file, text);
        case kTextDOC: {
            const std::optional<std::vector<std::uint8_t>> document = WordDocument(text);
            return document && WriteAtomically(file, std::string(document->begin(), document->end()));
        }
        case kTextDOCX: return WriteDocx(file, text);
        case kTextODT: return WriteOdt(file, text);
        default: return false;
    }
}

}  // namespace textexport
