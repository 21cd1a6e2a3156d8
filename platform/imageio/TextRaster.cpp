#include "platform/imageio/TextRaster.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_STROKER_H
#include <fontconfig/fontconfig.h>
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <type_traits>

namespace platform {
namespace {

// The largest em size drawn: FreeType's 26.6 coordinates must not overflow.
constexpr double kLargestSize = 20000;

struct FontFile {
    std::string path;
    int index = 0;
};

// The code points of UTF-8 text (malformed bytes skipped).
std::vector<FcChar32> CodePoints(std::string_view utf8) {
    std::vector<FcChar32> points;
    const auto* p = reinterpret_cast<const FcChar8*>(utf8.data());
    int left = static_cast<int>(utf8.size());
    while (left > 0) {
        FcChar32 c = 0;
        const int n = FcUtf8ToUcs4(p, &c, left);
        if (n <= 0) {
            ++p;
            --left;
            continue;
        }
        p += n;
        left -= n;
        if (c > 0x20) points.push_back(c);  // spaces and controls need no glyph of their own
    }
    return points;
}

bool Covers(FcPattern* font, const std::vector<FcChar32>& points) {
    FcCharSet* set = nullptr;
    if (FcPatternGetCharSet(font, FC_CHARSET, 0, &set) != FcResultMatch || !set) return points.empty();
    for (FcChar32 c : points)
        if (!FcCharSetHasChar(set, c)) return false;
    return true;
}

bool FileOf(FcPattern* font, FontFile& out) {
    FcChar8* file = nullptr;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || !file) return false;
    out.path = reinterpret_cast<const char*>(file);
    int index = 0;
    FcPatternGetInteger(font, FC_INDEX, 0, &index);
    out.index = index;
    return true;
}

// The font for a name: a font of that PostScript name, else the fonts fontconfig sorts for it as a
// family (itself first when it exists, the default otherwise), the first of them holding every
// character of the text.
bool FindFont(const std::string& name, const std::vector<FcChar32>& points, FontFile& out) {
    static std::once_flag once;
    std::call_once(once, [] { FcInit(); });
    FcConfig* config = FcConfigReference(nullptr);
    if (!config) return false;
    bool found = false;
    if (!name.empty()) {
        FcPattern* byName = FcPatternCreate();
        FcPatternAddString(byName, FC_POSTSCRIPT_NAME, reinterpret_cast<const FcChar8*>(name.c_str()));
        FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, FC_CHARSET, nullptr);
        FcFontSet* list = FcFontList(config, byName, objects);
        if (list)
            for (int i = 0; i < list->nfont && !found; ++i)
                found = Covers(list->fonts[i], points) && FileOf(list->fonts[i], out);
        if (list) FcFontSetDestroy(list);
        FcObjectSetDestroy(objects);
        FcPatternDestroy(byName);
    }
    if (!found) {
        FcPattern* pattern = FcPatternCreate();
        if (!name.empty()) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcFontSet* sorted = FcFontSort(config, pattern, FcFalse, nullptr, &result);
        if (sorted) {
            for (int i = 0; i < sorted->nfont && !found; ++i)
                found = Covers(sorted->fonts[i], points) && FileOf(sorted->fonts[i], out);
            // No font has every character: the best one draws what it has.
            if (!found && sorted->nfont > 0) found = FileOf(sorted->fonts[0], out);
            FcFontSetDestroy(sorted);
        }
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return found;
}

// A FreeType library and face for one call.
class Face {
public:
    Face(const FontFile& file, double size) {
        if (FT_Init_FreeType(&library_) != 0) {
            library_ = nullptr;
            return;
        }
        if (FT_New_Face(library_, file.path.c_str(), file.index, &face_) != 0) {
            face_ = nullptr;
            return;
        }
        if (FT_Set_Char_Size(face_, 0, static_cast<FT_F26Dot6>(std::lround(size * 64)), 72, 72) != 0) {
            FT_Done_Face(face_);
            face_ = nullptr;
        }
    }
    ~Face() {
        if (face_) FT_Done_Face(face_);
        if (library_) FT_Done_FreeType(library_);
    }
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;
    FT_Library library() const { return library_; }
    FT_Face face() const { return face_; }

private:
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

bool Shape(std::string_view utf8, const TextStyle& style, const FontFile& file, FT_Face face, ShapedText& out) {
    hb_font_t* font = hb_ft_font_create_referenced(face);
    if (!font) return false;
    hb_ft_font_set_load_flags(font, FT_LOAD_NO_HINTING);
    hb_buffer_t* buffer = hb_buffer_create();
    hb_buffer_add_utf8(buffer, utf8.data(), static_cast<int>(utf8.size()), 0, static_cast<int>(utf8.size()));
    hb_buffer_guess_segment_properties(buffer);
    hb_shape(font, buffer, nullptr, 0);
    unsigned count = 0;
    const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer, &count);
    const hb_glyph_position_t* position = hb_buffer_get_glyph_positions(buffer, &count);
    out = ShapedText{};
    out.fontFile = file.path;
    out.faceIndex = file.index;
    double pen = 0;
    for (unsigned i = 0; i < count; ++i) {
        out.glyphs.push_back(info[i].codepoint);
        out.x.push_back(pen + position[i].x_offset / 64.0);
        out.y.push_back(position[i].y_offset / 64.0);
        pen += position[i].x_advance / 64.0 + style.characterSpacing;
    }
    out.advance = pen;
    hb_buffer_destroy(buffer);
    hb_font_destroy(font);
    return true;
}

struct SpanTarget {
    std::uint8_t* mask;
    int left, top, width, height, canvasHeight;
};

// Coverage spans (rows numbered upwards) into a top-down mask, each united with what is there.
void Spans(int y, int count, const FT_Span* spans, void* user) {
    const auto* t = static_cast<const SpanTarget*>(user);
    const int row = t->canvasHeight - 1 - y - t->top;
    if (row < 0 || row >= t->height) return;
    std::uint8_t* line = t->mask + static_cast<std::size_t>(row) * t->width;
    for (int s = 0; s < count; ++s) {
        const int from = std::max(0, spans[s].x - t->left);
        const int to = std::min(t->width, spans[s].x + spans[s].len - t->left);
        const unsigned c = spans[s].coverage;
        for (int x = from; x < to; ++x) line[x] = static_cast<std::uint8_t>(line[x] + c - line[x] * c / 255);
    }
}

void Render(FT_Library library, FT_Outline* outline, const SpanTarget& target) {
    FT_Raster_Params params{};
    params.source = outline;
    params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
    params.gray_spans = Spans;
    params.user = const_cast<SpanTarget*>(&target);
    params.clip_box.xMin = target.left;
    params.clip_box.xMax = target.left + target.width;
    params.clip_box.yMin = target.canvasHeight - target.top - target.height;
    params.clip_box.yMax = target.canvasHeight - target.top;
    FT_Outline_Render(library, outline, &params);
}

struct GlyphDeleter {
    void operator()(FT_Glyph g) const { if (g) FT_Done_Glyph(g); }
};
using GlyphPtr = std::unique_ptr<std::remove_pointer_t<FT_Glyph>, GlyphDeleter>;

}  // namespace

bool ShapeText(std::string_view utf8, const TextStyle& style, ShapedText& out) {
    if (!(style.size > 0) || style.size > kLargestSize) return false;
    FontFile file;
    if (!FindFont(style.fontName, CodePoints(utf8), file)) return false;
    Face face(file, style.size);
    return face.face() && Shape(utf8, style, file, face.face(), out);
}

bool RasterizeText(std::string_view utf8, const TextStyle& style, double originX, double originY, double angle,
                   int canvasWidth, int canvasHeight, bool fill, double strokeWidth, int margin, TextCoverage& out) {
    out = TextCoverage{};
    if (canvasWidth <= 0 || canvasHeight <= 0 || !(style.size > 0) || style.size > kLargestSize ||
        !std::isfinite(originX) || !std::isfinite(originY) || !std::isfinite(angle) || std::fabs(originX) > 1e7 ||
        std::fabs(originY) > 1e7)
        return false;
    const bool stroke = strokeWidth > 0 && std::isfinite(strokeWidth);
    if (!fill && !stroke) return false;
    FontFile file;
    if (!FindFont(style.fontName, CodePoints(utf8), file)) return false;
    Face face(file, style.size);
    ShapedText shaped;
    if (!face.face() || !Shape(utf8, style, file, face.face(), shaped)) return false;

    // Each glyph's outline placed on the canvas: along the baseline, turned about its start.
    FT_Matrix turn;
    turn.xx = static_cast<FT_Fixed>(std::lround(std::cos(angle) * 65536));
    turn.xy = static_cast<FT_Fixed>(std::lround(-std::sin(angle) * 65536));
    turn.yx = -turn.xy;
    turn.yy = turn.xx;
    FT_Stroker stroker = nullptr;
    if (stroke && FT_Stroker_New(face.library(), &stroker) == 0)
        FT_Stroker_Set(stroker, static_cast<FT_Fixed>(std::lround(std::min(strokeWidth, kLargestSize) * 32)),
                       FT_STROKER_LINECAP_BUTT, FT_STROKER_LINEJOIN_MITER_FIXED, 10 << 16);
    std::vector<GlyphPtr> fills, strokes;
    FT_BBox box{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    auto grow = [&](FT_Glyph g) {
        FT_BBox b;
        FT_Outline_Get_CBox(&reinterpret_cast<FT_OutlineGlyph>(g)->outline, &b);
        box.xMin = std::min(box.xMin, b.xMin);
        box.yMin = std::min(box.yMin, b.yMin);
        box.xMax = std::max(box.xMax, b.xMax);
        box.yMax = std::max(box.yMax, b.yMax);
    };
    for (std::size_t i = 0; i < shaped.glyphs.size(); ++i) {
        if (FT_Load_Glyph(face.face(), shaped.glyphs[i], FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING) != 0) continue;
        if (face.face()->glyph->format != FT_GLYPH_FORMAT_OUTLINE) continue;
        FT_Glyph raw = nullptr;
        if (FT_Get_Glyph(face.face()->glyph, &raw) != 0) continue;
        GlyphPtr glyph(raw);
        FT_Outline* outline = &reinterpret_cast<FT_OutlineGlyph>(raw)->outline;
        FT_Outline_Translate(outline, std::lround(shaped.x[i] * 64), std::lround(shaped.y[i] * 64));
        FT_Outline_Transform(outline, &turn);
        FT_Outline_Translate(outline, std::lround(originX * 64), std::lround(originY * 64));
        if (stroker) {
            FT_Glyph stroked = nullptr;
            if (FT_Glyph_Copy(raw, &stroked) == 0) {
                if (FT_Glyph_Stroke(&stroked, stroker, 1) == 0) {
                    grow(stroked);
                    strokes.emplace_back(stroked);
                } else {
                    FT_Done_Glyph(stroked);
                }
            }
        }
        if (fill) {
            grow(raw);
            fills.push_back(std::move(glyph));
        }
    }
    if (stroker) FT_Stroker_Done(stroker);
    if (box.xMin > box.xMax) return false;

    // The box in whole canvas pixels, widened by the margin and clipped to the canvas.
    const long left = std::max<long>(0, (box.xMin >> 6) - margin);
    const long right = std::min<long>(canvasWidth, ((box.xMax + 63) >> 6) + margin);
    const long bottom = std::max<long>(0, (box.yMin >> 6) - margin);
    const long upper = std::min<long>(canvasHeight, ((box.yMax + 63) >> 6) + margin);
    if (left >= right || bottom >= upper) return false;
    out.left = static_cast<int>(left);
    out.width = static_cast<int>(right - left);
    out.top = static_cast<int>(canvasHeight - upper);
    out.height = static_cast<int>(upper - bottom);
    const std::size_t pixels = static_cast<std::size_t>(out.width) * out.height;
    auto draw = [&](const std::vector<GlyphPtr>& glyphs, std::vector<std::uint8_t>& mask) {
        mask.assign(pixels, 0);
        const SpanTarget target{mask.data(), out.left, out.top, out.width, out.height, canvasHeight};
        for (const GlyphPtr& g : glyphs) Render(face.library(), &reinterpret_cast<FT_OutlineGlyph>(g.get())->outline, target);
    };
    if (fill) draw(fills, out.fill);
    if (stroke) draw(strokes, out.stroke);
    return true;
}

}  // namespace platform
