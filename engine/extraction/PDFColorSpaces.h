#pragma once

#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/extraction/ImageSamples.h"

// PDF colour spaces as the samples need them: the device spaces; Indexed spaces, whose colour
// table is converted to the device space of their base once; and ICC-based, calibrated, Lab,
// Separation and DeviceN spaces, whose samples are converted to grey, RGB or CMYK (the spaces
// the writers hold): Cal, Lab and ICC colours through lcms2 to sRGB or grey, tints through their
// tint transforms into their alternate space.
namespace extraction {

// The PDF colour-space family codes.
enum PDFColorSpaceFamily : std::int32_t {
    kFamilyNone = 0,
    kFamilyDeviceGray = 1,
    kFamilyDeviceRGB = 2,
    kFamilyDeviceCMYK = 3,
    kFamilyCalGray = 4,
    kFamilyCalRGB = 5,
    kFamilyLab = 6,
    kFamilyICCBased = 7,
    kFamilyIndexed = 8,
    kFamilySeparation = 10,
    kFamilyDeviceN = 11,
};

struct ResolvedSpace {
    SampleSpace space;
    std::int32_t family = kFamilyNone;  // none for a device space given by name
};

// The device space of a name ("DeviceRGB" or "RGB", "DeviceCMYK" or "CMYK", "DeviceGray" or
// "G"); nothing for any other name.
std::optional<platform::ColorModel> DeviceModelForName(const std::string& name);

// A colour space from a name or an array. Names other than the device names resolve through
// `pageColorSpaces` (the page's /ColorSpace resources; null for none). Nothing when the space
// cannot be made: an unknown family, a Pattern space, bases, alternates and functions nested too
// deep or in a cycle, a tint transform that does not load or whose outputs do not fit its
// alternate, an Indexed hival above 255.
std::optional<ResolvedSpace> CreateColorSpace(QPDFObjectHandle object, QPDFObjectHandle pageColorSpaces);

// The space an image given a Pattern space (which no image may have) is drawn in by the page
// renderer: the pattern's underlying space when it names one, else DeviceGray. Nothing when the
// space is not a Pattern space.
std::optional<ResolvedSpace> CreatePatternImageSpace(QPDFObjectHandle object, QPDFObjectHandle pageColorSpaces);

// The space of an ICC profile with `components` components (a JPEG 2000 image's own profile);
// nothing when lcms2 cannot use it.
std::optional<ResolvedSpace> CreateColorSpaceFromICC(const std::vector<std::uint8_t>& profile, int components);

}  // namespace extraction
