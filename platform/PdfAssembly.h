#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Building PDF documents with QPDF: pages taken from other PDFs or made from pictures, pages
// removed, and the finished document written with its passwords, permissions and document
// information.
namespace platform {

// How a built document is written. A password (user or owner) encrypts it with AES-256; the
// permissions then apply to readers who open it with the user password. Permissions denied
// without any password encrypt with an empty user password and an owner password of our own, so
// that the document opens for everyone and the denial holds. Unset information is not written.
struct PdfWriteOptions {
    std::optional<std::string> userPassword;
    std::optional<std::string> ownerPassword;
    bool allowsPrinting = true;
    bool allowsCopying = true;
    std::optional<std::string> title;
    std::optional<std::string> author;
    std::optional<std::string> subject;
    std::optional<std::string> keywords;
    std::optional<std::string> creator;
};

// An encoded picture placed on a page.
struct PdfPicture {
    enum class Encoding { DCT, JPX, Flate };
    Encoding encoding = Encoding::Flate;
    // DCT and JPX: the file's bytes, embedded as they are. Flate: packed 8-bit samples, rows top
    // to bottom, compressed here.
    std::vector<std::uint8_t> data;
    int width = 0;
    int height = 0;
    int components = 3;  // 1 grey, 3 RGB, 4 CMYK (DCT CMYK is taken as Adobe's inverted form)
    // Flate only: an 8-bit alpha plane of width × height samples, drawn as a soft mask.
    std::vector<std::uint8_t> alpha;
};

// Where a picture is drawn on its page, in points from the page's lower-left corner.
struct PdfPictureFrame {
    double pageWidth = 0;
    double pageHeight = 0;
    double x = 0, y = 0, width = 0, height = 0;
};

// A PDF read whole with QPDF, for rewriting or merging.
class PdfSource {
public:
    enum class OpenResult { Opened, CannotOpen, WrongPassword };
    // Opens and unlocks the file: with `password` when one is given (the user or the owner
    // password), else with the empty user password. Nothing, and the reason in `result`, when it
    // is not a PDF QPDF can read or stays locked.
    static std::unique_ptr<PdfSource> Open(const std::filesystem::path& file,
                                           const std::optional<std::string>& password, OpenResult* result = nullptr);
    ~PdfSource();
    PdfSource(const PdfSource&) = delete;
    PdfSource& operator=(const PdfSource&) = delete;

    bool IsEncrypted() const;
    // Not encrypted, opened with the owner password, or its permissions allow printing at any
    // resolution.
    bool AllowsPrinting() const;
    int PageCount() const;
    // The whole document with every page turned by `angle` and the options applied (its own
    // encryption dropped); nothing when QPDF fails.
    std::optional<std::vector<std::uint8_t>> WriteTurned(int angle, const PdfWriteOptions& options);

    struct Impl;

private:
    friend class PdfBuilder;
    explicit PdfSource(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// A page's rotation after turning it by `angle`: both in quarter turns (any other value counts
// as 0), the sum in 0, 90, 180 or 270.
int TurnedRotation(long long current, long long angle);

class PdfBuilder {
public:
    PdfBuilder();  // an empty document
    ~PdfBuilder();
    PdfBuilder(const PdfBuilder&) = delete;
    PdfBuilder& operator=(const PdfBuilder&) = delete;

    int PageCount() const;

    // Inserts every page of the PDF in `bytes` at `index` (0 … PageCount()), in order; the bytes
    // are kept as long as the builder. The number of pages inserted, 0 when the bytes are not a
    // PDF QPDF can read.
    int InsertPdfPages(std::vector<std::uint8_t> bytes, int index);
    // Reads the file whole first, so that it may be removed at once.
    int InsertPdfFile(const std::filesystem::path& file, int index);
    // Inserts every page of the source at `index`, turned by `angle`. With a title, an outline
    // entry at the top level points at the first of them and holds the source's own outline, its
    // destinations moved to the inserted pages (entries whose page was not inserted keep their
    // title and lose their destination). The source must live until the write. The number of
    // pages inserted.
    int InsertPdfSource(PdfSource& source, int index, int angle, const std::optional<std::string>& outlineTitle);
    // An outline entry at the top level pointing at page `pageIndex`; false when there is none.
    bool AddOutlineEntry(const std::string& title, int pageIndex);
    // Removes one page (0-based); false when there is none at the index.
    bool RemovePage(int index);
    // Inserts a page of the frame's page size holding the picture; false when the picture or the
    // frame is not sane or QPDF fails.
    bool InsertPicturePage(const PdfPicture& picture, const PdfPictureFrame& frame, int index);

    // The document with the options applied and its outline, if it has one; nothing when QPDF
    // fails or there is no page. Destinations point at the top-left corner of their page's crop
    // box.
    std::optional<std::vector<std::uint8_t>> Write(const PdfWriteOptions& options) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
