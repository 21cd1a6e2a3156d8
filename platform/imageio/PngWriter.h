#pragma once

#include <cstdint>
#include <vector>

#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/RowDeflate.h"
#include "platform/imageio/RasterPrep.h"

// The one PNG writer, for pages and for the pictures inside other formats (icons, QuickTime
// images). Its input follows the bitmap convention: alpha premultiplied, made straight on the
// way into the file.
namespace platform {

// The knobs, chosen by measurement (bench/); open for experiments.
enum class PngFilter { None, Sub, Up, Paeth, Adaptive };

struct PngTuning {
    PngFilter filter = PngFilter::None;
    int level = 2;  // compression level, 1-12 as libdeflate's (1 and 2: our own compressor)
};

PngTuning DefaultPngTuning();
bool EncodePNGTuned(const Bitmap& image, const DestinationProperties& properties, const PngTuning& tuning,
                    std::vector<std::uint8_t>& out);

// A PNG of packed pixels (1 grey, 2 grey + alpha, 3 RGB, 4 RGBA; alpha premultiplied) at the
// properties' resolution, into `out` (replacing its contents).
bool EncodePngPixels(const raster::Pixels& pixels, const DestinationProperties& properties,
                     std::vector<std::uint8_t>& out);

// Appends to `out` the zlib stream of the image's rows in `layout`, PNG-filtered (the form PNG
// and PDF's Flate predictor 15 share); the bytes appended, 0 on failure.
std::size_t FilterAndCompressRows(const Bitmap& image, PixelLayout layout, const PngTuning& tuning,
                                  std::vector<std::uint8_t>& out);

// The same stream for rows that arrive a band at a time.
class PngRowCompressor {
public:
    PngRowCompressor(PixelLayout layout, int width, const PngTuning& tuning);
    // Appends the stream's part for the band's rows, which ends the stream when `last`; the
    // bytes appended, 0 on failure.
    std::size_t Add(const Bitmap& band, bool last, std::vector<std::uint8_t>& out);

private:
    PixelLayout layout_;
    PngTuning tuning_;
    int bpp_;
    std::size_t rowBytes_;
    std::vector<std::uint8_t> previous_;  // the last row of the band before, for the filters
    std::vector<std::uint8_t> trial_;
    RowDeflater deflater_;
};

}  // namespace platform
