#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// JPEG 2000 image data (a raw codestream or a JP2 file) decoded into 8-bit samples.
struct JPEG2000Image {
    int width = 0;
    int height = 0;
    int colorComponents = 0;  // 1 grey, 3 RGB, 4 CMYK
    bool hasAlpha = false;    // one more sample per pixel after the colours, straight opacity
    // Rows top to bottom, pixels left to right, the pixel's samples side by side:
    // width x height x (colorComponents + hasAlpha) bytes.
    std::vector<std::uint8_t> samples;
    // The image's ICC profile, when it carries one and the caller gave no colour family.
    std::vector<std::uint8_t> iccProfile;
    int samplesPerPixel() const { return colorComponents + (hasAlpha ? 1 : 0); }
};

// Decodes `size` bytes. `family` is the caller's colour family code (0 none, 1 DeviceGray,
// 2 DeviceRGB, 3 DeviceCMYK, or any other code of a space the caller has): when it is 0 it
// becomes the device family of the colour components. Returns 0 on success, -1 when the data
// cannot be decoded, its components differ in size or precision, or its declared size passes
// the bitmap cap (checked before any sample is decoded).
int DecodeJPEG2000Data(const std::uint8_t* data, std::size_t size, JPEG2000Image& image, std::int32_t& family);
