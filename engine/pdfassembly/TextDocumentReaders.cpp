#include "engine/pdfassembly/TextDocumentReaders.h"

#include <QBrush>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/ArchiveFiles.h"
#include "platform/PropertyList.h"

namespace fs = std::filesystem;

namespace pdfassembly {

namespace {

// Files larger than this are not read as text documents.
constexpr std::uintmax_t kMaxDocumentBytes = std::uintmax_t{256} << 20;

std::optional<std::string> ReadBytes(const fs::path& file) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec || size > kMaxDocumentBytes) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

std::string AsString(const std::optional<std::vector<std::uint8_t>>& bytes) {
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

std::string LowerExtension(const fs::path& file) {
    std::string extension = file.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool ContainsNoCase(std::string_view text, std::string_view word) {
    const auto it = std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return it != text.end();
}

// Text in a byte-order mark's encoding, else UTF-8, else Latin-1.
QString DecodePlainText(std::string_view bytes) {
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (std::optional<QStringConverter::Encoding> bom = QStringConverter::encodingForData(view)) {
        QStringDecoder decoder(*bom, QStringConverter::Flag::Default);
        return decoder(view);
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(view);
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(view);
}

QString DecodeHtml(std::string_view bytes, const QString& encodingName = {}) {
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    std::optional<QStringConverter::Encoding> encoding;
    if (!encodingName.isEmpty()) encoding = QStringConverter::encodingForName(encodingName.toLatin1().constData());
    if (!encoding) encoding = QStringConverter::encodingForHtml(view);
    if (!encoding) return DecodePlainText(bytes);
    QStringDecoder decoder(*encoding, QStringConverter::Flag::Default);
    return decoder(view);
}

// Windows-1252's characters 0x80 to 0x9F; the rest of the range is Latin-1.
char16_t Cp1252(unsigned char c) {
    static const char16_t high[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                      0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    return c >= 0x80 && c < 0xA0 ? high[c - 0x80] : static_cast<char16_t>(c);
}

// Appends text to a document, block by block, holding back a run until its format changes.
class DocumentBuilder {
public:
    explicit DocumentBuilder(QTextDocument& document) : document_(document), cursor_(&document) {}

    void Text(const QString& text, const QTextCharFormat& format) {
        if (text.isEmpty()) return;
        if (!pending_.isEmpty() && format != pendingFormat_) Flush();
        pendingFormat_ = format;
        pending_ += text;
    }
    void Char(char16_t c, const QTextCharFormat& format) { Text(QString(QChar(c)), format); }
    void Paragraph(bool pageBreakBefore = false) {
        Flush();
        QTextBlockFormat block;
        if (pageBreakBefore) block.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        cursor_.insertBlock(block);
    }
    void Image(const QImage& image, const QString& name, const QTextCharFormat& format) {
        Flush();
        document_.addResource(QTextDocument::ImageResource, QUrl(name), image);
        QTextImageFormat imageFormat;
        imageFormat.merge(format);
        imageFormat.setName(name);
        cursor_.insertImage(imageFormat);
    }
    void Flush() {
        if (pending_.isEmpty()) return;
        cursor_.insertText(pending_, pendingFormat_);
        pending_.clear();
    }

private:
    QTextDocument& document_;
    QTextCursor cursor_;
    QString pending_;
    QTextCharFormat pendingFormat_;
};

// ---------------------------------------------------------------------------------------------
// RTF

class RtfReader {
public:
    RtfReader(std::string_view rtf, QTextDocument& document, fs::path attachments)
        : rtf_(rtf), builder_(document), attachments_(std::move(attachments)) {}

    bool Read() {
        if (!StartsWith(rtf_, "{\\rtf")) return false;
        states_.push_back(State{});
        while (pos_ < rtf_.size()) {
            const char c = rtf_[pos_++];
            if (c == '{') {
                State next = states_.back();
                next.groupStart = true;
                states_.push_back(next);
            } else if (c == '}') {
                EndGroup();
                if (states_.empty()) break;
            } else if (c == '\\') {
                ControlWord();
            } else if (c == '\r' || c == '\n') {
                // Line ends in the file are not text.
            } else {
                Byte(static_cast<unsigned char>(c));
            }
            if (c != '{' && !states_.empty()) states_.back().groupStart = false;
        }
        builder_.Flush();
        return true;
    }

private:
    enum class Destination { Text, FontTable, ColorTable, Skip, Graphic };
    struct State {
        Destination destination = Destination::Text;
        QTextCharFormat format;
        int unicodeSkip = 1;
        bool groupStart = false;
    };

    State& Current() { return states_.back(); }

    void EndGroup() {
        if (states_.empty()) return;
        const State ended = states_.back();
        states_.pop_back();
        if (ended.destination == Destination::Graphic &&
            (states_.empty() || states_.back().destination != Destination::Graphic)) {
            InsertAttachment(ended.format);
            dropAttachmentMark_ = true;
        }
        if (ended.destination == Destination::FontTable && !fontName_.isEmpty()) CommitFont();
    }

    void ControlWord() {
        if (pos_ >= rtf_.size()) return;
        const char c = rtf_[pos_];
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++pos_;
            Symbol(c);
            return;
        }
        const std::size_t start = pos_;
        while (pos_ < rtf_.size() && std::isalpha(static_cast<unsigned char>(rtf_[pos_]))) ++pos_;
        const std::string word(rtf_.substr(start, pos_ - start));
        bool hasNumber = false;
        long number = 0;
        bool negative = false;
        if (pos_ < rtf_.size() && rtf_[pos_] == '-') {
            negative = true;
            ++pos_;
        }
        while (pos_ < rtf_.size() && std::isdigit(static_cast<unsigned char>(rtf_[pos_]))) {
            hasNumber = true;
            if (number < 100000000) number = number * 10 + (rtf_[pos_] - '0');
            ++pos_;
        }
        if (negative) number = -number;
        if (pos_ < rtf_.size() && rtf_[pos_] == ' ') ++pos_;
        Word(word, hasNumber, number);
    }

    void Symbol(char c) {
        switch (c) {
            case '\'': {
                if (pos_ + 2 > rtf_.size()) return;
                const std::string hex(rtf_.substr(pos_, 2));
                pos_ += 2;
                char* end = nullptr;
                const long value = std::strtol(hex.c_str(), &end, 16);
                if (end == hex.c_str() + 2) Byte(static_cast<unsigned char>(value), true);
                return;
            }
            case '*':
                // An optional destination: what this reader does not know is skipped.
                Current().destination = Destination::Skip;
                return;
            case '~': Character(0x00A0); return;
            case '_': Character(0x2011); return;
            case '-': return;  // an optional hyphen
            case '\n':
            case '\r': Word("par", false, 0); return;
            case '\\':
            case '{':
            case '}': Byte(static_cast<unsigned char>(c)); return;
            default: return;
        }
    }

    void Word(const std::string& word, bool hasNumber, long number) {
        State& state = Current();
        if (word == "bin") {
            // Binary data: skipped whatever the destination.
            if (hasNumber && number > 0) pos_ = std::min(rtf_.size(), pos_ + static_cast<std::size_t>(number));
            return;
        }
        static const char* const skipped[] = {
            "stylesheet", "info",      "pict",        "object",    "header",      "footer",     "headerl",
            "headerr",    "headerf",   "footerl",     "footerr",   "footerf",     "footnote",   "xmlnstbl",
            "listtable",  "listoverridetable",        "revtbl",    "rsidtbl",     "generator",  "themedata",
            "colorschememapping",      "datastore",   "latentstyles",             "pgdsctbl",   "filetbl",
            "fldinst",    "falt",      "panose",      "comment",   "annotation",  "atnid",      "atnauthor",
            "expandedcolortbl",        "operator",    "author",    "title",       "nonshppict", "shppict",
            "mmathPr",    "wgrffmtfilter",            "fchars",    "lchars",      "bkmkstart",  "bkmkend"};
        if (state.destination == Destination::Skip) return;
        for (const char* name : skipped) {
            if (word == name) {
                state.destination = Destination::Skip;
                return;
            }
        }
        if (word == "fonttbl") {
            state.destination = Destination::FontTable;
            return;
        }
        if (word == "colortbl") {
            state.destination = Destination::ColorTable;
            red_ = green_ = blue_ = -1;
            return;
        }
        if (word == "NeXTGraphic") {
            state.destination = Destination::Graphic;
            graphicName_.clear();
            graphicNameDone_ = false;
            return;
        }
        if (state.destination == Destination::Graphic) {
            graphicNameDone_ = true;  // the name ends at the first control word after it
            return;
        }
        if (state.destination == Destination::FontTable) {
            if (word == "f" && hasNumber) {
                if (!fontName_.isEmpty()) CommitFont();
                fontNumber_ = number;
            }
            return;
        }
        if (state.destination == Destination::ColorTable) {
            const int value = static_cast<int>(std::clamp(number, 0L, 255L));
            if (word == "red") red_ = value;
            if (word == "green") green_ = value;
            if (word == "blue") blue_ = value;
            return;
        }
        const bool on = !hasNumber || number != 0;
        QTextCharFormat& format = state.format;
        if (word == "par" || word == "sect") {
            builder_.Paragraph();
        } else if (word == "page") {
            builder_.Paragraph(true);
        } else if (word == "line") {
            Character(0x2028);
        } else if (word == "tab") {
            Character(u'\t');
        } else if (word == "emdash") {
            Character(0x2014);
        } else if (word == "endash") {
            Character(0x2013);
        } else if (word == "bullet") {
            Character(0x2022);
        } else if (word == "lquote") {
            Character(0x2018);
        } else if (word == "rquote") {
            Character(0x2019);
        } else if (word == "ldblquote") {
            Character(0x201C);
        } else if (word == "rdblquote") {
            Character(0x201D);
        } else if (word == "b") {
            format.setFontWeight(on ? QFont::Bold : QFont::Normal);
        } else if (word == "i") {
            format.setFontItalic(on);
        } else if (word == "ul") {
            format.setFontUnderline(on);
        } else if (word == "ulnone") {
            format.setFontUnderline(false);
        } else if (word == "fs" && hasNumber && number > 0) {
            format.setFontPointSize(number / 2.0);
        } else if (word == "f" && hasNumber) {
            const auto it = fonts_.find(number);
            if (it != fonts_.end()) format.setFontFamilies({it->second});
        } else if (word == "deff" && hasNumber) {
            defaultFont_ = number;
        } else if (word == "cf" && hasNumber) {
            if (number > 0 && number < static_cast<long>(colors_.size()) && colors_[number].isValid())
                format.setForeground(QBrush(colors_[number]));
            else
                format.clearForeground();
        } else if (word == "plain") {
            format = QTextCharFormat();
            const auto it = fonts_.find(defaultFont_);
            if (it != fonts_.end()) format.setFontFamilies({it->second});
        } else if (word == "uc" && hasNumber) {
            state.unicodeSkip = static_cast<int>(std::clamp(number, 0L, 10L));
        } else if (word == "u" && hasNumber) {
            Character(static_cast<char16_t>(number < 0 ? number + 65536 : number));
            skipBytes_ = state.unicodeSkip;
        }
    }

    // A character of the file's code page (or one escaped as \'hh).
    void Byte(unsigned char c, bool escaped = false) {
        State& state = Current();
        if (skipBytes_ > 0) {
            --skipBytes_;
            return;
        }
        switch (state.destination) {
            case Destination::Skip: return;
            case Destination::FontTable:
                if (c == ';') CommitFont();
                else fontName_ += QChar(Cp1252(c));
                return;
            case Destination::ColorTable:
                if (c == ';') {
                    colors_.push_back(red_ < 0 && green_ < 0 && blue_ < 0
                                          ? QColor()
                                          : QColor(std::max(red_, 0), std::max(green_, 0), std::max(blue_, 0)));
                    red_ = green_ = blue_ = -1;
                }
                return;
            case Destination::Graphic:
                if (!graphicNameDone_) graphicName_ += QChar(Cp1252(c));
                return;
            case Destination::Text:
                // The mark that stands for an attachment in the text after its graphic group.
                if (dropAttachmentMark_) {
                    dropAttachmentMark_ = false;
                    if (c == 0xAC) return;
                }
                (void)escaped;
                builder_.Char(Cp1252(c), state.format);
                return;
        }
    }

    void Character(char16_t c) {
        skipBytes_ = 0;
        if (Current().destination == Destination::Text) builder_.Char(c, Current().format);
    }

    void CommitFont() {
        QString name = fontName_.trimmed();
        if (name.endsWith(';')) name.chop(1);
        if (!name.isEmpty()) fonts_[fontNumber_] = name;
        fontName_.clear();
    }

    void InsertAttachment(const QTextCharFormat& format) {
        const QString name = graphicName_.trimmed();
        if (name.isEmpty() || attachments_.empty()) return;
        const fs::path file = attachments_ / fs::path(name.toStdString()).filename();
        QImage image(QString::fromStdString(file.string()));
        if (!image.isNull()) builder_.Image(image, "rtfd:" + name, format);
    }

    std::string_view rtf_;
    std::size_t pos_ = 0;
    DocumentBuilder builder_;
    fs::path attachments_;
    std::vector<State> states_;
    std::map<long, QString> fonts_;
    long fontNumber_ = 0;
    long defaultFont_ = 0;
    QString fontName_;
    std::vector<QColor> colors_;
    int red_ = -1, green_ = -1, blue_ = -1;
    int skipBytes_ = 0;
    QString graphicName_;
    bool graphicNameDone_ = false;
    bool dropAttachmentMark_ = false;
};

// ---------------------------------------------------------------------------------------------
// ODT

struct TextProperties {
    std::optional<bool> bold, italic, underline;
    std::optional<double> size;
    std::optional<QColor> color;
    std::optional<QString> family;
    QString parent;

    void ApplyTo(QTextCharFormat& format) const {
        if (bold) format.setFontWeight(*bold ? QFont::Bold : QFont::Normal);
        if (italic) format.setFontItalic(*italic);
        if (underline) format.setFontUnderline(*underline);
        if (size && *size > 0) format.setFontPointSize(*size);
        if (color && color->isValid()) format.setForeground(QBrush(*color));
        if (family && !family->isEmpty()) format.setFontFamilies({*family});
    }
};

std::optional<double> LengthInPoints(QStringView value) {
    const auto withUnit = [&](QStringView unit, double factor) -> std::optional<double> {
        if (!value.endsWith(unit)) return std::nullopt;
        bool ok = false;
        const double number = value.chopped(unit.size()).toDouble(&ok);
        return ok ? std::optional<double>(number * factor) : std::nullopt;
    };
    if (auto pt = withUnit(u"pt", 1)) return pt;
    if (auto cm = withUnit(u"cm", 72 / 2.54)) return cm;
    if (auto mm = withUnit(u"mm", 72 / 25.4)) return mm;
    if (auto in = withUnit(u"in", 72)) return in;
    return std::nullopt;
}

QString Unquoted(QString family) {
    family = family.trimmed();
    if (family.size() >= 2 && (family.front() == '\'' || family.front() == '"')) family = family.mid(1, family.size() - 2);
    return family;
}

class OdtReader {
public:
    explicit OdtReader(QTextDocument& document) : builder_(document) {}

    void ReadStyles(std::string_view xml) {
        QXmlStreamReader reader(QByteArray(xml.data(), static_cast<qsizetype>(xml.size())));
        while (!reader.atEnd()) {
            reader.readNext();
            if (reader.isStartElement()) StyleElement(reader);
        }
    }

    // Font faces, styles and their text properties, wherever they stand.
    void StyleElement(const QXmlStreamReader& reader) {
        const QStringView name = reader.name();
        const QXmlStreamAttributes attributes = reader.attributes();
        if (name == u"font-face") {
            fontFaces_[attributes.value(QLatin1String("style:name")).toString()] =
                Unquoted(attributes.value(QLatin1String("svg:font-family")).toString());
        } else if (name == u"style" || name == u"default-style") {
            current_ = attributes.value(QLatin1String("style:name")).toString();
            styles_[current_].parent = attributes.value(QLatin1String("style:parent-style-name")).toString();
        } else if (name == u"text-properties" && !current_.isNull()) {
            TextProperties& properties = styles_[current_];
            const QString weight = attributes.value(QLatin1String("fo:font-weight")).toString();
            if (!weight.isEmpty()) properties.bold = weight == u"bold" || weight.toInt() >= 600;
            const QString style = attributes.value(QLatin1String("fo:font-style")).toString();
            if (!style.isEmpty()) properties.italic = style == u"italic" || style == u"oblique";
            const QString underline = attributes.value(QLatin1String("style:text-underline-style")).toString();
            if (!underline.isEmpty()) properties.underline = underline != u"none";
            if (auto size = LengthInPoints(attributes.value(QLatin1String("fo:font-size")))) properties.size = size;
            const QString color = attributes.value(QLatin1String("fo:color")).toString();
            if (!color.isEmpty()) properties.color = QColor(color);
            const QString family = attributes.value(QLatin1String("fo:font-family")).toString();
            const QString fontName = attributes.value(QLatin1String("style:font-name")).toString();
            if (!family.isEmpty())
                properties.family = Unquoted(family);
            else if (!fontName.isEmpty())
                properties.family = fontFaces_.count(fontName) ? fontFaces_[fontName] : fontName;
        }
    }

    bool ReadBody(std::string_view xml) {
        QXmlStreamReader reader(QByteArray(xml.data(), static_cast<qsizetype>(xml.size())));
        bool inBody = false;
        bool firstBlock = true;
        int skipDepth = 0;
        std::vector<QTextCharFormat> formats{QTextCharFormat()};
        std::vector<bool> pushed;
        while (!reader.atEnd()) {
            reader.readNext();
            if (reader.isStartElement()) {
                const QStringView name = reader.name();
                if (name == u"text" && IsOfficeNamespace(reader.namespaceUri())) inBody = true;
                if (!inBody) {
                    StyleElement(reader);
                    continue;
                }
                if (skipDepth > 0 || name == u"note" || name == u"annotation" || name == u"tracked-changes") {
                    ++skipDepth;
                    continue;
                }
                bool push = false;
                if (name == u"p" || name == u"h") {
                    if (!firstBlock) builder_.Paragraph();
                    firstBlock = false;
                    push = true;
                } else if (name == u"span" || name == u"a") {
                    push = true;
                } else if (name == u"tab") {
                    builder_.Char(u'\t', formats.back());
                } else if (name == u"line-break") {
                    builder_.Char(0x2028, formats.back());
                } else if (name == u"s") {
                    const int count = std::clamp(reader.attributes().value(QLatin1String("text:c")).toInt(), 1, 1000);
                    builder_.Text(QString(count, QChar(' ')), formats.back());
                }
                if (push) {
                    QTextCharFormat format = formats.back();
                    ApplyStyle(reader.attributes().value(QLatin1String("text:style-name")).toString(), format, 0);
                    formats.push_back(format);
                }
                pushed.push_back(push);
            } else if (reader.isEndElement()) {
                if (!inBody) continue;
                if (skipDepth > 0) {
                    --skipDepth;
                    continue;
                }
                if (reader.name() == u"text" && IsOfficeNamespace(reader.namespaceUri())) {
                    inBody = false;
                    continue;
                }
                if (!pushed.empty()) {
                    if (pushed.back() && formats.size() > 1) formats.pop_back();
                    pushed.pop_back();
                }
            } else if (reader.isCharacters() && inBody && skipDepth == 0 && formats.size() > 1) {
                // Only text inside a paragraph counts; white space between elements does not.
                QString text = reader.text().toString();
                text.replace(QChar('\n'), QChar(' '));
                builder_.Text(text, formats.back());
            }
        }
        builder_.Flush();
        return !reader.hasError() || !firstBlock;
    }

private:
    void ApplyStyle(const QString& name, QTextCharFormat& format, int depth) {
        if (name.isEmpty() || depth > 16) return;
        const auto it = styles_.find(name);
        if (it == styles_.end()) return;
        ApplyStyle(it->second.parent, format, depth + 1);
        it->second.ApplyTo(format);
    }

    static bool IsOfficeNamespace(QStringView uri) {
        return uri.endsWith(u"office:1.0") || uri.contains(u"openoffice.org/2000/office");
    }

    DocumentBuilder builder_;
    QString current_;
    std::map<QString, TextProperties> styles_;
    std::map<QString, QString> fontFaces_;
};

// ---------------------------------------------------------------------------------------------
// DOCX and WordML

bool WordToggle(const QXmlStreamAttributes& attributes) {
    const QStringView value = attributes.value(QLatin1String("w:val"));
    return !(value == u"0" || value == u"false" || value == u"off" || value == u"none");
}

bool ReadWordXml(std::string_view xml, QTextDocument& document) {
    QXmlStreamReader reader(QByteArray(xml.data(), static_cast<qsizetype>(xml.size())));
    DocumentBuilder builder(document);
    bool firstBlock = true;
    bool inBody = false;
    bool inRunProperties = false;
    bool inText = false;
    int skipDepth = 0;  // paragraph properties, deleted text, field codes
    QTextCharFormat run;
    while (!reader.atEnd()) {
        reader.readNext();
        const QStringView name = reader.name();
        const bool word = reader.namespaceUri().contains(u"wordprocessingml") ||
                          reader.namespaceUri().contains(u"office/word/2003/wordml");
        if (reader.isStartElement()) {
            if (!word) {
                if (skipDepth > 0) ++skipDepth;
                continue;
            }
            if (name == u"body") inBody = true;
            if (!inBody) continue;
            if (skipDepth > 0 || name == u"pPr" || name == u"del" || name == u"instrText" || name == u"delText") {
                ++skipDepth;
                continue;
            }
            const QXmlStreamAttributes attributes = reader.attributes();
            if (name == u"p") {
                if (!firstBlock) builder.Paragraph();
                firstBlock = false;
            } else if (name == u"r") {
                run = QTextCharFormat();
            } else if (name == u"rPr") {
                inRunProperties = true;
            } else if (inRunProperties) {
                if (name == u"b") run.setFontWeight(WordToggle(attributes) ? QFont::Bold : QFont::Normal);
                else if (name == u"i") run.setFontItalic(WordToggle(attributes));
                else if (name == u"u") run.setFontUnderline(WordToggle(attributes));
                else if (name == u"sz") {
                    const int halfPoints = attributes.value(QLatin1String("w:val")).toInt();
                    if (halfPoints > 0) run.setFontPointSize(halfPoints / 2.0);
                } else if (name == u"color") {
                    const QString value = attributes.value(QLatin1String("w:val")).toString();
                    const QColor color(u'#' + value);
                    if (value != u"auto" && color.isValid()) run.setForeground(QBrush(color));
                } else if (name == u"rFonts") {
                    QString family = attributes.value(QLatin1String("w:ascii")).toString();
                    if (family.isEmpty()) family = attributes.value(QLatin1String("w:hAnsi")).toString();
                    if (!family.isEmpty()) run.setFontFamilies({family});
                }
            } else if (name == u"t") {
                inText = true;
            } else if (name == u"tab") {
                builder.Char(u'\t', run);
            } else if (name == u"br" || name == u"cr") {
                builder.Char(0x2028, run);
            } else if (name == u"noBreakHyphen") {
                builder.Char(0x2011, run);
            }
        } else if (reader.isEndElement()) {
            if (skipDepth > 0) {
                --skipDepth;
                continue;
            }
            if (!word) continue;
            if (name == u"rPr") inRunProperties = false;
            if (name == u"t") inText = false;
            if (name == u"body") inBody = false;
        } else if (reader.isCharacters() && inText && skipDepth == 0) {
            builder.Text(reader.text().toString(), run);
        }
    }
    builder.Flush();
    return !firstBlock;
}

// ---------------------------------------------------------------------------------------------
// DOC: the text through the piece table

std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return at + 2 <= b.size() ? static_cast<std::uint16_t>(b[at] | b[at + 1] << 8) : 0;
}
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return at + 4 <= b.size() ? static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) |
                                    static_cast<std::uint32_t>(b[at + 3]) << 24
                              : 0;
}

std::optional<std::u16string> WordBinaryText(const fs::path& file) {
    const std::optional<std::vector<std::uint8_t>> word = platform::ReadCompoundFileStream(file, "WordDocument");
    if (!word || word->size() < 0x200 || U16(*word, 0) != 0xA5EC) return std::nullopt;
    const std::uint16_t flags = U16(*word, 0x0A);
    if (flags & 0x0100) return std::nullopt;  // encrypted
    const std::optional<std::vector<std::uint8_t>> table =
        platform::ReadCompoundFileStream(file, (flags & 0x0200) ? "1Table" : "0Table");
    // The FIB: its fixed part, then the counted arrays of 16-bit and 32-bit values, then the
    // offset and length pairs.
    std::size_t at = 32;
    const std::uint16_t csw = U16(*word, at);
    at += 2 + 2 * std::size_t{csw};
    const std::uint16_t cslw = U16(*word, at);
    const std::size_t longs = at + 2;
    at = longs + 4 * std::size_t{cslw};
    const std::uint32_t textLength = U32(*word, longs + 3 * 4);  // ccpText
    const std::uint16_t pairs = U16(*word, at);
    const std::size_t fcLcb = at + 2;
    if (pairs <= 33 || !table) return std::nullopt;
    const std::uint32_t fcClx = U32(*word, fcLcb + 33 * 8);
    const std::uint32_t lcbClx = U32(*word, fcLcb + 33 * 8 + 4);
    if (lcbClx == 0 || std::size_t{fcClx} + lcbClx > table->size()) return std::nullopt;
    std::size_t pos = fcClx;
    const std::size_t end = std::size_t{fcClx} + lcbClx;
    while (pos < end && (*table)[pos] == 0x01) pos += 3 + U16(*table, pos + 1);  // property runs
    if (pos >= end || (*table)[pos] != 0x02) return std::nullopt;
    const std::uint32_t lcb = U32(*table, pos + 1);
    pos += 5;
    if (lcb < 4 || pos + lcb > table->size() || (lcb - 4) % 12 != 0) return std::nullopt;
    const std::size_t pieces = (lcb - 4) / 12;
    std::u16string text;
    for (std::size_t i = 0; i < pieces && text.size() < textLength; ++i) {
        const std::uint32_t cpStart = U32(*table, pos + 4 * i);
        const std::uint32_t cpEnd = U32(*table, pos + 4 * (i + 1));
        if (cpEnd <= cpStart) continue;
        const std::size_t pcd = pos + 4 * (pieces + 1) + 8 * i;
        const std::uint32_t fc = U32(*table, pcd + 2);
        const bool compressed = fc & 0x40000000u;
        const std::size_t count = std::min<std::size_t>(cpEnd - cpStart, textLength - text.size());
        if (compressed) {
            const std::size_t offset = (fc & ~0x40000000u) / 2;
            for (std::size_t k = 0; k < count && offset + k < word->size(); ++k) text += Cp1252((*word)[offset + k]);
        } else {
            for (std::size_t k = 0; k < count && fc + 2 * k + 1 < word->size(); ++k)
                text += static_cast<char16_t>(U16(*word, fc + 2 * k));
        }
    }
    return text;
}

// ---------------------------------------------------------------------------------------------

std::optional<std::string> ZipPart(const fs::path& file, const char* name) {
    std::optional<std::vector<std::uint8_t>> part = platform::ReadZipEntry(file, name);
    if (!part) return std::nullopt;
    return AsString(part);
}

}  // namespace

bool ReadRtf(std::string_view rtf, QTextDocument& document, const fs::path& attachments) {
    return RtfReader(rtf, document, attachments).Read();
}

bool ReadOdtContent(std::string_view contentXml, std::string_view stylesXml, QTextDocument& document) {
    OdtReader reader(document);
    if (!stylesXml.empty()) reader.ReadStyles(stylesXml);
    return reader.ReadBody(contentXml);
}

bool ReadWordprocessingML(std::string_view documentXml, QTextDocument& document) {
    return ReadWordXml(documentXml, document);
}

bool ReadWordBinary(const fs::path& file, QTextDocument& document) {
    const std::optional<std::u16string> text = WordBinaryText(file);
    if (!text) return false;
    DocumentBuilder builder(document);
    const QTextCharFormat plain;
    bool inFieldCode = false;
    for (char16_t c : *text) {
        switch (c) {
            case 0x0D: builder.Paragraph(); break;
            case 0x0C: builder.Paragraph(true); break;
            case 0x0B: builder.Char(0x2028, plain); break;
            case 0x07: builder.Char(u'\t', plain); break;  // the end of a table cell
            case 0x13: inFieldCode = true; break;          // a field's code, up to its result
            case 0x14:
            case 0x15: inFieldCode = false; break;
            case 0x1E: builder.Char(0x2011, plain); break;
            case 0x1F: break;  // an optional hyphen
            default:
                if (!inFieldCode && (c >= 0x20 || c == u'\t')) builder.Char(c, plain);
        }
    }
    builder.Flush();
    return true;
}

bool ReadWebArchive(std::string_view archive, QTextDocument& document) {
    const std::optional<platform::PlistValue> root = platform::ParsePropertyList(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(archive.data()), archive.size()));
    const platform::PlistDictionary* top = root ? root->AsDictionary() : nullptr;
    const platform::PlistDictionary* main = top ? top->GetDictionary("WebMainResource") : nullptr;
    if (!main) return false;
    const platform::PlistData html = main->GetData("WebResourceData");
    const QString encoding = QString::fromStdString(main->GetString("WebResourceTextEncodingName"));
    // The pictures it holds are found by their addresses.
    if (const platform::PlistArray* resources = top->GetArray("WebSubresources")) {
        for (const platform::PlistValue& value : *resources) {
            const platform::PlistDictionary* resource = value.AsDictionary();
            if (!resource) continue;
            const platform::PlistData data = resource->GetData("WebResourceData");
            QImage image;
            if (image.loadFromData(data.data(), static_cast<int>(data.size())))
                document.addResource(QTextDocument::ImageResource,
                                     QUrl(QString::fromStdString(resource->GetString("WebResourceURL"))), image);
        }
    }
    document.setBaseUrl(QUrl(QString::fromStdString(main->GetString("WebResourceURL"))));
    document.setHtml(DecodeHtml(std::string_view(reinterpret_cast<const char*>(html.data()), html.size()), encoding));
    return true;
}

TextFormat DetectTextFormat(const fs::path& file) {
    std::error_code ec;
    const std::string extension = LowerExtension(file);
    if (fs::is_directory(file, ec)) return TextFormat::RTFD;
    char head[512] = {};
    std::ifstream in(file, std::ios::binary);
    in.read(head, sizeof head);
    const std::string_view start(head, static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    if (StartsWith(start, "{\\rtf")) return TextFormat::RTF;
    if (StartsWith(start, "PK\x03\x04")) {
        if (platform::ReadZipEntry(file, "word/document.xml")) return TextFormat::DOCX;
        if (platform::ReadZipEntry(file, "content.xml")) return TextFormat::ODT;
    }
    if (StartsWith(start, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return TextFormat::DOC;
    if (StartsWith(start, "bplist00") || extension == "webarchive") return TextFormat::WebArchive;
    if (extension == "html" || extension == "htm" || extension == "xhtml" || extension == "shtml")
        return TextFormat::HTML;
    std::string_view trimmed = start;
    if (StartsWith(trimmed, "\xEF\xBB\xBF")) trimmed.remove_prefix(3);
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.front()))) trimmed.remove_prefix(1);
    if (ContainsNoCase(trimmed.substr(0, 15), "<!doctype html") || ContainsNoCase(trimmed.substr(0, 6), "<html"))
        return TextFormat::HTML;
    if (StartsWith(trimmed, "<?xml") && start.find("office/word/2003/wordml") != std::string_view::npos)
        return TextFormat::WordML;
    return TextFormat::Plain;
}

std::optional<bool> LoadTextDocument(const fs::path& file, QTextDocument& document) {
    const TextFormat format = DetectTextFormat(file);
    bool read = false;
    switch (format) {
        case TextFormat::RTFD: {
            if (std::optional<std::string> rtf = ReadBytes(file / "TXT.rtf")) read = ReadRtf(*rtf, document, file);
            break;
        }
        case TextFormat::RTF:
            if (std::optional<std::string> rtf = ReadBytes(file)) read = ReadRtf(*rtf, document, file.parent_path());
            break;
        case TextFormat::DOCX:
            if (std::optional<std::string> xml = ZipPart(file, "word/document.xml")) read = ReadWordXml(*xml, document);
            break;
        case TextFormat::WordML:
            if (std::optional<std::string> xml = ReadBytes(file)) read = ReadWordXml(*xml, document);
            break;
        case TextFormat::ODT:
            if (std::optional<std::string> xml = ZipPart(file, "content.xml"))
                read = ReadOdtContent(*xml, ZipPart(file, "styles.xml").value_or(std::string()), document);
            break;
        case TextFormat::DOC: read = ReadWordBinary(file, document); break;
        case TextFormat::WebArchive:
            if (std::optional<std::string> bytes = ReadBytes(file)) read = ReadWebArchive(*bytes, document);
            break;
        case TextFormat::HTML:
            if (std::optional<std::string> bytes = ReadBytes(file)) {
                document.setBaseUrl(QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string() + "/")));
                document.setHtml(DecodeHtml(*bytes));
                read = true;
            }
            break;
        case TextFormat::Plain:
            if (std::optional<std::string> bytes = ReadBytes(file)) {
                document.setPlainText(DecodePlainText(*bytes));
                read = true;
            }
            break;
    }
    if (!read) return std::nullopt;
    return format != TextFormat::Plain;
}

}  // namespace pdfassembly
