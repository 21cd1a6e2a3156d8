#include <gtest/gtest.h>

#include <limits>

#include <cstdlib>
#include <vector>

#include "engine/ImageConverter.h"
#include "engine/codecs/JPEGMemoryCodec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Samples() {
    Bytes s(24 * 16 * 4);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i * 13);
    return s;
}

Bytes EncodeAt(int quality, double dpiX, double dpiY) {
    const Bytes s = Samples();
    std::uint8_t* out = nullptr;
    std::size_t size = 0;
    EncodeJPEGData(24, 16, s.data(), 4, 4, dpiX, dpiY, quality, &out, &size);
    Bytes bytes(out, out + size);
    std::free(out);
    return bytes;
}

}  // namespace

struct QualityCase {
    double quality;
    int jpegQuality;
    friend void PrintTo(const QualityCase& c, std::ostream* os) { *os << c.quality << " -> " << c.jpegQuality; }
};

class CmykJpegQuality : public testing::TestWithParam<QualityCase> {};

// The converter's quality becomes libjpeg's scale in single precision, truncated.
TEST_P(CmykJpegQuality, IsTruncatedFromSinglePrecision) {
    ImageConverter converter;
    converter.SetQuality(GetParam().quality);
    converter.SetResolution(150, 300);  // vertical, horizontal
    const Bytes s = Samples();
    const auto jpeg = converter.EncodeCMYKJPEG(24, 16, s.data(), 4, 4);
    ASSERT_TRUE(jpeg.has_value());
    EXPECT_EQ(*jpeg, EncodeAt(GetParam().jpegQuality, 300, 150));
    if (GetParam().jpegQuality < 100) {
        EXPECT_NE(*jpeg, EncodeAt(GetParam().jpegQuality + 1, 300, 150));
    }
}

INSTANTIATE_TEST_SUITE_P(Values, CmykJpegQuality,
                         testing::Values(QualityCase{0.53, 52}, QualityCase{0.8, 80}, QualityCase{1.0, 100},
                                         QualityCase{0.0, 1}, QualityCase{1e300, 100}, QualityCase{-1e300, 1},
                                         QualityCase{std::numeric_limits<double>::quiet_NaN(), 1},
                                         QualityCase{std::numeric_limits<double>::infinity(), 100}),
                         [](const testing::TestParamInfo<QualityCase>& info) {
                             return "Quality" + std::to_string(info.param.jpegQuality) + "Case" +
                                    std::to_string(info.index);
                         });

TEST(CmykJpeg, CodecFailureGivesNothing) {
    ImageConverter converter;
    converter.SetQuality(0.8);
    const Bytes s = Samples();
    EXPECT_FALSE(converter.EncodeCMYKJPEG(0, 16, s.data(), 4, 4).has_value());
    EXPECT_FALSE(converter.EncodeCMYKJPEG(24, 16, s.data(), 4, 3).has_value());
}
