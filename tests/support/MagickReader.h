#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Decodes image files with ImageMagick's `convert`, the independent reader for the formats that
// PIL does not know (PICT, X bitmaps as X11 reads them, large Photoshop documents).
namespace testimage {

struct MagickDecoded {
    int width = 0;
    int height = 0;
    double resX = 0, resY = 0;         // as ImageMagick reports them (0 when none)
    std::vector<std::uint8_t> pixels;  // rows packed, in the asked map
    std::string error;                 // set when decoding failed
    bool ok() const { return error.empty(); }
};

// `coder`: the ImageMagick format prefix ("PICT", "PSB"); `map`: "RGB", "RGBA" or "GRAY";
// `configDir`: a folder with a policy.xml that replaces the system's limits, or empty.
MagickDecoded DecodeWithMagick(const std::filesystem::path& file, const std::string& coder,
                               const std::string& map = "RGB", const std::filesystem::path& configDir = {});

// Runs a shell command; its exit status, with its output (both streams) in `output`.
int RunCommand(const std::string& command, std::string* output = nullptr);

// Quotes an argument for the shell.
std::string ShellQuote(const std::string& s);

}  // namespace testimage
