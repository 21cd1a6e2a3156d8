#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/codecs/JPEGMemoryCodec.h"
#include "support/ImageReader.h"
#include "support/TestPdf.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(std::uint32_t w, std::uint32_t h, const Bytes& samples, int colorSpace, int components, double dpiX,
             double dpiY, int quality) {
    std::uint8_t* out = reinterpret_cast<std::uint8_t*>(1);  // the encoder must reset it
    std::size_t size = 12345;
    EncodeJPEGData(w, h, samples.data(), colorSpace, components, dpiX, dpiY, quality, &out, &size);
    if (size == 0) {
        EXPECT_EQ(out, nullptr);
        return {};
    }
    Bytes bytes(out, out + size);
    std::free(out);
    return bytes;
}

struct Decoded {
    int status = -1;
    std::int32_t colorCode = 0;
    Bytes samples;
    std::uint32_t width = 0, height = 0;
    double dpiX = -1, dpiY = -1;  // what the caller had before
};

Decoded Decode(const std::uint8_t* data, std::size_t length) {
    Decoded d;
    std::uint8_t* samples = reinterpret_cast<std::uint8_t*>(1);
    std::size_t size = 0;
    d.status = DecodeJPEGData(data, length, &d.colorCode, &samples, &size, &d.width, &d.height, &d.dpiX, &d.dpiY);
    if (d.status == 0) {
        d.samples.assign(samples, samples + size);
        std::free(samples);
    } else {
        EXPECT_EQ(samples, nullptr);  // nothing for the caller to free
    }
    return d;
}

Decoded Decode(const Bytes& bytes) { return Decode(bytes.data(), bytes.size()); }

// Four flat quadrants (aligned to the encoder's blocks, so JPEG keeps them close).
Bytes Quadrants(int w, int h, int components, const std::vector<Bytes>& colours) {
    Bytes samples(static_cast<std::size_t>(w) * h * components);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Bytes& c = colours[(y < h / 2 ? 0 : 2) + (x < w / 2 ? 0 : 1)];
            std::memcpy(&samples[(static_cast<std::size_t>(y) * w + x) * components], c.data(), components);
        }
    return samples;
}

struct Segment {
    std::uint8_t marker;
    std::size_t offset;  // of the 0xFF
    Bytes payload;       // after the length field
};

// The marker segments before the first scan.
std::vector<Segment> HeaderSegments(const Bytes& jpeg) {
    std::vector<Segment> segments;
    std::size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        const std::uint8_t marker = jpeg[i + 1];
        const std::size_t length = (jpeg[i + 2] << 8) | jpeg[i + 3];
        if (length < 2 || i + 2 + length > jpeg.size()) break;
        segments.push_back({marker, i, Bytes(jpeg.begin() + i + 4, jpeg.begin() + i + 2 + length)});
        if (marker == 0xDA) break;
        i += 2 + length;
    }
    return segments;
}

const Segment* Find(const std::vector<Segment>& segments, std::uint8_t marker) {
    for (const Segment& s : segments)
        if (s.marker == marker) return &s;
    return nullptr;
}

void ExpectNear(const Bytes& got, const Bytes& want, int tolerance) {
    ASSERT_EQ(got.size(), want.size());
    int worst = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const int d = std::abs(int(got[i]) - int(want[i]));
        if (d > worst) worst = d, at = i;
    }
    EXPECT_LE(worst, tolerance) << "at sample " << at << ": " << int(got[at]) << " for " << int(want[at]);
}

}  // namespace

struct RoundTripCase {
    const char* name;
    int colorSpace;
    int components;
    std::int32_t colorCode;
    std::vector<Bytes> colours;
    friend void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }
};

class JPEGRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(JPEGRoundTrip, KnownPixelsComeBack) {
    const RoundTripCase& c = GetParam();
    const int w = 32, h = 32;
    const Bytes samples = Quadrants(w, h, c.components, c.colours);
    const Bytes jpeg = Encode(w, h, samples, c.colorSpace, c.components, 300, 300, 95);
    ASSERT_FALSE(jpeg.empty());
    const Decoded d = Decode(jpeg);
    ASSERT_EQ(d.status, 0);
    EXPECT_EQ(d.colorCode, c.colorCode);
    EXPECT_EQ(d.width, 32u);
    EXPECT_EQ(d.height, 32u);
    EXPECT_EQ(d.samples.size(), samples.size());
    EXPECT_DOUBLE_EQ(d.dpiX, 300);
    EXPECT_DOUBLE_EQ(d.dpiY, 300);
    ASSERT_EQ(d.samples.size(), samples.size());
    // Chroma is subsampled and smoothed across the quadrants' edges: compare their insides.
    Bytes got, want;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (y % 16 < 4 || y % 16 >= 12 || x % 16 < 4 || x % 16 >= 12) continue;
            const std::size_t at = (static_cast<std::size_t>(y) * w + x) * c.components;
            got.insert(got.end(), d.samples.begin() + at, d.samples.begin() + at + c.components);
            want.insert(want.end(), samples.begin() + at, samples.begin() + at + c.components);
        }
    ExpectNear(got, want, 6);
}

INSTANTIATE_TEST_SUITE_P(
    Models, JPEGRoundTrip,
    testing::Values(RoundTripCase{"Grey", 1, 1, 1, {{0}, {255}, {64}, {190}}},
                    RoundTripCase{"RGB", 2, 3, 2, {{255, 0, 0}, {0, 200, 40}, {20, 40, 230}, {250, 250, 250}}},
                    // Our convention (0 = no ink) must survive the file's inverted samples.
                    RoundTripCase{"CMYK", 4, 4, 4, {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 0, 0}, {10, 20, 200, 120}}}),
    [](const testing::TestParamInfo<RoundTripCase>& info) { return std::string(info.param.name); });

// What another program sees: a cyan patch must be cyan, white white, not their negatives.
TEST(JPEGCodec, CmykFileReadsRightInAnIndependentReader) {
    const int w = 32, h = 32;
    const Bytes samples = Quadrants(w, h, 4, {{255, 0, 0, 0}, {0, 0, 0, 0}, {0, 255, 255, 0}, {0, 0, 0, 255}});
    const Bytes jpeg = Encode(w, h, samples, 4, 4, 72, 72, 95);
    ASSERT_FALSE(jpeg.empty());
    testpdf::TempDir dir;
    const auto path = dir / "cmyk.jpg";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());

    const auto rgb = testimage::DecodeWithPil(path, "RGB");
    ASSERT_TRUE(rgb.ok()) << rgb.error;
    EXPECT_EQ(rgb.mode, "CMYK");
    auto pixel = [&](int x, int y) {
        const std::uint8_t* p = &rgb.pixels[(static_cast<std::size_t>(y) * w + x) * 3];
        return Bytes{p[0], p[1], p[2]};
    };
    ExpectNear(pixel(8, 8), {0, 255, 255}, 8);      // cyan
    ExpectNear(pixel(24, 8), {255, 255, 255}, 8);   // no ink
    ExpectNear(pixel(8, 24), {255, 0, 0}, 8);       // magenta + yellow
    ExpectNear(pixel(24, 24), {0, 0, 0}, 8);        // black
}

// A four-component file without an Adobe marker says nothing about inversion: its samples come
// back as they are stored.
TEST(JPEGCodec, CmykWithoutAdobeMarkerIsNotInverted) {
    const Bytes samples(16 * 16 * 4, 40);
    Bytes jpeg = Encode(16, 16, samples, 4, 4, 72, 72, 95);
    const auto segments = HeaderSegments(jpeg);
    const Segment* adobe = Find(segments, 0xEE);
    ASSERT_NE(adobe, nullptr);
    jpeg.erase(jpeg.begin() + adobe->offset, jpeg.begin() + adobe->offset + 4 + adobe->payload.size());
    const Decoded d = Decode(jpeg);
    ASSERT_EQ(d.status, 0);
    EXPECT_EQ(d.colorCode, 4);
    ExpectNear(d.samples, Bytes(samples.size(), 255 - 40), 3);
}

TEST(JPEGCodec, BadInputGivesFailureAndNothingToFree) {
    const Bytes text{'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    const Bytes soiOnly{0xFF, 0xD8};
    const Bytes soiGarbage{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x03, 0x01, 0x02, 0x03};
    EXPECT_EQ(Decode(nullptr, 0).status, 1);
    EXPECT_EQ(Decode(text).status, 1);
    EXPECT_EQ(Decode(soiOnly).status, 1);
    EXPECT_EQ(Decode(soiGarbage).status, 1);

    // Two components: a valid file, but not a layout the callers know.
    Bytes two(8 * 8 * 2, 100);
    const Bytes jpeg = Encode(8, 8, two, 0, 2, 72, 72, 90);
    ASSERT_FALSE(jpeg.empty());
    EXPECT_EQ(Decode(jpeg).status, 1);
}

// A second scan in a single-scan file is only found after every row was read: the samples are
// allocated by then and must be released on the way out (the sanitizer build checks for leaks).
TEST(JPEGCodec, ErrorAfterTheRowsReleasesTheSamples) {
    const Bytes samples(16 * 16 * 3, 128);
    Bytes jpeg = Encode(16, 16, samples, 2, 3, 72, 72, 90);
    const auto segments = HeaderSegments(jpeg);
    const Segment* sos = Find(segments, 0xDA);
    ASSERT_NE(sos, nullptr);
    ASSERT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    ASSERT_EQ(jpeg[jpeg.size() - 1], 0xD9);
    jpeg.resize(jpeg.size() - 2);
    jpeg.insert(jpeg.end(), jpeg.begin() + sos->offset, jpeg.begin() + sos->offset + 4 + sos->payload.size());
    jpeg.insert(jpeg.end(), {0x00, 0x00, 0xFF, 0xD9});
    EXPECT_EQ(Decode(jpeg).status, 1);
}

TEST(JPEGCodec, DataCutShortStillDecodesEveryRow) {
    const int w = 64, h = 64;
    Bytes samples(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 5));
    const Bytes jpeg = Encode(w, h, samples, 2, 3, 72, 72, 90);
    const auto segments = HeaderSegments(jpeg);
    const Segment* sos = Find(segments, 0xDA);
    ASSERT_NE(sos, nullptr);
    const std::size_t dataStart = sos->offset + 4 + sos->payload.size();
    const std::size_t cut = dataStart + (jpeg.size() - dataStart) / 2;
    const Decoded d = Decode(jpeg.data(), cut);
    ASSERT_EQ(d.status, 0);
    EXPECT_EQ(d.width, 64u);
    EXPECT_EQ(d.height, 64u);
    EXPECT_EQ(d.samples.size(), samples.size());
    // The top rows had data and come back close to what was encoded.
    const Decoded full = Decode(jpeg);
    ASSERT_EQ(full.status, 0);
    EXPECT_TRUE(std::equal(d.samples.begin(), d.samples.begin() + w * 3 * 8, full.samples.begin()));
}

struct DensityCase {
    std::uint8_t unit;
    std::uint16_t x, y;
    double wantX, wantY;  // -1: the caller's value left alone
    friend void PrintTo(const DensityCase& c, std::ostream* os) {
        *os << "unit " << int(c.unit) << ", " << c.x << " x " << c.y;
    }
};

class JPEGDensity : public testing::TestWithParam<DensityCase> {};

TEST_P(JPEGDensity, IsReportedInDotsPerInch) {
    const DensityCase& c = GetParam();
    Bytes jpeg = Encode(8, 8, Bytes(64, 128), 1, 1, 300, 300, 90);
    const auto segments = HeaderSegments(jpeg);
    const Segment* jfif = Find(segments, 0xE0);
    ASSERT_NE(jfif, nullptr);
    ASSERT_EQ(std::memcmp(jfif->payload.data(), "JFIF\0", 5), 0);
    const std::size_t at = jfif->offset + 4 + 7;  // identifier (5) and version (2)
    jpeg[at] = c.unit;
    jpeg[at + 1] = c.x >> 8, jpeg[at + 2] = c.x & 0xFF;
    jpeg[at + 3] = c.y >> 8, jpeg[at + 4] = c.y & 0xFF;
    const Decoded d = Decode(jpeg);
    ASSERT_EQ(d.status, 0);
    EXPECT_DOUBLE_EQ(d.dpiX, c.wantX);
    EXPECT_DOUBLE_EQ(d.dpiY, c.wantY);
}

// Dots per centimetre are converted in single precision: 118 gives 299.72f, not 299.72.
INSTANTIATE_TEST_SUITE_P(Units, JPEGDensity,
                         testing::Values(DensityCase{2, 118, 118, double(299.72f), double(299.72f)},
                                         DensityCase{2, 40, 80, double(101.6f), double(203.2f)},
                                         DensityCase{1, 72, 144, 72, 144},
                                         DensityCase{0, 1, 1, -1, -1}),
                         [](const testing::TestParamInfo<DensityCase>& info) {
                             const DensityCase& c = info.param;
                             return "Unit" + std::to_string(c.unit) + "_" + std::to_string(c.x) + "x" +
                                    std::to_string(c.y);
                         });

TEST(JPEGCodec, SmallCmykFileCarriesJfifAndAdobeMarkers) {
    const Bytes samples(2 * 2 * 4, 0);
    const Bytes jpeg = Encode(2, 2, samples, 4, 4, 300, 300, 80);
    ASSERT_GE(jpeg.size(), 20u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    // The JFIF marker comes right after the start of image.
    EXPECT_EQ(jpeg[2], 0xFF);
    EXPECT_EQ(jpeg[3], 0xE0);
    const auto segments = HeaderSegments(jpeg);
    ASSERT_FALSE(segments.empty());
    const Segment& jfif = segments.front();
    ASSERT_GE(jfif.payload.size(), 12u);
    EXPECT_EQ(std::memcmp(jfif.payload.data(), "JFIF\0", 5), 0);
    EXPECT_EQ(jfif.payload[7], 1);                               // dots per inch
    EXPECT_EQ((jfif.payload[8] << 8) | jfif.payload[9], 300);    // horizontal
    EXPECT_EQ((jfif.payload[10] << 8) | jfif.payload[11], 300);  // vertical
    const Segment* adobe = Find(segments, 0xEE);
    ASSERT_NE(adobe, nullptr);
    EXPECT_EQ(std::memcmp(adobe->payload.data(), "Adobe", 5), 0);
}

TEST(JPEGCodec, DensityIsTruncatedToWholeDots) {
    const Bytes jpeg = Encode(8, 8, Bytes(64, 0), 1, 1, 299.9, 72.5, 80);
    const auto segments = HeaderSegments(jpeg);
    const Segment* jfif = Find(segments, 0xE0);
    ASSERT_NE(jfif, nullptr);
    EXPECT_EQ((jfif->payload[8] << 8) | jfif->payload[9], 299);
    EXPECT_EQ((jfif->payload[10] << 8) | jfif->payload[11], 72);
}

// At the lowest quality the tables would need 16-bit entries unless kept to baseline.
TEST(JPEGCodec, QuantisationTablesStayBaseline) {
    const Bytes jpeg = Encode(16, 16, Bytes(16 * 16 * 3, 77), 2, 3, 72, 72, 1);
    ASSERT_FALSE(jpeg.empty());
    int tables = 0;
    const auto segments = HeaderSegments(jpeg);
    for (const Segment& s : segments) {
        if (s.marker == 0xDB) {
            for (std::size_t i = 0; i < s.payload.size(); i += 65, ++tables) EXPECT_EQ(s.payload[i] >> 4, 0);
        }
    }
    EXPECT_GE(tables, 2);
    EXPECT_NE(Find(segments, 0xC0), nullptr);  // a baseline frame
}

struct EncodeFailureCase {
    const char* name;
    std::uint32_t width, height;
    int colorSpace, components;
    friend void PrintTo(const EncodeFailureCase& c, std::ostream* os) { *os << c.name; }
};

class JPEGEncodeFailure : public testing::TestWithParam<EncodeFailureCase> {};

// Every library error ends with no bytes and no leaked buffer (the memory destination allocates
// its first buffer at once).
TEST_P(JPEGEncodeFailure, GivesNoBytes) {
    const EncodeFailureCase& c = GetParam();
    const Bytes samples(static_cast<std::size_t>(std::max<std::uint32_t>(c.width, 1)) * 4 * 4, 0);
    EXPECT_TRUE(Encode(c.width, c.height, samples, c.colorSpace, c.components, 72, 72, 80).empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, JPEGEncodeFailure,
                         testing::Values(EncodeFailureCase{"ZeroWidth", 0, 4, 2, 3},
                                         EncodeFailureCase{"ZeroHeight", 4, 0, 2, 3},
                                         EncodeFailureCase{"TooWide", 70000, 1, 1, 1},
                                         EncodeFailureCase{"RgbWithFourComponents", 4, 4, 2, 4},
                                         EncodeFailureCase{"CmykWithThreeComponents", 4, 4, 4, 3},
                                         EncodeFailureCase{"UnknownColourSpace", 4, 4, 99, 3}),
                         [](const testing::TestParamInfo<EncodeFailureCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(JPEGCodec, EncodesLargeImagesWhoseBufferGrows) {
    // Noise does not compress: the output outgrows the destination's first buffer many times.
    const int w = 256, h = 256;
    Bytes samples(static_cast<std::size_t>(w) * h * 3);
    unsigned state = 12345;
    for (auto& v : samples) v = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 16);
    const Bytes jpeg = Encode(w, h, samples, 2, 3, 72, 72, 100);
    ASSERT_GT(jpeg.size(), 64u * 1024);
    const Decoded d = Decode(jpeg);
    ASSERT_EQ(d.status, 0);
    EXPECT_EQ(d.samples.size(), samples.size());
}
