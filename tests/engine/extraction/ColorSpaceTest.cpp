// PDF colour spaces: the families and counts of colour-space arrays, and images in Indexed,
// Separation, DeviceN, Lab, CalRGB and ICC spaces extracted as PNG against pdfimages (CalGray
// against the CIE formulas computed with numpy, images in Pattern spaces against mutool).
#include <gtest/gtest.h>

#include <lcms2.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "engine/extraction/ExtractionSupport.h"
#include "engine/extraction/PDFColorSpaces.h"
#include "support/FormatReaders.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;
using testextract::PdfBuilder;

// The bytes of a profile, which is closed.
std::string SaveProfile(cmsHPROFILE p) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::string bytes(size, '\0');
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    return bytes;
}

std::string SrgbProfile() { return SaveProfile(cmsCreate_sRGBProfile()); }

// A wide-gamut RGB profile (primaries 0.64 0.33, 0.21 0.71, 0.15 0.06, D65, gamma 2.2).
std::string WideRgbProfile() {
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE p = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(curve);
    return SaveProfile(p);
}

// A grey profile of gamma 1.8 under D50.
std::string GreyProfile() {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
    cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    return SaveProfile(p);
}

TEST(ColorSpaces, FamiliesAndCounts) {
    PdfBuilder b;
    QPDF& pdf = b.document();
    auto stream = [&](const std::string& dict, const std::string& data) {
        QPDFObjectHandle s = QPDFObjectHandle::newStream(&pdf, data);
        QPDFObjectHandle d = QPDFObjectHandle::parse(&pdf, dict);
        for (const std::string& key : d.getKeys()) s.getDict().replaceKey(key, d.getKey(key));
        return pdf.makeIndirectObject(s);
    };
    auto ref = [](QPDFObjectHandle o) { return std::to_string(o.getObjectID()) + " 0 R"; };
    const std::string icc = ref(stream("<< /N 3 >>", SrgbProfile()));
    const std::string junkN3 = ref(stream("<< /N 3 >>", "not a profile"));
    const std::string junkNoN = ref(stream("<< >>", "not a profile"));
    const std::string junkAlt = ref(stream("<< /N 1 /Alternate /DeviceGray >>", "not a profile"));
    const std::string tint = "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [1 0 0 0] /N 1 >>";
    QPDFObjectHandle cyclic = pdf.makeIndirectObject(QPDFObjectHandle::parse("[/Indexed /DeviceRGB 0 <000000>]"));
    cyclic.setArrayItem(1, cyclic);
    QPDFObjectHandle cyclicAlternate = pdf.makeIndirectObject(QPDFObjectHandle::parse("[/Separation /Spot /DeviceGray << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>]"));
    cyclicAlternate.setArrayItem(2, cyclicAlternate);
    QPDFObjectHandle cyclicFunction = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /FunctionType 3 /Domain [0 1] /Bounds [] /Encode [0 1] >>"));
    QPDFObjectHandle list = QPDFObjectHandle::newArray();
    list.appendItem(cyclicFunction);
    cyclicFunction.replaceKey("/Functions", list);
    // `family` and `count` as the call leaves them, from -1 and 99.
    const struct {
        const char* name;
        std::string text;
        QPDFObjectHandle object;
        bool made;
        std::int32_t family;
        std::uint64_t count;
        int components;  // of the samples
        platform::ColorModel model;
    } cases[] = {
        {"ICC, sRGB", "[/ICCBased " + icc + "]", {}, true, 7, 3, 3, platform::ColorModel::RGB},
        {"ICC refused, by /N", "[/ICCBased " + junkN3 + "]", {}, true, 7, 3, 3, platform::ColorModel::RGB},
        {"ICC refused, the alternate", "[/ICCBased " + junkAlt + "]", {}, true, 7, 1, 1, platform::ColorModel::Monochrome},
        {"ICC refused, no /N", "[/ICCBased " + junkNoN + "]", {}, false, 7, 0, 0, {}},
        {"Indexed over RGB", "[/Indexed /DeviceRGB 1 <FF000000FF00>]", {}, true, 8, 1, 1, platform::ColorModel::RGB},
        {"Indexed over Separation", "[/Indexed [/Separation /Spot /DeviceCMYK " + tint + "] 1 <00FF>]", {}, true, 8, 1, 1,
         platform::ColorModel::CMYK},
        {"Indexed hival 256", "[/Indexed /DeviceRGB 256 <00>]", {}, false, 8, 0, 0, {}},
        {"Indexed, its own base", "", cyclic, false, 8, 0, 0, {}},
        {"Lab without a dictionary", "[/Lab]", {}, true, 6, 3, 3, platform::ColorModel::RGB},
        {"Lab", "[/Lab << /WhitePoint [0.9505 1 1.089] >>]", {}, true, 6, 3, 3, platform::ColorModel::RGB},
        {"CalGray without a white point", "[/CalGray << >>]", {}, true, 4, 1, 1, platform::ColorModel::Monochrome},
        {"CalRGB", "[/CalRGB << /WhitePoint [0.9505 1 1.089] /Gamma [2.2 2.2 2.2] >>]", {}, true, 5, 3, 3,
         platform::ColorModel::RGB},
        // White points and matrices that admit no chromatic adaptation fall back on the device space.
        {"CalRGB, a white point with a cone response of zero", "[/CalRGB << /WhitePoint [0 1 1.650557620817844] >>]", {}, true, 5,
         3, 3, platform::ColorModel::RGB},
        {"CalRGB, a Matrix out of all proportion", "[/CalRGB << /WhitePoint [0.9505 1 1.089] /Matrix [1e30 0 0 0 1 0 0 0 1] >>]",
         {}, true, 5, 3, 3, platform::ColorModel::RGB},
        {"Lab, a white point with a cone response of zero", "[/Lab << /WhitePoint [0 1 1.650557620817844] >>]", {}, true, 6, 3, 3,
         platform::ColorModel::RGB},
        {"Separation All", "[/Separation /All /DeviceGray << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>]", {}, true,
         10, 1, 1, platform::ColorModel::Monochrome},
        {"Separation outputs that do not fit", "[/Separation /Spot /DeviceRGB " + tint + "]", {}, false, 10, 0, 0, {}},
        {"Separation with an unknown function type", "[/Separation /Spot /DeviceGray << /FunctionType 7 /Domain [0 1] /Range [0 1] >>]",
         {}, false, 10, 0, 0, {}},
        {"Separation, its own alternate", "", cyclicAlternate, false, 10, 0, 0, {}},
        {"Separation with cyclic functions", "[/Separation /Spot /DeviceGray " + ref(cyclicFunction) + "]", {}, false, 10, 0, 0, {}},
        // Three tints a pixel, four CMYK components reported.
        {"DeviceN, exponential", "[/DeviceN [/A /B /C] /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C1 [0 0 0 1] /N 1 >>]",
         {}, true, 11, 4, 3, platform::ColorModel::CMYK},
        {"a device name in an array", "[/DeviceRGB]", {}, true, -1, 3, 3, platform::ColorModel::RGB},
        {"Pattern", "[/Pattern]", {}, false, -1, 99, 0, {}},
        {"no name first", "[1 /DeviceRGB]", {}, false, -1, 99, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QPDFObjectHandle object = c.text.empty() ? c.object : QPDFObjectHandle::parse(&pdf, c.text);
        std::int32_t family = -1;
        std::uint64_t count = 99;
        const std::optional<extraction::SampleSpace> space =
            extraction::CreateColorSpaceFromArray(QPDFObjectHandle(), object, &family, &count);
        ASSERT_EQ(space.has_value(), c.made);
        EXPECT_EQ(family, c.family);
        EXPECT_EQ(count, c.count);
        if (!space) continue;
        EXPECT_EQ(space->components(), c.components);
        EXPECT_EQ(space->model, c.model);
    }
}

TEST(ColorSpaces, DeviceSpacesByNameAndCode) {
    using platform::ColorModel;
    const struct {
        const char* name;
        std::optional<ColorModel> model;
    } names[] = {
        {"DeviceRGB", ColorModel::RGB},  {"RGB", ColorModel::RGB},         {"/DeviceRGB", ColorModel::RGB},
        {"DeviceCMYK", ColorModel::CMYK}, {"CMYK", ColorModel::CMYK},      {"DeviceGray", ColorModel::Monochrome},
        {"G", ColorModel::Monochrome},    {"/G", ColorModel::Monochrome}, {"Gray", std::nullopt},
        {"devicergb", std::nullopt},      {"Pattern", std::nullopt},      {"", std::nullopt},
    };
    for (const auto& c : names) {
        SCOPED_TRACE(c.name);
        std::uint64_t count = 99;
        const std::optional<extraction::SampleSpace> counted = extraction::CreateDeviceColorSpaceAndCount(c.name, &count);
        const std::optional<extraction::SampleSpace> named = extraction::CreateDeviceColorSpaceForName(c.name);
        ASSERT_EQ(counted.has_value(), c.model.has_value());
        ASSERT_EQ(named.has_value(), c.model.has_value());
        if (!c.model) {
            EXPECT_EQ(count, 99u);
            continue;
        }
        EXPECT_EQ(counted->model, *c.model);
        EXPECT_EQ(named->model, *c.model);
        EXPECT_EQ(count, static_cast<std::uint64_t>(platform::ComponentsOf(*c.model)));
    }
    const struct {
        std::int32_t code;
        std::optional<ColorModel> model;
    } codes[] = {{1, ColorModel::Monochrome}, {2, ColorModel::RGB}, {3, ColorModel::CMYK},
                 {0, std::nullopt},           {4, std::nullopt},    {7, std::nullopt},
                 {11, std::nullopt},          {-1, std::nullopt}};
    for (const auto& c : codes) {
        SCOPED_TRACE(c.code);
        const std::optional<extraction::SampleSpace> space = extraction::CreateDeviceColorSpaceForCode(c.code);
        ASSERT_EQ(space.has_value(), c.model.has_value());
        if (space) {
            EXPECT_EQ(space->model, *c.model);
        }
    }
}

std::vector<std::uint8_t> Bytes(const extraction::SampleBytes& b) { return {b.data(), b.data() + b.size}; }

// Tint bytes through the tint transforms, against the functions worked out by hand.
TEST(ColorSpaces, TintBytesToAlternateBytes) {
    PdfBuilder b;
    QPDF& pdf = b.document();
    // White to (0.2, 0.6, 0): tint 0.2 gives 0.84, 0.92, 0.8.
    QPDFObjectHandle separation = QPDFObjectHandle::parse(
        &pdf, "[/Separation /Spot /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [1 1 1] /C1 [0.2 0.6 0] /N 1 >>]");
    const std::optional<extraction::SampleBytes> rgb =
        extraction::ConvertSeparationSamples(separation, std::vector<std::uint8_t>{0, 255, 51});
    ASSERT_TRUE(rgb.has_value());
    EXPECT_EQ(Bytes(*rgb), (std::vector<std::uint8_t>{255, 255, 255, 51, 153, 0, 214, 235, 204}));

    // The product of two tints as grey; the seventh byte starts a pixel it does not finish.
    QPDFObjectHandle product = QPDFObjectHandle::newStream(&pdf, "{ mul }");
    product.getDict().replaceKey("/FunctionType", QPDFObjectHandle::newInteger(4));
    product.getDict().replaceKey("/Domain", QPDFObjectHandle::parse("[0 1 0 1]"));
    product.getDict().replaceKey("/Range", QPDFObjectHandle::parse("[0 1]"));
    QPDFObjectHandle deviceN = QPDFObjectHandle::parse(&pdf, "[/DeviceN [/A /B] /DeviceGray null]");
    deviceN.setArrayItem(3, pdf.makeIndirectObject(product));
    const std::optional<extraction::SampleBytes> grey =
        extraction::ConvertDeviceNSamples(deviceN, std::vector<std::uint8_t>{255, 255, 255, 0, 128, 128, 7});
    ASSERT_TRUE(grey.has_value());
    EXPECT_EQ(Bytes(*grey), (std::vector<std::uint8_t>{255, 0, 64}));

    // Each conversion takes only its own family.
    EXPECT_FALSE(extraction::ConvertSeparationSamples(deviceN, std::vector<std::uint8_t>{0, 0}).has_value());
    EXPECT_FALSE(extraction::ConvertDeviceNSamples(separation, std::vector<std::uint8_t>{0}).has_value());
}

TEST(ColorSpaces, ImagesAgreeWithPdfimages) {
    PdfBuilder probe;
    const std::string icc = SrgbProfile(), greyIcc = GreyProfile(), wideIcc = WideRgbProfile();
    // An ICCBased space over a profile stream of `n` components.
    auto iccSpace = [](const std::string& profile, int n) {
        return [profile, n](PdfBuilder& b) {
            QPDFObjectHandle s = b.Image("/N " + std::to_string(n), profile);
            s.getDict().removeKey("/Type");
            s.getDict().removeKey("/Subtype");
            return "[/ICCBased " + std::to_string(s.getObjectID()) + " 0 R]";
        };
    };
    std::string ramp;
    for (int i = 0; i < 16; ++i) ramp.push_back(static_cast<char>(i * 17));
    std::string rgbRamp;
    for (int i = 0; i < 16; ++i) {
        rgbRamp.push_back(static_cast<char>(i * 17));
        rgbRamp.push_back(static_cast<char>(255 - i * 13));
        rgbRamp.push_back(static_cast<char>((i * 91) & 0xFF));
    }
    // Colours inside the sRGB gamut (where colour managers agree): midtones, moderate a* b*.
    std::string midtones, labColours;
    for (int i = 0; i < 16; ++i) {
        midtones.push_back(static_cast<char>(90 + i * 8));
        midtones.push_back(static_cast<char>(200 - i * 6));
        midtones.push_back(static_cast<char>(120 + (i * 37) % 60));
        labColours.push_back(static_cast<char>(100 + i * 8));
        labColours.push_back(static_cast<char>(128 + (i % 5) * 6 - 12));
        labColours.push_back(static_cast<char>(128 + (i % 3) * 8 - 8));
    }
    // Lab colours far outside the sRGB gamut (some with negative X or Z): clipped per channel.
    std::string saturatedLab;
    for (int i = 0; i < 16; ++i) {
        saturatedLab.push_back(static_cast<char>(10 + i * 15));
        saturatedLab.push_back(static_cast<char>((i & 1) ? 255 : 0));
        saturatedLab.push_back(static_cast<char>((i & 2) ? 255 : (i & 4) ? 128 : 0));
    }
    // The sampled function's inputs lie on its sample points (0, 1/3, 2/3, 1), where poppler's
    // interpolation and our nearest sample agree.
    const std::string onPoints = std::string("\x00\x55\xAA\xFF", 4) + std::string(12, '\xFF');
    const struct {
        const char* name;
        std::function<std::string(PdfBuilder&)> space;  // the /ColorSpace value
        int components;
        std::string samples;                            // 16 x 1 pixels
        // When set, the colours are checked against this computation of the CIE formulas
        // (numpy, from the samples `s` of each pixel: linear sRGB values) instead of pdfimages.
        const char* reference = nullptr;
    } cases[] = {
        {"Indexed", [](PdfBuilder&) { return std::string("[/Indexed /DeviceRGB 3 <FF0000 00FF00 0000FF 808080>]"); }, 1,
         std::string("\x00\x01\x02\x03\x03\x02\x01\x00\x00\x01\x02\x03\x03\x02\x01\x00", 16)},
        {"Separation, exponential",
         [](PdfBuilder&) {
             return std::string("[/Separation /Spot /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [1 1 1] /C1 [0.2 0.5 0] /N 1 >>]");
         },
         1, ramp},
        // Outputs beyond 0..1 (no Range) are clamped, not wrapped.
        {"Separation, outputs beyond 0..1",
         [](PdfBuilder&) {
             return std::string("[/Separation /Spot /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [-0.5 0.3 1.7] /C1 [1.5 0.6 -1] /N 1 >>]");
         },
         1, ramp},
        {"Indexed over Separation",
         [](PdfBuilder&) {
             return std::string("[/Indexed [/Separation /Spot /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [1 1 1] "
                                "/C1 [0.2 0.5 0] /N 1 >>] 3 <00 55 AA FF>]");
         },
         1, std::string("\x00\x01\x02\x03\x03\x02\x01\x00\x00\x01\x02\x03\x03\x02\x01\x00", 16)},
        // An Indexed table over Lab holds L*a*b* codes spread over the base's ranges.
        {"Indexed over Lab",
         [](PdfBuilder&) {
             return std::string("[/Indexed [/Lab << /WhitePoint [0.9642 1 0.8249] /Range [-10 40 -30 5] >>] 3 "
                                "<E08060 A0C0A0 60FF20 30A0E0>]");
         },
         1, std::string("\x00\x01\x02\x03\x03\x02\x01\x00\x00\x01\x02\x03\x03\x02\x01\x00", 16)},
        {"Separation, calculator",
         [](PdfBuilder& b) {
             QPDFObjectHandle f = b.Image("/FunctionType 4 /Domain [0 1] /Range [0 1 0 1 0 1]", "{ dup 0.5 mul exch dup mul 0.25 }");
             f.getDict().removeKey("/Type");
             f.getDict().removeKey("/Subtype");
             return "[/Separation /Spot /DeviceRGB " + std::to_string(f.getObjectID()) + " 0 R]";
         },
         1, ramp},
        {"Separation, sampled on its sample points",
         [&](PdfBuilder& b) {
             QPDFObjectHandle f = b.Image("/FunctionType 0 /Domain [0 1] /Range [0 1] /Size [4] /BitsPerSample 8", onPoints);
             f.getDict().removeKey("/Type");
             f.getDict().removeKey("/Subtype");
             return "[/Separation /Spot /DeviceGray " + std::to_string(f.getObjectID()) + " 0 R]";
         },
         1, std::string("\x00\x55\xAA\xFF\x00\x55\xAA\xFF\x00\x55\xAA\xFF\x00\x55\xAA\xFF", 16)},
        {"DeviceN, calculator",
         [](PdfBuilder& b) {
             QPDFObjectHandle f = b.Image("/FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1]", "{ 2 copy mul }");
             f.getDict().removeKey("/Type");
             f.getDict().removeKey("/Subtype");
             return "[/DeviceN [/A /B] /DeviceRGB " + std::to_string(f.getObjectID()) + " 0 R]";
         },
         2, rgbRamp.substr(0, 32)},
        // Exponential and stitching tint transforms read a DeviceN space's first colourant.
        {"DeviceN, exponential",
         [](PdfBuilder&) {
             return std::string("[/DeviceN [/A /B] /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [1 1 1] /C1 [0.2 0.5 0] /N 1 >>]");
         },
         2, rgbRamp.substr(0, 32)},
        {"DeviceN, stitching",
         [](PdfBuilder&) {
             return std::string("[/DeviceN [/A /B] /DeviceGray << /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 1 0] "
                                "/Functions [<< /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >> "
                                "<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 2 >>] >>]");
         },
         2, rgbRamp.substr(16, 32)},
        // Tints into Lab, CalRGB and CalGray: the outputs are colours of those spaces, in their ranges.
        {"Separation into Lab",
         [](PdfBuilder&) {
             return std::string("[/Separation /Spot [/Lab << /WhitePoint [0.9505 1 1.089] /Range [-100 100 -100 100] >>] "
                                "<< /FunctionType 2 /Domain [0 1] /C0 [90 0 0] /C1 [40 30 -20] /N 1 >>]");
         },
         1, ramp},
        {"Separation into CalRGB",
         [](PdfBuilder&) {
             return std::string("[/Separation /Spot [/CalRGB << /WhitePoint [0.9505 1 1.089] /Gamma [2.2 2.2 2.2] "
                                "/Matrix [0.4124 0.2126 0.0193 0.3576 0.7152 0.1192 0.1805 0.0722 0.9505] >>] "
                                "<< /FunctionType 2 /Domain [0 1] /C0 [0.9 0.85 0.8] /C1 [0.3 0.6 0.2] /N 1 >>]");
         },
         1, ramp},
        // The Matrix gives the components' XYZ as they stand: without one (the identity) full
        // strength is X = Y = Z = 1, not the white point.
        {"Separation into CalRGB without a Matrix",
         [](PdfBuilder&) {
             return std::string("[/Separation /Spot [/CalRGB << /WhitePoint [0.9642 1 0.8249] >>] "
                                "<< /FunctionType 2 /Domain [0 1] /C0 [1 1 1] /C1 [0.3 0.6 0.2] /N 1 >>]");
         },
         1, ramp},
        // CalGray is achromatic: Y = A^Gamma, shown as the sRGB grey of that luminance. pdfimages
        // tints it (red under a D65 white point, blue under D50: it does not adapt the white),
        // though its luminance agrees; `mutool draw` takes CalGray as DeviceGray, without the
        // gamma. So the reference is the formula itself.
        {"Separation into CalGray",
         [](PdfBuilder&) {
             return std::string("[/Separation /Spot [/CalGray << /WhitePoint [0.9505 1 1.089] /Gamma 2.2 >>] "
                                "<< /FunctionType 2 /Domain [0 1] /C0 [0.9] /C1 [0.2] /N 1 >>]");
         },
         1, ramp, "y = (0.9 - 0.7 * s[0] / 255) ** 2.2; rgb = [y, y, y]"},
        // Values of an alternate are read in that space's own ranges, here lopsided ones.
        {"Separation into Lab with lopsided ranges",
         [](PdfBuilder&) {
             return std::string("[/Separation /Spot [/Lab << /WhitePoint [0.9505 1 1.089] /Range [-10 40 -30 5] >>] "
                                "<< /FunctionType 2 /Domain [0 1] /C0 [85 -8 4] /C1 [45 38 -28] /N 1 >>]");
         },
         1, ramp},
        {"Lab with lopsided ranges",
         [](PdfBuilder&) { return std::string("[/Lab << /WhitePoint [0.9505 1 1.089] /Range [-10 40 -30 5] >>]"); }, 3,
         labColours},
        {"Lab outside the sRGB gamut",
         [](PdfBuilder&) { return std::string("[/Lab << /WhitePoint [0.9642 1 0.8249] /Range [-128 127 -128 127] >>]"); }, 3,
         saturatedLab},
        {"Lab", [](PdfBuilder&) { return std::string("[/Lab << /WhitePoint [0.9505 1 1.089] /Range [-100 100 -100 100] >>]"); },
         3, labColours},
        {"CalRGB",
         [](PdfBuilder&) {
             return std::string("[/CalRGB << /WhitePoint [0.9505 1 1.089] /Gamma [2.2 2.2 2.2] "
                                "/Matrix [0.4124 0.2126 0.0193 0.3576 0.7152 0.1192 0.1805 0.0722 0.9505] >>]");
         },
         3, midtones},
        {"CalRGB whose Matrix does not add up to its white point",
         [](PdfBuilder&) {
             return std::string("[/CalRGB << /WhitePoint [0.9505 1 1.089] /Gamma [1.8 2.2 2.2] "
                                "/Matrix [0.45 0.25 0.03 0.3 0.6 0.1 0.15 0.1 0.8] >>]");
         },
         3, midtones},
        {"ICC sRGB", iccSpace(icc, 3),
         3, rgbRamp},
        {"ICC wide-gamut RGB", iccSpace(wideIcc, 3),
         3, midtones},
        {"ICC grey", iccSpace(greyIcc, 1),
         1, ramp},
    };
    testpdf::TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir / std::to_string(n++);
        fs::create_directories(folder / "ours");
        PdfBuilder b;
        const std::string space = c.space(b);
        b.AddPage(PdfBuilder::XObjects({{"/Im", b.Image("/Width 16 /Height 1 /BitsPerComponent 8 /ColorSpace " + space,
                                                        c.samples)}}),
                  "q 100 0 0 100 0 0 cm /Im Do Q");
        b.Write(folder / "in.pdf");
        const testextract::Run run = testextract::Extract(folder / "in.pdf", folder / "ours");
        ASSERT_EQ(run.files.size(), 1u);
        const std::vector<std::uint8_t> ours = testextract::Read(folder / "ours" / run.files[0], "RGB").pixels;
        std::vector<std::uint8_t> theirs;
        if (c.reference) {
            const fs::path samples = folder / "samples";
            std::ofstream(samples, std::ios::binary) << c.samples;
            const std::string script =
                "import numpy as np\n"
                "def enc(c):\n"
                "    c = np.clip(c, 0, 1)\n"
                "    return np.round(255 * np.where(c <= 0.0031308, 12.92 * c, 1.055 * c ** (1 / 2.4) - 0.055))\n"
                "d = open(sys.argv[1], 'rb').read()\n"
                "for i in range(0, len(d), " + std::to_string(c.components) + "):\n"
                "    s = d[i:i + " + std::to_string(c.components) + "]\n"
                "    " + c.reference + "\n"
                "    print(*[int(v) for v in enc(np.array(rgb))])\n";
            std::string out;
            ASSERT_EQ(testimage::RunPythonProbe(script, samples, &out), 0) << out;
            std::istringstream values(out);
            for (int v; values >> v;) theirs.push_back(static_cast<std::uint8_t>(v));
        } else {
            theirs = testextract::PdfImagesSamples(folder / "in.pdf", folder / "peer", "RGB");
        }
        testextract::ExpectSamplesNear(ours, theirs, 2);
    }
}

// Tints of every depth, with and without Decode arrays, as pdfimages converts them. (pdfimages
// writes 1-bit images as black and white without their colour space, so those are checked
// against the tint transform's two colours: white at tint 0, 0.2 0.5 0 at tint 1.)
TEST(ColorSpaces, TintImagesOfEveryDepthAgreeWithPdfimages) {
    const std::string separation =
        "[/Separation /Spot /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [1 1 1] /C1 [0.2 0.5 0] /N 1 >>]";
    const auto deviceN = [](PdfBuilder& b) {
        QPDFObjectHandle f = b.Image("/FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1]", "{ 2 copy mul }");
        f.getDict().removeKey("/Type");
        f.getDict().removeKey("/Subtype");
        return "[/DeviceN [/A /B] /DeviceRGB " + std::to_string(f.getObjectID()) + " 0 R]";
    };
    std::string ramp8, ramp16, nibbles, pairs2;
    for (int i = 0; i < 16; ++i) {
        ramp8.push_back(static_cast<char>(i * 17));
        ramp16.push_back(static_cast<char>(i * 17));
        ramp16.push_back('\x40');
    }
    for (int i = 0; i < 8; ++i) nibbles.push_back(static_cast<char>((2 * i) << 4 | (2 * i + 1)));
    for (int i = 0; i < 8; ++i) pairs2.push_back(static_cast<char>(0x1B + i * 0x25));
    const std::string bits1("\xA5\x3C", 2);
    auto twoColours = [&](bool inverted) {
        std::vector<std::uint8_t> rgb;
        for (int i = 0; i < 16; ++i) {
            const bool full = ((static_cast<unsigned char>(bits1[i / 8]) >> (7 - i % 8)) & 1) != inverted;
            for (std::uint8_t v : full ? std::vector<std::uint8_t>{51, 128, 0} : std::vector<std::uint8_t>{255, 255, 255})
                rgb.push_back(v);
        }
        return rgb;
    };
    const struct {
        const char* name;
        std::function<std::string(PdfBuilder&)> space;
        int bits;
        const char* decode;  // empty for none
        std::string samples;  // 16 x 1 pixels
        std::vector<std::uint8_t> expected = {};  // empty: what pdfimages writes
    } cases[] = {
        {"Separation, 1 bit", [&](PdfBuilder&) { return separation; }, 1, "", bits1, twoColours(false)},
        {"Separation, 1 bit, inverted", [&](PdfBuilder&) { return separation; }, 1, "[1 0]", bits1, twoColours(true)},
        {"Separation, 4 bits", [&](PdfBuilder&) { return separation; }, 4, "", nibbles},
        {"Separation, 8 bits, inverted", [&](PdfBuilder&) { return separation; }, 8, "[1 0]", ramp8},
        {"Separation, 8 bits, a Decode pair inside 0..1", [&](PdfBuilder&) { return separation; }, 8, "[0.2 0.6]", ramp8},
        {"Separation, 16 bits", [&](PdfBuilder&) { return separation; }, 16, "", ramp16},
        {"DeviceN, 2 bits", deviceN, 2, "", pairs2},
        {"DeviceN, 2 bits, one colorant inverted", deviceN, 2, "[0 1 1 0]", pairs2},
    };
    testpdf::TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir / std::to_string(n++);
        fs::create_directories(folder / "ours");
        PdfBuilder b;
        const std::string space = c.space(b);
        std::string dict = "/Width 16 /Height 1 /BitsPerComponent " + std::to_string(c.bits) + " /ColorSpace " + space;
        if (*c.decode) dict += std::string(" /Decode ") + c.decode;
        b.AddPage(PdfBuilder::XObjects({{"/Im", b.Image(dict, c.samples)}}), "q 100 0 0 100 0 0 cm /Im Do Q");
        b.Write(folder / "in.pdf");
        const testextract::Run run = testextract::Extract(folder / "in.pdf", folder / "ours");
        ASSERT_EQ(run.files.size(), 1u);
        const std::vector<std::uint8_t> ours = testextract::Read(folder / "ours" / run.files[0], "RGB").pixels;
        std::vector<std::uint8_t> theirs = c.expected;
        if (theirs.empty()) {
            theirs = testextract::PdfImagesSamples(folder / "in.pdf", folder / "peer", "RGB");
        }
        testextract::ExpectSamplesNear(ours, theirs, 2);
    }
}

// No image may have a Pattern space, yet the page renderer draws one in the pattern's underlying
// space (grey without one), and so does `mutool extract` write it; pdfimages writes black. (A
// resource name as an image XObject's space is refused by both peers, so it is not compared.)
TEST(ColorSpaces, ImagesInPatternSpacesAsTheRendererDrawsThem) {
    std::string grey, rgb;
    for (int i = 0; i < 16; ++i) {
        grey.push_back(static_cast<char>(i * 16));
        for (int c = 0; c < 3; ++c) rgb.push_back(static_cast<char>((i * 16 + c * 70) & 0xFF));
    }
    const struct {
        const char* name;
        const char* space;
        std::string samples;
    } cases[] = {
        {"over DeviceRGB", "[/Pattern /DeviceRGB]", rgb},
        {"without a base", "/Pattern", grey},
    };
    testpdf::TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir / std::to_string(n++);
        fs::create_directories(folder / "ours");
        fs::create_directories(folder / "peer");
        PdfBuilder b;
        QPDFObjectHandle resources = PdfBuilder::XObjects(
            {{"/Im", b.Image(std::string("/Width 16 /Height 1 /BitsPerComponent 8 /ColorSpace ") + c.space, c.samples)}});
        b.AddPage(resources, "q 100 0 0 100 0 0 cm /Im Do Q");
        b.Write(folder / "in.pdf");
        const testextract::Run run = testextract::Extract(folder / "in.pdf", folder / "ours");
        ASSERT_EQ(run.files.size(), 1u);
        const std::string command = "cd " + testimage::ShellQuote((folder / "peer").string()) + " && mutool extract " +
                                    testimage::ShellQuote((folder / "in.pdf").string()) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::vector<fs::path> peer;
        for (const auto& entry : fs::directory_iterator(folder / "peer")) peer.push_back(entry.path());
        ASSERT_EQ(peer.size(), 1u);
        const testimage::Decoded ours = testextract::Read(folder / "ours" / run.files[0], "");
        const testimage::Decoded theirs = testextract::Read(peer[0], "");
        // Our PNG files always carry alpha (opaque here); the colour channels must agree.
        const std::string ourColours = ours.mode.back() == 'A' ? ours.mode.substr(0, ours.mode.size() - 1) : ours.mode;
        EXPECT_EQ(ourColours, theirs.mode);
        const std::vector<std::uint8_t> opacity = testextract::Read(folder / "ours" / run.files[0], "RGBA").pixels;
        for (std::size_t i = 3; i < opacity.size(); i += 4) EXPECT_EQ(opacity[i], 255);
        EXPECT_EQ(testextract::Read(folder / "ours" / run.files[0], "RGB").pixels, testextract::Read(peer[0], "RGB").pixels);
    }
}

}  // namespace
