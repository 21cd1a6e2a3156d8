#include <gtest/gtest.h>

#include "support/ConversionSupport.h"
#include "platform/SystemVersion.h"
#include "support/ImageReader.h"

using namespace conversiontest;

namespace {

struct VersionGuard {
    ~VersionGuard() { platform::ResetSystemVersion(); }
};

// The JFIF APP0 segment's density unit and horizontal density, or -1 when there is none.
std::pair<int, int> JfifDensity(const std::string& jpeg) {
    const std::size_t at = jpeg.find(std::string("JFIF\0", 5));
    if (at == std::string::npos || at + 12 > jpeg.size()) return {-1, -1};
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(jpeg[at + i]); };
    return {byte(7), byte(8) << 8 | byte(9)};
}

}  // namespace

// CMYK JPEG pages go through the JPEG memory codec only on systems older than 10.7; both paths
// write files that common readers show in their true colours.
TEST(CmykJpegPath, TakenOnlyBelowTenSevenAndReadsInTrueColours) {
    VersionGuard guard;
    testpdf::TempDir dir;
    testpdf::Page page = PageOf(40, 20);
    page.content = "0 0 1 rg 0 0 20 20 re f 1 0 0 0 k 20 0 20 20 re f";  // blue, then cyan ink
    testpdf::Options o;
    o.pages = {page};
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);

    struct Case {
        platform::SystemVersion version;
        bool codecPath;
    };
    for (const Case& c : {Case{{10, 6, 8}, true}, Case{{10, 7, 0}, false}, Case{{14, 0, 0}, false}}) {
        SCOPED_TRACE(std::to_string(c.version.major) + "." + std::to_string(c.version.minor));
        platform::SetSystemVersion(c.version);
        const fs::path out = dir / ("out" + std::to_string(c.version.major) + std::to_string(c.version.minor));
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, kOutputJPEG, 144);
        r.conversionOptions.colorModel = kColorCMYK;
        r.conversionOptions.compressionQuality = 0.9;
        ASSERT_EQ(ConvertPDFToImages(&r), 1);
        ASSERT_EQ(Names(out), std::vector<std::string>{"doc.jpg"});

        const std::string bytes = ReadAll(out / "doc.jpg");
        EXPECT_NE(bytes.find("Adobe"), std::string::npos);
        // The codec always writes a JFIF density in dots per inch; the writer layer gives CMYK
        // files none (their resolution travels in Exif), which tells the two paths apart.
        if (c.codecPath) {
            EXPECT_EQ(JfifDensity(bytes), std::make_pair(1, 144));
        } else {
            EXPECT_EQ(JfifDensity(bytes).first, -1);
        }

        const auto d = testimage::DecodeWithPil(out / "doc.jpg", "RGB");
        ASSERT_TRUE(d.ok()) << d.error;
        EXPECT_EQ(d.mode, "CMYK");
        ASSERT_EQ(d.width, 80);
        ASSERT_EQ(d.height, 40);
        const auto at = [&](int x, int y, int ch) { return int(d.pixels[(y * d.width + x) * 3 + ch]); };
        // Blue on the left, cyan on the right, within JPEG's tolerance.
        EXPECT_LT(at(20, 20, 0), 40);
        EXPECT_LT(at(20, 20, 1), 40);
        EXPECT_GT(at(20, 20, 2), 215);
        EXPECT_LT(at(60, 20, 0), 40);
        EXPECT_GT(at(60, 20, 1), 215);
        EXPECT_GT(at(60, 20, 2), 215);
    }
}
