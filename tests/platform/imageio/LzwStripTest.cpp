// TIFF LZW strips, decoded by a reader written here from TIFF's description of the scheme (not
// libtiff's), and whole pictures of several strips read back by Pillow.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/LzwStrip.h"
#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

namespace fs = std::filesystem;

namespace {

// Each record of the file: the plain bytes and the strip, each after its 32-bit length. The
// reader switches to n + 1 bits once its table reaches 2^n - 1 entries (the one-code-early
// change), starts afresh at Clear, stops at End and refuses a code beyond its table.
const char* kDecoder = R"(
import struct
data = open(sys.argv[1], 'rb').read()
at = 0
index = 0
def decode(strip):
    out = bytearray()
    pos, bits, table, prev = 0, 9, None, None
    while True:
        if pos + bits > len(strip) * 8:
            raise Exception('no End code')
        code = 0
        for i in range(bits):
            code = code << 1 | (strip[(pos + i) >> 3] >> (7 - ((pos + i) & 7))) & 1
        pos += bits
        if code == 256:
            table, bits, prev = [bytes([i]) for i in range(256)] + [b'', b''], 9, None
            continue
        if table is None:
            raise Exception('no Clear code first')
        if code == 257:
            if len(strip) - (pos + 7) // 8 != 0:
                raise Exception('bytes after End')
            return bytes(out)
        if prev is None:
            entry = table[code]
        else:
            if code < len(table):
                entry = table[code]
            elif code == len(table):
                entry = table[prev] + table[prev][:1]
            else:
                raise Exception('code %d beyond the table (%d)' % (code, len(table)))
            table.append(table[prev] + entry[:1])
        out += entry
        prev = code
        if len(table) >= (1 << bits) - 1 and bits < 12:
            bits += 1
while at < len(data):
    n, = struct.unpack_from('<I', data, at); plain = data[at + 4:at + 4 + n]; at += 4 + n
    m, = struct.unpack_from('<I', data, at); strip = data[at + 4:at + 4 + m]; at += 4 + m
    try:
        got = decode(strip)
    except Exception as e:
        print('record %d (%d bytes): %s' % (index, n, e)); sys.exit(1)
    if got != plain:
        print('record %d (%d bytes): decoded %d bytes, differing' % (index, n, len(got))); sys.exit(1)
    index += 1
print('ok')
)";

void PutRecord(std::ofstream& file, const std::vector<std::uint8_t>& bytes) {
    const std::uint32_t n = static_cast<std::uint32_t>(bytes.size());
    file.write(reinterpret_cast<const char*>(&n), 4);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST(LzwStrip, IndependentReaderDecodesEveryWidthAndTableReset) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> noise(300000);
    for (std::uint8_t& b : noise) b = static_cast<std::uint8_t>(random());
    std::vector<std::vector<std::uint8_t>> inputs = {
        {},
        {42},
        std::vector<std::uint8_t>(200000, 9),  // long strings: the table fills slowly
        noise,                                  // 12-bit codes and many fresh tables
    };
    // Runs of one byte of every length, a few bytes over and over, among noise: the strings
    // of repeated bytes grow across many runs and several fresh tables.
    std::vector<std::uint8_t> runs;
    while (runs.size() < 400000) {
        const std::size_t length = random() % 3 ? 1 + random() % 5000 : 1 + random() % 4;
        if (random() % 5 == 0) {
            for (std::size_t i = 0; i < length; ++i) runs.push_back(static_cast<std::uint8_t>(random()));
        } else {
            runs.insert(runs.end(), length, random() % 4 ? std::uint8_t{255} : static_cast<std::uint8_t>(random() % 3));
        }
    }
    inputs.push_back(runs);
    std::vector<std::uint8_t> ramp;
    for (int i = 0; i < 100000; ++i) ramp.push_back(static_cast<std::uint8_t>((i / 7) ^ (i % 13)));
    inputs.push_back(ramp);
    // Every length around the first fresh table, so that the data end just before, at and
    // after the table fills (the End code's width then depends on it).
    for (std::size_t n = 3700; n < 4300; ++n) inputs.emplace_back(noise.begin(), noise.begin() + static_cast<long>(n));

    testpdf::TempDir dir;
    const fs::path file = dir / "strips.bin";
    {
        std::ofstream out(file, std::ios::binary);
        // One vector for every strip, as the TIFF writer uses it: each strip replaces the last.
        std::vector<std::uint8_t> strip(5, 0xAB);
        for (const auto& input : inputs) {
            platform::CompressLzwStrip(input.data(), input.size(), strip);
            PutRecord(out, input);
            PutRecord(out, strip);
        }
    }
    std::string output;
    EXPECT_EQ(testimage::RunPythonProbe(kDecoder, file, &output), 0) << output;
    EXPECT_EQ(output, "ok\n");
}

TEST(LzwStrip, PicturesOfManyStripsReadBackByPillow) {
    struct Case {
        platform::ColorModel model;
        bool alpha;
        int width, height;
        const char* asMode;
    };
    // Strips of about 256 KiB, the last one short; grey, colour, colour with alpha, CMYK.
    const Case cases[] = {
        {platform::ColorModel::Monochrome, false, 1500, 301, "L"},
        {platform::ColorModel::RGB, false, 700, 333, "RGB"},
        {platform::ColorModel::RGB, true, 517, 200, "RGBA"},
        {platform::ColorModel::CMYK, false, 300, 500, "CMYK"},
    };
    testpdf::TempDir dir;
    std::mt19937 random(11);
    for (const Case& c : cases) {
        platform::Bitmap image = platform::Bitmap::Allocate(c.width, c.height, c.model, c.alpha);
        ASSERT_TRUE(image);
        for (int y = 0; y < image.height; ++y) {
            std::uint8_t* row = image.row(y);
            for (int x = 0; x < image.width; ++x) {
                std::uint8_t* p = row + x * image.components;
                // Noise over the left half, smooth ramps over the right.
                for (int k = 0; k < image.colorComponents(); ++k)
                    p[k] = static_cast<std::uint8_t>(x < image.width / 2 ? random() : x + y * k);
                if (c.alpha) {
                    // Opaque, so that the premultiplied samples are the straight ones.
                    p[image.components - 1] = 255;
                }
            }
        }
        platform::DestinationProperties props;
        props.tiffCompression = COMPRESSION_LZW;
        props.hasAlpha = c.alpha;
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(platform::EncodeImageData("public.tiff", image, props, bytes)) << c.asMode;
        const fs::path file = dir / (std::string(c.asMode) + ".tif");
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        const testimage::TiffFields fields = testimage::ReadTiffFields(file);
        ASSERT_TRUE(fields.ok()) << fields.error;
        EXPECT_EQ(fields.compression, COMPRESSION_LZW);
        const testimage::Decoded d = testimage::DecodeWithPil(file);
        ASSERT_TRUE(d.ok()) << c.asMode << ": " << d.error;
        EXPECT_EQ(d.mode, c.asMode);
        std::vector<std::uint8_t> expected;
        for (int y = 0; y < image.height; ++y)
            expected.insert(expected.end(), image.row(y), image.row(y) + image.width * image.components);
        EXPECT_TRUE(d.pixels == expected) << c.asMode;
    }
}

// GIF's codes (least significant bit first, no early change of width) in whole files, read
// back by Pillow and by ImageMagick. Grey pages map each sample straight to its palette entry,
// so the decoded samples are the codes' indices: long runs, noise, sizes around a fresh table.
TEST(LzwStrip, GifPicturesReadBackByPillowAndImageMagick) {
    std::mt19937 random(13);
    testpdf::TempDir dir;
    struct Case {
        int width, height;
        int noisePercent;  // of the pixels, the rest runs of a few values
    };
    std::vector<Case> cases = {{1, 1, 0}, {64, 64, 100}, {1240, 600, 10}, {700, 400, 50}, {3000, 200, 0}};
    // Noise ending just before, at and after the first table fills (the End code's width).
    for (int height = 3836; height <= 3842; ++height) cases.push_back({1, height, 100});
    for (const Case& c : cases) {
        platform::Bitmap image = platform::Bitmap::Allocate(c.width, c.height, platform::ColorModel::Monochrome, false);
        ASSERT_TRUE(image);
        std::uint8_t value = 255;
        int left = 0;
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                if (left-- <= 0) {
                    left = static_cast<int>(random() % 3000);
                    value = random() % 4 ? 255 : static_cast<std::uint8_t>(random());
                }
                image.row(y)[x] = static_cast<int>(random() % 100) < c.noisePercent ? static_cast<std::uint8_t>(random()) : value;
            }
        }
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(platform::EncodeImageData("com.compuserve.gif", image, platform::DestinationProperties{}, bytes));
        const fs::path file = dir / ("page" + std::to_string(c.width) + ".gif");
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        std::vector<std::uint8_t> expected;
        for (int y = 0; y < image.height; ++y) expected.insert(expected.end(), image.row(y), image.row(y) + image.width);
        const testimage::Decoded pil = testimage::DecodeWithPil(file);
        ASSERT_TRUE(pil.ok()) << c.width << ": " << pil.error;
        EXPECT_TRUE(pil.mode == "L" || pil.mode == "P") << pil.mode;  // Pillow shows a grey palette as grey
        EXPECT_TRUE(pil.pixels == expected) << "Pillow, " << c.width << "x" << c.height;
        const testimage::MagickDecoded magick = testimage::DecodeWithMagick(file, "GIF", "GRAY");
        ASSERT_TRUE(magick.ok()) << c.width << ": " << magick.error;
        EXPECT_TRUE(magick.pixels == expected) << "ImageMagick, " << c.width << "x" << c.height;
    }
}
