#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "platform/Bitmap.h"
#include "support/PixelChecks.h"

// Reading a written image file back with a reader that is not ours, and comparing what it holds
// with the page it was made from: one dispatch over the output formats, shared by the encoder
// tests and the engine's output-type tests.
namespace testimage {

// How a file is decoded and compared.
enum class Reader {
    Pil,        // PIL; pixels as they are (ink when the file holds CMYK)
    Icon,       // PIL, its largest entry: the page fitted into a square and centred
    Pict,       // ImageMagick
    MacPaint,   // netpbm, then PIL: dithered, centred on a 576 × 720 sheet
    XBitmap,    // ImageMagick, as X11 reads the bits: dithered
    Fax,        // PIL and libtiff: dithered, CCITT Group 4
    Exr,        // the OpenEXR library: linear light back to sRGB
    QuickTime,  // our reading of the container, PIL for the picture inside
    Pdf,        // qpdf, poppler's pdfimages, MuPDF's mutool draw
    Dng,        // PIL for the preview, libtiff for the raw image, dcraw to develop it
    FlashPix,   // PIL, premultiplied colour in whole 64-pixel tiles
};

// What the file must hold.
struct PageExpectation {
    int width = 0, height = 0;       // the page in pixels
    platform::ColorModel model = platform::ColorModel::RGB;  // the page's model
    bool alpha = false;              // the page has alpha and the format keeps it
    // The page's straight colour at a pixel, as the file keeps it (composited over white by the
    // caller when the format has no alpha).
    std::function<Rgba(int, int)> colour;
    std::vector<std::uint8_t> ink;   // the page's samples, rows packed, for files that keep CMYK
    std::vector<FlatArea> areas;     // the page's flat areas, for one-bit formats
    // Page points (in pixels) around which the page is uniform: where icons are sampled.
    std::vector<std::pair<double, double>> probes;
    const char* format = nullptr;    // PIL's format name; nullptr: not checked
    const char* mode = nullptr;      // PIL's mode of the file; nullptr: not checked
    int tolerance = 0;               // per sample
    std::function<bool(int, int)> compared;  // the pixels compared (all when empty)
    int iconSide = 0;                // icons: the largest square
    int frames = 1;                  // of the file; `frame` is the one checked
    int frame = 0;
    float dpi = 0;                   // checked where the reader reads it with the pixels
};

// The resolution the reader found with the pixels ({0, 0} when it reads none).
struct ReadResolution {
    double x = 0, y = 0;
};

// Decodes `file` with the reader and checks it against the page (gtest expectations; a fatal
// failure returns early). `found`, when given, receives the resolution read with the pixels.
void ExpectFileHoldsPage(Reader reader, const std::filesystem::path& file, const PageExpectation& page,
                         ReadResolution* found = nullptr);

}  // namespace testimage
