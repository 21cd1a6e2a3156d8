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
// bitmap. One document may be drawn from several threads: everything that touches the document
// itself runs under its lock; rasterising runs outside it, on a context of the thread's own.
namespace platform {

struct PdfRect {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    float width() const { return x1 - x0; }
    float height() const { return y1 - y0; }
};

struct PdfPageGeometry {
    PdfRect cropBox;   // as written in the page (inherited), normalised; empty when absent
    PdfRect mediaBox;  // likewise
    int rotation = 0;  // /Rotate in degrees, as written (inherited)
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

    // Number of pages; 0 when locked or unreadable.
    int PageCount() const;
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
    // Draws a page. The crop box (the media box when the crop box is empty) turned by the
    // page's rotation in whole quarter turns and scaled by `scale` is the picture; its top-left
    // corner is the bitmap's. The part of the page inside both boxes is drawn into it, shrunk
    // to fit and centred when it is larger (a crop box larger than the media box leaves white
    // around the page). The bitmap starts as white (no ink for CMYK). An empty bitmap when the
    // page cannot be loaded, MuPDF met errors reading or drawing it (a damaged page), or the
    // size is not sane. `cancelled` is polled while drawing; when it answers true the drawing
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
