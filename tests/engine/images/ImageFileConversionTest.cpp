// The image-file conversion entries, checked with Pillow, ImageMagick, qpdf and poppler.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/ImageConverter.h"
#include "engine/images/ImageFileConversion.h"
#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/ScopedEnv.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;

ImageConversion Record(const fs::path& source, const fs::path& output, int type, long dpi = 0) {
    ImageConversion r{};
    r.sourceURL = source;
    r.outputFolderURL = output;
    r.conversionOptions.imageType = type;
    r.conversionOptions.outputResolution = dpi;
    r.conversionOptions.compressionQuality = 0.9;
    return r;
}

std::string Output(const std::string& command) {
    std::string out;
    testimage::RunCommand(command, &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

std::string Q(const fs::path& p) { return testimage::ShellQuote(p.string()); }

// Runs a Pillow script with the folder as sys.argv[1].
void Python(const std::string& script, const fs::path& folder) {
    std::string out;
    ASSERT_EQ(testimage::RunPythonProbe("from PIL import Image\n" + script, folder, &out), 0) << out;
}

class ImageFileConversion : public testing::Test {
protected:
    testpdf::TempDir dir;
    std::unique_ptr<ScopedEnv> temporaryFolder;
    // A temporary folder of the test's own for the conversions' temporary files.
    fs::path PrivateTemporaryFolder() {
        fs::create_directories(dir / "tmp");
        temporaryFolder = std::make_unique<ScopedEnv>("TMPDIR", (dir / "tmp").string());
        return dir / "tmp";
    }
    // A three-page TIFF: red, green and blue pages of 20 × 10 pixels with a yellow patch, 150 dpi.
    fs::path ThreePages() {
        Python("a = [Image.new('RGB', (20, 10), c) for c in ((255, 0, 0), (0, 255, 0), (0, 0, 255))]\n"
               "for i, im in enumerate(a): im.paste((255, 255, 0), (i, 2, i + 5, 8))\n"
               "a[0].save(sys.argv[1] + '/pages.tif', save_all=True, append_images=a[1:], dpi=(150, 150))\n",
               dir.path());
        return dir / "pages.tif";
    }
};

TEST_F(ImageFileConversion, SeveralRepresentationsGoIntoAFolderNamedAfterTheOutput) {
    const fs::path source = ThreePages();
    ImageConversion r = Record(source, dir / "out" / "picture.png", kOutputPNG);
    fs::create_directories(dir / "out");
    ASSERT_EQ(ConvertImageFile(&r), 1);
    const fs::path folder = dir / "out" / "picture";
    const char* names[] = {"picture.png", "picture 1.png", "picture 2.png"};
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 3);
    for (int i = 0; i < 3; ++i) {
        const testimage::Decoded got = testimage::DecodeWithPil(folder / names[i], "RGB");
        const testimage::Decoded want = testimage::DecodeWithPil(source, "RGB", i);
        ASSERT_TRUE(got.ok()) << names[i] << ": " << got.error;
        EXPECT_EQ(got.pixels, want.pixels) << names[i];
        EXPECT_NEAR(got.dpiX, 150, 0.5) << names[i];  // the source's own
    }
    EXPECT_FALSE(fs::exists(dir / "out" / "picture.png"));
}

TEST_F(ImageFileConversion, SeveralRepresentationsToPdfMakeOneDocument) {
    const fs::path source = ThreePages();
    ImageConversion r = Record(source, dir / "pages.pdf", kOutputPDF);
    ASSERT_EQ(ConvertImageFile(&r), 1);
    EXPECT_EQ(Output("qpdf --show-npages " + Q(dir / "pages.pdf")), "3");
    EXPECT_TRUE(testimage::PdfChecksClean(dir / "pages.pdf"));
    // Three images of 20 × 10 at the source's 150 dpi.
    const std::string list = Output("pdfimages -list " + Q(dir / "pages.pdf") + " | awk 'NR > 2 {print $1, $4, $5, $13}'");
    EXPECT_EQ(list, "1 20 10 150\n2 20 10 150\n3 20 10 150");
}

// The written resolution: the source's own when the record gives 0, the record's otherwise;
// checked by ImageMagick for each writer.
TEST_F(ImageFileConversion, ResolutionKeptOrSet) {
    Python("Image.new('RGB', (30, 20), (9, 99, 199)).save(sys.argv[1] + '/src.png', dpi=(150, 150))\n", dir.path());
    struct Case {
        int type;
        const char* name;
        long dpi;
        const char* want;
    };
    const Case cases[] = {
        {kOutputPNG, "a.png", 0, "150 150"},   {kOutputPNG, "b.png", 300, "300 300"},
        {kOutputJPEG, "c.jpg", 0, "150 150"},  {kOutputJPEG, "d.jpg", 96, "96 96"},
        {kOutputTIFF, "e.tif", 0, "150 150"},  {kOutputTIFF, "f.tif", 600, "600 600"},
        {kOutputBMP, "g.bmp", 0, "150 150"},   {kOutputBMP, "h.bmp", 72, "72 72"},
    };
    for (const Case& c : cases) {
        ImageConversion r = Record(dir / "src.png", dir / c.name, c.type, c.dpi);
        ASSERT_EQ(ConvertImageFile(&r), 1) << c.name;
        // ImageMagick reports pixels per centimetre for some formats: ask for inches.
        EXPECT_EQ(Output("identify -units PixelsPerInch -format '%[fx:round(resolution.x)] %[fx:round(resolution.y)]' " +
                      Q(dir / c.name)),
                  c.want)
            << c.name;
    }
}

// A JPEG's EXIF, ICC profile and XMP travel into JPEG, PNG and TIFF when asked, and not otherwise.
TEST_F(ImageFileConversion, MetadataKeptOnRequest) {
    Python("from PIL import ImageCms\n"
           "ex = Image.Exif(); ex[271] = 'Maker'; ex[272] = 'Model 7'; ex[274] = 1\n"
           "ex[282] = 72.0; ex[283] = 72.0; ex[296] = 2\n"
           "icc = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()\n"
           "Image.new('RGB', (16, 8), (10, 20, 30)).save(sys.argv[1] + '/meta.jpg', exif=ex.tobytes(), icc_profile=icc,"
           " dpi=(200, 200))\n",
           dir.path());
    const std::string probe =
        "from PIL import Image\n"
        "im = Image.open(sys.argv[1])\n"
        "ex = im.getexif()\n"
        "print(ex.get(271), ex.get(272), len(im.info.get('icc_profile') or b''))\n";
    auto read = [&](const fs::path& file) {
        std::string out;
        EXPECT_EQ(testimage::RunPythonProbe(probe, file, &out), 0) << out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    };
    const std::string want = read(dir / "meta.jpg");
    ASSERT_EQ(want.substr(0, 13), "Maker Model 7");
    for (const auto& [type, name] : {std::pair{kOutputJPEG, "kept.jpg"}, {kOutputPNG, "kept.png"}, {kOutputTIFF, "kept.tif"}}) {
        for (const bool keep : {true, false}) {
            ImageConversion r = Record(dir / "meta.jpg", dir / (std::string(keep ? "" : "not-") + name), type);
            r.conversionOptions.keepMetadata = keep;
            ASSERT_EQ(ConvertImageFile(&r), 1) << name;
            const std::string got = read(r.outputFolderURL);
            if (type == kOutputTIFF) {
                // TIFF holds the profile; the EXIF block stays out of it (see the README).
                const std::string icc = want.substr(want.rfind(' ') + 1);
                EXPECT_EQ(got, keep ? "None None " + icc : std::string("None None 0")) << name;
            } else {
                EXPECT_EQ(got, keep ? want : std::string("None None 0")) << name << (keep ? " kept" : " not kept");
            }
        }
    }
    // The kept EXIF's resolution entries say the written resolution.
    ImageConversion r = Record(dir / "meta.jpg", dir / "300.jpg", kOutputJPEG, 300);
    r.conversionOptions.keepMetadata = 1;
    ASSERT_EQ(ConvertImageFile(&r), 1);
    std::string resolution;
    ASSERT_EQ(testimage::RunPythonProbe("from PIL import Image\nprint(Image.open(sys.argv[1]).getexif()[282])\n",
                                        dir / "300.jpg", &resolution),
              0);
    EXPECT_EQ(resolution, "300.0\n");
}

// CMYK sources stay CMYK in the types that hold it, with the same ink as Pillow reads.
TEST_F(ImageFileConversion, CmykInCmykOut) {
    Python("im = Image.new('CMYK', (24, 12))\n"
           "im.putdata([((x * 10) % 256, (y * 20) % 256, 128, (x + y) * 4) for y in range(12) for x in range(24)])\n"
           "im.save(sys.argv[1] + '/cmyk.jpg', quality=100)\n"
           "im.save(sys.argv[1] + '/cmyk.tif')\n",
           dir.path());
    struct Case {
        const char* source;
        int type;
        const char* output;
        int tolerance;
    };
    const Case cases[] = {{"cmyk.jpg", kOutputTIFF, "from-jpeg.tif", 0},
                          {"cmyk.tif", kOutputJPEG, "from-tiff.jpg", 12},
                          {"cmyk.tif", kOutputTIFFCMYK, "from-tiff.tif", 0},
                          {"cmyk.jpg", kOutputJPEG, "from-jpeg.jpg", 12}};
    for (const Case& c : cases) {
        ImageConversion r = Record(dir / c.source, dir / c.output, c.type);
        r.conversionOptions.compressionQuality = 1.0;
        ASSERT_EQ(ConvertImageFile(&r), 1) << c.output;
        const testimage::Decoded got = testimage::DecodeWithPil(dir / c.output);
        const testimage::Decoded want = testimage::DecodeWithPil(dir / c.source);
        ASSERT_TRUE(got.ok()) << got.error;
        EXPECT_EQ(got.mode, "CMYK") << c.output;
        ASSERT_EQ(got.pixels.size(), want.pixels.size());
        int worst = 0;
        for (std::size_t i = 0; i < got.pixels.size(); ++i)
            worst = std::max(worst, std::abs(int(got.pixels[i]) - int(want.pixels[i])));
        EXPECT_LE(worst, c.tolerance) << c.output;
    }
}

// A TIFF whose second page's Deflate data are not Deflate data.
fs::path WithBadSecondPage(const fs::path& source, const fs::path& out) {
    TIFF* in = TIFFOpen(source.c_str(), "r");
    TIFF* tif = TIFFOpen(out.c_str(), "w");
    int page = 0;
    do {
        std::uint32_t w = 0, h = 0;
        TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(in, TIFFTAG_IMAGELENGTH, &h);
        std::vector<std::uint32_t> rgba(static_cast<std::size_t>(w) * h);
        TIFFReadRGBAImageOriented(in, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, page == 1 ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
        std::vector<std::uint8_t> rgb;
        for (std::uint32_t v : rgba) rgb.insert(rgb.end(), {std::uint8_t(TIFFGetR(v)), std::uint8_t(TIFFGetG(v)), std::uint8_t(TIFFGetB(v))});
        if (page == 1) rgb.assign(rgb.size(), 0xA5);
        TIFFWriteRawStrip(tif, 0, rgb.data(), static_cast<tmsize_t>(rgb.size()));
        TIFFWriteDirectory(tif);
        ++page;
    } while (TIFFReadDirectory(in));
    TIFFClose(in);
    TIFFClose(tif);
    return out;
}

// Success only when every representation was written; a failed one leaves no file of its own
// and no gap in a PDF; an unreadable source writes nothing.
TEST_F(ImageFileConversion, FailuresAreReportedAndLeaveNoFile) {
    const fs::path bad = WithBadSecondPage(ThreePages(), dir / "bad.tif");
    ImageConversion png = Record(bad, dir / "bad.png", kOutputPNG);
    EXPECT_EQ(ConvertImageFile(&png), 0);
    // The pages that could be read, under the free names in turn.
    EXPECT_EQ(testimage::DecodeWithPil(dir / "bad" / "bad.png", "RGB").pixels, testimage::DecodeWithPil(bad, "RGB", 0).pixels);
    EXPECT_EQ(testimage::DecodeWithPil(dir / "bad" / "bad 1.png", "RGB").pixels,
              testimage::DecodeWithPil(bad, "RGB", 2).pixels);
    ImageConversion pdf = Record(bad, dir / "bad.pdf", kOutputPDF);
    EXPECT_EQ(ConvertImageFile(&pdf), 0);
    EXPECT_EQ(Output("qpdf --show-npages " + Q(dir / "bad.pdf")), "2");

    std::ofstream(dir / "junk.png") << "not a picture at all";
    for (const int type : {kOutputPNG, kOutputPDF, kOutputJPEG}) {
        ImageConversion junk = Record(dir / "junk.png", dir / "junk-out.x", type);
        EXPECT_EQ(ConvertImageFile(&junk), 0);
        ImageConversion missing = Record(dir / "missing.png", dir / "missing-out.x", type);
        EXPECT_EQ(ConvertImageFile(&missing), 0);
    }
    ImageConversion webp = Record(dir / "junk.png", dir / "junk.webp", kOutputWebP);
    EXPECT_EQ(ConvertImageFile(&webp), 0);
    ImageConversion none{};
    EXPECT_EQ(ConvertImageFile(nullptr), 0);
    EXPECT_EQ(ConvertImageFile(&none), 0);
    std::vector<std::string> left;
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    const std::vector<std::string> expected = {"bad",      "bad 1.png", "bad.pdf",  "bad.png",
                                               "bad.tif",  "junk.png",  "pages.tif"};
    EXPECT_EQ(left, expected);
}

TEST(ImageTypeIdentifiers, Table) {
    struct Case {
        const char* identifier;
        int all, common;
    };
    const Case cases[] = {
        {"public.jpeg", 4, 4},          {"public.tiff", 10, 10},
        {"public.png", 7, 7},           {"com.compuserve.gif", 2, 2},
        {"public.jpeg-2000", 3, 3},     {"com.microsoft.bmp", 11, 11},
        {"com.adobe.photoshop-image", 1, 1}, {"com.ilm.openexr-image", 5, 5},
        {"com.truevision.tga-image", 9, 9},  {"com.apple.icns", 6, 6},
        {"com.sgi.sgi-image", 12, 0},   {"public.camera-raw-image", 22, 0},
        {"com.apple.pict", 14, 0},      {"com.apple.macpaint-image", 16, 0},
        {"public.xbitmap-image", 19, 0}, {"com.apple.quicktime-image", 17, 0},
        {"public.fax", 21, 0},          {"com.kodak.flashpix.image", 20, 0},
        {"com.adobe.illustrator.ai-image", 15, 0}, {"com.microsoft.ico", 18, 0},
        {"com.adobe.pdf", 0, 0},        {"PUBLIC.JPEG", 0, 0},
        {"public.jpeg ", 0, 0},         {"", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ImageTypeForUTI(c.identifier, false), c.all) << c.identifier;
        EXPECT_EQ(ImageTypeForUTI(c.identifier, true), c.common) << c.identifier;
    }
}

// By name the SGI file is not a common type; by its contents it is type 12.
TEST_F(ImageFileConversion, TypeByNameAndByContents) {
    Python("Image.new('RGB', (4, 4)).save(sys.argv[1] + '/x.sgi')\n"
           "Image.new('RGB', (4, 4)).save(sys.argv[1] + '/x.png')\n",
           dir.path());
    fs::copy_file(dir / "x.png", dir / "png-named.jpg");
    ImageConverter converter;
    ASSERT_TRUE(converter.OpenSourceImage(dir / "x.sgi"));
    EXPECT_EQ(converter.SourceImageType(), 0);
    EXPECT_EQ(converter.DetectSourceType(), 12);
    EXPECT_EQ(ImageTypeOfURL(dir / "x.png"), 7);
    EXPECT_EQ(ImageTypeOfURL(dir / "png-named.jpg"), 4);  // the name decides
    EXPECT_EQ(ImageTypeOfURL(dir / "absent.png"), 0);
    ImageConverter named;
    ASSERT_TRUE(named.OpenSourceImage(dir / "png-named.jpg"));  // the contents decide
    EXPECT_EQ(named.DetectSourceType(), 7);
}

TEST_F(ImageFileConversion, RenderHandsTheImageBack) {
    Python("Image.new('RGBA', (12, 7), (1, 2, 3, 255)).save(sys.argv[1] + '/a.png')\n", dir.path());
    ImageConversion r = Record(dir / "a.png", {}, 0);
    EXPECT_EQ(RenderImageFileToImage(&r), 0);  // no output file and nothing to hand back to
    r.returnImageInstead = 1;
    ASSERT_EQ(RenderImageFileToImage(&r), 1);
    ASSERT_TRUE(r.outputImage);
    EXPECT_EQ(r.outputImage->width, 12);
    EXPECT_EQ(r.outputImage->height, 7);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 1);
    // Type 0 writes in the source's own type.
    ImageConversion w = Record(dir / "a.png", dir / "b.out", 0);
    ASSERT_EQ(RenderImageFileToImage(&w), 1);
    EXPECT_EQ(testimage::DecodeWithPil(dir / "b.out").format, "PNG");
}

// A DNG the writer layer makes is camera raw to the readers, and converts at its size.
TEST_F(ImageFileConversion, CameraRawSource) {
    Python("Image.new('RGB', (64, 48), (200, 120, 40)).save(sys.argv[1] + '/src.png')\n", dir.path());
    ImageConversion dng = Record(dir / "src.png", dir / "raw.dng", kOutputCameraRaw);
    ASSERT_EQ(ConvertImageFile(&dng), 1);
    ImageConversion back = Record(dir / "raw.dng", dir / "developed.png", kOutputPNG);
    ASSERT_EQ(ConvertImageFile(&back), 1);
    const testimage::Decoded got = testimage::DecodeWithPil(dir / "developed.png", "RGB");
    const testimage::Decoded dcraw = testimage::DevelopRaw(dir / "raw.dng");
    ASSERT_TRUE(got.ok()) << got.error;
    ASSERT_TRUE(dcraw.ok()) << dcraw.error;
    EXPECT_EQ(got.width, 64);
    EXPECT_EQ(got.height, 48);
    EXPECT_EQ(dcraw.width, 64);
    ASSERT_EQ(got.pixels.size(), dcraw.pixels.size());
    int worst = 0;
    for (std::size_t i = 0; i < got.pixels.size(); ++i)
        worst = std::max(worst, std::abs(int(got.pixels[i]) - int(dcraw.pixels[i])));
    EXPECT_LE(worst, 3);
}

}  // namespace

namespace {

std::string FirstChunk(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    char head[16] = {};
    in.read(head, 16);
    return std::string(head + 12, 4);
}

}  // namespace

// WebP output through the temporary TIFF: lossless at quality 1 (pixel-equal, alpha straight
// again), lossy below; a picture WebP cannot hold fails and leaves the file that was there; no
// temporary file stays behind.
TEST_F(ImageFileConversion, WebPOutput) {
    Python("im = Image.new('RGB', (30, 20))\n"
           "im.putdata([((x * 8) % 256, (y * 12) % 256, (x * y) % 256) for y in range(20) for x in range(30)])\n"
           "im.save(sys.argv[1] + '/photo.png')\n"
           "Image.new('RGBA', (6, 4), (200, 100, 50, 128)).save(sys.argv[1] + '/alpha.tif')\n"
           "Image.new('RGB', (16384, 2), (5, 5, 5)).save(sys.argv[1] + '/wide.png')\n",
           dir.path());
    const fs::path tmp = PrivateTemporaryFolder();

    ImageConversion lossless = Record(dir / "photo.png", dir / "lossless.webp", kOutputWebP);
    lossless.conversionOptions.compressionQuality = 1.0;
    ASSERT_EQ(ConvertImageFile(&lossless), 1);
    EXPECT_EQ(FirstChunk(dir / "lossless.webp"), "VP8L");
    const testimage::Decoded source = testimage::DecodeWithPil(dir / "photo.png", "RGB");
    const testimage::Decoded back = testimage::DecodeWithPil(dir / "lossless.webp", "RGB");
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(back.format, "WEBP");
    EXPECT_EQ(back.pixels, source.pixels);

    ImageConversion lossy = Record(dir / "photo.png", dir / "lossy.webp", kOutputWebP);
    lossy.conversionOptions.compressionQuality = 0.8;
    ASSERT_EQ(ConvertImageFile(&lossy), 1);
    EXPECT_EQ(FirstChunk(dir / "lossy.webp"), "VP8 ");
    const testimage::Decoded near = testimage::DecodeWithPil(dir / "lossy.webp", "RGB");
    ASSERT_EQ(near.pixels.size(), source.pixels.size());
    double error = 0;
    for (std::size_t i = 0; i < near.pixels.size(); ++i) error += std::abs(near.pixels[i] - source.pixels[i]);
    EXPECT_LT(error / near.pixels.size(), 12.0);

    ImageConversion alpha = Record(dir / "alpha.tif", dir / "alpha.webp", kOutputWebP);
    alpha.conversionOptions.compressionQuality = 1.0;
    ASSERT_EQ(ConvertImageFile(&alpha), 1);
    const testimage::Decoded straight = testimage::DecodeWithPil(dir / "alpha.webp");
    ASSERT_EQ(straight.mode, "RGBA");
    for (std::size_t i = 0; i < straight.pixels.size(); i += 4) {
        EXPECT_NEAR(straight.pixels[i], 200, 1);
        EXPECT_NEAR(straight.pixels[i + 1], 100, 1);
        EXPECT_NEAR(straight.pixels[i + 2], 50, 1);
        EXPECT_EQ(straight.pixels[i + 3], 128);
    }

    std::ofstream(dir / "wide.webp") << "keep me";
    ImageConversion wide = Record(dir / "wide.png", dir / "wide.webp", kOutputWebP);
    EXPECT_EQ(ConvertImageFile(&wide), 0);
    EXPECT_EQ(Output("cat " + Q(dir / "wide.webp")), "keep me");
    EXPECT_TRUE(fs::is_empty(tmp));
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_FALSE(e.path().filename().string().ends_with(".part")) << e.path();
}

// A WebP source is read through an intermediate TIFF that is gone once the conversion ends; only
// the lower-case extension is tried.
TEST_F(ImageFileConversion, WebPSource) {
    Python("im = Image.new('RGB', (40, 24))\n"
           "im.putdata([((x * 6) % 256, (y * 10) % 256, (x * y) % 256) for y in range(24) for x in range(40)])\n"
           "im.save(sys.argv[1] + '/photo.webp', quality=80)\n"
           "im.save(sys.argv[1] + '/PHOTO.WEBP', quality=80)\n"
           "a = im.convert('RGBA'); a.putalpha(Image.new('L', (40, 24), 128)); a.paste((9, 8, 7, 255), (0, 0, 10, 10))\n"
           "a.save(sys.argv[1] + '/alpha.webp', lossless=True)\n",
           dir.path());
    const fs::path tmp = PrivateTemporaryFolder();

    ImageConversion png = Record(dir / "photo.webp", dir / "photo.png", kOutputPNG);
    ASSERT_EQ(ConvertImageFile(&png), 1);
    const testimage::Decoded got = testimage::DecodeWithPil(dir / "photo.png");
    EXPECT_EQ(got.mode, "RGB");
    EXPECT_EQ(got.pixels, testimage::DecodeWithPil(dir / "photo.webp", "RGB").pixels);

    ImageConversion alpha = Record(dir / "alpha.webp", dir / "alpha.png", kOutputPNG);
    ASSERT_EQ(ConvertImageFile(&alpha), 1);
    const testimage::Decoded withAlpha = testimage::DecodeWithPil(dir / "alpha.png", "RGBA");
    const testimage::Decoded want = testimage::DecodeWithPil(dir / "alpha.webp", "RGBA");
    ASSERT_EQ(withAlpha.pixels.size(), want.pixels.size());
    // The intermediate TIFF holds premultiplied colour: within one step of the alpha's rounding.
    for (std::size_t i = 0; i < want.pixels.size(); ++i) {
        const int a = want.pixels[i | 3];
        EXPECT_NEAR(withAlpha.pixels[i], want.pixels[i], (i & 3) == 3 ? 0 : (255 + a - 1) / a) << i;
    }

    ImageConversion upper = Record(dir / "PHOTO.WEBP", dir / "upper.png", kOutputPNG);
    EXPECT_EQ(ConvertImageFile(&upper), 0);
    EXPECT_FALSE(fs::exists(dir / "upper.png"));
    EXPECT_TRUE(fs::is_empty(tmp));
}
