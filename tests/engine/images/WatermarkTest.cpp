// Watermarks on redrawn image files: their placement, the image's scale and opacity, the text in
// any font, mode and canvas model, and its shaping compared with Qt's own layout.
#include <gtest/gtest.h>

#include <QFont>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/ImageConverter.h"
#include "engine/images/ImageFileConversion.h"
#include "engine/images/Watermarks.h"
#include "platform/imageio/TextRaster.h"
#include "support/FormatReaders.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;

std::string Python(const std::string& script, const fs::path& folder) {
    std::string out;
    EXPECT_EQ(testimage::RunPythonProbe("from PIL import Image, ImageChops\nimport numpy as np\n" + script, folder, &out), 0)
        << out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::shared_ptr<platform::Bitmap> Solid(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    auto image = std::make_shared<platform::Bitmap>(platform::Bitmap::Allocate(width, height, platform::ColorModel::RGB, false));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = image->row(y) + 3 * x;
            p[0] = r, p[1] = g, p[2] = b;
        }
    return image;
}

// A redraw at the source's own size with the watermarks of `options`.
ImageConversion Record(const fs::path& source, const fs::path& output, const WatermarkOptions& options, bool text,
                       bool image) {
    ImageConversion r{};
    r.sourceURL = source;
    r.outputFolderURL = output;
    r.conversionOptions.imageType = kOutputPNG;
    r.conversionOptions.compressionQuality = 1;
    r.resizeOptions.sizeUnit = kSizePixels;
    r.textWatermarkEnabled = text;
    r.imageWatermarkEnabled = image;
    r.watermarkOptions = options;
    return r;
}

WatermarkOptions Text(const std::string& text, const char* font, std::int64_t size) {
    WatermarkOptions o;
    o.watermarkText = text;
    o.textFont = font;
    o.fontSize = size;
    o.textColor = WatermarkColor{0, 0, 0, 1};
    o.textOpacity = 1;
    o.watermarkSize = {550, 300};
    o.textPosition = {20, 150};
    o.textReferencePoint = {300, 200};
    return o;
}

}  // namespace

// Each axis keeps the box's distance to its nearest edge or centre, scaled with the canvas; the
// box's own size scales by the watermark scale.
TEST(WatermarkOrigin, NearestEdgeOrCentrePerAxis) {
    struct Case {
        double x, y, x2, y2;     // the box on the 550 × 367 reference canvas
        double W, H, s;          // the canvas and the scale
        double wantX, wantY;
    };
    const Case cases[] = {
        {20, 20, 220, 60, 1100, 734, 2, 40, 40},                   // near the left and bottom edges
        {175, 163.5, 375, 203.5, 1100, 734, 2, 350, 327},          // centred: stays centred
        {175, 163.5, 375, 203.5, 550, 367, 1, 175, 163.5},
        {350, 307, 550, 367, 1100, 734, 2, 700, 614},              // touching the right and top edges
        {100, 20, 250, 60, 1100, 734, 2, 0, 40},                   // left and centre equally near: 0
    };
    for (const Case& c : cases) {
        const WatermarkPoint p = WatermarkOriginForCanvas(c.x, c.y, c.x2, c.y2, c.W, c.H, 550, 367, c.s, c.s);
        EXPECT_DOUBLE_EQ(p.x, c.wantX) << c.x << " " << c.W;
        EXPECT_DOUBLE_EQ(p.y, c.wantY) << c.y << " " << c.H;
    }
    EXPECT_DOUBLE_EQ(WatermarkScaleForCanvas(1100, 734), 2);
    EXPECT_DOUBLE_EQ(WatermarkScaleForCanvas(300, 550), 1);
}

class Watermarks : public testing::Test {
protected:
    testpdf::TempDir dir;
    fs::path White(int width, int height) {
        const fs::path path = dir / ("white" + std::to_string(width) + "x" + std::to_string(height) + ".png");
        Python("Image.new('RGB', (" + std::to_string(width) + ", " + std::to_string(height) +
                   "), 'white').save(sys.argv[1] + '/" + path.filename().string() + "')\n",
               dir.path());
        return path;
    }
};

// An 1100 × 550 picture fitted into 550 pixels and scaled with the canvas's longer side; at half
// opacity it blends half-way, and the text drawn after it is fully opaque.
TEST_F(Watermarks, ImageWatermarkScalesWithTheCanvasAndBlends) {
    WatermarkOptions o;
    o.watermarkSize = {550, 300};
    o.imagePosition = {0, 0};
    o.imageReferencePoint = {550, 275};
    o.watermarkImage = Solid(1100, 550, 255, 0, 0);
    o.imageOpacity = 1;
    o.imageScale = 1;
    for (const auto& [w, h] : {std::pair{550, 300}, std::pair{1100, 600}}) {
        const fs::path out = dir / ("marked" + std::to_string(w) + ".png");
        ImageConversion r = Record(White(w, h), out, o, false, true);
        ASSERT_EQ(RenderImageFileToImage(&r), 1);
    }
    EXPECT_EQ(Python("for w, h in ((550, 300), (1100, 600)):\n"
                     "    im = Image.open(sys.argv[1] + '/marked%d.png' % w).convert('RGB')\n"
                     "    print(ImageChops.difference(im, Image.new('RGB', im.size, 'white')).getbbox(), im.getpixel((w // 2, h - 10)))\n",
                     dir.path()),
              "(0, 25, 550, 300) (255, 0, 0)\n(0, 50, 1100, 600) (255, 0, 0)");

    o.imageOpacity = 0.5;
    WatermarkOptions text = Text("\u2588", "DejaVu Sans", 100);  // a full block: solid ink
    text.textPosition = {300, 100};
    text.textReferencePoint = {400, 220};
    ImageConversion r = Record(White(550, 300), dir / "half.png", o, false, true);
    r.textWatermarkEnabled = 1;
    r.watermarkOptions.watermarkText = text.watermarkText;
    r.watermarkOptions.textFont = text.textFont;
    r.watermarkOptions.fontSize = text.fontSize;
    r.watermarkOptions.textColor = text.textColor;
    r.watermarkOptions.textOpacity = 1;
    r.watermarkOptions.textPosition = text.textPosition;
    r.watermarkOptions.textReferencePoint = text.textReferencePoint;
    ASSERT_EQ(RenderImageFileToImage(&r), 1);
    EXPECT_EQ(Python("im = Image.open(sys.argv[1] + '/half.png').convert('RGB')\n"
                     "r, g, b = im.getpixel((100, 200))\n"
                     "print(r == 255 and abs(g - 128) <= 1 and abs(b - 128) <= 1, im.getpixel((330, 180)))\n",
                     dir.path()),
              "True (0, 0, 0)");
}

// A reference canvas of no size places no watermark: the picture is written without them.
TEST_F(Watermarks, UnusableSizesAreSkipped) {
    for (const WatermarkSize size : {WatermarkSize{0, 0}, WatermarkSize{550, 0}, WatermarkSize{-550, 300}}) {
        WatermarkOptions o = Text("\u2588", "DejaVu Sans", 100);
        o.watermarkSize = size;
        o.imagePosition = {0, 0};
        o.imageReferencePoint = {100, 100};
        o.watermarkImage = Solid(100, 100, 255, 0, 0);
        o.imageOpacity = 1;
        o.imageScale = 1;
        ImageConversion r = Record(White(200, 100), dir / "none.png", o, true, true);
        ASSERT_EQ(RenderImageFileToImage(&r), 1);
        EXPECT_EQ(Python("im = Image.open(sys.argv[1] + '/none.png').convert('RGB')\n"
                         "print(ImageChops.difference(im, Image.new('RGB', im.size, 'white')).getbbox())\n",
                         dir.path()),
                  "None")
            << size.width << " " << size.height;
    }
    // Sizes beyond any canvas draw what lands on it, or nothing, and the picture is written.
    WatermarkOptions o = Text("\u2588", "DejaVu Sans", std::int64_t{1} << 50);
    o.shadowEnabled = 1;
    o.shadowColor = WatermarkColor{0, 0, 0, 1};
    o.shadowBlur = std::int64_t{1} << 60;
    o.lineWidth = std::int64_t{1} << 60;
    o.textDrawingMode = 2;
    o.imagePosition = {-1e300, 0};
    o.imageReferencePoint = {1e300, 1e300};
    o.watermarkImage = Solid(100, 100, 255, 0, 0);
    o.imageOpacity = 1;
    o.imageScale = 1e300;
    ImageConversion r = Record(White(200, 100), dir / "huge.png", o, true, true);
    EXPECT_EQ(RenderImageFileToImage(&r), 1);
}

// The text in a font nobody has, stroked, turned and with a shadow, on grey, RGB and CMYK
// canvases; no Qt application exists in this test's process, and none is needed.
TEST_F(Watermarks, TextDrawsInEveryModeAndModel) {
    const fs::path white = White(550, 300);
    struct Case {
        const char* name;
        const char* font;
        int mode;
        std::int64_t rotation;
        bool shadow;
        int colorModel;
        const char* probe;  // Pillow: prints True when the drawing is as it should be
    };
    // The full block is 100 pixels wide: its left edge is at x = 20 + its side bearing; rows of
    // the canvas run from the top, the baseline at y = 300 - 150 = 150.
    const char* inked = "print(a.min() < 60)\n";
    const Case cases[] = {
        {"unknown.png", "No Such Font 12345", 0, 0, false, 0, inked},
        {"grey.tif", "DejaVu Sans", 0, 0, false, kColorGray, inked},
        {"cmyk.tif", "DejaVu Sans", 0, 0, false, kColorCMYK, inked},
        // Stroked: the block's middle stays white, its outline is inked.
        {"stroke.png", "DejaVu Sans", 1, 0, false, 0,
         "ys, xs = np.nonzero(a < 128)\n"
         "print(a[(ys.min() + ys.max()) // 2, (xs.min() + xs.max()) // 2] > 250 and len(xs) > 100)\n"},
        // Turned a quarter counter-clockwise about the baseline's start: the ink lies left of it.
        {"turned.png", "DejaVu Sans", 0, 90, false, 0,
         "ys, xs = np.nonzero(a < 128)\nprint(xs.max() <= 21 and ys.max() <= 151)\n"},
        // A shadow below and to the right, grey where the text is not.
        {"shadow.png", "DejaVu Sans", 0, 0, true, 0,
         "ys, xs = np.nonzero(a < 100)\n"
         "print(a[ys.max() + 10, (xs.min() + xs.max()) // 2] < 200 and a[ys.min() - 10, (xs.min() + xs.max()) // 2] > 250)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The block reaches below the baseline; the turned case draws an I, which stands on it.
        WatermarkOptions o = Text(c.rotation ? "I" : "\u2588", c.font, 100);
        o.textDrawingMode = c.mode;
        o.lineWidth = 3;
        o.textRotation = c.rotation;
        o.shadowEnabled = c.shadow;
        o.shadowColor = WatermarkColor{0, 0, 0, 0.5};
        o.shadowBlur = 4;
        o.shadowOffsetX = 5;
        o.shadowOffsetY = -20;
        const fs::path out = dir / c.name;
        if (c.colorModel) {
            ImageConverter converter;
            ASSERT_TRUE(converter.OpenSourceImage(white));
            converter.SetOutputOptions(kOutputTIFF, out, 1);
            converter.colorModel = c.colorModel;
            converter.SetWatermarkOptions(o, true);
            ImageResizeOptions same;
            same.sizeUnit = kSizePixels;
            ASSERT_TRUE(converter.ResizeAndWriteImage(same));
        } else {
            ImageConversion r = Record(white, out, o, true, false);
            ASSERT_EQ(RenderImageFileToImage(&r), 1);
        }
        EXPECT_EQ(Python("im = Image.open(sys.argv[1] + '/" + std::string(c.name) + "')\n"
                         "a = np.asarray(im.convert('RGB').convert('L'), int)\n" +
                             c.probe,
                         dir.path()),
                  "True")
            << c.name;
    }
}

// Shaped text: an Arabic word joins into the glyphs Qt's own layout chooses for it (not the
// isolated forms of its letters), and a character beyond the 16-bit range is one glyph; drawn as
// a watermark it covers what Qt's drawing of the same string covers.
TEST(WatermarkShaping, TextIsShapedAsQtLaysItOut) {
    int argc = 1;
    char name[] = "watermark-test";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    for (const char* text : {"\u0633\u0644\u0627\u0645 \u0639\u0644\u064a\u0643\u0645", "A\U0001D538B"}) {
        SCOPED_TRACE(text);
        const QString string = QString::fromUtf8(text);
        QFont font("DejaVu Sans");
        font.setPixelSize(48);
        font.setHintingPreference(QFont::PreferNoHinting);
        QTextLayout layout(string, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        std::vector<std::pair<double, std::uint32_t>> qt;
        for (const QGlyphRun& run : layout.glyphRuns()) {
            ASSERT_EQ(run.rawFont().familyName(), "DejaVu Sans");
            const QVector<quint32> ids = run.glyphIndexes();
            const QVector<QPointF> at = run.positions();
            for (int i = 0; i < ids.size(); ++i) qt.emplace_back(at[i].x(), ids[i]);
        }
        std::sort(qt.begin(), qt.end());
        // From the leftmost glyph: Qt may align a right-to-left line elsewhere.
        for (auto& g : qt) g.first -= qt.front().first;

        platform::ShapedText shaped;
        ASSERT_TRUE(platform::ShapeText(text, {"DejaVu Sans", 48, 0}, shaped));
        // Character spacing widens every advance.
        platform::ShapedText spaced;
        ASSERT_TRUE(platform::ShapeText(text, {"DejaVu Sans", 48, 10}, spaced));
        ASSERT_EQ(spaced.glyphs, shaped.glyphs);
        EXPECT_NEAR(spaced.advance - shaped.advance, 10.0 * shaped.glyphs.size(), 1e-9);
        std::vector<std::pair<double, std::uint32_t>> ours;
        for (std::size_t i = 0; i < shaped.glyphs.size(); ++i) ours.emplace_back(shaped.x[i], shaped.glyphs[i]);
        std::sort(ours.begin(), ours.end());
        for (auto& g : ours) g.first -= ours.front().first;
        ASSERT_EQ(ours.size(), qt.size());
        for (std::size_t i = 0; i < ours.size(); ++i) {
            EXPECT_EQ(ours[i].second, qt[i].second) << i;
            EXPECT_NEAR(ours[i].first, qt[i].first, 1.5) << i;
        }
        // Not the letters one by one: the joined word has glyphs of its own.
        const QVector<quint32> isolated = QRawFont::fromFont(font).glyphIndexesForString(string);
        if (string.startsWith(QChar(0x0633))) {
            std::vector<std::uint32_t> mine = shaped.glyphs, letters(isolated.begin(), isolated.end());
            std::sort(mine.begin(), mine.end());
            std::sort(letters.begin(), letters.end());
            EXPECT_NE(mine, letters);
        } else {
            EXPECT_EQ(shaped.glyphs.size(), 3u);  // the surrogate pair is one character
        }

        // Drawn: the ink of our watermark against Qt's drawing of the string at the same place.
        testpdf::TempDir dir;
        Python("Image.new('RGB', (600, 120), 'white').save(sys.argv[1] + '/w.png')\n", dir.path());
        WatermarkOptions o = Text(text, "DejaVu Sans", 48);
        o.watermarkSize = {550, 110};  // the canvas's longer side is 600: the scale is 600 / 550
        o.fontSize = 44;               // 44 × 600 / 550 = 48 pixels
        o.textPosition = {20, 30};
        o.textReferencePoint = {300, 80};
        ImageConversion r = Record(dir / "w.png", {}, o, true, false);
        r.returnImageInstead = 1;
        ASSERT_EQ(RenderImageFileToImage(&r), 1);
        ASSERT_TRUE(r.outputImage);
        const WatermarkPoint origin = WatermarkOriginForCanvas(20, 30, 300, 80, 600, 120, 550, 110,
                                                               WatermarkScaleForCanvas(600, 120),
                                                               WatermarkScaleForCanvas(600, 120));
        QImage qtImage(600, 120, QImage::Format_RGB32);
        qtImage.fill(Qt::white);
        {
            QPainter painter(&qtImage);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QPointF(origin.x, 120 - origin.y), string);
        }
        auto box = [](auto dark, int& x0, int& y0, int& x1, int& y1) {
            x0 = y0 = 1 << 30;
            x1 = y1 = -1;
            for (int y = 0; y < 120; ++y)
                for (int x = 0; x < 600; ++x)
                    if (dark(x, y)) x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        };
        int a[4], b[4];
        const platform::Bitmap& mine = *r.outputImage;
        box([&](int x, int y) { return mine.row(y)[x * mine.components] < 128; }, a[0], a[1], a[2], a[3]);
        box([&](int x, int y) { return qGray(qtImage.pixel(x, y)) < 128; }, b[0], b[1], b[2], b[3]);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(a[i], b[i], 2) << i;
    }
}
