// Camera raw: a Digital Negative (DNG 1.4) file, written by libtiff. The page is the raw image
// itself, "linear raw" RGB in a sub-directory: its 8-bit samples keep the page's sRGB codes and
// a linearisation table maps them to linear light, with a colour matrix for linear sRGB primaries
// (D65), so raw developers show the page as rendered. The first directory is an ordinary RGB
// preview (the page itself, shrunk to 1024 pixels when larger) for readers that only know TIFF.
// Format: Adobe, "Digital Negative (DNG) Specification", version 1.4.0.0.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/RasterPrep.h"
#include "platform/imageio/TiffSink.h"

namespace platform::encoders {
namespace {

constexpr std::uint16_t kPhotometricLinearRaw = 34892;
constexpr int kPreviewSide = 1024;

void SetCommon(TIFF* tif, const raster::PixelsView& px, const DestinationProperties& properties) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(px.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(px.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, raster::DpiOr72(properties.dpiWidth));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, raster::DpiOr72(properties.dpiHeight));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
}

// RGB rows, or grey ones made RGB, each through a buffer of its own: libtiff may rewrite what
// it is given.
bool WriteRows(TIFF* tif, const raster::PixelsView& px) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(px.width) * 3);
    for (int y = 0; y < px.height; ++y) {
        const std::uint8_t* in = px.row(y);
        if (px.channels == 1) {
            for (int x = 0; x < px.width; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = in[x];
        } else {
            std::memcpy(row.data(), in, row.size());
        }
        if (TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0) < 0) return false;
    }
    return TIFFWriteDirectory(tif) != 0;
}

double SrgbToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

}  // namespace

bool EncodeDngInto(const Bitmap& image, const DestinationProperties& properties, ByteSink& out) {
    // The page: an opaque RGB or grey page as its rows lie (grey made RGB a row at a time as it
    // is written, and its preview shrunk in grey), any other converted to RGB.
    raster::Pixels converted;
    const raster::PixelsView page = raster::RowsAsTheyLieOr(image, raster::Alpha::Flatten, false, converted);
    if (!page.data) return false;
    raster::Pixels shrunk;
    raster::PixelsView preview = page;
    if (page.width > kPreviewSide || page.height > kPreviewSide) {
        const std::uint8_t white[3] = {255, 255, 255};
        const double s = static_cast<double>(kPreviewSide) / std::max(page.width, page.height);
        shrunk = raster::FitCentred(page, std::max(1, static_cast<int>(std::lround(page.width * s))),
                                     std::max(1, static_cast<int>(std::lround(page.height * s))), false, white);
        preview = raster::ViewOf(shrunk);
    }

    // Room for the whole file at once: both pictures and the directories.
    if (!out.Reserve(static_cast<std::uint64_t>(page.width) * page.height * 3 +
                     static_cast<std::uint64_t>(preview.width) * preview.height * 3 + 64 * 1024))
        return false;
    raster::TiffSink sink(out);
    TIFF* tif = sink.tiff();
    if (!tif) return false;

    // The preview, with the tags that belong to the whole file.
    static const std::uint8_t kVersion[4] = {1, 4, 0, 0};
    static const std::uint8_t kBackward[4] = {1, 1, 0, 0};
    // XYZ (D65) to linear sRGB: the "camera" is the page's own colour space.
    static const float kColorMatrix[9] = {3.2404542f, -1.5371385f, -0.4985314f, -0.9692660f, 1.8760108f,
                                          0.0415560f, 0.0556434f,  -0.2040259f, 1.0572252f};
    static const float kNeutral[3] = {1.0f, 1.0f, 1.0f};
    std::uint64_t subIfd[1] = {0};
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    SetCommon(tif, preview, properties);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_MAKE, "Vellipse");
    TIFFSetField(tif, TIFFTAG_MODEL, "Vellipse page");
    TIFFSetField(tif, TIFFTAG_DNGVERSION, kVersion);
    TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, kBackward);
    TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Vellipse page");
    TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, kColorMatrix);
    TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, 21);  // D65
    TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, kNeutral);
    TIFFSetField(tif, TIFFTAG_SUBIFD, 1, subIfd);
    if (!WriteRows(tif, preview)) return false;

    // The raw image.
    std::uint16_t table[256];
    for (int i = 0; i < 256; ++i) table[i] = static_cast<std::uint16_t>(std::lround(SrgbToLinear(i / 255.0) * 65535.0));
    static const float kBlack[3] = {0, 0, 0};
    static const std::uint32_t kWhite[3] = {65535, 65535, 65535};
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    SetCommon(tif, page, properties);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, kPhotometricLinearRaw);
    TIFFSetField(tif, TIFFTAG_LINEARIZATIONTABLE, 256, table);
    TIFFSetField(tif, TIFFTAG_BLACKLEVEL, 3, kBlack);
    TIFFSetField(tif, TIFFTAG_WHITELEVEL, 3, kWhite);
    if (!WriteRows(tif, page)) return false;
    return sink.Close();
}

bool EncodeDng(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    out.clear();
    MemorySink sink(out);
    return EncodeDngInto(image, properties, sink);
}

}  // namespace platform::encoders
