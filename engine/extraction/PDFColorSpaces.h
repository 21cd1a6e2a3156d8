#pragma once

#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
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

// Bytes in memory of their own (a pixel buffer, in huge pages when it is large).
struct SampleBytes {
    std::shared_ptr<std::uint8_t> memory;
    std::size_t size = 0;
    std::uint8_t* data() const { return memory.get(); }
};

struct ResolvedSpace {
    SampleSpace space;
    std::int32_t family = kFamilyNone;  // none for a device space given by name
};

// The device space of a name, with or without its slash ("DeviceRGB" or "RGB", "DeviceCMYK" or
// "CMYK", "DeviceGray" or "G"); nothing for any other name.
std::optional<SampleSpace> CreateDeviceColorSpaceForName(const std::string& name);

// As CreateDeviceColorSpaceForName, also setting `*count` to the space's components (3, 4 or
// 1); for any other name nothing, and `*count` is left as it was.
std::optional<SampleSpace> CreateDeviceColorSpaceAndCount(const std::string& name, std::uint64_t* count);

// The device space of a family code: 1 DeviceGray, 2 DeviceRGB, 3 DeviceCMYK; nothing for any
// other code.
std::optional<SampleSpace> CreateDeviceColorSpaceForCode(std::int32_t family);

// A colour space from a colour-space array. Names inside it (bases, alternates) other than the
// device names resolve through `pageColorSpaces` (the page's /ColorSpace resources; null for
// none). When element 0 names a family, `*family` is set to its code and `*count` to the
// components of the space made (0 when none is): the samples' own components, except for
// Separation and DeviceN, which report those of their alternate. An array whose element 0 is no
// name or an unknown one (Pattern too) gives nothing and leaves both as they were; a device name
// gives its device space and leaves the family. Nothing when the space cannot be made: bases,
// alternates and functions nested too deep or in a cycle, a tint transform that does not load or
// whose outputs do not fit its alternate, an Indexed hival above 255.
std::optional<SampleSpace> CreateColorSpaceFromArray(QPDFObjectHandle pageColorSpaces, QPDFObjectHandle array,
                                                     std::int32_t* family, std::uint64_t* count);

// The space an image given a Pattern space (which no image may have) is drawn in by the page
// renderer: the pattern's underlying space when it names one, else DeviceGray. Nothing when the
// space is not a Pattern space.
std::optional<ResolvedSpace> CreatePatternImageSpace(QPDFObjectHandle object, QPDFObjectHandle pageColorSpaces);

// The space of an ICC profile (a JPEG 2000 image's own), of the profile's own components;
// nothing without data or when lcms2 cannot use it.
std::optional<SampleSpace> CreateColorSpaceWithICCData(const std::vector<std::uint8_t>& data);

// Separation tints (one byte a pixel, byte b the tint b / 255 or, with `decode`, b / 255 of the
// way through its pair) through the space's tint transform: the colours of the space
// CreateColorSpaceFromArray makes of `array`, its count of bytes a pixel. Nothing when `array`
// is no Separation space that can be made, or the colours would pass the bitmap cap.
std::optional<SampleBytes> ConvertSeparationSamples(QPDFObjectHandle array, std::span<const std::uint8_t> tints,
                                                    QPDFObjectHandle pageColorSpaces = {},
                                                    const std::vector<double>& decode = {});

// As ConvertSeparationSamples for a DeviceN space: one byte for each colorant a pixel; a
// trailing incomplete pixel is ignored.
std::optional<SampleBytes> ConvertDeviceNSamples(QPDFObjectHandle array, std::span<const std::uint8_t> tints,
                                                 QPDFObjectHandle pageColorSpaces = {}, const std::vector<double>& decode = {});

}  // namespace extraction
