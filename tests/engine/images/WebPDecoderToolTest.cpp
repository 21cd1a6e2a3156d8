// The command-line WebP decoder, run as a program: its statuses and messages from one table of
// argument lists, its output formats against Pillow's decoding of the same files.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"
#include "support/ToolRun.h"

namespace {

namespace fs = std::filesystem;
using testimage::ReadBytes;
using testimage::ToolRun;

const char* kFixtures = R"PY(
import sys, os
from PIL import Image
d = sys.argv[1]
def p(n): return os.path.join(d, n)
photo = Image.new("RGB", (40, 24)); photo.putdata([((x * 6) % 256, (y * 10) % 256, (x * y) % 256) for y in range(24) for x in range(40)])
photo.save(p("lossy.webp"), quality=80)
photo.save(p("-dash.webp"), quality=80)
photo.save(p("lossless.webp"), lossless=True)
a = photo.convert("RGBA"); a.putalpha(Image.linear_gradient("L").resize((40, 24)))
a.save(p("alpha.webp"), lossless=True, exact=True)
odd = Image.new("RGB", (3, 3)); odd.putdata([(i * 20, 255 - i * 20, i * 7) for i in range(9)])
odd.save(p("odd.webp"), lossless=True)
b = open(p("lossy.webp"), "rb").read()
open(p("truncated.webp"), "wb").write(b[:len(b) // 2])
open(p("junk.webp"), "w").write("RIFF and WEBP, but nothing here is a picture: only these words.")
)PY";

class WebPDecoderTool : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testpdf::TempDir;
        std::string log;
        ASSERT_EQ(testimage::RunPythonProbe(kFixtures, dir_->path(), &log), 0) << log;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static fs::path File(const std::string& name) { return dir_->path() / name; }

    // Runs the tool in the fixtures' folder.
    static ToolRun Tool(const std::string& arguments) {
        return testimage::RunTool(dir_->path(), VELLIPSE_TOOL_DIR "/vellipse-webp-decode", arguments);
    }
    // Pillow's decoding of a fixture.
    static testimage::Decoded Pil(const std::string& name, const char* mode) { return testimage::DecodeWithPil(File(name), mode); }
    static std::vector<std::uint8_t> Tail(const std::vector<std::uint8_t>& v, std::size_t from) {
        return {v.begin() + static_cast<std::ptrdiff_t>(std::min(from, v.size())), v.end()};
    }

    static testpdf::TempDir* dir_;
};

testpdf::TempDir* WebPDecoderTool::dir_ = nullptr;

TEST_F(WebPDecoderTool, StatusesAndMessages) {
    const std::string usage = "Usage: dwebp in_file \\[options\\] \\[-o out_file\\]\n\nDecodes the WebP image file to PNG "
                              "format \\[Default\\]\n[^]*";
    struct Case {
        const char* arguments;
        int status;
        std::string out, err;  // regular expressions, matched whole
    };
    const Case cases[] = {
        {"", 255, usage, "missing input file!!\n"},
        {"-h", 0, usage, ""},
        {"lossy.webp -help -bogus", 0, usage, ""},
        {"-version", 0, "1\\.2\\.4\n", ""},
        {"lossy.webp -bogus", 255, usage, "Unknown option '-bogus'\n"},
        // A value missing at the end falls through to the unknown-option test.
        {"lossy.webp -o", 255, usage, "Unknown option '-o'\n"},
        {"lossy.webp -crop 1 2 3", 255, usage, "Unknown option '-crop'\n"},
        {"lossy.webp", 0, "",
         "File lossy.webp can be decoded \\(dimensions: 40 x 24 \\. Format: lossy\\)\\.\n"
         "Nothing written; use -o flag to save the result as e\\.g\\. PNG\\.\n"},
        {"alpha.webp", 0, "", "File alpha.webp can be decoded \\(dimensions: 40 x 24  \\(with alpha\\)\\. Format: lossless\\)\\.\n.*\n"},
        // The last input wins; "--" takes the next argument as the input, whatever it is.
        {"missing.webp lossy.webp", 0, "", "File lossy.webp can be decoded .*\n.*\n"},
        {"-- -dash.webp", 0, "", "File -dash.webp can be decoded .*\n.*\n"},
        {"missing.webp", 255, "", "cannot open input file 'missing.webp'\n"},
        {"truncated.webp -o t.png", 255, "", "Decoding of truncated.webp failed\\.\nStatus: 7 \\(NOT_ENOUGH_DATA\\)\n"},
        {"junk.webp -o t.png", 255, "", "Decoding of junk.webp failed\\.\nStatus: [0-9] \\([A-Z_]+\\)\n"},
        {"lossy.webp -o out.png", 0, "",
         "Decoded lossy.webp\\. Dimensions: 40 x 24 \\. Format: lossy\\. Now saving\\.\\.\\.\nSaved file out\\.png\n"},
        {"lossy.webp -v -o out.ppm -ppm", 0, "",
         "Time to decode picture: [0-9]+\\.[0-9]{3}s\nDecoded .*\nSaved file out\\.ppm\nTime to write output: [0-9]+\\.[0-9]{3}s\n"},
        {"lossy.webp -o no/such/folder.png", 255, "", "Decoded .*\nError opening output file no/such/folder\\.png\n"},
        // Sizes the format's header cannot hold are refused before the picture is decoded (at
        // that scale, 4.5 GB for the BMP) or a file is made.
        {"lossy.webp -scale 70000 2 -tiff -o big.tif", 255, "",
         "Error! A 70000 x 2 picture cannot be written in this format\\.\n"},
        {"lossy.webp -scale 50000 30000 -bmp -o big.bmp", 255, "",
         "Error! A 50000 x 30000 picture cannot be written in this format\\.\n"},
        {"lossy.webp -crop 0 0 20 24 -scale 0 60000 -tiff -o big.tif", 255, "",
         "Error! A 50000 x 60000 picture cannot be written in this format\\.\n"},
    };
    for (const Case& c : cases) {
        const ToolRun r = Tool(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments << "\n" << r.err;
        EXPECT_TRUE(std::regex_match(r.out, std::regex(c.out))) << c.arguments << ": standard output\n" << r.out;
        EXPECT_TRUE(std::regex_match(r.err, std::regex(c.err))) << c.arguments << ": standard error\n" << r.err;
    }
    EXPECT_FALSE(fs::exists(File("t.png")));
    EXPECT_FALSE(fs::exists(File("big.tif")));
    EXPECT_FALSE(fs::exists(File("big.bmp")));
}

// Every format against Pillow's decoding of the same file, exact; headers as the formats lay
// them out.
TEST_F(WebPDecoderTool, FormatsAgainstPillow) {
    const testimage::Decoded rgba = Pil("alpha.webp", "RGBA");
    const testimage::Decoded lossy = Pil("lossy.webp", "RGB");

    ASSERT_EQ(Tool("alpha.webp -o a.png").status, 0);
    EXPECT_EQ(testimage::DecodeWithPil(File("a.png")).mode, "RGBA");
    EXPECT_EQ(testimage::DecodeWithPil(File("a.png"), "RGBA").pixels, rgba.pixels);
    ASSERT_EQ(Tool("lossy.webp -o l.png").status, 0);
    EXPECT_EQ(testimage::DecodeWithPil(File("l.png")).mode, "RGB");
    EXPECT_EQ(testimage::DecodeWithPil(File("l.png"), "RGB").pixels, lossy.pixels);

    ASSERT_EQ(Tool("alpha.webp -pam -o a.pam").status, 0);
    const std::string pam = "P7\nWIDTH 40\nHEIGHT 24\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    const std::vector<std::uint8_t> pamBytes = ReadBytes(File("a.pam"));
    EXPECT_EQ(std::string(pamBytes.begin(), pamBytes.begin() + pam.size()), pam);
    EXPECT_EQ(Tail(pamBytes, pam.size()), rgba.pixels);

    ASSERT_EQ(Tool("lossy.webp -ppm -o l.ppm").status, 0);
    EXPECT_EQ(testimage::DecodeWithPil(File("l.ppm"), "RGB").pixels, lossy.pixels);
    EXPECT_EQ(Tail(ReadBytes(File("l.ppm")), std::string("P6\n40 24\n255\n").size()), lossy.pixels);

    ASSERT_EQ(Tool("lossless.webp -tiff -o l.tif").status, 0);
    EXPECT_EQ(testimage::DecodeWithPil(File("l.tif"), "RGB").pixels, Pil("lossless.webp", "RGB").pixels);

    // BMP: 32-bit top-down BGRA with alpha; 24-bit rows padded to 4 bytes for an odd width.
    struct Bmp {
        const char* file;
        int width, height, bits;
    };
    for (const Bmp& b : {Bmp{"alpha.webp", 40, 24, 32}, Bmp{"odd.webp", 3, 3, 24}}) {
        ASSERT_EQ(Tool(std::string(b.file) + " -bmp -o out.bmp").status, 0) << b.file;
        const std::vector<std::uint8_t> bmp = ReadBytes(File("out.bmp"));
        const int bytes = b.bits / 8, row = (b.width * bytes + 3) & ~3;
        ASSERT_EQ(bmp.size(), 54u + row * b.height) << b.file;
        auto le32 = [&](int at) { return std::int32_t(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24); };
        EXPECT_EQ(std::string(bmp.begin(), bmp.begin() + 2), "BM");
        EXPECT_EQ(le32(2), static_cast<std::int32_t>(bmp.size()));
        EXPECT_EQ(le32(10), 54);
        EXPECT_EQ(le32(14), 40);
        EXPECT_EQ(le32(18), b.width);
        EXPECT_EQ(le32(22), -b.height);
        EXPECT_EQ(bmp[28], b.bits);
        EXPECT_EQ(le32(38), 2400);
        const testimage::Decoded want = Pil(b.file, "RGBA");
        for (int y = 0; y < b.height; ++y)
            for (int x = 0; x < b.width; ++x) {
                const std::uint8_t* px = &bmp[54 + y * row + x * bytes];
                const std::uint8_t* w = &want.pixels[(y * b.width + x) * 4];
                EXPECT_EQ((std::vector<int>{px[2], px[1], px[0], bytes == 4 ? px[3] : 255}),
                          (std::vector<int>{w[0], w[1], w[2], w[3]}))
                    << b.file << " " << x << "," << y;
            }
        if (b.bits == 24) {
            EXPECT_EQ(bmp[54 + 9], 0);
            EXPECT_EQ(bmp[54 + 10], 0);
            EXPECT_EQ(bmp[54 + 11], 0);
        }
    }

    // The planes: PGM of Y over U|V (and alpha), raw Y, U, V, alpha, and the alpha plane alone.
    ASSERT_EQ(Tool("odd.webp -pgm -o odd.pgm").status, 0);
    const std::vector<std::uint8_t> pgm = ReadBytes(File("odd.pgm"));
    const std::string pgmHead = "P5\n4 5\n255\n";
    ASSERT_EQ(pgm.size(), pgmHead.size() + 4 * 5);
    EXPECT_EQ(std::string(pgm.begin(), pgm.begin() + pgmHead.size()), pgmHead);
    for (int y = 0; y < 3; ++y) EXPECT_EQ(pgm[pgmHead.size() + y * 4 + 3], 0) << "pad of Y row " << y;
    ASSERT_EQ(Tool("alpha.webp -yuv -o a.yuv").status, 0);
    ASSERT_EQ(Tool("alpha.webp -pgm -o a.pgm").status, 0);
    const std::vector<std::uint8_t> yuv = ReadBytes(File("a.yuv")), planes = ReadBytes(File("a.pgm"));
    ASSERT_EQ(yuv.size(), 40u * 24 * 2 + 2 * 20 * 12);
    const std::string planesHead = "P5\n40 60\n255\n";
    ASSERT_EQ(planes.size(), planesHead.size() + yuv.size());
    EXPECT_EQ(std::vector<std::uint8_t>(planes.begin() + planesHead.size(), planes.begin() + planesHead.size() + 960),
              std::vector<std::uint8_t>(yuv.begin(), yuv.begin() + 960));
    ASSERT_EQ(Tool("alpha.webp -alpha -o alpha.pgm").status, 0);
    const testimage::Decoded alpha = testimage::DecodeWithPil(File("alpha.pgm"), "L");
    std::vector<std::uint8_t> wantAlpha;
    for (std::size_t i = 3; i < rgba.pixels.size(); i += 4) wantAlpha.push_back(rgba.pixels[i]);
    EXPECT_EQ(alpha.pixels, wantAlpha);
    EXPECT_EQ(Tail(yuv, yuv.size() - 960), wantAlpha);
}

// Cropping, scaling, the incremental decoder, the plain C paths and standard output.
TEST_F(WebPDecoderTool, OptionsAndStandardOutput) {
    const testimage::Decoded whole = Pil("lossless.webp", "RGB");
    ASSERT_EQ(Tool("lossless.webp -crop 4 6 10 5 -o crop.png").status, 0);
    const testimage::Decoded crop = testimage::DecodeWithPil(File("crop.png"), "RGB");
    ASSERT_EQ(crop.width, 10);
    ASSERT_EQ(crop.height, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 10; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(crop.pixels[(y * 10 + x) * 3 + c], whole.pixels[((y + 6) * 40 + x + 4) * 3 + c]);
    ASSERT_EQ(Tool("lossless.webp -crop 4 6 10 5 -scale 20 15 -o scaled.png").status, 0);
    const testimage::Decoded scaled = testimage::DecodeWithPil(File("scaled.png"));
    EXPECT_EQ(scaled.width, 20);
    EXPECT_EQ(scaled.height, 15);

    for (const char* options : {"-incremental", "-noasm", "-mt", "-noasm -incremental"}) {
        ASSERT_EQ(Tool(std::string("lossy.webp ") + options + " -o same.png").status, 0) << options;
        EXPECT_EQ(testimage::DecodeWithPil(File("same.png"), "RGB").pixels, Pil("lossy.webp", "RGB").pixels) << options;
    }

    const ToolRun out = Tool("lossless.webp -o -");
    EXPECT_EQ(out.status, 0);
    EXPECT_TRUE(out.err.ends_with("Saved to stdout\n")) << out.err;
    std::ofstream(File("piped.png"), std::ios::binary) << out.out;
    EXPECT_EQ(testimage::DecodeWithPil(File("piped.png"), "RGB").pixels, whole.pixels);
}

}  // namespace
