#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "engine/ImageConversion.h"
#include "platform/PdfText.h"

// Exports the text of a PDF's pages into text documents.

enum TextOutputKind : std::int32_t {
    kTextUTF8 = 1,
    kTextUTF16 = 2,
    kTextRTF = 3,
    kTextRTFD = 4,
    kTextDOC = 5,
    kTextDOCX = 6,
    kTextODT = 7,
};

struct PDFToTextConversion {
    std::filesystem::path sourceURL;       // the PDF
    std::filesystem::path destinationURL;  // the folder the documents go into
    std::optional<std::string> outputBaseName;   // none: the source's name without extension
    std::optional<std::string> outputExtension;  // none or empty: names without one
    std::optional<std::string> password;         // for an encrypted, locked document
    std::int32_t textOutputKind = kTextUTF8;     // TextOutputKind; any other value writes nothing
    std::int64_t onePerPage = 0;   // non-zero: a document per page; zero: one for the range
    std::int64_t startPage = 1;    // from 1
    std::int64_t endPage = 1;
    std::int32_t pageRangeType = 0;  // 1 the page startPage, 2 startPage to endPage, else all
    // Asked whether the export is cancelled before each page, and given each page number on the
    // caller's main thread (the export waits for it). May be null.
    ProgressCallbackInfo progressCallback;
};

// The integer the export throws when the source cannot be opened as a PDF.
constexpr int kTextExportCannotOpen = 301;

// Exports the pages' text. 1 when at least one document was written, 0 otherwise (nothing taken,
// the range outside the document, or every write failed). Throws kTextExportCannotOpen (an int)
// when the PDF cannot be opened; nothing else escapes. A wrong password throws nothing: a
// document that stays locked has no pages to give.
std::uint8_t ConvertPDFToTextDocuments(const PDFToTextConversion* record);

// The operation's object: the record (borrowed) and the opened document.
class PDFTextExtractor {
public:
    explicit PDFTextExtractor(const PDFToTextConversion* record);  // throws kTextExportCannotOpen
    ~PDFTextExtractor();
    PDFTextExtractor(const PDFTextExtractor&) = delete;
    PDFTextExtractor& operator=(const PDFTextExtractor&) = delete;

    std::uint8_t ExtractText();
    // Writes one document as the record's kind says; whether it was written.
    bool WriteTextDocument(const std::filesystem::path& file, const platform::StyledText& text) const;

    // Whether a page's text counts: longer than 19 UTF-16 units, or not empty once white space,
    // line ends and U+FFFC are trimmed from both ends.
    static bool IsTextTaken(const std::u16string& text);

private:
    void OpenDocument();

    const PDFToTextConversion* record_;
    std::unique_ptr<platform::PdfTextReader> document_;
};
