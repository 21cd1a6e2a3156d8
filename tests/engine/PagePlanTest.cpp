// The page's size and its way to the writer, planned without a document.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/PagePlan.h"

namespace {

platform::PdfPageGeometry Box(float w, float h, int rotation = 0, float userUnit = 1) {
    platform::PdfPageGeometry g;
    g.mediaBox = {0, 0, w, h};
    g.rotation = rotation;
    g.userUnit = userUnit;
    return g;
}

ImageResizeOptions Target(double w, double h, std::int32_t unit) {
    ImageResizeOptions o;
    o.targetWidth = w;
    o.targetHeight = h;
    o.sizeUnit = unit;
    return o;
}

}  // namespace

TEST(PagePlan, SizeFromBoxesRotationUnitResolutionAndTarget) {
    using Kind = PageSizePlan::Kind;
    platform::PdfPageGeometry cropped = Box(612, 792);
    cropped.cropBox = {10, 20, 110, 70};
    platform::PdfPageGeometry emptyCrop = Box(300, 200);
    emptyCrop.cropBox = {5, 5, 5, 50};
    struct Case {
        const char* what;
        platform::PdfPageGeometry page;
        float scale;
        bool resize;
        ImageResizeOptions target;
        Kind kind;
        int width, height;
        ConversionFailure failure;
    };
    const float k300 = 300.0f / 72.0f;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {"Letter at 72 dpi", Box(612, 792), 1, false, {}, Kind::Draw, 612, 792, ConversionFailure::None},
        {"Letter at 150 dpi", Box(612, 792), 150.0f / 72, false, {}, Kind::Draw, 1275, 1650, ConversionFailure::None},
        {"rotation 90", Box(612, 792, 90), 1, false, {}, Kind::Draw, 792, 612, ConversionFailure::None},
        {"rotation -270", Box(612, 792, -270), 1, false, {}, Kind::Draw, 792, 612, ConversionFailure::None},
        {"rotation 45 counts no quarter turn", Box(612, 792, 45), 1, false, {}, Kind::Draw, 612, 792,
         ConversionFailure::None},
        {"the crop box wins", cropped, 1, false, {}, Kind::Draw, 100, 50, ConversionFailure::None},
        {"an empty crop box gives the media box", emptyCrop, 1, false, {}, Kind::Draw, 300, 200, ConversionFailure::None},
        {"both boxes empty: skipped", Box(0, 792), 1, false, {}, Kind::Skip, 0, 0, ConversionFailure::None},
        {"UserUnit 72 on 8.5 x 11", Box(8.5f, 11, 0, 72), 1, false, {}, Kind::Draw, 612, 792, ConversionFailure::None},
        {"200 x 0 pixels", Box(612, 792), 1, true, Target(200, 0, kSizePixels), Kind::Draw, 200, 259,
         ConversionFailure::None},
        {"200 x 200 pixels: the height decides", Box(612, 792), 1, true, Target(200, 200, kSizePixels), Kind::Draw, 155,
         200, ConversionFailure::None},
        {"144 x 144 points at 300 dpi", Box(612, 792), k300, true, Target(144, 144, kSizePoints), Kind::Draw, 464, 600,
         ConversionFailure::None},
        {"a turned page into 200 x 200 pixels", Box(612, 792, 90), 1, true, Target(200, 200, kSizePixels), Kind::Draw,
         200, 155, ConversionFailure::None},
        {"ties round to even", Box(2.5f, 3.5f), 1, false, {}, Kind::Draw, 2, 4, ConversionFailure::None},
        {"below one pixel", Box(612, 792), 1, true, Target(0.4, 0.4, kSizePixels), Kind::Fail, 0, 0,
         ConversionFailure::UnusableSize},
        {"a negative resolution", Box(612, 792), -1, false, {}, Kind::Fail, 0, 0, ConversionFailure::UnusableSize},
        {"no number", Box(612, 792), nan, false, {}, Kind::Fail, 0, 0, ConversionFailure::UnusableSize},
        {"an infinite target", Box(612, 792), 1, true, Target(1e300, 0, kSizePixels), Kind::Fail, 0, 0,
         ConversionFailure::UnusableSize},
    };
    for (const Case& c : cases) {
        const PageSizePlan plan = PlanPageSize(c.page, c.scale, c.resize, c.target);
        EXPECT_EQ(plan.kind, c.kind) << c.what;
        EXPECT_EQ(plan.width, c.width) << c.what;
        EXPECT_EQ(plan.height, c.height) << c.what;
        EXPECT_EQ(plan.failure, c.failure) << c.what;
    }
}

TEST(PagePlan, WholePicturesBandsAndFormatLimits) {
    const FormatLimits jpeg{"JPEG", 65500, true};
    const FormatLimits gif{"GIF", 65535, false};
    const FormatLimits png{"PNG", 0, true};
    struct Case {
        const char* what;
        int width, height, bytes;
        FormatLimits format;
        bool ok, banded;
        ConversionFailure failure;
    };
    const Case cases[] = {
        {"a page at 150 dpi is written whole", 1275, 1650, 3, png, true, false, ConversionFailure::None},
        {"an A4 page at 600 dpi is drawn whole", 4961, 7016, 3, png, true, false, ConversionFailure::None},
        {"a CMYK A4 page at 600 dpi goes in bands", 4961, 7016, 4, png, true, true, ConversionFailure::None},
        {"a large page goes in bands", 17000, 22000, 3, png, true, true, ConversionFailure::None},
        {"a large page for a format without rows stays whole", 4000, 4000, 3, gif, true, false,
         ConversionFailure::None},
        {"beyond the cap without rows", 20000, 20000, 3, gif, false, false, ConversionFailure::PageTooLarge},
        {"beyond the cap with rows", 20000, 20000, 3, png, true, true, ConversionFailure::None},
        {"JPEG at its limit", 65500, 10, 3, jpeg, true, false, ConversionFailure::None},
        {"JPEG beyond its limit", 65501, 10, 3, jpeg, false, false, ConversionFailure::TooLargeForFormat},
        {"one row beyond the cap", 400000000, 1, 3, png, false, false, ConversionFailure::PageTooLarge},
    };
    for (const Case& c : cases) {
        const PageWritePlan plan = PlanPageWrite(c.width, c.height, c.bytes, c.format);
        EXPECT_EQ(plan.ok, c.ok) << c.what;
        EXPECT_EQ(plan.banded, c.banded) << c.what;
        EXPECT_EQ(plan.failure, c.failure) << c.what;
        if (plan.banded) {
            EXPECT_GE(plan.bandRows, 1) << c.what;
            EXPECT_LE(static_cast<std::size_t>(plan.bandRows) * c.width * c.bytes, kBandBytes) << c.what;
        }
        if (!plan.ok) {
            EXPECT_FALSE(plan.detail.empty()) << c.what;
        }
    }
}
