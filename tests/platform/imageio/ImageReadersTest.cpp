// The reader registry against independent writers and readers: files made by Pillow and
// ImageMagick are read through the registry and compared with Pillow's own decoding of the same
// (or an equivalent 8-bit) file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/readers/ImageSource.h"
#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;
using platform::ImageRepresentation;
using platform::SourceColorKind;

// Makes the fixtures: a 37 × 23 picture with gradients, edges and (for the alpha cases) a
// varying alpha, in every form the cases read. 16-bit files hold the 8-bit picture × 257, so the
// 8-bit picture is what they must read as.
const char* kFixtures = R"PY(
import sys, os, subprocess
from PIL import Image
d = sys.argv[1]
def p(name): return os.path.join(d, name)
W, H = 37, 23
rgb = Image.new("RGB", (W, H))
rgb.putdata([((x * 7) % 256, (y * 11) % 256, ((x ^ y) * 5) % 256) for y in range(H) for x in range(W)])
rgba = rgb.copy(); rgba.putalpha(Image.linear_gradient("L").resize((W, H)))
grey = rgb.convert("L")
cmyk = Image.new("CMYK", (W, H)); cmyk.putdata([((x * 7) % 256, (y * 11) % 256, (x * y) % 256, (x + y) % 64) for y in range(H) for x in range(W)])
rgb.save(p("rgb.png"), dpi=(150, 150))
rgba.save(p("rgba.png"))
grey.save(p("grey.png"))
pal = rgb.quantize(16); pal.info["transparency"] = 3; pal.save(p("palette.png"), transparency=3)
pal.save(p("palette.gif"), transparency=3)
rgb.save(p("rgb.jpg"), quality=95, dpi=(200, 200))
grey.save(p("grey.jpg"), quality=95)
cmyk.save(p("cmyk.jpg"), quality=95)
rgb.save(p("rgb-lzw.tif"), compression="tiff_lzw", dpi=(300, 300))
rgba.save(p("rgba.tif"), compression="tiff_adobe_deflate")
cmyk.save(p("cmyk.tif"))
pal.convert("P").save(p("palette.tif"))
rgb.convert("1").save(p("bilevel.tif"), compression="group4")
rgb.save(p("rgb.bmp"))
rgb.save(p("rgb.tga"))
rgba.save(p("rgba.tga"))
rgb.save(p("rgb.sgi"))
rgba.save(p("rgba.sgi"))
rgb.save(p("rgb.ppm"))
grey.save(p("grey.pgm"))
rgb.save(p("rgb.jp2"))
rgb.save(p("rgb.j2k"))
rgba.resize((32, 32)).save(p("icon.ico"), sizes=[(32, 32), (16, 16)])
def magick(*args): subprocess.run(["convert", *args], check=True)
magick(p("rgb.png"), "-depth", "16", "PNG48:" + p("rgb16.png"))
magick(p("rgb.png"), "-depth", "16", "-compress", "lzw", p("rgb16.tif"))
magick(p("grey.png"), "-depth", "16", p("grey16.pgm"))
magick(p("rgb.png"), "-define", "tiff:tile-geometry=16x16", p("tiled.tif"))
magick(p("rgb.png"), "-interlace", "plane", p("planar.tif"))
magick(p("grey.png"), "-define", "quantum:polarity=min-is-white", p("miniswhite.tif"))
magick(p("rgb.png"), p("rgb.psd"))
magick(p("rgba.png"), p("rgba.psd"))
magick(p("cmyk.tif"), p("cmyk.psd"))
magick(p("rgb.png"), "-compress", "RLE", p("rgb-rle.sgi"))
# X11 bitmaps set a bit for black (Pillow writes them the other way round).
magick(p("bilevel.tif"), p("bilevel.xbm"))
print("OK")
)PY";

class ImageReaders : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testpdf::TempDir;
        std::string out;
        const fs::path script = *dir_ / "fixtures.py";
        std::ofstream(script) << kFixtures;
        const int rc = testimage::RunCommand("/usr/bin/python3 " + testimage::ShellQuote(script.string()) + " " +
                                                 testimage::ShellQuote(dir_->path().string()),
                                             &out);
        ASSERT_EQ(rc, 0) << out;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static fs::path Fixture(const std::string& name) { return *dir_ / name; }
    static testpdf::TempDir* dir_;
};
testpdf::TempDir* ImageReaders::dir_ = nullptr;

// The representation's pixels packed as Pillow's mode `mode` lays them out ("RGB", "RGBA", "L",
// "CMYK"): alpha made straight again, colour models kept (only the layouts are matched).
std::vector<std::uint8_t> Packed(const ImageRepresentation& rep, const std::string& mode) {
    const platform::Bitmap& b = rep.bitmap;
    std::vector<std::uint8_t> out;
    const int colours = b.colorComponents();
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            const std::uint8_t* p = b.row(y) + static_cast<std::size_t>(x) * b.components;
            const int a = b.hasAlpha ? p[colours] : 255;
            auto straight = [&](int v) { return a == 0 ? 0 : a == 255 ? v : std::min(255, (v * 255 + a / 2) / a); };
            if (mode == "L") {
                out.push_back(static_cast<std::uint8_t>(straight(p[0])));
            } else if (mode == "CMYK") {
                for (int c = 0; c < 4; ++c) out.push_back(p[c]);
            } else {
                for (int c = 0; c < 3; ++c) out.push_back(static_cast<std::uint8_t>(straight(p[colours == 1 ? 0 : c])));
                if (mode == "RGBA") out.push_back(static_cast<std::uint8_t>(a));
            }
        }
    return out;
}

// The largest difference between two sample buffers (colour under full transparency ignored).
int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, const std::string& mode) {
    if (a.size() != b.size()) return 1000;
    const std::size_t n = mode == "RGBA" ? 4 : mode == "CMYK" ? 4 : mode == "L" ? 1 : 3;
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); i += n) {
        if (mode == "RGBA" && a[i + 3] == 0 && b[i + 3] == 0) continue;
        for (std::size_t c = 0; c < n; ++c) worst = std::max(worst, std::abs(int(a[i + c]) - int(b[i + c])));
    }
    return worst;
}

struct ReadCase {
    const char* file;
    const char* type;       // the identifier the registry gives
    const char* reference;  // the file Pillow decodes for the expected pixels
    const char* mode;       // Pillow mode to compare in
    SourceColorKind kind;
    int bits;
    bool alpha;
    float dpi;              // 0: none stated
    int tolerance;
};

// Premultiplied 8-bit alpha costs up to one level of straight colour where alpha is low; the
// tolerance of the alpha cases allows for it only where the colour is visible.
const ReadCase kReadCases[] = {
    {"rgb.png", "public.png", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 150, 0},
    {"rgba.png", "public.png", "rgba.png", "RGBA", SourceColorKind::RGB, 8, true, 0, 255},
    {"grey.png", "public.png", "grey.png", "L", SourceColorKind::Grey, 8, false, 0, 0},
    {"palette.png", "public.png", "palette.png", "RGBA", SourceColorKind::Indexed, 4, true, 0, 0},
    {"rgb16.png", "public.png", "rgb.png", "RGB", SourceColorKind::RGB, 16, false, 150, 0},
    {"rgb.jpg", "public.jpeg", "rgb.jpg", "RGB", SourceColorKind::RGB, 8, false, 200, 0},
    {"grey.jpg", "public.jpeg", "grey.jpg", "L", SourceColorKind::Grey, 8, false, 0, 0},
    {"cmyk.jpg", "public.jpeg", "cmyk.jpg", "CMYK", SourceColorKind::CMYK, 8, false, 0, 0},
    {"rgb-lzw.tif", "public.tiff", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 300, 0},
    {"rgba.tif", "public.tiff", "rgba.png", "RGBA", SourceColorKind::RGB, 8, true, 0, 255},
    {"cmyk.tif", "public.tiff", "cmyk.tif", "CMYK", SourceColorKind::CMYK, 8, false, 0, 0},
    {"rgb16.tif", "public.tiff", "rgb.png", "RGB", SourceColorKind::RGB, 16, false, 150, 0},
    {"palette.tif", "public.tiff", "palette.tif", "RGB", SourceColorKind::Indexed, 8, false, 0, 0},
    {"bilevel.tif", "public.tiff", "bilevel.tif", "L", SourceColorKind::Grey, 1, false, 0, 0},
    {"tiled.tif", "public.tiff", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 150, 0},
    {"planar.tif", "public.tiff", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 150, 0},
    {"miniswhite.tif", "public.tiff", "miniswhite.tif", "L", SourceColorKind::Grey, 8, false, 0, 0},
    {"palette.gif", "com.compuserve.gif", "palette.gif", "RGBA", SourceColorKind::Indexed, 8, true, 0, 0},
    {"rgb.bmp", "com.microsoft.bmp", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 96, 0},
    {"rgb.tga", "com.truevision.tga-image", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 0, 0},
    {"rgba.tga", "com.truevision.tga-image", "rgba.png", "RGBA", SourceColorKind::RGB, 8, true, 0, 255},
    {"rgb.sgi", "com.sgi.sgi-image", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 0, 0},
    {"rgba.sgi", "com.sgi.sgi-image", "rgba.png", "RGBA", SourceColorKind::RGB, 8, true, 0, 255},
    {"rgb-rle.sgi", "com.sgi.sgi-image", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 0, 0},
    {"rgb.ppm", "public.ppm", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 0, 0},
    {"grey.pgm", "public.pgm", "grey.png", "L", SourceColorKind::Grey, 8, false, 0, 0},
    {"grey16.pgm", "public.pgm", "grey.png", "L", SourceColorKind::Grey, 16, false, 0, 0},
    {"bilevel.xbm", "public.xbitmap-image", "bilevel.tif", "L", SourceColorKind::Grey, 1, false, 0, 0},
    {"rgb.jp2", "public.jpeg-2000", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 0, 0},
    {"rgb.j2k", "public.jpeg-2000", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 0, 0},
    {"rgb.psd", "com.adobe.photoshop-image", "rgb.png", "RGB", SourceColorKind::RGB, 8, false, 150, 0},
    {"rgba.psd", "com.adobe.photoshop-image", "rgba.png", "RGBA", SourceColorKind::RGB, 8, true, 0, 255},
    {"cmyk.psd", "com.adobe.photoshop-image", "cmyk.tif", "CMYK", SourceColorKind::CMYK, 8, false, 0, 0},
};

class ReadsLikePillow : public ImageReaders, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadsLikePillow, PixelsSizeAndFacts) {
    const ReadCase& c = GetParam();
    std::unique_ptr<platform::ImageSource> source = platform::OpenImageFile(Fixture(c.file));
    ASSERT_TRUE(source) << c.file;
    EXPECT_EQ(source->typeIdentifier(), c.type);
    ImageRepresentation rep;
    ASSERT_TRUE(source->Read(0, rep));
    const testimage::Decoded want = testimage::DecodeWithPil(Fixture(c.reference), c.mode);
    ASSERT_TRUE(want.ok()) << want.error;
    ASSERT_EQ(rep.pixelsWide(), want.width);
    ASSERT_EQ(rep.pixelsHigh(), want.height);
    EXPECT_EQ(rep.colorKind, c.kind);
    EXPECT_EQ(rep.bitsPerSample, c.bits);
    EXPECT_EQ(rep.hasAlpha, c.alpha);
    EXPECT_NEAR(rep.dpiX, c.dpi, 0.05);
    EXPECT_NEAR(rep.widthInPoints(), 72.0 * want.width / (c.dpi > 0 ? c.dpi : 72), 0.01);
    const std::vector<std::uint8_t> got = Packed(rep, c.mode);
    if (c.tolerance == 255) {
        // Straight colour from premultiplied samples: within the rounding of one level of
        // premultiplied colour, i.e. 255 / alpha.
        ASSERT_EQ(got.size(), want.pixels.size());
        for (std::size_t i = 0; i < got.size(); i += 4) {
            const int a = want.pixels[i + 3];
            ASSERT_EQ(got[i + 3], a) << "alpha at pixel " << i / 4;
            if (a == 0) continue;
            for (int k = 0; k < 3; ++k)
                ASSERT_LE(std::abs(int(got[i + k]) - int(want.pixels[i + k])), 255 / a + 1) << "pixel " << i / 4;
        }
    } else {
        EXPECT_LE(MaxDifference(got, want.pixels, c.mode), c.tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ReadsLikePillow, testing::ValuesIn(kReadCases),
                         [](const testing::TestParamInfo<ReadCase>& info) {
                             std::string name = info.param.file;
                             std::replace_if(name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
                             return name;
                         });

// Every frame of a GIF, every page of a TIFF, every entry of an icon file, each as Pillow shows it.
TEST_F(ImageReaders, EveryRepresentationOfAFile) {
    std::string out;
    const fs::path frames = Fixture("frames.gif"), pages = Fixture("pages.tif");
    const std::string script =
        "from PIL import Image\n"
        "a = [Image.new('RGB', (20, 10), c) for c in ((255, 0, 0), (0, 255, 0), (0, 0, 255))]\n"
        "a[1].paste((255, 255, 0), (5, 2, 9, 8))\n"
        "a[0].save(sys.argv[1] + '/frames.gif', save_all=True, append_images=a[1:], duration=50)\n"
        "a[0].save(sys.argv[1] + '/pages.tif', save_all=True, append_images=a[1:], compression='tiff_lzw')\n";
    ASSERT_EQ(testimage::RunPythonProbe(script, dir_->path(), &out), 0) << out;
    for (const fs::path& file : {frames, pages, Fixture("icon.ico")}) {
        std::unique_ptr<platform::ImageSource> source = platform::OpenImageFile(file);
        ASSERT_TRUE(source) << file;
        const testimage::Decoded first = testimage::DecodeWithPil(file);
        ASSERT_TRUE(first.ok()) << first.error;
        const bool icon = file.extension() == ".ico";
        ASSERT_EQ(source->count(), icon ? 2u : 3u) << file;
        for (std::size_t i = 0; i < source->count(); ++i) {
            ImageRepresentation rep;
            ASSERT_TRUE(source->Read(i, rep));
            if (icon) {
                // The two entries, in the file's order (Pillow opens the largest).
                EXPECT_EQ(rep.pixelsWide(), i == 0 ? 16 : 32);
                continue;
            }
            const testimage::Decoded want = testimage::DecodeWithPil(file, "RGB", static_cast<int>(i));
            ASSERT_TRUE(want.ok()) << want.error;
            EXPECT_EQ(MaxDifference(Packed(rep, "RGB"), want.pixels, "RGB"), 0) << file << " #" << i;
        }
    }
}

// libtiff's RGBA reading premultiplies unassociated alpha: the colour must come back as it was
// stored, not darkened (200, 100, 50 at alpha 128 once read as 100, 50, 25).
TEST_F(ImageReaders, TiffAlphaKinds) {
    for (const char* kind : {"unassociated", "associated"}) {
        const fs::path file = Fixture(std::string(kind) + ".tif");
        std::string out;
        ASSERT_EQ(testimage::RunCommand("convert -size 4x4 xc:'rgba(200,100,50,0.50196)' -define tiff:alpha=" +
                                            std::string(kind) + " " + testimage::ShellQuote(file.string()),
                                        &out),
                  0)
            << out;
        const testimage::Decoded want = testimage::DecodeWithPil(file, "RGBA");
        ASSERT_TRUE(want.ok()) << want.error;
        std::unique_ptr<platform::ImageSource> source = platform::OpenImageFile(file);
        ASSERT_TRUE(source);
        ImageRepresentation rep;
        ASSERT_TRUE(source->Read(0, rep));
        const std::vector<std::uint8_t> got = Packed(rep, "RGBA");
        ASSERT_GE(got.size(), 4u);
        EXPECT_EQ(got[3], 128) << kind;
        EXPECT_NEAR(got[0], want.pixels[0], 2) << kind;
        EXPECT_NEAR(got[1], want.pixels[1], 2) << kind;
        EXPECT_NEAR(got[2], want.pixels[2], 2) << kind;
        if (std::string(kind) == "unassociated") {
            EXPECT_NEAR(got[0], 200, 2);
        }
    }
}

// A header that claims more pixels than the bitmap cap is refused before anything is decoded.
TEST_F(ImageReaders, HugeHeadersAreRefused) {
    std::string out;
    const std::string script =
        "import struct, zlib\n"
        "def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))\n"
        "ihdr = struct.pack('>IIBBBBB', 200000, 200000, 8, 2, 0, 0, 0)\n"
        "open(sys.argv[1] + '/huge.png', 'wb').write(b'\\x89PNG\\r\\n\\x1a\\n' + chunk(b'IHDR', ihdr) +\n"
        "    chunk(b'IDAT', zlib.compress(b'\\0' * 64)) + chunk(b'IEND', b''))\n"
        "from PIL import Image\n"
        "Image.new('L', (8, 8)).save(sys.argv[1] + '/huge.tif')\n"
        "b = bytearray(open(sys.argv[1] + '/huge.tif', 'rb').read())\n"
        "ifd = struct.unpack_from('<I', b, 4)[0]\n"
        "for i in range(struct.unpack_from('<H', b, ifd)[0]):\n"
        "    e = ifd + 2 + 12 * i\n"
        "    tag, typ = struct.unpack_from('<HH', b, e)\n"
        "    if tag in (256, 257):\n"
        "        struct.pack_into('<HHII', b, e, tag, 4, 1, 300000)\n"
        "open(sys.argv[1] + '/huge.tif', 'wb').write(b)\n";
    ASSERT_EQ(testimage::RunPythonProbe(script, dir_->path(), &out), 0) << out;
    EXPECT_FALSE(platform::OpenImageFile(Fixture("huge.png")));
    EXPECT_FALSE(platform::OpenImageFile(Fixture("huge.tif")));
}

// The JPEG reader keeps the EXIF block (orientation, resolution), the ICC profile and XMP.
TEST_F(ImageReaders, JpegMetadata) {
    std::string out;
    const std::string script =
        "from PIL import Image, ImageCms\n"
        "im = Image.new('RGB', (16, 8), (10, 20, 30))\n"
        "ex = Image.Exif(); ex[274] = 6; ex[271] = 'Maker'; ex[282] = 240.0; ex[283] = 240.0; ex[296] = 2\n"
        "icc = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()\n"
        "xmp = b'<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>'\n"
        "app1 = b'http://ns.adobe.com/xap/1.0/\\0' + xmp\n"
        "im.save(sys.argv[1] + '/meta.jpg', exif=ex.tobytes(), icc_profile=icc)\n"
        "b = open(sys.argv[1] + '/meta.jpg', 'rb').read()\n"
        "import struct\n"
        "b = b[:2] + b'\\xff\\xe1' + struct.pack('>H', len(app1) + 2) + app1 + b[2:]\n"
        "open(sys.argv[1] + '/meta.jpg', 'wb').write(b)\n"
        "open(sys.argv[1] + '/meta.icc', 'wb').write(icc)\n";
    ASSERT_EQ(testimage::RunPythonProbe(script, dir_->path(), &out), 0) << out;
    std::unique_ptr<platform::ImageSource> source = platform::OpenImageFile(Fixture("meta.jpg"));
    ASSERT_TRUE(source);
    ImageRepresentation rep;
    ASSERT_TRUE(source->Read(0, rep));
    EXPECT_EQ(rep.orientation, 6);
    EXPECT_NEAR(rep.dpiX, 240, 0.01);  // no JFIF density: from the EXIF block
    ASSERT_TRUE(rep.metadata);
    std::ifstream icc(Fixture("meta.icc"), std::ios::binary);
    const std::vector<std::uint8_t> profile((std::istreambuf_iterator<char>(icc)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rep.metadata->icc, profile);
    EXPECT_NE(rep.metadata->xmp.find("adobe:ns:meta/"), std::string::npos);
    EXPECT_EQ(platform::ReadExifFacts(rep.metadata->exif.data(), rep.metadata->exif.size()).orientation, 6);
}

// Formats only the writer layer makes (no peer writes them here) read back at their size and
// colours: the encoders' output through the registry.
TEST(ImageReadersOwnFormats, WriterOutputReadsBack) {
    platform::Bitmap page = platform::Bitmap::Allocate(40, 30, platform::ColorModel::RGB, false);
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x) {
            std::uint8_t* p = page.row(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x * 6);
            p[1] = static_cast<std::uint8_t>(y * 8);
            p[2] = x < 20 ? 0 : 255;
        }
    struct Case {
        const char* identifier;
        const char* readAs;
        int tolerance;  // lossy formats
    };
    const Case cases[] = {
        {"com.ilm.openexr-image", "com.ilm.openexr-image", 2},
        {"com.apple.pict", "com.apple.pict", 0},
        {"com.apple.quicktime-image", "com.apple.quicktime-image", 0},
        {"com.apple.icns", "com.apple.icns", 255},  // scaled into an icon size: size only
        {"com.microsoft.ico", "com.microsoft.ico", 255},
        {"com.adobe.photoshop-image", "com.adobe.photoshop-image", 0},
        {"com.sgi.sgi-image", "com.sgi.sgi-image", 0},
        {"com.truevision.tga-image", "com.truevision.tga-image", 0},
        {"public.camera-raw-image", "public.camera-raw-image", 255},  // developed: size only
        {"com.apple.macpaint-image", "com.apple.macpaint-image", 255},  // fixed sheet: size only
        {"public.xbitmap-image", "public.xbitmap-image", 255},          // dithered: size only
        {"public.fax", "public.tiff", 255},
        {"com.kodak.flashpix.image", "com.kodak.flashpix.image", 0},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes;
        platform::DestinationProperties properties;
        properties.dpiWidth = properties.dpiHeight = 144;
        ASSERT_TRUE(platform::EncodeImageData(c.identifier, page, properties, bytes)) << c.identifier;
        const char* name = std::strcmp(c.identifier, "com.truevision.tga-image") == 0   ? "page.tga"
                           : std::strcmp(c.identifier, "public.camera-raw-image") == 0  ? "page.dng"
                           : std::strcmp(c.identifier, "com.apple.macpaint-image") == 0 ? "page.mac"
                                                                                        : "page";
        std::unique_ptr<platform::ImageSource> source = platform::OpenImageData(bytes.data(), bytes.size(), name);
        ASSERT_TRUE(source) << c.identifier;
        EXPECT_EQ(source->typeIdentifier(), c.readAs);
        ImageRepresentation rep;
        ASSERT_TRUE(source->Read(0, rep)) << c.identifier;
        if (c.tolerance == 255) {
            EXPECT_GT(rep.pixelsWide(), 0) << c.identifier;
            const bool sheet = std::strcmp(c.identifier, "com.apple.macpaint-image") == 0;
            if (std::strcmp(c.identifier, "com.apple.icns") != 0 && std::strcmp(c.identifier, "com.microsoft.ico") != 0) {
                EXPECT_EQ(rep.pixelsWide(), sheet ? 576 : 40) << c.identifier;
                EXPECT_EQ(rep.pixelsHigh(), sheet ? 720 : 30) << c.identifier;
            }
            continue;
        }
        ASSERT_EQ(rep.pixelsWide(), 40) << c.identifier;
        ASSERT_EQ(rep.pixelsHigh(), 30) << c.identifier;
        const std::vector<std::uint8_t> got = Packed(rep, "RGB");
        std::vector<std::uint8_t> want(page.data, page.data + 40 * 30 * 3);
        EXPECT_LE(MaxDifference(got, want, "RGB"), c.tolerance) << c.identifier;
    }
}

// FlashPix files from the writer read back whole at full resolution, premultiplied colour as
// stored, with their resolution; Pillow reads the same samples (on whole tiles: it reads the
// padded tiles at the right edge as if they were narrower).
TEST(ImageReadersOwnFormats, FlashPixLikePillow) {
    struct Case {
        const char* name;
        platform::ColorModel model;
        bool alpha;
        int width, height;
    };
    const Case cases[] = {
        {"rgb", platform::ColorModel::RGB, false, 150, 70},
        {"grey", platform::ColorModel::Monochrome, false, 70, 130},
        {"rgba", platform::ColorModel::RGB, true, 129, 64},
        {"one-tile", platform::ColorModel::RGB, false, 5, 3},
    };
    testpdf::TempDir dir;
    for (const Case& c : cases) {
        platform::Bitmap page = platform::Bitmap::Allocate(c.width, c.height, c.model, c.alpha);
        for (int y = 0; y < page.height; ++y)
            for (int x = 0; x < page.width; ++x) {
                std::uint8_t* p = page.row(y) + static_cast<std::size_t>(x) * page.components;
                const int a = c.alpha ? (x * 2 + y) % 256 : 255;
                for (int k = 0; k < page.colorComponents(); ++k)
                    p[k] = static_cast<std::uint8_t>(((x * 7 + y * 3 + k * 80) % 256) * a / 255);
                if (c.alpha) p[page.colorComponents()] = static_cast<std::uint8_t>(a);
            }
        std::vector<std::uint8_t> bytes;
        platform::DestinationProperties properties;
        properties.dpiWidth = 144;
        properties.dpiHeight = 96;
        ASSERT_TRUE(platform::EncodeImageData("com.kodak.flashpix.image", page, properties, bytes)) << c.name;
        const fs::path file = dir / (std::string(c.name) + ".fpx");
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));

        std::unique_ptr<platform::ImageSource> source = platform::OpenImageFile(file);
        ASSERT_TRUE(source) << c.name;
        EXPECT_EQ(source->typeIdentifier(), "com.kodak.flashpix.image");
        EXPECT_EQ(source->count(), 1u);
        ImageRepresentation rep;
        ASSERT_TRUE(source->Read(0, rep)) << c.name;
        ASSERT_EQ(rep.pixelsWide(), c.width);
        ASSERT_EQ(rep.pixelsHigh(), c.height);
        EXPECT_EQ(rep.colorKind, c.model == platform::ColorModel::RGB ? SourceColorKind::RGB : SourceColorKind::Grey);
        EXPECT_EQ(rep.hasAlpha, c.alpha);
        EXPECT_NEAR(rep.dpiX, 144, 0.05) << c.name;
        EXPECT_NEAR(rep.dpiY, 96, 0.05) << c.name;
        const testimage::Decoded pil = testimage::DecodeWithPil(file, "");
        ASSERT_TRUE(pil.ok()) << pil.error;
        ASSERT_EQ(pil.width, c.width);
        const int n = page.components;
        const int wholeTiles = c.width / 64 * 64;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                for (int k = 0; k < n; ++k) {
                    const int got = rep.bitmap.row(y)[static_cast<std::size_t>(x) * n + k];
                    ASSERT_EQ(got, page.row(y)[static_cast<std::size_t>(x) * n + k]) << c.name << " " << x << "," << y;
                    if (x < wholeTiles) {
                        ASSERT_EQ(got, pil.pixels[(static_cast<std::size_t>(y) * c.width + x) * n + k]) << c.name;
                    }
                }
    }

    // A file cut short is refused.
    std::vector<std::uint8_t> bytes;
    platform::Bitmap small = platform::Bitmap::Allocate(100, 100, platform::ColorModel::RGB, false);
    std::memset(small.data, 90, static_cast<std::size_t>(small.stride) * small.height);
    ASSERT_TRUE(platform::EncodeImageData("com.kodak.flashpix.image", small, {}, bytes));
    bytes.resize(bytes.size() / 2);
    std::unique_ptr<platform::ImageSource> cut = platform::OpenImageData(bytes.data(), bytes.size(), "cut.fpx");
    ImageRepresentation rep;
    EXPECT_FALSE(cut && cut->Read(0, rep));
}

}  // namespace
