// Resize, fit and redraw of image files, checked against Pillow's own resampling and transposes,
// ImageMagick's reading of the resolution and libtiff's reading of CMYK with alpha.
#include <gtest/gtest.h>

#include <lcms2.h>
#include <tiffio.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "engine/ImageConverter.h"
#include "engine/images/ImageFileConversion.h"
#include "platform/SystemVersion.h"
#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;

std::string Trimmed(std::string out) {
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// Runs a Pillow (and numpy) script with the folder as sys.argv[1]; its printed output.
std::string Python(const std::string& script, const fs::path& folder) {
    std::string out;
    EXPECT_EQ(testimage::RunPythonProbe("from PIL import Image\nimport numpy as np\n" + script, folder, &out), 0) << out;
    return Trimmed(out);
}

// The resolution ImageMagick reads, in dots per inch, rounded.
std::string Resolution(const fs::path& file) {
    std::string out;
    testimage::RunCommand("/usr/bin/identify -units PixelsPerInch -format '%[fx:round(resolution.x)] %[fx:round(resolution.y)]' " +
                              testimage::ShellQuote(file.string()),
                          &out);
    return Trimmed(out);
}

ImageConversion Record(const fs::path& source, const fs::path& output, int type) {
    ImageConversion r{};
    r.sourceURL = source;
    r.outputFolderURL = output;
    r.conversionOptions.imageType = type;
    r.conversionOptions.compressionQuality = 1.0;
    return r;
}

ImageResizeOptions Pixels(double width, double height, int fitMode, bool keepAspect, bool enlarge) {
    ImageResizeOptions o;
    o.resizeToTarget = 1;
    o.sizeUnit = kSizePixels;
    o.targetWidth = width;
    o.targetHeight = height;
    o.fitMode = fitMode;
    o.keepAspectRatio = keepAspect;
    o.allowEnlarging = enlarge;
    return o;
}

class ImageResize : public testing::Test {
protected:
    testpdf::TempDir dir;
    // 1000 × 500: red grows to the right, green downwards, blue in 50-pixel squares; 72 dpi.
    fs::path Source() {
        Python("x = np.arange(1000)[None, :].repeat(500, 0); y = np.arange(500)[:, None].repeat(1000, 1)\n"
               "a = np.stack([x * 255 // 999, y * 255 // 499, ((x // 50 + y // 50) % 2) * 255], 2).astype(np.uint8)\n"
               "Image.fromarray(a, 'RGB').save(sys.argv[1] + '/src.png', dpi=(72, 72))\n",
               dir.path());
        return dir / "src.png";
    }
};

// The fit modes: the canvas each gives and where the picture lands on it, compared with Pillow's
// Lanczos (shrinking) and bicubic (enlarging) drawing of the source into the same rectangle.
TEST_F(ImageResize, FitModesGiveTheirCanvasAndRectangle) {
    const fs::path source = Source();
    struct Case {
        const char* name;
        ImageResizeOptions options;
        int width, height;        // the canvas; 0: the operation fails
        int x, y, w, h;           // the drawing rectangle, y up
        const char* filter;       // Pillow's filter for the expected picture
        long dpi = 0;
    };
    auto inches = [](double w, double h, int fit, bool aspect) {
        ImageResizeOptions o = Pixels(w, h, fit, aspect, true);
        o.sizeUnit = kSizeInches;
        o.targetResolution = 300;
        return o;
    };
    ImageResizeOptions percent = Pixels(50, 0, 0, true, false);
    percent.sizeUnit = kSizePercent;
    const Case cases[] = {
        {"inside.png", Pixels(400, 400, 2, true, true), 400, 200, 0, 0, 400, 200, "LANCZOS"},
        {"cover.png", Pixels(400, 400, 5, true, true), 800, 400, 0, 0, 800, 400, "LANCZOS"},
        {"cover-crop.png", Pixels(400, 400, 6, true, true), 400, 400, -200, 0, 800, 400, "LANCZOS"},
        {"aspect-crop.png", Pixels(400, 400, 3, true, true), 0, 0, 0, 0, 0, 0, ""},
        {"aspect-both.png", Pixels(400, 400, 0, true, true), 0, 0, 0, 0, 0, 0, ""},
        {"inside-no-height.png", Pixels(400, 0, 2, true, true), 0, 0, 0, 0, 0, 0, ""},
        {"cover-one-side.png", Pixels(400, 0, 5, true, true), 400, 200, 0, 0, 400, 200, "LANCZOS"},
        {"crop.png", Pixels(400, 400, 3, false, true), 400, 400, -300, -50, 1000, 500, ""},
        {"stretch.png", Pixels(400, 400, 2, false, true), 400, 400, 0, 0, 400, 400, "LANCZOS"},
        {"enlarge.png", Pixels(2000, 2000, 2, true, true), 2000, 1000, 0, 0, 2000, 1000, "BICUBIC"},
        {"no-enlarge.png", Pixels(2000, 2000, 2, true, false), 1000, 500, 0, 0, 1000, 500, ""},
        {"no-stretch.png", Pixels(2000, 300, 0, false, false), 1000, 500, 0, 0, 1000, 500, ""},
        // Fit mode 3 with a factor above 1: the unscaled picture in the middle of a larger canvas.
        {"centred.png", Pixels(1500, 0, 3, true, true), 1500, 750, 250, 125, 1000, 500, ""},
        {"half.png", percent, 500, 250, 0, 0, 500, 250, "LANCZOS"},
        // 2 inches at 300 dpi are 599.99997 pixels: rounded where the aspect is kept, truncated
        // where the picture is stretched.
        {"two-inches.png", inches(2, 0, 0, true), 600, 300, 0, 0, 600, 300, "LANCZOS", 300},
        {"two-by-one.png", inches(2, 1, 0, false), 599, 299, 0, 0, 599, 299, "LANCZOS", 300},
    };
    std::string expected = "cases = [";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageConversion r = Record(source, dir / c.name, kOutputPNG);
        r.resizeOptions = c.options;
        ASSERT_EQ(RenderImageFileToImage(&r), c.width ? 1 : 0);
        EXPECT_EQ(fs::exists(dir / c.name), c.width != 0);
        if (!c.width) continue;
        expected += "('" + std::string(c.name) + "', " + std::to_string(c.width) + ", " + std::to_string(c.height) +
                    ", " + std::to_string(c.x) + ", " + std::to_string(c.y) + ", " + std::to_string(c.w) + ", " +
                    std::to_string(c.h) + ", '" + c.filter + "'),";
        if (c.dpi) {
            EXPECT_EQ(Resolution(dir / c.name), std::to_string(c.dpi) + " " + std::to_string(c.dpi));
        }
    }
    expected += "]\n";
    // Each output against the source drawn by Pillow into the rectangle on a transparent canvas.
    const std::string report = Python(
        expected +
            "src = Image.open(sys.argv[1] + '/src.png').convert('RGBA')\n"
            "for name, W, H, x, y, w, h, f in cases:\n"
            "    out = Image.open(sys.argv[1] + '/' + name)\n"
            "    r = src.resize((w, h), getattr(Image.Resampling, f)) if f else src\n"
            "    want = Image.new('RGBA', (W, H), (0, 0, 0, 0)); want.paste(r, (x, H - y - h))\n"
            "    d = np.abs(np.asarray(out.convert('RGBA'), int) - np.asarray(want, int)).max() if out.size == (W, H) else -1\n"
            "    print(name, out.size[0], out.size[1], 'ok' if 0 <= d <= 2 else 'differs by %d' % d)\n",
        dir.path());
    std::string want;
    for (const Case& c : cases)
        if (c.width) want += std::string(c.name) + " " + std::to_string(c.width) + " " + std::to_string(c.height) + " ok\n";
    EXPECT_EQ(report + "\n", want);
}

// Every turn and mirror is an exact permutation of the pixels, the same as Pillow's transposes;
// a quarter turn swaps the resolutions; an angle off the multiples of 90 turns nothing.
TEST_F(ImageResize, OrientationsArePixelExact) {
    Python("rng = np.random.default_rng(7)\n"
           "Image.fromarray(rng.integers(0, 256, (5, 7, 3), dtype=np.uint8), 'RGB').save(sys.argv[1] + '/src.png', dpi=(300, 150))\n",
           dir.path());
    struct Case {
        std::int64_t angle;
        int flip;
        const char* pillow;  // transposes applied in turn
        const char* dpi;
    };
    const Case cases[] = {
        {0, 0, "", "300 150"},
        {90, 0, "ROTATE_90", "150 300"},
        {180, 0, "ROTATE_180", "300 150"},
        {270, 0, "ROTATE_270", "150 300"},
        {-90, 0, "ROTATE_270", "150 300"},
        {-270, 0, "ROTATE_90", "150 300"},
        {450, 0, "ROTATE_90", "150 300"},
        {0, 1, "FLIP_LEFT_RIGHT", "300 150"},
        {0, 2, "FLIP_TOP_BOTTOM", "300 150"},
        {0, 3, "ROTATE_180", "300 150"},
        {90, 1, "ROTATE_90 FLIP_LEFT_RIGHT", "150 300"},
        {90, 2, "ROTATE_90 FLIP_TOP_BOTTOM", "150 300"},
        {90, 3, "ROTATE_270", "150 300"},
        {180, 1, "FLIP_TOP_BOTTOM", "300 150"},
        {270, 1, "ROTATE_270 FLIP_LEFT_RIGHT", "150 300"},
        {270, 2, "ROTATE_270 FLIP_TOP_BOTTOM", "150 300"},
        {100, 0, "", "300 150"},
        {100, 3, "ROTATE_180", "300 150"},
    };
    std::string script = "cases = [";
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string name = "turned" + std::to_string(i) + ".png";
        ImageConversion r = Record(dir / "src.png", dir / name, kOutputPNG);
        r.resizeOptions.sizeUnit = kSizePixels;  // no target: the pixels stay
        r.rotationAngle = c.angle;
        r.flipFlags = c.flip;
        ASSERT_EQ(RenderImageFileToImage(&r), 1) << name;
        EXPECT_EQ(Resolution(dir / name), c.dpi) << c.angle << " " << c.flip;
        script += "('" + name + "', '" + c.pillow + "'),";
    }
    script +=
        "]\n"
        "src = Image.open(sys.argv[1] + '/src.png')\n"
        "for name, ops in cases:\n"
        "    want = src\n"
        "    for op in ops.split(): want = want.transpose(getattr(Image.Transpose, op))\n"
        "    got = Image.open(sys.argv[1] + '/' + name)\n"
        "    same = got.size == want.size and got.convert('RGBA').tobytes() == want.convert('RGBA').tobytes()\n"
        "    print(name, 'same' if same else 'differs')\n";
    const std::string report = Python(script, dir.path());
    std::string want;
    for (std::size_t i = 0; i < std::size(cases); ++i) want += "turned" + std::to_string(i) + ".png same\n";
    EXPECT_EQ(report + "\n", want);
}

// A picture with alpha asked for in CMYK: JPEG cannot hold the alpha, so it is drawn in RGB; TIFF
// holds CMYK with the source's alpha.
TEST_F(ImageResize, AlphaOnACmykCanvas) {
    Python("a = np.zeros((20, 30, 4), np.uint8)\n"
           "a[:, :, 0] = 200; a[:, :, 1] = 40; a[:, :, 2] = 90\n"
           "a[:, :, 3] = (np.arange(30)[None, :] * 255 // 29).repeat(20, 0)\n"
           "a[5:15, 10:20] = (10, 150, 250, 255)\n"
           "Image.fromarray(a, 'RGBA').save(sys.argv[1] + '/alpha.png')\n",
           dir.path());
    const ImageResizeOptions same = Pixels(0, 0, 0, true, true);
    for (const int type : {kOutputJPEG, kOutputTIFF}) {
        const fs::path out = dir / (type == kOutputJPEG ? "cmyk.jpg" : "cmyk.tif");
        ImageConverter converter;
        ASSERT_TRUE(converter.OpenSourceImage(dir / "alpha.png"));
        converter.SetOutputOptions(type, out, 1.0);
        converter.colorModel = kColorCMYK;
        ImageResizeOptions o = same;
        o.resizeToTarget = 0;
        ASSERT_TRUE(converter.ResizeAndWriteImage(o));
        EXPECT_EQ(converter.colorModel, type == kOutputJPEG ? kColorRGB : kColorCMYK);
    }
    // The JPEG: RGB, the picture over white (compared away from the patch's edges, where the
    // JPEG's halved chroma blurs).
    EXPECT_EQ(Python("got = np.asarray(Image.open(sys.argv[1] + '/cmyk.jpg'), int)\n"
                     "src = Image.open(sys.argv[1] + '/alpha.png')\n"
                     "want = Image.alpha_composite(Image.new('RGBA', src.size, 'white'), src).convert('RGB')\n"
                     "d = np.abs(got - np.asarray(want, int))\n"
                     "print(Image.open(sys.argv[1] + '/cmyk.jpg').mode, max(d[:2].max(), d[18:].max(), d[7:13, 12:18].max()) <= 8)\n",
                     dir.path()),
              "RGB True");
    // The TIFF: CMYK and an alpha equal to the source's, read by libtiff.
    TIFF* tif = TIFFOpen((dir / "cmyk.tif").c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::uint16_t photometric = 0, samples = 0, extraCount = 0, *extra = nullptr;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    EXPECT_EQ(photometric, PHOTOMETRIC_SEPARATED);
    ASSERT_EQ(samples, 5);
    ASSERT_EQ(extraCount, 1);
    const bool associated = extra[0] == EXTRASAMPLE_ASSOCALPHA;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tif)));
    int worstAlpha = 0, worstInk = 0;
    for (int y = 0; y < 20; ++y) {
        ASSERT_EQ(TIFFReadScanline(tif, row.data(), y), 1);
        for (int x = 0; x < 30; ++x) {
            const bool patch = x >= 10 && x < 20 && y >= 5 && y < 15;
            const int alpha = patch ? 255 : x * 255 / 29;
            const std::uint8_t* p = &row[x * 5];
            worstAlpha = std::max(worstAlpha, std::abs(p[4] - alpha));
            if (alpha < 64) continue;  // the colour of nearly transparent pixels is coarse
            // The device formulas: C = 255 - R and so on, their least taken out as K.
            const int rgb[3] = {patch ? 10 : 200, patch ? 150 : 40, patch ? 250 : 90};
            int ink[4] = {255 - rgb[0], 255 - rgb[1], 255 - rgb[2], 0};
            ink[3] = std::min({ink[0], ink[1], ink[2]});
            for (int i = 0; i < 3; ++i) ink[i] -= ink[3];
            for (int i = 0; i < 4; ++i) {
                const int got = associated ? (p[i] * 255 + p[4] / 2) / std::max<int>(1, p[4]) : p[i];
                worstInk = std::max(worstInk, std::abs(got - ink[i]));
            }
        }
    }
    TIFFClose(tif);
    EXPECT_LE(worstAlpha, 1);
    EXPECT_LE(worstInk, 3);
}

// The fixed resolution and the cap on the size in points, the cap measuring the picture as it
// will be shown (transposed for the orientations from 5 on).
TEST_F(ImageResize, FixedAndCappedResolutions) {
    Python("Image.new('RGB', (1080, 720), (1, 2, 3)).save(sys.argv[1] + '/wide.png', dpi=(72, 72))\n"
           "Image.new('RGB', (500, 700), (1, 2, 3)).save(sys.argv[1] + '/tall.png', dpi=(72, 72))\n",
           dir.path());
    struct Case {
        const char* source;
        float fixed;
        int orientation;
        const char* want;
    };
    const Case cases[] = {{"wide.png", 150, 1, "150 150"},
                          {"wide.png", 0, 1, "144 144"},
                          {"tall.png", 0, 1, "72 72"},
                          {"wide.png", 0, 6, "108 108"}};
    for (const Case& c : cases) {
        const fs::path out = dir / ("out-" + std::to_string(c.orientation) + "-" + std::to_string(int(c.fixed)) + c.source);
        ImageConverter converter;
        ASSERT_TRUE(converter.OpenSourceImage(dir / c.source));
        converter.SetOutputOptions(kOutputPNG, out, 1.0);
        converter.fixedResolution = c.fixed;
        converter.maxOutputWidth = 540;
        converter.maxOutputHeight = 720;
        converter.orientation = c.orientation;
        ImageResizeOptions o = Pixels(converter.SourcePixelsWide(), 0, 0, true, false);
        ASSERT_TRUE(converter.ResizeAndWriteImage(o)) << out;
        EXPECT_EQ(Resolution(out), c.want) << out;
    }
}

// Targets that no picture can have fail before anything is drawn or written; without a target the
// pixels-stay branch keeps the resolution, and a percent size without a resolution gets a square
// one.
TEST_F(ImageResize, UnusableTargetsFailCleanly) {
    Python("Image.new('RGB', (100, 50), (9, 99, 199)).save(sys.argv[1] + '/src.png', dpi=(150, 150))\n", dir.path());
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    struct Case {
        ImageResizeOptions options;
        const char* dpi;  // nullptr: fails
    };
    ImageResizeOptions hugeResolution = Pixels(2, 0, 0, true, true);
    hugeResolution.sizeUnit = kSizeInches;
    hugeResolution.targetResolution = std::int64_t{1} << 62;
    ImageResizeOptions percent = Pixels(1e12, 0, 0, true, true);
    percent.sizeUnit = kSizePercent;
    ImageResizeOptions stay = Pixels(0, 0, 0, true, true);
    stay.resizeToTarget = 0;
    ImageResizeOptions halfByPercent = Pixels(50, 0, 0, true, true);
    halfByPercent.sizeUnit = kSizePercent;
    halfByPercent.resizeToTarget = 0;
    ImageResizeOptions nanStay = stay;
    nanStay.targetWidth = nan;
    const Case cases[] = {
        {Pixels(nan, 0, 0, true, true), nullptr},      {Pixels(-50, 0, 0, true, true), nullptr},
        {Pixels(inf, 0, 5, true, true), nullptr},      {Pixels(1e12, 0, 0, true, true), nullptr},
        {Pixels(1e6, 1e6, 2, false, true), nullptr},   {Pixels(0, 0, 0, false, true), nullptr},
        {Pixels(400, nan, 2, false, true), nullptr},   {hugeResolution, nullptr},
        {percent, nullptr},                            {nanStay, nullptr},
        {stay, "150 150"},                             {halfByPercent, "144 144"},
    };
    int i = 0;
    for (const Case& c : cases) {
        const fs::path out = dir / ("out" + std::to_string(i++) + ".png");
        ImageConversion r = Record(dir / "src.png", out, kOutputPNG);
        r.resizeOptions = c.options;
        EXPECT_EQ(RenderImageFileToImage(&r), c.dpi ? 1 : 0) << out;
        EXPECT_EQ(fs::exists(out), c.dpi != nullptr) << out;
        if (c.dpi) {
            EXPECT_EQ(Resolution(out), c.dpi) << out;
        }
    }
    // A source of zero size has no factors.
    ImageConverter converter;
    EXPECT_FALSE(converter.FitAndWriteImage(Pixels(10, 10, 2, true, true), 10, 10));
}

// Sharpening leaves flat areas as they are and steepens an edge.
TEST_F(ImageResize, SharpeningRaisesEdgeContrastOnly) {
    Python("a = np.full((16, 32), 64, np.uint8); a[:, 16:] = 192\n"
           "Image.fromarray(a, 'L').save(sys.argv[1] + '/edge.png')\n"
           "Image.new('RGB', (32, 16), (120, 60, 30)).save(sys.argv[1] + '/flat.png')\n",
           dir.path());
    for (const char* name : {"edge", "flat"}) {
        ImageConversion r = Record(dir / (std::string(name) + ".png"), dir / (std::string(name) + "-sharp.png"), kOutputPNG);
        r.resizeOptions = Pixels(32, 0, 0, true, false);
        r.resizeOptions.sharpen = 1;
        ASSERT_EQ(RenderImageFileToImage(&r), 1) << name;
    }
    EXPECT_EQ(Python("a = np.asarray(Image.open(sys.argv[1] + '/flat-sharp.png').convert('RGB'), int)\n"
                     "print(np.abs(a - np.array([120, 60, 30])).max() <= 1)\n"
                     "e = np.asarray(Image.open(sys.argv[1] + '/edge-sharp.png').convert('L'), int)\n"
                     "print(e[8, 15] < 64, e[8, 16] > 192, abs(e[8, 2] - 64) <= 1, abs(e[8, 29] - 192) <= 1)\n",
                     dir.path()),
              "True\nTrue True True True");
}

// On systems older than 10.7 a CMYK JPEG goes through the JPEG memory codec (which writes a JFIF
// density); on newer ones through the writer layer. Both files read in their true colours.
TEST_F(ImageResize, CmykJpegThroughTheCodecOnlyOnOlderSystems) {
    struct VersionGuard {
        ~VersionGuard() { platform::ResetSystemVersion(); }
    } guard;
    Python("Image.new('RGB', (40, 20), (0, 0, 255)).save(sys.argv[1] + '/blue.png', dpi=(144, 144))\n", dir.path());
    for (const bool older : {true, false}) {
        platform::SetSystemVersion(older ? platform::SystemVersion{10, 6, 8} : platform::SystemVersion{14, 0, 0});
        const fs::path out = dir / (older ? "old.jpg" : "new.jpg");
        ImageConverter converter;
        ASSERT_TRUE(converter.OpenSourceImage(dir / "blue.png"));
        converter.SetOutputOptions(kOutputJPEG, out, 0.9);
        converter.colorModel = kColorCMYK;
        ASSERT_TRUE(converter.ResizeAndWriteImage(Pixels(20, 0, 0, true, false)));
        EXPECT_EQ(converter.encodedData.empty(), !older);
        const std::string facts = Python("im = Image.open(sys.argv[1] + '/" + out.filename().string() + "')\n"
                                         "print(im.mode, im.size, 'jfif' in im.info, im.convert('RGB').getpixel((10, 5)))\n",
                                         dir.path());
        EXPECT_EQ(facts.substr(0, 16), "CMYK (20, 10) " + std::string(older ? "Tr" : "Fa")) << facts;
        const std::string rgb = Python("r, g, b = Image.open(sys.argv[1] + '/" + out.filename().string() +
                                           "').convert('RGB').getpixel((10, 5))\n"
                                           "print(r < 12 and g < 12 and b > 240)\n",
                                       dir.path());
        EXPECT_EQ(rgb, "True") << facts;
    }
}

}  // namespace

namespace {

// An embedded profile converts through lcms2: greys encoded in linear light come out as Pillow's
// ImageCms makes them in sRGB; without the profile the device formulas keep them as they are.
TEST_F(ImageResize, EmbeddedProfilesConvertTheColours) {
    {
        cmsCIExyY d65;
        cmsWhitePointFromTemp(&d65, 6504);
        const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
        cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
        cmsToneCurve* curves[3] = {linear, linear, linear};
        cmsHPROFILE profile = cmsCreateRGBProfile(&d65, &primaries, curves);
        cmsFreeToneCurve(linear);
        cmsUInt32Number size = 0;
        cmsSaveProfileToMem(profile, nullptr, &size);
        std::vector<char> bytes(size);
        cmsSaveProfileToMem(profile, bytes.data(), &size);
        cmsCloseProfile(profile);
        std::ofstream(dir / "linear.icc", std::ios::binary).write(bytes.data(), size);
    }
    Python("a = np.array([[[v, v, v] for v in (32, 64, 128, 200)]], np.uint8).repeat(4, 0)\n"
           "im = Image.fromarray(a, 'RGB')\n"
           "im.save(sys.argv[1] + '/profiled.png', icc_profile=open(sys.argv[1] + '/linear.icc', 'rb').read())\n"
           "im.save(sys.argv[1] + '/plain.png')\n",
           dir.path());
    for (const char* name : {"profiled", "plain"}) {
        for (const int model : {kColorGray, kColorCMYK}) {
            const fs::path out = dir / (std::string(name) + (model == kColorGray ? "-grey.tif" : "-cmyk.tif"));
            ImageConverter converter;
            ASSERT_TRUE(converter.OpenSourceImage(dir / (std::string(name) + ".png")));
            converter.SetOutputOptions(kOutputTIFF, out, 1.0);
            converter.colorModel = model;
            ASSERT_TRUE(converter.ResizeAndWriteImage(Pixels(4, 0, 0, true, false))) << out;
        }
    }
    EXPECT_EQ(Python("from PIL import ImageCms\n"
                     "src = Image.open(sys.argv[1] + '/profiled.png')\n"
                     "lin = ImageCms.ImageCmsProfile(sys.argv[1] + '/linear.icc')\n"
                     "want = np.asarray(ImageCms.profileToProfile(src, lin, ImageCms.createProfile('sRGB')), int)[0, :, 0]\n"
                     "def k(name): return 255 - np.asarray(Image.open(sys.argv[1] + '/' + name), int)[0, :, 3]\n"
                     "def g(name): return np.asarray(Image.open(sys.argv[1] + '/' + name), int)[0, :]\n"
                     "print(np.abs(g('profiled-grey.tif') - want).max() <= 2, np.abs(k('profiled-cmyk.tif') - want).max() <= 2)\n"
                     "print(list(g('plain-grey.tif')), list(k('plain-cmyk.tif')))\n",
                     dir.path()),
              "True True\n[32, 64, 128, 200] [32, 64, 128, 200]");
}

}  // namespace
