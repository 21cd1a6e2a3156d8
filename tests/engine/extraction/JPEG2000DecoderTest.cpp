// The JPEG 2000 decoder over OpenJPEG: images written with OpenJPEG's encoder, decoded by ours,
// and through a PDF compared with pdfimages.
#include <gtest/gtest.h>

#include <functional>

#include "engine/extraction/ExtractionSupport.h"
#include "engine/extraction/JPEG2000Decoder.h"
#include "engine/extraction/Jpeg2000Writer.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;

// Planes of `components` x `pixels` samples: component c of pixel i is f(c, i).
std::vector<std::int32_t> Planes(int components, int pixels, const std::function<int(int, int)>& f) {
    std::vector<std::int32_t> planes;
    for (int c = 0; c < components; ++c)
        for (int i = 0; i < pixels; ++i) planes.push_back(f(c, i));
    return planes;
}

struct DecoderCase {
    const char* name;
    testj2k::Spec spec;
    std::int32_t familyIn;
    std::int32_t familyOut;
    int colours;
    bool alpha;
    std::function<int(int c, int i)> expected;  // the byte of component c of pixel i
};

TEST(JPEG2000Decoder, SampleRules) {
    auto spec = [](int components, int precision, bool isSigned, bool jp2, int colorSpace) {
        testj2k::Spec s;
        s.width = 4;
        s.height = 3;
        s.components = components;
        s.precision = precision;
        s.isSigned = isSigned;
        s.jp2 = jp2;
        s.colorSpace = colorSpace;
        const int top = (1 << precision) - 1;
        s.planes = Planes(components, 12, [&](int c, int i) {
            const int v = (i * 23 + c * 71) % (top + 1);
            return isSigned ? v - (1 << (precision - 1)) : v;
        });
        return s;
    };
    auto stored = [](int components, int precision) {
        return [=](int c, int i) {
            const int top = (1 << precision) - 1;
            const int v = (i * 23 + c * 71) % (top + 1);
            (void)components;
            if (precision > 8) return v >> (precision - 8);
            return precision == 8 ? v : (v * 255 + top / 2) / top;
        };
    };
    const DecoderCase cases[] = {
        {"raw codestream, grey", spec(1, 8, false, false, 0), 0, 1, 1, false, stored(1, 8)},
        {"JP2 file, RGB", spec(3, 8, false, true, 1), 0, 2, 3, false, stored(3, 8)},
        {"16-bit grey shifted to 8", spec(1, 16, false, false, 0), 0, 1, 1, false, stored(1, 16)},
        {"signed 12-bit moved up and shifted", spec(1, 12, true, false, 0), 0, 1, 1, false, stored(1, 12)},
        {"4-bit spread over 0..255", spec(1, 4, false, false, 0), 0, 1, 1, false, stored(1, 4)},
        {"RGBA", spec(4, 8, false, true, 1), 0, 2, 3, true, stored(4, 8)},
        {"grey and alpha", spec(2, 8, false, true, 2), 0, 1, 1, true, stored(2, 8)},
        {"CMYK", spec(4, 8, false, false, 0), 0, 3, 4, false, stored(4, 8)},
        {"5 components: CMYK and the fifth as alpha", spec(5, 8, false, false, 0), 0, 3, 4, true, stored(5, 8)},
        {"6 components: the sixth dropped", spec(6, 8, false, false, 0), 0, 3, 4, true, stored(6, 8)},
        {"the caller's family stays", spec(3, 8, false, false, 0), 7, 7, 3, false, stored(3, 8)},
    };
    for (const DecoderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = testj2k::Encode(c.spec);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0x4F, !c.spec.jp2);
        JPEG2000Image image;
        std::int32_t family = c.familyIn;
        ASSERT_EQ(DecodeJPEG2000Data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), image, family), 0);
        EXPECT_EQ(family, c.familyOut);
        EXPECT_EQ(image.width, 4);
        EXPECT_EQ(image.height, 3);
        EXPECT_EQ(image.colorComponents, c.colours);
        EXPECT_EQ(image.hasAlpha, c.alpha);
        const int m = image.samplesPerPixel();
        ASSERT_EQ(image.samples.size(), static_cast<std::size_t>(12 * m));
        for (int i = 0; i < 12; ++i)
            for (int k = 0; k < m; ++k) EXPECT_EQ(image.samples[i * m + k], c.expected(k, i)) << "pixel " << i << " component " << k;
    }
}

TEST(JPEG2000Decoder, YccIsConvertedAndBadInputRefused) {
    testj2k::Spec ycc;
    ycc.width = ycc.height = 1;
    ycc.components = 3;
    ycc.jp2 = true;
    ycc.colorSpace = 3;  // sYCC
    ycc.planes = {128, 128, 255};
    const std::string bytes = testj2k::Encode(ycc);
    JPEG2000Image image;
    std::int32_t family = 0;
    ASSERT_EQ(DecodeJPEG2000Data(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), image, family), 0);
    EXPECT_EQ(image.samples, (std::vector<std::uint8_t>{255, 37, 128}));

    // A declared size far past the bitmap cap is refused from the header, before decoding.
    testj2k::Spec small;
    small.width = small.height = 2;
    small.planes = {1, 2, 3, 4};
    std::string huge = testj2k::Encode(small);
    const std::size_t siz = huge.find("\xFF\x51");
    ASSERT_NE(siz, std::string::npos);
    for (std::size_t at : {siz + 6, siz + 10}) {  // Xsiz, Ysiz
        huge[at] = 0x00;
        huge[at + 1] = 0x10;
        huge[at + 2] = 0x00;
        huge[at + 3] = 0x00;
    }
    EXPECT_EQ(DecodeJPEG2000Data(reinterpret_cast<const std::uint8_t*>(huge.data()), huge.size(), image, family), -1);

    const std::uint8_t junk[] = {0xFF, 0x4F, 0x00, 0x01, 0x02};
    EXPECT_EQ(DecodeJPEG2000Data(junk, sizeof junk, image, family), -1);
    EXPECT_EQ(DecodeJPEG2000Data(junk, 1, image, family), -1);
    EXPECT_TRUE(image.samples.empty());
}

TEST(JPEG2000Decoder, ImagesInAPdfAgreeWithPdfimages) {
    testpdf::TempDir dir;
    struct PdfCase {
        const char* name;
        int components, precision;
        bool isSigned;
        const char* space;
    };
    const PdfCase cases[] = {
        {"RGB", 3, 8, false, "/ColorSpace /DeviceRGB"},
        {"16-bit grey, no colour space", 1, 16, false, ""},
        {"signed 12-bit grey", 1, 12, true, "/ColorSpace /DeviceGray"},
    };
    int n = 0;
    for (const PdfCase& c : cases) {
        SCOPED_TRACE(c.name);
        testj2k::Spec s;
        s.width = 5;
        s.height = 4;
        s.components = c.components;
        s.precision = c.precision;
        s.isSigned = c.isSigned;
        const int top = (1 << c.precision) - 1;
        s.planes = Planes(c.components, 20, [&](int k, int i) {
            const int v = static_cast<int>((static_cast<long>(i) * 9973 + k * 3001) % (top + 1));
            return c.isSigned ? v - (1 << (c.precision - 1)) : v;
        });
        const fs::path folder = dir / std::to_string(n++);
        fs::create_directories(folder / "ours");
        testextract::PdfBuilder b;
        b.AddPage(testextract::PdfBuilder::XObjects(
                      {{"/Im", b.Image(std::string("/Width 5 /Height 4 /BitsPerComponent 8 /Filter /JPXDecode ") + c.space,
                                       testj2k::Encode(s))}}),
                  "q 100 0 0 100 0 0 cm /Im Do Q");
        b.Write(folder / "in.pdf");
        const testextract::Run run = testextract::Extract(folder / "in.pdf", folder / "ours");
        ASSERT_EQ(run.files.size(), 1u);
        // Above 8 bits poppler rounds where we shift the low bits out (-2048 stays 0 either way).
        const int tolerance = c.precision > 8 ? 1 : 0;
        const char* mode = c.components == 3 ? "RGB" : "L";
        const std::vector<std::uint8_t> ours = testextract::Read(folder / "ours" / run.files[0], mode).pixels;
        testextract::ExpectSamplesNear(ours, testextract::PdfImagesSamples(folder / "in.pdf", folder / "peer", mode), tolerance);
    }
}

}  // namespace
