#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bitmap.h"

// The PDF layer over MuPDF: open, unlock, count, boxes and rotation, drawing a page into a
// bitmap. One document may be drawn from several threads: its pages are loaded, recorded and
// drawn on readers of their own (the file opened again on a MuPDF context of its own, one page
// at a time each), and only what reads the document object itself runs under its lock.
namespace platform {

struct PdfRect {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    float width() const { return x1 - x0; }
    float height() const { return y1 - y0; }
};

struct PdfPageGeometry {
    PdfRect cropBox;     // as written in the page (inherited), normalised; empty when absent
    PdfRect mediaBox;    // likewise
    int rotation = 0;    // /Rotate in degrees, as written (inherited)
    float userUnit = 1;  // the size of a unit of the boxes in points (/UserUnit; 1 when absent or unusable)
};

// Why a page could not be drawn, with MuPDF's own words where it gave any.
struct PdfPageError {
    enum Kind { None, Locked, NoSuchPage, Unreadable, Cancelled, TooLarge, NoResources } kind = None;
    std::string message;
};

class PdfDocument;

// A page loaded and recorded, ready to be drawn into rows of pixels, all at once or in bands.
// While it lives, a cancel asked for through the function given when it was prepared stops
// the work in progress (loading, recording or drawing) within a few hundredths of a second.
class PreparedPdfPage {
public:
    ~PreparedPdfPage();
    PreparedPdfPage(const PreparedPdfPage&) = delete;
    PreparedPdfPage& operator=(const PreparedPdfPage&) = delete;

    int width() const;
    int height() const;
    ColorModel model() const;
    int components() const;  // samples per pixel, alpha included
    bool hasAlpha() const;
    // Errors MuPDF met and recovered from while reading and drawing the page (a missing
    // resource, an unknown operator...): the page is drawn as every viewer draws it. A command
    // drawn in several bands counts its errors in each.
    int warnings() const;

    // Draws the picture's rows [y0, y1) into `samples` (row y0 first, `stride` bytes apart),
    // white (no ink for CMYK) where the page leaves them empty. False when MuPDF gave up or a
    // cancel stopped it; `error` then says which. With a worker budget of more than one thread
    // (and rows enough), the rows are drawn in bands side by side, with the pixels of one
    // drawing of them; each thread then holds a scratch picture of the rows.
    bool DrawRows(int y0, int y1, std::uint8_t* samples, std::ptrdiff_t stride, PdfPageError* error = nullptr);

    struct Impl;

private:
    friend class PdfDocument;
    explicit PreparedPdfPage(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

class PdfDocument {
public:
    // Opens any file that is a PDF, whatever its name; nullptr when it is not one or cannot be
    // read.
    static std::unique_ptr<PdfDocument> Open(const std::filesystem::path& path);
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    // Whether the file has an encryption dictionary (also when its user password is empty).
    bool IsEncrypted() const;
    // Whether pages can be read now: not encrypted, or unlocked.
    bool IsUnlocked() const;
    // Tries a password (user or owner). True when the document is readable afterwards: a
    // document that is not encrypted, or already unlocked, answers true at once.
    bool Unlock(const std::string& password);
    // Whether `password` is the document's user or owner password. Unlike Unlock it is also
    // tried on a document that is readable already (one whose user password is empty, say),
    // which stays readable whatever the answer; on a locked document a right password unlocks
    // it. A document that is not encrypted accepts any password.
    bool AcceptsPassword(const std::string& password);
    // Whether the reader may copy the content: a document that is not encrypted, or one opened
    // with its owner password, always; false while locked; otherwise as its permission flags say.
    bool AllowsCopying() const;

    // Number of pages: those the page tree leads to, whatever it claims (a page tree that loops
    // back on itself ends where it loops); 0 when locked or unreadable.
    int PageCount() const;
    // The same, but nothing when the document is locked or its page tree cannot be read at
    // all, which is not the same as a document without pages.
    std::optional<int> ReadPageCount() const;
    // The count the page tree's root claims, read at once and believed (0 when locked or
    // unreadable): enough to get readers ready before the tree is walked.
    int ClaimedPageCount() const;
    // Opens a reader for the next page to take, so that a page loop's workers can open theirs
    // side by side while the page tree is read; nothing when locked or when it cannot be opened.
    void PrepareReader() const;
    // The raw boxes and rotation of a page (0-based); nothing when the page does not exist.
    std::optional<PdfPageGeometry> PageGeometry(int pageIndex) const;

    struct RenderRequest {
        int pageIndex = 0;        // 0-based
        float scale = 1;          // pixels per point, both directions
        int width = 0;            // pixel size of the result
        int height = 0;
        ColorModel model = ColorModel::RGB;
        bool alpha = false;       // RGB only: an alpha channel, opaque white under the page
    };
    // Loads a page and records it, ready to draw at the request's size and model; nothing when
    // it cannot be (`error` says why). `cancelled` is polled from another thread while the page
    // is loaded, recorded and drawn, for as long as the prepared page lives.
    std::unique_ptr<PreparedPdfPage> PreparePage(const RenderRequest& request,
                                                 const std::function<bool()>& cancelled = {},
                                                 PdfPageError* error = nullptr) const;
    // A rough measure of the work of drawing a page, for ordering pages heaviest first: the
    // bytes of its content streams and of the pictures and forms it draws, and a share for each
    // form, picture or shading those forms draw in turn and for each annotation of the page. 0
    // when it cannot be told.
    std::size_t PageWeight(int pageIndex) const;
    // Drops the readers kept for the next page, and those of the pages in progress as their
    // pages give them back, in the background (ReleaseInBackground); a later page opens a new
    // one. The page loop's workers call it once no page is left to start, so that neither they
    // nor the conversion wait for the readers to go.
    void DropReaders() const;

    // Draws a whole page. The crop box (the media box when the crop box is empty) turned by the
    // page's rotation in whole quarter turns and scaled by `scale` is the picture; its top-left
    // corner is the bitmap's. The part of the page inside both boxes is drawn into it, shrunk
    // to fit and centred when it is larger (a crop box larger than the media box leaves white
    // around the page). The bitmap starts as white (no ink for CMYK). An empty bitmap when the
    // page cannot be loaded or run at all, or the size is not sane; errors MuPDF recovers from
    // (a missing resource, say) are drawn past, as viewers do. `cancelled` is polled while drawing; when it answers true the drawing
    // is abandoned and an empty bitmap returned.
    Bitmap RenderPage(const RenderRequest& request, const std::function<bool()>& cancelled = {}) const;

    // A new PDF holding every page redrawn as vector content on a page of its crop box (the
    // media box when the crop box is empty), turned by the page's rotation in whole quarter
    // turns; the content is placed as RenderPage places it. Pages that cannot be loaded, or
    // have no box, are left out. Empty when no page was written (also while locked).
    std::vector<std::uint8_t> RedrawAsPdf() const;

    struct Impl;

private:
    explicit PdfDocument(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
