#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/ImageReader.h"

// Independent readers for the output formats that PIL alone does not check: each one decodes a
// file with a tool or library that is not ours and hands back what it found, for the writer
// tests to compare with the page that was encoded.
namespace testimage {

// A MacPaint document through netpbm's macptopbm (the data fork as written; ImageMagick wants a
// MacBinary wrapper), then PIL: the whole sheet as grey, 0 or 255.
Decoded DecodeMacPaint(const std::filesystem::path& file);

// An OpenEXR file through the OpenEXR library's own decoder.
struct ExrDecoded {
    int width = 0;
    int height = 0;
    int channels = 0;              // Imf::RgbaChannels of the file (WRITE_Y, WRITE_RGBA, ...)
    bool hasXDensity = false;
    float xDensity = 0;            // dots per inch
    float pixelAspectRatio = 0;
    std::vector<std::uint8_t> rgba;  // linear light back to 8-bit sRGB, straight alpha
    std::string error;
    bool ok() const { return error.empty(); }
};
ExrDecoded DecodeExr(const std::filesystem::path& file);

// A QuickTime image file: its image description ('idsc') and the picture of its 'idat' atom,
// decoded by PIL as `asMode`.
struct QuickTimeImage {
    std::string codec;               // the description's data format, e.g. "png "
    int width = 0, height = 0;       // as the description gives them
    double hRes = 0, vRes = 0;       // dots per inch (16.16 fields)
    std::uint32_t dataSize = 0;      // the description's data size field
    std::size_t payloadSize = 0;     // bytes in 'idat'
    Decoded picture;                 // the payload through PIL
    std::string error;               // set when the atoms are not as they must be
    bool ok() const { return error.empty(); }
};
QuickTimeImage ReadQuickTimeImage(const std::filesystem::path& file, const std::string& asMode = "");

// `qpdf --check`: whether it found no syntax or stream errors; its report in `log`.
bool PdfChecksClean(const std::filesystem::path& file, std::string* log = nullptr);

// The first image of a PDF as poppler's `pdfimages -list` sees it.
struct PdfImage {
    int width = 0, height = 0;
    std::string colour;  // "gray", "rgb", "cmyk", ...
    bool softMask = false;
    int xPpi = 0, yPpi = 0;
    std::string error;
    bool ok() const { return error.empty(); }
};
PdfImage ListPdfImage(const std::filesystem::path& file);

// Page 1 of a PDF drawn by MuPDF's `mutool draw` at `dpi` in RGB, decoded by PIL.
Decoded DrawPdfPage(const std::filesystem::path& file, int dpi);

// A camera raw (DNG) file through libtiff: the DNG tags of the first directory and the raw image
// of its sub-directory.
struct DngRaw {
    std::vector<int> version;          // DNGVersion
    int subDirectories = 0;
    int photometric = 0, samples = 0;  // of the raw image
    std::uint32_t subfileType = 0xFFFFFFFF;
    int width = 0, height = 0;
    std::vector<std::uint16_t> linearization;
    std::vector<std::uint8_t> pixels;  // the raw samples, rows packed
    std::string error;
    bool ok() const { return error.empty(); }
};
DngRaw ReadDngRaw(const std::filesystem::path& file);

// A raw file developed by dcraw (white balance as shot, sRGB output with the sRGB curve, no
// brightening), decoded by PIL as RGB. dcraw takes no image under 22 pixels a side.
Decoded DevelopRaw(const std::filesystem::path& file);

// Fields of a TIFF file's first directory through libtiff (0 when absent).
struct TiffFields {
    int compression = 0, photometric = 0, bitsPerSample = 0, samplesPerPixel = 0;
    std::string error;
    bool ok() const { return error.empty(); }
};
TiffFields ReadTiffFields(const std::filesystem::path& file);

// Runs a Python script (Debian's interpreter, with PIL and olefile) on `file`: its exit status,
// its output in `output`. The script sees the file as sys.argv[1].
int RunPythonProbe(const std::string& script, const std::filesystem::path& file, std::string* output);

// The bytes of a file (none when it cannot be read).
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file);

// The display size a FlashPix file gives its full-resolution image, as dots per inch
// ({0, 0} when the property set is missing).
std::pair<double, double> FlashPixResolution(const std::filesystem::path& file);

// The resolution a version 2 PICT's extended header gives ({0, 0} without that header). No
// reader installed here reports it (ImageMagick skips the header).
std::pair<double, double> PictResolution(const std::filesystem::path& file);

}  // namespace testimage
