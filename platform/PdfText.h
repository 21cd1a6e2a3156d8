#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The text of PDF pages, from MuPDF. A reader belongs to one thread at a time; threads that
// read one file in parallel each open a reader of their own.
namespace platform {

// A stretch of text in one font: positions and lengths in UTF-16 units.
struct TextRun {
    std::size_t start = 0;
    std::size_t length = 0;
    std::string font;  // the font's name as the PDF gives it, subset prefix removed
    float size = 0;    // points
    bool bold = false;
    bool italic = false;
};

struct StyledText {
    std::u16string text;
    std::vector<TextRun> runs;  // cover `text` in order, without gaps
    // Appends another text, with nothing in between.
    void Append(const StyledText& other);
};

class PdfTextReader {
public:
    // Opens any file that is a PDF, whatever its name; nullptr when it is none. An encrypted
    // document is unlocked with `password` when one is given; it may stay locked.
    static std::unique_ptr<PdfTextReader> Open(const std::filesystem::path& path,
                                               const std::optional<std::string>& password);
    ~PdfTextReader();
    PdfTextReader(const PdfTextReader&) = delete;
    PdfTextReader& operator=(const PdfTextReader&) = delete;

    bool IsEncrypted() const;
    bool IsLocked() const;
    // 0 while locked.
    int PageCount() const;
    // A page's text: its lines in MuPDF's reading order, each line's characters (ligatures
    // expanded), with one line feed between two lines and none after the last. Nothing when the
    // page cannot be loaded.
    std::optional<StyledText> PageText(int pageIndex) const;

    struct Impl;

private:
    explicit PdfTextReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
