// The WebP container writer and the picture-file encoder, checked by an independent chunk walk
// (Python), by libwebpmux and by Pillow.
#include <gtest/gtest.h>

#include <webp/mux.h>

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/WorkerBudget.h"
#include "platform/imageio/encoders/WebPEncoder.h"
#include "support/ImageReader.h"
#include "support/FormatReaders.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

using testimage::ReadBytes;

void WriteBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string Python(const std::string& script, const fs::path& arg) {
    std::string out;
    EXPECT_EQ(testimage::RunPythonProbe(script, arg, &out), 0) << out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// The chunks as a walk of the file sees them: tags in order; for "VP8X" its flags and size, for
// metadata chunks their size and pad byte; then whether the RIFF size and the end agree.
const char* kChunkWalk = R"PY(
import sys, struct
b = open(sys.argv[1], "rb").read()
assert b[:4] == b"RIFF" and b[8:12] == b"WEBP"
out = []
i = 12
while i + 8 <= len(b):
    tag = b[i:i + 4].decode("latin1"); n = struct.unpack("<I", b[i + 4:i + 8])[0]
    d = tag
    if tag == "VP8X":
        d += ":%d:%02x:%dx%d" % (n, b[i + 8], int.from_bytes(b[i + 12:i + 15], "little") + 1, int.from_bytes(b[i + 15:i + 18], "little") + 1)
    if tag in ("ICCP", "EXIF", "XMP "):
        d += ":%d" % n
        if n % 2: d += ":pad%d" % b[i + 8 + n]
    out.append(d)
    i += 8 + n + (n & 1)
out.append("riff=%d end=%d" % (struct.unpack("<I", b[4:8])[0] - (len(b) - 8), i - len(b)))
print(" ".join(out))
)PY";

// Pillow's reading of a file's metadata against the blobs in the same folder.
const char* kPillowMetadata = R"PY(
import sys, os
from PIL import Image
im = Image.open(sys.argv[1]); im.load()
d = os.path.dirname(sys.argv[1])
def same(key, name):
    v = im.info.get(key)
    if v is None: return "-"
    if isinstance(v, str): v = v.encode("utf-8")
    return "=" if v == open(os.path.join(d, name), "rb").read() else "!"
print(im.format, im.mode, im.size[0], im.size[1], same("icc_profile", "icc.bin"), same("exif", "exif.bin"), same("xmp", "xmp.bin"))
)PY";

std::vector<std::uint8_t> Pattern(std::size_t size, int seed) {
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i) v[i] = static_cast<std::uint8_t>(i * 31 + seed);
    return v;
}

class WebPContainer : public testing::Test {
protected:
    testpdf::TempDir dir;
    std::vector<std::uint8_t> icc = Pattern(3145, 1), exif = Pattern(7, 2), xmp = Pattern(1000, 3);

    PictureMetadata Blobs() {
        PictureMetadata m;
        m.icc = {icc.data(), icc.size()};
        m.exif = {exif.data(), exif.size()};
        m.xmp = {xmp.data(), xmp.size()};
        return m;
    }

    // Encodes a 33 × 17 picture (semi-transparent in a corner when `alpha`) into `stream`.
    static void Encode(bool lossless, bool alpha, WebPPicture& picture, WebPMemoryWriter& stream) {
        ASSERT_TRUE(WebPPictureInit(&picture));
        picture.width = 33;
        picture.height = 17;
        picture.use_argb = 1;
        ASSERT_TRUE(WebPPictureAlloc(&picture));
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 33; ++x) {
                const std::uint32_t a = alpha && x < 8 && y < 8 ? 0x80 : 0xFF;
                picture.argb[y * picture.argb_stride + x] = a << 24 | std::uint32_t(x * 7) << 16 | std::uint32_t(y * 15) << 8 | 0x40;
            }
        WebPConfig config;
        ASSERT_TRUE(WebPConfigInit(&config));
        config.lossless = lossless;
        WebPMemoryWriterInit(&stream);
        picture.writer = WebPMemoryWrite;
        picture.custom_ptr = &stream;
        ASSERT_TRUE(WebPEncode(&config, &picture));
    }

    // Writes the file; the written bits through `written`.
    bool Write(const fs::path& path, const WebPPicture& picture, const WebPMemoryWriter& stream,
               const PictureMetadata& metadata, KeepMetadataBits keep, KeepMetadataBits* written) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        const bool ok = WriteWebPFileWithMetadata(f, &picture, &stream, &metadata, keep, written);
        std::fclose(f);
        return ok;
    }
};

TEST_F(WebPContainer, LayoutWithAndWithoutMetadata) {
    struct Case {
        bool lossless, alpha;
        KeepMetadataBits keep;
        const char* walk;  // the chunk walk of the written file
    };
    const Case cases[] = {
        {false, false, 7, "VP8X:10:2c:33x17 ICCP:3145:pad0 VP8  EXIF:7:pad0 XMP :1000 riff=0 end=0"},
        {false, false, 6, "VP8X:10:24:33x17 ICCP:3145:pad0 VP8  XMP :1000 riff=0 end=0"},
        {true, false, 2, "VP8X:10:20:33x17 ICCP:3145:pad0 VP8L riff=0 end=0"},
        {true, true, 1, "VP8X:10:18:33x17 VP8L EXIF:7:pad0 riff=0 end=0"},
        {false, true, 5, "VP8X:10:1c:33x17 ALPH VP8  EXIF:7:pad0 XMP :1000 riff=0 end=0"},
        {false, true, 0, "VP8X:10:10:33x17 ALPH VP8  riff=0 end=0"},
        {false, false, 0, "VP8  riff=0 end=0"},
        {true, true, 0, "VP8L riff=0 end=0"},
    };
    WriteBytes(dir / "icc.bin", icc);
    WriteBytes(dir / "exif.bin", exif);
    WriteBytes(dir / "xmp.bin", xmp);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "lossless " << c.lossless << " alpha " << c.alpha << " keep " << c.keep);
        WebPPicture picture;
        WebPMemoryWriter stream;
        Encode(c.lossless, c.alpha, picture, stream);
        const fs::path file = dir / "out.webp";
        const PictureMetadata blobs = Blobs();
        KeepMetadataBits written = -1;
        ASSERT_TRUE(Write(file, picture, stream, blobs, c.keep, &written));
        EXPECT_EQ(written, c.keep);
        const std::vector<std::uint8_t> bytes = ReadBytes(file);
        const std::vector<std::uint8_t> original(stream.mem, stream.mem + stream.size);
        const bool extended = std::string(original.begin() + 12, original.begin() + 16) == "VP8X";
        std::size_t m = 0;
        if (c.keep & 1) m += 8 + exif.size() + 1;
        if (c.keep & 2) m += 8 + icc.size() + 1;
        if (c.keep & 4) m += 8 + xmp.size();
        EXPECT_EQ(bytes.size(), stream.size + m + (extended || m == 0 ? 0 : 18));
        if (c.keep == 0) {
            EXPECT_EQ(bytes, original);  // the encoder's stream, byte for byte
        }
        EXPECT_EQ(Python(kChunkWalk, file), c.walk);

        // libwebpmux finds the same chunks and features.
        WebPData data{bytes.data(), bytes.size()};
        WebPMux* mux = WebPMuxCreate(&data, 0);
        ASSERT_NE(mux, nullptr);
        std::uint32_t flags = 0;
        EXPECT_EQ(WebPMuxGetFeatures(mux, &flags), WEBP_MUX_OK);
        EXPECT_EQ((flags & ICCP_FLAG) != 0, (c.keep & 2) != 0);
        EXPECT_EQ((flags & ALPHA_FLAG) != 0, c.alpha);
        for (const auto& [tag, bit, blob] : {std::tuple{"ICCP", 2, &icc}, {"EXIF", 1, &exif}, {"XMP ", 4, &xmp}}) {
            WebPData chunk{};
            const WebPMuxError got = WebPMuxGetChunk(mux, tag, &chunk);
            if (c.keep & bit) {
                ASSERT_EQ(got, WEBP_MUX_OK) << tag;
                EXPECT_EQ(std::vector<std::uint8_t>(chunk.bytes, chunk.bytes + chunk.size), *blob) << tag;
            } else {
                EXPECT_EQ(got, WEBP_MUX_NOT_FOUND) << tag;
            }
        }
        WebPMuxDelete(mux);

        // Pillow reads the picture and the blobs.
        const std::string mode = c.alpha ? "RGBA" : "RGB";
        EXPECT_EQ(Python(kPillowMetadata, file), "WEBP " + mode + " 33 17 " + ((c.keep & 2) ? "=" : "-") + " " +
                                                     ((c.keep & 1) ? "=" : "-") + " " + ((c.keep & 4) ? "=" : "-"));
        WebPMemoryWriterClear(&stream);
        WebPPictureFree(&picture);
    }
}

// Missing or empty blobs add nothing, whatever the bits ask.
TEST_F(WebPContainer, AbsentBlobsAddNothing) {
    WebPPicture picture;
    WebPMemoryWriter stream;
    Encode(false, false, picture, stream);
    PictureMetadata none;
    PictureMetadata empty = Blobs();
    empty.icc.size = 0;
    empty.exif.bytes = nullptr;
    empty.xmp.size = 0;
    for (const PictureMetadata* m : {&none, &empty}) {
        KeepMetadataBits written = -1;
        ASSERT_TRUE(Write(dir / "plain.webp", picture, stream, *m, 7, &written));
        EXPECT_EQ(written, 0);
        EXPECT_EQ(ReadBytes(dir / "plain.webp"), std::vector<std::uint8_t>(stream.mem, stream.mem + stream.size));
    }
    WebPMemoryWriterClear(&stream);
    WebPPictureFree(&picture);
}

// Streams too short for what is read from them, or not WebP at all, and metadata that would
// overflow the container's size field: refused before a byte is written.
TEST_F(WebPContainer, MalformedStreamsAndOversizeMetadataWriteNothing) {
    auto stream = [](const std::string& tag, std::size_t size) {
        std::vector<std::uint8_t> s(size, 0);
        const std::string head = std::string("RIFF\0\0\0\0WEBP", 12) + tag;
        std::copy(head.begin(), head.begin() + std::min(head.size(), size), s.begin());
        return s;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::uint64_t exifSize;
        std::string log;
    };
    const Case cases[] = {
        {"19 bytes", stream("VP8 ", 19), 7, ""},
        {"a VP8X header cut short", stream("VP8X", 29), 7, ""},
        {"a VP8L header cut short", stream("VP8L", 24), 7, ""},
        {"another first chunk", stream("JUNK", 40), 7, ""},
        {"not RIFF", [&] { auto s = stream("VP8 ", 40); s[0] = 'X'; return s; }(), 7, ""},
        {"over the size limit", stream("VP8 ", 40), 4294967286ull - 32 - 8 - 18 + 1,
         "Error! Addition of metadata would exceed container size limit.\n"},
    };
    for (const Case& c : cases) {
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = picture.height = 1;
        WebPMemoryWriter writer;
        WebPMemoryWriterInit(&writer);
        writer.mem = const_cast<std::uint8_t*>(c.bytes.data());
        writer.size = c.bytes.size();
        PictureMetadata m;
        m.exif = {exif.data(), c.exifSize};  // only its size is read before the refusal
        testing::internal::CaptureStderr();
        EXPECT_FALSE(Write(dir / "bad.webp", picture, writer, m, 1, nullptr)) << c.what;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.log) << c.what;
        EXPECT_EQ(fs::file_size(dir / "bad.webp"), 0u) << c.what;
    }
}

TEST_F(WebPContainer, PutLittleEndianAndChunks) {
    std::FILE* f = std::fopen((dir / "le.bin").c_str(), "wb");
    EXPECT_TRUE(PutLittleEndian(f, 0x11223344u, 3));
    EXPECT_TRUE(PutLittleEndian(f, 0xA1B2C3D4u, 4));
    EXPECT_TRUE(PutLittleEndian(f, 0x1FFu, 1));
    EXPECT_FALSE(PutLittleEndian(f, 1, 0));
    EXPECT_FALSE(PutLittleEndian(f, 1, 5));
    const std::uint8_t odd[] = {'a', 'b', 'c'};
    const MetadataBlob blob{const_cast<std::uint8_t*>(odd), 3};
    EXPECT_TRUE(PutMetadataChunk(f, "EXIF", &blob));
    std::fclose(f);
    EXPECT_EQ(ReadBytes(dir / "le.bin"), (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0xD4, 0xC3, 0xB2, 0xA1, 0xFF, 'E',
                                                                     'X', 'I', 'F', 3, 0, 0, 0, 'a', 'b', 'c', 0}));
}

// The picture-file encoder's codes, and what each leaves on the disk.
TEST_F(WebPContainer, EncoderResultCodesAndFiles) {
    std::string out;
    ASSERT_EQ(testimage::RunPythonProbe(
                  "from PIL import Image, PngImagePlugin, ImageCms\n"
                  "d = sys.argv[1]\n"
                  "icc = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()\n"
                  "info = PngImagePlugin.PngInfo(); info.add_itxt('XML:com.adobe.xmp', '<x:xmpmeta/>')\n"
                  "Image.new('RGB', (40, 30), (200, 30, 90)).save(d + '/in.png', icc_profile=icc, pnginfo=info)\n"
                  "Image.new('RGB', (16384, 1), (1, 2, 3)).save(d + '/wide.png')\n"
                  "open(d + '/icc.bin', 'wb').write(icc); open(d + '/xmp.bin', 'wb').write(b'<x:xmpmeta/>')\n",
                  dir.path(), &out),
              0)
        << out;
    WebPConfig config;
    ASSERT_TRUE(WebPConfigInit(&config));
    const std::string in = (dir / "in.png").string();
    const fs::path output = dir / "out.webp";
    const std::vector<std::uint8_t> before = {'o', 'l', 'd'};
    WriteBytes(output, before);

    WebPConfig invalid = config;
    invalid.quality = 101;
    EXPECT_EQ(EncodePictureFileToWebP((dir / "missing.png").c_str(), output.c_str(), &invalid, 0), kWebPEncodeBadConfig);
    testing::internal::CaptureStderr();
    EXPECT_EQ(EncodePictureFileToWebP((dir / "missing.png").c_str(), output.c_str(), &config, 0), kWebPEncodeUnreadable);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(EncodePictureFileToWebP(in.c_str(), (dir / "no" / "such" / "folder.webp").c_str(), &config, 0),
              kWebPEncodeCannotCreate);
    // Wider than WebP allows: read, but not encoded; the existing file stays as it was.
    EXPECT_EQ(EncodePictureFileToWebP((dir / "wide.png").c_str(), output.c_str(), &config, 0), kWebPEncodeFailed);
    EXPECT_EQ(ReadBytes(output), before);
    EXPECT_EQ(EncodePictureFileToWebP(in.c_str(), nullptr, &config, 7), kWebPEncodeDone);
    EXPECT_EQ(ReadBytes(output), before);

    // ICC and XMP kept (a PNG has no EXIF here), replacing the file; nothing else left behind.
    EXPECT_EQ(EncodePictureFileToWebP(in.c_str(), output.c_str(), &config, 7), kWebPEncodeDone);
    EXPECT_EQ(Python(kPillowMetadata, output), "WEBP RGB 40 30 = - =");
    EXPECT_EQ(Python(kChunkWalk, output), "VP8X:10:24:40x30 ICCP:588 VP8  XMP :12 riff=0 end=0");
    EXPECT_EQ(EncodePictureFileToWebP(in.c_str(), output.c_str(), &config, 1), kWebPEncodeDone);
    EXPECT_EQ(Python(kPillowMetadata, output), "WEBP RGB 40 30 - - -");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"icc.bin", "in.png", "out.webp", "wide.png", "xmp.bin"}));
}

}  // namespace

// TIFF and PNG pictures (odd sizes, several strips, some with transparent pixels) encode to the
// very bytes libwebp makes of the pixels Pillow reads from them, on one thread or several.
TEST(WebPPictureEncoding, SameBytesAsTheLibraryOnAnyNumberOfThreads) {
    testpdf::TempDir dir;
    std::string out;
    ASSERT_EQ(testimage::RunPythonProbe(
                  "from PIL import Image\n"
                  "import random\n"
                  "d = sys.argv[1]\n"
                  "random.seed(3)\n"
                  "rgb = Image.new('RGB', (301, 203))\n"
                  "rgb.putdata([(random.randrange(256), (x * 3 + y) % 256, (y * 5) % 256)\n"
                  "             for y in range(203) for x in range(301)])\n"
                  "rgb.save(d + '/rgb.tif', compression='tiff_lzw')\n"
                  "rgb.save(d + '/rgb.png')\n"
                  "rgb.crop((0, 0, 77, 3)).save(d + '/short.tif', compression='tiff_lzw')\n"
                  "rgba = rgb.convert('RGBA')\n"
                  "rgba.putalpha(Image.new('L', (301, 203), 255))\n"
                  "rgba.paste((10, 20, 30, 0), (50, 60, 120, 90))\n"
                  "rgba.paste((200, 100, 50, 128), (150, 100, 250, 180))\n"
                  "rgba.save(d + '/rgba.tif', compression='tiff_lzw')\n",
                  dir.path(), &out),
              0)
        << out;
    WebPConfig lossy, lossless;
    ASSERT_TRUE(WebPConfigInit(&lossy));
    lossy.quality = 80;
    lossy.thread_level = 1;
    ASSERT_TRUE(WebPConfigInit(&lossless));
    lossless.lossless = 1;
    for (const char* name : {"rgb.tif", "rgb.png", "short.tif", "rgba.tif"}) {
        const testimage::Decoded d = testimage::DecodeWithPil(dir / name, "RGBA");
        ASSERT_TRUE(d.ok()) << name << ": " << d.error;
        for (const WebPConfig* config : {&lossy, &lossless}) {
            WebPPicture picture;
            ASSERT_TRUE(WebPPictureInit(&picture));
            picture.width = d.width;
            picture.height = d.height;
            picture.use_argb = 1;
            ASSERT_TRUE(WebPPictureImportRGBA(&picture, d.pixels.data(), d.width * 4));
            WebPMemoryWriter stream;
            WebPMemoryWriterInit(&stream);
            picture.writer = WebPMemoryWrite;
            picture.custom_ptr = &stream;
            ASSERT_TRUE(WebPEncode(config, &picture));
            const std::vector<std::uint8_t> expected(stream.mem, stream.mem + stream.size);
            WebPMemoryWriterClear(&stream);
            WebPPictureFree(&picture);
            for (int threads : {1, 4}) {
                ScopedWorkerBudget budget(threads);
                const fs::path output = dir / "out.webp";
                ASSERT_EQ(EncodePictureFileToWebP((dir / name).c_str(), output.c_str(), config, 0), kWebPEncodeDone);
                EXPECT_TRUE(ReadBytes(output) == expected)
                    << name << (config->lossless ? " lossless" : " lossy") << " on " << threads << " threads";
            }
        }
    }
}
