#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Text drawn without a windowing system: fonts found by name through fontconfig, the text shaped
// by HarfBuzz (ligatures, joining scripts, marks, characters beyond the 16-bit range as one
// glyph each) and its outlines rasterised and stroked by FreeType into coverage masks. Safe on any
// thread, with or without a Qt application.
namespace platform {

struct TextStyle {
    std::string fontName;        // a family ("DejaVu Sans"), a PostScript name or a fontconfig pattern
    double size = 12;            // em size in pixels
    double characterSpacing = 0; // extra advance after each glyph, pixels
};

// The glyphs of a shaped text, in visual order from the start of the baseline: pen positions in
// pixels, x to the right, y up.
struct ShapedText {
    std::string fontFile;        // the font the glyphs are from
    int faceIndex = 0;
    std::vector<std::uint32_t> glyphs;
    std::vector<double> x, y;
    double advance = 0;          // the pen's travel along the baseline
};

// The font fontconfig finds for the name: the named one when it exists and holds every character
// of the text, else the closest that does (the name's family first, then the default). False when
// no font at all can be had.
bool ShapeText(std::string_view utf8, const TextStyle& style, ShapedText& out);

// Coverage of a text on a canvas of canvasWidth × canvasHeight pixels, in a box of the canvas
// (top-down pixels) that holds the drawn glyphs widened by `margin` on every side, clipped to the
// canvas.
struct TextCoverage {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<std::uint8_t> fill;    // the glyphs' insides (empty when not asked for)
    std::vector<std::uint8_t> stroke;  // their outlines stroked (empty when not asked for)
};

// Shapes and rasterises the text with its baseline starting at (originX, originY) in canvas
// pixels (y up, from the lower left), turned counter-clockwise by `angle` radians about that
// point. `strokeWidth` > 0 asks for the stroke. False when nothing lands on the canvas or no font
// can be had.
bool RasterizeText(std::string_view utf8, const TextStyle& style, double originX, double originY, double angle,
                   int canvasWidth, int canvasHeight, bool fill, double strokeWidth, int margin, TextCoverage& out);

}  // namespace platform
