// WebP decoding into the intermediate TIFF: its header byte for byte, its pixels against
// Pillow's decoding of the same WebP file, and what each failure leaves.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "platform/imageio/readers/WebPDecoder.h"
#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

using testimage::ReadBytes;

const char* kFixtures = R"PY(
import sys, os
from PIL import Image
d = sys.argv[1]
def p(n): return os.path.join(d, n)
opaque = Image.new("RGB", (3, 2)); opaque.putdata([(255, 0, 0), (0, 255, 0), (0, 0, 255), (10, 20, 30), (200, 150, 100), (1, 2, 3)])
opaque.save(p("opaque.webp"), lossless=True)
alpha = Image.new("RGBA", (2, 2)); alpha.putdata([(200, 100, 50, 128), (255, 255, 255, 255), (0, 0, 0, 0), (90, 60, 30, 64)])
alpha.save(p("alpha.webp"), lossless=True, exact=True)
photo = Image.new("RGB", (40, 24)); photo.putdata([((x * 6) % 256, (y * 10) % 256, (x * y) % 256) for y in range(24) for x in range(40)])
photo.save(p("lossy.webp"), quality=80)
frames = [Image.new("RGB", (8, 8), c) for c in ((255, 0, 0), (0, 0, 255))]
frames[0].save(p("animated.webp"), save_all=True, append_images=frames[1:], duration=100)
b = open(p("lossy.webp"), "rb").read()
open(p("truncated.webp"), "wb").write(b[:len(b) // 2])
)PY";

class WebPDecoding : public testing::Test {
protected:
    testpdf::TempDir dir;
    void SetUp() override {
        std::string out;
        ASSERT_EQ(testimage::RunPythonProbe(kFixtures, dir.path(), &out), 0) << out;
    }
    struct Result {
        int code = 0;
        std::string log;
    };
    Result Decode(const std::string& name, const char* tiff) {
        const std::vector<std::uint8_t> data = ReadBytes(dir / name);
        WebPDecoderConfig config;
        EXPECT_TRUE(WebPInitDecoderConfig(&config));
        testing::internal::CaptureStderr();
        Result r;
        r.code = DecodeWebPToTIFFFile(data.data(), data.size(), &config, tiff);
        r.log = testing::internal::GetCapturedStderr();
        return r;
    }
};

void Le16(std::vector<std::uint8_t>& v, unsigned x) { v.insert(v.end(), {std::uint8_t(x), std::uint8_t(x >> 8)}); }
void Le32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    Le16(v, x & 0xFFFF);
    Le16(v, x >> 16);
}

// The 210-byte header as the format lays it out, for W × H with b samples.
std::vector<std::uint8_t> ExpectedHeader(unsigned w, unsigned h, unsigned b) {
    std::vector<std::uint8_t> v = {'I', 'I', 42, 0};
    Le32(v, 8);
    Le16(v, b == 4 ? 15 : 14);
    const unsigned entries[15][4] = {{256, 3, 1, w},       {257, 3, 1, h},   {258, 3, b, 194}, {259, 3, 1, 1},
                                     {262, 3, 1, 2},       {273, 4, 1, 210}, {274, 3, 1, 1},   {277, 3, 1, b},
                                     {278, 3, 1, h},       {279, 4, 1, w * h * b},             {282, 5, 1, 202},
                                     {283, 5, 1, 202},     {284, 3, 1, 1},   {296, 3, 1, 2},   {338, 3, 1, 1}};
    for (const auto& e : entries) {
        Le16(v, e[0]);
        Le16(v, e[1]);
        Le32(v, e[2]);
        Le32(v, e[3]);
    }
    if (b == 3) std::fill(v.begin() + 178, v.begin() + 182, 0);
    Le32(v, 0);
    for (int i = 0; i < 4; ++i) Le16(v, 8);
    Le32(v, 72);
    Le32(v, 1);
    return v;
}

TEST_F(WebPDecoding, IntermediateTiffOpaque) {
    const fs::path tiff = dir / "opaque.tif";
    const Result r = Decode("opaque.webp", tiff.c_str());
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.log, "Saved file " + tiff.string() + "\n");
    const std::vector<std::uint8_t> bytes = ReadBytes(tiff);
    ASSERT_EQ(bytes.size(), 228u);
    const std::vector<std::uint8_t> header(bytes.begin(), bytes.begin() + 210);
    EXPECT_EQ(header, ExpectedHeader(3, 2, 3));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 182, bytes.begin() + 190),
              (std::vector<std::uint8_t>{1, 0, 0, 0, 1, 0, 0, 0}));
    const std::vector<std::uint8_t> pixels(bytes.begin() + 210, bytes.end());
    EXPECT_EQ(pixels, (std::vector<std::uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 200, 150, 100, 1, 2, 3}));
    // Pillow and libtiff read the file as the picture Pillow decodes from the WebP file.
    const testimage::Decoded read = testimage::DecodeWithPil(tiff);
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.mode, "RGB");
    EXPECT_EQ(read.pixels, testimage::DecodeWithPil(dir / "opaque.webp", "RGB").pixels);
    EXPECT_NEAR(read.dpiX, 72, 0.01);
    const testimage::TiffFields fields = testimage::ReadTiffFields(tiff);
    EXPECT_EQ(fields.samplesPerPixel, 3);
    EXPECT_EQ(fields.compression, 1);
}

TEST_F(WebPDecoding, IntermediateTiffWithAlphaIsPremultiplied) {
    const fs::path tiff = dir / "alpha.tif";
    EXPECT_EQ(Decode("alpha.webp", tiff.c_str()).code, 0);
    const std::vector<std::uint8_t> bytes = ReadBytes(tiff);
    ASSERT_EQ(bytes.size(), 210u + 16);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 210), ExpectedHeader(2, 2, 4));
    // Premultiplied colour, as ExtraSamples 1 says; Pillow takes it back to straight colour.
    const testimage::Decoded straight = testimage::DecodeWithPil(dir / "alpha.webp", "RGBA");
    for (std::size_t i = 0; i < 16; i += 4) {
        const int a = straight.pixels[i + 3];
        EXPECT_EQ(bytes[210 + i + 3], a);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(bytes[210 + i + c], straight.pixels[i + c] * a / 255.0, 1.0) << i;
    }
    const testimage::Decoded read = testimage::DecodeWithPil(tiff, "RGBA");
    ASSERT_TRUE(read.ok()) << read.error;
    for (std::size_t i = 0; i < 16; i += 4) {
        if (straight.pixels[i + 3] < 64) continue;
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(read.pixels[i + c], straight.pixels[i + c], 4) << i;
    }
}

// What every other outcome returns and leaves.
TEST_F(WebPDecoding, FailuresAndNoPath) {
    const std::string animation =
        "Error! Decoding of an animated WebP file is not supported.\n"
        "       Use webpmux to extract the individual frames or\n"
        "       vwebp to view this image.\n";
    struct Case {
        const char* file;
        int code;
        std::string log;
    };
    std::ofstream(dir / "junk.webp") << "RIFF....WEBPnothing here";
    const Case cases[] = {
        {"junk.webp", kWebPNoFeatures, ""},
        {"opaque.tif", kWebPNoFeatures, ""},
        {"animated.webp", kWebPAnimated, animation},
        {"truncated.webp", kWebPDecodeFailed, ""},
    };
    std::ofstream(dir / "opaque.tif") << "II*\0";
    for (const Case& c : cases) {
        const fs::path out = dir / "out.tif";
        const Result r = Decode(c.file, out.c_str());
        EXPECT_EQ(r.code, c.code) << c.file;
        EXPECT_EQ(r.log, c.log) << c.file;
        EXPECT_FALSE(fs::exists(out)) << c.file;
    }
    const Result none = Decode("lossy.webp", nullptr);
    EXPECT_EQ(none.code, 0);
    EXPECT_EQ(none.log, "");
    const Result folder = Decode("lossy.webp", (dir / "no" / "such.tif").c_str());
    EXPECT_EQ(folder.code, kWebPWriteFailed);
    EXPECT_EQ(folder.log, "Error opening output file " + (dir / "no" / "such.tif").string() + "\n");
}

TEST_F(WebPDecoding, SaverRefusesWhatItCannotWrite) {
    std::vector<std::uint8_t> pixels(4 * 4 * 4, 7);
    WebPDecBuffer buffer;
    ASSERT_TRUE(WebPInitDecBuffer(&buffer));
    buffer.colorspace = MODE_RGB;
    buffer.width = 4;
    buffer.height = 4;
    buffer.u.RGBA = {pixels.data(), 12, pixels.size()};
    const fs::path out = dir / "saved.tif";
    struct Case {
        int format, width, height;
        WEBP_CSP_MODE mode;
        const char* log;
    };
    const Case cases[] = {
        {8, 4, 4, MODE_RGB, "Error! Unknown output format 8\n"},
        {-1, 4, 4, MODE_RGB, "Error! Unknown output format -1\n"},
        {kDecodedTIFF, 70000, 1, MODE_RGB, "Error! A 70000 x 1 picture cannot be written in this format.\n"},
        {kDecodedTIFF, 4, 4, MODE_BGR, "Error! A 4 x 4 picture cannot be written in this format.\n"},
        {kDecodedTIFF, 4, 4, MODE_YUV, "Error! A 4 x 4 picture cannot be written in this format.\n"},
    };
    for (const Case& c : cases) {
        buffer.width = c.width;
        buffer.height = c.height;
        buffer.colorspace = c.mode;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(SaveDecodedBuffer(&buffer, static_cast<DecodedOutputFormat>(c.format), out.c_str())) << c.log;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.log);
        EXPECT_FALSE(fs::exists(out)) << c.log;
    }
    // To standard output, with the verbose switch's timing.
    buffer.width = 4;
    buffer.height = 4;
    buffer.colorspace = MODE_RGB;
    SetDecodedBufferVerbose(true);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(SaveDecodedBuffer(&buffer, kDecodedTIFF, "-"));
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out2 = testing::internal::GetCapturedStdout();
    SetDecodedBufferVerbose(false);
    EXPECT_TRUE(std::regex_match(err, std::regex("Saved to stdout\nTime to write output: [0-9]+\\.[0-9]{3}s\n"))) << err;
    ASSERT_EQ(out2.size(), 210u + 48);
    EXPECT_EQ(std::vector<std::uint8_t>(out2.begin(), out2.begin() + 210), ExpectedHeader(4, 4, 3));
}

TEST_F(WebPDecoding, DimensionsAndRgba) {
    const std::vector<std::uint8_t> data = ReadBytes(dir / "lossy.webp");
    int w = 0, h = 0;
    EXPECT_EQ(GetWebPDimensions(data.data(), data.size(), &w, &h), 0);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 24);
    EXPECT_EQ(GetWebPDimensions(data.data(), 10, &w, &h), kWebPNoFeatures);
    WebPDecoderConfig config;
    ASSERT_TRUE(WebPInitDecoderConfig(&config));
    EXPECT_EQ(DecodeWebPToRGBA(data.data(), data.size(), &config), 0);
    EXPECT_EQ(config.output.colorspace, MODE_RGBA);
    const testimage::Decoded pil = testimage::DecodeWithPil(dir / "lossy.webp", "RGBA");
    ASSERT_EQ(config.output.u.RGBA.size, pil.pixels.size());
    EXPECT_EQ(std::vector<std::uint8_t>(config.output.u.RGBA.rgba, config.output.u.RGBA.rgba + config.output.u.RGBA.size),
              pil.pixels);
    WebPFreeDecBuffer(&config.output);
}

}  // namespace
