// The Word 97 document of the text export: a compound file with the WordDocument stream (the
// file information block, the text, the character and paragraph property pages) and the 1Table
// stream (style sheet, section table, the page tables of the property pages, font table,
// document properties and the piece table). The text is one piece, 8-bit when every character
// has a Windows-1252 code, UTF-16 otherwise.

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/textexport/TextDocumentWriters.h"
#include "platform/ArchiveFiles.h"

namespace textexport {
namespace {

constexpr std::uint32_t kTextStart = 0x400;  // past the information block, on a 256-byte boundary
constexpr std::size_t kPageSize = 512;       // property pages are numbered in units of this
// Readers take streams this large from the big sectors, where they look for the property pages.
constexpr std::size_t kBigStreamSize = 4096;
constexpr std::uint32_t kNone = 0xFFFFFFFFu;

class Bytes {
public:
    void U8(std::uint8_t v) { bytes_.push_back(v); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v & 0xFF));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v & 0xFFFF));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void Append(const std::vector<std::uint8_t>& more) { bytes_.insert(bytes_.end(), more.begin(), more.end()); }
    void Put16(std::size_t at, std::uint16_t v) {
        bytes_[at] = static_cast<std::uint8_t>(v & 0xFF);
        bytes_[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    void Put32(std::size_t at, std::uint32_t v) {
        Put16(at, static_cast<std::uint16_t>(v & 0xFFFF));
        Put16(at + 2, static_cast<std::uint16_t>(v >> 16));
    }
    void PadTo(std::size_t size) {
        if (bytes_.size() < size) bytes_.resize(size, 0);
    }
    void PadToMultiple(std::size_t unit) { PadTo((bytes_.size() + unit - 1) / unit * unit); }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    std::vector<std::uint8_t>& Data() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// The Windows-1252 code of a character; nothing for characters it lacks.
std::optional<std::uint8_t> Cp1252(char16_t c) {
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == c) return static_cast<std::uint8_t>(0x80 + i);
    return std::nullopt;
}

struct CharacterFormat {
    std::uint16_t font = 0;  // index into the font table
    std::uint16_t halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool operator==(const CharacterFormat&) const = default;
};

// The document's characters as Word has them: paragraphs end in 0x0D, the last one too.
struct Content {
    std::u16string text;
    std::vector<std::pair<std::size_t, CharacterFormat>> runs;  // (end, format), in order
    std::vector<std::u16string> fonts;
};

std::u16string FontName(const std::string& font) {
    std::u16string name;
    for (const char16_t c : QString::fromStdString(font).toStdU16String())
        if (c >= 0x20 && name.size() < 64) name += c;
    return name.empty() ? u"Helvetica" : name;
}

Content Prepare(const platform::StyledText& styled) {
    Content content;
    std::map<std::u16string, std::uint16_t> fontIndex;
    const auto fontOf = [&](const std::string& font) {
        const std::u16string name = FontName(font);
        const auto [at, added] = fontIndex.emplace(name, static_cast<std::uint16_t>(content.fonts.size()));
        if (added) content.fonts.push_back(name);
        return at->second;
    };
    std::vector<platform::TextRun> runs = styled.runs;
    if (runs.empty() && !styled.text.empty()) runs.push_back({0, styled.text.size(), {}, 0, false, false});
    const std::u16string& in = styled.text;
    CharacterFormat last;
    for (const platform::TextRun& run : runs) {
        CharacterFormat format;
        format.font = fontOf(run.font);
        if (run.size > 0)
            format.halfPoints = static_cast<std::uint16_t>(std::clamp<long>(std::lround(run.size * 2), 2, 3276));
        format.bold = run.bold;
        format.italic = run.italic;
        const std::size_t before = content.text.size();
        const std::size_t end = std::min(in.size(), run.start + run.length);
        for (std::size_t i = run.start; i < end; ++i) {
            const char16_t c = in[i];
            const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
            if (c == u'\r' && i + 1 < in.size() && in[i + 1] == u'\n') continue;  // one paragraph end
            if (c == u'\n' || c == u'\r' || c == 0x2029) content.text += u'\x0D';
            else if (c == 0x2028 || c == u'\v') content.text += u'\x0B';  // a line break
            else if (c == u'\t' || c == u'\f') content.text += c;         // a tab, a page break
            else if (c < 0x20) continue;  // other controls would read as fields, cells and the like
            else if (high && !(i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF)) content.text += 0xFFFD;
            else if (low && !(i > 0 && in[i - 1] >= 0xD800 && in[i - 1] <= 0xDBFF)) content.text += 0xFFFD;
            else content.text += c;
        }
        if (content.text.size() == before) continue;
        if (!content.runs.empty() && content.runs.back().second == format) content.runs.back().first = content.text.size();
        else content.runs.emplace_back(content.text.size(), format);
        last = format;
    }
    if (content.fonts.empty()) fontOf({});
    if (content.text.empty() || content.text.back() != u'\x0D') {
        content.text += u'\x0D';
        if (!content.runs.empty() && content.runs.back().second == last) content.runs.back().first = content.text.size();
        else content.runs.emplace_back(content.text.size(), last);
    }
    return content;
}

// One stretch of text and the properties that a property page gives it.
struct PageEntry {
    std::uint32_t fcEnd;
    std::vector<std::uint8_t> properties;  // stored at an even place within the page
};

struct PropertyPage {
    std::uint32_t fcFirst, fcLast;
    std::uint32_t number;  // the page's place in the WordDocument stream, in 512-byte units
};

// Packs stretches into 512-byte pages: their boundaries from the page's start, then for each
// stretch `slot` bytes whose first holds the place of its properties (in 16-bit words), the
// properties from the page's end down (identical ones once per page), and the count last.
std::vector<PropertyPage> AppendPropertyPages(Bytes& stream, std::uint32_t fcFirst, const std::vector<PageEntry>& entries,
                                              std::size_t slot, std::size_t maxEntries) {
    std::vector<PropertyPage> pages;
    std::vector<std::uint32_t> fcs{fcFirst};
    std::vector<std::uint8_t> places;
    std::map<std::string, std::uint8_t> stored;  // properties already on the page, by their bytes
    std::vector<std::uint8_t> page(kPageSize, 0);
    std::size_t low = kPageSize - 1;
    const auto flush = [&] {
        const std::size_t n = places.size();
        for (std::size_t i = 0; i <= n; ++i)
            for (int b = 0; b < 4; ++b) page[4 * i + b] = static_cast<std::uint8_t>(fcs[i] >> (8 * b));
        for (std::size_t i = 0; i < n; ++i) page[4 * (n + 1) + slot * i] = places[i];
        page[kPageSize - 1] = static_cast<std::uint8_t>(n);
        pages.push_back({fcs.front(), fcs.back(), stream.Size() / static_cast<std::uint32_t>(kPageSize)});
        stream.Append(page);
        fcs = {fcs.back()};
        places.clear();
        stored.clear();
        page.assign(kPageSize, 0);
        low = kPageSize - 1;
    };
    for (const PageEntry& entry : entries) {
        for (;;) {
            const std::size_t n = places.size();
            const std::size_t front = 4 * (n + 2) + slot * (n + 1);
            const std::string key(entry.properties.begin(), entry.properties.end());
            const auto known = stored.find(key);
            const std::size_t place = known != stored.end() ? std::size_t{known->second} * 2
                                                            : (low - entry.properties.size()) & ~std::size_t{1};
            if (n < maxEntries && front <= place) {
                if (known == stored.end()) {
                    std::copy(entry.properties.begin(), entry.properties.end(), page.begin() + static_cast<std::ptrdiff_t>(place));
                    stored.emplace(key, static_cast<std::uint8_t>(place / 2));
                    low = place;
                }
                fcs.push_back(entry.fcEnd);
                places.push_back(static_cast<std::uint8_t>(place / 2));
                break;
            }
            flush();
        }
    }
    if (!places.empty()) flush();
    return pages;
}

void AppendPageTable(Bytes& table, const std::vector<PropertyPage>& pages) {
    for (const PropertyPage& page : pages) table.U32(page.fcFirst);
    table.U32(pages.back().fcLast);
    for (const PropertyPage& page : pages) table.U32(page.number);
}

void AppendName(Bytes& out, const std::u16string& name) {
    out.U16(static_cast<std::uint16_t>(name.size()));
    for (const char16_t c : name) out.U16(c);
    out.U16(0);
}

// A style: its base part, its name, then its paragraph and character property groups.
void AppendStyle(Bytes& table, std::uint16_t sti, bool paragraphStyle, std::uint16_t next, const std::u16string& name) {
    Bytes style;
    style.U16(sti);
    style.U16(static_cast<std::uint16_t>(0xFFF0 | (paragraphStyle ? 1 : 2)));  // based on no style
    style.U16(static_cast<std::uint16_t>(next << 4 | (paragraphStyle ? 2 : 1)));
    style.U16(0);  // the style's size, filled in below
    style.U16(0);
    AppendName(style, name);
    if (paragraphStyle) {
        style.U16(2);  // paragraph group: the style's own number, no properties
        style.U16(0);
    }
    style.U16(0);  // character group: no properties
    style.Put16(6, static_cast<std::uint16_t>(style.Size()));
    table.U16(static_cast<std::uint16_t>(style.Size()));
    table.Append(style.Data());
}

void AppendStyleSheet(Bytes& table) {
    table.U16(18);  // the header's size
    table.U16(15);  // styles: 0 Normal, 10 Default Paragraph Font, the rest unused
    table.U16(10);  // size of a style's base part
    table.U16(1);   // built-in names written
    table.U16(0x5B);
    table.U16(15);
    table.U16(0);
    for (int i = 0; i < 3; ++i) table.U16(0);  // default fonts: the font table's first
    for (std::uint16_t istd = 0; istd < 15; ++istd) {
        if (istd == 0) AppendStyle(table, 0, true, 0, u"Normal");
        else if (istd == 10) AppendStyle(table, 65, false, 10, u"Default Paragraph Font");
        else table.U16(0);
    }
}

void AppendFontTable(Bytes& table, const std::vector<std::u16string>& fonts) {
    table.U16(static_cast<std::uint16_t>(fonts.size()));
    table.U16(0);
    for (const std::u16string& name : fonts) {
        const std::size_t size = 40 + 2 * (name.size() + 1);
        table.U8(static_cast<std::uint8_t>(size - 1));
        table.U8(0x06);  // variable pitch, TrueType, family unknown
        table.U16(400);  // weight
        table.U8(0);     // character set: ANSI
        table.U8(0);     // no alternative name
        for (int i = 0; i < 34; ++i) table.U8(0);  // PANOSE and font signature: unknown
        for (const char16_t c : name) table.U16(c);
        table.U16(0);
    }
}

std::vector<std::uint8_t> CharacterProperties(const CharacterFormat& format) {
    Bytes group;
    const auto sprm16 = [&](std::uint16_t code, std::uint16_t value) {
        group.U16(code);
        group.U16(value);
    };
    sprm16(0x4A4F, format.font);  // ASCII, East Asian and other text
    sprm16(0x4A50, format.font);
    sprm16(0x4A51, format.font);
    sprm16(0x4A43, format.halfPoints);
    group.U16(0x0835);
    group.U8(format.bold ? 1 : 0);
    group.U16(0x0836);
    group.U8(format.italic ? 1 : 0);
    std::vector<std::uint8_t> out(group.Size() + 1);
    out[0] = static_cast<std::uint8_t>(group.Size());
    std::copy(group.Data().begin(), group.Data().end(), out.begin() + 1);
    return out;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> WordDocument(const platform::StyledText& styled) {
    const Content content = Prepare(styled);
    const bool eightBit = std::all_of(content.text.begin(), content.text.end(), [](char16_t c) { return Cp1252(c).has_value(); });
    const std::uint32_t unit = eightBit ? 1 : 2;
    const auto fcAt = [&](std::size_t cp) { return kTextStart + static_cast<std::uint32_t>(cp) * unit; };
    const auto ccp = static_cast<std::uint32_t>(content.text.size());

    Bytes word;
    word.PadTo(kTextStart);
    for (const char16_t c : content.text) {
        if (eightBit) word.U8(*Cp1252(c));
        else word.U16(c);
    }
    const std::uint32_t fcMac = word.Size();

    // The section: Word's default letter page, stated.
    word.PadToMultiple(2);
    const std::uint32_t fcSepx = word.Size();
    word.U16(27);  // the size of the properties that follow
    const std::pair<std::uint16_t, std::uint16_t> section[] = {{0xB01F, 12240}, {0xB020, 15840}, {0xB021, 1800},
                                                               {0xB022, 1800},  {0x9023, 1440},  {0x9024, 1440},
                                                               {0x3009, 2}};
    for (const auto& [code, value] : section) {
        word.U16(code);
        if (code == 0x3009) word.U8(static_cast<std::uint8_t>(value));
        else word.U16(value);
    }

    word.PadToMultiple(kPageSize);
    std::vector<PageEntry> characterRuns;
    for (const auto& [end, format] : content.runs) characterRuns.push_back({fcAt(end), CharacterProperties(format)});
    const std::vector<PropertyPage> characterPages = AppendPropertyPages(word, kTextStart, characterRuns, 1, 0x65);
    std::vector<PageEntry> paragraphs;
    for (std::size_t cp = 0; cp < content.text.size(); ++cp)
        if (content.text[cp] == u'\x0D') paragraphs.push_back({fcAt(cp + 1), {0, 1, 0, 0}});  // style 0, nothing else
    const std::vector<PropertyPage> paragraphPages = AppendPropertyPages(word, kTextStart, paragraphs, 13, 0x1D);
    word.PadTo(kBigStreamSize);

    Bytes table;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> places(93, {0, 0});
    const auto part = [&](int index, const auto& append) {
        const std::uint32_t start = table.Size();
        append();
        places[static_cast<std::size_t>(index)] = {start, table.Size() - start};
    };
    part(1, [&] { AppendStyleSheet(table); });
    places[0] = places[1];
    part(6, [&] {
        table.U32(0);
        table.U32(ccp);
        table.U16(0);
        table.U32(fcSepx);
        table.U16(0);
        table.U32(kNone);
    });
    part(12, [&] { AppendPageTable(table, characterPages); });
    part(13, [&] { AppendPageTable(table, paragraphPages); });
    part(15, [&] { AppendFontTable(table, content.fonts); });
    part(31, [&] {
        Bytes dop;
        dop.PadTo(500);
        dop.Put16(0, 0x0002);   // widow control
        dop.Put16(2, 1 << 2);   // footnotes numbered from 1
        dop.Put16(0x0A, 720);   // default tab stops every half inch
        table.Append(dop.Data());
    });
    part(33, [&] {
        table.U8(0x02);
        table.U32(16);
        table.U32(0);
        table.U32(ccp);
        table.U16(0);
        table.U32(eightBit ? (kTextStart * 2) | 0x40000000u : kTextStart);
        table.U16(0);
    });
    table.PadTo(kBigStreamSize);

    // The file information block.
    word.Put16(0x00, 0xA5EC);
    word.Put16(0x02, 0x00C1);  // Word 97
    word.Put16(0x06, 0x0409);
    word.Put16(0x0A, 0x1200);  // properties in 1Table, extended characters
    word.Put16(0x0C, 0x00BF);
    word.Put32(0x18, kTextStart);
    word.Put32(0x1C, fcMac);
    word.Put16(0x20, 14);
    word.Put16(0x3C, 0x0409);
    word.Put16(0x3E, 22);
    word.Put32(0x40, word.Size());
    word.Put32(0x4C, ccp);
    word.Put32(0x6C, characterPages.front().number);
    word.Put32(0x70, characterPages.front().number);
    word.Put32(0x74, static_cast<std::uint32_t>(characterPages.size()));
    word.Put32(0x78, paragraphPages.front().number);
    word.Put32(0x7C, paragraphPages.front().number);
    word.Put32(0x80, static_cast<std::uint32_t>(paragraphPages.size()));
    word.Put16(0x98, static_cast<std::uint16_t>(places.size()));
    for (std::size_t i = 0; i < places.size(); ++i) {
        word.Put32(0x9A + 8 * i, places[i].first);
        word.Put32(0x9A + 8 * i + 4, places[i].second);
    }
    // No later additions follow (0x9A + 93 * 8 holds a zero count).

    return platform::CompoundFileBytes({{"WordDocument", std::move(word.Data())}, {"1Table", std::move(table.Data())}});
}

}  // namespace textexport
