#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Decodes image files with an independent reader (Debian's /usr/bin/python3 with PIL), so that
// tests check what the writers produce against a decoder that is not ours.
namespace testimage {

struct Decoded {
    std::string format;  // PIL's format name, e.g. "PNG", "TIFF"
    std::string mode;    // PIL's mode of the file, e.g. "RGB", "RGBA", "L", "CMYK", "1"
    int width = 0;
    int height = 0;
    int frames = 1;
    double dpiX = 0, dpiY = 0;  // 0 when the file gives none
    std::string pixelMode;      // mode of `pixels` (as asked)
    std::vector<std::uint8_t> pixels;  // first frame, rows packed
    std::string error;          // set when decoding failed
    bool ok() const { return error.empty(); }
};

// `asMode`: "" keeps the file's mode; otherwise the pixels are converted ("RGB", "L", "CMYK",
// "RGBA") with PIL's own conversion. `frame` picks a frame of a multi-frame file.
Decoded DecodeWithPil(const std::filesystem::path& file, const std::string& asMode = "", int frame = 0);

}  // namespace testimage
