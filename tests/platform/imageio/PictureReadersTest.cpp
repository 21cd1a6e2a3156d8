// The picture readers of the WebP encoders, on files made by Pillow, ImageMagick and by hand,
// their pixels compared with Pillow's decoding of the same files.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "platform/WorkerBudget.h"
#include "platform/imageio/readers/PictureReaders.h"
#include "support/FormatReaders.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

const char* kFixtures = R"PY(
import sys, os, struct, zlib, subprocess
from PIL import Image, PngImagePlugin
d = sys.argv[1]
def p(n): return os.path.join(d, n)
def put(n, b): open(p(n), "wb").write(b)
W, H = 13, 7
rgb = Image.new("RGB", (W, H)); rgb.putdata([((x * 19) % 256, (y * 37) % 256, ((x ^ y) * 23) % 256) for y in range(H) for x in range(W)])
rgba = rgb.copy(); rgba.putalpha(Image.linear_gradient("L").resize((W, H)))
rgb.save(p("rgb.png")); rgba.save(p("rgba.png"))
put("rgb.raw", rgb.tobytes()); put("rgba.raw", rgba.tobytes())
subprocess.run(["convert", p("rgba.png"), "-interlace", "PNG", p("interlaced.png")], check=True)
pal = rgb.quantize(8); pal.save(p("palette.png"), transparency=3)
pal = Image.open(p("palette.png"))
put("palette-rgb.raw", pal.convert("RGB").tobytes()); put("palette-rgba.raw", pal.convert("RGBA").tobytes())

# A grey 2-bit PNG with a transparent grey (tRNS), written by hand: Pillow writes no such file
# (and does not scale its transparent value: ImageMagick decodes it).
def chunk(t, b): return struct.pack(">I", len(b)) + t + b + struct.pack(">I", zlib.crc32(t + b) & 0xffffffff)
rows = b""
for y in range(H):
    v = [(x + y) % 4 for x in range(W)] + [0, 0, 0]
    rows += b"\0" + bytes((v[i] << 6 | v[i + 1] << 4 | v[i + 2] << 2 | v[i + 3]) for i in range(0, W, 4))
put("grey2.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 2, 0, 0, 0, 0)) +
    chunk(b"tRNS", struct.pack(">H", 2)) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
subprocess.run(["convert", p("grey2.png"), "-depth", "8", "RGBA:" + p("grey2-rgba.raw")], check=True)

# Metadata in PNG text chunks.
def raw(name, payload):
    h = payload.hex()
    return "\n%s\n%8d\n" % (name, len(payload)) + "\n".join(h[i:i + 72] for i in range(0, len(h), 72)) + "\n"
info = PngImagePlugin.PngInfo()
info.add_text("Raw profile type exif", raw("exif", b"Exif\0\0II*\0first"))
info.add_text("Raw profile type APP1", raw("APP1", b"second"))
info.add_itxt("XML:com.adobe.xmp", "<x:xmpmeta>packet</x:xmpmeta>")
from PIL import ImageCms
srgb = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
put("srgb.icc", srgb)
rgb.save(p("meta.png"), pnginfo=info, icc_profile=srgb)
info = PngImagePlugin.PngInfo()
info.add_text("Raw profile type exif", "\nexif\n     100\n4578696600")
rgb.save(p("short-profile.png"), pnginfo=info)

# JPEG files: Pillow's baseline data after segments of our own (its JFIF segment left out).
rgb.save(p("base.jpg"), quality=100)
b = open(p("base.jpg"), "rb").read()
assert b[2:4] == b"\xff\xe0"
body = b[4 + struct.unpack(">H", b[4:6])[0]:]
put("jpeg.raw", Image.open(p("base.jpg")).convert("RGB").tobytes())
def seg(m, payload): return b"\xff" + bytes([m]) + struct.pack(">H", len(payload) + 2) + payload
def icc(seq, count, data): return seg(0xE2, b"ICC_PROFILE\0" + bytes([seq, count]) + data)
def jpeg(n, *segments): put(n, b"\xff\xd8" + b"".join(segments) + body)
xmp = seg(0xE1, b"http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>")
jpeg("dqt.jpg")
jpeg("app1.jpg", seg(0xE1, b"Exif\0\0II*\0first"), seg(0xE1, b"Exif\0\0II*\0second"), xmp)
jpeg("icc-213.jpg", icc(2, 3, b"BBBB"), icc(1, 3, b"AAAA"), icc(3, 3, b"CC"))
jpeg("icc-counts.jpg", icc(1, 3, b"A"), icc(2, 3, b"B"), icc(3, 2, b"C"))
jpeg("icc-gap.jpg", icc(1, 3, b"A"), icc(3, 3, b"C"))
jpeg("icc-duplicate.jpg", icc(1, 2, b"A"), icc(1, 2, b"B"))
jpeg("icc-zero.jpg", icc(0, 2, b"AB"))

# TIFF: little- and big-endian, three pages, straight alpha, and hand-made ones.
rgb.save(p("le.tif"))
for name in ("rgb", "rgba"):
    subprocess.run(["convert", p(name + ".png"), "-define", "tiff:rows-per-strip=2", "-compress", "lzw", p(name + "-strips.tif")], check=True)
subprocess.run(["convert", p("rgb.png"), "-define", "tiff:endian=msb", p("be.tif")], check=True)
rgb.save(p("pages.tif"), save_all=True, append_images=[rgba, rgb])
Image.new("RGBA", (4, 2), (200, 100, 50, 128)).save(p("alpha.tif"))
rgb.save(p("meta.tif"), tiffinfo={34675: b"ICC-in-tiff", 700: b"<x:xmpmeta/>"})
def grey_tiff(w, h, extra=()):
    entries = [(256, 4, w), (257, 4, h), (258, 3, 8), (259, 3, 1), (262, 3, 1), (273, 4, 0), (277, 3, 1),
               (278, 4, h), (279, 4, min(w * h, 4))] + list(extra)
    ifd_end = 8 + 2 + 12 * len(entries) + 4
    data = ifd_end + 6  # after an empty directory for the EXIF tag to point at
    out = b"II*\0" + struct.pack("<I", 8) + struct.pack("<H", len(entries))
    for tag, typ, val in entries:
        if tag == 273: val = data
        if tag == 34665: val = ifd_end
        out += struct.pack("<HHI", tag, typ, 1) + (struct.pack("<HH", val, 0) if typ == 3 else struct.pack("<I", val))
    return out + b"\0\0\0\0" + b"\0\0\0\0\0\0"
put("exif.tif", grey_tiff(2, 2, [(34665, 4, 0)]) + bytes([10, 20, 30, 40]))
put("huge.tif", grey_tiff(100000, 100000) + bytes(4))

put("short", b"\x89PN")
Image.new("RGB", (2, 2)).save(p("x.gif"))
Image.new("RGB", (2, 2)).save(p("x.webp"))
)PY";

class PictureReaders : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testpdf::TempDir;
        std::string out;
        ASSERT_EQ(testimage::RunPythonProbe(kFixtures, dir_->path(), &out), 0) << out;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static fs::path File(const std::string& name) { return dir_->path() / name; }
    static std::vector<std::uint8_t> Bytes(const std::string& name) { return testimage::ReadBytes(File(name)); }

    // A read with its standard error.
    struct Read {
        bool ok = false;
        std::string log;
        WebPPicture picture;
        PictureMetadata metadata;
        Read() {
            WebPPictureInit(&picture);
            picture.use_argb = 1;  // the JPEG reader keeps the caller's choice
            PictureMetadataInit(&metadata);
        }
        ~Read() {
            WebPPictureFree(&picture);
            PictureMetadataFree(&metadata);
        }
        // The picture's pixels as packed RGB or RGBA bytes.
        std::vector<std::uint8_t> Pixels(bool alpha) const {
            std::vector<std::uint8_t> out;
            for (int y = 0; y < picture.height; ++y)
                for (int x = 0; x < picture.width; ++x) {
                    const std::uint32_t v = picture.argb[y * picture.argb_stride + x];
                    out.insert(out.end(), {std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
                    if (alpha) out.push_back(std::uint8_t(v >> 24));
                }
            return out;
        }
        static std::string Text(const MetadataBlob& b) { return std::string(reinterpret_cast<const char*>(b.bytes), b.size); }
    };
    static void ReadFile(Read& r, const std::string& name, int keepAlpha = 1, bool metadata = true) {
        testing::internal::CaptureStderr();
        r.ok = ReadPictureFile(File(name).c_str(), &r.picture, keepAlpha, metadata ? &r.metadata : nullptr);
        r.log = testing::internal::GetCapturedStderr();
    }

    static testpdf::TempDir* dir_;
};

testpdf::TempDir* PictureReaders::dir_ = nullptr;

// The first four bytes choose the reader; anything else is refused with the file named.
TEST_F(PictureReaders, SignatureDispatch) {
    struct Case {
        const char* name;
        bool ok;
    };
    const Case cases[] = {
        {"rgb.png", true}, {"dqt.jpg", true},  {"app1.jpg", true}, {"base.jpg", true}, {"le.tif", true},
        {"be.tif", true},  {"short", false},   {"x.gif", false},   {"x.webp", false},  {"missing.png", false},
    };
    const std::vector<std::uint8_t> head = Bytes("dqt.jpg");
    ASSERT_EQ(head[3], 0xDB);
    ASSERT_EQ(Bytes("app1.jpg")[3], 0xE1);
    ASSERT_EQ(Bytes("be.tif")[0], 'M');
    for (const Case& c : cases) {
        Read r;
        ReadFile(r, c.name);
        EXPECT_EQ(r.ok, c.ok) << c.name << ": " << r.log;
        const std::string path = File(c.name).string();
        if (std::string(c.name) == "missing.png") {
            EXPECT_EQ(r.log, "Error! Cannot open input file '" + path + "'\n");
        } else if (!c.ok) {
            EXPECT_EQ(r.log, "Error! Could not process file " + path + "\n") << c.name;
        }
        if (c.ok) {
            EXPECT_EQ(r.picture.width, 13) << c.name;
            EXPECT_EQ(r.picture.height, 7) << c.name;
        }
    }
    // The pixels, against Pillow's decoding of the same files.
    for (const auto& [name, want] : {std::pair{"rgb.png", "rgb.raw"}, {"le.tif", "rgb.raw"}, {"be.tif", "rgb.raw"},
                                     {"dqt.jpg", "jpeg.raw"}}) {
        Read r;
        ReadFile(r, name);
        ASSERT_TRUE(r.ok) << name;
        EXPECT_EQ(r.Pixels(false), Bytes(want)) << name;
    }
}

TEST_F(PictureReaders, PngTransforms) {
    struct Case {
        const char* file;
        int keepAlpha;
        const char* want;
        bool alpha;
    };
    const Case cases[] = {
        {"grey2.png", 1, "grey2-rgba.raw", true},
        {"palette.png", 0, "palette-rgb.raw", false},
        {"palette.png", 1, "palette-rgba.raw", true},
        {"rgba.png", 1, "rgba.raw", true},
        {"interlaced.png", 1, "rgba.raw", true},
        {"rgba.png", 0, "rgb.raw", false},
    };
    for (const Case& c : cases) {
        Read r;
        ReadFile(r, c.file, c.keepAlpha);
        ASSERT_TRUE(r.ok) << c.file << ": " << r.log;
        EXPECT_EQ(r.Pixels(c.alpha), Bytes(c.want)) << c.file << " keepAlpha " << c.keepAlpha;
        if (!c.alpha) {
            EXPECT_FALSE(WebPPictureHasTransparency(&r.picture)) << c.file;
        }
    }
}

TEST_F(PictureReaders, PngMetadata) {
    Read r;
    ReadFile(r, "meta.png");
    ASSERT_TRUE(r.ok) << r.log;
    // The first raw profile for EXIF wins; the later one is reported.
    EXPECT_EQ(Read::Text(r.metadata.exif), std::string("Exif\0\0II*\0first", 15));
    EXPECT_EQ(Read::Text(r.metadata.xmp), "<x:xmpmeta>packet</x:xmpmeta>");
    EXPECT_EQ(std::vector<std::uint8_t>(r.metadata.icc.bytes, r.metadata.icc.bytes + r.metadata.icc.size), Bytes("srgb.icc"));
    EXPECT_EQ(r.log, "Ignoring additional 'Raw profile type APP1'\n");

    // A profile shorter than it says fails the read and leaves the record empty.
    Read s;
    ReadFile(s, "short-profile.png");
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(s.log, "Failed to process: 'Raw profile type exif'\nError extracting PNG metadata!\nError! Could not process file " +
                         File("short-profile.png").string() + "\n");
    EXPECT_EQ(s.metadata.exif.bytes, nullptr);

    // Without a record the same file reads.
    Read t;
    ReadFile(t, "short-profile.png", 1, false);
    EXPECT_TRUE(t.ok) << t.log;
}

TEST_F(PictureReaders, RawProfileText) {
    struct Case {
        std::string text;
        bool ok;
        std::string bytes;
        std::string log;
    };
    const Case cases[] = {
        {"\nexif\n4\nDEad\nbeef", true, "\xde\xad\xbe\xef", ""},
        {"\nexif\n   2\n0a0b0c", true, "\x0a\x0b", ""},  // what follows the payload is ignored
        {"exif\n2\n0a0b", false, "", "Malformed raw profile, expected '\\n' got '\\x65'\n"},
        {"\nexif\n2x\n0a0b", false, "", "Malformed raw profile, expected '\\n' got '\\x78'\n"},
        {"\nexif\n-2\n0a0b", false, "", "Malformed raw profile, expected '\\n' got '\\x2D'\n"},
        {"\nexif\n3\n0a0b", false, "", ""},            // shorter than declared
        {"\nexif\n2\n0a\0" "0b", false, "", ""},       // a zero ends the text
        {"\nexif\n2\n0aZZ", false, "", ""},            // not hexadecimal
        // A forged length is refused before anything is allocated.
        {"\nexif\n18446744073709551615\n00", false, "", ""},
        {"\nexif\n99999999999999999999999\n00", false, "", ""},
    };
    for (const Case& c : cases) {
        MetadataBlob blob;
        testing::internal::CaptureStderr();
        const bool ok = ParseRawProfileText(c.text.data(), c.text.size(), &blob);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.log) << c.text;
        EXPECT_EQ(ok, c.ok) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob.bytes), blob.size), c.bytes) << c.text;
        MetadataBlobRelease(&blob);
    }
    MetadataBlob blob;
    EXPECT_FALSE(ParseRawProfileText(nullptr, 4, &blob));
    EXPECT_FALSE(ParseRawProfileText("\n", 0, &blob));
}

TEST_F(PictureReaders, JpegMetadata) {
    Read r;
    ReadFile(r, "app1.jpg");
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(Read::Text(r.metadata.exif), std::string("II*\0first", 9));
    EXPECT_EQ(Read::Text(r.metadata.xmp), "<x:xmpmeta/>");
    EXPECT_EQ(r.metadata.icc.size, 0u);
    EXPECT_EQ(r.log, "Ignoring additional 'Exif' marker\n");

    Read icc;
    ReadFile(icc, "icc-213.jpg");
    ASSERT_TRUE(icc.ok) << icc.log;
    EXPECT_EQ(Read::Text(icc.metadata.icc), "AAAABBBBCC");
    EXPECT_EQ(icc.Pixels(false), Bytes("jpeg.raw"));

    const std::pair<const char*, const char*> failures[] = {
        {"icc-counts.jpg", "[ICCP] Inconsistent segment count (3 / 2)!\n"},
        {"icc-gap.jpg", "[ICCP] Discontinuous segments, expected: 2 actual: 3!\n"},
        {"icc-duplicate.jpg", "[ICCP] Duplicate segment number (1)!\n"},
        {"icc-zero.jpg", "[ICCP] size (2) / count (2) / sequence number (0) cannot be 0!\n"},
    };
    for (const auto& [name, message] : failures) {
        Read f;
        ReadFile(f, name);
        EXPECT_FALSE(f.ok) << name;
        EXPECT_EQ(f.log, std::string(message) + "Error extracting JPEG metadata!\nError! Could not process file " +
                             File(name).string() + "\n");
        EXPECT_EQ(f.metadata.icc.bytes, nullptr) << name;
        // The pixels are fine: without a record the file reads.
        Read plain;
        ReadFile(plain, name, 1, false);
        EXPECT_TRUE(plain.ok) << name << ": " << plain.log;
    }
}

TEST_F(PictureReaders, TiffDirectoriesMetadataAndAlpha) {
    Read pages;
    ReadFile(pages, "pages.tif");
    ASSERT_TRUE(pages.ok) << pages.log;
    EXPECT_EQ(pages.log, "Warning: multi-directory TIFF files are not supported.\nOnly the first will be used, 2 will be ignored.\n");
    EXPECT_EQ(pages.Pixels(false), Bytes("rgb.raw"));

    Read meta;
    ReadFile(meta, "meta.tif");
    ASSERT_TRUE(meta.ok) << meta.log;
    EXPECT_EQ(Read::Text(meta.metadata.icc), "ICC-in-tiff");
    EXPECT_EQ(Read::Text(meta.metadata.xmp), "<x:xmpmeta/>");

    Read exif;
    ReadFile(exif, "exif.tif");
    ASSERT_TRUE(exif.ok) << exif.log;
    EXPECT_EQ(exif.log, "Warning: EXIF extraction from TIFF is unsupported.\n");
    EXPECT_EQ(exif.metadata.exif.size, 0u);
    EXPECT_EQ(exif.Pixels(false), (std::vector<std::uint8_t>{10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40}));

    // libtiff premultiplies straight alpha; the picture gets it straight again.
    Read alpha;
    ReadFile(alpha, "alpha.tif");
    ASSERT_TRUE(alpha.ok) << alpha.log;
    const std::vector<std::uint8_t> px = alpha.Pixels(true);
    for (std::size_t i = 0; i < px.size(); i += 4) {
        EXPECT_NEAR(px[i], 200, 1);
        EXPECT_NEAR(px[i + 1], 100, 1);
        EXPECT_NEAR(px[i + 2], 50, 1);
        EXPECT_EQ(px[i + 3], 128);
    }

    // Strips read on several threads give what one thread reads.
    for (const auto& [file, want, withAlpha] : {std::tuple{"rgb-strips.tif", "rgb.raw", false}, {"rgba-strips.tif", "rgba.raw", true}}) {
        platform::ScopedWorkerBudget budget(4);
        Read strips;
        ReadFile(strips, file);
        ASSERT_TRUE(strips.ok) << strips.log;
        EXPECT_EQ(strips.Pixels(withAlpha), Bytes(want)) << file;
    }

    // A 100-byte file that claims 100000 × 100000 pixels allocates nothing.
    ASSERT_LT(fs::file_size(File("huge.tif")), 200u);
    Read huge;
    ReadFile(huge, "huge.tif");
    EXPECT_FALSE(huge.ok);
    EXPECT_TRUE(huge.log.ends_with("Error allocating TIFF RGBA memory!\nError! Could not process file " +
                                   File("huge.tif").string() + "\n"))
        << huge.log;
}

// Raw YUV 4:2:0 planes, read when the picture is given a size: each plane lands at its stride.
TEST_F(PictureReaders, RawYuv) {
    std::vector<std::uint8_t> planes;
    for (int i = 0; i < 5 * 3; ++i) planes.push_back(static_cast<std::uint8_t>(40 + i * 10));
    for (int i = 0; i < 3 * 2 * 2; ++i) planes.push_back(static_cast<std::uint8_t>(i % 2 ? 100 : 160));
    std::ofstream(File("planes.yuv"), std::ios::binary).write(reinterpret_cast<const char*>(planes.data()), planes.size());
    Read r;
    r.picture.use_argb = 0;
    r.picture.width = 5;
    r.picture.height = 3;
    testing::internal::CaptureStderr();
    r.ok = ReadPictureFile(File("planes.yuv").c_str(), &r.picture, 1, nullptr);
    r.log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.picture.use_argb, 0);
    EXPECT_EQ(0, std::memcmp(r.picture.y, planes.data(), 5)) << "first row of Y";
    EXPECT_EQ(r.picture.y[2 * r.picture.y_stride + 4], planes[14]);
    EXPECT_EQ(r.picture.v[r.picture.uv_stride + 2], planes[15 + 6 + 5]);

    // One byte short: the branch reports only that the file could not be processed.
    std::ofstream(File("short.yuv"), std::ios::binary).write(reinterpret_cast<const char*>(planes.data()), planes.size() - 1);
    Read s;
    s.picture.width = 5;
    s.picture.height = 3;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ReadPictureFile(File("short.yuv").c_str(), &s.picture, 1, nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error! Could not process file " + File("short.yuv").string() + "\n");
}

}  // namespace
