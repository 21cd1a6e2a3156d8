#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The metadata an image file carries besides its pixels, as the readers find it and the encoders
// that can hold it write it again.
namespace platform {

struct ImageMetadata {
    std::vector<std::uint8_t> icc;   // an ICC profile
    std::vector<std::uint8_t> exif;  // a TIFF structure from its byte-order mark ("II*\0" or "MM\0*")
    std::string xmp;                 // an XMP packet
    bool empty() const { return icc.empty() && exif.empty() && xmp.empty(); }
};

// The data colour space an ICC profile's header names.
enum class IccSpace { Unknown, Grey, RGB, CMYK };
IccSpace IccColorSpace(const std::vector<std::uint8_t>& profile);

// What the first directory of an EXIF block says about the picture (0 where it says nothing).
struct ExifFacts {
    int orientation = 0;
    float dpiX = 0, dpiY = 0;
};
ExifFacts ReadExifFacts(const std::uint8_t* data, std::size_t size);

// A copy of an EXIF block whose first directory gives `dpiX` × `dpiY` dots per inch where it has
// resolution entries of its own (a block without them is copied unchanged).
std::vector<std::uint8_t> ExifWithResolution(const std::vector<std::uint8_t>& exif, float dpiX, float dpiY);

}  // namespace platform
